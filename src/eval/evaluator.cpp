#include "eval/evaluator.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace korvane {

namespace {

// ---- constant tables (millipawns) -----------------------------------------

// Square tables are written for White; Black reads the vertically mirrored
// square. All of them are symmetric between the a-d and h-e halves.
using SquareTable = std::array<int, 64>;

// Builds a square table from the a-d values of ranks 7 down to 2 (ranks 8 and
// 1 stay 0).
constexpr SquareTable pawnTable(const int (&ranks)[6][4]) {
  SquareTable t{};
  for (int r = 0; r < 6; ++r)
    for (int f = 0; f < 4; ++f) {
      t[std::size_t(makeSquare(r + 1, f))] = ranks[r][f];
      t[std::size_t(makeSquare(r + 1, 7 - f))] = ranks[r][f];
    }
  return t;
}

constexpr int PAWN_MG_RANKS[6][4] = {{-50, -25, 108, 246}, {-55, -25, 108, 246}, {-60, -29, 60, 154},
                                     {-65, -39, 49, 114},  {-60, -38, 13, 41},   {-55, -55, -43, -30}};
constexpr int PAWN_EG_RANKS[6][4] = {{-98, -20, -20, 17},   {-98, -20, -20, 17},   {-108, -62, -37, -60},
                                     {-143, -85, -65, -73}, {-166, -98, -77, -68}, {-163, -117, -74, -51}};
constexpr int PASSED_MG_RANKS[6][4] = {{427, 371, 430, 436}, {297, 277, 258, 240}, {122, 137, 120, 117},
                                       {52, 86, 63, 67},     {16, 33, 43, 27},     {16, 33, 43, 27}};
constexpr int PASSED_EG_RANKS[6][4] = {{638, 605, 581, 531}, {425, 382, 353, 329}, {193, 164, 148, 170},
                                       {80, 75, 71, 83},     {5, 24, 20, 20},      {5, 5, 20, 20}};
constexpr SquareTable PAWN_MG = pawnTable(PAWN_MG_RANKS);
constexpr SquareTable PAWN_EG = pawnTable(PAWN_EG_RANKS);
constexpr SquareTable PASSED_MG = pawnTable(PASSED_MG_RANKS);
constexpr SquareTable PASSED_EG = pawnTable(PASSED_EG_RANKS);

// Indexed by the row of the (White-relative) square: row 1 = rank 7 ... row 6 = rank 2.
constexpr int MAJORITY_EG[8] = {0, 50, 48, 25, 17, 1, -9, 0};
// Storming pawn, by the row of the square seen from the pawn's own side.
constexpr int STORM_MG[8] = {0, 5, 18, 11, 2, -4, -6, 0};

constexpr SquareTable KING_MG = [] {
  constexpr int edge[8] = {63, 65, 49, 8, 8, 49, 65, 63};
  constexpr int second[8] = {48, 52, 11, 2, 2, 11, 52, 48};
  constexpr int third[8] = {9, 0, 0, 0, 0, 0, 0, 9};
  SquareTable t{};
  for (int f = 0; f < 8; ++f) {
    t[std::size_t(makeSquare(0, f))] = t[std::size_t(makeSquare(7, f))] = edge[f];
    t[std::size_t(makeSquare(1, f))] = t[std::size_t(makeSquare(6, f))] = second[f];
    t[std::size_t(makeSquare(2, f))] = t[std::size_t(makeSquare(5, f))] = third[f];
  }
  return t;
}();

constexpr int KING_ATTACK[25] = {-5, -2, 0,   11,  13,  21,  27,  34,  42,  57,  65,  70, 80,
                                 85, 90, 95, 100, 105, 110, 115, 120, 125, 130, 135, 140};

// Distance of a row or file to the two central ones (3 and 4).
constexpr int centreOffset(int i) { return i <= 3 ? 3 - i : i - 4; }
// Manhattan distance to the nearest of d4, e4, d5, e5.
constexpr SquareTable CENTRE_DISTANCE = [] {
  SquareTable t{};
  for (Square s = 0; s < 64; ++s) t[std::size_t(s)] = centreOffset(rowOf(s)) + centreOffset(fileOf(s));
  return t;
}();

constexpr int QUEEN_MOB_MG[28] = {-120, -25, 0,  10, 16, 20, 22, 23, 24, 25, 26, 27, 28, 29,
                                  39,   31,  32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43};
constexpr int QUEEN_MOB_EG[28] = {-120, -25, 0,  8,  12, 15, 17, 18, 19, 20, 21, 22, 23, 24,
                                  25,   26,  27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38};
constexpr int ROOK_MOB_MG[15] = {-150, -35, 0, 18, 30, 35, 40, 44, 48, 51, 53, 54, 55, 56, 57};
constexpr int ROOK_MOB_EG[15] = {-150, -45, 0, 10, 20, 30, 35, 39, 41, 42, 43, 43, 41, 37, 15};
constexpr int BISHOP_MOB_MG[14] = {-150, -40, 0, 20, 36, 50, 60, 70, 80, 90, 95, 97, 99, 100};
constexpr int BISHOP_MOB_EG[14] = {-150, -40, 0, 12, 24, 32, 38, 43, 48, 52, 55, 57, 58, 59};
constexpr int KNIGHT_MOB_MG[9] = {-140, -40, -5, 10, 25, 38, 50, 62, 73};
constexpr int KNIGHT_MOB_EG[9] = {-200, -65, -20, 5, 25, 35, 43, 45, 40};

constexpr int QUEEN_CENTRE_MG[12] = {0, 2, 7, 12, 16, 18, 19, 20, 21, 22, 23, 24};
constexpr int QUEEN_CENTRE_EG[12] = {0, 2, 10, 13, 15, 17, 18, 19, 20, 21, 22, 23};
constexpr int ROOK_CENTRE_MG[7] = {0, 2, 5, 6, 7, 7, 7};
constexpr int ROOK_CENTRE_EG[7] = {0, 8, 12, 13, 11, 9, 0};
constexpr int BISHOP_CENTRE_MG[6] = {0, 7, 10, 15, 25, 35};
constexpr int BISHOP_CENTRE_EG[6] = {0, 4, 8, 12, 16, 18};
constexpr int KNIGHT_CENTRE_MG[5] = {-5, 5, 18, 30, 30};
constexpr int KNIGHT_CENTRE_EG[5] = {-20, 0, 20, 32, 20};

constexpr int OPEN_FILE_MG[9] = {0, 35, 46, 47, 14, 0, 0, 0, 0};
constexpr int OPEN_FILE_EG[9] = {0, 40, 12, -15, -25, -30, -30, -30, 0};

constexpr Bitboard CENTRE_BLOCK = 0x00003C3C3C3C0000ULL;  // c3-f6

constexpr int TOTAL_START = 28000;  // material sum below which only endgame terms count
constexpr int PHASE_RANGE = 16384;
constexpr int SCALE_QUEEN = 9436;

// ---- colour-relative helpers ------------------------------------------------

// The square as White sees it: Black's squares are mirrored top to bottom.
template <Color Us>
constexpr Square rel(Square s) {
  return Us == WHITE ? s : s ^ 56;
}
template <Color Us>
constexpr Bitboard forward(Bitboard b) {
  return Us == WHITE ? shiftUp(b) : shiftDown(b);
}
// The set and every square in front of it (towards the enemy's back rank).
template <Color Us>
constexpr Bitboard forwardFill(Bitboard b) {
  if constexpr (Us == WHITE) {
    b |= b >> 8;
    b |= b >> 16;
    b |= b >> 32;
  } else {
    b |= b << 8;
    b |= b << 16;
    b |= b << 32;
  }
  return b;
}
template <Color Us>
constexpr Bitboard frontSpan(Bitboard b) {
  return forwardFill<Us>(forward<Us>(b));
}
constexpr Bitboard fileFill(Bitboard b) { return forwardFill<WHITE>(b) | forwardFill<BLACK>(b); }
// Bit f set when file f holds a square of b.
constexpr unsigned fileMask(Bitboard b) { return unsigned(fileFill(b) & 0xFF); }
constexpr Bitboard filesOf(unsigned mask) { return fileFill(Bitboard(mask & 0xFF)); }
constexpr Bitboard adjacentFiles(Bitboard files) { return shiftEast(files) | shiftWest(files); }
// The square's row counted from the colour's own side: 7 = back rank.
template <Color Us>
constexpr int relRow(Square s) {
  return rowOf(rel<Us>(s));
}
template <Color Us>
constexpr Bitboard relRank(int row) {
  return RANK_8 << (8 * (Us == WHITE ? row : 7 - row));
}

inline int chebyshev(Square a, Square b) {
  return std::max(std::abs(rowOf(a) - rowOf(b)), std::abs(fileOf(a) - fileOf(b)));
}
inline int manhattan(Square a, Square b) { return std::abs(rowOf(a) - rowOf(b)) + std::abs(fileOf(a) - fileOf(b)); }

// King steps from `from` to any square of `target`, moving over `mask`;
// 0 when already there, at most 8 (also when the target cannot be reached).
int kingSteps(Square from, Bitboard target, Bitboard mask) {
  Bitboard reach = bit(from);
  if (reach & target) return 0;
  for (int d = 1; d <= 8; ++d) {
    const Bitboard next = (kingGrow(reach) & mask) | reach;
    if (next & target) return d;
    if (next == reach) break;
    reach = next;
  }
  return 8;
}

int sign(bool white) { return white ? 1 : -1; }

// ---- pawn structure -----------------------------------------------------------

// One colour's share of the pawn entry, from its own point of view; the caller
// subtracts Black's. Fills the colour's bitboards of the entry and the parts of
// the other colour's that this colour's pawns decide.
template <Color Us>
void pawnSide(const Position& pos, PawnEntry& e, int& mg, int& eg) {
  constexpr Color Them = ~Us;
  const Bitboard pawns = pos.side[Us].pieceBB[PAWN];
  const Bitboard theirs = pos.side[Them].pieceBB[PAWN];
  const Bitboard ownAttacks = pawnAttacks(Us, pawns);
  const Bitboard theirAttacks = pawnAttacks(Them, theirs);
  const Bitboard ownSpan = frontSpan<Us>(pawns);
  const Bitboard theirSpan = frontSpan<Them>(theirs);
  // Squares where an enemy pawn stands in front on the same or an adjacent file.
  const Bitboard notPassed = theirSpan | forwardFill<Them>(theirAttacks);
  const unsigned files = fileMask(pawns);
  e.frontSpan[Us] = ownSpan;

  // Big centre: pawns on d4 and e4 (relative) with no enemy pawn on d5 or e5.
  const Bitboard d4e4 = bit(rel<Us>(35)) | bit(rel<Us>(36));
  const Bitboard d5e5 = bit(rel<Us>(27)) | bit(rel<Us>(28));
  if ((pawns & d4e4) == d4e4 && !(theirs & d5e5)) mg += 23;

  Bitboard passed = 0;
  for (Bitboard b = pawns; b;) {
    const Square s = popLowest(b);
    const Square r = rel<Us>(s);
    const Bitboard sq = bit(s);
    const int file = fileOf(s);
    const Bitboard fileBB = FILE_A << file;
    const Bitboard neighbours = adjacentFiles(fileBB);
    mg += PAWN_MG[std::size_t(r)];
    eg += PAWN_EG[std::size_t(r)];

    const bool isolated = !(pawns & neighbours);
    if (isolated) {
      const int penalty = (file == 0 || file == 7) ? 84 : 123;
      mg -= penalty;
      eg -= penalty;
      e.outposts[Us] |= pawnAttacks(Us, sq);
    }

    // Own pawns behind this one on its file.
    const Bitboard behind = fileBB & ~forwardFill<Us>(sq) & pawns;
    if (behind) {
      mg -= 98;
      eg -= 93;
      if (moreThanOne(behind)) {
        mg -= 300;
        eg -= 300;
      }
      if (isolated) {
        mg -= 33;
        eg -= 22;
      }
      if (sq & theirSpan) {
        mg -= 80;
        eg -= 80;
      }
    }
    // A pawn defended by a pawn, with another own pawn two squares behind it.
    const Bitboard twoBehind = forward<Them>(forward<Them>(sq));
    if ((twoBehind & pawns) && (sq & ownAttacks)) {
      mg += 40;
      eg += 52;
    }

    // Backward: no own pawn beside or behind it on the adjacent files, and its
    // stop square is attacked by an enemy pawn.
    const Bitboard levelOrBehind = neighbours & ~frontSpan<Us>(RANK_8 << (8 * rowOf(s)));
    if (!(pawns & levelOrBehind) && (forward<Us>(sq) & theirAttacks)) {
      mg -= 41;
      eg -= 41;
      e.backward[Us] |= sq;
      e.outposts[Them] |= forward<Us>(sq);
    }

    if (!(sq & notPassed)) {
      passed |= sq;
      mg += PASSED_MG[std::size_t(r)];
      eg += PASSED_EG[std::size_t(r)];
    }
  }

  // Islands: runs of adjacent files holding own pawns.
  const unsigned islandStarts = files & ~(files << 1);
  eg -= 15 * std::popcount(islandStarts);

  // Passed pawns on several files: a small bonus, withheld when they stand
  // exactly three files apart with no closer pair.
  const unsigned passedFiles = fileMask(passed);
  if (std::popcount(passedFiles) >= 2) {
    eg -= 29;
    const bool close = (passedFiles & (passedFiles >> 1)) || (passedFiles & (passedFiles >> 2));
    const bool threeApart = (passedFiles & (passedFiles >> 3)) != 0;
    if (close || !threeApart) eg += 32;
  }
  e.passed[Us] = passed;
  e.passedFiles[Us] = filesOf(passedFiles);

  // Key region: the squares beyond the enemy pawns that this side's king can
  // reach from the enemy's back rank side of the board, walking over squares
  // that hold no pawn (except enemy pawns no other enemy pawn defends, which
  // the king could take) and that no enemy pawn attacks. With no pawn barrier
  // the region is most of the board for both kings; behind a locked chain it
  // shrinks to the squares a penetrating king would reach.
  const Bitboard walkable = ~(pawns | theirs | theirAttacks) | (theirs & ~theirAttacks);
  const Bitboard enemyRear = relRank<Us>(0) | frontSpan<Us>(theirs);
  e.keyRegion[Us] = floodFill(enemyRear & walkable, walkable);
}

// Pawn majorities: over the pawns that are not passed, each run of adjacent
// files holding such pawns is a group; the side with more pawns in a group and
// no doubled pawn there gets the majority bonus for each of them.
void majorities(PawnEntry& e, const Position& pos, int& eg) {
  const Bitboard white = pos.side[WHITE].pieceBB[PAWN] & ~e.passed[WHITE];
  const Bitboard black = pos.side[BLACK].pieceBB[PAWN] & ~e.passed[BLACK];
  const Bitboard whiteDoubled = pos.side[WHITE].pieceBB[PAWN] & e.frontSpan[WHITE];
  const Bitboard blackDoubled = pos.side[BLACK].pieceBB[PAWN] & e.frontSpan[BLACK];
  unsigned files = fileMask(white | black);
  while (files) {
    // Take the lowest run of adjacent files.
    const unsigned low = files & (0u - files);
    unsigned run = low;
    while (files & (run << 1) & ~run) run |= run << 1;
    files &= ~run;
    const Bitboard group = filesOf(run);
    const int w = popCount(white & group), b = popCount(black & group);
    if (w > b && !(whiteDoubled & white & group))
      for (Bitboard p = white & group; p;) eg += MAJORITY_EG[std::size_t(rowOf(popLowest(p)))];
    if (b > w && !(blackDoubled & black & group))
      for (Bitboard p = black & group; p;) eg -= MAJORITY_EG[std::size_t(rowOf(popLowest(p) ^ 56))];
  }
}

void computePawnEntry(const Position& pos, PawnEntry& e) {
  int wmg = 0, weg = 0, bmg = 0, beg = 0;
  pawnSide<WHITE>(pos, e, wmg, weg);
  pawnSide<BLACK>(pos, e, bmg, beg);
  int eg = weg - beg;
  majorities(e, pos, eg);
  e.mg = wmg - bmg;
  e.eg = eg;
  const unsigned pawnFiles = fileMask(pos.side[WHITE].pieceBB[PAWN] | pos.side[BLACK].pieceBB[PAWN]);
  e.openFiles = filesOf(~pawnFiles & 0xFF);
  e.openFileCount = std::popcount(~pawnFiles & 0xFFu);
}

// ---- mobility -------------------------------------------------------------------

template <Color Us>
void mobility(const Position& pos, int& mg, int& eg) {
  constexpr Color Them = ~Us;
  const SideState& me = pos.side[Us];
  const SideState& op = pos.side[Them];
  const std::uint8_t* rot = pos.rotated;
  const Bitboard free = ~me.pieceBB[0] & ~me.attackedByEnemy;
  const Bitboard queenArea = free | op.pieceBB[QUEEN];
  const Bitboard rookArea = queenArea | op.pieceBB[ROOK];
  const Bitboard minorArea = (~me.pieceBB[0] & ~me.enemyPawnAttacks & ~(me.attackedByEnemy & ~op.attackedTwice)) |
                             (op.pieceBB[0] & ~op.pieceBB[PAWN]);

  auto add = [&](Bitboard reach, const auto& totalMg, const auto& totalEg, const auto& centreMg,
                 const auto& centreEg) {
    const int n = std::min(popCount(reach), int(std::size(totalMg)) - 1);
    const int c = std::min(popCount(reach & CENTRE_BLOCK), int(std::size(centreMg)) - 1);
    mg += totalMg[n] + centreMg[c];
    eg += totalEg[n] + centreEg[c];
  };
  for (int i = 0; i < me.count[QUEEN]; ++i)
    add(queenAttacks(me.squares[QUEEN][i], rot) & queenArea, QUEEN_MOB_MG, QUEEN_MOB_EG, QUEEN_CENTRE_MG,
        QUEEN_CENTRE_EG);
  for (int i = 0; i < me.count[ROOK]; ++i)
    add(rookAttacks(me.squares[ROOK][i], rot) & rookArea, ROOK_MOB_MG, ROOK_MOB_EG, ROOK_CENTRE_MG,
        ROOK_CENTRE_EG);
  for (int i = 0; i < me.count[BISHOP]; ++i)
    add(bishopAttacks(me.squares[BISHOP][i], rot) & minorArea, BISHOP_MOB_MG, BISHOP_MOB_EG, BISHOP_CENTRE_MG,
        BISHOP_CENTRE_EG);
  for (int i = 0; i < me.count[KNIGHT]; ++i)
    add(STEPS.knight[me.squares[KNIGHT][i]] & minorArea, KNIGHT_MOB_MG, KNIGHT_MOB_EG, KNIGHT_CENTRE_MG,
        KNIGHT_CENTRE_EG);
}

// ---- piece terms ----------------------------------------------------------------

// One colour's piece terms from its own point of view. Also reports the
// colour's rooks on open files.
template <Color Us>
void pieceTerms(const Position& pos, const PawnEntry& e, bool withMg, bool withEg, int& mg, int& eg,
                Bitboard& rooksOnOpenFiles) {
  constexpr Color Them = ~Us;
  const SideState& me = pos.side[Us];
  const SideState& op = pos.side[Them];
  const Bitboard pawns = me.pieceBB[PAWN];
  const Bitboard defended = op.attackedByEnemy;  // squares this side attacks
  const Bitboard rooks = me.pieceBB[ROOK];

  // Pinned pieces.
  const int pinned = popCount(me.pinned & ~pawns);
  mg -= 67 * pinned;
  eg -= 123 * pinned;

  // Hanging pieces: every piece on an attacked square this side does not
  // cover, the king included (a king in check that no own piece guards).
  const int hanging = popCount(me.pieceBB[0] & me.attackedByEnemy & ~defended);
  const bool toMove = pos.sideToMove() == Us;
  mg -= (toMove ? 73 : 83) * hanging;
  eg -= (toMove ? 125 : 160) * hanging;

  if (withEg) {
    // Blocked and free stop squares of passed pawns.
    const Bitboard stops = forward<Us>(e.passed[Us]);
    const Bitboard blockers = stops & op.pieceBB[0];
    eg -= 80 * popCount(blockers) + 30 * popCount(blockers & relRank<Us>(1));
    const Bitboard freeStops = stops & ~op.pieceBB[0] & ~me.attackedByEnemy;
    eg += 115 * popCount(freeStops & relRank<Us>(0)) + 40 * popCount(freeStops & relRank<Us>(1));
  }

  if (withMg) {
    // Any own piece, a pawn included, in front of the d- or e-pawn on its home square.
    for (Square s : {43, 44})
      if ((me.pieceBB[0] & bit(rel<Us>(s))) && (pawns & bit(rel<Us>(s + 8)))) mg -= 35;
    // Undeveloped minor pieces.
    const Bitboard backRank = relRank<Us>(7);
    Bitboard idle = (me.pieceBB[KNIGHT] & backRank) | (me.pieceBB[BISHOP] & backRank & ~FILE_A & ~FILE_H);
    if ((pawns & bit(rel<Us>(49)))) idle |= me.pieceBB[BISHOP] & bit(rel<Us>(56));
    if ((pawns & bit(rel<Us>(54)))) idle |= me.pieceBB[BISHOP] & bit(rel<Us>(63));
    if (idle) {
      const int n = popCount(idle);
      mg -= 72 * n;
      const Bitboard ranks3to8 = forwardFill<Us>(relRank<Us>(5));
      const Bitboard ranks4to8 = forwardFill<Us>(relRank<Us>(4));
      if (me.pieceBB[QUEEN] & ranks3to8) mg -= 14 * n;
      if (rooks & ranks4to8) mg -= 8 * n;
    }
  }

  // Trapped bishops.
  const Bitboard bishops = me.pieceBB[BISHOP];
  if (bishops) {
    const Bitboard theirPawnsDefended = op.pieceBB[PAWN] & me.attackedByEnemy;
    if ((bishops & bit(rel<Us>(8))) && (theirPawnsDefended & bit(rel<Us>(17)))) {
      mg -= 980;
      eg -= 980;
    }
    if ((bishops & bit(rel<Us>(15))) && (theirPawnsDefended & bit(rel<Us>(22)))) {
      mg -= 980;
      eg -= 980;
    }
    if ((bishops & bit(rel<Us>(56))) && (pawns & bit(rel<Us>(49)))) {
      const int p = 77 + (((pos.occupied & bit(rel<Us>(41))) || (pawns & bit(rel<Us>(42)))) ? 575 : 0);
      mg -= p;
      eg -= p;
    }
    if ((bishops & bit(rel<Us>(63))) && (pawns & bit(rel<Us>(54)))) {
      const int p = 77 + (((pos.occupied & bit(rel<Us>(46))) || (pawns & bit(rel<Us>(45)))) ? 575 : 0);
      mg -= p;
      eg -= p;
    }
  }

  if (withEg && bishops) {
    // Bad bishop: own blocked or backward pawns on the bishop's colour.
    if (me.count[BISHOP] == 1 && pawns) {
      const Bitboard colour = (bishops & DARK_SQUARES) ? DARK_SQUARES : LIGHT_SQUARES;
      const Bitboard allPawns = pawns | op.pieceBB[PAWN];
      const Bitboard blocked = pawns & forward<Them>(allPawns);
      eg -= 25 * popCount((blocked | e.backward[Us]) & colour & ~FILE_A & ~FILE_H);
    }
    // Squares in front of enemy passed pawns that a bishop sees along one diagonal.
    if (e.passed[Them]) {
      const Bitboard paths = frontSpan<Them>(e.passed[Them]);
      for (int i = 0; i < me.count[BISHOP]; ++i) {
        const Square s = me.squares[BISHOP][i];
        eg -= 25 * std::max(popCount(diagAttacks(s, pos.rotated) & paths),
                            popCount(antiAttacks(s, pos.rotated) & paths));
      }
    }
  }

  // Minor pieces on outposts.
  const int outposts = popCount((me.pieceBB[KNIGHT] | bishops) & e.outposts[Us]);
  mg += 42 * outposts;
  eg += 42 * outposts;

  if (!rooks) {
    rooksOnOpenFiles = 0;
    return;
  }
  // Rooks on open files.
  rooksOnOpenFiles = rooks & e.openFiles;
  const int open = popCount(rooksOnOpenFiles);
  mg += open * OPEN_FILE_MG[e.openFileCount];
  eg += open * OPEN_FILE_EG[e.openFileCount];
  // Rooks behind own passed pawns.
  const int behind = popCount(rooks & e.passedFiles[Us] & ~e.frontSpan[Us]);
  mg += 123 * behind;
  eg += 123 * behind;
  // Rooks on the seventh rank.
  const Bitboard seventh = relRank<Us>(1);
  if (rooks & seventh) {
    mg += 91;
    eg += 91;
    if (moreThanOne(op.pieceBB[PAWN] & seventh & defended)) {
      mg += 30;
      eg += 100;
    }
  }
  // Two rooks that see each other along a rank.
  if (me.count[ROOK] == 2 && (rankAttacks(me.squares[ROOK][0], pos.rotated) & bit(me.squares[ROOK][1]))) mg += 35;
}

// ---- king safety (middlegame) -------------------------------------------------

// Pawn cover of a king square: missing pawns in front and diagonally in front.
template <Color Us>
int shelter(Square k, Bitboard pawns) {
  const Bitboard kb = bit(k);
  const Bitboard front = forward<Us>(kb);
  const Bitboard twoFront = forward<Us>(front);
  int v = 0;
  if (!(pawns & front)) v -= ((pawns & twoFront & pawnAttacks(Us, pawns)) ? 20 : 72);
  if (!(pawns & forward<Us>(shiftEast(kb) | shiftWest(kb)))) v -= 39;
  return v;
}

// The king's safety from its own side's point of view, before the scaling by
// the attacker's force.
template <Color Us>
int kingSafety(const Position& pos, const Bitboard* rooksOnOpenFiles) {
  constexpr Color Them = ~Us;
  const SideState& me = pos.side[Us];
  const SideState& op = pos.side[Them];
  const std::uint8_t* rot = pos.rotated;
  const Square k = me.kingSquare();
  const Bitboard kb = bit(k);
  const Bitboard pawns = me.pieceBB[PAWN];
  const Bitboard ownAttacks = op.attackedByEnemy;
  const Bitboard ownTwice = op.attackedTwice;
  int v = KING_MG[std::size_t(k)];

  // Cover box: the king's file and its neighbours, on its rank and the one in
  // front, without the back-rank squares of files a, b, g and h.
  const Bitboard row = kb | shiftEast(kb) | shiftWest(kb);
  const Bitboard box = (row | forward<Us>(row)) & ~(relRank<Us>(7) & 0xC3C3C3C3C3C3C3C3ULL);
  const int cover = popCount(box & me.pieceBB[0]);
  if (cover <= 2) v += 5 * (3 - cover);

  // Attacks on the squares next to the king.
  const Bitboard zone = STEPS.king[k];
  v -= KING_ATTACK[std::min(24, popCount(zone & me.attackedByEnemy) + 2 * popCount(zone & me.attackedTwice))];

  // Queen approach squares to weak zone squares.
  if (op.pieceBB[QUEEN]) {
    const Bitboard weak = zone & me.attackedByEnemy & ~ownTwice;
    Bitboard reach = 0;
    for (int i = 0; i < op.count[QUEEN]; ++i) reach |= queenAttacks(op.squares[QUEEN][i], rot);
    reach &= ~op.pieceBB[0] & ~ownAttacks;
    if (reach && weak) {
      Bitboard toWeak = 0, toWeakTwice = 0;
      for (Bitboard b = weak; b;) {
        const Square s = popLowest(b);
        const Bitboard lines = queenAttacks(s, rot);
        toWeak |= lines;
        if (me.attackedTwice & bit(s)) toWeakTwice |= lines;
      }
      v -= 5 * popCount(reach & toWeak);
      v -= 26 * popCount(reach & toWeakTwice);
    }
  }

  // Lines from the king to squares the enemy controls safely.
  const Bitboard safe = ((me.attackedByEnemy & ~me.enemyPawnAttacks) | me.attackedTwice) & ~ownAttacks;
  const int majors = op.count[QUEEN] + op.count[ROOK];
  if (rookAttacks(k, rot) & safe) v -= 2 * majors;
  if (bishopAttacks(k, rot) & safe) v -= 2 * majors;

  // Pawn shelter, looking ahead to where castling would put the king.
  const int here = shelter<Us>(k, pawns);
  const unsigned rights = pos.castling & me.castleMask;
  const unsigned shortRight = Us == WHITE ? WHITE_OO : BLACK_OO;
  const unsigned longRight = Us == WHITE ? WHITE_OOO : BLACK_OOO;
  const bool shortFree = !(me.kingsideEmpty & pos.occupied) && !(me.kingsidePath & me.attackedByEnemy);
  const bool longFree = !(me.queensideEmpty & pos.occupied) && !(me.queensidePath & me.attackedByEnemy);
  if (rights == 0) {
    v += here - 12;
  } else if (rights == shortRight) {
    v += (11 * shelter<Us>(rel<Us>(62), pawns) + 5 * here) / 16 + (shortFree ? 6 : 0);
  } else if (rights == longRight) {
    v += (7 * here + 9 * shelter<Us>(rel<Us>(58), pawns)) / 16 + (longFree ? 6 : 0);
  } else {
    const int best = std::max(shelter<Us>(rel<Us>(62), pawns), shelter<Us>(rel<Us>(58), pawns));
    v += ((here + 3 * best) * 4) / 16 + ((shortFree || longFree) ? 6 : 0);
  }

  // Back rank: no escape square in front of a king on its first rank.
  if (kb & relRank<Us>(7)) {
    const Bitboard escape = forward<Us>(row) & ~pawns & ~me.attackedByEnemy;
    if (!escape) v -= 9 * popCount(rooksOnOpenFiles[Them]);
  }

  // Pawn storm against a king that can no longer castle, with the kings apart.
  if (pos.castling == 0 && std::abs(fileOf(k) - fileOf(op.kingSquare())) >= 3) {
    const Bitboard near = kingGrow(kb);
    for (Bitboard b = (near | shiftUp(near) | shiftDown(near)) & op.pieceBB[PAWN]; b;)
      v -= STORM_MG[std::size_t(relRow<Them>(popLowest(b)))];
  }
  return v;
}

// ---- endgame terms ----------------------------------------------------------------

// Passed-pawn race of one colour's passers, from that colour's point of view.
template <Color Us>
int passerRace(const Position& pos, const PawnEntry& e, const Bitboard* rooksOnOpenFiles) {
  constexpr Color Them = ~Us;
  if (!e.passed[Us]) return 0;
  const Bitboard target = frontSpan<Us>(e.passed[Us]);
  const Bitboard ownPawns = pos.side[Us].pieceBB[PAWN];
  const Bitboard theirPawns = pos.side[Them].pieceBB[PAWN];
  // Files that only this side's rooks on open files control cut the defending king off.
  const Bitboard cut = fileFill(rooksOnOpenFiles[Us]) & ~fileFill(rooksOnOpenFiles[Them]);
  const int attacker = kingSteps(pos.side[Us].kingSquare(), target, ~ownPawns & ~pawnAttacks(Them, theirPawns));
  const int defender =
      kingSteps(pos.side[Them].kingSquare(), target, ~theirPawns & ~pawnAttacks(Us, ownPawns) & ~cut);
  return 44 * (defender - attacker);
}

struct KingActivity {
  int pawnContact;  // pawns (not passed) around the king, weighted
  int freeSquares;
};

template <Color Us>
KingActivity kingActivity(const Position& pos, Bitboard pawnsNotPassed) {
  const SideState& me = pos.side[Us];
  const Bitboard zone = STEPS.king[me.kingSquare()];
  const Bitboard s1 = zone & ~me.pieceBB[0] & ~me.attackedByEnemy;
  const Bitboard s2 = kingGrow(s1);
  const Bitboard freeSquares = s2 & ~me.pieceBB[0] & ~me.attackedByEnemy;
  return {popCount(s2 & pawnsNotPassed) + popCount(zone & pawnsNotPassed), popCount(freeSquares)};
}

int endgameTerms(const Position& pos, const PawnEntry& e, const Bitboard* rooksOnOpenFiles) {
  const SideState& w = pos.side[WHITE];
  const SideState& b = pos.side[BLACK];
  int v = 22 * (CENTRE_DISTANCE[std::size_t(b.kingSquare())] - CENTRE_DISTANCE[std::size_t(w.kingSquare())]);
  if (b.pieceBB[QUEEN]) v += 33 * std::min(3, popCount(STEPS.king[w.kingSquare()] & w.pieceBB[0]));
  if (w.pieceBB[QUEEN]) v -= 33 * std::min(3, popCount(STEPS.king[b.kingSquare()] & b.pieceBB[0]));
  v += passerRace<WHITE>(pos, e, rooksOnOpenFiles) - passerRace<BLACK>(pos, e, rooksOnOpenFiles);
  const Bitboard notPassed = (w.pieceBB[PAWN] | b.pieceBB[PAWN]) & ~(e.passed[WHITE] | e.passed[BLACK]);
  const KingActivity kw = kingActivity<WHITE>(pos, notPassed);
  const KingActivity kb = kingActivity<BLACK>(pos, notPassed);
  v += 3 * (8 * (kw.pawnContact - kb.pawnContact) + kw.freeSquares - kb.freeSquares);
  return v;
}

// ---- stalemate shortcut -------------------------------------------------------------

// True when the side to move has only king and pawns, is not in check, its
// king has no safe square and no pawn can push or capture: a stalemate.
bool pawnStalemate(const Position& pos) {
  const SideState& me = pos.mover();
  const SideState& op = pos.enemy();
  if (me.count[0] - me.count[PAWN] != 1) return false;
  const Bitboard king = me.pieceBB[KING];
  if (king & me.attackedByEnemy) return false;
  if (STEPS.king[me.kingSquare()] & ~me.attackedByEnemy) return false;
  const Color us = pos.sideToMove();
  const Bitboard pawns = me.pieceBB[PAWN];
  const Bitboard pushes = us == WHITE ? shiftUp(pawns) : shiftDown(pawns);
  if (pushes & ~pos.occupied) return false;
  const Bitboard captures = pawnAttacks(us, pawns);
  if (captures & op.pieceBB[0]) return false;
  // An en-passant capture is a move too.
  if (pos.epSquare >= 0 && (captures & bit(pos.epSquare))) return false;
  return true;
}

bool identicalCounts(const Position& pos) {
  const SideState& w = pos.side[WHITE];
  const SideState& b = pos.side[BLACK];
  for (int t = PAWN; t <= QUEEN; ++t)
    if (w.count[t] != b.count[t]) return false;
  return true;
}

}  // namespace

