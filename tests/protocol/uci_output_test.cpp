// The UCI channel's line formats, captured before they reach standard output.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "board/notation.h"
#include "protocol/engine_output.h"
#include "search/engine.h"
#include "search/time_control.h"

namespace korvane::testing {
namespace {

class CapturedUciOutput final : public UciOutput {
 public:
  using UciOutput::UciOutput;
  void printLine(std::string_view text) override {
    if (!noOutput()) lines.emplace_back(text);
  }
  std::vector<std::string> lines;
};

std::string scoreText(int score, int alpha = -MATE - 1, int beta = MATE + 1) {
  char text[64] = "";
  appendScoreText(text, sizeof text, score, alpha, beta);
  return text;
}

TEST(UciOutputFormat, ScoreText) {
  EXPECT_EQ(scoreText(999998), " score mate 1");
  EXPECT_EQ(scoreText(999996), " score mate 2");
  EXPECT_EQ(scoreText(-999997), " score mate -2");
  EXPECT_EQ(scoreText(-999999), " score mate -1");
  EXPECT_EQ(scoreText(1), " score cp 0");
  EXPECT_EQ(scoreText(-1), " score cp 0");
  EXPECT_EQ(scoreText(0), " score cp 0");
  EXPECT_EQ(scoreText(2), " score cp 1");
  EXPECT_EQ(scoreText(25), " score cp 3");
  EXPECT_EQ(scoreText(11), " score cp 2");
  EXPECT_EQ(scoreText(-11), " score cp -2");
  EXPECT_EQ(scoreText(900000), " score cp 90000");
  // Beta is tested first.
  EXPECT_EQ(scoreText(50, -20, 50), " score cp 5 lowerbound");
  EXPECT_EQ(scoreText(-20, -20, 50), " score cp -2 upperbound");
  EXPECT_EQ(scoreText(7, 7, 7), " score cp 1 lowerbound");

  char text[] = "info  depth   1 time            12 nodes  ";
  collapseSpaces(text);
  EXPECT_STREQ(text, "info depth 1 time 12 nodes ");
}

class UciOutputTest : public ::testing::Test {
 protected:
  UciOutputTest() : output(engine, timeControl) {
    engine.timeControl = &timeControl;
    engine.output = &output;
    timeControl.startClock();
    output.takeSnapshot();
  }

  Move move(const char* text) {
    Move m;
    EXPECT_TRUE(parseMove(engine.game.position, text, true, m)) << text;
    return m;
  }

  Engine engine;
  TimeControl timeControl;
  CapturedUciOutput output;
};

TEST_F(UciOutputTest, IterationLines) {
  engine.bestMove = move("g1f3");
  engine.iterationDepth = 0;
  engine.maxPly = 3;
  engine.nodes = 10;
  engine.firstIteration = true;
  output.reportIteration(engine, 25, -100, 100);
  ASSERT_EQ(output.lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(output.lines[0],
                               std::regex("info depth 1 seldepth 4 time \\d+ nodes 10 pv g1f3 score cp 3 "
                                          "hashfull 0 nps \\d+")))
      << output.lines[0];

  // Later shallow iterations with few nodes are skipped, except in debug mode.
  engine.firstIteration = false;
  engine.iterationDepth = 2;
  engine.nodes = 199;
  output.reportIteration(engine, 25, -100, 100);
  EXPECT_EQ(output.lines.size(), 1u);
  engine.nodes = 200;
  output.reportIteration(engine, 25, -100, 100);
  EXPECT_EQ(output.lines.size(), 2u);
  engine.nodes = 10;
  output.setDebug(true);
  output.reportIteration(engine, -999999, -100, 100);
  ASSERT_EQ(output.lines.size(), 3u);
  EXPECT_NE(output.lines[2].find(" pv g1f3 score mate -1 upperbound hashfull"), std::string::npos) << output.lines[2];

  output.reportMultiPv(engine, 2, move("d2d4"), 120, 0, 1000);
  ASSERT_EQ(output.lines.size(), 4u);
  EXPECT_EQ(output.lines[3], "info multipv 2 depth 3 seldepth 4 score cp 12 pv d2d4");

  engine.rootScore = -30;
  engine.rootAlpha = -100;
  engine.rootBeta = 100;
  output.reportSearchEnd();
  ASSERT_EQ(output.lines.size(), 5u);
  EXPECT_TRUE(std::regex_match(output.lines[4], std::regex("info depth 2 seldepth 4 time \\d+ nodes 10 hashfull 0 "
                                                           "nps \\d+ score cp -3")))
      << output.lines[4];

  output.reportCurrentMove(move("e2e4"), 7);  // debug mode: printed at once
  ASSERT_EQ(output.lines.size(), 6u);
  EXPECT_EQ(output.lines[5], "info currmove e2e4 currmovenumber 7");
}

}  // namespace
}  // namespace korvane::testing
