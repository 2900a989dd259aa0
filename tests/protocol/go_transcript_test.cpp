// "go" and its companions through the built binary, as a GUI sees them: the
// shapes of the info lines, the score texts, bestmove/ponder, and the
// commands that arrive while the engine thinks.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

#include "engine_process.h"
#include "interactive_engine.h"

namespace korvane::testing {
namespace {

const std::regex ITERATION(
    R"(info depth \d+ seldepth \d+ time \d+ nodes \d+ pv( [a-h][1-8][a-h][1-8][qrbn]?)+ score (cp -?\d+|mate -?\d+)( lowerbound| upperbound)? hashfull \d+ nps \d+)");
const std::regex SEARCH_END(
    R"(info depth \d+ seldepth \d+ time \d+ nodes \d+ hashfull \d+ nps \d+ score (cp -?\d+|mate -?\d+)( lowerbound| upperbound)?)");
const std::regex BESTMOVE(R"(bestmove [a-h][1-8][a-h][1-8][qrbn]?( ponder [a-h][1-8][a-h][1-8][qrbn]?)?)");

// Runs the engine with blocking searches: every "go" ends before the next line.
std::vector<std::string> blockingRun(const std::string& commands) {
  Transcript t = runEngine("uci\nsetoption name blocking value true\n" + commands + "quit\n");
  std::vector<std::string> result;
  bool afterUciok = false;
  for (const std::string& line : t.out) {
    if (afterUciok) result.push_back(line);
    afterUciok = afterUciok || line == "uciok";
  }
  return result;
}

int countMatching(const std::vector<std::string>& lines, const std::string& prefix) {
  int n = 0;
  for (const std::string& l : lines) n += startsWith(l, prefix) ? 1 : 0;
  return n;
}

TEST(GoTranscript, DepthSearchReportsAndEndsWithOneBestmove) {
  const auto out = blockingRun("position startpos moves e2e4\ngo depth 5\n");
  ASSERT_GE(out.size(), 3u);
  EXPECT_TRUE(std::regex_match(out[0], ITERATION)) << out[0];
  EXPECT_TRUE(startsWith(out[0], "info depth 1 ")) << "the first iteration is always shown";
  for (std::size_t i = 0; i + 2 < out.size(); ++i)
    EXPECT_TRUE(std::regex_match(out[i], ITERATION) || startsWith(out[i], "info currmove")) << out[i];
  EXPECT_TRUE(std::regex_match(out[out.size() - 2], SEARCH_END)) << out[out.size() - 2];
  EXPECT_TRUE(std::regex_match(out.back(), BESTMOVE)) << out.back();
  EXPECT_EQ(countMatching(out, "bestmove"), 1);
}

TEST(GoTranscript, MateScoresAndMateLimit) {
  auto out = blockingRun("position fen 7k/8/8/8/8/8/R7/1R4K1 w - - 0 1\ngo mate 2\n");
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), "bestmove a2a7 ponder h8g8");
  EXPECT_NE(out[out.size() - 2].find("score mate 2"), std::string::npos) << out[out.size() - 2];
  // Being mated: a negative distance.
  out = blockingRun("position fen 7k/R7/8/p7/8/8/8/1R4K1 b - - 0 1\ngo depth 4\n");
  ASSERT_GE(out.size(), 2u);
  EXPECT_NE(out[out.size() - 2].find("score mate -1"), std::string::npos) << out[out.size() - 2];
  EXPECT_TRUE(startsWith(out.back(), "bestmove h8g8") || startsWith(out.back(), "bestmove a5a4")) << out.back();
  // The search settles the last position (White mates with Bxf7) without a
  // table entry; the line shown still ends with the mating move.
  out = blockingRun("position fen r2qkb1r/pp2nppp/3p4/2pNN1B1/2BnP3/3P4/PPP2PPP/R2bK2R w KQkq - 1 1\ngo depth 12\n");
  ASSERT_GE(out.size(), 3u);
  EXPECT_EQ(out.back(), "bestmove d5f6 ponder g7f6");
  std::string lastPv;
  for (const std::string& l : out)
    if (l.find(" pv ") != std::string::npos) lastPv = l;
  EXPECT_NE(lastPv.find(" pv d5f6 g7f6 c4f7 score mate 2 "), std::string::npos) << lastPv;
}

