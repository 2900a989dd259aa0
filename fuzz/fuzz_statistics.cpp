// Material statistics lines through the reader: every sample it takes is
// made of finite numbers and has a positive weight.
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>

#include "learn/training.h"
#include "fuzz_support.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  SampleSet set;
  FUZZ_CHECK(readStatistics(in, set) == int(set.samples.size()));
  for (const TrainingSample& s : set.samples) {
    for (double input : s.inputs) FUZZ_CHECK(std::isfinite(input));
    FUZZ_CHECK(s.target >= 0.0 && s.target <= 1.0);
    FUZZ_CHECK(std::isfinite(s.bias));
    FUZZ_CHECK(std::isfinite(s.weight) && s.weight > 0.0);
  }
  return 0;
}
