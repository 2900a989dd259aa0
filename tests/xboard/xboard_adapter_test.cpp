// The xboard adapter in-process: the UCI lines it posts, the lines it prints,
// its game, clock, draw offers and resignation. The search is played by the
// test, which hands moves back the way the search thread does.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "board/notation.h"
#include "protocol/xboard_adapter.h"
#include "protocol/xboard_output.h"
#include "search/engine.h"
#include "search/time_control.h"

namespace korvane {
namespace {

using Lines = std::vector<std::string>;

class RecordingXboardOutput final : public XboardOutput {
 public:
  using XboardOutput::XboardOutput;
  Lines take() {
    std::lock_guard<std::mutex> guard(mutex_);
    Lines result;
    result.swap(lines_);
    return result;
  }

 protected:
  void write(std::string_view text) override {
    std::lock_guard<std::mutex> guard(mutex_);
    lines_.emplace_back(text);
  }

 private:
  std::mutex mutex_;
  Lines lines_;
};

// Keeps the posted lines. Of their effects it plays only the switching of
// output, which the adapter relies on.
class RecordingSink final : public CommandSink {
 public:
  RecordingSink(Lines& posts, EngineOutput& output) : posts_(posts), output_(output) {}
  bool post(std::string_view command) override {
    posts_.emplace_back(command);
    if (command == "setoption name NoOutput value true") output_.setNoOutput(true);
    if (command == "setoption name NoOutput value false") output_.setNoOutput(false);
    return true;
  }
  bool postWaiting(std::string_view command) override { return post(command); }
  void waitForRoom(int, int) override {}
  void waitUntilIdle() override {}

