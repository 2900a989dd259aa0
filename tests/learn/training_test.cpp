// Material statistics and the training of the material network: the
// statistics of a small hand-counted PGN file, the acceptance of statistics
// lines, the logistic fit and a short training run.

#include "learn/training.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "board/notation.h"
#include "eval/evaluator.h"
#include "../temp_working_directory.h"

namespace korvane {
namespace {

using testing::TempWorkingDirectory;

std::string dataFile(const std::string& name) { return std::string(KORVANE_DATA_DIR) + "/mat/" + name; }

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void recorder(std::vector<std::string>& lines, LineWriter& writer) {
  writer = [&lines](const std::string& line) { lines.push_back(line); };
}

double positionalOf(const char* fen) {
  Position pos;
  EXPECT_NE(setFen(pos, fen), nullptr);
  Evaluator evaluator;
  const int score = evaluator.positionalScore(pos);
  return pos.whiteToMove ? score : -score;
}

// --- statistics collection --------------------------------------------------

TEST(MaterialStatistics, PackedCountsAndCodes) {
  Position pos;
  EXPECT_EQ(packedCounts(pos.side[WHITE]), 0x12228u);
  EXPECT_EQ(packedCounts(pos.side[BLACK]), 0x12228u);
  EXPECT_EQ(classicalValue(0x12228), 9 + 10 + 6 + 6 + 8);
  int counts[5];
  unpackCounts(0x1F203, counts);
  EXPECT_EQ(counts[0], 1);
  EXPECT_EQ(counts[1], 15);
  EXPECT_EQ(counts[2], 2);
  EXPECT_EQ(counts[3], 0);
  EXPECT_EQ(counts[4], 3);
  EXPECT_EQ(bishopCode(pos), 0);  // both sides have bishops of both colours
  ASSERT_NE(setFen(pos, "4kb2/8/8/8/8/8/8/2B1K3 w - - 0 1"), nullptr);  // c1 dark, f8 dark
  EXPECT_EQ(bishopCode(pos), 1);
  ASSERT_NE(setFen(pos, "2b1k3/8/8/8/8/8/8/2B1K3 w - - 0 1"), nullptr);  // c1 dark, c8 light
  EXPECT_EQ(bishopCode(pos), -1);
  ASSERT_NE(setFen(pos, "4k3/8/8/8/8/8/8/2B1K3 w - - 0 1"), nullptr);
  EXPECT_EQ(bishopCode(pos), 0);
}

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
// So: 00008/00008 twice (x = 0.5), 00002/00001 once (x = 0.5), three
// observations in all.
TEST(MaterialStatistics, HandCountedFile) {
  const double pawnsBias = positionalOf("4k3/pppppppp/8/8/8/8/PPPPPPPP/4K3 w - - 0 1");
  const double captureBias = positionalOf("8/7p/8/2kP4/8/3K4/P7/8 w - - 0 4");
  char expected[2][80];
  std::snprintf(expected[0], sizeof expected[0], "00002 00001  0   1 0.500000          1 %10.3f", captureBias);
  std::snprintf(expected[1], sizeof expected[1], "00008 00008  0   0 0.500000          2 %10.3f", pawnsBias);

  TempWorkingDirectory dir;
  std::vector<std::string> reports;
  LineWriter print;
  recorder(reports, print);
  MaterialStatistics statistics;
  EXPECT_TRUE(statistics.addPgnFile(dataFile("configurations.pgn"), 1000, -1, print));
  EXPECT_EQ(statistics.gamesRead(), 4u);
  EXPECT_EQ(statistics.gamesUsed(), 3u);
  ASSERT_TRUE(statistics.write(dir.file("stats.txt"), print));
  EXPECT_TRUE(reports.empty());
  const std::vector<std::string> lines = splitLines(readText(dir.file("stats.txt")));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], expected[0]);
  EXPECT_EQ(lines[1], expected[1]);

  // The lines parse back with the reader's format, and the counts add up to
  // the observations.
  double observations = 0;
  for (const std::string& line : lines) {
    unsigned long a, b;
    int code, balance;
    double x, n, bias;
    ASSERT_EQ(std::sscanf(line.c_str(), "%lx %lx %d %d %lf %lf %lf", &a, &b, &code, &balance, &x, &n, &bias), 7);
    EXPECT_GE(a, b);
    EXPECT_EQ(balance, classicalValue(std::uint32_t(a)) - classicalValue(std::uint32_t(b)));
    observations += n;
  }
  EXPECT_EQ(observations, 3.0);

  // The Elo filter keeps the first two games; "value" weighs the observations.
  MaterialStatistics strong;
  strong.addPgnFile(dataFile("configurations.pgn"), 2000, 2000, print);
  ASSERT_EQ(strong.table().size(), 1u);
  const ConfigurationSums& sums = strong.table().begin()->second;
  EXPECT_EQ(strong.table().begin()->first, (ConfigurationKey{0x8, 0x8, 0}));
  EXPECT_DOUBLE_EQ(sums.observations, 4.0);
  EXPECT_DOUBLE_EQ(sums.results, 2.0);
  EXPECT_DOUBLE_EQ(sums.positional, 4.0 * pawnsBias);
}

