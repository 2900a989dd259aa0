// The "eval" maintenance command: the evaluation of the game position and its
// material part, called directly and through the built engine.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../protocol/engine_process.h"
#include "../protocol/recording_output.h"
#include "eval_helpers.h"
#include "protocol/maintenance.h"
#include "search/engine.h"

namespace korvane {
namespace {

using Lines = std::vector<std::string>;

class EvalCommandTest : public ::testing::Test {
 protected:
  Lines evalOf(const char* fen) {
    EXPECT_TRUE(engine->game.setFromFen(fen)) << fen;
    output.printed.clear();
    evalCommand(engine->evaluator, engine->game.position, output, "");
    return output.printed;
  }

  std::unique_ptr<Engine> engine = std::make_unique<Engine>();
  testing::RecordingOutput output{*engine};
};

TEST_F(EvalCommandTest, StartPositionForEitherSide) {
  const Lines expected = {"info score cp 4", "info string value 34 mat 0"};
  EXPECT_EQ(evalOf("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"), expected);
  EXPECT_EQ(evalOf("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1"), expected);
}

TEST_F(EvalCommandTest, MaterialPartAndRounding) {
  engine->evaluator.setNeuroMaterial(0);
  // White a knight up: the material part is the material score for the side
  // to move, the score (e + 9) / 10 truncated towards zero.
  const char* white = "r1bqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
  const int material = 3219 + (128 * 3219) / (80640 - 3219 + 100);
  Position pos = test::fromFen(white);
  const int e = engine->evaluator.evaluate(pos);
  ASSERT_GT(e, 0);
  Lines out = evalOf(white);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], "info score cp " + std::to_string((e + 9) / 10));
  EXPECT_EQ(out[1], "info string value " + std::to_string(e) + " mat " + std::to_string(material + 1));

  const char* black = "r1bqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1";
  pos = test::fromFen(black);
  const int eb = engine->evaluator.evaluate(pos);
  ASSERT_LT(eb, 0);
  out = evalOf(black);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], "info score cp " + std::to_string((eb + 9) / 10));
  EXPECT_EQ(out[1], "info string value " + std::to_string(eb) + " mat " + std::to_string(-material - 1));

  // A settled ending has no unit step: value 1 and material part = material.
  out = evalOf("8/3k4/8/3K4/3P4/8/8/8 w - - 0 1");
  EXPECT_EQ(out, Lines({"info score cp 1", "info string value 1 mat " +
                                                std::to_string(1000 + (128 * 1000) / (1000 + 100))}));
  // Bare kings: 0 and 0.
  EXPECT_EQ(evalOf("8/8/8/4k3/8/8/8/4K3 b - - 0 1"), Lines({"info score cp 0", "info string value 0 mat 0"}));
}

// Through the built engine, as a tester types it.
TEST(EvalCommandTranscript, StartPositionAndAfterMoves) {
  testing::Transcript t = testing::runEngine(testing::lines(
      {"uci", "position startpos", "eval", "position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1",
       "eval", "setoption name NeuroMaterial value 0", "position startpos moves e2e4 d7d5 e4d5 d8d5", "eval",
       "eval extra words", "quit"}));
  ASSERT_EQ(t.exitCode, 0);
  EXPECT_TRUE(t.err.empty());
  Lines got;
  for (const std::string& line : t.out)
    if (line.rfind("info score", 0) == 0 || line.rfind("info string value", 0) == 0) got.push_back(line);
  ASSERT_EQ(got.size(), 8u);
  EXPECT_EQ(got[0], "info score cp 4");
  EXPECT_EQ(got[1], "info string value 34 mat 0");
  EXPECT_EQ(got[2], "info score cp 4");
  EXPECT_EQ(got[3], "info string value 34 mat 0");
  // Pawns traded, White to move: equal material.
  EXPECT_NE(got[5].find(" mat 0"), std::string::npos) << got[5];
  EXPECT_EQ(got[6], got[4]);
  EXPECT_EQ(got[7], got[5]);
}

// "NeuroMaterial" and "MaterialFile" reach the evaluation; a file that cannot
// be used leaves the network in force.
TEST(EvalCommandTranscript, MaterialOptions) {
  const std::string broken = ::testing::TempDir() + "korvane_broken_option.mat";
  {
    std::ofstream out(broken);
    out << "0.487065 \n391 3 0 11 1 8 2 1 0 0 1\n";
  }
  const std::string knightUp = "position fen r1bqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
  testing::Transcript t = testing::runEngine(
      "uci\n" + knightUp + "\neval\nsetoption name NeuroMaterial value 0\neval\n" +
      "setoption name NeuroMaterial value 35\neval\nsetoption name MaterialFile value /nonexistent/x.mat\neval\n" +
      "setoption name MaterialFile value " + broken + "\neval\nquit\n");
  std::remove(broken.c_str());
  ASSERT_EQ(t.exitCode, 0);
  Lines got;
  for (const std::string& line : t.out)
    if (line.rfind("info string value", 0) == 0) got.push_back(line);
  ASSERT_EQ(got.size(), 5u);
  EXPECT_NE(got[1], got[0]) << "NeuroMaterial 0: the classical material alone";
  const int classical = 3219 + (128 * 3219) / (80640 - 3219 + 100);
  EXPECT_NE(got[1].find(" mat " + std::to_string(classical + 1)), std::string::npos) << got[1];
  EXPECT_EQ(got[2], got[0]);
  EXPECT_EQ(got[3], got[0]);
  EXPECT_EQ(got[4], got[0]);
}

}  // namespace
}  // namespace korvane
