// The command queue: order, long texts, refusal without overrun, waiting
// for a slot, draining.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "main/command_queue.h"

namespace korvane {
namespace {

// Keeps every line it runs; can be held at a gate so that texts pile up.
class RecordingTarget final : public CommandInterpreter {
 public:
  void handleLine(const char* line) override {
    std::unique_lock<std::mutex> guard(mutex_);
    started_ = true;
    changed_.notify_all();
    changed_.wait(guard, [this] { return open_; });
    lines.emplace_back(line);
  }
  void close() {
    std::lock_guard<std::mutex> guard(mutex_);
    open_ = false;
  }
  void open() {
    std::lock_guard<std::mutex> guard(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  // Waits until the worker is inside handleLine.
  void awaitStart() {
    std::unique_lock<std::mutex> guard(mutex_);
    changed_.wait(guard, [this] { return started_; });
  }
  std::vector<std::string> lines;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = true;
  bool started_ = false;
};

TEST(CommandQueue, RunsTextsInOrderAndDrainsOnDestruction) {
  RecordingTarget target;
  std::vector<std::string> expected;
  {
    CommandQueue queue(target);
    ASSERT_TRUE(queue.running());
    target.close();
    for (int i = 0; i < 40; ++i) {
      expected.push_back("setoption name Opponent value player" + std::to_string(i));
      ASSERT_TRUE(queue.post(expected.back()));
    }
    target.open();
    // Destroyed with texts still queued: they run before the worker ends.
  }
  EXPECT_EQ(target.lines, expected);
}

TEST(CommandQueue, LongPositionCommandPassesIntactAndLongerIsRefused) {
  RecordingTarget target;
  CommandQueue queue(target);
  std::string longest = "position startpos moves";
  while (longest.size() + 6 <= CommandQueue::MAX_TEXT) longest += " e2e4 ";
  longest.resize(CommandQueue::MAX_TEXT, 'x');
  ASSERT_EQ(longest.size(), 74999u);
  ASSERT_TRUE(queue.post(longest));
  EXPECT_FALSE(queue.post(longest + "y"));  // 75,000 characters and the terminator do not fit
  EXPECT_FALSE(queue.post(std::string(200000, 'z')));
  queue.waitUntilIdle();
  // With the worker held, two long texts fill both large slots and a third
  // has nowhere to go, while short texts still find small slots.
  target.close();
  ASSERT_TRUE(queue.post("first"));
  target.awaitStart();
  std::string big(5000, 'b');
  EXPECT_TRUE(queue.post(big));
  EXPECT_TRUE(queue.post(big));
  EXPECT_FALSE(queue.post(big)) << "no third slot of 75,000 bytes";
  EXPECT_TRUE(queue.post("short"));  // small slots are still free
  target.open();
  queue.waitUntilIdle();
  ASSERT_EQ(target.lines.size(), 5u);
  EXPECT_EQ(target.lines[0], longest);
  EXPECT_EQ(target.lines[2], big);
  EXPECT_EQ(target.lines[4], "short");
}

TEST(CommandQueue, FullQueueRefusesAndLosesNothing) {
  RecordingTarget target;
  CommandQueue queue(target);
  target.close();
  ASSERT_TRUE(queue.post("held"));
  target.awaitStart();
  // The held text keeps its slot: 63 further texts fit, the 64th does not.
  int accepted = 0;
  for (int i = 0; i < 70; ++i) accepted += queue.post("go depth " + std::to_string(i)) ? 1 : 0;
  EXPECT_EQ(accepted, CommandQueue::SLOT_COUNT - 1);
  // A waiting post gets the first slot that comes free, behind the rest.
  std::thread poster([&queue] { EXPECT_TRUE(queue.postWaiting("waited")); });
  target.open();
  poster.join();
  queue.waitUntilIdle();
  ASSERT_EQ(target.lines.size(), std::size_t(CommandQueue::SLOT_COUNT + 1));
  EXPECT_EQ(target.lines[1], "go depth 0");
  EXPECT_EQ(target.lines[CommandQueue::SLOT_COUNT - 1], "go depth 62");
  EXPECT_EQ(target.lines.back(), "waited");
  // Room again after the worker caught up.
  EXPECT_TRUE(queue.post("isready"));
  queue.waitUntilIdle();
  EXPECT_EQ(target.lines.back(), "isready");
}

TEST(CommandQueue, TextEndsAtItsFirstNul) {
  RecordingTarget target;
  CommandQueue queue(target);
  ASSERT_TRUE(queue.post(std::string_view("stop\0garbage", 12)));
  queue.waitUntilIdle();
  ASSERT_EQ(target.lines.size(), 1u);
  EXPECT_EQ(target.lines[0], "stop");
}

}  // namespace
}  // namespace korvane
