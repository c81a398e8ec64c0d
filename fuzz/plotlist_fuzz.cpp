// libFuzzer target: display lists drawn through the interpreter into a
// recording driver. Input byte 0 chooses how the rest is read: as raw
// doubles (byte-exact lists, for mutations of real ones) or through a small
// generator of plausible records. No input may crash, hang or read outside
// the list, which is allocated to its exact size.
#include <cstdint>
#include <cstring>
#include <vector>

#include "graphics/plotlist/plot_records.h"
#include "graphics/plotlist/plot_style.h"
#include "graphics/render/plot_render.h"
#include "tests/support/recording_driver.h"

namespace {

constexpr uint8_t kRawDoubles = 0x01;  // mode bit: the rest are doubles as they are
constexpr uint8_t kThreeD = 0x02;
constexpr uint8_t kSmallScratch = 0x04;
constexpr uint8_t kNoDraw = 0x08;
constexpr uint8_t kThinDriver = 0x10;  // no text, image or pixel-size entries
constexpr uint8_t kCharts = 0x20;      // the grid bits on: charts 47-50 drawn
constexpr uint8_t kLogExtreme = 0x40;  // log axes over extreme limits
constexpr int32_t kMaxRecordData = 48;
constexpr int32_t kMaxObjects = 1 << 16;

struct Bytes {
  const uint8_t* p;
  size_t n, at = 0;
  bool more() const { return at < n; }
  uint8_t byte() { return at < n ? p[at++] : 0; }
  double small() {  // small whole numbers and a few special values
    const uint8_t b = byte();
    switch (b) {
      case 250: return __builtin_nan("");
      case 251: return __builtin_inf();
      case 252: return -__builtin_inf();
      case 253: return 1e300;
      case 254: return -0.5;
      default: return double(int(b) - 20);
    }
  }
};

std::vector<double> generated(Bytes& in) {
  std::vector<double> list;
  while (in.more()) {
    const int32_t code = in.byte() % 72;
    const int32_t n = in.byte() % kMaxRecordData;
    const double bits = double(in.byte() | (in.byte() << 8));
    list.insert(list.end(), {double(code), -1, -1, bits, double(in.byte()) * 65793.0, double(n)});
    for (int32_t i = 0; i < n && in.more(); ++i) list.push_back(in.small());
    if (in.byte() % 8 == 0) list.push_back(in.small());  // a record that does not add up
  }
  return list;
}

void draw(const std::vector<double>& source, uint8_t mode) {
  // Exact-size copies so that the sanitizers see any read past them.
  std::vector<double> list(source);
  // A small bound on the room makes the records' memory run out.
  const int64_t saved_limit = draw_room_limit();
  draw_room_set_limit((mode & kSmallScratch) ? 5 * 8 : 0);
  recdrv::Recorder rec;
  rec.quiet = true;
  if (mode & kThinDriver) rec.table.text_extent = nullptr, rec.table.draw_image_row = nullptr, rec.table.pixel_size = nullptr;
  Subplot s;
  subplot_init_defaults(&s);
  subplot_set_rect(&s, 0, 320, 0, 200);
  s.xMin = s.yMin = s.zMin = -10, s.xMax = s.yMax = s.zMax = 10;
  s.xMode = s.yMode = s.zMode = kAxisFixed;
  s.is3D = (mode & kThreeD) ? 1 : 0;
  if (mode & kCharts) s.optionFlags |= 0x6000;
  if (mode & kLogExtreme) {
    s.scaleFlags |= kScaleLogX | kScaleLogY;
    s.xMin = s.yMin = 1e-300, s.xMax = s.yMax = 1e300;
  }
  subplot_compute_transform(&s, 1, 0.04);
  int32_t start = 0;
  for (int k = 0; k < kMaxObjects; ++k) {
    RenderRequest q{list.empty() ? nullptr : list.data(), int32_t(list.size()), nullptr, &s, &start, nullptr,
                    nullptr, nullptr, nullptr, nullptr, -1, 0, 0, 0, (mode & kNoDraw) != 0, &rec.table, &rec.context};
    const int32_t before = start;
    if (!plotlist_render(&q)) break;
    if (start <= before) __builtin_trap();  // no object may be drawn twice
  }
  draw_room_set_limit(saved_limit);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  // The same bytes as a style text.
  int32_t count = 0;
  plotstyle_count(reinterpret_cast<const char*>(data + 1), int32_t(size - 1), &count);
  StyleSpec spec{};
  plotstyle_get_nth(reinterpret_cast<const char*>(data + 1), int32_t(size - 1), int32_t(mode), 8, nullptr, &spec);
  std::vector<double> list;
  if (mode & kRawDoubles) {
    list.resize((size - 1) / sizeof(double));
    if (!list.empty()) std::memcpy(list.data(), data + 1, list.size() * sizeof(double));
  } else {
    Bytes in{data + 1, size - 1};
    list = generated(in);
  }
  draw(list, mode);
  return 0;
}
