#include <gtest/gtest.h>

#include <cmath>
#include <map>
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

// The material score as the classical formula gives it (NeuroMaterial 0).
int classicalMaterial(const Position& pos) {
  const SideState& w = pos.side[WHITE];
  const SideState& b = pos.side[BLACK];
  const int d = w.materialSum - b.materialSum;
  return d + (128 * d) / (w.materialSum + b.materialSum + 100) + (w.count[BISHOP] >= 2 ? 49 : 0) -
         (b.count[BISHOP] >= 2 ? 49 : 0);
}

// The network's own estimate in millipawns, from an independently loaded net.
int networkEstimate(const Position& pos) {
  MaterialNet net;
  EXPECT_TRUE(net.load(""));
  const SideState& w = pos.side[WHITE];
  const SideState& b = pos.side[BLACK];
  const int cls = bishopColourClass(pos);
  const double code = cls == 1 ? -1.0 : cls == 2 ? 1.0 : 0.0;
  const double in1[11] = {double(w.count[QUEEN]), double(w.count[ROOK]),   double(w.count[BISHOP]),
                          double(w.count[KNIGHT]), double(w.count[PAWN]),  double(b.count[QUEEN]),
                          double(b.count[ROOK]),   double(b.count[BISHOP]), double(b.count[KNIGHT]),
                          double(b.count[PAWN]),   code};
  const double in2[11] = {in1[5], in1[6], in1[7], in1[8], in1[9], in1[0], in1[1], in1[2], in1[3], in1[4], code};
  auto logit = [](double p) {
    p = std::min(0.98, std::max(0.02, p));
    return std::log(p / (1 - p));
  };
  const double v = -500.0 * (logit(net.forward(in1)) - logit(net.forward(in2))) / net.netScale();
  return -int(v);
}

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
  EXPECT_EQ(ev.materialScore(false), classicalMaterial(pair));
  ASSERT_NE(ev.cachedMaterial(materialKey(pair)), nullptr);
  EXPECT_EQ(ev.cachedMaterial(materialKey(pair))->score, 119);
  Position pairs = fromFen("2b1kb2/pppppppp/8/8/8/8/PPPPPPPP/1NB1KB2 w - - 0 1");
  ev.evaluate(pairs);
  EXPECT_EQ(ev.materialScore(false), 3219 + (128 * 3219) / (2 * 14508 + 3219 + 100));
  EXPECT_EQ(ev.net().forwardCalls(), calls) << "NeuroMaterial 0 never runs the network";

  // NeuroMaterial 100: the network alone; 35: the blend.
  Position extra = fromFen("r3k3/pppppppp/8/8/8/8/PPPPPPPP/RN2K3 w - - 0 1");
  ev.setNeuroMaterial(100);
  ev.evaluate(extra);
  EXPECT_EQ(ev.materialScore(false), networkEstimate(extra));
  EXPECT_EQ(ev.net().forwardCalls(), calls + 2);
  ev.setNeuroMaterial(35);
  ev.evaluate(extra);
  EXPECT_EQ(ev.materialScore(false), (65 * classicalMaterial(extra) + 35 * networkEstimate(extra)) / 100);
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
  EXPECT_EQ(base, classicalMaterial(pos));
  MoveUndo undo;
  saveState(undo, pos);
  ASSERT_TRUE(makeMove(pos, Move(test::sq("a1"), test::sq("a8"), ROOK), undo));
  EXPECT_EQ(ev.materialScore(true), classicalMaterial(pos) - base);
  EXPECT_EQ(ev.baseMaterial(), base) << "the incremental form leaves the base alone";
  EXPECT_EQ(ev.specialist(), ev.specialists().get(SP_DEFAULT));
  unmakeMove(undo);
  EXPECT_EQ(ev.materialScore(true), 0);

  // Capturing into identical counts: the material is 0, so the difference is -base.
  Position even = fromFen("rn2k3/pppppppp/2N5/8/8/8/PPPPPPPP/RN2K3 b - - 0 1");
  ev.evaluate(even);
  const int evenBase = ev.baseMaterial();
  EXPECT_EQ(evenBase, classicalMaterial(even));
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

  // No pawns at all: the shared empty entry.
  Position bare = fromFen("4k3/8/8/8/8/8/8/R3K3 w - - 0 1");
  ev.evaluate(bare);
  EXPECT_EQ(ev.pawnEntry().mg, 0);
  EXPECT_EQ(ev.pawnEntry().key, 0u);
}

