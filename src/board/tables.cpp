#include "board/tables.h"

#include "board/kpk_builder.h"

#include <array>
#include <cstdlib>
#include <cstring>

namespace korvane {

namespace {

constexpr bool onBoard(int row, int file) { return row >= 0 && row < 8 && file >= 0 && file < 8; }

constexpr Bitboard stepSet(Square s, const int (*deltas)[2], int n) {
  Bitboard b = 0;
  for (int i = 0; i < n; ++i) {
    int r = rowOf(s) + deltas[i][0], f = fileOf(s) + deltas[i][1];
    if (onBoard(r, f)) b |= bit(makeSquare(r, f));
  }
  return b;
}

constexpr int KING_DELTAS[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 1}, {1, -1}, {1, 0}, {1, 1}};
constexpr int KNIGHT_DELTAS[8][2] = {{-2, -1}, {-2, 1}, {-1, -2}, {-1, 2}, {1, -2}, {1, 2}, {2, -1}, {2, 1}};

constexpr StepTables buildSteps() {
  StepTables t{};
  for (Square s = 0; s < 64; ++s) {
    t.king[s] = stepSet(s, KING_DELTAS, 8);
    t.knight[s] = stepSet(s, KNIGHT_DELTAS, 8);
  }
  for (Square s = 0; s < 64; ++s) {
    Bitboard area = 0;
    for (Bitboard b = t.king[s] | bit(s); b; b &= b - 1) area |= t.king[std::countr_zero(b)] | bit(std::countr_zero(b));
    // Remove the four corners of the 5x5 box.
    for (int dr : {-2, 2})
      for (int df : {-2, 2})
        if (onBoard(rowOf(s) + dr, fileOf(s) + df)) area &= ~bit(makeSquare(rowOf(s) + dr, fileOf(s) + df));
    t.kingArea[s] = area;
    Bitboard two = 0;
    for (Bitboard b = t.knight[s]; b; b &= b - 1) two |= t.knight[std::countr_zero(b)];
    t.knight2[s] = two;
  }
  for (int i = 0; i < 4096; ++i) t.fromTo[i] = bit(i & 63) | bit(i >> 6);
  return t;
}

// Attacks along one line from `s`, walking in direction (dr, df) and its
// opposite until the first occupied square or the edge. `occupiedAt(r, f)`
// tells whether the line square at row r, file f counts as occupied.
template <typename Occ>
constexpr Bitboard lineAttacks(Square s, int dr, int df, Occ occupiedAt) {
  Bitboard b = 0;
  for (int sign : {1, -1}) {
    int r = rowOf(s) + sign * dr, f = fileOf(s) + sign * df;
    while (onBoard(r, f)) {
      b |= bit(makeSquare(r, f));
      if (occupiedAt(r, f)) break;
      r += sign * dr;
      f += sign * df;
    }
  }
  return b;
}

constexpr SliderTables buildSliders() {
  SliderTables t{};
  for (Square s = 0; s < 64; ++s) {
    for (int inner = 0; inner < 64; ++inner) {
      const int line = inner << 1;  // the end bits never matter
      t.rank[s][inner] = lineAttacks(s, 0, 1, [line](int, int f) { return (line >> f) & 1; });
      t.file[s][inner] = lineAttacks(s, 1, 0, [line](int r, int) { return (line >> r) & 1; });
      t.diag[s][inner] = lineAttacks(s, 1, -1, [line](int r, int) { return (line >> r) & 1; });
      t.anti[s][inner] = lineAttacks(s, 1, 1, [line](int r, int) { return (line >> r) & 1; });
    }
  }
  return t;
}

constexpr std::array<std::int32_t, 64> buildPawnOffsets() {
  std::array<std::int32_t, 64> t{};
  for (Square s = 0; s < 64; ++s) {
    int r = rowOf(s), f = fileOf(s);
    t[s] = (r >= 1 && r <= 6 && f <= 3) ? ((r - 1) * 4 + f) * 8192 : -1;
  }
  return t;
}

}  // namespace

