// FEN text: set-up, a perft of two plies, and a write/read round trip.
#include <cstdint>
#include <string>

#include "board/notation.h"
#include "board/perft.h"
#include "fuzz_support.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Position pos;
  const Position before = pos;
  if (!setFen(pos, text.c_str())) {
    FUZZ_CHECK(samePosition(pos, before));  // a rejected FEN changes nothing
    return 0;
  }
  FUZZ_CHECK(isConsistent(pos));
  const Position set = pos;
  Perft perft(0);
  perft.run(pos, 2);
  FUZZ_CHECK(samePosition(pos, set));

  // The written FEN reads back as the same position; only the castling
  // notation flag (rook files or K/Q letters) is not part of the text.
  const std::string fen = positionToFen(pos);
  Position again;
  FUZZ_CHECK(setFen(again, fen.c_str()) != nullptr);
  FUZZ_CHECK(positionToFen(again) == fen);
  again.castlingByFiles = pos.castlingByFiles;
  FUZZ_CHECK(samePosition(again, pos));
  return 0;
}
