#include "search/engine_output.h"

#include <cstdio>

#include "search/engine.h"

namespace korvane {

EngineOutput::EngineOutput(Engine* engine, TimeControl* timeControl)
    : engine_(engine), timeControl_(timeControl) {}

EngineOutput::~EngineOutput() = default;

void EngineOutput::reportMultiPv(Engine&, int, Move, int, int, int) {}

void EngineOutput::takeSnapshot() {
  if (engine_) snapshot_ = engine_->game.position;
}

void EngineOutput::printLine(std::string_view text) {
  if (!noOutput()) writeLine(text);
}

void EngineOutput::writeLine(std::string_view text) {
  std::lock_guard<std::mutex> guard(lock_);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

EngineOutput& silentOutput() {
  static SilentOutput silent;
  return silent;
}

}  // namespace korvane
