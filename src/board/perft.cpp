#include "board/perft.h"

namespace korvane {

namespace {
constexpr int PERFT_MAX_DEPTH = 64;
}

Perft::Perft(int hashMegabytes) : stack_(std::size_t(MAX_MOVES) * (PERFT_MAX_DEPTH + 1)) {
  if (hashMegabytes > 0) {
    // The largest power of two number of entries that fits the size.
    const std::uint64_t entries = (std::uint64_t(hashMegabytes) << 20) / 24;
    std::uint64_t n = 1;
    while (n * 2 <= entries) n *= 2;
    table_.assign(n, Entry{0, 0, 0});
  }
}

std::uint64_t Perft::run(Position& pos, int depth) {
  if (depth > PERFT_MAX_DEPTH) depth = PERFT_MAX_DEPTH;
  return count(pos, depth, stack_.data());
}

std::uint64_t Perft::count(Position& pos, int depth, MoveEntry* top) {
  if (depth <= 0) return 0;
  Entry* slot = nullptr;
  if (!table_.empty()) {
    slot = &table_[std::uint32_t(pos.key) & (table_.size() - 1)];
    if (slot->key == pos.key && slot->depth == depth) return slot->count;
  }
  std::uint64_t total = 0;
  MovePicker picker(Move(), top, pos, history_, false, false, nullptr);
  MoveUndo undo;
  saveState(undo, pos);
  // The order of the moves does not matter for a count, so the list is walked
  // as generated, without scoring. unmakeMove leaves the undo record ready for
  // the next move of this node.
  if (depth > 2) {
    for (const MoveEntry* e = picker.begin(); e < picker.end(); ++e) {
      if (makeMove(pos, e->move, undo)) {
        total += count(pos, depth - 1, top);
        unmakeMove(undo);
      }
    }
  } else if (depth == 2) {
    // The last level only generates and tests the replies: the maps of the
    // side that moved are not needed there.
    for (const MoveEntry* e = picker.begin(); e < picker.end(); ++e) {
      if (makeMoveForReplies(pos, e->move, undo)) {
        total += count(pos, 1, top);
        unmakeMove(undo);
      }
    }
  } else {
    // A move that cannot expose the own king is counted without making it.
    for (const MoveEntry* e = picker.begin(); e < picker.end(); ++e) {
      if (!needsLegalityTest(pos, e->move)) {
        ++total;
      } else if (makeMoveQuick(pos, e->move, undo)) {
        ++total;
        unmakeMove(undo);
      }
    }
  }
  if (slot && (depth > slot->depth || 4 * total >= slot->count)) *slot = Entry{pos.key, total, depth};
  return total;
}

}  // namespace korvane
