#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <tuple>

#include "search/transposition_table.h"

namespace korvane {
namespace {

constexpr int MATE = 999999;

// With the default 3 MiB: 131072 slots, 16384 primary ones after 114688
// overflow slots addressed modulo 114687.
constexpr std::uint32_t PRIMARY = 16384;
constexpr std::uint32_t OVERFLOW_MODULUS = 114687;

std::uint64_t makeKey(std::uint32_t high, std::uint32_t low) { return std::uint64_t(high) << 32 | low; }

class TableTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(table.allocate(TranspositionTable::DEFAULT_BYTES)); }

  TableEntry probe(std::uint64_t key, bool expectHit = true, int ply = 0) {
    TableEntry e;
    EXPECT_EQ(table.probe(key, ply, e), expectHit) << std::hex << key;
    return e;
  }

  TranspositionTable table;
};

// Slots of 24 bytes, at least 5000; primary slots: the largest power of two
// not above slots / 5 + 256.
TEST(TranspositionTableSizing, SlotsAndRegions) {
  TranspositionTable table;
  for (const auto& [bytes, slots, primary] : {std::tuple{TranspositionTable::DEFAULT_BYTES, 131072u, 16384u},
                                              {std::size_t(1000), 5000u, 1024u},
                                              {std::size_t(64) << 20, 2796202u, 524288u}}) {
    ASSERT_TRUE(table.allocate(bytes));
    EXPECT_EQ(table.slotCount(), slots);
    EXPECT_EQ(table.primaryCount(), primary);
    EXPECT_EQ(table.hashfull(), 0);
    EXPECT_EQ(table.bookCount(), 0u);
    EXPECT_EQ(table.generation(), 1);
  }
}

TEST_F(TableTest, StoreAndProbeRoundTrip) {
  const std::uint64_t key = makeKey(0xDEADBEEF, 12345);
  probe(key, false);
  table.store(key, Move(0x0302A1C), -1234, makeTableFlags(17, BOUND_LOWER, true), 6, 3);
  TableEntry e = probe(key);
  EXPECT_EQ(e.move, Move(0x0302A1C));
  EXPECT_EQ(e.score, -1234);
  EXPECT_EQ(e.priority, 1006);
  EXPECT_EQ(e.depth(), 17);
  EXPECT_EQ(e.bound(), BOUND_LOWER);
  EXPECT_TRUE(e.threat());

  // Only the low half matching is no hit.
  probe(makeKey(0xDEADBEEE, 12345), false);

  // Quiescence entries keep their negative depth.
  table.store(key, Move(), 5, makeTableFlags(-3, BOUND_UPPER), 0, 0);
  e = probe(key);
  EXPECT_EQ(e.depth(), -3);
  EXPECT_EQ(e.bound(), BOUND_UPPER);
  EXPECT_FALSE(e.threat());
}

// Mate scores (from 900000 on) are stored relative to the node and read back
// relative to the root at the probing ply; others are stored as they are.
TEST_F(TableTest, MateScoresAreRelativeToTheNode) {
  const std::uint64_t key = makeKey(7, 77);
  const std::size_t slot = table.slotCount() - PRIMARY + 77;
  for (const auto& [score, storePly, stored, readPly, read] :
       {std::tuple{-MATE + 10, 3, -MATE + 7, 5, -MATE + 12},  // mated 7 plies below, by another path
        {-MATE + 10, 3, -MATE + 7, 0, -MATE + 7}, {MATE - 9, 4, MATE - 5, 1, MATE - 6},
        {900000, 2, 900002, 9, 899993}, {899999, 2, 899999, 9, 899999}, {-899999, 2, -899999, 9, -899999}}) {
    table.store(key, Move(), score, makeTableFlags(5, BOUND_EXACT), 0, storePly);
    EXPECT_EQ(table.readSlot(slot).score, stored) << score;
    EXPECT_EQ(probe(key, true, readPly).score, read) << score;
  }
}

