#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>

#include "platform/platform.h"

namespace korvane::platform {
namespace {

TEST(Platform, ThreadGetsItsStackAndJoins) {
  std::size_t stack = 0;
  int ran = 0;
  {
    Thread thread;
    ASSERT_TRUE(thread.start(1024000, [&] {
      pthread_attr_t attr;
      if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        pthread_attr_getstacksize(&attr, &stack);
        pthread_attr_destroy(&attr);
      }
      ++ran;
    }));
    EXPECT_FALSE(thread.start(1024000, [] {}));  // still attached
    thread.join();
    EXPECT_FALSE(thread.joinable());
    EXPECT_EQ(ran, 1);
    ASSERT_TRUE(thread.start(100000, [&] { ++ran; }));
  }  // the destructor joins
  EXPECT_EQ(ran, 2);
  EXPECT_GE(stack, 1024000u);
}

TEST(Platform, EventClockAndDirectory) {
  Event event;
  event.set();
  event.set();  // signals do not add up
  event.wait();
  EXPECT_FALSE(event.waitFor(0));
  std::atomic<int> stage{0};
  Thread waker;
  ASSERT_TRUE(waker.start(100000, [&] {
    stage = 1;
    event.set();
  }));
  event.wait();
  EXPECT_EQ(stage.load(), 1);
  waker.join();

  EXPECT_GT(nowMs(), 1600000000000LL);  // after September 2020
  const std::string dir = programDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
}

}  // namespace
}  // namespace korvane::platform
