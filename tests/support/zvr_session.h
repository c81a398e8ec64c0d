// A started engine driven by ZVR text, as the host drives it: command lines
// (definitions and statements) run through the interpreter, expressions
// evaluated into values on the stack, and a compact rendering of values for
// table-driven checks. Output on fds 1 and 2 is captured.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/core/calls.h"
#include "engine/core/containers.h"
#include "engine/core/frames.h"
#include "engine/core/heap.h"
#include "engine/core/indexing.h"
#include "engine/core/interp.h"
#include "engine/core/streams.h"
#include "engine/core/value_stack.h"
#include "support/started_engine.h"

struct ZvrSession {
  static constexpr const char* kResultName = "result_";
  StartedEngine e;
  EngineContext* c = e.c;
  char out[1 << 16] = {};
  uint32_t out_len = 0;

  explicit ZvrSession(uint32_t block_bytes = 1u << 22) : e(block_bytes) {
    c->capture = CaptureBuffer{out, sizeof out, &out_len};
    io_set_redirect(c, kFdStderr, kFdCapture, 0);
    io_set_redirect(c, kFdStdout, kFdCapture, 0);
  }

  std::string take_output() {
    std::string s(out, out_len);
    out_len = 0;
    return s;
  }

  // Runs a command line; the status of the run (or of the compilation).
  int run(const std::string& text) {
    const int status = exec_command_line(c, text.data(), int32_t(text.size()), 0);
    if (status != kSliceEnded) return status;
    return interp_run(c, 0);
  }

  // The rendering of an expression's value, assigned to a variable of the
  // base workspace and read back from it, or "error N" (frames unwound).
  std::string value(const std::string& expr) {
    const int status = run(std::string(kResultName) + " = " + expr + ";\n");
    if (status != kOk) {
      frame_unwind(c, 0);
      return "error " + std::to_string(status);
    }
    if (push_variable(kResultName) != kOk) return "unset";
    std::string s = render(0);
    stk_drop(c);
    return s;
  }

  // The heap block of a base-workspace variable: 0 when it is unset, -1
  // when no variable has that name.
  static int32_t base_variable_block(EngineContext* c, const char* name) {
    uint8_t* table = nullptr;
    int32_t count = 0;
    frame_var_table(c, &table, &count);
    const uint32_t* slots = frame_words(c, 0) + kFrameFixedWords;
    for (int32_t i = 0; table && i < count; ++i)
      if (std::strncmp(reinterpret_cast<const char*>(table) + kFrameNameBytes * i, name, kFrameNameBytes) == 0)
        return int32_t(slots[i]) < 1 ? 0 : int32_t(slots[i]);
    return -1;
  }

  // Pushes a copy of a base-workspace variable.
  int push_variable(const char* name) {
    const int32_t at = base_variable_block(c, name);
    if (at >= 0) {
      if (at == 0) return kUndefinedVariable;
      const uint64_t* block = heap_words(c) + at;
      const uint32_t kind = tn::ld_u32(block), a = tn::ld_u32(reinterpret_cast<const uint8_t*>(block) + 4),
                     b = tn::ld_u32(reinterpret_cast<const uint8_t*>(block) + 8);
      const uint32_t words = item_data_words(kind, a, b);
      if (!desc_room(c) || int64_t(words) > data_free_words(c)) return kStackOverflow;
      uint64_t* to = stk_claim(c, kind, a, b, words);
      std::memcpy(to, block + kHeapValueHeaderWords, size_t(words) * 8);
      return kOk;
    }
    return kUndefinedVariable;
  }

  // Nothing above the base frame: no frame, item or data word left over.
  ::testing::AssertionResult clean() const {
    if (c->frame != 0) return ::testing::AssertionFailure() << "frame " << c->frame;
    const int64_t fixed = frame_fixed_words(frame_words(c, 0));
    if (c->desc_top != fixed) return ::testing::AssertionFailure() << "descriptor top " << c->desc_top << " not " << fixed;
    if (c->data_top != e.data_base) return ::testing::AssertionFailure() << "data top " << c->data_top;
    return ::testing::AssertionSuccess();
  }

  // "class RxC [elements]" for arrays, "{a, b}" for lists, "cell RxC {..}",
  // "@name" for references, "'text'" for char rows.
  std::string render(int depth) {
    const uint32_t* d = desc_at(c, depth);
    if (d[0] == kKindNoValue) return "novalue";
    if (d[0] == kKindPayload && d[2] == kPayFuncRef) {
      const char* text = nullptr;
      int32_t n = 0;
      code_string_ref(item_data(c, depth), &text, &n);
      return "@" + std::string(text, size_t(n));
    }
    if (d[0] == kKindPayload && d[2] == kPayInline) return "inline";
    if (d[0] == kKindContainer) {
      const bool cell = d[2] == kContCell;
      const bool list = d[2] == kContList;
      if (!cell && !list) return "struct";
      int nd = 0;
      const uint32_t* dims = nullptr;
      int32_t count = 0;
      stk_get_container_dims(c, depth, &nd, &dims, &count, nullptr);
      std::string s = cell ? "cell " + shape(nd, dims) + " {" : "{";
      for (int32_t i = 1; i <= count; ++i) {
        if (stk_list_get(c, depth, i) != kOk) return s + "?}";
        s += (i > 1 ? ", " : "") + render(0);
        stk_drop(c);
      }
      return s + "}";
    }
    ArrayView v{};
    if (!array_view(d, item_data(c, depth), &v)) return "?";
    if (v.subtype == kPayChar && v.ndims == 2 && v.dims[0] <= 1) {
      std::string s = "'";
      for (int64_t i = 0; i < v.count; ++i) s += char(tn::load<uint16_t>(v.re + 2 * i));
      return s + "'";
    }
    std::string s = class_name(v) + " " + shape(v.ndims, v.dims) + " [";
    for (int64_t i = 0; i < v.count; ++i) {
      if (i) s += " ";
      s += number(v, v.re, i);
      if (v.im) s += (number(v, v.im, i)[0] == '-' ? "" : "+") + number(v, v.im, i) + "i";
    }
    return s + "]";
  }

 private:
  static std::string shape(int nd, const uint32_t* dims) {
    std::string s;
    for (int k = 0; k < nd; ++k) s += (k ? "x" : "") + std::to_string(dims[k]);
    return s;
  }
  static std::string class_name(const ArrayView& v) {
    if (v.cls == ElemClass::Double) return "double";
    if (v.cls == ElemClass::Single) return "single";
    if (v.subtype == kPayChar) return "char";
    if (v.subtype == kPayLogical) return "logical";
    return std::string((v.type & kElemUnsigned) ? "uint" : "int") + std::to_string(8 * v.esize);
  }
  static std::string number(const ArrayView& v, const uint8_t* p, int64_t i) {
    char buf[64];
    if (v.cls == ElemClass::Double) {
      std::snprintf(buf, sizeof buf, "%g", tn::load<double>(p + 8 * i));
    } else if (v.cls == ElemClass::Single) {
      std::snprintf(buf, sizeof buf, "%g", double(tn::load<float>(p + 4 * i)));
    } else {
      std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(load_int_element(p, i, v.type)));
    }
    return buf;
  }
};
