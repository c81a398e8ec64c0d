// Display of values: about seventy named values of every class under each
// display format compared byte for byte with golden texts, a 5,000-element row
// through a small scratch area, loose layout, the imaginary unit, `format`
// keywords and errors, objects, charset output, aborts and write failures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/containers.h"
#include "engine/core/frames.h"
#include "engine/core/stack_ops.h"
#include "engine/core/streams.h"
#include "engine/core/strings.h"
#include "engine/core/symbols.h"
#include "engine/lib/builtin_tables.h"
#include "engine/lib/display.h"
#include "support/engine_block.h"
#include "support/typed_values.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int32_t kWidgetClassWord = 3;  // library class of the test table (id 6 + 3)
constexpr uint32_t kWidgetClassId = kPayFirstClass + kWidgetClassWord;
constexpr uint32_t kUnknownClassId = kPayFirstClass + 127;

// What the console hooks saw.
struct Console {
  std::string text;
  int writes = 0;
  int buffering = 0;  // on minus off
  int fail_with = 0;  // a write status to return instead of success
};
Console g_console;

int console_write(EngineContext*, int32_t fd, const char* bytes, int32_t length, uintptr_t) {
  if (fd != kFdStdout) return kNotMyDescriptor;
  if (g_console.fail_with) return g_console.fail_with;
  g_console.text.append(bytes, size_t(length));
  ++g_console.writes;
  return kOk;
}
int console_buffering(EngineContext*, int32_t fd, int32_t on, uintptr_t) {
  if (fd != kFdStdout) return kNotMyDescriptor;
  g_console.buffering += on ? 1 : -1;
  return kOk;
}

