#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
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

struct Limits {
  std::int64_t target, soft, hard;
};

Limits clockLimits(std::int64_t time, std::int64_t increment, int movesToGo, bool ponder) {
  FakeClock tc;
  tc.setPonder(ponder);
  tc.setLimits(time, increment, movesToGo, 0, 0, 0, 0, false);
  EXPECT_EQ(tc.maxDepth(), 60);
  EXPECT_EQ(tc.nodeLimit(), TimeControl::UNLIMITED_NODES);
  return {tc.target(), tc.softLimit(), tc.hardLimit()};
}

void expectLimits(const Limits& got, std::int64_t target, std::int64_t soft, std::int64_t hard) {
  EXPECT_EQ(got.target, target);
  EXPECT_EQ(got.soft, soft);
  EXPECT_EQ(got.hard, hard);
}

TEST(TimeControlLimits, ClockSearches) {
  // movestogo 1 wtime 1000: 300 ms remain after the 700 ms margin.
  {
    FakeClock tc;
    tc.setPonder(false);
    tc.setLimits(1000, 0, 1, 0, 0, 0, 0, false);
    EXPECT_NEAR(tc.horizon(), 30 * std::tanh(1.0 / 30) + 0.1, 1e-12);
    EXPECT_NEAR(tc.horizon(), 1.0996, 1e-4);
    expectLimits({tc.target(), tc.softLimit(), tc.hardLimit()}, 143, 287, 289);
  }
  // An increment would push the hard limit past the 300 ms left: capped.
  expectLimits(clockLimits(1000, 100, 1, false), 125, 250, 300);
  // Sudden death (movestogo 0 counts as 80) and with increment.
  expectLimits(clockLimits(60000, 0, 0, false), 2007, 7481, 11970);
  expectLimits(clockLimits(300000, 2000, 40, false), 13443, 45483, 75971);
  // A large increment: hard limit capped at the time left, soft at 1/1.2 of it.
  expectLimits(clockLimits(5000, 3000, 0, false), 2020, 4041, 4850);
  expectLimits(clockLimits(10000, 0, 3, false), 1946, 3892, 4296);
  // Missing or negative values: 50 ms remain.
  expectLimits(clockLimits(0, 0, 0, false), 1, 6, 10);
  expectLimits(clockLimits(-5, -100, 0, false), 1, 6, 10);
  // A clock below 100 ms is planned with half of it, never with more time
  // than it shows.
  expectLimits(clockLimits(60, 0, 0, false), 1, 3, 6);
  EXPECT_LE(clockLimits(90, 10, 0, false).hard, 90);
  // Below a second the increment may not drain the clock: a third of the
  // clock at most, a sixth as the soft limit.
  expectLimits(clockLimits(600, 100, 0, false), 50, 100, 200);
  expectLimits(clockLimits(300, 10, 0, false), 15, 50, 100);
  expectLimits(clockLimits(60000, 0, 81, false), 2007, 7481, 11970);
}

