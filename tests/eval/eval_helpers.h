// Small helpers shared by the evaluation tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/move_picker.h"
#include "board/notation.h"
#include "board/position.h"

namespace korvane::test {

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
  MoveUndo undo;
  saveState(undo, pos);
  for (const MoveEntry* e = picker.begin(); e < picker.end(); ++e) {
    if (makeMove(pos, e->move, undo)) {
      moves.push_back(e->move);
      unmakeMove(undo);
    }
  }
  return moves;
}

// The colour-flipped twin: board mirrored top to bottom, colours, side to
// move, castling rights and the en-passant square exchanged. Castling rights
// are written by rook file so that Chess960 set-ups flip exactly.
inline std::string flippedFen(const Position& pos) {
  static constexpr char LETTERS[2][8] = {" PNBRQK", " pnbrqk"};
  std::string fen;
  for (int row = 0; row < 8; ++row) {
    int empty = 0;
    for (int file = 0; file < 8; ++file) {
      const Square s = makeSquare(7 - row, file);
      char letter = 0;
      for (int c = WHITE; c <= BLACK && !letter; ++c)
        for (int t = PAWN; t <= KING && !letter; ++t)
          if (pos.side[c].pieceBB[t] & bit(s)) letter = LETTERS[1 - c][t];
      if (!letter) {
        ++empty;
        continue;
      }
      if (empty) fen += char('0' + empty);
      empty = 0;
      fen += letter;
    }
    if (empty) fen += char('0' + empty);
    if (row < 7) fen += '/';
  }
  fen += pos.whiteToMove ? " b " : " w ";
  std::string rights;
  for (Color c : {BLACK, WHITE}) {  // the flipped White's rights are Black's
    const SideState& s = pos.side[c];
    const char base = c == BLACK ? 'A' : 'a';
    const int shortBit = c == WHITE ? WHITE_OO : BLACK_OO;
    const int longBit = c == WHITE ? WHITE_OOO : BLACK_OOO;
    if ((pos.castling & shortBit) && s.kingsideRookSquare >= 0) rights += char(base + fileOf(s.kingsideRookSquare));
    if ((pos.castling & longBit) && s.queensideRookSquare >= 0) rights += char(base + fileOf(s.queensideRookSquare));
  }
  fen += rights.empty() ? "-" : rights;
  fen += ' ';
  if (pos.epSquare >= 0) {
    const Square ep = pos.epSquare ^ 56;
    fen += char('a' + fileOf(ep));
    fen += char('8' - rowOf(ep));
  } else {
    fen += '-';
  }
  return fen;
}

}  // namespace korvane::test
