#include "protocol/engine_output.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "board/move_picker.h"
#include "board/notation.h"
#include "search/engine.h"
#include "search/time_control.h"

namespace korvane {

namespace {

// Room for the longest report: a full principal variation and the numbers.
constexpr std::size_t LINE_SIZE = 2048;

void appendf(char* out, std::size_t size, const char* format, ...) {
  std::size_t used = std::strlen(out);
  if (used + 1 >= size) return;
  va_list args;
  va_start(args, format);
  std::vsnprintf(out + used, size - used, format, args);
  va_end(args);
}

// Appends " move" for each move, playing them on a copy of `root` so that
// every move is written in the position it is played from. Stops at the
// first move that is not legal there.
void appendMoves(char* out, std::size_t size, const Position& root, const Move* moves, int count) {
  Position pos = root;
  for (int i = 0; i < count; ++i) {
    if (!isMoveLegal(pos, moves[i])) break;
    char text[MOVE_TEXT_SIZE];
    appendf(out, size, " %s", moveToText(pos, moves[i], STYLE_COORDINATE, text));
    MoveUndo undo;
    saveState(undo, pos);
    if (!makeMove(pos, moves[i], undo)) break;
  }
}

void appendPv(char* out, std::size_t size, Engine& engine, const Position& root, Move first) {
  Move line[MAX_PV];
  int count = extractDisplayPv(engine, first, line, MAX_PV);
  appendMoves(out, size, root, line, count);
}

int hashfull(Engine& engine) { return engine.table().hashfull(); }

double nodesPerSecond(std::uint64_t nodes, std::int64_t elapsedMs) {
  return double(nodes) / double(std::max<std::int64_t>(elapsedMs, 1)) * 1000.0;
}

}  // namespace

void appendScoreText(char* out, std::size_t size, int score, int alpha, int beta) {
  if (score > MATE_BOUND)
    appendf(out, size, " score mate %d", (MATE + 2 - score) / 2);
  else if (score < -MATE_BOUND)
    appendf(out, size, " score mate %d", (-MATE - 2 - score) / 2);
  else if (score > 1)
    appendf(out, size, " score cp %d", (score + 9) / 10);
  else if (score < -1)
    appendf(out, size, " score cp %d", (score - 9) / 10);
  else
    appendf(out, size, " score cp 0");
  if (score >= beta)
    appendf(out, size, " lowerbound");
  else if (score <= alpha)
    appendf(out, size, " upperbound");
}

void collapseSpaces(char* text) {
  char* write = text;
  for (const char* read = text; *read; ++read) {
    if (*read == ' ' && write != text && write[-1] == ' ') continue;
    *write++ = *read;
  }
  *write = '\0';
}

UciOutput::UciOutput(Engine& engine, TimeControl& timeControl) : EngineOutput(&engine, &timeControl) {}

void UciOutput::reportIteration(Engine& engine, int score, int alpha, int beta) {
  std::int64_t elapsed = timeControl_->elapsed();
  std::uint64_t nodes = engine.nodes;
  if (!debug() && !engine.firstIteration && nodes < std::uint64_t(50 * (engine.iterationDepth + 2))) return;

  char line[LINE_SIZE] = "";
  appendf(line, sizeof line, "info depth %d seldepth %d time %16.0f nodes %16.0f pv", engine.iterationDepth + 1,
          std::max(engine.maxPly, engine.iterationDepth) + 1, double(elapsed), double(nodes));
  appendPv(line, sizeof line, engine, snapshot_, engine.bestMove);
  appendScoreText(line, sizeof line, score, alpha, beta);
  appendf(line, sizeof line, " hashfull %d nps %16.0f", hashfull(engine), nodesPerSecond(nodes, elapsed));
  collapseSpaces(line);
  printLine(line);
}

void UciOutput::reportCurrentMove(Move move, int number) {
  std::int64_t elapsed = timeControl_->elapsed();
  if (!debug() && elapsed < 500) return;
  char text[MOVE_TEXT_SIZE];
  char line[LINE_SIZE] = "";
  appendf(line, sizeof line, "info currmove %s currmovenumber %d",
          moveToText(snapshot_, move, STYLE_COORDINATE, text), number);
  printLine(line);
}

void UciOutput::reportMultiPv(Engine& engine, int index, Move rootMove, int score, int alpha, int beta) {
  char line[LINE_SIZE] = "";
  appendf(line, sizeof line, "info multipv %d depth %d seldepth %d ", index, engine.iterationDepth + 1,
          engine.maxPly + 1);
  appendScoreText(line, sizeof line, score, alpha, beta);
  appendf(line, sizeof line, " pv ");
  appendPv(line, sizeof line, engine, snapshot_, rootMove);
  collapseSpaces(line);
  printLine(line);
}

void UciOutput::reportBestMove(Move best, Move ponder) {
  if (best.isNone()) {
    // No legal move: the protocol's null move, so that whoever asked is not
    // left waiting.
    debugMessage("Kein Zug berechnet", nullptr);
    printLine("bestmove 0000");
    return;
  }
  Position pos = snapshot_;
  char bestText[MOVE_TEXT_SIZE];
  char ponderText[MOVE_TEXT_SIZE] = "";
  moveToText(pos, best, STYLE_COORDINATE, bestText);
  // The ponder move is written in the position after the best move.
  if (!ponder.isNone() && isMoveLegal(pos, best)) {
    MoveUndo undo;
    saveState(undo, pos);
    if (makeMove(pos, best, undo) && isMoveLegal(pos, ponder)) moveToText(pos, ponder, STYLE_COORDINATE, ponderText);
  }
  char line[LINE_SIZE];
  if (ponderText[0])
    std::snprintf(line, sizeof line, "bestmove %s ponder %s", bestText, ponderText);
  else
    std::snprintf(line, sizeof line, "bestmove %s", bestText);
  printLine(line);
}

void UciOutput::reportSearchEnd() {
  Engine& engine = *engine_;
  std::int64_t elapsed = timeControl_->elapsed();
  char line[LINE_SIZE] = "";
  appendf(line, sizeof line, "info depth %d seldepth %d time %16.0f nodes %16.0f hashfull %d nps %16.0f ",
          engine.iterationDepth, std::max(engine.maxPly, engine.iterationDepth) + 1, double(elapsed),
          double(engine.nodes), hashfull(engine), nodesPerSecond(engine.nodes, elapsed));
  appendScoreText(line, sizeof line, engine.rootScore, engine.rootAlpha, engine.rootBeta);
  collapseSpaces(line);
  printLine(line);
}

void UciOutput::debugMessage(const char* message, const char* detail) {
  if (!debug()) return;
  std::string line = "info string ";
  line += message;
  if (detail) {
    line += ' ';
    line += detail;
  }
  printLine(line);
}

UciTestOutput::UciTestOutput(Engine& engine, TimeControl& timeControl) : UciOutput(engine, timeControl) {}

void UciTestOutput::reportBestMove(Move, Move) {
  if (noOutput()) return;
  ++searches_;
  const double seconds = double(timeControl_->elapsed()) * 0.001;
  sumSeconds_ += seconds;
  // The clock counts whole milliseconds: a search that took less counts as
  // one millisecond in the mean, which 0 would otherwise hold at 0 for ever.
  logSum_ += std::log(std::max(seconds, 0.001));
  const double geometricMean = std::exp(logSum_ / searches_);
  char line[128];
  std::snprintf(line, sizeof line, "%4d %12.8f %16.10f %12.8f", searches_, seconds, sumSeconds_, geometricMean);
  writeLine(line);
}

}  // namespace korvane
