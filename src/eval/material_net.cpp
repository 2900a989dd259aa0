#include "eval/material_net.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <istream>
#include <ostream>
#include <sstream>

#include "board/random.h"
#include "platform/files.h"

namespace korvane {

// Material network: scale, topology (11 inputs, 8 hidden, 1 output, fully
// connected input-major, then hidden to output) and its 105 weights.
const char* const BUILTIN_MATERIAL_NET =
    "0.487065\n"
    "391\n"
    "3 0 11 1 8 2 1 0 0 1 0 0 0 1 1 0 0 1 2 0 0 1 3 0 0 1 4 0 0 1\n"
    "5 0 0 1 6 0 0 1 7 0 1 1 0 0 1 1 1 0 1 1 2 0 1 1 3 0 1 1 4 0\n"
    "1 1 5 0 1 1 6 0 1 1 7 0 2 1 0 0 2 1 1 0 2 1 2 0 2 1 3 0 2 1\n"
    "4 0 2 1 5 0 2 1 6 0 2 1 7 0 3 1 0 0 3 1 1 0 3 1 2 0 3 1 3 0\n"
    "3 1 4 0 3 1 5 0 3 1 6 0 3 1 7 0 4 1 0 0 4 1 1 0 4 1 2 0 4 1\n"
    "3 0 4 1 4 0 4 1 5 0 4 1 6 0 4 1 7 0 5 1 0 0 5 1 1 0 5 1 2 0\n"
    "5 1 3 0 5 1 4 0 5 1 5 0 5 1 6 0 5 1 7 0 6 1 0 0 6 1 1 0 6 1\n"
    "2 0 6 1 3 0 6 1 4 0 6 1 5 0 6 1 6 0 6 1 7 0 7 1 0 0 7 1 1 0\n"
    "7 1 2 0 7 1 3 0 7 1 4 0 7 1 5 0 7 1 6 0 7 1 7 0 8 1 0 0 8 1\n"
    "1 0 8 1 2 0 8 1 3 0 8 1 4 0 8 1 5 0 8 1 6 0 8 1 7 0 9 1 0 0\n"
    "9 1 1 0 9 1 2 0 9 1 3 0 9 1 4 0 9 1 5 0 9 1 6 0 9 1 7 0 10 1\n"
    "0 0 10 1 1 0 10 1 2 0 10 1 3 0 10 1 4 0 10 1 5 0 10 1 6 0 10 1 7 1\n"
    "0 2 0 1 1 2 0 1 2 2 0 1 3 2 0 1 4 2 0 1 5 2 0 1 6 2 0 1 7 2\n"
    "0\n"
    "-0.6124834193 -3.076349045 1.893657048 3.07902718 3.807827247 0.81683931 -1.979877147 -4.688703118\n"
    "-0.4205150787 -2.288442937 1.219471287 1.515883291 2.431529179 -0.06577139368 -1.381074114 -2.66887039\n"
    "0.6604117957 -1.428735701 0.3298933365 1.002136754 1.786562403 0.6190910692 -0.8411813072 -1.506806983\n"
    "-0.2226371483 -1.157123084 0.6999091704 0.8959137657 1.489071386 0.1841640609 -1.012245327 -1.597507027\n"
    "-0.23600796 -0.6094416672 0.1118287156 0.350827205 0.4512138938 0.05122083959 -0.1304099811 -0.3048996154\n"
    "0.05817605165 1.400991409 -2.77955838 -2.368052686 -3.507544204 -0.2967525219 2.767556162 4.932868049\n"
    "0.09837988655 1.176198608 -1.879369816 -0.948718472 -2.206630012 0.2957522074 2.031077715 2.838138104\n"
    "-0.2023407366 0.6495122525 -0.8293938897 -0.6009471223 -1.465267804 -1.23926271 1.316746632 1.68144775\n"
    "0.06503844877 0.9016073903 -0.8859594416 -0.6985735915 -1.446873601 -0.01684099687 1.279686003 1.645466604\n"
    "0.01086161959 0.3043368714 -0.3273585561 -0.1329181967 -0.3379153592 0.1287084153 0.4112362265 0.4733222301\n"
    "-0.1106105432 0.3351887862 0.1696558661 -0.07830782806 -0.1233915894 -0.004079481879 -0.05449946539 -0.02245759639\n"
    "-0.44958609 -0.02977638246 0.1864011467 -1.875374672 1.549301983 1.69294822 -3.103664751 1.663359474 -1.938443919\n"
    "1.158748346 -2.071748794 3.622716809 2.994172928 -3.418823606 1.044601677 -1.272803411 3.11491579\n";

// Root-statistics network: 5 inputs, 7 hidden, 1 output, 50 weights, no scale.
const char* const BUILTIN_ROOT_NET =
    "175\n"
    "3 0 5 1 7 2 1 0 0 1 0 0 0 1 1 0 0 1 2 0 0 1 3 0 0 1 4 0 0 1\n"
    "5 0 0 1 6 0 1 1 0 0 1 1 1 0 1 1 2 0 1 1 3 0 1 1 4 0 1 1 5 0\n"
    "1 1 6 0 2 1 0 0 2 1 1 0 2 1 2 0 2 1 3 0 2 1 4 0 2 1 5 0 2 1\n"
    "6 0 3 1 0 0 3 1 1 0 3 1 2 0 3 1 3 0 3 1 4 0 3 1 5 0 3 1 6 0\n"
    "4 1 0 0 4 1 1 0 4 1 2 0 4 1 3 0 4 1 4 0 4 1 5 0 4 1 6 1 0 2\n"
    "0 1 1 2 0 1 2 2 0 1 3 2 0 1 4 2 0 1 5 2 0 1 6 2 0\n"
    "-0.1116915922 -2.059067852 -1.881491789 -0.4785466302 -0.4023552169 -0.1749261788 -0.3558861167\n"
    "-0.387036496 -0.6282162458 -0.3793297982 -8.623394538e-005 -1.654247695 -1.6498586 0.230896728\n"
    "-0.1016713724 -1.066245707 0.1126645675 -0.004450100671 -1.124844097 -4.112356547 1.380365101\n"
    "-0.06954174705 0.2915069943 0.3306400527 -0.02817847373 -0.4779170838 -0.3534439884 0.6880568232\n"
    "-0.5224101176 1.812899242 -1.759670046 0.3840847475 -0.559545157 1.519264998 0.56925455\n"
    "-0.06905703306 -0.2799752004 0.356025281 -0.03114436815 1.601007643 -0.1733847473 -0.6987914504 0.01897133522\n"
    "0.4810731508 1.378735925 -0.8011004178 -0.1697505966 1.735214589 -2.748732877 -1.355331637\n";

namespace {

// Uniform in [0, 1).
double unitRandom() { return double(nextRandom32()) * (1.0 / 4294967296.0); }

// No number of a network text comes near this length.
constexpr int MAX_TOKEN = 63;

// Reads one whitespace-separated token; a longer one than MAX_TOKEN is an
// error rather than two numbers.
bool nextToken(std::istream& in, std::string& token) {
  in >> std::setw(MAX_TOKEN + 1) >> token;
  return bool(in) && token.size() <= std::size_t(MAX_TOKEN);
}

bool readInt(std::istream& in, std::string& token, int& value) {
  if (!nextToken(in, token)) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(token.c_str(), &end, 10);
  if (end == token.c_str() || *end != '\0' || errno == ERANGE || v < -2147483647L || v > 2147483647L)
    return false;
  value = int(v);
  return true;
}

bool readDouble(std::istream& in, std::string& token, double& value) {
  if (!nextToken(in, token)) return false;
  char* end = nullptr;
  const double v = std::strtod(token.c_str(), &end);
  if (end == token.c_str() || *end != '\0' || !std::isfinite(v)) return false;
  value = v;
  return true;
}

}  // namespace

bool MaterialNet::read(std::istream& in) {
  std::string token;
  int n = 0;
  if (!readInt(in, token, n) || n < 1 || n > MAX_TOPOLOGY_INTEGERS) return false;
  std::vector<int> topology(std::size_t(n), 0);
  for (int& v : topology)
    if (!readInt(in, token, v)) return false;

  // Layers and their nodes.
  std::size_t used = 0;
  const int layerCount = topology[used++];
  if (layerCount < 3 || layerCount > MAX_LAYERS) return false;
  const auto layerSlots = std::size_t(layerCount);
  std::vector<std::vector<Node>> layers(layerSlots);
  std::vector<bool> defined(layerSlots, false);
  for (int i = 0; i < layerCount; ++i) {
    if (used + 2 > topology.size()) return false;
    const int layer = topology[used++];
    const int count = topology[used++];
    if (layer < 0 || layer >= layerCount || defined[std::size_t(layer)]) return false;
    if (count < 1 || count > MAX_NODES_PER_LAYER) return false;
    defined[std::size_t(layer)] = true;
    layers[std::size_t(layer)].resize(std::size_t(count + (layer == 0 ? 1 : 0)));  // inputs get the bias node
  }

  // Connections with random initial weights; reading the weights overwrites them.
  while (topology.size() - used >= 4) {
    const int fromLayer = topology[used], fromNode = topology[used + 1];
    const int toLayer = topology[used + 2], toNode = topology[used + 3];
    used += 4;
    if (fromLayer < 0 || toLayer <= fromLayer || toLayer >= layerCount) return false;
    if (fromNode < 0 || fromNode >= int(layers[std::size_t(fromLayer)].size())) return false;
    if (toNode < 0 || toNode >= int(layers[std::size_t(toLayer)].size())) return false;
    layers[std::size_t(fromLayer)][std::size_t(fromNode)].out.push_back({toLayer, toNode, unitRandom() - 0.5});
  }
  if (used != topology.size()) return false;

  // The bias node feeds every hidden node, layer by layer, then every output.
  Node& bias = layers[0].back();
  for (int layer = 1; layer < layerCount; ++layer)
    for (int node = 0; node < int(layers[std::size_t(layer)].size()); ++node)
      bias.out.push_back({layer, node, unitRandom() * 0.5 - 0.25});

  // Weights: input layer (bias node last), then the hidden layers.
  for (int layer = 0; layer + 1 < layerCount; ++layer)
    for (Node& node : layers[std::size_t(layer)])
      for (Connection& c : node.out)
        if (!readDouble(in, token, c.weight)) return false;

  layers_ = std::move(layers);
  topology_ = std::move(topology);
  return true;
}

bool MaterialNet::write(std::ostream& out) const {
  if (!usable()) return false;
  char buf[40];
  out << topology_.size() << ' ';
  for (std::size_t i = 0; i < topology_.size(); ++i) {
    out << topology_[i] << ' ';
    if ((i + 1) % 30 == 0) out << '\n';
  }
  out << '\n';
  for (std::size_t layer = 0; layer + 1 < layers_.size(); ++layer) {
    for (const Node& node : layers_[layer]) {
      for (const Connection& c : node.out) {
        std::snprintf(buf, sizeof buf, "%.10g ", c.weight);
        out << buf;
      }
      out << '\n';
    }
  }
  out << '\n';
  return bool(out);
}

bool MaterialNet::writeScale(std::ostream& out) const {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.6g \n", netScale_);
  out << buf;
  return bool(out);
}

bool MaterialNet::load(std::string_view name) {
  const bool internal = name.empty() || name == INTERNAL_NET_NAME;
  std::ifstream file;
  std::istringstream builtin;
  if (internal) {
    builtin.str(BUILTIN_MATERIAL_NET);
  } else {
    if (!platform::openForReading(file, std::string(name))) return false;
    platform::skipByteOrderMark(file);
  }
  std::istream& in = internal ? static_cast<std::istream&>(builtin) : file;

  // Parse into a scratch network so that a broken file keeps the current one.
  std::string token;
  double scale = 0.0;
  if (!readDouble(in, token, scale) || !(scale > 0.0)) return false;
  MaterialNet scratch;
  if (!scratch.read(in)) return false;
  layers_ = std::move(scratch.layers_);
  topology_ = std::move(scratch.topology_);
  netScale_ = scale;
  loadedName_ = internal ? std::string(INTERNAL_NET_NAME) : std::string(name);
  return true;
}

double MaterialNet::forward(const double* inputs) {
  ++forwardCalls_;
  if (!usable()) return 0.0;
  for (std::size_t layer = 1; layer < layers_.size(); ++layer)
    for (Node& node : layers_[layer]) node.accumulator = 0.0;

  std::vector<Node>& inputLayer = layers_[0];
  const std::size_t inputs0 = inputLayer.size() - 1;
  for (std::size_t i = 0; i <= inputs0; ++i) {
    Node& node = inputLayer[i];
    node.value = i < inputs0 ? inputs[i] : 1.0;  // the last node is the bias
    for (const Connection& c : node.out)
      layers_[std::size_t(c.layer)][std::size_t(c.node)].accumulator += node.value * c.weight;
  }
  for (std::size_t layer = 1; layer + 1 < layers_.size(); ++layer) {
    for (Node& node : layers_[layer]) {
      node.value = 1.0 / (1.0 + std::exp(-node.accumulator));
      for (const Connection& c : node.out)
        layers_[std::size_t(c.layer)][std::size_t(c.node)].accumulator += node.value * c.weight;
    }
  }
  for (Node& node : layers_.back()) node.value = node.accumulator;
  return layers_.back()[0].value;
}

}  // namespace korvane
