// The interpreter driven directly: the state that options leave in the
// engine, which a transcript cannot show, and the readers of command words.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "protocol/scan.h"
#include "protocol/search_controller.h"
#include "protocol/uci_interpreter.h"
#include "recording_output.h"
#include "search/engine.h"
#include "search/time_control.h"

namespace korvane::testing {
namespace {

class InterpreterTest : public ::testing::Test {
 protected:
  InterpreterTest() : output(engine), controller(engine, output, timeControl), uci(engine, output, controller, false) {
    engine.timeControl = &timeControl;
    engine.output = &output;
  }
  Engine engine;
  TimeControl timeControl;
  RecordingOutput output;
  SearchController controller;
  UciInterpreter uci;
};

TEST_F(InterpreterTest, OptionsLeaveTheirState) {
  using State = std::function<long long()>;
  const State resign = [&] { return engine.resignThreshold.load(); };
  const State multiPv = [&] { return engine.multiPv; };
  const State threads = [&] { return controller.threadCount(); };
  const State neuro = [&] { return engine.evaluator.neuroMaterial(); };
  const State slots = [&] { return (long long)engine.table().slotCount(); };
  const State ponder = [&] { return timeControl.ponderOn(); };
  const State ownBook = [&] { return engine.ownBook; };
  struct Case {
    const char* line;  // after "setoption name "
    const State& state;
    long long want;
    bool refused = false;  // a message says so
  };
  const Case cases[] = {
      {"Resign value 399", resign, -4000},  {"Resign value 400", resign, -4000},
      {"Resign value 401", resign, -4010},  {"Resign value 1999", resign, -19990},
      {"Resign value 0", resign, -19990, true},  // refused: the threshold stays
      {"Resign value 700", resign, -7000},  {"Resign value 2000", resign, -1000000},
      {"Resign value 99999", resign, -1000000},
      // A refused count falls back to one line; a line without a value changes nothing.
      {"MultiPV value 300", multiPv, 255},  {"MultiPV value many", multiPv, 1, true},
      {"MultiPV value 4", multiPv, 4},      {"MultiPV", multiPv, 4, true},
      {"NumberOfProcessors value 20", threads, 8},
      {"NumberOfProcessors value 0", threads, 1, true},
      {"NumberOfProcessors value 3", threads, 3},
      {"NeuroMaterial value -1", neuro, 35, true},
      {"NeuroMaterial value 50", neuro, 50},
      {"NeuroMaterial value 150", neuro, 100},
      // Entries of 24 bytes in 1 MiB and in 5 MiB.
      {"Hash value 1", slots, 43690},       {"Hash value 5", slots, 218453},
      {"Hash value 0", slots, 218453, true},
      {"Ponder value false", ponder, 0},    {"Ponder value true", ponder, 1},
      {"OwnBook value false", ownBook, 0},  {"OwnBook value nope", ownBook, 0, true},
  };
  for (const Case& c : cases) {
    output.messages.clear();
    uci.handleLine(("setoption name " + std::string(c.line)).c_str());
    EXPECT_EQ(c.state(), c.want) << c.line;
    EXPECT_EQ(output.messages.size(), c.refused ? 1u : 0u) << c.line;
  }

  // A file name starts after the blanks that follow "value" and keeps inner
  // blanks; "valueX" is no "value".
  uci.handleLine("setoption name BookFile value   my book.opn");
  uci.handleLine("setoption name BookFile valueXother.opn");
  EXPECT_EQ(engine.bookFile, "my book.opn");
  uci.handleLine("setoption name BookFile value");
  EXPECT_EQ(engine.bookFile, "");
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

TEST(GoLimits, OnlyTheClockOfTheSideToMove) {
  const char* clocks = "go wtime 300000 btime 2000 winc 5 binc 20 movestogo 30";
  const GoLimits white = parseGoLimits(clocks, true), black = parseGoLimits(clocks, false);
  EXPECT_EQ(std::vector<std::int64_t>({white.time, white.increment, black.time, black.increment, white.movesToGo}),
            std::vector<std::int64_t>({300000, 5, 2000, 20, 30}));
  const GoLimits o = parseGoLimits("go ponder depth 7 mate 3 nodes 123456789012 movetime 8589934592 infinite", true);
  EXPECT_TRUE(o.ponder && o.infinite);
  EXPECT_EQ(std::vector<std::int64_t>({o.depth, o.mate, o.nodes, o.moveTime, o.time, o.movesToGo}),
            std::vector<std::int64_t>({7, 3, 123456789012, 8589934592, 0, 0}));
  EXPECT_EQ(parseGoLimits("go wtime -50", true).time, -50);
  EXPECT_EQ(parseGoLimits("go wtime", true).time, 0);
  EXPECT_EQ(parseGoLimits("go btime 99999999999999999999999", false).time, INT64_MAX);
}

TEST(Scan, NumbersSaturateAndWordsAreCut) {
  struct Case {
    const char* text;
    bool read;
    int value;
  };
  for (const Case& c : {Case{"  -12x", true, -12}, Case{"+7", true, 7}, Case{"99999999999999999999", true, INT32_MAX},
                        Case{"-99999999999", true, INT32_MIN}, Case{"", false, 0}, Case{" - 3", false, 0}}) {
    int i = 0;
    EXPECT_EQ(scan::readInt(c.text, i), c.read) << c.text;
    EXPECT_EQ(i, c.value) << c.text;
  }
  unsigned u = 0;
  EXPECT_TRUE(scan::readUnsigned("-1", u));
  EXPECT_EQ(u, 4294967295u);
  EXPECT_EQ(scan::readNumber(" 42 "), 42);
  EXPECT_EQ(scan::readNumber("+42"), 0);
  EXPECT_EQ(scan::readNumber("-"), 0);
  std::string word;
  EXPECT_TRUE(scan::readWord("  truefalse", 8, word));
  EXPECT_EQ(word, "truefals");
  EXPECT_FALSE(scan::readWord(" \t", 8, word));
}

}  // namespace
}  // namespace korvane::testing
