// A graphics driver for tests that records every call with its arguments as
// one line of text: coordinates rounded to 1e-3, styles as bits and colour.
// Text is measured as 7 pixels per byte and 13 high. Any entry can be
// removed to exercise a caller's fallbacks. No platform code.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>

#include "graphics/render/graphics_driver.h"

namespace recdrv {

constexpr double kCharWidth = 7.0;
constexpr double kCharHeight = 13.0;

inline std::string num(double v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
  double r = std::round(v * 1000.0) / 1000.0;
  if (r == 0) r = 0;  // no "-0"
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3f", r);
  std::string s = buf;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s;
}

inline std::string style_text(const StyleSpec* s) {
  if (!s) return "style=null";
  char buf[48];
  std::snprintf(buf, sizeof buf, "style=0x%x/%u,%u,%u", s->bits, s->r, s->g, s->b);
  return buf;
}

inline std::string colour_text(const uint8_t* c) {
  if (!c) return "-";
  return std::to_string(c[0]) + "," + std::to_string(c[1]) + "," + std::to_string(c[2]);
}

inline std::string bytes_text(const uint8_t* p, int32_t n) {
  if (!p) return "-";
  std::string s;
  for (int32_t i = 0; i < n; ++i) s += (i ? "," : "") + std::to_string(p[i]);
  return s;
}

struct Recorder {
  std::string log;
  bool quiet = false;  // count calls only (fuzzing)
  long calls = 0;
  GraphicsDriverContext context{};
  GraphicsDriver table{};

  Recorder() {
    graphics_context_defaults(&context);
    context.device = this;
    table = GraphicsDriver{clip_begin, clip_end, draw_polyline, draw_ellipse, draw_text, text_extent,
                           set_font,   focus_rect, frame_rect, draw_image_row, pixel_size, fill_rect,
                           kScreenPaintValues, 0};
    current() = this;
  }
  ~Recorder() {
    if (current() == this) current() = nullptr;
  }
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // pixel_size has no context: it reports to the latest recorder.
  static Recorder*& current() {
    static Recorder* r = nullptr;
    return r;
  }
  static Recorder* of(GraphicsDriverContext* c) { return static_cast<Recorder*>(c->device); }
  void line(const std::string& s) {
    ++calls;
    if (!quiet) log += s + "\n";
  }
  std::string take() {
    std::string s;
    s.swap(log);
    return s;
  }

  static void clip_begin(double l, double r, double t, double b, GraphicsDriverContext* c) {
    of(c)->line("clip_begin " + num(l) + " " + num(r) + " " + num(t) + " " + num(b));
  }
  static void clip_end(GraphicsDriverContext* c) { of(c)->line("clip_end"); }
  static void draw_polyline(const double* x, const double* y, int32_t n, const StyleSpec* s,
                            GraphicsDriverContext* c) {
    Recorder* r = of(c);
    if (r->quiet) {
      // Touch every point so that the sanitizers see reads past the arrays.
      volatile double sum = 0;
      for (int32_t i = 0; i < n; ++i) sum = sum + x[i] + y[i];
      return r->line("");
    }
    std::string t = "polyline " + std::to_string(n) + " " + style_text(s);
    for (int32_t i = 0; i < n; ++i) t += " (" + num(x[i]) + "," + num(y[i]) + ")";
    r->line(t);
  }
  static void draw_ellipse(double x, double y, double rx, double ry, const StyleSpec* s, GraphicsDriverContext* c) {
    of(c)->line("ellipse " + num(x) + " " + num(y) + " " + num(rx) + " " + num(ry) + " " + style_text(s));
  }
  static void draw_text(double x, double y, const char* text, int32_t n, uint32_t align, const uint8_t* colour,
                        GraphicsDriverContext* c) {
    of(c)->line("text " + num(x) + " " + num(y) + " align=" + std::to_string(align) + " colour=" +
                colour_text(colour) + " \"" + std::string(text, n > 0 ? size_t(n) : 0) + "\"");
  }
  static void text_extent(const char* text, int32_t n, double* w, double* h, GraphicsDriverContext* c) {
    of(c)->line("text_extent \"" + std::string(text, n > 0 ? size_t(n) : 0) + "\"");
    if (w) *w = kCharWidth * (n > 0 ? n : 0);
    if (h) *h = kCharHeight;
  }
  static void set_font(const char* face, double size, uint32_t flags, const uint8_t* colour,
                       GraphicsDriverContext* c) {
    of(c)->line(std::string("set_font ") + (face ? "\"" + std::string(face) + "\"" : "null") + " " + num(size) +
                " flags=" + std::to_string(flags) + " colour=" + colour_text(colour));
  }
  static void focus_rect(double l, double t, double r, double b, int32_t mode, GraphicsDriverContext* c) {
    of(c)->line("focus_rect " + num(l) + " " + num(t) + " " + num(r) + " " + num(b) + " mode=" +
                std::to_string(mode));
  }
  static void frame_rect(double l, double t, double r, double b, GraphicsDriverContext* c) {
    of(c)->line("frame_rect " + num(l) + " " + num(t) + " " + num(r) + " " + num(b));
  }
  static void draw_image_row(double x, double y, int32_t n, int32_t bands, int32_t cell, int32_t rows,
                             const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                             GraphicsDriverContext* c) {
    Recorder* r = of(c);
    if (r->quiet) {
      volatile int sum = 0;
      for (int32_t i = 0; i < n; ++i) sum = sum + red[i] + (green ? green[i] : 0) + (blue ? blue[i] : 0);
      return r->line("");
    }
    r->line("image_row " + num(x) + " " + num(y) + " n=" + std::to_string(n) + " bands=" + std::to_string(bands) +
            " cell=" + std::to_string(cell) + " rows=" + std::to_string(rows) + " r=" + bytes_text(red, n) +
            " g=" + bytes_text(green, n) + " b=" + bytes_text(blue, n));
  }
  static void pixel_size(double* w, double* h) {
    if (current()) current()->line("pixel_size");
    *w = 1.0;
    *h = 1.0;
  }
  static void fill_rect(double l, double t, double r, double b, int32_t kind, GraphicsDriverContext* c) {
    of(c)->line("fill_rect " + num(l) + " " + num(t) + " " + num(r) + " " + num(b) + " kind=" +
                std::to_string(kind));
  }
};

}  // namespace recdrv
