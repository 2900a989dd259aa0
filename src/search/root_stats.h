// Root statistics of one iteration and the time factor drawn from them.
//
// After each root move the search reports the nodes the move took and its
// score. RootStats keeps the iteration's node total and up to four moves:
// the best-scoring one first (ties: more nodes), the others by nodes, most
// first. How the nodes spread over these moves, together with how long the
// principal variation stayed the same, tells whether the root is settled; a
// small built-in network turns that into the time factor (a percentage) that
// TimeControl::mayStartIteration weighs the next iteration with.
//
// The same inputs and output can be logged to the time log file, one line per
// iteration, labelled with whether the next iteration changed the best move,
// to train the network from.
//
// One RootStats per Engine, used only by that engine's search thread.
#pragma once

#include <cstdint>

#include "board/types.h"
#include "eval/material_net.h"

namespace korvane {

class RootStats {
 public:
  static constexpr int MAX_ENTRIES = 4;

  struct Entry {
    std::uint64_t nodes = 0;
    int score = 0;
    Move move;
  };

  // Builds the network from its built-in text.
  RootStats();

  // Forgets the moves and the node total (start of an iteration). A pending
  // log line is kept: the next iteration completes it.
  void reset();
  // Records a searched root move.
  void addMove(Move move, std::uint64_t nodes, int score);

  // Whether the statistics say enough to apply the network: at least 8000
  // nodes in the iteration, at least 200 in the second entry, and a first
  // entry scoring within -2800..2800 (beyond that the game is decided).
  bool applicable() const;
  // The network's output for (pvAgreement, node shares); pvAgreement is the
  // number of leading moves (0..5) this iteration's principal variation
  // shares with the previous one's.
  double networkOutput(int pvAgreement);
  // When applicable, sets `factor` to the output x 100, truncated, clamped to
  // 0..75, and answers true; otherwise leaves it alone and answers false.
  bool timeFactor(int pvAgreement, int& factor);

  // Time log, after a completed iteration. Nothing happens without a file
  // (empty or "nul:"), for scores outside -2799..2799, for positions with an
  // endgame specialist, or once the game has 20 positions. Otherwise a
  // pending line is written out, ending in 1 when `bestMove` differs from
  // the best move it was made with, else 0; and from depth 6 on, when the
  // network applies, a new pending line is made.
  void logIteration(const char* fileName, int depth, Move bestMove, int score, bool hasSpecialist,
                    int gamePositions, int pvAgreement);
  // Drops the pending line without writing it (a new search starts: the
  // next best move would answer for another position).
  void discardPendingLine() { hasPending_ = false; }

  int count() const { return count_; }
  const Entry& entry(int i) const { return entries_[i]; }
  std::uint64_t totalNodes() const { return total_; }
  bool hasPendingLine() const { return hasPending_; }
  const char* pendingLine() const { return pending_; }

 private:
  void reorder();
  // The node share of entry i, or -0.1 when there is no such entry.
  double share(int i) const;

  MaterialNet net_;
  Entry entries_[MAX_ENTRIES];
  int count_ = 0;
  std::uint64_t total_ = 0;
  char pending_[96] = "";
  Move pendingMove_;
  bool hasPending_ = false;
};

}  // namespace korvane
