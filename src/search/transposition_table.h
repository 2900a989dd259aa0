// The transposition table shared by all search threads.
//
// n slots of 24 bytes. The last m slots (m a power of two) form the primary
// region, addressed by the low key bits; the first n - m slots form the
// overflow region, addressed by the low key half modulo n - m - 1, so that a
// slot and its successor (the "overflow pair") both lie inside it. A probe
// looks at one primary slot and one overflow pair; a store may also move the
// primary slot's current occupant into that occupant's own overflow pair
// rather than lose it.
//
// While the engine is still in its opening book, the first `bookCount` slots
// hold the loaded book entries (written by the book loader through writeSlot).
// The main engine owns the table; worker engines only point to it. Only the
// owner reallocates, clears or frees it, and only while no search runs.
//
// Threads probe and store without locks, as synchronising would cost more
// search time than the occasional damaged entry costs. Every slot field is a
// relaxed atomic: an entry may be torn (fields from two different writes) but
// there is no data race. A hit needs both key halves to match, and the search
// only uses what it reads as a hint (the move is checked against the legal
// moves) or as a bound, so a torn entry does no lasting harm.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "board/prefetch.h"
#include "board/types.h"

namespace korvane {

// Any score at or beyond this distance from 0 is a mate score.
constexpr int MATE_WINDOW = 900000;

// The flags word of an entry: bit 0 threat, bits 1-2 bound, bits 3-15 depth
// in fifths of a ply (signed; quiescence entries hold their negative depth).
// Compared as a whole signed 16-bit number, a deeper entry outranks a
// shallower one, and at equal depth exact > lower bound > upper bound, with
// the threat bit as the last tie-break.
constexpr int BOUND_UPPER = 0;  // the node failed low
constexpr int BOUND_LOWER = 2;  // the node failed high (a cutoff)
constexpr int BOUND_EXACT = 4;
constexpr int BOUND_MASK = 6;
constexpr int THREAT_FLAG = 1;

constexpr int makeTableFlags(int depth, int bound, bool threat = false) {
  return int(std::int16_t(depth * 8 | bound | (threat ? THREAT_FLAG : 0)));
}

// What a probe hands out. The score is already relative to the root again.
struct TableEntry {
  Move move;
  int score = 0;
  std::uint16_t priority = 0;  // smaller is more valuable
  std::int16_t flags = 0;

  int depth() const { return flags >> 3; }
  int bound() const { return flags & BOUND_MASK; }
  bool threat() const { return (flags & THREAT_FLAG) != 0; }
};

// One slot as stored. Relaxed atomics throughout (see the file comment).
struct TableSlot {
  std::atomic<std::uint32_t> keyLow;
  std::atomic<std::uint32_t> keyHigh;
  std::atomic<std::uint32_t> move;
  std::atomic<std::int32_t> score;
  std::atomic<std::uint16_t> priority;  // priorityBase + null-window count of the node
  std::atomic<std::int16_t> flags;
  std::atomic<std::uint16_t> generation;  // search in which the slot was last written or hit
  std::uint16_t unused;
};
static_assert(sizeof(TableSlot) == 24);
static_assert(std::atomic<std::uint32_t>::is_always_lock_free && std::atomic<std::uint16_t>::is_always_lock_free);

// A plain copy of one slot, for the opening book, which keeps its entries in
// the first slots, and for tests.
struct SlotContents {
  std::uint64_t key = 0;
  Move move;
  std::int32_t score = 0;
  std::uint16_t priority = 0;
  std::int16_t flags = 0;
  std::uint16_t generation = 0;
};

class TranspositionTable {
 public:
  static constexpr std::size_t MIN_SLOTS = 5000;
  static constexpr std::size_t DEFAULT_BYTES = std::size_t(3) << 20;
  static constexpr std::uint16_t PRIORITY_BASE_START = 1000;

  TranspositionTable() = default;
  TranspositionTable(const TranspositionTable&) = delete;
  TranspositionTable& operator=(const TranspositionTable&) = delete;

  // Replaces the slot array by one of about `bytes` bytes (at least 5000
  // slots) and clears it. If memory is short the request shrinks by a
  // sixteenth per try; below 120000 bytes it gives up, leaves the table
  // without slots and answers false. A table without slots misses every
  // probe and ignores every store.
  bool allocate(std::size_t bytes);
  // Empties every slot; generation 1, nothing used, no book.
  void clear();

