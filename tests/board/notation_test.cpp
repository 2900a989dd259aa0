#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "board/move_picker.h"
#include "board/notation.h"
#include "board/position.h"
#include "epd.h"

namespace korvane {
namespace {

constexpr const char* START_FEN = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

using test::legalMoves;
using test::sq;

std::string text(Position& pos, Move m, int style) {
  char buf[MOVE_TEXT_SIZE];
  return moveToText(pos, m, style, buf);
}

// Parses `moveText` and returns the move, or the none move on failure.
Move parse(Position& pos, std::string_view moveText, bool coordinate) {
  Move m;
  return parseMove(pos, moveText, coordinate, m) ? m : Move();
}

// ---- FEN -------------------------------------------------------------------

// Every reference position: written back and read again it is the same
// position; where the castling field is plain KQkq the text is identical.
TEST(Fen, RoundTripOverReferencePositions) {
  for (const auto& c : test::loadPerftCases()) {
    Position pos, again;
    ASSERT_NE(setFen(pos, c.fen.c_str()), nullptr) << c.fen;
    const std::string written = positionToFen(pos);
    ASSERT_NE(setFen(again, written.c_str()), nullptr) << written;
    again.castlingByFiles = pos.castlingByFiles;  // not part of the written FEN
    EXPECT_TRUE(samePosition(pos, again)) << c.fen;
    std::istringstream fields(c.fen);
    std::string board, side, rights;
    fields >> board >> side >> rights;
    if (rights.find_first_not_of("KQkq-") == std::string::npos) { EXPECT_EQ(c.fen.rfind(written + " ", 0), 0u); }
  }
}

// Numbered start arrays (0 and 959 the ends of the table, 518 the classical
// array, numbers taken modulo 960); all 960 are distinct legal arrays with
// the bishops on both colours and the king between the rooks.
TEST(Fen, Chess960StartPositions) {
  Position pos;
  for (const auto& [n, back] : {std::pair{0u, "BBQNNRKR"}, {959u, "RKRNNQBB"}, {518u, "RNBQKBNR"}, {1478u, "RNBQKBNR"}}) {
    ASSERT_NE(setChess960(pos, n), nullptr);
    std::string black = back;
    for (char& c : black) c = char(c - 'A' + 'a');
    EXPECT_EQ(positionToFen(pos), black + "/pppppppp/8/8/8/8/PPPPPPPP/" + back + " w KQkq -") << n;
    if (n % 960 == 518) { EXPECT_EQ(pos.key, Position().key); }
  }
  ASSERT_NE(setChess960(pos, 0), nullptr);
  EXPECT_EQ(pos.side[WHITE].kingsideRookSquare, sq("h1"));
  EXPECT_EQ(pos.side[WHITE].queensideRookSquare, sq("f1"));
  std::set<std::string> seen;
  for (unsigned n = 0; n < 960; ++n) {
    const char* rest = setChess960(pos, n);
    ASSERT_NE(rest, nullptr) << n;
    EXPECT_STREQ(rest, " 0 1");
    EXPECT_EQ(pos.castling, 15) << n;
    const std::string fen = positionToFen(pos);
    const std::string back = fen.substr(fen.rfind('/') + 1, 8);
    seen.insert(back);
    const std::size_t b1 = back.find('B'), b2 = back.rfind('B'), k = back.find('K');
    EXPECT_EQ((b2 - b1) % 2, 1u) << back;
    EXPECT_TRUE(back.find('R') < k && k < back.rfind('R')) << back;
    EXPECT_EQ(pos.chess960Castling, back[0] == 'R' && k == 4 && back[7] == 'R' ? 0 : 1) << back;
    for (int f = 0; f < 8; ++f) EXPECT_EQ(fen[f], back[f] - 'A' + 'a') << back;
  }
  EXPECT_EQ(seen.size(), 960u);
}

TEST(Fen, CastlingAndEnPassantFields) {
  struct Case {
    const char* fen;
    int castling, byFiles, chess960;
    const char* rooks;  // White's king-side and queen-side castling rooks, "-" for none
    const char* written;
  };
  const Case cases[] = {
      // Rook files alone grant the rights and switch move text to king takes rook.
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha - 0 1", 15, 1, 0, "h1a1",
       "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"},
      {"r4kr1/pppppppp/8/8/8/8/PPPPPPPP/R4KR1 w GAga - 0 1", 15, 1, 1, "g1a1",
       "r4kr1/pppppppp/8/8/8/8/PPPPPPPP/R4KR1 w KQkq -"},
      // Plain KQkq in a Chess960 array: the files on which both colours have a rook.
      {"1r2k1r1/pppppppp/8/8/8/8/PPPPPPPP/1R2K1R1 w KQkq - 0 1", 15, 0, 1, "g1b1",
       "1r2k1r1/pppppppp/8/8/8/8/PPPPPPPP/1R2K1R1 w KQkq -"},
      // A named file picks an inner rook and is written back, a bare K the outer one.
      {"4k3/8/8/8/8/8/8/4K1RR w Kg - 0 1", WHITE_OO, 0, 1, "g1-", "4k3/8/8/8/8/8/8/4K1RR w Kg -"},
      {"4k3/8/8/8/8/8/8/4K1RR w K - 0 1", WHITE_OO, 0, 0, "h1-", "4k3/8/8/8/8/8/8/4K1RR w K -"},
      {"4k3/8/8/8/8/8/8/RR2K3 w Qb - 0 1", WHITE_OOO, 0, 1, "-b1", "4k3/8/8/8/8/8/8/RR2K3 w Qb -"},
      // Rights without their rook are dropped; the bogus "k" costs White nothing.
      {"r3k3/8/8/8/8/8/8/R3K2R w KQkq - 0 1", 11, 0, 0, "h1a1", "r3k3/8/8/8/8/8/8/R3K2R w KQq -"},
      {"4k3/8/8/8/8/8/8/4K3 w KQ - 0 1", 0, 0, 0, "--", "4k3/8/8/8/8/8/8/4K3 w - -"},
      // En passant: a pawn that has just made its double step.
      {"rnbqkbnr/pppp1ppp/8/4p3/8/8/PPPPPPPP/RNBQKBNR w KQkq E6 0 2", 15, 0, 0, "h1a1",
       "rnbqkbnr/pppp1ppp/8/4p3/8/8/PPPPPPPP/RNBQKBNR w KQkq e6"},
      {"rnbqkbnr/pppppppp/8/8/3P4/8/PPP1PPPP/RNBQKBNR b KQkq d3 0 1", 15, 0, 0, "h1a1",
       "rnbqkbnr/pppppppp/8/8/3P4/8/PPP1PPPP/RNBQKBNR b KQkq d3"},
  };
  for (const Case& c : cases) {
    Position pos;
    const char* rest = setFen(pos, c.fen);
    ASSERT_NE(rest, nullptr) << c.fen;
    EXPECT_EQ(pos.castling, c.castling) << c.fen;
    EXPECT_EQ(pos.castlingByFiles, c.byFiles) << c.fen;
    EXPECT_EQ(pos.chess960Castling, c.chess960) << c.fen;
    const std::string rooks = c.rooks;
    const std::size_t split = rooks[0] == '-' ? 1 : 2;
    EXPECT_EQ(pos.side[WHITE].kingsideRookSquare, split == 1 ? NO_SQUARE : sq(c.rooks)) << c.fen;
    EXPECT_EQ(pos.side[WHITE].queensideRookSquare, rooks[split] == '-' ? NO_SQUARE : sq(c.rooks + split))
        << c.fen;
    EXPECT_EQ(positionToFen(pos), c.written);
    EXPECT_EQ(std::string(rest), std::string(c.fen).substr(rest - c.fen));
  }
  Position pos;
  ASSERT_NE(setFen(pos, "rnbqkbnr/pppp1ppp/8/4p3/8/8/PPPPPPPP/RNBQKBNR w KQkq e6 0 2"), nullptr);
  EXPECT_EQ(pos.lastMove, bit(sq("e7")) | bit(sq("e5")));  // the double step just made
  EXPECT_EQ(pos.side[BLACK].kingsideRookSquare, sq("h8"));
}

// Malformed FENs are rejected without touching memory outside the board or
// the text, and leave the position as it was.
TEST(Fen, BadInputIsRejectedAndLeavesThePosition) {
  // "4k3/8/8/8/8/8/8/4K3 w - -" is accepted; each of these breaks it somewhere.
  std::vector<std::string> bad = {
      "", "   ", "4k3/8/8/8/8/8/8/4K3", "4k3/8/8/8/8/8/8/4K3 w", "4k3/8/8/8/8/8/8/4K3 w -",
      "4k3/8/8/8/8/8/8/4K3 x - -", "4k3/8/8/8/8/8/8/4K3 w Kz -", "4k3/8/8/8/8/8/8/4K3 w K1 -",
      // Ranks and files beyond the board, short ranks, unknown characters.
      "4k3/8/8/8/8/8/8/4K3/8 w - -", "4k3/8/8/8/8/8/8/4K3/ w - -", "4k3/8/8/8/8/8/8/4K3/K w - -",
      "4k3p/8/8/8/8/8/8/4K3 w - -", "4k3/9/8/8/8/8/8/4K3 w - -", "4k3/44p/8/8/8/8/8/4K3 w - -",
      "4k3/8/8/8/8/8/8/4K2p1 w - -", "4k2/8/8/8/8/8/8/4K3 w - -", "4k3/0/8/8/8/8/8/4K3 w - -",
      "4k3/8/8/8/8/8/8/4X3 w - -",
      // Illegal positions.
      "4k3/8/8/8/8/8/8/8 w - -", "4k3/8/8/8/8/8/8/4K1K1 w - -", "4k2R/8/8/8/8/8/8/4K3 w - -",
      "4k3/8/8/8/8/8/PPPPPPPP/P3K3 w - -", "4k2P/8/8/8/8/8/8/4K3 w - -",
      "r2k3r/8/8/8/8/8/8/R3K2R w KQkq -",  // both sides castle, kings on different files
      // En passant: wrong rank for the side, no double step on the board, bad square.
      "rnbqkbnr/pppp1ppp/8/4p3/8/8/PPPPPPPP/RNBQKBNR w KQkq e3 0 2",
      "rnbqkbnr/pppp1ppp/8/4p3/8/8/PPPPPPPP/RNBQKBNR b KQkq e6 0 2",
      "rnbqkbnr/pppp1ppp/8/4p3/8/8/PPPPPPPP/RNBQKBNR w KQkq d6 0 2",    // no pawn on d5
      "rnbqkbnr/pppppppp/8/3P4/8/8/PPP1PPPP/RNBQKBNR w KQkq e6 0 1",    // e7 still occupied
      "rnbqkbnr/pppp1ppp/4N3/4p3/8/8/PPPPPPPP/R1BQKBNR w KQkq e6 0 2",  // e6 occupied
      "rnbqkb1r/pppp1ppp/8/4n3/8/8/PPPPPPPP/RNBQKBNR w KQkq e6 0 2",    // a knight on e5
      "4k3/8/8/8/8/8/8/4K3 w - e", "4k3/8/8/8/8/8/8/4K3 w - i6",
      std::string(10000, 'p'), std::string(10000, '/'), std::string(START_FEN).substr(0, 30),
  };
  std::string withNul = START_FEN;
  withNul[20] = '\0';
  bad.push_back(withNul);
  withNul = START_FEN;
  withNul[std::strlen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w K")] = '\0';
  bad.push_back(withNul);

  Position pos;
  ASSERT_NE(setFen(pos, "r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1"), nullptr);
  const Position before = pos;
  for (const std::string& fen : bad) {
    // A copy on the heap of exactly the text and its terminator, so that a
    // read past the end shows up under the address sanitizer.
    std::vector<char> exact(fen.begin(), fen.end());
    exact.push_back('\0');
    EXPECT_EQ(setFen(pos, exact.data()), nullptr) << fen;
    EXPECT_TRUE(samePosition(pos, before)) << fen;
  }
  EXPECT_EQ(setFen(pos, nullptr), nullptr);

  // Leading white space and tabs between fields are accepted.
  EXPECT_NE(setFen(pos, "  4k3/8/8/8/8/8/8/4K3\tw\t-\t-"), nullptr);
}

// ---- move text -------------------------------------------------------------

const char* const CLASSICAL = "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1";
const char* const ARRAY960 = "r4kr1/pppppppp/8/8/8/8/PPPPPPPP/R4KR1 w KQkq - 0 1";
const char* const FILES960 = "r4kr1/pppppppp/8/8/8/8/PPPPPPPP/R4KR1 w GAga - 0 1";
const char* const KNIGHTS = "rnbqkbnr/pppppppp/8/8/8/5N2/PPP1PPPP/RNBQKB1R w KQkq - 0 1";
const char* const EXD5 = "rnbqkbnr/ppp1pppp/8/3p4/4P3/8/PPPP1PPP/RNBQKBNR w KQkq d6 0 2";
const char* const EN_PASSANT = "rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3";
const char* const PROMOTION = "8/4P3/8/8/k7/8/8/4K3 w - - 0 1";
const char* const FOOLS_MATE = "rnbqkbnr/pppp1ppp/8/4p3/6P1/5P2/PPPPP2P/RNBQKBNR b KQkq g3 0 2";
const char* const QUEENS = "4k3/8/8/8/1Q1Q4/8/1Q6/4K3 w - - 0 1";
const char* const PINNED_KNIGHT = "7k/8/8/8/2N5/8/8/4KN1r w - - 0 1";  // f1 is pinned by h1
const char* const ROOK_CHECK = "4k3/8/8/8/8/8/8/R3K3 w Q - 0 1";

// A move in internal coordinates: "e1h1" is castling with the h1 rook.
Move internal(const Position& pos, const char* s) {
  static constexpr char PROMOTIONS[] = "  nbrq";
  const int promotion = s[4] ? int(std::strchr(PROMOTIONS, s[4]) - PROMOTIONS) : 0;
  return Move(sq(s), sq(s + 2), pos.pieceOn(sq(s)), promotion);
}

TEST(MoveText, Writing) {
  struct Case {
    const char* fen;
    const char* move;
    int style;
    const char* expected;
  };
  const Case cases[] = {
      {START_FEN, "g1f3", STYLE_SAN_ANNOTATED, "Sf3"}, {START_FEN, "e2e4", STYLE_SAN, "e4"},
      {START_FEN, "e2e4", STYLE_COORDINATE, "e2e4"}, {EXD5, "e4d5", STYLE_SAN, "exd5"},
      {EN_PASSANT, "e5f6", STYLE_SAN, "exf6"}, {EN_PASSANT, "e5f6", STYLE_SAN_ANNOTATED, "exf6 e.p."},
      {PROMOTION, "e7e8q", STYLE_SAN_ANNOTATED, "e8D+"}, {PROMOTION, "e7e8n", STYLE_SAN_ANNOTATED, "e8S"},
      {PROMOTION, "e7e8q", STYLE_COORDINATE, "e7e8q"}, {FOOLS_MATE, "d8h4", STYLE_SAN_ANNOTATED, "Dh4++"},
      {FOOLS_MATE, "d8h4", STYLE_SAN, "Dh4"}, {ROOK_CHECK, "a1a8", STYLE_SAN_ANNOTATED, "Ta8+"},
      // Disambiguation: the file if it is enough, else the rank, else the square.
      {QUEENS, "d4d2", STYLE_SAN, "Ddd2"}, {QUEENS, "b2d2", STYLE_SAN, "D2d2"}, {QUEENS, "b4d2", STYLE_SAN, "Db4d2"},
      {KNIGHTS, "b1d2", STYLE_SAN, "Sbd2"},
      {PINNED_KNIGHT, "c4d2", STYLE_SAN, "Scd2"},  // the pinned knight still counts
      // Castling: the king's target in classical chess, O-O in Chess960,
      // king takes rook when the FEN named the rook files; 0-0 in SAN.
      {CLASSICAL, "e1h1", STYLE_COORDINATE, "e1g1"}, {CLASSICAL, "e1a1", STYLE_COORDINATE, "e1c1"},
      {CLASSICAL, "e1h1", STYLE_SAN, "0-0"}, {ROOK_CHECK, "e1a1", STYLE_SAN_ANNOTATED, "0-0-0"},
      {ARRAY960, "f1g1", STYLE_COORDINATE, "O-O"}, {ARRAY960, "f1a1", STYLE_COORDINATE, "O-O-O"},
      {FILES960, "f1g1", STYLE_COORDINATE, "f1g1"}, {FILES960, "f1a1", STYLE_COORDINATE, "f1a1"},
      {FILES960, "f1g1", STYLE_SAN, "0-0"},
  };
  for (const Case& c : cases) {
    Position pos;
    ASSERT_NE(setFen(pos, c.fen), nullptr) << c.fen;
    const Position before = pos;
    EXPECT_EQ(text(pos, internal(pos, c.move), c.style), c.expected) << c.fen << " " << c.move;
    EXPECT_TRUE(samePosition(pos, before));
  }

  // The front end's Chess960 mode writes O-O for the classical array too.
  Position pos;
  ASSERT_NE(setFen(pos, CLASSICAL), nullptr);
  pos.chess960Castling = 1;
  EXPECT_EQ(text(pos, internal(pos, "e1a1"), STYLE_COORDINATE), "O-O-O");
}

TEST(MoveText, Reading) {
  using Expect = std::pair<const char*, const char*>;  // text, move in internal coordinates ("" = rejected)
  struct Case {
    const char* fen;
    bool coordinate;
    std::vector<Expect> texts;
  };
  const Case cases[] = {
      {START_FEN, true,
       {{"e2e4", "e2e4"}, {" g1f3 ", "g1f3"}, {"e2e5", ""}, {"e3e4", ""}, {"e7e5", ""}, {"E2E4", ""},
        {"e2-e4", ""}, {"Nf3", ""}}},
      {PROMOTION, true,
       {{"e7e8", ""}, {"e7e8q", "e7e8q"}, {"e7e8Q", "e7e8q"}, {"e7e8n", "e7e8n"}, {"e1e2q", ""}}},
      // Castling in every mode; the rights must be there.
      {CLASSICAL, true, {{"e1g1", "e1h1"}, {"e1c1", "e1a1"}, {"e1g1k", "e1h1"}, {"O-O", "e1h1"}}},
      {CLASSICAL, false, {{"0-0-0", "e1a1"}, {"O-O", "e1h1"}}},
      {ARRAY960, true, {{"O-O", "f1g1"}, {"O-O-O", "f1a1"}, {"0-0", "f1g1"}, {"f1g1", "f1g1"}}},
      {FILES960, true, {{"f1a1", "f1a1"}, {"f1g1", "f1g1"}}},
      {FILES960, false, {{"0-0", "f1g1"}}},
      {"r3k2r/8/8/8/8/8/8/R3K2R w Qkq - 0 1", true, {{"O-O", ""}, {"e1g1", ""}, {"O-O-O", "e1a1"}}},
      // SAN: English or German letters, disambiguation, long forms.
      {KNIGHTS, false,
       {{"Nbd2", "b1d2"}, {"Sbd2", "b1d2"}, {"N1d2", "b1d2"}, {"Nb1d2", "b1d2"}, {"Nfd2", "f3d2"},
        {"Nd2", ""}, {"Nxd2", ""}, {"nbd2", ""}, {"Ne5", "f3e5"}}},
      {START_FEN, false,
       {{"Ng1-f3", "g1f3"}, {"e2-e4", "e2e4"}, {"e4", "e2e4"}, {"e3", "e2e3"}, {"e5", ""}, {"E4", ""},
        {"  Sf3  ", "g1f3"}}},
      {QUEENS, false, {{"Db4d2", "b4d2"}, {"Qd2", ""}}},
      {PINNED_KNIGHT, false, {{"Nd2", "c4d2"}, {"Nfd2", ""}}},
      // Captures need their "x", en passant included; the e.p. mark must hold.
      {EXD5, false, {{"exd5", "e4d5"}, {"ed5", ""}, {"d5", ""}}},
      {EN_PASSANT, false,
       {{"exf6", "e5f6"}, {"ef6", ""}, {"exd6", ""}, {"exf6 e.p.", "e5f6"}, {"exf6e.p.", "e5f6"},
        {"exf6 e. p.", "e5f6"}, {"exf6ep", "e5f6"}, {"e6 e.p.", ""}, {"exf6 e.p. ep", ""}}},
      {PROMOTION, false,
       {{"e8=Q", "e7e8q"}, {"e8Q", "e7e8q"}, {"e8/Q", "e7e8q"}, {"e8D", "e7e8q"}, {"e8=N", "e7e8n"},
        {"e8S", "e7e8n"}, {"e8", ""}, {"e8q", ""}, {"e8=K", ""}, {"e8D+", "e7e8q"}, {"e8N+", ""}}},
      // Check and mate marks must hold, and only one may be given.
      {FOOLS_MATE, false,
       {{"Qh4#", "d8h4"}, {"Qh4++", "d8h4"}, {"Qh4 #", "d8h4"}, {"Qh4+", "d8h4"}, {"Qh4#+", ""},
        {"Qh4+++", ""}, {"Qg5+", ""}, {"Qg5#", ""}, {"Qh4ep", ""}}},
      {FOOLS_MATE, true, {{"d8h4#", "d8h4"}}},
      {ROOK_CHECK, false, {{"Ra8+", "a1a8"}, {"Ra8#", ""}}},
  };
  for (const Case& c : cases) {
    Position pos;
    ASSERT_NE(setFen(pos, c.fen), nullptr) << c.fen;
    const Position before = pos;
    for (const auto& [moveText, expected] : c.texts) {
      const Move m = *expected ? internal(pos, expected) : Move();
      EXPECT_EQ(parse(pos, moveText, c.coordinate), m) << c.fen << " \"" << moveText << "\"";
    }
    EXPECT_TRUE(samePosition(pos, before));
  }
}

TEST(MoveText, BadInput) {
  Position pos;
  const Position before = pos;
  std::vector<std::string> bad = {"", " ", "e", "+", "#", "e.p.", "e2e4e5e6", "Nf3Nf3", "xyz", "0-0-0-0",
                                  "O-0", "Zf3", "N", "Nf", "Nf9", "Ni3", "Kxe2", "e2e4++++",
                                  std::string(5000, 'e'), std::string(5000, '+'), std::string(100, ' '),
                                  std::string("e2\0e4", 5), std::string("e4\0", 3)};
  for (const std::string& t : bad) {
    Move m(12345u);
    EXPECT_FALSE(parseMove(pos, t, true, m)) << t;
    EXPECT_FALSE(parseMove(pos, t, false, m)) << t;
    EXPECT_EQ(m, Move(12345u));
  }
  EXPECT_TRUE(samePosition(pos, before));
}

// Every legal move along random games from the reference positions is written
// in each style and read back as the same move.
TEST(MoveText, RoundTripOfAllLegalMoves) {
  std::mt19937 rng(960);
  const auto cases = test::loadPerftCases();
  long checked = 0;
  for (int game = 0; game < 2 * int(cases.size()); ++game) {
    Position pos;
    ASSERT_NE(setFen(pos, cases[game / 2].fen.c_str()), nullptr);
    std::vector<MoveUndo> undos(40);
    for (int ply = 0; ply < 40; ++ply) {
      const std::vector<Move> moves = legalMoves(pos);
      if (moves.empty()) break;
      for (Move m : moves) {
        for (int style : {STYLE_COORDINATE, STYLE_SAN, STYLE_SAN_ANNOTATED}) {
          const std::string t = text(pos, m, style);
          EXPECT_EQ(parse(pos, t, style == STYLE_COORDINATE), m) << positionToFen(pos) << ": " << t;
          ++checked;
        }
      }
      saveState(undos[ply], pos);
      ASSERT_TRUE(makeMove(pos, moves[rng() % moves.size()], undos[ply]));
    }
  }
  EXPECT_GT(checked, 20000);
}

}  // namespace
}  // namespace korvane
