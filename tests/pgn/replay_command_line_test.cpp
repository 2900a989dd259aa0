// A PGN file named on the command line is replayed while the game follows
// it; once the game leaves it, the engine searches.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "../protocol/engine_process.h"

namespace korvane::testing {
namespace {

std::vector<std::string> replies(const Transcript& t) {
  std::vector<std::string> result;
  for (const std::string& l : t.out)
    if (l.rfind("bestmove", 0) == 0 || l.rfind("info depth", 0) == 0) result.push_back(l);
  return result;
}

TEST(ReplayCommandLine, RecordedMovesWhileTheGameFollowsThem) {
  const Transcript t = runEngine(
      "uci\nsetoption name OwnBook value false\nsetoption name blocking value true\n"
      "position startpos\ngo depth 6\n"
      "position startpos moves e2e4 e7e5\ngo depth 6\n"
      "position startpos moves e2e4 e7e5 g1f3 b8c6 f1b5 h7h6\ngo depth 2\nquit\n",
      {KORVANE_DATA_DIR "/pgn/games.pgn"});
  const auto r = replies(t);
  ASSERT_GE(r.size(), 4u);
  EXPECT_EQ(r[0], "bestmove e2e4");
  EXPECT_EQ(r[1], "bestmove g1f3");
  EXPECT_EQ(r[2].rfind("info depth", 0), 0u) << "out of the recorded games: a search";
  EXPECT_EQ(r.back().rfind("bestmove", 0), 0u);
}

TEST(ReplayCommandLine, MissingFileLeavesTheEngineSearching) {
  const Transcript t = runEngine("uci\nsetoption name blocking value true\nposition startpos\ngo depth 3\nquit\n",
                                 {"/nonexistent/games.pgn"});
  const auto r = replies(t);
  ASSERT_FALSE(r.empty());
  EXPECT_EQ(r[0].rfind("info depth", 0), 0u);
  EXPECT_EQ(r.back().rfind("bestmove", 0), 0u);
  EXPECT_EQ(t.exitCode, 0);
}

// A broken game in the replay file is reported by the search thread through
// the protocol's channel: one whole line in "uci", nothing under NoOutput or
// in "ucitest".
TEST(ReplayCommandLine, BrokenGameIsReportedThroughTheChannel) {
  const std::string file = ::testing::TempDir() + "korvane_broken_replay.pgn";
  std::ofstream(file) << "[Event \"broken\"]\n\n1. e4 e5 2. Qxf7 *\n";
  struct Case {
    const char* input;
    int reports;
  };
  const Case cases[] = {
      {"uci\nsetoption name blocking value true\nposition startpos\ngo depth 1\nquit\n", 1},
      {"uci\nsetoption name NoOutput value true\nsetoption name blocking value true\nposition startpos\n"
       "go depth 1\nquit\n",
       0},
      {"ucitest\nsetoption name blocking value true\nposition startpos\ngo depth 1\nquit\n", 0},
  };
  for (const Case& c : cases) {
    const Transcript t = runEngine(c.input, {file});
    int reports = 0;
    for (const std::string& l : t.out) {
      if (l.find("PGN-Parser") == std::string::npos) continue;
      ++reports;
      EXPECT_EQ(l.rfind("info string PGN-Parser: file " + file + " line 3 ", 0), 0u) << l;
    }
    EXPECT_EQ(reports, c.reports) << c.input;
    EXPECT_EQ(t.exitCode, 0);
  }
  std::remove(file.c_str());
}

}  // namespace
}  // namespace korvane::testing
