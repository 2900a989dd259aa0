#include "protocol/search_controller.h"

#include <algorithm>

#include "search/engine.h"
#include "search/engine_output.h"
#include "search/time_control.h"

namespace korvane {

SearchController::SearchController(Engine& engine, EngineOutput& output, TimeControl& timeControl)
    : engine_(engine), output_(output), timeControl_(timeControl) {}

SearchController::~SearchController() { stop(); }

bool SearchController::go(const GoLimits&) {
  // There is no search to run yet: nothing is started.
  return false;
}

bool SearchController::stop() {
  engine_.noTimeCheck.store(false, std::memory_order_relaxed);
  engine_.iterationAllowed.store(false, std::memory_order_relaxed);
  engine_.stopFlag.store(true, std::memory_order_relaxed);
  std::lock_guard<std::mutex> guard(lock_);
  return false;  // no search thread to wait for
}

void SearchController::ponderhit() {
  engine_.noTimeCheck.store(false, std::memory_order_relaxed);
  if (engine_.bestMove.isNone()) return;  // no result yet: the search goes on under the clock
  // The search only kept going because it was pondering: stop it now. Otherwise
  // stop only if its soft limit has already passed.
  if (!engine_.iterationAllowed.load(std::memory_order_relaxed) || timeControl_.softLimitReached())
    engine_.stopFlag.store(true, std::memory_order_relaxed);
}

void SearchController::setThreads(int n) { threadCount_ = std::clamp(n, 1, MAX_THREADS); }

}  // namespace korvane