// usable(entry, alpha, beta, depth): deep enough, and the bound decides at
// the window. Quiescence depths are negative, so such an entry never serves
// a full-width node; both bound bits set is no bound at all.
TEST(TranspositionTableUse, UsablePerBound) {
  struct Case {
    int entryDepth, bound, score, alpha, beta, depth;
    bool usable;
  };
  const Case cases[] = {
      {10, BOUND_EXACT, 40, 100, 200, 10, true}, {10, BOUND_EXACT, 40, 100, 200, -5, true},
      {10, BOUND_EXACT, 40, 100, 200, 11, false}, {10, BOUND_LOWER, 300, 0, 300, 10, true},
      {10, BOUND_LOWER, 300, 0, 301, 10, false},  {10, BOUND_LOWER, 300, 0, 300, 11, false},
      {10, BOUND_UPPER, -50, -50, 0, 10, true},   {10, BOUND_UPPER, -50, -51, 0, 10, false},
      {10, BOUND_UPPER, -50, -49, 0, 10, true},   {-2, BOUND_EXACT, 0, 0, 1, -2, true},
      {-2, BOUND_EXACT, 0, 0, 1, 0, false},       {10, 6, 0, -100, 100, 0, false},
  };
  for (const Case& c : cases) {
    const TableEntry e{Move(), c.score, 0, std::int16_t(makeTableFlags(c.entryDepth, c.bound))};
    EXPECT_EQ(TranspositionTable::usable(e, c.alpha, c.beta, c.depth), c.usable)
        << c.entryDepth << " " << c.bound << " " << c.score << " " << c.alpha << " " << c.beta << " " << c.depth;
  }
}

// key1 and key2 share a primary slot; key1's overflow pair is slots 5 and 6.
// Storing key2 demotes key1 into the pair: to a slot of an older search
// first, else to the less valuable one, and not at all when both slots of
// the pair are current and worth more.
TEST_F(TableTest, PrimaryEntryIsDemotedToItsOverflowPair) {
  const std::uint64_t key1 = makeKey(0x1111, 5), key2 = makeKey(0x2222, 5 + PRIMARY);
  const std::size_t primary = table.slotCount() - PRIMARY + 5;
  auto slot = [](std::uint64_t key, int depth, int generation) {
    return SlotContents{key, Move(1), 0, 0, std::int16_t(makeTableFlags(depth, BOUND_EXACT)), std::uint16_t(generation)};
  };
  const SlotContents none{}, a = slot(makeKey(8, 8), 30, 1), b = slot(makeKey(9, 9), 30, 1);
  struct Case {
    SlotContents five, six;
    std::uint64_t fiveAfter, sixAfter;
  };
  const Case cases[] = {
      {none, none, key1, 0},                                         // both empty: the first
      {b, none, b.key, key1},                                        // the empty (stale) one
      {slot(a.key, 1, 0), slot(b.key, 2, 0), key1, b.key},           // equal age: the shallower
      {a, b, a.key, b.key},                                          // both current and deeper: dropped
  };
  for (const Case& c : cases) {
    table.clear();
    table.writeSlot(5, c.five);
    table.writeSlot(6, c.six);
    table.store(key1, Move(0x111), 10, makeTableFlags(10, BOUND_EXACT), 2, 0);
    EXPECT_EQ(table.readSlot(primary).key, key1);
    table.store(key2, Move(0x222), 20, makeTableFlags(4, BOUND_UPPER), 0, 0);
    EXPECT_EQ(table.readSlot(primary).key, key2);
    EXPECT_EQ(table.readSlot(5).key, c.fiveAfter);
    EXPECT_EQ(table.readSlot(6).key, c.sixAfter);
    probe(key1, c.fiveAfter == key1 || c.sixAfter == key1);
    EXPECT_EQ(probe(key2).move, Move(0x222));
  }
  // The demoted entry keeps its contents; key2's own overflow pair is untouched.
  table.clear();
  table.store(key1, Move(0x111), 10, makeTableFlags(10, BOUND_EXACT), 2, 0);
  table.store(key2, Move(0x222), 20, makeTableFlags(4, BOUND_UPPER), 0, 0);
  const SlotContents moved = table.readSlot(5);
  EXPECT_EQ(moved.move, Move(0x111));
  EXPECT_EQ(moved.priority, 1002);
  EXPECT_EQ(moved.generation, 1);
  EXPECT_EQ(table.used(), 2);  // the primary slot was already counted
  EXPECT_EQ(table.readSlot((5 + PRIMARY) % OVERFLOW_MODULUS).key, 0u);
}

