// The camera commands from ZVR code in an instance's drawing context: the
// vector queries and their auto and manual words, the moves, camva and
// camproj at every output count, the refusals (which leave the camera as it
// was), and every row under the failure sweep.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "engine/core/calls.h"
#include "engine/core/frames.h"
#include "engine/core/interp.h"
#include "engine/core/lib_calls.h"
#include "engine/core/status.h"
#include "engine/core/value_stack.h"
#include "engine/lib/builtin_tables.h"
#include "graphics/subplot/subplot_view.h"
#include "runtime/drawing_context.h"
#include "support/failure_sweep.h"

namespace {

struct CameraCode : ::testing::Test {
  FakeHost host;
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(open_drawing_context(&host));
    Subplot& sp = s();
    sp.is3D = 1;
    sp.xMin = sp.yMin = sp.zMin = 0, sp.xMax = sp.yMax = sp.zMax = 1;
    sp.xMode = sp.yMode = sp.zMode = kAxisAuto;
    subplot_update_transform(&sp);
  }
  Subplot& s() { return inst_find_by_id(host.block, 0)->subplots[0]; }
  EngineContext* c() { return rt_engine(host.block); }
  int run(const std::string& text) {
    int status = exec_command_line(c(), text.data(), int32_t(text.size()), 0);
    if (status == kSliceEnded) status = interp_run(c(), 0);
    if (status != kOk) frame_unwind(c(), 0);
    return status;
  }
  std::string out(const std::string& text) {
    EXPECT_EQ(run(text), kOk) << text;
    return host.take_output();
  }
};

TEST_F(CameraCode, VectorsAutoAndManual) {
  EXPECT_EQ(out("campos([1 2 3]); disp(campos')\n"), "     1     2     3\n");
  EXPECT_EQ(s().viewFlags & kViewAutoPos, 0u);
  EXPECT_EQ(out("disp(size(camtarget))\n"), "     3     1\n");
  EXPECT_EQ(out("camtarget([0.5; 0.5; 0.5]); camup([0 1 0]); disp(camup')\n"), "     0     1     0\n");
  EXPECT_EQ(s().viewFlags & (kViewAutoTarget | kViewAutoUp), 0u);
  ASSERT_EQ(run("campos('auto');\n"), kOk);
  EXPECT_EQ(s().camPos[0], -3);  // orthographic automatic direction
  EXPECT_NE(s().viewFlags & kViewAutoPos, 0u);
  // "manual" freezes what the automatic rule gives now.
  ASSERT_EQ(run("camtarget('auto'); camtarget('manual');\n"), kOk);
  EXPECT_EQ(s().viewFlags & kViewAutoTarget, 0u);
  EXPECT_EQ(s().camTarget[0], 0.5);
  // A statement without arguments displays; with one it does not.
  EXPECT_EQ(out("campos\n"), "ans =\n    -3\n    -2\n     1\n");
  EXPECT_EQ(out("campos([-3 -2 1])\n"), "");
}

TEST_F(CameraCode, MovesViewAngleAndProjection) {
  ASSERT_EQ(run("camproj('p');\n"), kOk);
  EXPECT_EQ(s().orthographic, 0);
  EXPECT_EQ(out("disp(camproj)\n"), "perspective\n");
  const double r0 = subplot_camera_distance(&s());
  ASSERT_EQ(run("camorbit(0.3); camorbit(0.1, -0.2);\n"), kOk);
  EXPECT_NEAR(subplot_camera_distance(&s()), r0, 1e-12);
  const double pos[3] = {s().camPos[0], s().camPos[1], s().camPos[2]};
  ASSERT_EQ(run("campan(0.1, 0); camroll(0.2);\n"), kOk);
  EXPECT_EQ(s().camPos[0], pos[0]);
  EXPECT_EQ(s().viewFlags & (kViewAutoTarget | kViewAutoUp), 0u);
  ASSERT_EQ(run("camdolly([1 0 0]);\n"), kOk);
  EXPECT_NEAR(s().camPos[0], pos[0] + 1, 1e-12);
  ASSERT_EQ(run("camva(30);\n"), kOk);
  EXPECT_EQ(out("disp(abs(camva - 30) < 1e-9)\n"), "true\n");
  const double factor = s().viewAngleFactor;
  ASSERT_EQ(run("camzoom(2);\n"), kOk);
  EXPECT_EQ(s().viewAngleFactor, 2 * factor);
  ASSERT_EQ(run("camva(0);\n"), kOk);
  EXPECT_EQ(out("disp(camproj); disp(camva)\n"), "orthographic\n     0\n");
  EXPECT_EQ(out("camproj\n"), "ans =\northographic\n");
  EXPECT_EQ(out("camproj('orthographic')\n"), "");
  EXPECT_NE(host.block->h.user.status & kCallLayoutChanged, 0);
}

