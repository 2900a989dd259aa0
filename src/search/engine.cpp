#include "search/engine.h"

#include <algorithm>
#include <cstring>

#include "search/engine_output.h"

namespace korvane {

void SharedFileName::set(std::string_view name) {
  std::lock_guard<std::mutex> guard(lock_);
  const std::size_t n = std::min(name.size(), MAX_FILE_NAME);
  name.copy(name_, n);
  name_[n] = '\0';
}

std::string SharedFileName::get() const {
  std::lock_guard<std::mutex> guard(lock_);
  return name_;
}

void SharedFileName::copyTo(char* out) const {
  std::lock_guard<std::mutex> guard(lock_);
  std::memcpy(out, name_, sizeof name_);
}

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
  resignThreshold.store(main.resignThreshold.load(std::memory_order_relaxed), std::memory_order_relaxed);
  timeLogFile.set(main.timeLogFile.get());
  rootMoveCount = main.rootMoveCount;
  std::copy(main.rootMoves, main.rootMoves + main.rootMoveCount, rootMoves);
  searchMovesGiven = main.searchMovesGiven;
}

}  // namespace korvane
