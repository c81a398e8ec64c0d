// The response commands run from ZVR code in a drawing context: the system
// records and curves they write, the errors that write nothing, the exact
// room rule, values returned at every output count (equal to the drawn
// curves, and without a subplot), and the failure sweep.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstring>
#include <functional>
#include <random>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/core/lib_calls.h"
#include "engine/lib/builtin_tables.h"
#include "graphics/interact/hit_test.h"
#include "graphics/interact/manip_state.h"
#include "numlib/polyroots.h"
#include "runtime/drawing_context.h"
#include "support/recording_driver.h"
#include "support/failure_sweep.h"

namespace {

using Doubles = std::vector<double>;
struct Responses : DrawingCommands {
  // The records of the list as (start, code) pairs, after the opening record.
  std::vector<std::pair<size_t, int>> heads() {
    const Doubles r = records();
    std::vector<std::pair<size_t, int>> out;
    for (size_t at = 0; at + 6 <= r.size(); at += 6 + size_t(r[at + 5])) out.push_back({at, int(r[at])});
    return out;
  }
  // A base-workspace matrix, row by row.
  Doubles variable(const char* name) {
    if (push_variable(name) != kOk) return {};
    int32_t rows = 0, cols = 0;
    double *re = nullptr, *im = nullptr;
    Doubles out;
    if (stk_get_matrix(c(), 0, &rows, &cols, &re, &im) == kOk) out.assign(re, re + int64_t(rows) * cols);
    stk_drop(c());
    return out;
  }
};

TEST_F(Responses, TwoRowsWriteTwoSystemRecordsEachWithItsCurve) {
  ASSERT_EQ(run("bodemag([1; 2], [1 1; 1 2]);\n"), kOk);
  const Doubles r = records();
  const auto h = heads();
  ASSERT_EQ(h.size(), 4u);
  const Doubles sys1(r.begin(), r.begin() + 11);
  EXPECT_EQ(sys1, (Doubles{19, -1, 1, 8, 0, 5, 0, 1, 1, 1, 1}));
  EXPECT_EQ(h[1].second, 1);
  EXPECT_EQ(r[h[1].first + 2], 1);      // index
  EXPECT_EQ(r[h[1].first + 5], 401);    // 2N + 1
  EXPECT_EQ(r[h[1].first + 6], 200);    // N
  EXPECT_EQ(h[2].second, 19);
  EXPECT_EQ(r[h[2].first + 2], 2);
  EXPECT_EQ(r[h[2].first + 8], 2);      // the second numerator
  EXPECT_EQ(h[3].second, 1);
  EXPECT_EQ(r[h[3].first + 2], 2);
}

TEST_F(Responses, SystemRecordsOfEachForm) {
  struct Case {
    const char* code;
    Doubles head;  // the system record
    int curves;
  };
  const Case cases[] = {
      {"dbodemag([0 1], [1 -0.5], 0.1, 'r', 7)", {23, 7, 1, 4, double(pack_colour(255, 0, 0)), 6, 0.1, 0, 1, 1, 1, -0.5}, 1},
      {"dbodephase(1, [1 -0.5], 2)", {24, -1, 1, 8, 0, 6, 2, 0, 1, 1, 1, -0.5}, 1},
      {"bodephase(1, [1 0])", {20, -1, 1, 8, 0, 5, 0, 1, 1, 1, 0}, 1},
      {"step([1 2], [1 3])", {34, -1, 1, 8, 0, 6, 1, 1, 1, 2, 1, 3}, 1},
      {"impulse(1, [1 3])", {33, -1, 1, 8, 0, 5, 0, 1, 1, 1, 3}, 1},
      {"dstep(1, [1 -0.5], 1)", {36, -1, 1, 8, 0, 6, 1, 0, 1, 1, 1, -0.5}, 1},
      {"dimpulse(1, [1 -0.5], 1)", {35, -1, 1, 8, 0, 6, 1, 0, 1, 1, 1, -0.5}, 1},
      {"bodemag(-1, 1, [1; 2], [0; 0])", {27, -1, 1, 8, 0, 8, 1, 2, -1, 1, 1, 2, 0, 0}, 2},
      // Empty B is zeros of its shape, in the record too.
      {"bodemag(-1, [], 3, 0)", {27, -1, 1, 8, 0, 6, 1, 1, -1, 0, 3, 0}, 1},
      {"sigma(-1, [1 2], 3, [0 0])", {31, -1, 1, 8, 0, 9, 1, 1, 2, -1, 1, 2, 3, 0, 0}, 2},
      {"dsigma(0.5, [1 2], 3, [0 0], 1)", {32, -1, 1, 8, 0, 10, 1, 1, 1, 2, 0.5, 1, 2, 3, 0, 0}, 2},
      {"step(-1, 1, 2, 0.5)", {38, -1, 1, 8, 0, 6, 1, 1, -1, 1, 2, 0.5}, 1},
      {"dimpulse(0.5, 1, 2, 0, 1)", {39, -1, 1, 8, 0, 7, 1, 1, 1, 0.5, 1, 2, 0}, 1},
  };
  for (const Case& k : cases) {
    used() = 0;
    ASSERT_EQ(run(std::string(k.code) + ";\n"), kOk) << k.code;
    const Doubles r = records();
    ASSERT_GE(r.size(), k.head.size()) << k.code;
    EXPECT_EQ(Doubles(r.begin(), r.begin() + long(k.head.size())), k.head) << k.code;
    const auto h = heads();
    ASSERT_EQ(int(h.size()), 1 + k.curves) << k.code;
    for (int j = 1; j <= k.curves; ++j) EXPECT_EQ(h[size_t(j)].second, 1) << k.code;
  }
}

TEST_F(Responses, ErrorsWriteNothing) {
  const std::pair<const char*, int> cases[] = {
      {"impulse([1 1], [1 2])", kIncompatibleSize},   // strictly proper only
      {"step([1 1 1], [1 2])", kIncompatibleSize},
      {"sigma(1, [1 1], [1 2], 'r')", kBadArgument},  // no transfer-function form
      {"bodemag(1, [1 1; 1 2])", kIncompatibleSize},
      {"dbodemag(1, [1 -0.5], 0)", kBadArgument},     // Ts not positive
      {"dstep(1, [1 -0.5], inf)", kBadArgument},
      {"dstep(1, [1 -0.5], -1)", kBadArgument},
      {"bodemag(1, [1 1], responseset('Range', [1 10 100]))", kBadSize},
      {"bodemag(-1, 1, 1, [1 1])", kIncompatibleSize}, // one input only
      {"bodemag(-1, [1 1], 1, 0)", kIncompatibleSize},
      {"impulse(-1, 1, 1, 2)", kBadArgument},          // D not zero
      {"bodemag(1, [1 1], 'r', 5, 6)", kBadArgument},
      {"bodemag(1, [1 1], [1 2], 'r', [1 2])", kBadArgument},
  };
  for (auto [code, status] : cases) {
    used() = 0;
    EXPECT_EQ(run(std::string(code) + ";\n"), status) << code;
    EXPECT_EQ(used(), 0) << code;
  }
}

TEST_F(Responses, ExactRoomAndOneLess) {
  const char* codes[] = {
      "bodemag([1; 2], [1 1; 1 2])", "dbodephase(1, [1 -0.5], 0.5)", "sigma(-1, [1 2], [3; 4], zeros(2))",
      "step([1 2], [1 3])", "dstep(1, [1 -0.5], 1)", "impulse(-1, 1, [1; 1], [0; 0])",
      "dstep(1, [1 -0.5], 1, 's')", "bodemag(-1, [], 3, 0)", "nyquist(1, [1 1])", "dnyquist([1 2], [1 -0.5])",
      "nichols(1, [1 2 2 1], [0.1 1 2])", "dnichols(1, [1 -0.5], [0.1 1 2])",
      "dstep(1, [1 -0.5], 1, responseset('Range', [-2.5 3]), 's')",
      "dimpulse(0.5, 1, 1, 0, 1, responseset('Range', [-2.5 3]))",
  };
  for (const char* code : codes) {
    host.block->h.build.capacity = full_capacity;
    used() = 0;
    ASSERT_EQ(run(std::string(code) + ";\n"), kOk) << code;
    const Doubles want = list();
    // The computation's scratch lies beyond the records: find the least room.
    int32_t lo = int32_t(want.size()), hi = full_capacity;
    while (lo < hi) {
      const int32_t mid = lo + (hi - lo) / 2;
      used() = 0;
      host.block->h.build.capacity = mid;
      if (run(std::string(code) + ";\n") == kOk) hi = mid;
      else lo = mid + 1;
    }
    for (int32_t less : {0, 1}) {
      used() = 0;
      host.block->h.build.capacity = lo - less;
      const int status = run(std::string(code) + ";\n");
      if (less == 0) {
        EXPECT_EQ(status, kOk) << code;
        EXPECT_EQ(list(), want) << code;
      } else {
        // Rows before the one that did not fit stay, whole.
        EXPECT_EQ(status, kPlotOverflow) << code;
        const Doubles got = list();
        ASSERT_LT(got.size(), want.size()) << code;
        EXPECT_TRUE(std::equal(got.begin(), got.end(), want.begin())) << code;
        if (std::strncmp(code, "bodemag([1; 2]", 14) != 0) EXPECT_EQ(used(), 0) << code;
      }
    }
  }
  host.block->h.build.capacity = full_capacity;
}

TEST_F(Responses, DrawnCurvesEqualReturnedValues) {
  // A drawn discrete line starting at 0 has one zero point before the samples.
  // The time responses end where the poles put them (0: not checked): a
  // triple pole, an integrator in state space and discrete poles at 1 among
  // them, whose rounding noise must not move the range.
  struct Pair {
    const char *draw, *values;
    size_t lead;
    double end = 0;
  };
  const Pair pairs[] = {
      {"bodemag([1 2], [1 0.5 4])", "[y, x] = bodemag([1 2], [1 0.5 4]);", 0},
      {"dbodephase(1, [1 -1.2 0.5], 1)", "[y, x] = dbodephase(1, [1 -1.2 0.5], 1);", 0},
      {"step(2, [1 0.5])", "[y, x] = step(2, [1 0.5]);", 0, 20},
      {"dimpulse([0.1 0.05], [1 -1.3 0.45], 0.5)", "[y, x] = dimpulse([0.1 0.05], [1 -1.3 0.45], 0.5);", 1},
      {"dimpulse([0.1 0.05], [1 -1.3 0.45], 0.5, 'o')", "[y, x] = dimpulse([0.1 0.05], [1 -1.3 0.45], 0.5);", 0},
      {"bodemag(1, [1 1], [1 2 3])", "[y, x] = bodemag(1, [1 1], [1 2 3]);", 0},
      {"step(1, [1 3 3 1])", "[y, x] = step(1, [1 3 3 1]);", 0, 30},
      {"impulse([-2 -1 0; 1 0 0; 0 1 0], [1; 0; 0], [0 0 1], 0)",
       "[y, x] = impulse([-2 -1 0; 1 0 0; 0 1 0], [1; 0; 0], [0 0 1], 0);", 0, 20},
      {"dstep(1, [1 -1.5 0.75 -0.125], 1)", "[y, x] = dstep(1, [1 -1.5 0.75 -0.125], 1);", 1, 43},
      {"dimpulse(1, [1 -0.3 -0.6 -0.1], 1)", "[y, x] = dimpulse(1, [1 -0.3 -0.6 -0.1], 1);", 1, 5},
      {"dstep([1 0.5; 0 0.5], [1; 1], [1 0], 0, 1)", "[y, x] = dstep([1 0.5; 0 0.5], [1; 1], [1 0], 0, 1);", 1, 14},
  };
  for (const Pair& p : pairs) {
    used() = 0;
    ASSERT_EQ(run(std::string(p.draw) + ";\n"), kOk) << p.draw;
    const Doubles r = records();
    const auto h = heads();
    ASSERT_EQ(h.size(), 2u) << p.draw;
    const size_t at = h[1].first;
    const size_t n = size_t(r[at + 6]);
    ASSERT_EQ(run(std::string(p.values) + "\n"), kOk) << p.values;
    for (size_t k = 0; k < p.lead; ++k) EXPECT_EQ(r[at + 7 + n + k], 0) << p.draw;
    EXPECT_EQ(variable("x"), Doubles(r.begin() + long(at + 7 + p.lead), r.begin() + long(at + 7 + n))) << p.draw;
    EXPECT_EQ(variable("y"), Doubles(r.begin() + long(at + 7 + n + p.lead), r.begin() + long(at + 7 + 2 * n)))
        << p.draw;
    if (p.end > 0) EXPECT_NEAR(r[at + 7 + n - 1], p.end, 1e-9 * p.end) << p.draw;
  }
}

// Drawn discrete steps by style: a line or staircase that starts at or
// before 0 begins with zero points in place of the samples before 0 (a line
// at t0 and, before -Ts, at -Ts; a staircase at t0 and 0); markers keep the
// samples only; a range after 0 has no zero points.
TEST_F(Responses, DiscreteCurvesLeadWithZerosByStyle) {
  struct Case {
    const char* code;
    Doubles x, y;
  };
  const char* sys = "dstep(1, [1 -0.5], 1, responseset('Range', ";
  const char* ss = "dstep(0.5, 1, 1, 0, 1, responseset('Range', ";
  const Case cases[] = {
      {"[-2.5 3]))", {-2.5, -1, 0, 1, 2, 3}, {0, 0, 0, 1, 1.5, 1.75}},
      {"[-1 3]))", {-1, 0, 1, 2, 3}, {0, 0, 1, 1.5, 1.75}},
      {"[-0.5 3]), '-')", {-0.5, 0, 1, 2, 3}, {0, 0, 1, 1.5, 1.75}},
      {"[0 3]))", {0, 0, 1, 2, 3}, {0, 0, 1, 1.5, 1.75}},
      {"[-2.5 3]), 's')", {-2.5, 0, 0, 1, 1, 2, 2, 3, 3, 4}, {0, 0, 0, 0, 1, 1, 1.5, 1.5, 1.75, 1.75}},
      {"[-2.5 3]), 'o')", {-2, -1, 0, 1, 2, 3}, {0, 0, 0, 1, 1.5, 1.75}},
      {"[1 3]))", {1, 2, 3}, {1, 1.5, 1.75}},
      {"[1 3]), 's')", {1, 2, 2, 3, 3, 4}, {1, 1, 1.5, 1.5, 1.75, 1.75}},
      {"[-5 -1]))", {-5, -4, -3, -2, -1}, {0, 0, 0, 0, 0}},  // never reaches 0: the samples
  };
  for (const char* form : {sys, ss}) {
    for (const Case& k : cases) {
      used() = 0;
      const std::string code = std::string(form) + k.code;
      ASSERT_EQ(run(code + ";\n"), kOk) << code;
      const Doubles r = records();
      const auto h = heads();
      ASSERT_EQ(h.size(), 2u) << code;
      const size_t at = h[1].first, n = size_t(r[at + 6]);
      EXPECT_EQ(r[at + 5], double(2 * n + 1)) << code;
      EXPECT_EQ(Doubles(r.begin() + long(at + 7), r.begin() + long(at + 7 + n)), k.x) << code;
      EXPECT_EQ(Doubles(r.begin() + long(at + 7 + n), r.begin() + long(at + 7 + 2 * n)), k.y) << code;
    }
  }
}

TEST_F(Responses, OutputsWithoutASubplot) {
  host.block->h.build.subplot = -1;
  ASSERT_EQ(run("[y, t] = step(1, [1 1]); m = bodemag(1, [1 1], [0 1]);\n"), kOk);
  EXPECT_EQ(variable("t").size(), 203u);
  EXPECT_EQ(variable("y").size(), 203u);
  const Doubles m = variable("m");
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0], 1.0);
  EXPECT_NEAR(m[1], std::sqrt(0.5), 1e-15);
  EXPECT_EQ(run("step(1, [1 1]);\n"), kBadContext);
  EXPECT_EQ(run("[a, b] = bodemag([1; 1], [1 1; 1 2]);\n"), kBadSize);
  EXPECT_EQ(used(), 0);
}

