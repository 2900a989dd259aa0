#include "board/position.h"

#include <cstring>

namespace korvane {

// ---- fixed key tables ----------------------------------------------------------

namespace {

// A fixed 64-bit generator (splitmix64) so that the key tables are compile-time data.
constexpr std::uint64_t nextRandom(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

struct ZobristTable {
  std::uint64_t v[2][7][64];
};
constexpr ZobristTable buildZobrist() {
  ZobristTable t{};
  std::uint64_t state = 0x4B6F7276616E6531ULL;
  for (auto& colour : t.v)
    for (auto& slot : colour)
      for (auto& key : slot) key = nextRandom(state);
  return t;
}

struct SignatureTables {
  std::uint32_t keys[2][6][SIGNATURE_COUNTS];
  std::uint32_t cumulative[2][6][SIGNATURE_COUNTS + 1];
};
constexpr SignatureTables buildSignatures() {
  SignatureTables t{};
  std::uint64_t state = 0x5369676E61747572ULL;
  for (int c = 0; c < 2; ++c)
    for (int p = 1; p <= 5; ++p) {
      t.cumulative[c][p][0] = 0;
      for (int n = 0; n < SIGNATURE_COUNTS; ++n) {
        t.keys[c][p][n] = std::uint32_t(nextRandom(state) >> 32);
        t.cumulative[c][p][n + 1] = t.cumulative[c][p][n] ^ t.keys[c][p][n];
      }
    }
  return t;
}

constexpr ZobristTable ZOBRIST_DATA = buildZobrist();
constexpr SignatureTables SIGNATURE_DATA = buildSignatures();

}  // namespace

// Copied out of the constexpr builders so the tables have plain array types.
#define KORVANE_COPY_SLOT(c, t)                                                                         \
  {ZOBRIST_DATA.v[c][t][0],  ZOBRIST_DATA.v[c][t][1],  ZOBRIST_DATA.v[c][t][2],  ZOBRIST_DATA.v[c][t][3],  \
   ZOBRIST_DATA.v[c][t][4],  ZOBRIST_DATA.v[c][t][5],  ZOBRIST_DATA.v[c][t][6],  ZOBRIST_DATA.v[c][t][7],  \
   ZOBRIST_DATA.v[c][t][8],  ZOBRIST_DATA.v[c][t][9],  ZOBRIST_DATA.v[c][t][10], ZOBRIST_DATA.v[c][t][11], \
   ZOBRIST_DATA.v[c][t][12], ZOBRIST_DATA.v[c][t][13], ZOBRIST_DATA.v[c][t][14], ZOBRIST_DATA.v[c][t][15], \
   ZOBRIST_DATA.v[c][t][16], ZOBRIST_DATA.v[c][t][17], ZOBRIST_DATA.v[c][t][18], ZOBRIST_DATA.v[c][t][19], \
   ZOBRIST_DATA.v[c][t][20], ZOBRIST_DATA.v[c][t][21], ZOBRIST_DATA.v[c][t][22], ZOBRIST_DATA.v[c][t][23], \
   ZOBRIST_DATA.v[c][t][24], ZOBRIST_DATA.v[c][t][25], ZOBRIST_DATA.v[c][t][26], ZOBRIST_DATA.v[c][t][27], \
   ZOBRIST_DATA.v[c][t][28], ZOBRIST_DATA.v[c][t][29], ZOBRIST_DATA.v[c][t][30], ZOBRIST_DATA.v[c][t][31], \
   ZOBRIST_DATA.v[c][t][32], ZOBRIST_DATA.v[c][t][33], ZOBRIST_DATA.v[c][t][34], ZOBRIST_DATA.v[c][t][35], \
   ZOBRIST_DATA.v[c][t][36], ZOBRIST_DATA.v[c][t][37], ZOBRIST_DATA.v[c][t][38], ZOBRIST_DATA.v[c][t][39], \
   ZOBRIST_DATA.v[c][t][40], ZOBRIST_DATA.v[c][t][41], ZOBRIST_DATA.v[c][t][42], ZOBRIST_DATA.v[c][t][43], \
   ZOBRIST_DATA.v[c][t][44], ZOBRIST_DATA.v[c][t][45], ZOBRIST_DATA.v[c][t][46], ZOBRIST_DATA.v[c][t][47], \
   ZOBRIST_DATA.v[c][t][48], ZOBRIST_DATA.v[c][t][49], ZOBRIST_DATA.v[c][t][50], ZOBRIST_DATA.v[c][t][51], \
   ZOBRIST_DATA.v[c][t][52], ZOBRIST_DATA.v[c][t][53], ZOBRIST_DATA.v[c][t][54], ZOBRIST_DATA.v[c][t][55], \
   ZOBRIST_DATA.v[c][t][56], ZOBRIST_DATA.v[c][t][57], ZOBRIST_DATA.v[c][t][58], ZOBRIST_DATA.v[c][t][59], \
   ZOBRIST_DATA.v[c][t][60], ZOBRIST_DATA.v[c][t][61], ZOBRIST_DATA.v[c][t][62], ZOBRIST_DATA.v[c][t][63]}
#define KORVANE_COPY_COLOUR(c)                                                                     \
  {KORVANE_COPY_SLOT(c, 0), KORVANE_COPY_SLOT(c, 1), KORVANE_COPY_SLOT(c, 2), KORVANE_COPY_SLOT(c, 3), \
   KORVANE_COPY_SLOT(c, 4), KORVANE_COPY_SLOT(c, 5), KORVANE_COPY_SLOT(c, 6)}
constexpr std::uint64_t ZOBRIST[2][7][64] = {KORVANE_COPY_COLOUR(0), KORVANE_COPY_COLOUR(1)};
#undef KORVANE_COPY_COLOUR
#undef KORVANE_COPY_SLOT

#define KORVANE_SIG_ROW(c, p)                                                                             \
  {SIGNATURE_DATA.keys[c][p][0], SIGNATURE_DATA.keys[c][p][1], SIGNATURE_DATA.keys[c][p][2],             \
   SIGNATURE_DATA.keys[c][p][3], SIGNATURE_DATA.keys[c][p][4], SIGNATURE_DATA.keys[c][p][5],             \
   SIGNATURE_DATA.keys[c][p][6], SIGNATURE_DATA.keys[c][p][7], SIGNATURE_DATA.keys[c][p][8],             \
   SIGNATURE_DATA.keys[c][p][9], SIGNATURE_DATA.keys[c][p][10]}
#define KORVANE_CUM_ROW(c, p)                                                                                   \
  {SIGNATURE_DATA.cumulative[c][p][0], SIGNATURE_DATA.cumulative[c][p][1], SIGNATURE_DATA.cumulative[c][p][2],  \
   SIGNATURE_DATA.cumulative[c][p][3], SIGNATURE_DATA.cumulative[c][p][4], SIGNATURE_DATA.cumulative[c][p][5],  \
   SIGNATURE_DATA.cumulative[c][p][6], SIGNATURE_DATA.cumulative[c][p][7], SIGNATURE_DATA.cumulative[c][p][8],  \
   SIGNATURE_DATA.cumulative[c][p][9], SIGNATURE_DATA.cumulative[c][p][10], SIGNATURE_DATA.cumulative[c][p][11]}
constexpr std::uint32_t SIGNATURE_KEYS[2][6][SIGNATURE_COUNTS] = {
    {{}, KORVANE_SIG_ROW(0, 1), KORVANE_SIG_ROW(0, 2), KORVANE_SIG_ROW(0, 3), KORVANE_SIG_ROW(0, 4), KORVANE_SIG_ROW(0, 5)},
    {{}, KORVANE_SIG_ROW(1, 1), KORVANE_SIG_ROW(1, 2), KORVANE_SIG_ROW(1, 3), KORVANE_SIG_ROW(1, 4), KORVANE_SIG_ROW(1, 5)}};
constexpr std::uint32_t SIGNATURE_CUMULATIVE[2][6][SIGNATURE_COUNTS + 1] = {
    {{}, KORVANE_CUM_ROW(0, 1), KORVANE_CUM_ROW(0, 2), KORVANE_CUM_ROW(0, 3), KORVANE_CUM_ROW(0, 4), KORVANE_CUM_ROW(0, 5)},
    {{}, KORVANE_CUM_ROW(1, 1), KORVANE_CUM_ROW(1, 2), KORVANE_CUM_ROW(1, 3), KORVANE_CUM_ROW(1, 4), KORVANE_CUM_ROW(1, 5)}};
#undef KORVANE_SIG_ROW
#undef KORVANE_CUM_ROW

// ---- construction and setup ------------------------------------------------------

namespace {

void setSideConstants(SideState& s, Color c) {
  const bool white = c == WHITE;
  s.backRank = white ? RANK_1 : RANK_8;
  s.queensideKingTarget = white ? 58 : 2;
  s.queensideRookTarget = white ? 59 : 3;
  s.kingsideRookTarget = white ? 61 : 5;
  s.kingsideKingTarget = white ? 62 : 6;
  s.pushDelta = white ? -8 : 8;
  s.castleMask = white ? 3 : 12;
  s.zobrist = ZOBRIST[c];
  s.signatureKeys = SIGNATURE_KEYS[c];
}

// Everything that follows from the piece bitboards, castling rights and
// geometry: counts are assumed written. Used by the start position.
void completeDerived(Position& pos) {
  for (auto& s : pos.side) {
    buildPieceLists(s);
    computeMaterialSum(s);
  }
  pos.occupied = pos.side[WHITE].pieceBB[0] | pos.side[BLACK].pieceBB[0];
  buildRotated(pos.rotated, pos.occupied);
  computeAttackMaps(pos.side[WHITE], pos.side[BLACK], pos.rotated, false);
  computeAttackMaps(pos.side[BLACK], pos.side[WHITE], pos.rotated, true);
  computePinned(pos.side[WHITE], pos.side[BLACK], pos.rotated);
  computePinned(pos.side[BLACK], pos.side[WHITE], pos.rotated);
  computeHashKeys(pos);
}

}  // namespace

Position::Position() {
  std::memset(static_cast<void*>(this), 0, sizeof(Position));
  setSideConstants(side[WHITE], WHITE);
  setSideConstants(side[BLACK], BLACK);
  setStartPosition(*this);
}

int Position::pieceOn(Square s) const {
  const Bitboard b = bit(s);
  if (!(occupied & b)) return NO_PIECE;
  const SideState& o = (side[WHITE].pieceBB[0] & b) ? side[WHITE] : side[BLACK];
  for (int t = PAWN; t < KING; ++t)
    if (o.pieceBB[t] & b) return t;
  return KING;
}

void setStartPosition(Position& pos) {
  constexpr Bitboard W_PAWNS = 0x00FF000000000000ULL, B_PAWNS = 0x000000000000FF00ULL;
  constexpr Bitboard W_BACK[7] = {0, 0, bit(57) | bit(62), bit(58) | bit(61), bit(56) | bit(63), bit(59), bit(60)};
  for (int c = 0; c < 2; ++c) {
    SideState& s = pos.side[c];
    s.pieceBB[PAWN] = c == WHITE ? W_PAWNS : B_PAWNS;
    for (int t = KNIGHT; t <= KING; ++t) s.pieceBB[t] = c == WHITE ? W_BACK[t] : W_BACK[t] >> 56;
    s.pieceBB[0] = 0;
    for (int t = PAWN; t <= KING; ++t) {
      s.pieceBB[0] |= s.pieceBB[t];
      s.count[t] = popCount(s.pieceBB[t]);
    }
    s.count[0] = 16;
    s.attackedByEnemy = s.attackedTwice = s.enemyPawnAttacks = s.pinned = 0;
  }
  pos.whiteToMove = 1;
  pos.chess960Castling = 0;
  pos.castlingByFiles = 0;
  pos.epSquare = NO_SQUARE;
  pos.lastMove = 0;
  pos.castling = 15;
  setCastlingGeometry(pos, FILE_H, FILE_A);
  completeDerived(pos);
}

void buildPieceLists(SideState& s) {
  for (int t = PAWN; t <= KING; ++t) {
    int n = 0;
    for (Bitboard b = s.pieceBB[t]; b && n < 10;) s.squares[t][n++] = popLowest(b);
    for (int i = n; i < 10; ++i) s.squares[t][i] = 0;
  }
}

void computeMaterialSum(SideState& s) {
  s.materialSum = 0;
  for (int t = PAWN; t < KING; ++t) s.materialSum += s.count[t] * PIECE_VALUE[t];
}

void computeHashKeys(Position& pos) {
  for (int c = 0; c < 2; ++c) {
    SideState& s = pos.side[c];
    s.signatureKeys = SIGNATURE_KEYS[c];
    s.materialSignature = 0;
    for (int t = PAWN; t < KING; ++t) {
      int n = s.count[t] < SIGNATURE_COUNTS ? s.count[t] : SIGNATURE_COUNTS;
      s.materialSignature ^= SIGNATURE_CUMULATIVE[c][t][n];
    }
  }
  std::uint64_t key = 0, pawnKey = 0;
  for (Square sq = 0; sq < 64; ++sq) {
    const Bitboard b = bit(sq);
    for (int c = 0; c < 2; ++c) {
      const SideState& s = pos.side[c];
      if (!(s.pieceBB[0] & b)) continue;
      int t = PAWN;
      while (t < KING && !(s.pieceBB[t] & b)) ++t;
      key ^= ZOBRIST[c][t][sq];
      if (t == PAWN) pawnKey ^= ZOBRIST[c][PAWN][sq];
      break;
    }
  }
  key ^= ZOBRIST[WHITE][0][pos.castling & 15];
  if (pos.whiteToMove) key ^= SIDE_KEY;
  if (pos.epSquare >= 0) key ^= ZOBRIST[WHITE][0][pos.epSquare];
  pos.key = key;
  pos.pawnKey = pawnKey;
}

void setCastlingGeometry(Position& pos, Bitboard kingsideFiles, Bitboard queensideFiles) {
  for (int c = 0; c < 2; ++c) {
    SideState& s = pos.side[c];
    const bool kingOnBackRank = (s.pieceBB[KING] & s.backRank) != 0;
    const int rights = kingOnBackRank ? pos.castling & s.castleMask : 0;
    const int kingsideRight = c == WHITE ? WHITE_OO : BLACK_OO;
    const Bitboard kFiles = (rights & kingsideRight) ? kingsideFiles : 0;
    const Bitboard qFiles = (rights & ~kingsideRight & s.castleMask) ? queensideFiles : 0;

    s.kingOrigin = s.pieceBB[KING];
    s.kingsideRookSquare = s.queensideRookSquare = NO_SQUARE;
    s.kingsideRook = s.queensideRook = 0;
    s.kingsideEmpty = s.queensideEmpty = s.kingsidePath = s.queensidePath = 0;
    if (!s.pieceBB[KING] || moreThanOne(s.pieceBB[KING])) continue;

    const Square king = lowestSquare(s.pieceBB[KING]);
    const int row = rowOf(king), kingFile = fileOf(king);
    const Bitboard rooks = s.pieceBB[ROOK];

    // King side: the outermost own rook on an allowed file wins.
    Bitboard between = 0;
    for (int f = kingFile; f < 7; ++f) {
      between |= bit(makeSquare(row, f));
      const Square sq = makeSquare(row, f + 1);
      if ((rooks & bit(sq)) && (kFiles & bit(sq))) {
        s.kingsideRookSquare = sq;
        s.kingsideEmpty = between;
      }
    }
    if (s.kingsideRookSquare >= 0) {
      Bitboard path = 0;
      if (kingFile <= 6)
        for (int f = kingFile; f <= 6; ++f) path |= bit(makeSquare(row, f));
      else
        path = bit(king);
      s.kingsidePath = path;
      s.kingsideEmpty |= path | bit(makeSquare(row, 5));
      s.kingsideEmpty &= ~(bit(king) | bit(s.kingsideRookSquare));
      s.kingsideRook = bit(s.kingsideRookSquare);
    }

    between = 0;
    for (int f = kingFile; f > 0; --f) {
      between |= bit(makeSquare(row, f));
      const Square sq = makeSquare(row, f - 1);
      if ((rooks & bit(sq)) && (qFiles & bit(sq))) {
        s.queensideRookSquare = sq;
        s.queensideEmpty = between;
      }
    }
    if (s.queensideRookSquare >= 0) {
      if (kingFile != 1) {
        Bitboard path = 0;
        const int lo = kingFile < 2 ? kingFile : 2, hi = kingFile < 2 ? 2 : kingFile;
        for (int f = lo; f <= hi; ++f) path |= bit(makeSquare(row, f));
        s.queensidePath = path;
        s.queensideEmpty |= path | bit(makeSquare(row, 3));
      } else {
        s.queensidePath = bit(makeSquare(row, 1)) | bit(makeSquare(row, 2));
        s.queensideEmpty |= s.queensidePath | bit(makeSquare(row, 3));
      }
      s.queensideEmpty &= ~(bit(king) | bit(s.queensideRookSquare));
      s.queensideRook = bit(s.queensideRookSquare);
    }
  }
}

bool finishSetup(Position& pos) {
  for (auto& s : pos.side) {
    s.count[0] = 0;
    for (int t = PAWN; t <= KING; ++t) {
      s.count[t] = popCount(s.pieceBB[t]);
      s.count[0] += s.count[t];
    }
    const int pawns = s.count[PAWN];
    if (s.count[KING] != 1 || pawns > 8 || s.count[QUEEN] + pawns > 9 || s.count[ROOK] + pawns > 10 ||
        s.count[BISHOP] + pawns > 10 || s.count[KNIGHT] + pawns > 10 || s.count[0] > 16)
      return false;
    if (s.pieceBB[PAWN] & (RANK_1 | RANK_8)) return false;
    buildPieceLists(s);
    s.pieceBB[0] = 0;
    for (int t = PAWN; t <= KING; ++t) s.pieceBB[0] |= s.pieceBB[t];
    if (popCount(s.pieceBB[0]) != s.count[0]) return false;
  }
  if (pos.side[WHITE].pieceBB[0] & pos.side[BLACK].pieceBB[0]) return false;
  pos.occupied = pos.side[WHITE].pieceBB[0] | pos.side[BLACK].pieceBB[0];

  // lastMove must fit the side that has just moved.
  const SideState& justMoved = pos.whiteToMove ? pos.side[BLACK] : pos.side[WHITE];
  const int n = popCount(pos.lastMove);
  if (n > 2) return false;
  if (n == 2 && popCount(pos.lastMove & justMoved.pieceBB[0]) != 1) return false;
  if (n == 1 && pos.lastMove != justMoved.pieceBB[KING]) return false;

  // Castling rights the pieces contradict are dropped silently.
  for (auto& s : pos.side) {
    if (s.pieceBB[KING] != s.kingOrigin) pos.castling &= ~s.castleMask;
    const int kingsideBit = s.castleMask & 5, queensideBit = s.castleMask & 10;
    if (!(s.kingsideRook & s.pieceBB[ROOK])) pos.castling &= ~kingsideBit;
    if (!(s.queensideRook & s.pieceBB[ROOK])) pos.castling &= ~queensideBit;
  }

  for (auto& s : pos.side) computeMaterialSum(s);
  buildRotated(pos.rotated, pos.occupied);
  computeAttackMaps(pos.side[WHITE], pos.side[BLACK], pos.rotated, false);
  computeAttackMaps(pos.side[BLACK], pos.side[WHITE], pos.rotated, true);
  const SideState& notToMove = pos.whiteToMove ? pos.side[BLACK] : pos.side[WHITE];
  if (notToMove.attackedByEnemy & notToMove.pieceBB[KING]) return false;
  computePinned(pos.side[WHITE], pos.side[BLACK], pos.rotated);
  computePinned(pos.side[BLACK], pos.side[WHITE], pos.rotated);
  computeHashKeys(pos);
  return true;
}

// ---- attack maps -------------------------------------------------------------------

void computeAttackMaps(SideState& victim, const SideState& attacker, const std::uint8_t* rot,
                       bool attackerIsWhite) {
  Bitboard attacked = STEPS.king[attacker.squares[KING][0]];
  Bitboard twice = 0;
  const Bitboard rookLike = attacker.pieceBB[ROOK] | attacker.pieceBB[QUEEN];
  const Bitboard bishopLike = attacker.pieceBB[BISHOP] | attacker.pieceBB[QUEEN];

  auto add = [&](Bitboard a) {
    twice |= attacked & a;
    attacked |= a;
  };
  // A line part that runs into an own slider of the same kind is a battery:
  // everything it reaches counts as attacked twice. The four lines through a
  // square meet only on that square, which no part contains, so the parts of
  // one piece never overlap and are added as one set.
  auto straight = [&](Square s) {
    const Bitboard r = rankAttacks(s, rot), f = fileAttacks(s, rot);
    if (r & rookLike) twice |= r & ~rookLike;
    if (f & rookLike) twice |= f & ~rookLike;
    return r | f;
  };
  auto diagonal = [&](Square s) {
    const Bitboard d = diagAttacks(s, rot), a = antiAttacks(s, rot);
    if (d & bishopLike) twice |= d & ~bishopLike;
    if (a & bishopLike) twice |= a & ~bishopLike;
    return d | a;
  };

  for (int i = attacker.count[QUEEN] - 1; i >= 0; --i) {
    const Square s = attacker.squares[QUEEN][i];
    add(straight(s) | diagonal(s));
  }
  for (int i = attacker.count[ROOK] - 1; i >= 0; --i) add(straight(attacker.squares[ROOK][i]));
  for (int i = attacker.count[BISHOP] - 1; i >= 0; --i) add(diagonal(attacker.squares[BISHOP][i]));
  for (int i = attacker.count[KNIGHT] - 1; i >= 0; --i) add(STEPS.knight[attacker.squares[KNIGHT][i]]);

  const Bitboard pawns = attacker.pieceBB[PAWN];
  const Bitboard west = attackerIsWhite ? shiftUpWest(pawns) : shiftDownWest(pawns);
  const Bitboard east = attackerIsWhite ? shiftUpEast(pawns) : shiftDownEast(pawns);
  add(west);
  add(east);

  victim.attackedByEnemy = attacked;
  victim.attackedTwice = twice;
  victim.enemyPawnAttacks = west | east;
}

void computePinned(SideState& own, const SideState& enemy, const std::uint8_t* rot) {
  own.pinned = 0;
  const Square k = own.squares[KING][0];
  const Bitboard rookLike = enemy.pieceBB[ROOK] | enemy.pieceBB[QUEEN];
  const Bitboard bishopLike = enemy.pieceBB[BISHOP] | enemy.pieceBB[QUEEN];
  Bitboard candidates = queenAttacks(k, rot) & own.pieceBB[0] &
                        ((own.attackedByEnemy & ~own.enemyPawnAttacks) | own.attackedTwice);
  while (candidates) {
    const Square s = popLowest(candidates);
    bool pinned;
    if (fileOf(s) == fileOf(k))
      pinned = fileAttacks(s, rot) & rookLike;
    else if (rowOf(s) + fileOf(s) == rowOf(k) + fileOf(k))
      pinned = diagAttacks(s, rot) & bishopLike;
    else if (rowOf(s) - fileOf(s) == rowOf(k) - fileOf(k))
      pinned = antiAttacks(s, rot) & bishopLike;
    else
      pinned = rankAttacks(s, rot) & rookLike;
    if (pinned) own.pinned |= bit(s);
  }
}

bool kingAttacked(const Position& pos, Color c) {
  const SideState& own = pos.side[c];
  const SideState& enemy = pos.side[~c];
  const Square k = own.squares[KING][0];
  const std::uint8_t* rot = pos.rotated;
  return (rookAttacks(k, rot) & (enemy.pieceBB[ROOK] | enemy.pieceBB[QUEEN])) ||
         (bishopAttacks(k, rot) & (enemy.pieceBB[BISHOP] | enemy.pieceBB[QUEEN])) ||
         (STEPS.knight[k] & enemy.pieceBB[KNIGHT]) ||
         (pawnAttacks(~c, enemy.pieceBB[PAWN]) & own.pieceBB[KING]) || (STEPS.king[k] & enemy.pieceBB[KING]);
}

// ---- make / unmake -------------------------------------------------------------------

namespace {

// The save stacks of a MoveUndo, filled through local counters so that the
// compiler can keep them in registers (stores through the saved addresses
// could otherwise alias the counters in memory). saveState leaves both at 0.
struct SaveStacks {
  MoveUndo& u;
  int n64 = 0;
  int n32 = 0;
  void save(Bitboard& v) {
    u.saved64Addr[n64] = &v;
    u.saved64Value[n64++] = v;
  }
  void save(std::int32_t& v) {
    u.saved32Addr[n32] = &v;
    u.saved32Value[n32++] = v;
  }
  ~SaveStacks() {
    u.saved64Count = n64;
    u.saved32Count = n32;
  }
};

inline int findSlot(const SideState& s, int type, Square sq) {
  int i = 0;
  while (s.squares[type][i] != sq) ++i;
  return i;
}

// Removes the piece of `type` on `sq` from the list, counts, signature and sum.
// Counts are saved by the caller; the two list slots touched are saved here.
inline void removeFromList(SaveStacks& st, SideState& s, int type, Square sq) {
  s.count[0] -= 1;
  const int slot = findSlot(s, type, sq);
  const int last = s.count[type] - 1;
  st.save(s.squares[type][slot]);
  st.save(s.squares[type][last]);
  s.squares[type][slot] = s.squares[type][last];
  s.count[type] = last;
  s.materialSignature ^= s.signatureKeys[type][last];
  s.materialSum -= PIECE_VALUE[type];
}

inline void addToList(SaveStacks& st, SideState& s, int type, Square sq) {
  s.count[0] += 1;
  const int n = s.count[type];
  st.save(s.squares[type][n]);
  s.squares[type][n] = sq;
  s.materialSignature ^= s.signatureKeys[type][n];
  s.count[type] = n + 1;
  s.materialSum += PIECE_VALUE[type];
}

// The part of a move shared by makeMove and makeMoveQuick: pieces, lists,
// keys, rotated occupancy, en passant and castling rights.
void makeCore(Position& pos, Move m, MoveUndo& u) {
  SaveStacks st{u};
  const Color us = pos.sideToMove(), them = ~us;
  SideState& mover = pos.side[us];
  SideState& enemy = pos.side[them];
  const Square from = m.from(), to = m.to();
  const int piece = m.piece();
  const Bitboard toBit = bit(to);
  const Bitboard ft = STEPS.fromTo[m.fromTo()];

  st.save(mover.pieceBB[piece]);
  st.save(mover.pieceBB[0]);
  pos.lastMove = ft;
  mover.pieceBB[piece] ^= ft;
  mover.pieceBB[0] ^= ft;

  setEmpty(pos.rotated, from);
  u.reoccupy[0] = from;

  pos.key ^= mover.zobrist[piece][from] ^ mover.zobrist[piece][to] ^ SIDE_KEY;
  pos.whiteToMove ^= 1;

  std::int32_t& slot = mover.squares[piece][findSlot(mover, piece, from)];
  st.save(slot);
  slot = to;

  int captured = NO_PIECE;
  if (enemy.pieceBB[0] & toBit) {
    captured = (enemy.pieceBB[PAWN] & toBit)     ? PAWN
               : (enemy.pieceBB[KNIGHT] & toBit) ? KNIGHT
               : (enemy.pieceBB[BISHOP] & toBit) ? BISHOP
               : (enemy.pieceBB[ROOK] & toBit)   ? ROOK
                                                 : QUEEN;
    st.save(enemy.pieceBB[captured]);
    st.save(enemy.pieceBB[0]);
    st.save(enemy.count[captured]);
    st.save(enemy.count[0]);
    enemy.pieceBB[captured] ^= toBit;
    enemy.pieceBB[0] ^= toBit;
    removeFromList(st, enemy, captured, to);
    pos.key ^= enemy.zobrist[captured][to];
    if (captured == PAWN) pos.pawnKey ^= enemy.zobrist[PAWN][to];
  } else {
    setOccupied(pos.rotated, to);
    u.vacate[0] = to;
  }
  u.captured = captured;

  if (pos.epSquare >= 0) {
    pos.key ^= ZOBRIST[WHITE][0][pos.epSquare];
    pos.epSquare = NO_SQUARE;
  }

  if (piece == PAWN) {
    pos.pawnKey ^= mover.zobrist[PAWN][from] ^ mover.zobrist[PAWN][to];
    const int promo = m.promotion();
    if (promo) {
      st.save(mover.pieceBB[promo]);
      st.save(mover.count[PAWN]);
      st.save(mover.count[promo]);
      mover.pieceBB[PAWN] ^= toBit;
      mover.pieceBB[promo] |= toBit;
      removeFromList(st, mover, PAWN, to);
      addToList(st, mover, promo, to);
      pos.key ^= mover.zobrist[PAWN][to] ^ mover.zobrist[promo][to];
      pos.pawnKey ^= mover.zobrist[PAWN][to];
    } else if (!captured) {
      const Bitboard skipped = shiftUp(ft) & shiftDown(ft);
      if (skipped) {
        if (skipped & mover.enemyPawnAttacks) {
          pos.epSquare = (from + to) / 2;
          pos.key ^= ZOBRIST[WHITE][0][pos.epSquare];
        }
      } else if ((from - to) & 1) {
        // En passant: the captured pawn stands behind the target square.
        const Square victim = to - mover.pushDelta;
        setEmpty(pos.rotated, victim);
        u.reoccupy[1] = victim;
        pos.key ^= enemy.zobrist[PAWN][victim];
        pos.pawnKey ^= enemy.zobrist[PAWN][victim];
        st.save(enemy.pieceBB[0]);
        st.save(enemy.pieceBB[PAWN]);
        st.save(enemy.count[0]);
        st.save(enemy.count[PAWN]);
        enemy.pieceBB[0] &= ~bit(victim);
        enemy.pieceBB[PAWN] &= ~bit(victim);
        removeFromList(st, enemy, PAWN, victim);
      }
    }
  } else if (piece == KING) {
    pos.key ^= ZOBRIST[WHITE][0][pos.castling];
    pos.castling &= ~mover.castleMask;
    pos.key ^= ZOBRIST[WHITE][0][pos.castling];
    if (mover.pieceBB[ROOK] & ft) {
      const bool kingside = to == mover.kingsideRookSquare;
      const Square kingTarget = kingside ? mover.kingsideKingTarget : mover.queensideKingTarget;
      const Square rookTarget = kingside ? mover.kingsideRookTarget : mover.queensideRookTarget;
      st.save(mover.pieceBB[ROOK]);
      mover.pieceBB[ROOK] ^= toBit;
      mover.pieceBB[ROOK] |= bit(rookTarget);
      mover.pieceBB[KING] = bit(kingTarget);
      mover.pieceBB[0] |= bit(kingTarget) | bit(rookTarget);
      pos.lastMove = bit(kingTarget);
      slot = kingTarget;
      std::int32_t& rookSlot = mover.squares[ROOK][findSlot(mover, ROOK, to)];
      st.save(rookSlot);
      rookSlot = rookTarget;
      setEmpty(pos.rotated, to);
      setOccupied(pos.rotated, rookTarget);
      setOccupied(pos.rotated, kingTarget);
      pos.key ^= mover.zobrist[ROOK][to] ^ mover.zobrist[ROOK][rookTarget] ^ mover.zobrist[KING][to] ^
                 mover.zobrist[KING][kingTarget];
      // Squares to restore on unmake; origins and targets may coincide.
      u.reoccupy[0] = u.reoccupy[1] = u.vacate[0] = u.vacate[1] = NO_SQUARE;
      int r = 0, v = 0;
      if (from != rookTarget && from != kingTarget) u.reoccupy[r++] = from;
      if (to != rookTarget && to != kingTarget) u.reoccupy[r++] = to;
      if (rookTarget != from && rookTarget != to) u.vacate[v++] = rookTarget;
      if (kingTarget != from && kingTarget != to) u.vacate[v++] = kingTarget;
    }
  }

  pos.occupied = pos.side[WHITE].pieceBB[0] | pos.side[BLACK].pieceBB[0];

  // Castling rights are lost when a castling rook leaves its square or is
  // taken; only a move touching one of those squares can do that.
  const SideState& w = pos.side[WHITE];
  const SideState& b = pos.side[BLACK];
  if (pos.castling && (ft & (w.kingsideRook | w.queensideRook | b.kingsideRook | b.queensideRook))) {
    pos.key ^= ZOBRIST[WHITE][0][pos.castling];
    if (!(w.queensideRook & w.pieceBB[ROOK])) pos.castling &= ~WHITE_OOO;
    if (!(w.kingsideRook & w.pieceBB[ROOK])) pos.castling &= ~WHITE_OO;
    if (!(b.queensideRook & b.pieceBB[ROOK])) pos.castling &= ~BLACK_OOO;
    if (!(b.kingsideRook & b.pieceBB[ROOK])) pos.castling &= ~BLACK_OO;
    pos.key ^= ZOBRIST[WHITE][0][pos.castling];
  }
}

}  // namespace

MoveUndo& saveState(MoveUndo& u, Position& pos) {
  const SideState& w = pos.side[WHITE];
  const SideState& b = pos.side[BLACK];
  u.whiteMaps[0] = w.attackedByEnemy;
  u.whiteMaps[1] = w.attackedTwice;
  u.whiteMaps[2] = w.enemyPawnAttacks;
  u.whiteMaps[3] = w.pinned;
  u.whiteSignature = w.materialSignature;
  u.whiteMaterial = w.materialSum;
  u.blackMaps[0] = b.attackedByEnemy;
  u.blackMaps[1] = b.attackedTwice;
  u.blackMaps[2] = b.enemyPawnAttacks;
  u.blackMaps[3] = b.pinned;
  u.blackSignature = b.materialSignature;
  u.blackMaterial = b.materialSum;
  u.lastMove = pos.lastMove;
  u.occupied = pos.occupied;
  u.key = pos.key;
  u.pawnKey = pos.pawnKey;
  u.epSquare = pos.epSquare;
  u.castling = pos.castling;
  u.whiteToMove = pos.whiteToMove;
  u.captured = 0;
  u.reoccupy[0] = u.reoccupy[1] = u.vacate[0] = u.vacate[1] = NO_SQUARE;
  u.position = &pos;
  u.saved64Count = 0;
  u.saved32Count = 0;
  return u;
}

bool makeMove(Position& pos, Move m, MoveUndo& u) {
  makeCore(pos, m, u);
  return completeMove(pos, u);
}

void makeMoveCore(Position& pos, Move m, MoveUndo& u) { makeCore(pos, m, u); }

bool completeMove(Position& pos, MoveUndo& u) {
  // The side now to move attacks the mover.
  const bool moverWhite = !pos.whiteToMove;
  SideState& mover = pos.side[moverWhite ? WHITE : BLACK];
  SideState& enemy = pos.side[moverWhite ? BLACK : WHITE];
  computeAttackMaps(mover, enemy, pos.rotated, !moverWhite);
  if (mover.attackedByEnemy & mover.pieceBB[KING]) {
    unmakeMove(u);
    return false;
  }
  computeAttackMaps(enemy, mover, pos.rotated, moverWhite);
  computePinned(pos.side[WHITE], pos.side[BLACK], pos.rotated);
  computePinned(pos.side[BLACK], pos.side[WHITE], pos.rotated);
  return true;
}

bool makeMoveForReplies(Position& pos, Move m, MoveUndo& u) {
  const bool needsTest = needsLegalityTest(pos, m);
  makeCore(pos, m, u);
  const bool moverWhite = !pos.whiteToMove;
  if (needsTest && kingAttacked(pos, moverWhite ? WHITE : BLACK)) {
    unmakeMove(u);
    return false;
  }
  SideState& mover = pos.side[moverWhite ? WHITE : BLACK];
  SideState& enemy = pos.side[moverWhite ? BLACK : WHITE];
  computeAttackMaps(enemy, mover, pos.rotated, moverWhite);
  computePinned(enemy, mover, pos.rotated);
  return true;
}

bool makeMoveQuick(Position& pos, Move m, MoveUndo& u) {
  // Every caller has current attack maps before the move, so the direct test
  // is only needed where they cannot settle it.
  const bool needsTest = needsLegalityTest(pos, m);
  makeCore(pos, m, u);
  if (needsTest && kingAttacked(pos, pos.whiteToMove ? BLACK : WHITE)) {
    unmakeMove(u);
    return false;
  }
  return true;
}

void unmakeMove(MoveUndo& u) {
  Position& pos = *u.position;
  SideState& w = pos.side[WHITE];
  SideState& b = pos.side[BLACK];
  w.attackedByEnemy = u.whiteMaps[0];
  w.attackedTwice = u.whiteMaps[1];
  w.enemyPawnAttacks = u.whiteMaps[2];
  w.pinned = u.whiteMaps[3];
  w.materialSignature = u.whiteSignature;
  w.materialSum = u.whiteMaterial;
  b.attackedByEnemy = u.blackMaps[0];
  b.attackedTwice = u.blackMaps[1];
  b.enemyPawnAttacks = u.blackMaps[2];
  b.pinned = u.blackMaps[3];
  b.materialSignature = u.blackSignature;
  b.materialSum = u.blackMaterial;
  pos.lastMove = u.lastMove;
  pos.occupied = u.occupied;
  pos.key = u.key;
  pos.pawnKey = u.pawnKey;
  pos.epSquare = u.epSquare;
  pos.castling = u.castling;
  pos.whiteToMove = u.whiteToMove;
  for (int i = u.saved64Count - 1; i >= 0; --i) *u.saved64Addr[i] = u.saved64Value[i];
  u.saved64Count = 0;
  for (int i = u.saved32Count - 1; i >= 0; --i) *u.saved32Addr[i] = u.saved32Value[i];
  u.saved32Count = 0;
  for (int i = 0; i < 2 && u.reoccupy[i] >= 0; ++i) {
    setOccupied(pos.rotated, u.reoccupy[i]);
    u.reoccupy[i] = NO_SQUARE;
  }
  for (int i = 0; i < 2 && u.vacate[i] >= 0; ++i) {
    setEmpty(pos.rotated, u.vacate[i]);
    u.vacate[i] = NO_SQUARE;
  }
}

// ---- records ---------------------------------------------------------------------------

PositionRecord makeRecord(const Position& pos) {
  const SideState& w = pos.side[WHITE];
  const SideState& b = pos.side[BLACK];
  auto both = [&](int t) { return w.pieceBB[t] | b.pieceBB[t]; };
  PositionRecord r;
  r.whitePawns = w.pieceBB[PAWN];
  r.blackPawns = b.pieceBB[PAWN];
  r.kingsRooksKnights = both(KING) | both(ROOK) | both(KNIGHT);
  r.queensRooks = both(QUEEN) | both(ROOK);
  r.bishopsKnights = both(BISHOP) | both(KNIGHT);
  r.whitePieces = pos.whiteToMove ? ~w.pieceBB[0] : w.pieceBB[0];
  r.castlingAndEp = std::uint16_t(pos.castling | (pos.epSquare >= 0 ? pos.epSquare : 0));
  return r;
}

bool isIrreversible(const PositionRecord& earlier, const Position& pos) {
  if (earlier.whitePawns != pos.side[WHITE].pieceBB[PAWN] || earlier.blackPawns != pos.side[BLACK].pieceBB[PAWN])
    return true;
  const Bitboard pieces = earlier.whitePawns | earlier.blackPawns | earlier.kingsRooksKnights |
                          earlier.queensRooks | earlier.bishopsKnights;
  return popCount(pieces) != popCount(pos.occupied);
}

// ---- consistency check -----------------------------------------------------------------

bool isConsistent(const Position& pos) {
  Position fresh = pos;  // recompute everything derivable into a copy
  Bitboard all = 0;
  for (int c = 0; c < 2; ++c) {
    const SideState& s = pos.side[c];
    Bitboard own = 0;
    int total = 0;
    for (int t = PAWN; t <= KING; ++t) {
      own |= s.pieceBB[t];
      if (s.count[t] != popCount(s.pieceBB[t])) return false;
      total += s.count[t];
      Bitboard listed = 0;
      for (int i = 0; i < s.count[t]; ++i) listed |= bit(s.squares[t][i]);
      if (listed != s.pieceBB[t]) return false;
    }
    if (own != s.pieceBB[0] || total != s.count[0]) return false;
    all |= own;
  }
  if (all != pos.occupied) return false;
  std::uint8_t rot[ROTATED_SIZE];
  buildRotated(rot, pos.occupied);
  if (std::memcmp(rot, pos.rotated, ROTATED_SIZE) != 0) return false;
  computeHashKeys(fresh);
  if (fresh.key != pos.key || fresh.pawnKey != pos.pawnKey) return false;
  for (int c = 0; c < 2; ++c) {
    if (fresh.side[c].materialSignature != pos.side[c].materialSignature) return false;
    computeMaterialSum(fresh.side[c]);
    if (fresh.side[c].materialSum != pos.side[c].materialSum) return false;
  }
  computeAttackMaps(fresh.side[WHITE], fresh.side[BLACK], fresh.rotated, false);
  computeAttackMaps(fresh.side[BLACK], fresh.side[WHITE], fresh.rotated, true);
  computePinned(fresh.side[WHITE], fresh.side[BLACK], fresh.rotated);
  computePinned(fresh.side[BLACK], fresh.side[WHITE], fresh.rotated);
  for (int c = 0; c < 2; ++c) {
    const SideState &a = fresh.side[c], &b = pos.side[c];
    if (a.attackedByEnemy != b.attackedByEnemy || a.enemyPawnAttacks != b.enemyPawnAttacks ||
        a.attackedTwice != b.attackedTwice || a.pinned != b.pinned)
      return false;
  }
  return true;
}

bool samePosition(const Position& a, const Position& b) {
  // Compare field by field so that padding bytes do not matter.
  auto sameSide = [](const SideState& x, const SideState& y) {
    return std::memcmp(x.pieceBB, y.pieceBB, sizeof x.pieceBB) == 0 &&
           std::memcmp(x.count, y.count, sizeof x.count) == 0 &&
           std::memcmp(x.squares, y.squares, sizeof x.squares) == 0 && x.attackedByEnemy == y.attackedByEnemy &&
           x.attackedTwice == y.attackedTwice && x.enemyPawnAttacks == y.enemyPawnAttacks &&
           x.pinned == y.pinned && x.materialSum == y.materialSum &&
           x.materialSignature == y.materialSignature && x.signatureKeys == y.signatureKeys &&
           x.kingsideRookSquare == y.kingsideRookSquare && x.queensideRookSquare == y.queensideRookSquare &&
           x.kingsideRook == y.kingsideRook && x.queensideRook == y.queensideRook &&
           x.kingsideEmpty == y.kingsideEmpty && x.queensideEmpty == y.queensideEmpty &&
           x.kingsidePath == y.kingsidePath && x.queensidePath == y.queensidePath &&
           x.kingOrigin == y.kingOrigin && x.backRank == y.backRank && x.pushDelta == y.pushDelta &&
           x.castleMask == y.castleMask && x.zobrist == y.zobrist;
  };
  return sameSide(a.side[WHITE], b.side[WHITE]) && sameSide(a.side[BLACK], b.side[BLACK]) &&
         a.occupied == b.occupied && a.lastMove == b.lastMove && a.key == b.key && a.pawnKey == b.pawnKey &&
         a.epSquare == b.epSquare && a.castling == b.castling && a.whiteToMove == b.whiteToMove &&
         a.chess960Castling == b.chess960Castling && a.castlingByFiles == b.castlingByFiles &&
         std::memcmp(a.rotated, b.rotated, ROTATED_SIZE) == 0;
}

}  // namespace korvane
