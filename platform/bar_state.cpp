// Checks a stored bar layout against the shape the window writes: a bounded
// walk in which each step is paid for by bytes that are really there, so
// the check's work is linear in the value's length.
#include "platform/bar_state.h"

#include <cstdint>

#include <QMainWindow>

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

bool toolbar_section_fits(Reader* r) {
  uint8_t marker = 0;
  uint32_t lines = 0;
  if (!r->byte(&marker) || (marker != kToolBarMarker && marker != kToolBarMarkerEx) || !r->word(&lines)) return false;
  const qsizetype geometry = marker == kToolBarMarkerEx ? 8 : 0;
  for (uint32_t j = 0; j < lines; ++j) {
    uint32_t area = 0, count = 0;
    if (!r->word(&area) || area >= kDockAreas || !r->word(&count)) return false;
    for (uint32_t k = 0; k < count; ++k) {
      uint32_t name = 0;
      if (!r->word(&name)) return false;
      // A name is UTF-16: an even byte count, or none at all.
      if (name != kNullString && (name % 2 != 0 || !r->skip(qsizetype(name)))) return false;
      // Shown and orientation, position, preferred size, then the geometry.
      if (!r->skip(1 + 4 + 4 + geometry)) return false;
    }
  }
  return true;
}

}  // namespace

bool bar_state_fits(const QByteArray& stored) {
  Reader r{stored};
  uint32_t marker = 0, version = 0;
  return r.word(&marker) && marker == kHeaderMarker && r.word(&version) && version == kVersion &&
         dock_section_fits(&r) && toolbar_section_fits(&r) && r.left() == 0;
}

bool bar_state_restore(QMainWindow* window, const QByteArray& stored) {
  return bar_state_fits(stored) && window->restoreState(stored);
}