TEST_F(Responses, RangesAndOptions) {
  struct Case {
    const char* code;
    double first, last;
    size_t count;
  };
  const double pi = 3.14159265358979323846;
  const Case cases[] = {
      {"[m, w] = bodemag(1, [1 1], [1 10 100]);", 1, 100, 3},
      {"[m, w] = bodemag(1, [1 1], responseset('Range', [1 100]));", 1, 100, 200},
      {"[m, w] = bodemag(1, [1 1], responseset('Range', []));", 0, 10, 200},
      {"[m, w] = dbodemag(1, [1 -0.5], 0.1);", 0, pi / 0.1, 200},
      {"[m, w] = bodemag(1, [1 0]);", 0, 10, 200},  // poles at the origin only
      {"[y, t] = step(1, [1 1], responseset('Range', [1 5]));", 1, 5, 201},
      {"[y, t] = dstep(1, [1 -0.5], 1, responseset('Range', [-2 3]));", -2, 3, 6},
  };
  for (const Case& k : cases) {
    ASSERT_EQ(run(std::string(k.code) + "\n"), kOk) << k.code;
    const Doubles w = variable(k.code[4] == 't' ? "t" : "w");
    ASSERT_EQ(w.size(), k.count) << k.code;
    EXPECT_NEAR(w.front(), k.first, 1e-12) << k.code;
    EXPECT_EQ(w.back(), k.last) << k.code;
  }
  // The discrete step before 0 is 0; "Range" [0 2000000] at Ts 1 is too many samples.
  ASSERT_EQ(run("[y, t] = dstep(1, [1 -0.5], 1, responseset('Range', [-2 3]));\n"), kOk);
  const Doubles y = variable("y");
  EXPECT_EQ(y, (Doubles{0, 0, 0, 1, 1.5, 1.75}));
  EXPECT_EQ(run("[y, t] = dstep(1, [1 -0.5], 1, responseset('Range', [0 2000000]));\n"), kObjectTooLarge);
  // A visible x range like [-1, 20] starts at 0; one like [-5, 20] stays.
  for (double lo : {-1.0, -5.0}) {
    used() = 0;
    ASSERT_EQ(run("scale([" + std::to_string(lo) + " 20]); [m, w] = bodemag(1, [1 1]);\n"), kOk);
    double vlo, vhi;
    subplot_visible_xrange(&s(), &vlo, &vhi);
    const Doubles w = variable("w");
    ASSERT_EQ(w.size(), 200u);
    EXPECT_EQ(w.front(), -10 * vlo < vhi ? 0.0 : vlo) << lo;
    EXPECT_EQ(w.back(), vhi);
  }
}