TEST(GoTranscript, NodesMovetimeSearchmovesExcludemoves) {
  auto out = blockingRun("position startpos\ngo nodes 5000\n");
  ASSERT_FALSE(out.empty());
  EXPECT_TRUE(std::regex_match(out.back(), BESTMOVE));
  out = blockingRun("position startpos\ngo movetime 200\n");
  EXPECT_TRUE(std::regex_match(out.back(), BESTMOVE));
  out = blockingRun("position startpos\ngo depth 4 searchmoves a2a3 h2h4\n");
  EXPECT_TRUE(startsWith(out.back(), "bestmove a2a3") || startsWith(out.back(), "bestmove h2h4")) << out.back();
  out = blockingRun("position startpos\ngo depth 3 excludemoves e2e4 d2d4 g1f3 b1c3 c2c4 e2e3 d2d3 c2c3 g2g3 b2b3\n");
  for (const char* excluded : {"e2e4", "d2d4", "g1f3", "b1c3", "c2c4", "e2e3", "d2d3", "c2c3", "g2g3", "b2b3"})
    EXPECT_FALSE(startsWith(out.back(), std::string("bestmove ") + excluded)) << out.back();
}

TEST(GoTranscript, MultiPvLines) {
  auto out = blockingRun("setoption name MultiPV value 3\nposition startpos\ngo depth 4\n");
  const std::regex line(R"(info multipv ([123]) depth \d+ seldepth \d+ score (cp -?\d+|mate -?\d+)( lowerbound| upperbound)? pv( [a-h][1-8][a-h][1-8][qrbn]?)+)");
  int seen[4] = {};
  for (const std::string& l : out) {
    std::smatch m;
    if (std::regex_match(l, m, line)) ++seen[std::stoi(m[1])];
  }
  EXPECT_GT(seen[1], 0);
  EXPECT_EQ(seen[1], seen[2]);
  EXPECT_EQ(seen[1], seen[3]);
  // Only two legal moves: two lines per iteration.
  out = blockingRun("setoption name MultiPV value 3\nposition fen 1r5k/8/8/8/8/7p/P6P/K7 w - - 0 1\ngo depth 3\n");
  EXPECT_EQ(countMatching(out, "info multipv 3"), 0);
  EXPECT_GT(countMatching(out, "info multipv 2"), 0);
}

// Every "go" ends in exactly one bestmove, whatever its move list says and
// whether or not the position has a legal move at all.
TEST(GoTranscript, EveryGoGetsOneBestmove) {
  struct Case {
    const char* commands;
    const char* best;  // the whole bestmove line, or null for any legal move
  };
  const Case cases[] = {
      {"position fen 7k/8/6K1/8/8/8/8/1R6 b - - 0 1\ngo depth 20\n", "bestmove h8g8"},
      // No legal move: the null move at once. Mate, stalemate.
      {"position fen R5k1/5ppp/8/8/8/8/8/6K1 b - - 0 1\ngo depth 3\n", "bestmove 0000"},
      {"position fen 7k/5Q2/6K1/8/8/8/8/8 b - - 0 1\ngo depth 2\n", "bestmove 0000"},
      // Lists that leave no legal move: all moves are searched.
      {"position startpos\ngo depth 3 searchmoves z9z9\n", nullptr},
      {"position startpos\ngo depth 3 searchmoves\n", nullptr},
      {"position fen r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1\ngo depth 2 searchmoves e1h1\n", nullptr},
      {"position fen 7k/8/8/8/8/8/8/K7 w - - 0 1\ngo depth 3 excludemoves a1a2 a1b1 a1b2\n", nullptr},
      // Whole move texts: "O-O-O" does not let in O-O, which would mate.
      {"setoption name UCI_Chess960 value true\nposition fen 4rkr1/4p1p1/8/8/8/8/8/R3K2R w KQ - 0 1\n"
       "go depth 3 searchmoves O-O-O\n",
       "bestmove O-O-O"},
      // A root table entry of depth 0, found by the second search: no negative depth.
      {"position fen 4k3/8/8/3q4/8/8/3R4/4K3 w - - 0 1\ngo depth 1\ngo depth 1\n", nullptr},
  };
  for (const Case& c : cases) {
    const auto out = blockingRun(c.commands);
    int goes = 0;
    for (const char* p = c.commands; (p = std::strstr(p, "go ")); ++p) ++goes;
    EXPECT_EQ(countMatching(out, "bestmove"), goes) << c.commands;
    EXPECT_EQ(countMatching(out, "info depth -"), 0) << c.commands;
    ASSERT_FALSE(out.empty()) << c.commands;
    if (c.best)
      EXPECT_TRUE(out.back() == c.best || startsWith(out.back(), std::string(c.best) + " ponder ")) << out.back();
    else
      EXPECT_TRUE(std::regex_match(out.back(), BESTMOVE)) << c.commands << out.back();
  }
}

