// The data text reader's fuzz entry over truncations and flips of a few
// written texts: headers with and without link lines, each line-end style,
// plain text, and bodies that are refused; then every token of the fuzz
// dictionary as a body of its own, so that the dictionary stays readable.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "fuzz/corpus.h"

namespace {

std::vector<uint8_t> bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST(DataTextCorpus, EveryInputGivesAnAnswer) {
  const std::string seeds[] = {
      "%TN xdata \"matrix\"\r\n%TN link 03 07\r\n[1,2\r\n3,4]\r\n",
      "%TN xdata \"cell\"\nreshape({1, ...\n'a\\tb', ...\n{int8(5)}},[1,3])\n",
      "%TN xdata \"s\"\rstruct('a',[1:4],'b',true(1,3))\r",
      "%TN xdata \"x\"\n[7*ones(1,4),zeros(1,6),1+2j,NaN,-Inf]",
      "%TN xdata \"bad\"\nsin(1)\n",
      "%TN xdata \"two\"\n1, 2\n",
      "1\t2\t3\r\n4\t5\t6\r\n",
  };
  int runs = 0;
  for (const std::string& s : seeds) runs += run_corpus(bytes(s), s.size(), 1);
  EXPECT_GT(runs, 0);
}

// Inputs the target once stopped on, kept whole; the entry keeps its block
// from one input to the next, as libFuzzer runs it, so the pairs run in order.
TEST(DataTextCorpus, KeptFindings) {
  // A body whose value fills most of the data stack: the model read it
  // while the engine's value still lay there, and found no room.
  EXPECT_EQ(run_seed(bytes("%TN xdata \"\n5:5555")), 0);
  // A function reference whose name is no identifier: written as "@1)", it
  // did not read back.
  EXPECT_EQ(run_seed(bytes("%TN xdata \"f\"\nstr2fun('1)')")), 0);
  EXPECT_EQ(run_seed(bytes("%TN xdata \"f\"\n{str2fun('+'), str2fun('')}")), 0);
  // A body assigning NaN, refused, made NaN a variable for every later body.
  EXPECT_EQ(run_seed(bytes("%TN xdata \"row\"\n[nan 3]")), 0);
  EXPECT_EQ(run_seed(bytes("%TN xdata \"v\"\nNaN=1")), 0);
  EXPECT_EQ(run_seed(bytes("%TN xdata \"row\"\n[nan 3]")), 0);
  EXPECT_EQ(run_seed(bytes("%TN xdata \"row\"\n[NaN 3]")), 0);
}

// The values of a libFuzzer dictionary: name="value" lines, with \\, \" and
// \xHH escapes; comments and blank lines skipped.
std::vector<std::string> dictionary_values(const char* path) {
  std::ifstream in(path);
  std::vector<std::string> values;
  for (std::string line; std::getline(in, line);) {
    const size_t open = line.find('"');
    if (line.empty() || line[0] == '#' || open == std::string::npos || line.back() != '"') continue;
    std::string v;
    for (size_t k = open + 1; k + 1 < line.size(); ++k) {
      if (line[k] != '\\') { v += line[k]; continue; }
      if (line[++k] == 'x') v += char(std::stoi(line.substr(k + 1, 2), nullptr, 16)), k += 2;
      else v += line[k];
    }
    values.push_back(v);
  }
  return values;
}

TEST(DataTextCorpus, EveryDictionaryTokenAsABody) {
  const std::vector<std::string> tokens = dictionary_values(DATA_TEXT_DICT);
  ASSERT_GE(tokens.size(), 40u);
  EXPECT_EQ(tokens[0], "%TN xdata \"");
  for (const std::string& t : tokens) {
    const std::string text = "%TN xdata \"t\"\n" + t + "1)\n";
    EXPECT_EQ(run_seed(bytes(text)), 0) << t;
  }
}

}  // namespace
