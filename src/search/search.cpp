#include "search/search.h"

#include <algorithm>
#include <cstdlib>

#include "search/engine.h"
#include "search/time_control.h"

namespace korvane {

namespace {

// Piece values of the extension rules: a knight counts as much as a bishop.
constexpr int SEARCH_VALUE[7] = {0, 1000, 3254, 3254, 4969, 9436, 9999};

// Extension when a capture leaves a pawn ending, by the piece the previous
// move captured (rows: none, pawn, knight, bishop, rook, queen) and the piece
// captured now (columns: none, pawn, knight, bishop, rook, queen).
constexpr int PAWN_ENDING_EXTENSION[6][6] = {
    {0, 0, 0, 0, 0, 0},   // none
    {0, 0, 5, 5, 0, 0},   // pawn
    {0, 0, 5, 10, 5, 0},  // knight
    {0, 0, 10, 10, 5, 0}, // bishop
    {0, 0, 5, 5, 10, 0},  // rook
    {0, 0, 0, 0, 0, 15},  // queen
};

constexpr Bitboard EDGE = FILE_A | FILE_H | RANK_1 | RANK_8;
constexpr int MATE_IN_ONE = MATE - 1;  // 999998

struct NullMoveUndo {
  std::uint64_t key;
  std::int32_t epSquare;
  Bitboard lastMove;
  int lastNullPly;
  int previousNullPly;
};

void makeNullMove(Engine& e, NullMoveUndo& u) {
  Position& pos = e.game.position;
  u = {pos.key, pos.epSquare, pos.lastMove, e.lastNullPly, e.previousNullPly};
  pos.whiteToMove ^= 1;
  pos.key ^= SIDE_KEY;
  if (pos.epSquare >= 0) pos.key ^= ZOBRIST[WHITE][0][pos.epSquare];
  pos.epSquare = NO_SQUARE;
  pos.lastMove = 0;
  e.previousNullPly = e.lastNullPly;
  e.lastNullPly = e.ply;
}

void unmakeNullMove(Engine& e, const NullMoveUndo& u) {
  Position& pos = e.game.position;
  pos.whiteToMove ^= 1;
  pos.key = u.key;
  pos.epSquare = u.epSquare;
  pos.lastMove = u.lastMove;
  e.lastNullPly = u.lastNullPly;
  e.previousNullPly = u.previousNullPly;
}

bool stopRequested(const Engine& e) { return e.stopFlag.load(std::memory_order_relaxed); }

// The null-window count an entry was stored with.
int entryCount(Engine& e, const TableEntry& entry) {
  return std::max(0, int(entry.priority) - int(e.table().priorityBase()));
}

// A table hit shows that the line through this node is known with fewer null
// windows: every record toward the root takes the smaller count.
void propagateCount(Engine& e, int count) {
  for (int p = e.ply; p >= 0; --p, ++count) {
    PlyRecord& r = e.record(p);
    if (r.nullWindowCount <= count) break;
    r.nullWindowCount = count;
  }
}

bool isFollowUp(const Engine& e, Move previousOwn, Move m) {
  if (previousOwn.isNone()) return false;
  const FollowUpEntry& f = e.followUps[previousOwn.fromTo()];
  return f.moves[0] == m.fromTo() || f.moves[1] == m.fromTo();
}

void rememberFollowUp(Engine& e, Move previousOwn, Move m) {
  if (previousOwn.isNone()) return;
  FollowUpEntry& f = e.followUps[previousOwn.fromTo()];
  const auto word = std::uint16_t(m.fromTo());
  if (f.moves[0] == word) return;
  f.moves[1] = f.moves[0];
  f.moves[0] = word;
}

// Largest counter before all counters are scaled down, and the largest
// increment: together they keep every sum below 2^31, so the threshold never
// has to pass 2^31 and no addition wraps.
constexpr std::uint32_t HISTORY_LIMIT = 0x3C000000u;

void normalise(HistoryTable& t, int index) {
  while (t.counters[index] > t.threshold) {
    t.threshold <<= 1;
    t.shift += 1;
  }
  if (t.counters[index] > HISTORY_LIMIT) {
    for (std::uint32_t& c : t.counters) c >>= 11;
    t.increment = std::max<std::uint32_t>(t.increment >> 11, 256);
    t.threshold >>= 11;
    t.shift -= 11;
  }
}

// Pieces of the side to move, without its king and its pawns.
int nonPawnCount(const SideState& s) { return s.count[0] - s.count[PAWN]; }

// The single move left at a node earns an extension unless it merely
// recaptures on a square we cover only once after a quiet previous move.
bool singleReplyExtends(const Position& pos, const PlyRecord& parent, Move only) {
  const Bitboard to = bit(only.to());
  const bool capture = (pos.enemy().pieceBB[0] & to) != 0;
  return parent.undo.captured != 0 || !capture || (pos.enemy().attackedTwice & to) != 0;
}

// Target squares of the selective quiescence: where a capture might still
// bring the score up to alpha.
Bitboard selectiveTargets(Engine& e, int staticEval, int alpha) {
  Position& pos = e.game.position;
  SideState& us = pos.mover();
  SideState& them = pos.enemy();
  const Color enemyColor = pos.whiteToMove ? BLACK : WHITE;
  Bitboard targets = them.pieceBB[QUEEN] | (them.pinned & (~us.attackedByEnemy | them.attackedTwice));

  auto tryRemoving = [&](int type, Bitboard kind, int value) {
    if (!kind) return;
    const int n = them.count[type] - 1;
    const Bitboard savedBishops = them.pieceBB[BISHOP];
    them.count[type] = n;
    them.count[0] -= 1;
    them.materialSum -= value;
    them.materialSignature ^= SIGNATURE_KEYS[enemyColor][type][n];
    if (type == BISHOP) them.pieceBB[BISHOP] &= ~bit(lowestSquare(kind));
    // White's view turned to ours; a change of specialist comes back as
    // +MATERIAL_CHANGED either way and always makes the kind a target.
    int gain = e.evaluator.materialScore(true);
    if (!pos.whiteToMove) gain = -gain;
    if (gain + staticEval + 2000 > alpha) targets |= kind;
    them.pieceBB[BISHOP] = savedBishops;
    them.materialSignature ^= SIGNATURE_KEYS[enemyColor][type][n];
    them.materialSum += value;
    them.count[0] += 1;
    them.count[type] = n + 1;
  };
  tryRemoving(PAWN, them.pieceBB[PAWN], PIECE_VALUE[PAWN]);
  tryRemoving(KNIGHT, them.pieceBB[KNIGHT], PIECE_VALUE[KNIGHT]);
  tryRemoving(BISHOP, them.pieceBB[BISHOP] & LIGHT_SQUARES, PIECE_VALUE[BISHOP]);
  tryRemoving(BISHOP, them.pieceBB[BISHOP] & DARK_SQUARES, PIECE_VALUE[BISHOP]);
  tryRemoving(ROOK, them.pieceBB[ROOK], PIECE_VALUE[ROOK]);
  return targets;
}

// Enhanced transposition cutoff: looks one move ahead in the table (and for
// mates, draws and specialist bounds) for a move that refutes at once. Such a
// move is put first in the picker.
bool findCutoffMove(Engine& e, int beta, MovePicker& picker, int depth) {
  Position& pos = e.game.position;
  PlyRecord& r = e.record(e.ply);
  int best = -beta;
  Move found;
  for (const MoveEntry* m = picker.begin(); m != picker.end(); ++m) {
    saveState(r.undo, pos);
    if (!makeMove(pos, m->move, r.undo)) continue;
    const bool check = pos.inCheck();
    bool mate = false;
    if (check && noLegalMove(pos, e.moveTop)) {
      mate = true;
    } else if (e.game.repetitionCode() != 0) {
      if (0 <= best) {
        best = 0;
        found = m->move;
      }
    } else if (r.undo.captured) {
      const EndgameSpecialist* s = classifyMaterial(pos, e.evaluator.specialists());
      int bound = 0;
      std::int16_t ext = 0;
      if (s->probeBound(pos, bound, best, INFINITE_SCORE, depth, ext) && bound <= best) {
        best = bound;
        found = m->move;
      }
    } else {
      TableEntry entry;
      if (e.table().probe(pos.key, e.ply + 1, entry)) {
        if (entry.depth() >= depth) propagateCount(e, entryCount(e, entry) + 1);
        if (entry.score <= best && entry.bound() != BOUND_LOWER &&
            (entry.score <= -MATE_BOUND ||
             (entry.depth() >= depth && (!check || entry.depth() >= depth + 4)))) {
          best = entry.score;
          found = m->move;
        }
      }
    }
    unmakeMove(r.undo);
    if (mate) {
      found = m->move;
      break;
    }
  }
  if (found.isNone()) return false;
  picker.setFirstMove(found);
  return true;
}

// Fills the record of the node just entered (at the engine's ply).
PlyRecord& enterRecord(Engine& e, int alpha, int beta) {
  PlyRecord& r = e.record(e.ply);
  r.key = e.game.position.key;
  r.nullWindowCount = e.record(e.ply - 1).nullWindowCount + (alpha + 1 == beta ? 1 : 0);
  r.move = Move();
  r.searched = 0;
  r.ext = 0;
  r.reduced = false;
  return r;
}

bool mustStopNow(Engine& e) {
  return e.timeControl && e.timeControl->mustStop(e.nodes, e.failLowCount > 0, e.haveBest);
}

int searchNode(Engine& e, int alpha, int beta, int depth, int staticEval);
int quiesceNode(Engine& e, int alpha, int beta, int qdepth, bool inCheck);

}  // namespace

void resetSearchTables(Engine& e) {
  for (HistoryTable& h : e.history) h = HistoryTable{};
  std::fill(std::begin(e.followUps), std::end(e.followUps), FollowUpEntry{{0, 0}});
  for (PlyRecord& r : e.plies) r = PlyRecord{};
  e.moveTop = e.moveStack;
}

void historyAdd(HistoryTable& t, Move move, int plies) {
  const int index = move.fromTo();
  int n = plies * plies;
  int step = 1;
  while (n >= 0) {
    t.counter += 1;
    t.counters[index] += t.increment;
    step += (t.increment >= t.threshold ? 1 : 0) + (step > 1 ? 1 : 0);
    normalise(t, index);
    n -= step;
  }
}

void historyNodeDone(HistoryTable& t, Move move) {
  const int index = move.fromTo();
  if (t.counter > 1) {
    t.increment = std::min(t.increment + t.increment / 16, HISTORY_LIMIT);
    t.counter = 0;
  }
  t.counters[index] += t.increment / 512;
  normalise(t, index);
}

int newDepth(Engine& e, PlyRecord& record, int depth) {
  const Position& pos = e.game.position;
  const PlyRecord& previous = e.record(e.ply - 1);
  const int captured = record.undo.captured;
  if (captured > PAWN && captured < KING && !previous.move.isNone() && previous.move.promotion() == 0 &&
      nonPawnCount(pos.side[WHITE]) == 1 && nonPawnCount(pos.side[BLACK]) == 1 &&
      std::abs(pos.side[WHITE].count[PAWN] - pos.side[BLACK].count[PAWN]) <= 2) {
    const int before = previous.undo.captured;
    const int value = PAWN_ENDING_EXTENSION[before][captured];
    if (value >= record.ext) {
      record.ext = std::int16_t(value);
      return depth - ONE_PLY + value;
    }
  }
  const int ext = record.ext;
  if (ext >= ONE_PLY) return depth - 1;
  int d = depth - ONE_PLY + ext;
  if (ext == 0 && d > 0 && d % ONE_PLY != 0) d -= 1;
  return d;
}

int moveExtensions(Engine& e, const PlyRecord& record, int staticEval) {
  const Position& pos = e.game.position;
  const Move m = record.move;
  // The side that moved is now the enemy of the side to move.
  const bool whiteMoved = !pos.whiteToMove;
  int ext = 0;
  if (m.piece() == PAWN) {
    const Square to = m.to();
    const int rank = whiteMoved ? 8 - rowOf(to) : rowOf(to) + 1;
    const int fromRank = whiteMoved ? 8 - rowOf(m.from()) : rowOf(m.from()) + 1;
    if (rank == 7) {
      ext += 4;
    } else if (rank == 6 && fromRank != 2 && !(pos.enemy().enemyPawnAttacks & bit(to))) {
      const Square front = whiteMoved ? to - 8 : to + 8;
      if (!(pos.mover().pieceBB[PAWN] & bit(front))) ext += 3;
    }
  }
  if (pos.inCheck()) ext += 4;
  const PlyRecord& previous = e.record(e.ply - 1);
  if (record.undo.captured && previous.undo.captured && !previous.move.isNone() &&
      previous.move.to() == m.to() && e.ply > e.lastNullPly + 1) {
    const int value = SEARCH_VALUE[record.undo.captured];
    if (value == SEARCH_VALUE[previous.undo.captured] && value + staticEval > -3254 && value + staticEval < 3254)
      ext += 3;
  }
  return ext;
}

bool mateInOne(Engine& e) {
  Position& pos = e.game.position;
  const SideState& us = pos.mover();
  const SideState& them = pos.enemy();
  const Square king = them.kingSquare();
  if (!(bit(king) & EDGE)) return false;
  const std::uint8_t* rot = pos.rotated;
  // Squares the enemy king could still flee to.
  const Bitboard flights = STEPS.king[king] & ~them.pieceBB[0] & ~them.attackedByEnemy;
  Bitboard checks[7] = {};
  checks[KNIGHT] = STEPS.knight[king];
  checks[BISHOP] = bishopAttacks(king, rot);
  checks[ROOK] = rookAttacks(king, rot);
  checks[QUEEN] = checks[BISHOP] | checks[ROOK];

  PlyRecord& scratch = e.record(e.ply + 1);
  for (int type = KNIGHT; type <= QUEEN; ++type) {
    for (int i = 0; i < us.count[type]; ++i) {
      const Square from = us.squares[type][i];
      Bitboard reach = type == KNIGHT   ? STEPS.knight[from]
                       : type == BISHOP ? bishopAttacks(from, rot)
                       : type == ROOK   ? rookAttacks(from, rot)
                                        : queenAttacks(from, rot);
      reach &= checks[type] & ~us.pieceBB[0];
      while (reach) {
        const Square to = popLowest(reach);
        // Cheap filter: every flight square must be covered by the checking
        // piece from its new square (or lie behind the king on its line).
        Bitboard cover = bit(to);
        if (type == KNIGHT) {
          cover |= STEPS.knight[to];
        } else {
          if (type != ROOK) cover |= bishopAttacks(to, rot);
          if (type != BISHOP) cover |= rookAttacks(to, rot);
          const int dr = (rowOf(king) > rowOf(to)) - (rowOf(king) < rowOf(to));
          const int df = (fileOf(king) > fileOf(to)) - (fileOf(king) < fileOf(to));
          const int row = rowOf(king) + dr, file = fileOf(king) + df;
          if (row >= 0 && row < 8 && file >= 0 && file < 8) cover |= bit(makeSquare(row, file));
        }
        if (flights & ~cover) continue;
        const Move m(from, to, type);
        saveState(scratch.undo, pos);
        if (!makeMoveForReplies(pos, m, scratch.undo)) continue;
        const bool mate = pos.inCheck() && noLegalMove(pos, e.moveTop);
        unmakeMove(scratch.undo);
        if (mate) {
          scratch.move = m;
          return true;
        }
      }
    }
  }
  return false;
}

bool threatExceeds(const Engine& e, int margin) {
  const Position& pos = e.game.position;
  const SideState& us = pos.mover();
  const SideState& them = pos.enemy();
  Bitboard exposed = us.pieceBB[0] & ~us.pieceBB[KING] & us.attackedByEnemy;
  if (margin > 2000) exposed &= ~us.pieceBB[PAWN];
  if (margin > 4254) exposed &= ~(us.pieceBB[KNIGHT] | us.pieceBB[BISHOP]);
  if (margin > 5969) exposed &= ~us.pieceBB[ROOK];
  if (us.pieceBB[QUEEN] & us.attackedByEnemy) return true;
  if (exposed & ~them.attackedByEnemy) return true;
  if (exposed & ~us.pieceBB[PAWN] & us.enemyPawnAttacks) return true;
  if ((exposed | STEPS.king[us.kingSquare()]) & us.attackedTwice & ~them.attackedTwice) return true;
  if (!(us.enemyPawnAttacks & (RANK_1 | RANK_8))) return false;
  // An enemy pawn on its seventh rank that may step forward.
  const bool whiteToMove = pos.whiteToMove;
  const Bitboard seventh = whiteToMove ? (RANK_1 >> 8) : (RANK_8 << 8);
  const Bitboard pawns = them.pieceBB[PAWN] & seventh;
  const Bitboard fronts = whiteToMove ? pawns << 8 : pawns >> 8;
  return (fronts & ~us.pieceBB[0]) != 0;
}

int search(Engine& e, int alpha, int beta, int depth) {
  if (depth < 0) return quiesce(e, alpha, beta, -1);
  Position& pos = e.game.position;
  if (depth > ONE_PLY && !e.noTimeCheck.load(std::memory_order_relaxed) && mustStopNow(e))
    e.stopFlag.store(true, std::memory_order_relaxed);
  const int staticEval = e.evaluator.evaluate(pos);
  ++e.nodes;
  PlyRecord& own = e.record(e.ply + 1);
  if (e.ply >= MAX_PLY) {
    own.move = Move();
    return staticEval;
  }
  if (stopRequested(e) || (alpha > MATE_BOUND && alpha > MATE_IN_ONE - e.ply)) {
    own.move = Move();
    return alpha;
  }
  if (!pos.inCheck() && mateInOne(e)) return MATE_IN_ONE - e.ply;
  for (int p = e.ply - 3; p >= 0; p -= 2)
    if (e.record(p).key == pos.key) return 0;

  ++e.ply;
  const int score = searchNode(e, alpha, beta, depth, staticEval);
  --e.ply;
  return score;
}

int quiesce(Engine& e, int alpha, int beta, int qdepth) {
  Position& pos = e.game.position;
  if (e.ply >= MAX_PLY) return e.evaluator.evaluate(pos);
  const bool inCheck = pos.inCheck();
  if (!inCheck && mateInOne(e)) return MATE_IN_ONE - e.ply;
  ++e.ply;
  const int score = quiesceNode(e, alpha, beta, qdepth, inCheck);
  --e.ply;
  return score;
}

namespace {

int searchNode(Engine& e, int alpha, int beta, int depth, int staticEval) {
  Position& pos = e.game.position;
  TranspositionTable& table = e.table();
  const int ply = e.ply;
  PlyRecord& r = enterRecord(e, alpha, beta);
  PlyRecord& parent = e.record(ply - 1);

  if (depth >= 2 * ONE_PLY && e.game.repetitionCode() != DRAW_NONE) return 0;

  r.staticEval = staticEval;
  const bool enteredReduced = parent.reduced && !parent.move.isNone();
  if (enteredReduced) {
    const int sum = parent.staticEval + staticEval;
    if (sum < -200) return alpha;
    if (ply >= 3 && ply > e.lastNullPly + 3 && sum < 0 &&
        e.record(ply - 3).staticEval + e.record(ply - 2).staticEval < 0 &&
        pos.side[WHITE].materialSignature == e.record(ply - 2).undo.whiteSignature &&
        pos.side[BLACK].materialSignature == e.record(ply - 2).undo.blackSignature)
      return alpha;
  }

  const bool inCheck = pos.inCheck();
  bool nullAllowed = staticEval >= beta && !inCheck;
  int nodeExt = 0;
  int threat = 0;
  bool verification = false;
  bool haveHashEntry = false;
  TableEntry hashEntry;

  TableEntry entry;
  if (table.probe(pos.key, ply, entry)) {
    if (TranspositionTable::usable(entry, alpha, beta, depth)) {
      propagateCount(e, entryCount(e, entry));
      return entry.score;
    }
    if (entry.threat()) {
      nodeExt += 4;
      threat = 1;
      nullAllowed = false;
    }
    if (!entry.move.isNone() && entry.bound() != BOUND_UPPER) {
      nullAllowed = nullAllowed && entry.score >= beta;
      if (entry.depth() + (entry.depth() >= 0 ? 15 : 10) >= depth) {
        hashEntry = entry;
        haveHashEntry = true;
      }
    }
  }

  {
    std::int16_t ext = std::int16_t(nodeExt);
    int bound = 0;
    if (e.evaluator.specialist()->probeBound(pos, bound, alpha, beta, depth, ext)) return bound;
    nodeExt = ext;
  }

  const SideState& me = pos.mover();
  const int pieces = me.count[0] - me.count[PAWN];
  const int unpinned = pieces - popCount(me.pinned & ~me.pieceBB[PAWN]);
  if (depth + nodeExt >= ONE_PLY && nullAllowed && ply - 2 > e.previousNullPly && unpinned >= 2) {
    NullMoveUndo nullUndo;
    makeNullMove(e, nullUndo);
    r.move = Move();
    r.searched = -1;
    r.undo.captured = 0;
    r.key = pos.key;
    const int reduction = (depth >= 30 && (unpinned > 2 || depth >= 40)) ? 15 : 10;
    const int score = -search(e, -beta, -beta + 1, depth - reduction - ONE_PLY);
    unmakeNullMove(e, nullUndo);
    r.searched = 0;
    r.key = pos.key;
    if (stopRequested(e)) return alpha;
    if (score >= beta) {
      if (unpinned > 2) return score;
      if (haveHashEntry && TranspositionTable::usable(hashEntry, beta - 1, beta, depth + nodeExt - reduction))
        return score;
      nodeExt -= reduction;
      verification = true;
    } else {
      const Move refutation = e.record(ply + 1).move;
      const SideState& enemy = pos.enemy();
      if (score <= -MATE_BOUND && beta > -MATE_BOUND) {
        const Bitboard loose = enemy.pieceBB[0] & (~enemy.attackedByEnemy | me.attackedByEnemy);
        if (!refutation.isNone() && (STEPS.fromTo[refutation.fromTo()] & loose)) {
          nodeExt += 4;
          threat = 1;
        }
      } else if (enteredReduced && !refutation.isNone() && refutation.from() == parent.move.to()) {
        return alpha;
      }
    }
  }

  const int side = pos.whiteToMove ? WHITE : BLACK;
  MovePicker picker(haveHashEntry ? hashEntry.move : Move(), e.moveTop, pos, e.history[side], false, false, nullptr);
  if (picker.size() == 0) return inCheck ? ply - INFINITE_SCORE : 0;
  if (picker.size() == 1 && singleReplyExtends(pos, parent, picker.begin()->move)) nodeExt += 4;

  if (nullAllowed && depth + nodeExt < ONE_PLY && staticEval >= beta + 125 && beta > -MATE_BOUND &&
      nodeExt <= 0 && pieces > 2 && !threatExceeds(e, staticEval - beta))
    return staticEval;

  bool cutoffFound = false;
  if (depth + nodeExt >= 3 * ONE_PLY && picker.size() > 1)
    cutoffFound = findCutoffMove(e, beta, picker, depth + nodeExt - ONE_PLY);

  const bool afterNull = parent.searched == -1;
  const bool reductionsAllowed =
      depth >= (afterNull ? 15 : 10) && !inCheck && alpha > -MATE_BOUND && beta - alpha <= 1;
  const Move previousOwn = e.record(ply - 2).move;

  int best = -INFINITE_SCORE;
  Move bestMove;
  const int alpha0 = alpha;
  int pruned = 0;
  while (const MoveEntry* entryNext = picker.nextMove()) {
    const Move m = entryNext->move;
    saveState(r.undo, pos);
    makeMoveCore(pos, m, r.undo);
    table.prefetch(pos.key);
    e.evaluator.prefetch(pos);
    if (!completeMove(pos, r.undo)) continue;
    r.move = m;
    r.ext = std::int16_t(nodeExt + moveExtensions(e, r, staticEval));
    int d = newDepth(e, r, depth);
    const bool capture = r.undo.captured != 0;
    const bool givesCheck = pos.inCheck();
    const std::uint64_t nodesBefore = e.nodes;
    int score;
    if (d >= 0 && alpha > alpha0 && alpha + 1 < beta) {
      score = -search(e, -alpha - 1, -alpha, d);
      if (score > alpha && score < beta) score = -search(e, -beta, -alpha, d);
    } else if (d >= 0) {
      const int fullDepth = d;
      if (reductionsAllowed && picker.stage() > 7 && r.searched >= 4 && !capture && !givesCheck && r.ext == 0 &&
          parent.ext < 4 && m.promotion() != QUEEN && !isFollowUp(e, previousOwn, m)) {
        r.ext = -ONE_PLY;
        d = newDepth(e, r, depth);
        r.reduced = true;
      }
      score = -search(e, -beta, -alpha, d);
      if (r.reduced) {
        r.reduced = false;
        if (score > alpha && !stopRequested(e)) {
          r.ext = 0;
          d = fullDepth;
          score = -search(e, -beta, -alpha, d);
        }
      }
    } else {
      if (staticEval + 1500 < alpha0 && !capture && !inCheck && !givesCheck && m.promotion() == 0 && r.ext <= 0 &&
          alpha0 + 1 == beta) {
        unmakeMove(r.undo);
        ++pruned;
        continue;
      }
      score = -quiesce(e, -beta, -alpha, -1);
    }
    unmakeMove(r.undo);
    r.searched += 1;
    if (stopRequested(e)) return best;

    if (score <= best) continue;
    best = score;
    bestMove = m;
    if (score <= alpha) {
      if (picker.size() <= 2 && inCheck && score >= -1 && score <= 1 && alpha > 500 && d >= 0 &&
          e.nodes - nodesBefore == 1 && capture)
        threat = 1;
      continue;
    }
    alpha = score;
    if (score < beta) continue;

    const bool scanCut = cutoffFound && r.searched <= 1 && staticEval >= beta && score <= beta + 1;
    const Bitboard undefended = pos.enemy().pieceBB[0] & ~pos.mover().attackedByEnemy;
    if (!scanCut && !((undefended | pos.lastMove) & bit(m.to()))) {
      rememberFollowUp(e, previousOwn, m);
      historyAdd(e.history[side], m, depth / ONE_PLY);
    }
    if (!verification) table.store(pos.key, m, score, depth * 8 | BOUND_LOWER | threat, r.nullWindowCount, ply);
    return score;
  }

  if (r.searched == 0) {
    if (inCheck) return ply - INFINITE_SCORE;
    return pruned == 0 ? 0 : staticEval;
  }
  if (pruned && best < staticEval) best = staticEval;
  historyNodeDone(e.history[side], bestMove);
  if (!verification)
    table.store(pos.key, bestMove, best, depth * 8 | (best > alpha0 ? BOUND_EXACT : BOUND_UPPER) | threat,
                r.nullWindowCount, ply);
  return best;
}

int quiesceNode(Engine& e, int alpha, int beta, int qdepth, bool inCheck) {
  Position& pos = e.game.position;
  TranspositionTable& table = e.table();
  const int ply = e.ply;
  if (ply > e.maxPly) e.maxPly = ply;
  PlyRecord& r = enterRecord(e, alpha, beta);
  const PlyRecord& parent = e.record(ply - 1);
  if (ply >= 4 && e.record(ply - 4).key == pos.key) return 0;

  Move hashMove;
  TableEntry entry;
  if (table.probe(pos.key, ply, entry)) {
    if (TranspositionTable::usable(entry, alpha, beta, qdepth)) {
      propagateCount(e, entryCount(e, entry));
      return entry.score;
    }
    hashMove = entry.move;
  }

  ++e.nodes;
  const int staticEval = e.evaluator.evaluate(pos);
  r.staticEval = staticEval;
  const int alphaOnEntry = alpha;
  int best;
  bool selective = false;
  Bitboard targets = 0;
  if (inCheck) {
    best = ply - INFINITE_SCORE;
  } else {
    if (staticEval >= beta) return staticEval;
    const SideState& them = pos.enemy();
    if (qdepth <= -4 && !(them.enemyPawnAttacks & (RANK_1 | RANK_8)) && !(them.attackedByEnemy & them.pieceBB[0]))
      return staticEval;
    best = staticEval;
    if (staticEval > alpha) {
      alpha = staticEval;
    } else if (qdepth <= -4 && staticEval + PIECE_VALUE[KNIGHT] < alpha) {
      selective = true;
      targets = selectiveTargets(e, staticEval, alpha);
    }
  }

  {
    int settled = 0;
    if (e.evaluator.specialist()->probeSideRelative(pos, settled)) return settled;
  }

  const int side = pos.whiteToMove ? WHITE : BLACK;
  MovePicker picker(hashMove, e.moveTop, pos, e.history[side], true, qdepth > -4, nullptr);
  int extension = 0;
  if (inCheck && picker.size() == 1 && singleReplyExtends(pos, parent, picker.begin()->move)) extension = 2;

  Move bestMove;
  while (const MoveEntry* next = picker.nextMove()) {
    const Move m = next->move;
    if (selective && !(targets & bit(m.to())) && m.promotion() != QUEEN) continue;
    saveState(r.undo, pos);
    makeMoveCore(pos, m, r.undo);
    table.prefetch(pos.key);
    e.evaluator.prefetch(pos);
    if (!completeMove(pos, r.undo)) continue;
    r.move = m;
    const int child = (qdepth == -4 || !inCheck) ? -4 : std::min(qdepth - 1 + extension, -1);
    const int score = -quiesce(e, -beta, -alpha, child);
    unmakeMove(r.undo);
    r.searched += 1;
    if (stopRequested(e)) return best;
    if (score <= best) continue;
    best = score;
    bestMove = m;
    if (score <= alpha) continue;
    alpha = score;
    if (score >= beta) {
      table.store(pos.key, m, score, qdepth * 8 | BOUND_LOWER, r.nullWindowCount, ply);
      return score;
    }
  }
  if (bestMove.isNone()) return best;
  table.store(pos.key, bestMove, best, qdepth * 8 | (best > alphaOnEntry ? BOUND_EXACT : BOUND_UPPER),
              r.nullWindowCount, ply);
  return best;
}

}  // namespace

}  // namespace korvane