BuiltinEntry g_console_table[] = {
    stream_hook_row(kHookWrite, console_write, kNewlineLF),
    stream_hook_row(kHookBuffering, console_buffering, 0),
    builtin_row("widget", 0, 0, 1, 1, 0, kWidgetClassWord),
    builtin_end_row(),
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The first differing line, for a readable failure.
::testing::AssertionResult same_text(const std::string& want, const std::string& got) {
  if (want == got) return ::testing::AssertionSuccess();
  std::istringstream a(want), b(got);
  std::string la, lb;
  for (int line = 1;; ++line) {
    const bool ha = bool(std::getline(a, la)), hb = bool(std::getline(b, lb));
    if (!ha && !hb) return ::testing::AssertionFailure() << "texts differ in their last line end";
    if (la != lb || ha != hb)
      return ::testing::AssertionFailure() << "line " << line << ": want [" << (ha ? la : "<end>")
                                           << "] got [" << (hb ? lb : "<end>") << "]";
  }
}

class Display : public ::testing::Test {
 protected:
  EngineBlock block = EngineBlock::make(1u << 21);
  EngineContext* c = block.ctx();

  void SetUp() override {
    g_console = Console{};
    ASSERT_EQ(engine_register_builtin_table(c, g_console_table, 1), kOk);
    base_ = stk_item_count(c);
  }
  void TearDown() override { EXPECT_EQ(g_console.buffering, 0); }

  int base_ = 0;  // the base frame's descriptor words count as items
  int items() const { return stk_item_count(c) - base_; }

  std::string take() { return std::exchange(g_console.text, std::string()); }

  // Shows the top item under a name; the item is popped.
  std::string named(const char* name, bool skip_object_check = true) {
    EXPECT_EQ(display_named(c, name, -1, skip_object_check, true), kOk) << name;
    return take();
  }
  void format(std::initializer_list<const char*> words) {
    for (const char* w : words) ASSERT_EQ(stk_push_cstr(c, -1, w), kOk);
    ASSERT_EQ(bi_format(c, int(words.size())), kOk);
  }

  // --- Builders -------------------------------------------------------------
  void typed_double(int32_t rows, int32_t cols, std::vector<double> v) {
    void* p;
    constexpr uint32_t kHeader = 16;
    ASSERT_EQ(stk_push_raw(c, kPayNumeric, kHeader + 8 * uint32_t(v.size()), &p), kOk);
    auto* b = static_cast<uint8_t*>(p);
    tn::st_u32(b, kElemDouble);
    tn::st_u32(b + 4, 2);
    tn::st_u32(b + 8, uint32_t(rows));
    tn::st_u32(b + 12, uint32_t(cols));
    std::memcpy(b + kHeader, v.data(), 8 * v.size());
  }
  void chars(int32_t rows, int32_t cols, int32_t pages, const std::u16string& s) {
    uint16_t* d;
    const int32_t dims[] = {rows, cols, pages};
    ASSERT_EQ(stk_push_char_array(c, pages > 1 ? 3 : 2, dims, &d), kOk);
    std::copy(s.begin(), s.end(), d);
  }
  void logicals(int32_t rows, int32_t cols, std::vector<uint8_t> v) {
    uint8_t* d;
    const int32_t dims[] = {rows, cols};
    ASSERT_EQ(stk_push_logical_array(c, 2, dims, &d), kOk);
    std::copy(v.begin(), v.end(), d);
  }
  void raw(uint32_t subtype, std::vector<uint8_t> bytes) {
    void* p;
    ASSERT_EQ(stk_push_raw(c, subtype, uint32_t(bytes.size()), &p), kOk);
    std::memcpy(p, bytes.data(), bytes.size());
  }
  void funcref(const std::string& name) {
    std::vector<uint8_t> b = {uint8_t(name.size()), 0, 0, 0};
    b.insert(b.end(), name.begin(), name.end());
    b.push_back(0);
    raw(kPayFuncRef, b);
  }
  void list(int n) { ASSERT_EQ(stk_make_container(c, n, 0, nullptr, 0), kOk); }
  // Packs the top item as a field of a new structure, or of the one below.
  void field(const char* name, bool append) {
    ASSERT_EQ(stk_make_container(c, 1, append ? 1 : 0, name, int32_t(std::strlen(name))), kOk);
  }
  void make_object(const char* cls) {
    int32_t sym = 0;
    ASSERT_EQ(symtab_intern(c, cls, int32_t(std::strlen(cls)), kIdentifierLimit, &sym), kOk);
    desc_at(c, 0)[2] = uint32_t(sym);
  }
  void point() {
    tv::push_scalar(c, 1);
    field("x", false);
    tv::push_scalar(c, 2.5);
    field("y", true);
    make_object("point");
  }

  using Builder = std::function<void()>;
  // The values of the golden texts, in their order.
  std::vector<std::pair<const char*, Builder>> golden_values() {
    using tv::push_ints;
    using tv::push_row;
    using tv::push_scalar;
    auto S = [this](double x) { return [this, x] { tv::push_scalar(c, x); }; };
    auto single = [this](std::vector<int32_t> dims, std::vector<float> re, std::vector<float> im = {}) {
      return [=, this] { tv::push_single(c, dims, re, im); };
    };
    auto ints = [this](uint32_t type, std::vector<int32_t> dims, std::vector<int64_t> v) {
      return [=, this] { tv::push_ints(c, type, dims, v); };
    };
    std::vector<std::pair<const char*, Builder>> v = {
        {"a", S(3)}, {"b", S(-7)}, {"c", S(0)}, {"nz", S(-0.0)}, {"d", S(1.5)}, {"e", S(-0.25)},
        {"p", S(M_PI)}, {"third", S(1.0 / 3)}, {"big", S(123456.789)}, {"w7", S(9999999)},
        {"w8", S(12345678)}, {"tiny", S(1e-5)}, {"huge", S(2.5e9)}, {"inf", S(kInf)},
        {"ninf", S(-kInf)}, {"nan", S(kNaN)},
        {"row", [this] { push_row(c, {1, 2, 3}); }},
        {"mixed", [this] { push_row(c, {1, 2.5, -3}); }},
        {"mat", [this] { tv::push_double(c, {2, 2}, {1, 2, 3, 4}); }},
        {"nonfin", [this] { push_row(c, {1, kNaN, -kInf}); }},
        {"spread", [this] { push_row(c, {0.001, 1000}); }},
        {"col", [this] { tv::push_double(c, {2, 1}, {0.5, -2}); }},
        {"empty", [this] { stk_push_empty(c); }},
        {"td2", [this] { typed_double(1, 2, {1, 2.5}); }},
        {"td1", [this] { typed_double(1, 1, {4}); }},
        {"z", [this] { tv::push_cscalar(c, 3, 4); }},
        {"zf", [this] { tv::push_cscalar(c, 1.5, -2.25); }},
        {"zrow", [this] { push_row(c, {1, 3, 0}, {2, 0, -4}); }},
        {"i8", ints(kElemI8, {1, 1}, {5})},
        {"i8r", ints(kElemI8, {1, 3}, {-128, 0, 127})},
        {"u8r", ints(kElemU8, {1, 2}, {0, 255})},
        {"i16", ints(kElemI16, {1, 1}, {-300})},
        {"u16m", ints(kElemU16, {2, 2}, {1, 2, 300, 65535})},
        {"i32r", ints(kElemI32, {1, 2}, {-2147483648LL, 7})},
        {"u32", ints(kElemU32, {1, 1}, {4294967295LL})},
        {"i64", ints(kElemI64, {1, 1}, {std::numeric_limits<int64_t>::min()})},
        {"u64", ints(kElemU64, {1, 1}, {-1})},
        {"i8e", ints(kElemI8, {0, 0}, {})},
        {"s", single({1, 1}, {2.5f})},
        {"sr", single({1, 3}, {1, 2, 3})},
        {"sf", single({1, 2}, {0.1f, -1.25f})},
        {"sz", single({1, 1}, {1}, {2})},
        {"t", [this] { stk_push_logical_scalar(c, 1); }},
        {"f", [this] { stk_push_logical_scalar(c, 0); }},
        {"lr", [this] { logicals(1, 3, {1, 0, 1}); }},
        {"lm", [this] { logicals(2, 2, {1, 0, 0, 1}); }},
        {"le", [this] { logicals(0, 0, {}); }},
        {"str", [this] { chars(1, 5, 1, u"hello"); }},
        {"cm", [this] { chars(2, 3, 1, u"abcdef"); }},
        {"ce", [this] { chars(0, 0, 1, u""); }},
        {"nl", [this] { chars(1, 3, 1, u"a\nb"); }},
        {"nd", [this] { tv::push_double(c, {2, 2, 2}, {1, 2, 3, 4, 0.5, 6, 7, 8}); }},
        {"ndi", ints(kElemI8, {1, 2, 2}, {1, -2, 3, 4})},
        {"nd4", [this] { tv::push_double(c, {1, 1, 1, 2}, {1, 2}); }},
        {"ndc", [this] { chars(1, 2, 2, u"abcd"); }},
        {"lst", [this] { push_scalar(c, 1); chars(1, 2, 1, u"ab"); stk_push_empty(c); list(3); }},
        {"lst0", [this] { list(0); }},
        {"st", [this] { struct_of_every_summary(); }},
        {"st0", [this] { ASSERT_EQ(stk_make_container(c, 0, 0, "x", 1), kOk); }},
        {"cl", [this] { const int32_t dims[] = {2, 3}; ASSERT_EQ(stk_push_cell_array(c, 2, dims), kOk); }},
        {"cl0", [this] { const int32_t dims[] = {0, 0}; ASSERT_EQ(stk_push_cell_array(c, 2, dims), kOk); }},
        {"cl1", [this] { const int32_t dims[] = {1, 1}; ASSERT_EQ(stk_push_cell_array(c, 2, dims), kOk); }},
        {"fh", [this] { funcref("sin"); }},
        {"ig", [this] { raw(kPayInline, {0, 0, 0, 0, 0, 0, 0, 0}); }},
        {"obj", [this] { point(); }},
    };
    return v;
  }

  void struct_of_every_summary() {
    const std::vector<std::pair<const char*, Builder>> fields = {
        {"n", [this] { tv::push_scalar(c, 2.5); }},
        {"w", [this] { tv::push_scalar(c, -3); }},
        {"zero", [this] { tv::push_scalar(c, 0); }},
        {"z", [this] { tv::push_cscalar(c, 1, 2); }},
        {"big", [this] { tv::push_scalar(c, 1e10); }},
        {"m", [this] { tv::push_row(c, {1, 2, 3}); }},
        {"zm", [this] { tv::push_row(c, {1, 3}, {2, 0}); }},
        {"e", [this] { stk_push_empty(c); }},
        {"s", [this] { chars(1, 2, 1, u"ab"); }},
        {"s0", [this] { chars(0, 0, 1, u""); }},
        {"longs", [this] { chars(1, 26, 1, u"abcdefghijklmnopqrstuvwxyz"); }},
        {"cm", [this] { chars(2, 2, 1, u"abcd"); }},
        {"t", [this] { stk_push_logical_scalar(c, 1); }},
        {"lv", [this] { logicals(1, 2, {1, 0}); }},
        {"i", [this] { tv::push_ints(c, kElemI8, {1, 1}, {-5}); }},
        {"u", [this] { tv::push_ints(c, kElemU16, {1, 1}, {300}); }},
        {"ir", [this] { tv::push_ints(c, kElemI32, {1, 2}, {1, 2}); }},
        {"sg", [this] { tv::push_single(c, {1, 1}, {2.5f}); }},
        {"sc", [this] { tv::push_single(c, {1, 1}, {1}, {2}); }},
        {"sr", [this] { tv::push_single(c, {1, 2}, {1, 2}); }},
        {"nd", [this] { tv::push_double(c, {2, 2, 2}, {1, 2, 3, 4, 5, 6, 7, 8}); }},
        {"td", [this] { typed_double(1, 1, {4}); }},
        {"l0", [this] { list(0); }},
        {"l1", [this] { tv::push_scalar(c, 1); list(1); }},
        {"s1", [this] { tv::push_scalar(c, 1); field("a", false); }},
        {"c", [this] { const int32_t dims[] = {1, 1}; ASSERT_EQ(stk_push_cell_array(c, 2, dims), kOk); }},
        {"fh", [this] { funcref("sin"); }},
        {"g", [this] { raw(kPayInline, {0, 0, 0, 0, 0, 0, 0, 0}); }},
        {"o", [this] { point(); }},
        {"lib", [this] { raw(kWidgetClassId, {1, 2, 3, 4, 5, 6, 7, 8}); }},
        {"unk", [this] { raw(kUnknownClassId, {1, 2, 3, 4, 5, 6, 7, 8}); }},
        {"inf", [this] { tv::push_scalar(c, kInf); }},
        {"nan", [this] { tv::push_scalar(c, kNaN); }},
    };
    bool first = true;
    for (const auto& [name, build] : fields) {
      build();
      field(name, !first);
      first = false;
    }
  }

  std::string show_all() {
    std::string all;
    for (const auto& [name, build] : golden_values()) {
      build();
      all += named(name);
    }
    return all;
  }
};

struct GoldenFormat {
  const char* file;
  std::vector<const char*> words;  // format arguments; none for the initial settings
};

TEST_F(Display, GoldenTextsUnderEveryFormat) {
  const GoldenFormat formats[] = {
      {"initial", {}},          {"short", {"short"}},     {"long", {"long"}},
      {"short_e", {"short", "e"}}, {"long_e", {"long", "e"}}, {"long_g", {"long", "g"}},
      {"bank", {"bank"}},       {"sign", {"+"}},
  };
  for (const GoldenFormat& f : formats) {
    SCOPED_TRACE(f.file);
    EngineBlock fresh = EngineBlock::make(1u << 21);
    c = fresh.ctx();
    g_console = Console{};
    ASSERT_EQ(engine_register_builtin_table(c, g_console_table, 1), kOk);
    for (const char* w : f.words) ASSERT_EQ(stk_push_cstr(c, -1, w), kOk);
    if (!f.words.empty()) {
      ASSERT_EQ(bi_format(c, int(f.words.size())), kOk);
    }
    const int items = stk_item_count(c);
    const std::string want = read_file(std::string(TN_LIB_GOLDEN) + "/display_" + f.file + ".txt");
    ASSERT_FALSE(want.empty());
    EXPECT_TRUE(same_text(want, show_all()));
    EXPECT_EQ(stk_item_count(c), items);
  }
}

// One line however long: 5,000 fields, through the whole free data stack and
// through scratch areas only a few fields wide (written out chunk by chunk).
TEST_F(Display, LongRowIsOneLineWhateverTheScratchArea) {
  constexpr int kN = 5000;
  std::vector<double> whole(kN), quarters(kN);
  std::string want_whole = "r =\n", want_quarters = "q =\n";
  const char* fractions[] = {"", ".25", ".5", ".75"};
  for (int k = 1; k <= kN; ++k) {
    whole[k - 1] = k;
    quarters[k - 1] = k / 4.0;
    std::string w = std::to_string(k), q = std::to_string(k / 4) + fractions[k % 4];
    want_whole += " " + std::string(5 - std::min<size_t>(5, w.size()), ' ') + w;
    want_quarters += " " + std::string(9 - q.size(), ' ') + q;
  }
  want_whole += "\n";
  want_quarters += "\n";
  // Free data words left above the row: all of them, a small area, and less
  // than the smallest scratch area (a buffer of the display's own then).
  for (int64_t spare : {int64_t(-1), int64_t(100), int64_t(20)}) {
    SCOPED_TRACE(spare);
    for (int which = 0; which < 2; ++which) {
      const std::vector<double>& v = which ? quarters : whole;
      if (spare >= 0) {
        const int64_t filler = data_free_words(c) - int64_t(v.size()) - spare;
        ASSERT_EQ(stk_push_zeros(c, 1, int32_t(filler), 0), kOk);
      }
      tv::push_row(c, v);
      g_console.writes = 0;
      EXPECT_EQ(named(which ? "q" : "r"), which ? want_quarters : want_whole);
      if (spare >= 0) {
        EXPECT_GT(g_console.writes, 2);
        stk_drop(c);
      }
    }
  }
}

TEST_F(Display, WholeNumberBoundAndPagesAreJudgedAlone) {
  tv::push_row(c, {10000000, 1});
  EXPECT_EQ(named("x"), "x =\n  10000000         1\n");
  tv::push_row(c, {9999999, -9999999});
  EXPECT_EQ(named("x"), "x =\n 9999999 -9999999\n");
  tv::push_row(c, {0.5, 2});  // floor(x + 0.5) == x is the test, not rounding
  EXPECT_EQ(named("x"), "x =\n       0.5         2\n");
}

TEST_F(Display, LooseLayoutAddsBlankLinesAroundValuesAndBetweenPages) {
  format({"loose"});
  tv::push_scalar(c, 3);
  EXPECT_EQ(named("x"), "\nx =\n\n     3\n\n");
  tv::push_double(c, {1, 1, 2}, {1, 2});
  EXPECT_EQ(named("y"), "\ny =\n\n1x1x2 array\n(:,:,1) =\n     1\n\n(:,:,2) =\n     2\n\n");
  tv::push_scalar(c, 4);
  ASSERT_EQ(op_disp(c), kOk);
  EXPECT_EQ(take(), "\n     4\n\n");
  format({"compact"});
  tv::push_scalar(c, 4);
  ASSERT_EQ(op_disp(c), kOk);
  EXPECT_EQ(take(), "     4\n");
}

TEST_F(Display, ImaginaryUnitFollowsFormat) {
  format({"i"});
  tv::push_cscalar(c, 1, -2);
  EXPECT_EQ(named("z"), "z =\n   1 -  2i\n");
  tv::push_cscalar(c, 1, 2);
  field("f", false);
  EXPECT_EQ(named("s"), "s =\nf: 1+2i\n");
  format({"j"});
  tv::push_cscalar(c, 1, 2);
  EXPECT_EQ(named("z"), "z =\n   1 +  2j\n");
}

TEST_F(Display, FormatKeywordsAndErrors) {
  struct Case {
    std::vector<const char*> words;
    int status;
    char letter;
    int32_t digits;
    char unit;
    uint8_t loose;
  };
  const Case cases[] = {
      {{}, kOk, 'f', 4, 'j', 0},           {{"long"}, kOk, 'f', 15, 'j', 0},
      {{"bank"}, kOk, 'F', 2, 'j', 0},      {{"+"}, kOk, '+', 4, 'j', 0},
      {{"short"}, kOk, 'f', 4, 'j', 0},     {{"long", "e"}, kOk, 'e', 15, 'j', 0},
      {{"bank", "g"}, kOk, 'g', 2, 'j', 0}, {{"+", "e"}, kOk, '+', 4, 'j', 0},
      {{"loose"}, kOk, 'g', 4, 'j', 1},     {{"i"}, kOk, 'g', 4, 'i', 0},
      {{"Long"}, kUnknownOption, 'g', 4, 'j', 0},
      {{"compact", "x"}, kUnknownOption, 'g', 4, 'j', 0},
      {{"compact", "e"}, kUnknownOption, 'g', 4, 'j', 0},
      {{"long", "ee"}, kUnknownOption, 'g', 4, 'j', 0},
      {{"short", "f"}, kUnknownOption, 'g', 4, 'j', 0},
      {{"averyveryverylongkeyword"}, kUnknownOption, 'g', 4, 'j', 0},
  };
  const int base = stk_item_count(c);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.words.empty() ? "(none)" : k.words[0]);
    display_set_options(c, 'g', 4, 'j', 0, 24, false);
    for (const char* w : k.words) ASSERT_EQ(stk_push_cstr(c, -1, w), kOk);
    EXPECT_EQ(bi_format(c, int(k.words.size())), k.status);
    DisplayOptions o = display_options(c);
    EXPECT_EQ(o.letter, k.letter);
    EXPECT_EQ(o.digits, k.digits);
    EXPECT_EQ(o.unit, k.unit);
    EXPECT_EQ(o.loose, k.loose);
    EXPECT_EQ(stk_item_count(c) - base, k.status == kOk ? 0 : int(k.words.size()))
        << "arguments removed on success";
    while (stk_item_count(c) > base) stk_drop(c);
  }
  tv::push_scalar(c, 3);
  EXPECT_EQ(bi_format(c, 1), kWrongArgType);
}

