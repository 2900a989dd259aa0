#include "pgn/pgn_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "board/notation.h"
#include "pgn_test_util.h"

namespace korvane {
namespace {

using testutil::Reports;
using testutil::TempFile;
using T = PgnToken;
using Tokens = std::vector<std::pair<PgnToken, std::string>>;

// Token kinds and texts of a file, the end included.
Tokens tokensOf(const std::string& content) {
  TempFile file(content);
  PgnReader reader(file.path(), Reports().writer());
  Tokens tokens;
  do tokens.emplace_back(reader.nextToken(), reader.tokenText());
  while (tokens.back().first != T::EndOfFile && tokens.size() < 100);
  return tokens;
}

// The final position of a game, as four FEN fields.
std::string finalFen(const std::vector<Move>& moves, const std::string& fen) {
  Position pos;
  if (!fen.empty()) setFen(pos, fen.c_str());
  for (Move m : moves) {
    MoveUndo undo;
    saveState(undo, pos);
    EXPECT_TRUE(makeMove(pos, m, undo));
  }
  return positionToFen(pos);
}

// Reads one game; answers the verdict and the reports, the file named "F".
std::pair<bool, std::vector<std::string>> readOne(const std::string& content) {
  TempFile file(content);
  Reports reports;
  PgnReader reader(file.path(), reports.writer());
  PgnTags tags;
  std::vector<Move> moves;
  const bool ok = reader.readGame(tags, moves);
  const std::string& path = file.path();
  for (std::string& line : reports.lines) {
    const std::size_t at = line.find(path);
    if (at != std::string::npos) line = line.substr(0, at) + "F" + line.substr(at + path.size());
  }
  return {ok, reports.lines};
}

std::string reportAt(int line, int column, const std::string& message) {
  return "info string PGN-Parser: file F line " + std::to_string(line) + " char " + std::to_string(column) + ": " +
         message;
}

TEST(PgnTokenizer, KindsTextsAndSkipping) {
  EXPECT_EQ(tokensOf("1.e4 e5 2.Nf3"), (Tokens{{T::Integer, "1"}, {T::Period, "."}, {T::Symbol, "e4"},
                                               {T::Symbol, "e5"}, {T::Integer, "2"}, {T::Period, "."},
                                               {T::Symbol, "Nf3"}, {T::EndOfFile, ""}}));
  EXPECT_EQ(tokensOf("1...Nf6"), (Tokens{{T::Integer, "1"}, {T::Period, "."}, {T::Period, "."}, {T::Period, "."},
                                         {T::Symbol, "Nf6"}, {T::EndOfFile, ""}}));
  EXPECT_EQ(tokensOf("[Event \"a \\\"b\\\" \\\\c\"] ( ) * $14 e8=Q+ 1/2-1/2 <x e4!? Nf6??"),
            (Tokens{{T::OpenBracket, "["}, {T::Symbol, "Event"}, {T::String, "a \"b\" \\c"}, {T::CloseBracket, "]"},
                    {T::OpenParen, "("}, {T::CloseParen, ")"}, {T::Asterisk, "*"}, {T::Nag, "14"},
                    {T::Symbol, "e8=Q+"}, {T::Symbol, "1/2-1/2"}, {T::Symbol, "<"}, {T::Symbol, "x"},
                    {T::Symbol, "e4"}, {T::Nag, "!?"}, {T::Symbol, "Nf6"}, {T::Nag, "??"}, {T::EndOfFile, ""}}));
  // "%" escapes a line only from its first column; ";" runs to the line end;
  // braces hold anything but "}".
  EXPECT_EQ(tokensOf("%skip (\n; also ( skipped\r\n{ ( [ \" \n } e4 %\n%x\n;"),
            (Tokens{{T::Symbol, "e4"}, {T::Symbol, "%"}, {T::EndOfFile, ""}}));
  // A byte-order mark is skipped and takes no column: "%" is still first.
  EXPECT_EQ(tokensOf("\xEF\xBB\xBF%skip (\ne4"), (Tokens{{T::Symbol, "e4"}, {T::EndOfFile, ""}}));

  // The place is the look-ahead character's: a line feed starts the next
  // line in column 0.
  TempFile file("ab\r\n  cd\n\n{x\n}ef");
  PgnReader reader(file.path(), Reports().writer());
  std::vector<std::pair<int, int>> places;
  while (reader.nextToken() != T::EndOfFile) places.emplace_back(reader.line(), reader.column());
  EXPECT_EQ(places, (std::vector<std::pair<int, int>>{{1, 3}, {3, 0}, {5, 4}}));
}

TEST(PgnReader, ReadsTheSampleGames) {
  Reports reports;
  PgnReader reader(testutil::dataPath("games.pgn"), reports.writer());
  PgnTags tags;
  std::vector<Move> moves;
  // Tags, comments of both kinds, escape lines, nested variations with
  // comments, glyphs, "..." numbers, English and German letters, castling.
  ASSERT_TRUE(reader.readGame(tags, moves));
  EXPECT_EQ(tags.size(), 9u);
  EXPECT_EQ(tags["White"], "Weiss, Anna");
  EXPECT_EQ(tags["Event"], "Spanish, closed");
  EXPECT_EQ(finalFen(moves, ""), "r1bq1rk1/2p1bppp/p1np1n2/1p2p3/4P3/1BP2N1P/PP1P1PP1/RNBQR1K1 b - -");
  // From a FEN, with promotions written "a8D" and "b1=N".
  ASSERT_TRUE(reader.readGame(tags, moves));
  ASSERT_EQ(moves.size(), 6u);
  EXPECT_EQ(moves[0].promotion(), QUEEN);
  EXPECT_EQ(moves[1].promotion(), KNIGHT);
  EXPECT_EQ(finalFen(moves, tags["FEN"]), "1Q6/8/6k1/8/8/8/3n1K2/8 w - -");
  std::string fen;
  int result = -1;
  ASSERT_TRUE(reader.readGameFiltered(moves, fen, result, -1));
  EXPECT_EQ(result, RESULT_NONE);
  EXPECT_EQ(finalFen(moves, fen), "rnb1k2r/ppp2pp1/5q1p/3p4/1b1P4/2N5/PPQ1PPPP/R3KBNR w KQkq -");
  EXPECT_FALSE(reader.readGame(tags, moves));
  EXPECT_TRUE(reader.atEnd());

  // Carriage returns before the line feeds; en passant and a check mark.
  PgnReader crlf(testutil::dataPath("crlf.pgn"), reports.writer());
  ASSERT_TRUE(crlf.readGameFiltered(moves, fen, result, -1));
  EXPECT_EQ(result, RESULT_DRAW);
  EXPECT_EQ(finalFen(moves, fen), "2kr1bnr/pppqpppp/2n5/3p1b2/3P1B2/2N5/PPPQPPPP/2KR1BNR w - -");
  ASSERT_TRUE(crlf.readGameFiltered(moves, fen, result, -1));
  EXPECT_EQ(result, RESULT_WHITE_WINS);
  EXPECT_EQ(finalFen(moves, fen), "rnbq1Qnr/ppp1p2p/3k1p2/3p4/8/8/PPPP1PPP/RNB1KBNR b KQ -");
  EXPECT_FALSE(crlf.readGameFiltered(moves, fen, result, -1));
  EXPECT_TRUE(reader.ok() && crlf.ok());
  EXPECT_TRUE(reports.lines.empty());

  // Only the first game is rated (2310 and 2250).
  for (auto [minimum, expected] : {std::pair{-1, 3}, std::pair{2250, 1}, std::pair{2251, 0}}) {
    PgnReader rated(testutil::dataPath("games.pgn"), reports.writer());
    int games = 0;
    while (rated.readGameFiltered(moves, fen, result, minimum)) ++games;
    EXPECT_EQ(games, expected) << minimum;
  }
}

TEST(PgnReader, ReportsEveryErrorWithItsPlace) {
  // Built by appending: GCC 12 warns wrongly about "text" + std::string.
  std::string longSymbol = "1. e4 ", longTagName = "[", longQuote = "illegal move ";
  longSymbol.append(300, 'a').append(" *");
  longTagName.append(300, 'W').append(" \"x\"]");
  longQuote.append(80, 'a').append("...");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"1. e4 \"hello\" e5", reportAt(1, 14, "unexpected string hello")},
      {"[White \"a\"]\n1. e4 (1. d4 (1. c4) d5", reportAt(2, 24, "unexpected end of file")},
      {"1. e4 ) e5", reportAt(1, 8, "unexpected ')'")},
      {"[\"White\" \"x\"]", reportAt(1, 9, "symbol expected")},
      {"[White x]", reportAt(1, 9, "String erwartet")},
      {"[White \"x\" \"y\"]", reportAt(1, 15, "']' expected")},
      {"1. e4 ] e5", reportAt(1, 8, "unexpected ']'")},
      {"[Result \"1-0\"]\n1. e4 *\n", reportAt(3, 0, "game termination marker different from result")},
      {"[Result \"1-0\"]\n1. e4 0-1", reportAt(2, 10, "Game Termination Marker different from Result")},
      // Without a Result tag only "*" ends a game.
      {"[White \"a\"]\n1. e4 1-0 ", reportAt(2, 10, "Game Termination Marker different from Result")},
      {"1. e4 Ke2 Kf7", reportAt(1, 10, "illegal move Ke2")},
      {"1. e4 % e5", reportAt(1, 8, "illegal move %")},
      {"[Black \"b\"]\n[Result \"*\"]\n1. e4 *", reportAt(3, 8, "'White' missing (in game above current line)")},
      {"[White \"a\"]\n[Result \"*\"]\n*\n", reportAt(4, 0, "'Black' missing (in game above current line)")},
      {"[White \"a\"]\n[Black \"b\"]\n1. e4 e5 *", reportAt(3, 11, "'Result' missing (in game above current line)")},
      {"[FEN \"8/8/8/8 w\"]\n1. e4 *", reportAt(1, 17, "illegal FEN 8/8/8/8 w")},
      // An unterminated string runs to the end of the file.
      {"[White \"abc\n", reportAt(2, 1, "']' expected")},
      // Truncated inside a move.
      {"[White \"a\"]\n1. e4 e5 2. N", reportAt(2, 14, "illegal move N")},
      // A game without termination marker runs into the next one's tags: its
      // FEN must not set up a board under the moves read so far.
      {"[White \"a\"]\n1. d4 d5\n[SetUp \"1\"]\n[FEN \"4k3/8/8/8/8/8/8/4K2R w K - 0 1\"]\n1. Rh8+ *",
       reportAt(4, 38, "'FEN' after moves (game termination marker missing?)")},
      // Quoted input is cut at 80 characters; bytes that are not UTF-8 and
      // control characters are escaped. Overlong tokens are errors.
      {longSymbol, reportAt(1, 307, longQuote)},
      {"1. e4 \xFF\xFE e5", reportAt(1, 8, "illegal move \\xFF")},
      {"1. e4 \"M\xC3\xBCller\xC3\x01\" e5", reportAt(1, 18, "unexpected string M\xC3\xBCller\\xC3\\x01")},
      {longTagName, reportAt(1, 302, "symbol expected")},
  };
  for (const auto& [content, expected] : cases) {
    const auto [ok, reports] = readOne(content);
    EXPECT_FALSE(ok) << content;
    EXPECT_EQ(reports, std::vector<std::string>{expected}) << content;
  }
  // Cut off between moves, inside a comment, or empty: no game, no report.
  for (const std::string content : {"[White \"a\"]\n1. e4 e5 2.", "1. e4 {never closed\n", "1. e4 ; c", ""})
    EXPECT_EQ(readOne(content), std::make_pair(false, std::vector<std::string>{})) << content;

