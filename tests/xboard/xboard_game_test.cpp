// Complete games under xboard through the built engine. The test plays the
// other side with random legal moves, keeps the engine's clock, checks every
// move of the engine with the board code, and checks the result line the
// engine prints when the game ends.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "board/game_record.h"
#include "board/move_picker.h"
#include "board/notation.h"
#include "xboard_process.h"

namespace korvane::xtest {
namespace {

using Clock = std::chrono::steady_clock;

// How late a move may come beyond the engine's own clock before the test
// calls it a loss on time (process start-up, a loaded machine).
constexpr std::int64_t CLOCK_MARGIN_MS = 300;

// The line the engine must print when the game has ended in `game`, or "".
std::string expectedResult(GameRecord& game) {
  int result = 0;
  if (noLegalMove(game.position, &result)) {
    if (result == 0) return "1/2-1/2 {Stalemate}";
    return result > 0 ? "1-0 {White mates}" : "0-1 {Black mates}";
  }
  switch (game.drawReason()) {
    case DRAW_FIFTY_MOVES:
      return "1/2-1/2 {Draw by 50 move rule}";
    case DRAW_REPETITION:
      return "1/2-1/2 {Draw by repetition}";
    case DRAW_INSUFFICIENT:
      return "1/2-1/2 {Insufficient material}";
    default:  // a dead position is played on
      return "";
  }
}

bool isResultLine(const std::string& l) {
  return startsWith(l, "1-0 ") || startsWith(l, "0-1 ") || startsWith(l, "1/2-1/2 ");
}

// The time control the test keeps for the engine: a first period of
// `firstMoves` moves (0: the whole game), then periods of `laterMoves` moves
// each earning `laterBaseMs`.
struct EngineClock {
  bool used = false;
  std::int64_t ms = 0;
  std::int64_t incrementMs = 0;
  int firstMoves = 0;
  int laterMoves = 0;
  std::int64_t laterBaseMs = 0;

  // After the engine's move number `n` (from 1).
  void afterMove(int n) {
    ms += incrementMs;
    if (firstMoves > 0 && (n == firstMoves || (n > firstMoves && (n - firstMoves) % laterMoves == 0)))
      ms += laterBaseMs;
  }
};

enum class ReplyMode { Random, Ponder };

struct GameConfig {
  bool sendNew = true;             // false: go on with the game in `start`
  GameRecord start;
  std::vector<std::string> setup;  // after "new"
  EngineClock clock;
  bool engineFirst = false;        // the engine moves first ("go")
  int maxPlies = 160;
  int moveTimeoutMs = 20000;
  ReplyMode replies = ReplyMode::Random;
  unsigned seed = 1;
};

struct GameOutcome {
  std::string failure;  // empty when the game went well
  std::string result;   // the result line, or "" when the ply limit ended it
  int plies = 0;
  int predictedReplies = 0;
  int otherReplies = 0;
  int thinkingLines = 0;
};

class GamePlayer {
 public:
  GamePlayer(XboardProcess& engine, const GameConfig& config)
      : engine_(engine), config_(config), random_(config.seed), game_(config.start) {}

  GameOutcome play() {
    if (config_.sendNew) engine_.send("new");
    for (const std::string& line : config_.setup) engine_.send(line);
    bool engineToMove = config_.engineFirst;
    if (engineToMove) {
      sendClocks();
      started_ = Clock::now();
      engine_.send("go");
    }
    while (outcome_.failure.empty() && outcome_.result.empty() && outcome_.plies < config_.maxPlies) {
      if (engineToMove)
        engineTurn();
      else
        ourTurn();
      engineToMove = !engineToMove;
    }
    return outcome_;
  }

 private:
  void fail(const std::string& why) {
    if (outcome_.failure.empty()) outcome_.failure = why + " at ply " + std::to_string(outcome_.plies);
  }

  void sendClocks() {
    if (!config_.clock.used) return;
    engine_.send("time " + std::to_string(config_.clock.ms / 10));
    engine_.send("otim 1000");
  }

  // After a move was played: the engine must print the right result line
  // when the game is over.
  void checkEnd() {
    const std::string expected = expectedResult(game_);
    if (expected.empty()) return;
    std::string line;
    if (!engine_.readUntil(isResultLine, 5000, &line)) return fail("no result line, expected " + expected);
    if (line != expected) return fail("result '" + line + "', expected '" + expected + "'");
    outcome_.result = line;
  }

