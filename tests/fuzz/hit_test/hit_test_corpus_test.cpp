// The hit test's fuzz entry over truncations and flips of a few lists:
// generated records of every hit-tested code, and raw doubles of a real
// list with polylines, lines, circles, bars, an image, a region and a legend,
// of a list of controls, of a list of 3-D sensors and of a list of point
// records under the pointer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "fuzz/corpus.h"

namespace {

std::vector<uint8_t> raw_list(const std::vector<double>& list, uint8_t mode) {
  std::vector<uint8_t> b = {uint8_t(mode | 1), 70, 70};
  const size_t at = b.size();
  b.resize(at + list.size() * sizeof(double));
  std::memcpy(b.data() + at, list.data(), list.size() * sizeof(double));
  return b;
}

TEST(HitTestCorpus, EveryListGivesAnAnswer) {
  const std::vector<double> real = {
      69, -1, -1, 0, 0, 1, 0,                       // opening
      1,  1,  1,  8, 0, 5, 2, 10, 20, 30, 40,         // polyline
      4,  2,  1,  8, 0, 3, 1, 1, 50,                 // line
      5,  3,  -1, 8, 0, 4, 1, 50, 50, 10,            // circle
      7,  4,  1,  33, 0, 7, 0, 5, 2, 10, 20, 30, 40, // bars
      9,  5,  -1, 0, 0, 8, 0, 1, 1, 0, 0, 90, 90, 0,  // image
      12, 6,  -1, 0, 0, 7, 3, 0, 50, 0, 0, 0, 50,     // region
      58, -1, -1, 0, 0, 6, 0, 1, 3, 1, 0, 6513249,    // legend "abc"
  };
  int runs = 0;
  for (uint8_t mode : {0x00, 0x02, 0x04, 0x1a})
    runs += run_corpus(raw_list(real, mode), 64, 40);
  // Controls with ids, tab stops and a rational function: the control press
  // and drag steps read them too.
  const double label = 97;  // "a"
  const std::vector<double> controls = {
      69, -1, -1, 0, 0, 1, 0,
      66, -1, -1, 0, 0, 5, 2, 0, 0, 3, 2314885,                               // stops "x\tx" (as bytes)
      59, 1, 1, 0, 0, 12, 0, 10, -1, 0, 0, 0, 0, 1, 5, 0, 1, label,          // slider
      61, 2, 1, 0, 0, 6, 0, 0, 0, 0, 1, label,                               // push button
      62, 3, 1, 0, 0, 6, 5, 0, 0, 0, 3, 6381921,                             // check boxes "a\tb"
      64, 4, 1, 0, 0, 11, 1, -1, 2, 1, 0, 0, 0, 0, label, 7303014, 7303014,  // pop-up
      65, 5, 1, 0, 0, 10, 0, 0, 0, 0, -1, 0, 0, label, 0, 0,                 // text field
      45, 6, -1, 0, 0, 6, 1, 1, 1, 2, 1, 3,                                  // rational function
  };
  for (uint8_t mode : {0x04, 0x0c, 0x14})
    runs += run_corpus(raw_list(controls, mode), 64, 40);
  // Sensors of the pressed id (2): planes and spheres, each part, a plane
  // seen edge-on, a zero-radius sphere, short and unknown ones.
  const std::vector<double> sensors = {
      69, -1, -1, 0, 0, 1, 0,
      18, 2, 0, 0, 0, 8, 112, 3, 1, 0, 0, 0, 1, 0,    // plane
      18, 2, 0, 0, 0, 8, 112, 1, 1, 0, 0, 2, 0, 0,    // parallel spans, without the modifier
      18, 2, 0, 0, 0, 5, 115, 2, 0, 0, 0,             // sphere, with the modifier
      18, 2, 0, 0, 0, 5, 115, 3, 50, 50, 50,          // sphere about the pressed point
      18, 2, 0, 0, 0, 4, 112, 3, 1, 0,                // plane too short
      18, 2, 0, 0, 0, 3, 120, 3, 0,                   // unknown kind
      18, 2, 0, 0, 0, 8, 112, 7, 1e300, 0, 0, 0, -1e300, 0,
  };
  for (uint8_t mode : {0x00, 0x02, 0x08, 0x0a})
    runs += run_corpus(raw_list(sensors, mode), 64, 40);
  // Point records only, with points under the pointer (17.5, 63.3 in data):
  // the brute-force search judges these hits.
  const std::vector<double> points = {
      69, -1, -1, 0, 0, 1, 0,
      1,  1,  1, 0, 0, 7, 3, 10, 18, 40, 20, 63, 80,                     // polyline
      2,  2,  4, 0, 0, 10, 3, 5, 17, 30, 70, 64, 10, 100, 200, 300,      // frequency polyline
      13, 3,  2, 0, 0, 10, 3, 18, 0, 0, 62, 0, 0, 1, 2, 3,               // 3-D polyline
  };
  for (uint8_t mode : {0x00, 0x08})
    runs += run_corpus(raw_list(points, mode), 64, 40);
  std::vector<uint8_t> generated = {0, 40, 60};
  for (int i = 0; i < 120; ++i) generated.push_back(uint8_t(i * 37 + 11));
  runs += run_corpus(generated, 32, 60);
  EXPECT_GT(runs, 0);
}

// Ids beyond int32 in a line and in a region that the pointer is on: once
// converted without a check, now never hit (the sanitizer build catches a
// conversion out of range).
TEST(HitTestCorpus, IdsBeyondInt32) {
  for (double id : {1e300, HUGE_VAL}) {
    const std::vector<double> line = {69, -1, -1, 0, 0, 1, 0, 4, id, 1, 8, 0, 3, 1, 0, 17.5};
    const std::vector<double> region = {69, -1, -1, 0, 0, 1, 0, 12, id, -1, 0, 0, 7, 3, 0, 100, 0, 0, 0, 100};
    EXPECT_EQ(run_seed(raw_list(line, 0)), 0);
    EXPECT_EQ(run_seed(raw_list(region, 0)), 0);
  }
}

}  // namespace
