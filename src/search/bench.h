// The search benchmark: a fixed list of positions searched to a fixed depth
// with one thread and a fresh table. Its node count is a signature of the
// search (any change of search behaviour changes it); its speed is the
// engine's nodes per second.
#pragma once

#include <cstdint>

namespace korvane {

struct BenchResult {
  std::uint64_t nodes = 0;
  std::int64_t milliseconds = 0;
};

constexpr int DEFAULT_BENCH_DEPTH = 8;

// Searches every bench position on an engine of its own (default table size
// and settings) and answers the totals. Nothing else is touched, so it may
// run beside a search.
BenchResult runBench(int depth = DEFAULT_BENCH_DEPTH);

}  // namespace korvane
