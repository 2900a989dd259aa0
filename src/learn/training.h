// Training of the material network from a statistics file.
//
// readStatistics turns statistics lines into weighted samples: a line counts
// only when its results carry enough information (2 x (1 - x) n >= 175000) and
// are not one-sided (0.04 <= x <= 0.96); its weight grows with the square root
// of that information and is 1 at the limit.
//
// prepareSamples fits a logistic model of the result on the material
// differences and the positional score, takes from it the scale between the
// network's winning expectation and millipawns, and removes the positional
// part from each target, so that the network learns material alone.
//
// trainNetwork runs weighted gradient descent on the network: every sample is
// presented as it is and with the sides exchanged (target 1 - x). The learning
// rate adapts from epoch to epoch; phases with part of the samples held out,
// phases on a subset and slight weight decay shake the network out of poor
// minima; only a learning mask's few nodes learn at full rate at a time. The
// best network of the ordinary phases is saved to the network file, and
// progress goes to the log file. Without an epoch limit or a stop request it
// runs for ever.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "eval/evaluator.h"
#include "eval/material_net.h"
#include "learn/material_statistics.h"
#include "pgn/pgn_reader.h"
#include "platform/platform.h"

namespace korvane {

// The acceptance limit of a statistics line: 2 x (1 - x) n.
constexpr double MIN_SAMPLE_INFORMATION = 175000.0;
constexpr double MIN_SAMPLE_RESULT = 0.04;
constexpr double MAX_SAMPLE_RESULT = 0.96;

struct TrainingSample {
  // Queens, rooks, bishops, knights, pawns of the first side, the same of the
  // second side, and the bishop-colour code: the network's inputs.
  double inputs[MATERIAL_NET_INPUTS];
  double target;  // result for the first side, 0..1
  double bias;    // positional score; after prepareSamples the material value in pawns
  double weight;
};

struct SampleSet {
  std::vector<TrainingSample> samples;
  double totalWeight = 0.0;
  double scale = 0.0;  // fitted netScale
};

// Reads statistics lines until the end or the first line that does not parse
// (seven fields with finite numbers, packed counts of at most 20 bits, a code
// of -1, 0 or 1; a line longer than 255 characters does not parse). Lines
// outside the acceptance limits are skipped. Answers the samples added.
int readStatistics(std::istream& in, SampleSet& set);

// The acceptance test and weight of one line: false when the line is skipped.
bool sampleWeight(double x, double n, double& weight);

struct LogisticFit {
  // Coefficients of queens, rooks, bishops, knights, pawns and the
  // positional score (per millipawn).
  double c[6];
  int iterations = 0;
  double error = 0.0;
};

// Sorts the samples (heaviest first), sums their weights, fits the logistic
// model, sets the scale and rewrites targets and biases. An empty set is left
// as it is. `stop` may end the fit early (the result is then still usable).
LogisticFit prepareSamples(SampleSet& set, const std::atomic<bool>* stop = nullptr);
// The scale belonging to fitted coefficients.
double scaleOf(const LogisticFit& fit);

struct TrainingOptions {
  std::string networkFile = "materialwerte.mat";
  std::string logFile = "NeuroLrn.txt";
  // Stop after this many epochs; 0 = no limit.
  std::uint64_t maxEpochs = 0;
  // Epochs of the first ordinary phase, before the first hold-out phase.
  int firstPhaseLength = 10000;
  // Checked once per epoch; the training returns when it is set.
  const std::atomic<bool>* stop = nullptr;
  // Error reports (a file that cannot be written).
  LineWriter print;
  // Source of the random choices (phases, masks); empty: nextRandom32.
  std::function<std::uint32_t()> random;
};

struct TrainingResult {
  std::uint64_t epochs = 0;
  int saves = 0;
  double bestError = 0.0;  // mean squared error of the best saved network
  double lastError = 0.0;
};

// Trains `net` on the prepared samples. Starts from the network file when it
// loads, else from the built-in network. Does nothing for an empty set.
TrainingResult trainNetwork(const SampleSet& set, MaterialNet& net, const TrainingOptions& options);

// A training run on a thread of its own, so that the command interpreter
// stays responsive: it ends when the program ends ("quit" or the end of the
// input destroys the interpreter and with it this object).
class BackgroundTraining {
 public:
  BackgroundTraining() = default;
  ~BackgroundTraining();  // asks the training to stop and waits for it
  BackgroundTraining(const BackgroundTraining&) = delete;
  BackgroundTraining& operator=(const BackgroundTraining&) = delete;

  // Prepares the samples and trains on them until stopped. False when a run
  // is already going or the thread could not be started.
  bool start(SampleSet samples, TrainingOptions options);
  void stop();
  bool running() const { return thread_.joinable(); }

 private:
  std::atomic<bool> stop_{false};
  platform::Thread thread_;
  SampleSet samples_;
  MaterialNet net_;
  TrainingOptions options_;
};

// What the "mat" command keeps between commands: the statistics being
// collected (from the first "add" to "write" or "delete") and the training
// started by "learn".
struct MatCommandState {
  std::unique_ptr<MaterialStatistics> collector;
  std::unique_ptr<BackgroundTraining> training;
};

}  // namespace korvane
