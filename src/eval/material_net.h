// A small feed-forward network evaluated in double precision, described by a
// plain-text format. Two instances are used: the material network (11 inputs,
// 8 hidden units, 1 output), which estimates the winning expectation of a
// material configuration, and the root-statistics network (5 inputs, 7 hidden
// units, 1 output) of the search's time control.
//
// Layer 0 holds the inputs plus one bias node (value 1.0) at the end; the last
// layer holds the outputs (linear); the layers between are hidden (logistic).
// Each node keeps its outgoing connections, always towards a later layer; the
// bias node is connected to every hidden node and then to every output node.
//
// Text format (whitespace-separated tokens, line breaks carry no meaning):
//   N, then N integers: L, L pairs (layer, node count), then connections as
//   quadruples (from layer, from node, to layer, to node);
//   then the weights: input nodes in order, the bias node, then every hidden
//   node, each with the weights of its outgoing connections in creation order.
// The material network's file carries its scale (network output to
// millipawns) in front of that text.
//
// A network is only replaced by a text that parses completely: a failed read
// or load leaves the previous network (and scale) in place. forward() does not
// allocate; a network belongs to one thread while it runs.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

class MaterialNet {
 public:
  struct Connection {
    int layer;  // target layer
    int node;   // target node in that layer
    double weight;
  };
  struct Node {
    double accumulator = 0.0;
    double value = 0.0;  // input value or output of the node
    std::vector<Connection> out;
  };

  // Limits on what a text may ask for, so that a broken or hostile file
  // cannot make the reader allocate without bound.
  static constexpr int MAX_TOPOLOGY_INTEGERS = 1 << 20;
  static constexpr int MAX_LAYERS = 64;
  static constexpr int MAX_NODES_PER_LAYER = 4096;

  // An empty network; load() or read() gives it its shape.
  MaterialNet() = default;

  // Loads the material network: the built-in one for an empty name or
  // "(internal)", else the scale and the network text from the named file.
  // A file that cannot be opened or parsed, or whose scale is not a positive
  // finite number, leaves the network unchanged and answers false.
  bool load(std::string_view name);
  // Parses a network text (no scale). On failure the network is unchanged.
  bool read(std::istream& in);
  // Writes the network text (no scale) in the program's file format.
  bool write(std::ostream& out) const;
  // Writes the scale line the material file starts with.
  bool writeScale(std::ostream& out) const;
  // Runs the network on inputs[0 .. inputCount()-1] and returns output 0
  // (0.0 for a network that was never read).
  double forward(const double* inputs);

  bool usable() const { return layers_.size() >= 3; }
  int inputCount() const { return layers_.empty() ? 0 : int(layers_[0].size()) - 1; }
  int outputCount() const { return layers_.empty() ? 0 : int(layers_.back().size()); }
  double netScale() const { return netScale_; }
  const std::string& loadedName() const { return loadedName_; }
  // Number of forward() calls so far (a test and statistics counter).
  std::uint64_t forwardCalls() const { return forwardCalls_; }

  // Direct access for training, which changes weights but not the shape.
  std::vector<std::vector<Node>>& layers() { return layers_; }
  const std::vector<std::vector<Node>>& layers() const { return layers_; }
  void setNetScale(double s) { netScale_ = s; }

 private:
  std::vector<std::vector<Node>> layers_;
  std::vector<int> topology_;  // the integers of the text, kept for writing
  double netScale_ = 0.487065;
  std::string loadedName_;
  std::uint64_t forwardCalls_ = 0;
};

// The name under which the built-in material network is loaded.
constexpr std::string_view INTERNAL_NET_NAME = "(internal)";

// The built-in texts: the material network with its scale in front, and the
// root-statistics network without one.
extern const char* const BUILTIN_MATERIAL_NET;
extern const char* const BUILTIN_ROOT_NET;

}  // namespace korvane
