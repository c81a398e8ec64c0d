// The file-reading fuzz entry over truncations and flips of a few scripts:
// a text file with every line-end form, numbers for the scans and bytes
// above 127, and a binary file of numbers for every precision; each in text
// and binary mode, as bytes and as UTF-8, with system reads cut to one byte,
// a few bytes and more than a buffer; line reads with and without a maximum,
// reads of every size form (one past the library's buffer), scans from the file and from text with table and
// raw formats, seeks from each origin, tells, end tests, and fresh opens read
// whole and line by line against the model.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fuzz/corpus.h"

namespace {

// {flags, length of the file, the file, steps}
std::vector<uint8_t> seed(uint8_t flags, const std::string& file, const std::vector<uint8_t>& steps) {
  std::vector<uint8_t> s = {flags, uint8_t(file.size() & 0xFF), uint8_t(file.size() >> 8)};
  s.insert(s.end(), file.begin(), file.end());
  s.insert(s.end(), steps.begin(), steps.end());
  return s;
}

// Ops: 0 fgetl, 1 fgets, 2 with a maximum, 3 fread (a: precision, bit 7 a
// star; b: size form and count, (8 << 2) | 1 a read past the library's
// buffer), 4 fscanf, 5 sscanf, 6 fseek, 7 ftell, 8 feof, 9 open again,
// 10 whole read against the model, 11 line loop against the model,
// 12 fscanf and 13 sscanf with a raw format of a % 8 bytes after the step.
const std::vector<uint8_t> kTextSteps = {
    11, 0, 0,  0, 0, 0,   1, 0, 0,   2, 3, 0,   2, 3, 1,    4, 0, 1,   4, 6, 2,   7, 0, 0,   8, 0, 0,
    6, 0, 2,   0, 0, 0,   6, 1, 0xFD, 1, 0, 0,  6, 2, 0xFE, 0, 0, 0,   8, 0, 0,   6, 3, 0,   5, 0, 0x31,
    5, 7, 0x62, 4, 8, 0,  4, 9, 1,   4, 12, 2,  4, 14, 0,   4, 15, 0,  9, 0, 0,   4, 2, 0,   4, 3, 1,
    12, 2, 2, '%', 'd',  13, 5, 9, '%', '*', 'd', '%', 's',  3, 9, 0x81,  3, 0x89, 5,  3, 0, 0x40,
    10, 0, 0,  3, 0x89, 0x21, 7, 0, 0, 6, 0, 2,  2, 0, 0,   7, 0, 0,   11, 0, 0,  14, 0, 0};

const std::vector<uint8_t> kBinarySteps = {
    10, 0, 0,  3, 1, 0x85, 3, 2, 0x05,  3, 3, 0x45, 7, 0, 0,   3, 14, 0x89, 3, 15, 0x86,  3, 22, 0x0A,
    3, 23, 0x0B, 3, 34, 0x07, 6, 0, 0,  3, 0xA8, 0x05, 3, 0x89, 0x09,  3, 10, 0x0D, 3, 11, 0x03,
    6, 5, 0xF8, 3, 0x8B, 0, 8, 0, 0,    3, 0xFF, 0xFF, 9, 0, 0,  11, 0, 0,  4, 0, 0,   6, 0x45, 0xFF};

std::string numbers_file() {
  std::string f;
  const double d[] = {1.5, -2.25, 1e300};
  const float s[] = {3.5f, -0.125f};
  const int32_t i[] = {-1, 65536, 7};
  f.append(reinterpret_cast<const char*>(d), sizeof d);
  f.append(reinterpret_cast<const char*>(s), sizeof s);
  f.append(reinterpret_cast<const char*>(i), sizeof i);
  f += "\r\n\xff\x80\x01";
  return f;
}

TEST(FileReadCorpus, EveryInputGivesTheSameAnswerCutOrWhole) {
  const std::string text = "12 34\r\n5.5e1 abc\r\n\r\nx\ry\n0x1F 017\n\xc3\xa9t\xe9\r";
  int runs = 0;
  // Flags: bit 0 text mode, bit 1 UTF-8, bits 2-4 the cut (1, 2, 3, 5, 8,
  // 64, 4097 or 70000 bytes a system read), bits 5-7 the cut's seed.
  for (uint8_t flags : {0x01, 0x00, 0x0B, 0x05, 0x15, 0x1D}) {
    runs += run_corpus(seed(flags, text, kTextSteps), 3, 4);
    runs += run_corpus(seed(flags, numbers_file(), kBinarySteps), 3, 4);
  }
  // A CR LF split by every cut, and a file of nothing but line ends.
  for (uint8_t flags : {0x01, 0x05, 0x09}) {
    runs += run_seed(seed(flags, "a\r\nb\r\n\r\rc\n\r", kTextSteps));
    runs += run_seed(seed(flags, "\n\r\n\r\r\n\n", kTextSteps));
  }
  runs += run_seed(seed(1, "", kTextSteps));
  EXPECT_GT(runs, 0);
}

}  // namespace
