// The search run in-process on an Engine: forced mates with their distance,
// the depth rule and the special root cases.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <utility>

#include "board/notation.h"
#include "search/engine.h"
#include "search/search.h"
#include "search/time_control.h"

namespace korvane {
namespace {

// Searches `fen` to `depth` plies with one thread and a fresh table; returns
// the score and the best move as text ("" for none).
std::pair<int, std::string> searchTo(Engine& engine, const char* fen, int depth) {
  EXPECT_TRUE(engine.game.setFromFen(fen)) << fen;
  engine.table().clear();
  buildRootMoves(engine, false, nullptr);
  TimeControl clock;
  clock.setLimits(0, 0, 0, depth, 0, 0, 0, false);
  clock.startClock();
  engine.stopFlag.store(false);
  EXPECT_TRUE(searchMain(engine, &clock));
  char text[MOVE_TEXT_SIZE] = "";
  if (!engine.bestMove.isNone()) moveToText(engine.game.position, engine.bestMove, STYLE_COORDINATE, text);
  return {engine.rootScore, text};
}

// Forced mates with their distance: mating at ply 2n - 1 below the root, the
// mated node at that ply scores ply - 1000000, which the root sees negated.
// Mated and stalemated roots have no move and score 0; a single legal move is
// played without iterating.
TEST(Search, RootResults) {
  constexpr int ANY = -1;
  struct Case {
    const char* fen;
    int depth, score;
    const char* best;  // null when several first moves mate equally fast
  };
  const Case cases[] = {
      {"6k1/5ppp/8/8/8/8/8/R5K1 w - - 0 1", 4, 999999, "a1a8"},
      {"3r2k1/8/8/8/8/8/5PPP/6K1 b - - 0 1", 4, 999999, "d8d1"},
      {"r1bqkbnr/pppp1ppp/2n5/4p3/2B1P3/5Q2/PPPP1PPP/RNB1K1NR w KQkq - 2 3", 4, 999999, "f3f7"},
      {"7k/8/8/8/8/8/R7/1R4K1 w - - 0 1", 6, 999997, "a2a7"},
      {"8/8/8/8/8/7k/R7/1R4K1 w - - 0 1", 6, 999997, nullptr},
      {"7K/8/8/8/8/8/r7/1r4k1 b - - 0 1", 6, 999997, nullptr},
      {"1r4k1/r7/8/8/8/8/8/7K b - - 0 1", 6, 999997, nullptr},
      {"1R4K1/R7/8/8/8/8/7k/8 w - - 0 1", 8, 999995, nullptr},
      {"8/7K/8/8/8/8/r7/1r4k1 b - - 0 1", 8, 999995, nullptr},
      {"R5k1/5ppp/8/8/8/8/8/6K1 b - - 0 1", 3, 0, ""},
      {"7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", 3, ANY, ""},
      {"7k/8/6K1/8/8/8/8/1R6 b - - 0 1", 10, ANY, "h8g8"},
  };
  auto engine = std::make_unique<Engine>();
  for (const Case& c : cases) {
    const auto [score, best] = searchTo(*engine, c.fen, c.depth);
    if (c.score != ANY) { EXPECT_EQ(score, c.score) << c.fen; }
    if (c.best) { EXPECT_EQ(best, c.best) << c.fen; }
  }
  EXPECT_LE(engine->iterationDepth, 1) << "the single move";
}

TEST(Search, SearchmovesAndExcludemovesRestrictTheRoot) {
  auto engine = std::make_unique<Engine>();
  ASSERT_TRUE(engine->game.setFromFen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"));
  buildRootMoves(*engine, false, " a2a3 h2h4");
  EXPECT_EQ(engine->rootMoveCount, 2);
  EXPECT_TRUE(engine->searchMovesGiven);
  buildRootMoves(*engine, true, " a2a3 h2h4");
  EXPECT_EQ(engine->rootMoveCount, 18);
  buildRootMoves(*engine, false, nullptr);
  EXPECT_EQ(engine->rootMoveCount, 20);
  EXPECT_FALSE(engine->searchMovesGiven);
}

// Depths count fifths of a ply: 7 is not a whole ply and loses one more;
// extensions are capped so that a ply is never more than one deeper.
TEST(Search, NewDepthFadesFractionsAndCapsExtensions) {
  auto engine = std::make_unique<Engine>();
  engine->ply = 0;
  PlyRecord& r = engine->record(0);
  r.undo.captured = 0;
  for (const auto& [ext, depth, expected] : {std::tuple{0, 12, 6}, {0, 15, 10}, {4, 12, 11}, {5, 12, 11},
                                             {9, 20, 19}, {-5, 20, 10}}) {
    r.ext = std::int16_t(ext);
    EXPECT_EQ(newDepth(*engine, r, depth), expected) << ext << " " << depth;
  }
}

// A capture that leaves kings and pawns only extends by the piece the previous
// move captured (row) and the piece captured now (column).
TEST(Search, NewDepthExtendsCapturesIntoPawnEndings) {
  auto engine = std::make_unique<Engine>();
  ASSERT_TRUE(engine->game.setFromFen("4k3/p7/8/8/8/8/P7/4K3 w - - 0 1"));
  const int table[6][4] = {
      // now: knight, bishop, rook, queen
      {0, 0, 0, 0},    // previous captured nothing
      {5, 5, 0, 0},    // pawn
      {5, 10, 5, 0},   // knight
      {10, 10, 5, 0},  // bishop
      {5, 5, 10, 0},   // rook
      {0, 0, 0, 15},   // queen
  };
  engine->ply = 1;
  PlyRecord& previous = engine->record(0);
  PlyRecord& r = engine->record(1);
  previous.move = Move(9, 17, KNIGHT);
  for (int before = 0; before <= QUEEN; ++before) {
    for (int now = KNIGHT; now <= QUEEN; ++now) {
      previous.undo.captured = before;
      r.undo.captured = now;
      r.ext = 0;
      EXPECT_EQ(newDepth(*engine, r, 20), 15 + table[before][now - KNIGHT]) << before << " " << now;
    }
  }
  // After a null move the table does not apply.
  previous.move = Move();
  previous.undo.captured = QUEEN;
  r.undo.captured = QUEEN;
  r.ext = 0;
  EXPECT_EQ(newDepth(*engine, r, 20), 15);
}

TEST(Search, HistoryStaysBelowItsThreshold) {
  HistoryTable table;
  const Move m(52, 36, PAWN);
  for (int i = 0; i < 200000; ++i) {
    historyAdd(table, m, 8);
    historyNodeDone(table, m);
  }
  EXPECT_LE(table.counters[m.fromTo()], table.threshold);
  EXPECT_LE(table.counters[m.fromTo()], 0x3C000000u);
  EXPECT_GE(table.increment, 256u);
  // The shift the move picker applies keeps its scores within 24 bits.
  EXPECT_LE(table.counters[m.fromTo()] >> table.shift, 0x10000u);
}

TEST(Search, NodeLimitAndDepthLimitEndTheSearch) {
  auto engine = std::make_unique<Engine>();
  ASSERT_TRUE(engine->game.setFromFen("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1"));
  buildRootMoves(*engine, false, nullptr);
  TimeControl clock;
  clock.setLimits(0, 0, 0, 0, 0, 20000, 0, false);
  clock.startClock();
  engine->stopFlag.store(false);
  searchMain(*engine, &clock);
  EXPECT_FALSE(engine->bestMove.isNone());
  // Nodes are counted between the checks, which only nodes with depth left make.
  EXPECT_GE(engine->nodes, 20000u);
  EXPECT_LT(engine->nodes, 60000u);

  searchTo(*engine, "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", 1);
  EXPECT_EQ(engine->iterationDepth, 1);  // depth 1: the depth-0 iteration only
}

}  // namespace
}  // namespace korvane
