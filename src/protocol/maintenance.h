// Maintenance commands of the UCI interpreter: they test the engine and build
// its data, and are not part of the protocol ("perft", "book", "mat", "eval").
//
// Each takes the text after its command word. The interpreter stops a running
// search first where the command needs an idle engine.
#pragma once

namespace korvane {

struct BookBuilderState;

class Engine;
class EngineOutput;

// "perft depth N [Hash M]": counts the legal move sequences of N plies from
// the game position and prints the time and the count.
void perftCommand(Engine& engine, EngineOutput& output, const char* args);

// Opening book building from PGN files.
void bookCommand(BookBuilderState& state, EngineOutput& output, const char* args);
// Material statistics and training of the material network.
void matCommand(Engine& engine, EngineOutput& output, const char* args);
// "eval": the evaluation of the game position and its material part, as
// "info score cp C" and "info string value V mat M". It uses the engine's own
// evaluator and position, so no search may be running.
void evalCommand(Engine& engine, EngineOutput& output, const char* args);

}  // namespace korvane
