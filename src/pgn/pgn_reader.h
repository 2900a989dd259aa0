// Reading chess games in Portable Game Notation, one game at a time.
//
// The reader hands on each game as its tag pairs and the moves of its main
// line; every move is checked by playing it on a board set up from the
// standard start position or from the game's "FEN" tag. Side variations,
// comments of both kinds, "%" escape lines and numeric annotation glyphs are
// skipped. A problem is reported once, as an "info string PGN-Parser: ..."
// line naming the file, line and character, and ends the current game.
//
// Positions in the reports: `line` counts from 1; `column` is the column of
// the look-ahead character, 1 for the first character of a line and 0 while
// the look-ahead is the line feed that ended the previous line (the line feed
// already counts as the start of the next line).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "board/position.h"
#include "board/types.h"

namespace korvane {

// Receives each report line (without line feed).
using LineWriter = std::function<void(const std::string&)>;

// Writes the line and a line feed to standard output and flushes.
void writeToStandardOutput(const std::string& line);

// Longest piece of file content quoted in a report line, in characters, and
// longest file name.
constexpr std::size_t REPORT_QUOTE_LENGTH = 80;
constexpr std::size_t REPORT_NAME_LENGTH = 1023;

// Text from a file or a command made fit for a report line: at most
// `maxCharacters` characters, then "..." when there was more; bytes that are
// not valid UTF-8 and control characters are written as "\xNN", so that a
// report never carries raw bytes into the protocol stream.
std::string reportable(std::string_view text, std::size_t maxCharacters = REPORT_QUOTE_LENGTH);

enum class PgnToken : int {
  String = 0,
  Integer = 1,
  Period = 2,
  Asterisk = 3,
  OpenParen = 4,
  CloseParen = 5,
  OpenBracket = 6,
  CloseBracket = 7,
  Nag = 8,
  Symbol = 9,
  EndOfFile = 10,
};

// Result codes of a game, taken from its "Result" tag.
constexpr int RESULT_WHITE_WINS = 0;
constexpr int RESULT_BLACK_WINS = 1;
constexpr int RESULT_DRAW = 2;
constexpr int RESULT_NONE = 3;

using PgnTags = std::map<std::string, std::string>;

class PgnReader {
 public:
  // Opens the file; reports "Cannot open file" when that fails.
  explicit PgnReader(const std::string& fileName, LineWriter writer = writeToStandardOutput);
  ~PgnReader();
  PgnReader(const PgnReader&) = delete;
  PgnReader& operator=(const PgnReader&) = delete;

  bool isOpen() const { return file_ != nullptr; }
  // False once an error has been reported.
  bool ok() const { return ok_; }
  // True when the whole file has been read (or it could not be opened).
  bool atEnd() const { return current_ == END; }

  // The next token; its text is in tokenText() (the string without its
  // quotes, the digits of a NAG).
  PgnToken nextToken();
  const std::string& tokenText() const { return text_; }

  // Parses the next game. False at the end of the file (without a report)
  // and after a reported error.
  bool readGame(PgnTags& tags, std::vector<Move>& moves);
  // Reads games until one has "WhiteElo" and "BlackElo" both at least
  // `minimumElo` and delivers its moves, its "FEN" tag (empty if none) and
  // its result code. False at the end of the file or on an error.
  bool readGameFiltered(std::vector<Move>& moves, std::string& fen, int& result, int minimumElo);

  int line() const { return line_; }
  int column() const { return column_; }

 private:
  static constexpr int END = -1;

  int fetch();
  void advance();
  void skipToLineEnd();
  bool skipSeparators();
  // Appends the current character to the token while it is shorter than
  // `limit` (else marks it overlong) and moves on.
  void append(std::size_t limit);
  void readSymbolRun();
  void report(const char* message, const std::string& detail = std::string());
  bool finishGame(const PgnTags& tags);

  std::FILE* file_ = nullptr;
  std::string name_;
  LineWriter writer_;
  std::vector<char> buffer_ = std::vector<char>(1 << 16);
  std::size_t bufferPos_ = 0;
  std::size_t bufferEnd_ = 0;
  int current_ = END;
  int line_ = 1;
  int column_ = 1;
  std::string text_;
  bool overlong_ = false;  // the token was longer than its kind allows
  bool ok_ = true;
  Position board_;
};

// The result code of a "Result" tag value.
int resultCode(const std::string& result);

}  // namespace korvane
