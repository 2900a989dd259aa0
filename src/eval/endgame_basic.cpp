// Specialists of the smallest endings: dead draws, king and pawn against
// king, a lone major piece against a bare king, equal majors, queen against
// rook, and bishop and knight against a bare king.
#include "eval/endgame.h"

namespace korvane::endgame {

bool cutByBounds(const Position& pos, Color owner, int low, int high, int alpha, int beta,
                 int& score) {
  if (pos.sideToMove() != owner) {
    const int flipped = -high;
    high = -low;
    low = flipped;
  }
  if (low >= beta) {
    score = low;
    return true;
  }
  if (high <= alpha) {
    score = high;
    return true;
  }
  return false;
}

bool bareKingStuck(const Position& pos, Color weak) {
  if (pos.sideToMove() != weak) return false;
  const SideState& s = pos.side[weak];
  return (STEPS.king[s.kingSquare()] & ~s.attackedByEnemy & ~s.pieceBB[0]) == 0;
}

int kpkValue(const Position& pos, Color strong) {
  const SideState& a = pos.side[strong];
  const SideState& d = pos.side[~strong];
  Square pawn = a.squares[PAWN][0];
  Square strongKing = a.kingSquare();
  Square weakKing = d.kingSquare();
  if (strong == BLACK) {  // the bitbase is written for a pawn moving up the board
    pawn ^= 56;
    strongKing ^= 56;
    weakKing ^= 56;
  }
  return kpkProbe(pawn, strongKing, weakKing, pos.sideToMove() == strong);
}

int kbnMatingTerm(const Position& pos, Color strong) {
  const SideState& a = pos.side[strong];
  const SideState& d = pos.side[~strong];
  const Square weakKing = d.kingSquare();
  const Bitboard bishops = a.pieceBB[BISHOP];
  const Bitboard covered = d.attackedByEnemy;  // what the strong side attacks

  // The mate happens in a corner of the bishop's colour. Grow the two corners
  // by king steps until they reach the defending king: 35 per step.
  Bitboard region = (bishops & DARK_SQUARES) ? bit(56) | bit(7) : bit(0) | bit(63);
  Bitboard beforeLastGrowth = region;
  int term = 3000;
  while (!(region & bit(weakKing))) {
    term -= 35;
    beforeLastGrowth = region;
    region = kingGrow(region);
  }

  // The defending king's ways back out of that region, away from the corner:
  // the fewer of them the strong side leaves open, the better.
  const int open = popCount(STEPS.king[weakKing] & ~region & ~covered);
  term += open == 0 ? -2 : open == 1 ? -8 : -22;

  if (bishops & RING_SQUARES & ~beforeLastGrowth) term += 2;
  if (bishops & beforeLastGrowth) term -= 3;
  if (bishops & LONG_DIAGONALS) term -= 2;
  if (kingDistance(a.kingSquare(), weakKing) < 5) term += 1;

  // Room left to the defending king: squares reachable in three king steps
  // over squares the strong side does not attack.
  Bitboard room = STEPS.king[weakKing] & ~covered;
  room = kingGrow(room) & ~covered;
  room = kingGrow(room) & ~covered;
  return term - popCount(room);
}

namespace {

// ---- draws ------------------------------------------------------------------------

// Bare kings, a lone minor piece, minor against minor: nothing to play for.
class DrawSpecialist final : public EndgameSpecialist {
 public:
  bool probe(const Position&, int& score) const override {
    score = 0;
    return true;
  }
  bool probeSideRelative(const Position&, int& score) const override {
    score = 0;
    return true;
  }
  bool probeBound(const Position&, int& score, int, int, int depth,
                  std::int16_t& extension) const override {
    score = 0;
    extension = std::int16_t(-depth);
    return true;
  }
};

// Two knights cannot force mate, but the defender can still blunder into
// one: the node is not settled, only kept shallow.
class DeadDrawSpecialist final : public EndgameSpecialist {
 public:
  bool probe(const Position&, int& score) const override {
    score = 0;
    return true;
  }
  bool probeSideRelative(const Position&, int& score) const override {
    score = 0;
    return true;
  }
  bool probeBound(const Position&, int& score, int, int, int depth,
                  std::int16_t& extension) const override {
    score = 0;
    if (depth > 5) extension = std::int16_t(5 - depth);
    return false;
  }
};

// ---- king and pawn against king -----------------------------------------------------

constexpr int KPK_WIN_BASE = 8436;
constexpr int KPK_WIN_BOUND = 8336;

class KpkSpecialist final : public EndgameSpecialist {
 public:
  explicit KpkSpecialist(Color strong) : strong_(strong) {}

  bool probe(const Position& pos, int& score) const override {
    const int v = kpkValue(pos, strong_);
    // A drawn ending keeps a trace of the pawn (1, not 0) so that it still
    // differs from a dead draw.
    score = signOf(strong_) * (v < 0 ? 1 : KPK_WIN_BASE - v);
    return true;
  }
  bool probeSideRelative(const Position& pos, int& score) const override {
    int s = 0;
    probe(pos, s);
    score = forMover(pos, s);
    return true;
  }
  bool probeBound(const Position& pos, int& score, int alpha, int beta, int,
                  std::int16_t&) const override {
    if (kpkValue(pos, strong_) >= 0)
      return cutByBounds(pos, strong_, KPK_WIN_BOUND, BOUND_LIMIT, alpha, beta, score);
    // A draw lies within -1..1 from either side.
    if (beta < 0) {
      score = -1;
      return true;
    }
    if (alpha >= 1) {
      score = 1;
      return true;
    }
    return false;
  }

 private:
  Color strong_;
};

// ---- a lone major piece against a bare king -----------------------------------------

class MajorVsBareKingSpecialist final : public EndgameSpecialist {
 public:
  explicit MajorVsBareKingSpecialist(Color strong) : strong_(strong) {}

