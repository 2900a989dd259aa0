// FEN reading and writing, Chess960 start arrays, and moves as text.
//
// Everything here reads text that may come straight from a GUI or a file, so
// every reader stops at the first character it does not expect (the NUL
// terminator included) and writes only to squares it has range-checked.

#include "board/notation.h"

#include <cstddef>

#include "board/move_picker.h"
#include "board/tables.h"

namespace korvane {

namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

const char* skipSpace(const char* p) {
  while (isSpace(*p)) ++p;
  return p;
}

constexpr Bitboard fileMask(int file) { return FILE_A << file; }
constexpr Bitboard rowMask(int row) { return RANK_8 << (8 * row); }

constexpr Bitboard ALL_SQUARES = ~Bitboard(0);

// 0..7 for a file letter of either case, -1 otherwise.
int fileOfLetter(char c) {
  if (c >= 'a' && c <= 'h') return c - 'a';
  if (c >= 'A' && c <= 'H') return c - 'A';
  return -1;
}

// Square named by a lower-case file letter and a rank digit, -1 otherwise.
// Move text never uses upper-case files.
Square squareOfMoveText(char file, char rank) {
  if (file < 'a' || file > 'h' || rank < '1' || rank > '8') return NO_SQUARE;
  return makeSquare('8' - rank, file - 'a');
}

// FEN piece letter -> type and colour. False for anything else.
bool fenPiece(char c, int& type, Color& color) {
  static constexpr char WHITE_LETTERS[] = "PNBRQK";
  static constexpr char BLACK_LETTERS[] = "pnbrqk";
  for (int t = 0; t < 6; ++t) {
    if (c == WHITE_LETTERS[t]) {
      type = t + 1;
      color = WHITE;
      return true;
    }
    if (c == BLACK_LETTERS[t]) {
      type = t + 1;
      color = BLACK;
      return true;
    }
  }
  return false;
}

int kingsideRight(Color c) { return c == WHITE ? WHITE_OO : BLACK_OO; }
int queensideRight(Color c) { return c == WHITE ? WHITE_OOO : BLACK_OOO; }

// With both king-side (or both queen-side) rights given as plain K/k (Q/q),
// the wing's rook is taken from the file on which both colours have a rook:
// that is the castling file of an untouched Chess960 array. Files beyond the
// king are kept only if they hold two rooks or more. When no such file exists
// (a right claimed for a rook that is gone) the mask is left as it was, so each
// side still finds its own outermost rook and the bogus right drops out later.
Bitboard sharedRookFiles(Bitboard mask, Bitboard rooks, int kingFile, bool kingside) {
  Bitboard narrowed = mask;
  for (int f = 0; f < 8; ++f) {
    bool beyondKing = kingside ? f > kingFile : f < kingFile;
    if (!beyondKing || popCount(rooks & fileMask(f)) <= 1) narrowed &= ~fileMask(f);
  }
  return narrowed ? narrowed : mask;
}

// True when a side's granted rights use anything but the classical geometry
// (king on e1/e8, rooks on a- and h-file corners).
bool nonStandardCastling(const Position& pos, Color c) {
  const SideState& s = pos.side[c];
  bool oo = pos.castling & kingsideRight(c);
  bool ooo = pos.castling & queensideRight(c);
  if (!oo && !ooo) return false;
  Square home = c == WHITE ? 60 : 4;
  if (s.pieceBB[KING] != bit(home)) return true;
  if (oo && s.kingsideRookSquare != (c == WHITE ? 63 : 7)) return true;
  if (ooo && s.queensideRookSquare != (c == WHITE ? 56 : 0)) return true;
  return false;
}

// Parses into `pos`; on failure `pos` is left half written.
const char* readFen(Position& pos, const char* p) {
  for (SideState& s : pos.side) {
    for (Bitboard& b : s.pieceBB) b = 0;
    s.attackedByEnemy = s.attackedTwice = s.enemyPawnAttacks = s.pinned = 0;
  }
  pos.occupied = 0;
  pos.lastMove = 0;
  pos.castling = 0;
  pos.whiteToMove = 0;
  pos.epSquare = NO_SQUARE;
  pos.castlingByFiles = 0;
  pos.chess960Castling = 0;

  // Board: ranks 8 to 1, each from the a-file.
  p = skipSpace(p);
  int row = 0, file = 0;
  while (!isSpace(*p)) {
    char c = *p++;
    int type;
    Color color;
    if (c >= '1' && c <= '8') {
      file += c - '0';
      if (file > 8) return nullptr;
    } else if (c == '/') {
      // A rank must be complete before the next one starts, and there is no
      // ninth rank to move on to.
      if (file != 8 || row == 7) return nullptr;
      ++row;
      file = 0;
    } else if (fenPiece(c, type, color)) {
      if (file > 7) return nullptr;
      pos.side[color].pieceBB[type] |= bit(makeSquare(row, file));
      ++file;
    } else {
      return nullptr;  // also the end of the text
    }
  }
  const Bitboard whiteKing = pos.side[WHITE].pieceBB[KING];
  const Bitboard blackKing = pos.side[BLACK].pieceBB[KING];
  // Finishing the setup would reject this too; checking now lets the castling
  // code below rely on one king per side.
  if (!exactlyOne(whiteKing) || !exactlyOne(blackKing)) return nullptr;

  // Side to move.
  p = skipSpace(p);
  if (*p == 'w' || *p == 'W') {
    pos.whiteToMove = 1;
  } else if (*p != 'b' && *p != 'B') {
    return nullptr;
  }
  p = skipSpace(p + 1);

  // Castling: K/Q/k/q, optionally followed by the rook's file, or bare rook
  // files (Shredder style, upper case for White).
  Bitboard kingsideFiles = ALL_SQUARES, queensideFiles = ALL_SQUARES;
  if (*p == '-') {
    ++p;
  } else {
    char prev = 0;
    while (!isSpace(*p)) {
      char c = *p++;
      switch (c) {
        case 'K': pos.castling |= WHITE_OO; pos.castlingByFiles = 0; break;
        case 'Q': pos.castling |= WHITE_OOO; pos.castlingByFiles = 0; break;
        case 'k': pos.castling |= BLACK_OO; pos.castlingByFiles = 0; break;
        case 'q': pos.castling |= BLACK_OOO; pos.castlingByFiles = 0; break;
        default: {
          int f = fileOfLetter(c);
          if (f < 0) return nullptr;  // also the end of the text
          if (prev == 'K' || prev == 'k') {
            kingsideFiles = fileMask(f);
            pos.castlingByFiles = 0;
          } else if (prev == 'Q' || prev == 'q') {
            queensideFiles = fileMask(f);
            pos.castlingByFiles = 0;
          } else {
            pos.castlingByFiles = 1;
            Color color = (c >= 'A' && c <= 'H') ? WHITE : BLACK;
            int kingFile = fileOf(lowestSquare(pos.side[color].pieceBB[KING]));
            if (f <= kingFile) {
              pos.castling |= queensideRight(color);
              queensideFiles = fileMask(f);
            } else {
              pos.castling |= kingsideRight(color);
              kingsideFiles = fileMask(f);
            }
          }
        }
      }
      prev = c;
    }
  }

  // Rights for both colours need both kings on their back ranks, on one file.
  if ((pos.castling & 3) && (pos.castling & 12) && (whiteKing >> 56) != blackKing) return nullptr;

  const Bitboard rooks = pos.side[WHITE].pieceBB[ROOK] | pos.side[BLACK].pieceBB[ROOK];
  const int whiteKingFile = fileOf(lowestSquare(whiteKing));
  if ((pos.castling & (WHITE_OO | BLACK_OO)) == (WHITE_OO | BLACK_OO))
    kingsideFiles = sharedRookFiles(kingsideFiles, rooks, whiteKingFile, true);
  if ((pos.castling & (WHITE_OOO | BLACK_OOO)) == (WHITE_OOO | BLACK_OOO))
    queensideFiles = sharedRookFiles(queensideFiles, rooks, whiteKingFile, false);

  setCastlingGeometry(pos, kingsideFiles, queensideFiles);
  // A right without a rook to castle with is dropped here already, so that it
  // neither leaves a castling move without a rook square nor makes an
  // ordinary position look like Chess960.
  for (Color c : {WHITE, BLACK}) {
    if (pos.side[c].kingsideRookSquare < 0) pos.castling &= ~kingsideRight(c);
    if (pos.side[c].queensideRookSquare < 0) pos.castling &= ~queensideRight(c);
  }
  pos.chess960Castling = (nonStandardCastling(pos, WHITE) || nonStandardCastling(pos, BLACK)) ? 1 : 0;

  // En passant: the square behind a pawn that has just made a double step.
  p = skipSpace(p);
  if (*p == '-') {
    ++p;
  } else {
    int f = fileOfLetter(*p);
    if (f < 0) return nullptr;
    char rank = p[1];  // readable: p[0] was not the terminator
    if (rank != (pos.whiteToMove ? '6' : '3')) return nullptr;
    Square ep = makeSquare('8' - rank, f);
    Square origin = pos.whiteToMove ? ep - 8 : ep + 8;
    Square pawnSquare = pos.whiteToMove ? ep + 8 : ep - 8;
    const SideState& them = pos.side[pos.whiteToMove ? BLACK : WHITE];
    Bitboard all = 0;
    for (const SideState& s : pos.side)
      for (int t = PAWN; t <= KING; ++t) all |= s.pieceBB[t];
    // The double step must be visible on the board: its origin and the
    // skipped square empty, the pawn on its destination. An en-passant
    // capture removes exactly that pawn, so anything else would corrupt
    // the position once the capture is played.
    if ((all & (bit(ep) | bit(origin))) || !(them.pieceBB[PAWN] & bit(pawnSquare))) return nullptr;
    pos.epSquare = ep;
    pos.lastMove = bit(origin) | bit(pawnSquare);
    p += 2;
  }

  if (!finishSetup(pos)) return nullptr;
  return p;
}

// Bounded writer for move text.
struct TextOut {
  char* buf;
  int len = 0;
  void put(char c) {
    if (len < MOVE_TEXT_SIZE - 1) buf[len++] = c;
    buf[len] = '\0';
  }
  void put(const char* s) {
    while (*s) put(*s++);
  }
  void square(Square s) {
    put(char('a' + fileOf(s)));
    put(char('8' - rowOf(s)));
  }
};

// Squares from which a piece of `type` reaches `to` (for the pawn: none).
Bitboard reachingSquares(const Position& pos, int type, Square to) {
  switch (type) {
    case KNIGHT: return STEPS.knight[to];
    case BISHOP: return bishopAttacks(to, pos.rotated);
    case ROOK: return rookAttacks(to, pos.rotated);
    case QUEEN: return queenAttacks(to, pos.rotated);
    case KING: return STEPS.king[to];
    default: return 0;
  }
}

// 1 if the move castles king-side, 2 queen-side, 0 otherwise.
int castlingWing(const Position& pos, Move m) {
  const SideState& me = pos.mover();
  if (m.piece() != KING || !(me.pieceBB[ROOK] & bit(m.to()))) return 0;
  if (me.kingsideRook & bit(m.to())) return 1;
  if (me.queensideRook & bit(m.to())) return 2;
  return 0;
}

// Makes a legal move, reports whether the side then to move is in check and
// whether it is mated, and takes the move back.
bool checkAfter(Position& pos, Move m, bool& mated) {
  mated = false;
  MoveUndo undo{};
  saveState(undo, pos);
  if (!makeMove(pos, m, undo)) return false;
  bool check = pos.inCheck();
  if (check) {
    int result = 0;
    mated = noLegalMove(pos, &result) && result != 0;
  }
  unmakeMove(undo);
  return check;
}

bool endsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

int sanPieceLetter(char c) {
  switch (c) {
    case 'N': case 'S': return KNIGHT;
    case 'B': case 'L': return BISHOP;
    case 'R': case 'T': return ROOK;
    case 'Q': case 'D': return QUEEN;
    case 'K': return KING;
    default: return NO_PIECE;
  }
}

int sanPromotionLetter(char c) {
  int t = sanPieceLetter(c);
  return t == KING ? NO_PIECE : t;
}

int coordinatePromotionLetter(char c) {
  switch (c) {
    case 'n': case 'N': return KNIGHT;
    case 'b': case 'B': return BISHOP;
    case 'r': case 'R': return ROOK;
    case 'q': case 'Q': return QUEEN;
    default: return NO_PIECE;
  }
}

// Reads the SAN body (annotations already removed). False if it names no
// single move of the position.
bool readSan(Position& pos, std::string_view t, Move& m) {
  const Color us = pos.sideToMove();
  const SideState& me = pos.mover();
  const SideState& them = pos.enemy();

  std::size_t start = 0;
  int piece = sanPieceLetter(t[0]);
  if (piece != NO_PIECE) {
    start = 1;
  } else if (t[0] >= 'a' && t[0] <= 'h') {
    piece = PAWN;  // the file letter stays in the text as a disambiguation
  } else {
    return false;
  }

  std::size_t end = t.size();
  int promotion = sanPromotionLetter(t[end - 1]);
  if (promotion != NO_PIECE) {
    --end;
    if (end > start && (t[end - 1] == '=' || t[end - 1] == '/')) --end;
  }
  if (end < start + 2) return false;
  const Square to = squareOfMoveText(t[end - 2], t[end - 1]);
  if (to < 0) return false;
  end -= 2;

  const bool capture = (them.pieceBB[0] & bit(to)) || (piece == PAWN && to == pos.epSquare);
  if (capture) {
    if (end <= start || t[end - 1] != 'x') return false;
    --end;
  } else if (end > start && t[end - 1] == '-') {
    --end;
  }

  Bitboard candidates;
  if (piece == PAWN) {
    const Bitboard pawns = me.pieceBB[PAWN];
    const int back = us == WHITE ? 8 : -8;  // one rank towards the mover's side
    if (capture) {
      candidates = pawnAttacks(~us, bit(to)) & pawns;
    } else {
      candidates = 0;
      if (to + back >= 0 && to + back < 64) candidates = pawns & bit(to + back);
      if (!candidates && rowOf(to) == (us == WHITE ? 4 : 3)) candidates = pawns & bit(to + 2 * back);
    }
  } else {
    candidates = reachingSquares(pos, piece, to) & me.pieceBB[piece];
  }

  for (std::size_t i = end; i-- > start;) {
    char c = t[i];
    if (c >= 'a' && c <= 'h') {
      candidates &= fileMask(c - 'a');
    } else if (c >= '1' && c <= '8') {
      candidates &= rowMask('8' - c);
    } else {
      return false;
    }
  }

  if (moreThanOne(candidates)) {
    Bitboard legal = 0;
    for (Bitboard b = candidates; b;) {
      Square from = popLowest(b);
      if (isMoveLegal(pos, Move(from, to, piece, promotion))) legal |= bit(from);
    }
    candidates = legal;
  }
  if (!exactlyOne(candidates)) return false;
  m = Move(lowestSquare(candidates), to, piece, promotion);
  return true;
}

bool readCoordinate(const Position& pos, std::string_view t, Move& m) {
  const SideState& me = pos.mover();
  int promotion = coordinatePromotionLetter(t.back());
  bool castlingMark = t.back() == 'k' || t.back() == 'K';
  if (promotion != NO_PIECE || castlingMark) t.remove_suffix(1);
  if (t.size() != 4) return false;
  const Square from = squareOfMoveText(t[0], t[1]);
  const Square to = squareOfMoveText(t[2], t[3]);
  if (from < 0 || to < 0) return false;
  if (castlingMark) {
    Square rook = fileOf(to) == 6 ? me.kingsideRookSquare : me.queensideRookSquare;
    if (rook < 0) return false;
    m = Move(from, rook, KING);
    return true;
  }
  if (!(me.pieceBB[0] & bit(from))) return false;
  m = Move(from, to, pos.pieceOn(from), promotion);
  return true;
}

}  // namespace

