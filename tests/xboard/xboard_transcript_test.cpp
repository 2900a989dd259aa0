// The xboard conversation through the built engine: exact lines for the
// hand-shake and every error message, the settings file, commands before
// "protover 2", "ping" and "quit" with commands still queued.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "board/game_record.h"
#include "board/notation.h"
#include "xboard_process.h"

namespace korvane::xtest {
namespace {

using Lines = std::vector<std::string>;

const Lines HANDSHAKE = {"",
                         "feature done=0",
                         "feature myname=\"Korvane 2.0\"",
                         "feature ping=1",
                         "feature setboard=1",
                         "feature playother=1",
                         "feature usermove=1",
                         "feature sigint=0",
                         "feature variants=\"normal,fischerandom\"",
                         "feature colors=0",
                         "feature ics=0",
                         "feature name=1"};

Lines concat(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

bool contains(const Lines& lines, const std::string& line) {
  for (const std::string& l : lines)
    if (l == line) return true;
  return false;
}

// The lines without the first occurrence of `line`, which must be there.
Lines withoutLine(Lines lines, const std::string& line) {
  for (auto it = lines.begin(); it != lines.end(); ++it) {
    if (*it == line) {
      lines.erase(it);
      return lines;
    }
  }
  ADD_FAILURE() << "missing: " << line;
  return lines;
}

bool isMoveLine(const std::string& l) { return startsWith(l, "move "); }

// A copy of the engine binary, for starting it from another directory.
std::string copyBinary(const ScratchDir& dir) {
  const std::string target = dir.path() + "/korvane";
  std::ifstream in(KORVANE_BINARY, std::ios::binary);
  std::ofstream out(target, std::ios::binary);
  out << in.rdbuf();
  out.close();
  chmod(target.c_str(), 0755);
  return target;
}

TEST(XboardTranscript, ErrorMessagesAndTheEngineKeepsPlaying) {
  ScratchDir dir;  // no settings file here, nor beside the engine
  XboardProcess engine(dir.path());
  for (const char* line : {"xboard", "protover 2", "rejected san", "frobnicate", "level 40 5", "setboard garbage here",
                           "usermove e2e5", "usermove", "usermove xyzzy123", "  ", "ping 7"})
    engine.send(line);
  ASSERT_TRUE(engine.readLine("pong 7", 10000));
  EXPECT_EQ(engine.seen, concat(HANDSHAKE, {"Error (file 'Korvane.ini' not found): protover", "feature done=1",
                                            "Error (not implemented): rejected san",
                                            "Error (unknown command): frobnicate",
                                            "Error (bad parameters): level 40 5",
                                            "Error (Illegal position): garbage here", "Illegal move: e2e5  ",
                                            "Illegal move:       ", "Illegal move: xyzzy1", "pong 7"}));

  // After all that the engine still plays: a legal move at depth 2.
  engine.send("sd 2");
  engine.send("usermove e2e4");
  std::string line;
  ASSERT_TRUE(engine.readUntil(isMoveLine, 20000, &line));
  GameRecord game;
  Move m;
  ASSERT_TRUE(parseMove(game.position, "e2e4", true, m));
  game.playMove(m);
  EXPECT_TRUE(engineMove(line, game.position, m)) << line;
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(10000), 0);
}

TEST(XboardTranscript, CommandsBeforeProtover2EndTheRun) {
  for (const char* first : {"new", "protover 1"}) {
    XboardProcess engine;
    engine.send("xboard");
    engine.send(first);
    engine.send("protover 2");  // too late: the engine is leaving
    engine.send("go");
    EXPECT_EQ(engine.waitExit(10000), 0) << first << ": the engine ends without waiting for input to end";
    engine.drain(100);
    const std::string detail = std::string(first) == "new" ? "new" : "1";
    EXPECT_EQ(engine.seen, (Lines{"", "Error (protocol version 2 required): " + detail})) << first;
  }
}

TEST(XboardTranscript, SettingsFileInTheWorkingDirectory) {
  ScratchDir dir;
  // Saved with a byte-order mark, which is no part of the first line.
  dir.write("Korvane.ini",
            "\xEF\xBB\xBF"
            "setoption name OwnBook value false\r\n"
            "# the engine's settings\n"
            "setoption name Hash value 0\n"
            "Setoption name Hash value 8\n"
            "setoption name Bogus value 1\n"
            "   setoption name Hash value 0\n");
  XboardProcess engine(dir.path());
  engine.send("xboard");
  engine.send("protover 2");
  // The option lines run on the command queue, so their errors may come
  // before or after "feature done=1"; in their own order, and nothing else.
  engine.send("name Morlan");
  ASSERT_TRUE(engine.readLine("Error (Nicht jetzt, nicht schon wieder Du!): internal error", 10000));
  if (!contains(engine.seen, "feature done=1")) {
    ASSERT_TRUE(engine.readLine("feature done=1", 10000));
  }
  EXPECT_EQ(withoutLine(engine.seen, "feature done=1"),
            concat(HANDSHAKE, {"Error (Unzulässiger Wert für 'Hash'): setoption name Hash value 0",
                               "Error ('setoption': unbekannte Option): setoption name Bogus value 1",
                               "Error (Nicht jetzt, nicht schon wieder Du!): internal error"}));
  // With the book off, a new game starts without a book message.
  engine.send("new");
  engine.send("sd 2");
  engine.send("go");
  ASSERT_TRUE(engine.readUntil(isMoveLine, 20000));
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(10000), 0);
  for (const std::string& line : engine.seen) EXPECT_EQ(line.find("Opening book"), std::string::npos) << line;
}

TEST(XboardTranscript, SettingsFileBesideTheProgram) {
  ScratchDir programDir, workDir;
  const std::string binary = copyBinary(programDir);
  programDir.write("Korvane.ini", "setoption name Opponent value Morlan\n");
  XboardProcess engine(workDir.path(), binary);
  engine.send("xboard");
  engine.send("protover 2");
  ASSERT_TRUE(engine.readLine("Error (Nicht jetzt, nicht schon wieder Du!): internal error", 10000));
  if (!contains(engine.seen, "feature done=1")) {
    ASSERT_TRUE(engine.readLine("feature done=1", 10000));
  }
  EXPECT_EQ(withoutLine(engine.seen, "feature done=1"),
            concat(HANDSHAKE, {"Error (Nicht jetzt, nicht schon wieder Du!): internal error"}));
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(10000), 0);
}