TEST_F(Responses, EveryRowPassesTheFailureSweep) {
  EngineContext* e = c();
  auto mat = [e](Doubles v, int32_t rows, int32_t cols) {
    return [e, v, rows, cols]() -> int {
      double* re = nullptr;
      TN_TRY(stk_push_matrix(e, rows, cols, &re, nullptr));
      if (!v.empty()) std::memcpy(re, v.data(), v.size() * sizeof(double));
      return kOk;
    };
  };
  auto seq = [](std::vector<std::function<int()>> parts) {
    return [parts]() -> int {
      for (const auto& p : parts) TN_TRY(p());
      return kOk;
    };
  };
  const auto num = mat({1, 2}, 1, 2), den = mat({1, 0.5, 4}, 1, 3), ts = mat({0.5}, 1, 1), none = mat({}, 0, 0);
  const auto a = mat({-1, 0, 0, -2}, 2, 2), b = mat({1, 0, 0, 1}, 2, 2), cc = mat({1, 1, 0, 1}, 2, 2),
             d = mat({0, 0, 0, 0}, 2, 2), b1 = mat({1, 1}, 2, 1), d1 = mat({0, 0}, 2, 1);
  struct Case {
    const char* name;
    std::function<int()> push;
    int nin;
  } cases[] = {
      {"bodemag", seq({num, den}), 2},        {"bodephase", seq({num, den}), 2},
      {"dbodemag", seq({num, den, ts}), 3},   {"dbodephase", seq({num, den, ts}), 3},
      {"sigma", seq({a, b, cc, d}), 4},       {"dsigma", seq({a, b, cc, d, ts}), 5},
      {"step", seq({num, den}), 2},           {"dstep", seq({num, den, ts}), 3},
      {"impulse", seq({a, b1, cc, d1}), 4},   {"dimpulse", seq({num, den, ts}), 3},
      {"bodemag", seq({a, b1, cc, d1}), 4},
      {"initial", seq({a, cc, mat({1, 2}, 2, 1)}), 3},
      {"dinitial", seq({mat({0.5, 0, 0, 0.25}, 2, 2), cc, ts, mat({1, 2}, 2, 1)}), 4},
      {"lsim", seq({num, den, mat({0, 1, 2, 3}, 1, 4), mat({0, 1, 2, 3}, 1, 4)}), 4},
      {"dlsim", seq({num, den, mat({0, 1, 2, 3}, 1, 4), ts}), 4},
      {"dlsim", seq({a, b, cc, d, mat({1, 0, 0, 1, 1, 1}, 3, 2), ts, mat({1, 2}, 2, 1)}), 7},
      {"lsim", seq({a, b1, cc, d1, mat({1, 1, 1}, 3, 1), mat({0, 1, 2}, 3, 1)}), 6},
      {"nyquist", seq({num, den}), 2},
      {"dnyquist", seq({mat({1}, 1, 1), mat({1, -0.5}, 1, 2)}), 2},
      {"nichols", seq({num, den}), 2},
      {"dnichols", seq({mat({1}, 1, 1), mat({1, -0.5}, 1, 2)}), 2},
      {"rlocus", seq({num, den}), 2},
      {"plotroots", seq({den}), 1},
      {"zgrid", seq({mat({0.5}, 1, 1), mat({1, 2}, 1, 2)}), 2},
      // Models with nothing to compute, and a static gain without states.
      {"sigma", seq({none, none, none, none}), 4},
      {"bodemag", seq({none, none, none, mat({2}, 1, 1)}), 4},
      {"step", seq({none, none, none, mat({2}, 1, 1)}), 4},
      {"nyquist", seq({none, none}), 2},
      {"initial", seq({none, none, none}), 3},
  };
  for (const Case& k : cases) {
    const BuiltinFn fn = engine_row(k.name);
    for (int nout : {-1, 0, 1, 2, 3}) {
      if (nout == 3 && !std::strstr(k.name, "nyquist") && !std::strstr(k.name, "nichols")) continue;
      // Rows without values: the engine never asks them for outputs.
      const bool draws_only = std::strstr("rlocus plotroots zgrid", k.name) != nullptr;
      if (draws_only && nout > 0) continue;
      used() = 0;
      bool ok = false;
      auto call = [&] { return lib_call_builtin(e, fn, k.nin, nout); };
      EXPECT_TRUE(sweep_rooms(e, k.push, call, &ok)) << k.name << " " << nout;
      EXPECT_TRUE(ok) << k.name << " " << nout;
    }
  }
  // responseset at its counts.
  ASSERT_EQ(run("o = responseset('Delay', 2); o = responseset(o, 'NegFreq', 1);\n"), kOk);
  EXPECT_EQ(run("o = responseset('Delay');\n") == kOk, false);
}

