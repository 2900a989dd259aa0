#include "book/opening_book.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <vector>

#include "board/notation.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "search/transposition_table.h"

namespace korvane {

namespace {

// The third to sixth ranks: empty only before the first move of a line.
constexpr Bitboard MIDDLE_RANKS = 0x0000FFFFFFFF0000ULL;
// No move text, weight or keyword comes near this length.
constexpr std::size_t MAX_TOKEN = 64;

bool isSeparator(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// The next token; false at the end of the file and for a token longer than
// MAX_TOKEN, which is read no further (a file of one endless token, such
// as a device, must not keep the reader busy for ever).
bool readToken(std::istream& in, std::string& token) {
  token.clear();
  int c;
  while ((c = in.get()) != EOF && isSeparator(c)) {
  }
  while (c != EOF && !isSeparator(c)) {
    if (token.size() == MAX_TOKEN) return false;
    token.push_back(char(c));
    c = in.get();
  }
  return !token.empty();
}

bool readNumber(const std::string& token, long& value) {
  if (token.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtol(token.c_str(), &end, 10);
  return *end == '\0' && errno == 0 && value >= INT_MIN && value <= INT_MAX;
}

bool openBook(const std::string& name, std::ifstream& in) {
  if (!platform::openForReading(in, name)) {
    if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos) return false;
    const std::string dir = platform::programDirectory();
    if (dir.empty() || !platform::openForReading(in, dir + "/" + name)) return false;
  }
  platform::skipByteOrderMark(in);
  return true;
}

// Reads the whole tree; the lines are walked with an explicit stack of moves
// made, so a very long line cannot exhaust the call stack.
bool readTree(std::istream& in, Position& pos, TranspositionTable& table, std::uint32_t& count) {
  std::vector<MoveUndo> made;
  made.reserve(256);
  const std::uint16_t generation = table.generation();
  std::string token, weight;
  for (;;) {
    if (!readToken(in, token)) return false;  // end of file before the closing "*"
    if (token == "*") {
      if (made.empty()) return true;
      unmakeMove(made.back());
      made.pop_back();
      continue;
    }
    if (token == "startpos") {
      long n = 0;
      if ((pos.occupied & MIDDLE_RANKS) || !made.empty()) return false;
      if (!readToken(in, weight) || !readNumber(weight, n) || n < 0) return false;
      if (!setChess960(pos, unsigned(n))) return false;
      continue;
    }
    long value = 0;
    if (!readToken(in, weight) || !readNumber(weight, value)) return false;
    Move m;
    if (!parseMove(pos, token, true, m) && !parseMove(pos, token, false, m)) return false;
    if (count >= table.slotCount()) return false;
    SlotContents entry;
    entry.key = pos.key;
    entry.move = m;
    entry.score = std::int32_t(value);
    entry.generation = generation;
    table.writeSlot(count++, entry);
    made.emplace_back();
    saveState(made.back(), pos);
    if (!makeMove(pos, m, made.back())) return false;
  }
}

}  // namespace

void setEmptyBook(TranspositionTable& table) {
  SlotContents empty;
  empty.score = 100;
  empty.generation = table.generation();
  table.writeSlot(0, empty);
  table.setBookCount(table.slotCount() > 0 ? 1 : 0);
}

bool loadBook(const std::string& fileName, const Position& start, TranspositionTable& table) {
  table.setBookCount(0);
  std::ifstream in;
  std::uint32_t count = 0;
  // The moves are made on a copy kept on the heap: the reader's undo records
  // point into it, so it must not move while they are outstanding.
  auto pos = std::make_unique<Position>(start);
  if (!openBook(fileName, in) || !readTree(in, *pos, table, count)) {
    setEmptyBook(table);
    return false;
  }
  std::vector<SlotContents> entries(count);
  for (std::uint32_t i = 0; i < count; ++i) entries[i] = table.readSlot(i);
  std::stable_sort(entries.begin(), entries.end(), [](const SlotContents& a, const SlotContents& b) {
    const std::uint32_t ah = std::uint32_t(a.key >> 32), bh = std::uint32_t(b.key >> 32);
    if (ah != bh) return ah < bh;
    return std::uint32_t(a.key) < std::uint32_t(b.key);
  });
  for (std::uint32_t i = 0; i < count; ++i) table.writeSlot(i, entries[i]);
  table.setBookCount(count);
  return true;
}

Move probeBook(const TranspositionTable& table, std::uint64_t key, std::uint32_t random) {
  const std::uint32_t count = table.bookCount();
  if (count == 0) return Move();
  auto below = [&table](std::uint32_t i, std::uint64_t k) {
    const std::uint64_t e = table.readSlot(i).key;
    const std::uint32_t eh = std::uint32_t(e >> 32), kh = std::uint32_t(k >> 32);
    return eh != kh ? eh < kh : std::uint32_t(e) < std::uint32_t(k);
  };
  std::uint32_t lo = 0, hi = count;
  while (lo < hi) {
    const std::uint32_t mid = lo + (hi - lo) / 2;
    if (below(mid, key))
      lo = mid + 1;
    else
      hi = mid;
  }
  std::uint32_t end = lo;
  std::int64_t total = 0;
  while (end < count && table.readSlot(end).key == key) total += table.readSlot(end++).score;
  if (end == lo || total < 1) return Move();
  std::int64_t r = std::int64_t(random % std::uint64_t(total));
  for (std::uint32_t i = lo; i < end; ++i) {
    const SlotContents e = table.readSlot(i);
    if (r < e.score) return e.move;
    r -= e.score;
  }
  return Move();
}

}  // namespace korvane
