// Transcripts of the engine as a GUI sees it: lines in, exact lines out.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "engine_process.h"

namespace korvane::testing {
namespace {

using Lines = std::vector<std::string>;

const Lines UCI_REPLY = {
    "id name Korvane 2.0",
    "id author Ulvenmark",
    "option name Hash type spin default 3 min 3 max 2047",
    "option name Ponder type check default true",
    "option name OwnBook type check default true",
    "option name Clear Hash type button",
    "option name MultiPV type spin default 1 min 1 max 255",
    "option name UCI_Chess960 type check default false",
    "option name BookFile type string default Korvane.opn",
    "option name Opponent type string default unknown",
    "option name NumberOfProcessors type spin default 1 min 1 max 8",
    "option name NeuroMaterial type spin default 35 min 0 max 100",
    "option name MaterialFile type string default (internal)",
    "uciok",
};

const Lines HIDDEN_OPTIONS = {
    "option name Zeitprotokolldatei type string default nul:",
    "option name blocking type check default false",
    "option name NoOutput type check default false",
    "option name Resign type spin default 700 min 400 max 2000",
};

Lines operator+(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// What the engine prints after "uci", in debug mode (every message shown)
// and without a book; perft times shown as "_".
Lines afterPreamble(const std::string& commands) {
  Transcript t = runEngine("uci\ndebug on\nsetoption name OwnBook value false\n" + commands);
  EXPECT_EQ(t.exitCode, 0);
  EXPECT_TRUE(t.err.empty());
  Lines out;
  for (std::size_t i = UCI_REPLY.size(); i < t.out.size(); ++i)
    out.push_back(std::regex_replace(t.out[i], std::regex("^info depth (-?\\d+) time \\d+ "), "info depth $1 time _ "));
  return out;
}

// Whole runs: standard output and error, and a normal exit.
TEST(UciTranscript, Sessions) {
  struct Case {
    std::string input;
    Lines out = {}, err = {};
    std::vector<std::string> args = {};
  };
  const std::string refused = "'uci' or 'xboard' expected";
  const std::string badHash = "info string Unzulässiger Wert für 'Hash' setoption name Hash value 0";
  const Lines ready = UCI_REPLY + Lines{"readyok"};
  const Case cases[] = {
      {"uci\n", UCI_REPLY},
      // Blanks, blank lines and white-space lines are fine; a later "uci" is answered again.
      {"\n   \n\t \r\n  uci\n\n \t\nuci\n", UCI_REPLY + UCI_REPLY},
      {"uci\n", Lines(UCI_REPLY.begin(), UCI_REPLY.end() - 1) + HIDDEN_OPTIONS + Lines{"uciok"}, {}, {"VersteckteOptionen"}},
      // Case matters, and every unknown first word is refused until one fits.
      {"UCI\nisready\nuci extra words\nisready\n", ready, {refused, refused}},
      {"hello\n", {}, {refused}},
      {"", {}},
      {"uci\nisready\nquit\nisready\n", ready},  // "quit" ends the run with input left
      // Errors are silent outside debug mode; "debug" alone switches it on, any "off" off.
      {"uci\nsetoption name Hash value 0\ndebug\nsetoption name Hash value 0\ndebug off\n"
       "setoption name Hash value 0\ndebug on\nsetoption name Hash value 0\nisready\n",
       UCI_REPLY + Lines{badHash, badHash, "readyok"}},
      {"uci\nperft\nisready\n", ready},
      {"uci\ndebug on\nsetoption name NoOutput value true\nisready\nuci\nsetoption name Hash value 0\n"
       "perft depth 1\nsetoption name NoOutput value false\nisready\n",
       ready},
      {"ucitest\nisready\ndebug on\nsetoption name Hash value 0\nperft depth 2\nperft\n", {}},
      // 39,999 characters fill one piece of a line; what follows is a line of its own.
      {"uci\n" + std::string(39999, 'x') + "isready\n", ready},
      {"uci\n" + std::string(100000, ' ') + "\nisready\n", ready},  // blank in every piece
  };
  for (const Case& c : cases) {
    const Transcript t = runEngine(c.input, c.args);
    EXPECT_EQ(t.out, c.out) << c.input.substr(0, 100);
    EXPECT_EQ(t.err, c.err) << c.input.substr(0, 100);
    EXPECT_EQ(t.exitCode, 0) << c.input.substr(0, 100);
  }
}

// "ucitest" prints one line per search, however it ended (depth, node limit,
// time); the geometric mean stays above 0 after a search of 0 ms.
TEST(UciTranscript, UciTestPrintsStatistics) {
  const Transcript t = runEngine(
      "ucitest\nsetoption name blocking value true\nposition startpos\ngo depth 1\ngo nodes 1000\n"
      "go nodes 1000\ngo movetime 2\ngo wtime 30 btime 30\nquit\n");
  const std::regex line(R"( *(\d+) +(\d+\.\d{8}) +(\d+\.\d{10}) +(\d+\.\d{8}))");
  ASSERT_EQ(t.out.size(), 5u);
  for (std::size_t i = 0; i < t.out.size(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(t.out[i], m, line)) << t.out[i];
    EXPECT_EQ(std::stoul(m[1]), i + 1);
    EXPECT_GT(std::stod(m[4]), 0.0) << t.out[i];
  }
}

TEST(UciTranscript, SetoptionMessages) {
  // Each message is the text, then the whole line; accepted values are silent.
  const std::string unknown = "info string 'setoption': unbekannte Option setoption name ";
  std::vector<std::pair<std::string, std::string>> cases = {
      {"setoption", "info string 'setoption' ohne 'name' setoption"},
      {"setoption Hash value 5", "info string 'setoption' ohne 'name' setoption Hash value 5"},
      {"setoption name", "info string Syntaxfehler bei 'setoption' setoption name"},
      {"setoption name  value 3", "info string Syntaxfehler bei 'setoption' setoption name  value 3"},
      {"setoption name Hash  value 3", unknown + "Hash  value 3"},
      {"setoption name hash value 3", unknown + "hash value 3"},
      // "value" is a word of its own; names are compared on 29 characters.
      {"setoption name BookFile values X", unknown + "BookFile values X"},
      {"setoption name MultiPV valued 3", unknown + "MultiPV valued 3"},
      {"setoption name NumberOfProcessorsAndMoreAndMore value 2", unknown + "NumberOfProcessorsAndMoreAndMore value 2"},
      {"setoption name Opponent value", "info string Lesefehler bei 'Opponent value' setoption name Opponent value"},
      {"setoption name Opponent value Morlan", "info string Nicht jetzt, nicht schon wieder Du!"},
  };
  for (const char* name : {"Hash", "Ponder", "OwnBook", "BookFile", "MultiPV", "NumberOfProcessors", "Opponent",
                           "UCI_Chess960", "blocking", "NoOutput", "NeuroMaterial", "MaterialFile", "Resign",
                           "Zeitprotokolldatei"})
    cases.push_back({std::string("setoption name ") + name,
                     std::string("info string 'setoption name ") + name + "' ohne 'value' setoption name " + name});
  for (const char* refused : {"Hash value 0", "Hash value -4", "Hash value many", "Ponder value yes",
                              "OwnBook value TRUE", "MultiPV value 0", "NumberOfProcessors value x",
                              "UCI_Chess960 value truely", "blocking value 1", "NoOutput value",
                              "NeuroMaterial value -1", "Resign value 0"}) {
    const std::string line = refused, name = line.substr(0, line.find(' '));
    cases.push_back({"setoption name " + line, "info string Unzulässiger Wert für '" + name + "' setoption name " + line});
  }
  for (const char* accepted :
       {"Clear Hash", "Clear Hash value 1", "Hash value 4", "Hash value 2", "Ponder value false", "OwnBook value false",
        "BookFile value my.opn", "BookFile value", "MultiPV value 300", "NumberOfProcessors value 20",
        "Opponent value Somebody", "Opponent value Morlanx", "UCI_Chess960 value true", "UCI_Chess960 value false",
        "blocking value false", "NeuroMaterial value 0", "NeuroMaterial value 100", "MaterialFile value (internal)",
        "Resign value 399", "Zeitprotokolldatei value nul:", "NoOutput value false",
        "Hash value 2047"})  // the largest table is ready at once: its pages are not filled in advance
    cases.push_back({std::string("setoption name ") + accepted, ""});
  std::string input;
  Lines expected;
  for (const auto& [line, reply] : cases) {
    input += line + '\n';
    if (!reply.empty()) expected.push_back(reply);
  }
  expected.push_back("readyok");
  EXPECT_EQ(afterPreamble(input + "isready\n"), expected);
}

TEST(UciTranscript, PositionMessagesBadMovesAndPerft) {
  // A bad move keeps the moves before it: 1.e4 e5 (29 replies), then 1.e4 (20).
  const std::string bad = "info string position: Ungültiger Zug:  ";
  const std::string noNumber = "info string 'position Chess960' ohne Nummer";
  const std::string noStart = "info string 'position' ohne 'startpos' und ohne 'fen'";
  const std::string noDepth = "info string perft ohne depth";
  EXPECT_EQ(afterPreamble(lines({"position startpos moves e2e4 e7e5 g1f9 b8c6", "perft depth 1",
                                 "position startpos moves e2e4 e7", "perft depth 1", "position startpos moves e2e5",
                                 "position startpos moves e7e8q", "position startpos moves e2e4e",
                                 "position startpos moves O-O", "position Chess960", "position Chess960 x",
                                 "position nothing", "position", "position startpos", "perft depth 3",
                                 "perft depth 3 Hash 1", "perft", "perft depth", "perft depth x", "perft depth 0",
                                 "perft depth -2",
                                 // The counting table, with castling and Chess960 keys.
                                 "position fen r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
                                 "perft depth 4 Hash 2",
                                 "position fen qbbnrnkr/pppppppp/8/8/8/8/PPPPPPPP/QBBNRNKR w KQkq - 0 1",
                                 "perft depth 4 Hash 2"})),
            Lines({bad + "g1f9", "info depth 1 time _ nodes 29", bad + "e7", "info depth 1 time _ nodes 20",
                   bad + "e2e5", bad + "e7e8q", bad + "e2e4e", bad + "O-O", noNumber, noNumber, noStart, noStart,
                   "info depth 3 time _ nodes 8902", "info depth 3 time _ nodes 8902", noDepth, noDepth, noDepth,
                   "info depth 0 time _ nodes 0", "info depth -2 time _ nodes 0", "info depth 4 time _ nodes 4085603",
                   "info depth 4 time _ nodes 201178"}));
}

// A refused FEN keeps the position before it (1.e4 e5: 29 replies).
TEST(UciTranscript, BadFenKeepsThePreviousPosition) {
  const char* badFens[] = {
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNX w KQkq - 0 1",    // unknown piece letter
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNRR w KQkq - 0 1",   // nine files
      "rnbqkbnr/pppppppp/9/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",    // nine empty squares
      "rnbqkbnr/pppppppp/8/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",  // nine ranks
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP w KQkq - 0 1",             // seven ranks
      "qqqqkqqq/qqqqqqqq/qqqqqqqq/8/8/QQQQQQQQ/QQQQQQQQ/QQQQKQQQ w - - 0 1",  // too many pieces
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR x KQkq - 0 1",    // side to move
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq e9 0 1",   // en-passant square
      "8/8/8/8/8/8/8/8 w - - 0 1",                                    // no kings
      "4k3/8/8/8/8/8/8/4K2R",                                         // ends inside the FEN
      "",
  };
  std::string input;
  Lines expected;
  for (const char* fen : badFens) {
    input += "position startpos moves e2e4 e7e5\nposition fen " + std::string(fen) + "\nperft depth 1\n";
    expected.push_back(std::string("info string position: Ungültiger FEN-String:  ") + fen);
    expected.push_back("info depth 1 time _ nodes 29");
  }
  EXPECT_EQ(afterPreamble(input), expected);
}

TEST(UciTranscript, MovesLeadToTheSamePositionAsItsFen) {
  struct Pair {
    const char* moves;
    const char* fen;
  };
  const Pair pairs[] = {
      {"position startpos moves e2e4 e7e5 g1f3",
       "position fen rnbqkbnr/pppp1ppp/8/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq - 1 2"},
      {"position fen 4k3/P7/8/8/8/8/8/4K3 w - - 0 1 moves a7a8q", "position fen Q3k3/8/8/8/8/8/8/4K3 b - - 0 1"},
      {"position fen r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1 moves e1g1 e8c8",
       "position fen 2kr3r/8/8/8/8/8/8/R4RK1 w - - 2 2"},
      // Castling tokens, including the five-letter one.
      {"position startpos moves e2e4 e7e5 g1f3 b8c6 f1c4 g8f6 O-O",
       "position fen r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQ1RK1 b kq - 5 4"},
      {"position fen 1r2k1r1/pppppppp/8/8/8/8/PPPPPPPP/1R2K1R1 w GBgb - 0 1 moves O-O-O O-O-O",
       "position fen 2kr2r1/pppppppp/8/8/8/8/PPPPPPPP/2KR2R1 w - - 2 2"},
      // Castling with digit zeros; the move after it is still played.
      {"position fen r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1 moves 0-0-0 0-0 c1b1",
       "position fen r4rk1/8/8/8/8/8/8/1K1R3R b - - 3 2"},
      {"position Chess960 518", "position startpos"},
      {"position Chess960 1478", "position startpos"},  // numbers count modulo 960
      // With UCI_Chess960 on, the O-O texts are still read.
      {"setoption name UCI_Chess960 value true\n"
       "position fen 1r2k1r1/pppppppp/8/8/8/8/PPPPPPPP/1R2K1R1 w GBgb - 0 1 moves O-O",
       "position fen 1r2k1r1/pppppppp/8/8/8/8/PPPPPPPP/1R3RK1 b gb - 1 1"},
  };
  std::string input;
  for (const Pair& pair : pairs) input += std::string(pair.moves) + "\nperft depth 2\n" + pair.fen + "\nperft depth 2\n";
  const Lines out = afterPreamble(input);
  ASSERT_EQ(out.size(), 2 * std::size(pairs));
  for (std::size_t i = 0; i < std::size(pairs); ++i) {
    EXPECT_EQ(out[2 * i], out[2 * i + 1]) << pairs[i].moves;
    EXPECT_TRUE(startsWith(out[2 * i], "info depth 2 time _ nodes ")) << out[2 * i];
  }
}

}  // namespace
}  // namespace korvane::testing
