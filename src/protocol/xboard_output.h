// The output channel of the xboard mode.
//
// It prints thinking lines ("depth score time nodes pv"), errors as
// "Error (message): detail", and, when a search ends, hands the best move to
// the XboardAdapter, which decides whether the move is still wanted, prints
// "move ..." and updates its game.
//
// Threads: the search thread reports iterations, current moves and the best
// move; the command-queue worker prints the UCI side's replies; the main
// thread (the adapter) sets the flags and texts below and asks for the status
// line. The figures of the status line are copied here by the search thread
// under a small lock, so the main thread never reads the engine while it
// searches.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "search/engine_output.h"

namespace korvane {

class XboardAdapter;

// A score in tenths of a centipawn as xboard wants it: centipawns, with mate
// scores mapped near ±32,767 (a mate with the next move shows as 32,766).
int xboardScore(int score);

class XboardOutput : public EngineOutput {
 public:
  // Room for a move text in the status fields, terminator included.
  static constexpr std::size_t MOVE_TEXT = 8;

  XboardOutput(Engine& engine, TimeControl& timeControl);

  // The adapter the best move is handed to; null before it exists and after
  // it is gone.
  void setAdapter(XboardAdapter* adapter) { adapter_.store(adapter, std::memory_order_release); }

  void reportIteration(Engine& engine, int score, int alpha, int beta) override;
  void reportCurrentMove(Move move, int number) override;
  void reportBestMove(Move best, Move ponder) override;
  void reportSearchEnd() override {}
  void debugMessage(const char* message, const char* detail) override;
  void printLine(std::string_view text) override;

  // The adapter's own lines ("pong", "feature", "move", results, its error
  // messages). They are written even while a quiet stop has switched output
  // off for a moment: that switch only silences the search being stopped.
  void reply(std::string_view text);
  void replyError(const char* message, const char* detail);

  // "post" / "nopost".
  void setPost(bool on) { post_.store(on, std::memory_order_relaxed); }
  bool post() const { return post_.load(std::memory_order_relaxed); }
  // Analysis starts: clears the hint and the current move and starts the
  // analysis clock at `nowMs`.
  void startAnalysis(std::int64_t nowMs);
  void stopAnalysis() { analyze_.store(false, std::memory_order_relaxed); }
  bool analyzing() const { return analyze_.load(std::memory_order_relaxed); }
  // The move being pondered on, shown in thinking lines; empty when none.
  void setPonderText(std::string_view text);
  // First move of the latest principal variation of the analysis.
  std::string hintText();
  // "stat01: ..." for the "." command; only while analysing.
  void printStatusLine();

 protected:
  // Where every line goes; tests replace it.
  virtual void write(std::string_view text) { writeLine(text); }

 private:
  std::atomic<XboardAdapter*> adapter_{nullptr};
  std::atomic<bool> post_{true};
  std::atomic<bool> analyze_{false};
  std::atomic<std::int64_t> analysisStart_{0};

  // Guarded by statusLock_.
  std::mutex statusLock_;
  int currentMoveNumber_ = 0;
  char currentMoveText_[MOVE_TEXT] = "";
  char hintText_[MOVE_TEXT] = "";
  char ponderText_[MOVE_TEXT] = "";
  std::uint64_t nodes_ = 0;
  int depth_ = 0;  // iterations completed
  int rootMoveCount_ = 0;
};

}  // namespace korvane
