// Specialists built around minor pieces: rook against minor, rook and minor
// against rook, two minors against one minor or a rook (all judged by the
// danger count), king and pawn against king and minor, king, minor and pawn
// against king, and the rook-against-minor-and-pawn configurations.
#include "eval/endgame.h"

namespace korvane::endgame {

namespace {

// d1, e1, d8, e8, a4, a5, h4, h5: where a king can be caught on the line of
// a skewer that its own rook cannot meet.
constexpr Bitboard SKEWER_KING_SQUARES =
    bit(59) | bit(60) | bit(3) | bit(4) | bit(32) | bit(24) | bit(39) | bit(31);

// The attacker's bishop and king stand between the defender's rook and king
// on one line, in the order rook, bishop, king, king: the rook is cut off
// from its own king and the apparent danger is none.
bool rookCutOffByBishop(const Position& pos, Color attacker) {
  const SideState& a = pos.side[attacker];
  const SideState& d = pos.side[~attacker];
  const Square dk = d.kingSquare(), ak = a.kingSquare();
  if (!(bit(dk) & SKEWER_KING_SQUARES)) return false;
  if (a.count[BISHOP] != 1 || a.count[ROOK] != 1 || d.count[ROOK] != 1) return false;
  if (STEPS.king[dk] & STEPS.king[ak]) return false;
  if (d.pieceBB[0] & d.attackedByEnemy) return false;
  const Square sq[4] = {d.squares[ROOK][0], a.squares[BISHOP][0], ak, dk};
  int line[4];
  if (fileOf(sq[0]) == fileOf(sq[1]) && fileOf(sq[1]) == fileOf(sq[2]) &&
      fileOf(sq[2]) == fileOf(sq[3])) {
    for (int i = 0; i < 4; ++i) line[i] = rowOf(sq[i]);
  } else if (rowOf(sq[0]) == rowOf(sq[1]) && rowOf(sq[1]) == rowOf(sq[2]) &&
             rowOf(sq[2]) == rowOf(sq[3])) {
    for (int i = 0; i < 4; ++i) line[i] = fileOf(sq[i]);
  } else {
    return false;
  }
  return (line[0] < line[1] && line[1] < line[2] && line[2] < line[3]) ||
         (line[0] > line[1] && line[1] > line[2] && line[2] > line[3]);
}

}  // namespace

int dangerCount(const Position& pos, Color attacker) {
  constexpr int TACTICAL = 10;
  const SideState& a = pos.side[attacker];
  const SideState& d = pos.side[~attacker];
  const bool attackerToMove = pos.sideToMove() == attacker;
  const Square dk = d.kingSquare(), ak = a.kingSquare();
  const Bitboard dPieces = d.pieceBB[0] & ~bit(dk);
  const Bitboard aroundDk = STEPS.king[dk];

  int c = (bit(dk) & d.attackedByEnemy) ? 1 : 0;

  if (attackerToMove) {
    // Knight forks of the king and another piece.
    for (Bitboard knights = a.pieceBB[KNIGHT]; knights;) {
      const Square n = popLowest(knights);
      for (Bitboard m = STEPS.knight[n] & STEPS.knight[dk] & ~a.pieceBB[0]; m;)
        if (moreThanOne(STEPS.knight[popLowest(m)] & d.pieceBB[0])) return TACTICAL;
    }
    // Pins and skewers along the king's lines.
    if (a.count[BISHOP] > 0) {
      if (bishopAttacks(dk, pos.rotated) & dPieces & ~aroundDk) return TACTICAL;
      if (rookCutOffByBishop(pos, attacker)) return 0;
    }
    if (a.count[ROOK] > 0 && (rookAttacks(dk, pos.rotated) & dPieces & ~aroundDk)) return TACTICAL;
  }

  // From here on the defender's king counts among its pieces (it matters only
  // when the defender is in check).
  const Bitboard attacked = d.pieceBB[0] & d.attackedByEnemy;
  if (attacked) {
    if (attackerToMove) {
      if (attacked & ~a.attackedByEnemy) return TACTICAL;  // hanging
      if (d.pieceBB[0] & d.attackedTwice) return TACTICAL;
      if (moreThanOne(attacked)) return TACTICAL;
      if (a.count[ROOK] > 0 && a.count[0] >= 3) {
        // An attacked rook that can neither hide behind the attacker's king
        // nor offer a trade.
        for (Bitboard r = attacked & d.pieceBB[ROOK] & ~STEPS.king[ak]; r;)
          if (!(rookAttacks(popLowest(r), pos.rotated) & a.pieceBB[ROOK])) return TACTICAL;
      }
    }
    ++c;
  }
  if (!(aroundDk & dPieces)) ++c;
  if (d.pieceBB[0] & d.attackedTwice) ++c;
  if (!(bit(dk) & CENTRE_BLOCK)) ++c;
  if (bit(dk) & EDGE_SQUARES) ++c;
  if (bit(dk) & LIGHT_CORNER_TRIANGLES) {
    ++c;
    if (a.pieceBB[BISHOP] & LIGHT_SQUARES) return TACTICAL;
    if (a.pieceBB[BISHOP] & DARK_SQUARES) c -= 2;
  }
  if (bit(dk) & DARK_CORNER_TRIANGLES) {
    ++c;
    if (a.pieceBB[BISHOP] & DARK_SQUARES) return TACTICAL;
    if (a.pieceBB[BISHOP] & LIGHT_SQUARES) c -= 2;
  }
  if (popCount(aroundDk & d.attackedByEnemy) < 3) ++c;
  if (STEPS.king[dk] & STEPS.king[ak]) ++c;
  if (d.count[KNIGHT] > 0 && a.attackedTwice == 0) ++c;
  if (d.pieceBB[KNIGHT] & CORNER_SQUARES) ++c;
  return c > 0 ? c : 0;
}

namespace {

// ---- rook and minor-piece endings judged by the danger count -------------------------

enum class MinorEnding { ROOK_VS_MINOR, ROOK_MINOR_VS_ROOK, TWO_MINORS };

// True when the favoured side may be in trouble itself, so that no bound is
// safe: its king in check, a corner king near an enemy knight, or an edge
// king facing an enemy rook.
bool favouredSideExposed(const Position& pos, Color favoured) {
  const SideState& x = pos.side[favoured];
  const SideState& y = pos.side[~favoured];
  const Square king = x.kingSquare();
  if (bit(king) & x.attackedByEnemy) return true;
  if ((bit(king) & BOARD_CORNERS) && (y.pieceBB[KNIGHT] & STEPS.knight2[king])) return true;
  return y.count[ROOK] > 0 && (bit(king) & EDGE_SQUARES);
}

class MinorEndingSpecialist final : public EndgameSpecialist {
 public:
  MinorEndingSpecialist(MinorEnding kind, Color favoured) : kind_(kind), favoured_(favoured) {}

