// libFuzzer target: the hit test over display lists, raw (byte-exact
// doubles, for mutations of real lists) or generated from plausible
// records, at a pointer taken from the input. No input may crash, hang or
// read outside the list, which is allocated to its exact size.
#include <cstdint>
#include <cstring>
#include <vector>

#include "graphics/interact/control_track.h"
#include "graphics/interact/hit_test.h"
#include "graphics/plotlist/plot_records.h"
#include "tests/support/recording_driver.h"

namespace {

constexpr uint8_t kRawDoubles = 0x01;
constexpr uint8_t kLegendOn = 0x02;
constexpr uint8_t kNoContent = 0x04;
constexpr int32_t kMaxRecordData = 40;
constexpr int32_t kHitCodes[] = {1, 2, 4, 5, 7, 9, 12, 13, 18, 45, 58, 59, 60, 61, 62, 63, 64, 65, 66, 69};

double small(const uint8_t* p, size_t n, size_t* at) {
  const uint8_t b = *at < n ? p[(*at)++] : 0;
  switch (b) {
    case 250: return __builtin_nan("");
    case 251: return __builtin_inf();
    case 252: return -1e300;
    case 253: return 1e300;
    default: return double(int(b) - 20);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint8_t mode = data[0];
  const double px = double(data[1]) - 20, py = double(data[2]) - 20;
  std::vector<double> list;
  if (mode & kRawDoubles) {
    list.resize((size - 3) / sizeof(double));
    if (!list.empty()) std::memcpy(list.data(), data + 3, list.size() * sizeof(double));
  } else {
    size_t at = 3;
    while (at < size) {
      const int32_t code = kHitCodes[data[at++] % (sizeof kHitCodes / sizeof kHitCodes[0])];
      const int32_t n = at < size ? data[at++] % kMaxRecordData : 0;
      list.insert(list.end(), {double(code), small(data, size, &at), -1, 0, 0, double(n)});
      for (int32_t i = 0; i < n && at < size; ++i) list.push_back(small(data, size, &at));
    }
  }
  std::vector<double> exact(list);
  Subplot s{};
  subplot_init_defaults(&s);
  s.rectLeft = s.frameLeft = 0, s.rectRight = s.frameRight = 200;
  s.rectTop = s.frameTop = 0, s.rectBottom = s.frameBottom = 150;
  s.xMin = -10, s.xMax = 100, s.yMin = -10, s.yMax = 100;
  s.xMode = s.yMode = kAxisFixed;
  subplot_compute_transform(&s, 0, 0.0);
  if (mode & kLegendOn) s.optionFlags |= 0x20000;
  if (mode & kNoContent) s.hasContent = 0;
  recdrv::Recorder rec;
  rec.quiet = true;
  ManipState st{};
  int32_t start = 0;
  if (!plotlist_section_start(exact.data(), int32_t(exact.size()), mode >> 4, &start)) start = 0;
  // A hover, then a press (the controls laid out first), then two steps of a drag.
  ControlPress press;
  for (uint8_t start_byte : {0, 1})
    plotlist_hit_test_section(exact.data(), int32_t(exact.size()), start, 0, &s, px, py, kHitTolerance, mode & 8,
                              start_byte, &st, &rec.table, &rec.context,
                              &press);
  st.id = int32_t(px) & 7, st.nb = 1, st.valid |= kManipId | kManipX0 | kManipY0;
  for (double dy : {0.0, 37.0})
    plotlist_control_step(exact.data(), int32_t(exact.size()), start, &s, px + dy, py + dy, &st, &rec.table,
                          &rec.context);
  // The same drag over a 3-D view from a pressed 3-D point: sensors answer.
  Subplot s3 = s;
  s3.is3D = 1, s3.zMin = -10, s3.zMax = 100, s3.zMode = kAxisFixed;
  s3.orthographic = (mode & 8) ? 0 : 1;
  subplot_update_transform(&s3);
  st.z0 = py, st.valid |= kManipZ0 | ((mode & 2) ? kManipFlag : 0);
  for (double dy : {0.0, 37.0})
    plotlist_control_step(exact.data(), int32_t(exact.size()), start, &s3, px + dy, py - dy, &st, &rec.table,
                          &rec.context);
  return 0;
}
