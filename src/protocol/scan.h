// Small readers for command lines. They never read past the terminating NUL,
// never depend on the locale, and saturate instead of overflowing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvane::scan {

// Space, tab, line feed, vertical tab, form feed, carriage return.
constexpr bool isWhite(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
constexpr bool isDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

inline const char* skipWhite(const char* p) {
  while (isWhite(*p)) ++p;
  return p;
}

// Steps over one character unless the text has ended.
inline const char* skipOne(const char* p) { return *p ? p + 1 : p; }

// Like "%d": white space, an optional sign, at least one digit. Values beyond
// the range of int are taken as its nearest end.
bool readInt(const char* p, int& out);
// Like "%u": as readInt, a negative value wrapping round to unsigned.
bool readUnsigned(const char* p, unsigned& out);
// Like "%ld" with a 64-bit long.
bool readInt64(const char* p, std::int64_t& out);
// The protocol's number reader: white space, one optional '-', digits up to
// the first non-digit; 0 when there are none.
std::int64_t readNumber(const char* p);
// Like "%Ns": skips white space and copies at most `maxLength` non-white
// characters. False when there is no word.
bool readWord(const char* p, std::size_t maxLength, std::string& out);

}  // namespace korvane::scan
