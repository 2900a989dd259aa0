// Specialists of endings with pawns: rook and pawn against rook, pure pawn
// endings, one minor or queen a side with pawns, and material where only one
// side has pawns left.
#include <cstdlib>

#include "eval/endgame.h"

namespace korvane::endgame {

namespace {

// ---- rook and pawn against rook ----------------------------------------------------------

constexpr Bitboard KNIGHT_AND_ROOK_FILES = FILE_A | (FILE_A << 1) | (FILE_A << 6) | FILE_H;

class RookPawnVsRookSpecialist final : public EndgameSpecialist {
 public:
  explicit RookPawnVsRookSpecialist(Color pawnSide) : pawnSide_(pawnSide) {
    for (int n = 1; n <= 8; ++n) rank_[n] = relativeRankMask(pawnSide, n);
    rank_[0] = 0;
    ranks6to8_ = rank_[6] | rank_[7] | rank_[8];
  }

  bool probe(const Position& pos, int& score) const override {
    const SideState& a = pos.side[pawnSide_];
    const SideState& d = pos.side[~pawnSide_];
    const Square pawn = a.squares[PAWN][0];
    const Bitboard pawnBit = bit(pawn);
    const Bitboard defendingRook = d.pieceBB[ROOK];
    const Square dk = d.kingSquare(), ak = a.kingSquare();
    const bool defenderToMove = pos.sideToMove() != pawnSide_;
    const bool attackerInCheck = (a.pieceBB[KING] & a.attackedByEnemy) != 0;
    const bool defenderInCheck = (d.pieceBB[KING] & d.attackedByEnemy) != 0;
    const bool rookSafe = !(defendingRook & d.attackedByEnemy);
    const int sign = signOf(pawnSide_);

    if (dk == promotionSquare(pawnSide_, pawn)) {
      // Advanced pawn: checks from behind off the attacker's first rank.
      if ((pawnBit & (rank_[6] | rank_[7])) && (defendingRook & rank_[1]) &&
          ((defenderToMove && !defenderInCheck) || attackerInCheck))
        return settle(score);
      // Pawn not yet on the sixth: the rook holds the sixth rank.
      if (!(pawnBit & ranks6to8_) && (defendingRook & rank_[6]) && (defenderToMove || rookSafe))
        return settle(score);
      // Knight and rook pawns: king and rook together on the back rank.
      if ((pawnBit & KNIGHT_AND_ROOK_FILES) && (defendingRook & rank_[8]) &&
          (defenderToMove || rookSafe))
        return settle(score);
    }

    // Checks from the long side: the rook far from the pawn, the king on the
    // pawn's file or on the other side of it. The king must also stand in
    // front of the pawn: a king behind it does not stop the pawn, and the
    // checks alone hold no draw.
    const int pawnFile = fileOf(pawn);
    const int rookFile = fileOf(d.squares[ROOK][0]);
    if (std::abs(rookFile - pawnFile) > 3) {
      const int towardsRook = rookFile > pawnFile ? 1 : -1;
      const bool kingShortSide = (fileOf(dk) - pawnFile) * towardsRook <= 0;
      const bool kingAhead = relativeRank(pawnSide_, dk) > relativeRank(pawnSide_, pawn);
      if (kingShortSide && kingAhead) {
        score -= sign * 200;
        // Unless the attacking king shelters the pawn from that side.
        const Square beside = pawn + towardsRook;
        if (!(kingGrow(bit(ak)) & bit(beside)) && (defenderToMove || attackerInCheck))
          return settle(score);
      }
    }

    // Pawn on the seventh with the king beside it and the rook ready to
    // shield it from checks.
    if ((pawnBit & rank_[7]) && (a.pieceBB[ROOK] & rank_[5]) && (STEPS.king[ak] & pawnBit))
      score += sign * 60;
    return false;
  }
  bool probeSideRelative(const Position& pos, int& score) const override {
    int s = 0;
    if (!probe(pos, s)) return false;
    score = forMover(pos, s);
    return true;
  }

 private:
  bool settle(int& score) const {
    score = signOf(pawnSide_);
    return true;
  }

