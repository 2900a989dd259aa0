// Internals shared by the endgame specialists: small geometry helpers, the
// measures several specialists build on (danger count, KBN mating term) and
// the scaling rules that read the pawn entry. Exposed here so the files that
// implement the specialists can share them and the tests can check them with
// hand-made pawn entries; the rest of the engine uses eval/material.h only.
#pragma once

#include <cstdlib>
#include <memory>

#include "board/position.h"
#include "board/tables.h"
#include "eval/evaluator.h"
#include "eval/material.h"

namespace korvane::endgame {

// A bound no real score reaches; mate scores stay inside it.
constexpr int BOUND_LIMIT = 1000000;

constexpr Bitboard EDGE_SQUARES = FILE_A | FILE_H | RANK_1 | RANK_8;
constexpr Bitboard BOARD_CORNERS = bit(0) | bit(7) | bit(56) | bit(63);
// c3-f6: files c-f on ranks 3-6.
constexpr Bitboard CENTRE_BLOCK = 0x00003C3C3C3C0000ULL;

// +1 for White, -1 for Black: turns a score for `c` into White's view.
constexpr int signOf(Color c) { return c == WHITE ? 1 : -1; }
// A White-view score as seen by the side to move.
inline int forMover(const Position& pos, int whiteScore) {
  return pos.whiteToMove ? whiteScore : -whiteScore;
}
// Rank 1..8 as seen from colour c (a pawn of c promotes on its rank 8).
constexpr int relativeRank(Color c, Square s) { return c == WHITE ? 8 - rowOf(s) : rowOf(s) + 1; }
constexpr Square promotionSquare(Color c, Square pawn) {
  return c == WHITE ? fileOf(pawn) : 56 + fileOf(pawn);
}
constexpr Square squareInFront(Color c, Square s) { return c == WHITE ? s - 8 : s + 8; }
// The squares of colour c's rank n (1..8).
constexpr Bitboard relativeRankMask(Color c, int n) {
  const int row = c == WHITE ? 8 - n : n - 1;
  return RANK_8 << (8 * row);
}
// Squares in front of a pawn of colour c on its file, up to the last rank.
constexpr Bitboard aheadOnFile(Color c, Square s) {
  const Bitboard file = FILE_A << fileOf(s);
  const int row = rowOf(s);
  if (c == WHITE) return row == 0 ? 0 : file & ((Bitboard(1) << (8 * row)) - 1);
  return row == 7 ? 0 : file & ~((Bitboard(1) << (8 * (row + 1))) - 1);
}
constexpr int kingDistance(Square a, Square b) {
  const int dr = rowOf(a) > rowOf(b) ? rowOf(a) - rowOf(b) : rowOf(b) - rowOf(a);
  const int df = fileOf(a) > fileOf(b) ? fileOf(a) - fileOf(b) : fileOf(b) - fileOf(a);
  return dr > df ? dr : df;
}
constexpr bool onDarkSquare(Square s) { return (DARK_SQUARES & bit(s)) != 0; }

// The known range [low, high] of the value for `owner`, turned to the side to
// move: true with score = low when low >= beta, with score = high when
// high <= alpha.
bool cutByBounds(const Position& pos, Color owner, int low, int high, int alpha, int beta,
                 int& score);
// True when `weak` (a bare king) is to move and its king has no square to go
// to: mate or stalemate, which the search must see for itself.
bool bareKingStuck(const Position& pos, Color weak);
// Bitbase value of a king-and-pawn position with the pawn of colour `strong`
// (the rest of the board ignored): 0..125 won, -1 drawn.
int kpkValue(const Position& pos, Color strong);

// Danger count of the rook and minor-piece specialists: how badly placed the
// side opposite to `attacker` is. 10 means a tactical threat against it;
// otherwise a small count, never below 0.
int dangerCount(const Position& pos, Color attacker);
// Mating term of king, bishop and knight against king for the side `strong`.
int kbnMatingTerm(const Position& pos, Color strong);

// Scaling rules that read the pawn entry (White's view in and out).
int pawnEndingScale(const Position& pos, const PawnEntry& pawns, int score);
int knightsWithPawnsScale(const Position& pos, const PawnEntry& pawns, int score);
int queensWithPawnsScale(const Position& pos, const PawnEntry& pawns, int score);
int bishopAgainstKnightScale(const Position& pos, const PawnEntry& pawns, int score);

using SpecialistSlots = std::unique_ptr<EndgameSpecialist>[SPECIALIST_COUNT];
// Each fills its share of the slots.
void addBasicSpecialists(SpecialistSlots& slots);
void addMinorPieceSpecialists(SpecialistSlots& slots);
void addPawnSpecialists(SpecialistSlots& slots);

}  // namespace korvane::endgame
