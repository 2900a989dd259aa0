// The board state, the per-ply undo record and the operations that change a
// position.
//
// A Position holds one SideState per colour (bitboards, counts, piece lists,
// the attack maps the enemy casts on this side, pins, material) plus the
// shared occupancy, hash keys, en-passant square, castling rights and the
// rotated occupancy used for slider lookups. It keeps no move counters and no
// history: callers keep those.
//
// Invariants after every setup and after every makeMove/unmakeMove:
//   - pieceBB[0] of a side is the union of its six type bitboards, occupied is
//     the union of both sides, the rotated occupancy matches occupied;
//   - count[t] is the population of pieceBB[t] and squares[t] lists exactly
//     those squares (in no particular order);
//   - key and pawnKey equal a recomputation from scratch;
//   - after makeMove and finishSetup the attack maps and pins of both sides are
//     current. makeMoveQuick leaves them stale until the matching unmake.
//
// Making a move: saveState(undo, pos), then makeMove(pos, move, undo). When it
// answers false the move left the mover's king attacked and has already been
// taken back; otherwise unmakeMove(undo) restores the position bit for bit.
// A MoveUndo points into the Position it was saved from, so a Position must
// not be copied or moved while a move made on it is outstanding.
#pragma once

#include <cstdint>

#include "board/tables.h"
#include "board/types.h"

namespace korvane {

constexpr int PIECE_VALUE[7] = {0, 1000, 3219, 3254, 4969, 9436, 0};
constexpr std::uint64_t SIDE_KEY = 0x69A5;  // XOR-ed into the key when White is to move

// Castling bits of Position::castling.
constexpr int WHITE_OO = 1, WHITE_OOO = 2, BLACK_OO = 4, BLACK_OOO = 8;

// Zobrist keys [colour][slot][square]. Slot t >= 1: piece type t on the square.
// White's slot 0 holds the castling keys (index = castling value 0..15) and the
// en-passant keys (index = en-passant square); Black's slot 0 is unused.
extern const std::uint64_t ZOBRIST[2][7][64];

// Material signature keys [colour][type 1..5][count before adding]. The
// signature of a side is the XOR of SIGNATURE_CUMULATIVE[c][t][count[t]].
constexpr int SIGNATURE_COUNTS = 11;
extern const std::uint32_t SIGNATURE_KEYS[2][6][SIGNATURE_COUNTS];
extern const std::uint32_t SIGNATURE_CUMULATIVE[2][6][SIGNATURE_COUNTS + 1];

struct SideState {
  Bitboard pieceBB[7];      // [0] all pieces of this colour, [t] pieces of type t
  std::int32_t count[7];    // [0] all, [t] of type t
  std::int32_t squares[7][10];  // square list per type, count[t] entries valid
  Bitboard attackedByEnemy;     // squares the enemy attacks
  Bitboard attackedTwice;       // squares the enemy attacks at least twice (with batteries)
  Bitboard enemyPawnAttacks;    // squares enemy pawns attack
  Bitboard pinned;              // own pieces pinned against the own king
  std::int32_t materialSum;
  std::uint32_t materialSignature;
  const std::uint32_t (*signatureKeys)[SIGNATURE_COUNTS];
  // Castling geometry, computed at every setup.
  std::int32_t kingsideRookSquare;
  std::int32_t queensideRookSquare;
  Bitboard kingsideRook;
  Bitboard queensideRook;
  Bitboard kingsideEmpty;   // must be empty for O-O
  Bitboard queensideEmpty;  // must be empty for O-O-O
  Bitboard kingsidePath;    // must not be attacked for O-O
  Bitboard queensidePath;
  Bitboard kingOrigin;
  // Constants per colour.
  Bitboard backRank;
  std::int32_t queensideKingTarget;
  std::int32_t queensideRookTarget;
  std::int32_t kingsideRookTarget;
  std::int32_t kingsideKingTarget;
  std::int32_t pushDelta;
  std::uint16_t castleMask;
  const std::uint64_t (*zobrist)[64];

  Square kingSquare() const { return squares[KING][0]; }
};

struct Position {
  SideState side[2];
  Bitboard occupied;
  Bitboard lastMove;  // from and to of the last move; after castling the king's target only
  std::uint64_t key;
  std::uint64_t pawnKey;
  std::int32_t epSquare;
  std::uint16_t castling;
  std::uint8_t whiteToMove;
  std::uint8_t chess960Castling;  // write castling as O-O / O-O-O in coordinate text
  std::uint8_t castlingByFiles;   // write castling as king takes rook in coordinate text
  std::uint8_t rotated[ROTATED_SIZE];

  Position();  // the standard start position

