// Basic value types of the board: squares, bitboards, piece types, moves.
//
// Squares are numbered from a8: a8 = 0, h8 = 7, a1 = 56, h1 = 63, so
// square = 8 * row + file with row 0 = rank 8. Bit s of a bitboard is square s.
// White pawns move towards lower square numbers.
#pragma once

#include <cstdint>

namespace korvane {

using Bitboard = std::uint64_t;
using Square = int;  // 0..63, -1 = no square

constexpr Square NO_SQUARE = -1;

enum Color : int { WHITE = 0, BLACK = 1 };
constexpr Color operator~(Color c) { return Color(c ^ 1); }

// Piece types. Colour is never part of the type; index 0 stands for "all
// pieces" in per-type arrays and for "none" in moves.
enum PieceType : int { NO_PIECE = 0, PAWN = 1, KNIGHT = 2, BISHOP = 3, ROOK = 4, QUEEN = 5, KING = 6 };

constexpr int rowOf(Square s) { return s >> 3; }
constexpr int fileOf(Square s) { return s & 7; }
constexpr Square makeSquare(int row, int file) { return row * 8 + file; }
constexpr Bitboard bit(Square s) { return Bitboard(1) << s; }

constexpr Bitboard FILE_A = 0x0101010101010101ULL;
constexpr Bitboard FILE_H = 0x8080808080808080ULL;
constexpr Bitboard RANK_8 = 0xFFULL;
constexpr Bitboard RANK_1 = 0xFF00000000000000ULL;
constexpr Bitboard LIGHT_SQUARES = 0xAA55AA55AA55AA55ULL;  // as seen by the draw rules (a8 = bit 0)
constexpr Bitboard DARK_SQUARES = 0x55AA55AA55AA55AAULL;

// A move is one 32-bit word:
//   bits  0- 5  from square
//   bits  6-11  to square (for castling: the square of the own castling rook)
//   bits 12-15  zero
//   bits 16-23  type of the moving piece
//   bits 24-31  promotion piece type, 0 if none
// There are no capture, castling or en-passant flags: a king moving onto an
// own rook castles, a pawn changing file onto an empty square captures en
// passant. The word 0 is "no move".
class Move {
 public:
  constexpr Move() = default;
  constexpr explicit Move(std::uint32_t raw) : raw_(raw) {}
  constexpr Move(Square from, Square to, int piece, int promotion = 0)
      : raw_(std::uint32_t(from) | std::uint32_t(to) << 6 | std::uint32_t(piece) << 16 |
             std::uint32_t(promotion) << 24) {}

  constexpr Square from() const { return Square(raw_ & 63); }
  constexpr Square to() const { return Square((raw_ >> 6) & 63); }
  constexpr int fromTo() const { return int(raw_ & 0xFFF); }  // index of the per-move tables
  constexpr int piece() const { return int((raw_ >> 16) & 0xFF); }
  constexpr int promotion() const { return int(raw_ >> 24); }
  constexpr std::uint32_t raw() const { return raw_; }
  constexpr bool isNone() const { return raw_ == 0; }
  constexpr explicit operator bool() const { return raw_ != 0; }
  constexpr bool operator==(const Move&) const = default;

 private:
  std::uint32_t raw_ = 0;
};

// One entry of a move list: the move and its ordering score.
struct MoveEntry {
  Move move;
  std::int32_t score;
};
static_assert(sizeof(MoveEntry) == 8);

// Scores are millipawns (pawn = 1000). A side mated at ply p scores p - MATE.
constexpr int MATE = 999999;
constexpr int MATE_BOUND = 900000;

}  // namespace korvane
