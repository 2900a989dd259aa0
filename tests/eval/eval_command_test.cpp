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
  // A knight up: 3219 + (128 * 3219) / 77521 = 3224, one more for the final step.
  EXPECT_NE(got[1].find(" mat 3225"), std::string::npos) << got[1];
  EXPECT_EQ(got[2], got[0]);
  EXPECT_EQ(got[3], got[0]);
  EXPECT_EQ(got[4], got[0]);
}

}  // namespace
}  // namespace korvane