  // Looks for the position; on a hit fills `out` (mate scores made relative
  // to the root again for a node at `ply`) and keeps the slot alive in the
  // current search.
  bool probe(std::uint64_t key, int ply, TableEntry& out);
  // Starts loading the slots a probe of `key` will read, so that work done
  // before the probe hides the memory latency.
  KORVANE_ALWAYS_INLINE void prefetch(std::uint64_t key) const {
    if (slotCount_ == 0) return;
    prefetchForRead(primarySlot(std::uint32_t(key)));
    const TableSlot* pair = overflowPair(std::uint32_t(key));
    prefetchForRead(pair);
    prefetchForRead(pair + 1);
  }
  // Whether the entry decides a node searched to `depth` with (alpha, beta).
  static bool usable(const TableEntry& e, int alpha, int beta, int depth);
  // Records a search result for the position; `flags` from makeTableFlags,
  // `nullWindowCount` the node's count of null-window searches above it.
  void store(std::uint64_t key, Move move, int score, int flags, int nullWindowCount, int ply);

  // A new search: entries of earlier searches become replaceable, the fill
  // count restarts, the priority base returns to 1000 and the book (if any)
  // is given up.
  void newSearch();
  // The root found a new best move: later entries are preferred over older
  // ones of the same depth and bound.
  void bestMoveChanged() { priorityBase_.fetch_sub(4, std::memory_order_relaxed); }

  std::size_t slotCount() const { return slotCount_; }
  std::size_t primaryCount() const { return primaryCount_; }
  std::uint32_t bookCount() const { return bookCount_.load(std::memory_order_relaxed); }
  std::uint16_t generation() const { return generation_.load(std::memory_order_relaxed); }
  std::uint16_t priorityBase() const { return priorityBase_.load(std::memory_order_relaxed); }
  // Slots written or refreshed in the current search.
  std::int32_t used() const { return used_.load(std::memory_order_relaxed); }
  // Per mille of the slots touched by the current search.
  int hashfull() const;

  // Raw access for the opening book: it writes its sorted entries into slots
  // 0..count-1 and then announces them with setBookCount. Indexes outside the
  // table read as an empty slot and are not written.
  SlotContents readSlot(std::size_t index) const;
  void writeSlot(std::size_t index, const SlotContents& contents);
  void setBookCount(std::uint32_t count) { bookCount_.store(count, std::memory_order_relaxed); }

 private:
  KORVANE_ALWAYS_INLINE TableSlot* primarySlot(std::uint32_t keyLow) const {
    return &slots_[overflowCount() + (keyLow & std::uint32_t(primaryCount_ - 1))];
  }
  KORVANE_ALWAYS_INLINE TableSlot* overflowPair(std::uint32_t keyLow) const { return &slots_[overflowIndex(keyLow)]; }
  // keyLow mod (n - m - 1). A division takes tens of cycles on the path of
  // every probe; with 128-bit products the remainder comes exactly from two
  // multiplications by a constant fixed when the table is sized (Lemire,
  // Kaser and Kurz, "Faster remainder by direct computation", 2019).
  KORVANE_ALWAYS_INLINE std::uint32_t overflowIndex(std::uint32_t keyLow) const {
#if defined(__SIZEOF_INT128__)
    __extension__ typedef unsigned __int128 Wide;
    const std::uint64_t fraction = overflowMagic_ * keyLow;
    return std::uint32_t((Wide(fraction) * overflowModulus_) >> 64);
#else
    return keyLow % overflowModulus_;
#endif
  }
  KORVANE_ALWAYS_INLINE std::size_t overflowCount() const { return slotCount_ - primaryCount_; }
  // Gives the slot the current generation, counting it as used if it had another.
  void touch(TableSlot& slot, std::uint16_t current);

  // The slots live in zero-filled memory from calloc: all-zero bytes are
  // exactly the cleared state, and the system hands out such memory without
  // touching its pages, so even a table of 2 GiB is ready at once (its pages
  // are filled in as the search first uses them).
  struct FreeSlots {
    void operator()(TableSlot* slots) const { std::free(slots); }
  };
  std::unique_ptr<TableSlot[], FreeSlots> slots_;
  std::size_t slotCount_ = 0;
  std::size_t primaryCount_ = 0;
  std::uint32_t overflowModulus_ = 1;  // n - m - 1
  std::uint64_t overflowMagic_ = 0;    // 2^64 / overflowModulus_, rounded up
  std::atomic<std::int32_t> used_{0};
  std::atomic<std::uint32_t> bookCount_{0};
  std::atomic<std::uint16_t> generation_{1};
  std::atomic<std::uint16_t> priorityBase_{PRIORITY_BASE_START};
};

}  // namespace korvane
