// Loading the opening book into the table and probing it.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "board/notation.h"
#include "book/opening_book.h"
#include "search/transposition_table.h"
#include "../protocol/engine_process.h"

namespace korvane {
namespace {

std::string writeBook(const std::string& name, const std::string& text) {
  const std::string path = ::testing::TempDir() + name;
  std::ofstream(path) << text;
  return path;
}

Move coordinate(Position& pos, const char* text) {
  Move m;
  EXPECT_TRUE(parseMove(pos, text, true, m)) << text;
  return m;
}

TEST(OpeningBook, LoadsSortedEntriesAndChoosesByWeight) {
  TranspositionTable table;
  table.allocate(1 << 20);
  // 1.e4 (weight 3) e5, 1.d4 (weight 1), 1.Nf3 (weight 0); a transposition
  // 1.Nf3 ... 2.e4 is a line of its own.
  const std::string path = writeBook("book_ok.opn", "e2e4 3 e7e5 5 * * d2d4 1 * g1f3 0 d7d5 2 * * *\n");
  Position start;
  ASSERT_TRUE(loadBook(path, start, table));
  EXPECT_EQ(table.bookCount(), 5u);
  for (std::uint32_t i = 1; i < table.bookCount(); ++i) {
    const std::uint64_t a = table.readSlot(i - 1).key, b = table.readSlot(i).key;
    EXPECT_TRUE((a >> 32) < (b >> 32) || ((a >> 32) == (b >> 32) && std::uint32_t(a) <= std::uint32_t(b)));
  }
  const Move e4 = coordinate(start, "e2e4"), d4 = coordinate(start, "d2d4");
  int seenE4 = 0, seenD4 = 0;
  for (std::uint32_t r = 0; r < 4000; ++r) {
    const Move m = probeBook(table, start.key, r * 2654435761u);
    seenE4 += m == e4;
    seenD4 += m == d4;
    ASSERT_TRUE(m == e4 || m == d4) << "a move of weight 0 is never chosen";
  }
  EXPECT_NEAR(double(seenE4) / 4000, 0.75, 0.03);
  EXPECT_NEAR(double(seenD4) / 4000, 0.25, 0.03);
  // A position outside the book.
  EXPECT_TRUE(probeBook(table, start.key ^ 1, 7).isNone());
}

TEST(OpeningBook, EveryBrokenBookLeavesTheSingleEmptyEntry) {
  TranspositionTable table;
  table.allocate(1 << 20);
  Position start;
  const char* broken[] = {
      "",                            // end of file before "*"
      "e2e4 3 e7e5 5 *",             // the top level is never closed
      "e2e5 3 * *",                  // not a legal move
      "e2e4 * *",                    // missing weight
      "e2e4 3x * *",                 // weight with trailing garbage
      "e2e4 1 startpos 518 * *",     // startpos after a move
      "e2e4 99999999999999999 * *",  // weight out of range
  };
  for (const char* text : broken) {
    ASSERT_FALSE(loadBook(writeBook("book_bad.opn", text), start, table)) << text;
    EXPECT_EQ(table.bookCount(), 1u) << text;
    EXPECT_TRUE(probeBook(table, start.key, 5).isNone()) << text;
  }
  // A token longer than any move or weight is an error, not read to its end
  // (a device of endless zeros would keep the reader for ever) and not cut
  // into a shorter one (this weight would have read as 0).
  const std::string longWeight = "e2e4 " + std::string(100, '0') + "1 * *";
  EXPECT_FALSE(loadBook(writeBook("book_long.opn", longWeight), start, table));
  EXPECT_FALSE(loadBook("/dev/zero", start, table));
  // Neither a missing file nor a directory opens.
  EXPECT_FALSE(loadBook(::testing::TempDir() + "no_such_book.opn", start, table));
  EXPECT_FALSE(loadBook(::testing::TempDir(), start, table));
  EXPECT_EQ(table.bookCount(), 1u);
  // A byte-order mark in front is no part of the book.
  ASSERT_TRUE(loadBook(writeBook("book_bom.opn", "\xEF\xBB\xBF" "e2e4 1 * *\n"), start, table));
  EXPECT_EQ(table.bookCount(), 1u);
  EXPECT_EQ(probeBook(table, start.key, 0), coordinate(start, "e2e4"));

  // More lines than the table has slots.
  TranspositionTable tiny;
  tiny.allocate(0);  // the smallest table: 5000 slots
  std::string big;
  for (int i = 0; i < 2600; ++i) big += "g1f3 1 g8f6 1 f3g1 1 f6g8 1 * * * * ";
  big += "*";
  EXPECT_FALSE(loadBook(writeBook("book_big.opn", big), start, tiny));
  EXPECT_EQ(tiny.bookCount(), 1u);
}

TEST(OpeningBook, Chess960LinesAndDeepLines) {
  TranspositionTable table;
  table.allocate(1 << 20);
  Position start;
  ASSERT_TRUE(loadBook(writeBook("book_960.opn", "startpos 0 e2e4 1 * *"), start, table));
  Position array0;
  ASSERT_TRUE(setChess960(array0, 0));
  EXPECT_FALSE(probeBook(table, array0.key, 0).isNone());
  EXPECT_TRUE(probeBook(table, start.key, 0).isNone());

  // A long line of knight moves back and forth does not exhaust the stack.
  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += i % 4 == 0 ? "g1f3 1 " : i % 4 == 1 ? "g8f6 1 " : i % 4 == 2 ? "f3g1 1 " : "f6g8 1 ";
  for (int i = 0; i < 5001; ++i) deep += "* ";
  EXPECT_TRUE(loadBook(writeBook("book_deep.opn", deep), start, table));
  EXPECT_EQ(table.bookCount(), 5000u);
}

TEST(OpeningBook, BookMoveIsPlayedWithoutSearch) {
  const std::string path = writeBook("book_uci.opn", "e2e4 1 * *\n");
  using korvane::testing::runEngine;
  auto t = runEngine("uci\nsetoption name BookFile value " + path +
                     "\nsetoption name blocking value true\nucinewgame\nposition startpos\ngo depth 10\n"
                     "position startpos moves e2e4 e7e5\ngo depth 2\nquit\n");
  std::vector<std::string> replies;
  for (const std::string& l : t.out)
    if (l.rfind("bestmove", 0) == 0 || l.rfind("info depth", 0) == 0) replies.push_back(l);
  ASSERT_GE(replies.size(), 2u);
  EXPECT_EQ(replies[0], "bestmove e2e4") << "the book answers before any iteration";
  EXPECT_EQ(replies.back().rfind("bestmove", 0), 0u);
  EXPECT_GT(replies.size(), 2u) << "out of book the engine searches";
}

}  // namespace
}  // namespace korvane
