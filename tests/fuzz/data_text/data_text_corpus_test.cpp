// The data text reader's fuzz entry over truncations and flips of a few
// written texts: headers with and without link lines, each line-end style,
// plain text, and bodies that are refused.
#include <gtest/gtest.h>

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

}  // namespace
