#include "protocol/maintenance.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "board/perft.h"
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

// Book building arrives with the book builder; until then the command is
// accepted and does nothing.
void bookCommand(Engine&, EngineOutput&, const char*) {}

// Material statistics arrive with the network training; until then the
// command is accepted and does nothing.
void matCommand(Engine&, EngineOutput&, const char*) {}

// The evaluation arrives with the evaluator; until then the command is
// accepted and does nothing.
void evalCommand(Engine&, EngineOutput&, const char*) {}

}  // namespace korvane
