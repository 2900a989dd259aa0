// The "mat" maintenance command: its arguments, collecting and writing
// statistics through the interpreter, and a training run that never keeps
// the engine from ending.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine_process.h"
#include "protocol/maintenance.h"
#include "protocol/search_controller.h"
#include "protocol/uci_interpreter.h"
#include "recording_output.h"
#include "search/engine.h"
#include "search/time_control.h"
#include "../temp_working_directory.h"

namespace korvane::testing {
namespace {

using Action = MatCommandArguments::Action;

std::string pgnFile() { return std::string(KORVANE_DATA_DIR) + "/mat/configurations.pgn"; }

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Statistics lines that all pass the acceptance test.
std::string acceptedStatistics() {
  return "12228 12227  0   1 0.560000    2000000     10.000\n"
         "12228 12217  0   3 0.700000    2000000    -20.000\n"
         "12228 11228  0   5 0.800000    2000000      0.000\n"
         "12228 02228  0   9 0.900000    2000000     40.000\n"
         "12208 12228  1   2 0.550000    2000000      5.000\n";
}

TEST(MatCommand, Arguments) {
  MatCommandArguments a = parseMatArguments("add games.pgn", false);
  EXPECT_EQ(a.action, Action::Add);
  EXPECT_EQ(a.fileName, "games.pgn");
  EXPECT_EQ(a.value, 1000);
  EXPECT_EQ(a.minimumElo, -1);
  a = parseMatArguments("add my games.pgn value 500 ELO 2200", true);
  EXPECT_EQ(a.action, Action::Add);
  EXPECT_EQ(a.fileName, "my games.pgn");
  EXPECT_EQ(a.value, 500);
  EXPECT_EQ(a.minimumElo, 2200);
  a = parseMatArguments("add  x.pgn ELO 2400 value 3\r\n", false);
  EXPECT_EQ(a.fileName, "x.pgn");
  EXPECT_EQ(a.value, 3);
  EXPECT_EQ(a.minimumElo, 2400);
  a = parseMatArguments("add x.pgn value ELO 7", false);  // "value" without a number
  EXPECT_EQ(a.value, 1000);
  EXPECT_EQ(a.minimumElo, 7);
  EXPECT_EQ(parseMatArguments(("add " + std::string(3000, 'n')).c_str(), false).fileName.size(), 1023u);

  a = parseMatArguments("write  stats file.txt ", true);
  EXPECT_EQ(a.action, Action::Write);
  EXPECT_EQ(a.fileName, "stats file.txt");
  EXPECT_EQ(parseMatArguments("write stats.txt", false).action, Action::None);
  a = parseMatArguments("learn   stats.txt", false);
  EXPECT_EQ(a.action, Action::Learn);
  EXPECT_EQ(a.fileName, "stats.txt");
  EXPECT_EQ(parseMatArguments(("learn " + std::string(3000, 'n')).c_str(), false).fileName.size(), 1023u);
  EXPECT_EQ(parseMatArguments("delete", false).action, Action::Delete);

  // Sub-commands count only at the start.
  EXPECT_EQ(parseMatArguments("addgames.pgn", false).action, Action::None);
  EXPECT_EQ(parseMatArguments("x add games.pgn", false).action, Action::None);
  EXPECT_EQ(parseMatArguments("writestats.txt", true).action, Action::None);
  EXPECT_EQ(parseMatArguments("", true).action, Action::None);
  EXPECT_EQ(parseMatArguments(nullptr, true).action, Action::None);
}

class MatInterpreterTest : public ::testing::Test {
 protected:
  MatInterpreterTest() : output(engine), controller(engine, output, timeControl) {
    engine.timeControl = &timeControl;
    engine.output = &output;
    uci = std::make_unique<UciInterpreter>(engine, output, controller, false);
  }

  void run(const std::string& line) { uci->handleLine(line.c_str()); }

