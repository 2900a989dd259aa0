// Drives the built engine line by line, as a GUI does during a game: send a
// command, then read until an expected line arrives.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace korvane::testing {

class InteractiveEngine {
 public:
  // Starts `binary` (the built engine by default) with `args` in `workingDir`
  // ("" keeps the test's directory). Standard error stays the test's own, so
  // that sanitizer reports show.
  explicit InteractiveEngine(const std::vector<std::string>& args = {}, const std::string& workingDir = "",
                             const std::string& binary = KORVANE_BINARY);
  ~InteractiveEngine();  // closes standard input; kills the engine if it does not end
  InteractiveEngine(const InteractiveEngine&) = delete;
  InteractiveEngine& operator=(const InteractiveEngine&) = delete;

  void send(const std::string& line);
  // Reads lines until one satisfies `done` (that line is returned in
  // `last`); every line read is appended to `seen`. False on end of output
  // or when `timeoutMs` passes first.
  bool readUntil(const std::function<bool(const std::string&)>& done, int timeoutMs, std::string* last = nullptr);
  bool readLine(const std::string& exact, int timeoutMs) {
    return readUntil([&exact](const std::string& l) { return l == exact; }, timeoutMs);
  }
  // Lines arriving within `ms` (for checking that nothing more comes).
  std::vector<std::string> drain(int ms);
  // Waits for the engine to end by itself, standard input still open. The
  // exit code, or -1 when it did not end in time.
  int waitExit(int timeoutMs);
  // Closes standard input and waits up to `timeoutMs` for the exit; the exit
  // code, or -1 when the engine had to be killed.
  int finish(int timeoutMs);

  std::vector<std::string> seen;

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string buffer_;
  int exitCode_ = -2;
};

bool startsWith(const std::string& text, const std::string& prefix);

}  // namespace korvane::testing
