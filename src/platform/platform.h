// The engine's only contact with the operating system: the wall clock, threads
// with a chosen stack size, an auto-reset event and the program's directory.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include <pthread.h>

namespace korvane::platform {

// Milliseconds of the system (wall) clock since the epoch. The protocols speak
// in wall-clock time, so a steady clock would not do.
std::int64_t nowMs();

void sleepMs(int milliseconds);

// A joinable thread with an explicit stack size (std::thread cannot set one;
// the search recurses deeply and needs about a megabyte).
class Thread {
 public:
  Thread() = default;
  ~Thread();  // joins a thread that is still attached
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts `body` on a new thread. False if the thread could not be created,
  // or if this object still holds an unjoined thread.
  // Sanitizer builds get a larger stack than asked for: their frames are
  // many times the size of the optimised ones.
  bool start(std::size_t stackBytes, std::function<void()> body);
  // Waits for the thread to end. Does nothing when no thread is attached.
  void join();
  bool joinable() const { return started_; }

 private:
  struct Launch;
  pthread_t handle_{};
  bool started_ = false;
};

// Auto-reset event: set() wakes one waiter (or the next one to wait), and the
// wake consumes the signal.
class Event {
 public:
  void set();
  void wait();
  // False when the time ran out without a signal.
  bool waitFor(int milliseconds);

 private:
  std::mutex mutex_;
  std::condition_variable condition_;
  bool signalled_ = false;
};

// Remembers argv[0] for programDirectory()'s fallback.
void setProgramPath(const char* argv0);
// Directory of the running executable, with a trailing '/', or "" when it
// cannot be found. The book and ini files are looked for there second.
std::string programDirectory();

}  // namespace korvane::platform
