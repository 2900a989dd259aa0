// The process-wide pseudo-random source: one xorshift generator for the whole
// program, seeded from the wall clock on first use. It draws the material
// network's initial weights, the opening book's choice among book moves, the
// book builder's game signatures (which recognise a game seen twice) and the
// random choices of training. Safe to call from any thread.
#pragma once

#include <cstdint>

namespace korvane {

std::uint32_t nextRandom32();

}  // namespace korvane
