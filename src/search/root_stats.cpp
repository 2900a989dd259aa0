#include "search/root_stats.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <sstream>

namespace korvane {

namespace {

constexpr std::uint64_t MIN_ITERATION_NODES = 8000;
constexpr std::uint64_t MIN_SECOND_NODES = 200;
constexpr int MAX_NETWORK_SCORE = 2800;  // beyond this the game is decided: time matters less
constexpr int MAX_LOG_SCORE = 2799;
constexpr int MAX_LOG_GAME_POSITIONS = 20;  // only the opening phase is logged
constexpr int MIN_LOG_DEPTH = 6;
constexpr int MAX_PV_AGREEMENT = 5;
constexpr int MAX_FACTOR = 75;
constexpr double MISSING_SHARE = -0.1;

bool namesLogFile(const char* fileName) {
  return fileName != nullptr && fileName[0] != '\0' && std::strcmp(fileName, "nul:") != 0;
}

// One line into the log. Every engine may log, so the lock is process-wide;
// the file is opened per line so that the log stays readable while the
// engine runs, and a file that cannot be opened is simply skipped.
void appendTimeLog(const char* fileName, const char* text, int changed) {
  static std::mutex lock;
  std::lock_guard<std::mutex> guard(lock);
  std::FILE* file = std::fopen(fileName, "a");
  if (!file) return;
  std::fprintf(file, "%s %d\n", text, changed);
  std::fclose(file);
}

// a goes before b as the first entry: higher score, at equal score more nodes.
bool leads(const RootStats::Entry& a, const RootStats::Entry& b) {
  return a.score > b.score || (a.score == b.score && a.nodes > b.nodes);
}

}  // namespace

RootStats::RootStats() {
  std::istringstream text(BUILTIN_ROOT_NET);
  net_.read(text);  // the built-in text is known to parse; if not, forward() answers 0
}

void RootStats::reset() {
  count_ = 0;
  total_ = 0;
}

void RootStats::addMove(Move move, std::uint64_t nodes, int score) {
  total_ += nodes;
  for (int i = 0; i < count_; ++i) {
    if (entries_[i].move == move) {
      entries_[i].nodes += nodes;
      entries_[i].score = score;
      reorder();
      return;
    }
  }
  if (count_ < MAX_ENTRIES) {
    entries_[count_++] = Entry{nodes, score, move};
  } else if (score > entries_[0].score || nodes >= entries_[MAX_ENTRIES - 1].nodes) {
    // A new best always enters; otherwise the move must have taken at least
    // as many nodes as the smallest of the others.
    entries_[MAX_ENTRIES - 1] = Entry{nodes, score, move};
  } else {
    return;
  }
  reorder();
}

void RootStats::reorder() {
  if (count_ == 0) return;
  int best = 0;
  for (int i = 1; i < count_; ++i)
    if (leads(entries_[i], entries_[best])) best = i;
  Entry first = entries_[best];
  for (int i = best; i > 0; --i) entries_[i] = entries_[i - 1];
  entries_[0] = first;
  // The rest by nodes, most first; a stable insertion sort of at most three.
  for (int i = 2; i < count_; ++i) {
    Entry e = entries_[i];
    int j = i;
    for (; j > 1 && entries_[j - 1].nodes < e.nodes; --j) entries_[j] = entries_[j - 1];
    entries_[j] = e;
  }
}

double RootStats::share(int i) const {
  if (i >= count_) return MISSING_SHARE;
  return total_ == 0 ? 0.0 : double(entries_[i].nodes) / double(total_);
}

bool RootStats::applicable() const {
  if (total_ < MIN_ITERATION_NODES || count_ < 2) return false;
  if (entries_[1].nodes < MIN_SECOND_NODES) return false;
  return entries_[0].score >= -MAX_NETWORK_SCORE && entries_[0].score <= MAX_NETWORK_SCORE;
}

double RootStats::networkOutput(int pvAgreement) {
  if (pvAgreement < 0) pvAgreement = 0;
  if (pvAgreement > MAX_PV_AGREEMENT) pvAgreement = MAX_PV_AGREEMENT;
  const double inputs[5] = {double(pvAgreement), share(0), share(1), share(2), share(3)};
  return net_.forward(inputs);
}

bool RootStats::timeFactor(int pvAgreement, int& factor) {
  if (!applicable()) return false;
  double percent = networkOutput(pvAgreement) * 100.0;
  if (!(percent > 0.0)) percent = 0.0;  // also catches a NaN from a broken network
  if (percent > MAX_FACTOR) percent = MAX_FACTOR;
  factor = int(percent);
  return true;
}

void RootStats::logIteration(const char* fileName, int depth, Move bestMove, int score, bool hasSpecialist,
                             int gamePositions, int pvAgreement) {
  if (!namesLogFile(fileName)) return;
  if (score < -MAX_LOG_SCORE || score > MAX_LOG_SCORE || hasSpecialist) return;
  if (gamePositions >= MAX_LOG_GAME_POSITIONS) return;

  if (hasPending_) appendTimeLog(fileName, pending_, bestMove == pendingMove_ ? 0 : 1);
  hasPending_ = false;
  if (depth < MIN_LOG_DEPTH || !applicable()) return;

  if (pvAgreement < 0) pvAgreement = 0;
  if (pvAgreement > MAX_PV_AGREEMENT) pvAgreement = MAX_PV_AGREEMENT;
  const double output = networkOutput(pvAgreement);
  std::snprintf(pending_, sizeof pending_, "%11.8f %11.8f %11.8f %11.8f %2d  %11.8f", share(0), share(1),
                share(2), share(3), pvAgreement, output);
  pendingMove_ = bestMove;
  hasPending_ = true;
}

}  // namespace korvane
