// The material classifier and the endgame specialists: which configuration
// gets which specialist, and the verdicts, bounds and scalings they give.

#include <gtest/gtest.h>

#include <string>

#include "eval/evaluator.h"
#include "eval/material.h"
#include "eval/endgame.h"
#include "eval_helpers.h"

namespace korvane {
namespace {

using test::fromFen;
using test::sq;
using namespace endgame;

class SpecialistTest : public ::testing::Test {
 protected:
  const EndgameSpecialist& sp(SpecialistId id) { return *evaluator.specialists().get(id); }

  // probeBound with an open window and depth below every depth rule.
  struct Bound {
    bool cut;
    int score;
    int extension;
  };
  Bound bound(SpecialistId id, const Position& pos, int alpha, int beta, int depth = 8) {
    Bound b{false, 12345, 0};
    std::int16_t ext = 0;
    b.cut = sp(id).probeBound(pos, b.score, alpha, beta, depth, ext);
    b.extension = ext;
    return b;
  }
  // probe with a given incoming score.
  std::pair<bool, int> probe(SpecialistId id, const Position& pos, int score = 0) {
    const bool settled = sp(id).probe(pos, score);
    return {settled, score};
  }
  int scale(SpecialistId id, const Position& pos, int score) {
    evaluator.evaluate(pos);  // the pawn entry some scalings read
    return sp(id).scale(pos, evaluator, score);
  }

