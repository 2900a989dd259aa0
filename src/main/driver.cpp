#include "main/driver.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "main/queue_sink.h"
#include "protocol/engine_output.h"
#include "protocol/scan.h"
#include "protocol/uci_interpreter.h"
#include "protocol/xboard_adapter.h"
#include "protocol/xboard_output.h"

namespace korvane {

CommandLine parseCommandLine(int argc, const char* const* argv) {
  CommandLine result;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg(argv[i]);
    if (arg == "VersteckteOptionen") {
      result.hiddenOptions = true;
    } else if (!arg.empty() && arg.front() == '"') {
      std::string name(arg.substr(1, MAX_REPLAY_NAME));
      if (!name.empty() && name.back() == '"') name.pop_back();
      result.replayFile = name;
    } else {
      result.replayFile = std::string(arg.substr(0, MAX_REPLAY_NAME));
    }
  }
  return result;
}

Protocol protocolOf(std::string_view word) {
  if (word == "uci") return Protocol::Uci;
  if (word == "ucitest") return Protocol::UciTest;
  if (word == "xboard") return Protocol::Xboard;
  return Protocol::None;
}

Driver::Driver(const CommandLine& commandLine) : commandLine_(commandLine) { engine_.timeControl = &timeControl_; }

Driver::~Driver() { teardown(); }

int Driver::run() {
  std::vector<char> buffer(LINE_BUFFER);
  while (!std::feof(stdin)) {
    if (controller_ && controller_->quitFlag.load(std::memory_order_relaxed)) break;
    if (!std::fgets(buffer.data(), LINE_BUFFER, stdin)) {
      if (std::ferror(stdin)) break;  // an unreadable input ends the run like its end
      continue;
    }
    buffer[LINE_BUFFER - 1] = '\0';
    handleLine(buffer.data());
  }
  teardown();
  return 0;
}

void Driver::handleLine(char* line) {
  std::size_t length = std::strlen(line);
  while (length > 0 && scan::isWhite(line[length - 1])) line[--length] = '\0';

  const char* wordStart = scan::skipWhite(line);
  std::size_t wordLength = 0;
  while (wordLength < MAX_FIRST_WORD && wordStart[wordLength] && !scan::isWhite(wordStart[wordLength]))
    ++wordLength;
  if (wordLength == 0) return;  // blank line

  if (interpreter_) {
    interpreter_->handleLine(line);
    return;
  }
  // A first word longer than MAX_FIRST_WORD never names a protocol.
  bool longer = wordStart[wordLength] && !scan::isWhite(wordStart[wordLength]);
  Protocol protocol = longer ? Protocol::None : protocolOf(std::string_view(wordStart, wordLength));
  if (!startProtocol(protocol)) {
    std::fputs("'uci' or 'xboard' expected\n", stderr);
    std::fflush(stderr);
    return;
  }
  openReplayFile();
  // "ucitest" gets the ordinary "uci" reply, through its silent channel.
  interpreter_->handleLine(protocol == Protocol::UciTest ? "uci" : line);
}

bool Driver::startProtocol(Protocol protocol) {
  switch (protocol) {
    case Protocol::Uci:
      output_ = std::make_unique<UciOutput>(engine_, timeControl_);
      break;
    case Protocol::UciTest:
      output_ = std::make_unique<UciTestOutput>(engine_, timeControl_);
      break;
    case Protocol::Xboard:
      startXboard();
      return true;
    case Protocol::None:
      return false;
  }
  controller_ = std::make_unique<SearchController>(engine_, *output_, timeControl_);
  interpreter_ = std::make_unique<UciInterpreter>(engine_, *output_, *controller_, commandLine_.hiddenOptions);
  engine_.output = output_.get();
  return true;
}

void Driver::startXboard() {
  auto output = std::make_unique<XboardOutput>(engine_, timeControl_);
  XboardOutput& xboardOutput = *output;
  output_ = std::move(output);
  controller_ = std::make_unique<SearchController>(engine_, *output_, timeControl_);
  // The inner interpreter always accepts the hidden options: the settings
  // file may set them.
  innerInterpreter_ = std::make_unique<UciInterpreter>(engine_, *output_, *controller_, true);
  auto adapter =
      std::make_unique<XboardAdapter>(xboardOutput, std::make_unique<QueueSink>(*innerInterpreter_));
  xboardOutput.setAdapter(adapter.get());
  interpreter_ = std::move(adapter);
  engine_.output = output_.get();
}

void Driver::openReplayFile() {
  if (!commandLine_.replayFile) return;
  // The reader's reports (a file that cannot be opened, a broken game read
  // later by the search thread) are lines of the protocol's channel: whole,
  // under its lock, and silent where the channel is.
  replay_ = std::make_unique<ReplayFile>(*commandLine_.replayFile,
                                         [this](const std::string& line) { engine_.output->printLine(line); });
  engine_.replay = replay_.get();
}

void Driver::teardown() {
  // The xboard adapter stops the search and runs its queue to the end before
  // the interpreter its queue feeds goes away.
  interpreter_.reset();
  innerInterpreter_.reset();
  controller_.reset();
  engine_.output = &silentOutput();
  output_.reset();
}

}  // namespace korvane
