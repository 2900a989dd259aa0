// A small queue of command lines run in order on a thread of their own.
//
// The xboard adapter turns every xboard command into UCI command lines and
// posts them here; the worker thread hands them one at a time, in the order
// posted, to its target interpreter. Posting never waits for a command to
// run, so a slow command (a stop that waits for the search, a book load)
// does not hold up the reading of input until the queue is full. A full
// queue never drops a command: the poster waits for a slot instead
// (postWaiting, waitForRoom).
//
// Storage is fixed when the queue is built: 64 slots, two of 75,000 bytes
// for long position commands and 62 of 1,000 bytes for everything else.
// Free slots are looked for from the last one down, so short texts take the
// small slots and leave the two large ones for long texts. The lock guards
// only the slots and the ring; it is never held while a command runs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>

#include "platform/platform.h"
#include "protocol/command_interpreter.h"

namespace korvane {

class CommandQueue {
 public:
  static constexpr int SLOT_COUNT = 64;
  static constexpr int LARGE_SLOT_COUNT = 2;
  static constexpr std::uint32_t LARGE_SLOT_BYTES = 75000;
  static constexpr std::uint32_t SMALL_SLOT_BYTES = 1000;
  // Longest text that fits, without its terminator.
  static constexpr std::size_t MAX_TEXT = LARGE_SLOT_BYTES - 1;

  // Starts the worker, which runs every posted text on `target`.
  explicit CommandQueue(CommandInterpreter& target);
  // Runs what is still queued, then ends the worker.
  ~CommandQueue();
  CommandQueue(const CommandQueue&) = delete;
  CommandQueue& operator=(const CommandQueue&) = delete;

  // Copies the text into a free slot and wakes the worker. False, with
  // nothing queued, when the queue is closing, when the text is longer than
  // MAX_TEXT, or when every slot that could take it is in use. The text ends
  // at its first NUL, as the target would read it.
  bool post(std::string_view text);
  // As post, but waits for a slot while every one that could take the text
  // is in use. False only when the text can never be queued.
  bool postWaiting(std::string_view text);
  // Waits until at least `shortSlots` of the small slots and `longSlots` of
  // the large ones are free (at once when the queue is closing).
  void waitForRoom(int shortSlots, int longSlots);
  // Waits until every posted text has run.
  void waitUntilIdle();
  // False when the worker thread could not be started (nothing would run).
  bool running() const { return worker_.joinable(); }

 private:
  struct Slot {
    std::uint32_t capacity = 0;
    bool inUse = false;
    std::unique_ptr<char[]> text;
  };

  void work();
  // Takes a slot for the text and queues it; false when none is free. Under
  // the lock.
  bool enqueue(std::string_view text);
  int freeSlots(bool large) const;

  CommandInterpreter& target_;
  Slot slots_[SLOT_COUNT];
  // Slots waiting to run, oldest at readIndex_. The count tells a full ring
  // from an empty one (both have equal indexes).
  int ring_[SLOT_COUNT] = {};
  int readIndex_ = 0;
  int writeIndex_ = 0;
  int queued_ = 0;
  int runningCommands_ = 0;  // taken from the ring and not finished yet
  bool closing_ = false;
  std::mutex lock_;
  std::condition_variable idle_;
  std::condition_variable room_;  // a slot became free, or the queue is closing
  platform::Event wake_;
  platform::Thread worker_;
};

}  // namespace korvane