  Color pawnSide_;
  Bitboard rank_[9];  // [n]: rank n as seen from the pawn's side
  Bitboard ranks6to8_;
};

// ---- pawn endings --------------------------------------------------------------------------

bool anyPawnCanAdvance(const Position& pos, Color c) {
  const Bitboard pawns = pos.side[c].pieceBB[PAWN];
  return ((c == WHITE ? shiftUp(pawns) : shiftDown(pawns)) & ~pos.occupied) != 0;
}

// Race of one passed pawn against the defending king. The pawn starts at
// 2500 and loses an eighth of its value each time the king steps, and 625
// each time the king's reach touches the squares still ahead of it. Returns
// the value left when it promotes, 0 when it is caught.
int raceValue(const Position& pos, Color c, Square pawn, Bitboard kingBarrier) {
  int value = 2500;
  Bitboard reach = bit(pos.side[~c].kingSquare());
  bool pawnMoves = pos.sideToMove() == c;
  for (int turn = 0; turn < 16; ++turn) {
    if (pawnMoves) {
      pawn = squareInFront(c, pawn);
      if (relativeRank(c, pawn) == 8) return value;
    } else {
      reach |= kingGrow(reach) & ~kingBarrier;
      if (reach & (aheadOnFile(c, pawn) | bit(pawn))) value -= 625;
      value -= value / 8;
      if (value <= 0) return 0;
    }
    pawnMoves = !pawnMoves;
  }
  return 0;
}

// Without a passed pawn that outruns the king: caught passed pawns still tie
// the enemy king down, and a king close to enemy pawns may win them.
int secondaryPawnAssessment(const Position& pos, Color c, int caughtPassers) {
  int value = 30 * caughtPassers;
  const Bitboard enemyPawns = pos.side[~c].pieceBB[PAWN];
  if (enemyPawns) {
    const int distance = kingStepDistance(enemyPawns, bit(pos.side[c].kingSquare()));
    if (distance < 4) value += 10 * (4 - distance);
  }
  return value;
}

int raceTerm(const Position& pos, const PawnEntry& pawns, Color c) {
  const Bitboard own = pos.side[c].pieceBB[PAWN];
  const Bitboard barrier = pawnAttacks(c, own) | own | pos.side[~c].pieceBB[PAWN];
  int best = 0, caught = 0;
  for (Bitboard passed = pawns.passed[c] & own; passed;) {
    const int v = raceValue(pos, c, popLowest(passed), barrier);
    if (v > best) best = v;
    if (v == 0) ++caught;
  }
  return best > 0 ? best : secondaryPawnAssessment(pos, c, caught);
}

int keyRegionTerm(Square king, Bitboard region) {
  if (region & bit(king)) return 160;
  if (region & STEPS.king[king]) return 75;
  return 0;
}

class PawnEndingSpecialist final : public EndgameSpecialist {
 public:
  int scale(const Position& pos, const Evaluator& evaluator, int score) const override {
    return pawnEndingScale(pos, evaluator.pawnEntry(), score);
  }
};

// ---- one minor piece or queen a side, with pawns ----------------------------------------------

bool oppositeBishops(const Position& pos) {
  const SideState& w = pos.side[WHITE];
  const SideState& b = pos.side[BLACK];
  return w.count[BISHOP] == 1 && b.count[BISHOP] == 1 &&
         onDarkSquare(w.squares[BISHOP][0]) != onDarkSquare(b.squares[BISHOP][0]);
}

Bitboard bishopColourSet(Square s) { return onDarkSquare(s) ? DARK_SQUARES : LIGHT_SQUARES; }

class BishopsWithPawnsSpecialist final : public EndgameSpecialist {
 public:
  // A lone pawn against a bishop of the other colour that controls a square
  // in front of it, and is not about to be taken, cannot promote.
  bool probe(const Position& pos, int& score) const override {
    const SideState& w = pos.side[WHITE];
    const SideState& b = pos.side[BLACK];
    if (w.count[PAWN] + b.count[PAWN] != 1 || !oppositeBishops(pos)) return false;
    const Color pawnSide = w.count[PAWN] == 1 ? WHITE : BLACK;
    const SideState& d = pos.side[~pawnSide];
    if (d.pieceBB[BISHOP] & d.attackedByEnemy) return false;
    const Bitboard span = aheadOnFile(pawnSide, pos.side[pawnSide].squares[PAWN][0]);
    const Square bishop = d.squares[BISHOP][0];
    const Bitboard diag = diagAttacks(bishop, pos.rotated);
    const Bitboard anti = antiAttacks(bishop, pos.rotated);
    if ((moreThanOne(diag) && (diag & span)) || (moreThanOne(anti) && (anti & span))) {
      score = signOf(pawnSide);
      return true;
    }
    return false;
  }
  bool probeSideRelative(const Position& pos, int& score) const override {
    int s = 0;
    if (!probe(pos, s)) return false;
    score = forMover(pos, s);
    return true;
  }
  bool probeBound(const Position& pos, int& score, int, int, int, std::int16_t&) const override {
    return probeSideRelative(pos, score);
  }
  // Opposite-coloured bishops pull the score towards a draw: half of it goes,
  // and beyond 500 that half grows only half as fast.
  int scale(const Position& pos, const Evaluator&, int score) const override {
    if (!oppositeBishops(pos)) return score;
    const SideState& w = pos.side[WHITE];
    const SideState& b = pos.side[BLACK];
    int h = score / 2;
    if (h > 500)
      h -= (h - 500) / 2;
    else if (h < -500)
      h -= (h + 500) / 2;
    if (w.count[PAWN] > b.count[PAWN])
      return score - 30 * popCount(b.pieceBB[PAWN] & ~bishopColourSet(b.squares[BISHOP][0])) - h;
    if (b.count[PAWN] > w.count[PAWN])
      return score + 30 * popCount(w.pieceBB[PAWN] & ~bishopColourSet(w.squares[BISHOP][0])) - h;
    return score - h;
  }
};

class KnightsWithPawnsSpecialist final : public EndgameSpecialist {
 public:
  int scale(const Position& pos, const Evaluator& evaluator, int score) const override {
    return knightsWithPawnsScale(pos, evaluator.pawnEntry(), score);
  }
};

class QueensWithPawnsSpecialist final : public EndgameSpecialist {
 public:
  int scale(const Position& pos, const Evaluator& evaluator, int score) const override {
    return queensWithPawnsScale(pos, evaluator.pawnEntry(), score);
  }
};

class BishopAgainstKnightSpecialist final : public EndgameSpecialist {
 public:
  int scale(const Position& pos, const Evaluator& evaluator, int score) const override {
    return bishopAgainstKnightScale(pos, evaluator.pawnEntry(), score);
  }
};

// Squares the side's minor piece can get to in at most two moves, moving only
// to squares that hold none of its own pieces and that the enemy does not
// attack.
Bitboard minorReach(const Position& pos, Color c) {
  const SideState& s = pos.side[c];
  const Bitboard allowed = ~s.pieceBB[0] & ~s.attackedByEnemy;
  const bool bishop = s.count[BISHOP] > 0;
  if (!bishop && s.count[KNIGHT] == 0) return 0;
  auto moves = [&](Square from) {
    return bishop ? bishopAttacks(from, pos.rotated) : STEPS.knight[from];
  };
  const Bitboard first = moves(bishop ? s.squares[BISHOP][0] : s.squares[KNIGHT][0]) & allowed;
  Bitboard reach = first;
  for (Bitboard f = first; f;) reach |= moves(popLowest(f)) & allowed;
  return reach;
}

// Pawns blocked by an enemy pawn and not defended by a pawn, and backward pawns.
Bitboard weakPawns(const Position& pos, const PawnEntry& pawns, Color c) {
  const Bitboard own = pos.side[c].pieceBB[PAWN];
  const Bitboard enemy = pos.side[~c].pieceBB[PAWN];
  const Bitboard blocked = own & (c == WHITE ? shiftDown(enemy) : shiftUp(enemy));
  return (blocked & ~pawnAttacks(c, own)) | (pawns.backward[c] & own);
}

// ---- pawns on one side only ----------------------------------------------------------------

// A piece up against a few pawns: the pawns' side is not lost as clearly as
// the material says, and the piece's side cannot win without pawns unless it
// is far enough ahead.
class PawnsOneSideSpecialist final : public EndgameSpecialist {
 public:
  int scale(const Position& pos, const Evaluator&, int score) const override {
    const SideState& w = pos.side[WHITE];
    const SideState& b = pos.side[BLACK];
    const int m = w.materialSum - b.materialSum;
    const int nonPawn = m - 1000 * (w.count[PAWN] - b.count[PAWN]);
    const int t = score - (3 * m) / 4;
    if (w.count[PAWN] > 0 && nonPawn >= -3254 && nonPawn <= -1 && m < 0 && score < 0)
      return t < 0 ? t : 0;
    if (b.count[PAWN] > 0 && nonPawn >= 1 && nonPawn <= 3254 && m > 0 && score > 0)
      return t > 0 ? t : 0;
    return score;
  }
};

}  // namespace

int pawnEndingScale(const Position& pos, const PawnEntry& pawns, int score) {
  const Square wk = pos.side[WHITE].kingSquare();
  const Square bk = pos.side[BLACK].kingSquare();
  const int fileDistance = std::abs(fileOf(wk) - fileOf(bk));
  const int rowDistance = std::abs(rowOf(wk) - rowOf(bk));
  // Opposition: the side to move without a pawn move has to give way.
  if (fileDistance % 2 == 0 && rowDistance % 2 == 0 && fileDistance <= 4 && rowDistance <= 4) {
    if (pos.whiteToMove && !anyPawnCanAdvance(pos, WHITE))
      score -= 60;
    else if (!pos.whiteToMove && !anyPawnCanAdvance(pos, BLACK))
      score += 60;
  }
  score += raceTerm(pos, pawns, WHITE) - raceTerm(pos, pawns, BLACK);
  score += keyRegionTerm(wk, pawns.keyRegion[WHITE]) - keyRegionTerm(bk, pawns.keyRegion[BLACK]);
  return score;
}

int knightsWithPawnsScale(const Position& pos, const PawnEntry& pawns, int score) {
  const Bitboard white = pawns.passed[WHITE] & pos.side[WHITE].pieceBB[PAWN];
  const Bitboard black = pawns.passed[BLACK] & pos.side[BLACK].pieceBB[PAWN];
  // Rook-file passed pawns are the hardest for a knight to stop.
  if (white & FILE_A) score += 90;
  if (white & FILE_H) score += 90;
  if (black & FILE_A) score -= 90;
  if (black & FILE_H) score -= 90;
  return score;
}

int queensWithPawnsScale(const Position& pos, const PawnEntry& pawns, int score) {
  const SideState& w = pos.side[WHITE];
  const SideState& b = pos.side[BLACK];
  if ((pawns.passed[WHITE] & w.pieceBB[PAWN]) && !(w.pieceBB[KING] & w.attackedByEnemy)) score += 127;
  if ((pawns.passed[BLACK] & b.pieceBB[PAWN]) && !(b.pieceBB[KING] & b.attackedByEnemy)) score -= 127;
  return score;
}

int bishopAgainstKnightScale(const Position& pos, const PawnEntry& pawns, int score) {
  const Bitboard allPawns = pos.side[WHITE].pieceBB[PAWN] | pos.side[BLACK].pieceBB[PAWN];
  if (allPawns) {
    // The bishop gains as the pawns spread over the board.
    int lowFile = 7, highFile = 0;
    for (Bitboard p = allPawns; p;) {
      const int f = fileOf(popLowest(p));
      if (f < lowFile) lowFile = f;
      if (f > highFile) highFile = f;
    }
    const int width = highFile - lowFile + 1;
    const Color bishopSide = pos.side[WHITE].count[BISHOP] > 0 ? WHITE : BLACK;
    const Bitboard passed = pawns.passed[bishopSide] & pos.side[bishopSide].pieceBB[PAWN];
    int gain = 25 * (width - 4);
    if (passed) gain += 70 * popCount(passed) + 40 * popCount(passed & (FILE_A | FILE_H));
    score += signOf(bishopSide) * gain;
  }
  score -= 20 * popCount(weakPawns(pos, pawns, WHITE) & minorReach(pos, BLACK));
  score += 20 * popCount(weakPawns(pos, pawns, BLACK) & minorReach(pos, WHITE));
  return score;
}

void addPawnSpecialists(SpecialistSlots& slots) {
  slots[SP_KRP_KR] = std::make_unique<RookPawnVsRookSpecialist>(WHITE);
  slots[SP_KR_KRP] = std::make_unique<RookPawnVsRookSpecialist>(BLACK);
  slots[SP_PAWN_ENDING] = std::make_unique<PawnEndingSpecialist>();
  slots[SP_BISHOPS_PAWNS] = std::make_unique<BishopsWithPawnsSpecialist>();
  slots[SP_KNIGHTS_PAWNS] = std::make_unique<KnightsWithPawnsSpecialist>();
  slots[SP_QUEENS_PAWNS] = std::make_unique<QueensWithPawnsSpecialist>();
  slots[SP_BISHOP_KNIGHT] = std::make_unique<BishopAgainstKnightSpecialist>();
  slots[SP_PAWNS_ONE_SIDE] = std::make_unique<PawnsOneSideSpecialist>();
}

}  // namespace korvane::endgame
