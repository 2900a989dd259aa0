#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "search/root_stats.h"
#include "search/time_control.h"

namespace korvane {
namespace {

// A time control whose clock the test sets.
class FakeClock : public TimeControl {
 public:
  std::int64_t time = 1'000'000;

 protected:
  std::int64_t now() const override { return time; }
};

TEST(TimeControlLimits, ClockSearches) {
  struct Case {
    std::int64_t time, increment;
    int movesToGo;
    bool ponder;
    std::int64_t target, soft, hard;
  };
  const Case cases[] = {
      {1000, 0, 1, false, 143, 287, 289},  // movestogo 1: 300 ms remain after the 700 ms margin
      {1000, 100, 1, false, 125, 250, 300},  // an increment may not push the hard limit past them
      // Sudden death (movestogo 0 and beyond 80 count as 80) and with increment.
      {60000, 0, 0, false, 2007, 7481, 11970},
      {60000, 0, 81, false, 2007, 7481, 11970},
      {60000, 0, 0, true, 2700, -1, -1},  // pondering plans with a shorter horizon
      {300000, 2000, 40, false, 13443, 45483, 75971},
      // A large increment: hard limit capped at the time left, soft at 1/1.2 of it.
      {5000, 3000, 0, false, 2020, 4041, 4850},
      {10000, 0, 3, false, 1946, 3892, 4296},
      // Missing or negative values: 50 ms remain.
      {0, 0, 0, false, 1, 6, 10},
      {-5, -100, 0, false, 1, 6, 10},
      // Below 100 ms half of the clock is planned with; below a second the
      // increment may not drain it: a third at most, a sixth as the soft limit.
      {60, 0, 0, false, 1, 3, 6},
      {90, 10, 0, false, -1, -1, -1},  // never more than the clock shows
      {600, 100, 0, false, 50, 100, 200},
      {300, 10, 0, false, 15, 50, 100},
  };
  for (const Case& c : cases) {
    FakeClock tc;
    tc.setPonder(c.ponder);
    tc.setLimits(c.time, c.increment, c.movesToGo, 0, 0, 0, 0, false);
    SCOPED_TRACE(std::to_string(c.time) + " " + std::to_string(c.increment) + " " + std::to_string(c.movesToGo));
    EXPECT_EQ(tc.maxDepth(), 60);
    EXPECT_EQ(tc.nodeLimit(), TimeControl::UNLIMITED_NODES);
    if (c.target >= 0) { EXPECT_EQ(tc.target(), c.target); }
    if (c.soft >= 0) { EXPECT_EQ(tc.softLimit(), c.soft); }
    if (c.hard >= 0) { EXPECT_EQ(tc.hardLimit(), c.hard); }
    if (c.time == 1000 && c.increment == 0) { EXPECT_NEAR(tc.horizon(), 1.0996, 1e-4); }
    EXPECT_LE(tc.hardLimit(), std::max<std::int64_t>(c.time, 50));
  }
  EXPECT_TRUE(TimeControl().ponderOn());  // the option's default
}

TEST(TimeControlLimits, DepthMateMovetimeInfiniteAndNodes) {
  constexpr std::int64_t T = TimeControl::UNLIMITED_TIME, N = TimeControl::UNLIMITED_NODES, X = -2;  // X: not checked
  struct Case {
    std::int64_t time;
    int depth, mate;
    std::int64_t nodes, moveTime;
    bool infinite, ponder;
    int maxDepth;
    std::int64_t soft, hard, target, nodeLimit;
  };
  const Case cases[] = {
      {60000, 1, 0, 0, 0, false, true, 0, T, T, T, X},             // go depth 1 wtime ...
      {0, 10, 3, 0, 0, false, true, 6, X, X, X, X},                // mate 3 overrides depth 10
      {0, -4, 3, 0, 0, false, true, 6, X, X, X, X},
      {0, 0, 2000000000, 0, 0, false, true, 60, X, X, X, X},       // no overflow
      {0, 5, 0, 1000, 0, false, true, 4, X, X, X, N},              // depth 5 nodes 1000: nodes ignored
      {60000, 0, 0, 0, 2500, false, true, 60, 2500, 2500, T, N},   // movetime 2500
      {60000, 3, 0, 100, 2500, true, true, 60, T, X, X, N},        // infinite wins over everything
      {0, 0, 0, 100, 0, false, false, X, X, T, X, 500},            // nodes without clock: at least 500
      {0, 0, 0, 123456, 0, false, false, X, X, X, X, 123456},
  };
  FakeClock tc;  // one clock for all: each "go" sets every limit anew
  for (const Case& c : cases) {
    if (!c.ponder) tc.setPonder(false);
    tc.setLimits(c.time, 0, 0, c.depth, c.mate, c.nodes, c.moveTime, c.infinite);
    SCOPED_TRACE("depth " + std::to_string(c.depth) + " mate " + std::to_string(c.mate) + " nodes " +
                 std::to_string(c.nodes) + " movetime " + std::to_string(c.moveTime));
    if (c.maxDepth != X) { EXPECT_EQ(tc.maxDepth(), c.maxDepth); }
    if (c.soft != X) { EXPECT_EQ(tc.softLimit(), c.soft); }
    if (c.hard != X) { EXPECT_EQ(tc.hardLimit(), c.hard); }
    if (c.target != X) { EXPECT_EQ(tc.target(), c.target); }
    if (c.nodeLimit != X) { EXPECT_EQ(tc.nodeLimit(), c.nodeLimit); }
    if (c.depth == 1) { EXPECT_EQ(tc.horizon(), 10.0); }
  }
}

TEST(TimeControlQuestions, MustStopAndSoftLimit) {
  FakeClock tc;
  tc.setPonder(false);
  tc.setLimits(60000, 0, 0, 0, 0, 1000, 0, false);  // soft 7481, hard 11970, 1000 nodes
  tc.startClock();
  EXPECT_FALSE(tc.mustStop(999, false, true));
  EXPECT_TRUE(tc.mustStop(1000, true, false));

  tc.time += 7480;
  EXPECT_FALSE(tc.softLimitReached());
  EXPECT_FALSE(tc.mustStop(0, false, true));
  tc.time += 1;
  EXPECT_TRUE(tc.softLimitReached());
  EXPECT_TRUE(tc.mustStop(0, false, true));
  EXPECT_FALSE(tc.mustStop(0, true, true));   // a fail-low is being resolved
  EXPECT_FALSE(tc.mustStop(0, false, false));  // no result in this iteration yet
  tc.time += 11970 - 7481;
  EXPECT_TRUE(tc.mustStop(0, true, false));
}

// Whether the next iteration may start, by elapsed time, iteration and time
// factor. wtime 60000: target 2007, horizon 29.81; factor 0 (x = 10,
// threshold 33) allows it while 2.4 * elapsed + 1 < 10 * 2007 / 33; factor 30
// (x = 40) has threshold (80 + 33 H) / (2 + H) = 33.44. depth 3: iterations
// 0..2 whatever the clock. movetime 1000: the next iteration must be
// predicted to end in time (2.4 * 412 + 1 = 989.8; 2.4 * 417 + 1 = 1001.8).
TEST(TimeControlQuestions, MayStartIterationThresholds) {
  struct Case {
    std::int64_t time;
    int depth;
    std::int64_t moveTime, elapsed;
    int iteration, factor;
    bool allowed;
  };
  const Case cases[] = {
      {60000, 0, 0, 252, 5, 0, true},    {60000, 0, 0, 253, 5, 0, false},  {60000, 0, 0, 999, 5, 30, true},
      {60000, 0, 0, 1000, 5, 30, false}, {60000, 0, 0, 1959, 5, 75, true}, {60000, 0, 0, 1960, 5, 75, false},
      {0, 3, 0, 100000, 2, 0, true},     {0, 3, 0, 0, 3, 75, false},       {0, 0, 1000, 412, 9, 0, true},
      {0, 0, 1000, 413, 9, 0, true},     {0, 0, 1000, 417, 9, 0, false},
  };
  FakeClock tc;
  tc.setPonder(false);
  for (const Case& c : cases) {
    tc.setLimits(c.time, 0, 0, c.depth, 0, 0, c.moveTime, false);
    EXPECT_TRUE(tc.lastIterationAllowed()) << "a new go forgets the last answer";
    tc.startClock();
    tc.time += c.elapsed;
    EXPECT_EQ(tc.mayStartIteration(c.iteration, c.factor), c.allowed) << c.time << " " << c.elapsed;
    EXPECT_EQ(tc.lastIterationAllowed(), c.allowed);
  }
  tc.setIterationAllowed(true);
  EXPECT_TRUE(tc.lastIterationAllowed());
}

// Root moves, best score first, then by nodes; a full list of four takes a
// new move only with a better score or at least as many nodes as the last.
TEST(RootStatsTest, OrderingAndReplacement) {
  struct Step {
    unsigned move;
    std::uint64_t nodes;
    int score;
    const char* order;
  };
  const Step steps[] = {
      {1, 1000, 50, "a"},  {2, 5000, 20, "ab"}, {3, 3000, 20, "abc"}, {4, 200, 10, "abcd"},
      {5, 100, 0, "abcd"},    // fewer nodes than d and no better score: counted only
      {6, 200, 0, "abcf"},    // as many nodes as d: replaces it
      {7, 10, 60, "gbca"},    // a new best always enters
      {3, 4000, 70, "cbag"},  // a move seen again: nodes added (7000), score replaced
      {2, 1, 70, "cbag"},     // equal score: more nodes leads
      {2, 3000, 70, "bcag"},
  };
  RootStats stats;
  for (const Step& step : steps) {
    stats.addMove(Move(step.move), step.nodes, step.score);
    std::string order;
    for (int i = 0; i < stats.count(); ++i) order += char('a' + stats.entry(i).move.raw() - 1);
    EXPECT_EQ(order, step.order) << "after move " << step.move;
  }
  EXPECT_EQ(stats.totalNodes(), 16511u);
  EXPECT_EQ(stats.entry(1).nodes, 7000u);
  stats.reset();
  EXPECT_EQ(stats.count(), 0);
  EXPECT_EQ(stats.totalNodes(), 0u);
}

// 10000 nodes: shares 0.6, 0.3, 0.08, 0.02.
void fillApplicable(RootStats& stats, int bestScore = 100) {
  stats.reset();
  stats.addMove(Move(1), 6000, bestScore);
  stats.addMove(Move(2), 3000, -5000);
  stats.addMove(Move(3), 800, -5000);
  stats.addMove(Move(4), 200, -5000);
}

TEST(RootStatsTest, TimeNetworkApplicabilityAndFactor) {
  RootStats stats;
  int factor = 30;
  fillApplicable(stats);
  EXPECT_TRUE(stats.applicable());
  ASSERT_TRUE(stats.timeFactor(3, factor));
  EXPECT_EQ(factor, 15);

  // Two moves only (shares 4/9, 4/9, 1/9 and a missing one), k = 0.
  stats.reset();
  stats.addMove(Move(1), 4000, 0);
  stats.addMove(Move(2), 4000, 0);
  stats.addMove(Move(3), 1000, 0);
  ASSERT_TRUE(stats.timeFactor(0, factor));
  EXPECT_EQ(factor, 17);

  // Applicable from 8000 nodes with a second move of at least 200, and while
  // the best score lies within 2800.
  const std::pair<std::vector<std::uint64_t>, bool> sizes[] = {
      {{7000, 999}, false}, {{7000, 999, 1}, true}, {{9000, 199}, false}, {{9000}, false}};
  for (const auto& [nodes, applicable] : sizes) {
    stats.reset();
    for (std::size_t i = 0; i < nodes.size(); ++i) stats.addMove(Move(unsigned(i + 1)), nodes[i], 0);
    EXPECT_EQ(stats.applicable(), applicable) << nodes.size() << " moves";
  }
  for (const auto& [best, applicable] : {std::pair{2800, true}, {-2800, true}, {2801, false}, {-2801, false}}) {
    fillApplicable(stats, best);
    EXPECT_EQ(stats.applicable(), applicable) << best;
  }
  factor = 42;
  EXPECT_FALSE(stats.timeFactor(0, factor));
  EXPECT_EQ(factor, 42);  // untouched when not applicable
}

}  // namespace
}  // namespace korvane
