// The output channels of the UCI modes.
//
// UciOutput prints everything the protocol expects. UciTestOutput ("ucitest")
// prints nothing but one timing line per search, so that a script can time a
// series of searches without parsing the rest.
#pragma once

#include <cstddef>

#include "search/engine_output.h"

namespace korvane {

class UciOutput : public EngineOutput {
 public:
  UciOutput(Engine& engine, TimeControl& timeControl);

  void reportIteration(Engine& engine, int score, int alpha, int beta) override;
  void reportCurrentMove(Move move, int number) override;
  void reportMultiPv(Engine& engine, int index, Move rootMove, int score, int alpha, int beta) override;
  void reportBestMove(Move best, Move ponder) override;
  void reportSearchEnd() override;
  void debugMessage(const char* message, const char* detail) override;
};

class UciTestOutput final : public UciOutput {
 public:
  UciTestOutput(Engine& engine, TimeControl& timeControl);

  // Every search that ends with a move, however it ended (depth, nodes,
  // time, stop), prints one line: the search number, its time, the total
  // time and the geometric mean of all search times so far, in seconds.
  // Searches ended quietly (NoOutput) are neither printed nor counted.
  void reportBestMove(Move best, Move ponder) override;
  // The line is printed with the move, which every search reports.
  void reportSearchEnd() override {}
  // Everything else is swallowed.
  void printLine(std::string_view) override {}

 private:
  int searches_ = 0;
  double sumSeconds_ = 0.0;
  // The geometric mean is kept as a sum of logarithms: a product of many
  // short times would underflow to 0.
  double logSum_ = 0.0;
};

// " score cp N" or " score mate N", with " lowerbound" / " upperbound" when
// the score lies on or outside the window. Appended to `out` (capacity
// `size`, always terminated).
void appendScoreText(char* out, std::size_t size, int score, int alpha, int beta);
// Reduces every run of spaces to a single space, in place.
void collapseSpaces(char* text);

}  // namespace korvane