// ---- Evaluator --------------------------------------------------------------------

Evaluator::Evaluator()
    : pawnTable_(new PawnEntry[PAWN_TABLE_SIZE]()),
      materialCache_(new MaterialCacheEntry[MATERIAL_PRIMARY + MATERIAL_SECONDARY]()) {
  net_.load(INTERNAL_NET_NAME);
  specialist_ = specialists_.get(SP_DEFAULT);
}

Evaluator::~Evaluator() = default;

void Evaluator::clearCaches() {
  std::fill(pawnTable_.get(), pawnTable_.get() + PAWN_TABLE_SIZE, PawnEntry{});
  std::fill(materialCache_.get(), materialCache_.get() + MATERIAL_PRIMARY + MATERIAL_SECONDARY,
            MaterialCacheEntry{});
  currentPawnEntry_ = &noPawnEntry_;
}

void Evaluator::setNeuroMaterial(int percent) {
  neuroMaterial_ = std::clamp(percent, 0, 100);
  clearCaches();
}

bool Evaluator::setMaterialFile(std::string_view name) {
  const std::string_view wanted = name.empty() ? INTERNAL_NET_NAME : name;
  if (wanted == net_.loadedName()) return true;
  clearCaches();
  MaterialNet scratch;
  if (!scratch.load(wanted) || scratch.inputCount() != MATERIAL_NET_INPUTS) return false;
  net_ = std::move(scratch);
  return true;
}

