// The static evaluation: one integer in millipawns (pawn = 1000) for the side
// to move.
//
// Terms are computed from White's point of view and converted at the end:
// material (with a two-level cache, blended with the material network), pawn
// structure (with a pawn hash table), mobility, piece placement and threats,
// king safety (middlegame), king activity and passed-pawn races (endgame), and
// a blend of the middlegame and endgame sums by the remaining material. The
// endgame specialist of the material configuration may settle the score first
// and scale it afterwards.
//
// Each search thread owns one Evaluator with its own caches and network; the
// evaluation reads the attack maps and pins kept in the Position and computes
// none of them. Nothing is allocated after construction except when a new
// material network is loaded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "board/position.h"
#include "board/prefetch.h"
#include "eval/material.h"
#include "eval/material_net.h"

namespace korvane {

// Pawn-structure facts of one pawn key, White's view for the scores. Every
// field depends on the pawns alone, so an entry can be shared by all
// positions with the same pawn key. Layout: 136 bytes.
struct PawnEntry {
  std::uint64_t key = 0;
  std::uint8_t recent = 0;       // most recently used entry of its bucket
  std::int32_t mg = 0;
  std::int32_t eg = 0;
  Bitboard passed[2] = {};       // passed pawns per colour
  Bitboard backward[2] = {};     // backward pawns per colour
  Bitboard frontSpan[2] = {};    // squares in front of the colour's pawns
  Bitboard openFiles = 0;        // all squares of the files without pawns
  std::int32_t openFileCount = 0;
  Bitboard passedFiles[2] = {};  // file fills of the colour's passed pawns
  Bitboard outposts[2] = {};     // squares where the colour's minor pieces are safe
  Bitboard keyRegion[2] = {};    // squares the colour's king wants in a pawn ending
};
static_assert(sizeof(PawnEntry) == 136);

struct MaterialCacheEntry {
  std::uint32_t key = 0;
  std::int32_t score = 0;  // White's view
  const EndgameSpecialist* specialist = nullptr;  // null: the slot is empty
};

constexpr int PAWN_TABLE_SIZE = 2048;  // 1024 buckets of two entries
constexpr int MATERIAL_PRIMARY = 8192;
constexpr int MATERIAL_SECONDARY = 4096;
constexpr int MATERIAL_CHANGED = 2000000;  // incremental material sentinel
constexpr int DEFAULT_NEURO_MATERIAL = 35;
constexpr int MATERIAL_NET_INPUTS = 11;

class Evaluator {
 public:
  Evaluator();
  ~Evaluator();
  Evaluator(const Evaluator&) = delete;
  Evaluator& operator=(const Evaluator&) = delete;

  // Score for the side to move, moved one unit away from zero so that only an
  // exactly balanced evaluation is 0 (positions settled by a specialist, the
  // stalemate shortcut and pawnless mop-up scores skip that step).
  int evaluate(const Position& pos);
  // Material score (White's view) of the position last passed to evaluate();
  // the position may have changed by moves since.
  // Non-incremental: also refreshes specialist() and baseMaterial().
  // Incremental: the difference to baseMaterial(), or +-MATERIAL_CHANGED (sign
  // of the side to move) when the configuration now has another specialist.
  int materialScore(bool incremental);
  // evaluate() without its final unit step, minus the material score,
  // side-relative.
  int positionalScore(const Position& pos);
  // Pawnless mop-up term, for the attacker against the defender.
  static int mopUp(const SideState& defender, const SideState& attacker);

  // "NeuroMaterial": the network's weight in percent (clamped to 0..100);
  // clears the caches.
  void setNeuroMaterial(int percent);
  int neuroMaterial() const { return neuroMaterial_; }
  // "MaterialFile": loads the material network when the name differs from the
  // last one loaded; clears the caches. False if the file could not be used,
  // in which case the previous network stays in force.
  bool setMaterialFile(std::string_view name);
  // Takes over another evaluator's network and NeuroMaterial setting (for
  // the search's worker threads); clears the caches.
  void copySettingsFrom(const Evaluator& other);
  void clearCaches();

  // Starts loading the pawn-table bucket and the material-cache slot that
  // evaluating `pos` reads first, so that work done before the evaluation
  // hides the memory latency.
  KORVANE_ALWAYS_INLINE void prefetch(const Position& pos) const {
    const std::size_t bucket = pos.pawnKey & 0x7FE;
    prefetchForRead(&pawnTable_[bucket]);
    prefetchForRead(&pawnTable_[bucket + 1]);
    prefetchForRead(&materialCache_[materialKey(pos) & (MATERIAL_PRIMARY - 1)]);
  }

  // Valid until the next evaluate().
  const PawnEntry& pawnEntry() const { return *currentPawnEntry_; }
  const EndgameSpecialist* specialist() const { return specialist_; }
  int baseMaterial() const { return baseMaterial_; }
  const SpecialistSet& specialists() const { return specialists_; }
  MaterialNet& net() { return net_; }
  const MaterialNet& net() const { return net_; }
  const Position* position() const { return position_; }
  // Rooks of a colour that stood on open files in the last full evaluation.
  Bitboard rookOpenFile(Color c) const { return rookOpenFile_[c]; }
  // The cached material entry of a key, or null (for tests and statistics).
  const MaterialCacheEntry* cachedMaterial(std::uint32_t key) const;

 private:
  int evaluateRaw(const Position& pos, bool& stepped);
  int positional();
  const PawnEntry& probePawns();
  int computeMaterial(const Position& pos);
  int networkMaterial(const Position& pos, int classical);

  std::unique_ptr<PawnEntry[]> pawnTable_;
  std::unique_ptr<MaterialCacheEntry[]> materialCache_;
  MaterialNet net_;
  int neuroMaterial_ = DEFAULT_NEURO_MATERIAL;
  SpecialistSet specialists_;
  const Position* position_ = nullptr;
  const EndgameSpecialist* specialist_ = nullptr;
  int baseMaterial_ = 0;
  PawnEntry noPawnEntry_;
  const PawnEntry* currentPawnEntry_ = &noPawnEntry_;
  Bitboard rookOpenFile_[2] = {};
};

}  // namespace korvane