  void ourTurn() {
    Move move;
    // In the ponder game every other reply is the predicted one.
    const bool predicted = ++ourMoves_ % 2 == 0;
    if (config_.replies == ReplyMode::Ponder && !hint_.empty() && predicted) {
      if (!parseMove(game_.position, hint_, true, move)) return fail("hint " + hint_ + " is not legal");
      ++outcome_.predictedReplies;
    } else {
      std::vector<Move> moves = legalMoveList(game_.position);
      if (moves.empty()) return fail("no move for the test side");
      // Not the predicted move, so that the ponder search has to be replaced.
      std::vector<Move> others;
      for (Move m : moves)
        if (moveText(game_.position, m) != hint_) others.push_back(m);
      if (others.empty()) others = moves;
      move = others[random_() % others.size()];
      if (!hint_.empty()) ++outcome_.otherReplies;
    }
    const std::string text = moveText(game_.position, move);
    sendClocks();
    started_ = Clock::now();
    engine_.send("usermove " + text);
    game_.playMove(move);
    ++outcome_.plies;
    checkEnd();
  }

  void engineTurn() {
    std::string line;
    const auto isReply = [this](const std::string& l) {
      if (!l.empty() && l[0] >= '0' && l[0] <= '9' && !isResultLine(l)) ++outcome_.thinkingLines;
      return startsWith(l, "move ") || startsWith(l, "resign") || isResultLine(l) || startsWith(l, "Illegal") ||
             startsWith(l, "Error");
    };
    const int timeout =
        config_.clock.used ? int(config_.clock.ms + CLOCK_MARGIN_MS + 2000) : config_.moveTimeoutMs;
    if (!engine_.readUntil(isReply, timeout, &line)) return fail("no move");
    const std::int64_t used =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_).count();
    Move move;
    if (!engineMove(line, game_.position, move)) return fail("unexpected reply '" + line + "'");
    if (config_.clock.used) {
      if (used > config_.clock.ms + CLOCK_MARGIN_MS)
        return fail("move after " + std::to_string(used) + " ms with " + std::to_string(config_.clock.ms) + " ms left");
      config_.clock.ms -= used;
      if (config_.clock.ms < 0) config_.clock.ms = 0;
      config_.clock.afterMove(++engineMoves_);
    }
    game_.playMove(move);
    ++outcome_.plies;
    checkEnd();
    if (!outcome_.result.empty() || config_.replies != ReplyMode::Ponder) return;
    // The expected reply the engine ponders on, if it has one.
    hint_.clear();
    engine_.send("hint");
    engine_.send("ping " + std::to_string(++pings_));
    std::string reply;
    const std::string pong = "pong " + std::to_string(pings_);
    while (engine_.readUntil([&pong](const std::string& l) { return startsWith(l, "Hint: ") || l == pong; }, 5000,
                             &reply)) {
      if (reply == pong) break;
      hint_ = reply.substr(6);
    }
  }

  XboardProcess& engine_;
  GameConfig config_;
  std::mt19937 random_;
  GameRecord game_;
  GameOutcome outcome_;
  Clock::time_point started_;
  int engineMoves_ = 0;
  int ourMoves_ = 0;
  int pings_ = 0;
  std::string hint_;
};

// An engine started in a directory whose settings file switches the book off
// (there is none), so that no book message mixes into the game.
class XboardGame : public ::testing::Test {
 protected:
  XboardGame() { dir_.write("Korvane.ini", "setoption name OwnBook value false\n"); }

  GameOutcome play(const GameConfig& config) {
    XboardProcess engine(dir_.path());
    EXPECT_TRUE(engine.handshake());
    GameOutcome outcome = GamePlayer(engine, config).play();
    std::printf("  %d plies, %s\n", outcome.plies, outcome.result.empty() ? "ply limit" : outcome.result.c_str());
    engine.send("quit");
    EXPECT_EQ(engine.waitExit(10000), 0);
    for (const std::string& line : engine.seen) {
      EXPECT_FALSE(startsWith(line, "Error")) << line;
      EXPECT_FALSE(startsWith(line, "Illegal")) << line;
    }
    return outcome;
  }

