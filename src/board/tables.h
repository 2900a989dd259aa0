// Bitboard helpers and the precomputed tables every board computation uses.
//
// All tables are read-only data computed when the program is built: the step
// and slider tables by the compiler, the king-and-pawn bitbase by a build tool
// (board/kpk_builder.h). Every thread may read them without synchronisation.
//
// Slider attacks use rotated occupancy: a position keeps the occupancy of each
// rank, file, diagonal and anti-diagonal as one byte (46 bytes in all):
//   [0..7]   rank bytes,          index = row,            bit = file
//   [8..15]  file bytes,          index = file,           bit = row
//   [16..30] diagonal bytes,      index = row + file,     bit = row  (a1-h8 lines)
//   [31..45] anti-diagonal bytes, index = row - file + 7, bit = row  (a8-h1 lines)
// The two end squares of a line never change what a slider on it attacks, so
// only the inner six bits of a line byte index the attack tables.
#pragma once

#include <bit>
#include <cstdint>
#include <string_view>

#include "board/types.h"

namespace korvane {

constexpr int ROTATED_SIZE = 46;
constexpr int ROT_FILE = 8;
constexpr int ROT_DIAG = 16;
constexpr int ROT_ANTI = 31;

using Rotated = std::uint8_t[ROTATED_SIZE];

struct StepTables {
  Bitboard king[64];
  Bitboard kingArea[64];  // 5x5 box around the square without its corners
  Bitboard knight[64];
  Bitboard knight2[64];  // squares reached by exactly two knight moves
  Bitboard fromTo[4096];  // bit(from) | bit(to) for index from + 64 * to
};

struct SliderTables {
  // Indexed by square, then by the six inner occupancy bits of the line.
  Bitboard rank[64][64];
  Bitboard file[64][64];
  Bitboard diag[64][64];
  Bitboard anti[64][64];
};

extern const StepTables STEPS;
extern const SliderTables SLIDERS;

// ---- bit operations -------------------------------------------------------

// Without a population-count instruction in the target (-mpopcnt or a
// -march that has it) std::popcount becomes a library call; the bit-parallel
// count below is several times faster than that call.
inline int popCount(Bitboard b) {
#if defined(__POPCNT__) || !(defined(__x86_64__) || defined(__i386__))
  return std::popcount(b);
#else
  b = b - ((b >> 1) & 0x5555555555555555ULL);
  b = (b & 0x3333333333333333ULL) + ((b >> 2) & 0x3333333333333333ULL);
  b = (b + (b >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
  return int((b * 0x0101010101010101ULL) >> 56);
#endif
}
inline Square lowestSquare(Bitboard b) { return std::countr_zero(b); }
inline Square popLowest(Bitboard& b) {
  Square s = std::countr_zero(b);
  b &= b - 1;
  return s;
}
constexpr bool moreThanOne(Bitboard b) { return (b & (b - 1)) != 0; }
constexpr bool exactlyOne(Bitboard b) { return b != 0 && (b & (b - 1)) == 0; }

constexpr Bitboard shiftEast(Bitboard b) { return (b << 1) & ~FILE_A; }
constexpr Bitboard shiftWest(Bitboard b) { return (b >> 1) & ~FILE_H; }
constexpr Bitboard shiftUp(Bitboard b) { return b >> 8; }     // towards rank 8
constexpr Bitboard shiftDown(Bitboard b) { return b << 8; }   // towards rank 1
constexpr Bitboard shiftDownWest(Bitboard b) { return (b << 7) & ~FILE_H; }
constexpr Bitboard shiftDownEast(Bitboard b) { return (b << 9) & ~FILE_A; }
constexpr Bitboard shiftUpWest(Bitboard b) { return (b >> 9) & ~FILE_H; }
constexpr Bitboard shiftUpEast(Bitboard b) { return (b >> 7) & ~FILE_A; }

// Squares attacked by pawns of the given colour standing on `pawns`.
constexpr Bitboard pawnAttacks(Color c, Bitboard pawns) {
  return c == WHITE ? shiftUpWest(pawns) | shiftUpEast(pawns)
                    : shiftDownWest(pawns) | shiftDownEast(pawns);
}

// One king step in every direction, the set itself included.
constexpr Bitboard kingGrow(Bitboard b) {
  Bitboard h = b | shiftEast(b) | shiftWest(b);
  return h | shiftUp(h) | shiftDown(h);
}

// 0 if the sets meet, else the number of king-step expansions of b until it meets a.
int kingStepDistance(Bitboard a, Bitboard b);
// Grows `set` by king steps inside `mask` until it no longer changes.
Bitboard floodFill(Bitboard set, Bitboard mask);

// ---- slider attacks on rotated occupancy -----------------------------------

inline int innerBits(std::uint8_t lineByte) { return (lineByte >> 1) & 63; }

inline Bitboard rankAttacks(Square s, const std::uint8_t* rot) {
  return SLIDERS.rank[s][innerBits(rot[rowOf(s)])];
}
inline Bitboard fileAttacks(Square s, const std::uint8_t* rot) {
  return SLIDERS.file[s][innerBits(rot[ROT_FILE + fileOf(s)])];
}
inline Bitboard diagAttacks(Square s, const std::uint8_t* rot) {
  return SLIDERS.diag[s][innerBits(rot[ROT_DIAG + rowOf(s) + fileOf(s)])];
}
inline Bitboard antiAttacks(Square s, const std::uint8_t* rot) {
  return SLIDERS.anti[s][innerBits(rot[ROT_ANTI + rowOf(s) - fileOf(s) + 7])];
}
inline Bitboard rookAttacks(Square s, const std::uint8_t* rot) {
  return rankAttacks(s, rot) | fileAttacks(s, rot);
}
inline Bitboard bishopAttacks(Square s, const std::uint8_t* rot) {
  return diagAttacks(s, rot) | antiAttacks(s, rot);
}
inline Bitboard queenAttacks(Square s, const std::uint8_t* rot) {
  return rookAttacks(s, rot) | bishopAttacks(s, rot);
}

// Where a square lives in the rotated occupancy: its byte in each of the four
// line groups and its bit in those bytes.
struct RotatedSlot {
  std::uint8_t index[4];
  std::uint8_t mask[4];
};
constexpr RotatedSlot rotatedSlot(Square s) {
  const int r = rowOf(s), f = fileOf(s);
  return {{std::uint8_t(r), std::uint8_t(ROT_FILE + f), std::uint8_t(ROT_DIAG + r + f),
           std::uint8_t(ROT_ANTI + r - f + 7)},
          {std::uint8_t(1 << f), std::uint8_t(1 << r), std::uint8_t(1 << r), std::uint8_t(1 << r)}};
}
extern const RotatedSlot ROTATED_SLOTS[64];

inline void setOccupied(std::uint8_t* rot, Square s) {
  const RotatedSlot& slot = ROTATED_SLOTS[s];
  for (int i = 0; i < 4; ++i) rot[slot.index[i]] |= slot.mask[i];
}
inline void setEmpty(std::uint8_t* rot, Square s) {
  const RotatedSlot& slot = ROTATED_SLOTS[s];
  for (int i = 0; i < 4; ++i) rot[slot.index[i]] &= std::uint8_t(~slot.mask[i]);
}
void buildRotated(std::uint8_t* rot, Bitboard occupied);

// ---- square text ------------------------------------------------------------

// Square of a file letter (either case) and a rank digit, -1 if not a square.
Square squareFromText(char file, char rank);
// Union of the squares named by a string of letter/digit pairs ("C2D2E2").
Bitboard bitsFromText(std::string_view text);

// ---- king and pawn against king ----------------------------------------------

// Entry values: 127 impossible, 126 draw, 0..125 won for the pawn's side
// (smaller = faster). Layout: pawn index (files a-d, ranks 2-7, a7 = 0 ..
// d2 = 23) * 8192 + (pawn's side to move ? 4096 : 0) + defender king * 64 +
// attacker king. Positions with the pawn on files e-h are read mirrored.
constexpr int KPK_SIZE = 24 * 8192;
extern const std::uint8_t* const KPK;
// Offset of a pawn square into the bitbase, -1 for squares outside files a-d, ranks 2-7.
extern const std::int32_t PAWN_OFFSET[64];

// Probe with the pawn's side as "White" (pawn moving towards rank 8): returns
// the entry value, or -1 for a draw (or an impossible position).
int kpkProbe(Square pawn, Square strongKing, Square weakKing, bool strongToMove);

}  // namespace korvane
