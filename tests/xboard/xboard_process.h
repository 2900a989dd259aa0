// Helpers for the xboard tests: the built engine run as a child process in a
// chosen working directory, scratch directories, and legal moves for the
// side that the tests play.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "board/position.h"
#include "board/types.h"
#include "../protocol/interactive_engine.h"

namespace korvane::xtest {

// A directory under /tmp that is removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // Writes a file in the directory and answers its path.
  std::string write(const std::string& name, const std::string& contents) const;

 private:
  std::string path_;
};

// The engine as an xboard GUI runs it, in a chosen working directory.
class XboardProcess : public testing::InteractiveEngine {
 public:
  explicit XboardProcess(const std::string& workingDir = "", const std::string& binary = KORVANE_BINARY)
      : InteractiveEngine({}, workingDir, binary) {}
  // Sends "xboard" and "protover 2" and reads up to "feature done=1".
  bool handshake(int timeoutMs = 10000);
};

using testing::startsWith;

// The move of a "move X" line, if it is one and legal in `pos`.
bool engineMove(const std::string& line, Position& pos, Move& out);

}  // namespace korvane::xtest