TEST(TranspositionTableFill, HashfullCountsSlotsOfTheCurrentSearch) {
  TranspositionTable table;
  ASSERT_TRUE(table.allocate(1000));  // 5000 slots, 1024 primary
  for (std::uint32_t i = 0; i < 100; ++i)
    table.store(makeKey(1, i), Move(i + 1), 0, makeTableFlags(5, BOUND_EXACT), 0, 0);
  EXPECT_EQ(table.used(), 100);
  EXPECT_EQ(table.hashfull(), 20);
  // Storing again into the same slots does not count twice.
  for (std::uint32_t i = 0; i < 100; ++i)
    table.store(makeKey(1, i), Move(i + 1), 0, makeTableFlags(6, BOUND_EXACT), 0, 0);
  EXPECT_EQ(table.used(), 100);

  table.setBookCount(3);
  table.newSearch();
  EXPECT_EQ(table.hashfull(), 0);
  EXPECT_EQ(table.generation(), 2);
  EXPECT_EQ(table.priorityBase(), 1000);
  EXPECT_EQ(table.bookCount(), 0u);
  // The old entries are still there; a hit counts the slot for this search.
  TableEntry e;
  for (std::uint32_t i = 0; i < 10; ++i) ASSERT_TRUE(table.probe(makeKey(1, i), 0, e));
  EXPECT_EQ(table.used(), 10);
  EXPECT_EQ(table.hashfull(), 2);
  EXPECT_EQ(table.readSlot(table.slotCount() - 1024).generation, 2);

  table.clear();
  EXPECT_FALSE(table.probe(makeKey(1, 0), 0, e));
  EXPECT_EQ(table.generation(), 1);
}

TEST(TranspositionTableFill, BookSlotsRoundTrip) {
  TranspositionTable table;
  ASSERT_TRUE(table.allocate(1000));
  const SlotContents entry{makeKey(0xABCDEF01, 0x23456789), Move(0x1020304), 17, 0, 0, table.generation()};
  table.writeSlot(0, entry);
  table.setBookCount(1);
  SlotContents back = table.readSlot(0);
  EXPECT_EQ(back.key, entry.key);
  EXPECT_EQ(back.move, entry.move);
  EXPECT_EQ(back.score, 17);
  EXPECT_EQ(back.generation, 1);
  EXPECT_EQ(table.bookCount(), 1u);
  // Out of range: nothing written, an empty slot read.
  table.writeSlot(table.slotCount(), entry);
  EXPECT_EQ(table.readSlot(table.slotCount()).key, 0u);
}

// Two threads store and probe the same small set of keys without locks. A
// torn entry may pair one key with another key's move, but that must stay
// rare, and nothing may crash (and ThreadSanitizer must stay quiet).
TEST(TranspositionTableConcurrency, TwoThreadsShareTheTable) {
  TranspositionTable table;
  ASSERT_TRUE(table.allocate(1000));
  constexpr int KEYS = 64;
  auto keyOf = [](int i) { return makeKey(0x9E3779B9u * std::uint32_t(i + 1), std::uint32_t(i) * 1024u + 7u); };
  auto moveOf = [](std::uint64_t key) { return Move(std::uint32_t(key >> 32) | 1u); };
  std::atomic<long> hits{0}, matches{0};

  auto body = [&](int seed) {
    std::uint32_t x = std::uint32_t(seed) * 2654435761u + 1;
    for (int n = 0; n < 100000; ++n) {
      x = x * 1664525u + 1013904223u;
      std::uint64_t key = keyOf(int(x >> 26) % KEYS);
      if (x & 0x100) {
        table.store(key, moveOf(key), int(x & 0xFF), makeTableFlags(int(x >> 9) % 20, BOUND_EXACT), 0, 0);
      } else {
        TableEntry e;
        if (table.probe(key, 0, e)) {
          hits.fetch_add(1, std::memory_order_relaxed);
          if (e.move == moveOf(key)) matches.fetch_add(1, std::memory_order_relaxed);
        }
      }
      if (n % 5000 == 0 && seed == 1) table.bestMoveChanged();
    }
  };
  std::thread a(body, 1), b(body, 2);
  a.join();
  b.join();
  EXPECT_GT(hits.load(), 1000);
  EXPECT_GE(matches.load() * 100, hits.load() * 99);
  EXPECT_LE(table.hashfull(), 1000);
}

}  // namespace
}  // namespace korvane
