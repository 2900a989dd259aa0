#include <gtest/gtest.h>

#include <pthread.h>

#include "platform/platform.h"

namespace korvane::platform {
namespace {

TEST(Platform, ThreadsAndEvents) {
  std::size_t stack = 0;
  int ran = 0;
  Event event;
  {
    Thread thread;
    ASSERT_TRUE(thread.start(1024000, [&] {
      pthread_attr_t attr;
      if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        pthread_attr_getstacksize(&attr, &stack);
        pthread_attr_destroy(&attr);
      }
      ++ran;
      event.set();
    }));
    EXPECT_FALSE(thread.start(1024000, [] {}));  // still attached
    event.wait();                                // woken by the thread
    thread.join();
    EXPECT_FALSE(thread.joinable());
    EXPECT_EQ(ran, 1);
    ASSERT_TRUE(thread.start(100000, [&] { ++ran; }));
  }  // the destructor joins
  EXPECT_EQ(ran, 2);
  EXPECT_GE(stack, 1024000u);
  event.set();
  event.set();  // signals do not add up
  event.wait();
  EXPECT_FALSE(event.waitFor(0));
}

}  // namespace
}  // namespace korvane::platform