TEST_F(Display, ObjectsAreLeftToTheirClassMethods) {
  point();
  EXPECT_EQ(display_named(c, "o", -1, false, true), kWrongArgType);
  EXPECT_EQ(take(), "o =\n");
  EXPECT_EQ(items(), 1);
  EXPECT_EQ(op_disp(c), kWrongArgType);
  EXPECT_EQ(take(), "");
  EXPECT_EQ(bi_disp(c, kFdStdout, true), kOk);  // the built-in display as a fallback
  EXPECT_EQ(take(), " point object\nx: 1\ny: 2.5\n");
  raw(kWidgetClassId, {1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(bi_disp(c, kFdStdout, true), kWrongArgType);
  EXPECT_EQ(items(), 1);
  EXPECT_EQ(take(), "");
  stk_drop(c);
  ASSERT_EQ(stk_push_no_value(c), kOk);
  EXPECT_EQ(bi_disp(c, kFdStdout, true), kOk);
  EXPECT_EQ(items(), 0);
  EXPECT_EQ(take(), "");
}

TEST_F(Display, HeaderNamesFromTheWorkspaceAndTheirCut) {
  tv::push_scalar(c, 1);
  EXPECT_EQ(op_display_name(c, 0, true, true), kOk);
  EXPECT_EQ(take(), "ans =\n     1\n");
  tv::push_scalar(c, 1);
  EXPECT_EQ(op_display_name(c, 5, true, false), kOk);  // a slot without a name
  EXPECT_EQ(take(), "??? =\n     1\n");
  EXPECT_EQ(items(), 1) << "kept without pop";
  const std::string n34(34, 'v'), n40(40, 'w');
  EXPECT_EQ(display_named(c, n34.c_str(), -1, true, false), kOk);
  EXPECT_EQ(take(), n34 + " \n     1\n");
  EXPECT_EQ(display_named(c, n40.c_str(), -1, true, true), kOk);
  EXPECT_EQ(take(), std::string(35, 'w') + "\n     1\n");
}

TEST_F(Display, SizeAndClassTexts) {
  struct Case {
    int32_t type;
    bool is_unsigned, logical, is_char;
    std::vector<uint32_t> dims;
    const char* want;
  };
  const Case cases[] = {
      {1, true, false, false, {2, 3}, "2x3 uint8 array"},
      {kSizeClassCell, false, false, false, {1, 1}, "1x1 cell array"},
      {2, false, false, false, {1, 1}, "int16 number"},
      {1, true, true, false, {1, 1}, "logical value"},
      {kSizeClassDouble, false, false, false, {2, 2, 3}, "2x2x3 array"},
      {kSizeClassSingle, false, false, false, {1, 1}, "single number"},
      {2, true, false, true, {3, 1}, "3x1 char array"},
      {8, false, false, false, {1, 4}, "1x4 int64 array"},
      {3, false, false, false, {1, 2}, "1x2 ??? array"},
  };
  for (const Case& k : cases) {
    char buf[64];
    int32_t pos = 0;
    disp_size_class_text(buf, sizeof buf, &pos, k.type, k.is_unsigned, k.logical, k.is_char,
                         int32_t(k.dims.size()), k.dims.data());
    EXPECT_EQ(std::string(buf, size_t(pos)), k.want);
  }
  char buf[32];
  int32_t pos = 13;  // 19 bytes left: nothing
  const uint32_t dims[] = {2, 3};
  disp_size_class_text(buf, sizeof buf, &pos, 0, false, false, false, 2, dims);
  EXPECT_EQ(pos, 13);
  const uint32_t many[] = {100000, 200000, 300000, 400000};
  pos = 0;
  char small[24];
  disp_size_class_text(small, sizeof small, &pos, 0, false, false, false, 4, many);
  // 4 bytes left before the last size: the list stops, and the appender
  // keeps the buffer's last byte free.
  EXPECT_EQ(std::string(small, size_t(pos)), "100000x200000x300000x..");
}

TEST_F(Display, CharactersBeyondAsciiGoThroughTheCharset) {
  chars(1, 3, 1, u"a\u00e9\u20ac");
  ASSERT_EQ(op_disp(c), kOk);
  EXPECT_EQ(take(), "a\xe9\xac\n") << "low bytes without a charset";
  engine_set_charset(c, 'u');
  chars(1, 3, 1, u"a\u00e9\u20ac");
  ASSERT_EQ(op_disp(c), kOk);
  EXPECT_EQ(take(), "a\xc3\xa9\xe2\x82\xac\n");
  chars(1, 1, 1, u"\u00e9");
  list(1);
  ASSERT_EQ(op_disp(c), kOk);
  EXPECT_EQ(take(), " {'\xc3\xa9'}\n");
}

int g_abort_after = 0;
uint8_t abort_soon(void*) { return --g_abort_after < 0; }

TEST_F(Display, AbortStopsBetweenLinesAndWriteFailuresArePassedOn) {
  tv::push_double(c, {3, 1}, {1, 2, 3});
  g_abort_after = 1;
  engine_set_option_pair(c, abort_soon, nullptr);
  EXPECT_EQ(bi_disp(c, kFdStdout, true), kAborted);
  EXPECT_EQ(take(), "     1\n     2\n");
  EXPECT_EQ(items(), 1);
  engine_set_option_pair(c, nullptr, nullptr);
  g_console.fail_with = kIllegalError;
  EXPECT_EQ(bi_disp(c, kFdStdout, true), kIllegalError);
  EXPECT_EQ(display_named(c, "x", 1, true, true), kIllegalError);
  g_console.fail_with = 0;
  EXPECT_EQ(items(), 1);
}

TEST_F(Display, TinyDataStackShowsContainersByKindOnly) {
  tv::push_scalar(c, 1);
  list(1);
  const int64_t filler = data_free_words(c) - 12;  // 96 bytes left
  ASSERT_EQ(stk_push_zeros(c, 1, int32_t(filler), 0), kOk);
  ASSERT_EQ(stk_move(c, 2, 1), kOk);
  ASSERT_EQ(op_disp(c), kOk);
  EXPECT_EQ(take(), " list\n");
  tv::push_scalar(c, 7);
  ASSERT_EQ(op_disp(c), kOk);
  EXPECT_EQ(take(), "     7\n") << "arrays still shown in a buffer of the display's own";
}

}  // namespace
