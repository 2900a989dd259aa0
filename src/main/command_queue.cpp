#include "main/command_queue.h"

#include <cstring>

namespace korvane {

namespace {

// The worker runs UCI commands: position set-up, option changes, book
// loading.
constexpr std::size_t WORKER_STACK = 100000;

// The text as the target would read it: up to its first NUL.
std::string_view untilNul(std::string_view text) {
  const std::size_t end = text.find('\0');
  return end == std::string_view::npos ? text : text.substr(0, end);
}

}  // namespace

CommandQueue::CommandQueue(CommandInterpreter& target) : target_(target) {
  for (int i = 0; i < SLOT_COUNT; ++i) {
    slots_[i].capacity = i < LARGE_SLOT_COUNT ? LARGE_SLOT_BYTES : SMALL_SLOT_BYTES;
    slots_[i].text = std::make_unique<char[]>(slots_[i].capacity);
  }
  worker_.start(WORKER_STACK, [this] { work(); });
}

CommandQueue::~CommandQueue() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    closing_ = true;
  }
  room_.notify_all();
  wake_.set();
  worker_.join();
}

bool CommandQueue::enqueue(std::string_view text) {
  if (queued_ == SLOT_COUNT) return false;
  const std::uint32_t needed = std::uint32_t(text.size() + 1);
  int chosen = -1;
  for (int i = SLOT_COUNT - 1; i >= 0; --i) {
    if (!slots_[i].inUse && slots_[i].capacity >= needed) {
      chosen = i;
      break;
    }
  }
  if (chosen < 0) return false;
  Slot& slot = slots_[chosen];
  slot.inUse = true;
  std::memcpy(slot.text.get(), text.data(), text.size());
  slot.text[text.size()] = '\0';
  ring_[writeIndex_] = chosen;
  writeIndex_ = (writeIndex_ + 1) % SLOT_COUNT;
  ++queued_;
  return true;
}

int CommandQueue::freeSlots(bool large) const {
  int count = 0;
  for (int i = large ? 0 : LARGE_SLOT_COUNT; i < (large ? LARGE_SLOT_COUNT : SLOT_COUNT); ++i)
    count += slots_[i].inUse ? 0 : 1;
  return count;
}

bool CommandQueue::post(std::string_view text) {
  text = untilNul(text);
  if (text.size() > MAX_TEXT || !worker_.joinable()) return false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (closing_ || !enqueue(text)) return false;
  }
  wake_.set();
  return true;
}

bool CommandQueue::postWaiting(std::string_view text) {
  text = untilNul(text);
  if (text.size() > MAX_TEXT || !worker_.joinable()) return false;
  {
    std::unique_lock<std::mutex> guard(lock_);
    // Every slot comes free again once the worker has run its text, and a
    // large slot takes any text, so the wait always ends.
    room_.wait(guard, [this, text] { return closing_ || enqueue(text); });
    if (closing_) return false;
  }
  wake_.set();
  return true;
}

void CommandQueue::waitForRoom(int shortSlots, int longSlots) {
  if (!worker_.joinable()) return;
  std::unique_lock<std::mutex> guard(lock_);
  room_.wait(guard, [&] { return closing_ || (freeSlots(false) >= shortSlots && freeSlots(true) >= longSlots); });
}

void CommandQueue::waitUntilIdle() {
  std::unique_lock<std::mutex> guard(lock_);
  idle_.wait(guard, [this] { return queued_ == 0 && runningCommands_ == 0; });
}

void CommandQueue::work() {
  for (;;) {
    wake_.wait();
    // One signal may stand for several texts: run all that are queued.
    for (;;) {
      int slot = -1;
      {
        std::lock_guard<std::mutex> guard(lock_);
        if (queued_ == 0) {
          // Closing is tested under the lock together with the ring, so a
          // text posted before the queue began to close always runs.
          if (closing_) return;
          break;
        }
        slot = ring_[readIndex_];
        readIndex_ = (readIndex_ + 1) % SLOT_COUNT;
        --queued_;
        ++runningCommands_;
      }
      target_.handleLine(slots_[slot].text.get());
      {
        std::lock_guard<std::mutex> guard(lock_);
        slots_[slot].inUse = false;
        --runningCommands_;
        room_.notify_all();
        if (queued_ == 0 && runningCommands_ == 0) idle_.notify_all();
      }
    }
  }
}

}  // namespace korvane