  Engine engine;
  TimeControl timeControl;
  RecordingOutput output;
  SearchController controller;
  std::unique_ptr<UciInterpreter> uci;
};

TEST_F(MatInterpreterTest, CollectsAndWritesStatistics) {
  TempWorkingDirectory dir;
  run("mat add " + pgnFile());
  run("mat add " + pgnFile() + " ELO 2000");  // the first two games again
  EXPECT_TRUE(output.printed.empty());
  run("mat write " + dir.file("stats.txt"));
  const std::string text = readText(dir.file("stats.txt"));
  ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
  EXPECT_EQ(text.substr(0, 38), "00002 00001  0   1 0.500000          1");
  EXPECT_EQ(text.substr(text.find('\n') + 1, 38), "00008 00008  0   0 0.500000          4");

  // The collector is gone: a second write does nothing.
  std::filesystem::remove(dir.file("stats.txt"));
  run("mat write " + dir.file("stats.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("stats.txt")));

  // Deleted statistics are not written.
  run("mat add " + pgnFile());
  run("mat delete");
  run("mat write " + dir.file("stats.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("stats.txt")));
  EXPECT_TRUE(output.printed.empty());
  EXPECT_TRUE(output.messages.empty());
}

TEST_F(MatInterpreterTest, FileErrorsKeepTheEngineWorking) {
  TempWorkingDirectory dir;
  run("mat add " + dir.file("missing.pgn"));
  ASSERT_EQ(output.printed.size(), 1u);
  EXPECT_NE(output.printed[0].find("Cannot open file"), std::string::npos);
  output.printed.clear();

  // An output file that cannot be opened: reported, and the statistics stay
  // for another try.
  run("mat add " + pgnFile());
  const std::string bad = dir.file("no/such/dir/stats.txt");
  run("mat write " + bad);
  ASSERT_EQ(output.printed.size(), 1u);
  EXPECT_EQ(output.printed[0], "info string error opening the output file " + bad);
  // A write that fails (a full disk) likewise.
  run("mat write /dev/full");
  ASSERT_EQ(output.printed.size(), 2u);
  EXPECT_EQ(output.printed[1], "info string error writing the output file /dev/full");
  run("mat write " + dir.file("stats.txt"));
  const std::string text = readText(dir.file("stats.txt"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);

  // Training without statistics: refused with a message, nothing started.
  run("mat learn " + dir.file("missing.txt"));
  ASSERT_EQ(output.messages.size(), 1u);
  EXPECT_EQ(output.messages[0], "mat learn: Statistikdatei nicht lesbar: " + dir.file("missing.txt"));
  std::ofstream(dir.file("rejected.txt")) << "12228 12227  0   1 0.990000    2000000     10.000\nbroken\n";
  run("mat learn " + dir.file("rejected.txt"));
  ASSERT_EQ(output.messages.size(), 2u);
  EXPECT_EQ(output.messages[1], "mat learn: keine verwertbaren Statistikzeilen in " + dir.file("rejected.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("NeuroLrn.txt")));

  run("isready");
  EXPECT_EQ(output.printed.back(), "readyok");
}

// Seen from a GUI: "quit" and the end of the input both end the engine while
// it trains.
TEST(MatTranscript, TrainingDoesNotHoldTheEngine) {
  TempWorkingDirectory dir;
  std::ofstream(dir.file("stats.txt")) << acceptedStatistics();
  Transcript t = runEngine(lines({"uci", "mat learn stats.txt", "isready", "quit"}));
  EXPECT_EQ(t.exitCode, 0);
  ASSERT_FALSE(t.out.empty());
  EXPECT_EQ(t.out.back(), "readyok");
  t = runEngine(lines({"uci", "mat learn stats.txt", "isready"}));
  EXPECT_EQ(t.exitCode, 0);
  ASSERT_FALSE(t.out.empty());
  EXPECT_EQ(t.out.back(), "readyok");
}

}  // namespace
}  // namespace korvane::testing
