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
      {"4k3/8/8/4p3/8/8/3PP3/4K3 w - - 0 1", SP_PAWN_ENDING}, {"8/8/8/4k3/8/8/8/4K3 w - - 0 1", SP_DRAW},
      {"8/8/8/4k3/8/8/8/2B1K3 w - - 0 1", SP_DRAW}, {"2n5/8/8/4k3/8/8/8/2B1K3 w - - 0 1", SP_DRAW},
      {"8/8/8/4k3/8/8/8/1N2K1N1 w - - 0 1", SP_DEAD_DRAW}, {"1n2k1n1/8/8/8/8/8/8/4K3 w - - 0 1", SP_DEAD_DRAW},
      {"8/8/8/4k3/8/8/4P3/4K3 w - - 0 1", SP_KPK_WHITE}, {"4k3/4p3/8/8/8/8/8/4K3 w - - 0 1", SP_KPK_BLACK},
      {"4k3/8/8/8/8/8/8/R3K3 w - - 0 1", SP_KMAJOR_K_WHITE}, {"q3k3/8/8/8/8/8/8/4K3 w - - 0 1", SP_KMAJOR_K_BLACK},
      {"r3k3/8/8/8/8/8/8/R3K3 w - - 0 1", SP_EQUAL_MAJORS}, {"q3k3/8/8/8/8/8/8/Q3K3 w - - 0 1", SP_EQUAL_MAJORS},
      {"r3k3/8/8/8/8/8/8/Q3K3 w - - 0 1", SP_KQ_KR}, {"q3k3/8/8/8/8/8/8/R3K3 w - - 0 1", SP_KR_KQ},
      {"n3k3/8/8/8/8/8/4P3/4K3 w - - 0 1", SP_KP_KMINOR}, {"4k3/4p3/8/8/8/8/8/B3K3 w - - 0 1", SP_KMINOR_KP},
      {"n3k3/8/8/8/8/8/8/R3K3 w - - 0 1", SP_KR_KMINOR}, {"r3k3/8/8/8/8/8/8/B3K3 w - - 0 1", SP_KMINOR_KR},
      {"n3k3/4p3/8/8/8/8/8/4K3 w - - 0 1", SP_K_KMINORP}, {"4k3/8/8/8/8/8/4P3/B3K3 w - - 0 1", SP_KMINORP_K},
      {"4k3/8/8/8/8/8/8/NB2K3 w - - 0 1", SP_KBN_K_WHITE}, {"nb2k3/8/8/8/8/8/8/4K3 w - - 0 1", SP_KBN_K_BLACK},
      {"r3k3/8/8/8/8/8/8/RN2K3 w - - 0 1", SP_KRMINOR_KR}, {"rb2k3/8/8/8/8/8/8/R3K3 w - - 0 1", SP_KR_KRMINOR},
      {"n3k3/8/8/8/8/8/8/NB2K3 w - - 0 1", SP_K2MINORS_KMINOR},
      {"nn2k3/8/8/8/8/8/8/B3K3 w - - 0 1", SP_KMINOR_K2MINORS}, {"r3k3/8/8/8/8/8/8/NN2K3 w - - 0 1", SP_K2MINORS_KR},
      {"bb2k3/8/8/8/8/8/8/R3K3 w - - 0 1", SP_KR_K2MINORS},
      {"n3k3/4p3/8/8/8/8/8/R3K3 w - - 0 1", SP_ROOK_VS_MINOR_PAWN_PLUS},
      {"r3k3/8/8/8/8/8/4P3/N3K3 w - - 0 1", SP_ROOK_VS_MINOR_PAWN_MINUS},
      {"r3k3/8/8/8/8/8/4P3/R3K3 w - - 0 1", SP_KRP_KR}, {"r3k3/4p3/8/8/8/8/8/R3K3 w - - 0 1", SP_KR_KRP},
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

// Any score: only whether the specialist settled or cut is checked.
constexpr int ANY = -99999;

