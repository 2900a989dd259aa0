#include "protocol/uci_interpreter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "board/notation.h"
#include "book/opening_book.h"
#include "book/writer/book_command.h"
#include "eval/evaluator.h"
#include "protocol/maintenance.h"
#include "protocol/scan.h"
#include "search/bench.h"
#include "search/engine.h"
#include "search/engine_output.h"
#include "search/time_control.h"

namespace korvane {

namespace {

constexpr int MAX_HASH_MB = 2047;
constexpr int MAX_MULTI_PV = 255;
constexpr int MAX_NEURO_MATERIAL = 100;
constexpr std::size_t MAX_OPTION_NAME = 29;
constexpr std::size_t MAX_OPPONENT_NAME = 80;

enum class OptionId {
  Hash,
  Ponder,
  OwnBook,
  BookFile,
  ClearHash,
  MultiPv,
  Threads,
  Opponent,
  Chess960,
  Blocking,
  NoOutput,
  NeuroMaterial,
  MaterialFile,
  Resign,
  TimeLog
};

struct OptionInfo {
  const char* name;
  OptionId id;
  const char* missingValue;  // message when the line has no "value"
  const char* badValue;      // message when the value is refused
};

// In the order names are compared.
constexpr OptionInfo OPTIONS[] = {
    {"Hash", OptionId::Hash, "'setoption name Hash' ohne 'value'", "Unzulässiger Wert für 'Hash'"},
    {"Ponder", OptionId::Ponder, "'setoption name Ponder' ohne 'value'", "Unzulässiger Wert für 'Ponder'"},
    {"OwnBook", OptionId::OwnBook, "'setoption name OwnBook' ohne 'value'", "Unzulässiger Wert für 'OwnBook'"},
    {"BookFile", OptionId::BookFile, "'setoption name BookFile' ohne 'value'", nullptr},
    {"Clear Hash", OptionId::ClearHash, nullptr, nullptr},
    {"MultiPV", OptionId::MultiPv, "'setoption name MultiPV' ohne 'value'", "Unzulässiger Wert für 'MultiPV'"},
    {"NumberOfProcessors", OptionId::Threads, "'setoption name NumberOfProcessors' ohne 'value'",
     "Unzulässiger Wert für 'NumberOfProcessors'"},
    {"Opponent", OptionId::Opponent, "'setoption name Opponent' ohne 'value'", "Lesefehler bei 'Opponent value'"},
    {"UCI_Chess960", OptionId::Chess960, "'setoption name UCI_Chess960' ohne 'value'",
     "Unzulässiger Wert für 'UCI_Chess960'"},
    {"blocking", OptionId::Blocking, "'setoption name blocking' ohne 'value'", "Unzulässiger Wert für 'blocking'"},
    {"NoOutput", OptionId::NoOutput, "'setoption name NoOutput' ohne 'value'", "Unzulässiger Wert für 'NoOutput'"},
    {"NeuroMaterial", OptionId::NeuroMaterial, "'setoption name NeuroMaterial' ohne 'value'",
     "Unzulässiger Wert für 'NeuroMaterial'"},
    {"MaterialFile", OptionId::MaterialFile, "'setoption name MaterialFile' ohne 'value'", nullptr},
    {"Resign", OptionId::Resign, "'setoption name Resign' ohne 'value'", "Unzulässiger Wert für 'Resign'"},
    {"Zeitprotokolldatei", OptionId::TimeLog, "'setoption name Zeitprotokolldatei' ohne 'value'", nullptr},
};

const OptionInfo* findOption(std::string_view name) {
  for (const OptionInfo& option : OPTIONS)
    if (name == option.name) return &option;
  return nullptr;
}

// The value of a check option: exactly "true" or "false".
bool readBool(const char* valueText, bool& out) {
  std::string word;
  scan::readWord(valueText, 8, word);
  if (word != "true" && word != "false") return false;
  out = word == "true";
  return true;
}

// A file name runs from after the separator that follows "value" to the end
// of the line, leading white space skipped.
std::string readFileName(const char* valueText) {
  std::string name(scan::skipWhite(scan::skipOne(valueText)));
  if (name.size() > MAX_FILE_NAME) name.resize(MAX_FILE_NAME);
  return name;
}

// The first occurrence of `word` in `text` that stands as a word of its own:
// white space (or the line's start) before it, white space (or the line's
// end) after it. "values" or "valuex" is no "value".
const char* findWord(const char* text, const char* word) {
  const std::size_t length = std::strlen(word);
  for (const char* at = std::strstr(text, word); at; at = std::strstr(at + 1, word)) {
    const bool startsWord = at == text || scan::isWhite(at[-1]);
    const bool endsWord = at[length] == '\0' || scan::isWhite(at[length]);
    if (startsWord && endsWord) return at;
  }
  return nullptr;
}

// Text after a keyword and the one character that follows it.
const char* afterKeyword(const char* keyword, std::size_t length) { return scan::skipOne(keyword + length); }

// 32 pieces, all on ranks 1, 2, 7 and 8: a start array, standard or not.
bool looksLikeStartArray(const Position& pos) {
  constexpr Bitboard OUTER_RANKS = 0xFFFF00000000FFFFULL;
  return popCount(pos.occupied) == 32 && (pos.occupied & ~OUTER_RANKS) == 0;
}

}  // namespace

UciInterpreter::UciInterpreter(Engine& engine, EngineOutput& output, SearchController& controller,
                               bool hiddenOptions)
    : engine_(engine),
      output_(output),
      controller_(controller),
      hiddenOptions_(hiddenOptions),
      evalEvaluator_(std::make_unique<Evaluator>()) {
  takeEvalCopy();
  // The book is there from the start, for a "go" before any "position". A
  // book that does not load is not reported here: no protocol has been
  // agreed on yet, and the next load reports it.
  if (engine_.ownBook) loadBook(engine_.bookFile, bookStart_, engine_.table());
}

UciInterpreter::~UciInterpreter() = default;

void UciInterpreter::handleLine(const char* line) {
  const char* wordStart = scan::skipWhite(line);
  const char* wordEnd = wordStart;
  while (*wordEnd && !scan::isWhite(*wordEnd)) ++wordEnd;
  std::string_view word(wordStart, std::size_t(wordEnd - wordStart));
  // What follows the command word and its separator, white space skipped.
  const char* args = scan::skipWhite(scan::skipOne(wordEnd));

  if (word == "uci") {
    uciReply();
  } else if (word == "debug") {
    output_.setDebug(std::strstr(line, "off") == nullptr);
  } else if (word == "isready") {
    output_.printLine("readyok");
  } else if (word == "setoption") {
    setOption(line);
  } else if (word == "ucinewgame") {
    quietStop();
    reloadBook();
  } else if (word == "position") {
    position(args);
  } else if (word == "go") {
    go(line);
  } else if (word == "stop") {
    controller_.stop();
  } else if (word == "ponderhit") {
    controller_.ponderhit();
  } else if (word == "quit") {
    quit();
  } else if (word == "perft") {
    quietStop();
    perftCommand(engine_, output_, args);
  } else if (word == "book") {
    quietStop();
    bookCommand(bookBuilder_, output_, args);
  } else if (word == "mat") {
    matCommand(matState_, output_, args);
  } else if (word == "eval") {
    evalCommand(args);
  } else if (word == "bench") {
    // On an engine of its own: a running search goes on and still reports.
    benchCommand(args);
  }
}

void UciInterpreter::takeEvalCopy() {
  evalPosition_ = engine_.game.position;
  // Taking over the network clears the caches: only when the settings differ.
  if (evalEvaluator_->neuroMaterial() != engine_.evaluator.neuroMaterial() ||
      evalEvaluator_->net().loadedName() != engine_.evaluator.net().loadedName())
    evalEvaluator_->copySettingsFrom(engine_.evaluator);
}

void UciInterpreter::evalCommand(const char* args) {
  // While a search thread exists the engine's position and evaluator are its
  // own; the copy taken when it started shows the same position.
  if (!controller_.searchThreadActive()) takeEvalCopy();
  korvane::evalCommand(*evalEvaluator_, evalPosition_, output_, args);
}

void UciInterpreter::benchCommand(const char* args) {
  int depth = DEFAULT_BENCH_DEPTH;
  if (const char* at = std::strstr(args, "depth")) {
    if (!scan::readInt(at + 5, depth) || depth < 1 || depth > 30) depth = DEFAULT_BENCH_DEPTH;
  }
  const BenchResult r = runBench(depth);
  const std::int64_t ms = std::max<std::int64_t>(r.milliseconds, 1);
  char line[160];
  std::snprintf(line, sizeof line, "info string bench depth %d nodes %llu time %lld nps %.0f", depth,
                static_cast<unsigned long long>(r.nodes), static_cast<long long>(r.milliseconds),
                double(r.nodes) * 1000.0 / double(ms));
  output_.printLine(line);
}

void UciInterpreter::uciReply() {
  output_.printLine("id name Korvane 2.0");
  output_.printLine("id author Ulvenmark");
  output_.printLine("option name Hash type spin default 3 min 3 max 2047");
  output_.printLine("option name Ponder type check default true");
  output_.printLine("option name OwnBook type check default true");
  output_.printLine("option name Clear Hash type button");
  output_.printLine("option name MultiPV type spin default 1 min 1 max 255");
  output_.printLine("option name UCI_Chess960 type check default false");
  output_.printLine("option name BookFile type string default Korvane.opn");
  output_.printLine("option name Opponent type string default unknown");
  output_.printLine("option name NumberOfProcessors type spin default 1 min 1 max " + std::to_string(MAX_THREADS));
  output_.printLine("option name NeuroMaterial type spin default " + std::to_string(DEFAULT_NEURO_MATERIAL) +
                    " min 0 max 100");
  output_.printLine("option name MaterialFile type string default (internal)");
  if (hiddenOptions_) {
    output_.printLine("option name Zeitprotokolldatei type string default nul:");
    output_.printLine("option name blocking type check default false");
    output_.printLine("option name NoOutput type check default false");
    output_.printLine("option name Resign type spin default 700 min 400 max 2000");
  }
  output_.printLine("uciok");
}

void UciInterpreter::setOption(const char* line) {
  const char* nameKeyword = std::strstr(line, "name");
  if (!nameKeyword) {
    output_.debugMessage("'setoption' ohne 'name'", line);
    return;
  }
  // The name runs up to the separator before "value", or to the end of the
  // line; a name with a blank before that separator therefore keeps it.
  const char* nameStart = scan::skipWhite(nameKeyword + 4);
  const char* valueInName = findWord(nameStart, "value");
  const char* nameEnd = valueInName ? valueInName : nameStart + std::strlen(nameStart);
  if (nameEnd == nameStart) {
    output_.debugMessage("Syntaxfehler bei 'setoption'", line);
    return;
  }
  std::size_t nameLength = std::size_t(nameEnd - nameStart) - (valueInName ? 1 : 0);
  const OptionInfo* option = findOption(std::string_view(nameStart, std::min(nameLength, MAX_OPTION_NAME)));
  if (!option) {
    output_.debugMessage("'setoption': unbekannte Option", line);
    return;
  }
  if (option->id == OptionId::ClearHash) {
    engine_.table().clear();
    return;
  }
  const char* valueKeyword = findWord(line, "value");
  if (!valueKeyword) {
    output_.debugMessage(option->missingValue, line);
    return;
  }
  const char* value = valueKeyword + 5;
  int number = 0;
  bool flag = false;

  switch (option->id) {
    case OptionId::Hash:
      if (!scan::readInt(value, number) || number < 1) {
        output_.debugMessage(option->badValue, line);
        return;
      }
      quietStop();
      engine_.table().allocate(std::size_t(std::min(number, MAX_HASH_MB)) << 20);
      return;
    case OptionId::Ponder:
      if (!readBool(value, flag)) break;
      if (engine_.timeControl) engine_.timeControl->setPonder(flag);
      return;
    case OptionId::OwnBook:
      if (!readBool(value, flag)) break;
      quietStop();
      engine_.ownBook = flag;
      return;
    case OptionId::BookFile:
      quietStop();
      engine_.bookFile = readFileName(value);
      if (engine_.table().bookCount() > 0) reloadBook();
      return;
    case OptionId::ClearHash:
      // No stop: the slots are atomics, so a running search only sees an
      // emptier table.
      engine_.table().clear();
      return;
    case OptionId::MultiPv:
      // A refused value still leaves a valid setting: one line.
      if (!scan::readInt(value, number) || number < 1) {
        output_.debugMessage(option->badValue, line);
        number = 1;
      }
      quietStop();
      engine_.multiPv = std::min(number, MAX_MULTI_PV);
      return;
    case OptionId::Threads:
      if (!scan::readInt(value, number) || number < 1) {
        output_.debugMessage(option->badValue, line);
        number = 1;
      }
      quietStop();
      controller_.setThreads(std::min(number, MAX_THREADS));
      return;
    case OptionId::Opponent: {
      std::string opponent;
      if (!scan::readWord(value, MAX_OPPONENT_NAME, opponent)) break;
      if (opponent == "Morlan") output_.debugMessage("Nicht jetzt, nicht schon wieder Du!", nullptr);
      return;
    }
    case OptionId::Chess960:
      if (!readBool(value, flag)) break;
      uciChess960_ = flag;
      return;
    case OptionId::Blocking:
      if (!readBool(value, flag)) break;
      controller_.blocking.store(flag, std::memory_order_relaxed);
      return;
    case OptionId::NoOutput:
      if (!readBool(value, flag)) break;
      output_.setNoOutput(flag);
      return;
    case OptionId::NeuroMaterial:
      if (!scan::readInt(value, number) || number < 0) break;
      quietStop();
      engine_.table().clear();
      engine_.evaluator.setNeuroMaterial(std::min(number, MAX_NEURO_MATERIAL));
      return;
    case OptionId::MaterialFile:
      quietStop();
      engine_.table().clear();
      // A file that cannot be read leaves the network in force.
      engine_.evaluator.setMaterialFile(readFileName(value));
      return;
    case OptionId::Resign: {
      std::int64_t resign = 0;
      if (!scan::readInt64(value, resign) || resign < 1) break;
      engine_.resignThreshold.store(resign >= 2000 ? -1000000 : resign <= 400 ? -4000 : -10 * int(resign),
                                    std::memory_order_relaxed);
      return;
    }
    case OptionId::TimeLog:
      engine_.timeLogFile.set(readFileName(value));
      return;
  }
  output_.debugMessage(option->badValue, line);
}

void UciInterpreter::position(const char* args) {
  quietStop();
  GameRecord& game = engine_.game;
  bool startArray = false;
  const char* setupText = args;  // where the search for "moves" begins

  if (std::strncmp(args, "startpos", 8) == 0) {
    game.setPosition(nullptr);
    startArray = true;
  } else if (std::strncmp(args, "Chess960", 8) == 0) {
    unsigned number = 0;
    if (!scan::readUnsigned(args + 8, number)) {
      output_.debugMessage("'position Chess960' ohne Nummer", nullptr);
      return;
    }
    Position pos;
    if (!setChess960(pos, number)) return;  // every number names a valid array
    game.setPosition(&pos);
    startArray = true;
  } else {
    const char* fenKeyword = std::strstr(args, "fen");
    if (!fenKeyword) {
      output_.debugMessage("'position' ohne 'startpos' und ohne 'fen'", nullptr);
      return;
    }
    const char* fen = scan::skipWhite(afterKeyword(fenKeyword, 3));
    // A FEN that does not read leaves the game as it was, so that the engine
    // never searches a half-read position.
    if (!game.setFromFen(fen)) {
      output_.debugMessage("position: Ungültiger FEN-String: ", fen);
      return;
    }
    startArray = looksLikeStartArray(game.position);
    setupText = fen;
  }
  if (uciChess960_) game.position.chess960Castling = 1;
  // Book lines start from the initial array, before any move of the game.
  if (startArray) bookStart_ = game.position;

  const char* movesKeyword = std::strstr(setupText, "moves");
  if (!movesKeyword) {
    output_.takeSnapshot();
    if (startArray) reloadBook();
    return;
  }
  int played = 0;
  for (const char* p = afterKeyword(movesKeyword, 5);;) {
    p = scan::skipWhite(p);
    if (!*p) break;
    // Four characters make a move; a fifth letter is a promotion piece, and
    // a fifth "O" or "0" ends queen-side castling ("O-O-O", "0-0-0").
    char token[6];
    std::size_t length = 0;
    while (length < 4 && p[length] && !scan::isWhite(p[length])) {
      token[length] = p[length];
      ++length;
    }
    token[length] = '\0';
    const bool castlingText = std::strncmp(token, "O-O", 3) == 0 || std::strncmp(token, "0-0", 3) == 0;
    if (length == 4 && (scan::isLetter(p[4]) || (castlingText && p[4] == token[0]))) {
      token[4] = p[4];
      token[++length] = '\0';
    }
    if (castlingText && length > 3 && !(length == 5 && token[3] == '-' && token[4] == token[0])) token[3] = '\0';

    Move move;
    if (!parseMove(game.position, token, true, move)) {
      output_.debugMessage("position: Ungültiger Zug: ", token);
      output_.takeSnapshot();
      return;
    }
    game.playMove(move);
    ++played;
    while (*p && !scan::isWhite(*p)) ++p;
  }
  output_.takeSnapshot();
  if (startArray && played <= 1) reloadBook();
}

GoLimits parseGoLimits(const char* line, bool whiteToMove) {
  GoLimits limits;
  // The reader starts one character after the keyword: "wtime 1000".
  auto number = [line](const char* keyword) -> std::int64_t {
    const char* at = std::strstr(line, keyword);
    return at ? scan::readNumber(afterKeyword(at, std::strlen(keyword))) : 0;
  };
  auto integer = [line](const char* keyword) {
    int value = 0;
    if (const char* at = std::strstr(line, keyword)) {
      if (!scan::readInt(at + std::strlen(keyword), value)) value = 0;
    }
    return value;
  };
  limits.ponder = std::strstr(line, "ponder") != nullptr;
  limits.time = number(whiteToMove ? "wtime" : "btime");
  limits.increment = number(whiteToMove ? "winc" : "binc");
  limits.movesToGo = integer("movestogo");
  limits.depth = integer("depth");
  limits.mate = integer("mate");
  limits.nodes = number("nodes");
  limits.moveTime = number("movetime");
  limits.infinite = std::strstr(line, "infinite") != nullptr;
  return limits;
}

void UciInterpreter::go(const char* line) {
  // A search still running ends before the root moves change under it.
  controller_.stop();
  bool listKept = true;
  if (const char* list = std::strstr(line, "searchmoves"))
    listKept = buildRootMoves(engine_, false, afterKeyword(list, 11));
  else if (const char* excluded = std::strstr(line, "excludemoves"))
    listKept = buildRootMoves(engine_, true, afterKeyword(excluded, 12));
  else
    buildRootMoves(engine_, false, nullptr);
  if (!listKept) output_.debugMessage("Zugliste ohne legalen Zug, alle Züge werden durchsucht:", line);
  takeEvalCopy();

  GoLimits limits = parseGoLimits(line, engine_.game.position.whiteToMove != 0);
  if (!controller_.go(limits)) output_.debugMessage("Suche konnte nicht gestartet werden", nullptr);
}

void UciInterpreter::quit() {
  output_.setNoOutput(true);
  controller_.quitFlag.store(true, std::memory_order_relaxed);
  controller_.stop();
}

void UciInterpreter::quietStop() {
  bool silenced = output_.noOutput();
  output_.setNoOutput(true);
  controller_.stop();
  output_.setNoOutput(silenced);
}

void UciInterpreter::reloadBook() {
  if (!engine_.ownBook) {
    setEmptyBook(engine_.table());
    return;
  }
  if (loadBook(engine_.bookFile, bookStart_, engine_.table())) {
    failedBookReported_.reset();
  } else if (failedBookReported_ != engine_.bookFile && !output_.noOutput()) {
    // While output is off (a quiet stop in progress) the report would be
    // lost; it then waits for the next reload instead of counting as made.
    output_.debugMessage("Opening book read error", nullptr);
    failedBookReported_ = engine_.bookFile;
  }
}

}  // namespace korvane
