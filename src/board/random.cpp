#include "board/random.h"

#include <mutex>

#include "platform/platform.h"

namespace korvane {
namespace {

// Marsaglia's three-word xorshift generator (period 2^96 - 1).
struct Xorshift96 {
  std::uint32_t x, y, z;
  std::uint32_t next() {
    const std::uint32_t t = x ^ (x << 10);
    x = y;
    y = z;
    z = (z ^ (z >> 26)) ^ (t ^ (t >> 5));
    return z;
  }
};

Xorshift96 seededGenerator() {
  std::uint32_t t = std::uint32_t(platform::nowMs());
  if (t == 0) t = 1;
  Xorshift96 g{0x01234567u, 0x89ABCDEFu, t};
  for (int i = 0; i < 20; ++i) g.next();  // the first outputs still show the seed
  return g;
}

}  // namespace

std::uint32_t nextRandom32() {
  static std::mutex lock;
  static Xorshift96 generator = seededGenerator();
  std::lock_guard<std::mutex> guard(lock);
  return generator.next();
}

}  // namespace korvane
