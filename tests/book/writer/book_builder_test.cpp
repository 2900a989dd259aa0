#include "book/writer/book_builder.h"
#include "book/writer/book_command.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "../../pgn/pgn_test_util.h"

namespace korvane {
namespace {

using testutil::movesOf;
using Points = std::pair<std::uint32_t, std::uint32_t>;

// A game of the given length whose first 40 positions are all different:
// pawn moves first, then the knights go round.
std::vector<Move> longGame(int plies) {
  std::string text = "a3 a6 b3 b6 c3 c6 d3 d6 e3 e6 f3 f6 g3 g6 h3 h6 a4 a5 b4 b5 c4 c5 d4 d5 e4 e5 f4 f5 g4 g5 h4 h5";
  for (int n = 32; n < plies; n += 8) text += " Nd2 Nd7 Ne2 Ne7 Nb1 Nb8 Ng1 Ng8";
  std::vector<Move> moves = movesOf(text);
  EXPECT_GE(int(moves.size()), plies);
  moves.resize(std::size_t(plies));
  return moves;
}

// The points of the entry for move `ply` of the game; (0, 0) if none.
Points pointsAt(BookTree& tree, const std::vector<Move>& moves, std::size_t ply, const std::string& fen = "") {
  Position pos;
  if (!fen.empty()) setFen(pos, fen.c_str());
  for (std::size_t i = 0; i < ply; ++i) testutil::play(pos, moves[i]);
  for (std::uint32_t i = tree.firstEntry(pos.key); i != BOOK_NO_ENTRY; i = tree.entries[i].next)
    if (tree.entries[i].move == moves[ply]) return {tree.entries[i].white, tree.entries[i].black};
  return {0, 0};
}

TEST(BookBuilder, CreditsOfGames) {
  // Entries start with 1000 points a side; a game's points for Black are
  // raised by 8 %. Without "all", f = 1 - (plies - 36 - i) / 328 (at least
  // 0.55, at most 1) of a side's points go to it at ply i, the rest to the
  // other side: for 100 plies f is 0.805 at ply 0 and 0.915 at ply 36, the
  // last ply credited; for 40 plies f reaches 1 at ply 4.
  const struct {
    bool fresh, all, added;  // a new tree (else the tree of the row above), "all", the game added
    int plies, outcome;
    std::uint32_t value;
    std::size_t ply;
    Points points;
  } adds[] = {
      {true, false, true, 100, +1, 1000, 0, {1805, 1195}},  {true, false, true, 100, +1, 1000, 36, {1915, 1085}},
      {true, false, true, 100, +1, 1000, 37, {0, 0}},       {true, false, true, 100, -1, 1000, 0, {1211, 1869}},
      {true, false, true, 100, -1, 1000, 36, {1092, 1988}}, {true, false, true, 100, 0, 1000, 0, {1508, 1532}},
      {true, false, true, 100, 0, 1000, 36, {1503, 1537}},  {true, false, true, 40, +1, 1000, 0, {1988, 1012}},
      {true, false, true, 40, +1, 1000, 4, {2000, 1000}},
      // The same game again (the same first 99 moves) is credited only with
      // what its points exceed the earlier ones by: with value 2000 the
      // second thousand, with the other result Black's 2160.
      {false, false, false, 40, +1, 1000, 0, {1988, 1012}}, {true, false, true, 100, +1, 1000, 0, {1805, 1195}},
      {false, false, false, 120, +1, 500, 0, {1805, 1195}}, {false, false, false, 120, +1, 1000, 0, {1805, 1195}},
      {false, false, true, 100, +1, 2000, 0, {2610, 1390}}, {false, false, false, 100, +1, 2000, 0, {2610, 1390}},
      {false, false, true, 100, -1, 2000, 0, {3031, 3129}},
      // Short games need "all": every ply, full points, no memory of games.
      {true, false, false, 36, +1, 1000, 0, {0, 0}},        {false, true, true, 36, +1, 1000, 35, {2000, 1000}},
      {false, true, true, 36, +1, 1000, 0, {3000, 1000}},   {false, true, true, 36, -1, 1000, 35, {3000, 2080}},
      // Points stop at the largest 32-bit value instead of wrapping round.
      {true, true, true, 1, +1, 0xFFFFFFFFu, 0, {0xFFFFFFFFu, 1000}},
      {false, true, true, 1, +1, 0xFFFFFFFFu, 0, {0xFFFFFFFFu, 1000}},
  };
  BookTree tree;
  for (const auto& a : adds) {
    if (a.fresh) tree = BookTree();
    const std::vector<Move> game = longGame(a.plies);
    EXPECT_EQ(addGame(tree, game, nullptr, a.value, a.all, a.outcome), a.added) << a.plies << " " << a.value;
    EXPECT_EQ(pointsAt(tree, game, a.ply), a.points) << a.plies << " " << a.value << " " << a.ply;
  }

  // Moves that do not fit the start, a broken FEN, no moves: nothing added.
  const std::string fen = "8/3k4/8/8/8/8/8/K7 w - - 0 1";
  const std::vector<Move> kings = movesOf("Kb2 Ke6", fen);
  BookTree other;
  EXPECT_FALSE(addGame(other, kings, nullptr, 1000, true, +1));
  EXPECT_FALSE(addGame(other, kings, "8/8/8/8 w", 1000, true, +1));
  EXPECT_FALSE(addGame(other, {}, nullptr, 1000, true, +1));
  EXPECT_EQ(other.entries.size(), 0u);
  EXPECT_TRUE(addGame(other, kings, fen.c_str(), 1000, true, +1));
  EXPECT_EQ(pointsAt(other, kings, 1, fen), Points(2000, 1000));
}

TEST(BookBuilder, AddsPgnFiles) {
  // Of the three sample games the unfinished one is skipped; the others are
  // shorter than 37 plies and need "all". Only the first is rated (2310 and
  // 2250).
  // All, minimum Elo, games read and added so far.
  const std::tuple<bool, int, unsigned, unsigned> adds[] = {
      {false, -1, 3, 0}, {true, -1, 6, 2}, {true, 2251, 6, 2}, {true, 2250, 7, 3}};
  BookTree tree;
  std::vector<std::string> reports;
  for (const auto& [all, minimumElo, read, added] : adds) {
    ASSERT_TRUE(addPgnFile(tree, KORVANE_DATA_DIR "/pgn/games.pgn", 1000, all, minimumElo, testutil::into(reports)));
    EXPECT_EQ(tree.gamesRead, read);
    EXPECT_EQ(tree.gamesAdded, added);
  }
  EXPECT_TRUE(reports.empty());
  EXPECT_FALSE(addPgnFile(tree, "/nonexistent/games.pgn", 1000, true, -1, testutil::into(reports)));
}

// The arguments as one text: action, file, value, minimum Elo, all,
// threshold, width.
std::string described(const BookCommandArguments& a) {
  static const char* const NAMES[] = {"None", "Delete", "Add", "Write", "Write960", "WriteEpd"};
  char text[1200];
  std::snprintf(text, sizeof text, "%s %s %u %d %d %d %g", NAMES[int(a.action)], a.fileName.c_str(), a.value,
                a.minimumElo, int(a.all), a.threshold, a.width);
  return text;
}

TEST(BookCommand, ReadsItsKeywords) {
  // Text, whether a tree exists, the arguments.
  const std::tuple<const char*, bool, const char*> cases[] = {
      {"add games.pgn", false, "Add games.pgn 1000 -1 0 3000 0.25"},
      {"  add games.pgn value 500 ELO 2200 all", true, "Add games.pgn 500 2200 1 3000 0.25"},
      // "all" as a word of its own, also before the line end.
      {"add x.pgn all\r\n", false, "Add x.pgn 1000 -1 1 3000 0.25"},
      {"add all.pgn allx", false, "Add all.pgn 1000 -1 0 3000 0.25"},
      // Numbers out of range saturate; a keyword without number keeps the default.
      {"add x value 99999999999 ELO -99999999999", false, "Add x 4294967295 -2147483648 0 3000 0.25"},
      {"add x value ELO 5", false, "Add x 1000 5 0 3000 0.25"},
      {"writeEPD  my positions.epd  threshold 100 width 50", true, "WriteEpd my positions.epd 1000 -1 0 100 0.5"},
      {"write960 b960.opn width 10\r\n", true, "Write960 b960.opn 1000 -1 0 3000 0.1"},
      // "delete" and "write" need a tree; "delete" is looked for first.
      {"write book.opn", false, "None  1000 -1 0 3000 0.25"},
      {"add delete.pgn", false, "Add delete.pgn 1000 -1 0 3000 0.25"},
      {"add delete.pgn", true, "Delete  1000 -1 0 3000 0.25"},
  };
  for (const auto& [text, tree, expected] : cases)
    EXPECT_EQ(described(parseBookArguments(text, tree)), expected) << text;
  EXPECT_EQ(parseBookArguments(("write " + std::string(3000, 'n')).c_str(), true).fileName.size(), 1023u);
}

}  // namespace
}  // namespace korvane
