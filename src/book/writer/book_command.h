// The "book" maintenance command: adds PGN files to a book tree and writes the
// tree as an opening book, a Chess960 book or an EPD file of its positions.
//
//   book add <file> [value N] [ELO N] [all]
//   book write <file> [threshold N] [width N]      (also write960, writeEPD)
//   book delete
//
// The tree lives in a BookBuilderState owned by the caller, from the first
// "add" to the next "write" or "delete".
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "book/writer/book_builder.h"
#include "pgn/pgn_reader.h"

namespace korvane {

struct BookBuilderState {
  std::unique_ptr<BookTree> tree;
};

// What an argument text asks for; found by keyword as the command does.
struct BookCommandArguments {
  enum class Action { None, Delete, Add, Write, Write960, WriteEpd };
  Action action = Action::None;
  std::string fileName;
  std::uint32_t value = 1000;
  int minimumElo = -1;
  bool all = false;
  int threshold = 3000;
  double width = 0.25;
};

// Reads the text after "book"; `treeExists` decides whether "delete" and
// "write" apply.
BookCommandArguments parseBookArguments(const char* arguments, bool treeExists);

// Runs one "book" command with the text after the command word. Report lines
// (PGN errors, file errors, move counts) go to `print`.
void runBookCommand(const char* arguments, BookBuilderState& state, const LineWriter& print);

}  // namespace korvane
