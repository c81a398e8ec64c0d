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
#include "fuzz/file_read_model.h"

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

// Numbers for the scans held against the model: negative exponents in every
// form, exponents cut short, values past the range and below it, long digit
// runs (more digits than a double holds, and more than 64 bits), prefixes,
// signs on zero, literals between fields.
std::string numbers_text() {
  std::string digits;
  for (int k = 0; k < 30; ++k) digits += "3141592653";
  return "1e-3 -2.5E-07 .5e-2 -0.0e-0 7e- 3E+2x 1.e-1 -.25e-1\n"
         "123456789012345678901234567890 0.00000000000000000000000000000000000123456789e-300\n"
         "-99999999999999999999999e-25 1e400 2.2250738585072011e-308 4.9e-324 1e-330 -1e-0400\n"
         "0x1FfFfFfFfFfFfFfFfF 0b101 -017 +0x 0B2 12,34;56 %7.5 abc\tdef 1e+ 5E-x\n" +
         digits + "e-280 0." + digits + " " + digits.substr(0, 40) + "\r\n-0 +7 0777777777777777777777777 fff\n";
}

// The model steps: op 14 with the kind in bits 4-5. A scan's stretch and
// format come from a and b as the target derives them; the step is found
// that starts at `from` with format `format`, at least `length` long.
std::vector<uint8_t> scan_step(uint8_t op, size_t file_size, int format, size_t from, size_t length) {
  for (int b = 255; b >= 0; --b)
    for (int a = 0; a < 256; ++a) {
      const size_t at = (size_t(a) * 61 + size_t(b) * 7) % file_size;
      if ((a ^ (b >> 3)) % 36 == format && at == from && 1 + size_t(b % 64) * 12 >= length)
        return {op, uint8_t(a), uint8_t(b)};
    }
  return {op, uint8_t(format), 0};
}

TEST(FileReadCorpus, ScansAndReadsAgreeWithTheModels) {
  const std::string text = numbers_text();
  // Where each line of the text starts.
  std::vector<size_t> starts = {0};
  for (size_t k = 0; k < text.size(); ++k)
    if (text[k] == '\n') starts.push_back(k + 1);
  starts.pop_back();
  std::vector<uint8_t> scans, lines, reads;
  for (int format = 0; format < 36; ++format) {
    const size_t from = starts[size_t(format) % starts.size()];
    const std::vector<uint8_t> step = scan_step(format % 3 == 2 ? 0x5E : 0x0E, text.size(), format, from, 400);
    scans.insert(scans.end(), step.begin(), step.end());
  }
  // fscanf of each line (b % 6 lines skipped), raw formats of float
  // conversions after a star and a width.
  for (uint8_t skip = 0; skip < 6; ++skip)
    for (uint8_t format : {0, 1, 3, 4}) lines.insert(lines.end(), {0x1E, uint8_t(format ^ (skip >> 3)), skip});
  for (const char* raw : {"%*2f%f", "%3f", "%e%*c"}) {
    lines.insert(lines.end(), {0x8E, uint8_t(std::strlen(raw)), 0x45});
    lines.insert(lines.end(), raw, raw + std::strlen(raw));
  }
  // fread of every precision (a star on every other), each size form, after
  // skips; values written back and read with another precision.
  for (uint8_t p = 0; p < 36; ++p)
    reads.insert(reads.end(), {uint8_t(0x2E | (p % 4) << 6), uint8_t(p | (p % 2) << 7), uint8_t(p * 37)});
  for (uint8_t p = 0; p < 12; ++p) reads.insert(reads.end(), {0x3E, uint8_t(p * 3), uint8_t(p * 29)});
  int runs = 0;
  for (uint8_t flags : {0x00, 0x01, 0x09, 0x03}) {
    runs += run_seed(seed(flags, text, scans));
    runs += run_seed(seed(flags, text, lines));
    runs += run_seed(seed(flags, numbers_file(), reads));
    runs += run_seed(seed(flags, text, reads));
  }
  runs += run_corpus(seed(0x05, text, lines), 3, 6);
  runs += run_corpus(seed(0x00, numbers_file(), reads), 3, 6);
  EXPECT_GT(runs, 0);
}

// A read that finds fewer bytes than one row (or none of a char row) gives
// the empty matrix, 0 x 0 in every class, with a count of 0: the model once
// said 0 x 2 for fread(f, [Inf 2], '*int32') of four bytes.
TEST(FileReadCorpus, LessThanARowIsTheEmptyMatrix) {
  const uint8_t kInt32 = 2, kChar = 8, kSingle = 10, kDouble = 11, kStar = 0x80;
  const uint8_t kInfTwo = 0x83, kThreeByTwo = 0x8E;  // size [Inf 2] and [3 2]
  std::vector<uint8_t> steps;
  for (const uint8_t precision : {uint8_t(kInt32 | kStar), kInt32, uint8_t(kSingle | kStar), kDouble,
                                  uint8_t(kChar | kStar)})
    for (const uint8_t size : {kInfTwo, kThreeByTwo}) steps.insert(steps.end(), {0x2E, precision, size});
  const std::vector<uint8_t> four = {1, 2, 3, 4};
  for (const uint8_t precision : {kInt32, kSingle, kDouble}) {
    filemodel::Size rows_of_two{true, true, 0, 2};
    const filemodel::Result r = filemodel::fread(four, rows_of_two, precision, true);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.rows, 0);
    EXPECT_EQ(r.cols, 0);
    EXPECT_EQ(r.count, 0);
  }
  for (const char* file : {"\x01\x02\x03\x04", "\x01"}) EXPECT_EQ(run_seed(seed(0, file, steps)), 0);
}

}  // namespace
