#include "board/game_record.h"

#include <cstdlib>
#include <cstring>

#include "board/notation.h"

namespace korvane {

GameRecord::GameRecord() {
  std::memset(static_cast<void*>(history), 0, sizeof history);
  historyCount = 1;
  history[0] = makeRecord(position);
}

void GameRecord::setPosition(const Position* pos) {
  if (pos) {
    position = *pos;
    finishSetup(position);
  } else {
    setStartPosition(position);
  }
  historyCount = 1;
  history[0] = makeRecord(position);
}

bool GameRecord::setFromFen(const char* text) {
  // Read into a scratch position so that a bad FEN leaves the game untouched.
  Position scratch;
  const char* rest = setFen(scratch, text);
  if (!rest) return false;
  position = scratch;
  // The halfmove clock; the move number after it is not needed. strtol
  // saturates on overflow, and anything out of range restarts the history.
  char* end = nullptr;
  const long clock = std::strtol(rest, &end, 10);
  const int halfmoves = end == rest ? 0 : clock > 1000 ? 1000 : clock < -1 ? -1 : int(clock);
  const PositionRecord zero{};
  if (halfmoves > 99 || halfmoves < 0) {
    historyCount = 1;
    history[0] = makeRecord(position);
  } else {
    for (int i = 0; i < halfmoves; ++i) history[i] = zero;
    history[halfmoves] = makeRecord(position);
    historyCount = halfmoves + 1;
  }
  return true;
}

void GameRecord::playMove(Move m) {
  MoveUndo undo;
  saveState(undo, position);
  if (!makeMove(position, m, undo)) return;  // callers pass legal moves only
  if (historyCount > 0 && isIrreversible(history[historyCount - 1], position)) {
    historyCount = 1;
    history[0] = makeRecord(position);
  } else if (historyCount < HISTORY_SIZE) {
    history[historyCount++] = makeRecord(position);
  }
}

int GameRecord::drawReason() const {
  if (historyCount > 100) return DRAW_FIFTY_MOVES;
  const PositionRecord& last = history[historyCount - 1];
  int seen = 0;
  for (int i = 0; i + 1 < historyCount; ++i) seen += history[i] == last;
  if (seen >= 2) return DRAW_REPETITION;
  return materialDrawCode(position);
}

int GameRecord::repetitionCode() const {
  const PositionRecord now = makeRecord(position);
  int seen = 0;
  for (int i = 0; i < historyCount; ++i) seen += history[i] == now;
  if (seen >= 2) return DRAW_REPETITION;
  if (seen == 1) return DRAW_SEEN_BEFORE;
  return materialDrawCode(position);
}

int materialDrawCode(const Position& pos) {
  const SideState& w = pos.side[WHITE];
  const SideState& b = pos.side[BLACK];
  const int pieces = popCount(pos.occupied);
  if (pieces == 2) return DRAW_INSUFFICIENT;
  const int minors = w.count[KNIGHT] + w.count[BISHOP] + b.count[KNIGHT] + b.count[BISHOP];
  if (pieces == 3 && minors == 1) return DRAW_INSUFFICIENT;
  const Bitboard bishops = w.pieceBB[BISHOP] | b.pieceBB[BISHOP];
  if (popCount(bishops) + 2 == pieces && ((bishops & ~LIGHT_SQUARES) == 0 || (bishops & ~DARK_SQUARES) == 0))
    return DRAW_INSUFFICIENT;
  const Bitboard wp = w.pieceBB[PAWN], bp = b.pieceBB[PAWN];
  if (popCount(wp | bp) + 2 != pieces) return DRAW_NONE;
  // Kings and pawns only: dead when every pawn is blocked head-on, nothing
  // hangs, and neither king can walk to an enemy pawn. Blocked pawns that
  // capture nothing never move again, so their squares and the squares they
  // attack are fixed walls for the kings; the enemy king is no wall, as it
  // can step aside.
  if (shiftUp(wp) != (bp & shiftUp(wp)) || shiftDown(bp) != (wp & shiftDown(bp))) return DRAW_NONE;
  if ((w.pieceBB[0] & w.attackedByEnemy) || (b.pieceBB[0] & b.attackedByEnemy)) return DRAW_NONE;
  // A pawn that just stepped past an enemy pawn can still be taken en passant.
  if (pos.epSquare >= 0 && (pawnAttacks(pos.sideToMove(), pos.mover().pieceBB[PAWN]) & bit(pos.epSquare)))
    return DRAW_NONE;
  if (floodFill(w.pieceBB[KING], ~(wp | pawnAttacks(BLACK, bp))) & bp) return DRAW_NONE;
  if (floodFill(b.pieceBB[KING], ~(bp | pawnAttacks(WHITE, wp))) & wp) return DRAW_NONE;
  return DRAW_DEAD;
}

}  // namespace korvane
