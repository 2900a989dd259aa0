// Reads the perft reference positions shared by the board tests.
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace korvane::test {

struct PerftCase {
  std::string fen;
  std::vector<std::uint64_t> counts;  // counts[d - 1] = leaves at depth d
  std::string note;
};

inline std::vector<PerftCase> loadPerftCases() {
  std::vector<PerftCase> cases;
  std::ifstream in(std::string(KORVANE_DATA_DIR) + "/perft.epd");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    PerftCase c;
    std::size_t semi = line.find(';');
    c.fen = line.substr(0, semi);
    while (semi != std::string::npos) {
      std::size_t next = line.find(';', semi + 1);
      std::string field = line.substr(semi + 1, next == std::string::npos ? std::string::npos : next - semi - 1);
      if (field.size() > 1 && field[0] == 'D')
        c.counts.push_back(std::stoull(field.substr(field.find(' ') + 1)));
      else
        c.note = field;
      semi = next;
    }
    cases.push_back(c);
  }
  return cases;
}

}  // namespace korvane::test
