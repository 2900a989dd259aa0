// PGN text through the reader, the book builder and the material statistics.
#include <cstdint>
#include <string>
#include <vector>

#include "book/writer/book_builder.h"
#include "learn/material_statistics.h"
#include "fuzz_support.h"
#include "pgn/pgn_reader.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::ScratchFile scratch(data, size);
  const std::string& file = scratch.name();
  {
    PgnReader reader(file, fuzz::ignoreLine);
    PgnTags tags;
    std::vector<Move> moves;
    while (reader.readGame(tags, moves)) {
    }
  }
  // Fixed signature words: the same input builds the same tree, and drawing
  // 38,400 words from the engine's generator would dominate the run.
  static const std::vector<std::uint32_t> words = [] {
    std::vector<std::uint32_t> w(std::size_t(BOOK_RANDOM_PLIES) * 128);
    std::uint64_t x = 0x9E3779B97F4A7C15u;
    for (std::uint32_t& word : w) word = std::uint32_t((x = x * 6364136223846793005u + 1442695040888963407u) >> 32);
    return w;
  }();
  BookTree tree(words);
  FUZZ_CHECK(addPgnFile(tree, file, 1000, true, 0, fuzz::ignoreLine));
  writeBook(tree, "/dev/null", 0, 0.25, fuzz::ignoreLine);

  MaterialStatistics statistics;
  FUZZ_CHECK(statistics.addPgnFile(file, 1000, -1, fuzz::ignoreLine));
  statistics.write("/dev/null", fuzz::ignoreLine);
  return 0;
}
