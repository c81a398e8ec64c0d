// The embedded-stream fuzz entry over truncations and flips of scripts on
// text with every line-end form and on base64 with and without padding and
// line ends: reads of several sizes, absolute, relative and end-relative
// seeks (negative ones too), tells, end tests and closes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fuzz/corpus.h"

namespace {

// {mode, length, data, steps}
std::vector<uint8_t> seed(uint8_t mode, const std::string& data, const std::vector<uint8_t>& steps) {
  std::vector<uint8_t> s = {mode, uint8_t(data.size() & 0xFF), uint8_t(data.size() >> 8)};
  s.insert(s.end(), data.begin(), data.end());
  s.insert(s.end(), steps.begin(), steps.end());
  return s;
}

TEST(EmbeddedStreamCorpus, EveryInputGivesAnAnswer) {
  // Steps: 0 end test, 1 seek set, 2 seek cur, 3 seek end, 4 tell, 5 flush,
  // 6 read (value % 64 bytes), 7 close (negative: all) and open again.
  const std::vector<uint8_t> steps = {6, 5, 0, 4, 0, 0, 1, 2, 0, 6, 63, 0, 0, 0, 0, 3, 0xFD, 0xFF, 6, 9, 0,
                                      2, 0xFE, 0xFF, 4, 0, 0, 7, 0, 0, 6, 3, 0, 7, 0xFF, 0xFF, 6, 40, 0, 5, 0, 0};
  int runs = 0;
  runs += run_corpus(seed(0, "a\rb\r\nc\nd\r\r\n", steps), 20, 16);
  runs += run_corpus(seed(1, "aGVs\r\nbG8=", steps), 20, 16);
  runs += run_corpus(seed(1, "aGVsbG8gd29ybGQ", steps), 20, 16);
  runs += run_corpus(seed(1, "QUJD\nREVG\nR0g=\n", steps), 20, 16);
  runs += run_corpus(seed(0, "", steps), 8, 4);
  EXPECT_GT(runs, 0);
}

}  // namespace