// probe(): settled or not, and the score it leaves (White's view).
TEST_F(SpecialistTest, ProbeVerdicts) {
  const int v = kpkProbe(sq("d5"), sq("d6"), sq("d8"), true);  // Kd6, Pd5 against Kd8: won
  ASSERT_GT(v, 0);
  const std::string philidor = "4k3/8/r7/3KP3/8/8/8/7R w - - 0 1";
  const std::string held = "7k/8/8/1b2P3/8/8/8/K7 w - - 0 1";
  const std::string lone = "2b1k3/8/8/8/4P3/8/8/2B1K3 w - - 0 1";
  const std::string attacked = "4k3/8/8/8/4P3/3K4/2b5/2B5 w - - 0 1";
  struct Case {
    SpecialistId id;
    std::string fen;
    int in;
    bool settled;
    int out;
  };
  const Case cases[] = {
      // KPK: Kd5, Pd4 against Kd7 is drawn (1, not 0); the e-file through the
      // mirrored d-file entry; a Black pawn gives -1. Won: 8436 minus the distance.
      {SP_KPK_WHITE, "8/3k4/8/3K4/3P4/8/8/8 w - - 0 1", 0, true, 1},
      {SP_KPK_WHITE, "8/4k3/8/4K3/4P3/8/8/8 w - - 0 1", 0, true, 1},
      {SP_KPK_BLACK, "8/8/8/3p4/3k4/8/3K4/8 b - - 0 1", 0, true, -1},
      {SP_KPK_WHITE, "3k4/8/3K4/3P4/8/8/8/8 w - - 0 1", 0, true, 8436 - v},
      {SP_KPK_WHITE, "4k3/8/4K3/4P3/8/8/8/8 w - - 0 1", 0, true, 8436 - v},
      {SP_KPK_BLACK, "8/8/8/8/3p4/3k4/8/3K4 b - - 0 1", 0, true, v - 8436},
      // A major piece against the bare king: 4000 added.
      {SP_KMAJOR_K_WHITE, "4k3/8/8/8/8/8/8/R3K3 w - - 0 1", 500, false, 4500},
      {SP_KMAJOR_K_BLACK, "q3k3/8/8/8/8/8/8/4K3 w - - 0 1", -500, false, -4500},
      // Pawn against minor: the bishop on b5 holds e8 (and the twin); a pawn on
      // the seventh / sixth the bishop cannot stop gets 256 / 64; a KPK draw is
      // settled whatever the knight does; a knight in time or taking the pawn
      // draws; a knight too far, shut in, outpaced or driven off does not.
      {SP_KP_KMINOR, held, 2500, true, 1}, {SP_KMINOR_KP, test::flippedFen(held), -2500, true, -1},
      {SP_KP_KMINOR, "7k/4P3/8/8/8/8/8/K5b1 w - - 0 1", 2500, false, 256},
      {SP_KP_KMINOR, "7k/8/4P3/8/8/8/8/K5b1 w - - 0 1", 2500, false, 64},
      {SP_KP_KMINOR, "8/3k4/8/3K4/3P4/8/8/n7 w - - 0 1", 2500, true, 1},
      {SP_KP_KMINOR, "7k/8/8/4P3/8/5n2/8/K7 w - - 0 1", 2500, true, ANY},
      {SP_KP_KMINOR, "8/8/8/3n4/8/4P3/8/K6k b - - 0 1", 2500, true, 1},
      {SP_KP_KMINOR, "6n1/8/4P3/8/8/8/8/K6k w - - 0 1", 2500, true, 1},
      {SP_KP_KMINOR, "7k/4P3/8/8/8/8/8/K6n w - - 0 1", 2500, false, ANY},
      {SP_KP_KMINOR, "7n/8/6K1/8/8/8/4P3/k7 w - - 0 1", 2500, false, ANY},
      {SP_KP_KMINOR, "3n4/8/8/4K3/7P/8/8/3k4 w - - 0 1", 2500, false, ANY},
      {SP_KP_KMINOR, "8/8/8/8/3K1P2/n7/8/6k1 w - - 0 1", 2500, false, ANY},  // Nb5 is check
      // Rook and pawn against rook: Philidor and its twin; the rook attacked by
      // the king holds only with Black to move; checks from behind; a knight's
      // pawn with king and rook on the back rank (not a centre pawn); Lucena
      // (+60); checks from the long side (a draw with Black to move, else 200
      // less); the king on e6 shelters from them.
      {SP_KRP_KR, philidor, 1000, true, 1}, {SP_KR_KRP, test::flippedFen(philidor), -1000, true, -1},
      {SP_KRP_KR, "4k3/1K6/r7/4P3/8/8/8/7R w - - 0 1", 1000, false, ANY},
      {SP_KRP_KR, "4k3/1K6/r7/4P3/8/8/8/7R b - - 0 1", 1000, true, ANY},
      {SP_KRP_KR, "4k3/8/3KP3/8/8/8/7R/r7 b - - 0 1", 1000, true, 1},
      {SP_KRP_KR, "r5k1/8/6P1/5K2/8/8/8/7R w - - 0 1", 1000, true, ANY},
      {SP_KRP_KR, "r3k3/8/4P3/3K4/8/8/8/7R w - - 0 1", 1000, false, ANY},
      {SP_KRP_KR, "3K4/3P1k2/8/4R3/8/8/r7/8 w - - 0 1", 1000, false, 1060},
      {SP_KRP_KR, "6k1/8/5P2/6K1/8/8/8/r6R b - - 0 1", 1000, true, 1},
      {SP_KRP_KR, "6k1/8/5P2/6K1/8/8/8/r6R w - - 0 1", 1000, false, 800},
      {SP_KRP_KR, "6k1/8/4KP2/8/8/8/8/r6R b - - 0 1", 1000, false, 800},
      // Opposite bishops: a lone pawn whose path the other bishop controls is
      // drawn; a bishop en prise is no guard; same-coloured bishops do not hold.
      {SP_BISHOPS_PAWNS, lone, 3000, true, 1}, {SP_BISHOPS_PAWNS, test::flippedFen(lone), -3000, true, -1},
      {SP_BISHOPS_PAWNS, attacked, 3000, false, ANY}, {SP_BISHOPS_PAWNS, test::flippedFen(attacked), -3000, false, ANY},
      {SP_BISHOPS_PAWNS, "2b1k3/8/8/8/4P3/8/8/3BK3 w - - 0 1", 3000, false, ANY},
  };
  for (const Case& c : cases) {
    int out = c.in;
    EXPECT_EQ(sp(c.id).probe(fromFen(c.fen), out), c.settled) << c.fen;
    if (c.out != ANY) { EXPECT_EQ(out, c.out) << c.fen; }
  }
  // The whole evaluation keeps the settled values (side to move's view);
  // bare kings, a minor against nothing or a minor, two knights: 0.
  for (const auto& [fen, value] : std::initializer_list<std::pair<std::string, int>>{
           {"8/8/8/4k3/8/8/8/4K3 w - - 0 1", 0}, {"8/8/8/4k3/8/8/8/2B1K3 b - - 0 1", 0},
           {"2n5/8/8/4k3/8/8/8/2B1K3 w - - 0 1", 0}, {"8/8/8/4k3/8/8/8/1N2K1N1 w - - 0 1", 0},
           {"8/3k4/8/3K4/3P4/8/8/8 w - - 0 1", 1}, {"8/8/8/3p4/3k4/8/3K4/8 b - - 0 1", 1},
           {"8/8/8/8/3p4/3k4/8/3K4 b - - 0 1", 8436 - v}, {held, 1}, {philidor, 1},
           {test::flippedFen(philidor), 1}, {lone, 1}}) {
    EXPECT_EQ(evaluator.evaluate(fromFen(fen)), value) << fen;
  }
}

