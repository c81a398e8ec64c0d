// The byte-level stream built-ins against a model: every precision's bytes
// for fwrite, swrite and bwrite, fread and sread giving the values back, the
// size forms, reads that must wait, line reads resumed after a wait, the
// redirect built-in, and every stream built-in under the failure sweep.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "engine/core/lib_calls.h"
#include "engine/core/opcodes.h"
#include "engine/core/streams.h"
#include "engine/lib/stream_precision.h"
#include "host/devices/device_session.h"
#include "support/failure_sweep.h"

namespace {

// The model: each value truncated and wrapped to the element (or made a
// double or single), its bytes least significant first unless swapped.
std::string model_bytes(const PrecisionRow& p, const std::vector<double>& xs) {
  std::string out;
  for (double x : xs) {
    unsigned char b[8] = {};
    if (p.is_float && p.size == 8) {
      std::memcpy(b, &x, 8);
    } else if (p.is_float) {
      const float f = float(x);
      std::memcpy(b, &f, 4);
    } else {
      const uint64_t v = uint64_t(int64_t(std::trunc(x)));
      for (uint32_t k = 0; k < p.size; ++k) b[k] = uint8_t(v >> (8 * k));
    }
    std::string e(reinterpret_cast<char*>(b), p.size);
    if (p.swap) e = std::string(e.rbegin(), e.rend());
    out += e;
  }
  return out;
}

std::string uint8_render(const std::string& bytes) {
  std::string s = "uint8 1x" + std::to_string(bytes.size()) + " [";
  for (size_t i = 0; i < bytes.size(); ++i) s += (i ? " " : "") + std::to_string(uint8_t(bytes[i]));
  return s + "]";
}

TEST(StreamBytes, PrecisionTableHasThirtySixRowsInTheirOrder) {
  int n = 0;
  while (kPrecisionTable[n].name[0]) ++n;
  ASSERT_EQ(n, kPrecisionRows);
  EXPECT_STREQ(kPrecisionTable[0].name, "int8");
  EXPECT_STREQ(kPrecisionTable[11].name, "double");
  EXPECT_STREQ(kPrecisionTable[13].name, "int16;l");
  EXPECT_STREQ(kPrecisionTable[33].name, "uchar;b");
  for (int i = 0; i < n; ++i) {
    const PrecisionRow& r = kPrecisionTable[i];
    EXPECT_EQ(r.swap, i >= 24 && r.size > 1 ? 1 : 0) << r.name;
    EXPECT_EQ(r.size, kPrecisionTable[i % 12].size) << r.name;
  }
}

TEST(StreamBytes, EveryPrecisionWritesTheModelsBytes) {
  DeviceSession s;
  const std::vector<double> xs = {258, -2, 1.5};
  for (int i = 0; kPrecisionTable[i].name[0]; ++i) {
    const PrecisionRow& p = kPrecisionTable[i];
    const std::string prec = std::string("'") + p.name + "'";
    const std::string bytes = model_bytes(p, xs);
    SCOPED_TRACE(p.name);
    EXPECT_EQ(s.value("bwrite([258 -2 1.5], " + prec + ")"), uint8_render(bytes));
    EXPECT_EQ(s.value("double(swrite([258 -2 1.5], " + prec + "))"),
              "double 1x" + std::to_string(bytes.size()) + uint8_render(bytes).substr(uint8_render(bytes).find(" [")));
    ASSERT_EQ(s.run("f = fopen(" + s.path("w") + ", 'w'); n = fwrite(f, [258 -2 1.5], " + prec + "); fclose(f);\n"),
              kOk);
    EXPECT_EQ(s.value("n"), "double 1x1 [3]");
    EXPECT_EQ(s.file_text("w"), bytes);
  }
  // The default is one byte each.
  EXPECT_EQ(s.value("bwrite([258 -2 1.5])"), "uint8 1x3 [2 254 1]");
  EXPECT_EQ(s.value("bwrite(258, 'int16;b')"), "uint8 1x2 [1 2]");
  EXPECT_EQ(s.value("bwrite(258, 'int16;l')"), "uint8 1x2 [2 1]");
  EXPECT_EQ(s.value("bwrite([])"), "uint8 0x0 []");
  EXPECT_EQ(s.value("swrite([72 105])"), "'Hi'");
  EXPECT_EQ(s.value("swrite('')"), "''");
  EXPECT_EQ(s.value("bwrite('AB', 'uint16;b')"), "uint8 1x4 [0 65 0 66]");
  EXPECT_TRUE(s.clean());
}

TEST(StreamBytes, EveryPrecisionReadsBackWhatWasWritten) {
  DeviceSession s;
  for (int i = 0; kPrecisionTable[i].name[0]; ++i) {
    const PrecisionRow& p = kPrecisionTable[i];
    const std::string prec = std::string("'") + p.name + "'";
    const std::string x = p.is_float ? "[1.5 -2 3]" : p.is_unsigned ? "[1 200 3]" : "[1 -2 3]";
    SCOPED_TRACE(p.name);
    ASSERT_EQ(s.run("x = " + x + "; f = fopen(" + s.path("r") + ", 'w'); fwrite(f, x, " + prec +
                    "); fclose(f); f = fopen(" + s.path("r") + ");\n"),
              kOk);
    EXPECT_EQ(s.value("all(fread(f, Inf, " + prec + ") == x')"), "logical 1x1 [1]");
    ASSERT_EQ(s.run("fclose(f);\n"), kOk);
    EXPECT_EQ(s.value("all(sread(swrite(x, " + prec + "), [], " + prec + ") == x')"), "logical 1x1 [1]");
    EXPECT_EQ(s.value("all(sread(bwrite(x, " + prec + "), [1 3], " + prec + ") == x)"), "logical 1x1 [1]");
    // With a star the element class stays.
    const std::string cls = p.is_char ? "char" : p.is_float ? (p.size == 4 ? "single" : "double")
                                                                 : std::string(p.is_unsigned ? "uint" : "int") +
                                                                       std::to_string(8 * p.size);
    EXPECT_EQ(s.value("class(sread(swrite(x, " + prec + "), [], '*" + p.name + "'))"), "'" + cls + "'");
    EXPECT_EQ(s.value("class(sread(swrite(x, " + prec + "), [], " + prec + "))"), "'double'");
  }
  EXPECT_TRUE(s.clean());
}

TEST(StreamBytes, SizesCountsAndBadArguments) {
  DeviceSession s;
  s.write_file("three", "abc");
  s.write_file("six", "\x01\x02\x03\x04\x05\x06");
  ASSERT_EQ(s.run("t = fopen(" + s.path("three") + "); x = fopen(" + s.path("six") + ");\n"), kOk);
  const struct {
    const char* code;
    const char* result;
  } cases[] = {
      {"fread(t, Inf, 'uint16')", "double 1x1 [25185]"},  // three bytes hold one element
      {"(fseek(t, 0) + 1) * size(fread(t, [], 'uint16'), 1)", "double 1x1 [1]"},
      {"fseek(t, 0) + fread(t, [], '*char')", "double 1x3 [97 98 99]"},
      {"fseek(t, 0) + size(fread(t, [], '*char'))", "double 1x2 [1 3]"},  // no column count: a row
      {"fseek(t, 0) + size(fread(t, [Inf 1], '*char'))", "double 1x2 [3 1]"},
      {"fread(x, [2 3])", "double 2x3 [1 2 3 4 5 6]"},
      {"fseek(x, 0) + fread(x, [Inf 4])", "double 1x4 [1 2 3 4]"},  // whole rows only
      {"fseek(x, 0) + fread(x, 2, 'int16;b')", "double 2x1 [258 772]"},
      {"fseek(x, 0) + fread(x, [0 3])", "double 0x0 []"},
      {"fread(x, 0)", "double 0x0 []"},
      {"fread(x, [1 2 3])", "error 21"},
      {"fread(x, -1)", "error 21"},
      {"fread(x, NaN)", "error 21"},
      {"fread(x, 2, 'float')", "error 108"},
      {"fread(x, 2, 'Int8')", "error 108"},
      {"fread(x, 2, 'uint16;bb')", "error 108"},
      {"fread(x, 2, 'a_name_far_too_long')", "error 108"},
      {"fread(x, 2, 3)", "error 44"},
      {"fread(x, 2, 'int8', 1)", "error 186"},  // refused by the compiler
      {"fwrite(x, 1, 'single;x')", "error 108"},
      {"fwrite(x, {1})", "error 44"},
      {"fwrite([1 2], 1)", "error 104"},
      {"sread([1 2])", "error 43"},
      {"sread(int16([1 2]))", "error 43"},
      {"sread(uint8([1 2 3]), 2)", "double 2x1 [1 2]"},
      {"sread('abc', [2 1])", "double 2x1 [97 98]"},
      {"sread('abcde', [Inf 2])", "double 2x2 [97 98 99 100]"},
      {"sread(char([258 259]))", "double 2x1 [2 3]"},  // a character's low byte
      {"swrite(1, 2, 3)", "error 186"},
      {"bwrite()", "error 186"},
  };
  for (const auto& c : cases) EXPECT_EQ(s.value(c.code), c.result) << c.code;
  // Every output count.
  ASSERT_EQ(s.run("fseek(x, 0); [a, n] = fread(x, 4); [b, m] = sread('hello', 2, '*char');\n"), kOk);
  EXPECT_EQ(s.value("{a', n, b, m}"), "{double 1x4 [1 2 3 4], double 1x1 [4], 'he', double 1x1 [2]}");
  ASSERT_EQ(s.run("[b, m] = sread('hello', [0 2]);\n"), kOk);
  EXPECT_EQ(s.value("{b, m}"), "{double 0x0 [], double 1x1 [0]}");
  EXPECT_EQ(s.run("[a, n, z] = fread(x);\n"), kWrongNargout);
  s.take_output();
  ASSERT_EQ(s.run("fseek(x, 0); fread(x, 1)\nsread('A')\n"), kOk);
  EXPECT_EQ(s.take_output(), "ans =\n     1\nans =\n    65\n");
  EXPECT_TRUE(s.clean());
}

// A stream of scripted deliveries: each read hands over the next chunk with
// its status (a chunk of "" with kWaitRetry means nothing has arrived yet).
struct Script {
  std::deque<std::pair<std::string, int>> reads;
};
Script g_script;
constexpr int32_t kScriptFd = 9000;

int script_read(EngineContext*, int32_t fd, char* buffer, int32_t capacity, int32_t* count, uintptr_t) {
  if (fd != kScriptFd) return kNotMyDescriptor;
  *count = 0;
  if (g_script.reads.empty()) return kEndOfFile;
  auto& [chunk, status] = g_script.reads.front();
  const int32_t n = std::min<int32_t>(capacity, int32_t(chunk.size()));
  std::memcpy(buffer, chunk.data(), size_t(n));
  *count = n;
  const int st = status;
  chunk.erase(0, size_t(n));
  if (chunk.empty()) g_script.reads.pop_front();
  return st;
}
int script_control(EngineContext*, int32_t fd, uint32_t, uint32_t*, uintptr_t) {
  return fd == kScriptFd ? kOk : kNotMyDescriptor;
}

const BuiltinEntry kScriptTable[] = {
    stream_hook_row(kHookRead, static_cast<StreamReadHook>(script_read), kReadBytePerCall),
    stream_hook_row(kHookControl, static_cast<StreamControlHook>(script_control), 0),
    BuiltinEntry{},
};

TEST(StreamBytes, AReadThatMustWaitReturnsWhatArrived) {
  DeviceSession s;
  ASSERT_EQ(engine_register_builtin_table(s.c, kScriptTable, 0), kOk);
  g_script.reads = {{"ab", kWaitRetry}};
  EXPECT_EQ(s.value("fread(9000, 10, '*char')"), "'ab'");
  g_script.reads = {{"", kWaitRetry}};
  EXPECT_EQ(s.value("fread(9000, 10)"), "double 0x0 []");
  g_script.reads = {{"abc", kReadWriteError}};
  EXPECT_EQ(s.value("fread(9000, 10)"), "error 302");
  EXPECT_TRUE(s.clean());
}

// A line read that has to wait leaves its buffer and a marker; run again,
// it goes on after the bytes it has and returns the whole line.
TEST(StreamBytes, ALineReadResumesAfterAWait) {
  DeviceSession s;
  EngineContext* c = s.c;
  ASSERT_EQ(engine_register_builtin_table(c, kScriptTable, 0), kOk);
  for (const bool drop : {true, false}) {
    const int32_t opcode = drop ? kOpFgetl : kOpFgets;
    g_script.reads = {{"ab", kOk}, {"", kWaitRetry}, {"c\r", kOk}};
    const int32_t desc0 = c->desc_top, data0 = c->data_top;
    ASSERT_EQ(stk_push_real(c, kScriptFd), kOk);
    ASSERT_EQ(lib_call_opcode(c, opcode, 1, 1), kWaitRetry);
    int32_t tag = 0;
    EXPECT_TRUE(stk_is_marker(c, 0, &tag));
    EXPECT_EQ(tag, 2);
    ASSERT_EQ(lib_call_opcode(c, opcode, 1, 1), kOk);
    EXPECT_EQ(s.render(0), drop ? "'abc'" : "'abc\n'");
    stk_drop(c);
    EXPECT_EQ(c->desc_top, desc0);
    EXPECT_EQ(c->data_top, data0);
  }
  // A maximum below one reads nothing.
  g_script.reads = {{"xyz\n", kOk}};
  EXPECT_EQ(s.value("fgetl(9000, 0)"), "''");
  EXPECT_EQ(s.value("fgetl(9000, 2)"), "'xy'");
  EXPECT_EQ(s.value("fgets(9000)"), "'z\n'");
  EXPECT_EQ(s.value("fgetl(9000, {1})"), "error 44");
  EXPECT_EQ(s.value("fgetl(9000)"), "''");  // at the end: an empty row
  EXPECT_TRUE(s.clean());
}

TEST(StreamBytes, Redirect) {
  DeviceSession s;
  // The session sends fds 1 and 2 to the capture buffer (fd 5).
  EXPECT_EQ(s.value("redirect()"), "double 2x2 [5 0 5 0]");
  EXPECT_EQ(s.value("redirect(2)"), "double 1x2 [5 0]");
  EXPECT_EQ(s.value("redirect(3)"), "error 301");
  EXPECT_EQ(s.value("redirect(1, 2, {1})"), "error 44");
  EXPECT_EQ(s.value("redirect(1, {1})"), "error 44");
  ASSERT_EQ(s.run("redirect(2, 5, true);\n"), kOk);
  EXPECT_EQ(s.value("redirect(2)"), "double 1x2 [5 1]");
  s.take_output();
  ASSERT_EQ(s.run("redirect\nredirect(2)\n"), kOk);
  EXPECT_EQ(s.take_output(),
            "stdout (fd=1) -> fd=5\nstderr (fd=2) -> fd=5 copy\nstderr (fd=2) -> fd=5 copy\n");
  ASSERT_EQ(s.run("redirect(2, 1)\n"), kOk);
  EXPECT_EQ(s.take_output(), "") << "a statement that sets shows nothing";
  // The report goes to fd 2, now fd 1's console: the capture does not see it.
  EXPECT_NE(s.run("redirect(1, 2);\n"), kOk);
  frame_unwind(s.c, 0);
  EXPECT_EQ(s.value("lasterr()"), "'stdout <-> stderr redirection loop'");
  EXPECT_EQ(s.value("getfield(lasterror(), 'identifier')"), "'ZVR:redirectLoop'");
  EXPECT_EQ(s.value("redirect(1)"), "double 1x2 [5 0]") << "a refused loop changes nothing";
  ASSERT_EQ(s.run("redirect(2, 5);\n"), kOk);
  EXPECT_TRUE(s.clean());
}

TEST(StreamBytes, ClcAndFflushSendTheirRequests) {
  DeviceSession s;
  ASSERT_EQ(engine_register_builtin_table(s.c, kScriptTable, 0), kOk);
  EXPECT_EQ(s.run("clc\nclc(2);\nclc(9000);\nfflush(9000);\n"), kOk);  // the console and a hook that knows them
  EXPECT_EQ(s.run("f = fopen(" + s.path("c") + ", 'w');\nclc(f);\n"), kIllegalError);  // a file has no screen
  frame_unwind(s.c, 0);
  EXPECT_EQ(s.run("clc(4242);\n"), kNotMyDescriptor);
  frame_unwind(s.c, 0);
  EXPECT_EQ(s.run("fflush(f);\nfclose(f);\n"), kOk);
  EXPECT_TRUE(s.clean());
}

}  // namespace
