#include "book/writer/book_builder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <memory>
#include <utility>

#include "board/move_picker.h"
#include "board/notation.h"
#include "board/random.h"
#include "platform/files.h"

namespace korvane {

// ---------------------------------------------------------------------------
// KeyMap

template <class Value>
std::size_t KeyMap<Value>::slotOf(std::uint64_t key) const {
  // Fibonacci hashing: the top bits of the product spread any key pattern.
  const int bits = std::countr_zero(slots_.size());
  return std::size_t((key * 0x9E3779B97F4A7C15ULL) >> (64 - bits));
}

template <class Value>
Value* KeyMap<Value>::find(std::uint64_t key) {
  if (key == 0) return hasZero_ ? &zero_ : nullptr;
  if (slots_.empty()) return nullptr;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = slotOf(key);; i = (i + 1) & mask) {
    if (slots_[i].key == key) return &slots_[i].value;
    if (slots_[i].key == 0) return nullptr;
  }
}

template <class Value>
Value& KeyMap<Value>::findOrInsert(std::uint64_t key, const Value& initial) {
  if (key == 0) {
    if (!hasZero_) {
      hasZero_ = true;
      zero_ = initial;
      ++count_;
    }
    return zero_;
  }
  if ((count_ + 1) * 10 > slots_.size() * 7) grow();
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = slotOf(key);; i = (i + 1) & mask) {
    if (slots_[i].key == key) return slots_[i].value;
    if (slots_[i].key == 0) {
      slots_[i].key = key;
      slots_[i].value = initial;
      ++count_;
      return slots_[i].value;
    }
  }
}

template <class Value>
void KeyMap<Value>::grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(old.empty() ? 1024 : old.size() * 2, Slot{0, Value{}});
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& s : old) {
    if (s.key == 0) continue;
    std::size_t i = slotOf(s.key);
    while (slots_[i].key != 0) i = (i + 1) & mask;
    slots_[i] = s;
  }
}

template <class Value>
void KeyMap<Value>::clear() {
  slots_.clear();
  slots_.shrink_to_fit();
  count_ = 0;
  hasZero_ = false;
}

template class KeyMap<GamePoints>;
template class KeyMap<std::uint32_t>;

// ---------------------------------------------------------------------------
// Tree and adding games

namespace {

std::uint32_t saturatingAdd(std::uint32_t a, std::uint64_t b) {
  const std::uint64_t sum = std::uint64_t(a) + b;
  return sum > 0xFFFFFFFFu ? 0xFFFFFFFFu : std::uint32_t(sum);
}

std::uint32_t roundedPoints(double x) {
  if (!(x > 0)) return 0;
  if (x >= 4294967295.0) return 0xFFFFFFFFu;
  return std::uint32_t(std::llround(x));
}

void play(Position& pos, Move m, MoveUndo& undo) {
  saveState(undo, pos);
  makeMove(pos, m, undo);
}

}  // namespace

BookTree::BookTree() {
  randoms.resize(std::size_t(BOOK_RANDOM_PLIES) * 128);
  for (std::uint32_t& word : randoms) {
    for (int i = 0; i < 20; ++i) nextRandom32();
    word = nextRandom32();
  }
}

BookTree::BookTree(std::vector<std::uint32_t> randomWords) : randoms(std::move(randomWords)) {
  randoms.resize(std::size_t(BOOK_RANDOM_PLIES) * 128, 0);
}

std::uint32_t BookTree::firstEntry(std::uint64_t key) {
  const std::uint32_t* head = nodes.find(key);
  return head ? *head : BOOK_NO_ENTRY;
}

