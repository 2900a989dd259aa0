#include "pgn/pgn_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "../temp_working_directory.h"
#include "pgn_test_util.h"

namespace korvane {
namespace {

using testutil::answers;
using testutil::searches;

const std::string TAGS = "[White \"a\"]\n[Black \"b\"]\n[Result \"*\"]\n";

// Reads one game from the file (written first when it is "F"): its moves as
// coordinates and "ok", or its report from "line" on, or "" for a failure
// without report.
std::string readOne(const std::string& content, const std::string& name = "F") {
  if (name == "F") testutil::writeFile(name, content);
  std::vector<std::string> reports;
  PgnReader reader(name, testutil::into(reports));
  PgnTags tags;
  std::vector<Move> moves;
  std::string out;
  if (reader.readGame(tags, moves)) {
    Position pos;
    if (tags.count("FEN")) setFen(pos, tags["FEN"].c_str());
    char text[MOVE_TEXT_SIZE];
    for (Move m : moves) {
      out += moveToText(pos, m, STYLE_COORDINATE, text) + std::string(" ");
      testutil::play(pos, m);
    }
    out += "ok";
  }
  const std::string prefix = "info string PGN-Parser: file " + name + " ";
  for (const std::string& line : reports) out += line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : line;
  return out;
}

TEST(PgnReader, OneGameMovesOrItsReport) {
  testing::TempWorkingDirectory dir;
  const std::vector<std::pair<std::string, std::string>> cases = {
      // Numbers, glyphs, comments of both kinds, nested variations.
      {TAGS + "1.e4 {a ( [ \" \n } e5 $14 2.Nf3!? ; ( ]\n2...Nc6?? (2...d6 (2...f5) 3.d4) *", "e2e4 e7e5 g1f3 b8c6 ok"},
      // A byte-order mark takes no column: the "%" escape line is still one.
      {"\xEF\xBB\xBF%[x (\n" + TAGS + "1. e4 *", "e2e4 ok"},
      // German letters, promotions "a8D" and "b1=N", castling with zeros and
      // letters, en passant, carriage returns.
      {TAGS + "[FEN \"8/P6k/8/8/8/8/1p4K1/8 w - - 0 50\"]\n50. a8D b1=N 51. Qb8 Sd2 52. Kf2 *",
       "a7a8q b2b1n a8b8 b1d2 g2f2 ok"},
      {TAGS + "1. d4 d5 2. Sc3 Sc6 3. Lf4 Lf5 4. Dd2 Dd7 5. 0-0-0 O-O-O 6. Te1 Te8 *",
       "d2d4 d7d5 b1c3 b8c6 c1f4 c8f5 d1d2 d8d7 e1c1 e8c8 d1e1 d8e8 ok"},
      {"[White \"a\"]\r\n[Black \"b\"]\r\n[Result \"1-0\"]\r\n1. e4 d5 2. e5 f5 3. exf6 1-0\r\n",
       "e2e4 d7d5 e4e5 f7f5 e5f6 ok"},
      {"1. e4 \"a \\\"b\\\" \\\\c\" e5", "line 1 char 20: unexpected string a \"b\" \\c"},
      {"[White \"a\"]\n1. e4 (1. d4 (1. c4) d5", "line 2 char 24: unexpected end of file"},
      {"1. e4 )\r\ne5", "line 1 char 8: unexpected ')'"},
      {"[\"White\" \"x\"]", "line 1 char 9: symbol expected"},
      {"[White x]", "line 1 char 9: String erwartet"},
      {"[White \"x\" \"y\"]", "line 1 char 15: ']' expected"},
      {"1. e4 ] e5", "line 1 char 8: unexpected ']'"},
      {"[Result \"1-0\"]\n1. e4 *\n", "line 3 char 0: game termination marker different from result"},
      {"[Result \"1-0\"]\n1. e4 0-1", "line 2 char 10: Game Termination Marker different from Result"},
      // Without a Result tag only "*" ends a game.
      {"[White \"a\"]\n1. e4 1-0 ", "line 2 char 10: Game Termination Marker different from Result"},
      {"1. e4 Ke2 Kf7", "line 1 char 10: illegal move Ke2"},
      {"1. e4 % e5", "line 1 char 8: illegal move %"},
      {"[Black \"b\"]\n[Result \"*\"]\n1. e4 *", "line 3 char 8: 'White' missing (in game above current line)"},
      {"[White \"a\"]\n[Result \"*\"]\n*\n", "line 4 char 0: 'Black' missing (in game above current line)"},
      {"[White \"a\"]\n[Black \"b\"]\n1. e4 e5 *", "line 3 char 11: 'Result' missing (in game above current line)"},
      {"[FEN \"8/8/8/8 w\"]\n1. e4 *", "line 1 char 17: illegal FEN 8/8/8/8 w"},
      // An unterminated string runs to the end of the file.
      {"[White \"abc\n", "line 2 char 1: ']' expected"},
      {"[White \"a\"]\n1. e4 e5 2. N", "line 2 char 14: illegal move N"},
      // A game without termination marker runs into the next one's tags: its
      // FEN must not set up a board under the moves read so far.
      {"[White \"a\"]\n1. d4 d5\n[SetUp \"1\"]\n[FEN \"4k3/8/8/8/8/8/8/4K2R w K - 0 1\"]\n1. Rh8+ *",
       "line 4 char 38: 'FEN' after moves (game termination marker missing?)"},
      // Quoted input is cut at 80 characters; bytes that are not UTF-8 and
      // control characters are escaped. Overlong tokens are errors.
      // (Built by appending: GCC 12 warns wrongly about "text" + std::string.)
      {std::string("1. e4 ").append(300, 'a').append(" *"),
       std::string("line 1 char 307: illegal move ").append(80, 'a').append("...")},
      {"1. e4 \xFF\xFE e5", "line 1 char 8: illegal move \\xFF"},
      {"1. e4 \"M\xC3\xBCller\xC3\x01\" e5", "line 1 char 18: unexpected string M\xC3\xBCller\\xC3\\x01"},
      {std::string("[").append(300, 'W').append(" \"x\"]"), "line 1 char 302: symbol expected"},
      // Cut off between moves, inside a comment, or empty: no game, no report.
      {"[White \"a\"]\n1. e4 e5 2.", ""},
      {"1. e4 {never closed\n", ""},
      {"1. e4 ; c", ""},
      {"", ""},
  };
  for (const auto& [content, expected] : cases) EXPECT_EQ(readOne(content), expected) << content;

  // Neither a missing file nor a directory opens.
  for (const std::string name : {"/nonexistent/dir/games.pgn", KORVANE_DATA_DIR})
    EXPECT_EQ(readOne("", name), "line 1 char 1: Cannot open file");
}

// A PGN file named on the command line is replayed while the game follows
// it; once the game leaves it, the engine searches. Each position is
// answered with "go depth 1".
TEST(ReplayCommandLine, RecordedMovesWhileTheGameFollowsThem) {
  testing::TempWorkingDirectory dir;
  // The second game starts where the first one ends.
  testutil::writeFile("chained.pgn", TAGS + "1. e4 e5 *\n" + TAGS +
                                         "[FEN \"rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - 0 2\"]\n"
                                         "2. Nf3 Nc6 3. Bb5 *\n");
  testutil::writeFile("black.pgn", TAGS + "[FEN \"rnbqkbnr/pppp1ppp/8/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq - 1 2\"]\n"
                                          "2... d6 3. d4 *\n");
  testutil::writeFile("empty.pgn", TAGS + "*\n");
  testutil::writeFile("broken.pgn", "[Event \"broken\"]\n\n1. e4 e5 2. Qxf7 *\n");
  const std::string e4e5 = "startpos moves e2e4 e7e5";
  // File, positions, answers.
  const std::tuple<const char*, std::vector<std::string>, std::vector<std::string>> cases[] = {
      // As White through both games, then off the record.
      {"chained.pgn",
       {"startpos", e4e5, e4e5 + " g1f3 b8c6", e4e5 + " g1f3 b8c6 f1b5 a7a6"},
       {"e2e4", "g1f3", "f1b5", "search"}},
      // As Black: the first game's first position is not the game's, so the
      // second side is taken; the next game goes on for Black.
      {"chained.pgn", {"startpos moves e2e4", e4e5 + " g1f3"}, {"e7e5", "b8c6"}},
      // A position off the record ends the replay.
      {"chained.pgn", {"startpos moves e2e4", e4e5 + " d2d4", e4e5 + " g1f3"}, {"e7e5", "search", "search"}},
      {"black.pgn", {e4e5 + " g1f3"}, {"d7d6"}},
      {"empty.pgn", {"startpos"}, {"search"}},
      {"missing.pgn", {"startpos"}, {"search"}},
      {"broken.pgn",
       {"startpos"},
       {"info string PGN-Parser: file broken.pgn line 3 char 17: illegal move Qxf7", "search"}},
  };
  const std::string noBook = "setoption name OwnBook value false\n";
  for (const auto& [file, positions, expected] : cases)
    EXPECT_EQ(answers(testing::runEngine("uci\n" + noBook + searches(positions), {file})), expected) << file;
  // The report goes through the protocol's channel: nothing under NoOutput
  // or in "ucitest".
  for (const char* preamble : {"uci\nsetoption name NoOutput value true\n", "ucitest\n"})
    for (const std::string& l : answers(testing::runEngine(preamble + noBook + searches({"startpos"}), {"broken.pgn"})))
      EXPECT_EQ(l.find("PGN-Parser"), std::string::npos) << preamble;
}

}  // namespace
}  // namespace korvane
