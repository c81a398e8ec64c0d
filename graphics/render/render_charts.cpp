// Grid charts of control design. Every loop is bounded by a count fixed
// here (16-point curves, a spiral of at most kChartSpiralMax points, five
// Nichols periods), so values from a saved image cannot make one run long.
#include "graphics/render/render_charts.h"

#include <cmath>
#include <initializer_list>

#include "graphics/render/render_axes.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2 * kPi;
constexpr double kSpiralTurn = 0.05;          // radians per spiral step
constexpr double kWnArcStep = kPi / 30;       // 6 degrees
constexpr double kNicholsArcStep = kPi / 30;
constexpr double kDampingBound = 0.9999;      // damping lines stop below 1
constexpr double kCircleRangeHigh = 25;       // hgrid circles up to 25 s
constexpr int32_t kMaxPeriods = 5;

bool finite_all(const double* v, int32_t n) {
  for (int32_t i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

// A data polyline, then (mirror) the same with y negated.
void draw_data(const Subplot* s, const double* x, const double* y, int32_t n, bool mirror,
               const StyleSpec* style, const GraphicsDriver* d, GraphicsDriverContext* ctx) {
  if (n < 1 || !d || !d->draw_polyline || !finite_all(x, n) || !finite_all(y, n)) return;
  double px[kChartSpiralMax], py[kChartSpiralMax], ny[kChartSpiralMax];
  subplot_data_to_pixel(s, x, y, nullptr, n, px, py, nullptr);
  d->draw_polyline(px, py, n, style, ctx);
  if (!mirror) return;
  for (int32_t i = 0; i < n; ++i) ny[i] = -y[i];
  subplot_data_to_pixel(s, x, ny, nullptr, n, px, py, nullptr);
  d->draw_polyline(px, py, n, style, ctx);
}

bool log_axes(const Subplot* s) { return (s->scaleFlags & (kScaleXLog | kScaleYLog)) != 0; }

}  // namespace

void chart_zgrid_wn_points(double w, double* x, double* y) {
  x[0] = std::cos(w), y[0] = std::sin(w);
  for (int32_t k = 1; k <= 14; ++k) {
    const double a = k * kWnArcStep, r = std::exp(-w * std::sin(a));
    x[k] = r * std::cos(w * std::cos(a));
    y[k] = r * std::sin(w * std::cos(a));
  }
  x[15] = std::exp(-w), y[15] = 0;
}

int32_t chart_zgrid_zeta_points(double z, double* x, double* y) {
  if (!(z >= 0 && z <= 1)) return 0;
  if (z == 1) {
    x[0] = 0, y[0] = 0;
    x[1] = 1, y[1] = 0;
    return 2;
  }
  x[0] = 1, y[0] = 0;
  const double rho = std::exp(-kSpiralTurn * z / std::sqrt(1 - z * z));
  const double c = std::cos(kSpiralTurn) * rho, sn = std::sin(kSpiralTurn) * rho;
  int32_t n = 1;
  while (n < kChartSpiralMax) {
    const double nx = x[n - 1] * c - y[n - 1] * sn, ny = x[n - 1] * sn + y[n - 1] * c;
    if (ny < 0) {
      // The crossing of the last segment with the real axis ends the spiral.
      const double f = y[n - 1] / (y[n - 1] - ny);
      x[n] = x[n - 1] + f * (nx - x[n - 1]), y[n] = 0;
      return n + 1;
    }
    x[n] = nx, y[n] = ny;
    ++n;
  }
  return n;
}

double chart_sgrid_spacing(double r) {
  if (!(r > 0) || !std::isfinite(r)) return 0;
  double d = kPi;
  while (r < d) d /= 10;
  while (d < r) d *= 10;
  return d;
}

int32_t chart_ngrid_mcurve_points(double m, double yt, double* phase, double* gain) {
  if (!std::isfinite(m) || !std::isfinite(yt)) return 0;
  if (m == 1) {
    if (!(yt >= 0.5)) return 0;
    const double r = std::sqrt(yt * yt - 0.25);
    for (int32_t i = 0; i < kChartCurvePoints; ++i) {
      const double v = (r <= 10 || i == 15) ? i * i * r / 225 : i * i / 22.5;
      phase[i] = std::atan2(v, -0.5) - kTwoPi;
      gain[i] = std::sqrt(v * v + 0.25);
    }
    return kChartCurvePoints;
  }
  const double c = m * m / (1 - m * m), r = m / (1 - m * m);
  phase[0] = m > 1 ? -kPi : -kTwoPi;
  gain[0] = std::fabs(c + r);
  for (int32_t i = 1; i < kChartCurvePoints; ++i) {
    const double a = i * kNicholsArcStep, x = r * std::cos(a) + c, y = r * std::sin(a);
    phase[i] = std::atan2(y, x) - (m < 1 ? kTwoPi : 0);
    gain[i] = std::sqrt(x * x + y * y);
  }
  return kChartCurvePoints;
}

bool chart_ngrid_periods(double xlo, double xhi, int32_t* k0, int32_t* k1) {
  if (!std::isfinite(xlo) || !std::isfinite(xhi) || !(xlo < xhi)) return false;
  const double a = xhi <= 0 ? std::floor(-xhi / kTwoPi) : 0, b = std::ceil(-xlo / kTwoPi);
  // Checked as doubles before they become integers.
  if (!(a >= -1e6 && a <= 1e6) || !(b >= -1e6 && b <= 1e6)) return false;
  *k0 = int32_t(a);
  *k1 = int32_t(b);
  if (*k1 > *k0 + kMaxPeriods - 1) *k1 = *k0 + kMaxPeriods - 1;
  return true;
}

void render_unit_circle(const Subplot* s, const StyleSpec* style, const GraphicsDriver* d,
                        GraphicsDriverContext* ctx) {
  if (!d || !d->draw_ellipse || log_axes(s)) return;
  render_circle_data(s, 0, 0, 1, style, d, ctx);
}

void render_zgrid_wn(const Subplot* s, double w, const StyleSpec* style, const GraphicsDriver* d,
                     GraphicsDriverContext* ctx) {
  if (!std::isfinite(w)) return;
  double x[kChartCurvePoints], y[kChartCurvePoints];
  chart_zgrid_wn_points(w, x, y);
  draw_data(s, x, y, kChartCurvePoints, true, style, d, ctx);
}

void render_zgrid_zeta(const Subplot* s, double z, const StyleSpec* style, const GraphicsDriver* d,
                       GraphicsDriverContext* ctx) {
  double x[kChartSpiralMax], y[kChartSpiralMax];
  const int32_t n = chart_zgrid_zeta_points(z, x, y);
  // Runs of at most 16 points, each sharing its first point with the last run.
  for (int32_t at = 0; at + 1 < n; at += kChartCurvePoints - 1) {
    const int32_t len = n - at < kChartCurvePoints ? n - at : kChartCurvePoints;
    draw_data(s, x + at, y + at, len, true, style, d, ctx);
  }
}

void render_zgrid(const Subplot* s, int32_t nz, int32_t nw, bool with_lines, const StyleSpec* style,
                  const GraphicsDriver* d, GraphicsDriverContext* ctx) {
  render_unit_circle(s, style, d, ctx);
  if (!with_lines) return;
  for (int32_t k = 1; nz > 0 && double(k) / nz < kDampingBound; ++k) render_zgrid_zeta(s, double(k) / nz, style, d, ctx);
  for (int32_t k = 1; nw > 0 && k * kPi / nw <= kPi; ++k) render_zgrid_wn(s, k * kPi / nw, style, d, ctx);
}

void render_sgrid_circle(const Subplot* s, double r, const StyleSpec* style, const GraphicsDriver* d,
                         GraphicsDriverContext* ctx) {
  if (!std::isfinite(r)) return;
  render_circle_data(s, 0, 0, r, style, d, ctx);
}

void render_sgrid_ray(const Subplot* s, double z, const StyleSpec* style, const GraphicsDriver* d,
                      GraphicsDriverContext* ctx) {
  if (!std::isfinite(z)) return;
  if (z == 0) return render_vline_data(s, 0, style, d, ctx);
  double xlo, xhi;
  subplot_visible_xrange(s, &xlo, &xhi);
  const double h = std::sqrt(1 - z * z) / z * xlo;
  const double x[3] = {xlo, 0, xlo}, y[3] = {-h, 0, h};
  draw_data(s, x, y, 3, false, style, d, ctx);
}

void render_sgrid(const Subplot* s, int32_t nz, int32_t nw, bool with_lines, const StyleSpec* style,
                  const GraphicsDriver* d, GraphicsDriverContext* ctx) {
  render_vline_data(s, 0, style, d, ctx);
  if (!with_lines) return;
  for (int32_t k = 1; nz > 0 && double(k) / nz < kDampingBound; ++k) render_sgrid_ray(s, double(k) / nz, style, d, ctx);
  double xlo, xhi;
  subplot_visible_xrange(s, &xlo, &xhi);
  const double spacing = chart_sgrid_spacing(std::fabs(xlo));
  if (spacing == 0) return;
  for (int32_t i = 1; i <= nw; ++i) render_sgrid_circle(s, i * spacing / nw, style, d, ctx);
}

void render_hgrid(const Subplot* s, bool with_lines, const StyleSpec* style, const GraphicsDriver* d,
                  GraphicsDriverContext* ctx) {
  if (!d || !d->draw_polyline || !d->draw_ellipse) return;
  render_unit_circle(s, style, d, ctx);
  render_hline_data(s, 0, style, d, ctx);
  if (!with_lines) return;
  const double span = 0.1 * ((s->xMax - s->xMin) + (s->yMax - s->yMin));
  if (!std::isfinite(span)) return;
  auto circle = [&](double cx, double cy, double r) {
    if (span < r && r < kCircleRangeHigh * span) render_circle_data(s, cx, cy, r, style, d, ctx);
  };
  render_vline_data(s, -0.5, style, d, ctx);
  for (double m : {0.2, 0.5, 0.8}) {
    // Magnitudes m and 1/m share a radius.
    for (double mm : {m, 1 / m}) circle(mm * mm / (1 - mm * mm), 0, std::fabs(mm / (1 - mm * mm)));
  }
  render_circle_data(s, -0.5, 0, 0.5, style, d, ctx);
  for (double deg : {75.0, 60.0, 45.0, 30.0, 20.0, 10.0}) {
    const double phi = deg * kPi / 180, r = 0.5 / std::sin(phi), cy = 0.5 / std::tan(phi);
    circle(-0.5, cy, r);
    circle(-0.5, -cy, r);
  }
}

void render_ngrid_mcurve(const Subplot* s, double m, const StyleSpec* style, const GraphicsDriver* d,
                         GraphicsDriverContext* ctx) {
  // The window the figure shows, however its limits came about: automatic,
  // set by scale or locked.
  double xlo, xhi, ylo, yhi;
  subplot_visible_xrange(s, &xlo, &xhi);
  subplot_visible_yrange(s, &ylo, &yhi);
  if (!(yhi > 0) || !(ylo < yhi)) return;
  int32_t k0, k1;
  if (!chart_ngrid_periods(xlo, xhi, &k0, &k1)) return;
  double ph[kChartCurvePoints], g[kChartCurvePoints], shifted[kChartCurvePoints];
  const int32_t n = chart_ngrid_mcurve_points(m, yhi, ph, g);
  if (n == 0) return;
  for (int pass = 0; pass < 2; ++pass) {
    for (int32_t k = k0; k <= k1; ++k) {
      for (int32_t i = 0; i < n; ++i) shifted[i] = ph[i] - kTwoPi * k;
      draw_data(s, shifted, g, n, false, style, d, ctx);
    }
    for (int32_t i = 0; i < n; ++i) ph[i] = -kTwoPi - ph[i];  // the mirror about -pi
  }
}

void render_ngrid(const Subplot* s, bool with_lines, const StyleSpec* style, const GraphicsDriver* d,
                  GraphicsDriverContext* ctx) {
  for (int32_t k = 0; k <= 4; ++k) render_vline_data(s, -kPi - kTwoPi * k, style, d, ctx);
  render_hline_data(s, 1, style, d, ctx);
  if (!with_lines) return;
  for (double m : {4.0, 2.0, std::sqrt(2.0), 1.0, 1 / std::sqrt(2.0), 0.5, 0.25})
    render_ngrid_mcurve(s, m, style, d, ctx);
}
