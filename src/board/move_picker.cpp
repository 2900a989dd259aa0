#include "board/move_picker.h"

#include <algorithm>
#include <bit>
#include <cstdint>

namespace korvane {

namespace {

constexpr std::int32_t SPECIAL_SCORE = 0x3FFFFFFF;  // hash move and killers
constexpr std::int32_t GOOD_MOVE = 0x40000000;      // queen promotions and non-losing captures
constexpr std::int32_t VALUE[7] = {0, 0x4000000, 0xC000000, 0xC000000, 0x14000000, 0x24000000, 0};
constexpr std::int32_t SAFE[7] = {0, 0x300000, 0x3200000, 0x3200000, 0x3400000, 0x3800000, 0};

// Ordering bonus by piece type and destination, from the mover's side (a8 = 0).
constexpr std::int16_t ORDER_PST[7][64] = {
    {},
    {8, 6, 18, 12, 24, 8, 10, 12, 110, 140, 130, 72, 112, 116, 108, 152, 44, 24, 32, 20, 20, 40,
     28, 50, 24, 28, 22, 24, 30, 26, 20, 36, 8, 12, 16, 34, 30, 14, 4, 6, 4, 20, 18, 18,
     28, 18, 16, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {6, 2, 34, 14, 16, 8, 4, 6, 16, 14, 20, 28, 28, 10, 2, 10, 22, 14, 32, 32, 28, 32,
     6, 34, 6, 28, 18, 34, 32, 22, 24, 8, 6, 14, 18, 14, 16, 14, 12, 6, 10, 38, 42, 34,
     38, 38, 44, 4, 2, 4, 8, 14, 8, 14, 4, 0, 0, 2, 4, 2, 2, 2, 0, 0},
    {0, 6, 10, 2, 6, 2, 4, 0, 4, 10, 6, 22, 8, 6, 0, 4, 8, 2, 24, 6, 22, 2,
     2, 8, 18, 22, 24, 20, 10, 16, 18, 12, 20, 18, 28, 18, 24, 14, 30, 18, 22, 22, 22, 24,
     20, 20, 46, 20, 14, 18, 10, 22, 24, 30, 16, 12, 2, 2, 16, 6, 2, 12, 2, 4},
    {24, 20, 22, 22, 20, 12, 20, 18, 28, 26, 22, 36, 24, 26, 22, 22, 20, 16, 22, 16, 28, 22,
     22, 16, 26, 18, 12, 14, 18, 24, 16, 18, 22, 6, 10, 14, 16, 14, 16, 26, 20, 12, 12, 10,
     18, 12, 18, 10, 20, 6, 8, 10, 12, 6, 6, 6, 14, 4, 18, 16, 8, 10, 4, 10},
    {16, 30, 32, 24, 22, 8, 22, 28, 12, 8, 8, 14, 10, 32, 6, 24, 6, 2, 12, 8, 12, 24,
     4, 12, 14, 24, 16, 28, 14, 34, 18, 20, 18, 18, 12, 14, 12, 10, 12, 10, 26, 32, 16, 24,
     16, 24, 12, 10, 14, 12, 14, 12, 22, 18, 12, 2, 4, 4, 6, 8, 8, 10, 14, 2},
    {0, 0, 2, 8, 18, 8, 10, 0, 2, 26, 12, 12, 52, 34, 32, 16, 24, 16, 16, 14, 26, 22,
     64, 32, 10, 26, 30, 36, 44, 34, 42, 28, 8, 34, 32, 38, 48, 38, 32, 18, 14, 22, 24, 32,
     32, 34, 28, 8, 36, 22, 16, 12, 18, 20, 22, 8, 2, 10, 8, 6, 8, 6, 10, 2}};

inline MoveEntry* emitTargets(MoveEntry* out, Square from, Bitboard targets, int piece) {
  while (targets) *out++ = {Move(from, popLowest(targets), piece), 0};
  return out;
}

inline MoveEntry* emitPromotions(MoveEntry* out, Square from, Square to, bool queenOnly) {
  *out++ = {Move(from, to, PAWN, QUEEN), 0};
  if (!queenOnly) {
    *out++ = {Move(from, to, PAWN, ROOK), 0};
    *out++ = {Move(from, to, PAWN, BISHOP), 0};
    *out++ = {Move(from, to, PAWN, KNIGHT), 0};
  }
  return out;
}

// Pawn geometry of one colour: where the pawns go and where they come from.
struct PawnDirs {
  bool white;
  Bitboard lastRank, doubleRank;  // destination rank of promotions, of double-step middles
  int pushDelta;                  // to - from of a single push
  int westDelta, eastDelta;       // to - from of a capture towards the a- and h-file
  Bitboard push(Bitboard b) const { return white ? shiftUp(b) : shiftDown(b); }
  Bitboard west(Bitboard b) const { return white ? shiftUpWest(b) : shiftDownWest(b); }
  Bitboard east(Bitboard b) const { return white ? shiftUpEast(b) : shiftDownEast(b); }
};
constexpr PawnDirs WHITE_PAWNS{true, RANK_8, 0x0000FF0000000000ULL, -8, -9, -7};
constexpr PawnDirs BLACK_PAWNS{false, RANK_1, 0x0000000000FF0000ULL, 8, 7, 9};

// Captures onto `targets` in one direction: promotions first (four moves each,
// or the queen only), then the others.
inline MoveEntry* pawnCaptures(MoveEntry* out, Bitboard to, int delta, Bitboard lastRank, bool queenOnly) {
  for (Bitboard p = to & lastRank; p;) {
    const Square t = popLowest(p);
    out = emitPromotions(out, t - delta, t, queenOnly);
  }
  for (Bitboard p = to & ~lastRank; p;) {
    const Square t = popLowest(p);
    *out++ = {Move(t - delta, t, PAWN), 0};
  }
  return out;
}

}  // namespace

MovePicker::MovePicker(Move hashMove, MoveEntry*& top, Position& pos, const HistoryTable& history,
                       bool quiescence, bool withChecks, const KillerTable* killers)
    : begin_(top),
      scan_(top),
      end_(top),
      listEnd_(top),
      top_(top),
      pos_(pos),
      mover_(pos.mover()),
      enemy_(pos.enemy()),
      epSquare_(pos.epSquare),
      history_(history),
      hashMove_{hashMove, SPECIAL_SCORE},
      killer1_{Move(), SPECIAL_SCORE},
      killer2_{Move(), SPECIAL_SCORE},
      quiescence_(quiescence) {
  if (!hashMove) {
    const Bitboard last = pos.lastMove & enemy_.pieceBB[0];
    if (last) {
      const Square s = lowestSquare(last);
      if ((last & (enemy_.pieceBB[ROOK] | enemy_.pieceBB[QUEEN])) || !(last & mover_.attackedTwice))
        recaptureSquare_ = s;
    }
  }
  const bool check = (mover_.attackedByEnemy & mover_.pieceBB[KING]) != 0;
  if (killers) {
    killer1_.move = killers->rows[check][0];
    killer2_.move = killers->rows[check][1];
  }
  if (check)
    generateEvasions();
  else if (quiescence)
    generateQuiescence(withChecks);
  else
    generateAll();
  top_ = end_;
  listEnd_ = end_;
}

void MovePicker::generateAll() {
  MoveEntry* out = end_;
  const SideState& me = mover_;
  const Bitboard notOwn = ~me.pieceBB[0];
  const std::uint8_t* rot = pos_.rotated;

  for (int i = 0; i < me.count[KNIGHT]; ++i) {
    const Square s = me.squares[KNIGHT][i];
    out = emitTargets(out, s, STEPS.knight[s] & notOwn, KNIGHT);
  }
  for (int i = 0; i < me.count[BISHOP]; ++i) {
    const Square s = me.squares[BISHOP][i];
    out = emitTargets(out, s, bishopAttacks(s, rot) & notOwn, BISHOP);
  }
  for (int i = 0; i < me.count[ROOK]; ++i) {
    const Square s = me.squares[ROOK][i];
    out = emitTargets(out, s, rookAttacks(s, rot) & notOwn, ROOK);
  }
  for (int i = 0; i < me.count[QUEEN]; ++i) {
    const Square s = me.squares[QUEEN][i];
    out = emitTargets(out, s, bishopAttacks(s, rot) & notOwn, QUEEN);
  }
  for (int i = 0; i < me.count[QUEEN]; ++i) {
    const Square s = me.squares[QUEEN][i];
    out = emitTargets(out, s, rookAttacks(s, rot) & notOwn, QUEEN);
  }
  const Square king = me.kingSquare();
  out = emitTargets(out, king, STEPS.king[king] & notOwn & ~me.attackedByEnemy, KING);

  const int rights = pos_.castling & me.castleMask;
  if ((rights & 5) && !(pos_.occupied & me.kingsideEmpty) && !(me.kingsidePath & me.attackedByEnemy))
    *out++ = {Move(king, me.kingsideRookSquare, KING), 0};
  if ((rights & 10) && !(pos_.occupied & me.queensideEmpty) && !(me.queensidePath & me.attackedByEnemy))
    *out++ = {Move(king, me.queensideRookSquare, KING), 0};

  const PawnDirs& d = pos_.whiteToMove ? WHITE_PAWNS : BLACK_PAWNS;
  const Bitboard pawns = me.pieceBB[PAWN];
  const Bitboard victims = enemy_.pieceBB[0] | (epSquare_ >= 0 ? bit(epSquare_) : 0);
  out = pawnCaptures(out, d.west(pawns) & victims, d.westDelta, d.lastRank, false);
  out = pawnCaptures(out, d.east(pawns) & victims, d.eastDelta, d.lastRank, false);
  const Bitboard single = d.push(pawns) & ~pos_.occupied;
  for (Bitboard p = single & d.lastRank; p;) {
    const Square t = popLowest(p);
    out = emitPromotions(out, t - d.pushDelta, t, false);
  }
  for (Bitboard p = d.push(single & d.doubleRank) & ~pos_.occupied; p;) {
    const Square t = popLowest(p);
    *out++ = {Move(t - 2 * d.pushDelta, t, PAWN), 0};
  }
  for (Bitboard p = single & ~d.lastRank; p;) {
    const Square t = popLowest(p);
    *out++ = {Move(t - d.pushDelta, t, PAWN), 0};
  }
  end_ = out;
}

void MovePicker::generateQuiescence(bool withChecks) {
  MoveEntry* out = end_;
  const SideState& me = mover_;
  const SideState& them = enemy_;
  const std::uint8_t* rot = pos_.rotated;
  const Bitboard enemies = them.pieceBB[0];
  const Square enemyKing = them.kingSquare();

  // Safe checking squares per kind of piece (empty when checks are not wanted).
  Bitboard knightChecks = 0, diagonalChecks = 0, straightChecks = 0;
  if (withChecks) {
    const Bitboard safe = ~me.pieceBB[0] & (~me.attackedByEnemy | them.attackedTwice);
    knightChecks = STEPS.knight[enemyKing] & safe;
    diagonalChecks = bishopAttacks(enemyKing, rot) & safe;
    straightChecks = rookAttacks(enemyKing, rot) & safe;
  }

  for (int i = 0; i < me.count[KNIGHT]; ++i) {
    const Square s = me.squares[KNIGHT][i];
    out = emitTargets(out, s, STEPS.knight[s] & (enemies | knightChecks), KNIGHT);
  }
  for (int i = 0; i < me.count[BISHOP]; ++i) {
    const Square s = me.squares[BISHOP][i];
    out = emitTargets(out, s, bishopAttacks(s, rot) & (enemies | diagonalChecks), BISHOP);
  }
  const Bitboard rookVictims = enemies & ~(them.pieceBB[PAWN] & me.enemyPawnAttacks);
  for (int i = 0; i < me.count[ROOK]; ++i) {
    const Square s = me.squares[ROOK][i];
    out = emitTargets(out, s, rookAttacks(s, rot) & (rookVictims | straightChecks), ROOK);
  }
  const Bitboard queenVictims = (enemies & ~me.enemyPawnAttacks) | them.pieceBB[QUEEN];
  for (int i = 0; i < me.count[QUEEN]; ++i) {
    const Square s = me.squares[QUEEN][i];
    out = emitTargets(out, s, queenAttacks(s, rot) & (queenVictims | diagonalChecks | straightChecks), QUEEN);
  }
  const Square king = me.kingSquare();
  out = emitTargets(out, king, STEPS.king[king] & enemies & ~me.attackedByEnemy, KING);

  const PawnDirs& d = pos_.whiteToMove ? WHITE_PAWNS : BLACK_PAWNS;
  const Bitboard pawns = me.pieceBB[PAWN];
  const Bitboard single = d.push(pawns) & ~pos_.occupied;
  if (withChecks) {
    // Pushes onto a square from which the pawn would attack the enemy king.
    const Bitboard checkSquares = pawnAttacks(pos_.whiteToMove ? BLACK : WHITE, bit(enemyKing));
    for (Bitboard p = single & checkSquares & ~d.lastRank; p;) {
      const Square t = popLowest(p);
      *out++ = {Move(t - d.pushDelta, t, PAWN), 0};
    }
  }
  const Bitboard victims = enemies | (epSquare_ >= 0 ? bit(epSquare_) : 0);
  out = pawnCaptures(out, d.west(pawns) & victims, d.westDelta, d.lastRank, true);
  out = pawnCaptures(out, d.east(pawns) & victims, d.eastDelta, d.lastRank, true);
  for (Bitboard p = single & d.lastRank; p;) {
    const Square t = popLowest(p);
    out = emitPromotions(out, t - d.pushDelta, t, true);
  }
  end_ = out;
}

void MovePicker::generateEvasions() {
  MoveEntry* out = end_;
  const SideState& me = mover_;
  const SideState& them = enemy_;
  const std::uint8_t* rot = pos_.rotated;
  const Square king = me.kingSquare();
  const Bitboard rookLike = them.pieceBB[ROOK] | them.pieceBB[QUEEN];
  const Bitboard bishopLike = them.pieceBB[BISHOP] | them.pieceBB[QUEEN];

  // Checkers, and the squares behind the king on a checking line (the attack
  // maps were computed with the king in place and cannot show those).
  Bitboard checkers = 0, forbidden = 0, between = 0;
  auto line = [&](Bitboard fromKing, Bitboard sliders, Bitboard (*attacks)(Square, const std::uint8_t*)) {
    const Bitboard hit = fromKing & sliders;
    if (!hit) return;
    checkers |= hit;
    forbidden |= fromKing & ~hit;
    between |= fromKing & attacks(lowestSquare(hit), rot);
  };
  line(rankAttacks(king, rot), rookLike, rankAttacks);
  line(fileAttacks(king, rot), rookLike, fileAttacks);
  line(diagAttacks(king, rot), bishopLike, diagAttacks);
  line(antiAttacks(king, rot), bishopLike, antiAttacks);
  checkers |= STEPS.knight[king] & them.pieceBB[KNIGHT];
  const Color us = pos_.sideToMove();
  checkers |= pawnAttacks(us, bit(king)) & them.pieceBB[PAWN];

  out = emitTargets(out, king, STEPS.king[king] & ~me.pieceBB[0] & ~me.attackedByEnemy & ~forbidden, KING);
  if (moreThanOne(checkers) || !checkers) {
    end_ = out;
    return;
  }

  const Bitboard target = checkers | between;
  const Bitboard free = ~me.pinned;
  for (int i = 0; i < me.count[KNIGHT]; ++i) {
    const Square s = me.squares[KNIGHT][i];
    if (bit(s) & free) out = emitTargets(out, s, STEPS.knight[s] & target, KNIGHT);
  }
  for (int i = 0; i < me.count[BISHOP]; ++i) {
    const Square s = me.squares[BISHOP][i];
    if (bit(s) & free) out = emitTargets(out, s, bishopAttacks(s, rot) & target, BISHOP);
  }
  for (int i = 0; i < me.count[ROOK]; ++i) {
    const Square s = me.squares[ROOK][i];
    if (bit(s) & free) out = emitTargets(out, s, rookAttacks(s, rot) & target, ROOK);
  }
  for (int i = 0; i < me.count[QUEEN]; ++i) {
    const Square s = me.squares[QUEEN][i];
    if (bit(s) & free) out = emitTargets(out, s, bishopAttacks(s, rot) & target, QUEEN);
  }
  for (int i = 0; i < me.count[QUEEN]; ++i) {
    const Square s = me.squares[QUEEN][i];
    if (bit(s) & free) out = emitTargets(out, s, rookAttacks(s, rot) & target, QUEEN);
  }

  const PawnDirs& d = pos_.whiteToMove ? WHITE_PAWNS : BLACK_PAWNS;
  const Bitboard pawns = me.pieceBB[PAWN] & free;
  out = pawnCaptures(out, d.west(pawns) & checkers, d.westDelta, d.lastRank, false);
  out = pawnCaptures(out, d.east(pawns) & checkers, d.eastDelta, d.lastRank, false);
  const Bitboard single = d.push(pawns) & ~pos_.occupied;
  for (Bitboard p = single & between & d.lastRank; p;) {
    const Square t = popLowest(p);
    out = emitPromotions(out, t - d.pushDelta, t, false);
  }
  for (Bitboard p = single & between & ~d.lastRank; p;) {
    const Square t = popLowest(p);
    *out++ = {Move(t - d.pushDelta, t, PAWN), 0};
  }
  for (Bitboard p = d.push(single & d.doubleRank) & ~pos_.occupied & between; p;) {
    const Square t = popLowest(p);
    *out++ = {Move(t - 2 * d.pushDelta, t, PAWN), 0};
  }
  // En passant removes a checking pawn that has just made its double step.
  if (epSquare_ >= 0 && (checkers & them.pieceBB[PAWN]) && lowestSquare(checkers) == epSquare_ - d.pushDelta) {
    const Bitboard ep = bit(epSquare_);
    if (d.west(pawns) & ep) *out++ = {Move(epSquare_ - d.westDelta, epSquare_, PAWN), 0};
    if (d.east(pawns) & ep) *out++ = {Move(epSquare_ - d.eastDelta, epSquare_, PAWN), 0};
  }
  end_ = out;
}

void MovePicker::scoreList() {
  scored_ = true;
  const SideState& me = mover_;
  const SideState& them = enemy_;
  const std::uint8_t* rot = pos_.rotated;
  const int flip = pos_.whiteToMove ? 0 : 56;
  const Square enemyKing = them.kingSquare();
  Bitboard checks[7];
  checks[NO_PIECE] = checks[KING] = 0;
  checks[PAWN] = pawnAttacks(pos_.whiteToMove ? BLACK : WHITE, bit(enemyKing));
  checks[KNIGHT] = STEPS.knight[enemyKing];
  checks[BISHOP] = bishopAttacks(enemyKing, rot);
  checks[ROOK] = rookAttacks(enemyKing, rot);
  checks[QUEEN] = checks[BISHOP] | checks[ROOK];
  const Bitboard quietCheckSafe = ~me.attackedByEnemy & ~them.attackedTwice;

  for (MoveEntry* e = begin_; e < end_; ++e) {
    const Move m = e->move;
    const int piece = m.piece();
    const Square from = m.from(), to = m.to();
    const Bitboard toBit = bit(to);
    // The search keeps a counter within 2^16 after its shift; the bound makes
    // sure that the bonuses below can never overflow the score.
    const std::uint32_t history = std::min<std::uint32_t>(history_.counters[m.fromTo()] >> history_.shift, 0x10000);
    std::int32_t score = ORDER_PST[piece][to ^ flip] + std::int32_t(history << 8);
    if (m.promotion() == QUEEN) score = (score + 0x20000000) | GOOD_MOVE;
    if (checks[piece] & toBit & quietCheckSafe) score += 0x1000000;
    if (them.pieceBB[0] & toBit) {
      const int victim = (them.pieceBB[PAWN] & toBit)     ? PAWN
                         : (them.pieceBB[KNIGHT] & toBit) ? KNIGHT
                         : (them.pieceBB[BISHOP] & toBit) ? BISHOP
                         : (them.pieceBB[ROOK] & toBit)   ? ROOK
                                                          : QUEEN;
      std::int32_t gain = VALUE[victim];
      if (me.attackedByEnemy & toBit)
        gain -= VALUE[piece];
      else if (!(me.attackedByEnemy & bit(from)))
        gain -= SAFE[piece];
      // A queen promotion that takes a queen or rook would pass the top of
      // the score range: it saturates there, first among the moves.
      if (gain >= 0) score = std::int32_t(std::min<std::int64_t>(std::int64_t(score) + gain, INT32_MAX)) | GOOD_MOVE;
    } else {
      const bool hanging = (me.attackedByEnemy & bit(from)) && !(them.attackedByEnemy & bit(from));
      if (hanging && !(me.attackedByEnemy & toBit)) score += VALUE[piece] / 128;
      if ((me.attackedByEnemy & toBit) && !(them.attackedTwice & toBit)) score -= VALUE[piece] / 128;
    }
    e->score = score;
  }
}

bool MovePicker::takeOut(Move m) {
  for (MoveEntry* e = begin_; e < end_; ++e) {
    if (e->move == m) {
      std::swap(*e, *(end_ - 1));
      --end_;
      return true;
    }
  }
  return false;
}

const MoveEntry* MovePicker::nextMove() {
  for (;;) {
    switch (stage_) {
      case 0:
        stage_ = 1;
        if (hashMove_.move && takeOut(hashMove_.move)) return &hashMove_;
        break;
      case 1:
        if (!scored_) scoreList();
        stage_ = (recaptureSquare_ >= 0 && !hashMove_.move) ? 2 : 5;
        break;
      case 2:
        for (; scan_ < end_; ++scan_) {
          const Move m = scan_->move;
          if (m.to() == recaptureSquare_ || (m.piece() == PAWN && m.to() == epSquare_)) {
            std::swap(*scan_, *(end_ - 1));
            --end_;
            return end_;
          }
        }
        stage_ = 5;
        break;
      case 5:
        stage_ = 6;
        if (killer1_.move && takeOut(killer1_.move)) return &killer1_;
        break;
      case 6:
        stage_ = 7;
        if (killer2_.move && takeOut(killer2_.move)) return &killer2_;
        break;
      case 7:
        activeBegin_ = end_;
        activeSorted_ = false;
        pendingCount_ = 0;
        if (end_ != begin_) {
          pendingBegin_[0] = begin_;
          pendingDepth_[0] = 2 * (std::bit_width(std::size_t(end_ - begin_)) - 1);
          pendingCount_ = 1;
        }
        stage_ = 8;
        break;
      default:
        return nextByScore();
    }
  }
}

namespace {

bool lowerScore(const MoveEntry& a, const MoveEntry& b) { return a.score < b.score; }

// Moves the median of the second, middle and last entries to the front and
// partitions the rest around it: everything before the answer scores at most
// the pivot, everything from it on at least the pivot.
MoveEntry* partitionRange(MoveEntry* first, MoveEntry* last) {
  MoveEntry* a = first + 1;
  MoveEntry* b = first + (last - first) / 2;
  MoveEntry* c = last - 1;
  MoveEntry* median;
  if (a->score < b->score)
    median = b->score < c->score ? b : a->score < c->score ? c : a;
  else
    median = a->score < c->score ? a : b->score < c->score ? c : b;
  std::swap(*first, *median);
  const std::int32_t pivot = first->score;
  MoveEntry* lo = first + 1;
  MoveEntry* hi = last;
  for (;;) {
    while (lo->score < pivot) ++lo;
    --hi;
    while (pivot < hi->score) --hi;
    if (!(lo < hi)) return lo;
    std::swap(*lo, *hi);
    ++lo;
  }
}

}  // namespace

const MoveEntry* MovePicker::nextByScore() {
  for (;;) {
    if (end_ != activeBegin_) {
      if (activeSorted_) return --end_;
      // The best of a small range; of equal scores the one furthest back
      // comes first. The others keep their order.
      MoveEntry* best = activeBegin_;
      for (MoveEntry* e = activeBegin_ + 1; e < end_; ++e)
        if (!(e->score < best->score)) best = e;
      const MoveEntry picked = *best;
      std::copy(best + 1, end_, best);
      *--end_ = picked;
      return end_;
    }
    if (pendingCount_ == 0) return nullptr;
    --pendingCount_;
    MoveEntry* first = pendingBegin_[pendingCount_];
    int depth = pendingDepth_[pendingCount_];
    activeSorted_ = false;
    while (end_ - first > SMALL_RANGE) {
      if (depth == 0) {
        std::make_heap(first, end_, lowerScore);
        std::sort_heap(first, end_, lowerScore);
        activeSorted_ = true;
        break;
      }
      --depth;
      MoveEntry* cut = partitionRange(first, end_);
      pendingBegin_[pendingCount_] = first;
      pendingDepth_[pendingCount_] = depth;
      ++pendingCount_;
      first = cut;
    }
    activeBegin_ = first;
  }
}

void MovePicker::resetPicker() {
  end_ = listEnd_;
  scan_ = begin_;
  stage_ = 0;
}

namespace {
const HistoryTable& serviceHistory() {
  static const HistoryTable table;
  return table;
}
}  // namespace

bool noLegalMove(Position& pos, int* result) {
  MoveEntry buffer[MAX_MOVES];
  return noLegalMove(pos, buffer, result);
}

bool noLegalMove(Position& pos, MoveEntry* stackTop, int* result) {
  MoveEntry* top = stackTop;
  {
    MovePicker picker(Move(), top, pos, serviceHistory(), false, false, nullptr);
    MoveUndo undo;
    for (const MoveEntry* e = picker.begin(); e < picker.end(); ++e) {
      saveState(undo, pos);
      if (makeMoveQuick(pos, e->move, undo)) {
        unmakeMove(undo);
        return false;
      }
    }
  }
  if (result) *result = pos.inCheck() ? (pos.whiteToMove ? -1 : 1) : 0;
  return true;
}

bool isMoveLegal(Position& pos, Move m) {
  if (!m) return false;
  MoveEntry buffer[MAX_MOVES];
  MoveEntry* top = buffer;
  MovePicker picker(Move(), top, pos, serviceHistory(), false, false, nullptr);
  for (const MoveEntry* e = picker.begin(); e < picker.end(); ++e) {
    if (e->move == m) {
      MoveUndo undo;
      saveState(undo, pos);
      if (!makeMoveQuick(pos, m, undo)) return false;
      unmakeMove(undo);
      return true;
    }
  }
  return false;
}

}  // namespace korvane
