#include <gtest/gtest.h>

#include "board/tables.h"

namespace korvane {
namespace {

TEST(Tables, BitHelpersAndStepTables) {
  // Edges of the bit helpers (the rest of the board code exercises them all).
  EXPECT_EQ(popCount(~Bitboard(0)), 64);
  EXPECT_EQ(lowestSquare(Bitboard(1) << 63), 63);
  for (int from = 0; from < 64; ++from)
    for (int to = 0; to < 64; ++to)
      EXPECT_EQ(popCount(STEPS.fromTo[from + 64 * to]), from == to ? 1 : 2);
  EXPECT_EQ(popCount(STEPS.kingArea[0]), 8);
  EXPECT_EQ(popCount(STEPS.kingArea[27]), 21);
  EXPECT_EQ(STEPS.knight2[0], bitsFromText("a8c8e8d7a6e6b5d5a4c4"));
  EXPECT_EQ(squareFromText('e', '1'), 60);
  EXPECT_EQ(squareFromText('H', '8'), 7);
  EXPECT_EQ(squareFromText('i', '1'), NO_SQUARE);
}

// Entry values fixed by building the table in index order (pawn, side to
// move, defending king, attacking king), one full pass after another, with
// new values used at once; worked out apart from the engine.
TEST(Tables, KingAndPawnBitbaseValues) {
  struct Entry {
    const char* pawn;
    const char* strongKing;
    const char* weakKing;
    bool strongToMove;
    int value;
  };
  const Entry entries[] = {
      {"c7", "e3", "c3", false, 2},  {"d7", "c1", "d5", false, 2},  {"a6", "h3", "h5", false, 4},
      {"a6", "e4", "h1", true, 3},   {"c6", "g5", "d3", true, 3},   {"c5", "g2", "c2", true, 5},
      {"c5", "e6", "h2", true, 5},   {"d5", "c7", "g2", false, 6},  {"a4", "g5", "f8", true, 7},
      {"a4", "f1", "b1", true, 7},   {"b4", "g1", "h4", true, 7},   {"b4", "h6", "h3", true, 7},
      {"c4", "b1", "g1", true, 7},   {"d4", "e7", "g4", false, 8},  {"d4", "e2", "g1", false, 8},
      {"d4", "b5", "g7", true, 11},  {"d4", "f2", "h5", true, 17},  {"a3", "f2", "h3", true, 9},
      {"b3", "b6", "f6", false, 12}, {"b3", "b5", "g2", false, 12}, {"b3", "e3", "f1", false, 10},
      {"c3", "b6", "h4", false, 12}, {"c3", "b1", "h5", true, 23},  {"d3", "e5", "e1", false, 10},
      {"d3", "h3", "a3", true, 21},  {"d3", "c1", "h1", true, 9},   {"a2", "c5", "g2", false, 10},
      {"a2", "b4", "d1", false, 10}, {"a2", "f5", "g1", false, 10}, {"a2", "f1", "c1", true, 9},
      {"c2", "d3", "a6", true, 21},  {"d2", "d3", "f4", false, 24}, {"d2", "e7", "h8", true, 9},
      {"d2", "h2", "g5", true, 31},  {"d2", "h1", "c1", true, 9},
      // Draws: -1. Defender next to the undefended pawn and to move; king in
      // front of its pawn without the opposition; rook pawn, defender in the corner.
      {"e4", "h1", "d4", false, -1}, {"d4", "d5", "d7", true, -1}, {"a5", "c5", "a8", true, -1},
      {"a7", "c6", "h5", true, 1},  // promotes at once
      // Files e-h read the mirrored entries.
      {"h6", "d4", "a1", true, 3},   {"e2", "a1", "f1", true, 9},   {"g3", "g6", "c6", false, 12},
  };
  auto square = [](const char* name) { return squareFromText(name[0], name[1]); };
  for (const Entry& e : entries)
    EXPECT_EQ(kpkProbe(square(e.pawn), square(e.strongKing), square(e.weakKing), e.strongToMove), e.value)
        << e.pawn << " " << e.strongKing << " " << e.weakKing << " " << e.strongToMove;
  EXPECT_EQ(kpkProbe(square("e4"), square("e5"), square("e7"), false),
            kpkProbe(square("d4"), square("d5"), square("d7"), false));
}

}  // namespace
}  // namespace korvane
