// Text forms of positions and moves: FEN, Chess960 start positions,
// coordinate notation for the protocols and short algebraic notation (German
// piece letters when written; English or German when read).
#pragma once

#include <string>
#include <string_view>

#include "board/position.h"
#include "board/types.h"

namespace korvane {

// Move text styles.
constexpr int STYLE_COORDINATE = 2;  // e2e4, e7e8q; castling by the position's flags
constexpr int STYLE_SAN_ANNOTATED = 3;  // Sf3, exd6 e.p.+, Dh5++
constexpr int STYLE_SAN = 1;            // any other value: SAN without annotations

// Longest text moveToText writes, terminator included.
constexpr int MOVE_TEXT_SIZE = 16;

// Reads a FEN up to and including its en-passant field (the clocks are left
// to the caller). Returns a pointer just past that field, or nullptr on any
// error; a rejected FEN leaves the Position as it was. `text` must be
// NUL-terminated and is never read past its terminator.
const char* setFen(Position& pos, const char* text);
// The four FEN fields (board, side, castling, en passant), no move counters.
std::string positionToFen(const Position& pos);
// Sets up Chess960 start position number n (taken modulo 960; 518 is the
// classical array). Returns the clocks text " 0 1" of that start position, or
// nullptr if the setup failed.
const char* setChess960(Position& pos, unsigned n);
// Writes the move into buf (at least MOVE_TEXT_SIZE bytes) and returns buf.
// The annotated style plays the move internally and takes it back.
char* moveToText(Position& pos, Move m, int style, char* buf);
// Reads a move in coordinate notation (protocols) or SAN (PGN). On success the
// move is stored in `out` and true is returned; the Position is unchanged.
bool parseMove(Position& pos, std::string_view text, bool coordinate, Move& out);

}  // namespace korvane
