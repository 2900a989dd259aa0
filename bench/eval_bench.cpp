// Evaluation speed: evaluations per second over a fixed set of middlegame and
// endgame positions, once with warm caches (the positions and their one-move
// successors evaluated over and over by one evaluator) and once with cold
// caches (each evaluation right after the pawn table and material cache were
// cleared, so that both are computed from scratch).
//
// Usage: korvane_evalbench [rounds]   (default 1000 warm passes over all
// positions; a quarter as many cold passes over a sample of 64 of them)
// The signature line sums all evaluations; it changes only when the
// evaluation itself changes.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "board/move_picker.h"
#include "board/notation.h"
#include "eval/evaluator.h"

namespace {

using namespace korvane;
using Clock = std::chrono::steady_clock;

const char* const POSITIONS[] = {
    // Middlegames.
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10",
    "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8",
    "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP2BPPP/R2QKB1R w KQ - 0 8",
    "r2qr1k1/1b1nbppp/p2p1n2/1pp1p3/4P3/2PP1N1P/PPBN1PP1/R1BQR1K1 w - - 0 13",
    "2rq1rk1/pb2bppp/1p2pn2/2p5/2PP4/P1NBPN2/1P3PPP/R2Q1RK1 b - - 0 13",
    "r1b2rk1/2q1bppp/p2ppn2/1p6/3NP3/1BN1B3/PPP1QPPP/R4RK1 w - - 0 12",
    "3r1rk1/p1q2ppp/1pn1p3/2b5/2P1N3/1P3N2/PB2QPPP/3R1RK1 b - - 0 17",
    "r4rk1/pp3ppp/2n1b3/q1pp4/3P4/P1PBPN2/5PPP/R2Q1RK1 w - - 0 14",
    "2kr3r/ppp2ppp/2n1bn2/2b1p1q1/4P3/2NP1N2/PPPQBPPP/R3K2R w KQ - 4 9",
    "r1bqk2r/pp1n1ppp/2pbpn2/3p4/2PP4/2NBPN2/PP3PPP/R1BQK2R w KQkq - 2 7",
    "rn1qkb1r/pp3ppp/2p1pn2/3p1b2/2PP4/1QN1P3/PP3PPP/R1B1KBNR w KQkq - 0 6",
    "r2q1rk1/ppp2ppp/2np1n2/2b1p1B1/2B1P1b1/2NP1N2/PPP2PPP/R2Q1RK1 w - - 6 8",
    "1r3rk1/5ppp/p1n1p3/1pbpP3/5P2/2P1BN2/PP4PP/R2R2K1 b - - 1 20",
    "r5k1/pp3ppp/2p5/3pr3/3P4/2P1R3/PP3PPP/4R1K1 w - - 0 22",
    // Endgames.
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
    "8/8/4k3/8/2p5/8/B2P2K1/8 w - - 0 1",
    "8/5pk1/6p1/7p/7P/6P1/5PK1/8 w - - 0 40",
    "8/8/1k6/2b5/2pP4/8/5K2/8 b - d3 0 1",
    "6k1/5p2/6p1/8/7P/6P1/r4PK1/2R5 w - - 0 35",
    "8/8/3k4/3p4/3P4/3K4/8/8 w - - 0 50",
    "8/8/2b5/4k3/8/3K4/2B1P3/8 w - - 0 45",
    "8/5k2/3n4/8/2N5/4K3/5P2/8 w - - 0 50",
    "4k3/8/8/8/8/8/8/R3K3 w - - 0 1",
    "8/8/8/4k3/8/8/8/1N2KB2 w - - 0 1",
    "4k3/8/r7/3KP3/8/8/8/7R w - - 0 1",
    "8/p4pk1/1p4p1/8/3q4/6P1/5P1P/3Q2K1 b - - 0 38",
    "8/1p3k2/p1p1p3/P1P1P3/1P3K2/8/8/8 w - - 0 45",
    "3r2k1/5ppp/8/8/8/8/5PPP/1R4K1 w - - 0 30",
};

std::vector<Position> positionsWithSuccessors(std::size_t& baseCount) {
  std::vector<Position> out;
  baseCount = 0;
  for (const char* fen : POSITIONS) {
    Position pos;
    if (!setFen(pos, fen)) {
      std::fprintf(stderr, "bad position: %s\n", fen);
      continue;
    }
    ++baseCount;
    out.push_back(pos);
    MoveEntry buffer[MAX_MOVES];
    MoveEntry* top = buffer;
    HistoryTable history;
    MovePicker picker(Move(), top, pos, history, false, false, nullptr);
    std::vector<Move> moves(picker.size());
    for (int i = 0; i < picker.size(); ++i) moves[std::size_t(i)] = picker.begin()[i].move;
    for (Move m : moves) {
      Position child = pos;  // each copy is made fresh, so no undo record points into it
      MoveUndo undo;
      saveState(undo, child);
      if (makeMove(child, m, undo)) out.push_back(child);
    }
  }
  return out;
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
  const int coldRounds = std::max(1, rounds / 4);
  std::size_t baseCount = 0;
  const std::vector<Position> all = positionsWithSuccessors(baseCount);
  std::int64_t signature = 0;

  // Warm caches: one pass to fill them, then the timed passes.
  Evaluator warm;
  for (const Position& pos : all) signature += warm.evaluate(pos);
  std::int64_t warmCount = 0;
  const Clock::time_point start = Clock::now();
  for (int r = 0; r < rounds; ++r)
    for (const Position& pos : all) {
      signature += warm.evaluate(pos);
      ++warmCount;
    }
  const double warmSeconds = seconds(Clock::now() - start);

  // Cold caches: every evaluation of a base position after clearing them; only
  // the evaluation itself is timed.
  Evaluator cold;
  std::int64_t coldCount = 0;
  Clock::duration coldTime{};
  for (int r = 0; r < coldRounds; ++r)
    for (std::size_t i = 0; i < all.size(); i += std::max<std::size_t>(1, all.size() / 64)) {
      cold.clearCaches();
      const Clock::time_point t = Clock::now();
      signature += cold.evaluate(all[i]);
      coldTime += Clock::now() - t;
      ++coldCount;
    }
  const double coldSeconds = seconds(coldTime);

  std::printf("eval bench: %zu positions, %zu with their successors, %d warm and %d cold rounds\n", baseCount,
              all.size(), rounds, coldRounds);
  std::printf("warm caches: %lld evaluations in %.0f ms, %.0f evaluations/s\n", static_cast<long long>(warmCount),
              warmSeconds * 1000.0, warmCount / (warmSeconds > 0 ? warmSeconds : 1e-9));
  std::printf("cold caches: %lld evaluations in %.0f ms, %.0f evaluations/s\n", static_cast<long long>(coldCount),
              coldSeconds * 1000.0, coldCount / (coldSeconds > 0 ? coldSeconds : 1e-9));
  std::printf("signature: %lld\n", static_cast<long long>(signature));
  return 0;
}