void Evaluator::copySettingsFrom(const Evaluator& other) {
  if (&other == this) return;
  net_ = other.net_;
  neuroMaterial_ = other.neuroMaterial_;
  clearCaches();
}

const MaterialCacheEntry* Evaluator::cachedMaterial(std::uint32_t key) const {
  const MaterialCacheEntry* primary = &materialCache_[key & (MATERIAL_PRIMARY - 1)];
  if (primary->specialist && primary->key == key) return primary;
  const MaterialCacheEntry* secondary = &materialCache_[MATERIAL_PRIMARY + (key & (MATERIAL_SECONDARY - 1))];
  if (secondary->specialist && secondary->key == key) return secondary;
  return nullptr;
}

int Evaluator::mopUp(const SideState& defender, const SideState& attacker) {
  const Square d = defender.kingSquare();
  const Square a = attacker.kingSquare();
  const int centreSteps = std::max(centreOffset(rowOf(d)), centreOffset(fileOf(d)));
  return 21 * (centreSteps - 2 * manhattan(d, a)) + 62 * CENTRE_DISTANCE[std::size_t(d)] - 16 * chebyshev(d, a);
}

int Evaluator::networkMaterial(const Position& pos, int classical) {
  const double scale = net_.netScale();
  if (!(scale > 0.0) || net_.inputCount() != MATERIAL_NET_INPUTS) return classical;
  const SideState& w = pos.side[WHITE];
  const SideState& b = pos.side[BLACK];
  const int colourClass = bishopColourClass(pos);
  const double code = colourClass == 1 ? -1.0 : colourClass == 2 ? 1.0 : 0.0;
  const double white[MATERIAL_NET_INPUTS] = {double(w.count[QUEEN]),  double(w.count[ROOK]), double(w.count[BISHOP]),
                                             double(w.count[KNIGHT]), double(w.count[PAWN]), double(b.count[QUEEN]),
                                             double(b.count[ROOK]),   double(b.count[BISHOP]),
                                             double(b.count[KNIGHT]), double(b.count[PAWN]), code};
  const double black[MATERIAL_NET_INPUTS] = {white[5], white[6], white[7], white[8], white[9], white[0],
                                             white[1], white[2], white[3], white[4], code};
  // Clamping keeps the logit finite; a non-number counts as the lower bound.
  auto bounded = [](double p) { return p >= 0.02 ? std::min(p, 0.98) : 0.02; };
  auto logit = [](double p) { return -std::log(1.0 / p - 1.0); };
  const double p1 = bounded(net_.forward(white));
  const double p2 = bounded(net_.forward(black));
  const double v = std::clamp(-0.5 * 1000.0 * (logit(p1) - logit(p2)) / scale, -100000.0, 100000.0);
  const int nm = neuroMaterial_;
  return ((100 - nm) * classical - nm * int(v)) / 100;
}

