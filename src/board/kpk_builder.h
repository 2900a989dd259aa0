// Construction of the king-and-pawn-against-king bitbase.
//
// The engine does not run this at start-up: the build runs it once through
// the korvane_kpkgen tool and compiles the result into the program as a
// constant table (board/tables.cpp). The tests run it again and compare.
//
// Layout and values as documented with KPK in board/tables.h.
#pragma once

#include <cstdint>

namespace korvane {

constexpr int KPK_ENTRIES = 24 * 8192;

// Fills `out` (KPK_ENTRIES bytes) by retrograde analysis.
void buildKpkBitbase(std::uint8_t* out);

}  // namespace korvane
