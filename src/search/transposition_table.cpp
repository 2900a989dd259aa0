#include "search/transposition_table.h"

#include <cstring>
#include <new>

namespace korvane {

namespace {

std::size_t slotsFor(std::size_t bytes) {
  std::size_t n = bytes / sizeof(TableSlot);
  return n < TranspositionTable::MIN_SLOTS ? TranspositionTable::MIN_SLOTS : n;
}

// Highest power of two not above n / 5 + 256, and below n.
std::size_t primaryFor(std::size_t n) {
  std::size_t limit = n / 5 + 256;
  while (limit >= n) limit /= 2;
  std::size_t m = 1;
  while (m * 2 <= limit) m *= 2;
  return m;
}

}  // namespace

bool TranspositionTable::allocate(std::size_t bytes) {
  slots_.reset();
  slotCount_ = primaryCount_ = 0;
  for (;;) {
    std::size_t n = slotsFor(bytes);
    slots_.reset(new (std::nothrow) TableSlot[n]);
    if (slots_) {
      slotCount_ = n;
      primaryCount_ = primaryFor(n);
      break;
    }
    bytes -= bytes / 16;
    if (bytes <= 120000) {
      clear();
      return false;
    }
  }
  clear();
  return true;
}

void TranspositionTable::clear() {
  if (slots_) std::memset(static_cast<void*>(slots_.get()), 0, slotCount_ * sizeof(TableSlot));
  generation_ = 1;
  used_ = 0;
  bookCount_ = 0;
}

int TranspositionTable::hashfull() const {
  if (slotCount_ == 0) return 0;
  return int(std::uint64_t(used_) * 1000 / std::uint32_t(slotCount_));
}

}  // namespace korvane