TEST_F(Responses, ChartRecordsAndTheirLimits) {
  // The instance's chart style: bits 256, grey 204; a style string's colour on it.
  const double grey = double(pack_colour(204, 204, 204));
  ASSERT_EQ(run("zgrid();\n"), kOk);
  EXPECT_EQ(records(), (Doubles{47, -1, -1, 256, grey, 0}));
  EXPECT_EQ(s().xMin, -1.1);
  EXPECT_EQ(s().xMax, 1.1);
  EXPECT_EQ(s().yMin, -1.1);
  EXPECT_EQ(s().yMax, 1.1);
  EXPECT_EQ(s().toolFlags, 0x7000u);
  EXPECT_EQ(s().optionFlags & 0x7000u, 0x2000u);
  struct Case {
    const char* code;
    Doubles want;
  };
  const Case cases[] = {
      {"sgrid([0.5 0.7], 2)", {53, -1, -1, 256, grey, 1, 2, 54, -1, -1, 256, grey, 1, 0.5, 54, -1, -1, 256, grey, 1, 0.7}},
      {"zgrid(0.5, [1 2], 'r')",
       {51, -1, -1, 260, double(pack_colour(255, 0, 0)), 1, 1, 51, -1, -1, 260, double(pack_colour(255, 0, 0)), 1, 2,
        52, -1, -1, 260, double(pack_colour(255, 0, 0)), 1, 0.5}},
      {"hgrid", {49, -1, -1, 256, grey, 0}},
      {"ngrid('r')", {50, -1, -1, 260, double(pack_colour(255, 0, 0)), 0}},
      {"sgrid", {48, -1, -1, 256, grey, 0}},
  };
  for (const Case& k : cases) {
    used() = 0;
    ASSERT_EQ(run(std::string(k.code) + ";\n"), kOk) << k.code;
    EXPECT_EQ(records(), k.want) << k.code;
  }
  used() = 0;
  ASSERT_EQ(run("ngrid;\n"), kOk);
  EXPECT_DOUBLE_EQ(s().xMin, -2 * 3.14159265358979323846);
  EXPECT_EQ(s().yMax, 2);
  used() = 0;
  EXPECT_EQ(run("hgrid(1);\n"), kWrongType);
  EXPECT_EQ(used(), 0);
  // Exact room and one double less.
  for (const char* code : {"sgrid([0.5 0.7], 2);\n", "zgrid;\n"}) {
    used() = 0;
    ASSERT_EQ(run(code), kOk);
    const int32_t need = used();
    used() = 0;
    host.block->h.build.capacity = need;
    EXPECT_EQ(run(code), kOk) << code;
    used() = 0;
    host.block->h.build.capacity = need - 1;
    EXPECT_EQ(run(code), kPlotOverflow) << code;
    EXPECT_EQ(used(), 0);
    host.block->h.build.capacity = full_capacity;
  }
}

TEST_F(Responses, PlotrootsRecordsThePolynomialAndItsRoots) {
  ASSERT_EQ(run("plotroots([0 0 1 2]);\n"), kOk);
  EXPECT_EQ(records(), (Doubles{43, -1, 1, 520, 0, 3, 1, 1, 2, 1, -1, 1, 520, 0, 3, 1, -2, 0}));
  used() = 0;
  ASSERT_EQ(run("plotroots([1 0 1; 1 -3 2], 'r,g', 4);\n"), kOk);
  const Doubles r = records();
  const auto h = heads();
  ASSERT_EQ(h.size(), 4u);
  EXPECT_EQ(Doubles(r.begin(), r.begin() + 10), (Doubles{43, 4, 1, 516, double(pack_colour(255, 0, 0)), 4, 2, 1, 0, 1}));
  // x^2 + 1: the pair +-i; x^2 - 3x + 2: 1 and 2.
  const size_t a = h[1].first;
  EXPECT_NEAR(std::fabs(r[a + 9]), 1, 1e-14);
  EXPECT_NEAR(r[a + 9] + r[a + 10], 0, 1e-14);
  const size_t b = h[3].first;
  EXPECT_NEAR(std::min(r[b + 7], r[b + 8]), 1, 1e-14);
  EXPECT_NEAR(std::max(r[b + 7], r[b + 8]), 2, 1e-14);
  used() = 0;
  ASSERT_EQ(run("plotroots([1 2i]);\n"), kOk);
  EXPECT_EQ(records(), (Doubles{44, -1, 1, 520, 0, 5, 1, 1, 0, 0, 2, 1, -1, 1, 520, 0, 3, 1, 0, -2}));
  used() = 0;
  ASSERT_EQ(run("plotroots(5);\n"), kOk);
  EXPECT_EQ(records(), Doubles{});
  EXPECT_EQ(run("plotroots([1 2], 'r', [1 2]);\n"), kBadArgument);
  for (const char* code : {"plotroots([1 0 1; 1 -3 2]);\n", "plotroots([1 2i 3]);\n"}) {
    used() = 0;
    ASSERT_EQ(run(code), kOk);
    const Doubles want = list();
    int32_t lo = int32_t(want.size()), hi = full_capacity;
    while (lo < hi) {
      const int32_t mid = lo + (hi - lo) / 2;
      used() = 0;
      host.block->h.build.capacity = mid;
      if (run(code) == kOk) hi = mid;
      else lo = mid + 1;
    }
    used() = 0;
    host.block->h.build.capacity = lo;
    EXPECT_EQ(run(code), kOk);
    EXPECT_EQ(list(), want);
    used() = 0;
    host.block->h.build.capacity = lo - 1;
    EXPECT_EQ(run(code), kPlotOverflow);
    host.block->h.build.capacity = full_capacity;
  }
}

TEST_F(Responses, InitialRecordsAndForms) {
  ASSERT_EQ(run("initial([-1 1; 0 -2], [1 0; 0 1], [1; 2]);\n"), kOk);
  Doubles r = records();
  EXPECT_EQ(Doubles(r.begin(), r.begin() + 18), (Doubles{41, -1, 1, 8, 0, 12, 2, 2, -1, 1, 0, -2, 1, 0, 0, 1, 1, 2}));
  auto h = heads();
  ASSERT_EQ(h.size(), 3u);
  EXPECT_EQ(r[h[1].first + 6], 203);
  EXPECT_EQ(r[h[1].first + 7 + 203 + 2], 1);  // C x0 at time 0, after the two leading zeros
  EXPECT_EQ(r[h[2].first + 7 + 203 + 2], 2);
  used() = 0;
  ASSERT_EQ(run("dinitial(0.5, [], 2, 0, 0.1, 4, 'r', 3);\n"), kOk);
  r = records();
  EXPECT_EQ(Doubles(r.begin(), r.begin() + 12), (Doubles{42, 3, 1, 8, 0, 6, 0.1, 1, 1, 0.5, 2, 4}));
  used() = 0;
  // A number where the style goes: nothing is drawn.
  EXPECT_EQ(run("initial(-1, 1, 1, 5);\n"), kOk);
  EXPECT_EQ(used(), 0);
  const std::pair<const char*, int> bad[] = {
      {"initial(-1, 1, [1 2])", 23},
      {"initial([-1 0; 0 -1], [1 1], [1; 2; 3])", kIncompatibleSize},
      {"initial([-1 0; 0 -1], [1; 1], [1 1], [0; 0], [1; 2])", kIncompatibleSize},
      {"dinitial(0.5, 1, 0, 1)", kBadArgument},
  };
  for (auto [code, status] : bad) {
    used() = 0;
    EXPECT_EQ(run(std::string(code) + ";\n"), status) << code;
    EXPECT_EQ(used(), 0) << code;
  }
  // Values equal the drawn curves, and the four-matrix form equals the short one.
  used() = 0;
  ASSERT_EQ(run("initial([-1 1; 0 -2], [1 0; 0 1], [1; 2]); [y, t] = initial([-1 1; 0 -2], [1; 1], [1 0; 0 1], [0; 0], [1; 2]);\n"), kOk);
  r = records();
  h = heads();
  const Doubles y = variable("y");
  ASSERT_EQ(y.size(), 406u);
  for (int k = 0; k < 203; ++k) {
    EXPECT_EQ(y[size_t(2 * k)], r[h[1].first + 7 + 203 + size_t(k)]);
    EXPECT_EQ(y[size_t(2 * k + 1)], r[h[2].first + 7 + 203 + size_t(k)]);
  }
}