// The two entries of a bucket keep the most recently used structure and
// replace the other one.
TEST(Evaluator, PawnTableBuckets) {
  // Three structures (two White pawns against a bare king) whose pawn keys
  // share a bucket.
  std::vector<std::string> sameBucket;
  std::map<std::uint64_t, std::vector<std::string>> buckets;
  for (Square a = 16; a < 56 && sameBucket.empty(); ++a)  // ranks 2 to 6: no check on e8
    for (Square b = a + 1; b < 56 && sameBucket.empty(); ++b) {
      Position pos;
      std::string board;
      for (int row = 0; row < 8; ++row) {
        int empty = 0;
        for (int file = 0; file < 8; ++file) {
          const Square s = makeSquare(row, file);
          const char piece = s == a || s == b ? 'P' : s == 4 ? 'k' : s == 60 ? 'K' : 0;
          if (!piece) {
            ++empty;
            continue;
          }
          if (empty) board += char('0' + empty);
          empty = 0;
          board += piece;
        }
        if (empty) board += char('0' + empty);
        if (row < 7) board += '/';
      }
      const std::string text = board + " w - - 0 1";
      if (!setFen(pos, text.c_str())) continue;
      auto& list = buckets[pos.pawnKey & 0x7FE];
      list.push_back(text);
      if (list.size() == 3) sameBucket = list;
    }
  ASSERT_EQ(sameBucket.size(), 3u);
  Position a = fromFen(sameBucket[0]), b = fromFen(sameBucket[1]), c = fromFen(sameBucket[2]);
  Evaluator reference;
  auto entryOf = [&](Evaluator& ev, const Position& pos) {
    ev.evaluate(pos);
    const PawnEntry* e = &ev.pawnEntry();
    EXPECT_EQ(e->key, pos.pawnKey);
    reference.clearCaches();
    reference.evaluate(pos);
    EXPECT_EQ(e->mg, reference.pawnEntry().mg);
    EXPECT_EQ(e->eg, reference.pawnEntry().eg);
    return e;
  };

  Evaluator ev;
  const PawnEntry* first = entryOf(ev, a);  // empty bucket: the first entry
  const PawnEntry* second = entryOf(ev, b);  // the first was used last: the second
  EXPECT_EQ(second, first + 1);
  EXPECT_EQ(entryOf(ev, a), first);  // a hit; now a is the recent one
  EXPECT_EQ(entryOf(ev, c), second) << "c replaces b, not the recently used a";
  EXPECT_EQ(entryOf(ev, a), first) << "a survived";
  EXPECT_EQ(entryOf(ev, c), second);
  EXPECT_EQ(entryOf(ev, b), first) << "c was used last: b replaces a";
  EXPECT_EQ(entryOf(ev, c), second);
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
  // Queen and rook against a bare king: material plus the mop-up, plus 3.
  Position win = fromFen("8/8/8/8/2k5/8/8/QR2K3 w - - 0 1");
  const int m = classicalMaterial(win);
  const int mop = Evaluator::mopUp(win.side[BLACK], win.side[WHITE]);
  EXPECT_EQ(ev.evaluate(win), m + mop + 3);
  Position winBlack = fromFen("8/8/8/8/2k5/8/8/QR2K3 b - - 0 1");
  EXPECT_EQ(ev.evaluate(winBlack), 3 - (m + mop));

  // Corner defender, attacking king close: d(Z) = 3 king steps, 6 Manhattan.
  Position corner = fromFen("k7/8/2K5/8/8/8/8/8 w - - 0 1");
  EXPECT_EQ(Evaluator::mopUp(corner.side[BLACK], corner.side[WHITE]), 21 * (3 - 2 * 4) + 62 * 6 - 16 * 2);

  // Equal material without a specialist verdict: both terms apply.
  Position equal = fromFen("r2r4/8/8/3k4/8/8/8/R2RK3 b - - 0 1");
  ASSERT_EQ(ev.evaluate(equal), 3 - (Evaluator::mopUp(equal.side[BLACK], equal.side[WHITE]) -
                                     Evaluator::mopUp(equal.side[WHITE], equal.side[BLACK])));
  EXPECT_NE(ev.evaluate(equal), 3) << "the kings stand differently: the terms do not cancel";
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
