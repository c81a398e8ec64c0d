// The list writer and the bounded record reader. The writer's room check is
// made once per record for the record's whole length, so a refused record
// leaves the list exactly as it was; the reader never trusts a count it has
// not checked against the record and the list end.
#include "graphics/plotlist/plot_records.h"

#include <cstring>

namespace {
constexpr int32_t kBytesPerDouble = 8;
constexpr double kMaxU32 = 4294967295.0;
}  // namespace

int plotwriter_reserve(const PlotWriter* w, int32_t k) {
  if (k < 0 || w->used < 0 || w->capacity - w->used < k) return kPlotOverflow;
  return 0;
}

int plotwriter_begin_record(PlotWriter* w, int32_t code, double id, double index, const StyleSpec* style,
                            int32_t n) {
  if (n < 0 || n > INT32_MAX - kPlotRecHead) return kPlotOverflow;
  const int status = plotwriter_reserve(w, kPlotRecHead + n);
  if (status != 0) return status;
  plotwriter_put(w, code);
  plotwriter_put(w, id);
  plotwriter_put(w, index);
  plotwriter_put(w, style ? double(style->bits) : 0.0);
  plotwriter_put(w, style ? pack_colour(style->r, style->g, style->b) : 0.0);
  plotwriter_put(w, n);
  return 0;
}

void plotwriter_put(PlotWriter* w, double v) { w->data[w->used++] = v; }

int32_t plotwriter_text_doubles(int32_t length) {
  return length <= 0 ? 0 : (length + kBytesPerDouble - 1) / kBytesPerDouble;
}

void plotwriter_put_text(PlotWriter* w, const char* text, int32_t length) {
  const int32_t k = plotwriter_text_doubles(length);
  for (int32_t i = 0; i < k; ++i) {
    unsigned char bytes[kBytesPerDouble] = {};
    const int32_t take = length - i * kBytesPerDouble < kBytesPerDouble ? length - i * kBytesPerDouble
                                                                        : kBytesPerDouble;
    std::memcpy(bytes, text + i * kBytesPerDouble, take);
    double d;
    std::memcpy(&d, bytes, sizeof d);
    plotwriter_put(w, d);
  }
}

bool plotlist_open_object(double* data, int32_t capacity, int32_t* used, int32_t s) {
  PlotWriter w{data, capacity, *used};
  if (plotwriter_begin_record(&w, kCodeOpenObject, -1, -1, nullptr, 1) != 0) return false;
  plotwriter_put(&w, s);
  *used = w.used;
  return true;
}

void plotreader_init(PlotReader* r, const double* list, int32_t length, int32_t start) {
  r->list = list;
  r->length = length < 0 ? 0 : length;
  r->pos = start < 0 ? r->length : start;
}

bool plotreader_next(PlotReader* r, PlotRecord* out) {
  if (r->pos >= r->length || r->length - r->pos < kPlotRecHead) return false;
  const double* head = r->list + r->pos;
  int32_t n;
  if (!double_to_count(head[kPlotRecCount], r->length - r->pos - kPlotRecHead, &n)) return false;
  out->at = r->pos;
  out->code = head[kPlotRecCode];
  if (!double_to_count(head[kPlotRecCode], kMaxRecordCode, &out->code_int) || double(out->code_int) != head[kPlotRecCode])
    out->code_int = -1;
  out->head = head;
  out->data = head + kPlotRecHead;
  out->n = n;
  r->pos += kPlotRecHead + n;
  return true;
}

bool double_to_count(double v, int32_t max, int32_t* out) {
  if (!(v >= 0.0) || !(v < double(max) + 1.0)) return false;
  *out = int32_t(v);
  return *out <= max;
}

bool record_count(const PlotRecord& rec, int32_t i, int32_t max, int32_t* out) {
  if (i < 0 || i >= rec.n) return false;
  return double_to_count(rec.data[i], max, out);
}

StyleSpec record_style(const PlotRecord& rec) {
  const double bits = rec.head[kPlotRecStyle], colour = rec.head[kPlotRecColour];
  const uint32_t b = (bits >= 0.0 && bits <= kMaxU32) ? uint32_t(bits) : 0;
  const uint32_t c = (colour >= 0.0 && colour <= kMaxU32) ? uint32_t(colour) : 0;
  return StyleSpec{b, uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)};
}

double pack_colour(uint8_t r, uint8_t g, uint8_t b) { return double((uint32_t(r) << 16) | (uint32_t(g) << 8) | b); }
