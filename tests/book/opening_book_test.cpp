// Loading the opening book into the table and probing it; a book built from
// PGN by the engine's own "book" command, loaded back by "BookFile" (or found
// under its default name) and played.
#include "book/opening_book.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "../pgn/pgn_test_util.h"
#include "../temp_working_directory.h"
#include "search/transposition_table.h"

namespace korvane {
namespace {

namespace fs = std::filesystem;
using testutil::answers;
using testutil::searches;
using Lines = std::vector<std::string>;

struct BookTable {
  testing::TempWorkingDirectory dir;
  TranspositionTable table;
  Position start;
  explicit BookTable(std::size_t bytes = 1 << 20) { table.allocate(bytes); }
  bool load(const std::string& text) {
    testutil::writeFile("book.opn", text);
    return loadBook("book.opn", start, table);
  }
  // The move chosen after the moves with the random number, "none" for none.
  std::string probe(const std::string& moves, std::uint32_t random) {
    Position pos;
    for (Move m : testutil::movesOf(moves)) testutil::play(pos, m);
    const Move m = probeBook(table, pos.key, random);
    char text[MOVE_TEXT_SIZE];
    return m.isNone() ? "none" : moveToText(pos, m, STYLE_COORDINATE, text);
  }
};

TEST(OpeningBook, LoadsLinesChoosesByWeightAndRefusesBrokenBooks) {
  BookTable book;
  // After a byte-order mark: 1.Nf3 (weight 0) d5, 1.e4 (weight 3) e5, 1.d4
  // (weight 1); a transposition 1.Nf3 ... 2.e4 is a line of its own. At the
  // start the random number modulo the weights' sum 4 picks: 0..2 e4, 3 d4.
  // 1.Na3 a5 2.Nb5 and 1.Na3 a6 2.Nb5 a5 differ in the side to move alone,
  // and their keys in the low 32 bits alone: the table keeps them in order.
  ASSERT_TRUE(book.load("\xEF\xBB\xBFg1f3 0 d7d5 2 * * e2e4 3 e7e5 5 * * d2d4 1 * "
                        "b1a3 0 a7a5 1 a3b5 1 c7c6 1 * * * a7a6 1 a3b5 1 a6a5 1 e2e4 1 * * * * * *\n"));
  EXPECT_EQ(book.table.bookCount(), 13u);
  const std::tuple<const char*, unsigned, const char*> probes[] = {
      {"", 0, "e2e4"},    {"", 2, "e2e4"},    {"", 3, "d2d4"},     {"", 4, "e2e4"},        {"", 7, "d2d4"},
      {"e4", 9, "e7e5"}, {"Nf3", 9, "d7d5"}, {"c4", 0, "none"}, {"Nf3 d5", 0, "none"},
      {"Na3 a5 Nb5", 0, "c7c6"}, {"Na3 a6 Nb5 a5", 0, "e2e4"}};
  for (const auto& [moves, random, move] : probes)
    EXPECT_EQ(book.probe(moves, random), move) << moves << " " << random;
  // A line for another Chess960 start.
  ASSERT_TRUE(book.load("startpos 0 e2e4 1 * *"));
  Position array0;
  ASSERT_TRUE(setChess960(array0, 0));
  EXPECT_FALSE(probeBook(book.table, array0.key, 0).isNone());
  EXPECT_EQ(book.probe("", 0), "none");
  // A line of knight moves back and forth as long as the smallest table
  // (5000 slots) does not exhaust the stack; one move more overflows it.
  BookTable tiny(0);
  std::string deep, closing = "*";
  for (int i = 0; i < 1250; ++i) deep += "g1f3 1 g8f6 1 f3g1 1 f6g8 1 ";
  for (int i = 0; i < 5000; ++i) closing += " *";
  EXPECT_TRUE(tiny.load(deep + closing));
  EXPECT_EQ(tiny.table.bookCount(), 5000u);
  EXPECT_FALSE(tiny.load(deep + "e2e4 1 " + closing + " *"));
  EXPECT_EQ(tiny.table.bookCount(), 1u);

  // Every broken book leaves the single empty entry.
  const std::string broken[] = {
      "",                            // end of file before "*"
      "e2e4 3 e7e5 5 *",             // the top level is never closed
      "e2e5 3 * *",                  // not a legal move
      "e2e4 * *",                    // missing weight
      "e2e4 3x * *",                 // weight with trailing garbage
      "e2e4 1 startpos 518 * *",     // startpos after a move
      "e2e4 99999999999999999 * *",  // weight out of range
      // A token longer than any move or weight is an error, not read to its
      // end and not cut into a shorter one (this weight would read as 0).
      "e2e4 " + std::string(100, '0') + "1 * *",
  };
  // Besides, an endless device, a missing file and a directory.
  std::vector<std::string> names = {"/dev/zero", "missing.opn", "/"};
  for (const std::string& text : broken)
    testutil::writeFile(names.emplace_back("bad" + std::to_string(names.size())), text);
  for (const std::string& name : names) {
    EXPECT_FALSE(loadBook(name, book.start, book.table)) << name;
    EXPECT_EQ(book.table.bookCount(), 1u) << name;
    EXPECT_EQ(book.probe("", 5), "none") << name;
  }
}

TEST(BookEndToEnd, BuiltAfterFailedWritesLoadedAndPlayedAlsoUnderTheDefaultName) {
  testing::TempWorkingDirectory dir;
  const std::string tags = "[White \"a\"]\n[Black \"b\"]\n";
  testutil::writeFile("games.pgn", tags + "[Result \"1-0\"]\n1. e4 e5 1-0\n" + tags +
                                       "[Result \"1/2-1/2\"]\n1. e4 c5 2. Nf3 d6 1/2-1/2\n" + tags +
                                       "[Result \"0-1\"]\n1. d4 d5 0-1\n" + tags + "[Result \"*\"]\n1. c4 *\n");
  // A file that cannot be created, or whose writes fail (a full disk), keeps
  // the tree for another try, which writes the whole book. Without a tree a
  // write does nothing; "delete" drops a tree unwritten. At the start e4 has
  // (2500, 1540) points, d4 (1000, 2080); after e4 c5 (1500, 1540) beats e5
  // (2000, 1000). A width of 10000 % lets e5 (weight 83) join c5, d4 (78)
  // stays out; at the default threshold only e4 has enough (4040 > 4000).
  const testing::Transcript build = testing::runEngine(
      "uci\nbook add games.pgn all\nbook write /nonexistent/dir/book.opn threshold 1000\n"
      "book write /dev/full threshold 1000\nbook write960 /dev/full threshold 1000\n"
      "book writeEPD /dev/full threshold 1000\nbook write book.opn threshold 1000 width 25\nbook write second.opn\n"
      "book add games.pgn all\nbook delete\nbook writeEPD second.opn\n"
      "book add games.pgn all\nbook write wide.opn threshold 1000 width 10000\n"
      "book add games.pgn all\nbook write default.opn\n"
      "book add games.pgn all\nbook writeEPD book.epd threshold 1000\n");
  const std::string full = "info string error writing the output file /dev/full";
  EXPECT_EQ(Lines(std::find(build.out.begin(), build.out.end(), "uciok"), build.out.end()),
            (Lines{"uciok", "info string error opening the output file /nonexistent/dir/book.opn", full, full, full,
                   "white moves:         2", "black moves:         2", "moves:               4",
                   "white moves:         2", "black moves:         3", "moves:               5",
                   "white moves:         1", "black moves:         0", "moves:               1"}));
  EXPECT_EQ(testutil::readFile("book.opn"), "e2e4 99\n c7c5 99\n  g1f3 99\n   d7d6 99\n   *\n  *\n *\n*\n* -1\n");
  EXPECT_EQ(testutil::readFile("wide.opn"),
            "e2e4 99\n c7c5 99\n  g1f3 99\n   d7d6 99\n   *\n  *\n *\n e7e5 83\n *\n*\n* -1\n");
  EXPECT_EQ(testutil::readFile("default.opn"), "e2e4 99\n*\n* -1\n");
  // One line per position with a book move, the way there in German.
  EXPECT_EQ(testutil::readFile("book.epd"),
            "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1;; QZ-Testposition 1\n"
            "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1;e4 ; QZ-Testposition 2\n"
            "rnbqkbnr/pp1ppppp/8/2p5/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - 0 1;e4 c5 ; QZ-Testposition 3\n"
            "rnbqkbnr/pp1ppppp/8/2p5/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq - 0 1;e4 c5 Sf3 ; QZ-Testposition 4\n");
  EXPECT_FALSE(fs::exists("second.opn"));

  // Played from the book without a search while the game is in it.
  EXPECT_EQ(answers(testing::runEngine("uci\nsetoption name BookFile value book.opn\nucinewgame\n" +
                              searches({"startpos", "startpos moves e2e4", "startpos moves e2e4 c7c5",
                                        "startpos moves e2e4 e7e5"}))),
            (Lines{"e2e4", "c7c5", "g1f3", "search"}));
  // A broken book is reported once, in debug mode, and the engine searches.
  testutil::writeFile("broken.opn", "e2e4 1 *");
  EXPECT_EQ(answers(testing::runEngine("uci\ndebug on\nsetoption name BookFile value broken.opn\nucinewgame\n"
                                       "ucinewgame\n" + searches({"startpos"}))),
            (Lines{"info string Opening book read error", "search"}));

  // A book under the default name.
  fs::create_directory("bin");
  testutil::writeFile("Korvane.opn", "e2e4 1 e7e5 1 g1f3 1 * * * *\n");
  const std::string input =
      "uci\n" + searches({"", "startpos moves e2e4 e7e5", "startpos moves e2e4 e7e5 g1f3 g7g6"});
  // In the working directory, loaded at start-up: a "go" before any
  // "position" plays from it.
  EXPECT_EQ(answers(testing::runEngine(input)), (Lines{"e2e4", "g1f3", "search"}));
  // Beside the program, started from a directory without a book.
  fs::copy_file(KORVANE_BINARY, "bin/korvane");
  fs::rename("Korvane.opn", "bin/Korvane.opn");
  EXPECT_EQ(answers(testing::runProgram(dir.file("bin/korvane"), input)), (Lines{"e2e4", "g1f3", "search"}));
  // Neither: the engine searches from the first move on.
  fs::remove("bin/Korvane.opn");
  EXPECT_EQ(answers(testing::runEngine(input)), (Lines{"search", "search", "search"}));
}

}  // namespace
}  // namespace korvane