const char* setFen(Position& pos, const char* text) {
  if (text == nullptr) return nullptr;
  // Work on a copy so that a rejected FEN leaves the caller's position intact.
  Position work = pos;
  const char* rest = readFen(work, text);
  if (rest) pos = work;
  return rest;
}

std::string positionToFen(const Position& pos) {
  static constexpr char LETTERS[2][8] = {" PNBRQK", " pnbrqk"};
  std::string fen;
  for (int row = 0; row < 8; ++row) {
    int empty = 0;
    for (int file = 0; file < 8; ++file) {
      Square s = makeSquare(row, file);
      char letter = 0;
      for (int c = WHITE; c <= BLACK && !letter; ++c)
        for (int t = PAWN; t <= KING && !letter; ++t)
          if (pos.side[c].pieceBB[t] & bit(s)) letter = LETTERS[c][t];
      if (!letter) {
        ++empty;
        continue;
      }
      if (empty) fen += char('0' + empty);
      empty = 0;
      fen += letter;
    }
    if (empty) fen += char('0' + empty);
    if (row < 7) fen += '/';
  }
  fen += pos.whiteToMove ? " w " : " b ";

  // A castling rook is named by its file only when another own rook stands
  // further out on the same wing, where the bare letter would point.
  bool anyRight = false;
  for (Color c : {WHITE, BLACK}) {
    const SideState& s = pos.side[c];
    for (bool kingside : {true, false}) {
      if (!(pos.castling & (kingside ? kingsideRight(c) : queensideRight(c)))) continue;
      anyRight = true;
      fen += kingside ? (c == WHITE ? 'K' : 'k') : (c == WHITE ? 'Q' : 'q');
      Square rook = kingside ? s.kingsideRookSquare : s.queensideRookSquare;
      if (rook < 0) continue;
      Bitboard outside = 0;
      for (int f = 0; f < 8; ++f)
        if (kingside ? f > fileOf(rook) : f < fileOf(rook)) outside |= fileMask(f);
      if (s.pieceBB[ROOK] & rowMask(rowOf(rook)) & outside) fen += char('a' + fileOf(rook));
    }
  }
  if (!anyRight) fen += '-';

  fen += ' ';
  if (pos.epSquare >= 0 && pos.epSquare < 64) {
    fen += char('a' + fileOf(pos.epSquare));
    fen += pos.whiteToMove ? '6' : '3';
  } else {
    fen += '-';
  }
  return fen;
}

