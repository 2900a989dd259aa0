#include <gtest/gtest.h>

#include "search/transposition_table.h"

namespace korvane {
namespace {

TEST(TranspositionTable, Sizing) {
  TranspositionTable table;
  ASSERT_TRUE(table.allocate(TranspositionTable::DEFAULT_BYTES));
  EXPECT_EQ(table.slotCount(), 131072u);
  EXPECT_EQ(table.primaryCount(), 16384u);
  EXPECT_EQ(table.hashfull(), 0);
  EXPECT_EQ(table.bookCount(), 0u);
  EXPECT_EQ(table.generation(), 1);

  // Small requests still get 5000 slots.
  ASSERT_TRUE(table.allocate(1000));
  EXPECT_EQ(table.slotCount(), 5000u);
  EXPECT_EQ(table.primaryCount(), 1024u);  // 5000 / 5 + 256 = 1256
}

}  // namespace
}  // namespace korvane
