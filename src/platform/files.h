// Opening the files the engine reads and writes.
//
// Reading: a directory named as a file is refused as a file that cannot be
// opened (the system would open it, and every read would then yield
// nothing). Text files saved by some editors start with the UTF-8 byte-order
// mark; the readers skip it.
//
// Writing: a write that fails shows only in the stream's error flag or at the
// close (a full disk often only at the close, when the buffer goes out), so
// both are checked before a file counts as written.
#pragma once

#include <cstddef>
#include <cstdio>
#include <fstream>
#include <istream>
#include <string>

namespace korvane::platform {

// fopen(name, "rb"), but null for a directory.
std::FILE* openForReading(const std::string& name);
// Opens the stream for reading; false (and the stream closed) for a file
// that cannot be opened or is a directory.
bool openForReading(std::ifstream& in, const std::string& name);

// Length of the byte-order mark at the start of the data: 3 or 0.
std::size_t byteOrderMarkLength(const char* data, std::size_t size);
// Skips a byte-order mark at the stream's current place (its start).
void skipByteOrderMark(std::istream& in);

// Closes the file; true only when every write and the close succeeded.
bool closeWritten(std::FILE* file);

}  // namespace korvane::platform