TEST(GoTranscript, StopIsreadyPonderhitAndQuitWhileThinking) {
  InteractiveEngine engine;
  engine.send("uci");
  ASSERT_TRUE(engine.readUntil([](const std::string& l) { return l == "uciok"; }, 5000));
  auto isBestmove = [](const std::string& l) { return startsWith(l, "bestmove"); };

  // Infinite search: isready is answered during it, stop ends it with one bestmove.
  engine.send("position startpos");
  engine.send("go infinite");
  engine.send("isready");
  ASSERT_TRUE(engine.readUntil([](const std::string& l) { return l == "readyok"; }, 5000));
  engine.send("stop");
  std::string last;
  ASSERT_TRUE(engine.readUntil(isBestmove, 5000, &last));
  EXPECT_TRUE(std::regex_match(last, BESTMOVE)) << last;

  // A stop right after go still gets a legal bestmove.
  engine.send("go infinite");
  engine.send("stop");
  ASSERT_TRUE(engine.readUntil(isBestmove, 5000, &last));
  EXPECT_TRUE(std::regex_match(last, BESTMOVE)) << last;

  // Pondering: no bestmove until ponderhit, then the search ends under the clock.
  engine.send("position startpos moves e2e4");
  engine.send("go ponder wtime 2000 btime 2000");
  EXPECT_FALSE(engine.readUntil(isBestmove, 300));
  engine.send("ponderhit");
  ASSERT_TRUE(engine.readUntil(isBestmove, 5000, &last));
  EXPECT_TRUE(std::regex_match(last, BESTMOVE)) << last;

  // Quit during a search ends the process cleanly, without a bestmove.
  engine.send("go infinite");
  engine.send("isready");
  ASSERT_TRUE(engine.readUntil([](const std::string& l) { return l == "readyok"; }, 5000));
  engine.seen.clear();
  engine.send("quit");
  EXPECT_EQ(engine.finish(5000), 0);
  for (const std::string& l : engine.seen) EXPECT_FALSE(startsWith(l, "bestmove")) << l;
}

// "go infinite" and "go ponder" answer only when told, however the search
// got its move; a position without a legal move answers at once.
TEST(GoTranscript, InfiniteAndPonderWaitForTheirEnd) {
  struct Case {
    const char* position;
    const char* go;
    const char* release;  // null: the answer comes without it
    const char* best;
  };
  const Case cases[] = {
      // Replayed from the file (the first game opens 1. e4).
      {"position startpos", "go infinite", "stop", "bestmove e2e4"},
      // One legal move.
      {"position fen 6rk/8/8/8/8/8/8/7K w - - 0 1", "go infinite", "stop", "bestmove h1h2"},
      {"position fen 6rk/8/8/8/8/8/8/7K w - - 0 1", "go ponder wtime 1000 btime 1000", "ponderhit",
       "bestmove h1h2"},
      // Mate in one: found at once, then every iteration up to the deepest.
      {"position fen 6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1", "go infinite", "stop", "bestmove a1a8"},
      {"position fen R5k1/5ppp/8/8/8/8/8/6K1 b - - 0 1", "go infinite", nullptr, "bestmove 0000"},
  };
  InteractiveEngine engine({KORVANE_DATA_DIR "/pgn/games.pgn"});
  engine.send("uci");
  ASSERT_TRUE(engine.readLine("uciok", 5000));
  auto isBestmove = [](const std::string& l) { return startsWith(l, "bestmove"); };
  for (const Case& c : cases) {
    engine.send(c.position);
    engine.send(c.go);
    std::string last;
    if (c.release) {
      engine.send("isready");
      ASSERT_TRUE(engine.readUntil([](const std::string& l) { return l == "readyok" || startsWith(l, "bestmove"); },
                                   5000, &last));
      ASSERT_EQ(last, "readyok") << c.position << " " << c.go;
      EXPECT_FALSE(engine.readUntil(isBestmove, 300, &last)) << c.position << " " << c.go << ": " << last;
      engine.send(c.release);
    }
    ASSERT_TRUE(engine.readUntil(isBestmove, 5000, &last)) << c.position;
    EXPECT_TRUE(last == c.best || startsWith(last, std::string(c.best) + " ponder ")) << last;
  }
}

