// Helpers for the PGN and book tests: temporary files, collected report
// lines, legal moves and random legal games.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "board/move_picker.h"
#include "board/notation.h"
#include "board/position.h"
#include "pgn/pgn_reader.h"

namespace korvane::testutil {

inline std::string dataPath(const std::string& name) { return std::string(KORVANE_DATA_DIR) + "/pgn/" + name; }

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A file in the temporary directory, removed again at the end.
class TempFile {
 public:
  explicit TempFile(const std::string& content = "", const std::string& suffix = ".pgn", bool create = true) {
    static std::atomic<int> counter{0};
    path_ = (std::filesystem::temp_directory_path() /
             ("korvane_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++) + suffix))
                .string();
    if (create) std::ofstream(path_, std::ios::binary) << content;
  }
  ~TempFile() { std::remove(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  std::string read() const { return readFile(path_); }
  bool exists() const { return std::filesystem::exists(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct Reports {
  std::vector<std::string> lines;
  LineWriter writer() {
    return [this](const std::string& line) { lines.push_back(line); };
  }
};

inline std::vector<Move> legalMoves(Position& pos) {
  MoveEntry buffer[MAX_MOVES];
  MoveEntry* top = buffer;
  HistoryTable history;
  std::vector<Move> legal;
  MovePicker picker(Move(), top, pos, history, false, false, nullptr);
  for (const MoveEntry* e = picker.begin(); e < picker.end(); ++e)
    if (isMoveLegal(pos, e->move)) legal.push_back(e->move);
  return legal;
}

inline void play(Position& pos, Move m) {
  MoveUndo undo;
  saveState(undo, pos);
  makeMove(pos, m, undo);
}

// The moves of a text list (SAN), played from the FEN or the start.
inline std::vector<Move> movesOf(const std::vector<std::string>& texts, const std::string& fen = "") {
  Position pos;
  if (!fen.empty()) setFen(pos, fen.c_str());
  std::vector<Move> moves;
  for (const std::string& text : texts) {
    Move m;
    if (!parseMove(pos, text, false, m)) break;
    play(pos, m);
    moves.push_back(m);
  }
  return moves;
}

// A random legal game from `pos` (which it changes): `plies` plies unless a
// mate or stalemate comes first. The first `narrow` plies choose among the
// first two legal moves only, so that games share their openings.
inline std::vector<Move> randomGame(std::mt19937& rng, Position& pos, int plies, int narrow = 0) {
  std::vector<Move> moves;
  for (int i = 0; i < plies; ++i) {
    const std::vector<Move> legal = legalMoves(pos);
    if (legal.empty()) break;
    const std::size_t choices = i < narrow && legal.size() > 2 ? 2 : legal.size();
    moves.push_back(legal[rng() % choices]);
    play(pos, moves.back());
  }
  return moves;
}

}  // namespace korvane::testutil
