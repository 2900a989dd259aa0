// Helpers shared by the fuzz targets: a failed check that libFuzzer reports
// as a crash, and a scratch file for the readers that take a file name.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "protocol/scan.h"
#include "search/time_control.h"

// Stops the run with the failed condition; libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                \
  do {                                                                       \
    if (!(condition)) {                                                      \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, \
                   #condition);                                              \
      std::abort();                                                          \
    }                                                                        \
  } while (0)

namespace korvane::fuzz {

// The input as a file, for the readers that take a file name: in memory
// where the system offers it, named after the process, removed when done.
class ScratchFile {
 public:
  ScratchFile(const std::uint8_t* data, std::size_t size)
      : name_(std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/korvane-fuzz-" +
              std::to_string(getpid())) {
    std::FILE* file = std::fopen(name_.c_str(), "wb");
    FUZZ_CHECK(file != nullptr);
    if (size > 0) FUZZ_CHECK(std::fwrite(data, 1, size, file) == size);
    std::fclose(file);
  }
  ~ScratchFile() { unlink(name_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

// Reports are of no interest to a fuzz target.
inline void ignoreLine(const std::string&) {}


// The input as command lines, the way the driver hands them on: split at
// line feeds (a NUL ends a line's text), trailing white space removed, blank
// lines left out.
inline std::vector<std::string> commandLines(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i <= size; ++i) {
    if (i < size && data[i] != '\n') {
      line += char(data[i]);
      continue;
    }
    line.resize(std::string(line.c_str()).size());
    while (!line.empty() && scan::isWhite(line.back())) line.pop_back();
    if (*scan::skipWhite(line.c_str()) != '\0') lines.push_back(line);
    line.clear();
  }
  return lines;
}

// Searches stop after a few hundred nodes, whatever their limits say, so that
// one input stays fast.
class NodeCappedTimeControl final : public TimeControl {
 public:
  static constexpr std::uint64_t NODE_CAP = 500;
  bool mustStop(std::uint64_t nodes, bool failLowPending, bool haveBest) const override {
    return nodes >= NODE_CAP || TimeControl::mustStop(nodes, failLowPending, haveBest);
  }
};

}  // namespace korvane::fuzz
