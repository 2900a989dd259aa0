// The tree search below the root: principal-variation alpha-beta with depth in
// fifths of a ply, and the quiescence search that ends every line.
//
// Both work on the engine's game position, making and unmaking moves on it,
// and leave `ply` and the position as they found them on every path. Scores
// are millipawns for the side to move; a side mated at ply p scores
// p - 1000000.
#pragma once

#include <cstdint>

#include "board/move_picker.h"
#include "board/types.h"

namespace korvane {

class Engine;
struct PlyRecord;

// One ply of depth.
constexpr int ONE_PLY = 5;
// Beyond every real score; the best score of a node starts here.
constexpr int INFINITE_SCORE = 1000000;

int search(Engine& engine, int alpha, int beta, int depth);
// qdepth is -1 on entry from the main search and falls to -4.
int quiesce(Engine& engine, int alpha, int beta, int qdepth);

// Depth of the child searched through `record`'s move, from the node's depth;
// may rewrite the record's extension.
int newDepth(Engine& engine, PlyRecord& record, int depth);
// Extensions of a move just made from the node at the engine's ply: pushes to
// the seventh and sixth rank, checks, recaptures.
int moveExtensions(Engine& engine, const PlyRecord& record, int staticEval);

// True only when the side to move can mate at once; tried only when the enemy
// king stands on the edge. The mating move is left in the next ply's record.
bool mateInOne(Engine& engine);
// Whether the side to move may lose more than `margin` at once.
bool threatExceeds(const Engine& engine, int margin);

// Clears the history tables, the follow-up table and the ply records before
// a search.
void resetSearchTables(Engine& engine);
void historyAdd(HistoryTable& table, Move move, int plies);
void historyNodeDone(HistoryTable& table, Move move);

}  // namespace korvane