TEST_F(Responses, LsimCurvesErrorsAndValues) {
  // One curve per output, no system record; drawn curves equal the values.
  const char* pairs[][2] = {
      {"dlsim([0.1 0.05], [1 -1.3 0.45], [1 2 3 4], 0.5)", "[y, x] = dlsim([0.1 0.05], [1 -1.3 0.45], [1 2 3 4], 0.5);"},
      {"lsim([1 2], [1 1.5 2], 0:0.5:10, 0:0.5:10)", "[y, x] = lsim([1 2], [1 1.5 2], 0:0.5:10, 0:0.5:10);"},
      {"dlsim(1, [1 -0.9], sin(0:1199), 0.5)", "[y, x] = dlsim(1, [1 -0.9], sin(0:1199), 0.5);"},
  };
  for (auto& p : pairs) {
    used() = 0;
    ASSERT_EQ(run(std::string(p[0]) + ";\n"), kOk) << p[0];
    const Doubles r = records();
    const auto h = heads();
    ASSERT_EQ(h.size(), 1u) << p[0];
    EXPECT_EQ(h[0].second, 1);
    const size_t n = size_t(r[6]);
    ASSERT_EQ(run(std::string(p[1]) + "\n"), kOk) << p[1];
    EXPECT_EQ(variable("x"), Doubles(r.begin() + 7, r.begin() + long(7 + n))) << p[0];
    EXPECT_EQ(variable("y"), Doubles(r.begin() + long(7 + n), r.begin() + long(7 + 2 * n))) << p[0];
  }
  // A grid of 1000 samples or more is cut to 1000 points (tf - t0) / 999
  // apart; a staircase keeps its held values there.
  used() = 0;
  ASSERT_EQ(run("dlsim(1, [1 -0.5], ones(1, 1500), 1, 's');\n"), kOk);
  {
    const Doubles r = records();
    ASSERT_EQ(r[6], 1000);
    for (size_t k = 0; k < 1000; ++k) {
      const double t = r[7 + k];
      EXPECT_NEAR(t, double(k) * 1499 / 999, 1e-9) << k;
      EXPECT_NEAR(r[7 + 1000 + k], 2 * (1 - std::pow(0.5, std::floor(t))), 1e-12) << k;
    }
  }
  used() = 0;
  ASSERT_EQ(run("dlsim([0.5 0.2; -0.1 0.7], eye(2), eye(2), zeros(2), [1 0; 0 1; 1 1], 1, 'r,g');\n"), kOk);
  const auto h = heads();
  ASSERT_EQ(h.size(), 2u);
  // A staircase style holds each sample twice.
  used() = 0;
  ASSERT_EQ(run("[y, t] = dlsim(1, [1 -0.5], [1 1 1], 1);\n"), kOk);
  EXPECT_EQ(variable("t"), (Doubles{0, 1, 2}));
  EXPECT_EQ(variable("y"), (Doubles{0, 1, 1.5}));
  const std::pair<const char*, int> bad[] = {
      {"lsim(1, [1 1], [1 2 3], [0 1])", kIncompatibleSize},
      {"lsim([1 1 1], [1 1], [1 2], [0 1])", kIncompatibleSize},
      {"dlsim(1, [1 1], [1 2], 0)", kBadArgument},
      {"dlsim(-1, 1, 1, 0, [1 2], 1, [1; 2])", kIncompatibleSize},
      {"dlsim(-1, [1 1], 1, 0, [1 2], 1)", kIncompatibleSize},
      {"lsim(1, [1 1], [1 2], [0 1], 'r', [1 2])", kBadArgument},
  };
  for (auto [code, status] : bad) {
    used() = 0;
    EXPECT_EQ(run(std::string(code) + ";\n"), status) << code;
    EXPECT_EQ(used(), 0) << code;
  }
  EXPECT_EQ(run("[y, t] = lsim([1; 2], [1 1], [1 2], [0 1]);\n"), kBadSize);
  // tOnly gives the response at the input's own times.
  ASSERT_EQ(run("[y, t] = lsim(1, [1 1], [1 1 1], [0 0.7 3], responseset('tOnly', 1));\n"), kOk);
  EXPECT_EQ(variable("t"), (Doubles{0, 0.7, 3}));
}

TEST_F(Responses, NyquistRecordsPointsAndScale) {
  ASSERT_EQ(run("nyquist(1, [1 0]);\n"), kOk);
  const Doubles r = records();
  const auto h = heads();
  ASSERT_EQ(h.size(), 2u);
  EXPECT_EQ(Doubles(r.begin(), r.begin() + 11), (Doubles{21, -1, 1, 8, 0, 5, 0, 1, 1, 1, 0}));
  const size_t at = h[1].first;
  EXPECT_EQ(h[1].second, 2);
  const size_t m = size_t(r[at + 6]);
  EXPECT_EQ(r[at + 5], double(3 * m + 1));
  // The curve leaves the [-50, 50] window: few points stay outside it.
  int outside = 0;
  for (size_t k = 0; k < m; ++k)
    if (std::fabs(r[at + 7 + k]) > 50 || std::fabs(r[at + 7 + m + k]) > 50) ++outside;
  EXPECT_LE(outside, 3);
  // Each point is the response at its frequency.
  for (size_t k = 0; k + 1 < m; ++k) {
    const double w = r[at + 7 + 2 * m + k];
    if (w == 0) continue;
    EXPECT_NEAR(r[at + 7 + k], 0, 1e-12 / w) << k;
    EXPECT_NEAR(r[at + 7 + m + k], -1 / w, 1e-12 / (w * w) + 1e-12) << k;
  }
  // The auto-scale is widened by (-5, -5) and (5, 5) only.
  EXPECT_EQ(s().xMin, -5);
  EXPECT_EQ(s().xMax, 5);
  EXPECT_EQ(s().yMin, -5);
  EXPECT_EQ(s().yMax, 5);
  // Two outputs: no frequency block.
  used() = 0;
  ASSERT_EQ(run("[a, b] = nyquist(1, [1 1]); nyquist(1, [1 1]);\n"), kOk);
  const Doubles r2 = records();
  const size_t m2 = size_t(r2[heads()[1].first + 6]);
  EXPECT_EQ(variable("a").size(), m2);
  const std::pair<const char*, int> bad[] = {
      {"nyquist(-1, 1, 1, 0)", kBadArgument},
      {"dnyquist(-1, 1, 1, 0)", kBadArgument},
      {"nyquist(1, [1 1; 1 2])", kIncompatibleSize},
  };
  for (auto [code, status] : bad) {
    used() = 0;
    EXPECT_EQ(run(std::string(code) + ";\n"), status) << code;
    EXPECT_EQ(used(), 0) << code;
  }
  // A discrete "Range" [0 0] samples the angles 0 to pi; NegFreq mirrors.
  ASSERT_EQ(run("w = dnyquist(1, [1 -0.5], responseset('Range', [0 0])); [re, im, v] = dnyquist(1, [1 -0.5]); "
                "[re2, im2, v2] = dnyquist(1, [1 -0.5], responseset('NegFreq', 1));\n"),
            kOk);
  const Doubles w = variable("w");
  ASSERT_GE(w.size(), 2u);
  EXPECT_EQ(w.front(), 0);
  EXPECT_DOUBLE_EQ(w.back(), 3.14159265358979323846);
  const Doubles im = variable("im"), im2 = variable("im2"), v2 = variable("v2");
  ASSERT_EQ(im.size(), im2.size());
  for (size_t k = 0; k < im.size(); ++k) EXPECT_EQ(im2[k], -im[k]);
  EXPECT_LE(v2.back(), 0);
}

TEST_F(Responses, NicholsRecordsAndValues) {
  ASSERT_EQ(run("nichols(1, [1 2 2 1]); [ph, mg, w] = nichols(1, [1 2 2 1]);\n"), kOk);
  const Doubles r = records();
  const auto h = heads();
  ASSERT_EQ(h.size(), 2u);
  EXPECT_EQ(r[0], 22);
  EXPECT_EQ(h[1].second, 2);
  const size_t at = h[1].first, m = size_t(r[at + 6]);
  EXPECT_EQ(variable("ph"), Doubles(r.begin() + long(at + 7), r.begin() + long(at + 7 + m)));
  EXPECT_EQ(variable("mg"), Doubles(r.begin() + long(at + 7 + m), r.begin() + long(at + 7 + 2 * m)));
  EXPECT_EQ(variable("w"), Doubles(r.begin() + long(at + 7 + 2 * m), r.begin() + long(at + 7 + 3 * m)));
  // Phases unwrapped: a third-order lag falls steadily from 0 towards -3 pi / 2.
  const Doubles ph = variable("ph");
  for (size_t k = 1; k < ph.size(); ++k) EXPECT_LE(ph[k], ph[k - 1] + 1e-12);
  EXPECT_NEAR(ph[ph.size() - 2], -1.5 * 3.14159265358979323846, 0.1);
  EXPECT_EQ(run("nichols(-1, 1, 1, 0);\n"), kBadArgument);
}

