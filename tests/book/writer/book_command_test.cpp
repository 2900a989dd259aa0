#include "book/writer/book_command.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "../../pgn/pgn_test_util.h"

namespace korvane {
namespace {

using Action = BookCommandArguments::Action;
using testutil::Reports;
using testutil::TempFile;

TEST(BookCommand, ReadsItsKeywords) {
  BookCommandArguments a = parseBookArguments("add games.pgn", false);
  EXPECT_EQ(a.action, Action::Add);
  EXPECT_EQ(a.fileName, "games.pgn");
  EXPECT_EQ(a.value, 1000u);
  EXPECT_EQ(a.minimumElo, -1);
  EXPECT_FALSE(a.all);
  a = parseBookArguments("  add games.pgn value 500 ELO 2200 all", true);
  EXPECT_EQ(a.action, Action::Add);
  EXPECT_EQ(a.fileName, "games.pgn");
  EXPECT_EQ(a.value, 500u);
  EXPECT_EQ(a.minimumElo, 2200);
  EXPECT_TRUE(a.all);
  // "all" as a word of its own, also before the line end.
  EXPECT_TRUE(parseBookArguments("add x.pgn all value 5", false).all);
  EXPECT_TRUE(parseBookArguments("add x.pgn all\r\n", false).all);
  EXPECT_FALSE(parseBookArguments("add all.pgn", false).all);
  EXPECT_FALSE(parseBookArguments("add x.pgn allx", false).all);
  // Numbers out of range saturate; a keyword without number keeps the default.
  EXPECT_EQ(parseBookArguments("add x value 99999999999", false).value, 0xFFFFFFFFu);
  EXPECT_EQ(parseBookArguments("add x value ELO 5", false).value, 1000u);
  EXPECT_EQ(parseBookArguments("add x ELO -99999999999", false).minimumElo, INT_MIN);

  a = parseBookArguments("write book.opn", true);
  EXPECT_EQ(a.action, Action::Write);
  EXPECT_EQ(a.fileName, "book.opn");
  EXPECT_EQ(a.threshold, 3000);
  EXPECT_DOUBLE_EQ(a.width, 0.25);
  a = parseBookArguments("writeEPD  my positions.epd  threshold 100 width 50", true);
  EXPECT_EQ(a.action, Action::WriteEpd);
  EXPECT_EQ(a.fileName, "my positions.epd");
  EXPECT_EQ(a.threshold, 100);
  EXPECT_DOUBLE_EQ(a.width, 0.5);
  a = parseBookArguments("write960 b960.opn width 10 threshold 7\r\n", true);
  EXPECT_EQ(a.action, Action::Write960);
  EXPECT_EQ(a.fileName, "b960.opn");
  EXPECT_EQ(a.threshold, 7);
  EXPECT_DOUBLE_EQ(a.width, 0.1);
  EXPECT_EQ(parseBookArguments(("write " + std::string(3000, 'n')).c_str(), true).fileName.size(), 1023u);

  // "delete" and "write" need a tree; "delete" is looked for first.
  EXPECT_EQ(parseBookArguments("write book.opn", false).action, Action::None);
  EXPECT_EQ(parseBookArguments("delete", false).action, Action::None);
  EXPECT_EQ(parseBookArguments("delete", true).action, Action::Delete);
  EXPECT_EQ(parseBookArguments("add delete.pgn", false).action, Action::Add);
  EXPECT_EQ(parseBookArguments("add delete.pgn", true).action, Action::Delete);
  EXPECT_EQ(parseBookArguments("list", true).action, Action::None);
}

TEST(BookCommand, AddsWritesAndForgets) {
  const std::string tags = "[White \"a\"]\n[Black \"b\"]\n";
  TempFile pgn(tags + "[Result \"1-0\"]\n1. e4 e5 1-0\n" + tags + "[Result \"1/2-1/2\"]\n1. e4 c5 2. Nf3 d6 1/2-1/2\n" +
               tags + "[Result \"0-1\"]\n1. d4 d5 0-1\n" + tags + "[Result \"*\"]\n1. c4 *\n");
  BookBuilderState state;
  Reports reports;
  const LineWriter print = reports.writer();

  runBookCommand(("add " + pgn.path()).c_str(), state, print);
  ASSERT_NE(state.tree, nullptr);
  EXPECT_EQ(state.tree->gamesAdded, 0u);  // too short without "all"
  runBookCommand(("add " + pgn.path() + " all").c_str(), state, print);
  EXPECT_EQ(state.tree->gamesAdded, 3u);

  // A file that cannot be created, or whose writes fail (a full disk), keeps
  // the tree for another try, which writes the whole book.
  runBookCommand("write /nonexistent/dir/book.opn threshold 1000", state, print);
  for (const char* full : {"write /dev/full threshold 1000", "write960 /dev/full threshold 1000",
                           "writeEPD /dev/full threshold 1000"}) {
    runBookCommand(full, state, print);
    ASSERT_NE(state.tree, nullptr) << full;
  }
  TempFile book("", ".opn", false);
  runBookCommand(("write " + book.path() + " threshold 1000 width 25").c_str(), state, print);
  EXPECT_EQ(state.tree, nullptr);
  EXPECT_EQ(book.read(), "e2e4 99\n c7c5 99\n  g1f3 99\n   d7d6 99\n   *\n  *\n *\n*\n* -1\n");
  const std::string full = "info string error writing the output file /dev/full";
  EXPECT_EQ(reports.lines, (std::vector<std::string>{
                               "info string error opening the output file /nonexistent/dir/book.opn", full, full,
                               full, "white moves:         2", "black moves:         2", "moves:               4"}));

  // Without a tree a write does nothing; delete drops a tree unwritten.
  TempFile again("", ".opn", false);
  runBookCommand(("write " + again.path()).c_str(), state, print);
  EXPECT_FALSE(again.exists());
  runBookCommand(("add " + pgn.path() + " all").c_str(), state, print);
  runBookCommand("delete", state, print);
  EXPECT_EQ(state.tree, nullptr);
  runBookCommand(("writeEPD " + again.path()).c_str(), state, print);
  EXPECT_FALSE(again.exists());

  // A missing PGN file is reported and leaves an empty tree.
  runBookCommand("add /nonexistent/dir/games.pgn", state, print);
  ASSERT_NE(state.tree, nullptr);
  EXPECT_EQ(reports.lines.back(),
            "info string PGN-Parser: file /nonexistent/dir/games.pgn line 1 char 1: Cannot open file");
  // So is a directory.
  runBookCommand("add " KORVANE_DATA_DIR, state, print);
  EXPECT_EQ(reports.lines.back(), "info string PGN-Parser: file " KORVANE_DATA_DIR " line 1 char 1: Cannot open file");
}

}  // namespace
}  // namespace korvane
