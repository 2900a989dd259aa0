// The "eval" maintenance command through the built engine: the evaluation of
// the game position and its material part, and the material options.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "../protocol/engine_process.h"

namespace korvane {
namespace {

// "NeuroMaterial" and "MaterialFile" reach the evaluation; a file that cannot
// be used leaves the network in force; extra words after "eval" are ignored.
TEST(EvalCommandTranscript, ValuesAndMaterialOptions) {
  const std::string broken = ::testing::TempDir() + "korvane_broken_option.mat";
  std::ofstream(broken) << "0.487065 \n391 3 0 11 1 8 2 1 0 0 1\n";
  const std::string knightUp = "position fen r1bqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
  testing::Transcript t = testing::runEngine(
      "uci\nposition startpos\neval\neval extra words\n" + knightUp + "\neval\nsetoption name NeuroMaterial value 0\n" +
      "eval\nsetoption name NeuroMaterial value 35\neval\nsetoption name MaterialFile value /nonexistent/x.mat\n" +
      "eval\nsetoption name MaterialFile value " + broken + "\neval\nquit\n");
  std::remove(broken.c_str());
  ASSERT_EQ(t.exitCode, 0);
  EXPECT_TRUE(t.err.empty());
  std::vector<std::string> got;
  for (const std::string& line : t.out)
    if (line.rfind("info string value", 0) == 0) got.push_back(line);
  ASSERT_EQ(got.size(), 7u);
  EXPECT_EQ(got[0], "info string value 34 mat 0");
  EXPECT_EQ(got[1], got[0]);
  EXPECT_EQ(std::count(t.out.begin(), t.out.end(), "info score cp 4"), 2);
  EXPECT_NE(got[3], got[2]) << "NeuroMaterial 0: the classical material alone";
  // A knight up: 3219 + (128 * 3219) / 77521 = 3224, one more for the final step.
  EXPECT_NE(got[3].find(" mat 3225"), std::string::npos) << got[3];
  EXPECT_EQ(got[4], got[2]);
  EXPECT_EQ(got[5], got[2]);
  EXPECT_EQ(got[6], got[2]);
}

}  // namespace
}  // namespace korvane
