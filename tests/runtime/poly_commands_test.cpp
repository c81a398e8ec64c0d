// plotpoly, mesh and surf run from ZVR code in an instance's drawing
// context: the polygon record each writes (vertex numbers compared bit for
// bit), the flags by colour and style, the errors that write nothing, the
// exact room and one double less, and the failure sweep.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/lib_calls.h"
#include "graphics/commands/poly_commands.h"
#include "runtime/drawing_context.h"
#include "support/failure_sweep.h"

namespace {

using Doubles = std::vector<double>;
using Bits = std::vector<uint64_t>;

Bits bits_of(const Doubles& d) {
  Bits b(d.size());
  std::memcpy(b.data(), d.data(), d.size() * sizeof(double));
  return b;
}

// Vertex numbers packed two per double, floor(k/2) + 1 doubles.
Doubles packed_faces(const std::vector<int32_t>& v) {
  std::vector<int32_t> words(v);
  words.resize(v.size() / 2 * 2 + 2, 0);
  Doubles d(words.size() / 2);
  std::memcpy(d.data(), words.data(), d.size() * sizeof(double));
  return d;
}

// A polygon record: header, flags, P, N, the blocks, F and the faces.
Doubles poly_rec(double id, double style, double colour, double flags, double p, std::vector<Doubles> blocks,
                 double f, const std::vector<int32_t>& faces) {
  Doubles data{flags, p};
  for (const Doubles& b : blocks) data.insert(data.end(), b.begin(), b.end());
  data.push_back(f);
  const Doubles packed = packed_faces(faces);
  data.insert(data.end(), packed.begin(), packed.end());
  Doubles r{15, id, 1, style, colour, double(data.size())};
  r.insert(r.end(), data.begin(), data.end());
  return r;
}

struct PolyCommands : DrawingCommands {};

TEST_F(PolyCommands, PlotpolyRecords) {
  const double red = pack_colour(255, 0, 0);
  const Doubles x5{1, 2, 3, 4, 5}, y5{0, 1, 0, 1, 0}, z5{0, 0, 2, 0, 0};
  struct Case {
    const char* code;
    Doubles want;
  };
  const Case cases[] = {
      // "strip" over 5 vertices: (0,1,2), (2,1,3), (2,3,4).
      {"plotpoly(1:5, [0 1 0 1 0], [0 0 2 0 0], 'strip')",
       poly_rec(-1, 0x140, 0, 1 + 16 + 1024, 3, {{5}, x5, y5, z5, {0, 2}}, 3, {0, 1, 2, 2, 1, 3, 2, 3, 4})},
      {"plotpoly(1:5, [0 1 0 1 0], [0 0 2 0 0], 'fan', '*')",
       poly_rec(-1, 0x140, 0, 7 + 16 + 1024, 3, {{5}, x5, y5, z5, {0, 2}}, 3, {0, 1, 2, 0, 2, 3, 0, 3, 4})},
      // Three vertices: a 1-by-3 C is one r, g, b; a 3-by-1 C a value per vertex.
      {"plotpoly([0 1 0], [0 0 1], [1 2 3], [0.1 0.2 0.3], [1 2 3])",
       poly_rec(-1, 0x140, 0, 1 + 128 + 64 + 1024, 3, {{3}, {0, 1, 0}, {0, 0, 1}, {1, 2, 3}, {0.1, 0.2, 0.3}}, 1,
                {0, 1, 2})},
      {"plotpoly([0 1 0], [0 0 1], [1 2 3], [0.1; 0.2; 0.3], [1 2 3])",
       poly_rec(-1, 0x140, 0, 1 + 32 + 1024, 3, {{3}, {0, 1, 0}, {0, 0, 1}, {1, 2, 3}, {0.1, 0.2, 0.3}}, 1,
                {0, 1, 2})},
      // An N-by-3 C goes column by column; 3N values otherwise in their order.
      {"plotpoly([0 1 1 0], [0 0 1 1], [0 0 0 0], [1 2 3; 4 5 6; 7 8 9; 10 11 12], [1 2 3 4], 'bf', 'r')",
       poly_rec(-1, 4, red, 3 + 64 + 512 + 1024, 4,
                {{4}, {0, 1, 1, 0}, {0, 0, 1, 1}, {0, 0, 0, 0}, {1, 4, 7, 10, 2, 5, 8, 11, 3, 6, 9, 12}}, 1,
                {0, 1, 2, 3})},
      {"plotpoly([0 1 0], [0 0 1], [1 2 3], 1:9, [3 2 1; 1 2 3])",
       poly_rec(-1, 0x140, 0, 1 + 64 + 1024, 3, {{3}, {0, 1, 0}, {0, 0, 1}, {1, 2, 3}, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
                2, {2, 1, 0, 0, 1, 2})},
      {"plotpoly([0 1 0], [0 0 1], [1 2 3], 0.5, [1 2 3])",
       poly_rec(-1, 0x140, 0, 1 + 128 + 32 + 1024, 3, {{3}, {0, 1, 0}, {0, 0, 1}, {1, 2, 3}, {0.5}}, 1, {0, 1, 2})},
      // A filling style colours the faces; an empty C counts as none. (The
      // engine's NaN has its sign bit set.)
      {"plotpoly([0 1 0], [0 0 1], [NaN 2 3], [], [1 2 3], '', 'rf')",
       poly_rec(-1, 0x24, red, 1 + 16 + 2048, 3, {{3}, {0, 1, 0}, {0, 0, 1}, {-NAN, 2, 3}, {2, 3}}, 1, {0, 1, 2})},
      // Fewer than 3 vertices: a strip has no faces.
      {"plotpoly([0 1], [0 0], [1 1], 'strip')",
       poly_rec(-1, 0x140, 0, 1 + 16 + 1024, 3, {{2}, {0, 1}, {0, 0}, {1, 1}, {1, 1}}, 0, {})},
      {"plotpoly([0 1], [0 0], [1 1], zeros(0, 0))",
       poly_rec(-1, 0x140, 0, 1 + 16 + 1024, 0, {{2}, {0, 1}, {0, 0}, {1, 1}, {1, 1}}, 0, {})},
  };
  for (const Case& c : cases) {
    used() = 0;
    ASSERT_EQ(run(std::string(c.code) + ";\n"), kOk) << c.code;
    EXPECT_EQ(bits_of(records()), bits_of(c.want)) << c.code;
  }
  EXPECT_EQ(s().is3D, 1);
  used() = 0;
  ASSERT_EQ(run("plotpoly([1 2 5], [-1 0 3], [4 NaN 6], [1 2 3]);\n"), kOk);
  EXPECT_EQ(s().xMin, 1);
  EXPECT_EQ(s().xMax, 5);
  EXPECT_EQ(s().yMin, -1);
  EXPECT_EQ(s().yMax, 3);
  EXPECT_EQ(s().zMin, 4);
  EXPECT_EQ(s().zMax, 6);
}

TEST_F(PolyCommands, MeshAndSurfRecords) {
  const double red = pack_colour(255, 0, 0);
  // A 2-by-3 grid: quads (0,1,4,3) and (1,2,5,4).
  const std::vector<int32_t> quads{0, 1, 4, 3, 1, 2, 5, 4};
  const Doubles cols{1, 2, 3, 1, 2, 3}, rows{1, 1, 1, 2, 2, 2}, z{1, 2, 3, 4, 5, 6};
  struct Case {
    const char* code;
    Doubles want;
  };
  const Case cases[] = {
      {"mesh([1 2 3; 4 5 6])", poly_rec(-1, 0x140, 0, 3 + 16 + 256, 4, {{6}, cols, rows, z, {1, 6}}, 2, quads)},
      {"surf([1 2 3; 4 5 6])", poly_rec(-1, 0x140, 0, 3 + 16 + 1024, 4, {{6}, cols, rows, z, {1, 6}}, 2, quads)},
      // surf(z, 5): one colour value, faces and boundaries.
      {"surf([1 2 3; 4 5 6], 5)",
       poly_rec(-1, 0x140, 0, 3 + 128 + 32 + 1024, 4, {{6}, cols, rows, z, {5}}, 2, quads)},
      {"mesh(1:3, 1:2, [1 2 3; 4 5 6], [0 0 0; 1 1 1], 'f', 'r', 4)",
       poly_rec(4, 0x144, red, 1 + 32 + 256, 4, {{6}, cols, rows, z, {0, 0, 0, 1, 1, 1}}, 2, quads)},
      // A style without colour: the invisible kind becomes a solid line.
      {"mesh([1 2 3; 4 5 6], 'b', 'r')", poly_rec(-1, 4, red, 2 + 16 + 512, 4, {{6}, cols, rows, z, {1, 6}}, 2, quads)},
      {"surf([1 2 3; 4 5 6], '', 'r')", poly_rec(-1, 4, red, 3 + 16 + 512 + 1024, 4, {{6}, cols, rows, z, {1, 6}}, 2,
                                                 quads)},
      {"surf([1 2 3; 4 5 6], '', 'rf')", poly_rec(-1, 0x24, red, 3 + 16 + 2048, 4, {{6}, cols, rows, z, {1, 6}}, 2,
                                                  quads)},
      // Vectors x (columns) and y (rows) repeat over the grid.
      {"mesh([10 20 30], [5 7], [1 2 3; 4 5 6])",
       poly_rec(-1, 0x140, 0, 3 + 16 + 256, 4, {{6}, {10, 20, 30, 10, 20, 30}, {5, 5, 5, 7, 7, 7}, z, {1, 6}}, 2,
                quads)},
      {"mesh([1 2 3; 1 2 4], [0 0 0; 2 2 2], [1 2 3; 4 5 6])",
       poly_rec(-1, 0x140, 0, 3 + 16 + 256, 4, {{6}, {1, 2, 3, 1, 2, 4}, {0, 0, 0, 2, 2, 2}, z, {1, 6}}, 2, quads)},
      // Three colour planes, one after another; a 1-by-1-by-3 C is uniform.
      {"c = zeros(2, 3, 3); c(:, :, 2) = 1; surf([1 2 3; 4 5 6], c)",
       poly_rec(-1, 0x140, 0, 3 + 64 + 1024, 4,
                {{6}, cols, rows, z, {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0}}, 2, quads)},
      {"c = zeros(1, 1, 3); c(3) = 1; surf([1 2 3; 4 5 6], c)",
       poly_rec(-1, 0x140, 0, 3 + 128 + 64 + 1024, 4, {{6}, cols, rows, z, {0, 0, 1}}, 2, quads)},
  };
  for (const Case& c : cases) {
    used() = 0;
    ASSERT_EQ(run(std::string(c.code) + ";\n"), kOk) << c.code;
    EXPECT_EQ(bits_of(records()), bits_of(c.want)) << c.code;
  }
  // A 1-by-n or n-by-1 z writes nothing, not even the opening record.
  for (const char* code : {"mesh(1:4)", "surf((1:4)')", "mesh(1:3, 1, 1:3)", "surf(zeros(0, 0))"}) {
    used() = 0;
    EXPECT_EQ(run(std::string(code) + ";\n"), kOk) << code;
    EXPECT_EQ(used(), 0) << code;
  }
  used() = 0;
  ASSERT_EQ(run("mesh([10 20 30], [5 7], [1 2 3; -4 5 9]);\n"), kOk);
  EXPECT_EQ(s().is3D, 1);
  EXPECT_EQ(s().xMin, 10);
  EXPECT_EQ(s().xMax, 30);
  EXPECT_EQ(s().yMin, 5);
  EXPECT_EQ(s().yMax, 7);
  EXPECT_EQ(s().zMin, -4);
  EXPECT_EQ(s().zMax, 9);
}

// Vertex numbers of a larger grid, bit for bit, row by row.
TEST_F(PolyCommands, GridVertexNumbers) {
  ASSERT_EQ(run("surf(reshape(1:20, 4, 5)');\n"), kOk);  // 5 rows, 4 columns
  const Doubles r = records();
  ASSERT_GE(r.size(), 10u);
  std::vector<int32_t> want;
  for (int32_t row = 0; row < 4; ++row)
    for (int32_t c = 0; c < 3; ++c)
      want.insert(want.end(), {row * 4 + c, row * 4 + c + 1, (row + 1) * 4 + c + 1, (row + 1) * 4 + c});
  const Doubles faces = packed_faces(want);
  ASSERT_EQ(r[5], double(r.size() - 6));
  const size_t at = r.size() - faces.size();
  EXPECT_EQ(r[at - 1], 12);
  EXPECT_EQ(bits_of(Doubles(r.begin() + long(at), r.end())), bits_of(faces));
}

TEST_F(PolyCommands, ErrorsWriteNothing) {
  const std::pair<const char*, int> cases[] = {
      {"plotpoly([0 1 0], [0 0 1], [1 2 3], [0 1 2])", kIndexOutOfRange},
      {"plotpoly([0 1 0], [0 0 1], [1 2 3], [1 2 4])", kIndexOutOfRange},
      {"plotpoly([0 1 0], [0 0 1], [1 2 3], [1 2 1.5])", kNonIntegerIndex},
      {"plotpoly([0 1 0], [0 0 1], [1 2 3], [1 2 NaN])", kNonIntegerIndex},
      {"plotpoly([0 1 0], [0 0 1], [1 2 3], [1 2; 2 3])", kBadSize},
      // Faces are vertex numbers: a complex face matrix lost its imaginary parts.
      {"plotpoly([0 1 0], [0 0 1], [1 2 3], [1 2 3 + 1i])", kWrongType},
      {"plotpoly([0 1 0], [0 0 1], [1 2 3], [1 1 1], [1 2 3i])", kWrongType},
      {"plotpoly([0 1 0], [0 0 1], [1 2 3], 'star')", kUnknownOption},
      {"plotpoly([0 1 0], [0 0 1], [1 2 3], [1 2 3], 'fx')", kUnknownOption},
      {"plotpoly([0 1 0], [0 0 1], [1 2], [1 2 3])", kIncompatibleSize},
      {"plotpoly([0 1 0], [0 0], [1 2 3], [1 2 3])", kIncompatibleSize},
      {"plotpoly([0 1 0], [0 0 1], [1 2 3], [1 2], [1 2 3])", kIncompatibleSize},
      {"plotpoly([0 1 0], [0 0 1], [1 2 3], 'fan', 'f', 'r', [1 2])", kNonScalarArg},
      {"plotpoly({1}, [0 0 1], [1 2 3], [1 2 3])", kWrongArgType},
      {"plotpoly([0 1 0], [0 0 1], [1 2 3])", kWrongNargin},
      {"mesh([1 2; 3 4], 'x')", kUnknownOption},
      {"mesh([1 2; 3 4], '*')", kUnknownOption},
      {"mesh([1 2; 3 4], [1 2 3])", kIncompatibleSize},
      {"mesh([1 2; 3 4], zeros(2, 2, 2))", kBadSize},
      {"mesh([1 2; 3 4], zeros(2, 2, 3, 2))", kBadSize},
      {"mesh([1 2 3], [1 2 3], [1 2 3; 4 5 6])", kIncompatibleSize},
      {"mesh([1 2], [1 2], [1 2 3; 4 5 6])", kIncompatibleSize},
      {"mesh([1 2 3; 4 5 6], [1 2 3; 4 5 6], [1 2; 3 4])", kIncompatibleSize},
      {"surf([1 2; 3 4], 'f', 'r', 1, 2)", kTooManyInputs},
      {"surf({1})", kWrongArgType},
      {"surf([1 2; 3 4], int8(1))", kWrongType},
  };
  for (auto [code, status] : cases) {
    used() = 0;
    EXPECT_EQ(run(std::string(code) + ";\n"), status) << code;
    EXPECT_EQ(used(), 0) << code;
  }
  // No outputs.
  EXPECT_NE(run("a = surf([1 2; 3 4]);\n"), kOk);
}

// Exact room takes the record; one double less gives 10001 and writes nothing.
TEST_F(PolyCommands, ExactRoomAndOneLess) {
  const char* codes[] = {
      "plotpoly(1:5, [0 1 0 1 0], zeros(1, 5), 'strip')",
      "plotpoly(1:4, [0 0 1 1], zeros(1, 4), ones(4, 3), [1 2 3 4], 'bf', 'r')",
      "plotpoly(1:4, [0 0 1 1], zeros(1, 4), [1 2 3; 2 3 4])",
      "mesh(magic(4))",
      "surf(1:3, 1:2, [1 2 3; 4 5 6], 0.5, 'f', 'r', 3)",
      "surf([1 2 3; 4 5 6], zeros(2, 3, 3))",
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
      const Bits want = bits_of(list());
      for (int32_t less : {0, 1}) {
        ASSERT_NO_FATAL_FAILURE(prepare(before));
        host.block->h.build.capacity = need - less;
        const int status = run(std::string(code) + ";\n");
        if (less == 0) {
          EXPECT_EQ(status, kOk) << code;
          EXPECT_EQ(bits_of(list()), want) << code;
        } else {
          EXPECT_EQ(status, kPlotOverflow) << code << " before " << before;
          EXPECT_EQ(used(), before) << code;
        }
      }
    }
}

TEST_F(PolyCommands, RowsAreBound) {
  for (const char* name : {"plotpoly", "mesh", "surf"}) EXPECT_NE(engine_row(name), builtin_not_supported) << name;
}

// Each command under the failure sweep, as a call and as a statement.
TEST_F(PolyCommands, EveryCommandPassesTheFailureSweep) {
  ASSERT_EQ(run("x_ = [0 1 1 0]; y_ = [0 0 1 1]; z_ = [1 2 3 4]; c_ = ones(4, 3); f_ = [1 2 3 4]; o_ = 'bf';\n"
                "s_ = 'r'; i_ = 3; g_ = [1 2 3; 4 5 6]; u_ = 1:3; v_ = 1:2; k_ = 'strip'; e_ = 0.5;\n"),
            kOk);
  const struct {
    const char* name;
    std::vector<const char*> inputs;
  } cases[] = {
      {"plotpoly", {"x_", "y_", "z_", "k_"}},
      {"plotpoly", {"x_", "y_", "z_", "c_", "f_", "o_", "s_"}},
      {"plotpoly", {"x_", "y_", "z_", "f_", "o_", "s_", "i_"}},
      {"mesh", {"g_"}},
      {"mesh", {"u_", "v_", "g_", "e_", "o_", "s_", "i_"}},
      {"surf", {"g_", "g_"}},
      {"surf", {"u_", "v_", "g_"}},
  };
  for (const auto& k : cases)
    for (int nout : {0, -1})
      EXPECT_TRUE(sweep_call(k.name, k.inputs, nout, true)) << k.name << " " << k.inputs.size() << " " << nout;
}

}  // namespace