 private:
  Lines& posts_;
  EngineOutput& output_;
};

// "%16.0f" of a whole number, as the go commands write their clocks.
std::string f16(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%16.0f", value);
  return text;
}

std::string clockGo(double time, double increment, int movesToGo = 0, bool ponder = false) {
  std::string go = "go wtime " + f16(time) + " btime " + f16(time) + " winc " + f16(increment) + " binc " +
                   f16(increment);
  if (movesToGo > 0) go += " movestogo " + std::to_string(movesToGo);
  if (ponder) go += " ponder";
  return go;
}

const Lines QUIET_STOP = {"setoption name NoOutput value true", "stop", "setoption name NoOutput value false"};

Lines concat(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class XboardAdapterTest : public ::testing::Test {
 protected:
  XboardAdapterTest()
      : engine_(std::make_unique<Engine>()),
        output_(*engine_, timeControl_),
        adapter_(std::make_unique<XboardAdapter>(output_, std::make_unique<RecordingSink>(posts_, output_))) {
    output_.setAdapter(adapter_.get());
    send("xboard");
    send("protover 2");
    output_.take();
    posts_.clear();
  }

  void send(const std::string& line) { adapter_->handleLine(line.c_str()); }
  Lines posts() {
    Lines result;
    result.swap(posts_);
    return result;
  }
  Lines printed() { return output_.take(); }

  // The search hands back its move, as the search thread would after a
  // search of the adapter's current game position.
  void engineMoves(const std::string& best, int score, const std::string& ponder = "", int rootMoves = 20) {
    engine_->game = adapter_->game();
    output_.takeSnapshot();
    Position pos = adapter_->game().position;
    Move bestMove, ponderMove;
    ASSERT_TRUE(parseMove(pos, best, true, bestMove)) << best;
    if (!ponder.empty()) {
      MoveUndo undo;
      saveState(undo, pos);
      makeMove(pos, bestMove, undo);
      ASSERT_TRUE(parseMove(pos, ponder, true, ponderMove)) << ponder;
    }
    engine_->rootScore = score;
    engine_->rootMoveCount = rootMoves;
    output_.reportBestMove(bestMove, ponderMove);
  }

  Lines posts_;
  std::unique_ptr<Engine> engine_;
  TimeControl timeControl_;
  RecordingXboardOutput output_;
  std::unique_ptr<XboardAdapter> adapter_;
};

TEST(XboardScore, CentipawnsAndMates) {
  const std::pair<int, int> cases[] = {{999998, 32765}, {-999997, -32764}, {1, 0},     {-1, 0},
                                       {25, 3},         {-11, -2},         {900000, 90000}};
  for (const auto& [score, expected] : cases) EXPECT_EQ(xboardScore(score), expected) << score;
}

TEST(XboardLevel, ParsesOneToThreePeriods) {
  TimeControlPeriods p;
  ASSERT_TRUE(parseLevel("40 5 0", p));
  EXPECT_EQ(p[0].moves, 40);
  EXPECT_EQ(p[0].baseMs, 300000.0);
  EXPECT_EQ(p[0].incrementMs, 0.0);
  EXPECT_EQ(p[1].moves, -1);
  EXPECT_EQ(p[2].moves, -1);

  ASSERT_TRUE(parseLevel("0 2:30 5", p));
  EXPECT_EQ(p[0].moves, 0);
  EXPECT_EQ(p[0].baseMs, 150000.0);
  EXPECT_EQ(p[0].incrementMs, 5000.0);

  ASSERT_TRUE(parseLevel("0 0:10 0.1", p));
  EXPECT_EQ(p[0].baseMs, 10000.0);
  EXPECT_DOUBLE_EQ(p[0].incrementMs, 100.0);

  ASSERT_TRUE(parseLevel("40 120 0 20 60 0 10 30 1", p));
  EXPECT_EQ(p[1].moves, 20);
  EXPECT_EQ(p[1].baseMs, 3600000.0);
  EXPECT_EQ(p[2].moves, 10);
  EXPECT_EQ(p[2].incrementMs, 1000.0);

  // Two fields, five fields, words where numbers belong: refused, nothing changed.
  for (const char* bad : {"40 5", "40 5 0 20 60", "", "x 5 0", "40 five 0", "40 5 -1", "40 1:x 0", "-3 5 0"}) {
    TimeControlPeriods q;
    ASSERT_TRUE(parseLevel("40 5 0", q));
    EXPECT_FALSE(parseLevel(bad, q)) << bad;
    EXPECT_EQ(q[0].moves, 40) << bad;
  }
}

TEST(XboardLevel, PeriodWalkAndIncrements) {
  // After `moves` moves: the period in force, its moves to go, and the time
  // the next move earns (-1: not checked).
  struct Case {
    const char* level;
    int moves, index, movesToGo;
    double increment;
  };
  const Case cases[] = {
      // Sudden death: always period 0, no moves to go, the increment each move.
      {"0 2:30 5", 0, 0, 0, -1},
      {"0 2:30 5", 77, -1, -1, 5000},
      // One repeating period of 40 moves: the 40th earns the next 5 minutes.
      {"40 5 0", 0, -1, 40, -1},
      {"40 5 0", 38, -1, -1, 0},
      {"40 5 0", 39, -1, 1, 300000},
      {"40 5 0", 40, -1, 40, -1},
      {"40 5 0", 79, -1, -1, 300000},
      // 40 moves in 120 minutes, then 20 moves in 60 minutes, repeating.
      {"40 120 0 20 60 0", 10, 0, 30, -1},
      {"40 120 0 20 60 0", 38, -1, -1, 0},
      {"40 120 0 20 60 0", 39, -1, -1, 3600000},
      {"40 120 0 20 60 0", 40, 1, 20, -1},
      {"40 120 0 20 60 0", 58, -1, -1, 0},
      {"40 120 0 20 60 0", 59, -1, -1, 3600000},
      {"40 120 0 20 60 0", 65, 1, 15, -1},
      {"40 120 0 20 60 0", 79, -1, -1, 3600000},
      // Three periods, the last one sudden death with an increment; completing
      // period 1 earns period 2's base.
      {"2 1 0 3 1 0 0 1 2", 1, 0, -1, -1},
      {"2 1 0 3 1 0 0 1 2", 4, 1, 1, 60000},
      {"2 1 0 3 1 0 0 1 2", 5, 2, 0, -1},
      {"2 1 0 3 1 0 0 1 2", 9, -1, -1, 2000},
  };
  for (const Case& c : cases) {
    TimeControlPeriods p;
    ASSERT_TRUE(parseLevel(c.level, p)) << c.level;
    const PeriodChoice choice = currentPeriod(p, c.moves);
    if (c.index >= 0) { EXPECT_EQ(choice.index, c.index) << c.level << " after " << c.moves; }
    if (c.movesToGo >= 0) { EXPECT_EQ(choice.movesToGo, c.movesToGo) << c.level << " after " << c.moves; }
    if (c.increment >= 0) { EXPECT_EQ(incrementAfterMove(p, c.moves), c.increment) << c.level << " after " << c.moves; }
  }
}

TEST_F(XboardAdapterTest, NewSendsTheGameStartAndGoThinks) {
  send("new");
  EXPECT_EQ(posts(), concat(QUIET_STOP, {"position startpos", "setoption name UCI_Chess960 value false",
                                         "setoption name Clear Hash value true", "ucinewgame"}));
  send("go");
  EXPECT_EQ(posts(), (Lines{"position startpos", clockGo(300000, 0)}));
  send("force");
  send("time 1234");
  send("level 40 5 0");  // resets the clock to the period's base
  send("time 1234");
  send("go");
  EXPECT_EQ(posts(), concat(QUIET_STOP, {"position startpos", clockGo(12340, 0, 40)}));
  send("force");
  send("st 5");
  send("go");
  EXPECT_EQ(posts(), concat(QUIET_STOP, {"position startpos", "go movetime       5000"}));
  send("force");
  send("sd 7");
  send("go");
  EXPECT_EQ(posts(), concat(QUIET_STOP, {"position startpos", "go depth 7"}));
  EXPECT_TRUE(printed().empty());
}

TEST_F(XboardAdapterTest, UserMovesEngineMovesAndIllegalMoves) {
  send("new");
  send("level 0 0:10 0.1");
  posts();
  send("usermove e2e5");  // its reply is in the transcript: nothing posted, nothing played
  EXPECT_TRUE(posts().empty());
  EXPECT_EQ(adapter_->moveList(), "");
  printed();

  send("usermove e2e4");
  EXPECT_EQ(posts(), (Lines{"position startpos moves e2e4  ", clockGo(10000, 100)}));
  engineMoves("e7e5", -20);
  EXPECT_EQ(printed(), Lines{"move e7e5"});
  EXPECT_EQ(adapter_->moveList(), "e2e4  e7e5  ");
  EXPECT_TRUE(posts().empty()) << "no pondering without 'hard'";
  // The increment was added and the time used taken off.
  EXPECT_GT(adapter_->ownClock(), 10000 - 1000);
  EXPECT_LE(adapter_->ownClock(), 10100);

  // Castling and promotion tokens keep their text.
  send("force");
  send("setboard 4k3/1P6/8/8/8/8/8/4K2R w K - 0 1");
  send("usermove e1g1");
  send("usermove e8d7");
  send("usermove b7b8q");
  EXPECT_EQ(adapter_->moveList(), "e1g1  e8d7  b7b8q ");
}

TEST_F(XboardAdapterTest, StaleSearchResultsAreNotPrinted) {
  send("new");
  send("usermove e2e4");
  send("force");  // the search is being stopped: its move must not appear
  engineMoves("e7e5", 0);
  EXPECT_TRUE(printed().empty());
  EXPECT_EQ(adapter_->moveList(), "e2e4  ");

  send("go");
  send("usermove d7d5");  // the game moves on before the first search reports
  engineMoves("d2d4", 0);  // searched from the new position: wanted
  EXPECT_EQ(printed(), Lines{"move d2d4"});
  // A late result of a search from an older position is dropped.
  send("usermove g8f6");
  engine_->game.setPosition(nullptr);
  output_.takeSnapshot();
  output_.reportBestMove(Move(52, 36, PAWN), Move());
  EXPECT_TRUE(printed().empty());
}

TEST_F(XboardAdapterTest, DrawOffersNeedFourLevelScores) {
  send("new");
  const char* user[] = {"g1f3", "b1c3", "e2e3", "d2d3", "f1e2"};
  const char* reply[] = {"g8f6", "b8c6", "e7e6", "d7d6", "f8e7"};
  // Three moves scored level: not enough yet, even with a draw offered.
  for (int i = 0; i < 3; ++i) {
    send(std::string("usermove ") + user[i]);
    if (i == 2) send("draw");
    engineMoves(reply[i], 0);
  }
  EXPECT_EQ(printed(), (Lines{"move g8f6", "move b8c6", "move e7e6"}));
  // The fourth: the offer of move three is still open, and is accepted.
  send(std::string("usermove ") + user[3]);
  engineMoves(reply[3], 1);
  EXPECT_EQ(printed(), (Lines{"offer draw", "move d7d6"}));
  // A new offer while the engine thinks it stands better (+5 cp) is declined.
  send(std::string("usermove ") + user[4]);
  send("draw");
  engineMoves(reply[4], 50);
  EXPECT_EQ(printed(), Lines{"move f8e7"});
  send("undo");
  EXPECT_EQ(adapter_->moveList().size(), 10u * XboardAdapter::TOKEN) << "undo only in force mode";
}

TEST_F(XboardAdapterTest, ResignsAfterFourLostScores) {
  send("new");
  const char* user[] = {"e2e4", "d1h5", "f1c4", "h5f7"};
  const char* reply[] = {"a7a6", "a6a5", "a5a4"};
  for (int i = 0; i < 3; ++i) {
    send(std::string("usermove ") + user[i]);
    engineMoves(reply[i], -8000 - i);
  }
  send("usermove b1c3");
  engineMoves("b7b6", -9000);
  EXPECT_EQ(printed(), (Lines{"move a7a6", "move a6a5", "move a5a4", "move b7b6", "resign"}));
}

TEST_F(XboardAdapterTest, PonderingOnTheExpectedReply) {
  send("new");
  send("hard");
  send("level 0 1 0");
  send("usermove e2e4");
  posts();
  engineMoves("e7e5", 0, "g1f3");
  EXPECT_EQ(printed(), Lines{"move e7e5"});
  EXPECT_TRUE(adapter_->ponderingNow());
  const Lines ponder = posts();
  ASSERT_EQ(ponder.size(), 2u);
  EXPECT_EQ(ponder[0], "position startpos moves e2e4  e7e5  g1f3  ");
  EXPECT_EQ(ponder[1].substr(0, 9), "go wtime ");
  EXPECT_NE(ponder[1].find(" ponder"), std::string::npos);
  send("hint");
  EXPECT_EQ(printed(), Lines{"Hint: g1f3"});
  send("?");  // no move now while pondering
  EXPECT_TRUE(posts().empty());

  // The predicted reply: the running search goes on.
  send("usermove g1f3");
  EXPECT_EQ(posts(), Lines{"ponderhit"});
  EXPECT_FALSE(adapter_->ponderingNow());
  engineMoves("b8c6", 0, "f1b5");
  EXPECT_EQ(printed(), Lines{"move b8c6"});
  posts();

  // Another reply: the ponder search is stopped and a new one started.
  send("usermove d2d4");
  EXPECT_EQ(posts(), concat(QUIET_STOP, {"position startpos moves e2e4  e7e5  g1f3  b8c6  d2d4  ",
                                         clockGo(double(adapter_->ownClock()), 0)}));

  // "easy" stops pondering; with a fixed depth the engine does not ponder.
  engineMoves("e5d4", 0, "f3d4");
  EXPECT_TRUE(adapter_->ponderingNow());
  posts();
  send("easy");
  EXPECT_EQ(posts(), QUIET_STOP);
  EXPECT_FALSE(adapter_->ponderingNow());
  send("hard");
  send("sd 4");
  send("usermove f3d4");
  posts();
  engineMoves("g8f6", 0, "b1c3");
  EXPECT_FALSE(adapter_->ponderingNow());
  EXPECT_TRUE(posts().empty());
}

TEST_F(XboardAdapterTest, SetboardUndoAndRemove) {
  send("new");
  send("force");
  posts();
  send("setboard 8/8/8/8/8/8/8/8 w - - 0 1");
  EXPECT_EQ(printed(), Lines{"Error (Illegal position): 8/8/8/8/8/8/8/8 w - - 0 1"});
  send("go");
  EXPECT_EQ(posts(), concat(QUIET_STOP, {"position startpos", clockGo(300000, 0)}));

  send("force");
  send("setboard r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 3 20 trailing words");
  send("usermove e8c8");
  send("usermove a1a8");
  EXPECT_EQ(adapter_->moveList(), "e8c8  a1a8  ");
  send("undo");
  EXPECT_EQ(adapter_->moveList(), "e8c8  ");
  send("usermove e1g1");
  send("remove");
  EXPECT_EQ(adapter_->moveList(), "");
  send("usermove e8g8");
  posts();
  send("go");
  EXPECT_EQ(posts(), (Lines{"position fen r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 3 20 moves e8g8  ", clockGo(300000, 0)}));
  send("remove");
  EXPECT_EQ(adapter_->moveList(), "");
  EXPECT_EQ(positionToFen(adapter_->game().position), "r3k2r/8/8/8/8/8/8/R3K2R b KQkq -");
  EXPECT_TRUE(printed().empty());
}

TEST_F(XboardAdapterTest, ThinkingLinesAndErrors) {
  send("new");
  send("usermove e2e4");
  engine_->game = adapter_->game();
  output_.takeSnapshot();
  Position pos = adapter_->game().position;
  Move best;
  ASSERT_TRUE(parseMove(pos, "e7e5", true, best));
  engine_->setBestMove(best);
  engine_->iterationDepth = 0;
  engine_->firstIteration = true;
  engine_->nodes = 42;
  timeControl_.startClock();
  output_.reportIteration(*engine_, 25, -100, 100);
  Lines lines = printed();
  ASSERT_EQ(lines.size(), 1u);
  // depth, score, centiseconds, nodes, the (empty) ponder field, the line.
  EXPECT_TRUE(lines[0] == "1 3 0 42  e7e5" || lines[0] == "1 3 1 42  e7e5") << lines[0];
  send("nopost");
  output_.reportIteration(*engine_, 25, -100, 100);
  EXPECT_TRUE(printed().empty());

  output_.debugMessage("Opening book read error", nullptr);
  output_.debugMessage("position: Ungültiger Zug: ", "e9e9");
  EXPECT_EQ(printed(), (Lines{"Error (Opening book read error): internal error",
                              "Error (position: Ungültiger Zug: ): e9e9"}));
}

}  // namespace
}  // namespace korvane