const char* setChess960(Position& pos, unsigned n) {
  n %= 960;
  char rank[9] = "--------";
  rank[2 * (n % 4) + 1] = 'B';
  n /= 4;
  rank[2 * (n % 4)] = 'B';
  n /= 4;

  // Files still free, from the a-file on.
  auto emptyFiles = [&rank](int* files) {
    int count = 0;
    for (int f = 0; f < 8; ++f)
      if (rank[f] == '-') files[count++] = f;
  };
  int files[8];
  emptyFiles(files);
  rank[files[n % 6]] = 'Q';
  n /= 6;

  static constexpr int KNIGHT_PAIRS[10][2] = {{0, 1}, {0, 2}, {0, 3}, {0, 4}, {1, 2},
                                              {1, 3}, {1, 4}, {2, 3}, {2, 4}, {3, 4}};
  emptyFiles(files);
  rank[files[KNIGHT_PAIRS[n][0]]] = 'N';
  rank[files[KNIGHT_PAIRS[n][1]]] = 'N';

  emptyFiles(files);
  rank[files[0]] = 'R';
  rank[files[1]] = 'K';
  rank[files[2]] = 'R';

  std::string fen;
  for (char c : std::string_view(rank, 8)) fen += char(c - 'A' + 'a');
  fen += "/pppppppp/8/8/8/8/PPPPPPPP/";
  fen += std::string_view(rank, 8);
  fen += " w KQkq -";
  if (!setFen(pos, fen.c_str())) return nullptr;
  // What follows the en-passant field of a start position.
  static constexpr const char* CLOCKS = " 0 1";
  return CLOCKS;
}

