// Material configuration: the material cache key, the bishop-colour class and
// the endgame specialists that know more about particular configurations.
//
// A specialist may settle a position (a known draw, a bitbase win, a won
// mating ending), replace or adjust the material score, give the search safe
// bounds, shorten the search in dead endings, or scale the final evaluation.
// Every configuration maps to exactly one specialist of a SpecialistSet; most
// get the default one, which does nothing. Specialists are read-only after
// construction and may be shared between threads.
#pragma once

#include <cstdint>
#include <memory>

#include "board/position.h"

namespace korvane {

class Evaluator;

class EndgameSpecialist {
 public:
  virtual ~EndgameSpecialist() = default;
  // Called by the evaluation with the material score (White's view). May
  // replace or adjust it; true means the score is final.
  virtual bool probe(const Position& pos, int& score) const;
  // The same verdict for the search, from the side to move's view.
  virtual bool probeSideRelative(const Position& pos, int& score) const;
  // When the true value is known to lie in [low, high] (side-relative):
  // true with score = low if low >= beta, true with score = high if
  // high <= alpha, else false. May lower the node's depth through extension.
  virtual bool probeBound(const Position& pos, int& score, int alpha, int beta, int depth,
                          std::int16_t& extension) const;
  // Applied to the final White-view evaluation.
  virtual int scale(const Position& pos, const Evaluator& evaluator, int score) const;
};

// Indexes of the specialists in a SpecialistSet.
enum SpecialistId : int {
  SP_DEFAULT,
  SP_DRAW,
  SP_DEAD_DRAW,
  SP_KPK_WHITE,
  SP_KPK_BLACK,
  SP_KMAJOR_K_WHITE,
  SP_KMAJOR_K_BLACK,
  SP_EQUAL_MAJORS,
  SP_KQ_KR,
  SP_KR_KQ,
  SP_KP_KMINOR,
  SP_KMINOR_KP,
  SP_KR_KMINOR,
  SP_KMINOR_KR,
  SP_K_KMINORP,
  SP_KMINORP_K,
  SP_KBN_K_WHITE,
  SP_KBN_K_BLACK,
  SP_KRMINOR_KR,
  SP_KR_KRMINOR,
  SP_K2MINORS_KMINOR,
  SP_KMINOR_K2MINORS,
  SP_K2MINORS_KR,
  SP_KR_K2MINORS,
  SP_ROOK_VS_MINOR_PAWN_PLUS,
  SP_ROOK_VS_MINOR_PAWN_MINUS,
  SP_KRP_KR,
  SP_KR_KRP,
  SP_ROOK_MINOR_VS_ROOK_PAWN_PLUS,
  SP_ROOK_MINOR_VS_ROOK_PAWN_MINUS,
  SP_PAWN_ENDING,
  SP_BISHOPS_PAWNS,
  SP_KNIGHTS_PAWNS,
  SP_QUEENS_PAWNS,
  SP_BISHOP_KNIGHT,
  SP_PAWNS_ONE_SIDE,
  SPECIALIST_COUNT
};

class SpecialistSet {
 public:
  SpecialistSet();
  ~SpecialistSet();
  SpecialistSet(const SpecialistSet&) = delete;
  SpecialistSet& operator=(const SpecialistSet&) = delete;
  const EndgameSpecialist* get(SpecialistId id) const { return items_[id].get(); }
  // Which entry a specialist pointer is, or -1.
  int idOf(const EndgameSpecialist* s) const;

 private:
  std::unique_ptr<EndgameSpecialist> items_[SPECIALIST_COUNT];
};

// The specialist for the position's material configuration.
const EndgameSpecialist* classifyMaterial(const Position& pos, const SpecialistSet& set);

// Bishop-colour class: 0 neutral (a side without bishops), 1 opposite colours,
// 2 same colour, 3 some side has bishops on both colours.
int bishopColourClass(const Position& pos);
// The material cache key: both sides' material signatures and the key of the
// bishop-colour class.
std::uint32_t materialKey(const Position& pos);

// Square sets used by the specialists.
extern const Bitboard RING_SQUARES;
extern const Bitboard LONG_DIAGONALS;
extern const Bitboard CORNER_SQUARES;
extern const Bitboard LIGHT_CORNER_TRIANGLES;
extern const Bitboard DARK_CORNER_TRIANGLES;

}  // namespace korvane
