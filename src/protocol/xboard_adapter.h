// The xboard (protocol version 2) front end.
//
// The adapter keeps its own copy of the game, its own clock and time control,
// and turns every xboard command into UCI command lines that it posts to a
// command sink; the sink runs them in order on the inner UCI interpreter. The
// search's result comes back through XboardOutput::reportBestMove, which
// takes the adapter's lock, asks whether the move is still wanted, prints it
// and hands it here: the adapter plays it in its game, charges its clock,
// tests for the end of the game, offers a draw or resigns, and starts
// pondering on the expected reply.
//
// Threads: the main thread calls handleLine; the search thread comes in
// through XboardOutput. Both hold the adapter's lock, so a move arriving
// while a command is handled waits for it. The main thread never waits for
// the sink while it holds the lock, so the search thread (which a queued
// "stop" may be waiting for) can always get in. Instead it waits for room in
// the sink before it takes the lock, for as many lines as one command and
// one finishing search can post together; so no line is ever dropped, and a
// burst of input is slowed down to the pace at which the commands run.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "board/game_record.h"
#include "board/types.h"
#include "protocol/command_interpreter.h"

namespace korvane {

class XboardOutput;

// Where the adapter's UCI command lines go. They run later, one at a time,
// in the order posted.
class CommandSink {
 public:
  virtual ~CommandSink() = default;
  // Queues the line without waiting. False when there is no room for it.
  virtual bool post(std::string_view command) = 0;
  // Queues the line, waiting for room when the sink is full. False only for
  // a line that can never be queued.
  virtual bool postWaiting(std::string_view command) = 0;
  // Waits until the sink can take `shortLines` lines of up to 999
  // characters and `longLines` longer ones without waiting.
  virtual void waitForRoom(int shortLines, int longLines) = 0;
  // Waits until every posted line has run.
  virtual void waitUntilIdle() = 0;
};

// One period of an xboard time control.
struct TimePeriod {
  int moves = -1;          // moves in the period; 0: all remaining moves; -1: no such period
  double baseMs = 0.0;     // time given at the start of the period
  double incrementMs = 0.0;
};

using TimeControlPeriods = TimePeriod[3];

// The period the engine's next move falls in, after `movesDone` moves of its
// own, and the moves left until that period's time is used up (0: none).
struct PeriodChoice {
  int index;
  int movesToGo;
};
PeriodChoice currentPeriod(const TimeControlPeriods& periods, int movesDone);
// The time added to the own clock by the engine's move number
// `movesDone` + 1: the increment, plus the next period's time when this move
// completes a period.
double incrementAfterMove(const TimeControlPeriods& periods, int movesDone);
// Reads "MOVES BASE INC" one to three times (BASE in minutes or MM:SS, INC in
// seconds). False, with `periods` unchanged, for anything else.
bool parseLevel(const char* text, TimeControlPeriods& periods);

class XboardAdapter final : public CommandInterpreter {
 public:
  // Length of one move in the move list: the move text padded with blanks.
  static constexpr std::size_t TOKEN = 6;
  // The own clock never goes below this after a move of the engine.
  static constexpr std::int64_t MIN_CLOCK_MS = 150;

  XboardAdapter(XboardOutput& output, std::unique_ptr<CommandSink> sink);
  // Stops the search without a word and runs what is still queued.
  ~XboardAdapter() override;
  XboardAdapter(const XboardAdapter&) = delete;
  XboardAdapter& operator=(const XboardAdapter&) = delete;

  void handleLine(const char* line) override;

  // The calls of XboardOutput::reportBestMove, made while it holds mutex().
  std::mutex& mutex() { return lock_; }
  // True when the adapter waits for a move of the engine in the position
  // `root` (the position the finished search started from). A search that
  // was stopped, or that belongs to a position the game has left, is not
  // wanted any more.
  bool awaitsMove(const Position& root) const;
  // Score bookkeeping and draw offer, before the move is printed.
  void prepareEngineMove(int rootScore, int rootMoveCount);
  // The engine's move was printed: play it, charge the clock, test the end
  // of the game and resignation, start pondering.
  void afterEngineMove(Move best, Move ponder, int resignThreshold);

  // State for tests.
  const GameRecord& game() const { return game_; }
  const std::string& moveList() const { return moveList_; }
  std::int64_t ownClock() const { return ownClock_; }
  const TimeControlPeriods& periods() const { return periods_; }
  bool ponderingNow() const { return ponderingNow_; }

 private:
  // How handling a line ends the run: not at all, by "quit", or because a
  // command came before "protover 2".
  enum class Ending { None, Quit, OldProtocol };
  // Handles one line under the lock.
  Ending dispatch(const char* line);
  void protover(const char* args);
  void newGame();
  void reset();
  void level(const char* line, const char* args);
  void usermove(const char* args);
  void setboard(const char* args);
  void hint();
  void undo();
  void remove();
  void quietStop();
  void think(Move ponderMove);
  void startAnalysis();
  void leaveAnalysis();
  // True (after printing the result) when the game has ended.
  bool gameOverTest();
  // True (after printing the result) when the side to move has no legal move.
  bool printMateOrStalemate();
  bool resignTest(int resignThreshold);
  // Sets the game from the base text and plays the move list on it.
  void rebuildGame();
  void applyVariant();
  bool readSettingsFile();
  void post(const std::string& command);
  // Queues the line, waiting for room if needed; never while holding the lock.
  void postWaiting(const std::string& command);
  int pliesPlayed() const { return int(moveList_.size() / TOKEN); }
  std::string tokenOf(Move m);

  std::mutex lock_;
  XboardOutput& output_;
  std::unique_ptr<CommandSink> sink_;

  GameRecord game_;
  std::string baseText_ = "startpos";
  std::string moveList_;
  Move expectedReply_;
  TimeControlPeriods periods_;
  std::int64_t ownClock_ = 0;
  std::int64_t moveStart_ = 0;
  std::int64_t fixedTime_ = -1;  // ms per move; -1: none
  int depthLimit_ = -1;          // plies; -1: none

  bool forceMode_ = false;
  bool analyzing_ = false;
  bool ponderPermitted_ = false;
  bool ponderingNow_ = false;
  bool drawOffered_ = false;  // by the opponent
  std::string ponderToken_;   // the expected reply being pondered on
  bool chess960_ = false;     // "variant fischerandom"
  // A search whose move is wanted has been asked for and not answered.
  bool awaitingMove_ = false;
  bool closing_ = false;
  int protocolVersion_ = 1;
  // The settings file's option lines, read under the lock and posted after it.
  std::vector<std::string> settingsLines_;

  // The latest root scores, newest first, for draw offers and resignation.
  int scores_[4] = {};
  int scoreCount_ = 0;
  int recordedSide_ = 0;
  int drawOfferCounter_ = 0;
};

}  // namespace korvane
