// The per-pixel model of filled contours, shared by the tests that judge a
// picture of them: each point shows the highest level at or below the field
// there. The model field is the tracer's own: linear along each cell edge,
// and within a cell the part at or above a level is the polygon of its
// corners at or above it and the edge crossings between them (straight
// lines), the two high corners of a saddle apart. A judgement compares the
// level each pixel shows with the model's and measures how far a wrong pixel
// lies from a pixel whose band is the level it shows.
#pragma once

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace contour_model {

constexpr int kNone = -1;       // below every level (the background shows)
constexpr int kUnjudged = -2;   // off the grid, or in a cell with a value that is not finite
constexpr int kFar = 8;         // disagreements are measured up to this distance

struct Field {
  std::string name;
  int rows, cols;
  std::vector<double> z;  // row by row
  double x1, x2, y1, y2;
  std::vector<double> given;  // levels as passed: one number is a count
};

// The levels the command draws from what was passed (as the command
// settles them).
inline std::vector<double> settled_levels(const Field& f) {
  double zmin = INFINITY, zmax = -INFINITY;
  for (double v : f.z)
    if (std::isfinite(v)) zmin = std::min(zmin, v), zmax = std::max(zmax, v);
  if (f.given.size() == 2 && f.given[0] == f.given[1]) return {f.given[0]};
  if (f.given.size() != 1) return f.given;
  const int n = int(f.given[0]);
  std::vector<double> out;
  if (!(zmax > zmin)) return out;
  for (int i = 0; i < n; ++i) out.push_back(zmin + (zmax - zmin) * (i + 1) / (n + 1));
  return out;
}

// The level's place along an edge from a to b, as the tracer puts it.
inline double fraction(double L, double a, double b) {
  if (a == L) return 0.0;
  const double t = (L - a) / (b - a);
  if (!(t >= 0.0)) return 0.0;
  return t > 1.0 ? 1.0 : t;
}

inline bool inside(const double* px, const double* py, int n, double u, double v) {
  bool in = false;
  for (int i = 0, j = n - 1; i < n; j = i++)
    if ((py[i] > v) != (py[j] > v) && u < px[j] + (v - py[j]) * (px[i] - px[j]) / (py[i] - py[j])) in = !in;
  return in;
}

// Whether (u, v) in [0, 1]^2 of the cell with corners bl, br, tr, tl lies
// in the part at or above L.
inline bool above_in_cell(double bl, double br, double tr, double tl, double L, double u, double v) {
  const double z[4] = {bl, br, tr, tl};
  const double cu[4] = {0, 1, 1, 0}, cv[4] = {0, 0, 1, 1};
  bool hi[4];
  int highs = 0;
  for (int k = 0; k < 4; ++k) highs += hi[k] = z[k] >= L;
  if (highs == 0) return false;
  if (highs == 4) return true;
  // The crossing on the edge from corner k to corner k + 1 (counter-clockwise).
  auto crossing = [&](int k, double* x, double* y) {
    switch (k) {
      case 0: *x = fraction(L, bl, br), *y = 0; return;         // bottom, from (r, c)
      case 1: *x = 1, *y = fraction(L, br, tr); return;         // right, from (r, c + 1)
      case 2: *x = fraction(L, tl, tr), *y = 1; return;         // top, from (r + 1, c)
      default: *x = 0, *y = fraction(L, bl, tl); return;        // left, from (r, c)
    }
  };
  if (highs == 2 && hi[0] == hi[2]) {  // a saddle: a triangle at each high corner
    for (int k = 0; k < 4; ++k) {
      if (!hi[k]) continue;
      double px[3], py[3];
      px[0] = cu[k], py[0] = cv[k];
      crossing(k, &px[1], &py[1]);
      crossing((k + 3) % 4, &px[2], &py[2]);
      if (inside(px, py, 3, u, v)) return true;
    }
    return false;
  }
  double px[8], py[8];
  int n = 0;
  for (int k = 0; k < 4; ++k) {
    if (hi[k]) px[n] = cu[k], py[n++] = cv[k];
    if (hi[k] != hi[(k + 1) % 4]) crossing(k, &px[n], &py[n]), ++n;
  }
  return inside(px, py, n, u, v);
}

// The model's level at a data point: the highest level at or below the
// field there (the last of equal ones), kNone below every level, kUnjudged
// where the cell has a value that is not finite (no band to judge).
inline int model_band(const Field& f, const std::vector<double>& levels, double x, double y) {
  const double gx = (x - f.x1) / (f.x2 - f.x1) * (f.cols - 1), gy = (y - f.y1) / (f.y2 - f.y1) * (f.rows - 1);
  const int c = std::clamp(int(std::floor(gx)), 0, f.cols - 2), r = std::clamp(int(std::floor(gy)), 0, f.rows - 2);
  auto z = [&](int rr, int cc) { return f.z[size_t(rr) * f.cols + cc]; };
  const double bl = z(r, c), br = z(r, c + 1), tr = z(r + 1, c + 1), tl = z(r + 1, c);
  if (!std::isfinite(bl) || !std::isfinite(br) || !std::isfinite(tr) || !std::isfinite(tl)) return kUnjudged;
  int best = kNone;
  for (int i = 0; i < int(levels.size()); ++i)
    if ((best == kNone || levels[size_t(i)] >= levels[size_t(best)]) &&
        above_in_cell(bl, br, tr, tl, levels[size_t(i)], gx - c, gy - r))
      best = i;
  return best;
}

// The model's level at every pixel centre of a width by height picture in
// which the data points (x1, y1) and (x2, y2) lie at pixels (px[0], py[0])
// and (px[1], py[1]).
inline std::vector<int> model_picture(const Field& f, int width, int height, const double px[2],
                                      const double py[2]) {
  const std::vector<double> levels = settled_levels(f);
  std::vector<int> want(size_t(width) * height);
  for (int row = 0; row < height; ++row)
    for (int col = 0; col < width; ++col) {
      const double x = f.x1 + (col + 0.5 - px[0]) / (px[1] - px[0]) * (f.x2 - f.x1);
      const double y = f.y1 + (row + 0.5 - py[0]) / (py[1] - py[0]) * (f.y2 - f.y1);
      const bool off = (x - f.x1) * (x - f.x2) > 0 || (y - f.y1) * (y - f.y2) > 0;
      want[size_t(row) * width + col] = off ? kUnjudged : model_band(f, levels, x, y);
    }
  return want;
}

struct Judgement {
  int worst = 0;    // the farthest (in pixels) a wrong pixel lies from a pixel of its shown level
  int judged = 0;   // pixels compared
  int wrong = 0;    // of them showing another level than their band's
  std::string where;
};

// Each pixel of `got` against `want` (both row by row); a wrong pixel's
// distance is that of the nearest pixel whose band is the level it shows
// (or that is not judged), kFar at most.
inline Judgement judge_picture(const std::string& name, const std::vector<int>& want, const std::vector<int>& got,
                               int width, int height) {
  Judgement j;
  for (int row = 0; row < height; ++row)
    for (int col = 0; col < width; ++col) {
      const int w = want[size_t(row) * width + col], shown = got[size_t(row) * width + col];
      if (w == kUnjudged) continue;
      ++j.judged;
      if (w == shown) continue;
      ++j.wrong;
      int k = 1;
      for (; k < kFar; ++k) {
        bool seen = false;
        for (int a = std::max(0, row - k); a <= std::min(height - 1, row + k) && !seen; ++a)
          for (int b = std::max(0, col - k); b <= std::min(width - 1, col + k) && !seen; ++b)
            seen = want[size_t(a) * width + b] == shown || want[size_t(a) * width + b] == kUnjudged;
        if (seen) break;
      }
      if (k > j.worst) {
        j.worst = k;
        j.where = name + ": pixel (" + std::to_string(col) + "," + std::to_string(row) + ") shows level " +
                  std::to_string(shown) + ", its band is level " + std::to_string(w);
      }
    }
  return j;
}

}  // namespace contour_model
