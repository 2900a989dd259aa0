// Complete fast games between two engine processes, as a GUI plays them:
// every move is checked for legality and every clock is kept by this test;
// a move that arrives after its clock ran out loses the game on time.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "board/game_record.h"
#include "board/move_picker.h"
#include "board/notation.h"
#include "interactive_engine.h"

namespace korvane::testing {
namespace {

constexpr std::int64_t GRACE_MS = 100;

struct Control {
  std::int64_t baseMs;
  std::int64_t incrementMs;
  int movesPerPeriod;  // 0: the whole game
};

bool startsWithBestmove(const std::string& l);

// Plays one game; answers a description of how it ended, or of the failure.
std::string playGame(const Control& control, int maxPlies, const std::string& opening) {
  InteractiveEngine players[2];
  for (InteractiveEngine& p : players) {
    p.send("uci");
    if (!p.readUntil([](const std::string& l) { return l == "uciok"; }, 10000)) return "no uciok";
    p.send("ucinewgame");
    p.send("isready");
    if (!p.readUntil([](const std::string& l) { return l == "readyok"; }, 10000)) return "no readyok";
  }
  GameRecord game;
  std::string moves = opening;
  if (!opening.empty()) {
    std::size_t start = 0;
    while (start < opening.size()) {
      std::size_t end = opening.find(' ', start);
      if (end == std::string::npos) end = opening.size();
      Move m;
      if (!parseMove(game.position, opening.substr(start, end - start), true, m)) return "bad opening";
      game.playMove(m);
      start = end + 1;
    }
  }
  std::int64_t clock[2] = {control.baseMs, control.baseMs};
  int movesLeft[2] = {control.movesPerPeriod, control.movesPerPeriod};
  for (int ply = 0; ply < maxPlies; ++ply) {
    int result = 0;
    if (noLegalMove(game.position, &result)) return result ? "checkmate" : "stalemate";
    if (game.drawReason() != DRAW_NONE) return "draw";
    const int side = game.position.whiteToMove ? 0 : 1;
    InteractiveEngine& p = players[side];
    p.send("position startpos" + (moves.empty() ? std::string() : " moves " + moves));
    std::string go = "go wtime " + std::to_string(clock[0]) + " btime " + std::to_string(clock[1]) + " winc " +
                     std::to_string(control.incrementMs) + " binc " + std::to_string(control.incrementMs);
    if (control.movesPerPeriod) go += " movestogo " + std::to_string(movesLeft[side]);
    const auto sent = std::chrono::steady_clock::now();
    p.send(go);
    std::string line;
    if (!p.readUntil([](const std::string& l) { return startsWithBestmove(l); }, int(clock[side]) + 5000, &line))
      return "no bestmove at ply " + std::to_string(ply);
    const auto used =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent).count();
    clock[side] -= used;
    // The time this test measures includes its own reading of the pipe and
    // the scheduling of a loaded machine; like the match runner it forgives
    // 100 ms of that.
    if (clock[side] < -GRACE_MS)
      return "lost on time at ply " + std::to_string(ply) + " (" + std::to_string(clock[side]) + ")";
    clock[side] = std::max<std::int64_t>(clock[side], 1);
    clock[side] += control.incrementMs;
    if (control.movesPerPeriod && --movesLeft[side] == 0) {
      movesLeft[side] = control.movesPerPeriod;
      clock[side] += control.baseMs;
    }
    const std::string text = line.substr(9, line.find(' ', 9) - 9);
    Move m;
    if (!parseMove(game.position, text, true, m) || !isMoveLegal(game.position, m))
      return "illegal move " + text + " at ply " + std::to_string(ply);
    game.playMove(m);
    moves += (moves.empty() ? "" : " ") + text;
  }
  return "move limit";
}

bool startsWithBestmove(const std::string& l) { return startsWith(l, "bestmove"); }

bool acceptable(const std::string& ending) {
  return ending == "checkmate" || ending == "stalemate" || ending == "draw" || ending == "move limit";
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool SANITIZED = true;
#else
constexpr bool SANITIZED = false;
#endif

TEST(SelfPlay, FastGamesEndWithoutForfeit) {
  if (SANITIZED) GTEST_SKIP() << "clock play needs the optimised engine";
  const char* openings[] = {"e2e4 e7e5", "d2d4 g8f6 c2c4", "c2c4 c7c5 g1f3"};
  // One second per game plus 10 ms per move.
  for (const char* opening : openings) {
    const std::string ending = playGame({1000, 10, 0}, 300, opening);
    EXPECT_TRUE(acceptable(ending)) << opening << ": " << ending;
  }
  // Forty moves in one second, repeating.
  const std::string ending = playGame({1000, 0, 40}, 200, "g1f3 d7d5");
  EXPECT_TRUE(acceptable(ending)) << ending;
}

}  // namespace
}  // namespace korvane::testing
