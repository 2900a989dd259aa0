#include "search/engine.h"

#include <algorithm>

#include "search/engine_output.h"

namespace korvane {

Engine::Engine(std::size_t hashBytes)
    : output(&silentOutput()), ownTable_(std::make_unique<TranspositionTable>()), table_(ownTable_.get()) {
  table_->allocate(hashBytes);
}

Engine::Engine(TranspositionTable& shared) : output(&silentOutput()), worker(true), table_(&shared) {}

void Engine::copyStateFrom(const Engine& main) {
  game = main.game;
  // Copying the network clears the caches: only when the settings differ.
  if (evaluator.neuroMaterial() != main.evaluator.neuroMaterial() ||
      evaluator.net().loadedName() != main.evaluator.net().loadedName())
    evaluator.copySettingsFrom(main.evaluator);
  ownBook = main.ownBook;
  bookFile = main.bookFile;
  multiPv = main.multiPv;
  resignThreshold = main.resignThreshold;
  timeLogFile = main.timeLogFile;
  rootMoveCount = main.rootMoveCount;
  std::copy(main.rootMoves, main.rootMoves + main.rootMoveCount, rootMoves);
  searchMovesGiven = main.searchMovesGiven;
}

}  // namespace korvane
