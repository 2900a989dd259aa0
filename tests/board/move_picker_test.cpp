#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "board/move_picker.h"
#include "board/notation.h"
#include "epd.h"

namespace korvane {
namespace {

using test::fromFen;

// The stages hand out every generated move exactly once, the hash move first
// and the killers next (a killer equal to the hash move is not repeated), and
// a reset brings them all back.
TEST(MovePicker, StagesReturnEveryMoveOnce) {
  Position pos = fromFen("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1");
  MoveEntry stack[2 * MAX_MOVES];
  MoveEntry* top = stack;
  HistoryTable history;
  const Move hash(45, 21, QUEEN);  // Qf3xf6
  KillerTable killers{};
  killers.rows[0][0] = hash;
  killers.rows[0][1] = Move(60, 61, KING);     // Kf1
  MovePicker picker(hash, top, pos, history, false, false, &killers);
  EXPECT_EQ(top, stack + picker.size());
  std::multiset<std::uint32_t> generated, seen;
  for (const MoveEntry* e = picker.begin(); e < picker.end(); ++e) generated.insert(e->move.raw());
  std::vector<Move> first;
  while (const MoveEntry* e = picker.nextMove()) {
    first.push_back(e->move);
    seen.insert(e->move.raw());
  }
  ASSERT_EQ(first.size(), 48u);
  EXPECT_EQ(first[0], hash);
  EXPECT_EQ(first[1], Move(60, 61, KING));
  EXPECT_EQ(seen, generated);

  // After a reset they all come again, and past the hash move and the killers
  // best score first (48 moves: the list is partitioned before it is picked).
  picker.resetPicker();
  std::vector<Move> second;
  std::vector<std::int32_t> scores;
  while (const MoveEntry* e = picker.nextMove()) {
    second.push_back(e->move);
    if (picker.stage() > 7) scores.push_back(e->score);
  }
  EXPECT_EQ(second.size(), first.size());
  EXPECT_EQ(scores.size(), first.size() - 2);
  EXPECT_TRUE(std::is_sorted(scores.rbegin(), scores.rend()));
  {
    // A nested picker takes its list above this one and gives the space back.
    MovePicker inner(Move(), top, pos, history, true, false, nullptr);
    EXPECT_EQ(inner.begin(), stack + 48);
  }
  EXPECT_EQ(top, stack + 48);
}

// The first move handed out: captures before quiet moves; a promotion that
// takes a queen first of all, its score not overflowing into the back.
TEST(MovePicker, BestCaptureComesFirst) {
  for (const auto& [fen, best] : {std::pair{"4k3/8/8/3q4/8/8/3R4/4K3 w - - 0 1", Move(51, 27, ROOK)},
                                  {"q3k3/1P6/8/8/8/8/8/4K2R w K - 0 1", Move(9, 0, PAWN, QUEEN)}}) {
    Position pos = fromFen(fen);
    MoveEntry stack[MAX_MOVES];
    MoveEntry* top = stack;
    HistoryTable history;
    MovePicker picker(Move(), top, pos, history, false, false, nullptr);
    const MoveEntry* first = picker.nextMove();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->move, best) << fen;
    EXPECT_GT(first->score, 0) << fen;
  }
}

// Promotions: all four pieces, or the queen alone when only captures and
// queen promotions are generated.
TEST(MovePicker, PromotionsByMode) {
  Position pos = fromFen("1n2k3/P7/8/8/8/8/8/4K3 w - - 0 1");
  MoveEntry stack[MAX_MOVES];
  HistoryTable history;
  for (const auto& [captures, expected] : {std::pair{false, 8}, {true, 2}}) {
    MoveEntry* top = stack;
    MovePicker picker(Move(), top, pos, history, captures, false, nullptr);
    int promotions = 0;
    for (const MoveEntry* e = picker.begin(); e < picker.end(); ++e) {
      promotions += e->move.promotion() != 0;
      if (captures) { EXPECT_TRUE(e->move.promotion() == 0 || e->move.promotion() == QUEEN); }
    }
    EXPECT_EQ(promotions, expected);  // a8 and axb8
  }
}

TEST(MovePicker, Legality) {
  struct Case {
    const char* fen;
    Move move;
    bool legal;
  };
  const Case cases[] = {
      {"8/8/8/2k5/3Pp3/8/8/4K3 b - d3 0 1", Move(36, 43, PAWN), true},  // en passant takes the checking pawn
      {"4k3/8/8/8/8/8/8/r3K3 w - - 0 1", Move(60, 61, KING), false},    // behind the king on the checking line
      {"4k3/8/8/8/8/8/8/r3K3 w - - 0 1", Move(60, 52, KING), true},
      {"4k3/8/8/8/8/8/5r2/R3K2R w KQ - 0 1", Move(60, 63, KING), false},  // castling through f1
      {"4k3/8/8/8/8/8/5r2/R3K2R w KQ - 0 1", Move(60, 56, KING), true},
      {"4k3/8/8/8/8/8/4r3/R3K2R w KQ - 0 1", Move(60, 56, KING), false},  // out of check
      {"4k3/8/8/8/8/8/8/RK6 w A - 0 1", Move(57, 56, KING), true},        // Chess960: Kb1 with Ra1
  };
  for (const Case& c : cases) {
    Position pos = fromFen(c.fen);
    EXPECT_EQ(isMoveLegal(pos, c.move), c.legal) << c.fen;
  }
  // Double check: only king moves are generated.
  Position pos = fromFen("4k3/8/8/8/1b6/8/4r3/R3K2R w KQ - 0 1");
  MoveEntry stack[MAX_MOVES];
  MoveEntry* top = stack;
  HistoryTable history;
  MovePicker picker(Move(), top, pos, history, false, false, nullptr);
  for (const MoveEntry* e = picker.begin(); e < picker.end(); ++e) EXPECT_EQ(e->move.piece(), KING);
}

// Stalemate 0, Black mated +1, White mated -1; the start has moves.
TEST(MovePicker, EndOfGame) {
  for (const auto& [fen, expected] : {std::pair{"7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", 0},
                                      {"7k/6Q1/6K1/8/8/8/8/8 b - - 0 1", 1},
                                      {"8/8/8/8/8/6k1/6q1/7K w - - 0 1", -1}}) {
    Position pos = fromFen(fen);
    int result = 99;
    EXPECT_TRUE(noLegalMove(pos, &result)) << fen;
    EXPECT_EQ(result, expected) << fen;
  }
  Position start;
  EXPECT_FALSE(noLegalMove(start));
}

}  // namespace
}  // namespace korvane
