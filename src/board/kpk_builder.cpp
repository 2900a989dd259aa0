#include "board/kpk_builder.h"

#include <bit>
#include <cstring>
#include <initializer_list>

// This file is also compiled into the generator tool, which runs before the
// engine's tables exist: it may only use what the headers define inline.
#include "board/types.h"

namespace korvane {

// Retrograde analysis. White has king and pawn (pawn on files a-d, ranks 2-7),
// Black the bare king. An entry is addressed by pawn square, side to move,
// Black king and White king. 0 = not yet known while building.

namespace {

constexpr std::uint8_t KPK_IMPOSSIBLE = 127;
constexpr std::uint8_t KPK_DRAW = 126;

constexpr Bitboard kingSteps(Square s) {
  Bitboard b = 0;
  for (int dr = -1; dr <= 1; ++dr)
    for (int df = -1; df <= 1; ++df) {
      const int r = rowOf(s) + dr, f = fileOf(s) + df;
      if ((dr || df) && r >= 0 && r < 8 && f >= 0 && f < 8) b |= bit(makeSquare(r, f));
    }
  return b;
}

struct KingSteps {
  Bitboard to[64];
  constexpr KingSteps() : to() {
    for (Square s = 0; s < 64; ++s) to[s] = kingSteps(s);
  }
};
constexpr KingSteps KING_STEPS;

inline Bitboard king(Square s) { return KING_STEPS.to[s]; }

inline Square popLowestSquare(Bitboard& b) {
  const Square s = std::countr_zero(b);
  b &= b - 1;
  return s;
}

constexpr bool pawnSquare(Square p) { return rowOf(p) >= 1 && rowOf(p) <= 6 && fileOf(p) <= 3; }

inline int kpkIndex(Square pawn, bool whiteToMove, Square blackKing, Square whiteKing) {
  return ((rowOf(pawn) - 1) * 4 + fileOf(pawn)) * 8192 + (whiteToMove ? 4096 : 0) + blackKing * 64 + whiteKing;
}

inline Bitboard whitePawnAttacks(Square p) {
  const Bitboard b = bit(p);
  return ((b >> 9) & ~FILE_H) | ((b >> 7) & ~FILE_A);
}

void initialiseKpk(std::uint8_t* kpk) {
  for (Square p = 0; p < 64; ++p) {
    if (!pawnSquare(p)) continue;
    const Bitboard pawnCover = whitePawnAttacks(p);
    for (Square b = 0; b < 64; ++b) {
      for (Square w = 0; w < 64; ++w) {
        std::uint8_t& black = kpk[kpkIndex(p, false, b, w)];
        std::uint8_t& white = kpk[kpkIndex(p, true, b, w)];
        if (p == w || b == w || (king(b) & bit(w))) {
          black = white = KPK_IMPOSSIBLE;
          continue;
        }
        if (p == b) {  // the Black king has just taken the pawn
          black = KPK_IMPOSSIBLE;
          white = KPK_DRAW;
          continue;
        }
        if (pawnCover & bit(b)) white = KPK_IMPOSSIBLE;
        if ((king(b) & ~(king(w) | pawnCover)) == 0) black = KPK_DRAW;
        if (white == KPK_IMPOSSIBLE) continue;
        const Bitboard kingMoves = king(w) & ~king(b) & ~bit(p);
        const bool pushBlocked = p - 8 == b || p - 8 == w;
        if (!kingMoves && pushBlocked) {
          white = KPK_DRAW;
        } else if (rowOf(p) == 1 && !pushBlocked && (!(king(b) & bit(p - 8)) || (king(w) & bit(p - 8)))) {
          white = 1;
        }
      }
    }
  }
}

// Black to move: the worst of Black's king steps for Black, or still 0 while
// one of them is unknown.
std::uint8_t kpkBlackValue(const std::uint8_t* kpk, Square p, Square b, Square w) {
  bool unknown = false;
  int worst = -1;
  for (Bitboard m = king(b); m;) {
    const std::uint8_t v = kpk[kpkIndex(p, true, popLowestSquare(m), w)];
    if (v == KPK_DRAW) return KPK_DRAW;
    if (v == 0) unknown = true;
    else if (v != KPK_IMPOSSIBLE && v > worst) worst = v;
  }
  return !unknown && worst >= 0 ? std::uint8_t(worst + 1) : 0;
}

// White to move: the first winning successor found (king steps, then the
// pawn's single and double step), a draw when none wins and none is unknown,
// else still 0.
std::uint8_t kpkWhiteValue(const std::uint8_t* kpk, Square p, Square b, Square w) {
  bool unknown = false;
  auto winning = [&](std::uint8_t v) {
    if (v == 0) unknown = true;
    return v != 0 && v < KPK_DRAW;
  };
  for (Bitboard m = king(w); m;) {
    const std::uint8_t v = kpk[kpkIndex(p, false, b, popLowestSquare(m))];
    if (winning(v)) return std::uint8_t(v + 1);
  }
  if (rowOf(p) > 1) {  // pushes onto rank 8 are settled when the table is initialised
    const Square single = p - 8;
    const std::uint8_t v = kpk[kpkIndex(single, false, b, w)];
    if (winning(v)) return std::uint8_t(v + 1);
    if (rowOf(p) == 6 && single != b && single != w) {
      const std::uint8_t v2 = kpk[kpkIndex(p - 16, false, b, w)];
      if (winning(v2)) return std::uint8_t(v2 + 1);
    }
  }
  return unknown ? 0 : KPK_DRAW;
}

// One pass over every unknown entry in index order (pawn, side to move with
// Black first, Black king, White king); values found early in a pass are used
// by the entries after them, so the values depend on this order. Answers
// whether anything changed.
bool kpkPass(std::uint8_t* kpk) {
  bool changed = false;
  for (Square p = 0; p < 64; ++p) {
    if (!pawnSquare(p)) continue;
    for (const bool whiteToMove : {false, true}) {
      for (Square b = 0; b < 64; ++b) {
        for (Square w = 0; w < 64; ++w) {
          std::uint8_t& entry = kpk[kpkIndex(p, whiteToMove, b, w)];
          if (entry != 0) continue;
          entry = whiteToMove ? kpkWhiteValue(kpk, p, b, w) : kpkBlackValue(kpk, p, b, w);
          changed = changed || entry != 0;
        }
      }
    }
  }
  return changed;
}

}  // namespace

void buildKpkBitbase(std::uint8_t* out) {
  std::memset(out, 0, KPK_ENTRIES);
  initialiseKpk(out);
  while (kpkPass(out)) {
  }
  for (int i = 0; i < KPK_ENTRIES; ++i)
    if (out[i] == 0) out[i] = KPK_DRAW;
}

}  // namespace korvane
