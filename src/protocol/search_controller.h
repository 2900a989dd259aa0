// Starts, stops and converts searches for the command interpreters.
//
// Each "go" runs on a search thread of its own (or, with the blocking option
// and no pondering, in the caller's thread), so the command loop stays free
// to answer "isready", "stop" and "ponderhit" while the engine thinks. With
// more than one processor, worker threads search copies of the main engine
// that share its transposition table; they are joined before the best move
// is reported.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/platform.h"
#include "search/time_control.h"

namespace korvane {

class Engine;
class EngineOutput;

constexpr int MAX_THREADS = 8;

// The limits of one "go", as read from the command line. The clock values are
// those of the side to move.
struct GoLimits {
  bool infinite = false;
  bool ponder = false;
  std::int64_t time = 0;       // ms left on the own clock
  std::int64_t increment = 0;  // ms added per move
  int movesToGo = 0;
  int depth = 0;
  std::int64_t nodes = 0;
  int mate = 0;
  std::int64_t moveTime = 0;  // ms
};

class SearchController {
 public:
  SearchController(Engine& engine, EngineOutput& output, TimeControl& timeControl);
  ~SearchController();
  SearchController(const SearchController&) = delete;
  SearchController& operator=(const SearchController&) = delete;

  // Starts a search of the engine's game position over its root moves.
  // False when no search could be started.
  bool go(const GoLimits& limits);
  // Asks the running search to stop and waits for it. False when no search
  // was running.
  bool stop();
  // The opponent played the expected move: the pondering search now runs
  // under the normal time control, and stops at once if its time is up.
  void ponderhit();

  // A search thread was started and has not been waited for yet (it may
  // have ended by itself).
  bool searchThreadActive();

  int threadCount() const { return threadCount_; }
  // Number of search threads, 1..MAX_THREADS. Only while no search runs.
  void setThreads(int n);

  // Set by "quit": the main loop ends, and a search ending now stays silent.
  std::atomic<bool> quitFlag{false};
  // While set, a "go" that is neither pondering nor infinite runs to its end
  // before it returns.
  std::atomic<bool> blocking{false};

 private:
  // The search thread's body: workers, the main search, the report.
  void run();
  void startWorkers();
  void stopWorkers();

  Engine& engine_;
  EngineOutput& output_;
  TimeControl& timeControl_;
  TimeControl workerTimeControl_;  // unlimited: workers stop when told
  std::mutex lock_;                // guards the search thread
  platform::Thread searchThread_;
  int threadCount_ = 1;
  std::unique_ptr<Engine> workers_[MAX_THREADS - 1];
  platform::Thread workerThreads_[MAX_THREADS - 1];
};

}  // namespace korvane
