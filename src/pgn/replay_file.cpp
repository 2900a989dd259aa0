#include "pgn/replay_file.h"

#include <utility>

#include "board/move_picker.h"
#include "board/notation.h"
#include "board/position.h"

namespace korvane {

ReplayFile::ReplayFile(const std::string& fileName, LineWriter writer) : reader_(fileName, std::move(writer)) {
  finished_ = !reader_.isOpen();
}

bool ReplayFile::nextReplayGame() {
  entries_.clear();
  index_ = 0;
  loaded_ = false;
  std::vector<Move> moves;
  std::string fen;
  int result = RESULT_NONE;
  if (!reader_.readGameFiltered(moves, fen, result, -1)) return false;

  Position pos;
  if (!fen.empty() && !setFen(pos, fen.c_str())) return false;
  entries_.reserve(moves.size());
  for (Move m : moves) {
    // The reader has played every move on the same start; the check keeps a
    // bad list from reaching makeMove all the same.
    if (!isMoveLegal(pos, m)) break;
    entries_.push_back({pos.key, m});
    MoveUndo undo;
    saveState(undo, pos);
    makeMove(pos, m, undo);
  }
  loaded_ = true;
  return true;
}

Move ReplayFile::replayMove(std::uint64_t key) {
  if (finished_) return Move();
  if (!loaded_ || index_ >= entries_.size()) {
    if (!nextReplayGame()) {
      finished_ = true;
      return Move();
    }
    index_ = entries_.size() > 1 && entries_[0].key != key ? 1 : 0;
  }
  if (index_ < entries_.size() && entries_[index_].key == key) {
    const Move m = entries_[index_].move;
    index_ += 2;  // over the opponent's reply
    return m;
  }
  finished_ = true;
  return Move();
}

}  // namespace korvane
