// The xboard adapter's command sink backed by the command queue: the
// adapter's UCI lines run on the queue's worker thread, in order.
#pragma once

#include <string_view>

#include "main/command_queue.h"
#include "protocol/xboard_adapter.h"

namespace korvane {

class QueueSink final : public CommandSink {
 public:
  explicit QueueSink(CommandInterpreter& target) : queue_(target) {}
  bool post(std::string_view command) override { return queue_.post(command); }
  bool postWaiting(std::string_view command) override { return queue_.postWaiting(command); }
  void waitForRoom(int shortLines, int longLines) override { queue_.waitForRoom(shortLines, longLines); }
  void waitUntilIdle() override { queue_.waitUntilIdle(); }

 private:
  CommandQueue queue_;
};

}  // namespace korvane
