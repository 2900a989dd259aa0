// The threaded search in-process: workers start, share the table, and are
// joined before the one best move is reported. Run under ThreadSanitizer by
// the CI's thread build.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "board/move_picker.h"
#include "platform/platform.h"
#include "protocol/search_controller.h"
#include "search/engine.h"
#include "search/engine_output.h"

namespace korvane {
namespace {

class CountingOutput final : public EngineOutput {
 public:
  CountingOutput() : EngineOutput(nullptr, nullptr) {}
  void reportIteration(Engine&, int, int, int) override { iterations.fetch_add(1); }
  void reportCurrentMove(Move, int) override {}
  void reportBestMove(Move b, Move) override {
    best.store(b.raw());
    bestMoves.fetch_add(1);
  }
  void reportSearchEnd() override {}
  void takeSnapshot() override {}
  void debugMessage(const char*, const char*) override {}
  void printLine(std::string_view) override {}
  std::atomic<int> iterations{0};
  std::atomic<int> bestMoves{0};
  std::atomic<std::uint32_t> best{0};
};

TEST(Threads, EightThreadsSearchAndJoin) {
  auto engine = std::make_unique<Engine>();
  CountingOutput output;
  TimeControl clock;
  SearchController controller(*engine, output, clock);
  controller.setThreads(8);
  EXPECT_EQ(controller.threadCount(), 8);
  ASSERT_TRUE(engine->game.setFromFen("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1"));

  // A depth-limited search ends by itself with exactly one best move.
  buildRootMoves(*engine, false, nullptr);
  GoLimits limits;
  limits.depth = 6;
  ASSERT_TRUE(controller.go(limits));
  for (int i = 0; i < 3000 && output.bestMoves.load() == 0; ++i) platform::sleepMs(10);
  controller.stop();
  EXPECT_EQ(output.bestMoves.load(), 1);
  EXPECT_TRUE(isMoveLegal(engine->game.position, Move(output.best.load())));

  // An infinite search runs until stopped; stop joins every thread.
  buildRootMoves(*engine, false, nullptr);
  GoLimits infinite;
  infinite.infinite = true;
  ASSERT_TRUE(controller.go(infinite));
  platform::sleepMs(200);
  EXPECT_TRUE(controller.stop());
  EXPECT_EQ(output.bestMoves.load(), 2);
  EXPECT_TRUE(isMoveLegal(engine->game.position, Move(output.best.load())));
  EXPECT_FALSE(controller.stop()) << "nothing left to stop";

  // Fewer threads again.
  controller.setThreads(2);
  buildRootMoves(*engine, false, nullptr);
  ASSERT_TRUE(controller.go(limits));
  for (int i = 0; i < 3000 && output.bestMoves.load() == 2; ++i) platform::sleepMs(10);
  controller.stop();
  EXPECT_EQ(output.bestMoves.load(), 3);
}

}  // namespace
}  // namespace korvane
