// The channel through which everything the engine says reaches the outside.
//
// The protocol interpreters print their replies through it, and the search
// reports iterations, current moves, principal variations and its best move
// through it without knowing the protocol. The implementations live with the
// protocols; the search only sees this interface.
//
// The channel owns the debug and NoOutput flags, writes each line whole under
// its lock, and keeps a private copy of the root position (the snapshot) so
// that it can write moves as text while the search changes the engine's own
// position.
#pragma once

#include <atomic>
#include <mutex>
#include <string_view>

#include "board/position.h"
#include "board/types.h"

namespace korvane {

class Engine;
class TimeControl;

class EngineOutput {
 public:
  // Either pointer may be null for a channel that never reads them.
  EngineOutput(Engine* engine, TimeControl* timeControl);

  // A completed iteration with its principal variation.
  virtual void reportIteration(Engine& engine, int score, int alpha, int beta) = 0;
  // The root move now being searched, numbered from 1.
  virtual void reportCurrentMove(Move move, int number) = 0;
  // One line of a multi-PV search, numbered from 1.
  virtual void reportMultiPv(Engine& engine, int index, Move rootMove, int score, int alpha, int beta);
  virtual ~EngineOutput();
  // The search's result; either move may be none.
  virtual void reportBestMove(Move best, Move ponder) = 0;
  // Statistics of the search that just ended.
  virtual void reportSearchEnd() = 0;
  // Copies the engine's game position into the snapshot.
  virtual void takeSnapshot();
  // A problem; `detail` may be null.
  virtual void debugMessage(const char* message, const char* detail) = 0;
  virtual bool noOutput() const { return noOutput_.load(std::memory_order_relaxed); }
  virtual void setNoOutput(bool on) { noOutput_.store(on, std::memory_order_relaxed); }
  virtual void setDebug(bool on) { debug_.store(on, std::memory_order_relaxed); }
  // Writes one line (without its line feed), unless output is suppressed.
  virtual void printLine(std::string_view text);

  bool debug() const { return debug_.load(std::memory_order_relaxed); }
  const Position& snapshot() const { return snapshot_; }

  EngineOutput(const EngineOutput&) = delete;
  EngineOutput& operator=(const EngineOutput&) = delete;

 protected:
  // Writes the text and a line feed to standard output and flushes, under the
  // lock, whatever the flags say.
  void writeLine(std::string_view text);

  Engine* engine_;
  TimeControl* timeControl_;
  Position snapshot_;

 private:
  std::mutex lock_;
  std::atomic<bool> debug_{false};
  std::atomic<bool> noOutput_{false};
};

// A channel that says nothing: for engines that have no protocol to talk to
// (before the protocol is chosen, search workers, tests).
class SilentOutput final : public EngineOutput {
 public:
  SilentOutput() : EngineOutput(nullptr, nullptr) {}
  void reportIteration(Engine&, int, int, int) override {}
  void reportCurrentMove(Move, int) override {}
  void reportBestMove(Move, Move) override {}
  void reportSearchEnd() override {}
  void takeSnapshot() override {}
  void debugMessage(const char*, const char*) override {}
  void printLine(std::string_view) override {}
};

// One shared silent channel; it has no state worth separating.
EngineOutput& silentOutput();

}  // namespace korvane
