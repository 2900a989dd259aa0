#include <gtest/gtest.h>

#include <cstdlib>

#include "board/notation.h"
#include "board/perft.h"
#include "epd.h"

namespace korvane {
namespace {

// Without KORVANE_SLOW only the depths up to this many leaves run.
constexpr std::uint64_t QUICK_LIMIT = 500000;

bool slowRun() { return std::getenv("KORVANE_SLOW") != nullptr; }

TEST(Perft, ReferenceSuite) {
  const auto cases = test::loadPerftCases();
  ASSERT_EQ(cases.size(), 45u);
  int counts = 0;
  Perft perft(0);
  for (const auto& c : cases) {
    Position pos;
    ASSERT_NE(setFen(pos, c.fen.c_str()), nullptr) << c.fen;
    for (std::size_t d = 1; d <= c.counts.size(); ++d) {
      if (!slowRun() && c.counts[d - 1] > QUICK_LIMIT) break;
      EXPECT_EQ(perft.run(pos, int(d)), c.counts[d - 1]) << c.fen << " depth " << d;
      ++counts;
    }
  }
  EXPECT_GE(counts, 150);
}

TEST(Perft, NonPositiveDepthCountsNothingAndLeavesThePosition) {
  Position pos;
  const Position before = pos;
  Perft perft(0);
  EXPECT_EQ(perft.run(pos, 0), 0u);
  EXPECT_EQ(perft.run(pos, -3), 0u);
  EXPECT_TRUE(samePosition(pos, before));
}

}  // namespace
}  // namespace korvane