// Every move is tested against its position before it is made, whatever the
// source: a list that does not fit its start (moves read for another
// position) must never reach makeMove.
bool addGame(BookTree& tree, const std::vector<Move>& moves, const char* fen, std::uint32_t value, bool all,
             int outcome) {
  // Points for the whole game.
  std::uint64_t white = outcome > 0 ? value : outcome < 0 ? 0 : value / 2;
  std::uint64_t black = outcome < 0 ? value : outcome > 0 ? 0 : value / 2;

  const std::size_t length = moves.size();
  const std::size_t played = std::min<std::size_t>(length, BOOK_RANDOM_PLIES);
  const int credited = int(std::min<std::size_t>(played, BOOK_CREDIT_PLIES));
  if (credited == 0 || (!all && length < std::size_t(BOOK_CREDIT_PLIES))) return false;

  // The positions before the credited moves. A move that does not fit its
  // position leaves the whole game out, before anything is changed; so does
  // a pool of entries that is full.
  if (tree.entries.size() + BOOK_CREDIT_PLIES >= BOOK_NO_ENTRY) return false;
  Position pos;
  if (fen && *fen && !setFen(pos, fen)) return false;
  std::uint64_t keys[BOOK_CREDIT_PLIES];
  for (int i = 0; i < credited; ++i) {
    if (!isMoveLegal(pos, moves[std::size_t(i)])) return false;
    keys[i] = pos.key;
    MoveUndo undo;
    play(pos, moves[std::size_t(i)], undo);
  }

  // Black's points weigh 8 % more: scoring with Black is harder.
  black = black * 108 / 100;

  if (!all) {
    // The signature: the from and to squares of the first 99 moves.
    std::uint64_t signature = 0;
    const std::size_t signedPlies = std::min<std::size_t>(played, BOOK_SIGNATURE_PLIES);
    for (std::size_t i = 0; i < signedPlies; ++i) {
      const Move m = moves[i];
      signature ^= tree.randoms[128 * i + std::size_t(m.from())];
      signature ^= std::uint64_t(tree.randoms[128 * i + 64 + std::size_t(m.to())]) << 32;
    }
    const GamePoints fresh{std::uint32_t(std::min<std::uint64_t>(white, 0xFFFFFFFFu)),
                           std::uint32_t(std::min<std::uint64_t>(black, 0xFFFFFFFFu))};
    GamePoints* known = tree.games.find(signature);
    if (!known) {
      tree.games.findOrInsert(signature, fresh);
    } else {
      // The same game again: only what exceeds the earlier credit counts.
      const std::uint64_t moreWhite = white > known->white ? white - known->white : 0;
      const std::uint64_t moreBlack = black > known->black ? black - known->black : 0;
      if (moreWhite == 0 && moreBlack == 0) return false;
      known->white = saturatingAdd(known->white, moreWhite);
      known->black = saturatingAdd(known->black, moreBlack);
      white = moreWhite;
      black = moreBlack;
    }
  }

  for (int i = 0; i < credited; ++i) {
    std::uint64_t w = white, b = black;
    if (!all) {
      // The result says more about the early moves of a short game than
      // about those of a long one: late results lean towards a draw.
      double f = 1.0 - (double(length) - 36.0 - double(i)) / 328.0;
      f = std::clamp(f, 0.55, 1.0);
      w = roundedPoints(double(white) * f + double(black) * (1.0 - f));
      b = roundedPoints(double(black) * f + double(white) * (1.0 - f));
    }
    const Move m = moves[std::size_t(i)];
    std::uint32_t& head = tree.nodes.findOrInsert(keys[i], BOOK_NO_ENTRY);
    std::uint32_t* link = &head;
    while (*link != BOOK_NO_ENTRY && tree.entries[*link].move != m) link = &tree.entries[*link].next;
    if (*link == BOOK_NO_ENTRY) {
      *link = std::uint32_t(tree.entries.size());
      tree.entries.push_back({m, saturatingAdd(BOOK_START_POINTS, w), saturatingAdd(BOOK_START_POINTS, b),
                              BOOK_UNVALUED, BOOK_NO_ENTRY, 0, 0});
    } else {
      BookEntry& e = tree.entries[*link];
      e.white = saturatingAdd(e.white, w);
      e.black = saturatingAdd(e.black, b);
    }
  }
  ++tree.gamesAdded;
  return true;
}