  Color sideToMove() const { return whiteToMove ? WHITE : BLACK; }
  SideState& mover() { return side[whiteToMove ? WHITE : BLACK]; }
  const SideState& mover() const { return side[whiteToMove ? WHITE : BLACK]; }
  SideState& enemy() { return side[whiteToMove ? BLACK : WHITE]; }
  const SideState& enemy() const { return side[whiteToMove ? BLACK : WHITE]; }
  bool inCheck() const { return (mover().attackedByEnemy & mover().pieceBB[KING]) != 0; }
  // Type of the piece on `s` (either colour), 0 if the square is empty.
  int pieceOn(Square s) const;
  // Colour of the piece on `s`; only meaningful for an occupied square.
  Color colorOn(Square s) const { return (side[WHITE].pieceBB[0] & bit(s)) ? WHITE : BLACK; }
};

struct MoveUndo {
  Bitboard whiteMaps[4];  // attackedByEnemy, attackedTwice, enemyPawnAttacks, pinned
  std::uint32_t whiteSignature;
  std::int32_t whiteMaterial;
  Bitboard blackMaps[4];
  std::uint32_t blackSignature;
  std::int32_t blackMaterial;
  Bitboard lastMove, occupied, key, pawnKey;
  std::int32_t epSquare;
  std::uint16_t castling;
  std::uint8_t whiteToMove;
  std::int32_t captured;  // piece type taken by the move, 0 none
  std::int32_t reoccupy[2];  // squares to mark occupied again on unmake, -1 none
  std::int32_t vacate[2];    // squares to mark empty again on unmake, -1 none
  Position* position;
  std::int32_t saved64Count = 0;
  Bitboard* saved64Addr[5];
  Bitboard saved64Value[5];
  std::int32_t saved32Count = 0;
  std::int32_t* saved32Addr[10];
  std::int32_t saved32Value[10];
};

// Exact description of a position for repetition tests.
struct PositionRecord {
  Bitboard whitePawns;
  Bitboard blackPawns;
  Bitboard kingsRooksKnights;
  Bitboard queensRooks;
  Bitboard bishopsKnights;
  Bitboard whitePieces;  // complemented when White is to move
  std::uint16_t castlingAndEp;
  bool operator==(const PositionRecord&) const = default;
};

void setStartPosition(Position& pos);
// Completes and validates a position whose piece bitboards, side to move,
// castling rights and geometry, en-passant square and lastMove are written.
// False means the position is illegal; the Position is then unusable.
bool finishSetup(Position& pos);
void setCastlingGeometry(Position& pos, Bitboard kingsideFiles, Bitboard queensideFiles);
void buildPieceLists(SideState& s);
void computeMaterialSum(SideState& s);
void computeHashKeys(Position& pos);
void computeAttackMaps(SideState& victim, const SideState& attacker, const std::uint8_t* rot,
                       bool attackerIsWhite);
void computePinned(SideState& own, const SideState& enemy, const std::uint8_t* rot);
bool kingAttacked(const Position& pos, Color c);

MoveUndo& saveState(MoveUndo& undo, Position& pos);
bool makeMove(Position& pos, Move m, MoveUndo& undo);
// makeMove in two halves, for callers that want to start work depending only
// on the new key (such as loading its table slot) while the attack maps are
// computed: makeMoveCore moves the pieces and updates lists, keys and rights;
// completeMove, called right after it, computes maps and pins and answers
// what makeMove answers (false: the move has been taken back).
void makeMoveCore(Position& pos, Move m, MoveUndo& undo);
bool completeMove(Position& pos, MoveUndo& undo);
bool makeMoveQuick(Position& pos, Move m, MoveUndo& undo);
// makeMove for a look at the replies only: the side now to move gets its
// attack maps and pins (all that generating and testing its moves reads),
// while those of the side that moved stay stale until the matching unmake.
bool makeMoveForReplies(Position& pos, Move m, MoveUndo& undo);
void unmakeMove(MoveUndo& undo);

// Whether a pseudo-legal move of the side to move may leave its own king
// attacked, so that only a test after making it can tell. With current attack
// maps and pins, a move of an unpinned piece other than the king, made while
// not in check and not capturing en passant, never can.
inline bool needsLegalityTest(const Position& pos, Move m) {
  const SideState& mover = pos.mover();
  return m.piece() == KING || (mover.pinned & bit(m.from())) || (mover.attackedByEnemy & mover.pieceBB[KING]) ||
         (m.piece() == PAWN && m.to() == pos.epSquare);
}

PositionRecord makeRecord(const Position& pos);
inline bool sameRecord(const PositionRecord& a, const PositionRecord& b) { return a == b; }
bool isIrreversible(const PositionRecord& earlier, const Position& pos);

// Recomputes everything derivable from the piece bitboards and compares it
// with what the position holds. For tests and debug checks.
bool isConsistent(const Position& pos);
// Field-by-field equality of two positions (pointers included).
bool samePosition(const Position& a, const Position& b);

}  // namespace korvane