// --- reading statistics -----------------------------------------------------

TEST(StatisticsReading, AcceptanceLimits) {
  double w = 0;
  const std::tuple<double, double, bool> cases[] = {{0.5, 349999, false}, {0.03, 1e12, false}, {0.97, 1e12, false},
                                                    {0.04, 1e7, true},    {0.96, 1e7, true},   {0.5, -1e9, false}};
  for (const auto& [x, n, accepted] : cases) EXPECT_EQ(sampleWeight(x, n, w), accepted) << x << " " << n;
  ASSERT_TRUE(sampleWeight(0.5, 350000, w));
  EXPECT_EQ(w, 1.0);
  // v = 2 x (1 - x) n = 1,750,000: w = 1 + sqrt(1750) - sqrt(175).
  ASSERT_TRUE(sampleWeight(0.5, 3500000, w));
  EXPECT_DOUBLE_EQ(w, 1.0 + std::sqrt(1750.0) - std::sqrt(175.0));
}

TEST(StatisticsReading, LinesAndStops) {
  std::istringstream in(
      "12228 12228  0   0 0.500000     350000      3.000\n"
      "12228 12227  1   1 0.030000 1000000000      0.000\n"   // one-sided: skipped
      "12228 12227  1   1 0.970000 1000000000      0.000\n"   // one-sided: skipped
      "10208 01227 -1   2 0.620000    1000000   -125.500\n"
      "00001 00000  0   1 0.600000       1000      0.000\n"   // too few: skipped
      "12228 12227  0   1 0.5 notanumber 0\n"                  // stops here
      "12228 12228  0   0 0.500000     350000      3.000\n");
  SampleSet set;
  EXPECT_EQ(readStatistics(in, set), 2);
  ASSERT_EQ(set.samples.size(), 2u);
  const TrainingSample& first = set.samples[0];
  const double expectedFirst[MATERIAL_NET_INPUTS] = {1, 2, 2, 2, 8, 1, 2, 2, 2, 8, 0};
  for (int i = 0; i < MATERIAL_NET_INPUTS; ++i) EXPECT_EQ(first.inputs[i], expectedFirst[i]) << i;
  EXPECT_EQ(first.weight, 1.0);
  EXPECT_EQ(first.target, 0.5);
  EXPECT_EQ(first.bias, 3.0);
  const TrainingSample& second = set.samples[1];
  const double expectedSecond[MATERIAL_NET_INPUTS] = {1, 0, 2, 0, 8, 0, 1, 2, 2, 7, -1};
  for (int i = 0; i < MATERIAL_NET_INPUTS; ++i) EXPECT_EQ(second.inputs[i], expectedSecond[i]) << i;
  EXPECT_EQ(second.bias, -125.5);
  EXPECT_DOUBLE_EQ(set.totalWeight, first.weight + second.weight);

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

// --- the fit and the prepared targets ---------------------------------------

// Statistics lines drawn from a known logistic model: result = logistic(
// 0.5 x classical balance + 0.0008 x positional score).
std::string modelStatistics(int count, unsigned seed) {
  std::mt19937 rng(seed);
  std::string text;
  int written = 0;
  while (written < count) {
    auto draw = [&rng](int maximum) { return int(rng() % unsigned(maximum + 1)); };
    const int a[5] = {draw(1), draw(2), draw(2), draw(2), draw(8)};
    const int b[5] = {draw(1), draw(2), draw(2), draw(2), draw(8)};
    const std::uint32_t pa = std::uint32_t(a[0] << 16 | a[1] << 12 | a[2] << 8 | a[3] << 4 | a[4]);
    const std::uint32_t pb = std::uint32_t(b[0] << 16 | b[1] << 12 | b[2] << 8 | b[3] << 4 | b[4]);
    const int balance = classicalValue(pa) - classicalValue(pb);
    const double bias = double(int(rng() % 1001) - 500);
    const double x = 1.0 / (1.0 + std::exp(-(0.5 * balance + 0.0008 * bias)));
    if (x < 0.05 || x > 0.95) continue;
    const int code = int(rng() % 3) - 1;
    char line[100];
    std::snprintf(line, sizeof line, "%05x %05x %2d %3d %8.6f %10ld %10.3f\n", unsigned(pa), unsigned(pb), code,
                  balance, x, long(2000000 + rng() % 1000000), bias);
    text += line;
    ++written;
  }
  return text;
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

// --- training ---------------------------------------------------------------

SampleSet preparedModelSamples(int count) {
  std::istringstream in(modelStatistics(count, 11));
  SampleSet set;
  readStatistics(in, set);
  prepareSamples(set);
  return set;
}

TEST(Training, LowersTheErrorAndSavesAUsableNetwork) {
  TempWorkingDirectory dir;
  const SampleSet set = preparedModelSamples(150);

  // Start from a spoiled copy of the built-in network.
  MaterialNet start;
  ASSERT_TRUE(start.load(INTERNAL_NET_NAME));
  for (auto& layer : start.layers())
    for (MaterialNet::Node& node : layer)
      for (MaterialNet::Connection& c : node.out) c.weight *= 0.3;
  {
    std::ofstream out(dir.file("materialwerte.mat"));
    ASSERT_TRUE(start.writeScale(out) && start.write(out));
  }

  MaterialNet net;
  TrainingOptions options;
  options.maxEpochs = 800;
  const TrainingResult result = trainNetwork(set, net, options);
  EXPECT_EQ(result.epochs, 800u);
  EXPECT_GE(result.saves, 1);

  // One report line per 100 epochs since the last save; the first comes
  // with the first save, at epoch 100.
  const std::vector<std::string> log = splitLines(readText(dir.file("NeuroLrn.txt")));
  ASSERT_GE(log.size(), 2u);
  char mark = 0;
  long epoch = 0;
  double rate = 0, firstError = 0, lastError = 0;
  ASSERT_EQ(std::sscanf(log[0].c_str(), "%c%ld %lf %lf", &mark, &epoch, &rate, &firstError), 4);
  EXPECT_EQ(mark, '*');
  EXPECT_EQ(epoch, 100);
  EXPECT_EQ(log[0].size(), 1 + 6 + 1 + 7 + 1 + 10u);
  for (std::size_t i = 1; i < log.size(); ++i) {
    ASSERT_EQ(std::sscanf(log[i].c_str(), "%c%ld %lf %lf", &mark, &epoch, &rate, &lastError), 4) << log[i];
    EXPECT_TRUE(mark == '*' || mark == ' ') << log[i];
    EXPECT_EQ(epoch % 100, 0) << log[i];
  }
  EXPECT_LT(lastError, firstError);
  EXPECT_LT(result.bestError, firstError * firstError);
  EXPECT_FALSE(std::filesystem::exists(dir.file("materialwerte.mat.tmp")));

  // The saved network carries the fitted scale and loads into an evaluator,
  // where it changes the material term.
  MaterialNet saved;
  ASSERT_TRUE(saved.load(dir.file("materialwerte.mat")));
  char scale[32];
  std::snprintf(scale, sizeof scale, "%.6g", set.scale);
  EXPECT_EQ(splitLines(readText(dir.file("materialwerte.mat")))[0], std::string(scale) + " ");
  Position pos;
  ASSERT_NE(setFen(pos, "r1bqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"), nullptr);
  Evaluator builtin, trained;
  ASSERT_TRUE(trained.setMaterialFile(dir.file("materialwerte.mat")));
  EXPECT_NE(trained.evaluate(pos), builtin.evaluate(pos));
}

TEST(Training, FilesThatCannotBeWritten) {
  TempWorkingDirectory dir;
  const SampleSet set = preparedModelSamples(20);
  std::vector<std::string> reports;
  TrainingOptions options;
  recorder(reports, options.print);
  options.networkFile = dir.file("missing/materialwerte.mat");
  options.logFile = dir.file("missing/NeuroLrn.txt");
  options.maxEpochs = 250;
  MaterialNet net;
  const TrainingResult result = trainNetwork(set, net, options);
  EXPECT_EQ(result.epochs, 250u);
  EXPECT_EQ(result.saves, 0);
  // Each failure is reported once.
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0], "info string error opening the output file " + options.logFile);
  EXPECT_EQ(reports[1], "info string error opening the output file " + options.networkFile);

  // A save whose writing fails (here at the file size limit, as on a full
  // disk) leaves the network file as it was and says so.
  const std::string network = dir.file("materialwerte.mat");
  std::ofstream(network) << "earlier";
  options.networkFile = network;
  options.logFile = dir.file("NeuroLrn.txt");
  reports.clear();
  rlimit saved{}, small{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  small = saved;
  small.rlim_cur = 1000;  // the network text is twice as long
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const TrainingResult limited = trainNetwork(set, net, options);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(limited.saves, 0);
  EXPECT_EQ(reports, std::vector<std::string>{"info string error writing the output file " + network});
  std::ifstream kept(network);
  std::string content;
  kept >> content;
  EXPECT_EQ(content, "earlier");
  EXPECT_FALSE(std::filesystem::exists(network + ".tmp"));

  // Nothing to learn from: nothing happens.
  SampleSet empty;
  options.maxEpochs = 0;
  EXPECT_EQ(trainNetwork(empty, net, options).epochs, 0u);
}

TEST(Training, StopsOnRequest) {
  TempWorkingDirectory dir;
  const SampleSet set = preparedModelSamples(20);
  std::atomic<bool> stop{true};
  TrainingOptions options;
  options.stop = &stop;
  MaterialNet net;
  EXPECT_EQ(trainNetwork(set, net, options).epochs, 0u);
}

}  // namespace
}  // namespace korvane
