// The source-text writer's own surface, shared by its array half
// (dump_source.cpp) and its value half (dump_values.cpp): the output target
// (a bounded 16-bit buffer, or an fd through a small staging area) and the
// array description both halves write from.
#pragma once

#include <algorithm>
#include <cstdint>

#include "engine/core/context.h"
#include "engine/core/status.h"

constexpr int32_t kDumpStage = 256;

// Where text goes. Buffer mode: buf[*pos .. capacity), every step needs room
// (kDataStackOverflow otherwise). fd mode: staged and written as produced.
struct DumpOut {
  EngineContext* ctx;
  uint16_t* buf;
  int32_t capacity;
  int32_t* pos;
  int32_t fd;
  bool to_fd;
  int32_t line = 0;  // characters on the current line
  int32_t stage_n = 0;
  uint16_t stage[kDumpStage];

  DumpOut(EngineContext* c, uint16_t* buffer, int32_t cap, int32_t* position, int32_t out_fd)
      : ctx(c), buf(buffer), capacity(cap), pos(position), fd(out_fd), to_fd(out_fd >= 0 || !buffer) {}
  // Room for one step (extra: more characters it needs).
  int room(int32_t extra);
  int put(uint16_t ch);
  int put(char ch) { return put(uint16_t(uint8_t(ch))); }
  int put(const char* text, int32_t n = -1);
  // A line end: LF into a buffer, the fd's own line end (then the abort poll) to an fd.
  int newline();
  int number(double v, int digits);
  int flush();
};

// A 2-d numeric, char or logical array read in place (row-major elements).
struct ArraySource {
  const void* re;
  const void* im;  // null: real
  int64_t rows;
  int64_t columns;
  bool is_double;
  bool is_single;
  bool is_char;
  bool is_logical;
  int int_size;
  bool is_unsigned;
};

int dump_array(DumpOut& out, const ArraySource& s, int digits);
int dump_char(DumpOut& out, uint16_t ch);
// "name = " before a value and ";" with a line end after it (nothing without a name).
int dump_name_head(DumpOut& out, const char* name, int32_t name_length);
int dump_name_tail(DumpOut& out, const char* name);
