// The top of the program: the command line, the objects that live for the
// whole run, and the loop that reads standard input and hands each line to
// the protocol chosen by the first word.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "pgn/replay_file.h"
#include "protocol/command_interpreter.h"
#include "protocol/search_controller.h"
#include "search/engine.h"
#include "search/engine_output.h"
#include "search/time_control.h"

namespace korvane {

struct CommandLine {
  bool hiddenOptions = false;              // "VersteckteOptionen"
  std::optional<std::string> replayFile;  // PGN file whose games are replayed
};

// Longest replay file name kept.
constexpr std::size_t MAX_REPLAY_NAME = 511;

// Reads the arguments after the program name. A name in double quotes loses
// them; of several names the last one counts.
CommandLine parseCommandLine(int argc, const char* const* argv);

enum class Protocol { None, Uci, UciTest, Xboard };

// The protocol a first input word asks for (exact, case-sensitive).
Protocol protocolOf(std::string_view word);

class Driver {
 public:
  // Input is read in pieces of at most this many bytes, terminator included;
  // each piece of a longer line counts as a line of its own.
  static constexpr int LINE_BUFFER = 40000;
  // Longest first word looked at when choosing the protocol.
  static constexpr std::size_t MAX_FIRST_WORD = 16;

  explicit Driver(const CommandLine& commandLine);
  ~Driver();
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // Reads standard input until its end or "quit". Answers the exit code.
  int run();

 private:
  // Handles one line with trailing white space removed.
  void handleLine(char* line);
  // Builds and wires the objects of a protocol. False if this build cannot
  // speak it.
  bool startProtocol(Protocol protocol);
  // The xboard objects: output, search control, the inner UCI interpreter and
  // the adapter that feeds it through a command queue.
  void startXboard();
  // Opens the replay file named on the command line, reporting through the
  // protocol's output channel.
  void openReplayFile();
  void teardown();

  CommandLine commandLine_;
  // Declared in creation order; teardown() releases them in reverse.
  Engine engine_;
  std::unique_ptr<ReplayFile> replay_;  // the games named on the command line, if any
  TimeControl timeControl_;
  std::unique_ptr<EngineOutput> output_;
  std::unique_ptr<SearchController> controller_;
  std::unique_ptr<CommandInterpreter> innerInterpreter_;  // xboard mode: run by the adapter's queue
  std::unique_ptr<CommandInterpreter> interpreter_;
};

}  // namespace korvane
