#include "platform/platform.h"

#include <chrono>
#include <climits>
#include <cstring>
#include <memory>
#include <thread>

#include <unistd.h>

namespace korvane::platform {

std::int64_t nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

void sleepMs(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

// What the new thread receives: the body, owned until the thread runs it.
struct Thread::Launch {
  std::function<void()> body;

  static void* entry(void* arg) {
    std::unique_ptr<Launch> launch(static_cast<Launch*>(arg));
    launch->body();
    return nullptr;
  }
};

Thread::~Thread() { join(); }

bool Thread::start(std::size_t stackBytes, std::function<void()> body) {
  if (started_) return false;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  stackBytes *= 16;
#endif
  if (stackBytes < std::size_t(PTHREAD_STACK_MIN)) stackBytes = PTHREAD_STACK_MIN;
  bool ok = pthread_attr_setstacksize(&attr, stackBytes) == 0;
  auto launch = std::make_unique<Launch>();
  launch->body = std::move(body);
  if (ok) ok = pthread_create(&handle_, &attr, &Launch::entry, launch.get()) == 0;
  pthread_attr_destroy(&attr);
  if (!ok) return false;
  launch.release();  // the thread owns it now
  started_ = true;
  return true;
}

void Thread::join() {
  if (!started_) return;
  pthread_join(handle_, nullptr);
  started_ = false;
}

void Event::set() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    signalled_ = true;
  }
  condition_.notify_one();
}

void Event::wait() {
  std::unique_lock<std::mutex> guard(mutex_);
  condition_.wait(guard, [this] { return signalled_; });
  signalled_ = false;
}

bool Event::waitFor(int milliseconds) {
  std::unique_lock<std::mutex> guard(mutex_);
  if (!condition_.wait_for(guard, std::chrono::milliseconds(milliseconds), [this] { return signalled_; }))
    return false;
  signalled_ = false;
  return true;
}

namespace {

std::string& programPath() {
  static std::string path;
  return path;
}

std::string directoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

void setProgramPath(const char* argv0) { programPath() = argv0 ? argv0 : ""; }

std::string programDirectory() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n > 0) {
    buffer[n] = '\0';
    return directoryOf(buffer);
  }
  return directoryOf(programPath());
}

}  // namespace korvane::platform