  bool probe(const Position& pos, int& score) const override {
    if (twoKnights(pos)) {
      score = signOf(favoured_);
      return true;
    }
    int e = dangerCount(pos, favoured_);
    if (e >= 1) --e;
    const int weight = kind_ == MinorEnding::TWO_MINORS ? 20 : 33;
    score = signOf(favoured_) * (weight * e * e + 1);
    return true;
  }
  bool probeSideRelative(const Position& pos, int& score) const override {
    if (!twoKnights(pos) && dangerCount(pos, favoured_) > 1) return false;
    score = forMover(pos, signOf(favoured_));
    return true;
  }
  bool probeBound(const Position& pos, int& score, int alpha, int beta, int,
                  std::int16_t&) const override {
    if (kind_ == MinorEnding::ROOK_MINOR_VS_ROOK) return false;
    if (favouredSideExposed(pos, favoured_)) return false;
    return cutByBounds(pos, favoured_, 0, BOUND_LIMIT, alpha, beta, score);
  }

 private:
  bool twoKnights(const Position& pos) const {
    return kind_ == MinorEnding::TWO_MINORS && pos.side[favoured_].count[KNIGHT] == 2;
  }

  MinorEnding kind_;
  Color favoured_;
};

// ---- king and pawn against king and minor ---------------------------------------------

// The corner square and its two neighbours along the edges, for all corners.
constexpr Bitboard CORNER_ZONES = bit(0) | bit(1) | bit(8) | bit(7) | bit(6) | bit(15) | bit(56) |
                                  bit(57) | bit(48) | bit(63) | bit(62) | bit(55);

// The bishop stops the pawn when it holds a square of the pawn's way that the
// pawn's side cannot contest.
bool bishopStopsPawn(const Position& pos, Color pawnSide) {
  const SideState& a = pos.side[pawnSide];
  const SideState& d = pos.side[~pawnSide];
  const Bitboard bishop = d.pieceBB[BISHOP];
  const bool pawnSideToMove = pos.sideToMove() == pawnSide;
  if (pawnSideToMove &&
      ((bishop & d.enemyPawnAttacks) || ((bishop & d.attackedByEnemy) && !(bishop & a.attackedByEnemy))))
    return false;
  const Square pawn = a.squares[PAWN][0];
  Bitboard path = aheadOnFile(pawnSide, pawn);
  if (relativeRank(pawnSide, pawn) == 2) path &= ~bit(squareInFront(pawnSide, pawn));  // double step
  if (!pawnSideToMove) path |= a.pieceBB[PAWN];
  const Bitboard defence = a.attackedByEnemy;  // squares the minor's side attacks
  const Bitboard support = d.attackedByEnemy;  // squares the pawn's side attacks
  return (path & defence & ~support) || (path & a.attackedTwice);
}

// The knight stops the pawn when it can take it: on the pawn's square or on
// the promotion square right after the pawn has queened (taking leaves a bare
// king, or loses the knight to a recapture: a draw either way). The race is
// weighted towards the pawn's side so that a draw is only claimed where the
// knight really gets there:
// - the pawn advances on every turn of its side (a double step from its
//   start), even where a check or its own king would hold it up;
// - on the same turns the attacking king's guard grows by one king step in
//   every direction, as if it walked wherever it is needed;
// - the knight moves one knight step per turn and may also stand still (its
//   king can spend the tempo), never onto either king's square, a square the
//   pawn attacks or a square inside the king's guard;
// - a side in check spends its first turn on it: a pawn side in check moves
//   its king, not the pawn; a defender in check moves nothing but a capture
//   of the checking pawn.
bool knightStopsPawn(const Position& pos, Color pawnSide) {
  const SideState& a = pos.side[pawnSide];
  const SideState& d = pos.side[~pawnSide];
  const Bitboard kings = a.pieceBB[KING] | d.pieceBB[KING];
  Bitboard guard = STEPS.king[a.kingSquare()] | a.pieceBB[KING];
  Square pawn = a.squares[PAWN][0];
  Bitboard reach = d.pieceBB[KNIGHT];
  bool pawnMoves = pos.sideToMove() == pawnSide;
  bool inCheck = pos.inCheck();
  bool queened = false;
  for (int turn = 0; turn < 16 && reach; ++turn) {
    if (pawnMoves) {
      if (!inCheck) {
        const bool start = relativeRank(pawnSide, pawn) == 2;
        pawn = squareInFront(pawnSide, pawn);
        if (start) pawn = squareInFront(pawnSide, pawn);
        queened = relativeRank(pawnSide, pawn) == 8;
      }
      guard = kingGrow(guard);
    } else {
      Bitboard steps = 0;
      for (Bitboard r = reach; r;) steps |= STEPS.knight[popLowest(r)];
      if (steps & bit(pawn)) return true;
      if (queened) return false;
      if (!inCheck) reach = (reach | steps) & ~kings & ~guard & ~pawnAttacks(pawnSide, bit(pawn));
    }
    inCheck = false;
    pawnMoves = !pawnMoves;
  }
  return false;
}

class PawnVsMinorSpecialist final : public EndgameSpecialist {
 public:
  explicit PawnVsMinorSpecialist(Color pawnSide) : pawnSide_(pawnSide) {}

