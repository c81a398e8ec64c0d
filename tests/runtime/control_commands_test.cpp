// slider, pushbutton, button, popupmenu and textfield from ZVR code in an
// instance's drawing context: their records field by field, the argument
// errors that write nothing, the exact room of whole calls (sliders of 1 to
// 8 thumbs included) and the failure sweep.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/drawing_context.h"
#include "support/failure_sweep.h"

namespace {

using Doubles = std::vector<double>;
struct ControlCommands : DrawingCommands {};

// Header style bits follow the colour: 4 for red, 2 for green (the style
// letters' colour indexes), 0 without a style.
Doubles rec(double code, double id, double index, double colour, Doubles data) {
  const double bits = colour == pack_colour(255, 0, 0) ? 4 : colour == pack_colour(0, 255, 0) ? 2 : 0;
  Doubles r{code, id, index, bits, colour, double(data.size())};
  r.insert(r.end(), data.begin(), data.end());
  return r;
}
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
// A text field's texts: label, zero byte, the 16-byte value field.
Doubles field(const std::string& label, const std::string& value) {
  std::string t = label + '\0' + value;
  t.resize(label.size() + 1 + 16, '\0');
  return bytes(t);
}

TEST_F(ControlCommands, RecordsOfEachBuiltin) {
  const double red = pack_colour(255, 0, 0), green = pack_colour(0, 255, 0);
  struct Case {
    const char* code;
    Doubles want;
  };
  const Case cases[] = {
      // TAB-chained labels share a row: positions 0 and 2.
      {"slider(['a' 9 'b'], [1; 2], [0 10])",
       cat({rec(59, -1, 1, 0, cat({{0, 10, 0, 0, 0, 0, 0, 1, 1, 0, 1}, bytes("a")})),
            rec(59, -1, 2, 0, cat({{0, 10, 2, 0, 0, 0, 0, 1, 2, 0, 1}, bytes("b")}))})},
      {"slider(['a' 10 'b'], [1 2; 3 4], [0 10; 1 100], 'l', 'r,g', 7)",
       cat({rec(60, 7, 1, red, cat({{0, 10, -1, 0, 0, 0, 0, 2, 1, 2, red, green, 1}, bytes("a")})),
            rec(60, 7, 2, green, cat({{1, 100, -1, 0, 0, 0, 0, 2, 3, 4, red, green, 1}, bytes("b")}))})},
      {"slider('s', 5, [0 10], '')", rec(59, -1, 1, 0, cat({{0, 10, -1, 0, 0, 0, 0, 1, 5, 0, 1}, bytes("s")}))},
      {"slider('s', [], [0 10])", {}},
      {"pushbutton(['Go' 9 'Start' 9 'Stop'])", rec(61, -1, 1, 0, cat({{0, 0, 0, 0, 13}, bytes("Go\tStart\tStop")}))},
      {"pushbutton(['a' 10 'b'], 'r', 3)",
       cat({rec(61, 3, 1, red, cat({{0, 0, 0, 0, 1}, bytes("a")})), rec(61, 3, 2, red, cat({{0, 0, 0, 0, 1}, bytes("b")}))})},
      {"button(['a' 10 'b' 10 'c'], [5; 2], 'c')",
       cat({rec(62, -1, 1, 0, cat({{5, 0, 0, 0, 1}, bytes("a")})), rec(62, -1, 2, 0, cat({{2, 0, 0, 0, 1}, bytes("b")}))})},
      {"button('r1', 1, 'R')", rec(63, -1, 1, 0, cat({{1, 0, 0, 0, 2}, bytes("r1")}))},
      {"button(['a' 10 'b'], 1)",
       cat({rec(61, -1, 1, 0, cat({{0, 0, 0, 0, 1}, bytes("a")})), rec(61, -1, 2, 0, cat({{0, 0, 0, 0, 1}, bytes("b")}))})},
      {"popupmenu('menu', {'one', 'two'}, 2)",
       rec(64, -1, 1, 0, cat({{1, -1, 2, 4, 0, 0, 0, 0}, bytes("menu"), bytes(std::string("one\0two\0", 8))}))},
      {"textfield(['x' 10 'y'], '%.2f', [1 2])",
       cat({rec(65, -1, 1, 0, cat({{0, 0, 0, 0, -1, 0, 0}, field("x", "1.00")})),
            rec(65, -1, 2, 0, cat({{0, 0, 0, 0, -1, 0, 0}, field("y", "2.00")}))})},
      {"textfield('v', '', pi)", rec(65, -1, 1, 0, cat({{0, 0, 0, 0, -1, 0, 0}, field("v", "3.1416")}))},
      {"textfield('v', '%8.1E%G', [1234.5 0.5])",
       cat({rec(65, -1, 1, 0, cat({{0, 0, 0, 0, -1, 0, 0}, field("v", "   1.2E3")})),
            rec(65, -1, 2, 0, cat({{0, 0, 0, 0, -1, 0, 0}, field("", "0.5")}))})},
      // The value's field holds 15 bytes and its zero byte: a wider format
      // gives up its padding first, then the number is cut (it showed 15
      // blanks).
      {"textfield('v', '%30f', 1)", rec(65, -1, 1, 0, cat({{0, 0, 0, 0, -1, 0, 0}, field("v", "         1.0000")}))},
      {"textfield('v', '%20.3f', -2.5)",
       rec(65, -1, 1, 0, cat({{0, 0, 0, 0, -1, 0, 0}, field("v", "         -2.500")}))},
      {"textfield('v', '%40f', 123456789012345678)",
       rec(65, -1, 1, 0, cat({{0, 0, 0, 0, -1, 0, 0}, field("v", "123456789012345")}))},
      {"textfield('v', '%15.2f', 7)", rec(65, -1, 1, 0, cat({{0, 0, 0, 0, -1, 0, 0}, field("v", "           7.00")}))},
  };
  for (const Case& c : cases) {
    used() = 0;
    ASSERT_EQ(run(std::string(c.code) + ";\n"), kOk) << c.code;
    EXPECT_EQ(records(), c.want) << c.code;
  }
}

TEST_F(ControlCommands, ErrorsWriteNothing) {
  const std::pair<const char*, int> cases[] = {
      {"slider('a', 1, [0 1 2])", kBadSize},
      {"slider(['a' 10 'b'], [1; 2; 3], [0 1; 0 2])", kIncompatibleSize},
      {"slider(1, 1, [0 1])", kWrongType},
      {"pushbutton(5)", kWrongType},
      {"button('a', 1, 'x')", kUnknownOption},
      {"button('a', 1, 'cc')", kUnknownOption},
      {"button('a', [1 2 3], 'c')", kBadSize},
      {"popupmenu('m', {'a'}, 0)", kIndexOutOfRange},
      {"popupmenu('m', {'a'}, 2)", kIndexOutOfRange},
      {"popupmenu('m', {'a', 5}, 1)", kWrongType},
      {"popupmenu('m', 'a', 1)", kWrongType},
      {"popupmenu('m', {'a'}, 1.5)", kWrongType},
      {"textfield('v', 'x', 1)", kUnknownOption},
      {"textfield('v', '%q', 1)", kUnknownOption},
      {"textfield('v', '%.2fx', 1)", kUnknownOption},
      {"textfield('v', '%', 1)", kUnknownOption},
      // Values are a real array: a complex one lost its imaginary parts.
      {"textfield('v', '', [1 2i])", kWrongType},
  };
  for (auto [code, status] : cases) {
    used() = 0;
    EXPECT_EQ(run(std::string(code) + ";\n"), status) << code;
    EXPECT_EQ(used(), 0) << code;
  }
}

TEST_F(ControlCommands, WithoutACurrentSubplotNothingIsWritten) {
  host.block->h.build.subplot = -1;
  for (const char* code : {"slider('a', 1, [0 1]);\n", "pushbutton('a');\n", "button('a', 1);\n",
                           "popupmenu('m', {'a'}, 1);\n", "textfield('a', '', 1);\n"})
    EXPECT_EQ(run(code), kBadContext) << code;
  EXPECT_EQ(used(), 0);
}

// A whole call fits at exactly its room; one double less writes nothing.
TEST_F(ControlCommands, ExactRoomAndOneLess) {
  std::vector<std::string> codes = {
      "pushbutton(['a' 10 'b' 10 'c'])", "button(['a' 10 'b'], [5; 2], 'c')",
      "popupmenu('menu', {'one', 'two', 'three'}, 3)", "textfield(['x' 9 'y'], '%.2f', [1 2])",
  };
  for (int t = 1; t <= 8; ++t)  // sliders of 1 to 8 thumbs, with a long label
    codes.push_back("slider(['first slider' 10 'second'], ones(2, " + std::to_string(t) + "), [0 2])");
  for (const std::string& code : codes)
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
      ASSERT_EQ(run(code + ";\n"), kOk) << code;
      const int32_t need = used();
      const Doubles want = list();
      for (int32_t less : {0, 1}) {
        ASSERT_NO_FATAL_FAILURE(start());
        host.block->h.build.capacity = need - less;
        const int status = run(code + ";\n");
        if (less == 0) {
          EXPECT_EQ(status, kOk) << code;
          EXPECT_EQ(list(), want) << code;
        } else {
          EXPECT_EQ(status, kPlotOverflow) << code;
          EXPECT_EQ(used(), base) << code;
        }
      }
    }
}

TEST_F(ControlCommands, EveryBuiltinPassesTheFailureSweep) {
  ASSERT_EQ(run("l_ = ['a' 9 'b']; v_ = [1 2; 3 4]; r_ = [0 10]; k_ = 'l'; s_ = 'r,g'; i_ = 4;\n"
                "c_ = [5; 2]; b_ = 'c'; m_ = {'one', 'two'}; n_ = 2; f_ = '%.2f'; e_ = [1 2];\n"),
            kOk);
  const struct {
    const char* name;
    std::vector<const char*> inputs;
  } cases[] = {
      {"slider", {"l_", "v_", "r_", "k_", "s_", "i_"}}, {"slider", {"l_", "v_", "r_"}},
      {"pushbutton", {"l_", "s_", "i_"}},               {"button", {"l_", "c_", "b_", "s_", "i_"}},
      {"popupmenu", {"l_", "m_", "n_", "s_", "i_"}},    {"textfield", {"l_", "f_", "e_", "s_", "i_"}},
  };
  for (const auto& k : cases)
    for (int nout : {0, -1})
      EXPECT_TRUE(sweep_call(k.name, k.inputs, nout)) << k.name << " " << k.inputs.size() << " " << nout;
}

}  // namespace
