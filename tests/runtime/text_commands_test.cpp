// text, settabs, legend and fontset run from ZVR code in an instance's
// drawing context: the records each form writes, field by field; the errors
// that write nothing; the exact room of every call (one double less gives
// "Plot memory overflow" with the list untouched); the failure sweep.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "graphics/commands/text_commands.h"
#include "runtime/drawing_context.h"
#include "support/failure_sweep.h"

namespace {

using Doubles = std::vector<double>;
struct TextCommands : DrawingCommands {};

Doubles rec(double code, double colour, Doubles data) {
  Doubles r{code, -1, -1, 0, colour, double(data.size())};
  r.insert(r.end(), data.begin(), data.end());
  return r;
}
// Bytes packed 8 per double, the last padded with zeros.
Doubles bytes(const std::string& s) {
  Doubles out((s.size() + 7) / 8, 0.0);
  if (!s.empty()) std::memcpy(out.data(), s.data(), s.size());
  return out;
}
Doubles cat(std::initializer_list<Doubles> parts) {
  Doubles all;
  for (const Doubles& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST_F(TextCommands, RecordsOfEachForm) {
  const double red = pack_colour(255, 0, 0);
  const double grey = pack_colour(127, 127, 127);
  struct Case {
    const char* code;
    Doubles want;
  };
  const Case cases[] = {
      {"text('abc')", rec(55, 0, cat({{3}, bytes("abc")}))},
      {"text('a long line')", rec(55, 0, cat({{11}, bytes("a long line")}))},
      {"text(1, 2, 'hi', 'rt')", rec(56, 0, cat({{1, 2, 0, 6, 2}, bytes("hi")}))},
      {"text(1, 2, 'hi', 'LB')", rec(56, 0, cat({{1, 2, 0, 9, 2}, bytes("hi")}))},
      {"text(1, 2, 'hi', 'c')", rec(56, 0, cat({{1, 2, 0, 0, 2}, bytes("hi")}))},
      {"text(1, 2, 'hi', '')", rec(56, 0, cat({{1, 2, 0, 0, 2}, bytes("hi")}))},
      {"text(1, 2, 3, 's')", rec(57, 0, cat({{1, 2, 3, 0, 1}, bytes("s")}))},
      {"text(1, 2, 3, 's', 'b')", rec(57, 0, cat({{1, 2, 3, 8, 1}, bytes("s")}))},
      {"text(1, 2, 3, 's', fontset('Font', 'Courier', 'Size', 12, 'Bold', 1, 'Color', [1 0 0]))",
       cat({rec(67, red, cat({{12, 1}, bytes(std::string("Courier") + '\0')})),
            rec(57, 0, cat({{1, 2, 3, 0, 1}, bytes("s")})), rec(68, 0, {})})},
      {"text('t', fontset('Color', 0.5, 'Italic', 1, 'Underline', 1))",
       cat({rec(67, grey, cat({{10, 6}, bytes(std::string(1, '\0'))})), rec(55, 0, cat({{1}, bytes("t")})),
            rec(68, 0, {})})},
      // A structure is read as Font options, missing fields at their defaults.
      {"clear f; f.Outline = 1; f.Size = 8; text('t', f)",
       cat({rec(67, 0, cat({{8, 128}, bytes(std::string(1, '\0'))})), rec(55, 0, cat({{1}, bytes("t")})),
            rec(68, 0, {})})},
      {"clear f; f.Color = uint8([1 2 3]); text('t', f)",
       cat({rec(67, pack_colour(1, 2, 3), cat({{10, 0}, bytes(std::string(1, '\0'))})),
            rec(55, 0, cat({{1}, bytes("t")})), rec(68, 0, {})})},
      // Colours clamp to the byte, NaN to 0.
      {"clear f; f.Color = [2 -1 nan]; text('t', f)",
       cat({rec(67, pack_colour(255, 0, 0), cat({{10, 0}, bytes(std::string(1, '\0'))})),
            rec(55, 0, cat({{1}, bytes("t")})), rec(68, 0, {})})},
      {"settabs([3 5])", rec(66, 0, cat({{2, 0, 0, 10}, bytes("xxx\txxxxx\t")}))},
      {"settabs([0.5 -2 1.9])", rec(66, 0, cat({{3, 0, 0, 0, 4}, bytes("\t\tx\t")}))},
      {"settabs(['ab' 9 'cd'])", rec(66, 0, cat({{2, 0, 0, 5}, bytes("ab\tcd")}))},
      {"settabs(['ab' 9])", rec(66, 0, cat({{1, 0, 3}, bytes("ab\t")}))},
      {"settabs('')", rec(66, 0, {0, 0})},
      {"legend(['a' 10 'b' 10])", rec(58, 0, cat({{0, 2, 4, 8, 0, 8, 0}, bytes("a\nb\n")}))},
      {"legend(['one' 10 'two'], 'r,g')",
       rec(58, 0, cat({{0, 2, 7, 4, red, 2, pack_colour(0, 255, 0)}, bytes("one\ntwo")}))},
      {"legend('')", rec(58, 0, {0, 1, 0, 8, 0})},
  };
  for (const Case& c : cases) {
    used() = 0;
    ASSERT_EQ(run(std::string(c.code) + ";\n"), kOk) << c.code;
    EXPECT_EQ(records(), c.want) << c.code;
    EXPECT_EQ(list()[0], kCodeOpenObject) << c.code;
  }
}

TEST_F(TextCommands, PointsWidenTheLimitsAndThreeDMarksTheSubplot) {
  ASSERT_EQ(run("text(4, 7, 'a');\n"), kOk);
  EXPECT_EQ(s().is3D, 0);
  EXPECT_LE(s().xMin, 4);
  EXPECT_GE(s().xMax, 4);
  EXPECT_LE(s().yMin, 7);
  EXPECT_GE(s().yMax, 7);
  used() = 0;
  ASSERT_EQ(run("text(1, 2, 9, 'a');\n"), kOk);
  EXPECT_EQ(s().is3D, 1);
  EXPECT_GE(s().zMax, 9);
}

TEST_F(TextCommands, LegendSetsTheLegendToolFlagOverTheCapabilities) {
  s().toolFlags = 0;
  ASSERT_EQ(run("legend('a');\n"), kOk);
  EXPECT_EQ(s().toolFlags, subplot_get_capabilities(&s()) | kLegendToolFlag);
  EXPECT_TRUE(s().toolFlags & kLegendToolFlag);
}

TEST_F(TextCommands, FontsetMakesTheFontStructureWithoutOutline) {
  ASSERT_EQ(run("f = fontset; g = fontset('Size', 14, 'Font', 'Mono');\n"
                "if isfield(f, 'Outline') || ~isfield(f, 'Underline') || ~isfield(f, 'Color'), error('x'); end\n"
                "if f.Size ~= 10 || ~isempty(f.Font) || any(f.Color ~= [0 0 0]), error('y'); end\n"
                "if g.Size ~= 14 || ~strcmp(g.Font, 'Mono'), error('z'); end\n"),
            kOk);
}

// Record 67 holds the whole face name, however long (it was cut at 127
// bytes); the driver takes what it can use of it.
TEST_F(TextCommands, FontRecordHoldsTheWholeName) {
  const std::string face = std::string(150, 'f') + "\xc3\xa9" + std::string(60, 'g');  // 211 characters
  ASSERT_EQ(run("n_ = [repmat('f', 1, 150), char(233), repmat('g', 1, 60)]; text('t', fontset('Font', n_));\n"), kOk);
  EXPECT_EQ(records(), cat({rec(67, 0, cat({{10, 0}, bytes(face + '\0')})), rec(55, 0, cat({{1}, bytes("t")})),
                            rec(68, 0, {})}));
}

// fontset checks the kinds of its values as text reads them: the error
// comes from fontset, not later from text.
TEST_F(TextCommands, FontsetRefusesValuesOfTheWrongKind) {
  const std::pair<const char*, int> cases[] = {
      {"f = fontset('Size', 'abc')", kWrongType},      {"f = fontset('Size', 'a')", kWrongType},
      {"f = fontset('Size', [10 12])", kBadSize},      {"f = fontset('Size', {10})", kWrongType},
      {"f = fontset('Bold', 'yes')", kWrongType},      {"f = fontset('Font', 3)", kWrongType},
      {"f = fontset('Color', [1 2])", kBadSize},       {"f = fontset('Color', 'r')", kWrongType},
      {"f = fontset('Color', int8(1))", kWrongType},   {"f = fontset(fontset, 'Size', 'abc')", kWrongType},
      {"f = fontset('Size', 12, 'Italic', [])", kOk},  {"f = fontset('Size', int16(12), 'Bold', true)", kOk},
      {"f = fontset('Color', uint8([1 2 3]))", kOk},   {"f = fontset('Font', 'Mono', 'Color', 0.5)", kOk},
      {"f = fontset('Nope', 'abc')", kUnknownOption},
      // An empty text holds no characters: it is stored, and reads as the default.
      {"f = fontset('Bold', '', 'Size', '')", kOk},    {"text('t', fontset('Italic', ''))", kOk},
      {"f = fontset('Color', '')", kWrongType},
  };
  for (auto [code, status] : cases) EXPECT_EQ(run(std::string(code) + ";\n"), status) << code;
}

TEST_F(TextCommands, ErrorsWriteNothing) {
  const std::pair<const char*, int> cases[] = {
      {"text('a', 'b')", kTooManyInputs},
      {"text(5)", kWrongType},
      {"text(1, 2, 3)", kWrongType},
      {"text(1, 2, 's', 'x')", kWrongType},
      {"text(1, 2, 's', 'rtl')", kWrongType},
      {"text(1, 2, 's', 5)", kWrongType},
      {"text(1, 2, 's', 'r', 'r')", kTooManyInputs},
      {"clear f; f.Color = [1 2]; text('a', f)", kBadSize},
      {"clear f; f.Color = int8(1); text('a', f)", kWrongType},
      {"clear f; f.Color = 'r'; text('a', f)", kWrongType},
      {"clear f; f.Font = 5; text('a', f)", kWrongType},
      {"legend(5)", kWrongType},
      {"legend('a', 'q')", kUnknownOption},
      {"settabs({1})", kWrongType},
  };
  for (auto [code, status] : cases) {
    used() = 0;
    EXPECT_EQ(run(std::string(code) + ";\n"), status) << code;
    EXPECT_EQ(used(), 0) << code;
  }
}

TEST_F(TextCommands, WithoutACurrentSubplotNothingIsWritten) {
  host.block->h.build.subplot = -1;
  for (const char* code : {"text('a');\n", "settabs(3);\n", "legend('a');\n"}) EXPECT_EQ(run(code), kBadContext);
  EXPECT_EQ(used(), 0);
}

// Exact room takes the records; one double less gives 10001, nothing written.
TEST_F(TextCommands, ExactRoomAndOneLess) {
  const char* codes[] = {
      "text('abc')",
      "text('abcdefghi')",
      "text(1, 2, 'hi', 'rt')",
      "text(1, 2, 3, 's', fontset('Font', 'Courier'))",
      "text('t', fontset('Font', 'Helvetica Neue'))",
      "text(1, 2, 't', fontset('Font', repmat('Face ', 1, 40)))",
      "settabs([3 5])",
      "settabs(['ab' 9 'cd'])",
      "legend(['a' 10 'b' 10])",
      "legend(['one' 10 'two'], 'r,g')",
  };
  for (const char* code : codes)
    for (bool before : {false, true}) {
      auto start = [&] {
        host.block->h.build.capacity = full_capacity;
        used() = 0;
        if (before) {
          ASSERT_EQ(run("scale([0 1]);\n"), kOk);
        }
      };
      ASSERT_NO_FATAL_FAILURE(start());
      const int32_t base = used();
      ASSERT_EQ(run(std::string(code) + ";\n"), kOk) << code;
      const int32_t need = used();
      const Doubles want = list();
      for (int32_t less : {0, 1}) {
        ASSERT_NO_FATAL_FAILURE(start());
        host.block->h.build.capacity = need - less;
        const int status = run(std::string(code) + ";\n");
        if (less == 0) {
          EXPECT_EQ(status, kOk) << code;
          EXPECT_EQ(list(), want) << code;
        } else {
          EXPECT_EQ(status, kPlotOverflow) << code << " before " << before;
          EXPECT_EQ(used(), base) << code;
        }
      }
    }
}

// Each command under the failure sweep, as a call and as a statement.
TEST_F(TextCommands, EveryCommandPassesTheFailureSweep) {
  ASSERT_EQ(run("s_ = 'abc'; j_ = 'rt'; x_ = 1; f_ = fontset('Font', 'Mono', 'Color', [1 0 0]);\n"
                "t_ = [3 5]; l_ = ['a' 10 'b']; st_ = 'r,g'; n_ = 'Size'; v_ = 12; g_ = struct('Color', [1 2]);\n"
                "c_ = 'Color'; cv_ = uint8([1 2 3]);\n"),
            kOk);
  const struct {
    const char* name;
    std::vector<const char*> inputs;
    int outs;
  } cases[] = {
      {"text", {"s_"}, 0},
      {"text", {"x_", "x_", "s_", "j_"}, 0},
      {"text", {"x_", "x_", "x_", "s_", "f_"}, 0},
      {"text", {"s_", "g_"}, 0},  // fails with 21 on a full room: its read-outs are dropped
      {"settabs", {"t_"}, 0},
      {"settabs", {"s_"}, 0},
      {"legend", {"l_", "st_"}, 0},
      {"fontset", {}, 1},
      {"fontset", {"n_", "v_"}, 1},
      {"fontset", {"f_", "n_", "v_"}, 1},
      {"fontset", {"n_", "s_"}, 1},  // fails with 43: the size is a text
      {"fontset", {"c_", "cv_", "n_", "v_"}, 1},
  };
  for (const auto& k : cases) {
    const BuiltinFn fn = engine_row(k.name);
    ASSERT_NE(fn, nullptr) << k.name;
    // fontset shares its function with other option setters: its row's data
    // word (the template) is passed here, not the first such row's.
    const uintptr_t data = std::strcmp(k.name, "fontset") == 0 ? reinterpret_cast<uintptr_t>(kFontOptions) : 0;
    auto push = [&] {
      for (const char* name : k.inputs) TN_TRY(push_variable(name));
      return int(kOk);
    };
    for (int nout : k.outs ? std::vector<int>{1} : std::vector<int>{0, -1}) {
      bool ok = false;
      auto call = [&] {
        return data ? fn(c(), int(k.inputs.size()), nout, data) : lib_call_builtin(c(), fn, int(k.inputs.size()), nout);
      };
      EXPECT_TRUE(sweep_rooms(c(), push, call, &ok)) << k.name << " " << k.inputs.size() << " " << nout;
    }
  }
}

}  // namespace