  bool probe(const Position& pos, int& score) const override {
    const SideState& a = pos.side[pawnSide_];
    const SideState& d = pos.side[~pawnSide_];
    const Square pawn = a.squares[PAWN][0];
    const Bitboard minor = d.pieceBB[KNIGHT] | d.pieceBB[BISHOP];
    const bool pawnSideToMove = pos.sideToMove() == pawnSide_;
    const int sign = signOf(pawnSide_);
    score = sign;
    // Without the minor the pawn would not win: the minor only helps.
    if (!pos.inCheck() && !(pawnSideToMove && (minor & pawnAttacks(pawnSide_, a.pieceBB[PAWN]))) &&
        kpkValue(pos, pawnSide_) < 0)
      return true;
    if (!(pawnSideToMove && (minor & d.attackedByEnemy))) {
      const bool stops =
          d.count[BISHOP] > 0 ? bishopStopsPawn(pos, pawnSide_) : knightStopsPawn(pos, pawnSide_);
      if (stops) return true;
    }
    const int rank = relativeRank(pawnSide_, pawn);
    if (rank == 6) score = sign * 64;
    if (rank == 7) score = sign * 256;
    return false;
  }
  bool probeSideRelative(const Position& pos, int& score) const override {
    int s = 0;
    if (!probe(pos, s)) return false;
    score = forMover(pos, s);
    return true;
  }
  bool probeBound(const Position& pos, int& score, int alpha, int beta, int depth,
                  std::int16_t& extension) const override {
    const SideState& a = pos.side[pawnSide_];
    const SideState& d = pos.side[~pawnSide_];
    const Square pawn = a.squares[PAWN][0];
    const int rank = relativeRank(pawnSide_, pawn);
    int s = 0;
    const bool settled = probe(pos, s);
    // A knight beside its king in a corner can be in the king's way: mates by
    // the pawn side remain possible there. "First or last rank" of the pawn is
    // read as the first and last ranks a pawn can stand on, its ranks 2 and
    // 7; ranks 1 and 8 never hold a pawn.
    const bool knightException = d.count[KNIGHT] > 0 &&
                                 ((bit(pawn) & (FILE_A | FILE_H)) || rank == 2 || rank == 7) &&
                                 (bit(d.kingSquare()) & CORNER_ZONES);
    if (!knightException) {
      if (settled) {
        score = forMover(pos, s);
        return true;
      }
      if (cutByBounds(pos, pawnSide_, 0, BOUND_LIMIT, alpha, beta, score)) return true;
    }
    if (rank == 7 && depth < 11) extension = std::int16_t(extension + 3);
    return false;
  }