TEST(XboardTranscript, QuitEndsAfterTheQueuedCommandsRan) {
  ScratchDir dir;
  dir.write("Korvane.ini", "setoption name OwnBook value false\n");
  XboardProcess engine(dir.path());
  ASSERT_TRUE(engine.handshake());
  // Sent at once: the name is still queued when "quit" arrives.
  engine.send("new\nvariant fischerandom\nname Morlan\nquit\nping 99");
  EXPECT_EQ(engine.waitExit(10000), 0) << "quit ends the run with standard input still open";
  engine.drain(100);
  const Lines after(engine.seen.begin() + std::ptrdiff_t(HANDSHAKE.size() + 1), engine.seen.end());
  EXPECT_EQ(after, Lines{"Error (Nicht jetzt, nicht schon wieder Du!): internal error"});
}

TEST(XboardTranscript, PingIsAnsweredWhileCommandsWait) {
  // With "blocking" the queue's worker runs the search itself, so every
  // command sent during the search waits behind it; "ping" does not.
  ScratchDir dir;
  dir.write("Korvane.ini", "setoption name OwnBook value false\nsetoption name blocking value true\n");
  XboardProcess engine(dir.path());
  ASSERT_TRUE(engine.handshake());
  engine.send("new");
  engine.send("st 1");
  engine.send("go");
  engine.send("name Morlan");
  engine.send("ping 5");
  std::string line;
  ASSERT_TRUE(engine.readUntil(
      [](const std::string& l) { return l == "pong 5" || isMoveLine(l) || startsWith(l, "Error"); }, 10000,
      &line));
  EXPECT_EQ(line, "pong 5");
  ASSERT_TRUE(engine.readUntil(isMoveLine, 10000, &line));
  ASSERT_TRUE(engine.readLine("Error (Nicht jetzt, nicht schon wieder Du!): internal error", 10000));
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(10000), 0);
}

