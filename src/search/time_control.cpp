#include "search/time_control.h"

#include "platform/platform.h"

namespace korvane {

void TimeControl::startClock() { startTime_.store(platform::nowMs(), std::memory_order_relaxed); }

void TimeControl::stopClock() {
  stopwatchMs_ += elapsed();
  ++stopwatchRuns_;
}

bool TimeControl::softLimitReached() const { return elapsed() >= softLimit_; }

std::int64_t TimeControl::elapsed() const { return platform::nowMs() - startTime(); }

}  // namespace korvane
