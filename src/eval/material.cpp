// Material configuration: cache key, bishop-colour class, the specialist set
// and the classifier that picks a specialist for a position.
#include "eval/material.h"

#include "board/tables.h"
#include "eval/endgame.h"

namespace korvane {

const Bitboard RING_SQUARES = bitsFromText("C2D2E2F2C7D7E7F7B3B4B5B6G3G4G5G6");
const Bitboard LONG_DIAGONALS = bitsFromText("A1B2C3D4E5F6G7H8A8B7C6D5E4F3G2H1");
const Bitboard CORNER_SQUARES = bitsFromText("A1A8H1H8B2B7G2G7");
const Bitboard LIGHT_CORNER_TRIANGLES = bitsFromText("A7A8B8G1H1H2");
const Bitboard DARK_CORNER_TRIANGLES = bitsFromText("B1A1A2G8H8H7");

// ---- default specialist ---------------------------------------------------------

bool EndgameSpecialist::probe(const Position&, int&) const { return false; }

bool EndgameSpecialist::probeSideRelative(const Position&, int&) const { return false; }

bool EndgameSpecialist::probeBound(const Position&, int&, int, int, int, std::int16_t&) const {
  return false;
}

int EndgameSpecialist::scale(const Position&, const Evaluator&, int score) const { return score; }

// ---- specialist set -------------------------------------------------------------

SpecialistSet::SpecialistSet() {
  items_[SP_DEFAULT] = std::make_unique<EndgameSpecialist>();
  endgame::addBasicSpecialists(items_);
  endgame::addMinorPieceSpecialists(items_);
  endgame::addPawnSpecialists(items_);
  // Every configuration must land on an object; a gap would be a null
  // pointer handed to the evaluation.
  for (auto& item : items_)
    if (!item) item = std::make_unique<EndgameSpecialist>();
}

SpecialistSet::~SpecialistSet() = default;

int SpecialistSet::idOf(const EndgameSpecialist* s) const {
  for (int i = 0; i < SPECIALIST_COUNT; ++i)
    if (items_[i].get() == s) return i;
  return -1;
}

// ---- bishop colours and the material key ----------------------------------------

namespace {

// Indexed by: White has a dark-square bishop (bit 0), a light-square bishop
// (bit 1), Black dark (bit 2), Black light (bit 3).
constexpr int BISHOP_CLASS[16] = {0, 0, 0, 0, 0, 2, 1, 3, 0, 1, 2, 3, 0, 3, 3, 3};

constexpr std::uint32_t OPPOSITE_BISHOPS_KEY = 0x8AF732DA;
constexpr std::uint32_t NEUTRAL_BISHOPS_KEY = 0xBF753D1D;
constexpr std::uint32_t SAME_BISHOPS_KEY = 0xF339E5F6;

}  // namespace

int bishopColourClass(const Position& pos) {
  const Bitboard w = pos.side[WHITE].pieceBB[BISHOP];
  const Bitboard b = pos.side[BLACK].pieceBB[BISHOP];
  const int index = ((w & DARK_SQUARES) ? 1 : 0) | ((w & LIGHT_SQUARES) ? 2 : 0) |
                    ((b & DARK_SQUARES) ? 4 : 0) | ((b & LIGHT_SQUARES) ? 8 : 0);
  return BISHOP_CLASS[index];
}

std::uint32_t materialKey(const Position& pos) {
  const std::uint32_t sides =
      pos.side[WHITE].materialSignature ^ pos.side[BLACK].materialSignature;
  switch (bishopColourClass(pos)) {
    case 1: return sides ^ OPPOSITE_BISHOPS_KEY;
    case 2: return sides ^ SAME_BISHOPS_KEY;
    default: return sides ^ NEUTRAL_BISHOPS_KEY;
  }
}

// ---- classification -------------------------------------------------------------

namespace {

constexpr bool isMinor(int type) { return type == KNIGHT || type == BISHOP; }

// The type of a side's only piece besides king and pawns (or the pawn when it
// has nothing else), 0 when it has none.
int onlyPieceType(const SideState& s) {
  for (int t = QUEEN; t >= PAWN; --t)
    if (s.count[t] > 0) return t;
  return NO_PIECE;
}

// Configurations of at most six pieces with a specialist of their own, or
// SPECIALIST_COUNT when none applies.
SpecialistId classifySmall(const SideState& w, const SideState& b) {
  const int nW = w.count[0], nB = b.count[0], total = nW + nB;
  const int minorW = w.count[KNIGHT] + w.count[BISHOP];
  const int minorB = b.count[KNIGHT] + b.count[BISHOP];
  const bool rookEach = w.count[ROOK] == 1 && b.count[ROOK] == 1;

  switch (total) {
    case 6:
      if (rookEach && minorW == 1 && b.count[PAWN] == 1) return SP_ROOK_MINOR_VS_ROOK_PAWN_PLUS;
      if (rookEach && minorB == 1 && w.count[PAWN] == 1) return SP_ROOK_MINOR_VS_ROOK_PAWN_MINUS;
      return SPECIALIST_COUNT;
    case 5:
      if (rookEach) {
        if (w.count[PAWN] == 1) return SP_KRP_KR;
        if (b.count[PAWN] == 1) return SP_KR_KRP;
        if (minorW == 1) return SP_KRMINOR_KR;
        if (minorB == 1) return SP_KR_KRMINOR;
      }
      if (minorB == 1) {
        if (w.count[ROOK] > 0 && b.count[PAWN] > 0) return SP_ROOK_VS_MINOR_PAWN_PLUS;
        if (minorW == 2) return SP_K2MINORS_KMINOR;
      } else if (minorW == 1) {
        if (b.count[ROOK] > 0 && w.count[PAWN] > 0) return SP_ROOK_VS_MINOR_PAWN_MINUS;
        if (minorB == 2) return SP_KMINOR_K2MINORS;
      } else if (minorW != 2) {
        if (minorB == 2 && w.count[ROOK] > 0) return SP_KR_K2MINORS;
      } else if (b.count[ROOK] > 0) {
        return SP_K2MINORS_KR;
      }
      return SPECIALIST_COUNT;
    case 2:
      return SP_DRAW;
    case 3: {
      if (minorW + minorB > 0) return SP_DRAW;
      if (w.count[PAWN] > 0) return SP_KPK_WHITE;
      if (b.count[PAWN] > 0) return SP_KPK_BLACK;
      return nW == 2 ? SP_KMAJOR_K_WHITE : SP_KMAJOR_K_BLACK;
    }
    case 4:
      break;
    default:
      return SPECIALIST_COUNT;
  }

  if (nW == 2 && nB == 2) {
    const int tw = onlyPieceType(w), tb = onlyPieceType(b);
    if (isMinor(tw) && isMinor(tb)) return SP_DRAW;
    if (tw == tb && (tw == ROOK || tw == QUEEN)) return SP_EQUAL_MAJORS;
    if (tw == ROOK && tb == QUEEN) return SP_KR_KQ;
    if (tw == QUEEN && tb == ROOK) return SP_KQ_KR;
    if (tw == ROOK && isMinor(tb)) return SP_KR_KMINOR;
    if (isMinor(tw) && tb == ROOK) return SP_KMINOR_KR;
    if (tw == PAWN && isMinor(tb)) return SP_KP_KMINOR;
    if (isMinor(tw) && tb == PAWN) return SP_KMINOR_KP;
    return SPECIALIST_COUNT;
  }
  if (nW == 1) {
    if (minorB == 1 && b.count[PAWN] == 1) return SP_K_KMINORP;
    if (b.count[KNIGHT] == 2) return SP_DEAD_DRAW;
    if (b.count[KNIGHT] == 1 && b.count[BISHOP] == 1) return SP_KBN_K_BLACK;
  } else if (nB == 1) {
    if (minorW == 1 && w.count[PAWN] == 1) return SP_KMINORP_K;
    if (w.count[KNIGHT] == 2) return SP_DEAD_DRAW;
    if (w.count[KNIGHT] == 1 && w.count[BISHOP] == 1) return SP_KBN_K_WHITE;
  }
  return SPECIALIST_COUNT;
}

SpecialistId classifyLarge(const SideState& w, const SideState& b) {
  const int pawnsW = w.count[PAWN], pawnsB = b.count[PAWN];
  const int kingsAndPieces = w.count[0] + b.count[0] - pawnsW - pawnsB;
  if (kingsAndPieces < 5) {
    if (kingsAndPieces == 2) return SP_PAWN_ENDING;
    if (w.count[0] - pawnsW == 2 && b.count[0] - pawnsB == 2) {
      const int tw = onlyPieceType(w), tb = onlyPieceType(b);
      if (tw == BISHOP && tb == BISHOP) return SP_BISHOPS_PAWNS;
      if (tw == KNIGHT && tb == KNIGHT) return SP_KNIGHTS_PAWNS;
      if (isMinor(tw) && isMinor(tb)) return SP_BISHOP_KNIGHT;
      if (tw == QUEEN && tb == QUEEN) return SP_QUEENS_PAWNS;
    }
  }
  if ((pawnsW > 0) != (pawnsB > 0)) return SP_PAWNS_ONE_SIDE;
  return SP_DEFAULT;
}

}  // namespace

const EndgameSpecialist* classifyMaterial(const Position& pos, const SpecialistSet& set) {
  const SideState& w = pos.side[WHITE];
  const SideState& b = pos.side[BLACK];
  if (w.count[0] + b.count[0] < 7) {
    const SpecialistId id = classifySmall(w, b);
    if (id != SPECIALIST_COUNT) return set.get(id);
  }
  return set.get(classifyLarge(w, b));
}

}  // namespace korvane
