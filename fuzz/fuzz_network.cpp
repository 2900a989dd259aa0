// Network text (with the scale in front, as in a material file) through the
// reader and a forward pass; a network that was read writes the same text
// after another read.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "eval/material_net.h"
#include "fuzz_support.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MaterialNet net;
  if (!net.load(fuzz::ScratchFile(data, size).name()) || !net.usable()) return 0;
  const std::vector<double> inputs(std::size_t(net.inputCount()), 1.0);
  net.forward(inputs.data());

  std::ostringstream first;
  FUZZ_CHECK(net.write(first));
  MaterialNet again;
  std::istringstream in(first.str());
  FUZZ_CHECK(again.read(in));
  std::ostringstream second;
  FUZZ_CHECK(again.write(second));
  FUZZ_CHECK(first.str() == second.str());
  return 0;
}
