// Material statistics: how games went, by material configuration.
//
// Games are read from PGN files and replayed. Each material configuration a
// game reaches counts at most once per game, as one observation: the game's
// result from the configuration's first side's view and the positional part
// of the evaluation (positionalScore) at the observed position, from the same
// side's view. A position is observed when
//   - the configuration (both sides' counts and the bishop-colour code) has
//     stood unchanged for at least MIN_STABLE_PLIES plies, so that exchanges
//     still under way are not counted as a new balance,
//   - the side to move is not in check, and
//   - the quiescence search (captures and promotions only) finds nothing
//     better for the side to move than the static evaluation: no capture,
//     promotion or mate pending.
// Material only ever goes down or turns pawns into pieces, so a game never
// returns to a configuration it has left: "once per configuration" and "once
// per unbroken stretch" are the same rule.
//
// The first side of a configuration is the one with the larger packed counts;
// with equal counts it is White. Games without a result are skipped.
//
// The statistics file has one line per configuration, in ascending order of
// (first side, second side, code):
//   "%05x %05x %2d %3d %8.6f %10ld %10.3f"
//   first side's packed counts, second side's, bishop code, classical balance,
//   mean result for the first side, observations, mean positional score.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "board/position.h"
#include "board/types.h"
#include "pgn/pgn_reader.h"

namespace korvane {

class Engine;

// Plies a configuration must have stood before a position of it counts.
constexpr int MIN_STABLE_PLIES = 4;
// What each observation of a file counts with "value 1000" (the default).
constexpr int STATISTICS_UNIT_VALUE = 1000;

// One hexadecimal digit per piece type: queens, rooks, bishops, knights,
// pawns (counts above 15 do not occur in play and are capped).
std::uint32_t packedCounts(const SideState& side);
// The five counts of a packed value: queens, rooks, bishops, knights, pawns.
void unpackCounts(std::uint32_t packed, int counts[5]);
// 9 Q + 5 R + 3 B + 3 N + P of a packed value.
int classicalValue(std::uint32_t packed);
// The bishop-colour code of the material network: -1 opposite-coloured
// bishops, +1 same-coloured, 0 otherwise.
int bishopCode(const Position& pos);

struct ConfigurationKey {
  std::uint32_t first;
  std::uint32_t second;
  int code;
  auto operator<=>(const ConfigurationKey&) const = default;
};

struct ConfigurationSums {
  double observations = 0.0;  // sum of the observation weights
  double results = 0.0;       // weighted results for the first side (1, 0.5, 0)
  double positional = 0.0;    // weighted positional scores, first side's view
};

class MaterialStatistics {
 public:
  MaterialStatistics();
  ~MaterialStatistics();
  MaterialStatistics(const MaterialStatistics&) = delete;
  MaterialStatistics& operator=(const MaterialStatistics&) = delete;

  // Reads the games of a PGN file whose players both have at least
  // `minimumElo` and adds their observations, each counting value / 1000
  // (a value below 1 adds nothing). PGN errors are reported through `print`
  // and end the file at the faulty game. False when the file cannot be read.
  bool addPgnFile(const std::string& fileName, int value, int minimumElo, const LineWriter& print);
  // Replays one game from its FEN (empty: the start position) and adds its
  // observations. `result` is a PGN result code; games without a result and
  // games whose set-up fails add nothing. Answers the observations added.
  int addGame(const std::vector<Move>& moves, const std::string& fen, int result, double weight = 1.0);
  // Writes the statistics file. On failure prints "info string error opening
  // the output file " and the name (or "... error writing ..." when a write
  // or the close failed), and answers false; the statistics stay.
  bool write(const std::string& fileName, const LineWriter& print) const;

  const std::map<ConfigurationKey, ConfigurationSums>& table() const { return table_; }
  std::uint64_t gamesRead() const { return gamesRead_; }
  std::uint64_t gamesUsed() const { return gamesUsed_; }

 private:
  bool quiet();
  void observe(double result, double weight);

  std::unique_ptr<Engine> engine_;  // own position, evaluator and quiescence search
  std::map<ConfigurationKey, ConfigurationSums> table_;
  std::uint64_t gamesRead_ = 0;
  std::uint64_t gamesUsed_ = 0;
};

// Collects the statistics of the PGN files and writes them in one go.
bool collectMaterialStatistics(const std::vector<std::string>& pgnFiles, const std::string& outputFile,
                               const LineWriter& print);

}  // namespace korvane
