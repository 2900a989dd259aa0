#include "learn/training.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <istream>
#include <sstream>
#include <utility>

#include "board/random.h"
#include "platform/files.h"

namespace korvane {

namespace {

constexpr std::size_t MAX_STATISTICS_LINE = 256;

// The logistic fit ends when no coefficient moves by more than this part of
// its size, or after MAX_FIT_ITERATIONS, whichever comes first.
constexpr double FIT_TOLERANCE = 1e-7;
constexpr int MAX_FIT_ITERATIONS = 200000;
// The positional coefficient learns 1500 times slower: its feature is in
// millipawns, the others in pieces.
constexpr double POSITIONAL_STEP = 1.0 / 1500.0;
// Used when the data do not give a positive scale.
constexpr double FALLBACK_SCALE = 0.487065;

// Training constants.
constexpr double START_RATE = 0.00001;
constexpr double PHASE_START_RATE = 0.0001;
constexpr double NO_ERROR_YET = 99999.9;
constexpr double RATE_DOWN = 1.0 / 3.0;
constexpr double RATE_UP = 1.02;
constexpr int SAVE_INTERVAL = 100;  // epochs between saves at least, and between report lines
constexpr int MASK_INTERVAL = 1237;
constexpr double MASK_RATE_FACTOR = 0.025;
constexpr double MASKED_FACTOR = 0.01;
constexpr double WEIGHT_DECAY = 0.999;
constexpr int DECAY_CHANCE = 8;    // per cent of hold-out phases that become weight decay
constexpr int SUBSET_CHANCE = 40;  // from this draw on, a subset phase (given enough samples)
constexpr std::size_t SUBSET_MIN_SAMPLES = 300;
constexpr std::size_t SUBSET_BASE = 200;
constexpr unsigned HOLDOUT_PRIMES[] = {7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47, 53, 59, 61, 67};

double logistic(double z) { return 1.0 / (1.0 + std::exp(-z)); }
double logit(double p) { return -std::log(1.0 / p - 1.0); }

bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Splits a line into at most `capacity` whitespace-separated tokens (the
// line is changed in place); answers the count.
int splitTokens(char* line, char* tokens[], int capacity) {
  int n = 0;
  char* p = line;
  while (n < capacity) {
    while (isSpace(*p)) ++p;
    if (!*p) break;
    tokens[n++] = p;
    while (*p && !isSpace(*p)) ++p;
    if (*p) *p++ = '\0';
  }
  return n;
}

bool parseHex(const char* text, unsigned long& out) {
  if (*text == '-' || *text == '+') return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtoul(text, &end, 16);
  return end != text && *end == '\0' && errno != ERANGE;
}

bool parseInt(const char* text, long& out) {
  char* end = nullptr;
  errno = 0;
  out = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && errno != ERANGE;
}

bool parseReal(const char* text, double& out) {
  char* end = nullptr;
  out = std::strtod(text, &end);
  return end != text && *end == '\0' && std::isfinite(out);
}

// One statistics line as a sample; false when the line does not parse.
bool parseStatisticsLine(char* line, bool& accepted, TrainingSample& sample) {
  char* tokens[7];
  if (splitTokens(line, tokens, 7) != 7) return false;
  unsigned long first = 0, second = 0;
  long code = 0, balance = 0;
  double x = 0, n = 0, bias = 0;
  if (!parseHex(tokens[0], first) || !parseHex(tokens[1], second) || !parseInt(tokens[2], code) ||
      !parseInt(tokens[3], balance) || !parseReal(tokens[4], x) || !parseReal(tokens[5], n) ||
      !parseReal(tokens[6], bias))
    return false;
  if (first > 0xFFFFFul || second > 0xFFFFFul || code < -1 || code > 1) return false;

  accepted = sampleWeight(x, n, sample.weight);
  if (!accepted) return true;
  int counts[5];
  unpackCounts(std::uint32_t(first), counts);
  for (int i = 0; i < 5; ++i) sample.inputs[i] = counts[i];
  unpackCounts(std::uint32_t(second), counts);
  for (int i = 0; i < 5; ++i) sample.inputs[5 + i] = counts[i];
  sample.inputs[10] = double(code);
  sample.target = x;
  sample.bias = bias;
  return true;
}

// Heaviest first; equal weights in the order of their inputs, so that the
// order never depends on the file's.
bool heavierFirst(const TrainingSample& a, const TrainingSample& b) {
  if (a.weight != b.weight) return a.weight > b.weight;
  return std::lexicographical_compare(std::begin(a.inputs), std::end(a.inputs), std::begin(b.inputs),
                                      std::end(b.inputs));
}

bool stopRequested(const std::atomic<bool>* stop) { return stop && stop->load(std::memory_order_relaxed); }

}  // namespace

bool sampleWeight(double x, double n, double& weight) {
  const double information = 2.0 * x * (1.0 - x) * n;
  if (!(information >= MIN_SAMPLE_INFORMATION)) return false;
  if (x < MIN_SAMPLE_RESULT || x > MAX_SAMPLE_RESULT) return false;
  weight = 1.0 + std::sqrt(information / 1000.0) - std::sqrt(MIN_SAMPLE_INFORMATION / 1000.0);
  return true;
}

int readStatistics(std::istream& in, SampleSet& set) {
  platform::skipByteOrderMark(in);
  char line[MAX_STATISTICS_LINE];
  int added = 0;
  // getline fails on a line that does not fit: that line does not parse.
  while (in.getline(line, sizeof line)) {
    bool accepted = false;
    TrainingSample sample{};
    if (!parseStatisticsLine(line, accepted, sample)) break;
    if (!accepted) continue;
    set.samples.push_back(sample);
    set.totalWeight += sample.weight;
    ++added;
  }
  return added;
}

double scaleOf(const LogisticFit& fit) {
  // The coefficients per millipawn of each piece, with the evaluation's
  // piece values.
  return (1000.0 / 6.0) * (fit.c[4] / PIECE_VALUE[PAWN] + fit.c[3] / PIECE_VALUE[KNIGHT] +
                           fit.c[2] / PIECE_VALUE[BISHOP] + fit.c[1] / PIECE_VALUE[ROOK] +
                           fit.c[0] / PIECE_VALUE[QUEEN]);
}

LogisticFit prepareSamples(SampleSet& set, const std::atomic<bool>* stop) {
  LogisticFit fit{{9.0, 5.0, 3.0, 3.0, 1.0, 0.001}, 0, 0.0};
  std::vector<TrainingSample>& samples = set.samples;
  std::sort(samples.begin(), samples.end(), heavierFirst);
  set.totalWeight = 0.0;
  for (const TrainingSample& s : samples) set.totalWeight += s.weight;
  if (samples.empty() || !(set.totalWeight > 0.0)) return fit;

  // Gradient descent on sum w (x - p)^2 with p = logistic(c . features).
  const double stepFactor = std::sqrt(double(samples.size())) / 70.0 / set.totalWeight;
  double step = 0.0001;
  double previous = HUGE_VAL;
  for (int iteration = 0; iteration < MAX_FIT_ITERATIONS && !stopRequested(stop); ++iteration) {
    double error = 0.0;
    double gradient[6] = {};
    for (const TrainingSample& s : samples) {
      double features[6];
      for (int k = 0; k < 5; ++k) features[k] = s.inputs[k] - s.inputs[5 + k];
      features[5] = s.bias;
      double z = 0.0;
      for (int k = 0; k < 6; ++k) z += fit.c[k] * features[k];
      const double p = logistic(z);
      const double miss = s.target - p;
      error += s.weight * miss * miss;
      const double g = -2.0 * s.weight * miss * p * (1.0 - p);
      for (int k = 0; k < 6; ++k) gradient[k] += g * features[k];
    }
    const bool worse = error > previous;
    previous = error;
    fit.error = error;
    fit.iterations = iteration + 1;
    bool moved = false;
    for (int k = 0; k < 6; ++k) {
      const double change = step * gradient[k] * stepFactor * (k == 5 ? POSITIONAL_STEP : 1.0);
      fit.c[k] -= change;
      if (std::fabs(change) > FIT_TOLERANCE * std::fabs(fit.c[k])) moved = true;
    }
    // The step of the next iteration: the first move uses the starting step.
    step = worse ? step * 0.5 : std::min(step * 1.1, 1.0);
    if (!moved) break;
  }

  double scale = scaleOf(fit);
  if (!(scale > 0.0) || !std::isfinite(scale)) scale = FALLBACK_SCALE;
  set.scale = scale;
  // The targets keep the material part of the result only: the value the
  // result stands for, less the positional score, turned back into a result.
  for (TrainingSample& s : samples) {
    const double material = logit(s.target) / scale - 0.001 * s.bias;
    s.bias = material;
    s.target = logistic(scale * material);
  }
  return fit;
}

// ---------------------------------------------------------------------------
// Training

namespace {

class Trainer {
 public:
  Trainer(const SampleSet& set, MaterialNet& net, const TrainingOptions& options)
      : set_(set), net_(net), options_(options) {
    auto& layers = net_.layers();
    deltas_.resize(layers.size());
    mask_.resize(layers.size());
    for (std::size_t l = 0; l < layers.size(); ++l) {
      deltas_[l].assign(layers[l].size(), 0.0);
      mask_[l].assign(layers[l].size(), 1.0);
      if (l + 1 < layers.size())
        for (const MaterialNet::Node& node : layers[l]) connections_ += node.out.size();
    }
    changes_.assign(connections_, 0.0);
  }