  bool probe(const Position&, int& score) const override {
    score += signOf(strong_) * 4000;
    return false;
  }
  bool probeBound(const Position& pos, int& score, int alpha, int beta, int,
                  std::int16_t&) const override {
    const SideState& a = pos.side[strong_];
    if (a.pieceBB[0] & a.attackedByEnemy) return false;  // the piece may be taken
    if (bareKingStuck(pos, ~strong_)) return false;      // mate or stalemate
    const int low = a.count[QUEEN] > 0 ? 11436 : 6969;
    return cutByBounds(pos, strong_, low, BOUND_LIMIT, alpha, beta, score);
  }

 private:
  Color strong_;
};

// ---- equal majors ---------------------------------------------------------------------

// Rook against rook or queen against queen is a draw unless something is
// hanging or a king is exposed to checks and skewers.
bool equalMajorsTactics(const Position& pos) {
  for (Color c : {WHITE, BLACK}) {
    const SideState& own = pos.side[c];
    const SideState& enemy = pos.side[~c];
    if (own.pieceBB[0] & own.attackedByEnemy) return true;
    const Square king = own.kingSquare();
    const Bitboard around = STEPS.king[king];
    // Own attacks on the king's square: the king stands on the line of its
    // own major piece, with nothing of its own beside it.
    if (!(around & own.pieceBB[0]) && (enemy.attackedByEnemy & bit(king))) return true;
    if (popCount(around & ~own.attackedByEnemy) < 4) return true;
    if (bit(king) & EDGE_SQUARES) return true;
  }
  return false;
}

class EqualMajorsSpecialist final : public EndgameSpecialist {
 public:
  bool probe(const Position&, int& score) const override {
    score = 0;
    return true;
  }
  bool probeSideRelative(const Position& pos, int& score) const override {
    if (equalMajorsTactics(pos)) return false;
    score = 0;
    return true;
  }
  bool probeBound(const Position& pos, int& score, int, int, int depth,
                  std::int16_t& extension) const override {
    score = 0;
    if (!equalMajorsTactics(pos)) return true;
    // Tactics possible: search them, but not too deep.
    if (depth >= 15)
      extension = -5;
    else if (depth >= 11)
      extension = std::int16_t(-(depth % 5));
    return false;
  }
};

// ---- queen against rook -----------------------------------------------------------------

class QueenVsRookSpecialist final : public EndgameSpecialist {
 public:
  explicit QueenVsRookSpecialist(Color strong) : strong_(strong) {}

  bool probe(const Position&, int& score) const override {
    score += signOf(strong_) * 3000;
    return false;
  }
  bool probeBound(const Position& pos, int& score, int alpha, int beta, int,
                  std::int16_t&) const override {
    const SideState& d = pos.side[~strong_];
    if (d.pieceBB[0] & d.attackedByEnemy) return false;  // check, or the rook attacked
    return cutByBounds(pos, strong_, 5467, BOUND_LIMIT, alpha, beta, score);
  }

 private:
  Color strong_;
};

// ---- bishop and knight against king ---------------------------------------------------------

class BishopKnightMateSpecialist final : public EndgameSpecialist {
 public:
  explicit BishopKnightMateSpecialist(Color strong) : strong_(strong) {}

  bool probe(const Position& pos, int& score) const override {
    score += signOf(strong_) * kbnMatingTerm(pos, strong_);
    return true;
  }
  // The search has no material score at hand: start from the plain material
  // balance, as the material term does before any network blend.
  bool probeSideRelative(const Position& pos, int& score) const override {
    if (bareKingStuck(pos, ~strong_)) return false;
    const int w = pos.side[WHITE].materialSum, b = pos.side[BLACK].materialSum;
    int s = (w - b) + 128 * (w - b) / (w + b + 100);
    probe(pos, s);
    score = forMover(pos, s);
    return true;
  }
  bool probeBound(const Position& pos, int& score, int alpha, int beta, int,
                  std::int16_t&) const override {
    if (bareKingStuck(pos, ~strong_)) return false;
    const SideState& a = pos.side[strong_];
    const bool loose = (a.pieceBB[0] & a.attackedByEnemy) || (a.pieceBB[KNIGHT] & BOARD_CORNERS);
    return cutByBounds(pos, strong_, loose ? 1 : 4111, BOUND_LIMIT, alpha, beta, score);
  }

 private:
  Color strong_;
};

}  // namespace

void addBasicSpecialists(SpecialistSlots& slots) {
  slots[SP_DRAW] = std::make_unique<DrawSpecialist>();
  slots[SP_DEAD_DRAW] = std::make_unique<DeadDrawSpecialist>();
  slots[SP_KPK_WHITE] = std::make_unique<KpkSpecialist>(WHITE);
  slots[SP_KPK_BLACK] = std::make_unique<KpkSpecialist>(BLACK);
  slots[SP_KMAJOR_K_WHITE] = std::make_unique<MajorVsBareKingSpecialist>(WHITE);
  slots[SP_KMAJOR_K_BLACK] = std::make_unique<MajorVsBareKingSpecialist>(BLACK);
  slots[SP_EQUAL_MAJORS] = std::make_unique<EqualMajorsSpecialist>();
  slots[SP_KQ_KR] = std::make_unique<QueenVsRookSpecialist>(WHITE);
  slots[SP_KR_KQ] = std::make_unique<QueenVsRookSpecialist>(BLACK);
  slots[SP_KBN_K_WHITE] = std::make_unique<BishopKnightMateSpecialist>(WHITE);
  slots[SP_KBN_K_BLACK] = std::make_unique<BishopKnightMateSpecialist>(BLACK);
}

}  // namespace korvane::endgame
