#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "board/move_picker.h"
#include "board/notation.h"
#include "board/position.h"
#include "epd.h"

namespace korvane {
namespace {

using test::legalMoves;

// Plays random games from every reference position. After every makeMove the
// position must equal a recomputation from its bitboards (keys, lists, maps,
// rotated occupancy); after every unmake it must be bit for bit the position
// before. makeMoveQuick must agree with makeMove on legality and restore too.
TEST(Position, RandomPlayMakeUnmakeIdentity) {
  std::mt19937 rng(20261206);
  int pairs = 0;
  for (const auto& c : test::loadPerftCases()) {
    for (int game = 0; game < 8; ++game) {
      Position pos;
      ASSERT_NE(setFen(pos, c.fen.c_str()), nullptr);
      std::vector<Position> before;
      std::vector<MoveUndo> undos(120);
      int ply = 0;
      for (; ply < 100; ++ply) {
        // Every generated move: quick make and full make agree and restore.
        MoveEntry buffer[MAX_MOVES];
        MoveEntry* top = buffer;
        HistoryTable history;
        MovePicker picker(Move(), top, pos, history, false, false, nullptr);
        const Position snapshot = pos;
        for (const MoveEntry* e = picker.begin(); e < picker.end(); ++e) {
          MoveUndo u;
          saveState(u, pos);
          const bool quick = makeMoveQuick(pos, e->move, u);
          if (quick) unmakeMove(u);
          ASSERT_TRUE(samePosition(pos, snapshot));
          saveState(u, pos);
          const bool full = makeMove(pos, e->move, u);
          EXPECT_EQ(quick, full) << c.fen;
          if (full) {
            EXPECT_TRUE(isConsistent(pos)) << c.fen;
            unmakeMove(u);
          }
          ASSERT_TRUE(samePosition(pos, snapshot)) << c.fen;
          ++pairs;
        }
        const auto moves = legalMoves(pos);
        if (moves.empty()) break;
        before.push_back(pos);
        saveState(undos[ply], pos);
        ASSERT_TRUE(makeMove(pos, moves[rng() % moves.size()], undos[ply]));
        ASSERT_TRUE(isConsistent(pos));
      }
      while (!before.empty()) {
        unmakeMove(undos[--ply]);
        ASSERT_TRUE(samePosition(pos, before.back()));
        before.pop_back();
      }
    }
  }
  EXPECT_GT(pairs, 100000);
}

// Single moves: the en-passant square only when a pawn can take (and then
// in the key), the victim of en passant removed, castling rights lost with
// the king or a rook, a move into check refused without a trace.
TEST(Position, MoveEffects) {
  struct Case {
    const char* fen;
    Move move;
    bool legal;
    int ep, castling, blackPawns;
  };
  const Case cases[] = {
      {"4k3/8/8/8/3p4/8/4P1P1/4K3 w - - 0 1", Move(52, 36, PAWN), true, 44, 0, 1},  // e2e4 beside d4
      {"4k3/8/8/8/3p4/8/4P1P1/4K3 w - - 0 1", Move(54, 38, PAWN), true, NO_SQUARE, 0, 1},
      {"4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1", Move(28, 19, PAWN), true, NO_SQUARE, 0, 0},  // e5xd6
      {"r3k2r/8/8/8/8/8/6b1/R3K2R b KQkq - 0 1", Move(54, 63, BISHOP), true, NO_SQUARE,
       WHITE_OOO | BLACK_OO | BLACK_OOO, 0},
      {"r3k2r/8/8/8/8/8/6b1/R3K2R b KQkq - 0 1", Move(4, 5, KING), true, NO_SQUARE, WHITE_OO | WHITE_OOO, 0},
      {"4k3/4r3/8/8/8/8/4N3/4K3 w - - 0 1", Move(52, 35, KNIGHT), false, NO_SQUARE, 0, 0},
  };
  for (const Case& c : cases) {
    Position pos = test::fromFen(c.fen);
    const Position snapshot = pos;
    MoveUndo u;
    saveState(u, pos);
    ASSERT_EQ(makeMove(pos, c.move, u), c.legal) << c.fen;
    if (c.legal) {
      EXPECT_EQ(pos.epSquare, c.ep) << c.fen;
      EXPECT_EQ(pos.castling, c.castling) << c.fen;
      EXPECT_EQ(pos.side[BLACK].count[PAWN], c.blackPawns) << c.fen;
      EXPECT_TRUE(isConsistent(pos)) << c.fen;
      Position noEp = pos;
      noEp.epSquare = NO_SQUARE;
      computeHashKeys(noEp);
      EXPECT_EQ(pos.key == noEp.key, c.ep == NO_SQUARE) << c.fen;
      unmakeMove(u);
    } else {
      EXPECT_EQ(u.saved64Count, 0);
      EXPECT_EQ(u.saved32Count, 0);
    }
    EXPECT_TRUE(samePosition(pos, snapshot)) << c.fen;
  }
}

}  // namespace
}  // namespace korvane
