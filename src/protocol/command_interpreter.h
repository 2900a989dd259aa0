// What the driver hands input lines to once the protocol is chosen.
#pragma once

namespace korvane {

class CommandInterpreter {
 public:
  // Executes one complete input line (NUL-terminated, trailing white space
  // already removed, leading white space kept).
  virtual void handleLine(const char* line) = 0;
  virtual ~CommandInterpreter() = default;
};

}  // namespace korvane
