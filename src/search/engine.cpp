#include "search/engine.h"

#include <cstring>

#include "board/notation.h"
#include "search/engine_output.h"

namespace korvane {

Engine::Engine(std::size_t hashBytes)
    : output(&silentOutput()), ownTable_(std::make_unique<TranspositionTable>()), table_(ownTable_.get()) {
  table_->allocate(hashBytes);
}

void buildRootMoves(Engine& engine, bool exclude, const char* list) {
  Position& pos = engine.game.position;
  engine.searchMovesGiven = list != nullptr;
  engine.rootMoveCount = 0;

  MoveEntry stack[MAX_MOVES];
  MoveEntry* top = stack;
  HistoryTable history;
  MovePicker picker(Move(), top, pos, history, false, false, nullptr);
  for (const MoveEntry* e = picker.begin(); e != picker.end(); ++e) {
    MoveUndo undo;
    saveState(undo, pos);
    if (!makeMove(pos, e->move, undo)) continue;
    unmakeMove(undo);
    if (list) {
      char text[MOVE_TEXT_SIZE];
      bool named = std::strstr(list, moveToText(pos, e->move, STYLE_COORDINATE, text)) != nullptr;
      if (named == exclude) continue;
    }
    engine.rootMoves[engine.rootMoveCount++] = RootMove{e->move, -MATE, 0.01};
  }
}

int extractPv(Engine&, Move first, Move* line, int capacity) {
  if (first.isNone() || capacity < 1) return 0;
  line[0] = first;
  return 1;
}

}  // namespace korvane
