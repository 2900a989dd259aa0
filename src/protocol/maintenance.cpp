#include "protocol/maintenance.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "board/perft.h"
#include "book/book_command.h"
#include "eval/evaluator.h"
#include "platform/platform.h"
#include "protocol/engine_output.h"
#include "protocol/scan.h"
#include "search/engine.h"

namespace korvane {

namespace {

// The perft table may be as large as the transposition table may be.
constexpr int MAX_PERFT_HASH_MB = 2047;

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

// Material statistics arrive with the network training; until then the
// command is accepted and does nothing.
void matCommand(Engine&, EngineOutput&, const char*) {}

// Prints the evaluation of the game position for the side to move and the
// part of it that is material. The material part is the evaluation minus its
// positional part; the positional part lacks the final unit step away from
// zero, so an otherwise empty material part shows as +-1 and is printed as 0.
void evalCommand(Engine& engine, EngineOutput& output, const char*) {
  Evaluator& evaluator = engine.evaluator;
  const Position& pos = engine.game.position;
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
