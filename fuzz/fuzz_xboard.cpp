// An xboard command stream through the adapter, whose UCI commands run on
// the real command queue and interpreter; the output prints nothing and
// searches stop after a few hundred nodes.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "main/queue_sink.h"
#include "protocol/search_controller.h"
#include "protocol/uci_interpreter.h"
#include "protocol/xboard_adapter.h"
#include "protocol/xboard_output.h"
#include "search/engine.h"

using namespace korvane;

namespace {

class StubOutput final : public XboardOutput {
 public:
  using XboardOutput::XboardOutput;

 protected:
  void write(std::string_view) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::NodeCappedTimeControl timeControl;
  Engine engine;
  engine.timeControl = &timeControl;
  StubOutput output(engine, timeControl);
  engine.output = &output;
  {
    SearchController controller(engine, output, timeControl);
    UciInterpreter inner(engine, output, controller, true);
    XboardAdapter adapter(output, std::make_unique<QueueSink>(inner));
    output.setAdapter(&adapter);
    for (const std::string& line : fuzz::commandLines(data, size)) {
      adapter.handleLine(line.c_str());
      if (controller.quitFlag.load()) break;
    }
  }
  engine.output = &silentOutput();
  return 0;
}
