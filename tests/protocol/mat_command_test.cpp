// The "mat" maintenance command: its arguments, and collecting, writing and
// training seen from a GUI, where no failure keeps the engine from working
// or from ending.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "engine_process.h"
#include "protocol/maintenance.h"
#include "../temp_working_directory.h"

namespace korvane::testing {
namespace {

using Action = MatCommandArguments::Action;

TEST(MatCommand, Arguments) {
  struct Case {
    const char* args;
    bool collector;
    Action action;
    const char* file;
    int value, elo;
  };
  const Case cases[] = {
      {"add games.pgn", false, Action::Add, "games.pgn", 1000, -1},
      {"add my games.pgn value 500 ELO 2200", true, Action::Add, "my games.pgn", 500, 2200},
      {"add  x.pgn ELO 2400 value 3\r\n", false, Action::Add, "x.pgn", 3, 2400},
      {"add x.pgn value ELO 7", false, Action::Add, "x.pgn", 1000, 7},  // "value" without a number
      {"write  stats file.txt ", true, Action::Write, "stats file.txt", 1000, -1},
      {"write stats.txt", false, Action::None, "", 1000, -1},  // nothing collected
      {"learn   stats.txt", false, Action::Learn, "stats.txt", 1000, -1},
      {"delete", false, Action::Delete, "", 1000, -1},
      // Sub-commands count only at the start, as words.
      {"addgames.pgn", false, Action::None, "", 1000, -1},
      {"x add games.pgn", false, Action::None, "", 1000, -1},
      {"writestats.txt", true, Action::None, "", 1000, -1},
      {"", true, Action::None, "", 1000, -1},
  };
  for (const Case& c : cases) {
    const MatCommandArguments a = parseMatArguments(c.args, c.collector);
    EXPECT_EQ(a.action, c.action) << c.args;
    EXPECT_EQ(a.fileName, c.file) << c.args;
    EXPECT_EQ(a.value, c.value) << c.args;
    EXPECT_EQ(a.minimumElo, c.elo) << c.args;
  }
  EXPECT_EQ(parseMatArguments(nullptr, true).action, Action::None);
  for (const char* command : {"add ", "learn "})
    EXPECT_EQ(parseMatArguments((command + std::string(3000, 'n')).c_str(), false).fileName.size(), 1023u);
}

TEST(MatTranscript, CollectWriteAndLearn) {
  TempWorkingDirectory dir;
  const std::string pgn = KORVANE_DATA_DIR "/mat/configurations.pgn";
  std::ofstream("rejected.txt") << "12228 12227  0   1 0.990000    2000000     10.000\nbroken\n";
  const Transcript t = runEngine("uci\ndebug on\nmat add missing.pgn\nmat add " + pgn + "\nmat add " + pgn +
                                 " ELO 2000\n"  // the first two games again
                                 "mat write no/dir/stats.txt\nmat write /dev/full\nmat write stats.txt\n"
                                 "mat write again.txt\nmat add " + pgn + "\nmat delete\nmat write deleted.txt\n"
                                 "mat learn missing.txt\nmat learn rejected.txt\nisready\n");
  ASSERT_GE(t.out.size(), 6u);
  // A failed write keeps the statistics for another try; a good one drops them.
  EXPECT_NE(t.out.end()[-6].find("Cannot open file"), std::string::npos) << t.out.end()[-6];
  EXPECT_EQ(std::vector<std::string>(t.out.end() - 5, t.out.end()),
            std::vector<std::string>({"info string error opening the output file no/dir/stats.txt",
                                      "info string error writing the output file /dev/full",
                                      "info string mat learn: Statistikdatei nicht lesbar: missing.txt",
                                      "info string mat learn: keine verwertbaren Statistikzeilen in rejected.txt",
                                      "readyok"}));
  std::stringstream written;
  written << std::ifstream("stats.txt").rdbuf();
  EXPECT_EQ(written.str().substr(0, 38), "00002 00001  0   1 0.500000          1");
  EXPECT_NE(written.str().find("\n00008 00008  0   0 0.500000          4"), std::string::npos) << written.str();
  for (const char* absent : {"again.txt", "deleted.txt", "NeuroLrn.txt"})
    EXPECT_FALSE(std::filesystem::exists(absent)) << absent;

  // Training in the background holds neither "quit" nor the end of the input.
  std::ofstream("stats.txt") << "12228 12227  0   1 0.560000    2000000     10.000\n"
                                "12228 02228  0   9 0.900000    2000000     40.000\n"
                                "12208 12228  1   2 0.550000    2000000      5.000\n";
  for (const char* end : {"quit\n", ""}) {
    const Transcript learning = runEngine(std::string("uci\nmat learn stats.txt\nisready\n") + end);
    EXPECT_EQ(learning.exitCode, 0);
    EXPECT_EQ(learning.out.back(), "readyok");
  }
}

}  // namespace
}  // namespace korvane::testing
