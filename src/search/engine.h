// The Engine record: one per search thread.
//
// It holds the game being played (the root of every search), the options that
// shape the search, the search's state and results, and the channel and time
// control it reports to. The main engine owns the transposition table; worker
// engines point to the main engine's table and never free it.
//
// Threads: the command thread writes the options and the game only while no
// search runs (it stops the search first). The flags at the end are polled
// across threads and are relaxed atomics.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "board/game_record.h"
#include "board/move_picker.h"
#include "board/types.h"
#include "search/transposition_table.h"

namespace korvane {

class EngineOutput;
class TimeControl;

// Longest principal variation the search reports.
constexpr int MAX_PV = 60;
// Longest file name an option may set.
constexpr std::size_t MAX_FILE_NAME = 511;

constexpr int DEFAULT_HASH_MB = 3;
constexpr int DEFAULT_NEURO_MATERIAL = 35;
constexpr int DEFAULT_RESIGN_THRESHOLD = -7000;
// The time log name that means "no log"; never a file of that name.
constexpr const char* NO_TIME_LOG = "nul:";

struct RootMove {
  Move move;
  std::int32_t score;
  double share;  // part of the nodes this move took in the last iteration
};

class Engine {
 public:
  // The main engine: owns a table of `hashBytes`.
  explicit Engine(std::size_t hashBytes = std::size_t(DEFAULT_HASH_MB) << 20);
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  TranspositionTable& table() { return *table_; }
  bool ownsTable() const { return ownTable_ != nullptr; }

  GameRecord game;
  EngineOutput* output;  // never null: a silent channel until a protocol is chosen
  TimeControl* timeControl = nullptr;

  // Options.
  bool ownBook = true;
  std::string bookFile = "Korvane.opn";
  int multiPv = 1;
  int resignThreshold = DEFAULT_RESIGN_THRESHOLD;  // internal score units
  std::string timeLogFile = NO_TIME_LOG;
  int neuroMaterialWeight = DEFAULT_NEURO_MATERIAL;
  std::string materialFile = "(internal)";

  // Root moves of the coming search, in generation order until it sorts them.
  RootMove rootMoves[MAX_MOVES];
  int rootMoveCount = 0;
  bool searchMovesGiven = false;  // a searchmoves/excludemoves list restricted them

  // Search state and results, read by the output channel.
  int iterationDepth = 0;  // plies
  int maxPly = 0;          // selective depth reached
  std::uint64_t nodes = 0;
  Move bestMove;
  Move ponderMove;
  int rootScore = 0;
  int rootAlpha = 0;
  int rootBeta = 0;
  bool firstIteration = true;

  // Flags polled across threads.
  std::atomic<bool> stopFlag{false};
  std::atomic<bool> noTimeCheck{false};       // pondering: the clock does not stop the search
  std::atomic<bool> iterationAllowed{false};  // the time control allowed the current iteration

 private:
  std::unique_ptr<TranspositionTable> ownTable_;
  TranspositionTable* table_;
};

// Fills the engine's root moves with the legal moves of its game position, in
// generation order. With a list (coordinate move texts separated by blanks),
// only the moves named in it are kept, or, with `exclude`, all but those.
void buildRootMoves(Engine& engine, bool exclude, const char* list);

// The principal variation beginning with `first`, at most `capacity` moves;
// answers the number of moves written. Until the search can read lines back
// from the table, the variation is the move itself.
int extractPv(Engine& engine, Move first, Move* line, int capacity);

}  // namespace korvane
