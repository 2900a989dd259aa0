#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "main/driver.h"

namespace korvane {
namespace {

TEST(CommandLine, HiddenOptionsAndReplayFile) {
  struct Case {
    std::vector<std::string> args;
    bool hidden;
    std::optional<std::string> replay;
  };
  const Case cases[] = {
      {{}, false, std::nullopt},
      // Quotes removed, the last name wins; case matters for the keyword.
      {{"first.pgn", "VersteckteOptionen", "\"my games.pgn\""}, true, "my games.pgn"},
      {{"versteckteoptionen"}, false, "versteckteoptionen"},
      {{"\"open"}, false, "open"},
      {{"\""}, false, ""},
      // Names are cut to 511 characters; a closing quote beyond that is lost with them.
      {{"\"" + std::string(600, 'a') + "\""}, false, std::string(511, 'a')},
      {{"\"" + std::string(510, 'a') + "\""}, false, std::string(510, 'a')},
      {{std::string(600, 'b')}, false, std::string(511, 'b')},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv = {"korvane"};
    for (const std::string& arg : c.args) argv.push_back(arg.c_str());
    const CommandLine parsed = parseCommandLine(int(argv.size()), argv.data());
    EXPECT_EQ(parsed.hiddenOptions, c.hidden) << argv.back();
    EXPECT_EQ(parsed.replayFile, c.replay) << argv.back();
  }
}

}  // namespace
}  // namespace korvane
