#include "pgn/pgn_reader.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <utility>

#include "board/notation.h"
#include "platform/files.h"

namespace korvane {

namespace {

bool isWhiteSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool isDigit(int c) { return c >= '0' && c <= '9'; }
bool isLetter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Characters that may continue a symbol: letters, digits and "_+#=:-/".
bool isSymbolCharacter(int c) {
  if (isLetter(c) || isDigit(c)) return true;
  switch (c) {
    case '_': case '+': case '#': case '=': case ':': case '-': case '/': return true;
    default: return false;
  }
}

// Traditional move suffix annotations ("!", "?", "!?", "??" ...).
bool isSuffixAnnotation(int c) { return c == '!' || c == '?'; }

// The leading number of a tag value, 0 when there is none; saturates.
int leadingNumber(const std::string& text) {
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str()) return 0;
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return int(v);
}

int tagNumber(const PgnTags& tags, const char* name) {
  auto it = tags.find(name);
  return it == tags.end() ? 0 : leadingNumber(it->second);
}

// Longest token kept. No move, tag name or number comes near the symbol
// limit; the string limit leaves room for long tag values while keeping a
// damaged file (an unclosed quote) from filling the memory.
constexpr std::size_t MAX_SYMBOL_LENGTH = 255;
constexpr std::size_t MAX_STRING_LENGTH = 65535;

// Length of the well-formed UTF-8 sequence starting at text[i], 0 when the
// byte starts none (stray continuation bytes, overlong forms, surrogates,
// code points above U+10FFFF, sequences cut off).
std::size_t utf8SequenceLength(std::string_view text, std::size_t i) {
  const unsigned c = static_cast<unsigned char>(text[i]);
  if (c < 0x80) return 1;
  std::size_t length = 0;
  unsigned low = 0x80, high = 0xBF;  // range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - i < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned b = static_cast<unsigned char>(text[i + k]);
    if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

}  // namespace

void writeToStandardOutput(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string reportable(std::string_view text, std::size_t maxCharacters) {
  std::string out;
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++characters) {
    if (characters == maxCharacters) {
      out += "...";
      break;
    }
    const std::size_t length = utf8SequenceLength(text, i);
    const unsigned c = static_cast<unsigned char>(text[i]);
    if (length == 0 || (length == 1 && (c < 0x20 || c == 0x7F))) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
      ++i;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

int resultCode(const std::string& result) {
  if (result == "1-0") return RESULT_WHITE_WINS;
  if (result == "0-1") return RESULT_BLACK_WINS;
  if (result == "1/2-1/2") return RESULT_DRAW;
  return RESULT_NONE;
}

PgnReader::PgnReader(const std::string& fileName, LineWriter writer)
    : name_(fileName), writer_(std::move(writer)) {
  file_ = platform::openForReading(fileName);
  if (!file_) {
    line_ = 1;
    column_ = 1;
    report("Cannot open file");
    return;
  }
  // Column 0 before the first character, so that reading it puts it in
  // column 1 (or, when it is a line feed, at the start of line 2).
  line_ = 1;
  column_ = 0;
  // A byte-order mark is no part of the text and takes no column.
  bufferEnd_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
  bufferPos_ = platform::byteOrderMarkLength(buffer_.data(), bufferEnd_);
  advance();
}

PgnReader::~PgnReader() {
  if (file_) std::fclose(file_);
}

int PgnReader::fetch() {
  if (bufferPos_ == bufferEnd_) {
    if (!file_) return END;
    bufferEnd_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    bufferPos_ = 0;
    if (bufferEnd_ == 0) return END;
  }
  return static_cast<unsigned char>(buffer_[bufferPos_++]);
}

void PgnReader::advance() {
  current_ = fetch();
  if (current_ == '\n') {
    ++line_;
    column_ = 0;
  } else {
    ++column_;
  }
}

void PgnReader::skipToLineEnd() {
  while (current_ != '\n' && current_ != END) advance();
}

bool PgnReader::skipSeparators() {
  for (;;) {
    if (isWhiteSpace(current_)) {
      advance();
    } else if (current_ == ';' || (current_ == '%' && column_ == 1)) {
      skipToLineEnd();
    } else if (current_ == '{') {
      while (current_ != '}' && current_ != END) advance();
      if (current_ == '}') advance();
    } else {
      return current_ != END;
    }
  }
}

void PgnReader::append(std::size_t limit) {
  if (text_.size() < limit)
    text_ += char(current_);
  else
    overlong_ = true;
  advance();
}

void PgnReader::readSymbolRun() {
  while (isSymbolCharacter(current_)) append(MAX_SYMBOL_LENGTH);
}

PgnToken PgnReader::nextToken() {
  text_.clear();
  overlong_ = false;
  if (!skipSeparators()) return PgnToken::EndOfFile;

  const int c = current_;
  switch (c) {
    case '"':
      advance();
      while (current_ != '"' && current_ != END) {
        if (current_ == '\\') {
          advance();
          if (current_ == END) break;
        }
        append(MAX_STRING_LENGTH);
      }
      if (current_ == '"') advance();
      return PgnToken::String;
    case '.': text_.assign(1, '.'); advance(); return PgnToken::Period;
    case '*': text_.assign(1, '*'); advance(); return PgnToken::Asterisk;
    case '(': text_.assign(1, '('); advance(); return PgnToken::OpenParen;
    case ')': text_.assign(1, ')'); advance(); return PgnToken::CloseParen;
    case '[': text_.assign(1, '['); advance(); return PgnToken::OpenBracket;
    case ']': text_.assign(1, ']'); advance(); return PgnToken::CloseBracket;
    case '$':
      advance();
      while (isDigit(current_)) append(MAX_SYMBOL_LENGTH);
      return PgnToken::Nag;
    default:
      break;
  }

  if (isSuffixAnnotation(c)) {
    // "!" and "?" are the import format's spellings of the glyphs $1..$6;
    // they are skipped like any other glyph.
    while (isSuffixAnnotation(current_)) append(MAX_SYMBOL_LENGTH);
    return PgnToken::Nag;
  }
  if (!isSymbolCharacter(c)) {
    text_ += char(c);
    advance();
    return PgnToken::Symbol;
  }
  readSymbolRun();
  for (char d : text_)
    if (!isDigit(d)) return PgnToken::Symbol;
  return PgnToken::Integer;
}

void PgnReader::report(const char* message, const std::string& detail) {
  ok_ = false;
  std::string out = "info string PGN-Parser: file " + reportable(name_, REPORT_NAME_LENGTH) + " line " +
                    std::to_string(line_) + " char " + std::to_string(column_) + ": " + message + reportable(detail);
  if (writer_) writer_(out);
}

bool PgnReader::finishGame(const PgnTags& tags) {
  for (const char* name : {"White", "Black", "Result"}) {
    if (tags.find(name) == tags.end()) {
      report((std::string("'") + name + "' missing (in game above current line)").c_str());
      return false;
    }
  }
  return true;
}

bool PgnReader::readGame(PgnTags& tags, std::vector<Move>& moves) {
  tags.clear();
  moves.clear();
  if (!file_) return false;
  std::string expected = "*";
  setStartPosition(board_);

  for (;;) {
    switch (nextToken()) {
      case PgnToken::EndOfFile:
        return false;
      case PgnToken::String:
        report("unexpected string ", text_);
        return false;
      case PgnToken::Integer:
      case PgnToken::Period:
      case PgnToken::Nag:
        break;
      case PgnToken::OpenParen: {
        // A side variation: skipped whole, nested ones included.
        int depth = 1;
        while (depth > 0) {
          const PgnToken t = nextToken();
          if (t == PgnToken::EndOfFile) {
            report("unexpected end of file");
            return false;
          }
          if (t == PgnToken::OpenParen) ++depth;
          if (t == PgnToken::CloseParen) --depth;
        }
        break;
      }
      case PgnToken::CloseParen:
        report("unexpected ')'");
        return false;
      case PgnToken::OpenBracket: {
        if (nextToken() != PgnToken::Symbol || overlong_) {
          report("symbol expected");
          return false;
        }
        const std::string name = text_;
        if (nextToken() != PgnToken::String || overlong_) {
          report("String erwartet");
          return false;
        }
        if (name == "FEN" && !moves.empty()) {
          // Tags after moves: the previous game lacks its termination
          // marker and this is the next game's header. Taking the FEN
          // here would set up a new board under the moves already read.
          report("'FEN' after moves (game termination marker missing?)");
          return false;
        }
        const std::string& value = tags[name] = text_;
        if (name == "Result") expected = value;
        if (name == "FEN" && !setFen(board_, value.c_str())) {
          // Moves could not be checked against a position that does not
          // exist; worse, they might happen to fit the start position.
          report("illegal FEN ", value);
          return false;
        }
        if (nextToken() != PgnToken::CloseBracket) {
          report("']' expected");
          return false;
        }
        break;
      }
      case PgnToken::CloseBracket:
        report("unexpected ']'");
        return false;
      case PgnToken::Asterisk:
        if (expected == "*") return finishGame(tags);
        report("game termination marker different from result");
        return false;
      case PgnToken::Symbol: {
        if (text_ == "1-0" || text_ == "0-1" || text_ == "1/2-1/2") {
          if (text_ == expected) return finishGame(tags);
          report("Game Termination Marker different from Result");
          return false;
        }
        Move m;
        if (!parseMove(board_, text_, false, m)) {
          report("illegal move ", text_);
          return false;
        }
        MoveUndo undo;
        saveState(undo, board_);
        makeMove(board_, m, undo);  // legal: parseMove checked it
        moves.push_back(m);
        break;
      }
    }
  }
}

bool PgnReader::readGameFiltered(std::vector<Move>& moves, std::string& fen, int& result, int minimumElo) {
  PgnTags tags;
  for (;;) {
    if (!readGame(tags, moves)) return false;
    // A negative minimum means no filter, whatever the tags say.
    if (minimumElo < 0 ||
        (tagNumber(tags, "WhiteElo") >= minimumElo && tagNumber(tags, "BlackElo") >= minimumElo)) {
      auto fenTag = tags.find("FEN");
      fen = fenTag == tags.end() ? std::string() : fenTag->second;
      auto resultTag = tags.find("Result");
      result = resultCode(resultTag == tags.end() ? std::string() : resultTag->second);
      return true;
    }
  }
}

}  // namespace korvane