TEST_F(CameraCode, RefusalsLeaveTheCameraAsItWas) {
  const Subplot before = s();
  struct Case {
    const char* code;
    int status;
  } cases[] = {
      {"campos([1 2]);\n", kBadSize},          {"camtarget(ones(3));\n", kBadSize},
      {"camup('sideways');\n", kUnknownOption}, {"camdolly([1 2 3 4]);\n", kBadSize},
      {"campan({1}, 0);\n", kWrongArgType},    {"camorbit(1i);\n", kWrongArgType},
      {"camroll([1 2]);\n", kNonScalarArg},    {"camproj('x');\n", kUnknownOption},
      {"camproj(1);\n", kUnknownOption},       {"camva({1});\n", kWrongArgType},
      {"campos([1 2 3i]);\n", kWrongArgType},
  };
  for (const Case& k : cases) EXPECT_EQ(run(k.code), k.status) << k.code;
  EXPECT_EQ(std::memcmp(&before, &s(), sizeof before), 0);
  host.block->h.build.subplot = -1;
  EXPECT_EQ(run("camzoom(2);\n"), kBadContext);
}

const BuiltinEntry* row(const char* name) {
  for (const BuiltinEntry* r = g_builtin_table_engine; r->name[0] || r->fn; ++r)
    if (std::strcmp(r->name, name) == 0) return r;
  return nullptr;
}

TEST_F(CameraCode, EveryCameraRowPassesTheFailureSweep) {
  EngineContext* e = c();
  auto vec = [e] {
    double* re = nullptr;
    TN_TRY(stk_push_matrix(e, 1, 3, &re, nullptr));
    re[0] = 1, re[1] = 2, re[2] = 3;
    return int(kOk);
  };
  auto num = [e](int n) {
    return [e, n] {
      for (int k = 0; k < n; ++k) {
        const int st = stk_push_real(e, 0.1);
        if (st != kOk) {
          for (int j = 0; j < k; ++j) stk_drop(e);
          return st;
        }
      }
      return int(kOk);
    };
  };
  auto word = [e](const char* w) { return [e, w] { return stk_push_cstr(e, int32_t(std::strlen(w)), w); }; };
  struct Case {
    const char* name;
    std::function<int()> push;
    int nin;
  } cases[] = {
      {"campos", vec, 1},      {"campos", num(0), 0},   {"camtarget", word("manual"), 1}, {"camup", vec, 1},
      {"camdolly", vec, 1},    {"campan", num(2), 2},   {"camorbit", num(1), 1},          {"camorbit", num(2), 2},
      {"camroll", num(1), 1},  {"camzoom", num(1), 1},  {"camva", num(1), 1},             {"camva", num(0), 0},
      {"camproj", word("p"), 1}, {"camproj", num(0), 0},
  };
  for (const Case& k : cases) {
    const BuiltinEntry* r = row(k.name);
    ASSERT_NE(r, nullptr) << k.name;
    ASSERT_FALSE(builtin_is_placeholder(r)) << k.name;
    for (int nout : {-1, 0, 1}) {
      if (nout > r->max_out) continue;
      bool ok = false;
      auto call = [&] { return lib_call_builtin(e, r->fn, k.nin, nout); };
      EXPECT_TRUE(sweep_rooms(e, k.push, call, &ok)) << k.name << " " << k.nin << " " << nout;
      EXPECT_TRUE(ok) << k.name;
    }
  }
}

}  // namespace
