#include "protocol/scan.h"

#include <limits>

namespace korvane::scan {

namespace {

// Reads an optionally signed decimal into a saturated 64-bit value.
bool readSigned(const char* p, bool allowPlus, std::int64_t& out) {
  p = skipWhite(p);
  bool negative = false;
  if (*p == '-' || (allowPlus && *p == '+')) {
    negative = *p == '-';
    ++p;
  }
  if (!isDigit(*p)) return false;
  constexpr std::int64_t limit = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  for (; isDigit(*p); ++p) {
    int digit = *p - '0';
    value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
  }
  out = negative ? -value : value;
  return true;
}

}  // namespace

bool readInt64(const char* p, std::int64_t& out) { return readSigned(p, true, out); }

bool readInt(const char* p, int& out) {
  std::int64_t value;
  if (!readSigned(p, true, value)) return false;
  constexpr std::int64_t low = std::numeric_limits<int>::min(), high = std::numeric_limits<int>::max();
  out = int(value < low ? low : value > high ? high : value);
  return true;
}

bool readUnsigned(const char* p, unsigned& out) {
  std::int64_t value;
  if (!readSigned(p, true, value)) return false;
  constexpr std::int64_t high = std::numeric_limits<unsigned>::max();
  if (value > high) value = high;
  if (value < -high) value = -high;
  out = unsigned(std::uint64_t(value));
  return true;
}

std::int64_t readNumber(const char* p) {
  std::int64_t value = 0;
  return readSigned(p, false, value) ? value : 0;
}

bool readWord(const char* p, std::size_t maxLength, std::string& out) {
  p = skipWhite(p);
  out.clear();
  while (*p && !isWhite(*p) && out.size() < maxLength) out += *p++;
  return !out.empty();
}

}  // namespace korvane::scan
