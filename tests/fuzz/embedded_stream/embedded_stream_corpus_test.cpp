// The embedded-stream fuzz entry over truncations and flips of scripts on
// two records at once: text with every line-end form, base64 with and
// without padding and line ends and with data after its closing short group;
// reads of several sizes, seeks from each origin (past the end, beyond the
// farthest text position, negative), tells, end tests, codes past the seeks,
// writes, closes of one stream and of all, opens with an unknown mode or
// name and opens until no slot is free.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/lib/gray_base64.h"
#include "fuzz/corpus.h"
#include "fuzz/embedded_stream_model.h"

namespace {

// {flags, length of "d", length of "e", their data, steps}
std::vector<uint8_t> seed(uint8_t flags, const std::string& d, const std::string& e,
                          const std::vector<uint8_t>& steps) {
  std::string head = {char(flags), char(d.size() & 0xFF), char(d.size() >> 8), char(e.size() & 0xFF),
                      char(e.size() >> 8)};
  head += d + e;
  std::vector<uint8_t> s(head.begin(), head.end());
  s.insert(s.end(), steps.begin(), steps.end());
  return s;
}

TEST(EmbeddedStreamCorpus, EveryInputGivesAnAnswer) {
  // Ops (low four bits; 0x10 the second stream): 0 end test, 1 seek set,
  // 2 seek cur, 3 seek end, 4 tell, 5 flush, 6 read (value % 64 bytes),
  // 7 close (negative: all) and open again, 8 a code past the seeks, 9 open
  // until refused, 10 an unknown mode, 11 write, 12 an unknown name, 13 hooks
  // on descriptors that are no open stream, 14 a far seek (value % 3 the
  // origin, value * 4096 the offset), 15 read.
  const std::vector<uint8_t> steps = {
      6, 5, 0,    0x16, 4, 0,  4, 0, 0,     1, 100, 0,  0, 0, 0,    6, 1, 0,    2, 0xFD, 0xFF, 4, 0, 0,
      0x13, 5, 0, 0x14, 0, 0,  0x10, 0, 0,  6, 63, 0,   8, 0, 0,    0x18, 1, 0, 0x18, 0xFF, 0xFF,
      8, 95, 0,   9, 0, 0,     0x19, 0xFF, 0xFF,        10, 3, 0,   12, 1, 0,   11, 7, 0,   11, 0xFE, 0xFF,
      13, 0, 0,   13, 0xFF, 0xFF,  13, 0xE0, 3,  3, 0xFD, 0xFF,  15, 9, 0,   2, 0xFE, 0xFF,  0x17, 0, 0,
      14, 0xFE, 0x7F,  14, 0xFF, 0x7F,  0x1E, 0xFD, 0x7F,  0x1E, 0xFF, 0x7F,  14, 0x01, 0x80,  4, 0, 0,
      0x1F, 40, 0,  7, 0, 0,   6, 3, 0,     7, 0xFF, 0xFF,  0x16, 40, 0,  1, 0xF0, 0xFF,  0x15, 0, 0, 0x0F, 2, 0};
  int runs = 0;
  // Text and base64 (padded, line ends inside).
  runs += run_corpus(seed(2, "a\rb\r\nc\nd\r\r\n", "aGVs\r\nbG8=", steps), 24, 16);
  // Both base64: one unpadded, one with data after the short group that ends it.
  runs += run_corpus(seed(3, "aGVsbG8gd29ybGQ", "QQ==QUJD\nREVG", steps), 24, 16);
  // Two streams on one record: base64 and the same text read as text.
  runs += run_corpus(seed(5, "QUJD\nREVG\nR0g=\n", "", steps), 24, 16);
  // Both text on one record, and the second record empty.
  runs += run_corpus(seed(4, "one\ntwo\r\nthree", "", steps), 24, 16);
  runs += run_corpus(seed(0, "", "", steps), 8, 4);
  EXPECT_GT(runs, 0);
}

// The model decodes base64 on its own: it agrees with the engine's decoder
// on the examples of the format and on random texts over an alphabet of
// digits, padding, line ends, blanks and characters that count as 63.
TEST(EmbeddedStreamCorpus, TheModelsDecoderAgreesWithTheEngines) {
  const std::pair<const char*, const char*> examples[] = {
      {"TWFu", "Man"}, {"TQ==", "M"}, {"TW Fu", "Man"}, {"TWE=", "Ma"}, {"TWE", "Ma"}, {"TQ", "M"}, {"T", ""},
      {"QQ==QUJD", "A"}, {"aGVs\r\nbG8=", "hello"}, {"", ""}};
  for (const auto& [text, bytes] : examples) EXPECT_EQ(EmbeddedStreamModel::decoded(text), bytes) << text;
  std::mt19937 rng(64);
  const std::string alphabet = "AZaz09+/=\r\n \t:@[`_~\x01\xff";
  for (int round = 0; round < 4000; ++round) {
    std::string text(rng() % 24, 'A');
    for (char& ch : text) ch = alphabet[rng() % alphabet.size()];
    std::vector<uint8_t> out(3 * (text.size() / 4 + 2));
    int64_t length = 0;
    ASSERT_EQ(base64_decode_buffer(reinterpret_cast<const uint8_t*>(text.data()), int64_t(text.size()), out.data(),
                                   int64_t(out.size()), &length),
              0);
    ASSERT_EQ(EmbeddedStreamModel::decoded(text), std::string(out.begin(), out.begin() + length)) << text;
  }
}

}  // namespace
