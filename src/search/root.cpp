// The search thread's main procedure: root moves, iterative deepening with an
// aspiration window, MultiPV, and the principal variation read back from the
// transposition table.
#include <algorithm>
#include <cstring>

#include "board/notation.h"
#include "board/random.h"
#include "book/opening_book.h"
#include "pgn/replay_file.h"
#include "platform/platform.h"
#include "search/engine.h"
#include "search/engine_output.h"
#include "search/search.h"
#include "search/time_control.h"

namespace korvane {

namespace {

constexpr int MAX_ITERATION = 60;
constexpr int ROOT_WINDOW_BELOW = 600;
constexpr int ROOT_WINDOW_ABOVE = 250;
constexpr int BOOK_TIME_BONUS = 18;
constexpr int WORKER_SHARE_WEIGHT = 3000;

bool stopRequested(const Engine& e) { return e.stopFlag.load(std::memory_order_relaxed); }
bool pondering(const Engine& e) { return e.noTimeCheck.load(std::memory_order_relaxed); }

int rootMoveIndex(const Engine& e, Move m) {
  for (int i = 0; i < e.rootMoveCount; ++i)
    if (e.rootMoves[i].move == m) return i;
  return -1;
}

// Depth of the table entry of the position after `m`, or a value below every
// real depth when there is none.
int entryDepthAfter(Engine& e, Move m) {
  Position& pos = e.game.position;
  MoveUndo undo;
  saveState(undo, pos);
  if (!makeMove(pos, m, undo)) return -100000;
  TableEntry entry;
  const int depth = e.table().probe(pos.key, 0, entry) ? entry.depth() : -100000;
  unmakeMove(undo);
  return depth;
}

// Before each iteration: the best move first, the others by score (workers
// add a bonus for the nodes a move took), known positions before unknown
// ones, deeper entries first.
void orderRootMoves(Engine& e) {
  double sum = 0.0;
  for (int i = 0; i < e.rootMoveCount; ++i) sum += e.rootMoves[i].share;
  const double weight = e.worker ? WORKER_SHARE_WEIGHT : 0.0;
  struct Keyed {
    RootMove move;
    double key;
    int entryDepth;
    bool best;
  };
  Keyed keyed[MAX_MOVES];
  for (int i = 0; i < e.rootMoveCount; ++i) {
    RootMove& rm = e.rootMoves[i];
    rm.share /= 0.1 + sum;
    keyed[i] = {rm, rm.score + weight * rm.share, entryDepthAfter(e, rm.move), rm.move == e.bestMove};
  }
  std::stable_sort(keyed, keyed + e.rootMoveCount, [](const Keyed& a, const Keyed& b) {
    if (a.best != b.best) return a.best;
    if (a.key != b.key) return a.key > b.key;
    return a.entryDepth > b.entryDepth;
  });
  for (int i = 0; i < e.rootMoveCount; ++i) e.rootMoves[i] = keyed[i].move;
}

void sortMultiPv(Engine& e) {
  const Move best = e.bestMove;
  std::stable_sort(e.multiPvLines, e.multiPvLines + e.multiPvCount, [best](const MultiPvLine& a, const MultiPvLine& b) {
    if (a.score != b.score) return a.score > b.score;
    return a.move == best && b.move != best;
  });
}

int rootSearch(Engine& e, int depth) {
  Position& pos = e.game.position;
  TimeControl* tc = e.timeControl;
  ++e.ply;
  PlyRecord& r = e.record(e.ply);
  r.key = pos.key;
  r.nullWindowCount = 0;
  r.staticEval = e.evaluator.evaluate(pos);
  r.reduced = false;
  ++e.nodes;
  const bool inCheck = pos.inCheck();
  const int alphaStart = e.rootAlpha;
  const int k = e.multiPv;
  int best = -INFINITE_SCORE;
  int legal = 0;

  for (int i = 0; i < e.rootMoveCount; ++i) {
    RootMove& rm = e.rootMoves[i];
    saveState(r.undo, pos);
    if (!makeMove(pos, rm.move, r.undo)) continue;
    ++legal;
    r.move = rm.move;
    r.ext = std::int16_t(moveExtensions(e, r, r.staticEval));
    e.output->reportCurrentMove(rm.move, i + 1);
    const int d = newDepth(e, r, depth);
    const std::uint64_t before = e.nodes;
    int score = -search(e, -e.rootBeta, -e.rootAlpha, d);
    if (score >= e.rootBeta && !stopRequested(e)) {
      const int first = score;
      int beta2 = INFINITE_SCORE + 1;
      if (e.rootBeta < INFINITE_SCORE) beta2 = score + 500 + (score > e.rootBeta + 250 ? 400 : 0);
      score = -search(e, -beta2, -e.rootAlpha, d);
      if (score >= beta2 && beta2 <= INFINITE_SCORE && !stopRequested(e))
        score = -search(e, -(INFINITE_SCORE + 1), -first, d);
    }
    unmakeMove(r.undo);
    if (stopRequested(e)) {
      --e.ply;
      return best;
    }
    const std::uint64_t used = e.nodes - before;
    rm.score = score;
    rm.share = double(used);
    e.rootStats.addMove(rm.move, used, score);

    if (score > best) {
      best = score;
      if (score > e.rootAlpha) {
        e.setBestMove(rm.move);
        e.rootBeta = score + 1;
        e.haveBest = true;
        e.table().bestMoveChanged();
        if (e.iterationDepth >= 1) e.output->reportIteration(e, score, e.rootAlpha, e.rootBeta);
      }
    }
    e.multiPvLines[e.multiPvCount++] = MultiPvLine{rm.move, score};
    if (e.multiPvCount >= k) {
      sortMultiPv(e);
      const int kth = e.multiPvLines[k - 1].score;
      if (kth - 1 > e.rootAlpha) e.rootAlpha = kth - 1;
      if (k == 1 && best > e.rootAlpha) e.rootAlpha = best;
    }
    // The node and hard time limits hold between root moves too: without a
    // raised alpha (MultiPV) the shallow iterations, which never look at the
    // clock below the root, can take many times a short clock.
    if (!pondering(e) && tc && tc->mustStop(e.nodes, true, false)) {
      e.stopFlag.store(true, std::memory_order_relaxed);
      --e.ply;
      return best;
    }
    if (i >= 4 && best > alphaStart && e.failLowCount == 0 && !pondering(e) && tc && tc->softLimitReached()) {
      --e.ply;
      return best;
    }
  }
  if (legal == 0) best = inCheck ? e.ply - INFINITE_SCORE : 0;
  --e.ply;
  return best;
}

// How many of the first five moves two principal variations share.
int pvAgreement(const Engine& e, int a, int b) {
  int n = 0;
  while (n < 5 && n < e.pvLength[a] && n < e.pvLength[b] && e.pvLines[a][n] == e.pvLines[b][n]) ++n;
  return n;
}

void findPonderMove(Engine& e) {
  if (!e.ponderMove.isNone() || e.bestMove.isNone()) return;
  Position& pos = e.game.position;
  MoveUndo undo;
  saveState(undo, pos);
  if (!makeMove(pos, e.bestMove, undo)) return;
  TableEntry entry;
  if (e.table().probe(pos.key, 0, entry) && !entry.move.isNone() && isMoveLegal(pos, entry.move))
    e.ponderMove = entry.move;
  unmakeMove(undo);
}

bool finish(Engine& e) {
  // Stopped before any root move was searched: answer with the first legal
  // move rather than with none, so that every "go" with a legal move gets
  // a "bestmove".
  if (e.bestMove.isNone() && e.rootMoveCount > 0) e.setBestMove(e.rootMoves[0].move);
  // A pondering or infinite search keeps its result until it is told to end,
  // however it got there (one legal move, a book move, a mate, the deepest
  // iteration). Without any legal move there is nothing to wait for.
  if (e.rootMoveCount > 0)
    while ((pondering(e) || e.infinite.load(std::memory_order_relaxed)) && !stopRequested(e)) platform::sleepMs(40);
  return !stopRequested(e);
}

// Whether `token` (up to white space or the end) is exactly `text`.
bool tokenIs(const char* token, std::size_t length, const char* text) {
  return std::strlen(text) == length && std::strncmp(token, text, length) == 0;
}

// Whether the list of move texts separated by white space holds `text` as
// one whole word ("O-O" does not name "O-O-O", nor "e7e8" "e7e8q").
bool listNames(const char* list, const char* text) {
  const char* p = list;
  for (;;) {
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
    if (!*p) return false;
    const char* start = p;
    while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') ++p;
    if (tokenIs(start, std::size_t(p - start), text)) return true;
  }
}

}  // namespace

bool buildRootMoves(Engine& engine, bool exclude, const char* list) {
  Position& pos = engine.game.position;
  engine.searchMovesGiven = list != nullptr;
  engine.rootMoveCount = 0;

  MoveEntry stack[MAX_MOVES];
  MoveEntry* top = stack;
  HistoryTable history;
  MovePicker picker(Move(), top, pos, history, false, false, nullptr);
  int legal = 0;
  for (const MoveEntry* e = picker.begin(); e != picker.end(); ++e) {
    MoveUndo undo;
    saveState(undo, pos);
    if (!makeMove(pos, e->move, undo)) continue;
    TableEntry entry;
    const bool known = engine.table().probe(pos.key, 0, entry);
    unmakeMove(undo);
    ++legal;
    if (list) {
      char text[MOVE_TEXT_SIZE];
      const bool named = listNames(list, moveToText(pos, e->move, STYLE_COORDINATE, text));
      if (named == exclude) continue;
    }
    engine.rootMoves[engine.rootMoveCount++] =
        known ? RootMove{e->move, entry.score, 0.1 / (entry.priority + 2)} : RootMove{e->move, -MATE, 0.01};
  }
  // A list that leaves no legal move would leave the search without a move
  // to answer with: search them all, as without a list.
  if (list && engine.rootMoveCount == 0 && legal > 0) {
    buildRootMoves(engine, false, nullptr);
    return false;
  }
  return true;
}

int extractPv(Engine& engine, Move first, Move* line, int capacity) {
  Position pos = engine.game.position;
  std::uint64_t keys[MAX_PV + 1];
  keys[0] = pos.key;
  capacity = std::min(capacity, MAX_PV);
  int n = 0;
  Move m = first;
  MoveUndo undo;
  while (n < capacity && !m.isNone() && isMoveLegal(pos, m)) {
    saveState(undo, pos);
    makeMove(pos, m, undo);
    line[n++] = m;
    keys[n] = pos.key;
    bool repeated = false;
    for (int j = n - 2; j >= 0; j -= 2) repeated = repeated || keys[j] == pos.key;
    if (repeated) break;
    TableEntry entry;
    if (!engine.table().probe(pos.key, 0, entry)) break;
    m = entry.move;
  }
  if (n >= 2 && first == engine.bestMove) engine.ponderMove = line[1];
  return n;
}

namespace {

// A move of the side to move that mates at once, or none.
Move mateInOneMove(Position& pos) {
  static const HistoryTable noHistory;
  MoveEntry buffer[MAX_MOVES];
  MoveEntry* top = buffer;
  MovePicker picker(Move(), top, pos, noHistory, false, false, nullptr);
  MoveUndo undo;
  for (const MoveEntry* entry = picker.begin(); entry < picker.end(); ++entry) {
    saveState(undo, pos);
    if (!makeMove(pos, entry->move, undo)) continue;
    const bool mate = pos.inCheck() && noLegalMove(pos);
    unmakeMove(undo);
    if (mate) return entry->move;
  }
  return Move();
}

}  // namespace

int extractDisplayPv(Engine& engine, Move first, Move* line, int capacity) {
  capacity = std::min(capacity, MAX_PV);
  const int n = extractPv(engine, first, line, capacity);
  if (n == 0 || n >= capacity) return n;
  Position pos = engine.game.position;
  MoveUndo undo;
  for (int i = 0; i < n; ++i) {
    saveState(undo, pos);
    if (!makeMove(pos, line[i], undo)) return n;
  }
  const Move mate = mateInOneMove(pos);
  if (mate.isNone()) return n;
  line[n] = mate;
  return n + 1;
}

bool searchMain(Engine& e, TimeControl* timeControl) {
  if (timeControl) e.timeControl = timeControl;
  TimeControl* tc = e.timeControl;
  e.firstIteration = true;
  e.haveBest = false;
  e.iterationDepth = 0;
  e.maxPly = 0;
  e.nodes = 0;
  e.setBestMove(Move());
  e.ponderMove = Move();
  TranspositionTable& table = e.table();
  Position& pos = e.game.position;

  bool bookMove = false;
  if (e.ownsTable()) {
    if (e.replay) {
      const Move m = e.replay->replayMove(e.game);
      if (!m.isNone() && isMoveLegal(pos, m)) {
        e.setBestMove(m);
        bookMove = true;
      }
    }
    if (!bookMove && !e.searchMovesGiven && e.ownBook && table.bookCount() > 0) {
      const Move m = probeBook(table, pos.key, nextRandom32());
      // A book entry is only trusted when it is a legal move here.
      if (!m.isNone() && isMoveLegal(pos, m)) {
        e.setBestMove(m);
        bookMove = true;
      }
    }
    if (!bookMove) table.newSearch();
  } else {
    while (table.bookCount() > 0 && !stopRequested(e)) platform::sleepMs(40);
  }
  if (bookMove) {
    e.rootAlpha = 9;
    e.rootScore = 10;
    e.rootBeta = 11;
    return finish(e);
  }
  if (stopRequested(e)) return finish(e);

  resetSearchTables(e);
  e.rootStats.reset();
  // A pending time-log line belongs to the previous search's position.
  e.rootStats.discardPendingLine();
  e.pvLength[0] = e.pvLength[1] = 0;
  e.pvIndex = 0;
  if (e.rootMoveCount == 0) {
    e.setBestMove(Move());
    e.rootScore = 0;
    return finish(e);
  }
  e.ply = -1;
  e.lastNullPly = -1;
  e.previousNullPly = -10;
  e.failLowCount = 0;
  int factor = 30;

  TableEntry entry;
  int index = -1;
  if (table.probe(pos.key, 0, entry) && entry.bound() != BOUND_UPPER &&
      (index = rootMoveIndex(e, entry.move)) >= 0) {
    int highest = -INFINITE_SCORE;
    for (int i = 0; i < e.rootMoveCount; ++i) highest = std::max(highest, e.rootMoves[i].score);
    e.rootMoves[index].score = highest + 1;
    e.setBestMove(entry.move);
    e.iterationDepth = entry.depth() / ONE_PLY - 1;
    e.rootScore = entry.score;
    e.pvLength[0] = extractPv(e, e.bestMove, e.pvLines[0], MAX_PV);
    e.rootAlpha = entry.score - ROOT_WINDOW_BELOW;
    e.rootBeta = entry.score + ROOT_WINDOW_ABOVE;
    // A shallow entry gives no iteration below 0; the depth is clamped
    // before the report so that no line shows a negative depth.
    if (entry.bound() != BOUND_EXACT) e.iterationDepth -= 1;
    e.iterationDepth = std::max(e.iterationDepth, 0);
    if (entry.bound() == BOUND_EXACT)
      e.output->reportIteration(e, entry.score, e.rootAlpha, e.rootBeta);
    else
      e.output->reportIteration(e, entry.score, entry.score - 2, entry.score - 1);
  } else {
    e.rootScore = quiesce(e, -PIECE_VALUE[ROOK], PIECE_VALUE[ROOK], -4);
    e.rootAlpha = e.rootScore - ROOT_WINDOW_BELOW;
    e.rootBeta = e.rootScore + ROOT_WINDOW_ABOVE;
  }

  if (e.rootMoveCount == 1) {
    if (e.bestMove.isNone()) {
      e.setBestMove(e.rootMoves[0].move);
      e.output->reportIteration(e, e.rootScore, e.rootAlpha, e.rootBeta);
      e.iterationDepth = 1;
    }
    findPonderMove(e);
    return finish(e);
  }

  const bool specialRoot =
      classifyMaterial(pos, e.evaluator.specialists()) != e.evaluator.specialists().get(SP_DEFAULT);
  while (!stopRequested(e) && e.iterationDepth < MAX_ITERATION) {
    if (e.failLowCount == 0 && e.iterationDepth != 0 && tc) {
      const bool allowed =
          tc->mayStartIteration(e.iterationDepth, factor + (table.bookCount() > 0 ? BOOK_TIME_BONUS : 0));
      e.iterationAllowed.store(allowed, std::memory_order_relaxed);
      if (!allowed && !pondering(e)) break;
    }
    e.rootStats.reset();
    orderRootMoves(e);
    e.haveBest = false;
    e.multiPvCount = 0;
    const int alpha0 = e.rootAlpha;
    const int score = rootSearch(e, ONE_PLY * e.iterationDepth);
    const int k = e.multiPv;
    int s = score;
    if (k > 1 && e.multiPvCount > 1) {
      sortMultiPv(e);
      s = e.multiPvLines[std::min(k, e.multiPvCount) - 1].score;
    }
    if (s > alpha0) {
      if (k > 1 && e.multiPvCount >= 2) {
        for (int i = 0; i < std::min(k, e.multiPvCount); ++i)
          e.output->reportMultiPv(e, i + 1, e.multiPvLines[i].move, e.multiPvLines[i].score, alpha0, e.rootBeta);
      } else if (e.iterationDepth == 0) {
        e.output->reportIteration(e, score, alpha0, e.rootBeta);
      }
      e.iterationDepth += 1;
      e.firstIteration = false;
      e.failLowCount = 0;
      e.rootAlpha = s - ROOT_WINDOW_BELOW;
      e.rootBeta = score + ROOT_WINDOW_ABOVE;
      factor = 25;
      if (!stopRequested(e)) e.rootScore = score;
      const int next = 1 - e.pvIndex;
      e.pvLength[next] = extractPv(e, e.bestMove, e.pvLines[next], MAX_PV);
      const int agreement = pvAgreement(e, e.pvIndex, next);
      e.pvIndex = next;
      if (!e.worker) {
        char logName[MAX_FILE_NAME + 1];
        e.timeLogFile.copyTo(logName);
        e.rootStats.logIteration(logName, e.iterationDepth, e.bestMove, score, specialRoot, e.game.historyCount,
                                 agreement);
      }
      if (e.iterationDepth >= 5 && k == 1) e.rootStats.timeFactor(agreement, factor);
    } else {
      e.failLowCount += 1;
      e.iterationAllowed.store(true, std::memory_order_relaxed);
      e.rootBeta = score + 1;
      if (e.failLowCount == 1)
        e.rootAlpha = s - 750;
      else if (e.failLowCount == 2)
        e.rootAlpha = s < -4000 ? -(INFINITE_SCORE + 1) : s - 2500;
      else
        e.rootAlpha = -(INFINITE_SCORE + 1);
    }
  }
  findPonderMove(e);
  return finish(e);
}

}  // namespace korvane