char* moveToText(Position& pos, Move m, int style, char* buf) {
  TextOut out{buf};
  buf[0] = '\0';
  const SideState& me = pos.mover();
  const SideState& them = pos.enemy();
  const Square from = m.from();
  Square to = m.to();
  const int piece = m.piece();
  const int promotion = m.promotion();
  const int wing = castlingWing(pos, m);

  if (style == STYLE_COORDINATE) {
    if (wing && !pos.castlingByFiles) {
      if (pos.chess960Castling) {
        out.put(wing == 1 ? "O-O" : "O-O-O");
        return buf;
      }
      to = makeSquare(rowOf(to), wing == 1 ? 6 : 2);
    }
    out.square(from);
    out.square(to);
    if (promotion >= KNIGHT && promotion <= QUEEN) out.put("  nbrq"[promotion]);
    return buf;
  }

  const bool enPassant =
      piece == PAWN && fileOf(from) != fileOf(to) && !(pos.occupied & bit(to));
  if (wing) {
    // SAN names castling the same way whatever the coordinate text would
    // show: king-takes-rook text would not read back as a king move.
    out.put(wing == 1 ? "0-0" : "0-0-0");
  } else {
    if (piece >= KNIGHT && piece <= KING) out.put("  SLTDK"[piece]);
    const bool capture = (them.pieceBB[0] & bit(to)) || enPassant;

    Bitboard candidates = bit(from);
    bool disambiguate = false;
    if (piece == PAWN) {
      disambiguate = capture;
      candidates |= pawnAttacks(~pos.sideToMove(), bit(to)) & me.pieceBB[PAWN];
    } else if (piece >= KNIGHT && piece <= KING) {
      Bitboard others = reachingSquares(pos, piece, to) & me.pieceBB[piece];
      disambiguate = moreThanOne(others);
      candidates |= others;
    }
    if (disambiguate) {
      if (exactlyOne(candidates & fileMask(fileOf(from)))) {
        out.put(char('a' + fileOf(from)));
      } else if (exactlyOne(candidates & rowMask(rowOf(from)))) {
        out.put(char('8' - rowOf(from)));
      } else {
        out.square(from);
      }
    }
    if (capture) out.put('x');
    out.square(to);
    if (promotion >= KNIGHT && promotion <= QUEEN) out.put("  SLTD"[promotion]);
  }

  if (style == STYLE_SAN_ANNOTATED) {
    if (enPassant) out.put(" e.p.");
    // makeMove trusts its input, so only a move of this position is played.
    bool mated = false;
    if (isMoveLegal(pos, m) && checkAfter(pos, m, mated)) out.put(mated ? "++" : "+");
  }
  return buf;
}

