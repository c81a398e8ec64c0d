// The display-list fuzz target over a small seed corpus: a list of every
// drawn record kind as raw doubles (2-D, 3-D, small scratch, no drawing) and
// a generator stream, each truncated and flipped bit by bit at a stride.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "support/plot_list_builder.h"
#include "fuzz/corpus.h"

namespace {

std::vector<uint8_t> raw_seed(uint8_t mode) {
  plotlists::ListBuilder b;
  std::vector<double> image = {5, 2, 3, -5, -5, 10, 10};
  for (double v : plotlists::pack_bytes({0, 40, 80, 120, 160, 200})) image.push_back(v);
  b.open(0)
      .rec(kCodeColourMap, 0, 0, {2, 0, 1, 0, 1, 1, 0})
      .rec(kCodePolyline, 0x3044, 0xff0000, {3, 0, 1, 2, 0, NAN, 2})
      .rec(kCodeLine, 0x20, 0, {1, 2, 3})
      .rec(kCodeCircles, 0, 0, {1, 0, 0, 2})
      .rec(kCodeBars, 0, 0, {3, 1, 2, 1, 2, 5, 6, 0, 1})
      .rec(kCodeMultiPolyline, 0, 0, {2, 0, 1, 0, 1, 1, 5, 5, -1})
      .recv(kCodeImage, 0, 0, image)
      .rec(kCodeCells, 0x1c0, 0, {5, 2, 2, 0, 1, 0, 1, 0.1, 0.4, 0.6, 0.9})
      .rec(kCodeLine3, 0, 0, {1, 0, 0, 1, 0, 1, 0, 2})
      .rec(kCodeEigenLocus, 0, 0, {2, 1, 0, 1, 1, 0, 0, 1, 1, 0.25, 0})
      .rec(kCodeFont, 0, 0, {12, 0, 0})
      .open(2)  // a flow: tab stops, text, positioned text, fonts, a legend and controls
      .recv(kCodeTabStops, 0, 0, [] {
        std::vector<double> d = {2, 0, 0, 4};
        for (double v : plotlists::pack_bytes({'x', 9, 8, 'y'})) d.push_back(v);
        return d;
      }())
      .rec(kCodeFlowText, 0, 0, {5, plotlists::pack_bytes({'a', 9, 'b', 10, 'c'})[0]})
      .rec(kCodeTextAt, 0, 0, {1, 2, 0, 6, 1, plotlists::pack_bytes({'p'})[0]})
      .rec(kCodeFont, 0, 0xff, {12, 1, plotlists::pack_bytes({'M', 0})[0]})
      .rec(kCodeFontReset, 0, 0, {})
      .rec(kCodeLegend, 0, 0, {0, 2, 3, 8, 0, 4, 0, plotlists::pack_bytes({'a', 10, 'b'})[0]})
      .rec(59, 0, 0, {0, 10, 0, 0, 0, 0, 0, 2, 3, 7, 0, 0, 1, plotlists::pack_bytes({'s'})[0]})
      .rec(60, 0, 0, {1, 100, 2, 0, 0, 0, 0, 1, 10, 0, 0})
      .rec(61, 0, 0, {1, 0, 0, 0, 3, plotlists::pack_bytes({'g', 9, 'G'})[0]})
      .rec(62, 0, 0, {5, 0, 0, 0, 3, plotlists::pack_bytes({'c', 9, 'a'})[0]})
      .rec(63, 0, 0, {1, 0, 0, 0, 3, plotlists::pack_bytes({'r', 9, 'x'})[0]})
      .rec(64, 0, 0, {0, 0, 1, 1, 0, 0, 0, 0, plotlists::pack_bytes({'m'})[0], plotlists::pack_bytes({'o', 0})[0]})
      .rec(65, 0, 0, {0, 0, 0, 0, -1, 0, 0, plotlists::pack_bytes({'f', 0, '1'})[0], 0, 0})
      .open(1)
      .rec(kCodePolyline3, 0, 0, {2, 0, 1, 0, 1, 0, 1});
  std::vector<uint8_t> bytes(1 + b.d.size() * sizeof(double));
  bytes[0] = mode;
  std::memcpy(bytes.data() + 1, b.d.data(), b.d.size() * sizeof(double));
  return bytes;
}

TEST(PlotlistCorpus, RawListsTruncatedAndFlipped) {
  for (uint8_t mode : {0x01, 0x03, 0x05, 0x09, 0x11}) EXPECT_GT(run_corpus(raw_seed(mode), 64, 300), 0);
}

TEST(PlotlistCorpus, GeneratedRecords) {
  std::vector<uint8_t> seed = {0x00};
  for (int code : {1, 4, 5, 7, 8, 9, 10, 11, 13, 14, 15, 46, 55, 66, 67, 69, 70})
    for (int k = 0; k < 12; ++k) seed.push_back(uint8_t(k == 0 ? code : (code * 7 + k * 13) % 251));
  EXPECT_GT(run_corpus(seed, 32, 400), 0);
  seed[0] = 0x12;
  EXPECT_GT(run_corpus(seed, 32, 400), 0);
}

// Response and chart records (2, 19 to 54), with the charts' grid bits on,
// and over log axes with extreme limits.
TEST(PlotlistCorpus, ResponseAndChartRecords) {
  plotlists::ListBuilder b;
  b.open(0)
      .rec(kCodeFreqPolyline, 0, 0, {2, 0, 1, 1, 0, 0.5, 2})
      .rec(19, 8, 0, {0, 1, 1, 1, 1})
      .rec(24, 8, 0, {0.1, 0, 1, 1, 1, -0.5})
      .rec(kCodeZgrid, 8, 0, {})
      .rec(kCodeSgrid, 8, 0, {})
      .rec(kCodeHgrid, 8, 0, {})
      .rec(kCodeNgrid, 8, 0, {})
      .rec(kCodeZgridWn, 8, 0, {1.5})
      .rec(kCodeZgridZeta, 8, 0, {0.3})
      .rec(kCodeSgridCircle, 8, 0, {2})
      .rec(kCodeSgridRay, 8, 0, {0.5})
      .rec(kCodeSgridRay, 8, 0, {NAN})
      .rec(kCodeZgridZeta, 8, 0, {1e300});
  for (uint8_t mode : {0x01, 0x21, 0x61, 0x25}) {
    std::vector<uint8_t> bytes(1 + b.d.size() * sizeof(double));
    bytes[0] = mode;
    std::memcpy(bytes.data() + 1, b.d.data(), b.d.size() * sizeof(double));
    EXPECT_GT(run_corpus(bytes, 64, 300), 0);
  }
  std::vector<uint8_t> seed = {0x20};
  for (int code = 19; code <= 54; ++code)
    for (int k = 0; k < 12; ++k) seed.push_back(uint8_t(k == 0 ? code : (code * 7 + k * 13) % 251));
  EXPECT_GT(run_corpus(seed, 32, 400), 0);
  seed[0] = 0x60;
  EXPECT_GT(run_corpus(seed, 32, 400), 0);
}

// Polygon record data: flags, v, m, x, y, z, extra, p, indices packed.
std::vector<double> polygons(uint32_t flags, int32_t v, std::vector<double> xyz, std::vector<double> extra,
                             std::vector<int32_t> idx) {
  std::vector<double> d = {double(flags), double(v), double(xyz.size() / 3)};
  d.insert(d.end(), xyz.begin(), xyz.end());
  d.insert(d.end(), extra.begin(), extra.end());
  d.push_back(v > 0 ? double(idx.size() / size_t(v)) : 0.0);
  std::vector<double> packed(idx.size() / 2 + 1, 0.0);
  std::memcpy(packed.data(), idx.data(), idx.size() * sizeof(int32_t));
  d.insert(d.end(), packed.begin(), packed.end());
  return d;
}

// 3-D subplots: polylines, lines, polygons of every colour kind (fans, ears,
// degenerate and out-of-range polygons), material, lights, sensors and text.
TEST(PlotlistCorpus, ThreeDRecords) {
  const std::vector<double> quad = {0, 1, 1, 0, 0, 0, 1, 1, 0, 0, 1, 2};
  plotlists::ListBuilder b;
  b.open(0)
      .rec(kCodeColourMap, 0, 0, {2, 0, 1, 0, 1, 1, 0})
      .rec(kCodeMaterial, 0, 0, {0.3, 0.6, 1, 3, 1})
      .rec(kCodeLights, 0, 0, {0, 0, 1, 1, 1, 1, 1, 0, 0, 0.5, 0.5, 0.5})
      .rec(kCodePolyline, 0, 0, {2, 0, 1, 0, 1})
      .rec(kCodeFreqPolyline, 0x1c0, 0, {2, 0, 1, 0, 1})
      .rec(kCodePolyline3, 0x1c0, 0, {3, 0, 1, 2, 0, 1, NAN, 5, 5, 5})
      .rec(kCodeLine3, 0, 0, {1, 0, 0, 0.5, 0, 1, 0, 0})
      .recv(kCodePolygons, 0x140, 0, polygons(0x513, 4, quad, {0, 2}, {0, 1, 2, 3}))
      .recv(kCodePolygons, 0, 0, polygons(0x427, 4, quad, {0.1, 0.5, 0.9, 0.2}, {0, 1, 2, 3, 3, 2, 1, 0}))
      .recv(kCodePolygons, 0, 0, polygons(0x4c3, 4, quad, {1, 0, 0.5}, {0, 1, 2, 3}))
      .recv(kCodePolygons, 0, 0,
            polygons(0x343, 3, quad, {1, 0, 0, 1, 0, 1, 0, 1, 0.5, 0.5, 0.5, 0.5}, {0, 1, 2, 0, 1, 9, -1, 0, 1}))
      .recv(kCodePolygons, 0, 0, polygons(0xF07, 2, quad, {}, {0, 1, 2, 3}))  // two-vertex polygons
      .recv(kCodePolygons, 0, 0, polygons(0xa07, 5, {0, 4, 1, 0, 2, 0, 0, 1, 4, 3, 0, 0, 0, 0, 0}, {}, {0, 1, 2, 3, 4}))
      .rec(18, 0, 0, {112, 3, 0, 0, 0, 0, 0, 1})
      .rec(kCodeTextAt3, 0, 0, {0.5, 0.5, 1, 1, 2, plotlists::pack_bytes({'h', 'i'})[0]})
      .rec(kCodeTextAt3, 0, 0, {0.5, 0.5, 1, 1, 200, 0});  // text longer than its record
  std::vector<uint8_t> bytes(1 + b.d.size() * sizeof(double));
  std::memcpy(bytes.data() + 1, b.d.data(), b.d.size() * sizeof(double));
  for (uint8_t mode : {0x03, 0x07, 0x0B, 0x13}) {
    bytes[0] = mode;
    EXPECT_GT(run_corpus(bytes, 64, 400), 0);
  }
  std::vector<uint8_t> seed = {0x02};
  for (int code : {13, 14, 15, 16, 17, 18, 57, 1, 2})
    for (int k = 0; k < 16; ++k) seed.push_back(uint8_t(k == 0 ? code : (code * 11 + k * 17) % 251));
  EXPECT_GT(run_corpus(seed, 32, 400), 0);
}

}  // namespace