  Reports reports;
  PgnReader missing("/nonexistent/dir/games.pgn", reports.writer());
  EXPECT_FALSE(missing.isOpen() || missing.ok());
  PgnTags tags;
  std::vector<Move> moves;
  EXPECT_FALSE(missing.readGame(tags, moves));
  EXPECT_EQ(reports.lines, std::vector<std::string>{"info string PGN-Parser: file /nonexistent/dir/games.pgn "
                                                    "line 1 char 1: Cannot open file"});
  // A directory is no file to read.
  PgnReader directory(KORVANE_DATA_DIR, reports.writer());
  EXPECT_FALSE(directory.isOpen());
  EXPECT_EQ(reports.lines.back(), "info string PGN-Parser: file " KORVANE_DATA_DIR " line 1 char 1: Cannot open file");
}

TEST(PgnReader, SurvivesDamagedFiles) {
  // Random damage to the sample: characters that matter to the reader put
  // in, swapped or cut out. Each game reads, or reports once and ends.
  const std::string sample = testutil::readFile(testutil::dataPath("games.pgn"));
  ASSERT_FALSE(sample.empty());
  const std::string specials = "[]{}()\"\\;%$.*!?\r\n 0123-/=+#OKQRBNSLTDxe8";
  std::mt19937 rng(11);
  for (int round = 0; round < 300; ++round) {
    std::string text = sample;
    for (int k = 1 + int(rng() % 6); k > 0; --k) {
      const std::size_t at = rng() % text.size();
      const char c = specials[rng() % specials.size()];
      const unsigned kind = rng() % 3;
      if (kind == 0) text[at] = c;
      if (kind == 1) text.insert(text.begin() + std::ptrdiff_t(at), c);
      if (kind == 2) text.erase(at, 1 + rng() % 20);
    }
    TempFile file(text);
    Reports reports;
    PgnReader reader(file.path(), reports.writer());
    PgnTags tags;
    std::vector<Move> moves;
    int calls = 0;
    for (; !reader.atEnd() && calls < 1000; ++calls) {
      const std::size_t before = reports.lines.size();
      const bool ok = reader.readGame(tags, moves);
      EXPECT_LE(reports.lines.size(), before + (ok ? 0u : 1u));
    }
    EXPECT_LT(calls, 1000);
  }
}

}  // namespace
}  // namespace korvane
