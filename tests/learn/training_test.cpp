// Material statistics and the training of the material network: the
// statistics of a small hand-counted PGN file, the reading of statistics
// lines, the logistic fit and a short training run.
#include "learn/training.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "../pgn/pgn_test_util.h"
#include "../temp_working_directory.h"

namespace korvane {
namespace {

// configurations.pgn, counted by hand:
//  1. pawns only (8 against 8) from a FEN, the kings walk, 1-0: the start
//     configuration stands from ply 0; ply 4 is the first position old
//     enough (the FEN position again, White to move, nothing to take).
//  2. the same, 0-1: the same observation from the same position.
//  3. 1. exd5 leaves White 2 pawns against 1, 1/2-1/2: the new configuration
//     starts at ply 1; ply 5 (after 3.Kd3) is old enough but Black can take
//     on d5; ply 6 (after 3...Kc5) is quiet. The start configuration lasted
//     one ply only.
//  4. no result: skipped.
// Read once as it is and once with "value 2000" and "ELO 2500", which keeps
// the first two games: 00008/00008 2 + 4 times (x = 0.5), 00002/00001 once.
TEST(MaterialStatistics, HandCountedFileValuesAndBishopCodes) {
  // A line of the file, its last field the positional score of the position.
  auto line = [](const char* start, const char* fen) {
    Position pos;
    EXPECT_NE(setFen(pos, fen), nullptr);
    char text[80];
    std::snprintf(text, sizeof text, "%s %10.3f\n", start, double(Evaluator().positionalScore(pos)));
    return std::string(text);
  };
  testing::TempWorkingDirectory dir;
  std::vector<std::string> reports;
  MaterialStatistics statistics;
  const std::string pgn = std::string(KORVANE_DATA_DIR) + "/mat/configurations.pgn";
  EXPECT_TRUE(statistics.addPgnFile(pgn, 1000, -1, testutil::into(reports)));
  EXPECT_TRUE(statistics.addPgnFile(pgn, 2000, 2500, testutil::into(reports)));
  EXPECT_EQ(statistics.gamesRead(), 4u + 3u);
  EXPECT_EQ(statistics.gamesUsed(), 3u + 2u);
  ASSERT_TRUE(statistics.write("stats.txt", testutil::into(reports)));
  EXPECT_EQ(testutil::readFile("stats.txt"),
            line("00002 00001  0   1 0.500000          1", "8/7p/8/2kP4/8/3K4/P7/8 w - - 0 4") +
                line("00008 00008  0   0 0.500000          6", "4k3/pppppppp/8/8/8/8/PPPPPPPP/4K3 w - - 0 1"));
  EXPECT_TRUE(reports.empty());

  EXPECT_EQ(packedCounts(Position().side[BLACK]), 0x12228u);
  EXPECT_EQ(classicalValue(0x12228), 9 + 10 + 6 + 6 + 8);
  // Same-coloured (c1 and f8 dark) and opposite-coloured bishops.
  for (const auto& [fen, code] : {std::pair{"4kb2/8/8/8/8/8/8/2B1K3 w - - 0 1", 1},
                                  std::pair{"2b1k3/8/8/8/8/8/8/2B1K3 w - - 0 1", -1}}) {
    Position pos;
    ASSERT_NE(setFen(pos, fen), nullptr);
    EXPECT_EQ(bishopCode(pos), code) << fen;
  }
}

// A line counts when 2 x (1 - x) n reaches 175000 and 0.04 <= x <= 0.96; its
// weight is 1 + sqrt(2 x (1 - x) n / 1000) - sqrt(175).
TEST(StatisticsReading, LinesLimitsAndStops) {
  std::istringstream in(
      "12228 12228  0   0 0.500000     350000      3.000\n"
      "12228 12227  1   1 0.030000 1000000000      0.000\n"
      "12228 12227  1   1 0.970000 1000000000      0.000\n"
      "12228 12227  1   1 0.500000     349999      0.000\n"
      "12228 12227  1   1 0.500000 -100000000      0.000\n"
      "1F203 01227 -1   2 0.500000    3500000   -125.500\n"
      "00001 00000  0   1 0.040000   10000000      0.000\n"
      "00001 00000  0   1 0.960000   10000000      0.000\n"
      "12228 12227  0   1 0.5 notanumber 0\n"  // stops here
      "12228 12228  0   0 0.500000     350000      3.000\n");
  SampleSet set;
  EXPECT_EQ(readStatistics(in, set), 4);
  ASSERT_EQ(set.samples.size(), 4u);
  std::string inputs;
  for (const TrainingSample& sample : set.samples)
    for (const double& v : sample.inputs) inputs += std::to_string(int(v)) + (&v == &sample.inputs[10] ? "," : " ");
  EXPECT_EQ(inputs, "1 2 2 2 8 1 2 2 2 8 0,1 15 2 0 3 0 1 2 2 7 -1,0 0 0 0 1 0 0 0 0 0 0,0 0 0 0 1 0 0 0 0 0 0,");
  EXPECT_EQ(set.samples[0].bias, 3.0);
  EXPECT_EQ(set.samples[1].bias, -125.5);
  EXPECT_EQ(set.samples[2].target, 0.04);
  EXPECT_EQ(set.samples[0].weight, 1.0);
  EXPECT_DOUBLE_EQ(set.samples[1].weight, 1.0 + std::sqrt(1750.0) - std::sqrt(175.0));
  // The two lines at x = 0.04 and 0.96 carry 768000 each.
  EXPECT_DOUBLE_EQ(set.totalWeight, 4.0 + std::sqrt(1750.0) + 2 * std::sqrt(768.0) - 3 * std::sqrt(175.0));

  // Each of the first lines ends the reading before the good line after it;
  // a last line without its line feed and a byte-order mark are fine.
  const std::string good = "12228 12228  0   0 0.500000     350000      3.000";
  const std::pair<std::string, int> texts[] = {
      {"\n", 0},                                                        // empty line
      {"12228 12228  0   0 0.500000     350000\n", 0},                  // six fields
      {"112228 12228  0   0 0.500000     350000      3.000\n", 0},      // more than 20 bits
      {"12228 12228  2   0 0.500000     350000      3.000\n", 0},       // no such code
      {"12228 12228  0   0 nan     350000      3.000\n", 0},            // not finite
      {"12228 12228  0   0 0.5 inf 3\n", 0},
      {"-12228 12228  0   0 0.500000     350000      3.000\n", 0},      // negative count
      {"12228 12228  0   99999999999999999999 0.5 350000 3.0\n", 0},    // out of range
      {std::string(300, ' ') + "12228 12228 0 0 0.5 350000 3\n", 0},    // overlong
      {"", 1},
      {"\xEF\xBB\xBF", 1},
  };
  for (const auto& [lead, count] : texts) {
    std::istringstream text(lead + good + (count ? "" : "\n"));
    SampleSet none;
    EXPECT_EQ(readStatistics(text, none), count) << lead;
  }
}

// One sample, one pawn up, no positional score: p = 1 / (1 + e^-1) = 0.7310586
// against x = 0.83. The first move of the pawn coefficient uses the starting
// step 0.0001: 0.0001 * 2 * 0.0989414 * 0.7310586 * 0.2689414 / 70 = 5.558e-8,
// below the tolerance, so the fit stops after that one iteration.
TEST(SamplePreparation, FirstFitIterationUsesTheStartingStep) {
  std::istringstream in("00001 00000  0   1 0.830000    1000000      0.000\n");
  SampleSet set;
  ASSERT_EQ(readStatistics(in, set), 1);
  const LogisticFit fit = prepareSamples(set);
  EXPECT_EQ(fit.iterations, 1);
  EXPECT_NEAR(fit.c[4], 1.00000005558, 1e-11);
  EXPECT_EQ(fit.c[0], 9.0);
}

SampleSet preparedSamples() {
  std::istringstream in(
      "12228 12227  0   1 0.560000    2000000     10.000\n12228 12217  0   3 0.700000    2000000    -20.000\n"
      "12228 11228  0   5 0.800000    2000000      0.000\n12228 02228  0   9 0.900000    2000000     40.000\n"
      "12208 12228  1  -6 0.350000    2000000      5.000\n02228 01228  0   5 0.750000    2000000    -30.000\n"
      "11227 11227 -1   0 0.500000    2000000     15.000\n12128 12228  0  -3 0.330000    2000000      0.000\n");
  SampleSet set;
  EXPECT_EQ(readStatistics(in, set), 8);
  prepareSamples(set);
  return set;
}

TEST(Training, SavesABetterNetworkAndReportsFilesThatCannotBeWritten) {
  testing::TempWorkingDirectory dir;
  const SampleSet set = preparedSamples();
  std::vector<std::string> reports;
  TrainingOptions options;
  options.print = testutil::into(reports);
  // A log file that cannot be opened, and a save whose writing fails (here at
  // the file size limit, as on a full disk): each is reported once, and the
  // network file stays as it was.
  options.networkFile = "materialwerte.mat";
  options.logFile = "missing/NeuroLrn.txt";
  options.maxEpochs = 250;
  MaterialNet net;
  testutil::writeFile("materialwerte.mat", "earlier");
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 1000;  // the network text is twice as long
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  EXPECT_EQ(trainNetwork(set, net, options).saves, 0);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(reports, (std::vector<std::string>{"info string error opening the output file missing/NeuroLrn.txt",
                                               "info string error writing the output file materialwerte.mat"}));
  EXPECT_EQ(testutil::readFile("materialwerte.mat"), "earlier");
  options.logFile = "NeuroLrn.txt";

  // Written at last: a report line of 27 characters at each save and every
  // 100 epochs after one ("*" for a save, the epoch, the rate, the root of
  // the error); the first save comes at epoch 100, and the error goes down.
  options.maxEpochs = 500;  // the rate, up 2 % an epoch while the error falls, stays below 1
  trainNetwork(set, net, options);
  const std::string log = testutil::readFile("NeuroLrn.txt");
  ASSERT_GE(log.size(), 2u * 27);
  EXPECT_EQ(log.size() % 27, 0u) << log;
  EXPECT_EQ(log.substr(0, 8), "*   100 ");
  EXPECT_LT(std::stod(log.substr(log.size() - 11)), std::stod(log.substr(16, 10)));
  EXPECT_FALSE(std::filesystem::exists("materialwerte.mat.tmp"));

  // The saved network carries the fitted scale and loads into an evaluator,
  // where it changes the material term.
  char scale[32];
  std::snprintf(scale, sizeof scale, "%.6g \n", set.scale);
  EXPECT_EQ(testutil::readFile("materialwerte.mat").rfind(scale, 0), 0u);
  Position pos;
  ASSERT_NE(setFen(pos, "r1bqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"), nullptr);
  Evaluator builtin, trained;
  ASSERT_TRUE(trained.setMaterialFile(dir.file("materialwerte.mat")));
  EXPECT_NE(trained.evaluate(pos), builtin.evaluate(pos));

  // Nothing to learn from: nothing happens.
  EXPECT_EQ(trainNetwork(SampleSet(), net, options).epochs, 0u);
}

}  // namespace
}  // namespace korvane