// Commands that arrive during a search leave it alone: "eval" and "bench"
// work on their own state, the options that may change while a search runs
// are safe to change (ThreadSanitizer watches this test), and clocks near the
// 64-bit limit mean plenty of time.
TEST(GoTranscript, CommandsDuringASearchLeaveItAlone) {
  InteractiveEngine engine;
  engine.send("uci");
  ASSERT_TRUE(engine.readLine("uciok", 5000));
  engine.send("setoption name NumberOfProcessors value 2");
  engine.send("position startpos");
  engine.send("go infinite");
  engine.send("eval");
  std::string last;
  ASSERT_TRUE(engine.readUntil([](const std::string& l) { return startsWith(l, "info string value"); }, 5000, &last));
  EXPECT_EQ(last, "info string value 34 mat 0");
  for (int i = 0; i < 100; ++i) {
    engine.send(i % 2 ? "setoption name Zeitprotokolldatei value nul:"
                      : "setoption name Zeitprotokolldatei value " + ::testing::TempDir() + "korvane_time_log_" +
                            std::to_string(i) + ".txt");
    engine.send("setoption name Resign value " + std::to_string(400 + i));
  }
  engine.send("bench depth 2");
  ASSERT_TRUE(engine.readUntil([](const std::string& l) { return startsWith(l, "info string bench"); }, 20000));
  engine.send("stop");
  auto isBestmove = [](const std::string& l) { return startsWith(l, "bestmove"); };
  ASSERT_TRUE(engine.readUntil(isBestmove, 5000, &last));
  EXPECT_TRUE(std::regex_match(last, BESTMOVE)) << last;
  engine.send("go depth 4");
  ASSERT_TRUE(engine.readUntil(isBestmove, 20000, &last));
  EXPECT_EQ(countMatching(engine.seen, "bestmove"), 2);

  // Huge clocks: the search goes on until told to stop, not for a few nodes.
  for (const char* go : {"go wtime 60000 btime 60000 winc 2000000000000000000",
                         "go wtime 9223372036854775807 btime 9223372036854775807 winc 9223372036854775807 "
                         "binc 9223372036854775807 movestogo 9223372036854775807"}) {
    engine.send(go);
    // An iteration of depth 5 or more (the table may let it start deeper).
    const std::regex deep(R"(info depth ([5-9]|\d\d+) .*)");
    ASSERT_TRUE(engine.readUntil([&](const std::string& l) { return std::regex_match(l, deep) || isBestmove(l); },
                                 20000, &last));
    EXPECT_TRUE(std::regex_match(last, deep)) << go << ": " << last;
    engine.send("stop");
    ASSERT_TRUE(engine.readUntil(isBestmove, 5000, &last));
  }
  engine.send("quit");
  EXPECT_EQ(engine.finish(10000), 0);
}

// "bench" runs on an engine of its own: the node count the README gives as
// the search's signature in every session, and the session (its replay file,
// its game) as it was. Any change to what the search or the evaluation does
// shows here.
TEST(GoTranscript, BenchGivesTheSignatureEverywhere) {
  const std::string signature = "info string bench depth 8 nodes 3261427";
  auto benchLines = [](const Transcript& t) {
    std::vector<std::string> bench;
    for (const std::string& l : t.out)
      if (startsWith(l, "info string bench ")) bench.push_back(l.substr(0, l.find(" time")));
    return bench;
  };
  EXPECT_EQ(benchLines(runEngine("uci\nbench\nquit\n")), std::vector<std::string>{signature});

  const Transcript changed = runEngine(
      "uci\nsetoption name Hash value 16\nsetoption name NeuroMaterial value 80\nsetoption name blocking value true\n"
      "position startpos\nbench\ngo depth 3\nquit\n",
      {KORVANE_DATA_DIR "/pgn/games.pgn"});
  EXPECT_EQ(benchLines(changed), std::vector<std::string>{signature});
  ASSERT_FALSE(changed.out.empty());
  EXPECT_EQ(changed.out.back(), "bestmove e2e4") << "the replay file still plays";
}

}  // namespace
}  // namespace korvane::testing
