#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "../board/epd.h"
#include "board/notation.h"
#include "eval/evaluator.h"
#include "eval/material.h"
#include "eval_helpers.h"

namespace korvane {
namespace {

using test::flippedFen;
using test::fromFen;
using test::legalMoves;

TEST(Evaluator, StartPositionIsTempoOnly) {
  Evaluator ev;
  for (const char* fen : {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
                          "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1"}) {
    Position pos = fromFen(fen);
    EXPECT_EQ(ev.evaluate(pos), 34) << fen;
    EXPECT_EQ(ev.materialScore(false), 0);
    EXPECT_EQ(ev.baseMaterial(), 0);
    EXPECT_EQ(ev.positionalScore(pos), 33);
    EXPECT_EQ(ev.evaluate(pos), 34) << "second call, caches warm";
  }
}

// Every position reached by random play from the reference positions must
// evaluate exactly like its colour-flipped twin: no term favours a colour.
// (The lone-pawn draw of opposite-coloured bishops applies its "bishop not
// attacked" condition to both colours; see the specialist tests.)
TEST(Evaluator, ColourSymmetry) {
  std::mt19937 rng(4242);
  Evaluator ev;
  int checked = 0;
  for (const auto& c : test::loadPerftCases()) {
    for (int line = 0; line < 2; ++line) {
      Position pos = fromFen(c.fen);
      MoveUndo undos[40];
      for (int ply = 0; ply < 40; ++ply) {
        const std::string twinFen = flippedFen(pos);
        Position twin = fromFen(twinFen);
        const int e = ev.evaluate(pos);
        const int pawnMg = ev.pawnEntry().mg, pawnEg = ev.pawnEntry().eg;
        const int material = ev.materialScore(false);
        ASSERT_EQ(ev.evaluate(twin), e) << positionToFen(pos) << "  vs  " << twinFen;
        EXPECT_EQ(ev.pawnEntry().mg, -pawnMg) << positionToFen(pos);
        EXPECT_EQ(ev.pawnEntry().eg, -pawnEg) << positionToFen(pos);
        EXPECT_EQ(ev.materialScore(false), -material) << positionToFen(pos);
        ++checked;
        const std::vector<Move> moves = legalMoves(pos);
        if (moves.empty()) break;
        saveState(undos[ply], pos);
        ASSERT_TRUE(makeMove(pos, moves[rng() % moves.size()], undos[ply]));
      }
    }
  }
  EXPECT_GT(checked, 300);
}

TEST(Evaluator, MaterialTermAndCache) {
  Evaluator ev;
  ev.setNeuroMaterial(0);
  // Identical piece counts: 0, never stored, the network never asked.
  const std::uint64_t calls = ev.net().forwardCalls();
  Position equal = fromFen("r1bqk2r/pp3ppp/2n5/8/8/2N5/PP3PPP/R1BQK2R w KQkq - 0 1");
  ev.setNeuroMaterial(100);
  ev.evaluate(equal);
  EXPECT_EQ(ev.materialScore(false), 0);
  EXPECT_EQ(ev.cachedMaterial(materialKey(equal)), nullptr);
  EXPECT_EQ(ev.net().forwardCalls(), calls);

  // Bishop pair: 49 for a side with two bishops, cancelling when both have them.
  ev.setNeuroMaterial(0);
  Position pair = fromFen("4k3/pppppppp/2n2n2/8/8/2B2B2/PPPPPPPP/4K3 w - - 0 1");
  ev.evaluate(pair);
  EXPECT_EQ(ev.materialScore(false), 70 + 49);  // 2 x (3254 - 3219); 8960 / 29046 rounds to 0
  ASSERT_NE(ev.cachedMaterial(materialKey(pair)), nullptr);
  EXPECT_EQ(ev.cachedMaterial(materialKey(pair))->score, 119);
  Position pairs = fromFen("2b1kb2/pppppppp/8/8/8/8/PPPPPPPP/1NB1KB2 w - - 0 1");
  ev.evaluate(pairs);
  EXPECT_EQ(ev.materialScore(false), 3219 + 12);  // 128 * 3219 / 32335
  EXPECT_EQ(ev.net().forwardCalls(), calls) << "NeuroMaterial 0 never runs the network";

  // NeuroMaterial 100: the network alone; 35: the blend.
  Position extra = fromFen("r3k3/pppppppp/8/8/8/8/PPPPPPPP/RN2K3 w - - 0 1");
  ev.setNeuroMaterial(100);
  ev.evaluate(extra);
  EXPECT_EQ(ev.net().forwardCalls(), calls + 2);
  ev.setNeuroMaterial(35);
  ev.evaluate(extra);
  ev.evaluate(extra);
  EXPECT_EQ(ev.net().forwardCalls(), calls + 4) << "a cached configuration does not run the network again";
}

TEST(Evaluator, IncrementalMaterial) {
  Evaluator ev;
  ev.setNeuroMaterial(0);
  // White is a knight up; after Rxa8 Black is also a rook down. Both
  // configurations belong to the default specialist.
  Position pos = fromFen("r3k3/pppppppp/8/8/8/8/PPPPPPPP/RN2K3 w - - 0 1");
  ev.evaluate(pos);
  const int base = ev.baseMaterial();
  EXPECT_EQ(base, 3219 + 14);  // 128 * 3219 / 29257
  MoveUndo undo;
  saveState(undo, pos);
  ASSERT_TRUE(makeMove(pos, Move(test::sq("a1"), test::sq("a8"), ROOK), undo));
  EXPECT_EQ(ev.materialScore(true), 8188 + 43 - base);  // 128 * 8188 / 24288
  EXPECT_EQ(ev.baseMaterial(), base) << "the incremental form leaves the base alone";
  EXPECT_EQ(ev.specialist(), ev.specialists().get(SP_DEFAULT));
  unmakeMove(undo);
  EXPECT_EQ(ev.materialScore(true), 0);

  // Capturing into identical counts: the material is 0, so the difference is -base.
  Position even = fromFen("rn2k3/pppppppp/2N5/8/8/8/PPPPPPPP/RN2K3 b - - 0 1");
  ev.evaluate(even);
  const int evenBase = ev.baseMaterial();
  EXPECT_EQ(evenBase, 3219 + 11);  // 128 * 3219 / 35695
  saveState(undo, even);
  ASSERT_TRUE(makeMove(even, Move(test::sq("b7"), test::sq("c6"), PAWN), undo));
  EXPECT_EQ(ev.materialScore(true), -evenBase);
  unmakeMove(undo);

  // Another specialist after the move: the sentinel, signed for the side to move.
  Position rooks = fromFen("r3k3/8/8/8/8/8/4P3/R5K1 w - - 0 1");
  ev.evaluate(rooks);
  EXPECT_EQ(ev.specialist(), ev.specialists().get(SP_KRP_KR));
  saveState(undo, rooks);
  ASSERT_TRUE(makeMove(rooks, Move(test::sq("a1"), test::sq("a8"), ROOK), undo));
  EXPECT_EQ(ev.materialScore(true), -MATERIAL_CHANGED);
  unmakeMove(undo);
  Position rooksBlack = fromFen("r3k3/8/8/8/8/8/4P3/R5K1 b - - 0 1");
  ev.evaluate(rooksBlack);
  saveState(undo, rooksBlack);
  ASSERT_TRUE(makeMove(rooksBlack, Move(test::sq("a8"), test::sq("a1"), ROOK), undo));
  EXPECT_EQ(ev.materialScore(true), MATERIAL_CHANGED);
  unmakeMove(undo);
}

TEST(Evaluator, PawnEntry) {
  Evaluator ev;
  // d4 + e4 against nothing: square tables 2 x 114, big centre 23, passed 2 x 67
  // (mg); square tables 2 x -73, passed 2 x 83, one island -15, passers on
  // adjacent files -29 + 32 (eg).
  Position pos = fromFen("4k3/8/8/8/3PP3/8/8/4K3 w - - 0 1");
  ev.evaluate(pos);
  const PawnEntry& e = ev.pawnEntry();
  EXPECT_EQ(e.mg, 228 + 23 + 134);
  EXPECT_EQ(e.eg, -146 + 166 - 15 + 3);
  EXPECT_EQ(e.passed[WHITE], bit(35) | bit(36));
  EXPECT_EQ(e.openFileCount, 6);
  const PawnEntry* first = &e;

  // The same pawns with other pieces: the same table entry.
  Position other = fromFen("3qk3/8/8/8/3PP3/8/8/3QK3 b - - 0 1");
  ev.evaluate(other);
  EXPECT_EQ(&ev.pawnEntry(), first);

  // Black's c7 has no pawn beside or behind it and its stop square c6 is
  // attacked by b5 and d5: backward, and c6 becomes a White outpost.
  Position structure = fromFen("4k3/2p5/8/1P1P4/8/8/8/4K3 w - - 0 1");
  ev.evaluate(structure);
  const PawnEntry& s = ev.pawnEntry();
  EXPECT_EQ(s.backward[BLACK], bit(10));        // c7: c6 is attacked by b5 and d5
  EXPECT_EQ(s.outposts[WHITE] & bit(18), bit(18));  // c6 becomes a White outpost
  EXPECT_EQ(s.passed[WHITE], 0u);                // c7 stops both
  EXPECT_EQ(s.passed[BLACK], 0u);

  // Worked by hand, pawn by pawn (mg, eg from White's view).
  // a2 b2 against a7: square tables a2 -55/-163, b2 -55/-117, a7 -55/-163;
  // a7 isolated on the a-file -84/-84; one island each -15 (eg); a2 and b2
  // are a majority of non-passed pawns: 2 x -9 (eg).
  //   mg -110 - (-55 - 84) = 29; eg (-295) - (-262) - 18 = -51.
  // With b3 added (table -38/-98), b3 is doubled (-98/-93) and the doubled
  // group earns no majority:
  //   mg -246 - (-139) = -107; eg (-163 - 117 - 98 - 93 - 15) - (-262) = -224.
  struct Structure {
    const char* fen;
    int mg, eg;
  };
  for (const Structure& c : {Structure{"4k3/p7/8/8/8/8/PP6/4K3 w - - 0 1", 29, -51},
                             Structure{"4k3/p7/8/8/8/1P6/PP6/4K3 w - - 0 1", -107, -224}}) {
    ev.evaluate(fromFen(c.fen));
    EXPECT_EQ(ev.pawnEntry().mg, c.mg) << c.fen;
    EXPECT_EQ(ev.pawnEntry().eg, c.eg) << c.fen;
  }

  // No pawns at all: the shared empty entry.
  Position bare = fromFen("4k3/8/8/8/8/8/8/R3K3 w - - 0 1");
  ev.evaluate(bare);
  EXPECT_EQ(ev.pawnEntry().mg, 0);
  EXPECT_EQ(ev.pawnEntry().key, 0u);
}

// The tempo (33 middlegame, 3 endgame) is all that a colour-symmetric
// position keeps, so it shows the blend by the remaining material.
TEST(Evaluator, PhaseBlendOfTheTempo) {
  Evaluator ev;
  // 42384 in all: phase (14384 * 256) / 16384 = 224; (224 * 33 + 32 * 3) / 256 = 29.
  EXPECT_EQ(ev.evaluate(fromFen("r1b1k2r/pppppppp/8/8/8/8/PPPPPPPP/R1B1K2R w - - 0 1")), 30);
  EXPECT_EQ(ev.evaluate(fromFen("r1b1k2r/pppppppp/8/8/8/8/PPPPPPPP/R1B1K2R b - - 0 1")), 30);
  // Below 28000 only the endgame tempo counts.
  EXPECT_EQ(ev.evaluate(fromFen("r3k3/pppppppp/8/8/8/8/PPPPPPPP/R3K3 w - - 0 1")), 4);
  EXPECT_EQ(ev.evaluate(fromFen("r3k3/pppppppp/8/8/8/8/PPPPPPPP/R3K3 b - - 0 1")), 4);
  // Far above 44384 only the middlegame tempo.
  EXPECT_EQ(ev.evaluate(fromFen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w - - 0 1")), 34);
}

TEST(Evaluator, StalemateShortcut) {
  Evaluator ev;
  // White: king a1 boxed in, a2 blocked by a3; a stalemate whatever the material.
  Position stale = fromFen("8/8/4b3/8/8/p7/P7/K1k5 w - - 0 1");
  EXPECT_EQ(ev.evaluate(stale), 0);
  // With an en-passant capture to play it is not a stalemate.
  Position ep = fromFen("8/8/4p3/3pP3/8/1p6/8/K1k5 w - d6 0 1");
  EXPECT_NE(ev.evaluate(ep), 0);
  Position noEp = fromFen("8/8/4p3/3pP3/8/1p6/8/K1k5 w - - 0 1");
  EXPECT_EQ(ev.evaluate(noEp), 0);
}

TEST(Evaluator, PawnlessMopUp) {
  Evaluator ev;
  ev.setNeuroMaterial(0);
  // Queen and rook against Kc4 with Ke1: material 14405 + 128 * 14405 / 14505
  // = 14532; mop-up 21 * (1 - 2 * 5) + 62 * 1 - 16 * 3 = -175; plus 3.
  EXPECT_EQ(ev.evaluate(fromFen("8/8/8/8/2k5/8/8/QR2K3 w - - 0 1")), 14532 - 175 + 3);
  EXPECT_EQ(ev.evaluate(fromFen("8/8/8/8/2k5/8/8/QR2K3 b - - 0 1")), 3 - (14532 - 175));
  // Corner defender, attacking king close: d(Z) = 3 king steps, 6 Manhattan.
  Position corner = fromFen("k7/8/2K5/8/8/8/8/8 w - - 0 1");
  EXPECT_EQ(Evaluator::mopUp(corner.side[BLACK], corner.side[WHITE]), 21 * (3 - 2 * 4) + 62 * 6 - 16 * 2);
}

// Every term of a small endgame, worked out by hand (White's view,
// NeuroMaterial 0, total material 6969: endgame terms only).
TEST(Evaluator, HandComputedEndgame) {
  Evaluator ev;
  ev.setNeuroMaterial(0);
  Position pos = fromFen("8/8/5k1p/8/P7/2K5/8/7R w - - 0 1");
  // Material: 4969 + (128 * 4969) / (6969 + 100) = 5058.
  // Mobility: Rh1 reaches 12 squares (a1-g1, h2-h6): 41.
  // Pawns: a4 table -143, isolated on the a-file -84, passed +80, one island
  //   -15: -162. h6 (mirrored h3) -166, -84, passed +5, -15: -260. 98 in all.
  // Tempo: 3.
  // Pieces: Black's h6 hangs to the rook with White to move: +160.
  // Endgame terms: kings equally central (0); races a4 44 * (5 - 2) and h6
  //   -44 * (5 - 2) cancel; king activity 3 * (22 free squares - 20) = 6.
  // 5058 + 41 + 98 + 3 + 160 + 6 = 5366, one more for the final step.
  EXPECT_EQ(ev.evaluate(pos), 5367);
  EXPECT_EQ(ev.materialScore(false), 5058);
  EXPECT_EQ(ev.pawnEntry().eg, 98);
  EXPECT_EQ(ev.positionalScore(pos), 308);
  EXPECT_EQ(ev.evaluate(fromFen(flippedFen(pos))), 5367);
}

}  // namespace
}  // namespace korvane
