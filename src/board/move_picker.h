// Move generation and ordering.
//
// A MovePicker generates all moves of one kind for a position at once, into
// the caller's move stack, and hands them out in stages: the hash move, then
// recaptures, then the two killers, then the rest by score, highest first.
// Moves are pseudo-legal: makeMove settles legality (king moves and evasions
// are legal by construction, apart from pins on the en-passant rank).
//
// Pickers nest like a stack: construction takes its list from the current top
// of the move stack and moves the top past it; destruction puts it back.
#pragma once

#include <cstdint>

#include "board/position.h"
#include "board/types.h"

namespace korvane {

// Largest number of moves a single position can generate, with room to spare.
constexpr int MAX_MOVES = 256;

// Counters of how often a move (by from/to index) raised alpha or cut off; the
// picker only reads them. The header words are the search's bookkeeping.
struct HistoryTable {
  std::uint32_t increment = 0x10000;
  std::uint32_t threshold = 0x10000;
  std::uint32_t shift = 0;
  std::uint32_t counter = 0;
  std::uint32_t counters[4096] = {};
};

// Killer moves of one ply: row 0 is used when the side to move is not in
// check, row 1 when it is.
struct KillerTable {
  Move rows[2][2];
};

class MovePicker {
 public:
  MovePicker(Move hashMove, MoveEntry*& top, Position& pos, const HistoryTable& history, bool quiescence,
             bool withChecks, const KillerTable* killers);
  ~MovePicker() { top_ = begin_; }
  MovePicker(const MovePicker&) = delete;
  MovePicker& operator=(const MovePicker&) = delete;

  // Next move entry, or nullptr when the list is exhausted.
  const MoveEntry* nextMove();
  // Makes every move unreturned again and restarts at the first stage.
  void resetPicker();
  // Hands out `m` first (in place of the hash move); only before nextMove().
  void setFirstMove(Move m) { hashMove_.move = m; }
  // The stage the last move came from: above 7 for the remaining moves by score.
  int stage() const { return stage_; }

  // The whole generated list, in generation order until the picker is used.
  const MoveEntry* begin() const { return begin_; }
  const MoveEntry* end() const { return listEnd_; }
  int size() const { return int(listEnd_ - begin_); }

 private:
  void generateAll();
  void generateQuiescence(bool withChecks);
  void generateEvasions();
  void scoreList();
  bool takeOut(Move m);
  const MoveEntry* nextByScore();

  // Moves are handed out highest score first, in exactly the order that an
  // introsort (median-of-three quicksort, heap sort below a depth limit,
  // insertion sort of the small ranges) of the whole list would give, but
  // the list is only sorted as far as the moves actually taken need: the
  // range holding the best moves is partitioned down to at most 16 moves,
  // and from those the best is picked one at a time. A node cut off by its
  // first move never sorts the rest. Ranges still to be partitioned are kept
  // on a stack, the rightmost (best) one on top.
  static constexpr int SMALL_RANGE = 16;
  static constexpr int MAX_PENDING = 24;
  MoveEntry* activeBegin_ = nullptr;  // the moves of [activeBegin_, end_) are picked next
  bool activeSorted_ = false;         // that range is already in ascending order
  int pendingCount_ = 0;
  MoveEntry* pendingBegin_[MAX_PENDING];
  int pendingDepth_[MAX_PENDING];

  int stage_ = 0;
  MoveEntry* begin_;
  MoveEntry* scan_;
  MoveEntry* end_;  // unreturned moves are [begin_, end_); returned and taken ones follow
  MoveEntry* listEnd_;
  MoveEntry*& top_;
  Position& pos_;
  SideState& mover_;
  SideState& enemy_;
  Square recaptureSquare_ = NO_SQUARE;
  Square epSquare_;
  const HistoryTable& history_;
  MoveEntry hashMove_;
  MoveEntry killer1_;
  MoveEntry killer2_;
  bool quiescence_;
  bool scored_ = false;
};

// True if the side to move has no legal move. `result` then receives -1 when
// White is checkmated, +1 when Black is, 0 for stalemate.
bool noLegalMove(Position& pos, int* result = nullptr);
// The same with the moves generated on the caller's move stack at `stackTop`
// (room for MAX_MOVES entries), which saves setting up a list of its own.
bool noLegalMove(Position& pos, MoveEntry* stackTop, int* result = nullptr);
// True if `m` is among the generated moves of the position and legal.
bool isMoveLegal(Position& pos, Move m);

}  // namespace korvane
