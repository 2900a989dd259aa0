// The opening book: a text file of opening lines, loaded into the first
// slots of the transposition table and probed before each search.
//
// File format (tokens separated by white space): a move followed by its
// integer weight opens the subtree of that move; "*" closes the current
// subtree; "startpos n" (only before any move of a line) switches to
// Chess960 start position n. The top level ends with a final "*".
#pragma once

#include <cstdint>
#include <string>

#include "board/position.h"
#include "board/types.h"

namespace korvane {

class TranspositionTable;

// Reads the book named `fileName` (tried in the working directory, then, for
// a name without a directory, beside the program) with the lines starting
// from `start`. On success the table holds the entries sorted by key and
// the answer is true. On any failure the table holds the single empty entry
// (so that the first probe gives up the book) and the answer is false.
bool loadBook(const std::string& fileName, const Position& start, TranspositionTable& table);
// Gives the table the single empty entry: a book that never answers.
void setEmptyBook(TranspositionTable& table);
// A book move for the position with `key`, chosen in proportion to the
// weights with the random number `random`; none when the book has no
// usable entry for it.
Move probeBook(const TranspositionTable& table, std::uint64_t key, std::uint32_t random);

}  // namespace korvane
