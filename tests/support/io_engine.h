// A real engine wired like a console for formatted I/O tests: the engine's
// error table, a "+write" hook that records each descriptor's bytes (with a
// chosen end-of-line mode), and a "+read" hook that serves scripted input on
// fd 0 and fd 1024, one byte per call or a buffer at once. Also converts
// between 16-bit engine text and readable strings for failure messages.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/core/errors.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "support/engine_block.h"
#include "support/stack_invariants.h"

namespace io_test {

constexpr int32_t kFileFd = 1024;

struct Console {
  std::map<int32_t, std::string> written;
  std::string input;      // served on fd 0 and kFileFd
  size_t at = 0;
  bool stall = false;     // deliver nothing: the reader must wait (502)
};

inline int console_write(EngineContext*, int32_t fd, const char* b, int32_t n, uintptr_t u) {
  if (fd != kFdStdout && fd != kFdStderr) return kNotMyDescriptor;
  reinterpret_cast<Console*>(u)->written[fd].append(b, size_t(n));
  return kOk;
}

inline int console_read(EngineContext*, int32_t fd, char* buf, int32_t cap, int32_t* count,
                        uintptr_t u, bool line_at_once) {
  if (fd != kFdStdin && fd != kFileFd) return kNotMyDescriptor;
  Console* c = reinterpret_cast<Console*>(u);
  *count = 0;
  if (c->stall) return kOk;
  if (c->at >= c->input.size()) return kEndOfFile;
  size_t n = line_at_once ? c->input.find('\n', c->at) : c->at;
  n = (n == std::string::npos ? c->input.size() : n + 1) - c->at;
  if (n > size_t(cap)) n = size_t(cap);
  std::memcpy(buf, c->input.data() + c->at, n);
  c->at += n;
  *count = int32_t(n);
  return kOk;
}
inline int read_bytewise(EngineContext* x, int32_t fd, char* b, int32_t cap, int32_t* n, uintptr_t u) {
  return console_read(x, fd, b, cap, n, u, false);
}
inline int read_lines(EngineContext* x, int32_t fd, char* b, int32_t cap, int32_t* n, uintptr_t u) {
  return console_read(x, fd, b, cap, n, u, true);
}

class IoEngine : public ::testing::Test {
 protected:
  // newline: the "+write" row's mode; bytewise: the "+read" row delivers a
  // byte per call (mode 0) instead of a line at once.
  void wire(uint8_t newline = kNewlineLF, bool bytewise = false) {
    rows_[0] = BuiltinEntry{};
    std::strcpy(rows_[0].name, kHookErrMsgTable);
    rows_[0].fn = errmsg_table_as_fn(kEngineErrorTable);
    const auto user = reinterpret_cast<uintptr_t>(&console);
    rows_[1] = stream_hook_row(kHookWrite, console_write, newline, user);
    rows_[2] = bytewise ? stream_hook_row(kHookRead, read_bytewise, kReadBytePerCall, user)
                        : stream_hook_row(kHookRead, read_lines, kReadBuffered, user);
    ASSERT_EQ(engine_register_builtin_table(ctx, rows_, 1), kOk);
  }
  void SetUp() override {
    wire(newline_mode, bytewise_input);
    base_desc = ctx->desc_top;
  }
  // The stacks are whole when each test ends.
  void TearDown() override { EXPECT_TRUE(check_stack_invariants(ctx, base_desc)); }
  // Items pushed by the test.
  int items() const { return (ctx->desc_top - base_desc) / 3; }

  // Set in a derived fixture's constructor to wire another console.
  uint8_t newline_mode = kNewlineLF;
  bool bytewise_input = false;

