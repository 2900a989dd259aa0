// Time management: turns the limits of a "go" into a depth limit and time
// limits, and answers the search's questions about them.
//
// One object is shared by the front end, the output channel and the search
// threads. Only the front end's thread writes the limits, and only while no
// search runs; ponder permission may change at any time.
#pragma once

#include <atomic>
#include <cstdint>

namespace korvane {

class TimeControl {
 public:
  // Times and node counts that never run out.
  static constexpr std::int64_t UNLIMITED_TIME = 0x007F0000FFFF0000LL;
  static constexpr std::int64_t UNLIMITED_NODES = 0x7FFF0000FFFF0000LL;

  TimeControl() = default;
  virtual ~TimeControl() = default;
  TimeControl(const TimeControl&) = delete;
  TimeControl& operator=(const TimeControl&) = delete;

  // The search starts now.
  virtual void startClock();
  // The search has ended: its time goes into the stopwatch.
  virtual void stopClock();
  // The soft limit of the current search has passed.
  virtual bool softLimitReached() const;
  // The "Ponder" option: the engine may think on the opponent's time.
  virtual void setPonder(bool on) { ponderOn_.store(on, std::memory_order_relaxed); }

  bool ponderOn() const { return ponderOn_.load(std::memory_order_relaxed); }
  // Start of the current search, ms of the wall clock.
  std::int64_t startTime() const { return startTime_.load(std::memory_order_relaxed); }
  // Milliseconds since startTime().
  std::int64_t elapsed() const;

  std::int64_t softLimit() const { return softLimit_; }
  std::int64_t hardLimit() const { return hardLimit_; }
  std::int64_t stopwatchMs() const { return stopwatchMs_; }
  int stopwatchRuns() const { return stopwatchRuns_; }

 protected:
  std::atomic<std::int64_t> startTime_{0};
  std::atomic<bool> ponderOn_{true};
  std::int64_t softLimit_ = UNLIMITED_TIME;
  std::int64_t hardLimit_ = UNLIMITED_TIME;
  std::int64_t stopwatchMs_ = 0;
  int stopwatchRuns_ = 0;
};

}  // namespace korvane