 private:
  Color pawnSide_;
};

// ---- king, minor and pawn against king ---------------------------------------------------

// Known draws with a rook's pawn.
bool minorAndRookPawnDraw(const Position& pos, Color strong) {
  const SideState& a = pos.side[strong];
  const SideState& d = pos.side[~strong];
  const Square pawn = a.squares[PAWN][0];
  if (!(bit(pawn) & (FILE_A | FILE_H))) return false;
  const Square dk = d.kingSquare();
  if (a.count[BISHOP] > 0) {
    // The defending king holds the corner that the bishop cannot attack.
    const Square corner = promotionSquare(strong, pawn);
    return dk == corner && onDarkSquare(a.squares[BISHOP][0]) != onDarkSquare(corner);
  }
  // With the knight: the defending king, to move, takes the unguarded pawn
  // and leaves king and knight against king.
  return pos.sideToMove() != strong && (STEPS.king[dk] & bit(pawn)) &&
         !(bit(pawn) & d.attackedByEnemy);
}

class MinorPawnVsKingSpecialist final : public EndgameSpecialist {
 public:
  explicit MinorPawnVsKingSpecialist(Color strong) : strong_(strong) {}

  bool probe(const Position& pos, int& score) const override {
    if (!minorAndRookPawnDraw(pos, strong_)) return false;
    score = signOf(strong_);
    return true;
  }
  bool probeSideRelative(const Position& pos, int& score) const override {
    int s = 0;
    if (!probe(pos, s)) return false;
    score = forMover(pos, s);
    return true;
  }
  bool probeBound(const Position& pos, int& score, int alpha, int beta, int,
                  std::int16_t&) const override {
    int s = 0;
    if (probe(pos, s)) {
      score = forMover(pos, s);
      return true;
    }
    return cutByBounds(pos, strong_, 0, BOUND_LIMIT, alpha, beta, score);
  }