// probeBound(): whether it cuts, the bound and the extension it gives.
TEST_F(SpecialistTest, ProbeBounds) {
  ASSERT_GT(kpkProbe(sq("d5"), sq("d6"), sq("d8"), false), 0);
  const char* kpkWon = "3k4/8/3K4/3P4/8/8/8/8 w - - 0 1";
  const char* kpkLoser = "3k4/8/3K4/3P4/8/8/8/8 b - - 0 1";
  const char* kpkDrawn = "8/3k4/8/3K4/3P4/8/8/8 w - - 0 1";
  const char* rook = "4k3/8/8/8/8/8/8/R3K3 w - - 0 1";
  const char* runs = "7k/4P3/8/8/8/8/8/K5b1 w - - 0 1";
  struct Case {
    SpecialistId id;
    const char* fen;
    int alpha, beta, depth;
    int cut, score, extension;  // cut: 1, 0 or ANY
  };
  const Case cases[] = {
      // Bare kings: 0, and nothing is searched below.
      {SP_DRAW, "8/8/8/4k3/8/8/8/4K3 w - - 0 1", -500, 500, 20, 1, 0, -20},
      // KPK: a win cuts at beta <= 8336, from the loser's side at alpha >= -8336;
      // a draw lies in -1..1.
      {SP_KPK_WHITE, kpkWon, -100, 8336, 8, 1, 8336, ANY}, {SP_KPK_WHITE, kpkWon, -100, 8337, 8, 0, ANY, ANY},
      {SP_KPK_WHITE, kpkLoser, -8336, 0, 8, 1, -8336, ANY}, {SP_KPK_WHITE, kpkLoser, -8337, 0, 8, 0, ANY, ANY},
      {SP_KPK_WHITE, kpkDrawn, -100, -1, 8, 1, -1, ANY}, {SP_KPK_WHITE, kpkDrawn, 1, 100, 8, 1, 1, ANY},
      {SP_KPK_WHITE, kpkDrawn, -1, 1, 8, 0, ANY, ANY}, {SP_KPK_WHITE, kpkDrawn, 0, 100, 8, 0, ANY, ANY},
      // A major piece: won beyond 6969, lost below -11436 for the bare king;
      // no bound with the rook attacked, nor in stalemate.
      {SP_KMAJOR_K_WHITE, rook, -100, 6969, 8, 1, 6969, ANY}, {SP_KMAJOR_K_WHITE, rook, -100, 6970, 8, 0, ANY, ANY},
      {SP_KMAJOR_K_WHITE, "4k3/8/8/8/8/8/8/Q3K3 b - - 0 1", -11436, 0, 8, 1, -11436, ANY},
      {SP_KMAJOR_K_WHITE, "8/8/8/8/8/8/1k6/R3K3 w - - 0 1", -100, 100, 8, 0, ANY, ANY},
      {SP_KMAJOR_K_WHITE, "k7/2Q5/1K6/8/8/8/8/8 b - - 0 1", -20000, -11436, 8, 0, ANY, ANY},
      // Pawn against minor: held is 1; unsettled, the pawn side cannot lose
      // (cut at beta <= 0) and a pawn on the seventh is searched three fifths
      // of a ply deeper below depth 11; the knight exception gives no bound.
      {SP_KP_KMINOR, "7k/8/8/1b2P3/8/8/8/K7 w - - 0 1", -100, 100, 8, 1, 1, ANY},
      {SP_KP_KMINOR, runs, -100, 0, 8, 1, 0, ANY}, {SP_KP_KMINOR, runs, -100, 100, 8, 0, ANY, 3},
      {SP_KP_KMINOR, runs, -100, 100, 11, ANY, ANY, 0},
      {SP_KP_KMINOR, "k7/8/8/P7/8/8/8/K5n1 w - - 0 1", -100, -50, 8, 0, ANY, ANY},
      {SP_BISHOPS_PAWNS, "2b1k3/8/8/8/4P3/8/8/2B1K3 w - - 0 1", -100, 100, 8, 1, 1, ANY},
  };
  for (const Case& c : cases) {
    int score = 12345;
    std::int16_t extension = 0;
    const bool cut = sp(c.id).probeBound(fromFen(c.fen), score, c.alpha, c.beta, c.depth, extension);
    if (c.cut != ANY) { EXPECT_EQ(cut, c.cut == 1) << c.fen << " " << c.alpha << " " << c.beta; }
    if (c.score != ANY) { EXPECT_EQ(score, c.score) << c.fen; }
    if (c.extension != ANY) { EXPECT_EQ(extension, c.extension) << c.fen << " depth " << c.depth; }
  }
}

