// Every reference position counted through the engine's own perft command, as
// a tester would drive it: "position fen ...", then "perft depth N [Hash M]".

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "../board/epd.h"
#include "engine_process.h"

namespace korvane::testing {
namespace {

TEST(PerftCommand, ReferenceSuiteWithAndWithoutTable) {
  // Up to this many leaves per count in the normal run; KORVANE_SLOW runs all.
  const std::uint64_t limit = std::getenv("KORVANE_SLOW") ? ~std::uint64_t(0) : 200000;
  std::string input = "uci\n";
  std::vector<std::uint64_t> expected;
  const auto cases = korvane::test::loadPerftCases();
  ASSERT_EQ(cases.size(), 45u);
  for (const auto& c : cases) {
    // Chess960 lines need the Chess960 castling rules only through their
    // castling fields; the engine reads both styles without the option.
    input += "position fen " + c.fen + "\n";
    for (std::size_t d = 1; d <= c.counts.size() && c.counts[d - 1] <= limit; ++d) {
      input += "perft depth " + std::to_string(d) + "\n";
      input += "perft depth " + std::to_string(d) + " Hash 2\n";
      expected.push_back(c.counts[d - 1]);
      expected.push_back(c.counts[d - 1]);
    }
  }
  Transcript t = runEngine(input + "quit\n");
  ASSERT_EQ(t.exitCode, 0);
  std::vector<std::uint64_t> got;
  const std::regex shape("info depth \\d+ time \\d+ nodes (\\d+)");
  for (const auto& line : t.out) {
    std::smatch m;
    if (std::regex_match(line, m, shape)) got.push_back(std::stoull(m[1]));
  }
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_EQ(got, expected);
  EXPECT_GE(expected.size(), 200u);
}

}  // namespace
}  // namespace korvane::testing