  EngineBlock block = EngineBlock::make(1u << 20);
  EngineContext* ctx = block.ctx();
  BuiltinEntry rows_[4]{};
  Console console;
  int32_t base_desc = 0;
};

// --- Values --------------------------------------------------------------------

// One argument: a double row, an integer array of an element type, a char
// row, a logical row or a single row.
struct Arg {
  enum Kind { kDouble, kInts, kText, kLogical, kSingle } kind = kDouble;
  std::vector<double> d;
  uint32_t type = 0;
  std::vector<int64_t> i;
  std::u16string s;
};
inline Arg D(std::vector<double> v) { Arg a; a.d = std::move(v); return a; }
inline Arg N(uint32_t type, std::vector<int64_t> v) {
  Arg a; a.kind = Arg::kInts; a.type = type; a.i = std::move(v); return a;
}
inline Arg T(std::u16string s) { Arg a; a.kind = Arg::kText; a.s = std::move(s); return a; }
inline Arg L(std::vector<double> v) { Arg a; a.kind = Arg::kLogical; a.d = std::move(v); return a; }
inline Arg S(std::vector<double> v) { Arg a; a.kind = Arg::kSingle; a.d = std::move(v); return a; }

inline void push(EngineContext* c, const Arg& a) {
  const int32_t dims[2] = {1, int32_t(a.kind == Arg::kInts ? a.i.size()
                                      : a.kind == Arg::kText ? a.s.size() : a.d.size())};
  switch (a.kind) {
    case Arg::kDouble: {
      double* re = nullptr;
      ASSERT_EQ(stk_push_matrix(c, dims[0], dims[1], &re, nullptr), kOk);
      for (size_t k = 0; k < a.d.size(); ++k) re[k] = a.d[k];
      break;
    }
    case Arg::kInts: {
      void* p = nullptr;
      const int size = int(a.type & 127);
      ASSERT_EQ(stk_push_typed_array(c, 2, dims, size, (a.type & kElemUnsigned) ? 1 : 0, &p), kOk);
      for (size_t k = 0; k < a.i.size(); ++k)
        std::memcpy(static_cast<uint8_t*>(p) + k * size_t(size), &a.i[k], size_t(size));
      break;
    }
    case Arg::kText: {
      uint16_t* p = nullptr;
      ASSERT_EQ(stk_push_char_row(c, dims[1], &p), kOk);
      for (size_t k = 0; k < a.s.size(); ++k) p[k] = a.s[k];
      break;
    }
    case Arg::kLogical: {
      uint8_t* p = nullptr;
      ASSERT_EQ(stk_push_logical_array(c, 2, dims, &p), kOk);
      for (size_t k = 0; k < a.d.size(); ++k) p[k] = uint8_t(a.d[k]);
      break;
    }
    case Arg::kSingle: {
      float* re = nullptr;
      ASSERT_EQ(stk_push_single_nd(c, 2, dims, &re, nullptr), kOk);
      for (size_t k = 0; k < a.d.size(); ++k) re[k] = float(a.d[k]);
      break;
    }
  }
}

// The char array at depth as 16-bit text (storage order).
inline std::u16string chars_at(EngineContext* c, int depth = 0) {
  TypedView v;
  if (!stk_is_char(c, depth) || !typed_view(c, depth, &v)) return u"<not char>";
  std::u16string s(size_t(v.count), u'\0');
  std::memcpy(s.data(), v.elems, size_t(v.count) * 2);
  return s;
}

// The real double matrix at depth, its elements in storage order.
inline std::vector<double> doubles_at(EngineContext* c, int depth = 0) {
  const uint32_t* d = desc_at(c, depth);
  if (d[0] != kKindReal) return {-12345.0};
  const auto* p = reinterpret_cast<const double*>(item_data(c, depth));
  return std::vector<double>(p, p + size_t(d[1]) * d[2]);
}

// Readable form of engine text: ASCII as is, the rest as \n, \r or \uXXXX.
inline std::string show(const std::u16string& s) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (char16_t ch : s) {
    if (ch == u'\n') out += "\\n";
    else if (ch == u'\r') out += "\\r";
    else if (ch >= 32 && ch < 127) out += char(ch);
    else {
      out += "\\u";
      for (int sh = 12; sh >= 0; sh -= 4) out += kHex[(ch >> sh) & 15];
    }
  }
  return out;
}

}  // namespace io_test
