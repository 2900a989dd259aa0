// The interpreter driven directly: the state that options and commands leave
// in the engine, which a transcript cannot show.

#include <gtest/gtest.h>

#include <string>

#include "board/notation.h"
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

  // Runs one line; answers the debug messages it caused.
  std::vector<std::string> run(const std::string& line) {
    output.messages.clear();
    uci.handleLine(line.c_str());
    return output.messages;
  }

  Engine engine;
  TimeControl timeControl;
  RecordingOutput output;
  SearchController controller;
  UciInterpreter uci;
};

using Messages = std::vector<std::string>;

TEST_F(InterpreterTest, NumericOptionsAndTheirLimits) {
  struct Case {
    int value;
    int threshold;
  };
  for (Case c : {Case{399, -4000}, Case{400, -4000}, Case{401, -4010}, Case{700, -7000}, Case{1999, -19990},
                 Case{2000, -1000000}, Case{99999, -1000000}}) {
    run("setoption name Resign value " + std::to_string(c.value));
    EXPECT_EQ(engine.resignThreshold.load(), c.threshold) << c.value;
  }
  run("setoption name Resign value 0");  // refused: the threshold is off (the message is in the transcript)
  EXPECT_EQ(engine.resignThreshold.load(), -1000000);

  run("setoption name MultiPV value 300");
  EXPECT_EQ(engine.multiPv, 255);
  // A refused value falls back to one line; a line without "value" changes nothing.
  EXPECT_EQ(run("setoption name MultiPV value many").size(), 1u);
  EXPECT_EQ(engine.multiPv, 1);
  run("setoption name MultiPV value 4");
  run("setoption name MultiPV");
  EXPECT_EQ(engine.multiPv, 4);

  run("setoption name NumberOfProcessors value 20");
  EXPECT_EQ(controller.threadCount(), 8);
  EXPECT_EQ(run("setoption name NumberOfProcessors value 0").size(), 1u);
  EXPECT_EQ(controller.threadCount(), 1);
  run("setoption name NumberOfProcessors value 3");
  EXPECT_EQ(controller.threadCount(), 3);

  run("setoption name NeuroMaterial value -1");
  EXPECT_EQ(engine.evaluator.neuroMaterial(), 35);
  run("setoption name NeuroMaterial value 50");
  EXPECT_EQ(engine.evaluator.neuroMaterial(), 50);
  run("setoption name NeuroMaterial value 150");
  EXPECT_EQ(engine.evaluator.neuroMaterial(), 100);

  run("setoption name Hash value 1");
  EXPECT_EQ(engine.table().slotCount(), (std::size_t(1) << 20) / 24);
  run("setoption name Hash value 5");
  EXPECT_EQ(engine.table().slotCount(), (std::size_t(5) << 20) / 24);
  EXPECT_EQ(run("setoption name Hash value 0").size(), 1u);
  EXPECT_EQ(engine.table().slotCount(), (std::size_t(5) << 20) / 24);
}

TEST_F(InterpreterTest, CheckAndTextOptions) {
  run("setoption name Ponder value false");
  EXPECT_FALSE(timeControl.ponderOn());
  run("setoption name Ponder value true");
  EXPECT_TRUE(timeControl.ponderOn());

  run("setoption name OwnBook value false");
  EXPECT_FALSE(engine.ownBook);
  run("setoption name OwnBook value nope");
  EXPECT_FALSE(engine.ownBook);

  run("setoption name blocking value true");
  EXPECT_TRUE(controller.blocking.load());
  run("setoption name NoOutput value true");
  EXPECT_TRUE(output.noOutput());
  run("setoption name NoOutput value false");
  EXPECT_FALSE(output.noOutput());

  // A file name starts after the separator that follows "value", blanks
  // skipped, and keeps inner blanks.
  run("setoption name BookFile value   my book.opn");
  EXPECT_EQ(engine.bookFile, "my book.opn");
  // "valueX" is no "value": a malformed line that changes nothing.
  run("setoption name BookFile valueXother.opn");
  EXPECT_EQ(engine.bookFile, "my book.opn");
  run("setoption name BookFile value");
  EXPECT_EQ(engine.bookFile, "");
  run("setoption name Zeitprotokolldatei value " + std::string(600, 'z'));
  EXPECT_EQ(engine.timeLogFile.get(), std::string(511, 'z'));
  run("setoption name MaterialFile value (internal)");
  EXPECT_EQ(engine.evaluator.net().loadedName(), "(internal)");

  EXPECT_EQ(run("setoption name Opponent value Morlan"), Messages({"Nicht jetzt, nicht schon wieder Du!"}));
  EXPECT_TRUE(run("setoption name Opponent value Morlanx").empty());
  // Name compared on at most 29 characters.
  EXPECT_EQ(run("setoption name NumberOfProcessorsAndMoreAndMore value 2").size(), 1u);
}

TEST(GoLimits, OnlyTheClockOfTheSideToMove) {
  const char* line = "go wtime 300000 btime 2000 winc 5 binc 20 movestogo 30";
  GoLimits white = parseGoLimits(line, true);
  EXPECT_EQ(white.time, 300000);
  EXPECT_EQ(white.increment, 5);
  EXPECT_EQ(white.movesToGo, 30);
  GoLimits black = parseGoLimits(line, false);
  EXPECT_EQ(black.time, 2000);
  EXPECT_EQ(black.increment, 20);

  GoLimits other = parseGoLimits("go ponder depth 7 mate 3 nodes 123456789012 movetime 8589934592 infinite", true);
  EXPECT_TRUE(other.ponder);
  EXPECT_TRUE(other.infinite);
  EXPECT_EQ(other.depth, 7);
  EXPECT_EQ(other.mate, 3);
  EXPECT_EQ(other.nodes, 123456789012LL);
  EXPECT_EQ(other.moveTime, 8589934592LL);
  EXPECT_EQ(other.time, 0);
  EXPECT_EQ(other.movesToGo, 0);

  EXPECT_EQ(parseGoLimits("go wtime -50", true).time, -50);
  EXPECT_EQ(parseGoLimits("go wtime", true).time, 0);
  EXPECT_EQ(parseGoLimits("go btime 99999999999999999999999", false).time, INT64_MAX);
}

TEST(Scan, NumbersSaturateAndWordsAreCut) {
  int i = 0;
  EXPECT_TRUE(scan::readInt("  -12x", i));
  EXPECT_EQ(i, -12);
  EXPECT_TRUE(scan::readInt("+7", i));
  EXPECT_EQ(i, 7);
  EXPECT_TRUE(scan::readInt("99999999999999999999", i));
  EXPECT_EQ(i, INT32_MAX);
  EXPECT_TRUE(scan::readInt("-99999999999", i));
  EXPECT_EQ(i, INT32_MIN);
  EXPECT_FALSE(scan::readInt("", i));
  EXPECT_FALSE(scan::readInt(" - 3", i));
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

namespace korvane::testing {
namespace {

TEST_F(InterpreterTest, ClearHashEmptiesTheTable) {
  engine.table().store(0x1234567890ULL, Move(), 5, 0, 0, 0);
  TableEntry entry;
  ASSERT_TRUE(engine.table().probe(0x1234567890ULL, 0, entry));
  EXPECT_TRUE(run("setoption name Clear Hash").empty());
  EXPECT_FALSE(engine.table().probe(0x1234567890ULL, 0, entry));
}

}  // namespace
}  // namespace korvane::testing
