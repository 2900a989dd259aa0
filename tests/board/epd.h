// Helpers shared by the board, evaluation and search tests: the perft
// reference positions, positions from FEN text, legal move lists.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "board/move_picker.h"
#include "board/notation.h"
#include "board/position.h"

namespace korvane::test {

struct PerftCase {
  std::string fen;
  std::vector<std::uint64_t> counts;  // counts[d - 1] = leaves at depth d
  std::string note;
};

inline std::vector<PerftCase> loadPerftCases() {
  std::vector<PerftCase> cases;
  std::ifstream in(std::string(KORVANE_DATA_DIR) + "/perft.epd");
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    std::istringstream fields(line);
    PerftCase c;
    std::getline(fields, c.fen, ';');
    for (std::string field; std::getline(fields, field, ';');) {
      if (field.size() > 1 && field[0] == 'D')
        c.counts.push_back(std::stoull(field.substr(field.find(' ') + 1)));
      else
        c.note = field;
    }
    cases.push_back(c);
  }
  return cases;
}

inline Position fromFen(const std::string& fen) {
  Position pos;
  EXPECT_NE(setFen(pos, fen.c_str()), nullptr) << fen;
  return pos;
}

inline Square sq(const char* name) { return squareFromText(name[0], name[1]); }

inline std::vector<Move> legalMoves(Position& pos) {
  MoveEntry buffer[MAX_MOVES];
  MoveEntry* top = buffer;
  HistoryTable history;
  MovePicker picker(Move(), top, pos, history, false, false, nullptr);
  std::vector<Move> moves;
  for (const MoveEntry* e = picker.begin(); e < picker.end(); ++e)
    if (isMoveLegal(pos, e->move)) moves.push_back(e->move);
  return moves;
}

// The colour-flipped twin of the first four FEN fields: ranks in reverse
// order, colours, side to move, castling rights and en-passant rank exchanged.
inline std::string flippedFen(const std::string& fen) {
  std::istringstream in(fen);
  std::string board, side, rights, ep, out;
  in >> board >> side >> rights >> ep;
  auto swapCase = [](std::string s) {
    for (char& c : s) c = char(std::isupper(c) ? std::tolower(c) : std::toupper(c));
    return s;
  };
  std::vector<std::string> ranks;
  std::istringstream split(board);
  for (std::string r; std::getline(split, r, '/');) ranks.insert(ranks.begin(), swapCase(r));
  for (const std::string& r : ranks) out += (out.empty() ? "" : "/") + r;
  std::string upper, lower;
  for (char c : rights) (std::isupper(c) ? upper : lower) += c;
  if (rights != "-") rights = swapCase(lower) + swapCase(upper);
  if (ep != "-") ep[1] = char('9' - (ep[1] - '0'));
  return out + (side == "w" ? " b " : " w ") + rights + " " + ep;
}

}  // namespace korvane::test