TEST(XboardTranscript, GameEndsRepliesAndMoveTexts) {
  // Each row starts from "new" and "force"; the lines are everything the
  // engine prints in reply, up to the answer to a closing "ping".
  struct Row {
    Lines commands;
    Lines expected;
  } rows[] = {
      // A dead position is not claimed (GUIs refute the claim); the game
      // ends by repetition as in any other position.
      {{"setboard 4k3/8/8/1p1p1p1p/1P1P1P1P/8/8/4K3 w - - 0 1", "usermove e1d2", "usermove e8d7", "usermove d2e1",
        "usermove d7e8", "usermove e1d2", "usermove e8d7", "usermove d2e1", "usermove d7e8"},
       {"1/2-1/2 {Draw by repetition}"}},
      // The user's king takes the last piece; the fifty-move rule on a quiet move.
      {{"setboard 7k/8/8/8/8/8/1q6/K7 w - - 0 1", "usermove a1b2"}, {"1/2-1/2 {Insufficient material}"}},
      {{"setboard 7k/8/8/8/8/8/R7/K7 w - - 99 80", "usermove a2b2"}, {"1/2-1/2 {Draw by 50 move rule}"}},
      // Only the black king guards d5, and it can be driven off: White mates.
      {{"setboard 8/5K2/2k5/1p1p4/1P1P4/8/8/8 w - - 0 1", "usermove f7e7"}, {}},
      // "go" without a legal move answers with the result.
      {{"setboard rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3", "go"}, {"0-1 {Black mates}"}},
      {{"setboard R5k1/5ppp/8/8/8/8/8/6K1 b - - 0 1", "go"}, {"1-0 {White mates}"}},
      {{"setboard 7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", "go"}, {"1/2-1/2 {Stalemate}"}},
      // Castling in every spelling; the king moves after it show where the
      // kings went. A right already used is refused.
      {{"setboard r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "usermove 0-0-0", "usermove O-O", "usermove c1b1",
        "usermove g8g7", "usermove 0-0"},
       {"Illegal move: 0-0   "}},
      {{"setboard r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "usermove O-O-O", "usermove 0-0", "usermove c1b1",
        "usermove g8g7"},
       {}},
      // The ping argument comes back whole.
      {{"ping 123456789012345678901234567890"}, {"pong 123456789012345678901234567890"}},
  };
  ScratchDir dir;
  dir.write("Korvane.ini", "setoption name OwnBook value false\n");
  XboardProcess engine(dir.path());
  ASSERT_TRUE(engine.handshake());
  int pings = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.commands[0]);
    engine.send("new");
    engine.send("force");
    for (const std::string& command : row.commands) engine.send(command);
    const std::string pong = "pong " + std::to_string(++pings);
    engine.send("ping " + std::to_string(pings));
    const std::size_t before = engine.seen.size();
    ASSERT_TRUE(engine.readLine(pong, 10000));
    EXPECT_EQ(Lines(engine.seen.begin() + std::ptrdiff_t(before), engine.seen.end() - 1), row.expected);
  }
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(10000), 0);
}

TEST(XboardTranscript, MissingBookIsReportedOncePerSession) {
  ScratchDir dir;  // no book, no settings file
  XboardProcess engine(dir.path());
  ASSERT_TRUE(engine.handshake());
  for (int game = 0; game < 3; ++game) {
    engine.send("new");
    engine.send("sd 1");
    engine.send("go");
    ASSERT_TRUE(engine.readUntil(isMoveLine, 20000));
  }
  engine.send("ping 1");
  ASSERT_TRUE(engine.readLine("pong 1", 10000));
  int reports = 0;
  for (const std::string& line : engine.seen) reports += line == "Error (Opening book read error): internal error";
  EXPECT_EQ(reports, 1);
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(10000), 0);
}

