// Book text through the loader, then probes along the book's lines: every
// move the book gives must be legal where it is given.
#include <cstdint>
#include <string>

#include "board/move_picker.h"
#include "book/opening_book.h"
#include "fuzz_support.h"
#include "search/transposition_table.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TranspositionTable table;
  FUZZ_CHECK(table.allocate(std::size_t(1) << 20));
  const Position start;
  if (!loadBook(fuzz::ScratchFile(data, size).name(), start, table)) return 0;
  for (std::uint32_t random : {0u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    Position pos = start;
    for (int ply = 0; ply < 40; ++ply) {
      const Move m = probeBook(table, pos.key, random * (ply + 1));
      if (!m) break;
      FUZZ_CHECK(isMoveLegal(pos, m));
      MoveUndo undo;
      saveState(undo, pos);
      FUZZ_CHECK(makeMove(pos, m, undo));
    }
  }
  return 0;
}
