// Runs the built engine as a GUI would: input through a pipe, standard input
// closed after the last line, standard output and error collected.
#pragma once

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

}  // namespace korvane::testing
