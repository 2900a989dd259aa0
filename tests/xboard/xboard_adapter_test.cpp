// The xboard adapter in-process, for what a transcript cannot show: the UCI
// lines it posts (position, clocks, pondering), draw offers, resignation and
// search results that come too late. The test plays the search.
#include <fnmatch.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <tuple>

#include "board/notation.h"
#include "protocol/xboard_adapter.h"
#include "protocol/xboard_output.h"
#include "search/engine.h"
#include "search/time_control.h"

namespace korvane {
namespace {

using Lines = std::vector<std::string>;

// The lines posted and, with "> " in front, the lines printed.
struct Log final : XboardOutput {
  using XboardOutput::XboardOutput;
  Lines lines;
  void write(std::string_view text) override { lines.push_back("> " + std::string(text)); }
};

struct Sink final : CommandSink {
  Log& log;
  explicit Sink(Log& to) : log(to) {}
  bool post(std::string_view line) override {
    log.lines.emplace_back(line);
    if (line.starts_with("setoption name NoOutput")) log.setNoOutput(line.ends_with("true"));  // relied on
    return true;
  }
  bool postWaiting(std::string_view line) override { return post(line); }
  void waitForRoom(int, int) override {}
  void waitUntilIdle() override {}
};

// Runs the steps on a new adapter after "xboard", "protover 2" and "new";
// answers the log, or only its printed lines. A step "=BEST SCORE [PONDER]"
// is a search of the game's position that ends with these, "~BEST" one that
// started where the search before did.
Lines play(const Lines& steps, bool posts) {
  auto engine = std::make_unique<Engine>();
  TimeControl clock;
  Log log(*engine, clock);
  XboardAdapter adapter(log, std::make_unique<Sink>(log));
  log.setAdapter(&adapter);
  for (const char* line : {"xboard", "protover 2", "new"}) adapter.handleLine(line);
  log.lines.clear();
  for (const std::string& step : steps) {
    if (step[0] != '=' && step[0] != '~') {
      adapter.handleLine(step.c_str());
      continue;
    }
    if (step[0] == '=') engine->game = adapter.game(), log.takeSnapshot();
    std::istringstream in(step.substr(1));
    std::string best, ponder;
    in >> best >> engine->rootScore >> ponder;
    GameRecord game = engine->game;
    Move bestMove, ponderMove;
    EXPECT_TRUE(parseMove(game.position, best, true, bestMove)) << step;
    game.playMove(bestMove);
    EXPECT_TRUE(ponder.empty() || parseMove(game.position, ponder, true, ponderMove)) << step;
    engine->rootMoveCount = 20;
    log.reportBestMove(bestMove, ponderMove);
  }
  if (!posts) std::erase_if(log.lines, [](const std::string& line) { return !line.starts_with("> "); });
  return log.lines;
}

std::string go(const char* clock, int increment, const char* more = "") {
  char text[200];
  std::snprintf(text, sizeof text, "go wtime %16s btime %16s winc %16d binc %16d%s", clock, clock, increment,
                increment, more);
  return text;
}

const std::string MUTE = "setoption name NoOutput value true", UNMUTE = "setoption name NoOutput value false";

TEST(XboardAdapter, PostedAndPrintedLines) {
  // Expected lines may use the wildcards of fnmatch ("*", "[0-9]"): the
  // clock after a move depends on the time the move took.
  const std::tuple<bool, Lines, Lines> rows[] = {
      {true, {"new", "variant fischerandom", "analyze", "usermove e2e4", "exit"},
       {MUTE, "stop", UNMUTE, "position startpos", "setoption name UCI_Chess960 value false",
        "setoption name Clear Hash value true", "ucinewgame", "setoption name UCI_Chess960 value true", MUTE, "stop",
        UNMUTE, "position startpos", "go infinite", MUTE, "stop", UNMUTE, "position startpos moves e2e4  ",
        "go infinite", MUTE, "stop", UNMUTE, "setoption name Clear Hash value true"}},
      // A refused level changes nothing; "time" is in centiseconds.
      {true, {"go", "force", "level 1 5 0", "level 40 x 0", "go", "force", "time 1234", "go", "force", "st 5", "go",
              "force", "sd 7", "go"},
       {"position startpos", go("300000", 0), MUTE, "stop", UNMUTE, "> Error (bad parameters): level 40 x 0",
        "position startpos", go("300000", 0, " movestogo 1"), MUTE, "stop", UNMUTE, "position startpos",
        go("12340", 0, " movestogo 1"), MUTE, "stop", UNMUTE, "position startpos", "go movetime       5000", MUTE,
        "stop", UNMUTE, "position startpos", "go depth 7"}},
      // 1 move in 30 s (and 2.5 s a move), then 2 moves a minute: the moves
      // that end a period earn the next one's time.
      {true, {"level 1 0:30 2.5 2 1 0", "usermove e2e4", "=e7e5 0", "usermove d2d4", "=d7d5 0", "usermove c2c4",
              "=g8f6 0", "usermove g1f3"},
       {"position startpos moves e2e4  ", go("30000", 2500, " movestogo 1"), "> move e7e5",
        "position startpos moves e2e4  e7e5  d2d4  ", go("*9[12][0-9][0-9][0-9]", 0, " movestogo 2"), "> move d7d5",
        "position startpos moves e2e4  e7e5  d2d4  d7d5  c2c4  ", go("*9[12][0-9][0-9][0-9]", 0, " movestogo 1"),
        "> move g8f6", "position startpos moves e2e4  e7e5  d2d4  d7d5  c2c4  g8f6  g1f3  ",
        go("*15[0-2][0-9][0-9][0-9]", 0, " movestogo 2")}},
      // Moves keep their text; words after the six FEN fields are dropped.
      {true, {"force", "setboard 4k3/1P6/8/8/8/8/8/4K2R w K - 0 1 trailing words", "usermove e1g1", "usermove e8d7",
              "usermove b7b8q", "go"},
       {MUTE, "stop", UNMUTE, MUTE, "stop", UNMUTE,
        "position fen 4k3/1P6/8/8/8/8/8/4K2R w K - 0 1 moves e1g1  e8d7  b7b8q ", go("300000", 0)}},
      // Pondering on the expected reply: "ponderhit" when it comes, a new
      // search for another; "?" does not end it, "easy" does.
      {true, {"hard", "level 0 1 0", "usermove e2e4", "=e7e5 0 g1f3", "hint", "?", "usermove g1f3", "=b8c6 0 f1b5",
              "usermove d2d4", "=e5d4 0 f3d4", "easy", "hard", "sd 4", "usermove f3d4", "=g8f6 0 b1c3"},
       {"position startpos moves e2e4  ", go("60000", 0), "> move e7e5", "position startpos moves e2e4  e7e5  g1f3  ",
        "go wtime * ponder", "> Hint: g1f3", "ponderhit", "> move b8c6",
        "position startpos moves e2e4  e7e5  g1f3  b8c6  f1b5  ", "go wtime * ponder", MUTE, "stop", UNMUTE,
        "position startpos moves e2e4  e7e5  g1f3  b8c6  d2d4  ", "go wtime *[0-9]", "> move e5d4",
        "position startpos moves e2e4  e7e5  g1f3  b8c6  d2d4  e5d4  f3d4  ", "go wtime * ponder", MUTE, "stop",
        UNMUTE, "position startpos moves e2e4  e7e5  g1f3  b8c6  d2d4  e5d4  f3d4  ", "go depth 4", "> move g8f6"}},
      // A draw offer is taken once four scores were level, then declined
      // at +5 cp. "undo" outside force mode takes nothing back.
      {false, {"usermove g1f3", "=g8f6 0", "usermove b1c3", "=b8c6 0", "usermove e2e3", "draw", "=e7e6 0",
               "usermove d2d3", "=d7d6 1", "usermove f1e2", "draw", "=f8e7 50", "undo", "force", "usermove e1g1"},
       {"> move g8f6", "> move b8c6", "> move e7e6", "> offer draw", "> move d7d6", "> move f8e7"}},
      // Resignation after four lost scores, not while the latest improves.
      {false, {"usermove e2e4", "=a7a6 -8000", "usermove d1h5", "=a6a5 -8001", "usermove f1c4", "=a5a4 -8002",
               "usermove b1c3", "=b7b6 -7900", "usermove g1f3", "=b6b5 -8100"},
       {"> move a7a6", "> move a6a5", "> move a5a4", "> move b7b6", "> move b6b5", "> resign"}},
      // A stopped search, or one from a position the game has left, prints nothing.
      {false, {"usermove e2e4", "force", "=e7e5 0", "go", "usermove d7d5", "=d2d4 0", "usermove g8f6", "~c2c4"},
       {"> move d2d4"}},
  };
  for (const auto& [posts, steps, expected] : rows) {
    const Lines actual = play(steps, posts);
    bool same = actual.size() == expected.size();
    for (std::size_t i = 0; same && i < actual.size(); ++i) same = !fnmatch(expected[i].c_str(), actual[i].c_str(), 0);
    EXPECT_TRUE(same) << steps[0] << ": " << ::testing::PrintToString(actual);
  }
}

TEST(XboardAdapter, ScoresInCentipawnsAndMates) {
  const std::pair<int, int> cases[] = {{25, 3}, {-11, -2}, {1, 0}, {999998, 32765}, {-999997, -32764}};
  for (const auto& [score, shown] : cases) EXPECT_EQ(xboardScore(score), shown) << score;
}

}  // namespace
}  // namespace korvane
