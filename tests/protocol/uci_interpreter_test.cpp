// The interpreter driven directly: the state that options leave in the
// engine, which a transcript cannot show, and the clock words of "go".

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "protocol/scan.h"
#include "protocol/search_controller.h"
#include "protocol/uci_interpreter.h"
#include "recording_output.h"
#include "search/engine.h"
#include "search/time_control.h"

namespace korvane::testing {
namespace {

TEST(Interpreter, OptionsLeaveTheirState) {
  Engine engine;
  TimeControl timeControl;
  RecordingOutput output(engine);
  SearchController controller(engine, output, timeControl);
  UciInterpreter uci(engine, output, controller, false);
  engine.timeControl = &timeControl;
  engine.output = &output;
  using State = std::function<long long()>;
  const State resign = [&] { return engine.resignThreshold.load(); }, multiPv = [&] { return engine.multiPv; },
              threads = [&] { return controller.threadCount(); },
              neuro = [&] { return engine.evaluator.neuroMaterial(); },
              slots = [&] { return (long long)engine.table().slotCount(); },
              ponder = [&] { return timeControl.ponderOn(); }, ownBook = [&] { return engine.ownBook; };
  struct Case {
    const char* line;  // after "setoption name "
    const State& state;
    long long want;
  };
  const Case cases[] = {
      // A refused value changes nothing, except that MultiPV falls back to one line.
      {"Resign value 399", resign, -4000}, {"Resign value 401", resign, -4010}, {"Resign value 1999", resign, -19990},
      {"Resign value 0", resign, -19990}, {"Resign value 2000", resign, -1000000},
      {"MultiPV value 300", multiPv, 255}, {"MultiPV value many", multiPv, 1}, {"MultiPV value 4", multiPv, 4},
      {"MultiPV", multiPv, 4}, {"NumberOfProcessors value 20", threads, 8},
      {"NumberOfProcessors value 0", threads, 1}, {"NumberOfProcessors value 3", threads, 3},
      {"NeuroMaterial value -1", neuro, 35}, {"NeuroMaterial value 50", neuro, 50},
      {"NeuroMaterial value 150", neuro, 100},
      // Entries of 24 bytes in 1 MiB and in 5 MiB.
      {"Hash value 1", slots, 43690}, {"Hash value 5", slots, 218453}, {"Hash value 0", slots, 218453},
      {"Ponder value false", ponder, 0}, {"Ponder value true", ponder, 1}, {"OwnBook value false", ownBook, 0},
      {"OwnBook value nope", ownBook, 0},
  };
  for (const Case& c : cases) {
    uci.handleLine(("setoption name " + std::string(c.line)).c_str());
    EXPECT_EQ(c.state(), c.want) << c.line;
  }
  // A file name starts after the blanks that follow "value" and keeps inner
  // blanks; "valueX" is no "value".
  uci.handleLine("setoption name BookFile value   my book.opn");
  uci.handleLine("setoption name BookFile valueXother.opn");
  EXPECT_EQ(engine.bookFile, "my book.opn");
  uci.handleLine("setoption name BookFile value");
  EXPECT_EQ(engine.bookFile, "");
  // A failed book load is reported once, but not while output is off.
  uci.handleLine("setoption name OwnBook value true");
  uci.handleLine("setoption name BookFile value /nonexistent/k.opn");
  output.debug.clear();
  output.setNoOutput(true);
  uci.handleLine("ucinewgame");
  output.setNoOutput(false);
  uci.handleLine("ucinewgame");
  uci.handleLine("ucinewgame");
  EXPECT_EQ(output.debug, std::vector<std::string>{"Opening book read error"});
  uci.handleLine(("setoption name Zeitprotokolldatei value " + std::string(600, 'z')).c_str());
  EXPECT_EQ(engine.timeLogFile.get(), std::string(511, 'z'));
  uci.handleLine("setoption name MaterialFile value (internal)");
  EXPECT_EQ(engine.evaluator.net().loadedName(), "(internal)");
  engine.table().store(0x1234567890ULL, Move(), 5, 0, 0, 0);
  TableEntry entry;
  ASSERT_TRUE(engine.table().probe(0x1234567890ULL, 0, entry));
  uci.handleLine("setoption name Clear Hash");
  EXPECT_FALSE(engine.table().probe(0x1234567890ULL, 0, entry));
}

// Only the clock of the side to move counts; numbers saturate.
TEST(GoLimits, OnlyTheClockOfTheSideToMove) {
  const char* clocks = "go wtime 300000 btime 99999999999999999999999 winc 5 binc 20 movestogo 30";
  const GoLimits white = parseGoLimits(clocks, true), black = parseGoLimits(clocks, false);
  EXPECT_EQ(std::vector<std::int64_t>({white.time, white.increment, black.time, black.increment, white.movesToGo}),
            std::vector<std::int64_t>({300000, 5, INT64_MAX, 20, 30}));
  const GoLimits o = parseGoLimits("go ponder depth 7 mate 3 nodes 123456789012 movetime 8589934592 infinite", true);
  EXPECT_TRUE(o.ponder && o.infinite);
  EXPECT_EQ(std::vector<std::int64_t>({o.depth, o.mate, o.nodes, o.moveTime, o.time, o.movesToGo}),
            std::vector<std::int64_t>({7, 3, 123456789012, 8589934592, 0, 0}));
  EXPECT_EQ(parseGoLimits("go wtime -50", true).time, -50);
  EXPECT_EQ(parseGoLimits("go wtime", true).time, 0);
  int i = 0;
  EXPECT_TRUE(scan::readInt("-99999999999", i));
  EXPECT_EQ(i, INT32_MIN);
  EXPECT_EQ(scan::readNumber("+42"), 0);  // the protocol's numbers take no '+'
}

}  // namespace
}  // namespace korvane::testing