TEST(TimeControlLimits, PonderingShortensTheHorizon) {
  FakeClock off, on;
  off.setPonder(false);
  on.setPonder(true);
  off.setLimits(60000, 0, 0, 0, 0, 0, 0, false);
  on.setLimits(60000, 0, 0, 0, 0, 0, 0, false);
  EXPECT_NEAR(on.horizon(), 22 * std::tanh(0.85 * 80 / 22) + 0.25, 1e-12);
  EXPECT_LT(on.horizon(), off.horizon());
  EXPECT_EQ(off.target(), 2007);
  EXPECT_EQ(on.target(), 2700);
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

TEST(TimeControlQuestions, MayStartIterationThresholds) {
  FakeClock tc;
  tc.setPonder(false);
  tc.setLimits(60000, 0, 0, 0, 0, 0, 0, false);  // target 2007, soft 7481, horizon 29.81
  tc.startClock();
  const std::int64_t start = tc.time;
  // Factor 0: x = 10, threshold 33; yes while 2.4 * elapsed + 1 < 10 * 2007 / 33.
  tc.time = start + 252;
  EXPECT_TRUE(tc.mayStartIteration(5, 0));
  EXPECT_TRUE(tc.lastIterationAllowed());
  tc.time = start + 253;
  EXPECT_FALSE(tc.mayStartIteration(5, 0));
  EXPECT_FALSE(tc.lastIterationAllowed());
  // Factor 30 (x = 40): threshold (80 + 33 H) / (2 + H) = 33.44.
  tc.time = start + 999;
  EXPECT_TRUE(tc.mayStartIteration(5, 30));
  tc.time = start + 1000;
  EXPECT_FALSE(tc.mayStartIteration(5, 30));
  // Factor 75.
  tc.time = start + 1959;
  EXPECT_TRUE(tc.mayStartIteration(5, 75));
  tc.time = start + 1960;
  EXPECT_FALSE(tc.mayStartIteration(5, 75));

  // A new "go" forgets the last answer.
  tc.setLimits(0, 0, 0, 3, 0, 0, 0, false);  // depth 3: iterations 0..2
  EXPECT_TRUE(tc.lastIterationAllowed());
  tc.startClock();
  tc.time += 100000;  // no clock limit for a depth search
  EXPECT_TRUE(tc.mayStartIteration(2, 0));
  EXPECT_FALSE(tc.mayStartIteration(3, 75));

  // movetime 1000: the next iteration must be predicted to end in time.
  tc.setLimits(0, 0, 0, 0, 0, 0, 1000, false);
  tc.startClock();
  tc.time += 412;  // 2.4 * 412 + 1 = 989.8
  EXPECT_TRUE(tc.mayStartIteration(9, 0));
  tc.time += 1;  // 992.2
  EXPECT_TRUE(tc.mayStartIteration(9, 0));
  tc.time += 4;  // 1001.8 > 1000
  EXPECT_FALSE(tc.mayStartIteration(9, 0));

  tc.setIterationAllowed(true);
  EXPECT_TRUE(tc.lastIterationAllowed());
}

TEST(RootStatsTest, OrderingAndReplacement) {
  RootStats stats;
  const Move a(1), b(2), c(3), d(4), e(5), f(6), g(7);
  stats.addMove(a, 1000, 50);
  stats.addMove(b, 5000, 20);
  stats.addMove(c, 3000, 20);
  stats.addMove(d, 200, 10);
  auto order = [&] {
    std::string s;
    for (int i = 0; i < stats.count(); ++i) s += char('a' + stats.entry(i).move.raw() - 1);
    return s;
  };
  EXPECT_EQ(order(), "abcd");  // best score first, then by nodes
  stats.addMove(e, 100, 0);  // fewer nodes than d and no better score: counted only
  EXPECT_EQ(order(), "abcd");
  EXPECT_EQ(stats.totalNodes(), 9300u);
  stats.addMove(f, 200, 0);  // as many nodes as d: replaces it
  EXPECT_EQ(order(), "abcf");
  stats.addMove(g, 10, 60);  // a new best always enters
  EXPECT_EQ(order(), "gbca");
  stats.addMove(c, 4000, 70);  // a move seen again: nodes added, score replaced
  EXPECT_EQ(order(), "cbag");
  EXPECT_EQ(stats.entry(0).nodes, 7000u);
  EXPECT_EQ(stats.entry(0).score, 70);
  stats.addMove(b, 1, 70);  // equal score: more nodes leads
  EXPECT_EQ(order(), "cbag");
  stats.addMove(b, 3000, 70);
  EXPECT_EQ(order(), "bcag");

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
  EXPECT_NEAR(stats.networkOutput(3), 0.15070224007830507, 1e-12);
  ASSERT_TRUE(stats.timeFactor(3, factor));
  EXPECT_EQ(factor, 15);

  // Two moves only (shares 4/9, 4/9, 1/9 and a missing one), k = 0.
  stats.reset();
  stats.addMove(Move(1), 4000, 0);
  stats.addMove(Move(2), 4000, 0);
  stats.addMove(Move(3), 1000, 0);
  EXPECT_NEAR(stats.networkOutput(0), 0.17892518949649627, 1e-12);
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
