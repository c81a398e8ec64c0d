// Conversions between classes: a table of awkward doubles converted to every
// class (values worked out by hand from the truncate-and-wrap rule), other
// source classes, cast and typecast, the char constructors, intmax, intmin
// and map2int through their table rows, and the stacks after every error.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/core/containers.h"
#include "engine/core/opcodes.h"
#include "engine/lib/builtin_tables.h"
#include "engine/lib/classes_convert.h"
#include "support/started_engine.h"
#include "support/typed_values.h"

namespace {

using V = std::vector<double>;
using I = std::vector<int64_t>;
using Dims = std::vector<uint32_t>;
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kTwo31 = 2147483648.0;
constexpr double kTwo63 = 9223372036854775808.0;

// One double and what each class makes of it.
struct ConvRow {
  double x;
  int8_t i8;
  int16_t i16;
  int32_t i32;
  int64_t i64;
  uint8_t u8;
  uint16_t u16;
  uint32_t u32;
  uint64_t u64;
  float single;
  uint16_t ch;
  uint8_t logical;
};

// NaN, the infinities and magnitudes from 2^63 take the 64-bit pattern
// 0x8000000000000000 before the low bits are kept; uint64 takes [2^63, 2^64)
// directly. NaN is the one value that is not true.
const ConvRow kConvTable[] = {
    {0.5, 0, 0, 0, 0, 0, 0, 0, 0, 0.5f, 0, 1},
    {-0.5, 0, 0, 0, 0, 0, 0, 0, 0, -0.5f, 0, 1},
    {2.7, 2, 2, 2, 2, 2, 2, 2, 2, 2.7f, 2, 1},
    {-2.7, -2, -2, -2, -2, 254, 65534, 4294967294u, 18446744073709551614u, -2.7f, 65534, 1},
    {200, -56, 200, 200, 200, 200, 200, 200, 200, 200.0f, 200, 1},
    {256, 0, 256, 256, 256, 0, 256, 256, 256, 256.0f, 256, 1},
    {-1, -1, -1, -1, -1, 255, 65535, 4294967295u, 18446744073709551615u, -1.0f, 65535, 1},
    {40000, 64, -25536, 40000, 40000, 64, 40000, 40000, 40000, 40000.0f, 40000, 1},
    {kTwo31, 0, 0, INT32_MIN, 2147483648, 0, 0, 2147483648u, 2147483648u, 2147483648.0f, 0, 1},
    {-kTwo31, 0, 0, INT32_MIN, -2147483648, 0, 0, 2147483648u, 18446744071562067968u, -2147483648.0f, 0, 1},
    {kTwo63, 0, 0, 0, INT64_MIN, 0, 0, 0, 9223372036854775808u, 9223372036854775808.0f, 0, 1},
    {-kTwo63, 0, 0, 0, INT64_MIN, 0, 0, 0, 9223372036854775808u, -9223372036854775808.0f, 0, 1},
    {1e19, 0, 0, 0, INT64_MIN, 0, 0, 0, 10000000000000000000u, 1e19f, 0, 1},
    {kNaN, 0, 0, 0, INT64_MIN, 0, 0, 0, 9223372036854775808u, NAN, 0, 0},
    {kInf, 0, 0, 0, INT64_MIN, 0, 0, 0, 9223372036854775808u, INFINITY, 0, 1},
    {-kInf, 0, 0, 0, INT64_MIN, 0, 0, 0, 9223372036854775808u, -INFINITY, 0, 1},
};

struct IntClass {
  const char* name;
  uint32_t opcode;
  int64_t (*expect)(const ConvRow&);
};
const IntClass kIntClasses[] = {
    {"int8", kOpInt8, [](const ConvRow& r) -> int64_t { return r.i8; }},
    {"int16", kOpInt16, [](const ConvRow& r) -> int64_t { return r.i16; }},
    {"int32", kOpInt32, [](const ConvRow& r) -> int64_t { return r.i32; }},
    {"int64", kOpInt64, [](const ConvRow& r) -> int64_t { return r.i64; }},
    {"uint8", kOpUint8, [](const ConvRow& r) -> int64_t { return r.u8; }},
    {"uint16", kOpUint16, [](const ConvRow& r) -> int64_t { return r.u16; }},
    {"uint32", kOpUint32, [](const ConvRow& r) -> int64_t { return r.u32; }},
    {"uint64", kOpUint64, [](const ConvRow& r) -> int64_t { return static_cast<int64_t>(r.u64); }},
};

class Classes : public StartedEngineClearing {
 protected:
  V table_values() const {
    V x;
    for (const ConvRow& r : kConvTable) x.push_back(r.x);
    return x;
  }
  // Runs fn on the items pushed by push (a neighbour below them stays) and
  // expects one result in their place.
  template <class Push, class Fn>
  tv::Value result(Push push, Fn fn) {
    tv::push_scalar(c, 99);
    push();
    EXPECT_EQ(fn(), kOk);
    EXPECT_EQ(e.items(), 2);
    EXPECT_TRUE(e.invariants());
    tv::Value v = tv::read(c);
    stk_drop(c);
    EXPECT_EQ(tv::read(c).re, V{99});
    stk_drop(c);
    return v;
  }
  // Expects status with the stacks as they were, then clears them.
  template <class Push, class Fn>
  void refused(int status, Push push, Fn fn) {
    push();
    const StackSnapshot before = snapshot_stacks(c);
    EXPECT_EQ(fn(), status);
    EXPECT_TRUE(snapshot_stacks(c) == before);
    e.clear();
  }
  // The built-in table row of that name, called as the interpreter calls it.
  int call_row(const char* name, int nargin) {
    for (const BuiltinEntry* r = g_builtin_table_engine; r->name[0]; ++r)
      if (std::strcmp(r->name, name) == 0) return r->fn(c, nargin, 1, r->data);
    ADD_FAILURE() << "no row " << name;
    return -1;
  }
  void push_name(const char* s) {
    std::u16string u(s, s + std::strlen(s));
    tv::push_chars(c, u);
  }
  // cast or typecast of the value push makes to the class name.
  template <class Push>
  tv::Value cast_of(Push push, const char* name, int mode = kCastValues) {
    return result([&] { push(), push_name(name); }, [&] { return bi_cast(c, mode); });
  }
  template <class Push>
  void cast_refused(int status, Push push, const char* name, int mode = kCastValues) {
    refused(status, [&] { push(), push_name(name); }, [&] { return bi_cast(c, mode); });
  }
};

TEST_F(Classes, EveryAwkwardDoubleToEveryIntegerClass) {
  const V x = table_values();
  for (const IntClass& k : kIntClasses) {
    SCOPED_TRACE(k.name);
    I want;
    for (const ConvRow& r : kConvTable) want.push_back(k.expect(r));
    const tv::Value v =
        result([&] { tv::push_row(c, x); }, [&] { return classes_run_opcode(c, k.opcode, 1); });
    EXPECT_EQ(v.cls, k.name);
    EXPECT_EQ(v.dims, (Dims{1, static_cast<uint32_t>(x.size())}));
    EXPECT_EQ(v.ints, want);
    // cast by name gives the same.
    const tv::Value w = cast_of([&] { tv::push_row(c, x); }, k.name);
    EXPECT_EQ(w.cls, k.name);
    EXPECT_EQ(w.ints, want);
  }
}

TEST_F(Classes, EveryAwkwardDoubleToTheOtherClasses) {
  const V x = table_values();
  tv::Value v = result([&] { tv::push_row(c, x); }, [&] { return bi_single(c); });
  EXPECT_EQ(v.cls, "single");
  for (size_t i = 0; i < x.size(); ++i) {
    const float want = kConvTable[i].single;
    if (std::isnan(want))
      EXPECT_TRUE(std::isnan(v.re[i]));
    else
      EXPECT_EQ(v.re[i], double(want)) << x[i];
  }
  v = result([&] { tv::push_row(c, x); }, [&] { return bi_double(c); });
  EXPECT_TRUE(v.plain);
  for (size_t i = 0; i < x.size(); ++i) EXPECT_EQ(tv::bits(v.re[i]), tv::bits(x[i]));

  I chars, logicals;
  for (const ConvRow& r : kConvTable) {
    chars.push_back(r.ch);
    logicals.push_back(r.logical);
  }
  v = result([&] { tv::push_row(c, x); }, [&] { return classes_run_opcode(c, kOpChar, 1); });
  EXPECT_EQ(v.cls, "char");
  EXPECT_EQ(v.ints, chars);
  v = result([&] { tv::push_row(c, x); }, [&] { return classes_run_opcode(c, kOpSetstr, 0); });
  EXPECT_EQ(v.cls, "char");
  EXPECT_EQ(v.ints, chars);
  v = cast_of([&] { tv::push_row(c, x); }, "char");
  EXPECT_EQ(v.cls, "char");
  EXPECT_EQ(v.ints, chars);
  v = cast_of([&] { tv::push_row(c, x); }, "logical");
  EXPECT_EQ(v.cls, "logical");
  EXPECT_EQ(v.ints, logicals);
  v = cast_of([&] { tv::push_row(c, x); }, "single");
  EXPECT_EQ(v.cls, "single");
  v = cast_of([&] { tv::push_row(c, x, V(x.size(), 1.0)); }, "double");
  EXPECT_TRUE(v.cplx);  // a complex double stays as it is
}

TEST_F(Classes, OtherSourceClassesToEveryClass) {
  // Sources: int8 -3, uint16 65535, char 'A', logical true, single -2.5.
  struct Source {
    const char* name;
    void (*push)(EngineContext*);
    I ints;  // int8 int16 int32 int64 uint8 uint16 uint32 uint64
    double as_double;
    int64_t as_char;
  };
  const Source sources[] = {
      {"int8 -3", [](EngineContext* x) { tv::push_ints(x, kElemI8, {1, 1}, {-3}); },
       {-3, -3, -3, -3, 253, 65533, 4294967293, -3}, -3, 65533},
      {"uint16 65535", [](EngineContext* x) { tv::push_ints(x, kElemU16, {1, 1}, {65535}); },
       {-1, -1, 65535, 65535, 255, 65535, 65535, 65535}, 65535, 65535},
      {"char A", [](EngineContext* x) { tv::push_chars(x, u"A"); }, {65, 65, 65, 65, 65, 65, 65, 65}, 65, 65},
      {"logical true", [](EngineContext* x) { tv::push_logicals(x, {1}); }, {1, 1, 1, 1, 1, 1, 1, 1}, 1, 1},
      {"single -2.5", [](EngineContext* x) { tv::push_single(x, {1, 1}, {-2.5f}); },
       {-2, -2, -2, -2, 254, 65534, 4294967294, -2}, -2.5, 65534},
  };
  for (const Source& s : sources) {
    SCOPED_TRACE(s.name);
    for (int k = 0; k < 8; ++k) {
      const tv::Value v = result([&] { s.push(c); }, [&] { return classes_run_opcode(c, kIntClasses[k].opcode, 1); });
      EXPECT_EQ(v.cls, kIntClasses[k].name);
      EXPECT_EQ(v.ints, I{s.ints[k]});
    }
    tv::Value v = result([&] { s.push(c); }, [&] { return bi_double(c); });
    EXPECT_EQ(v.re, V{s.as_double});
    v = result([&] { s.push(c); }, [&] { return bi_single(c); });
    EXPECT_EQ(v.cls, "single");
    EXPECT_EQ(v.re, V{s.as_double});
    v = result([&] { s.push(c); }, [&] { return bi_char(c, 1); });
    EXPECT_EQ(v.cls, "char");
    EXPECT_EQ(v.ints, I{s.as_char});
  }
  // Single arrays cannot be made logical.
  cast_refused(kWrongArgType, [&] { tv::push_single(c, {1, 1}, {1}); }, "logical");
}

// cast (values) and typecast (bytes) of one value to a class name; what a
// row leaves empty is not checked.
struct CastCase {
  void (*push)(EngineContext*);
  const char* name;
  int mode;
  const char* cls;
  Dims dims;
  I ints;
  V re = {};
};

TEST_F(Classes, CastAndTypecast) {
  const CastCase cases[] = {
      {[](EngineContext* x) { tv::push_scalar(x, 3.7); }, "int8", kCastValues, "int8", {}, {3}},
      {[](EngineContext* x) { tv::push_scalar(x, 65); }, "char", kCastValues, "char", {}, {65}},
      {[](EngineContext* x) { tv::push_scalar(x, 2); }, "logical", kCastValues, "logical", {}, {1}},
      {[](EngineContext* x) { tv::push_chars(x, u"hi"); }, "double", kCastValues, "double", {}, {}, {104, 105}},
      // typecast keeps the bytes; more than one row gives a column.
      {[](EngineContext* x) { tv::push_single(x, {1, 1}, {1.0f}); }, "uint32", kCastReinterpret, "uint32", {1, 1},
       {1065353216}},
      {[](EngineContext* x) { tv::push_ints(x, kElemU8, {2, 2}, {1, 2, 3, 4}); }, "uint16", kCastReinterpret,
       nullptr, {2, 1}, {0x0201, 0x0403}},
      {[](EngineContext* x) { tv::push_scalar(x, 1.0); }, "uint8", kCastReinterpret, nullptr, {1, 8},
       {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
      {[](EngineContext* x) { tv::push_ints(x, kElemU8, {1, 8}, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}); }, "double",
       kCastReinterpret, "double", {}, {}, {1.0}},
      {[](EngineContext* x) { tv::push_ints(x, kElemI16, {1, 2}, {72, 105}); }, "char", kCastReinterpret, "char",
       {}, {72, 105}},
      {[](EngineContext* x) { tv::push_ints(x, kElemU8, {1, 2}, {0, 2}); }, "logical", kCastReinterpret,
       "logical", {}, {0, 2}},  // the bytes, unchanged
      {[](EngineContext* x) { tv::push_row(x, {1.0}, {7.0}); }, "int64", kCastReinterpret, nullptr, {},
       {0x3FF0000000000000}},  // the real part only
      {[](EngineContext* x) { tv::push_double(x, {2, 1, 2}, {1, 2, 3, 4}); }, "single", kCastReinterpret, "single",
       {8, 1}, {}},
      {[](EngineContext* x) { ASSERT_EQ(stk_push_empty(x), kOk); }, "int8", kCastReinterpret, nullptr, {0, 0}, {}},
  };
  for (const CastCase& k : cases) {
    SCOPED_TRACE(::testing::Message() << k.name << (k.mode == kCastValues ? " cast" : " typecast"));
    const tv::Value v = cast_of([&] { k.push(c); }, k.name, k.mode);
    if (k.cls) {
      EXPECT_EQ(v.cls, k.cls);
    }
    if (!k.dims.empty()) {
      EXPECT_EQ(v.dims, k.dims);
    }
    if (!k.ints.empty()) {
      EXPECT_EQ(v.ints, k.ints);
    }
    if (!k.re.empty()) {
      EXPECT_EQ(v.re, k.re);
      EXPECT_TRUE(v.plain);
    }
  }

  for (const char* bad : {"float", "int", "int12", "uint", "Int8", "int8 ", "doubles", "", "uint128"})
    cast_refused(kUnknownOption, [&] { tv::push_scalar(c, 1); }, bad);
  cast_refused(kUnknownOption, [&] { tv::push_scalar(c, 1); }, "int24", kCastReinterpret);
  cast_refused(kBadSize, [&] { tv::push_ints(c, kElemU8, {1, 3}, {1, 2, 3}); }, "uint16", kCastReinterpret);
  // The name must be a string; X a numeric, char or logical array.
  refused(kWrongArgType, [&] { tv::push_scalar(c, 1), tv::push_scalar(c, 8); },
          [&] { return bi_cast(c, kCastValues); });
  cast_refused(kWrongArgType, [&] { ASSERT_EQ(stk_push_cell_array(c, 1, nullptr), kOk); }, "int8");
  cast_refused(kWrongArgType, [&] { ASSERT_EQ(stk_make_container(c, 0, 0, nullptr, 0), kOk); }, "double",
               kCastReinterpret);
}

TEST_F(Classes, CharStacksRowsPaddedWithBlanks) {
  ASSERT_EQ(bi_char(c, 0), kOk);
  tv::Value v = tv::read(c);
  EXPECT_EQ(v.cls, "char");
  EXPECT_EQ(v.dims, (Dims{0, 0}));
  stk_drop(c);

  v = result([&] { tv::push_chars(c, u"a"), tv::push_chars(c, u"bcd"); }, [&] { return bi_char(c, 2); });
  EXPECT_EQ(v.cls, "char");
  EXPECT_EQ(v.dims, (Dims{2, 3}));
  EXPECT_EQ(v.ints, (I{'a', ' ', ' ', 'b', 'c', 'd'}));

  // Numbers, an empty argument (no rows) and a matrix, in argument order.
  tv::push_scalar(c, 99);
  tv::push_double(c, {2, 2}, {72, 105, 79, 75});
  ASSERT_EQ(stk_push_empty(c), kOk);
  tv::push_logicals(c, {1, 0, 1});
  ASSERT_EQ(bi_char(c, 3), kOk);
  EXPECT_EQ(e.items(), 2);
  v = tv::read(c);
  EXPECT_EQ(v.dims, (Dims{3, 3}));
  EXPECT_EQ(v.ints, (I{72, 105, 32, 79, 75, 32, 1, 0, 1}));
  e.clear();

  v = result([&] { tv::push_double(c, {2, 1, 2}, {65, 66, 67, 68}); }, [&] { return bi_char(c, 1); });
  EXPECT_EQ(v.cls, "char");
  EXPECT_EQ(v.dims, (Dims{2, 1, 2}));  // one argument keeps its shape
  v = result([&] { tv::push_scalar(c, 65.7); }, [&] { return bi_char(c, 1); });
  EXPECT_EQ(v.ints, I{65});

  refused(kBadSize, [&] { tv::push_chars(c, u"a"), tv::push_double(c, {1, 1, 2}, {65, 66}); },
          [&] { return bi_char(c, 2); });
  refused(kWrongArgType, [&] { tv::push_chars(c, u"a"); ASSERT_EQ(stk_push_cell_array(c, 1, nullptr), kOk); },
          [&] { return bi_char(c, 2); });
  refused(kWrongArgType, [&] { ASSERT_EQ(stk_make_container(c, 0, 0, nullptr, 0), kOk); },
          [&] { return bi_char(c, 1); });
}

TEST_F(Classes, IntegerLimitsThroughTheirRows) {
  struct Case {
    const char* row;
    const char* type;  // null: no argument
    const char* cls;
    int64_t value;
  };
  const Case cases[] = {
      {"intmax", nullptr, "int32", 2147483647}, {"intmin", nullptr, "int32", INT32_MIN},
      {"intmin", "int8", "int8", -128},         {"intmax", "int8", "int8", 127},
      {"intmax", "uint16", "uint16", 65535},    {"intmin", "uint16", "uint16", 0},
      {"intmax", "int64", "int64", INT64_MAX},  {"intmin", "int64", "int64", INT64_MIN},
      {"intmax", "uint64", "uint64", -1},       {"intmax", "uint32", "uint32", 4294967295},
      {"intmin", "int32", "int32", INT32_MIN},  {"intmax", "int16", "int16", 32767},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.row) + "(" + (k.type ? k.type : "") + ")");
    const tv::Value v = result([&] { if (k.type) push_name(k.type); }, [&] { return call_row(k.row, k.type ? 1 : 0); });
    EXPECT_EQ(v.cls, k.cls);
    EXPECT_EQ(v.dims, (Dims{1, 1}));
    EXPECT_EQ(v.ints, I{k.value});
  }
  for (const char* bad : {"int", "int12", "uint", "u", "", "int8x", "single", "uint128"})
    refused(kUnknownOption, [&] { push_name(bad); }, [&] { return call_row("intmax", 1); });
  refused(kWrongArgType, [&] { tv::push_scalar(c, 8); }, [&] { return call_row("intmin", 1); });
  EXPECT_EQ(bi_intlimit(c, 0, 1, 'x'), kNotSupported);
}

