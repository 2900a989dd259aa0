#include "protocol/maintenance.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "board/perft.h"
#include "book/writer/book_command.h"
#include "eval/evaluator.h"
#include "learn/training.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "protocol/engine_output.h"
#include "protocol/scan.h"
#include "search/engine.h"

namespace korvane {

namespace {

// The perft table may be as large as the transposition table may be.
constexpr int MAX_PERFT_HASH_MB = 2047;

// File names of the "mat" command.
constexpr std::size_t MAX_MAT_FILE_NAME = 1023;

// The text from `begin` to `end` without trailing white space, at most
// MAX_MAT_FILE_NAME characters.
std::string matFileName(const char* begin, const char* end) {
  while (end > begin && scan::isWhite(end[-1])) --end;
  return std::string(begin, std::min<std::size_t>(std::size_t(end - begin), MAX_MAT_FILE_NAME));
}

bool startsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

void matLearn(MatCommandState& state, EngineOutput& output, const std::string& name) {
  if (state.training && state.training->running()) {
    output.debugMessage("mat learn: Training läuft bereits", nullptr);
    return;
  }
  std::ifstream in;
  if (!platform::openForReading(in, name)) {
    output.debugMessage("mat learn: Statistikdatei nicht lesbar:", name.c_str());
    return;
  }
  SampleSet samples;
  readStatistics(in, samples);
  // Without samples there is nothing to learn from (and no weight to divide by).
  if (samples.samples.empty()) {
    output.debugMessage("mat learn: keine verwertbaren Statistikzeilen in", name.c_str());
    return;
  }
  TrainingOptions options;
  options.print = [&output](const std::string& line) { output.printLine(line); };
  state.training = std::make_unique<BackgroundTraining>();
  if (!state.training->start(std::move(samples), std::move(options)))
    output.debugMessage("mat learn: Training konnte nicht gestartet werden", nullptr);
}

}  // namespace

void perftCommand(Engine& engine, EngineOutput& output, const char* args) {
  int depth = 0;
  const char* depthAt = std::strstr(args, "depth");
  if (!depthAt || !scan::readInt(depthAt + 5, depth)) {
    output.debugMessage("perft ohne depth", nullptr);
    return;
  }
  int hashMb = 0;
  if (const char* hashAt = std::strstr(args, "Hash")) {
    if (!scan::readInt(hashAt + 4, hashMb)) hashMb = 0;
    hashMb = std::clamp(hashMb, 0, MAX_PERFT_HASH_MB);
  }

  std::uint64_t count = 0;
  std::int64_t start = platform::nowMs();
  try {
    Perft perft(hashMb);
    count = perft.run(engine.game.position, depth);
  } catch (const std::bad_alloc&) {
    output.debugMessage("perft: nicht genug Speicher für 'Hash'", nullptr);
    return;
  }
  double elapsed = double(platform::nowMs() - start);

  char line[160];
  std::snprintf(line, sizeof line, "info depth %d time %16.0f nodes %16.0f", depth, elapsed, double(count));
  collapseSpaces(line);
  output.printLine(line);
}

void bookCommand(BookBuilderState& state, EngineOutput& output, const char* args) {
  runBookCommand(args, state, [&output](const std::string& line) { output.printLine(line); });
}

MatCommandArguments parseMatArguments(const char* args, bool collectorExists) {
  using Action = MatCommandArguments::Action;
  MatCommandArguments a;
  const char* text = scan::skipWhite(args ? args : "");
  if (startsWith(text, "learn")) {
    a.action = Action::Learn;
    const char* name = scan::skipWhite(text + 5);
    a.fileName = matFileName(name, name + std::strlen(name));
  } else if (startsWith(text, "delete")) {
    a.action = Action::Delete;
  } else if (startsWith(text, "add ")) {
    a.action = Action::Add;
    const char* name = scan::skipWhite(text + 4);
    // The name ends before the first keyword (and the blank before it).
    const char* end = name + std::strlen(name);
    for (const char* keyword : {"value ", "ELO "}) {
      const char* at = std::strstr(name, keyword);
      if (at && at < end) end = at > name ? at - 1 : at;
    }
    a.fileName = matFileName(name, end);
    if (const char* at = std::strstr(name, "value ")) {
      if (!scan::readInt(at + 6, a.value)) a.value = 1000;
    }
    if (const char* at = std::strstr(name, "ELO ")) {
      if (!scan::readInt(at + 4, a.minimumElo)) a.minimumElo = -1;
    }
  } else if (startsWith(text, "write ") && collectorExists) {
    a.action = Action::Write;
    const char* name = scan::skipWhite(text + 6);
    a.fileName = matFileName(name, name + std::strlen(name));
  }
  return a;
}

// No quiet stop: collecting and training use their own position, evaluator
// and network, and leave the engine's alone.
void matCommand(MatCommandState& state, EngineOutput& output, const char* args) {
  using Action = MatCommandArguments::Action;
  const MatCommandArguments a = parseMatArguments(args, state.collector != nullptr);
  const LineWriter print = [&output](const std::string& line) { output.printLine(line); };
  try {
    switch (a.action) {
      case Action::None:
        return;
      case Action::Learn:
        matLearn(state, output, a.fileName);
        return;
      case Action::Delete:
        state.collector.reset();
        return;
      case Action::Add:
        if (!state.collector) state.collector = std::make_unique<MaterialStatistics>();
        state.collector->addPgnFile(a.fileName, a.value, a.minimumElo, print);
        return;
      case Action::Write:
        // A file that could not be written keeps the statistics for another
        // try rather than throwing them away.
        if (state.collector->write(a.fileName, print)) state.collector.reset();
        return;
    }
  } catch (const std::bad_alloc&) {
    state.collector.reset();
    output.debugMessage("mat: nicht genug Speicher", nullptr);
  }
}

// Prints the evaluation of the game position for the side to move and the
// part of it that is material. The material part is the evaluation minus its
// positional part; the positional part lacks the final unit step away from
// zero, so an otherwise empty material part shows as +-1 and is printed as 0.
void evalCommand(Evaluator& evaluator, const Position& pos, EngineOutput& output, const char*) {
  const long value = evaluator.evaluate(pos);
  long material = value - evaluator.positionalScore(pos);
  if (material == 1 || material == -1) material = 0;

  char line[96];
  std::snprintf(line, sizeof line, "info score cp %ld", (value + 9) / 10);
  output.printLine(line);
  std::snprintf(line, sizeof line, "info string value %ld mat %ld", value, material);
  output.printLine(line);
}

}  // namespace korvane
