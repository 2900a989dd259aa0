// Maintenance commands of the UCI interpreter: they test the engine and build
// its data, and are not part of the protocol ("perft", "book", "mat", "eval").
//
// Each takes the text after its command word. The interpreter stops a running
// search first where the command needs an idle engine.
#pragma once

#include <string>

namespace korvane {

struct BookBuilderState;
struct MatCommandState;

class Engine;
class EngineOutput;
class Evaluator;
struct Position;

// "perft depth N [Hash M]": counts the legal move sequences of N plies from
// the game position and prints the time and the count.
void perftCommand(Engine& engine, EngineOutput& output, const char* args);

// Opening book building from PGN files.
void bookCommand(BookBuilderState& state, EngineOutput& output, const char* args);
// Material statistics and training of the material network:
//   mat add <PGN file> [value N] [ELO N]   collect statistics (value 1000 = one
//                                          observation per configuration and game)
//   mat write <file>                       write them and drop the collector
//   mat delete                             drop the collector
//   mat learn <statistics file>            train the material network
// Training runs in the background until the program ends, writing
// "materialwerte.mat" and "NeuroLrn.txt" in the working directory.
void matCommand(MatCommandState& state, EngineOutput& output, const char* args);

// What a "mat" argument text asks for. Sub-commands are recognised at the
// start of the text; "write" only when a collector exists.
struct MatCommandArguments {
  enum class Action { None, Learn, Delete, Add, Write };
  Action action = Action::None;
  std::string fileName;
  int value = 1000;
  int minimumElo = -1;
};
MatCommandArguments parseMatArguments(const char* args, bool collectorExists);
// "eval": the evaluation of `pos` by `evaluator` and its material part, as
// "info score cp C" and "info string value V mat M".
void evalCommand(Evaluator& evaluator, const Position& pos, EngineOutput& output, const char* args);

}  // namespace korvane