TEST_F(Classes, Map2intScalesOntoTheWholeType) {
  auto map = [&](V x, const char* type = nullptr, double lo = 0, double hi = 1) {
    return result(
        [&] {
          tv::push_row(c, x);
          if (type || lo != 0 || hi != 1) {
            tv::push_scalar(c, lo);
            tv::push_scalar(c, hi);
          }
          if (type) push_name(type);
        },
        [&] { return call_row("map2int", type ? 4 : (lo != 0 || hi != 1) ? 3 : 1); });
  };
  tv::Value v = map({0.5, 2, -1, 0.25, 1, kNaN});
  EXPECT_EQ(v.cls, "uint8");
  EXPECT_EQ(v.ints, (I{127, 255, 0, 63, 255, 0}));
  for (const auto& [type, want] : std::vector<std::pair<const char*, I>>{{"int8", {-1, -128, 127}},
                                                                          {"int16", {-1, -32768, 32767}},
                                                                          {"int32", {-1, INT32_MIN, INT32_MAX}},
                                                                          {"uint16", {32767, 0, 65535}},
                                                                          {"uint32", {2147483647, 0, 4294967295}}})
    EXPECT_EQ(map({0.5, 0, 1}, type).ints, want) << type;
  v = map({1, 0, 0.5, 0.25}, "uint64");
  EXPECT_EQ(v.cls, "uint64");
  EXPECT_EQ(v.ints, (I{-1, 0, INT64_MIN, 0x4000000000000000}));
  EXPECT_EQ(map({1, 0, 0.5}, "int64").ints, (I{INT64_MAX, INT64_MIN, 0}));
  EXPECT_EQ(map({5, 15, -3}, nullptr, 0, 10).ints, (I{127, 255, 0}));
  EXPECT_EQ(map({5}, "uint8", 0, 10).ints, I{127});

  // A product that rounds up to 2^64 below hi is clamped to the top.
  bool found = false;
  for (double lo : {0.1, 0.3, 1.7, -0.9})
    for (double hi : {0.7, 1.1, 2.3, 0.2}) {
      if (!(hi > lo) || found) continue;
      const double x = std::nextafter(hi, lo);
      if ((x - lo) * (1 / (hi - lo)) * 18446744073709551616.0 < 18446744073709551616.0) continue;
      found = true;
      EXPECT_EQ(map({x}, "uint64", lo, hi).ints, I{-1}) << lo << " " << hi;
      EXPECT_EQ(map({x}, "int64", lo, hi).ints, I{INT64_MAX});
    }
  EXPECT_TRUE(found);

  // The shape is kept.
  v = result([&] { tv::push_double(c, {2, 1, 2}, {0, 1, 0.5, 0.25}); }, [&] { return call_row("map2int", 1); });
  EXPECT_EQ(v.dims, (Dims{2, 1, 2}));

  auto with = [&](std::vector<double> args, const char* type) {
    return [this, args, type] {
      tv::push_row(c, {0.5});
      for (double a : args) tv::push_scalar(c, a);
      if (type) push_name(type);
    };
  };
  refused(kTooFewInputs, with({0}, nullptr), [&] { return call_row("map2int", 2); });
  refused(kArgOutOfRange, with({1, 1}, nullptr), [&] { return call_row("map2int", 3); });
  refused(kArgOutOfRange, with({2, 1}, nullptr), [&] { return call_row("map2int", 3); });
  refused(kArgOutOfRange, with({0, kNaN}, nullptr), [&] { return call_row("map2int", 3); });
  refused(kUnknownOption, with({0, 1}, "uint12"), [&] { return call_row("map2int", 4); });
  refused(kUnknownOption, with({0, 1}, "double"), [&] { return call_row("map2int", 4); });
  refused(kWrongArgType, [&] { tv::push_row(c, {1}, {1}); }, [&] { return call_row("map2int", 1); });
  refused(kWrongArgType, [&] { tv::push_chars(c, u"a"); }, [&] { return call_row("map2int", 1); });
  refused(kWrongArgType, [&] { tv::push_scalar(c, 1), tv::push_row(c, {0, 0}), tv::push_scalar(c, 1); },
          [&] { return call_row("map2int", 3); });
}

}  // namespace