bool parseMove(Position& pos, std::string_view text, bool coordinate, Move& out) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);

  // Annotations at the end: one check or mate mark, one en-passant mark.
  bool checkMark = false, mateMark = false, epMark = false;
  for (;;) {
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    std::size_t cut = 0;
    bool isCheckMark = false, isMateMark = false;
    if (endsWith(text, "++")) {
      cut = 2;
      isMateMark = true;
    } else if (endsWith(text, "#")) {
      cut = 1;
      isMateMark = true;
    } else if (endsWith(text, "+")) {
      cut = 1;
      isCheckMark = true;
    } else if (endsWith(text, "e. p.")) {
      cut = 5;
    } else if (endsWith(text, "e.p.")) {
      cut = 4;
    } else if (endsWith(text, "ep")) {
      cut = 2;
    } else {
      break;
    }
    if (isCheckMark || isMateMark) {
      if (checkMark || mateMark) return false;
      checkMark = isCheckMark;
      mateMark = isMateMark;
    } else {
      if (epMark) return false;
      epMark = true;
    }
    text.remove_suffix(cut);
  }
  if (text.size() < 2 || text.size() > 6) return false;

  const SideState& me = pos.mover();
  const Color us = pos.sideToMove();
  Move m;
  int wing = 0;
  if (text == "0-0" || text == "O-O") wing = 1;
  if (text == "0-0-0" || text == "O-O-O") wing = 2;
  if (wing) {
    if (!(pos.castling & (wing == 1 ? kingsideRight(us) : queensideRight(us)))) return false;
    Square rook = wing == 1 ? me.kingsideRookSquare : me.queensideRookSquare;
    if (rook < 0 || !exactlyOne(me.pieceBB[KING])) return false;
    m = Move(lowestSquare(me.pieceBB[KING]), rook, KING);
  } else if (coordinate) {
    if (!readCoordinate(pos, text, m)) return false;
  } else {
    if (!readSan(pos, text, m)) return false;
  }

  // Classical castling text (king two files towards a rook) becomes the
  // king-onto-rook move used inside.
  if (m.piece() == KING) {
    const Square from = m.from(), to = m.to();
    if ((from == 60 && (to == 62 || to == 58)) || (from == 4 && (to == 6 || to == 2))) {
      Square rook = fileOf(to) == 6 ? me.kingsideRookSquare : me.queensideRookSquare;
      if (rook >= 0) m = Move(from, rook, KING);
    }
  }

  if (!isMoveLegal(pos, m)) return false;

  if (checkMark || mateMark) {
    bool mated = false;
    bool check = checkAfter(pos, m, mated);
    if (mateMark ? !mated : !check) return false;
  }
  if (epMark && !(m.piece() == PAWN && pos.epSquare >= 0 && m.to() == pos.epSquare)) return false;

  out = m;
  return true;
}

}  // namespace korvane
