// The command queue: order, refusal without overrun, the two large slots,
// waiting for a slot, draining at the end.
#include <gtest/gtest.h>

#include <mutex>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

#include "main/command_queue.h"

namespace korvane {
namespace {

// Keeps every line it runs; while the test holds `gate`, the worker waits
// inside the line it has started, so that texts pile up.
struct Target final : CommandInterpreter {
  std::mutex gate;
  std::counting_semaphore<1000> started{0};
  std::vector<std::string> lines;
  void handleLine(const char* line) override {
    started.release();
    std::lock_guard<std::mutex> hold(gate);
    lines.emplace_back(line);
  }
};

TEST(CommandQueue, RefusesWhatDoesNotFitWaitsForRoomAndRunsEverythingInOrder) {
  Target target;
  const std::string longest = "position startpos moves" + std::string(74976, ' ');  // 74,999 characters
  const std::string big(5000, 'b');
  std::vector<std::string> expected = {"held", longest, "stop", big};
  {
    CommandQueue queue(target);
    target.gate.lock();
    ASSERT_TRUE(queue.post("held"));
    target.started.acquire();
    // The held text keeps its small slot; long texts take the two large
    // ones, and a third long text has nowhere to go.
    EXPECT_TRUE(queue.post(longest));
    EXPECT_FALSE(queue.post(longest + "e"));  // no room for the terminator
    EXPECT_TRUE(queue.post(std::string("stop\0", 5) + std::string(200000, 'z')));  // ends at its first NUL
    EXPECT_TRUE(queue.post(big));
    EXPECT_FALSE(queue.post(big));
    // 64 slots: 60 short texts still fit, the 61st does not.
    for (int i = 0; i < 60; ++i) {
      expected.push_back("go depth " + std::to_string(i));
      EXPECT_TRUE(queue.post(expected.back())) << i;
    }
    EXPECT_FALSE(queue.post("refused"));
    // A waiting post gets the first slot that comes free, behind the rest.
    std::thread poster([&queue] { EXPECT_TRUE(queue.postWaiting("waited")); });
    target.gate.unlock();
    poster.join();
    expected.push_back("waited");
    // Destroyed with texts still queued: they run before the worker ends.
  }
  EXPECT_EQ(target.lines, expected);
}

}  // namespace
}  // namespace korvane
