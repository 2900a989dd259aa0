// Starting the load of a cache line early, for tables whose address is known
// well before they are read (transposition table, pawn table, material cache).
#pragma once

// Inlined into the caller whatever the optimiser thinks: a function whose
// only effect is a prefetch counts as free of side effects, and GCC drops
// calls to such functions that it does not inline early.
#if defined(__GNUC__) || defined(__clang__)
#define KORVANE_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define KORVANE_ALWAYS_INLINE inline
#endif

namespace korvane {

// Asks the processor to start loading the cache line of `address`, where the
// compiler offers a way; elsewhere it does nothing.
KORVANE_ALWAYS_INLINE void prefetchForRead(const void* address) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(address);
#else
  (void)address;
#endif
}

}  // namespace korvane