int Evaluator::computeMaterial(const Position& pos) {
  const SideState& w = pos.side[WHITE];
  const SideState& b = pos.side[BLACK];
  const int d = w.materialSum - b.materialSum;
  int m = d + (128 * d) / (w.materialSum + b.materialSum + 100);
  if (w.count[BISHOP] >= 2) m += 49;
  if (b.count[BISHOP] >= 2) m -= 49;
  if (neuroMaterial_ > 0) m = networkMaterial(pos, m);
  return m;
}

int Evaluator::materialScore(bool incremental) {
  const Position& pos = *position_;
  const std::uint32_t key = materialKey(pos);
  MaterialCacheEntry* primary = &materialCache_[key & (MATERIAL_PRIMARY - 1)];
  MaterialCacheEntry* secondary = &materialCache_[MATERIAL_PRIMARY + (key & (MATERIAL_SECONDARY - 1))];
  if (!(primary->specialist && primary->key == key)) {
    if (secondary->specialist && secondary->key == key) {
      std::swap(*primary, *secondary);
    } else if (identicalCounts(pos)) {
      // Equal material is 0 and never cached.
      const EndgameSpecialist* sp = classifyMaterial(pos, specialists_);
      if (!incremental) {
        specialist_ = sp;
        baseMaterial_ = 0;
        return 0;
      }
      if (sp != specialist_) return pos.whiteToMove ? MATERIAL_CHANGED : -MATERIAL_CHANGED;
      return -baseMaterial_;
    } else {
      *secondary = *primary;
      primary->key = key;
      primary->score = computeMaterial(pos);
      primary->specialist = classifyMaterial(pos, specialists_);
    }
  }
  if (!incremental) {
    specialist_ = primary->specialist;
    baseMaterial_ = primary->score;
    return baseMaterial_;
  }
  if (primary->specialist != specialist_) return pos.whiteToMove ? MATERIAL_CHANGED : -MATERIAL_CHANGED;
  return primary->score - baseMaterial_;
}

