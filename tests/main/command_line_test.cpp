#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "main/driver.h"

namespace korvane {
namespace {

CommandLine parse(std::vector<std::string> args) {
  std::vector<const char*> argv = {"korvane"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  return parseCommandLine(int(argv.size()), argv.data());
}

TEST(CommandLine, HiddenOptionsAndReplayFile) {
  CommandLine none = parse({});
  EXPECT_FALSE(none.hiddenOptions);
  EXPECT_FALSE(none.replayFile.has_value());

  CommandLine both = parse({"first.pgn", "VersteckteOptionen", "\"my games.pgn\""});
  EXPECT_TRUE(both.hiddenOptions);
  EXPECT_EQ(both.replayFile, "my games.pgn");  // quotes removed, last name wins

  EXPECT_FALSE(parse({"versteckteoptionen"}).hiddenOptions);  // case matters: a file name
  EXPECT_EQ(parse({"versteckteoptionen"}).replayFile, "versteckteoptionen");
  EXPECT_EQ(parse({"\"open"}).replayFile, "open");
  EXPECT_EQ(parse({"\""}).replayFile, "");

  // Names are cut to 511 characters; a closing quote beyond that is lost with them.
  EXPECT_EQ(parse({"\"" + std::string(600, 'a') + "\""}).replayFile, std::string(511, 'a'));
  EXPECT_EQ(parse({"\"" + std::string(510, 'a') + "\""}).replayFile, std::string(510, 'a'));
  EXPECT_EQ(parse({std::string(600, 'b')}).replayFile, std::string(511, 'b'));
}

}  // namespace
}  // namespace korvane
