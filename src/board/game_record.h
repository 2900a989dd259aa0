// The game being played: its position and the positions since the last
// irreversible move, with the draw tests that need that history.
#pragma once

#include "board/position.h"
#include "board/types.h"

namespace korvane {

// Draw codes.
constexpr int DRAW_NONE = 0;
constexpr int DRAW_SEEN_BEFORE = 1;  // search test only: the position occurred once before
constexpr int DRAW_REPETITION = 3;
constexpr int DRAW_INSUFFICIENT = 10;
constexpr int DRAW_DEAD = 40;
constexpr int DRAW_FIFTY_MOVES = 50;

constexpr int HISTORY_SIZE = 101;

struct GameRecord {
  Position position;
  // Entry 0 is the oldest; the last valid one describes the current position
  // unless the history is full. All-zero entries stand for positions before a
  // FEN that are known only by its halfmove clock.
  PositionRecord history[HISTORY_SIZE];
  int historyCount;

  GameRecord();
  // Copies `pos` (or sets the start position for nullptr) and restarts the history.
  void setPosition(const Position* pos);
  // Sets the position from a FEN with optional halfmove clock and move number.
  // On failure answers false and leaves the record as it was.
  bool setFromFen(const char* text);
  // Plays a legal move and records the new position.
  void playMove(Move m);
  // Draw test for the game: 50, 3, or the material test.
  int drawReason() const;
  // Draw test for the search's current position: 1 or 3 for earlier
  // occurrences in the history, else the material test.
  int repetitionCode() const;
};

// Insufficient material (10), dead blocked pawn ending (40), or 0.
int materialDrawCode(const Position& pos);

}  // namespace korvane