// An automatic Nichols curve takes the room left: shorter lists hold fewer
// points, each still the response at its frequency, down to a single 0;
// only a list without room for the records and the mapping fails, whole.
TEST_F(Responses, NicholsDrawsInTheRoomLeft) {
  const char* code = "nichols(1, [1 2 2 1]);\n";
  ASSERT_EQ(run(code), kOk);
  const int32_t full = int32_t(list().size());
  const size_t m_full = size_t(records()[heads()[1].first + 6]);
  size_t last_m = m_full;
  bool shorter = false, single = false, failed = false;
  for (int32_t cap = full - 1; cap > 0 && !failed; cap -= 13) {
    used() = 0;
    host.block->h.build.capacity = cap;
    const int status = run(code);
    if (status != kOk) {
      EXPECT_EQ(status, kPlotOverflow) << cap;
      EXPECT_EQ(used(), 0) << cap;
      failed = true;
      break;
    }
    const Doubles r = records();
    const auto h = heads();
    ASSERT_EQ(h.size(), 2u) << cap;
    const size_t at = h[1].first, m = size_t(r[at + 6]);
    EXPECT_LE(used(), cap);
    EXPECT_LE(m, last_m) << cap;
    last_m = m;
    if (m == 0) {
      EXPECT_EQ(r[at + 5], 1) << cap;
      single = true;
      continue;
    }
    EXPECT_EQ(r[at + 5], double(3 * m + 1)) << cap;
    shorter = shorter || (m >= 5 && m < m_full);
    for (size_t k = 0; k < m; ++k) {
      const double w = r[at + 7 + 2 * m + k];
      if (!std::isfinite(w)) continue;
      const std::complex<double> s(0, w);
      const std::complex<double> g = 1.0 / (((s + 2.0) * s + 2.0) * s + 1.0);
      EXPECT_NEAR(r[at + 7 + m + k], std::abs(g), 1e-12 * (1 + std::abs(g))) << cap << " " << k;
      EXPECT_NEAR(std::remainder(r[at + 7 + k] - std::arg(g), 2 * 3.14159265358979323846), 0, 1e-9)
          << cap << " " << k;
    }
  }
  EXPECT_TRUE(shorter);
  EXPECT_TRUE(single);
  EXPECT_TRUE(failed);
  host.block->h.build.capacity = full_capacity;
}

// A Nyquist curve has one tolerance, from the x limits: a curve inside the
// window is sampled at the same points whatever the height of the y range.
TEST_F(Responses, NyquistToleranceComesFromTheXLimits) {
  Doubles first;
  for (const char* y : {"-1 1", "-100 100"}) {
    used() = 0;
    ASSERT_EQ(run(std::string("scale([-2 2 ") + y + "]); [re, im, w] = nyquist(1, [1 1]);\n"), kOk) << y;
    const Doubles w = variable("w");
    ASSERT_GT(w.size(), 5u) << y;
    if (first.empty()) first = w;
    else EXPECT_EQ(w, first) << y;
  }
}

// On fixed axes, Nyquist and Nichols curves at 1e-2 to 1e4 rad/s: the drawn
// record holds the points the outputs give, and the true curve (evaluated
// here, 16 frequencies between each pair of points) lies within 2 % of the
// view of each chord inside the view; a pole on the imaginary axis parts the
// curve with a NaN point, so no chord joins its two sides.
TEST_F(Responses, NyquistAndNicholsDrawTheTrueCurveOnFixedAxesAtEveryScale) {
  struct Case {
    const char* command;
    const char* limits;
    Doubles num, den;
  };
  const Case cases[] = {
      {"nyquist", "[-3 3 -6 1]", {1e6}, {1, 200, 1e6}},
      {"nyquist", "[-30 30 -60 10]", {1e6}, {1, 20, 1e6}},
      {"nyquist", "[-30 30 -60 10]", {1e-4}, {1, 2e-4, 1e-4}},
      {"nyquist", "[-2 2 -2 2]", {1, 0.1}, {1, 0, 4}},
      {"nyquist", "[-2 2 -2 2]", {1, 100}, {1, 0, 1e6}},
      {"nichols", "[-4 0 0 60]", {1e6}, {1, 20, 1e6}},
      {"nichols", "[-4 0 0 200]", {1e4}, {1, 0.6, 1e4}},
      {"nichols", "[-4 1 0 20]", {1, 0.1}, {1, 0, 4}},
  };
  auto row = [](const Doubles& v) {
    std::string t = "[";
    for (double x : v) t += std::to_string(x) + " ";
    return t + "]";
  };
  for (const Case& k : cases) {
    used() = 0;
    const std::string sys = row(k.num) + ", " + row(k.den);
    const std::string code = std::string("scale(") + k.limits + "); [a, b, w] = " + k.command + "(" + sys + "); " +
                             k.command + "(" + sys + ");\n";
    ASSERT_EQ(run(code), kOk) << code;
    const Doubles a = variable("a"), b = variable("b"), w = variable("w");
    const Doubles r = records();
    const size_t at = heads().back().first, m = size_t(r[at + 6]);
    ASSERT_EQ(m, w.size()) << code;
    const bool nichols = k.command[2] == 'c';
    auto h = [&](double f) {
      std::complex<double> n = 0, d = 0, z(0, f);
      for (double c : k.num) n = n * z + c;
      for (double c : k.den) d = d * z + c;
      return n / d;
    };
    auto same = [](double u, double v) { return u == v || (std::isnan(u) && std::isnan(v)); };
    int breaks = 0;
    double worst = 0;
    const double x0 = s().xMin, x1 = s().xMax, y0 = s().yMin, y1 = s().yMax;
    for (size_t q = 0; q < m; ++q) {
      EXPECT_TRUE(same(r[at + 7 + q], a[q]) && same(r[at + 7 + m + q], b[q]) && same(r[at + 7 + 2 * m + q], w[q]))
          << code << " " << q;
      if (std::isnan(a[q])) ++breaks;
      if (q + 1 == m || !std::isfinite(a[q]) || !std::isfinite(a[q + 1]) || !std::isfinite(w[q + 1])) continue;
      const double t0 = 2 * std::atan(w[q]), t1 = 2 * std::atan(w[q + 1]);
      double phase = a[q];
      for (int j = 1; j < 16; ++j) {
        const std::complex<double> v = h(std::tan((t0 + j * (t1 - t0) / 16) / 2));
        double x = v.real(), y = v.imag();
        if (nichols) {
          phase += std::remainder(std::arg(v) - phase, 2 * 3.14159265358979323846);
          x = phase, y = std::abs(v);
        }
        if (!(x >= x0 && x <= x1 && y >= y0 && y <= y1)) continue;
        // The distance from the chord, in shares of the view.
        const double ax = (a[q] - x0) / (x1 - x0), ay = (b[q] - y0) / (y1 - y0);
        const double dx = (a[q + 1] - a[q]) / (x1 - x0), dy = (b[q + 1] - b[q]) / (y1 - y0);
        const double px = (x - x0) / (x1 - x0), py = (y - y0) / (y1 - y0), l = dx * dx + dy * dy;
        const double u = l > 0 ? std::clamp(((px - ax) * dx + (py - ay) * dy) / l, 0.0, 1.0) : 0.0;
        worst = std::max(worst, std::hypot(px - ax - u * dx, py - ay - u * dy));
      }
    }
    EXPECT_LE(worst, 0.02) << code;
    EXPECT_EQ(breaks, k.den[2] == 0 || k.den[1] == 0 ? 1 : 0) << code;
  }
}

