#include "protocol/search_controller.h"

#include <algorithm>

#include "search/engine.h"
#include "search/engine_output.h"

namespace korvane {

namespace {

// Stack of every search thread.
constexpr std::size_t SEARCH_STACK = 1024000;

}  // namespace

SearchController::SearchController(Engine& engine, EngineOutput& output, TimeControl& timeControl)
    : engine_(engine), output_(output), timeControl_(timeControl) {
  workerTimeControl_.setLimits(0, 0, 0, 0, 0, 0, 0, true);
}

SearchController::~SearchController() {
  stop();
  setThreads(1);
}

bool SearchController::go(const GoLimits& limits) {
  // A search still running (a "go" without "stop" before it) ends first.
  if (searchThread_.joinable()) stop();
  timeControl_.setLimits(limits.time, limits.increment, limits.movesToGo, limits.depth, limits.mate, limits.nodes,
                         limits.moveTime, limits.infinite);
  timeControl_.startClock();
  engine_.iterationAllowed.store(true, std::memory_order_relaxed);
  engine_.noTimeCheck.store(limits.ponder, std::memory_order_relaxed);
  engine_.infinite.store(limits.infinite, std::memory_order_relaxed);
  engine_.stopFlag.store(false, std::memory_order_relaxed);
  engine_.timeControl = &timeControl_;
  engine_.output = &output_;

  // Pondering and infinite searches wait for a later command, so they always
  // get a thread of their own.
  if (blocking.load(std::memory_order_relaxed) && !limits.ponder && !limits.infinite) {
    run();
    return true;
  }
  std::lock_guard<std::mutex> guard(lock_);
  return searchThread_.start(SEARCH_STACK, [this] { run(); });
}

void SearchController::run() {
  startWorkers();
  const bool completed = searchMain(engine_, &timeControl_);
  stopWorkers();
  if (quitFlag.load(std::memory_order_relaxed)) return;
  if (completed && engine_.table().bookCount() == 0) output_.reportSearchEnd();
  timeControl_.stopClock();
  output_.reportBestMove(engine_.bestMove, engine_.bestMove.isNone() ? Move() : engine_.ponderMove);
}

void SearchController::startWorkers() {
  if (threadCount_ <= 1) return;
  workerTimeControl_.startClock();
  for (int i = 0; i < threadCount_ - 1; ++i) {
    Engine& w = *workers_[i];
    w.copyStateFrom(engine_);
    w.stopFlag.store(false, std::memory_order_relaxed);
    w.noTimeCheck.store(false, std::memory_order_relaxed);
    w.iterationAllowed.store(true, std::memory_order_relaxed);
    workerThreads_[i].start(SEARCH_STACK, [this, &w] { searchMain(w, &workerTimeControl_); });
  }
}

void SearchController::stopWorkers() {
  if (threadCount_ <= 1) return;
  for (int i = 0; i < threadCount_ - 1; ++i) {
    workers_[i]->noTimeCheck.store(false, std::memory_order_relaxed);
    workers_[i]->iterationAllowed.store(false, std::memory_order_relaxed);
    workers_[i]->stopFlag.store(true, std::memory_order_relaxed);
  }
  for (int i = 0; i < threadCount_ - 1; ++i) workerThreads_[i].join();
  workerTimeControl_.stopClock();
}

bool SearchController::stop() {
  engine_.noTimeCheck.store(false, std::memory_order_relaxed);
  engine_.iterationAllowed.store(false, std::memory_order_relaxed);
  engine_.stopFlag.store(true, std::memory_order_relaxed);
  std::lock_guard<std::mutex> guard(lock_);
  if (!searchThread_.joinable()) return false;
  searchThread_.join();
  return true;
}

bool SearchController::searchThreadActive() {
  std::lock_guard<std::mutex> guard(lock_);
  return searchThread_.joinable();
}

void SearchController::ponderhit() {
  engine_.noTimeCheck.store(false, std::memory_order_relaxed);
  if (!engine_.bestMoveKnown.load(std::memory_order_relaxed)) return;  // no result yet: the search goes on under the clock
  // The search only kept going because it was pondering: stop it now. Otherwise
  // stop only if its soft limit has already passed.
  if (!engine_.iterationAllowed.load(std::memory_order_relaxed) || timeControl_.softLimitReached())
    engine_.stopFlag.store(true, std::memory_order_relaxed);
}

void SearchController::setThreads(int n) {
  threadCount_ = std::clamp(n, 1, MAX_THREADS);
  for (int i = 0; i < MAX_THREADS - 1; ++i) {
    if (i < threadCount_ - 1) {
      if (!workers_[i]) workers_[i] = std::make_unique<Engine>(engine_.table());
    } else {
      workers_[i].reset();
    }
  }
}

}  // namespace korvane
