#include "search/bench.h"

#include <memory>

#include "platform/platform.h"
#include "search/engine.h"
#include "search/time_control.h"

namespace korvane {

namespace {

// Openings, middlegames with both kings castled or not, and endgames of
// several kinds, so that most of the search and evaluation is exercised.
constexpr const char* BENCH_POSITIONS[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP1B1PPP/R2QKB1R w KQ - 0 8",
    "r2q1rk1/1b2bppp/p2p1n2/1p2p3/3NP3/1BN1B3/PPP2PPP/R2Q1RK1 b - - 0 12",
    "2r2rk1/pp1bqppp/2n1p3/3pP3/3P4/P1PB1N2/4QPPP/R4RK1 w - - 0 16",
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
    "8/5pk1/6p1/3R4/7P/6P1/r4PK1/8 b - - 0 40",
    "6k1/5ppp/8/8/2b5/8/5PPP/3N2K1 w - - 0 30",
    "8/8/4k3/3p4/3P4/4K3/8/8 w - - 0 50",
    "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10",
};

}  // namespace

BenchResult runBench(int depth) {
  // An engine of its own, with the default table and evaluator: the session's
  // game, table, book, replay file and options stay as they are, and the node
  // count does not depend on them.
  auto engine = std::make_unique<Engine>();
  TimeControl clock;
  engine->timeControl = &clock;
  BenchResult result;
  const std::int64_t start = platform::nowMs();
  for (const char* fen : BENCH_POSITIONS) {
    if (!engine->game.setFromFen(fen)) continue;
    buildRootMoves(*engine, false, nullptr);
    clock.setLimits(0, 0, 0, depth, 0, 0, 0, false);
    clock.startClock();
    engine->stopFlag.store(false, std::memory_order_relaxed);
    engine->noTimeCheck.store(false, std::memory_order_relaxed);
    searchMain(*engine, &clock);
    result.nodes += engine->nodes;
  }
  result.milliseconds = platform::nowMs() - start;
  return result;
}

}  // namespace korvane
