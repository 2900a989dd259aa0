// The transposition table shared by all search threads.
//
// n slots of 24 bytes. The last m slots (m a power of two) form the primary
// region, addressed by the low key bits; the first n - m slots form the
// overflow region, addressed by remainder. While the engine is still in its
// opening book, the first slots hold the loaded book entries (bookCount of
// them). The main engine owns the table; worker engines only point to it, and
// only the owner reallocates or frees it, and only while no search runs.
//
// This is the table's storage and bookkeeping: sizing, clearing and the fill
// figure the output reports. Probing and storing belong to the search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace korvane {

struct TableSlot {
  std::uint32_t keyLow;
  std::uint32_t keyHigh;
  std::uint32_t move;
  std::int32_t score;
  std::uint16_t priority;
  std::int16_t flags;  // bit 0 threat, bits 1-2 bound, bits 3-15 depth
  std::uint16_t generation;
  std::uint16_t unused;
};
static_assert(sizeof(TableSlot) == 24);

class TranspositionTable {
 public:
  static constexpr std::size_t MIN_SLOTS = 5000;
  static constexpr std::size_t DEFAULT_BYTES = std::size_t(3) << 20;

  TranspositionTable() = default;
  TranspositionTable(const TranspositionTable&) = delete;
  TranspositionTable& operator=(const TranspositionTable&) = delete;

  // Replaces the slot array by one of about `bytes` bytes (at least 5000
  // slots) and clears it. If memory is short the request shrinks by a
  // sixteenth per try; below 120000 bytes it gives up, leaves the table
  // without slots and answers false.
  bool allocate(std::size_t bytes);
  // Empties every slot; generation 1, nothing used, no book.
  void clear();

  std::size_t slotCount() const { return slotCount_; }
  std::size_t primaryCount() const { return primaryCount_; }
  std::uint32_t bookCount() const { return bookCount_; }
  std::uint16_t generation() const { return generation_; }
  // Slots written or refreshed in the current search.
  std::uint32_t used() const { return used_; }
  // Per mille of the slots touched by the current search.
  int hashfull() const;

 private:
  std::unique_ptr<TableSlot[]> slots_;
  std::size_t slotCount_ = 0;
  std::size_t primaryCount_ = 0;
  std::uint32_t used_ = 0;
  std::uint32_t bookCount_ = 0;
  std::uint16_t generation_ = 1;
};

}  // namespace korvane
