// Helpers shared by the evaluation tests.
#pragma once

#include "../board/epd.h"
#include "eval/evaluator.h"

namespace korvane::test {

// The evaluation of `fen` for the side to move, with the classical material term.
inline int evalOf(const std::string& fen) {
  static Evaluator ev;
  ev.setNeuroMaterial(0);
  return ev.evaluate(fromFen(fen));
}

}  // namespace korvane::test
