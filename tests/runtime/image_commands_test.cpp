// image, pcolor, colormap and quiver run from ZVR code in an instance's
// drawing context: the records each writes (image bytes compared bit for
// bit), the errors that write nothing, the colour map's replacement and
// query at every output count, the arrows' geometry on grids of every
// shape, the exact-room rule and the failure sweep.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/lib_calls.h"
#include "runtime/drawing_context.h"
#include "support/failure_sweep.h"

namespace {

using Doubles = std::vector<double>;
using Bits = std::vector<uint64_t>;
struct ImageCommands : DrawingCommands {
  Bits bits(const Doubles& d) {
    Bits b(d.size());
    std::memcpy(b.data(), d.data(), d.size() * sizeof(double));
    return b;
  }
};

Doubles rec(double code, double id, double index, double style, double colour, Doubles data) {
  Doubles r{code, id, index, style, colour, double(data.size())};
  r.insert(r.end(), data.begin(), data.end());
  return r;
}
Doubles cat(std::initializer_list<Doubles> parts) {
  Doubles all;
  for (const Doubles& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}
// Bytes packed eight to a double, the last one padded with zeros.
Doubles packed(std::vector<uint8_t> bytes) {
  bytes.resize((bytes.size() + 7) / 8 * 8, 0);
  Doubles d(bytes.size() / 8);
  if (!bytes.empty()) std::memcpy(d.data(), bytes.data(), bytes.size());
  return d;
}
Doubles image_rec(double id, double flags, double rows, double cols, Doubles corner, std::vector<uint8_t> bytes) {
  Doubles data{flags, rows, cols};
  data.insert(data.end(), corner.begin(), corner.end());
  const Doubles b = packed(std::move(bytes));
  data.insert(data.end(), b.begin(), b.end());
  return rec(9, id, 0, 0, 0, data);
}

TEST_F(ImageCommands, ImageRecords) {
  struct Case {
    const char* code;
    Doubles want;
  };
  const Case cases[] = {
      {"image([0 1 1; 0 0 1])", image_rec(-1, 0, 2, 3, {0, 0, 3, 2}, {0, 255, 255, 0, 0, 255})},
      {"image(uint8([1 2; 3 250]), uint8([4 5; 6 7]), uint8([8 9; 10 11]))",
       image_rec(-1, 1, 2, 2, {0, 0, 2, 2}, {1, 2, 3, 250, 4, 5, 6, 7, 8, 9, 10, 11})},
      {"image([true false], [true true], [false true])", image_rec(-1, 1, 1, 2, {0, 0, 2, 1}, {255, 0, 255, 255, 0, 255})},
      {"image([-0.5 1.5 NaN 0.5 0.999])", image_rec(-1, 0, 1, 5, {0, 0, 5, 1}, {0, 255, 0, 127, 255})},
      {"image(single([0.25 1]))", image_rec(-1, 0, 1, 2, {0, 0, 2, 1}, {63, 255})},
      {"image([0 1], [1 3 2 6])", image_rec(-1, 0, 1, 2, {1, 2, 2, 4}, {0, 255})},
      {"image([0 1], 'e')", image_rec(-1, 2, 1, 2, {0, 0, 2, 1}, {0, 255})},
      {"image([0 1], '1')", image_rec(-1, 4, 1, 2, {0, 0, 2, 1}, {0, 255})},
      {"image([0 1], '3')", image_rec(-1, 12, 1, 2, {0, 0, 2, 1}, {0, 255})},
      {"image([0 1], [0 1 0 1], 'e', 7)", image_rec(7, 2, 1, 2, {0, 0, 1, 1}, {0, 255})},
      {"image([0 1], [0 1], [0 0], [0 1 0 1], 'x', 8)", image_rec(8, 1, 1, 2, {0, 0, 1, 1}, {0, 255, 0, 255, 0, 0})},
      // Pages of a three-dimensional array are the planes.
      {"a = zeros(1, 2, 3); a(1, 2, 1) = 1; a(1, 1, 3) = 1; image(a)",
       image_rec(-1, 1, 1, 2, {0, 0, 2, 1}, {0, 255, 0, 0, 255, 0})},
      {"image(zeros(0, 0))", image_rec(-1, 0, 0, 0, {0, 0, 0, 0}, {})},
  };
  for (const Case& c : cases) {
    used() = 0;
    ASSERT_EQ(run(std::string(c.code) + ";\n"), kOk) << c.code;
    EXPECT_EQ(bits(records()), bits(c.want)) << c.code;
  }
  used() = 0;
  ASSERT_EQ(run("image([1 2 3; 4 5 6], [-1 2 5 9]);\n"), kOk);
  EXPECT_EQ(s().xMin, -1);
  EXPECT_EQ(s().xMax, 2);
  EXPECT_EQ(s().yMin, 5);
  EXPECT_EQ(s().yMax, 9);
}

TEST_F(ImageCommands, PcolorRecords) {
  const double red = pack_colour(255, 0, 0);
  const std::pair<const char*, Doubles> cases[] = {
      {"pcolor([1 2; 3 4])", rec(10, -1, 0, 0x140, 0, {0, 2, 2, 1, 2, 3, 4})},
      {"pcolor([1 2 3; 4 5 6], 'r')", rec(10, -1, 0, 4, red, {0, 2, 3, 1, 2, 3, 4, 5, 6})},
      {"pcolor([1 2; 3 4], 'r', 9)", rec(10, 9, 0, 4, red, {0, 2, 2, 1, 2, 3, 4})},
      {"pcolor([10 20 30], [5; 6], [1 2 3; 4 5 6])",
       rec(10, -1, 0, 0x140, 0, {1 | 4, 2, 3, 10, 20, 30, 5, 6, 1, 2, 3, 4, 5, 6})},
      {"pcolor([1 2; 3 4], [5 6; 7 8], [0 1; 1 0], 'r', 3)",
       rec(10, 3, 0, 4, red, {2 | 8, 2, 2, 1, 2, 3, 4, 5, 6, 7, 8, 0, 1, 1, 0})},
      {"pcolor([1 2; 3 4], [5 6], [0 1; 1 0])", rec(10, -1, 0, 0x140, 0, {2 | 4, 2, 2, 1, 2, 3, 4, 5, 6, 0, 1, 1, 0})},
  };
  for (const auto& [code, want] : cases) {
    used() = 0;
    ASSERT_EQ(run(std::string(code) + ";\n"), kOk) << code;
    EXPECT_EQ(records(), want) << code;
  }
  used() = 0;
  ASSERT_EQ(run("pcolor([1 2 3; 4 5 6]);\n"), kOk);
  EXPECT_EQ(s().xMin, 1);
  EXPECT_EQ(s().xMax, 3);
  EXPECT_EQ(s().yMin, 1);
  EXPECT_EQ(s().yMax, 2);
}

TEST_F(ImageCommands, ErrorsWriteNothing) {
  const std::pair<const char*, int> cases[] = {
      {"image(int16([1 2]))", kWrongType},
      {"image('ab', 'e')", kWrongType},
      {"image([1 2], [1 2], int16([1 2]))", kWrongType},
      {"image([1 2], uint8([1 2]), [1 2])", kWrongType},
      {"image([true false], [1 0], [1 0])", kWrongType},
      {"image(zeros(2, 2, 2))", kBadSize},
      {"image(zeros(2, 2, 3), zeros(2, 2, 3), zeros(2, 2, 3))", kBadSize},
      {"image([1 2], [1 2], [1 2 3])", kIncompatibleSize},
      {"image([1 2], [1 2 3])", kBadSize},
      {"image([1 2], [1 2 3 4 5])", kBadSize},
      {"image(1i)", kWrongType},
      {"pcolor(1, [1 2], [1 2; 3 4])", kIncompatibleSize},
      {"pcolor([1 2 3], [1; 2], [1 2; 3 4])", kIncompatibleSize},
      {"pcolor([1 2], [1 2 3], [1 2; 3 4])", kIncompatibleSize},
      {"pcolor([1 2; 3 4], 'r', 9, 10)", kTooManyInputs},
      {"colormap([0 0 1.5])", kArgOutOfRange},
      {"colormap([0 0 NaN])", kArgOutOfRange},
      {"colormap([0 0 -0.1])", kArgOutOfRange},
      {"colormap({1})", kWrongArgType},
      // A map is a real matrix: text is the wrong type, not codes out of
      // range (44 would have the engine retry it as its character codes),
      // and a complex map lost its imaginary parts.
      {"colormap('abc')", kWrongType},
      {"colormap(char([0 0 1]))", kWrongType},
      {"colormap([0 0 1i])", kWrongArgType},
      {"colormap([0 1])", kBadSize},
      {"quiver([1 2], [1 2 3])", kIncompatibleSize},
      {"quiver([1 2 3; 4 5 6], [1 2; 3 4], [1 2; 3 4], [1 2; 3 4])", kIncompatibleSize},
      {"quiver([1 2 3], [1 2], [1 2; 3 4], [1 2; 3 4])", kIncompatibleSize},
      {"quiver([1 2], [1; 2; 3], [1 2; 3 4], [1 2; 3 4])", kIncompatibleSize},
      {"quiver([1 2; 3 4], [1 2; 3 4], 1, 'r', 5)", kTooManyInputs},
  };
  for (auto [code, status] : cases) {
    used() = 0;
    EXPECT_EQ(run(std::string(code) + ";\n"), status) << code;
    EXPECT_EQ(used(), 0) << code;
  }
}

TEST_F(ImageCommands, ColormapReplacesTheCurrentObjectsMapOnly) {
  ASSERT_EQ(run("colormap([0 0 0; 1 1 1]); plot(1:2); colormap([0.5 0.25 1]);\n"), kOk);
  const Doubles r = records();
  const Doubles plot = rec(1, -1, 1, 8, 0, {2, 1, 2, 1, 2});
  EXPECT_EQ(r, cat({plot, rec(11, -1, -1, 0, 0, {1, 0.5, 0.25, 1})}));
  // A second subplot keeps the first one's map.
  used() = 0;
  ASSERT_EQ(run("subplot(121); colormap([0 0 0]); subplot(122); colormap([1 1 1]); colormap([1 0 0]);\n"), kOk);
  const Doubles want = cat({Doubles{kCodeOpenObject, -1, -1, 0, 0, 1, 0}, rec(11, -1, -1, 0, 0, {1, 0, 0, 0}),
                            Doubles{kCodeOpenObject, -1, -1, 0, 0, 1, 1}, rec(11, -1, -1, 0, 0, {1, 1, 0, 0})});
  EXPECT_EQ(list(), want);
}

TEST_F(ImageCommands, ColormapQueryAtEveryOutputCount) {
  ASSERT_EQ(run("m = colormap; if ~isempty(m), error('x'); end\n"), kOk);
  ASSERT_EQ(run("colormap([0 0.5 1; 1 0.25 0]); m = colormap;\n"
                "if any(size(m) ~= [2 3]) || any(any(m ~= [0 0.5 1; 1 0.25 0])), error('x'); end\n"
                "n = colormap([1 1 1]); if any(n ~= [1 1 1]), error('x'); end\n"),
            kOk);
  const BuiltinFn fn = engine_row("colormap");
  const int before = stk_item_count(c());
  ASSERT_EQ(lib_call_builtin(c(), fn, 0, 0), kOk);
  EXPECT_EQ(stk_item_count(c()), before);
  ASSERT_EQ(lib_call_builtin(c(), fn, 0, -1), kOk);
  ASSERT_EQ(stk_item_count(c()), before + 1);
  EXPECT_EQ(desc_at(c(), 0)[0], uint32_t(kKindNoValue));
  stk_drop(c());
  // As a statement the map is set and one no-value item stands for it.
  ASSERT_EQ(push_variable("n"), kOk);
  ASSERT_EQ(lib_call_builtin(c(), fn, 1, -1), kOk);
  ASSERT_EQ(stk_item_count(c()), before + 1);
  EXPECT_EQ(desc_at(c(), 0)[0], uint32_t(kKindNoValue));
  stk_drop(c());
}

// Arrow i of a quiver list: shaft (x0, y0)-(x1, y1) and the three head points.
struct Arrow {
  double x0, y0, x1, y1;
  double hx[3], hy[3];
};
std::vector<Arrow> arrows(const Doubles& r) {
  std::vector<Arrow> out;
  for (size_t at = 0; at + 24 <= r.size(); at += 24) {
    Arrow a;
    const double* s = r.data() + at + 6;
    a.x0 = s[1], a.x1 = s[2], a.y0 = s[3], a.y1 = s[4];
    const double* h = r.data() + at + 11 + 6;
    for (int k = 0; k < 3; ++k) a.hx[k] = h[1 + k], a.hy[k] = h[4 + k];
    out.push_back(a);
  }
  return out;
}

TEST_F(ImageCommands, QuiverArrows) {
  ASSERT_EQ(run("quiver([1 0; 0 -1], [0 1; 0.5 0]);\n"), kOk);
  Doubles r = records();
  ASSERT_EQ(r.size(), 4u * 24);
  for (size_t at = 0; at < r.size(); at += 24) {
    EXPECT_EQ(r[at], 1);
    EXPECT_EQ(r[at + 3], 8);
    EXPECT_EQ(r[at + 5], 5);
    EXPECT_EQ(r[at + 11], 1);
    EXPECT_EQ(r[at + 11 + 5], 7);
  }
  std::vector<Arrow> a = arrows(r);
  // dx = dy = 1, L2 = 1: the longest arrow is 0.9 long, heads 0.3.
  EXPECT_DOUBLE_EQ(a[0].x0, 1);
  EXPECT_DOUBLE_EQ(a[0].x1, 1.9);
  EXPECT_DOUBLE_EQ(a[0].y1, 1);
  EXPECT_DOUBLE_EQ(a[0].hx[0], 1.6);
  EXPECT_DOUBLE_EQ(a[0].hy[0], 1.15);
  EXPECT_DOUBLE_EQ(a[0].hx[2], 1.6);
  EXPECT_DOUBLE_EQ(a[0].hy[2], 0.85);
  EXPECT_DOUBLE_EQ(a[1].x0, 2);
  EXPECT_DOUBLE_EQ(a[1].y1, 1.9);
  EXPECT_DOUBLE_EQ(a[2].x0, 1);
  EXPECT_DOUBLE_EQ(a[2].y0, 2);
  EXPECT_DOUBLE_EQ(a[2].y1, 2.45);
  EXPECT_DOUBLE_EQ(a[3].x1, 1.1);
  EXPECT_EQ(s().xMin, 0);
  EXPECT_EQ(s().xMax, 3);
  EXPECT_EQ(s().yMin, 0);
  EXPECT_EQ(s().yMax, 3);

  // Grids that are not square: both ranges divided by the column count
  // less one; with one column the rows' spacing serves both.
  struct Grid {
    const char* code;
    double dx, dy, scale;
  };
  const Grid grids[] = {
      {"quiver(ones(3, 2), zeros(3, 2))", 1, 2, 1},
      {"quiver(ones(2, 3), zeros(2, 3))", 1, 0.5, 1},
      {"quiver([1 2 0; 3 4 1], [1 1 0; 1 -1 2])", 1, 0.5, 1},
      {"quiver([0 10 20], [0; 4], ones(2, 3), zeros(2, 3), 2)", 10, 2, 2},
      {"quiver([0 10], [0 1 2], ones(3, 2), zeros(3, 2))", 10, 2, 1},
      {"quiver([0 10], [0 1 2 3], ones(4, 2), zeros(4, 2))", 10, 3, 1},
      {"quiver([1 2 3], [0 0 0])", 1, 1, 1},
      {"quiver([1; 2], [0; 0])", 1, 1, 1},
      {"quiver([0 5], [7 7], [1 1], [0 0])", 5, 5, 1},
      {"quiver(1, 0)", 1, 1, 1},
  };
  for (const Grid& g : grids) {
    used() = 0;
    ASSERT_EQ(run(std::string(g.code) + ";\n"), kOk) << g.code;
    a = arrows(records());
    ASSERT_FALSE(a.empty()) << g.code;
    double longest = 0;
    for (const Arrow& w : a) longest = std::max(longest, std::hypot(w.x1 - w.x0, w.y1 - w.y0));
    EXPECT_NEAR(longest, 0.9 * g.scale * std::min(g.dx, g.dy), 1e-12) << g.code;
    double xlo = 1e300, xhi = -1e300, ylo = 1e300, yhi = -1e300;
    for (const Arrow& w : a) xlo = std::min(xlo, w.x0), xhi = std::max(xhi, w.x0);
    for (const Arrow& w : a) ylo = std::min(ylo, w.y0), yhi = std::max(yhi, w.y0);
    EXPECT_NEAR(s().xMin, xlo - g.dx, 1e-12) << g.code;
    EXPECT_NEAR(s().xMax, xhi + g.dx, 1e-12) << g.code;
    EXPECT_NEAR(s().yMin, ylo - g.dy, 1e-12) << g.code;
    EXPECT_NEAR(s().yMax, yhi + g.dy, 1e-12) << g.code;
  }

  // s = 0: arrows keep their lengths.
  used() = 0;
  ASSERT_EQ(run("quiver(3, 4, 0);\n"), kOk);
  a = arrows(records());
  ASSERT_EQ(a.size(), 1u);
  EXPECT_DOUBLE_EQ(a[0].x1, 4);
  EXPECT_DOUBLE_EQ(a[0].y1, 5);
  // All-zero fields: every arrow collapses to its base, all finite.
  used() = 0;
  ASSERT_EQ(run("quiver(zeros(2, 3), zeros(2, 3));\n"), kOk);
  for (double v : records()) EXPECT_TRUE(std::isfinite(v));
  for (const Arrow& w : arrows(records())) EXPECT_EQ(w.x0, w.x1);
  // An empty field writes nothing, not even the opening record.
  used() = 0;
  ASSERT_EQ(run("quiver(zeros(0, 0), zeros(0, 0));\n"), kOk);
  EXPECT_EQ(used(), 0);
}

// Exact room takes the records; one double less gives 10001, nothing written.
TEST_F(ImageCommands, ExactRoomAndOneLess) {
  const char* codes[] = {
      "image([0 1 1; 0 0 1])", "image(uint8([1 2; 3 4]), uint8([1 2; 3 4]), uint8([1 2; 3 4]), [0 1 0 1], 'e', 3)",
      "pcolor([1 2; 3 4])",    "pcolor([1 2 3], [1; 2], [1 2 3; 4 5 6], 'r')",
      "colormap([0 0 0; 1 1 1])", "quiver([1 2; 3 4], [1 0; 0 1])",
      "quiver([1 2 3], [1 2], ones(2, 3), zeros(2, 3), 2, 'r')",
  };
  auto prepare = [&](int32_t before) {
    host.block->h.build.capacity = full_capacity;
    used() = 0;
    if (before) ASSERT_EQ(run("scale([0 1]);\n"), kOk);
    ASSERT_EQ(used(), before);
  };
  for (const char* code : codes)
    for (int32_t before : {0, 7}) {
      ASSERT_NO_FATAL_FAILURE(prepare(before));
      ASSERT_EQ(run(std::string(code) + ";\n"), kOk) << code;
      const int32_t need = used();
      const Doubles want = list();
      for (int32_t less : {0, 1}) {
        ASSERT_NO_FATAL_FAILURE(prepare(before));
        host.block->h.build.capacity = need - less;
        const int status = run(std::string(code) + ";\n");
        if (less == 0) {
          EXPECT_EQ(status, kOk) << code;
          EXPECT_EQ(bits(list()), bits(want)) << code;
        } else {
          EXPECT_EQ(status, kPlotOverflow) << code << " before " << before;
          EXPECT_EQ(used(), before) << code;
        }
      }
    }
  // A new map counts its room after the old one is gone; a refused one
  // keeps the old map.
  ASSERT_NO_FATAL_FAILURE(prepare(0));
  ASSERT_EQ(run("colormap([0 0 0; 1 1 1; 0 0 0]); plot(1:2);\n"), kOk);
  const Doubles old_list = list();
  const int32_t after = used() - 3;  // one colour less
  for (int32_t less : {0, 1}) {
    host.block->h.build.capacity = full_capacity;
    used() = int32_t(old_list.size());
    std::memcpy(plotstore_data(rt_plot_store(host.block)) + host.block->h.build.start, old_list.data(),
                old_list.size() * sizeof(double));
    host.block->h.build.capacity = after - less;
    const int status = run("colormap([1 1 1; 0 0 0]);\n");
    if (less == 0) {
      EXPECT_EQ(status, kOk);
      EXPECT_EQ(used(), after);
    } else {
      EXPECT_EQ(status, kPlotOverflow);
      EXPECT_EQ(list(), old_list);
    }
  }
}

TEST_F(ImageCommands, RowsAreBound) {
  for (const char* name : {"image", "pcolor", "colormap", "quiver"})
    EXPECT_NE(engine_row(name), builtin_not_supported) << name;
}

// Each command under the failure sweep, as a call and as a statement.
TEST_F(ImageCommands, EveryCommandPassesTheFailureSweep) {
  ASSERT_EQ(run("a_ = [0 1 1; 0 0 1]; u_ = uint8([1 2; 3 4]); l_ = [0 1 0 1]; e_ = 'e'; i_ = 3;\n"
                "x_ = [1 2 3]; y_ = [1; 2]; c_ = [1 2 3; 4 5 6]; s_ = 'r'; m_ = [0 0 0; 1 1 1];\n"
                "q_ = ones(2, 3); z_ = zeros(2, 3); k_ = 2;\n"),
            kOk);
  const struct {
    const char* name;
    std::vector<const char*> inputs;
    std::vector<int> outs;
  } cases[] = {
      {"image", {"a_"}, {0, -1}},
      {"image", {"u_", "u_", "u_", "l_", "e_", "i_"}, {0, -1}},
      {"pcolor", {"c_"}, {0, -1}},
      {"pcolor", {"x_", "y_", "c_", "s_", "i_"}, {0, -1}},
      {"colormap", {"m_"}, {0, -1, 1}},
      {"colormap", {}, {0, -1, 1}},
      {"quiver", {"q_", "z_"}, {0, -1}},
      {"quiver", {"x_", "y_", "q_", "z_", "k_", "s_"}, {0, -1}},
  };
  for (const auto& k : cases)
    for (int nout : k.outs)
      EXPECT_TRUE(sweep_call(k.name, k.inputs, nout)) << k.name << " " << k.inputs.size() << " " << nout;
}

}  // namespace