TEST_F(Responses, RootLocusBranchesLieOnTheLocus) {
  struct Case {
    Doubles num, den;
    int branches;
  };
  const Case cases[] = {
      {{1}, {1, 3, 2}, 2},
      {{1, 2}, {1, 2, 5, 0}, 3},
      {{1, 1}, {1, -1, 4}, 2},
      {{1, 0, 4}, {1, 1}, 2},  // improper: the numerator traces
  };
  for (const Case& k : cases) {
    used() = 0;
    auto row = [](const Doubles& v) {
      std::string t = "[";
      for (double x : v) t += std::to_string(x) + " ";
      return t + "]";
    };
    const std::string code = "rlocus(" + row(k.num) + ", " + row(k.den) + ");\n";
    ASSERT_EQ(run(code), kOk) << code;
    const Doubles r = records();
    const auto h = heads();
    ASSERT_EQ(h.size(), 2u) << code;
    EXPECT_EQ(r[0], 45);
    EXPECT_EQ(h[1].second, 8);
    const size_t end = h[1].first + 6 + size_t(r[h[1].first + 5]);
    EXPECT_EQ(r[end - 1], -1.0) << code;
    int branches = 0;
    for (size_t at = h[1].first + 6; at < end - 1;) {
      const size_t m = size_t(r[at]);
      ++branches;
      for (size_t q = 0; q < m; ++q) {
        const std::complex<double> z(r[at + 1 + q], r[at + 1 + m + q]);
        std::complex<double> n = 0, d = 0;
        for (double c : k.num) n = n * z + c;
        for (double c : k.den) d = d * z + c;
        if (std::abs(n) < 1e-9) continue;  // at a zero the gain is infinite
        const std::complex<double> gain = -d / n;
        EXPECT_NEAR(gain.imag(), 0, 1e-6 * (1 + std::abs(gain))) << code << " " << z;
        EXPECT_GE(gain.real(), -1e-6 * (1 + std::abs(gain))) << code << " " << z;
      }
      at += 2 * m + 1;
    }
    EXPECT_EQ(branches, k.branches) << code;
  }
  // An all-zero numerator draws the poles alone; values are refused.
  used() = 0;
  ASSERT_EQ(run("rlocus(0, [1 3 2]);\n"), kOk);
  EXPECT_EQ(run("a = rlocus(1, [1 1]);\n") == kOk, false);
  EXPECT_EQ(run("rlocus(-1, 1, 1, 0);\n"), kBadArgument);
}

// The drawn locus beside the true one (the roots of den + K num for K over
// 26 decades, found here): every true point inside the view lies within 2 %
// of the view of a drawn segment, on fixed and on automatic axes, for a
// system and its twin scaled by 10 and by 1000.
TEST_F(Responses, RootLocusDrawsTheTrueLocusInTheViewAtEveryScale) {
  struct Case {
    const char* limits;
    Doubles num, den;
  };
  const Case cases[] = {
      {"scale([-4 2 -3 3]); ", {1}, {1, 3, 2, 0}},
      {"scale([-40 20 -30 30]); ", {1}, {1, 30, 200, 0}},
      {"scale([-4000 2000 -3000 3000]); ", {1}, {1, 3000, 2e6, 0}},
      {"", {1}, {1, 30, 200, 0}},
      {"", {1}, {1, 30.3, 203.02, 6.04, 0.04}},  // poles -0.1 -0.2 -10 -20
      {"scale([-0.5 0.1 -0.3 0.3]); ", {1}, {1, 30.3, 203.02, 6.04, 0.04}},
  };
  for (const Case& k : cases) {
    used() = 0;
    std::string code = std::string(k.limits) + "rlocus([";
    for (double c : k.num) code += std::to_string(c) + " ";
    code += "], [";
    for (double c : k.den) code += std::to_string(c) + " ";
    code += "]);\n";
    ASSERT_EQ(run(code), kOk) << code;
    const Doubles r = records();
    const auto h = heads();
    ASSERT_EQ(h.back().second, 8) << code;
    const size_t end = h.back().first + 6 + size_t(r[h.back().first + 5]);
    std::vector<std::array<double, 4>> segs;
    for (size_t at = h.back().first + 6; at < end - 1;) {
      const size_t m = size_t(r[at]);
      for (size_t q = 0; q + 1 < m || q == 0; ++q) {
        const size_t u = q + 1 < m ? q + 1 : q;
        segs.push_back({r[at + 1 + q], r[at + 1 + m + q], r[at + 1 + u], r[at + 1 + m + u]});
      }
      at += 2 * m + 1;
    }
    const double x0 = s().xMin, x1 = s().xMax, y0 = s().yMin, y1 = s().yMax;
    const int32_t dd = int32_t(k.den.size()) - 1, dn = int32_t(k.num.size()) - 1;
    std::vector<double> p(size_t(dd) + 1), re(size_t(dd), 0.0), im(size_t(dd), 0.0);
    std::vector<double> work(size_t(roots_real_work(dd)) + 8);
    double worst = 0;
    for (int g = 0; g <= 2600; ++g) {
      const double gain = std::pow(10.0, -12 + g / 100.0);
      for (int32_t i = 0; i <= dd; ++i) p[size_t(i)] = k.den[size_t(i)];
      for (int32_t i = 0; i <= dn; ++i) p[size_t(dd - dn + i)] += gain * k.num[size_t(i)];
      roots_real_coeffs(p.data(), dd, re.data(), im.data(), work.data());
      for (int32_t j = 0; j < dd; ++j) {
        const double x = (re[size_t(j)] - x0) / (x1 - x0), y = (im[size_t(j)] - y0) / (y1 - y0);
        if (!(x >= 0 && x <= 1 && y >= 0 && y <= 1)) continue;
        double best = INFINITY;
        for (const auto& e : segs) {
          const double ax = (e[0] - x0) / (x1 - x0), ay = (e[1] - y0) / (y1 - y0);
          const double dx = (e[2] - x0) / (x1 - x0) - ax, dy = (e[3] - y0) / (y1 - y0) - ay;
          const double l = dx * dx + dy * dy;
          const double u = l > 0 ? std::clamp(((x - ax) * dx + (y - ay) * dy) / l, 0.0, 1.0) : 0.0;
          best = std::min(best, std::hypot(x - ax - u * dx, y - ay - u * dy));
        }
        worst = std::max(worst, best);
      }
    }
    EXPECT_LE(worst, 0.02) << code << " view [" << x0 << " " << x1 << " " << y0 << " " << y1 << "]";
  }
}

// On automatic axes the poles and zeros set the limits; when they are all
// real the branches that leave the axis widen the y range (within the trace
// window or the farthest root), so the view is never flat. Complex roots
// and fixed axes keep the limits the roots give.
TEST_F(Responses, RootLocusOfRealPolesHasAViewOfItsBranches) {
  struct Case {
    const char* code;
    double ylo, yhi;  // expected bounds of the y limits, inclusive
  };
  const Case cases[] = {
      {"rlocus(1, [1 3 2])", -2, 2},             // breaks away at -1.5, upwards and downwards
      {"rlocus(1, [1 3 2 0])", -2, 2},           // three real poles: into the right half-plane
      {"rlocus(1, [1 30 200])", -20, 20},        // the farthest pole bounds the view
      {"rlocus([1 5], [1 3 2 0])", -5, 5},
  };
  for (const Case& k : cases) {
    used() = 0;
    ASSERT_EQ(run(std::string(k.code) + ";\n"), kOk) << k.code;
    EXPECT_GE(s().yMin, k.ylo) << k.code;
    EXPECT_LE(s().yMax, k.yhi) << k.code;
    EXPECT_GT(s().yMax - s().yMin, 1.0) << k.code;  // not flat
  }
  // Complex poles set the y range alone; so do fixed y limits.
  used() = 0;
  ASSERT_EQ(run("rlocus(1, [1 2 5]);\n"), kOk);
  EXPECT_EQ(s().yMin, -2);
  EXPECT_EQ(s().yMax, 2);
  used() = 0;
  ASSERT_EQ(run("scale([-3 0 -0.5 0.5]); rlocus(1, [1 3 2]);\n"), kOk);
  EXPECT_EQ(s().yMin, -0.5);
  EXPECT_EQ(s().yMax, 0.5);
}

