// Replaying the games of a PGN file: while the game being played follows one
// of the file's games, the engine answers with that game's recorded moves
// instead of searching.
//
// The file's games are taken one after the other. A game is followed from
// its first position, or, when the engine has the second side, from its
// second; the first position that leaves the recorded game ends the replay
// for good.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "board/game_record.h"
#include "board/types.h"
#include "pgn/pgn_reader.h"

namespace korvane {

class ReplayFile {
 public:
  explicit ReplayFile(const std::string& fileName, LineWriter writer = writeToStandardOutput);

  // Loads the next game of the file: every move with the key of the position
  // before it. False when no game is left or the game's FEN cannot be set up.
  bool nextReplayGame();
  // The recorded move for the position with this key, or the none move.
  Move replayMove(std::uint64_t key);
  Move replayMove(const GameRecord& game) { return replayMove(game.position.key); }

  bool finished() const { return finished_; }

 private:
  struct Entry {
    std::uint64_t key;
    Move move;
  };

  PgnReader reader_;
  std::vector<Entry> entries_;
  std::size_t index_ = 0;
  bool loaded_ = false;
  bool finished_ = false;
};

}  // namespace korvane
