// Building an opening book from PGN games.
//
// Games are added into a tree of positions: every position that one of the
// games reached in its first 37 plies has a node listing the moves played
// from it, each move with the points White and Black scored in those games
// (both start at 1000, so that a single game cannot decide much). Writing
// values every move by the logarithm of its points ratio, takes the values up
// the tree (a move is worth minus the value of the position it leads to),
// keeps the moves close enough to the best one and writes them with weights
// 0..99 in the book text format: move, weight, the subtree after the move,
// "*". Writing consumes the tree's valuation and is followed by its
// destruction.
//
// Storage is compact because a large game collection creates millions of
// positions: the nodes are an open-addressing map from position key to the
// first of their entries, and the entries of all nodes live in one pool,
// each node's entries chained through `next`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "board/position.h"
#include "board/types.h"
#include "pgn/pgn_reader.h"

namespace korvane {

// Plies whose moves enter a game's signature, and plies of a game credited.
constexpr int BOOK_RANDOM_PLIES = 300;
constexpr int BOOK_SIGNATURE_PLIES = 99;
constexpr int BOOK_CREDIT_PLIES = 37;
// Points every new move entry starts with, for each side.
constexpr std::uint32_t BOOK_START_POINTS = 1000;
// Value of an entry not yet valued; any value below -1000 counts as none.
constexpr float BOOK_UNVALUED = -9999.9f;
// Deepest recursion of the valuation and of the writers. Games add at most
// 37 plies each, so only chains of transpositions between games that start
// from FEN positions could come near it.
constexpr int BOOK_MAX_DEPTH = 400;
constexpr std::uint32_t BOOK_NO_ENTRY = 0xFFFFFFFFu;

struct BookEntry {
  Move move;
  std::uint32_t white;  // points White scored after this move (saturating)
  std::uint32_t black;
  float value;          // for the side that made the move
  std::uint32_t next;   // next entry of the same node, BOOK_NO_ENTRY at the end
  std::int16_t weight;  // 0..99
  std::uint8_t excluded;
};
static_assert(sizeof(BookEntry) == 24);

// Points already credited for one game (by its signature).
struct GamePoints {
  std::uint32_t white;
  std::uint32_t black;
};

// Map from a 64-bit key to a small value: linear probing, power-of-two size,
// at most 70 % full. Key 0 is kept apart because it marks empty slots.
template <class Value>
class KeyMap {
 public:
  Value* find(std::uint64_t key);
  // The value for the key, inserted as `initial` when absent.
  Value& findOrInsert(std::uint64_t key, const Value& initial);
  std::size_t size() const { return count_; }
  void clear();
  // Calls f(value) for every value, in no particular order.
  template <class F>
  void forEach(F f) {
    if (hasZero_) f(zero_);
    for (Slot& s : slots_)
      if (s.key != 0) f(s.value);
  }

 private:
  struct Slot {
    std::uint64_t key;
    Value value;
  };
  std::size_t slotOf(std::uint64_t key) const;
  void grow();

  std::vector<Slot> slots_;
  std::size_t count_ = 0;
  bool hasZero_ = false;
  Value zero_{};
};

struct BookTree {
  // 300 plies x 128 words: per ply 64 words for from squares and 64 for to
  // squares, used for the game signatures.
  std::vector<std::uint32_t> randoms;
  KeyMap<GamePoints> games;              // signature -> points credited
  KeyMap<std::uint32_t> nodes;           // position key -> first entry
  std::vector<BookEntry> entries;        // the pool of all nodes' entries
  std::unordered_set<std::uint64_t> path;     // positions on the valuation's path
  std::unordered_set<std::uint64_t> written;  // positions the writer has handled
  long whiteMoves = 0;
  long blackMoves = 0;
  // Statistics of the adds.
  std::uint64_t gamesRead = 0;
  std::uint64_t gamesAdded = 0;

  // Fills the random words from the engine's random generator.
  BookTree();
  // For tests: a given table of BOOK_RANDOM_PLIES * 128 words.
  explicit BookTree(std::vector<std::uint32_t> randomWords);

  // First entry of the position's node, BOOK_NO_ENTRY when it has none.
  std::uint32_t firstEntry(std::uint64_t key);
};

// Adds the games of a PGN file; games without a result are skipped. False
// when the file cannot be opened. Reader errors go to `writer`.
bool addPgnFile(BookTree& tree, const std::string& fileName, std::uint32_t value, bool all, int minimumElo,
                const LineWriter& writer = writeToStandardOutput);

// Adds one game; `fen` is null or empty for the standard start. `outcome` is
// +1 (White won), -1 (Black won) or 0 (draw). Without `all`, games shorter
// than 37 plies are left out and a game already added (same first 99 moves)
// is credited only with what its new points exceed the old ones by. False
// when nothing was added.
bool addGame(BookTree& tree, const std::vector<Move>& moves, const char* fen, std::uint32_t value, bool all,
             int outcome);

// Values the position's node and, recursively, the nodes below it; sets the
// values, weights and exclusions of its entries. `threshold` is the least
// points total (exclusive) a move needs; `width` the natural logarithm of
// the value band (as a ratio) within which moves keep a weight. Answers the
// position's value for its side to move.
double evaluateNode(BookTree& tree, Position& pos, std::int64_t threshold, double width);

// Writers. `threshold` is the command's (1000 is added for the start
// points); `width` a fraction (0.25 for 25 %). False, with the line
// "info string error opening the output file <name>" to `writer`, when the
// file cannot be created, or "info string error writing the output file
// <name>" when a write or the close fails; the tree can then be written
// again. writeBook and write960 end with the move counts.
bool writeBook(BookTree& tree, const std::string& fileName, int threshold, double width,
               const LineWriter& writer = writeToStandardOutput);
bool write960(BookTree& tree, const std::string& fileName, int threshold, double width,
              const LineWriter& writer = writeToStandardOutput);
bool writeEPD(BookTree& tree, const std::string& fileName, int threshold, double width,
              const LineWriter& writer = writeToStandardOutput);

}  // namespace korvane