// scale(): the score the specialist makes of the evaluation's.
TEST_F(SpecialistTest, Scalings) {
  const char* opposite = "2b1k3/4p3/8/8/8/8/4P3/2B1K3 w - - 0 1";
  const char* same = "2b1k3/4p3/8/8/8/8/4P3/3BK3 w - - 0 1";
  const char* morePawns = "2b1k3/4p3/8/8/8/8/3PP3/2B1K3 w - - 0 1";
  const char* wide = "1n2k3/8/p6p/8/P6P/8/8/2B1K3 w - - 0 1";
  struct Case {
    SpecialistId id;
    std::string fen;
    int in, out;
  };
  const Case cases[] = {
      // Opposite bishops halve up to 800 and take 750 off beyond it; same
      // colours change nothing. With more White pawns, Black's pawns on the
      // colour its bishop does not cover count 30 each (e7 is dark).
      {SP_BISHOPS_PAWNS, opposite, 800, 400}, {SP_BISHOPS_PAWNS, opposite, 2000, 1250},
      {SP_BISHOPS_PAWNS, opposite, -800, -400}, {SP_BISHOPS_PAWNS, opposite, -2000, -1250},
      {SP_BISHOPS_PAWNS, opposite, 1000, 500}, {SP_BISHOPS_PAWNS, same, 800, 800}, {SP_BISHOPS_PAWNS, same, 2000, 2000},
      {SP_BISHOPS_PAWNS, morePawns, 2000, 2000 - 30 - 750},
      {SP_BISHOPS_PAWNS, test::flippedFen(morePawns), -2000, -2000 + 30 + 750},
      // Knights: a passed rook's pawn is worth 90 more.
      {SP_KNIGHTS_PAWNS, "1n2k3/8/8/8/P7/8/8/1N2K3 w - - 0 1", 0, 90},
      {SP_KNIGHTS_PAWNS, "1n2k3/8/8/7p/8/8/8/1N2K3 w - - 0 1", 0, -90},
      {SP_KNIGHTS_PAWNS, "1n2k3/8/8/8/4P3/8/8/1N2K3 w - - 0 1", 0, 0},
      // Queens: a passed pawn with the own king out of check, 127.
      {SP_QUEENS_PAWNS, "3qk3/8/8/8/4P3/8/8/3QK3 w - - 0 1", 0, 127},
      {SP_QUEENS_PAWNS, "4k3/8/8/8/4P2q/8/8/3QK3 w - - 0 1", 0, 0},
      {SP_QUEENS_PAWNS, "3qk3/p7/8/8/4P3/8/8/3QK3 w - - 0 1", 0, 0},
      // Bishop against knight: the wider the pawns, the better for the bishop;
      // a passer of the bishop's side 70, 40 more on a rook's file.
      {SP_BISHOP_KNIGHT, wide, 0, 100}, {SP_BISHOP_KNIGHT, "1n2k3/8/4p3/8/4P3/8/8/2B1K3 w - - 0 1", 0, -75},
      {SP_BISHOP_KNIGHT, test::flippedFen(wide), 0, -100},
      {SP_BISHOP_KNIGHT, "1n2k3/8/7p/8/P6P/8/8/2B1K3 w - - 0 1", 0, 70 + 40 + 100},
  };
  for (const Case& c : cases) EXPECT_EQ(scale(c.id, fromFen(c.fen), c.in), c.out) << c.fen << " " << c.in;

  // Differences between twins. Blocked pawns, no passer: the opposition
  // (-120 for the side to move), none at an odd distance, half where a pawn
  // can still move; a weak pawn (blocked, undefended) the knight reaches: 20.
  const auto diff = [&](SpecialistId id, const char* a, const char* b) {
    return scale(id, fromFen(a), 0) - scale(id, fromFen(b), 0);
  };
  EXPECT_EQ(diff(SP_PAWN_ENDING, "8/8/2k5/4p3/4P3/8/2K5/8 w - - 0 1", "8/8/2k5/4p3/4P3/8/2K5/8 b - - 0 1"), -120);
  EXPECT_EQ(diff(SP_PAWN_ENDING, "8/8/1k6/4p3/4P3/8/2K5/8 w - - 0 1", "8/8/1k6/4p3/4P3/8/2K5/8 b - - 0 1"), 0);
  EXPECT_EQ(diff(SP_PAWN_ENDING, "8/8/2k5/4p3/4P2p/7P/2K3P1/8 w - - 0 1", "8/8/2k5/4p3/4P2p/7P/2K3P1/8 b - - 0 1"),
            -60);
  EXPECT_EQ(diff(SP_BISHOP_KNIGHT, "4k3/8/8/p7/P7/8/8/4K1Bn w - - 0 1", "4k3/8/8/p7/P7/8/1n6/4K1B1 w - - 0 1"), 20);
}

}  // namespace
}  // namespace korvane
