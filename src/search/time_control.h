// Time management: turns the limits of a "go" into a depth limit, a node
// limit, a target time and a soft and a hard time limit, and answers the
// search's three questions: may another iteration start, has the soft limit
// passed, must the search stop now.
//
// One object is shared by the front end, the output channel and the search
// threads of a search (workers get an unlimited one of their own). The front
// end writes the limits with setLimits and startClock only while no search
// runs; during a search they are only read. The ponder permission and the
// answer of the last mayStartIteration are relaxed atomics because the front
// end and the search thread touch them while a search runs.
//
// The operations are virtual so that the search's users can be tested with a
// time control that pretends; now() is the single place the clock is read.
#pragma once

#include <atomic>
#include <cstdint>

namespace korvane {

class TimeControl {
 public:
  // Times and node counts that never run out.
  static constexpr std::int64_t UNLIMITED_TIME = 0x007F0000FFFF0000LL;
  static constexpr std::int64_t UNLIMITED_NODES = 0x7FFF0000FFFF0000LL;
  // Planning horizon (moves) when there is no clock.
  static constexpr double UNLIMITED_HORIZON = 10.0;
  // Deepest iteration any search may start (plies).
  static constexpr int MAX_ITERATION_DEPTH = 60;
  // Fewest nodes a "go nodes" search is granted.
  static constexpr std::int64_t MIN_NODE_LIMIT = 500;

  // Without limits until setLimits: depth 60, horizon 10, no time or node
  // limit (what the worker threads search with).
  TimeControl() = default;
  virtual ~TimeControl() = default;
  TimeControl(const TimeControl&) = delete;
  TimeControl& operator=(const TimeControl&) = delete;

  // The limits of one "go". ownTime and ownIncrement are those of the side to
  // move (missing or negative values count as 0); depth, mate, nodes and
  // moveTime are 0 when not given.
  void setLimits(std::int64_t ownTime, std::int64_t ownIncrement, int movesToGo, int depth, int mate,
                 std::int64_t nodes, std::int64_t moveTime, bool infinite);

  // The stopwatch sums the time of all searches since its last reset (for
  // the statistics output).
  virtual void resetStopwatch();
  // The search starts now; the stopwatch runs.
  virtual void startClock();
  // The search has ended: its time goes into the stopwatch.
  virtual void stopClock();
  // The search must stop now: the node limit is reached, or the hard limit
  // has passed, or the soft limit has passed while the root has a result for
  // this iteration (`haveBest`) and is not resolving a fail-low.
  virtual bool mustStop(std::uint64_t nodes, bool failLowPending, bool haveBest) const;
  // The soft limit of the current search has passed.
  virtual bool softLimitReached() const;
  // Whether the iteration of `depth` plies may start, given the time factor
  // (a percentage from the root statistics; higher means the search looks
  // less settled and deserves more time). The answer is remembered.
  virtual bool mayStartIteration(int depth, int factor);
  // The "Ponder" option: the engine may think on the opponent's time, which
  // shortens the planning horizon.
  virtual void setPonder(bool on) { ponderOn_.store(on, std::memory_order_relaxed); }

  // The last answer of mayStartIteration in this search (true after
  // setLimits). "ponderhit" stops a search at once when it is false.
  bool lastIterationAllowed() const { return iterationAllowed_.load(std::memory_order_relaxed); }
  void setIterationAllowed(bool allowed) { iterationAllowed_.store(allowed, std::memory_order_relaxed); }

  bool ponderOn() const { return ponderOn_.load(std::memory_order_relaxed); }
  // Start of the current search, ms of the wall clock.
  std::int64_t startTime() const { return startTime_.load(std::memory_order_relaxed); }
  // Milliseconds since startTime().
  std::int64_t elapsed() const { return now() - startTime(); }

  int maxDepth() const { return maxDepth_; }
  std::int64_t target() const { return target_; }
  double horizon() const { return horizon_; }
  std::int64_t softLimit() const { return softLimit_; }
  std::int64_t hardLimit() const { return hardLimit_; }
  std::int64_t nodeLimit() const { return nodeLimit_; }
  std::int64_t stopwatchMs() const { return stopwatchMs_.load(std::memory_order_relaxed); }
  int stopwatchRuns() const { return stopwatchRuns_.load(std::memory_order_relaxed); }

 protected:
  // Milliseconds of the wall clock.
  virtual std::int64_t now() const;

 private:
  void setUnlimited(int maxDepth);
  void setClockLimits(std::int64_t ownTime, std::int64_t ownIncrement, int movesToGo);

  std::atomic<std::int64_t> startTime_{0};
  std::atomic<bool> ponderOn_{true};
  std::atomic<bool> iterationAllowed_{true};
  int maxDepth_ = MAX_ITERATION_DEPTH;
  std::int64_t target_ = UNLIMITED_TIME;
  double horizon_ = UNLIMITED_HORIZON;
  std::int64_t softLimit_ = UNLIMITED_TIME;
  std::int64_t hardLimit_ = UNLIMITED_TIME;
  std::int64_t nodeLimit_ = UNLIMITED_NODES;
  std::atomic<std::int64_t> stopwatchMs_{0};
  std::atomic<int> stopwatchRuns_{0};
};

}  // namespace korvane