bool addPgnFile(BookTree& tree, const std::string& fileName, std::uint32_t value, bool all, int minimumElo,
                const LineWriter& writer) {
  PgnReader reader(fileName, writer);
  if (!reader.isOpen()) return false;
  std::vector<Move> moves;
  std::string fen;
  int result = RESULT_NONE;
  while (reader.readGameFiltered(moves, fen, result, minimumElo)) {
    ++tree.gamesRead;
    if (result == RESULT_NONE) continue;
    const int outcome = result == RESULT_WHITE_WINS ? 1 : result == RESULT_BLACK_WINS ? -1 : 0;
    addGame(tree, moves, fen.c_str(), value, all, outcome);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Valuation

namespace {

// ln(white / black) for the side to move.
double pointsRatio(double white, double black, bool whiteToMove) {
  if (!(white > 0) || !(black > 0)) return 0.0;
  const double v = std::log(white / black);
  return whiteToMove ? v : -v;
}

std::uint64_t totalOf(const BookEntry& e) { return std::uint64_t(e.white) + e.black; }

void sortByWeight(BookTree& tree, std::uint32_t& head) {
  std::vector<std::uint32_t> order;
  for (std::uint32_t i = head; i != BOOK_NO_ENTRY; i = tree.entries[i].next) order.push_back(i);
  std::stable_sort(order.begin(), order.end(), [&tree](std::uint32_t a, std::uint32_t b) {
    return tree.entries[a].weight > tree.entries[b].weight;
  });
  head = order.empty() ? BOOK_NO_ENTRY : order[0];
  for (std::size_t k = 0; k < order.size(); ++k)
    tree.entries[order[k]].next = k + 1 < order.size() ? order[k + 1] : BOOK_NO_ENTRY;
}

double evaluateAt(BookTree& tree, Position& pos, std::int64_t threshold, double width, int depth) {
  const std::uint64_t key = pos.key;
  const std::uint32_t head = tree.firstEntry(key);
  if (head == BOOK_NO_ENTRY) return 0.0;  // a position without moves is even
  const bool whiteToMove = pos.whiteToMove != 0;
  tree.path.insert(key);

  double whiteSum = 0, blackSum = 0;
  for (std::uint32_t i = head; i != BOOK_NO_ENTRY; i = tree.entries[i].next) {
    whiteSum += tree.entries[i].white;
    blackSum += tree.entries[i].black;
  }

  int counted = 0;
  std::uint64_t largest = 0;
  for (std::uint32_t i = head; i != BOOK_NO_ENTRY; i = tree.entries[i].next) {
    // Entries of a colliding key might not fit this position.
    if (!isMoveLegal(pos, tree.entries[i].move)) {
      tree.entries[i].excluded = 1;
      continue;
    }
    // Every move's subtree is valued, also below moves that are left out:
    // the values found there stay and are reused when another line reaches
    // those positions.
    double v = pointsRatio(tree.entries[i].white, tree.entries[i].black, whiteToMove);
    MoveUndo undo;
    play(pos, tree.entries[i].move, undo);
    if (tree.firstEntry(pos.key) != BOOK_NO_ENTRY) {
      if (tree.entries[i].value > -1000) {
        v = tree.entries[i].value;
      } else if (tree.path.count(pos.key)) {
        v = -0.05;  // back to a position on the path: a cycle, about even
      } else if (depth < BOOK_MAX_DEPTH) {
        v = -evaluateAt(tree, pos, threshold, width, depth + 1);
        if (tree.entries[i].value > -1000) v = -0.05;
      }
    }
    unmakeMove(undo);
    BookEntry& e = tree.entries[i];
    if (std::int64_t(totalOf(e)) > threshold) {
      ++counted;
      e.value = float(v);
      largest = std::max(largest, totalOf(e));
    } else {
      e.excluded = 1;
    }
  }
  tree.path.erase(key);

  // Rarely played moves drop far below the others.
  float best = BOOK_UNVALUED;
  for (std::uint32_t i = head; i != BOOK_NO_ENTRY; i = tree.entries[i].next) {
    BookEntry& e = tree.entries[i];
    if (e.excluded) continue;
    if (totalOf(e) * 5 < largest) e.value -= 99;
    best = std::max(best, e.value);
  }

  if (counted == 0) return pointsRatio(whiteSum, blackSum, whiteToMove);
  if (counted == 1) {
    for (std::uint32_t i = head; i != BOOK_NO_ENTRY; i = tree.entries[i].next) {
      if (tree.entries[i].excluded) continue;
      tree.entries[i].weight = 99;
      return tree.entries[i].value;
    }
  }

  for (std::uint32_t i = head; i != BOOK_NO_ENTRY; i = tree.entries[i].next) {
    BookEntry& e = tree.entries[i];
    if (e.excluded) {
      e.weight = 0;
    } else if (e.value == best) {
      whiteSum += e.white;
      blackSum += e.black;
      e.weight = 99;
    } else {
      // A zero or broken width leaves weight only to the best moves.
      const double w = width > 0 ? 99.0 * (double(e.value) + width - double(best)) / width : 0.0;
      e.weight = w >= 1.0 ? std::int16_t(std::min(w, 99.0)) : 0;
    }
  }
  sortByWeight(tree, *tree.nodes.find(key));
  return pointsRatio(whiteSum, blackSum, whiteToMove);
}

}  // namespace

double evaluateNode(BookTree& tree, Position& pos, std::int64_t threshold, double width) {
  return evaluateAt(tree, pos, threshold, width, 0);
}

// ---------------------------------------------------------------------------
// Writing

namespace {

// Weight a move needs to be written beside a better one.
constexpr int SECOND_MOVE_WEIGHT = 80;

// True when the position is one the writer has still to handle: not written
// yet, and with a move that is not excluded.
bool holdsWritableLine(BookTree& tree, const Position& pos) {
  if (tree.written.count(pos.key)) return false;
  for (std::uint32_t i = tree.firstEntry(pos.key); i != BOOK_NO_ENTRY; i = tree.entries[i].next)
    if (!tree.entries[i].excluded) return true;
  return false;
}

// Drops the start position's moves that have no weight and lead to nothing
// that would be written.
void pruneRoot(BookTree& tree, Position& pos) {
  for (std::uint32_t i = tree.firstEntry(pos.key); i != BOOK_NO_ENTRY; i = tree.entries[i].next) {
    BookEntry& e = tree.entries[i];
    if (e.excluded || e.weight > 0) continue;
    MoveUndo undo;
    play(pos, e.move, undo);
    const bool keep = holdsWritableLine(tree, pos);
    unmakeMove(undo);
    if (!keep) tree.entries[i].excluded = 1;
  }
}

// Walks the book as it is written: in each position not handled before, the
// first remaining move and after it every remaining move of weight 80 or
// more, each once. The visitor sees the positions and the moves.
template <class Visitor>
void walkBook(BookTree& tree, Position& pos, Visitor& visitor, int depth) {
  if (depth >= BOOK_MAX_DEPTH || !tree.written.insert(pos.key).second) return;
  bool any = false;
  for (std::uint32_t i = tree.firstEntry(pos.key); i != BOOK_NO_ENTRY; i = tree.entries[i].next) {
    if (tree.entries[i].excluded) continue;
    if (any && tree.entries[i].weight < SECOND_MOVE_WEIGHT) break;
    if (!isMoveLegal(pos, tree.entries[i].move)) continue;
    if (!any) visitor.position(pos);
    any = true;
    tree.entries[i].excluded = 1;  // a transposition writes it only once
    if (pos.whiteToMove)
      ++tree.whiteMoves;
    else
      ++tree.blackMoves;
    visitor.enterMove(pos, tree.entries[i], depth);
    MoveUndo undo;
    play(pos, tree.entries[i].move, undo);
    walkBook(tree, pos, visitor, depth + 1);
    unmakeMove(undo);
    visitor.leaveMove(depth);
  }
}

// Writes move, weight, subtree and "*", indented by depth.
struct BookTextVisitor {
  std::FILE* out;

  void position(const Position&) {}
  void enterMove(Position& pos, const BookEntry& e, int depth) {
    char text[MOVE_TEXT_SIZE];
    moveToText(pos, e.move, STYLE_COORDINATE, text);
    std::fprintf(out, "%*s%s %d\n", depth, "", text, int(e.weight));
  }
  void leaveMove(int depth) { std::fprintf(out, "%*s*\n", depth, ""); }
};

// One EPD line per position in which the book has a move: the position, then
// the moves leading to it in German short algebraic notation.
struct EpdVisitor {
  std::FILE* out;
  std::string path;
  std::vector<std::size_t> marks;
  long lineNumber = 0;

  void position(const Position& pos) {
    std::fprintf(out, "%s 0 1;%s; QZ-Testposition %ld\n", positionToFen(pos).c_str(), path.c_str(), ++lineNumber);
  }
  void enterMove(Position& pos, const BookEntry& e, int) {
    char text[MOVE_TEXT_SIZE];
    moveToText(pos, e.move, STYLE_SAN, text);
    marks.push_back(path.size());
    path += text;
    path += ' ';
  }
  void leaveMove(int) {
    path.resize(marks.back());
    marks.pop_back();
  }
};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using OutputFile = std::unique_ptr<std::FILE, FileCloser>;

OutputFile openOutput(const std::string& fileName, const LineWriter& writer) {
  OutputFile out(std::fopen(fileName.c_str(), "w"));
  if (!out && writer) writer("info string error opening the output file " + reportable(fileName, REPORT_NAME_LENGTH));
  return out;
}

// Closes the written file; a failed write or close is reported.
bool finishOutput(OutputFile& out, const std::string& fileName, const LineWriter& writer) {
  if (platform::closeWritten(out.release())) return true;
  if (writer) writer("info string error writing the output file " + reportable(fileName, REPORT_NAME_LENGTH));
  return false;
}

// Gives every entry back the state the adds left it in: unvalued, no weight,
// not excluded, and each node's entries in the order they were created (the
// order the valuation met them first; its treatment of cycles depends on
// it). A tree whose writing failed is so written again exactly as it would
// have been the first time.
void resetValuation(BookTree& tree) {
  std::vector<std::uint32_t> chain;
  tree.nodes.forEach([&tree, &chain](std::uint32_t& head) {
    chain.clear();
    for (std::uint32_t i = head; i != BOOK_NO_ENTRY; i = tree.entries[i].next) chain.push_back(i);
    std::sort(chain.begin(), chain.end());
    head = chain.empty() ? BOOK_NO_ENTRY : chain[0];
    for (std::size_t k = 0; k < chain.size(); ++k)
      tree.entries[chain[k]].next = k + 1 < chain.size() ? chain[k + 1] : BOOK_NO_ENTRY;
  });
  for (BookEntry& e : tree.entries) {
    e.value = BOOK_UNVALUED;
    e.weight = 0;
    e.excluded = 0;
  }
}

void prepare(BookTree& tree) {
  resetValuation(tree);
  tree.whiteMoves = 0;
  tree.blackMoves = 0;
  tree.path.clear();
  tree.written.clear();
}

void reportMoveCounts(const BookTree& tree, const LineWriter& writer) {
  if (!writer) return;
  char line[64];
  std::snprintf(line, sizeof line, "white moves:%10ld", tree.whiteMoves);
  writer(line);
  std::snprintf(line, sizeof line, "black moves:%10ld", tree.blackMoves);
  writer(line);
  std::snprintf(line, sizeof line, "moves:      %10ld", tree.whiteMoves + tree.blackMoves);
  writer(line);
}

std::int64_t fullThreshold(int threshold) { return std::int64_t(threshold) + BOOK_START_POINTS; }
double logWidth(double width) { return width > -1.0 ? std::log1p(width) : 0.0; }

// Values the tree below `pos` and prunes the moves of `pos` itself.
void valueFrom(BookTree& tree, Position& pos, int threshold, double width) {
  evaluateNode(tree, pos, fullThreshold(threshold), logWidth(width));
  pruneRoot(tree, pos);
}

}  // namespace

bool writeBook(BookTree& tree, const std::string& fileName, int threshold, double width,
               const LineWriter& writer) {
  OutputFile out = openOutput(fileName, writer);
  if (!out) return false;
  prepare(tree);
  Position pos;
  valueFrom(tree, pos, threshold, width);
  BookTextVisitor visitor{out.get()};
  walkBook(tree, pos, visitor, 0);
  std::fputs("* -1\n", out.get());
  if (!finishOutput(out, fileName, writer)) return false;
  reportMoveCounts(tree, writer);
  return true;
}

bool write960(BookTree& tree, const std::string& fileName, int threshold, double width,
              const LineWriter& writer) {
  OutputFile out = openOutput(fileName, writer);
  if (!out) return false;
  prepare(tree);
  // Value every start position first: writing marks moves as done, which
  // would change the valuation of positions shared between them.
  std::vector<unsigned> starts;
  for (unsigned n = 0; n < 960; ++n) {
    Position pos;
    if (!setChess960(pos, n) || tree.firstEntry(pos.key) == BOOK_NO_ENTRY) continue;
    valueFrom(tree, pos, threshold, width);
    starts.push_back(n);
  }
  BookTextVisitor visitor{out.get()};
  for (unsigned n : starts) {
    Position pos;
    setChess960(pos, n);
    if (tree.written.count(pos.key)) continue;
    std::fprintf(out.get(), "startpos %u\n", n);
    walkBook(tree, pos, visitor, 0);
  }
  std::fputs("* -1\n", out.get());
  if (!finishOutput(out, fileName, writer)) return false;
  reportMoveCounts(tree, writer);
  return true;
}

bool writeEPD(BookTree& tree, const std::string& fileName, int threshold, double width,
              const LineWriter& writer) {
  OutputFile out = openOutput(fileName, writer);
  if (!out) return false;
  prepare(tree);
  Position pos;
  valueFrom(tree, pos, threshold, width);
  EpdVisitor visitor{out.get(), {}, {}, 0};
  walkBook(tree, pos, visitor, 0);
  return finishOutput(out, fileName, writer);
}

}  // namespace korvane
