// Checks a stored bar layout against the shape the window writes: a bounded
// walk in which each step is paid for by bytes that are really there, so
// the check's work is linear in the value's length.
#include "platform/bar_state.h"

#include <algorithm>
#include <cstdint>

#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>

namespace {

// The layout's words, as the window writes them: a header marker and the
// version given to the save (0), then the sections, each after its marker.
constexpr uint32_t kHeaderMarker = 0xff, kVersion = 0;
constexpr uint8_t kDockMarker = 0xfd;
// Tool-bar sections: the first form without, the second with, each tool
// bar's packed geometry.
constexpr uint8_t kToolBarMarker = 0xfe, kToolBarMarkerEx = 0xfc;
constexpr uint32_t kNullString = 0xffffffffu;
constexpr int kDockAreas = 4;
constexpr int kCorners = 4;
// A bar's flags byte: bit 0 shown, bit 1 vertical; nothing else is written.
constexpr uint8_t kBarFlags = 0x03;
// The packed geometry of a floating bar: the first word holds the floating
// bit, then x + kPackBias in 16 bits, then the width in 15; the second holds
// y + kPackBias in 16 bits, then the height in 16.
constexpr uint32_t kFloating = 1;
constexpr int32_t kPackBias = 0x7fff;
constexpr uint32_t kNoPreferredSize = 0xffffffffu;  // -1: the bar was never resized
// Where no screen tells the desktop's size.
const QRect kFallbackDesktop(0, 0, 1024, 768);

struct Reader {
  const QByteArray& bytes;
  qsizetype at = 0;

  qsizetype left() const { return bytes.size() - at; }
  bool skip(qsizetype n) {
    if (n < 0 || n > left()) return false;
    at += n;
    return true;
  }
  bool byte(uint8_t* out) {
    if (left() < 1) return false;
    *out = uint8_t(bytes[at++]);
    return true;
  }
  bool word(uint32_t* out) {  // big-endian, as the stream writes it
    if (left() < 4) return false;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | uint8_t(bytes[at + i]);
    at += 4;
    *out = v;
    return true;
  }
};

// The dock section of a window without dock widgets: no areas, the central
// widget's size, and the four corners, each one of the four dock areas.
bool dock_section_fits(Reader* r) {
  uint8_t marker = 0;
  uint32_t areas = 0, w = 0, h = 0;
  if (!r->byte(&marker) || marker != kDockMarker || !r->word(&areas) || areas != 0 || !r->word(&w) || !r->word(&h))
    return false;
  for (int i = 0; i < kCorners; ++i) {
    uint32_t corner = 0;
    if (!r->word(&corner) || (corner != 1 && corner != 2 && corner != 4 && corner != 8)) return false;
  }
  return int32_t(w) >= 0 && int32_t(h) >= 0;
}

// A floating bar's packed geometry: it lies on the desktop, at least a pixel
// each way. A docked bar's words are zero, as the window writes them. Qt
// makes a floating bar of whatever size the words give, and a damaged value
// gives one of 32,767 pixels each way, whose backing store takes gigabytes.
bool geometry_fits(uint32_t g0, uint32_t g1, const QRect& desktop) {
  if (!(g0 & kFloating)) return g0 == 0 && g1 == 0;
  const int32_t x = int32_t((g0 >> 1) & 0xffff) - kPackBias, w = int32_t(g0 >> 17);
  const int32_t y = int32_t(g1 & 0xffff) - kPackBias, h = int32_t(g1 >> 16);
  return w >= 1 && h >= 1 && desktop.contains(QRect(x, y, w, h));
}

// A place or a length along a bar's line: the window's lines are no longer
// than the desktop is wide or high.
bool along_line(uint32_t v, int32_t reach) { return int32_t(v) >= 0 && int32_t(v) <= reach; }

bool toolbar_section_fits(Reader* r, const QRect& desktop) {
  uint8_t marker = 0;
  uint32_t lines = 0;
  if (!r->byte(&marker) || (marker != kToolBarMarker && marker != kToolBarMarkerEx) || !r->word(&lines)) return false;
  const int32_t reach = std::max(desktop.width(), desktop.height());
  for (uint32_t j = 0; j < lines; ++j) {
    uint32_t area = 0, count = 0;
    if (!r->word(&area) || area >= kDockAreas || !r->word(&count)) return false;
    for (uint32_t k = 0; k < count; ++k) {
      uint32_t name = 0;
      if (!r->word(&name)) return false;
      // A name is UTF-16: an even byte count, or none at all.
      if (name != kNullString && (name % 2 != 0 || !r->skip(qsizetype(name)))) return false;
      // Shown and orientation, position, preferred size, then the geometry:
      // two words, or in the older form one that Qt reads and passes over.
      uint8_t flags = 0;
      uint32_t pos = 0, size = 0, g0 = 0, g1 = 0;
      if (!r->byte(&flags) || (flags & ~kBarFlags) != 0 || !r->word(&pos) || !r->word(&size) || !r->word(&g0))
        return false;
      if (!along_line(pos, reach) || (size != kNoPreferredSize && !along_line(size, reach))) return false;
      if (marker == kToolBarMarkerEx && (!r->word(&g1) || !geometry_fits(g0, g1, desktop))) return false;
    }
  }
  return true;
}

}  // namespace

bool bar_state_fits(const QByteArray& stored, const QRect& desktop) {
  Reader r{stored};
  uint32_t marker = 0, version = 0;
  return r.word(&marker) && marker == kHeaderMarker && r.word(&version) && version == kVersion &&
         dock_section_fits(&r) && toolbar_section_fits(&r, desktop) && r.left() == 0;
}

bool bar_state_restore(QMainWindow* window, const QByteArray& stored) {
  QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  const QRect desktop = screen ? screen->virtualGeometry() : kFallbackDesktop;
  return bar_state_fits(stored, desktop) && window->restoreState(stored);
}