  ScratchDir dir_;
};

TEST_F(XboardGame, SuddenDeathWithIncrement) {
  GameConfig config;
  config.setup = {"post", "level 0 0:03 0.05"};
  config.clock = {true, 3000, 50, 0, 0, 0};
  config.seed = 11;
  const GameOutcome outcome = play(config);
  EXPECT_EQ(outcome.failure, "");
  EXPECT_GT(outcome.thinkingLines, 0);
  EXPECT_GE(outcome.plies, 2);
}

TEST_F(XboardGame, EngineWhiteWithFixedTimePerMove) {
  GameConfig config;
  config.setup = {"nopost", "st 0.05"};
  config.engineFirst = true;
  config.moveTimeoutMs = 3000;
  config.seed = 12;
  const GameOutcome outcome = play(config);
  EXPECT_EQ(outcome.failure, "");
  EXPECT_EQ(outcome.thinkingLines, 0) << "nopost";
}

TEST_F(XboardGame, FixedDepth) {
  GameConfig config;
  config.setup = {"sd 3"};
  config.moveTimeoutMs = 10000;
  config.seed = 13;
  const GameOutcome outcome = play(config);
  EXPECT_EQ(outcome.failure, "");
}

TEST_F(XboardGame, TwoPeriodTimeControl) {
  // Four moves in one second, then every two moves one more second. A pawn
  // ending, so that the game lasts past several period ends.
  const char* fen = "4k3/pppp4/8/8/8/8/PPPP4/4K3 w - - 0 1";
  GameConfig config;
  ASSERT_TRUE(config.start.setFromFen(fen));
  config.setup = {std::string("setboard ") + fen, "level 4 0:01 0 2 0:01 0"};
  config.clock = {true, 1000, 0, 4, 2, 1000};
  config.engineFirst = true;
  config.maxPlies = 30;
  config.seed = 14;
  const GameOutcome outcome = play(config);
  EXPECT_EQ(outcome.failure, "");
  EXPECT_GE(outcome.plies, 20);
}

TEST_F(XboardGame, PonderingOnPredictedAndOtherReplies) {
  GameConfig config;
  config.setup = {"hard", "level 0 0:04 0.05"};
  config.clock = {true, 4000, 50, 0, 0, 0};
  config.replies = ReplyMode::Ponder;
  config.maxPlies = 60;
  config.seed = 15;
  const GameOutcome outcome = play(config);
  EXPECT_EQ(outcome.failure, "");
  EXPECT_GT(outcome.predictedReplies, 0);
  EXPECT_GT(outcome.otherReplies, 0);
}

TEST_F(XboardGame, AnalysisThenPlay) {
  XboardProcess engine(dir_.path());
  ASSERT_TRUE(engine.handshake());
  engine.send("new");
  engine.send("force");
  engine.send("post");
  engine.send("analyze");
  GameRecord game;
  std::vector<Move> played;
  int hints = 0;
  std::mt19937 random(16);
  const auto isThinking = [](const std::string& l) { return !l.empty() && l[0] >= '1' && l[0] <= '9' && !isResultLine(l); };
  for (int ply = 0; ply < 6; ++ply) {
    ASSERT_TRUE(engine.readUntil(isThinking, 10000)) << "no analysis output at ply " << ply;
    engine.send(".");
    ASSERT_TRUE(engine.readUntil([](const std::string& l) { return startsWith(l, "stat01:"); }, 5000));
    // A hint comes once the analysis of this position has a line.
    engine.send("hint");
    engine.send("ping " + std::to_string(ply + 10));
    std::string reply;
    const std::string pong = "pong " + std::to_string(ply + 10);
    while (engine.readUntil([&pong](const std::string& l) { return startsWith(l, "Hint: ") || l == pong; }, 5000,
                            &reply) &&
           reply != pong)
      ++hints;
    std::vector<Move> moves = legalMoveList(game.position);
    const Move move = moves[random() % moves.size()];
    engine.send("usermove " + moveText(game.position, move));
    game.playMove(move);
    played.push_back(move);
  }
  EXPECT_GT(hints, 0);
  // Take the last move back; the analysis goes on from the position before it.
  engine.send("undo");
  GameConfig config;
  for (std::size_t i = 0; i + 1 < played.size(); ++i) config.start.playMove(played[i]);
  ASSERT_TRUE(engine.readUntil(isThinking, 10000));
  engine.send("exit");
  engine.send("ping 1");
  ASSERT_TRUE(engine.readLine("pong 1", 5000));
  // Nothing more comes from the analysis once it is left.
  for (const std::string& line : engine.drain(300)) EXPECT_FALSE(isThinking(line)) << line;

  // Then the engine plays the rest of the game from there.
  config.sendNew = false;
  config.setup = {"sd 3", "nopost"};
  config.engineFirst = true;
  config.moveTimeoutMs = 10000;
  config.seed = 17;
  const GameOutcome outcome = GamePlayer(engine, config).play();
  EXPECT_EQ(outcome.failure, "");
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(10000), 0);
  for (const std::string& line : engine.seen) EXPECT_FALSE(startsWith(line, "Error")) << line;
}

}  // namespace
}  // namespace korvane::xtest
