#include "learn/material_statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "board/move_picker.h"
#include "eval/material.h"
#include "platform/files.h"
#include "search/engine.h"
#include "search/search.h"

namespace korvane {

namespace {

// The statistics engine's transposition table serves only the quiescence
// test; a small one is plenty.
constexpr std::size_t STATISTICS_HASH_BYTES = std::size_t(1) << 20;
// The quiescence search's deepest level: captures and promotions only.
constexpr int QUIET_TEST_DEPTH = -4;

int capped(int count) { return std::clamp(count, 0, 15); }

}  // namespace

std::uint32_t packedCounts(const SideState& side) {
  return std::uint32_t(capped(side.count[QUEEN])) << 16 | std::uint32_t(capped(side.count[ROOK])) << 12 |
         std::uint32_t(capped(side.count[BISHOP])) << 8 | std::uint32_t(capped(side.count[KNIGHT])) << 4 |
         std::uint32_t(capped(side.count[PAWN]));
}

void unpackCounts(std::uint32_t packed, int counts[5]) {
  for (int i = 0; i < 5; ++i) counts[i] = int((packed >> (16 - 4 * i)) & 0xF);
}

int classicalValue(std::uint32_t packed) {
  int c[5];
  unpackCounts(packed, c);
  return 9 * c[0] + 5 * c[1] + 3 * c[2] + 3 * c[3] + c[4];
}

int bishopCode(const Position& pos) {
  switch (bishopColourClass(pos)) {
    case 1:
      return -1;
    case 2:
      return 1;
    default:
      return 0;
  }
}

MaterialStatistics::MaterialStatistics() : engine_(std::make_unique<Engine>(STATISTICS_HASH_BYTES)) {
  resetSearchTables(*engine_);
}

MaterialStatistics::~MaterialStatistics() = default;

// The position is quiet when the quiescence search, from the side to move,
// finds nothing better than standing pat: no winning capture or promotion
// and no mate in one. It runs at its captures-only depth: checks do not
// change the material, and a position with nothing to take is settled at
// once. When an endgame specialist settles the position the search takes
// its verdict without looking at moves, and so does this test.
bool MaterialStatistics::quiet() {
  Engine& e = *engine_;
  Position& pos = e.game.position;
  int standPat = e.evaluator.evaluate(pos);
  int settled = 0;
  if (e.evaluator.specialist()->probeSideRelative(pos, settled)) standPat = settled;
  e.ply = 0;
  e.moveTop = e.moveStack;
  e.record(-1) = PlyRecord{};
  e.record(0) = PlyRecord{};
  e.stopFlag.store(false, std::memory_order_relaxed);
  const int searched = quiesce(e, -INFINITE_SCORE, INFINITE_SCORE, QUIET_TEST_DEPTH);
  return searched <= standPat;
}

int MaterialStatistics::addGame(const std::vector<Move>& moves, const std::string& fen, int result, double weight) {
  if (result != RESULT_WHITE_WINS && result != RESULT_BLACK_WINS && result != RESULT_DRAW) return 0;
  if (!(weight > 0.0)) return 0;
  GameRecord& game = engine_->game;
  if (fen.empty()) {
    game.setPosition(nullptr);
  } else if (!game.setFromFen(fen.c_str())) {
    return 0;
  }
  const double whiteResult = result == RESULT_WHITE_WINS ? 1.0 : result == RESULT_BLACK_WINS ? 0.0 : 0.5;

  int observed = 0;
  ConfigurationKey current{0xFFFFFFFFu, 0xFFFFFFFFu, 0};
  std::size_t since = 0;
  bool done = false;  // the current configuration has had its observation
  for (std::size_t ply = 0;; ++ply) {
    Position& pos = game.position;
    const std::uint32_t white = packedCounts(pos.side[WHITE]);
    const std::uint32_t black = packedCounts(pos.side[BLACK]);
    const bool whiteFirst = white >= black;
    const ConfigurationKey key{whiteFirst ? white : black, whiteFirst ? black : white, bishopCode(pos)};
    if (key != current) {
      current = key;
      since = ply;
      done = false;
    }
    if (!done && ply - since >= std::size_t(MIN_STABLE_PLIES) && !pos.inCheck() && quiet()) {
      const int positional = engine_->evaluator.positionalScore(pos);
      const int whiteView = pos.whiteToMove ? positional : -positional;
      ConfigurationSums& sums = table_[key];
      sums.observations += weight;
      sums.results += weight * (whiteFirst ? whiteResult : 1.0 - whiteResult);
      sums.positional += weight * double(whiteFirst ? whiteView : -whiteView);
      done = true;
      ++observed;
    }
    if (ply == moves.size()) break;
    // Moves from a PGN file are checked already; anything else is checked
    // here, and a move that does not fit ends the game.
    if (!isMoveLegal(pos, moves[ply])) break;
    game.playMove(moves[ply]);
  }
  ++gamesUsed_;
  return observed;
}

bool MaterialStatistics::addPgnFile(const std::string& fileName, int value, int minimumElo,
                                    const LineWriter& print) {
  PgnReader reader(fileName, print);
  if (!reader.isOpen()) return false;
  if (value < 1) return true;
  const double weight = double(value) / STATISTICS_UNIT_VALUE;
  std::vector<Move> moves;
  std::string fen;
  int result = RESULT_NONE;
  while (reader.readGameFiltered(moves, fen, result, minimumElo)) {
    ++gamesRead_;
    addGame(moves, fen, result, weight);
  }
  return true;
}

bool MaterialStatistics::write(const std::string& fileName, const LineWriter& print) const {
  std::FILE* file = std::fopen(fileName.c_str(), "w");
  if (!file) {
    if (print) print("info string error opening the output file " + reportable(fileName, REPORT_NAME_LENGTH));
    return false;
  }
  for (const auto& [key, sums] : table_) {
    if (!(sums.observations > 0.0)) continue;
    const double x = sums.results / sums.observations;
    const double bias = sums.positional / sums.observations;
    const int balance = classicalValue(key.first) - classicalValue(key.second);
    std::fprintf(file, "%05x %05x %2d %3d %8.6f %10ld %10.3f\n", unsigned(key.first), unsigned(key.second),
                 key.code, balance, x, long(std::llround(sums.observations)), bias);
  }
  if (platform::closeWritten(file)) return true;
  if (print) print("info string error writing the output file " + reportable(fileName, REPORT_NAME_LENGTH));
  return false;
}

bool collectMaterialStatistics(const std::vector<std::string>& pgnFiles, const std::string& outputFile,
                               const LineWriter& print) {
  MaterialStatistics statistics;
  for (const std::string& name : pgnFiles) statistics.addPgnFile(name, STATISTICS_UNIT_VALUE, -1, print);
  return statistics.write(outputFile, print);
}

}  // namespace korvane