  TrainingResult run();

 private:
  void chooseMask();
  void startPhase();
  void present(const double* inputs, double target, double weight);
  void applyChanges();
  void scaleWeights(double factor);
  bool save();
  void report(char mark);
  std::uint32_t random() { return options_.random ? options_.random() : nextRandom32(); }

  const SampleSet& set_;
  MaterialNet& net_;
  const TrainingOptions& options_;
  std::vector<std::vector<double>> deltas_;
  std::vector<std::vector<double>> mask_;
  std::vector<double> changes_;  // accumulated changes, one per connection in weight order
  std::vector<std::pair<std::size_t, std::size_t>> maskOrder_;  // (layer, node): scratch for the mask draw
  std::size_t connections_ = 0;

  double rate_ = START_RATE;
  double error_ = 0.0;
  double previousError_ = NO_ERROR_YET;
  double bestError_ = NO_ERROR_YET;
  std::uint64_t epoch_ = 0;
  std::uint64_t lastSave_ = 0;
  std::int64_t phaseLeft_ = 0;
  bool holdOut_ = false;
  bool skipping_ = true;  // a hold-out phase leaves samples out
  unsigned modulus1_ = 7, modulus2_ = 13, offset_ = 0;
  std::size_t used_ = 0;
  int saves_ = 0;
  std::FILE* log_ = nullptr;
  bool saveFailed_ = false;
};

// Every hidden and output node learns at a hundredth of the rate, except a
// fifth of them (at least one), drawn at random without repetition.
void Trainer::chooseMask() {
  auto& layers = net_.layers();
  maskOrder_.clear();
  for (std::size_t l = 1; l < layers.size(); ++l) {
    std::fill(mask_[l].begin(), mask_[l].end(), MASKED_FACTOR);
    for (std::size_t j = 0; j < layers[l].size(); ++j) maskOrder_.emplace_back(l, j);
  }
  const std::size_t nodes = maskOrder_.size();
  if (nodes == 0) return;
  const std::size_t wanted = std::max<std::size_t>(1, std::size_t(std::lround(0.2 * double(nodes))));
  for (std::size_t i = 0; i < wanted && i < nodes; ++i) {
    std::swap(maskOrder_[i], maskOrder_[i + random() % (nodes - i)]);
    mask_[maskOrder_[i].first][maskOrder_[i].second] = 1.0;
  }
}

void Trainer::startPhase() {
  const std::size_t count = set_.samples.size();
  holdOut_ = !holdOut_;
  rate_ = PHASE_START_RATE;
  previousError_ = NO_ERROR_YET;
  used_ = count;
  skipping_ = true;
  if (!holdOut_) {
    phaseLeft_ = 125000 + random() % 75001;
    return;
  }
  const unsigned draw = random() % 100;
  if (draw < DECAY_CHANCE) {
    // No hold-out after all: a slight decay of all weights instead.
    holdOut_ = false;
    scaleWeights(WEIGHT_DECAY);
    std::fill(changes_.begin(), changes_.end(), 0.0);
    phaseLeft_ = 125000 + random() % 75001;
  } else if (draw >= SUBSET_CHANCE && count >= SUBSET_MIN_SAMPLES) {
    // The heaviest samples only, none held out.
    used_ = SUBSET_BASE + random() % (count - SUBSET_BASE);
    skipping_ = false;
    phaseLeft_ = 800 + random() % 201;
  } else {
    modulus1_ = HOLDOUT_PRIMES[random() % std::size(HOLDOUT_PRIMES)];
    modulus2_ = HOLDOUT_PRIMES[random() % std::size(HOLDOUT_PRIMES)];
    offset_ = random() % 10000;
    phaseLeft_ = 1000 + random() % 501;
  }
}

// One forward pass and the back-propagation of its error into the
// accumulated changes; the weights stay as they are.
void Trainer::present(const double* inputs, double target, double weight) {
  auto& layers = net_.layers();
  const double output = net_.forward(inputs);
  const double miss = target - output;
  error_ += weight * miss * miss / set_.totalWeight;

  const std::size_t last = layers.size() - 1;
  std::fill(deltas_[last].begin(), deltas_[last].end(), 0.0);
  deltas_[last][0] = 2.0 * miss * 0.5 * rate_ * weight / set_.totalWeight / double(connections_);
  for (std::size_t l = last - 1; l >= 1; --l) {
    for (std::size_t j = 0; j < layers[l].size(); ++j) {
      const MaterialNet::Node& node = layers[l][j];
      double sum = 0.0;
      for (const MaterialNet::Connection& c : node.out)
        sum += c.weight * deltas_[std::size_t(c.layer)][std::size_t(c.node)];
      deltas_[l][j] = sum * node.value * (1.0 - node.value);
    }
  }
  std::size_t index = 0;
  for (std::size_t l = 0; l < last; ++l)
    for (const MaterialNet::Node& node : layers[l])
      for (const MaterialNet::Connection& c : node.out)
        changes_[index++] += node.value * deltas_[std::size_t(c.layer)][std::size_t(c.node)];
}

void Trainer::applyChanges() {
  auto& layers = net_.layers();
  std::size_t index = 0;
  for (std::size_t l = 0; l + 1 < layers.size(); ++l)
    for (MaterialNet::Node& node : layers[l])
      for (MaterialNet::Connection& c : node.out)
        c.weight += changes_[index++] * mask_[std::size_t(c.layer)][std::size_t(c.node)];
  std::fill(changes_.begin(), changes_.end(), 0.0);
}

void Trainer::scaleWeights(double factor) {
  for (auto& layer : net_.layers())
    for (MaterialNet::Node& node : layer)
      for (MaterialNet::Connection& c : node.out) c.weight *= factor;
}

// Writes the network to a scratch file and renames it over the network
// file, so that the file always holds a complete network, even when the
// program ends during a save.
bool Trainer::save() {
  const std::string scratch = options_.networkFile + ".tmp";
  std::ostringstream text;
  net_.writeScale(text);
  net_.write(text);
  const char* failure = nullptr;
  if (std::FILE* out = std::fopen(scratch.c_str(), "w")) {
    const std::string bytes = text.str();
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    // Only a scratch file written and closed without error replaces the
    // network file: a full disk must not leave a cut network behind.
    if (!platform::closeWritten(out) || std::rename(scratch.c_str(), options_.networkFile.c_str()) != 0)
      failure = "writing";
  } else {
    failure = "opening";
  }
  if (!failure) return true;
  std::remove(scratch.c_str());
  // Reported once: the next save would fail the same way.
  if (!saveFailed_ && options_.print)
    options_.print(std::string("info string error ") + failure + " the output file " +
                   reportable(options_.networkFile, REPORT_NAME_LENGTH));
  saveFailed_ = true;
  return false;
}

void Trainer::report(char mark) {
  if (!log_) return;
  std::fprintf(log_, "%c%6ld %7.5f %10.7f\n", mark, long(epoch_), rate_, std::sqrt(error_));
  std::fflush(log_);
}

TrainingResult Trainer::run() {
  TrainingResult result;
  const std::vector<TrainingSample>& samples = set_.samples;
  used_ = samples.size();
  phaseLeft_ = std::max(1, options_.firstPhaseLength);
  chooseMask();
  log_ = std::fopen(options_.logFile.c_str(), "w");
  if (!log_ && options_.print)
    options_.print("info string error opening the output file " + reportable(options_.logFile, REPORT_NAME_LENGTH));

  double mirrored[MATERIAL_NET_INPUTS];
  while (!stopRequested(options_.stop) && (options_.maxEpochs == 0 || epoch_ < options_.maxEpochs)) {
    if (--phaseLeft_ <= 0) startPhase();

    error_ = 0.0;
    for (std::size_t i = 0; i < used_; ++i) {
      if (holdOut_ && skipping_ && ((i + offset_) % modulus1_ == 0 || (i + offset_) % modulus2_ == 0)) continue;
      const TrainingSample& s = samples[i];
      present(s.inputs, s.target, s.weight);
      // The same configuration seen from the other side.
      for (int k = 0; k < 5; ++k) {
        mirrored[k] = s.inputs[5 + k];
        mirrored[5 + k] = s.inputs[k];
      }
      mirrored[10] = s.inputs[10];
      present(mirrored, 1.0 - s.target, s.weight);
    }
    ++epoch_;

    // The network just measured is the one worth saving: save it before
    // this epoch's changes go in.
    bool saved = false;
    if (!holdOut_ && epoch_ - lastSave_ >= std::uint64_t(SAVE_INTERVAL) && error_ < bestError_) {
      saved = save();
      if (saved) ++saves_;
      bestError_ = error_;
      lastSave_ = epoch_;
    }

    // A worse epoch (or a non-finite error) throws its changes away.
    if (!(error_ <= previousError_)) {
      rate_ *= RATE_DOWN;
      std::fill(changes_.begin(), changes_.end(), 0.0);
    } else {
      rate_ *= RATE_UP;
      applyChanges();
    }
    previousError_ = error_;

    if ((epoch_ - lastSave_) % SAVE_INTERVAL == 0) report(saved ? '*' : holdOut_ ? 'X' : ' ');
    if (epoch_ % MASK_INTERVAL == 0) {
      chooseMask();
      rate_ *= MASK_RATE_FACTOR;
    }
  }
  if (log_) std::fclose(log_);
  log_ = nullptr;

  result.epochs = epoch_;
  result.saves = saves_;
  result.bestError = bestError_;
  result.lastError = error_;
  return result;
}

}  // namespace

TrainingResult trainNetwork(const SampleSet& set, MaterialNet& net, const TrainingOptions& options) {
  if (set.samples.empty() || !(set.totalWeight > 0.0)) return {};
  // A network file of another shape cannot be trained on these samples.
  if (!net.load(options.networkFile) || net.inputCount() != MATERIAL_NET_INPUTS || net.outputCount() < 1)
    net.load(INTERNAL_NET_NAME);
  if (set.scale > 0.0) net.setNetScale(set.scale);
  Trainer trainer(set, net, options);
  return trainer.run();
}

// ---------------------------------------------------------------------------

BackgroundTraining::~BackgroundTraining() { stop(); }

void BackgroundTraining::stop() {
  stop_.store(true, std::memory_order_relaxed);
  thread_.join();
}

bool BackgroundTraining::start(SampleSet samples, TrainingOptions options) {
  if (thread_.joinable()) return false;
  stop_.store(false, std::memory_order_relaxed);
  samples_ = std::move(samples);
  options_ = std::move(options);
  options_.stop = &stop_;
  return thread_.start(std::size_t(1) << 20, [this] {
    prepareSamples(samples_, &stop_);
    if (!stop_.load(std::memory_order_relaxed)) trainNetwork(samples_, net_, options_);
  });
}

}  // namespace korvane
