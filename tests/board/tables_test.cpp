#include <gtest/gtest.h>

#include <cstring>

#include "board/tables.h"

namespace korvane {
namespace {

TEST(Tables, BitHelpersAndStepTables) {
  EXPECT_EQ(popCount(0), 0);
  EXPECT_EQ(popCount(~Bitboard(0)), 64);
  EXPECT_EQ(lowestSquare(1), 0);
  EXPECT_EQ(lowestSquare(Bitboard(1) << 63), 63);
  Bitboard b = bit(5) | bit(9);
  EXPECT_EQ(popLowest(b), 5);
  EXPECT_EQ(b, bit(9));
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

TEST(Tables, SliderAttacksOnRotatedOccupancy) {
  std::uint8_t rot[ROTATED_SIZE];
  buildRotated(rot, bit(35));
  EXPECT_EQ(rankAttacks(35, rot), bitsFromText("a4b4c4e4f4g4h4"));
  buildRotated(rot, bit(34) | bit(35) | bit(36) | bit(33) | bit(37));
  EXPECT_EQ(rankAttacks(35, rot), bit(34) | bit(36));
  // Queen on d4 with blockers on d6 and f2.
  buildRotated(rot, bit(35) | bit(19) | bit(53));
  EXPECT_EQ(fileAttacks(35, rot), bitsFromText("d6d5d3d2d1"));
  EXPECT_EQ(bishopAttacks(35, rot), bitsFromText("a7b6c5e3f2a1b2c3e5f6g7h8"));
  setEmpty(rot, 53);
  EXPECT_TRUE(bishopAttacks(35, rot) & bit(62));
  setOccupied(rot, 53);
  std::uint8_t again[ROTATED_SIZE];
  buildRotated(again, bit(35) | bit(19) | bit(53));
  EXPECT_EQ(0, std::memcmp(rot, again, ROTATED_SIZE));
}

TEST(Tables, KingAndPawnBitbase) {
  // Pawn on a7 with free promotion square: White to move wins at once.
  EXPECT_EQ(kpkProbe(8, 18, 31, true), 1);
  // Black king next to the undefended pawn, Black to move: it takes, draw.
  EXPECT_EQ(kpkProbe(36, 63, 35, false), -1);
  // King on the sixth rank in front of its pawn wins whoever moves.
  EXPECT_GT(kpkProbe(27, 19, 3, true), 0);   // Kd6, Pd5 against Kd8
  EXPECT_GT(kpkProbe(27, 19, 3, false), 0);
  // King in front of the pawn without the opposition: a draw.
  EXPECT_EQ(kpkProbe(35, 27, 11, true), -1);  // Kd5, Pd4 against Kd7, White to move
  // Rook pawn with the defender in the corner is a draw.
  EXPECT_EQ(kpkProbe(24, 26, 0, true), -1);
  // Mirrored files give the same answers.
  EXPECT_EQ(kpkProbe(36, 28, 12, false), kpkProbe(35, 27, 11, false));
}

}  // namespace
}  // namespace korvane