TEST_F(Responses, HstepCurvesAndIds) {
  ASSERT_EQ(run("hstep([1; 1; 1], [1 -0.5; 1 -0.2; 1 0], 0.5, 1, [1 1], 'r', 5);\n"), kOk);
  const Doubles r = records();
  const auto h = heads();
  ASSERT_EQ(h.size(), 3u);
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(h[k].second, 1);
    EXPECT_EQ(r[h[k].first + 1], 5 + double(k));  // ids 5, 6, 7
    EXPECT_EQ(r[h[k].first + 2], 1 + double(k));
  }
  // Two leading points at t0 = 0, then the fine grid from 0.
  const size_t m = size_t(r[6]);
  EXPECT_EQ(r[7], 0);
  EXPECT_EQ(r[8], 0);
  EXPECT_EQ(r[7 + m], 0);
  EXPECT_EQ(r[8 + m], 0);
  const std::pair<const char*, int> bad[] = {
      {"hstep(1, [1 1; 1 2], 1, 1, [1 1])", kIncompatibleSize},
      {"hstep(1, [1 1], [1 2], 1, [1 1])", kBadArgument},
      {"hstep(1, [1 1], 0, 1, [1 1])", kBadArgument},
      {"hstep(1, [1 1], 1, 1, [1 1], 'r', [1 2])", kBadArgument},
      {"hstep([1 2 3], [1 1], 1, 1, [1 1])", kIncompatibleSize},
  };
  for (auto [code, status] : bad) {
    used() = 0;
    EXPECT_EQ(run(std::string(code) + ";\n"), status) << code;
    EXPECT_EQ(used(), 0) << code;
  }
  used() = 0;
  ASSERT_EQ(run("scale([0 2e6]);\n"), kOk);
  EXPECT_EQ(run("hstep(1, [1 1], 1, 1, [1 1]);\n"), kObjectTooLarge);
}

// Random systems with NaN, infinities, leading zeros and degrees to 30:
// every body answers a status, ends, and keeps within the list's room.
TEST_F(Responses, RandomSystemsEndWithinTheirRoom) {
  std::mt19937_64 rng(42);
  auto coefficient = [&]() -> std::string {
    switch (rng() % 12) {
      case 0: return "NaN";
      case 1: return "Inf";
      case 2: return "-Inf";
      case 3: return "0";
      default: return std::to_string(int(rng() % 2001) - 1000) + "e-2";
    }
  };
  auto poly = [&](int degree, bool lead_zero) {
    std::string t = "[";
    if (lead_zero) t += "0 ";
    t += std::to_string(1 + int(rng() % 5)) + " ";
    for (int k = 0; k < degree; ++k) t += coefficient() + " ";
    return t + "]";
  };
  const char* commands[] = {"bodemag", "bodephase", "nyquist", "nichols", "step", "impulse", "rlocus",
                            "plotroots", "dstep", "dnyquist"};
  for (int trial = 0; trial < 120; ++trial) {
    const char* cmd = commands[trial % 10];
    const bool locus = std::strcmp(cmd, "rlocus") == 0;
    const int dd = 1 + int(rng() % (locus ? 6 : 30));
    const int dn = int(rng() % dd);
    std::string code = std::string(cmd) + "(" + poly(dn, rng() % 3 == 0);
    if (std::strcmp(cmd, "plotroots") != 0) code += ", " + poly(dd, rng() % 3 == 0);
    if (cmd[0] == 'd' && std::strcmp(cmd, "dnyquist") != 0) code += ", 0.1";
    code += ");\n";
    used() = 0;
    host.block->h.build.capacity = trial % 3 == 0 ? 3000 : full_capacity;
    const int status = run(code);
    if (std::getenv("TN_SHOW_RANDOM")) std::printf("%d %d %s", status, used(), code.c_str());
    EXPECT_TRUE(status == kOk || status == kPlotOverflow || status == kIncompatibleSize ||
                status == kObjectTooLarge || status == kBadArgument)
        << code << " " << status;
    EXPECT_LE(used(), host.block->h.build.capacity) << code;
    if (used() > 0) {
      // The list reads back whole: record lengths add up to what was used.
      const Doubles l = list();
      size_t at = 0;
      while (at + 6 <= l.size()) at += 6 + size_t(l[at + 5]);
      EXPECT_EQ(at, l.size()) << code;
    }
  }
  host.block->h.build.capacity = full_capacity;
}

// The hit test finds what the commands wrote: records 19 and 24 at their
// curves, and a dnyquist point with its frequency.
TEST_F(Responses, HitTestFindsTheWrittenRecords) {
  struct Case {
    const char* code;
    double x, y;  // a point of the curve
    int32_t id;
  };
  const double pi = 3.14159265358979323846;
  const Case cases[] = {
      {"bodemag(1, [1 1], 'r', 9)", 2, 1 / std::sqrt(5.0), 9},
      {"dbodephase(1, [1 -0.5], 0.1, 'r', 7)", 10, -std::atan2(std::sin(1.0), std::cos(1.0) - 0.5) + 0 * pi, 7},
  };
  for (const Case& k : cases) {
    used() = 0;
    ASSERT_EQ(run(std::string(k.code) + ";\n"), kOk) << k.code;
    subplot_compute_transform(&s(), 0, 0.0);
    double px, py;
    subplot_data_to_pixel(&s(), &k.x, &k.y, nullptr, 1, &px, &py, nullptr);
    Doubles l = list();
    recdrv::Recorder rec;
    ManipState st{};
    ASSERT_TRUE(plotlist_hit_test_section(l.data(), int32_t(l.size()), 0, 0, &s(), px, py, kHitTolerance, 0, 0, &st,
                                          &rec.table, &rec.context, nullptr));
    EXPECT_EQ(st.id, k.id) << k.code;
  }
  used() = 0;
  ASSERT_EQ(run("dnyquist(1, [1 -0.5], 'r', 4);\n"), kOk);
  subplot_compute_transform(&s(), 0, 0.0);
  const Doubles r = records();
  const auto h = heads();
  const size_t at = h[1].first, m = size_t(r[at + 6]);
  const size_t j = m / 2;
  const double x = r[at + 7 + j], y = r[at + 7 + m + j], w = r[at + 7 + 2 * m + j];
  double px, py;
  subplot_data_to_pixel(&s(), &x, &y, nullptr, 1, &px, &py, nullptr);
  Doubles l = list();
  recdrv::Recorder rec;
  ManipState st{};
  ASSERT_TRUE(plotlist_hit_test_section(l.data(), int32_t(l.size()), 0, 0, &s(), px, py, kHitTolerance, 0, 0, &st,
                                        &rec.table, &rec.context, nullptr));
  EXPECT_EQ(st.id, 4);
  EXPECT_TRUE(st.valid & kManipQ1);
  EXPECT_EQ(st.q1, w);
}

// On a logarithmic x axis the grid is geometric: poles at the origin give
// [1e-3, 10], a pole at -1 a decade each side, a discrete system [pi / 1000 Ts, pi / Ts].
TEST_F(Responses, LogAxisRanges) {
  const double pi = 3.14159265358979323846;
  const struct {
    const char* code;
    double first, last;
  } cases[] = {
      {"[m, w] = bodemag(1, [1 0]);", 1e-3, 10},
      {"[m, w] = bodemag(1, [1 1]);", 0.1, 10},
      {"[m, w] = dbodemag(1, [1 -0.5], 0.1);", pi / 100, pi / 0.1},
  };
  for (const auto& k : cases) {
    used() = 0;
    ASSERT_EQ(run(std::string("scale('loglin'); ") + k.code + "\n"), kOk) << k.code;
    ASSERT_TRUE(s().scaleFlags & kScaleLogX);
    const Doubles w = variable("w");
    ASSERT_EQ(w.size(), 200u);
    EXPECT_NEAR(w.front(), k.first, 1e-12 * k.first) << k.code;
    EXPECT_EQ(w.back(), k.last) << k.code;
    const double r = w[1] / w[0];
    for (size_t i = 2; i < w.size(); ++i) EXPECT_NEAR(w[i] / w[i - 1], r, 1e-9) << k.code;
  }
}

}  // namespace
