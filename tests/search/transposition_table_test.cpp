#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

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

TEST(TranspositionTableSizing, SlotsAndRegions) {
  TranspositionTable table;
  ASSERT_TRUE(table.allocate(TranspositionTable::DEFAULT_BYTES));
  EXPECT_EQ(table.slotCount(), 131072u);
  EXPECT_EQ(table.primaryCount(), 16384u);
  EXPECT_EQ(table.hashfull(), 0);
  EXPECT_EQ(table.bookCount(), 0u);
  EXPECT_EQ(table.generation(), 1);

  // Small requests still get 5000 slots; 5000 / 5 + 256 = 1256 gives 1024.
  ASSERT_TRUE(table.allocate(1000));
  EXPECT_EQ(table.slotCount(), 5000u);
  EXPECT_EQ(table.primaryCount(), 1024u);

  // 64 MiB: 2796202 slots, 2796202 / 5 + 256 = 559496 gives 524288.
  ASSERT_TRUE(table.allocate(std::size_t(64) << 20));
  EXPECT_EQ(table.slotCount(), 2796202u);
  EXPECT_EQ(table.primaryCount(), 524288u);
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

TEST_F(TableTest, MateScoresAreRelativeToTheNode) {
  const std::uint64_t key = makeKey(7, 77);
  // Found at ply 3: the side to move is mated at ply 10, 7 plies below the node.
  table.store(key, Move(), -MATE + 10, makeTableFlags(5, BOUND_EXACT), 0, 3);
  EXPECT_EQ(table.readSlot(table.slotCount() - PRIMARY + 77).score, -MATE + 7);
  // Reached at ply 5 by another path: still 7 plies to the mate.
  EXPECT_EQ(probe(key, true, 5).score, -MATE + 12);
  EXPECT_EQ(probe(key, true, 0).score, -MATE + 7);

  // Mating at ply 9, found at ply 4; read at ply 1.
  table.store(key, Move(), MATE - 9, makeTableFlags(5, BOUND_EXACT), 0, 4);
  EXPECT_EQ(probe(key, true, 1).score, MATE - 6);

  // Scores just inside the mate window are adjusted, those outside are not.
  table.store(key, Move(), 900000, makeTableFlags(5, BOUND_EXACT), 0, 2);
  EXPECT_EQ(table.readSlot(table.slotCount() - PRIMARY + 77).score, 900002);
  table.store(key, Move(), 899999, makeTableFlags(5, BOUND_EXACT), 0, 2);
  EXPECT_EQ(probe(key, true, 9).score, 899999);
  table.store(key, Move(), -899999, makeTableFlags(5, BOUND_EXACT), 0, 2);
  EXPECT_EQ(probe(key, true, 9).score, -899999);
}

TEST_F(TableTest, UsablePerBound) {
  TableEntry exact{Move(), 40, 0, std::int16_t(makeTableFlags(10, BOUND_EXACT))};
  EXPECT_TRUE(TranspositionTable::usable(exact, 100, 200, 10));
  EXPECT_TRUE(TranspositionTable::usable(exact, 100, 200, -5));
  EXPECT_FALSE(TranspositionTable::usable(exact, 100, 200, 11));

  TableEntry lower{Move(), 300, 0, std::int16_t(makeTableFlags(10, BOUND_LOWER, true))};
  EXPECT_TRUE(TranspositionTable::usable(lower, 0, 300, 10));
  EXPECT_FALSE(TranspositionTable::usable(lower, 0, 301, 10));
  EXPECT_FALSE(TranspositionTable::usable(lower, 0, 300, 11));

  TableEntry upper{Move(), -50, 0, std::int16_t(makeTableFlags(10, BOUND_UPPER))};
  EXPECT_TRUE(TranspositionTable::usable(upper, -50, 0, 10));
  EXPECT_FALSE(TranspositionTable::usable(upper, -51, 0, 10));

  // Quiescence depths are negative: such an entry never serves a full-width node.
  TableEntry quiet{Move(), 0, 0, std::int16_t(makeTableFlags(-2, BOUND_EXACT))};
  EXPECT_TRUE(TranspositionTable::usable(quiet, 0, 1, -2));
  EXPECT_FALSE(TranspositionTable::usable(quiet, 0, 1, 0));

  // Both bound bits set is no bound at all.
  TableEntry odd{Move(), 0, 0, std::int16_t(makeTableFlags(10, 6))};
  EXPECT_FALSE(TranspositionTable::usable(odd, -100, 100, 0));
}

// key1 and key2 share a primary slot; key1's overflow pair is slots 5 and 6.
class DemotionTest : public TableTest {
 protected:
  const std::uint64_t key1 = makeKey(0x1111, 5);
  const std::uint64_t key2 = makeKey(0x2222, 5 + PRIMARY);
  std::size_t primaryIndex() const { return table.slotCount() - PRIMARY + 5; }
};

TEST_F(DemotionTest, CurrentPrimaryEntryMovesToItsOverflowPair) {
  table.store(key1, Move(0x111), 10, makeTableFlags(10, BOUND_EXACT), 2, 0);
  EXPECT_EQ(table.readSlot(primaryIndex()).key, key1);
  table.store(key2, Move(0x222), 20, makeTableFlags(4, BOUND_UPPER), 0, 0);
  EXPECT_EQ(table.readSlot(primaryIndex()).key, key2);
  // Both slots of the pair were empty (equal generation, equal value): B takes it.
  SlotContents moved = table.readSlot(5);
  EXPECT_EQ(moved.key, key1);
  EXPECT_EQ(moved.move, Move(0x111));
  EXPECT_EQ(moved.priority, 1002);
  EXPECT_EQ(moved.generation, 1);
  EXPECT_EQ(probe(key1).move, Move(0x111));
  EXPECT_EQ(probe(key2).move, Move(0x222));
  EXPECT_EQ(table.used(), 2);  // the primary slot was already counted
  // key2's own overflow pair was not needed.
  EXPECT_EQ(table.readSlot((5 + PRIMARY) % OVERFLOW_MODULUS).key, 0u);
}

TEST_F(DemotionTest, VictimIsStaleSlotOrLessValuableOne) {
  // B current and deep, B+1 stale: B+1 receives the demoted entry.
  table.writeSlot(5, SlotContents{makeKey(9, 9), Move(9), 0, 0, std::int16_t(makeTableFlags(30, BOUND_EXACT)), 1});
  table.store(key1, Move(0x111), 10, makeTableFlags(10, BOUND_EXACT), 0, 0);
  table.store(key2, Move(0x222), 20, makeTableFlags(4, BOUND_UPPER), 0, 0);
  EXPECT_EQ(table.readSlot(5).key, makeKey(9, 9));
  EXPECT_EQ(table.readSlot(6).key, key1);

  // Pair of equal generation: the less valuable one is replaced (here B,
  // shallower than B+1).
  table.clear();
  table.writeSlot(5, SlotContents{makeKey(8, 8), Move(8), 0, 0, std::int16_t(makeTableFlags(1, BOUND_EXACT)), 0});
  table.writeSlot(6, SlotContents{makeKey(9, 9), Move(9), 0, 0, std::int16_t(makeTableFlags(2, BOUND_EXACT)), 0});
  table.store(key1, Move(0x111), 10, makeTableFlags(10, BOUND_EXACT), 0, 0);
  table.store(key2, Move(0x222), 20, makeTableFlags(4, BOUND_UPPER), 0, 0);
  EXPECT_EQ(table.readSlot(5).key, key1);
  EXPECT_EQ(table.readSlot(6).key, makeKey(9, 9));
}

TEST_F(DemotionTest, WeakerCurrentEntryIsDroppedWhenPairIsBetter) {
  const std::int16_t deep = std::int16_t(makeTableFlags(30, BOUND_EXACT));
  table.writeSlot(5, SlotContents{makeKey(8, 8), Move(8), 0, 0, deep, 1});
  table.writeSlot(6, SlotContents{makeKey(9, 9), Move(9), 0, 0, deep, 1});
  table.store(key1, Move(0x111), 10, makeTableFlags(10, BOUND_EXACT), 0, 0);
  table.store(key2, Move(0x222), 20, makeTableFlags(4, BOUND_UPPER), 0, 0);
  probe(key1, false);
  probe(key2);
  EXPECT_EQ(table.readSlot(5).key, makeKey(8, 8));
  EXPECT_EQ(table.readSlot(6).key, makeKey(9, 9));
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
