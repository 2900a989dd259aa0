// The UCI command interpreter: identity and options, position set-up, search
// requests, and the maintenance commands.
//
// Commands are matched exactly and case-sensitively by their first word;
// keywords inside a line are found wherever they occur. Problems are reported
// only through the output channel's debug messages, so a UCI GUI sees them
// only in debug mode; an unknown command is ignored.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "board/position.h"
#include "book/writer/book_command.h"
#include "learn/training.h"
#include "protocol/command_interpreter.h"
#include "protocol/search_controller.h"

namespace korvane {

class Engine;
class EngineOutput;
class Evaluator;

class UciInterpreter final : public CommandInterpreter {
 public:
  // `hiddenOptions` lists the four expert options in the "uci" reply; they
  // are accepted either way.
  UciInterpreter(Engine& engine, EngineOutput& output, SearchController& controller, bool hiddenOptions);
  ~UciInterpreter() override;

  void handleLine(const char* line) override;

  bool uciChess960() const { return uciChess960_; }

 private:
  void uciReply();
  void setOption(const char* line);
  void position(const char* args);
  void go(const char* line);
  // "bench [depth N]": the search benchmark on a fixed list of positions.
  void benchCommand(const char* args);
  // "eval", also while a search runs: on a copy of the searched position with
  // an evaluator of its own, so that the search is neither stopped nor
  // disturbed.
  void evalCommand(const char* args);
  // Copies the game position and the evaluation settings for "eval"; only
  // while no search runs.
  void takeEvalCopy();
  void quit();
  // Stops a running search without letting it print anything.
  void quietStop();
  // Loads the opening book after a new game or a start position. A book
  // file that fails is reported once, not at every game.
  void reloadBook();

  Engine& engine_;
  EngineOutput& output_;
  SearchController& controller_;
  bool hiddenOptions_;
  bool uciChess960_ = false;
  Position bookStart_;            // where the book's lines begin: the last initial array set up
  // The book file whose failure was last reported, while no load has worked since.
  std::optional<std::string> failedBookReported_;
  BookBuilderState bookBuilder_;  // the tree of "book add", kept between commands
  MatCommandState matState_;      // statistics of "mat add" and the training of "mat learn"
  Position evalPosition_;         // the game position as the last search started from it
  std::unique_ptr<Evaluator> evalEvaluator_;
};

// Reads the limits of a "go" line. Only the clock of the side to move counts.
GoLimits parseGoLimits(const char* line, bool whiteToMove);

}  // namespace korvane
