// Helpers for the xboard tests: the built engine run as a child process in a
// chosen working directory, scratch directories, and legal moves for the
// side that the tests play.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "board/position.h"
#include "board/types.h"

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

// The engine as a GUI runs it: lines in, lines out, standard error kept apart.
class XboardProcess {
 public:
  // Starts `binary` (the built engine by default) in `workingDir` ("" keeps
  // the test's directory).
  explicit XboardProcess(const std::string& workingDir = "", const std::string& binary = KORVANE_BINARY);
  ~XboardProcess();  // closes standard input; kills the engine if it does not end
  XboardProcess(const XboardProcess&) = delete;
  XboardProcess& operator=(const XboardProcess&) = delete;

  void send(const std::string& line);
  // Reads lines until one satisfies `done`; it is stored in `last`. Every line
  // read is kept in `seen`. False at the end of output or after `timeoutMs`.
  bool readUntil(const std::function<bool(const std::string&)>& done, int timeoutMs, std::string* last = nullptr);
  bool readLine(const std::string& exact, int timeoutMs) {
    return readUntil([&exact](const std::string& l) { return l == exact; }, timeoutMs);
  }
  // Lines arriving within `ms` (for checking that nothing more comes).
  std::vector<std::string> drain(int ms);
  // Sends "xboard" and "protover 2" and reads up to "feature done=1".
  bool handshake(int timeoutMs = 10000);
  // Waits for the engine to end by itself, standard input still open. The
  // exit code, or -1 when it did not end in time.
  int waitExit(int timeoutMs);
  // Closes standard input and waits; -1 when the engine had to be killed.
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

// Every legal move of the position, in generation order.
std::vector<Move> legalMoveList(Position& pos);

// The move of a "move X" line, if it is one and legal in `pos`.
bool engineMove(const std::string& line, Position& pos, Move& out);

// Coordinate text of a move.
std::string moveText(Position& pos, Move m);

}  // namespace korvane::xtest
