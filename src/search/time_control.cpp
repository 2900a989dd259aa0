#include "search/time_control.h"

#include <algorithm>
#include <cmath>

#include "platform/platform.h"

namespace korvane {

namespace {

constexpr auto RELAXED = std::memory_order_relaxed;

// Time kept back from the clock so that the move still arrives when few
// moves remain before the next time control.
std::int64_t safetyMargin(int movesToGo) {
  switch (movesToGo) {
    case 1: return 700;
    case 2: return 1100;
    case 3: return 1400;
    case 4: return 1600;
    default: return 150;
  }
}

// The time planned with never falls below 50 ms (also when no clock was
// given), but a clock that shows less than 100 ms is planned with half of
// it: a 50 ms floor would plan with more time than there is.
constexpr std::int64_t MIN_REMAINING = 50;
constexpr std::int64_t LOW_CLOCK = 1000;
constexpr int DEFAULT_MOVES_TO_GO = 80;

}  // namespace

std::int64_t TimeControl::now() const { return platform::nowMs(); }

void TimeControl::setUnlimited(int maxDepth) {
  maxDepth_ = maxDepth;
  target_ = UNLIMITED_TIME;
  horizon_ = UNLIMITED_HORIZON;
  softLimit_ = hardLimit_ = UNLIMITED_TIME;
  nodeLimit_ = UNLIMITED_NODES;
}

void TimeControl::setLimits(std::int64_t ownTime, std::int64_t ownIncrement, int movesToGo, int depth, int mate,
                            std::int64_t nodes, std::int64_t moveTime, bool infinite) {
  iterationAllowed_.store(true, RELAXED);
  if (infinite) {
    setUnlimited(MAX_ITERATION_DEPTH);
  } else if (depth > 0 || mate > 0) {
    // A mate in N needs 2N plies; it overrides a depth given with it. Depths
    // beyond the deepest iteration change nothing, and capping them keeps
    // the doubling from overflowing.
    std::int64_t last = mate > 0 ? 2 * std::int64_t(mate) : std::int64_t(depth) - 1;
    setUnlimited(int(std::min<std::int64_t>(last, MAX_ITERATION_DEPTH)));
  } else if (moveTime > 0) {
    setUnlimited(MAX_ITERATION_DEPTH);
    softLimit_ = hardLimit_ = moveTime;
  } else if (nodes > 0 && ownTime <= 0 && ownIncrement <= 0) {
    // "go nodes N" alone: the node count is the only limit. Treating it as a
    // clock search with no time left would stop it after a few milliseconds,
    // whatever N says.
    setUnlimited(MAX_ITERATION_DEPTH);
    nodeLimit_ = std::max(nodes, MIN_NODE_LIMIT);
  } else {
    setUnlimited(MAX_ITERATION_DEPTH);
    setClockLimits(ownTime, ownIncrement, movesToGo);
    if (nodes > 0) nodeLimit_ = std::max(nodes, MIN_NODE_LIMIT);
  }
}

void TimeControl::setClockLimits(std::int64_t ownTime, std::int64_t ownIncrement, int movesToGo) {
  // A clock beyond the unlimited time is as good as unlimited. Capping it here
  // keeps every product and sum below (up to 8 increments, 6 targets) far
  // inside the 64-bit range, where the conversions from double are defined.
  ownTime = std::min(ownTime, UNLIMITED_TIME);
  ownIncrement = std::min(ownIncrement, UNLIMITED_TIME);
  const std::int64_t increment = std::max<std::int64_t>(ownIncrement, 0);
  if (movesToGo < 1 || movesToGo > DEFAULT_MOVES_TO_GO) movesToGo = DEFAULT_MOVES_TO_GO;
  const std::int64_t remaining =
      std::max(std::max<std::int64_t>(ownTime, 0) - safetyMargin(movesToGo),
               ownTime > 0 ? std::min(MIN_REMAINING, ownTime / 2) : MIN_REMAINING);
  const double t = double(remaining), inc = double(increment), m = double(movesToGo);

  // The number of moves the remaining time is planned for. Pondering gains
  // time on the opponent's clock, so the plan may be shorter.
  const double h = ponderOn() ? 22.0 * std::tanh(0.85 * m / 22.0) + 0.25 : 30.0 * std::tanh(m / 30.0) + 0.1;
  horizon_ = h;
  target_ = std::int64_t(t / h + inc);
  // With few moves to go, most of the remaining time may be spent now.
  const double p = std::pow(1.6, 1.0 - h);
  softLimit_ = std::int64_t(t * (p + 0.125 * (1.0 - p)) + 4.0 * inc);
  hardLimit_ = std::int64_t(t * (p + 0.2 * (1.0 - p)) + 8.0 * inc);
  if (hardLimit_ > remaining) {
    hardLimit_ = remaining;
    if (1.2 * double(softLimit_) > t) softLimit_ = std::int64_t(t / 1.2);
  }
  // Below one second the increment terms would have the engine spend several
  // increments per move until the clock hovers near its floor, where the
  // delays of a loaded machine or a GUI make it lose on time. There a third
  // of the clock is the most a move may take, a sixth the most it should.
  if (ownTime > 0 && ownTime < LOW_CLOCK) {
    const std::int64_t clock = std::max<std::int64_t>(ownTime, 0);
    hardLimit_ = std::min(hardLimit_, clock / 3);
    softLimit_ = std::min(softLimit_, clock / 6);
  }
  if (2 * target_ > softLimit_) target_ = softLimit_ / 2;
  if (6 * target_ < softLimit_) softLimit_ = 6 * target_;
}

void TimeControl::resetStopwatch() {
  stopwatchMs_.store(0, RELAXED);
  stopwatchRuns_.store(0, RELAXED);
}

void TimeControl::startClock() { startTime_.store(now(), RELAXED); }

void TimeControl::stopClock() {
  stopwatchMs_.fetch_add(elapsed(), RELAXED);
  stopwatchRuns_.fetch_add(1, RELAXED);
}

bool TimeControl::mustStop(std::uint64_t nodes, bool failLowPending, bool haveBest) const {
  if (nodes >= std::uint64_t(nodeLimit_)) return true;
  const std::int64_t spent = elapsed();
  if (spent >= hardLimit_) return true;
  return spent >= softLimit_ && !failLowPending && haveBest;
}

bool TimeControl::softLimitReached() const { return elapsed() >= softLimit_; }

bool TimeControl::mayStartIteration(int depth, int factor) {
  bool allowed = false;
  const std::int64_t spent = elapsed();
  if (depth <= maxDepth_ && spent < softLimit_) {
    // An iteration takes about as long as all before it together, and a bit
    // more: predict its end and compare with the soft limit.
    const double predicted = 2.4 * double(spent) + 1.0;
    if (predicted <= double(softLimit_)) {
      // Start when the predicted time stays below target * x / threshold.
      // Up to x = 33 that is a share x/33 of the target; beyond, the
      // threshold grows with x (less so with a long horizon), so an unsettled
      // root (large factor) gets somewhat more than the target, but not x/33.
      const double x = factor + 10.0;
      const double threshold = x > 33.0 ? (2.0 * x + 33.0 * horizon_) / (2.0 + horizon_) : 33.0;
      allowed = x / predicted > threshold / double(target_);
    }
  }
  iterationAllowed_.store(allowed, RELAXED);
  return allowed;
}

}  // namespace korvane
