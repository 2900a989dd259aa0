// A UCI command stream through the interpreter, with an output that prints
// nothing and searches of a few hundred nodes. Commands that run for long or
// touch files (perft, bench, book, mat, Hash sizes, file options) are left
// out: their readers have targets of their own.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "protocol/engine_output.h"
#include "protocol/scan.h"
#include "protocol/search_controller.h"
#include "protocol/uci_interpreter.h"
#include "search/engine.h"

using namespace korvane;

namespace {

class StubOutput final : public UciOutput {
 public:
  using UciOutput::UciOutput;
  void printLine(std::string_view) override {}
};

bool leftOut(const std::string& line) {
  const char* word = scan::skipWhite(line.c_str());
  std::size_t length = 0;
  while (word[length] && !scan::isWhite(word[length])) ++length;
  const std::string_view first(word, length);
  if (first == "perft" || first == "bench" || first == "book" || first == "mat") return true;
  for (const char* name : {"Hash", "File", "Zeitprotokolldatei"})
    if (line.find(name) != std::string::npos) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::NodeCappedTimeControl timeControl;
  Engine engine;
  engine.timeControl = &timeControl;
  StubOutput output(engine, timeControl);
  engine.output = &output;
  {
    SearchController controller(engine, output, timeControl);
    UciInterpreter interpreter(engine, output, controller, true);
    for (const std::string& line : fuzz::commandLines(data, size)) {
      if (leftOut(line)) continue;
      interpreter.handleLine(line.c_str());
      if (controller.quitFlag.load()) break;
    }
  }
  engine.output = &silentOutput();
  return 0;
}
