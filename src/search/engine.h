// The Engine record: one per search thread.
//
// It holds the game being played (the root of every search), the options that
// shape the search, the search's state and results, and the channel and time
// control it reports to. The main engine owns the transposition table; worker
// engines point to the main engine's table and never free it.
//
// Threads: the command thread writes the options and the game only while no
// search runs (it stops the search first), except the resign threshold and
// the time log name, which are safe to change at any time. The flags at the
// end are polled across threads and are relaxed atomics.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "board/game_record.h"
#include "board/move_picker.h"
#include "board/types.h"
#include "eval/evaluator.h"
#include "search/root_stats.h"
#include "search/transposition_table.h"

namespace korvane {

class EngineOutput;
class ReplayFile;
class TimeControl;

// Longest principal variation the search reports.
constexpr int MAX_PV = 60;
// Deepest ply a node may have; the record stack has room for one more.
constexpr int MAX_PLY = 59;
// Ply records: two above the root, the root's, and one per ply below it.
constexpr int PLY_RECORDS = 63;
// Longest file name an option may set.
constexpr std::size_t MAX_FILE_NAME = 511;

constexpr int DEFAULT_HASH_MB = 3;
constexpr int DEFAULT_RESIGN_THRESHOLD = -7000;
// The time log name that means "no log"; never a file of that name.
constexpr const char* NO_TIME_LOG = "nul:";

// A file name that the command thread may replace while a search thread
// reads it (the time log may be renamed during a search).
class SharedFileName {
 public:
  explicit SharedFileName(std::string_view name) { set(name); }
  SharedFileName(const SharedFileName&) = delete;
  SharedFileName& operator=(const SharedFileName&) = delete;

  // Keeps at most MAX_FILE_NAME characters.
  void set(std::string_view name);
  std::string get() const;
  // Copies the name, terminated, into `out` of MAX_FILE_NAME + 1 bytes;
  // allocates nothing.
  void copyTo(char* out) const;

 private:
  mutable std::mutex lock_;
  char name_[MAX_FILE_NAME + 1] = {};
};

struct RootMove {
  Move move;
  std::int32_t score;
  double share;  // part of the nodes this move took in the last iteration
};

// What the search keeps per ply: the move being searched from the node and
// what is needed to take it back, plus the facts later plies look back at.
struct PlyRecord {
  Move move;                      // none for a null move
  std::int32_t searched = 0;      // moves searched so far; -1 during a null move
  std::int32_t nullWindowCount = 0;
  std::uint64_t key = 0;
  std::int16_t ext = 0;           // extension (or, negative, reduction) of the move
  bool reduced = false;           // the move is being searched with a late-move reduction
  std::int32_t staticEval = 0;
  MoveUndo undo;
};

// The last two moves that refuted something after a given move of the same
// side, newest first, as 12-bit from/to words.
struct FollowUpEntry {
  std::uint16_t moves[2];
};

// One line of a multi-PV search: a finished root move and its score.
struct MultiPvLine {
  Move move;
  std::int32_t score;
};

class Engine {
 public:
  // The main engine: owns a table of `hashBytes`.
  explicit Engine(std::size_t hashBytes = std::size_t(DEFAULT_HASH_MB) << 20);
  // A worker engine: searches with the main engine's table.
  explicit Engine(TranspositionTable& shared);
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  TranspositionTable& table() { return *table_; }
  bool ownsTable() const { return ownTable_ != nullptr; }
  // Takes over the game, the root moves and the options of `main` (for a
  // worker before its search).
  void copyStateFrom(const Engine& main);

  GameRecord game;
  Evaluator evaluator;  // with its caches and material network ("NeuroMaterial", "MaterialFile")
  EngineOutput* output;  // never null: a silent channel until a protocol is chosen
  TimeControl* timeControl = nullptr;

  // Options.
  bool ownBook = true;
  std::string bookFile = "Korvane.opn";
  int multiPv = 1;
  // The two options that may change during a search.
  std::atomic<int> resignThreshold{DEFAULT_RESIGN_THRESHOLD};  // internal score units
  SharedFileName timeLogFile{NO_TIME_LOG};
  // Workers favour root moves that took many nodes earlier.
  bool worker = false;
  // Games replayed while the game follows one of them (main engine only; not owned).
  ReplayFile* replay = nullptr;

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
  bool haveBest = false;  // a root move beat alpha in the current iteration
  int failLowCount = 0;

  // Below the root.
  int ply = 0;
  int lastNullPly = -1;
  int previousNullPly = -10;
  PlyRecord plies[PLY_RECORDS];
  FollowUpEntry followUps[4096];
  HistoryTable history[2];  // by side to move
  MoveEntry moveStack[MAX_MOVES * (PLY_RECORDS + 2)];
  MoveEntry* moveTop = moveStack;
  RootStats rootStats;
  MultiPvLine multiPvLines[MAX_MOVES];
  int multiPvCount = 0;
  Move pvLines[2][MAX_PV];
  int pvLength[2] = {0, 0};
  int pvIndex = 0;

  PlyRecord& record(int atPly) { return plies[atPly + 2]; }

  // Flags polled across threads.
  std::atomic<bool> stopFlag{false};
  std::atomic<bool> noTimeCheck{false};       // pondering: the clock does not stop the search
  std::atomic<bool> iterationAllowed{false};  // the time control allowed the current iteration
  std::atomic<bool> bestMoveKnown{false};     // bestMove holds a result of the current search
  std::atomic<bool> infinite{false};          // "go infinite": the result waits for "stop"

  void setBestMove(Move m) {
    bestMove = m;
    bestMoveKnown.store(!m.isNone(), std::memory_order_relaxed);
  }

 private:
  std::unique_ptr<TranspositionTable> ownTable_;
  TranspositionTable* table_;
};

// Fills the engine's root moves with the legal moves of its game position, in
// generation order. With a list (coordinate move texts separated by blanks),
// only the moves named in it are kept, or, with `exclude`, all but those.
// Moves are matched by their whole text. When the list leaves no legal move,
// every legal move is kept and the answer is false.
bool buildRootMoves(Engine& engine, bool exclude, const char* list);

// The principal variation beginning with `first` as the table holds it, at
// most `capacity` moves; answers the number of moves written. A line that
// starts with the best move also sets the ponder move.
int extractPv(Engine& engine, Move first, Move* line, int capacity);
// The principal variation as it is shown: extractPv's line, plus the mating
// move when the line ends in a position whose side to move mates at once (the
// search settles such positions without a table entry).
int extractDisplayPv(Engine& engine, Move first, Move* line, int capacity);

// The search of one thread for one "go": iterative deepening over the root
// moves until the time control or a stop ends it. False when it was stopped.
bool searchMain(Engine& engine, TimeControl* timeControl);

}  // namespace korvane
