// The xboard conversation through the built engine, line for line as a GUI
// sees it: hand-shake, replies and error texts, game ends, the settings file,
// and bursts of input far larger than the command queue.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "../protocol/engine_process.h"

namespace korvane::testing {
namespace {

using Lines = std::vector<std::string>;

// A directory under /tmp, with a settings file when `settings` is not empty.
struct ScratchDir {
  std::string path;
  explicit ScratchDir(const std::string& settings = "") {
    char name[] = "/tmp/korvane-xboard-XXXXXX";
    path = mkdtemp(name) ? name : "/nonexistent";
    if (!settings.empty()) std::ofstream(path + "/Korvane.ini", std::ios::binary) << settings;
  }
  ~ScratchDir() { std::filesystem::remove_all(path); }
};

// The engine run in a scratch directory, after "xboard" and "protover 2".
struct Session : ScratchDir, InteractiveEngine {
  explicit Session(const std::string& settings, const std::string& binary = KORVANE_BINARY)
      : ScratchDir(settings), InteractiveEngine({}, path, binary) {
    send("xboard");
    send("protover 2");
  }
};

const std::string NO_BOOK = "setoption name OwnBook value false\n";
const std::string MORLAN = "Error (Nicht jetzt, nicht schon wieder Du!): internal error";
const Lines HANDSHAKE = {"", "feature done=0", "feature myname=\"Korvane 2.0\"", "feature ping=1", "feature setboard=1",
                         "feature playother=1", "feature usermove=1", "feature sigint=0",
                         "feature variants=\"normal,fischerandom\"", "feature colors=0", "feature ics=0",
                         "feature name=1"};

bool isMove(const std::string& line) { return startsWith(line, "move "); }
Lines after(const Lines& seen, std::size_t first) { return Lines(seen.begin() + std::ptrdiff_t(first), seen.end()); }

TEST(XboardTranscript, RepliesErrorsAndGameEnds) {
  // Each row starts with "new" and "force"; its lines are all the engine
  // prints in reply, up to the answer to a closing "ping".
  const std::pair<Lines, Lines> rows[] = {
      {{"rejected san", "frobnicate", "level 40 5", "level 40 5 0 20", "level 40 x 0", "st x", "sd", "time x",
        "setboard garbage here", "usermove e2e5", "usermove", "usermove xyzzy123", "  "},
       {"Error (not implemented): rejected san", "Error (unknown command): frobnicate",
        "Error (bad parameters): level 40 5", "Error (bad parameters): level 40 5 0 20",
        "Error (bad parameters): level 40 x 0", "Error (bad parameters): st x", "Error (bad parameters): sd",
        "Error (bad parameters): time x", "Error (Illegal position): garbage here", "Illegal move: e2e5  ",
        "Illegal move:       ", "Illegal move: xyzzy1"}},
      // A refused position leaves the game at the start, White to move.
      {{"usermove e2e4", "setboard 8/8/8/8/8/8/8/8 w - - 0 1", "usermove e7e5", "usermove e2e4"},
       {"Error (Illegal position): 8/8/8/8/8/8/8/8 w - - 0 1", "Illegal move: e7e5  "}},
      // "undo" takes back one ply, "remove" two: back to the set-up position, Black to move.
      {{"setboard r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 3 20", "usermove e8c8", "usermove a1a8", "undo", "usermove e1g1",
        "remove", "usermove e1g1", "usermove e8g8"},
       {"Illegal move: e1g1  "}},
      // A dead position is not claimed (GUIs refute the claim); the game
      // ends by repetition as in any other position.
      {{"setboard 4k3/8/8/1p1p1p1p/1P1P1P1P/8/8/4K3 w - - 0 1", "usermove e1d2", "usermove e8d7", "usermove d2e1",
        "usermove d7e8", "usermove e1d2", "usermove e8d7", "usermove d2e1", "usermove d7e8"},
       {"1/2-1/2 {Draw by repetition}"}},
      // Only the black king guards d5, and it can be driven off: not dead.
      {{"setboard 8/5K2/2k5/1p1p4/1P1P4/8/8/8 w - - 0 1", "usermove f7e7"}, {}},
      {{"setboard 7k/8/8/8/8/8/1q6/K7 w - - 0 1", "usermove a1b2"}, {"1/2-1/2 {Insufficient material}"}},
      {{"setboard 7k/8/8/8/8/8/R7/K7 w - - 99 80", "usermove a2b2"}, {"1/2-1/2 {Draw by 50 move rule}"}},
      // "go" without a legal move answers with the result.
      {{"setboard rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3", "go"}, {"0-1 {Black mates}"}},
      {{"setboard R5k1/5ppp/8/8/8/8/8/6K1 b - - 0 1", "go"}, {"1-0 {White mates}"}},
      {{"setboard 7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", "go"}, {"1/2-1/2 {Stalemate}"}},
      // Castling in both spellings; the king moves after it show where the
      // kings went. A right already used is refused.
      {{"setboard r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "usermove O-O-O", "usermove 0-0", "usermove c1b1",
        "usermove g8g7", "usermove O-O"},
       {"Illegal move: O-O   "}},
      {{"ping 123456789012345678901234567890"}, {"pong 123456789012345678901234567890"}},
  };
  Session engine("");  // no settings file here, nor beside the engine
  ASSERT_TRUE(engine.readLine("feature done=1", 10000));
  Lines expected = HANDSHAKE;
  expected.insert(expected.end(), {"Error (file 'Korvane.ini' not found): protover", "feature done=1"});
  EXPECT_EQ(engine.seen, expected);
  // The missing book is reported at the first new game only.
  for (int game = 0; game < 3; ++game) {
    for (const char* command : {"new", "sd 1", "usermove e2e4"}) engine.send(command);
    ASSERT_TRUE(engine.readUntil(isMove, 20000));
  }
  Lines errors;
  for (const std::string& line : after(engine.seen, expected.size()))
    if (startsWith(line, "Error")) errors.push_back(line);
  EXPECT_EQ(errors, Lines{"Error (Opening book read error): internal error"});
  int pings = 0;
  for (const auto& [commands, replies] : rows) {
    SCOPED_TRACE(commands[0]);
    engine.send("new\nforce");
    for (const std::string& command : commands) engine.send(command);
    engine.send("ping " + std::to_string(++pings));
    const std::size_t before = engine.seen.size();
    ASSERT_TRUE(engine.readLine("pong " + std::to_string(pings), 10000));
    EXPECT_EQ(Lines(engine.seen.begin() + std::ptrdiff_t(before), engine.seen.end() - 1), replies);
  }
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(10000), 0);
}

TEST(XboardTranscript, CommandsBeforeProtover2EndTheRun) {
  for (const std::string first : {"new", "protover 1"}) {
    InteractiveEngine engine;
    engine.send("xboard\n" + first + "\nprotover 2\ngo");
    EXPECT_EQ(engine.waitExit(10000), 0) << first << ": the engine ends without waiting for input to end";
    engine.drain(100);
    EXPECT_EQ(engine.seen, (Lines{"", "Error (protocol version 2 required): " + (first == "new" ? first : "1")}));
  }
}

TEST(XboardTranscript, SettingsFileInTheWorkingDirectoryElseBesideTheProgram) {
  ScratchDir programDir("setoption name Hash value 0\n");
  const std::string binary = programDir.path + "/korvane";
  std::filesystem::copy_file(KORVANE_BINARY, binary);
  const std::string badHash = "Error (Unzulässiger Wert für 'Hash'): setoption name Hash value 0";
  // Saved with a byte-order mark and Windows line ends; only lines that start
  // with "setoption " count. Without a file in the working directory, the
  // one beside the program counts.
  const std::pair<std::string, Lines> runs[] = {
      {"\xEF\xBB\xBFsetoption name Bogus value 1\r\n# settings\r\nSetoption name Hash value 8\r\n"
       "   setoption name Hash value 0\r\nsetoption name Hash value 0\r\n",
       {"feature done=1", "Error ('setoption': unbekannte Option): setoption name Bogus value 1", badHash, MORLAN}},
      {"", {"feature done=1", badHash, MORLAN}}};
  for (const auto& [settings, errors] : runs) {
    Session engine(settings, binary);
    engine.send("name Morlan");  // queued behind the settings, so its error comes last
    ASSERT_TRUE(engine.readLine(MORLAN, 10000));
    EXPECT_EQ(after(engine.seen, HANDSHAKE.size()), errors);
  }
}

TEST(XboardTranscript, PingIsAnsweredWhileCommandsWaitAndQuitRunsThemFirst) {
  // With "blocking" the queue's worker runs the search itself, so every
  // command sent during the search waits behind it; "ping" does not.
  Session engine(NO_BOOK + "setoption name blocking value true\n");
  for (const char* command : {"new", "st 1", "go", "name Morlan", "ping 5"}) engine.send(command);
  std::string line;
  ASSERT_TRUE(engine.readUntil(
      [](const std::string& l) { return l == "pong 5" || isMove(l) || startsWith(l, "Error"); }, 10000, &line));
  EXPECT_EQ(line, "pong 5");
  ASSERT_TRUE(engine.readUntil(isMove, 10000));
  ASSERT_TRUE(engine.readLine(MORLAN, 10000));
  // Sent at once: the name is still queued when "quit" arrives and runs
  // before the end; the "ping" after "quit" is not read.
  const std::size_t before = engine.seen.size();
  engine.send("new\nvariant fischerandom\nname Morlan\nquit\nping 99");
  EXPECT_EQ(engine.waitExit(10000), 0) << "quit ends the run with standard input still open";
  engine.drain(100);
  EXPECT_EQ(after(engine.seen, before), Lines{MORLAN});
}

TEST(XboardTranscript, BurstOfMovesAndUndosEndsInAnalysisOfTheLastPosition) {
  // 500 lines sent at once, far more than the queue has slots: every move
  // in analysis mode posts five commands. The game is the scholar's mate up
  // to the mating move, with a move and its undo repeated before each ply.
  Session engine(NO_BOOK);
  std::string burst = "new\nforce\npost\nanalyze";
  const char* game[] = {"e2e4", "e7e5", "f1c4", "b8c6", "d1h5", "g8f6", nullptr};
  for (int ply = 0;; ++ply) {
    for (int i = 0; i < (game[ply] ? 41 : 1); ++i) burst += ply % 2 ? "\nusermove a7a6\nundo" : "\nusermove a2a3\nundo";
    if (!game[ply]) break;
    burst += std::string("\nusermove ") + game[ply];
  }
  // Once "ping" is answered every line before it has been handled, and the
  // analysis that runs is the last one started: mate in one, "depth score
  // time nodes", an empty field for the move pondered on, the line.
  engine.send(burst + "\nping 1");
  ASSERT_TRUE(engine.readLine("pong 1", 60000));
  const std::regex mateInOne("[0-9]+ 32766 [0-9]+ [0-9]+  h5f7");
  ASSERT_TRUE(engine.readUntil([&](const std::string& l) { return std::regex_match(l, mateInOne); }, 60000));
  engine.send("hint");
  std::string line;
  ASSERT_TRUE(engine.readUntil([](const std::string& l) { return startsWith(l, "Hint: "); }, 10000, &line));
  EXPECT_EQ(line, "Hint: h5f7");
  engine.send("exit");
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(10000), 0);
  for (const std::string& l : engine.seen) EXPECT_TRUE(!startsWith(l, "Error") && !startsWith(l, "Illegal")) << l;
}

TEST(XboardTranscript, BurstOfNamesBeforeAMoveStillGetsTheMove) {
  // Clearing a 64 MiB table for the new game keeps the queue busy while the
  // names pour in.
  Session engine(NO_BOOK + "setoption name Hash value 64\n");
  std::string burst = "new";
  for (int i = 0; i < 300; ++i) burst += "\nname Player" + std::to_string(i);
  engine.send(burst + "\nsd 2\nusermove e2e4");
  ASSERT_TRUE(engine.readUntil(isMove, 30000));
  // Input ends while the engine thinks on a clock: it ends quietly.
  for (const char* command : {"hard", "level 0 5 0", "usermove d2d4"}) engine.send(command);
  EXPECT_EQ(engine.finish(10000), 0);
  for (const std::string& l : engine.seen) EXPECT_TRUE(!startsWith(l, "Error") && !startsWith(l, "Illegal")) << l;
}

}  // namespace
}  // namespace korvane::testing