  Evaluator evaluator;
};

TEST_F(SpecialistTest, EveryConfigurationReachesItsSpecialist) {
  struct Case {
    const char* fen;
    SpecialistId id;
  };
  const Case cases[] = {
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", SP_DEFAULT},
      {"rq2k3/8/8/8/8/8/8/R3K3 w - - 0 1", SP_DEFAULT},  // five pieces without a rule
      {"4k3/8/8/4p3/8/8/3PP3/4K3 w - - 0 1", SP_PAWN_ENDING},
      {"8/8/8/4k3/8/8/8/4K3 w - - 0 1", SP_DRAW},
      {"8/8/8/4k3/8/8/8/2B1K3 w - - 0 1", SP_DRAW},
      {"2n5/8/8/4k3/8/8/8/2B1K3 w - - 0 1", SP_DRAW},
      {"8/8/8/4k3/8/8/8/1N2K1N1 w - - 0 1", SP_DEAD_DRAW},
      {"1n2k1n1/8/8/8/8/8/8/4K3 w - - 0 1", SP_DEAD_DRAW},
      {"8/8/8/4k3/8/8/4P3/4K3 w - - 0 1", SP_KPK_WHITE},
      {"4k3/4p3/8/8/8/8/8/4K3 w - - 0 1", SP_KPK_BLACK},
      {"4k3/8/8/8/8/8/8/R3K3 w - - 0 1", SP_KMAJOR_K_WHITE},
      {"q3k3/8/8/8/8/8/8/4K3 w - - 0 1", SP_KMAJOR_K_BLACK},
      {"r3k3/8/8/8/8/8/8/R3K3 w - - 0 1", SP_EQUAL_MAJORS},
      {"q3k3/8/8/8/8/8/8/Q3K3 w - - 0 1", SP_EQUAL_MAJORS},
      {"r3k3/8/8/8/8/8/8/Q3K3 w - - 0 1", SP_KQ_KR},
      {"q3k3/8/8/8/8/8/8/R3K3 w - - 0 1", SP_KR_KQ},
      {"n3k3/8/8/8/8/8/4P3/4K3 w - - 0 1", SP_KP_KMINOR},
      {"4k3/4p3/8/8/8/8/8/B3K3 w - - 0 1", SP_KMINOR_KP},
      {"n3k3/8/8/8/8/8/8/R3K3 w - - 0 1", SP_KR_KMINOR},
      {"r3k3/8/8/8/8/8/8/B3K3 w - - 0 1", SP_KMINOR_KR},
      {"n3k3/4p3/8/8/8/8/8/4K3 w - - 0 1", SP_K_KMINORP},
      {"4k3/8/8/8/8/8/4P3/B3K3 w - - 0 1", SP_KMINORP_K},
      {"4k3/8/8/8/8/8/8/NB2K3 w - - 0 1", SP_KBN_K_WHITE},
      {"nb2k3/8/8/8/8/8/8/4K3 w - - 0 1", SP_KBN_K_BLACK},
      {"r3k3/8/8/8/8/8/8/RN2K3 w - - 0 1", SP_KRMINOR_KR},
      {"rb2k3/8/8/8/8/8/8/R3K3 w - - 0 1", SP_KR_KRMINOR},
      {"n3k3/8/8/8/8/8/8/NB2K3 w - - 0 1", SP_K2MINORS_KMINOR},
      {"nn2k3/8/8/8/8/8/8/B3K3 w - - 0 1", SP_KMINOR_K2MINORS},
      {"r3k3/8/8/8/8/8/8/NN2K3 w - - 0 1", SP_K2MINORS_KR},
      {"bb2k3/8/8/8/8/8/8/R3K3 w - - 0 1", SP_KR_K2MINORS},
      {"n3k3/4p3/8/8/8/8/8/R3K3 w - - 0 1", SP_ROOK_VS_MINOR_PAWN_PLUS},
      {"r3k3/8/8/8/8/8/4P3/N3K3 w - - 0 1", SP_ROOK_VS_MINOR_PAWN_MINUS},
      {"r3k3/8/8/8/8/8/4P3/R3K3 w - - 0 1", SP_KRP_KR},
      {"r3k3/4p3/8/8/8/8/8/R3K3 w - - 0 1", SP_KR_KRP},
      {"r3k3/4p3/8/8/8/8/8/RN2K3 w - - 0 1", SP_ROOK_MINOR_VS_ROOK_PAWN_PLUS},
      {"rb2k3/8/8/8/8/8/4P3/R3K3 w - - 0 1", SP_ROOK_MINOR_VS_ROOK_PAWN_MINUS},
      {"4k3/4p3/8/8/8/8/4P3/4K3 w - - 0 1", SP_PAWN_ENDING},
      {"2b1k3/4p3/8/8/8/8/4P3/2B1K3 w - - 0 1", SP_BISHOPS_PAWNS},
      {"1n2k3/4p3/8/8/8/8/4P3/1N2K3 w - - 0 1", SP_KNIGHTS_PAWNS},
      {"3qk3/4p3/8/8/8/8/4P3/3QK3 w - - 0 1", SP_QUEENS_PAWNS},
      {"1n2k3/4p3/8/8/8/8/4P3/2B1K3 w - - 0 1", SP_BISHOP_KNIGHT},
      {"2b1k3/4pp2/8/8/8/8/4P3/1N2K3 w - - 0 1", SP_BISHOP_KNIGHT},
      {"1n2k3/8/8/8/8/8/PPP5/2B1K3 w - - 0 1", SP_BISHOP_KNIGHT},  // only one side has pawns
      {"r3k3/8/8/8/8/8/PPP5/1N2K3 w - - 0 1", SP_PAWNS_ONE_SIDE},
      {"r3k3/ppp5/8/8/8/8/8/R3K1N1 w - - 0 1", SP_PAWNS_ONE_SIDE},
      {"r3k3/ppp5/8/8/8/8/PP6/R3K1N1 w - - 0 1", SP_DEFAULT},
  };
  bool reached[SPECIALIST_COUNT] = {};
  for (const Case& c : cases) {
    Position pos = fromFen(c.fen);
    const EndgameSpecialist* got = classifyMaterial(pos, evaluator.specialists());
    EXPECT_EQ(evaluator.specialists().idOf(got), c.id) << c.fen;
    evaluator.evaluate(pos);
    EXPECT_EQ(evaluator.specialist(), got) << "the material probe keeps the classifier's answer: " << c.fen;
    reached[evaluator.specialists().idOf(got)] = true;
  }
  for (int id = 0; id < SPECIALIST_COUNT; ++id) EXPECT_TRUE(reached[id]) << "specialist " << id;
}

TEST_F(SpecialistTest, DrawsSettleAtZero) {
  for (const char* fen : {"8/8/8/4k3/8/8/8/4K3 w - - 0 1", "8/8/8/4k3/8/8/8/2B1K3 b - - 0 1",
                          "2n5/8/8/4k3/8/8/8/2B1K3 w - - 0 1", "8/8/8/4k3/8/8/8/1N2K1N1 w - - 0 1"}) {
    Position pos = fromFen(fen);
    EXPECT_EQ(evaluator.evaluate(pos), 0) << fen;
  }
  Position bare = fromFen("8/8/8/4k3/8/8/8/4K3 w - - 0 1");
  const Bound b = bound(SP_DRAW, bare, -500, 500, 20);
  EXPECT_TRUE(b.cut);
  EXPECT_EQ(b.score, 0);
  EXPECT_EQ(b.extension, -20) << "nothing is searched below a dead draw";
  int score = 77;
  EXPECT_TRUE(sp(SP_DRAW).probeSideRelative(bare, score));
  EXPECT_EQ(score, 0);
}

TEST_F(SpecialistTest, KingAndPawnAgainstKing) {
  // Kd5, Pd4 against Kd7 with White to move is a draw: 1, not 0.
  Position drawn = fromFen("8/3k4/8/3K4/3P4/8/8/8 w - - 0 1");
  EXPECT_EQ(probe(SP_KPK_WHITE, drawn), std::make_pair(true, 1));
  EXPECT_EQ(evaluator.evaluate(drawn), 1);
  // The same on the e-file is read through the mirrored d-file entry.
  Position mirrored = fromFen("8/4k3/8/4K3/4P3/8/8/8 w - - 0 1");
  EXPECT_EQ(probe(SP_KPK_WHITE, mirrored), std::make_pair(true, 1));
  // The colour-flipped twin: a Black pawn gives -1 (White's view).
  Position black = fromFen("8/8/8/3p4/3k4/8/3K4/8 b - - 0 1");
  EXPECT_EQ(probe(SP_KPK_BLACK, black), std::make_pair(true, -1));
  EXPECT_EQ(evaluator.evaluate(black), 1);

  // Kd6, Pd5 against Kd8: won, 8436 minus the distance to the win.
  Position won = fromFen("3k4/8/3K4/3P4/8/8/8/8 w - - 0 1");
  const int v = kpkProbe(sq("d5"), sq("d6"), sq("d8"), true);
  ASSERT_GT(v, 0);
  EXPECT_EQ(probe(SP_KPK_WHITE, won), std::make_pair(true, 8436 - v));
  Position wonMirrored = fromFen("4k3/8/4K3/4P3/8/8/8/8 w - - 0 1");
  EXPECT_EQ(probe(SP_KPK_WHITE, wonMirrored), std::make_pair(true, 8436 - v));
  Position wonBlack = fromFen("8/8/8/8/3p4/3k4/8/3K4 b - - 0 1");
  EXPECT_EQ(probe(SP_KPK_BLACK, wonBlack), std::make_pair(true, v - 8436));
  EXPECT_EQ(evaluator.evaluate(wonBlack), 8436 - v);

  // Bounds: a win cuts at beta <= 8336; from the loser's side at alpha >= -8336.
  EXPECT_EQ(bound(SP_KPK_WHITE, won, -100, 8336).score, 8336);
  EXPECT_FALSE(bound(SP_KPK_WHITE, won, -100, 8337).cut);
  Position wonOtherToMove = fromFen("3k4/8/3K4/3P4/8/8/8/8 b - - 0 1");
  ASSERT_GT(kpkProbe(sq("d5"), sq("d6"), sq("d8"), false), 0);
  const Bound loser = bound(SP_KPK_WHITE, wonOtherToMove, -8336, 0);
  EXPECT_TRUE(loser.cut);
  EXPECT_EQ(loser.score, -8336);
  EXPECT_FALSE(bound(SP_KPK_WHITE, wonOtherToMove, -8337, 0).cut);
  // A draw lies in -1..1.
  EXPECT_EQ(bound(SP_KPK_WHITE, drawn, -100, -1).score, -1);
  EXPECT_EQ(bound(SP_KPK_WHITE, drawn, 1, 100).score, 1);
  EXPECT_FALSE(bound(SP_KPK_WHITE, drawn, -1, 1).cut);
  EXPECT_FALSE(bound(SP_KPK_WHITE, drawn, 0, 100).cut);
}

TEST_F(SpecialistTest, MajorPieceAgainstBareKing) {
  Position rook = fromFen("4k3/8/8/8/8/8/8/R3K3 w - - 0 1");
  EXPECT_EQ(probe(SP_KMAJOR_K_WHITE, rook, 500), std::make_pair(false, 4500));
  Position queen = fromFen("q3k3/8/8/8/8/8/8/4K3 w - - 0 1");
  EXPECT_EQ(probe(SP_KMAJOR_K_BLACK, queen, -500), std::make_pair(false, -4500));

  EXPECT_EQ(bound(SP_KMAJOR_K_WHITE, rook, -100, 6969).score, 6969);
  EXPECT_FALSE(bound(SP_KMAJOR_K_WHITE, rook, -100, 6970).cut);
  Position queenWhite = fromFen("4k3/8/8/8/8/8/8/Q3K3 b - - 0 1");
  const Bound b = bound(SP_KMAJOR_K_WHITE, queenWhite, -11436, 0);
  EXPECT_TRUE(b.cut);
  EXPECT_EQ(b.score, -11436);
  // The rook attacked by the bare king: no bound.
  Position attacked = fromFen("8/8/8/8/8/8/1k6/R3K3 w - - 0 1");
  EXPECT_FALSE(bound(SP_KMAJOR_K_WHITE, attacked, -100, 100).cut);
  // Stalemate with the queen untouched: the value is 0, no win bound.
  Position stalemate = fromFen("k7/2Q5/1K6/8/8/8/8/8 b - - 0 1");
  EXPECT_FALSE(bound(SP_KMAJOR_K_WHITE, stalemate, -20000, -11436).cut);
}

TEST_F(SpecialistTest, PawnAgainstMinorPiece) {
  // The bishop on b5 holds e8, which White does not cover: drawn, 1.
  Position held = fromFen("7k/8/8/1b2P3/8/8/8/K7 w - - 0 1");
  EXPECT_EQ(probe(SP_KP_KMINOR, held, 2500), std::make_pair(true, 1));
  EXPECT_EQ(evaluator.evaluate(held), 1);
  Bound b = bound(SP_KP_KMINOR, held, -100, 100);
  EXPECT_TRUE(b.cut);
  EXPECT_EQ(b.score, 1);
  // The twin with a Black pawn: -1 from White's view.
  Position twin = fromFen(test::flippedFen(held));
  EXPECT_EQ(probe(SP_KMINOR_KP, twin, -2500), std::make_pair(true, -1));

  // e7 with the bishop off the queening square: not settled, 256 on the seventh.
  Position runs = fromFen("7k/4P3/8/8/8/8/8/K5b1 w - - 0 1");
  EXPECT_EQ(probe(SP_KP_KMINOR, runs, 2500), std::make_pair(false, 256));
  Position sixth = fromFen("7k/8/4P3/8/8/8/8/K5b1 w - - 0 1");
  EXPECT_EQ(probe(SP_KP_KMINOR, sixth, 2500), std::make_pair(false, 64));
  // Unsettled: the pawn side cannot lose (cut at beta <= 0), and a pawn on
  // the seventh is searched three fifths of a ply deeper below depth 11.
  b = bound(SP_KP_KMINOR, runs, -100, 0);
  EXPECT_TRUE(b.cut);
  EXPECT_EQ(b.score, 0);
  b = bound(SP_KP_KMINOR, runs, -100, 100, 8);
  EXPECT_FALSE(b.cut);
  EXPECT_EQ(b.extension, 3);
  EXPECT_EQ(bound(SP_KP_KMINOR, runs, -100, 100, 11).extension, 0);

  // KPK says draw (Kd5, Pd4 against Kd7): settled whatever the knight does.
  Position kpkDraw = fromFen("8/3k4/8/3K4/3P4/8/8/n7 w - - 0 1");
  EXPECT_EQ(probe(SP_KP_KMINOR, kpkDraw, 2500), std::make_pair(true, 1));

  // The knight reaches the pawn's path in time.
  Position knightInTime = fromFen("7k/8/8/4P3/8/5n2/8/K7 w - - 0 1");
  EXPECT_TRUE(probe(SP_KP_KMINOR, knightInTime, 2500).first);
  Position knightTooFar = fromFen("7k/4P3/8/8/8/8/8/K6n w - - 0 1");
  EXPECT_FALSE(probe(SP_KP_KMINOR, knightTooFar, 2500).first);
  // The knight takes the pawn (on e3 at once; on e7 after e6-e7): drawn.
  for (const char* fen : {"8/8/8/3n4/8/4P3/8/K6k b - - 0 1", "6n1/8/4P3/8/8/8/8/K6k w - - 0 1"}) {
    EXPECT_EQ(probe(SP_KP_KMINOR, fromFen(fen), 2500), std::make_pair(true, 1)) << fen;
  }
  // White wins: the knight is shut in by the king (Kg6 against Nh8), the king
  // escorts the pawn (Ke5, Ph4 against Nd8), the king drives the knight off
  // (Kd4, Pf4 against Na3, where Nb5 is check).
  for (const char* fen : {"7n/8/6K1/8/8/8/4P3/k7 w - - 0 1", "3n4/8/8/4K3/7P/8/8/3k4 w - - 0 1",
                          "8/8/8/8/3K1P2/n7/8/6k1 w - - 0 1"}) {
    EXPECT_FALSE(probe(SP_KP_KMINOR, fromFen(fen), 2500).first) << fen;
  }

  // Knight exception: rook's pawn and the defending king in a corner zone, the
  // knight may stand in its own king's way; no bound at all.
  Position exception = fromFen("k7/8/8/P7/8/8/8/K5n1 w - - 0 1");
  EXPECT_FALSE(bound(SP_KP_KMINOR, exception, -100, -50).cut);
}

TEST_F(SpecialistTest, RookAndPawnAgainstRook) {
  // Philidor: king on the queening square, rook on the sixth, pawn on the fifth.
  Position philidor = fromFen("4k3/8/r7/3KP3/8/8/8/7R w - - 0 1");
  EXPECT_EQ(probe(SP_KRP_KR, philidor, 1000), std::make_pair(true, 1));
  EXPECT_EQ(evaluator.evaluate(philidor), 1);
  Position twin = fromFen(test::flippedFen(philidor));
  EXPECT_EQ(probe(SP_KR_KRP, twin, -1000), std::make_pair(true, -1));
  EXPECT_EQ(evaluator.evaluate(twin), 1);
  // The defending rook attacked by the king, White to move: not settled.
  Position rookAttacked = fromFen("4k3/1K6/r7/4P3/8/8/8/7R w - - 0 1");
  EXPECT_FALSE(probe(SP_KRP_KR, rookAttacked, 1000).first);
  // ... but with Black to move the rook simply holds the rank.
  Position rookAttackedBlack = fromFen("4k3/1K6/r7/4P3/8/8/8/7R b - - 0 1");
  EXPECT_TRUE(probe(SP_KRP_KR, rookAttackedBlack, 1000).first);
  // Pawn on the sixth, checks from behind off the first rank, Black to move.
  Position checksFromBehind = fromFen("4k3/8/3KP3/8/8/8/7R/r7 b - - 0 1");
  EXPECT_EQ(probe(SP_KRP_KR, checksFromBehind, 1000), std::make_pair(true, 1));
  // Knight's pawn: king and rook together on the back rank.
  Position backRank = fromFen("r5k1/8/6P1/5K2/8/8/8/7R w - - 0 1");
  EXPECT_TRUE(probe(SP_KRP_KR, backRank, 1000).first);
  Position centrePawnBackRank = fromFen("r3k3/8/4P3/3K4/8/8/8/7R w - - 0 1");
  EXPECT_FALSE(probe(SP_KRP_KR, centrePawnBackRank, 1000).first);
  // Pawn on the seventh, king beside it, own rook on the fifth: +60.
  Position lucena = fromFen("3K4/3P1k2/8/4R3/8/8/r7/8 w - - 0 1");
  EXPECT_EQ(probe(SP_KRP_KR, lucena, 1000), std::make_pair(false, 1060));
  // Checks from the long side: rook far away, defending king on the short side
  // ahead of the pawn: 200 less, a draw with Black to move.
  Position longSide = fromFen("6k1/8/5P2/6K1/8/8/8/r6R b - - 0 1");
  EXPECT_EQ(probe(SP_KRP_KR, longSide, 1000), std::make_pair(true, 1));
  Position longSideWhite = fromFen("6k1/8/5P2/6K1/8/8/8/r6R w - - 0 1");
  EXPECT_EQ(probe(SP_KRP_KR, longSideWhite, 1000), std::make_pair(false, 800));
  // The White king on e6 covers the checks from the a-file side.
  Position sheltered = fromFen("6k1/8/4KP2/8/8/8/8/r6R b - - 0 1");
  EXPECT_EQ(probe(SP_KRP_KR, sheltered, 1000), std::make_pair(false, 800));
}

TEST_F(SpecialistTest, PawnEndingOpposition) {
  // Blocked pawns, no passer: only the opposition depends on the side to move.
  Position white = fromFen("8/8/2k5/4p3/4P3/8/2K5/8 w - - 0 1");
  Position black = fromFen("8/8/2k5/4p3/4P3/8/2K5/8 b - - 0 1");
  EXPECT_EQ(scale(SP_PAWN_ENDING, white, 0) - scale(SP_PAWN_ENDING, black, 0), -120);
  // Odd distance: no opposition term.
  Position odd = fromFen("8/8/1k6/4p3/4P3/8/2K5/8 w - - 0 1");
  Position oddBlack = fromFen("8/8/1k6/4p3/4P3/8/2K5/8 b - - 0 1");
  EXPECT_EQ(scale(SP_PAWN_ENDING, odd, 0), scale(SP_PAWN_ENDING, oddBlack, 0));
  // A pawn that can still move (g2, not passed) spares its side the penalty.
  Position free = fromFen("8/8/2k5/4p3/4P2p/7P/2K3P1/8 w - - 0 1");
  Position freeBlack = fromFen("8/8/2k5/4p3/4P2p/7P/2K3P1/8 b - - 0 1");
  EXPECT_EQ(scale(SP_PAWN_ENDING, free, 0) - scale(SP_PAWN_ENDING, freeBlack, 0), -60);
}

TEST_F(SpecialistTest, OppositeColouredBishops) {
  Position opposite = fromFen("2b1k3/4p3/8/8/8/8/4P3/2B1K3 w - - 0 1");
  EXPECT_EQ(scale(SP_BISHOPS_PAWNS, opposite, 800), 400);
  EXPECT_EQ(scale(SP_BISHOPS_PAWNS, opposite, 2000), 1250);
  EXPECT_EQ(scale(SP_BISHOPS_PAWNS, opposite, -800), -400);
  EXPECT_EQ(scale(SP_BISHOPS_PAWNS, opposite, -2000), -1250);
  EXPECT_EQ(scale(SP_BISHOPS_PAWNS, opposite, 1000), 500);
  Position same = fromFen("2b1k3/4p3/8/8/8/8/4P3/3BK3 w - - 0 1");
  EXPECT_EQ(scale(SP_BISHOPS_PAWNS, same, 800), 800);
  EXPECT_EQ(scale(SP_BISHOPS_PAWNS, same, 2000), 2000);
  // More White pawns: Black's pawns on the colour its bishop does not cover
  // count 30 each (e7 is dark, Black's bishop light).
  Position morePawns = fromFen("2b1k3/4p3/8/8/8/8/3PP3/2B1K3 w - - 0 1");
  EXPECT_EQ(scale(SP_BISHOPS_PAWNS, morePawns, 2000), 2000 - 30 - 750);
  Position moreBlack = fromFen(test::flippedFen(morePawns));
  EXPECT_EQ(scale(SP_BISHOPS_PAWNS, moreBlack, -2000), -2000 + 30 + 750);

  // A lone pawn whose path a bishop of the other colour controls: drawn.
  Position lone = fromFen("2b1k3/8/8/8/4P3/8/8/2B1K3 w - - 0 1");
  EXPECT_EQ(probe(SP_BISHOPS_PAWNS, lone, 3000), std::make_pair(true, 1));
  EXPECT_EQ(evaluator.evaluate(lone), 1);
  Bound b = bound(SP_BISHOPS_PAWNS, lone, -100, 100);
  EXPECT_TRUE(b.cut);
  EXPECT_EQ(b.score, 1);
  Position loneTwin = fromFen(test::flippedFen(lone));
  EXPECT_EQ(probe(SP_BISHOPS_PAWNS, loneTwin, -3000), std::make_pair(true, -1));
  // The bishop en prise is no guard, for either colour of the pawn.
  Position attacked = fromFen("4k3/8/8/8/4P3/3K4/2b5/2B5 w - - 0 1");
  EXPECT_FALSE(probe(SP_BISHOPS_PAWNS, attacked, 3000).first);
  Position attackedTwin = fromFen(test::flippedFen(attacked));
  EXPECT_FALSE(probe(SP_BISHOPS_PAWNS, attackedTwin, -3000).first);
  // Same-coloured bishops do not hold the pawn.
  Position sameLone = fromFen("2b1k3/8/8/8/4P3/8/8/3BK3 w - - 0 1");
  EXPECT_FALSE(probe(SP_BISHOPS_PAWNS, sameLone, 3000).first);
}

TEST_F(SpecialistTest, MinorAndQueenEndingsWithPawns) {
  // Knights: a passed rook's pawn is worth 90 more.
  Position aPawn = fromFen("1n2k3/8/8/8/P7/8/8/1N2K3 w - - 0 1");
  EXPECT_EQ(scale(SP_KNIGHTS_PAWNS, aPawn, 0), 90);
  Position hPawnBlack = fromFen("1n2k3/8/8/7p/8/8/8/1N2K3 w - - 0 1");
  EXPECT_EQ(scale(SP_KNIGHTS_PAWNS, hPawnBlack, 0), -90);
  Position centre = fromFen("1n2k3/8/8/8/4P3/8/8/1N2K3 w - - 0 1");
  EXPECT_EQ(scale(SP_KNIGHTS_PAWNS, centre, 0), 0);

  // Queens: a passed pawn with the own king out of check, 127.
  Position queens = fromFen("3qk3/8/8/8/4P3/8/8/3QK3 w - - 0 1");
  EXPECT_EQ(scale(SP_QUEENS_PAWNS, queens, 0), 127);
  Position checked = fromFen("4k3/8/8/8/4P2q/8/8/3QK3 w - - 0 1");
  EXPECT_EQ(scale(SP_QUEENS_PAWNS, checked, 0), 0);
  Position both = fromFen("3qk3/p7/8/8/4P3/8/8/3QK3 w - - 0 1");
  EXPECT_EQ(scale(SP_QUEENS_PAWNS, both, 0), 0);

  // Bishop against knight: the wider the pawns, the better for the bishop.
  Position wide = fromFen("1n2k3/8/p6p/8/P6P/8/8/2B1K3 w - - 0 1");
  EXPECT_EQ(scale(SP_BISHOP_KNIGHT, wide, 0), 100);
  Position narrow = fromFen("1n2k3/8/4p3/8/4P3/8/8/2B1K3 w - - 0 1");
  EXPECT_EQ(scale(SP_BISHOP_KNIGHT, narrow, 0), -75);
  Position blackBishop = fromFen(test::flippedFen(wide));
  EXPECT_EQ(scale(SP_BISHOP_KNIGHT, blackBishop, 0), -100);
  // A passer of the bishop's side: 70, 40 more on a rook's file.
  Position passer = fromFen("1n2k3/8/7p/8/P6P/8/8/2B1K3 w - - 0 1");
  EXPECT_EQ(scale(SP_BISHOP_KNIGHT, passer, 0), 70 + 40 + 100);
  // A weak pawn (blocked, undefended) that the enemy knight reaches: 20.
  Position weak = fromFen("4k3/8/8/p7/P7/8/1n6/4K1B1 w - - 0 1");
  Position weakUnreached = fromFen("4k3/8/8/p7/P7/8/8/4K1Bn w - - 0 1");
  EXPECT_EQ(scale(SP_BISHOP_KNIGHT, weakUnreached, 0) - scale(SP_BISHOP_KNIGHT, weak, 0), 20);
}

}  // namespace
}  // namespace korvane
