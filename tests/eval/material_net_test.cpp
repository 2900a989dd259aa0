// The material network: the built-in texts, the file format written and read
// back, and the refusal of broken texts without harm to the loaded network.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "eval/evaluator.h"
#include "eval/material_net.h"
#include "eval_helpers.h"

namespace korvane {
namespace {

// Material counts (queens, rooks, bishops, knights, pawns for both sides, then
// the bishop-colour code) that the network is asked about.
const std::vector<std::vector<double>> SAMPLE_INPUTS = {
    {1, 2, 2, 2, 8, 1, 2, 2, 2, 8, 0}, {1, 2, 2, 2, 8, 1, 2, 1, 2, 8, 0}, {0, 1, 1, 0, 5, 0, 1, 0, 1, 5, -1},
    {0, 0, 1, 0, 3, 0, 0, 1, 0, 3, 1},  {1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}, {0, 2, 0, 1, 6, 1, 0, 1, 0, 4, 0},
};

std::vector<double> outputs(MaterialNet& net) {
  std::vector<double> out;
  for (const auto& in : SAMPLE_INPUTS) out.push_back(net.forward(in.data()));
  return out;
}

std::string written(const MaterialNet& net) {
  std::ostringstream out;
  EXPECT_TRUE(net.writeScale(out));
  EXPECT_TRUE(net.write(out));
  return out.str();
}

// Replaces the first whitespace-separated token after `skip` tokens.
std::string withToken(const std::string& text, int skip, const std::string& token) {
  std::istringstream in(text);
  std::ostringstream out;
  std::string word;
  for (int i = 0; in >> word; ++i) out << (i == skip ? token : word) << ' ';
  return out.str();
}

bool readText(MaterialNet& net, const std::string& text) {
  std::istringstream in(text);
  return net.read(in);
}

TEST(MaterialNet, BuiltInTexts) {
  EXPECT_EQ(std::strlen(BUILTIN_MATERIAL_NET), 2168u);
  EXPECT_EQ(std::strlen(BUILTIN_ROOT_NET), 1025u);
  MaterialNet net;
  ASSERT_TRUE(net.load("(internal)"));
  EXPECT_EQ(net.inputCount(), 11);
  EXPECT_EQ(net.outputCount(), 1);
  EXPECT_DOUBLE_EQ(net.netScale(), 0.487065);
  ASSERT_EQ(net.layers().size(), 3u);
  EXPECT_EQ(net.layers()[1].size(), 8u);
  // Every weight through their count, sum and sum of squares (worked out
  // from the weight lines of the text).
  int count = 0;
  double sum = 0.0, squares = 0.0;
  for (const auto& layer : net.layers())
    for (const auto& node : layer)
      for (const auto& link : node.out) {
        ++count;
        sum += link.weight;
        squares += link.weight * link.weight;
      }
  EXPECT_EQ(count, 105);
  EXPECT_NEAR(sum, 2.4426699283, 1e-8);
  EXPECT_NEAR(squares, 286.5075978419, 1e-8);

  MaterialNet root;
  ASSERT_TRUE(readText(root, BUILTIN_ROOT_NET));
  EXPECT_EQ(root.inputCount(), 5);
  EXPECT_EQ(root.layers()[1].size(), 7u);
  EXPECT_DOUBLE_EQ(root.layers()[0][1].out[3].weight, -8.623394538e-005);
}

// The written text: scale, 14 lines of topology (N and 391 integers, a line
// break after every 30th integer and after the last), 12 weight lines for the
// input and bias nodes, 8 for the hidden nodes, an empty line. Read back
// (also from a file with a byte-order mark) it gives the same outputs and
// the same text.
TEST(MaterialNet, WrittenTextReadsBack) {
  MaterialNet net;
  ASSERT_TRUE(net.load(""));
  const std::string text = written(net);
  EXPECT_EQ(text.rfind("0.487065 \n391 3 0 11 1 8 2 1 0 0 1 0 ", 0), 0u) << text.substr(0, 60);
  std::istringstream lines(text);
  std::vector<std::string> all;
  for (std::string line; std::getline(lines, line);) all.push_back(line);
  ASSERT_EQ(all.size(), 1u + 14u + 12u + 8u + 1u);
  EXPECT_EQ(all[1].back(), ' ');
  EXPECT_EQ(all[14], "0 ");
  EXPECT_EQ(all[15].rfind("-0.6124834193 -3.076349045 ", 0), 0u);
  EXPECT_EQ(all[26].rfind("-0.44958609 ", 0), 0u);
  EXPECT_EQ(all[27], "1.158748346 ");
  EXPECT_EQ(all.back(), "");

  const std::string path = ::testing::TempDir() + "korvane_net_roundtrip.mat";
  for (const char* mark : {"", "\xEF\xBB\xBF"}) {
    std::ofstream(path) << mark << text;
    MaterialNet again;
    ASSERT_TRUE(again.load(path));
    EXPECT_EQ(again.loadedName(), path);
    EXPECT_DOUBLE_EQ(again.netScale(), 0.487065);
    const std::vector<double> before = outputs(net), after = outputs(again);
    for (std::size_t i = 0; i < before.size(); ++i)
      EXPECT_NEAR(after[i], before[i], std::abs(before[i]) * 1e-10 + 1e-12) << "input set " << i;
    EXPECT_EQ(written(again), text);
  }
  std::remove(path.c_str());

  // The root-statistics network too.
  MaterialNet root, rootAgain;
  ASSERT_TRUE(readText(root, BUILTIN_ROOT_NET));
  std::ostringstream rootText;
  ASSERT_TRUE(root.write(rootText));
  ASSERT_TRUE(readText(rootAgain, rootText.str()));
  const double in[5] = {3, 0.5, 0.25, 0.125, -0.1};
  EXPECT_NEAR(rootAgain.forward(in), root.forward(in), 1e-10);
}

TEST(MaterialNet, BrokenTextsAreRefusedAndLeaveTheNetwork) {
  MaterialNet net;
  ASSERT_TRUE(net.load(""));
  const std::vector<double> before = outputs(net);
  std::ostringstream plain;
  ASSERT_TRUE(net.write(plain));
  const std::string text = plain.str();  // without the scale: token 0 is N
  ASSERT_TRUE(readText(net, text));

  const std::vector<std::pair<std::string, std::string>> broken = {
      {"N one too large", withToken(text, 0, "392")},
      {"N one too small", withToken(text, 0, "390")},
      {"two layers", withToken(text, 1, "2")},
      {"layer index out of range", withToken(text, 2, "3")},
      {"layer defined twice", withToken(text, 4, "0")},
      {"connection to a missing node", withToken(text, 11, "8")},
      {"connection to a missing layer", withToken(text, 10, "3")},
      {"connection backwards", withToken(text, 10, "0")},
      {"a word among the weights", withToken(text, 400, "x1.5")},
      {"a number with junk", withToken(text, 400, "1.5e")},
      {"not a number", withToken(text, 400, "nan")},
      {"a number too long to be one token", withToken(text, 400, "0." + std::string(70, '1'))},
      {"weights cut off", text.substr(0, text.size() / 2 + 400)},
      {"topology cut off", text.substr(0, 200)},
      {"empty", ""},
      {"huge N", "2000000000 3 0 1 1 1 2 1"},
      {"negative N", "-5 1 2 3"},
  };
  for (const auto& [what, bad] : broken) {
    EXPECT_FALSE(readText(net, bad)) << what;
    EXPECT_EQ(outputs(net), before) << what << ": the network in force stays";
    EXPECT_EQ(net.inputCount(), 11) << what;
  }

  // Files: missing, a bad scale line, cut short.
  EXPECT_FALSE(net.load("/nonexistent/korvane/net.mat"));
  const std::string path = ::testing::TempDir() + "korvane_net_bad.mat";
  const std::string good = written(net), body = good.substr(good.find('\n') + 1);
  for (const std::string& bad : {"0 " + body, "-1 " + body, "scale " + body, good.substr(0, good.size() - 40)}) {
    std::ofstream(path) << bad;
    EXPECT_FALSE(net.load(path));
    EXPECT_EQ(outputs(net), before);
    EXPECT_DOUBLE_EQ(net.netScale(), 0.487065);
    EXPECT_EQ(net.loadedName(), "(internal)");
  }
  std::remove(path.c_str());
}

}  // namespace
}  // namespace korvane
