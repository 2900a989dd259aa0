#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "board/game_record.h"
#include "board/notation.h"

namespace korvane {
namespace {

void play(GameRecord& g, const char* coordinateMoves) {
  std::istringstream in(coordinateMoves);
  for (std::string text; in >> text;) {
    Move m;
    ASSERT_TRUE(parseMove(g.position, text, true, m)) << text;
    g.playMove(m);
  }
}

TEST(GameRecord, FiftyMovesAndHalfmoveClock) {
  GameRecord g;
  ASSERT_TRUE(g.setFromFen("4k3/8/8/8/8/8/8/R3K3 w - - 99 80"));
  EXPECT_EQ(g.historyCount, 100);
  EXPECT_EQ(g.drawReason(), DRAW_NONE);
  play(g, "a1a2");
  EXPECT_EQ(g.historyCount, 101);
  EXPECT_EQ(g.drawReason(), DRAW_FIFTY_MOVES);
  // A clock beyond 99 plies, missing, too large or negative starts afresh.
  for (const char* clock : {" 100 80", "", " 99999999999999999999 1", " -5 1"}) {
    ASSERT_TRUE(g.setFromFen((std::string("4k3/8/8/8/8/8/8/R3K3 w - -") + clock).c_str()));
    EXPECT_EQ(g.historyCount, 1) << clock;
  }
}

TEST(GameRecord, RepetitionsForGameAndSearch) {
  GameRecord g;
  play(g, "g1f3 g8f6 f3g1");
  // The search's position after ...Ng8 (not recorded) occurred once before.
  Move back;
  ASSERT_TRUE(parseMove(g.position, "f6g8", true, back));
  MoveUndo u;
  saveState(u, g.position);
  ASSERT_TRUE(makeMove(g.position, back, u));
  EXPECT_EQ(g.repetitionCode(), DRAW_SEEN_BEFORE);
  unmakeMove(u);
  EXPECT_EQ(g.repetitionCode(), DRAW_SEEN_BEFORE);  // the game's own current entry
  play(g, "f6g8");
  EXPECT_EQ(g.drawReason(), DRAW_NONE);  // second occurrence
  play(g, "g1f3 g8f6 f3g1 f6g8");
  EXPECT_EQ(g.drawReason(), DRAW_REPETITION);
  // A pawn move starts the history afresh.
  play(g, "e2e4");
  EXPECT_EQ(g.historyCount, 1);
  EXPECT_EQ(g.drawReason(), DRAW_NONE);
}

TEST(GameRecord, MaterialDraws) {
  struct Case {
    const char* fen;
    int code;
  } cases[] = {
      {"4k3/8/8/8/8/8/8/4K3 w - - 0 1", DRAW_INSUFFICIENT},
      {"4k3/8/8/8/8/8/8/3NK3 w - - 0 1", DRAW_INSUFFICIENT},
      {"4k3/8/8/8/8/8/8/3RK3 w - - 0 1", DRAW_NONE},
      {"5bk1/8/8/8/8/8/8/3BK3 w - - 0 1", DRAW_NONE},           // bishops on different colours
      {"3bk3/8/8/8/8/8/8/2B1K3 w - - 0 1", DRAW_INSUFFICIENT},  // both on one colour
      {"4k3/8/8/1p1p1p2/1P1P1P2/8/8/4K3 w - - 0 1", DRAW_NONE},  // locked, but the h-file lets the kings in
      {"4k3/8/8/1p1p1p1p/1P1P1P1P/8/8/4K3 w - - 0 1", DRAW_DEAD},  // nobody gets in
      // Both kings below the wall: only Black's can take a pawn (a3, then b4).
      {"8/8/8/1p1p1p1p/1P1P1P1P/8/k7/4K3 w - - 0 1", DRAW_NONE},
      {"4k3/8/8/p7/P7/8/8/4K3 w - - 0 1", DRAW_NONE},            // kings can walk to the pawns
      {"4k3/8/8/1p1p1p2/1P1P1P1P/8/8/4K3 w - - 0 1", DRAW_NONE},  // the h-pawn is free
      // The black king guards d5 only while it stays: White's king walks in.
      {"8/4K3/2k5/1p1p4/1P1P4/8/8/8 b - - 1 1", DRAW_NONE},
      {"8/1k6/7p/p1p1p1pP/P1P1P1P1/8/3K4/8 w - - 0 1", DRAW_DEAD},  // walls of pawns and their attacks
      {"8/1k6/7p/p1p1p1pP/P1P1P1P1/8/3K4/8 w - g6 0 1", DRAW_NONE},  // h5xg6 en passant opens it
  };
  for (const Case& c : cases) {
    Position pos;
    ASSERT_NE(setFen(pos, c.fen), nullptr) << c.fen;
    EXPECT_EQ(materialDrawCode(pos), c.code) << c.fen;
  }
}

TEST(GameRecord, BadFenKeepsTheGame) {
  GameRecord g;
  play(g, "e2e4 e7e5");
  const std::uint64_t key = g.position.key;
  const int count = g.historyCount;
  for (const char* bad : {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNRR w KQkq - 0 1", "8/8/8/8/8/8/8/8 w - - 0 1", ""})
    EXPECT_FALSE(g.setFromFen(bad)) << bad;
  EXPECT_EQ(g.position.key, key);
  EXPECT_EQ(g.historyCount, count);
  EXPECT_TRUE(isConsistent(g.position));
}

}  // namespace
}  // namespace korvane
