#include "protocol/xboard_output.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "board/move_picker.h"
#include "board/notation.h"
#include "platform/platform.h"
#include "protocol/xboard_adapter.h"
#include "search/engine.h"
#include "search/time_control.h"

namespace korvane {

namespace {

// Room for a thinking line with the longest principal variation.
constexpr std::size_t LINE_SIZE = 2048;
// Mate scores are shown as this minus the distance in plies.
constexpr int XBOARD_MATE_OFFSET = 967233;

void appendf(char* out, std::size_t size, const char* format, ...) {
  std::size_t used = std::strlen(out);
  if (used + 1 >= size) return;
  va_list args;
  va_start(args, format);
  std::vsnprintf(out + used, size - used, format, args);
  va_end(args);
}

void copyText(char (&to)[XboardOutput::MOVE_TEXT], std::string_view from) {
  const std::size_t n = std::min(from.size(), sizeof to - 1);
  std::memcpy(to, from.data(), n);
  to[n] = '\0';
}

}  // namespace

int xboardScore(int score) {
  if (score > MATE_BOUND) return score - XBOARD_MATE_OFFSET;
  if (score < -MATE_BOUND) return score + XBOARD_MATE_OFFSET;
  if (score > 1) return (score + 9) / 10;
  if (score < -1) return (score - 9) / 10;
  return 0;
}

XboardOutput::XboardOutput(Engine& engine, TimeControl& timeControl) : EngineOutput(&engine, &timeControl) {}

void XboardOutput::reportIteration(Engine& engine, int score, int alpha, int beta) {
  (void)alpha;
  (void)beta;
  const std::uint64_t nodes = engine.nodes;
  {
    std::lock_guard<std::mutex> guard(statusLock_);
    nodes_ = nodes;
    depth_ = engine.iterationDepth;
    rootMoveCount_ = engine.rootMoveCount;
  }
  if (!post()) return;
  if (!engine.firstIteration && nodes < std::uint64_t(50 * (engine.iterationDepth + 2))) return;

  char ponder[MOVE_TEXT];
  {
    std::lock_guard<std::mutex> guard(statusLock_);
    std::memcpy(ponder, ponderText_, sizeof ponder);
  }
  char line[LINE_SIZE] = "";
  appendf(line, sizeof line, "%d %d %.0f %.0f %s", engine.iterationDepth + 1, xboardScore(score),
          double(timeControl_->elapsed()) * 0.1, double(nodes), ponder);

  // The principal variation, each move written in the position it is
  // played from, on a copy of the root.
  Move pv[MAX_PV];
  const int count = extractDisplayPv(engine, engine.bestMove, pv, MAX_PV);
  Position pos = snapshot_;
  for (int i = 0; i < count; ++i) {
    if (!isMoveLegal(pos, pv[i])) break;
    char text[MOVE_TEXT_SIZE];
    moveToText(pos, pv[i], STYLE_COORDINATE, text);
    appendf(line, sizeof line, " %s", text);
    if (i == 0 && analyzing()) {
      std::lock_guard<std::mutex> guard(statusLock_);
      copyText(hintText_, text);
    }
    MoveUndo undo;
    saveState(undo, pos);
    if (!makeMove(pos, pv[i], undo)) break;
  }
  printLine(line);
}

void XboardOutput::reportCurrentMove(Move move, int number) {
  char text[MOVE_TEXT_SIZE];
  moveToText(snapshot_, move, STYLE_COORDINATE, text);
  std::lock_guard<std::mutex> guard(statusLock_);
  currentMoveNumber_ = number;
  copyText(currentMoveText_, text);
  nodes_ = engine_->nodes;
  depth_ = engine_->iterationDepth;
  rootMoveCount_ = engine_->rootMoveCount;
}

void XboardOutput::reportBestMove(Move best, Move ponder) {
  if (analyzing() || noOutput()) return;
  XboardAdapter* adapter = adapter_.load(std::memory_order_acquire);
  if (!adapter) return;
  std::lock_guard<std::mutex> guard(adapter->mutex());
  // A search the adapter no longer waits for (stopped, or started from a
  // position the game has since left) must not print a move.
  if (!adapter->awaitsMove(snapshot_)) return;
  if (best.isNone() || !isMoveLegal(snapshot_, best)) {
    replyError("no move found", nullptr);
    return;
  }
  adapter->prepareEngineMove(engine_->rootScore, engine_->rootMoveCount);
  char text[MOVE_TEXT_SIZE];
  char line[MOVE_TEXT_SIZE + 8];
  std::snprintf(line, sizeof line, "move %s", moveToText(snapshot_, best, STYLE_COORDINATE, text));
  reply(line);
  adapter->afterEngineMove(best, ponder, engine_->resignThreshold);
}

void XboardOutput::debugMessage(const char* message, const char* detail) {
  std::string line = "Error (";
  line += message;
  line += "): ";
  line += detail ? detail : "internal error";
  printLine(line);
}

void XboardOutput::printLine(std::string_view text) {
  if (!noOutput()) write(text);
}

void XboardOutput::reply(std::string_view text) { write(text); }

void XboardOutput::replyError(const char* message, const char* detail) {
  std::string line = "Error (";
  line += message;
  line += "): ";
  line += detail ? detail : "internal error";
  write(line);
}

void XboardOutput::startAnalysis(std::int64_t nowMs) {
  {
    std::lock_guard<std::mutex> guard(statusLock_);
    hintText_[0] = '\0';
    currentMoveText_[0] = '\0';
    currentMoveNumber_ = 0;
  }
  analysisStart_.store(nowMs, std::memory_order_relaxed);
  analyze_.store(true, std::memory_order_relaxed);
}

void XboardOutput::setPonderText(std::string_view text) {
  std::lock_guard<std::mutex> guard(statusLock_);
  copyText(ponderText_, text);
}

std::string XboardOutput::hintText() {
  std::lock_guard<std::mutex> guard(statusLock_);
  return hintText_;
}

void XboardOutput::printStatusLine() {
  if (!analyzing()) return;
  const double centiseconds =
      double(platform::nowMs() - analysisStart_.load(std::memory_order_relaxed)) * 0.1;
  char line[160];
  {
    std::lock_guard<std::mutex> guard(statusLock_);
    std::snprintf(line, sizeof line, "stat01:%13.0f %16.0f %6d %3d %3d %s", centiseconds, double(nodes_), depth_ + 1,
                  rootMoveCount_ - currentMoveNumber_ + 1, rootMoveCount_, currentMoveText_);
  }
  reply(line);
}

}  // namespace korvane