const PawnEntry& Evaluator::probePawns() {
  const Position& pos = *position_;
  if (!(pos.side[WHITE].pieceBB[PAWN] | pos.side[BLACK].pieceBB[PAWN])) return noPawnEntry_;
  PawnEntry* bucket = &pawnTable_[pos.pawnKey & 0x7FE];
  for (int i = 0; i < 2; ++i) {
    if (bucket[i].key == pos.pawnKey) {
      bucket[i].recent = 1;
      bucket[1 - i].recent = 0;
      return bucket[i];
    }
  }
  // Replace the entry that was not used last.
  PawnEntry* victim;
  if (bucket[0].recent) {
    bucket[0].recent = 0;
    victim = &bucket[1];
  } else {
    bucket[1].recent = 0;
    victim = &bucket[0];
  }
  *victim = PawnEntry{};
  victim->key = pos.pawnKey;
  victim->recent = 1;
  computePawnEntry(pos, *victim);
  return *victim;
}

int Evaluator::positional() {
  const Position& pos = *position_;
  int mg = 0, eg = 0;
  mobility<WHITE>(pos, mg, eg);
  {
    int bmg = 0, beg = 0;
    mobility<BLACK>(pos, bmg, beg);
    mg -= bmg;
    eg -= beg;
  }

  const PawnEntry& e = probePawns();
  currentPawnEntry_ = &e;
  mg += e.mg;
  eg += e.eg;

  const int tempo = sign(pos.whiteToMove);
  mg += 33 * tempo;
  eg += 3 * tempo;

  const int phase =
      ((pos.side[WHITE].materialSum + pos.side[BLACK].materialSum - TOTAL_START) * 256) / PHASE_RANGE;
  const bool withMg = phase > 0, withEg = phase < 256;
  {
    int wmg = 0, weg = 0, bmg = 0, beg = 0;
    pieceTerms<WHITE>(pos, e, withMg, withEg, wmg, weg, rookOpenFile_[WHITE]);
    pieceTerms<BLACK>(pos, e, withMg, withEg, bmg, beg, rookOpenFile_[BLACK]);
    mg += wmg - bmg;
    eg += weg - beg;
  }

  int mgTotal = 0, egTotal = 0;
  if (withMg) {
    // The king's safety counts as much as the attacker's pieces beyond a queen.
    const int kw = kingSafety<WHITE>(pos, rookOpenFile_);
    const int kb = kingSafety<BLACK>(pos, rookOpenFile_);
    auto excess = [](const SideState& s) { return s.materialSum - 1000 * s.count[PAWN] - SCALE_QUEEN; };
    const int exW = excess(pos.side[WHITE]), exB = excess(pos.side[BLACK]);
    const int safety = (exB > 0 ? exB * kw / 4096 : 0) - (exW > 0 ? exW * kb / 4096 : 0);
    mgTotal = mg + safety;
  }
  if (withEg) egTotal = eg + endgameTerms(pos, e, rookOpenFile_);
  if (phase <= 0) return egTotal;
  if (phase >= 256) return mgTotal;
  return (phase * mgTotal + (256 - phase) * egTotal) / 256;
}

