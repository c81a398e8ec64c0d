// libFuzzer target: the hit test over display lists, raw (byte-exact
// doubles, for mutations of real lists) or generated from plausible
// records, at a pointer taken from the input. No input may crash, hang or
// read outside the list, which is allocated to its exact size. Where the
// section holds only point records (polylines, frequency polylines, 3-D
// polylines), the hit is held against a brute-force search: every point of
// every record with a whole id, in pixels, the least sum of the absolute
// differences under the tolerance winning (the first of equals), with the
// record's id and number, the point's index from 1, its coordinates, its z
// in 3-D and, for a frequency polyline, the frequency of its third row.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

// The brute-force search over a section of point records; false when the
// section holds anything else (the model then says nothing).
struct PointHit {
  bool hit = false;
  int32_t id = 0, nb = 0, ix = 0;
  double x0 = 0, y0 = 0, z0 = 0, q1 = 0;
  bool three = false, freq = false;
};

bool whole_count(double v, double most, int64_t* out) {
  if (!(v >= 0.0) || !(v < most + 1.0)) return false;
  *out = int64_t(v);
  return true;
}

bool model_points(const std::vector<double>& list, int32_t start, const Subplot& s, double px, double py,
                  PointHit* out) {
  *out = PointHit{};
  double best = 0;
  const int64_t length = int64_t(list.size());
  for (int64_t at = start, records = 0; at < length && length - at >= kPlotRecHead; ++records) {
    const double* head = list.data() + at;
    int64_t n = 0;
    if (!whole_count(head[kPlotRecCount], double(length - at - kPlotRecHead), &n)) break;
    const double* data = head + kPlotRecHead;
    at += kPlotRecHead + n;
    const double code = head[kPlotRecCode];
    if (code == kCodeOpenObject) {
      if (records > 0) break;
      continue;
    }
    if (code != kCodePolyline && code != kCodeFreqPolyline && code != kCodePolyline3) return false;
    const double idv = head[kPlotRecId];
    if (!(idv >= 0 && idv <= double(INT32_MAX)) || idv != std::trunc(idv)) continue;
    int64_t m = 0;
    if (n < 1 || !whole_count(data[0], double(1 << 28), &m)) continue;
    const bool three = code == kCodePolyline3;
    const bool freq = code == kCodeFreqPolyline && 3 * m + 1 == n;
    if ((three || freq ? 3 : 2) * m + 1 > n) continue;
    const double *x = data + 1, *y = x + m;  // then z or the frequencies
    for (int64_t j = 0; j < m; ++j) {
      double qx, qy;
      subplot_data_to_pixel(&s, x + j, y + j, three ? y + m + j : nullptr, 1, &qx, &qy, nullptr);
      const double d = std::fabs(qx - px) + std::fabs(qy - py);
      if (!(d < kHitTolerance) || (out->hit && !(d < best))) continue;
      const double nb = head[kPlotRecIndex];
      *out = PointHit{true, int32_t(idv), nb > -2147483648.0 && nb < 2147483647.0 ? int32_t(nb) : -1, int32_t(j + 1),
                      x[j], y[j], three ? y[m + j] : 0, freq ? y[m + j] : 0, three, freq};
      best = d;
    }
  }
  return true;
}

bool same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void check_points(const PointHit& want, const ManipState& st) {
  bool ok = true;
  if (!want.hit) {
    ok = !(st.valid & kManipId);
  } else {
    const uint32_t flags = kManipPointHit | (want.three ? uint32_t(kManipZ0) : 0u) | (want.freq ? uint32_t(kManipQ1) : 0u);
    ok = (st.valid & ~uint32_t(kManipPointer | kManipFlag)) == flags && st.id == want.id && st.nb == want.nb &&
         st.ix == want.ix && same(st.x0, want.x0) && same(st.y0, want.y0) && (!want.three || same(st.z0, want.z0)) &&
         (!want.freq || same(st.q1, want.q1));
  }
  if (ok) return;
  std::fprintf(stderr,
               "hit_test_fuzz: the hit is id %d nb %d ix %d at (%g, %g, %g) q1 %g valid %#x; brute force: %s id %d nb "
               "%d ix %d at (%g, %g, %g) q1 %g\n",
               st.id, st.nb, st.ix, st.x0, st.y0, st.z0, st.q1, st.valid, want.hit ? "hit" : "none", want.id, want.nb,
               want.ix, want.x0, want.y0, want.z0, want.q1);
  std::abort();
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
  PointHit want;
  const bool modelled = model_points(list, start, s, px, py, &want);
  for (uint8_t start_byte : {0, 1}) {
    plotlist_hit_test_section(exact.data(), int32_t(exact.size()), start, 0, &s, px, py, kHitTolerance, mode & 8,
                              start_byte, &st, &rec.table, &rec.context,
                              &press);
    if (modelled) check_points(want, st);
  }
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
