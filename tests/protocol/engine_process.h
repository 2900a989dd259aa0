// The built engine as a child process, driven the way a GUI drives it: all
// input at once (runEngine) or line by line during a game (InteractiveEngine).
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace korvane::testing {

struct Transcript {
  std::vector<std::string> out;  // standard output, one entry per line
  std::vector<std::string> err;  // standard error
  int exitCode = -1;             // -1 when the engine did not exit normally
};

// Writes `input` to the engine's standard input, closes it and waits for the
// engine to end.
Transcript runEngine(const std::string& input, const std::vector<std::string>& args = {});
// The same with another program (a copy of the engine placed elsewhere).
Transcript runProgram(const std::string& binary, const std::string& input, const std::vector<std::string>& args = {});

// Joins lines with '\n' after each one.
std::string lines(std::initializer_list<const char*> list);
bool startsWith(const std::string& text, const std::string& prefix);

class InteractiveEngine {
 public:
  // Starts `binary` with `args` in `workingDir` ("" keeps the test's
  // directory). Standard error stays the test's own, so that sanitizer
  // reports show.
  explicit InteractiveEngine(const std::vector<std::string>& args = {}, const std::string& workingDir = "",
                             const std::string& binary = KORVANE_BINARY);
  ~InteractiveEngine();  // closes standard input; kills the engine if it does not end
  InteractiveEngine(const InteractiveEngine&) = delete;
  InteractiveEngine& operator=(const InteractiveEngine&) = delete;

  void send(const std::string& line);
  // Reads lines until one satisfies `done` (returned in `last`); every line
  // read is appended to `seen`. False on end of output or after `timeoutMs`.
  bool readUntil(const std::function<bool(const std::string&)>& done, int timeoutMs, std::string* last = nullptr);
  bool readLine(const std::string& exact, int timeoutMs) {
    return readUntil([&exact](const std::string& l) { return l == exact; }, timeoutMs);
  }
  // Lines arriving within `ms` (for checking that nothing more comes).
  std::vector<std::string> drain(int ms);
  // Waits for the engine to end by itself, standard input still open: the
  // exit code, or -1 when it did not end in time.
  int waitExit(int timeoutMs);
  // Closes standard input and waits for the exit: the exit code, or -1 when
  // the engine had to be killed.
  int finish(int timeoutMs);

  std::vector<std::string> seen;

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string buffer_;
  int exitCode_ = -2;
};

}  // namespace korvane::testing
