// Move text against a few fixed positions, in coordinate or algebraic form.
// A move that is read must be legal, leave the position as it was, restore it
// bit for bit after make and unmake, and read back from its written forms.
#include <cstdint>
#include <string>
#include <string_view>

#include "board/move_picker.h"
#include "board/notation.h"
#include "fuzz_support.h"

using namespace korvane;

namespace {

const char* const POSITIONS[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",  // castling, pins
    "rnbqkbnr/ppp1p1pP/8/3pPp2/8/8/PPPP1PP1/RNBQKBNR w KQkq f6",         // en passant, promotion
    "r3k2r/8/8/8/8/8/8/R3K2R b KQkq -",
    "1r4kr/8/8/8/8/8/8/1R4KR w KQkq -",  // Chess960 castling, written O-O
    "1r4kr/8/8/8/8/8/8/1R4KR w HBhb -",  // Chess960 castling, written king takes rook
    "6k1/5ppp/8/8/8/8/1N3N2/R3K1N1 w Q -",  // mate in one, knights to tell apart
};
constexpr int POSITION_COUNT = int(sizeof POSITIONS / sizeof POSITIONS[0]);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  Position pos;
  FUZZ_CHECK(setFen(pos, POSITIONS[data[0] % POSITION_COUNT]) != nullptr);
  const bool coordinate = (data[0] / POSITION_COUNT) % 2 != 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  const Position original = pos;
  Move m;
  const bool read = parseMove(pos, text, coordinate, m);
  FUZZ_CHECK(samePosition(pos, original));
  if (!read) return 0;
  FUZZ_CHECK(isMoveLegal(pos, m));

  MoveUndo undo;
  saveState(undo, pos);
  FUZZ_CHECK(makeMove(pos, m, undo));
  FUZZ_CHECK(isConsistent(pos));
  unmakeMove(undo);
  FUZZ_CHECK(samePosition(pos, original));

  for (int style : {STYLE_COORDINATE, STYLE_SAN, STYLE_SAN_ANNOTATED}) {
    char buf[MOVE_TEXT_SIZE];
    moveToText(pos, m, style, buf);
    FUZZ_CHECK(samePosition(pos, original));
    Move back;
    FUZZ_CHECK(parseMove(pos, buf, style == STYLE_COORDINATE, back));
    FUZZ_CHECK(back.raw() == m.raw());
  }
  return 0;
}
