#include "book/writer/book_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "book_text.h"

namespace korvane {
namespace {

using testutil::BookLine;
using testutil::movesOf;
using testutil::Reports;
using testutil::TempFile;
using Points = std::pair<std::uint32_t, std::uint32_t>;

// A fixed random table, so that signatures do not depend on the clock.
BookTree testTree() {
  std::mt19937 rng(99);
  std::vector<std::uint32_t> words(std::size_t(BOOK_RANDOM_PLIES) * 128);
  for (auto& w : words) w = rng();
  return BookTree(words);
}

// The points of the entry for move `ply` of the game; (0, 0) if none.
Points pointsAt(BookTree& tree, const std::vector<Move>& moves, std::size_t ply) {
  Position pos;
  for (std::size_t i = 0; i < ply; ++i) testutil::play(pos, moves[i]);
  for (std::uint32_t i = tree.firstEntry(pos.key); i != BOOK_NO_ENTRY; i = tree.entries[i].next)
    if (tree.entries[i].move == moves[ply]) return {tree.entries[i].white, tree.entries[i].black};
  return {0, 0};
}

std::vector<Move> gameOfLength(int plies, unsigned seed) {
  std::mt19937 rng(seed);
  for (;;) {
    Position pos;
    std::vector<Move> moves = testutil::randomGame(rng, pos, plies);
    if (int(moves.size()) == plies) return moves;
  }
}

TEST(BookBuilder, CreditsLeanTowardsADrawLateInLongGames) {
  const std::vector<Move> game = gameOfLength(100, 1);
  // f = 1 - (100 - 36 - i) / 328: 0.805 for the first move, 0.915 for ply 36;
  // Black's points are raised by 8 % first.
  const std::vector<std::pair<int, std::vector<Points>>> cases = {
      {+1, {{1805, 1195}, {1915, 1085}}}, {-1, {{1211, 1869}, {1092, 1988}}}, {0, {{1508, 1532}, {1503, 1537}}}};
  for (const auto& [outcome, expected] : cases) {
    BookTree tree = testTree();
    ASSERT_TRUE(addGame(tree, game, nullptr, 1000, false, outcome));
    EXPECT_EQ(pointsAt(tree, game, 0), expected[0]) << outcome;
    EXPECT_EQ(pointsAt(tree, game, 36), expected[1]) << outcome;
    EXPECT_EQ(pointsAt(tree, game, 37), Points(0, 0));  // 37 plies are credited
  }
  // In a game of 40 plies f reaches 1 at ply 4.
  const std::vector<Move> shorter = gameOfLength(40, 2);
  BookTree tree = testTree();
  ASSERT_TRUE(addGame(tree, shorter, nullptr, 1000, false, +1));
  EXPECT_EQ(pointsAt(tree, shorter, 0), Points(1988, 1012));
  EXPECT_EQ(pointsAt(tree, shorter, 4), Points(2000, 1000));
}

TEST(BookBuilder, SameGameIsCreditedOnlyWithWhatIsNew) {
  const std::vector<Move> game = gameOfLength(100, 1);
  BookTree tree = testTree();
  ASSERT_TRUE(addGame(tree, game, nullptr, 1000, false, +1));
  EXPECT_FALSE(addGame(tree, game, nullptr, 1000, false, +1));
  EXPECT_FALSE(addGame(tree, game, nullptr, 500, false, +1));
  EXPECT_EQ(pointsAt(tree, game, 0), Points(1805, 1195));
  // With twice the value the second thousand counts, once.
  ASSERT_TRUE(addGame(tree, game, nullptr, 2000, false, +1));
  EXPECT_FALSE(addGame(tree, game, nullptr, 2000, false, +1));
  EXPECT_EQ(pointsAt(tree, game, 0), Points(2610, 1390));
  // The other result: only Black's 2160 points are new.
  ASSERT_TRUE(addGame(tree, game, nullptr, 2000, false, -1));
  EXPECT_EQ(pointsAt(tree, game, 0), Points(2610 + 421, 1390 + 1739));
  EXPECT_EQ(tree.games.size(), 1u);
  // Games that differ only after move 99 are the same game.
  const std::vector<Move> longer = gameOfLength(120, 3);
  ASSERT_TRUE(addGame(tree, longer, nullptr, 1000, false, 0));
  EXPECT_FALSE(addGame(tree, std::vector<Move>(longer.begin(), longer.begin() + 110), nullptr, 1000, false, 0));
}

TEST(BookBuilder, ShortGamesBadGamesAndLargeValues) {
  const std::vector<Move> game = gameOfLength(30, 4);
  BookTree tree = testTree();
  EXPECT_FALSE(addGame(tree, game, nullptr, 1000, false, +1));
  EXPECT_EQ(tree.nodes.size(), 0u);
  // With "all": every ply, full points, no memory of games.
  ASSERT_TRUE(addGame(tree, game, nullptr, 1000, true, +1));
  ASSERT_TRUE(addGame(tree, game, nullptr, 1000, true, -1));
  EXPECT_EQ(tree.entries.size(), 30u);
  EXPECT_EQ(pointsAt(tree, game, 0), Points(2000, 2080));
  EXPECT_EQ(pointsAt(tree, game, 29), Points(2000, 2080));
  EXPECT_EQ(tree.games.size(), 0u);

  // Moves that do not fit the start, a broken FEN, no moves: nothing added.
  const std::string fen = "8/3k4/8/8/8/8/8/K7 w - - 0 1";
  const std::vector<Move> kings = movesOf({"Kb2", "Ke6"}, fen);
  BookTree other = testTree();
  EXPECT_FALSE(addGame(other, kings, nullptr, 1000, true, +1));
  EXPECT_FALSE(addGame(other, kings, "8/8/8/8 w", 1000, true, +1));
  EXPECT_FALSE(addGame(other, {}, nullptr, 1000, true, +1));
  EXPECT_EQ(other.entries.size(), 0u);
  EXPECT_TRUE(addGame(other, kings, fen.c_str(), 1000, true, +1));
  EXPECT_EQ(other.entries.size(), 2u);

  // Points stop at the largest 32-bit value instead of wrapping round.
  const std::vector<Move> e4 = movesOf({"e4"});
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(addGame(other, e4, nullptr, 0xFFFFFFFFu, true, +1));
  EXPECT_EQ(pointsAt(other, e4, 0), Points(0xFFFFFFFFu, 1000));
}

// With "all" and value 1000: 1. e4 e5 (White won), 1. e4 c5 2. Nf3 d6
// (draw), 1. d4 d5 (Black won). At the start e4 has (2500, 1540), d4 (1000,
// 2080); after e4 the draw's c5 (1500, 1540) beats e5 (2000, 1000).
BookTree smallTree() {
  BookTree tree = testTree();
  EXPECT_TRUE(addGame(tree, movesOf({"e4", "e5"}), nullptr, 1000, true, +1));
  EXPECT_TRUE(addGame(tree, movesOf({"e4", "c5", "Nf3", "d6"}), nullptr, 1000, true, 0));
  EXPECT_TRUE(addGame(tree, movesOf({"d4", "d5"}), nullptr, 1000, true, -1));
  return tree;
}

TEST(BookBuilder, ValuesTheSmallTree) {
  BookTree tree = smallTree();
  Position pos;
  // ln((2500 + 1000 + 2500) / (1540 + 2080 + 1540)): the best move counts twice.
  EXPECT_NEAR(evaluateNode(tree, pos, 2000, std::log(1.25)), std::log(6000.0 / 5160.0), 1e-9);
  const BookEntry& first = tree.entries[tree.firstEntry(pos.key)];
  const BookEntry& second = tree.entries[first.next];
  EXPECT_EQ(first.move, movesOf({"e4"})[0]);
  EXPECT_NEAR(first.value, std::log(5000.0 / 4080.0), 1e-6);  // minus Black's value after e4
  EXPECT_EQ(first.weight, 99);
  EXPECT_NEAR(second.value, std::log(1000.0 / 2080.0), 1e-6);
  EXPECT_EQ(second.weight, 0);
}

std::vector<std::string> bookLines(const std::string& text) {
  std::vector<BookLine> lines;
  EXPECT_TRUE(testutil::readBookText(text, lines)) << text;
  std::vector<std::string> out;
  for (const BookLine& l : lines) out.push_back(l.path + " " + std::to_string(l.weight));
  return out;
}

TEST(BookBuilder, WritesTheSmallBook) {
  Reports reports;
  TempFile out("", ".opn");
  BookTree tree = smallTree();
  ASSERT_TRUE(writeBook(tree, out.path(), 1000, 0.25, reports.writer()));
  EXPECT_EQ(out.read(), "e2e4 99\n c7c5 99\n  g1f3 99\n   d7d6 99\n   *\n  *\n *\n*\n* -1\n");
  EXPECT_EQ(reports.lines, (std::vector<std::string>{"white moves:         2", "black moves:         2",
                                                     "moves:               4"}));

  // With a width of 10000 %, e5 (weight 83) joins c5; d4 (78) stays out.
  tree = smallTree();
  ASSERT_TRUE(writeBook(tree, out.path(), 1000, 100.0, reports.writer()));
  EXPECT_EQ(bookLines(out.read()), (std::vector<std::string>{"e2e4 99", "e2e4 c7c5 99", "e2e4 c7c5 g1f3 99",
                                                             "e2e4 c7c5 g1f3 d7d6 99", "e2e4 e7e5 83"}));
  // At the default threshold only e4, played twice, has enough (4040 > 4000).
  tree = smallTree();
  ASSERT_TRUE(writeBook(tree, out.path(), 3000, 0.25, reports.writer()));
  EXPECT_EQ(out.read(), "e2e4 99\n*\n* -1\n");

  // EPD: one line per position with a book move, the way there in German.
  tree = smallTree();
  reports.lines.clear();
  ASSERT_TRUE(writeEPD(tree, out.path(), 1000, 0.25, reports.writer()));
  EXPECT_EQ(out.read(),
            "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1;; QZ-Testposition 1\n"
            "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1;e4 ; QZ-Testposition 2\n"
            "rnbqkbnr/pp1ppppp/8/2p5/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - 0 1;e4 c5 ; QZ-Testposition 3\n"
            "rnbqkbnr/pp1ppppp/8/2p5/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq - 0 1;e4 c5 Sf3 ; QZ-Testposition 4\n");
  EXPECT_TRUE(reports.lines.empty());
}

TEST(BookBuilder, AddsPgnFiles) {
  BookTree tree = testTree();
  Reports reports;
  // Of the three sample games the unfinished one is skipped; the others are
  // shorter than 37 plies and need "all".
  ASSERT_TRUE(addPgnFile(tree, testutil::dataPath("games.pgn"), 1000, false, -1, reports.writer()));
  EXPECT_EQ(tree.gamesRead, 3u);
  EXPECT_EQ(tree.gamesAdded, 0u);
  ASSERT_TRUE(addPgnFile(tree, testutil::dataPath("games.pgn"), 1000, true, -1, reports.writer()));
  EXPECT_EQ(tree.gamesAdded, 2u);
  EXPECT_EQ(tree.entries.size(), 17u + 6u);
  // The Elo filter: only the first game is rated, 2310 and 2250.
  ASSERT_TRUE(addPgnFile(tree, testutil::dataPath("games.pgn"), 1000, true, 2251, reports.writer()));
  EXPECT_EQ(tree.gamesAdded, 2u);
  ASSERT_TRUE(addPgnFile(tree, testutil::dataPath("games.pgn"), 1000, true, 2250, reports.writer()));
  EXPECT_EQ(tree.gamesAdded, 3u);
  EXPECT_TRUE(reports.lines.empty());

  // A faulty game ends the file there.
  const std::string tags = "[White \"a\"]\n[Black \"b\"]\n[Result \"1-0\"]\n";
  TempFile broken(tags + "1. e4 e5 1-0\n" + tags + "1. e4 Ke2 1-0\n" + tags + "1. d4 d5 1-0\n");
  BookTree other = testTree();
  ASSERT_TRUE(addPgnFile(other, broken.path(), 1000, true, -1, reports.writer()));
  EXPECT_EQ(other.gamesAdded, 1u);
  EXPECT_EQ(reports.lines.size(), 1u);
  EXPECT_FALSE(addPgnFile(other, "/nonexistent/dir/x.pgn", 1000, true, -1, reports.writer()));
  EXPECT_EQ(reports.lines.size(), 2u);
}

}  // namespace
}  // namespace korvane