constexpr StepTables STEPS = buildSteps();
#define KORVANE_SLOTS8(r)                                                                          \
  rotatedSlot(r * 8 + 0), rotatedSlot(r * 8 + 1), rotatedSlot(r * 8 + 2), rotatedSlot(r * 8 + 3), \
      rotatedSlot(r * 8 + 4), rotatedSlot(r * 8 + 5), rotatedSlot(r * 8 + 6), rotatedSlot(r * 8 + 7)
constexpr RotatedSlot ROTATED_SLOTS[64] = {KORVANE_SLOTS8(0), KORVANE_SLOTS8(1), KORVANE_SLOTS8(2),
                                           KORVANE_SLOTS8(3), KORVANE_SLOTS8(4), KORVANE_SLOTS8(5),
                                           KORVANE_SLOTS8(6), KORVANE_SLOTS8(7)};
#undef KORVANE_SLOTS8
constexpr SliderTables SLIDERS = buildSliders();

constexpr std::array<std::int32_t, 64> PAWN_OFFSET_VALUES = buildPawnOffsets();
const std::int32_t PAWN_OFFSET[64] = {
#define ROW(r) PAWN_OFFSET_VALUES[r * 8 + 0], PAWN_OFFSET_VALUES[r * 8 + 1], PAWN_OFFSET_VALUES[r * 8 + 2], \
               PAWN_OFFSET_VALUES[r * 8 + 3], PAWN_OFFSET_VALUES[r * 8 + 4], PAWN_OFFSET_VALUES[r * 8 + 5], \
               PAWN_OFFSET_VALUES[r * 8 + 6], PAWN_OFFSET_VALUES[r * 8 + 7]
    ROW(0), ROW(1), ROW(2), ROW(3), ROW(4), ROW(5), ROW(6), ROW(7)
#undef ROW
};

int kingStepDistance(Bitboard a, Bitboard b) {
  if (!a || !b) return 0;
  int n = 0;
  while (!(a & b)) {
    Bitboard grown = kingGrow(b);
    ++n;
    if (grown == b) return n;  // cannot happen on a board with both sets non-empty
    b = grown;
  }
  return n;
}

Bitboard floodFill(Bitboard set, Bitboard mask) {
  set &= mask;
  for (;;) {
    Bitboard grown = kingGrow(set) & mask;
    if (grown == set) return set;
    set = grown;
  }
}

void buildRotated(std::uint8_t* rot, Bitboard occupied) {
  std::memset(rot, 0, ROTATED_SIZE);
  for (Bitboard b = occupied; b;) setOccupied(rot, popLowest(b));
}

Square squareFromText(char file, char rank) {
  if (file >= 'a' && file <= 'h') file = char(file - 'a' + 'A');
  if (file < 'A' || file > 'H' || rank < '1' || rank > '8') return NO_SQUARE;
  return (file - 'A') + 8 * ('8' - rank);
}

Bitboard bitsFromText(std::string_view text) {
  Bitboard b = 0;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    Square s = squareFromText(text[i], text[i + 1]);
    if (s >= 0) b |= bit(s);
  }
  return b;
}

// ---- KPK bitbase -------------------------------------------------------------
//
// Computed by the build (korvane_kpkgen, board/kpk_builder.cpp) and compiled in
// as constant data, so that start-up does not spend tens of milliseconds on
// the retrograde analysis.

namespace {

constexpr std::uint8_t KPK_DRAW = 126;
static_assert(KPK_SIZE == KPK_ENTRIES);

alignas(64) constexpr std::uint8_t KPK_DATA[KPK_SIZE] = {
#include "kpk_table.inc"
};

}  // namespace

const std::uint8_t* const KPK = KPK_DATA;

int kpkProbe(Square pawn, Square strongKing, Square weakKing, bool strongToMove) {
  if (fileOf(pawn) > 3) {
    pawn ^= 7;
    strongKing ^= 7;
    weakKing ^= 7;
  }
  if (PAWN_OFFSET[pawn] < 0) return -1;
  int v = KPK[PAWN_OFFSET[pawn] + (strongToMove ? 4096 : 0) + weakKing * 64 + strongKing];
  return v >= KPK_DRAW ? -1 : v;
}

}  // namespace korvane
