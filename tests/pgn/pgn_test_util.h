// What the PGN, book and training tests share: files, collected report
// lines, moves from text, engine runs that search or play from a file.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "board/notation.h"
#include "board/position.h"
#include "pgn/pgn_reader.h"
#include "../protocol/engine_process.h"

namespace korvane::testutil {

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A writer that collects the report lines.
inline LineWriter into(std::vector<std::string>& lines) {
  return [&lines](const std::string& line) { lines.push_back(line); };
}

inline void play(Position& pos, Move m) {
  MoveUndo undo;
  saveState(undo, pos);
  makeMove(pos, m, undo);
}

// The moves of a text of SAN or coordinate moves, played from the FEN or the
// start; the list stops before the first move that does not parse.
inline std::vector<Move> movesOf(const std::string& text, const std::string& fen = "") {
  Position pos;
  if (!fen.empty()) setFen(pos, fen.c_str());
  std::istringstream in(text);
  std::vector<Move> moves;
  for (std::string word; in >> word;) {
    Move m;
    if (!parseMove(pos, word, false, m) && !parseMove(pos, word, true, m)) break;
    play(pos, m);
    moves.push_back(m);
  }
  return moves;
}

// Input that answers each position ("" for none) with "go depth 1".
inline std::string searches(const std::vector<std::string>& positions) {
  std::string input = "setoption name blocking value true\n";
  for (const std::string& p : positions) input += (p.empty() ? "" : "position " + p + "\n") + "go depth 1\n";
  return input + "quit\n";
}

// The engine's answers after "uciok" (or all, without it): each "bestmove" as
// its move, or "search" when an iteration of depth 1 or more was reported
// before it; "info string" lines as they are.
inline std::vector<std::string> answers(const testing::Transcript& t) {
  EXPECT_EQ(t.exitCode, 0);
  std::vector<std::string> result;
  bool searched = false;
  auto from = std::find(t.out.begin(), t.out.end(), "uciok");
  for (const std::string& l : std::vector<std::string>(from == t.out.end() ? t.out.begin() : from, t.out.end())) {
    searched |= l.rfind("info depth ", 0) == 0 && l.rfind("info depth 0 ", 0) != 0;
    if (l.rfind("info string", 0) == 0) result.push_back(l);
    if (l.rfind("bestmove ", 0) != 0) continue;
    result.push_back(searched ? "search" : l.substr(9));
    searched = false;
  }
  return result;
}

}  // namespace korvane::testutil
