// "go" and its companions through the built binary, as a GUI sees them: the
// info lines, the score texts, bestmove/ponder, and the commands that arrive
// while the engine thinks.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "engine_process.h"

namespace korvane::testing {
namespace {

using Lines = std::vector<std::string>;

const std::regex BESTMOVE(R"(bestmove [a-h][1-8][a-h][1-8][qrbn]?( ponder [a-h][1-8][a-h][1-8][qrbn]?)?)");

// Runs the engine with blocking searches and no book: every "go" ends before
// the next line. The lines after "uciok", times and speeds shown as "_".
// Outside debug mode the current move is shown only after half a second, so
// on a slow (sanitized) build it comes and goes: those lines are left out.
Lines blockingRun(const std::string& commands) {
  const bool debug = commands.find("debug on") != std::string::npos;
  Transcript t = runEngine("uci\nsetoption name blocking value true\nsetoption name OwnBook value false\n" + commands +
                           "quit\n");
  const std::regex clock(" (time|nps) \\d+");
  Lines result;
  bool afterUciok = false;
  for (const std::string& line : t.out) {
    if (afterUciok && (debug || !startsWith(line, "info currmove ")))
      result.push_back(std::regex_replace(line, clock, " $1 _"));
    afterUciok = afterUciok || line == "uciok";
  }
  return result;
}

int countMatching(const Lines& lines, const std::string& prefix) {
  int n = 0;
  for (const std::string& l : lines) n += startsWith(l, prefix) ? 1 : 0;
  return n;
}

// Searches whose course their depth fixes: every line as shown. Shallow
// iterations with few nodes are left out after the first; the last info line
// sums up the search.
TEST(GoTranscript, WholeSearches) {
  struct Case {
    const char* commands;
    Lines out;  // the last lines of the output
  };
  const Case cases[] = {
      {"position startpos\ngo depth 5\n",
       {"info depth 1 seldepth 2 time _ nodes 24 pv d2d4 score cp 45 hashfull 0 nps _",
        "info depth 4 seldepth 10 time _ nodes 837 pv d2d4 d7d5 g1f3 g8f6 score cp 4 hashfull 1 nps _",
        "info depth 5 seldepth 14 time _ nodes 2981 pv d2d4 d7d5 g1f3 g8f6 b1c3 score cp 18 hashfull 7 nps _",
        "info depth 5 seldepth 14 time _ nodes 5402 hashfull 10 nps _ score cp 18", "bestmove d2d4 ponder d7d5"}},
      // The second search starts from the table's lower bound of depth 0.
      {"position fen 4k3/8/8/3q4/8/8/3R4/4K3 w - - 0 1\ngo depth 1\ngo depth 1\n",
       {"bestmove d2d5", "info depth 1 seldepth 1 time _ nodes 0 pv d2d5 score cp 793 lowerbound hashfull 0 nps _",
        "info depth 1 seldepth 2 time _ nodes 15 pv d2d5 score cp 793 hashfull 0 nps _",
        "info depth 1 seldepth 2 time _ nodes 15 hashfull 0 nps _ score cp 793", "bestmove d2d5"}},
      // Only two legal moves: two lines per iteration.
      {"setoption name MultiPV value 3\nposition fen 1r5k/8/8/8/8/7p/P6P/K7 w - - 0 1\ngo depth 3\n",
       {"info multipv 1 depth 1 seldepth 2 score cp -417 pv a2a4", "info multipv 2 depth 1 seldepth 2 score cp -422 pv a2a3",
        "info multipv 1 depth 2 seldepth 4 score cp -430 pv a2a4 b8a8",
        "info multipv 2 depth 2 seldepth 4 score cp -436 pv a2a3 b8a8",
        "info depth 3 seldepth 7 time _ nodes 277 pv a2a3 h8g7 a1a2 score cp -427 hashfull 0 nps _",
        "info multipv 1 depth 3 seldepth 7 score cp -427 pv a2a3 h8g7 a1a2",
        "info multipv 2 depth 3 seldepth 7 score cp -468 pv a2a4 b8a8 a1a2 a8a4 a2b3",
        "info depth 3 seldepth 7 time _ nodes 277 hashfull 0 nps _ score cp -427", "bestmove a2a3 ponder h8g7"}},
      // Mate distances, winning and losing; "go mate 2" ends at depth 5.
      {"position fen 7k/8/8/8/8/8/R7/1R4K1 w - - 0 1\ngo mate 2\n",
       {"info depth 5 seldepth 7 time _ nodes 3469 pv a2a7 h8g8 b1b8 score mate 2 hashfull 10 nps _",
        "info depth 5 seldepth 7 time _ nodes 4615 hashfull 10 nps _ score mate 2", "bestmove a2a7 ponder h8g8"}},
      {"position fen 7k/R7/8/p7/8/8/8/1R4K1 b - - 0 1\ngo depth 4\n",
       {"info depth 1 seldepth 1 time _ nodes 3 pv h8g8 b1b8 score mate -1 hashfull 0 nps _",
        "info depth 4 seldepth 5 time _ nodes 12 hashfull 0 nps _ score mate -1", "bestmove h8g8"}},
      // The search settles the last position (White mates with Bxf7) without
      // a table entry; the line shown still ends with the mating move.
      {"position fen r2qkb1r/pp2nppp/3p4/2pNN1B1/2BnP3/3P4/PPP2PPP/R2bK2R w KQkq - 1 1\ngo depth 12\n",
       {"info depth 12 seldepth 12 time _ nodes 25022 pv d5f6 g7f6 c4f7 score mate 2 hashfull 36 nps _",
        "info depth 12 seldepth 13 time _ nodes 28457 hashfull 36 nps _ score mate 2", "bestmove d5f6 ponder g7f6"}},
  };
  for (const Case& c : cases) {
    const Lines out = blockingRun(c.commands);
    ASSERT_GE(out.size(), c.out.size()) << c.commands;
    EXPECT_EQ(Lines(out.end() - std::ptrdiff_t(c.out.size()), out.end()), c.out) << c.commands;
  }
}

// The root search's aspiration window, seen in debug mode, where every
// iteration is shown and every pass over the root moves starts with
// "currmovenumber 1": "P" for a pass, "depth:score" for each new best line.
// A score that falls more than 60 cp below the last one fails low, and the
// next pass opens the window 75 cp below the failed score, then 250 cp.
TEST(GoTranscript, AspirationWindowAndFailLowLadder) {
  struct Case {
    const char* position;
    const char* passes;  // of "go depth 5"
  };
  const Case cases[] = {
      // -572 to -694 and -694 to -814: each fails low once; the second pass,
      // 75 cp lower, finds it (57 would need a third).
      {"fen nrbkr2n/p2pbpp1/1q6/1PP4p/PP2pB1P/5PP1/3KP3/NR1B1QRN w - - 5 15 moves c5b6 b8b6 h1f2 e4f3 e2e3 c8b7 "
       "f2d3 h8g6 d1f3 e8h8 f3b7",
       "P 1:cp -552 P 2:cp -572 P P 3:cp -694 P P 4:cp -814 P 5:cp -836"},
      // Depth 1 fails low once below the quiescence score (with a window of
      // 50 cp or a step of 57 it takes two); -633 to -771 takes both steps.
      {"fen 1rn1krb1/p4npp/6qb/RPpppp1N/1P4PP/4Q3/2P1PP2/1B1KNRB1 b F - 6 14 moves h6e3 b4c5 e3c5 e1d3 c5e7 h5g3 "
       "g6g4 g1h2 f5f4 a5a4 g4h3",
       "P P 1:cp -633 P 2:cp -633 P P P 3:cp -771 P 4:cp -771 P P P 5:cp -914 5:cp -911"},
  };
  const std::regex best("info depth (\\d+) .* pv .* score (cp -?\\d+).*");
  for (const Case& c : cases) {
    std::string passes;
    for (const std::string& line : blockingRun(std::string("debug on\nposition ") + c.position + "\ngo depth 5\n")) {
      std::smatch m;
      if (startsWith(line, "info currmove ") && line.ends_with(" currmovenumber 1")) passes += "P ";
      if (std::regex_match(line, m, best)) passes += m[1].str() + ":" + m[2].str() + " ";
    }
    EXPECT_EQ(passes, std::string(c.passes) + " ") << c.position;
  }
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
      {"position startpos\ngo nodes 5000\n", nullptr},
      {"position startpos\ngo movetime 200\n", nullptr},
      {"position startpos\ngo depth 4 searchmoves a2a3 h2h4\n", "bestmove h2h4"},
      {"position startpos\ngo depth 3 excludemoves e2e4 d2d4 g1f3 b1c3 c2c4 e2e3 d2d3 c2c3 g2g3 b2b3\n",
       "bestmove a2a4"},
      // Lists that leave no legal move: all moves are searched.
      {"position startpos\ngo depth 3 searchmoves z9z9\n", nullptr},
      {"position startpos\ngo depth 3 searchmoves\n", nullptr},
      {"position fen r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1\ngo depth 2 searchmoves e1h1\n", nullptr},
      {"position fen 7k/8/8/8/8/8/8/K7 w - - 0 1\ngo depth 3 excludemoves a1a2 a1b1 a1b2\n", nullptr},
      // Whole move texts: "O-O-O" does not let in O-O, which would mate.
      {"setoption name UCI_Chess960 value true\nposition fen 4rkr1/4p1p1/8/8/8/8/8/R3K2R w KQ - 0 1\n"
       "go depth 3 searchmoves O-O-O\n",
       "bestmove O-O-O"},
  };
  for (const Case& c : cases) {
    const Lines out = blockingRun(c.commands);
    EXPECT_EQ(countMatching(out, "bestmove"), 1) << c.commands;
    ASSERT_FALSE(out.empty()) << c.commands;
    if (c.best)
      EXPECT_TRUE(out.back() == c.best || startsWith(out.back(), std::string(c.best) + " ponder ")) << out.back();
    else
      EXPECT_TRUE(std::regex_match(out.back(), BESTMOVE)) << c.commands << out.back();
  }
}

// "go infinite" and "go ponder" answer only when told, however the search
// got its move; a position without a legal move answers at once.
TEST(GoTranscript, InfiniteAndPonderWaitForTheirEnd) {
  struct Case {
    const char* position;
    const char* go;
    const char* release;  // null: the answer comes without it
    const char* best;  // null: any move
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
      // A real search under the clock, released by ponderhit.
      {"position startpos moves g2g3 d7d5", "go ponder wtime 2000 btime 2000", "ponderhit", nullptr},
  };
  InteractiveEngine engine({KORVANE_DATA_DIR "/pgn/games.pgn"});
  engine.send("uci");
  ASSERT_TRUE(engine.readLine("uciok", 5000));
  auto isBestmove = [](const std::string& l) { return startsWith(l, "bestmove"); };
  for (const Case& c : cases) {
    engine.send(c.position);
    engine.send(c.go);
    std::string last;
    if (c.release) {  // answered during the search, and nothing else for a while
      engine.send("isready");
      ASSERT_TRUE(engine.readUntil([&](const std::string& l) { return l == "readyok" || isBestmove(l); }, 5000, &last));
      ASSERT_EQ(last, "readyok") << c.position << " " << c.go;
      EXPECT_FALSE(engine.readUntil(isBestmove, 300, &last)) << c.position << " " << c.go << ": " << last;
      engine.send(c.release);
    }
    ASSERT_TRUE(engine.readUntil(isBestmove, 5000, &last)) << c.position;
    EXPECT_TRUE(c.best ? last == c.best || startsWith(last, std::string(c.best) + " ponder ")
                       : std::regex_match(last, BESTMOVE))
        << last;
  }
  // A stop right after go still gets a legal move; quit during a search ends
  // the process cleanly, without a bestmove.
  engine.send("position startpos moves e2e4 e7e5 g1f3 b8c6 f1b5");
  engine.send("go infinite");
  engine.send("stop");
  std::string last;
  ASSERT_TRUE(engine.readUntil(isBestmove, 5000, &last));
  EXPECT_TRUE(std::regex_match(last, BESTMOVE)) << last;
  engine.send("go infinite");
  engine.send("isready");
  ASSERT_TRUE(engine.readLine("readyok", 5000));
  engine.send("quit");
  EXPECT_EQ(engine.finish(5000), 0);
  for (const std::string& l : engine.drain(1000)) EXPECT_FALSE(isBestmove(l)) << l;
}

// Commands that arrive during a search of eight threads leave it alone:
// "eval" and "bench" work on their own state, the options that may change
// while a search runs are safe to change (ThreadSanitizer watches this test);
// every thread is joined before the one bestmove, also when the number of
// threads changes; clocks near the 64-bit limit mean plenty of time.
TEST(GoTranscript, CommandsDuringASearchLeaveItAlone) {
  InteractiveEngine engine;
  engine.send("uci");
  ASSERT_TRUE(engine.readLine("uciok", 5000));
  engine.send("setoption name NumberOfProcessors value 8");
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
  engine.send("position fen r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1");
  engine.send("go depth 6");
  ASSERT_TRUE(engine.readUntil(isBestmove, 60000, &last));
  EXPECT_TRUE(std::regex_match(last, BESTMOVE)) << last;
  EXPECT_EQ(countMatching(engine.seen, "bestmove"), 2);
  engine.send("setoption name NumberOfProcessors value 2");

  // Huge clocks: the search goes on until told to stop, not for a few nodes.
  for (const char* go : {"go wtime 60000 btime 60000 winc 2000000000000000000",
                         "go wtime 9223372036854775807 btime 9223372036854775807 winc 9223372036854775807 "
                         "binc 9223372036854775807 movestogo 9223372036854775807"}) {
    engine.send("setoption name Clear Hash");  // no deep start from the table
    engine.send(go);
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
// the search's signature whatever the session's options, and the session (its
// replay file, its game) as it was. Any change to what the search or the evaluation does
// shows here.
TEST(GoTranscript, BenchGivesTheSignatureEverywhere) {
  const std::string signature = "info string bench depth 8 nodes 3261427";
  auto benchLines = [](const Transcript& t) {
    Lines bench;
    for (const std::string& l : t.out)
      if (startsWith(l, "info string bench ")) bench.push_back(l.substr(0, l.find(" time")));
    return bench;
  };
  const Transcript changed = runEngine(
      "uci\nsetoption name Hash value 16\nsetoption name NeuroMaterial value 80\nsetoption name blocking value true\n"
      "position startpos\nbench\ngo depth 3\nquit\n",
      {KORVANE_DATA_DIR "/pgn/games.pgn"});
  EXPECT_EQ(benchLines(changed), Lines{signature});
  ASSERT_FALSE(changed.out.empty());
  EXPECT_EQ(changed.out.back(), "bestmove e2e4") << "the replay file still plays";
}

}  // namespace
}  // namespace korvane::testing
