// Reads a written opening book back the way the engine's loader walks it:
// move and weight open a subtree, "*" closes it, "startpos n" sets a Chess960
// start, and a last "*" closes the top level.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "../../pgn/pgn_test_util.h"

namespace korvane::testutil {

struct BookLine {
  std::string path;  // the moves from the start, the last one the book move
  int weight;
  std::string fenBefore;
};

inline bool readSubtree(std::istream& in, Position& pos, const std::string& path, std::vector<BookLine>& out) {
  std::string token;
  while (in >> token) {
    if (token == "*") return true;
    unsigned n = 0;
    if (token == "startpos") {
      if (!path.empty() || !(in >> n) || !setChess960(pos, n)) return false;
      continue;
    }
    int weight = 0;
    Move m;
    if (!(in >> weight) || !parseMove(pos, token, true, m)) return false;
    out.push_back({path + token, weight, positionToFen(pos)});
    MoveUndo undo;
    saveState(undo, pos);
    makeMove(pos, m, undo);
    const bool ok = readSubtree(in, pos, path + token + " ", out);
    unmakeMove(undo);
    if (!ok) return false;
  }
  return false;  // the text ended before its "*"
}

// The book's moves in file order; false when the text is no valid book.
inline bool readBookText(const std::string& text, std::vector<BookLine>& out) {
  std::istringstream in(text);
  Position pos;
  std::string rest;
  return readSubtree(in, pos, "", out) && (in >> rest) && rest == "-1" && !(in >> rest);
}

}  // namespace korvane::testutil