// The first move of a thinking line's principal variation, or "".
std::string firstPvMove(const std::string& line) {
  std::istringstream in(line);
  std::string depth, score, time, nodes, move;
  in >> depth >> score >> time >> nodes >> move;
  return move;
}

TEST(XboardTranscript, BurstOfMovesAndUndosEndsInAnalysisOfTheLastPosition) {
  // 500 lines sent at once, far more than the queue has slots: every move
  // in analysis mode posts five commands. The game is the scholar's mate up
  // to the mating move, with a move and its undo repeated before each ply.
  ScratchDir dir;
  dir.write("Korvane.ini", "setoption name OwnBook value false\n");
  XboardProcess engine(dir.path());
  ASSERT_TRUE(engine.handshake());
  std::string burst = "new\nforce\npost\nanalyze";
  int lines = 0;
  const char* game[] = {"e2e4", "e7e5", "f1c4", "b8c6", "d1h5", "g8f6", nullptr};
  for (int ply = 0;; ++ply) {
    for (int i = 0; i < (game[ply] ? 41 : 1); ++i) {
      burst += ply % 2 == 0 ? "\nusermove a2a3\nundo" : "\nusermove a7a6\nundo";
      lines += 2;
    }
    if (!game[ply]) break;
    burst += std::string("\nusermove ") + game[ply];
    ++lines;
  }
  ASSERT_EQ(lines, 500);
  // Once "ping" is answered every line before it has been handled, and the
  // analysis that runs is the last one started.
  engine.send(burst + "\nping 1");
  ASSERT_TRUE(engine.readLine("pong 1", 60000));
  std::string line;
  ASSERT_TRUE(engine.readUntil([](const std::string& l) { return firstPvMove(l) == "h5f7"; }, 60000, &line))
      << "no analysis of the final position";
  engine.send("hint");
  ASSERT_TRUE(engine.readUntil([](const std::string& l) { return startsWith(l, "Hint: "); }, 10000, &line));
  EXPECT_EQ(line, "Hint: h5f7");
  engine.send("exit");
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(10000), 0);
  for (const std::string& l : engine.seen) {
    EXPECT_FALSE(startsWith(l, "Error")) << l;
    EXPECT_FALSE(startsWith(l, "Illegal")) << l;
  }
}

TEST(XboardTranscript, BurstOfNamesBeforeAMoveStillGetsTheMove) {
  // Clearing a 64 MiB table for the new game keeps the queue busy while the
  // names pour in.
  ScratchDir dir;
  dir.write("Korvane.ini", "setoption name OwnBook value false\nsetoption name Hash value 64\n");
  XboardProcess engine(dir.path());
  ASSERT_TRUE(engine.handshake());
  std::string burst = "new";
  for (int i = 0; i < 300; ++i) burst += "\nname Player" + std::to_string(i);
  engine.send(burst + "\nsd 2\nusermove e2e4");
  std::string line;
  ASSERT_TRUE(engine.readUntil(isMoveLine, 30000, &line));
  GameRecord after;
  Move m;
  ASSERT_TRUE(parseMove(after.position, "e2e4", true, m));
  after.playMove(m);
  EXPECT_TRUE(engineMove(line, after.position, m)) << line;
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(10000), 0);
  for (const std::string& l : engine.seen) EXPECT_FALSE(startsWith(l, "Error")) << l;
}

TEST(XboardTranscript, EndOfInputWhileThinkingEndsQuietly) {
  ScratchDir dir;
  dir.write("Korvane.ini", "setoption name OwnBook value false\n");
  XboardProcess engine(dir.path());
  ASSERT_TRUE(engine.handshake());
  engine.send("new");
  engine.send("hard");
  engine.send("level 0 5 0");
  engine.send("go");
  EXPECT_EQ(engine.finish(10000), 0);
}

}  // namespace
}  // namespace korvane::xtest
