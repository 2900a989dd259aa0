// Perft: the number of legal move sequences of a given length, the self test
// of move generation and make/unmake. An optional table of earlier counts
// makes deep counts fast.
#pragma once

#include <cstdint>
#include <vector>

#include "board/move_picker.h"
#include "board/position.h"

namespace korvane {

class Perft {
 public:
  // hashMegabytes = 0: no table.
  explicit Perft(int hashMegabytes);
  // Leaf count of `depth` plies from `pos` (0 for depth <= 0). The position is
  // unchanged afterwards.
  std::uint64_t run(Position& pos, int depth);

 private:
  struct Entry {
    std::uint64_t key;
    std::uint64_t count;
    std::int32_t depth;
  };
  std::uint64_t count(Position& pos, int depth, MoveEntry* top);

  HistoryTable history_;
  std::vector<Entry> table_;
  std::vector<MoveEntry> stack_;
};

}  // namespace korvane
