// An output channel that keeps what it is given, for tests that drive the
// interpreter or the search without a process.
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
  // Every message is kept, debug mode or not, as "message detail".
  void debugMessage(const char* message, const char* detail) override {
    messages.push_back(detail ? std::string(message) + " " + detail : std::string(message));
  }
  void printLine(std::string_view text) override {
    if (!noOutput()) printed.emplace_back(text);
  }

  std::vector<std::string> printed;
  std::vector<std::string> messages;
};

}  // namespace korvane::testing