int Evaluator::evaluateRaw(const Position& pos, bool& stepped) {
  stepped = false;
  position_ = &pos;
  currentPawnEntry_ = &noPawnEntry_;
  int s = materialScore(false);
  const SideState& w = pos.side[WHITE];
  const SideState& b = pos.side[BLACK];

  if (w.materialSum + b.materialSum < TOTAL_START) {
    if (pawnStalemate(pos)) return 0;
    if (!(w.pieceBB[PAWN] | b.pieceBB[PAWN])) {
      if (specialist_->probe(pos, s)) return pos.whiteToMove ? s : -s;
      if (w.materialSum >= b.materialSum) s += mopUp(b, w);
      if (w.materialSum <= b.materialSum) s -= mopUp(w, b);
      return pos.whiteToMove ? s + 3 : 3 - s;
    }
    if (specialist_->probe(pos, s)) return pos.whiteToMove ? s : -s;
  }

  s += positional();
  s = specialist_->scale(pos, *this, s);
  if (!pos.whiteToMove) s = -s;
  stepped = true;
  return s > 0 ? s + 1 : s < 0 ? s - 1 : 0;
}

int Evaluator::evaluate(const Position& pos) {
  bool stepped;
  return evaluateRaw(pos, stepped);
}

int Evaluator::positionalScore(const Position& pos) {
  bool stepped;
  int e = evaluateRaw(pos, stepped);
  if (stepped) e -= (e > 0) - (e < 0);
  const int m = materialScore(false);
  return pos.whiteToMove ? e - m : e + m;
}

}  // namespace korvane