 private:
  Color strong_;
};

// ---- rook against minor and pawn, rook and minor against rook and pawn ----------------------

// The side without pawns cannot be better than a draw.
class RookVersusPawnSideSpecialist final : public EndgameSpecialist {
 public:
  explicit RookVersusPawnSideSpecialist(int value) : value_(value) {}

  bool probe(const Position&, int& score) const override {
    score = value_;
    return false;
  }
  int scale(const Position& pos, const Evaluator&, int score) const override {
    const bool whitePawns = pos.side[WHITE].count[PAWN] > 0;
    if (!whitePawns && score > 0) return 0;
    if (whitePawns && score < 0) return 0;
    return score;
  }

 private:
  int value_;
};

}  // namespace

void addMinorPieceSpecialists(SpecialistSlots& slots) {
  using enum MinorEnding;
  slots[SP_KR_KMINOR] = std::make_unique<MinorEndingSpecialist>(ROOK_VS_MINOR, WHITE);
  slots[SP_KMINOR_KR] = std::make_unique<MinorEndingSpecialist>(ROOK_VS_MINOR, BLACK);
  slots[SP_KRMINOR_KR] = std::make_unique<MinorEndingSpecialist>(ROOK_MINOR_VS_ROOK, WHITE);
  slots[SP_KR_KRMINOR] = std::make_unique<MinorEndingSpecialist>(ROOK_MINOR_VS_ROOK, BLACK);
  slots[SP_K2MINORS_KMINOR] = std::make_unique<MinorEndingSpecialist>(TWO_MINORS, WHITE);
  slots[SP_KMINOR_K2MINORS] = std::make_unique<MinorEndingSpecialist>(TWO_MINORS, BLACK);
  slots[SP_K2MINORS_KR] = std::make_unique<MinorEndingSpecialist>(TWO_MINORS, WHITE);
  slots[SP_KR_K2MINORS] = std::make_unique<MinorEndingSpecialist>(TWO_MINORS, BLACK);
  slots[SP_KP_KMINOR] = std::make_unique<PawnVsMinorSpecialist>(WHITE);
  slots[SP_KMINOR_KP] = std::make_unique<PawnVsMinorSpecialist>(BLACK);
  slots[SP_KMINORP_K] = std::make_unique<MinorPawnVsKingSpecialist>(WHITE);
  slots[SP_K_KMINORP] = std::make_unique<MinorPawnVsKingSpecialist>(BLACK);
  slots[SP_ROOK_VS_MINOR_PAWN_PLUS] = std::make_unique<RookVersusPawnSideSpecialist>(100);
  slots[SP_ROOK_VS_MINOR_PAWN_MINUS] = std::make_unique<RookVersusPawnSideSpecialist>(-100);
  slots[SP_ROOK_MINOR_VS_ROOK_PAWN_PLUS] = std::make_unique<RookVersusPawnSideSpecialist>(100);
  slots[SP_ROOK_MINOR_VS_ROOK_PAWN_MINUS] = std::make_unique<RookVersusPawnSideSpecialist>(-100);
}

}  // namespace korvane::endgame
