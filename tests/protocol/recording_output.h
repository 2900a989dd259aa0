// An output channel that keeps the lines it prints, for tests that drive the
// interpreter or the evaluation without a process.
#pragma once

#include <string>
#include <vector>

#include "search/engine_output.h"

namespace korvane::testing {

class RecordingOutput final : public EngineOutput {
 public:
  explicit RecordingOutput(Engine& engine) : EngineOutput(&engine, nullptr) {}

  void reportIteration(Engine&, int, int, int) override {}
  void reportCurrentMove(Move, int) override {}
  void reportBestMove(Move, Move) override {}
  void reportSearchEnd() override {}
  void debugMessage(const char* message, const char*) override {
    if (!noOutput()) debug.emplace_back(message);
  }
  void printLine(std::string_view text) override {
    if (!noOutput()) printed.emplace_back(text);
  }

  std::vector<std::string> printed;
  std::vector<std::string> debug;
};

}  // namespace korvane::testing
