// Stand-ins for the parts around the function loader that tests need: an
// in-memory source store served through "+readlib" and "+readfn" hook rows,
// a compiler that turns a small test notation into code through the test
// assembler, and a tiny interpreter for the few instructions calls need.
//
// Compiler notation, one item a line:
//   function [a, b] = name(x, y)   header (outputs take slots 0.., then inputs)
//   define name = ...              argument-less block (header bit 2)
//   locals N                       extra local slots
//   asm <instruction>              one instruction; "@name" is replaced by the
//                                  id of the user function name (visible from
//                                  the library; a forward reference is made
//                                  when there is none)
//   ref name                       a forward reference to name in the library
//   fail N                         the compilation fails with status N
//   values N                       top-level code leaves N values
//   names N                        top-level code needs N workspace names (182 when they do not fit)
// Other lines are ignored (comments, "end", "endfunction", use lines).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/calls.h"
#include "engine/core/errors.h"
#include "engine/core/fntable.h"
#include "engine/core/frames.h"
#include "engine/core/heap.h"
#include "engine/core/libraries.h"
#include "engine/core/symbols.h"
#include "engine/core/value_stack.h"
#include "support/asm.h"

// Attaches the engine's message table, so that raised errors read as text.
inline void register_error_table(EngineContext* c) {
  static BuiltinEntry rows[2] = {};
  std::strncpy(rows[0].name, "+errmsgtable", sizeof rows[0].name - 1);
  rows[0].fn = errmsg_table_as_fn(kEngineErrorTable);
  EXPECT_EQ(engine_register_builtin_table(c, rows, 1), kOk);
}

// The report of the error just raised, as the user reads it.
inline std::string error_report(EngineContext* c, int code) {
  char buffer[124];
  int32_t n = 0;
  err_format_report(c, code, true, buffer, sizeof buffer, &n);
  return std::string(buffer, size_t(n));
}

// ---- Sources ---------------------------------------------------------------------

struct SourceStore {
  std::map<std::string, std::string> files;  // "name|extension"
  std::vector<std::string> asked;            // every request, "name|extension"
  int first_line = 0;

  void put(const std::string& name, const std::string& ext, const std::string& text) {
    files[name + "|" + ext] = text;
  }
  void library(const std::string& name, const std::string& text) { put(name, "zvl", text); }
  void function(const std::string& name, const std::string& text) { put(name, ".m", text); }
  int reads_of(const std::string& key) const {
    int n = 0;
    for (const auto& a : asked) n += a == key;
    return n;
  }
};

inline int store_hook(EngineContext*, const char* name, const char* ext, uint32_t, char* buffer, int32_t capacity,
                      int32_t* length, int32_t* first_line, uint8_t* found, uintptr_t data) {
  auto* store = reinterpret_cast<SourceStore*>(data);
  const std::string key = std::string(name) + "|" + (ext ? ext : "");
  store->asked.push_back(key);
  auto it = store->files.find(key);
  if (it == store->files.end()) return kFileNotFound;
  if (int64_t(it->second.size()) > capacity) return kDataStackOverflow;
  std::memcpy(buffer, it->second.data(), it->second.size());
  *length = int32_t(it->second.size());
  *first_line = store->first_line;
  *found = 1;
  return kOk;
}

template <typename Hook>
inline BuiltinEntry hook_row(const char* name, Hook hook, uintptr_t data) {
  BuiltinEntry e{};
  e.fn = reinterpret_cast<BuiltinFn>(reinterpret_cast<void (*)()>(hook));
  e.data = data;
  std::strncpy(e.name, name, sizeof e.name - 1);
  return e;
}

inline BuiltinEntry fn_row(const char* name, BuiltinFn fn, uint8_t min_in, uint8_t max_in, uint8_t min_out,
                           uint8_t max_out, int32_t class_word = 0, uintptr_t data = 0) {
  BuiltinEntry e{};
  e.fn = fn;
  e.data = data;
  e.class_word = class_word;
  std::strncpy(e.name, name, sizeof e.name - 1);
  e.min_in = min_in;
  e.max_in = max_in;
  e.min_out = min_out;
  e.max_out = max_out;
  return e;
}

inline BuiltinEntry marker_row(const char* name) {
  BuiltinEntry e{};
  std::strncpy(e.name, name, sizeof e.name - 1);
  return e;
}

// ---- Compiler ------------------------------------------------------------------------

struct CompileRecord {
  int32_t function_id;
  int32_t library;
  std::string text;
  uint32_t flags;
};

struct FakeCompiler {
  static inline std::vector<CompileRecord> log;
  CompileSourceFn previous;
  FakeCompiler() : previous(fn_set_compiler(&compile)) { log.clear(); }
  ~FakeCompiler() { fn_set_compiler(previous); }

  static std::vector<std::string> split_names(const std::string& s) {
    std::vector<std::string> out;
    std::string cur;
    for (char ch : s) {
      if (srclex_ident(ch)) {
        cur += ch;
      } else if (!cur.empty()) {
        out.push_back(cur);
        cur.clear();
      }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
  }
  static bool srclex_ident(char ch) { return std::isalnum(static_cast<unsigned char>(ch)) || ch == '_'; }

  static int32_t id_of(EngineContext* c, int32_t library, const std::string& name) {
    int32_t id = fn_find_user(c, name.data(), int32_t(name.size()), nullptr, 0, library, 1, nullptr);
    if (id > 0) return id;
    if (fn_table_define(c, name.data(), int32_t(name.size()), nullptr, 0, library, 0, 0, kNoLibrary, &id) != kOk)
      return -1;
    return id;
  }

  static int compile(EngineContext* c, int32_t library, const char* text, int32_t length, uint16_t* code,
                     int64_t capacity, int64_t* code_words, int32_t function_id, uint32_t flags, int32_t* values) {
    const std::string src(text, size_t(length));
    log.push_back({function_id, library, src, flags});
    std::istringstream in(src);
    std::string line;
    std::vector<std::string> outs, ins;
    bool header = false, define = false;
    int extra = 0;
    std::string body;
    while (std::getline(in, line)) {
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
      size_t p = line.find_first_not_of(" \t");
      if (p == std::string::npos) continue;
      std::string t = line.substr(p);
      auto word = [&](const char* w) { return t.rfind(w, 0) == 0; };
      if (word("function ") && !header) {
        header = true;
        std::string h = t.substr(9);
        size_t eq = h.find('=');
        size_t open = h.find('(');
        if (eq != std::string::npos && (open == std::string::npos || eq < open)) {
          outs = split_names(h.substr(0, eq));
          h = h.substr(eq + 1);
          open = h.find('(');
        }
        if (open != std::string::npos) ins = split_names(h.substr(open, h.find(')') - open));
      } else if (word("define ") && !header) {
        header = define = true;
      } else if (word("locals ")) {
        extra = std::stoi(t.substr(7));
      } else if (word("fail ")) {
        return std::stoi(t.substr(5));
      } else if (word("values ")) {
        if (values) *values = std::stoi(t.substr(7));
      } else if (word("names ")) {
        const int n = std::stoi(t.substr(6));
        uint32_t* base = frame_words(c, 0);
        for (int k = int(base[kFwLocals]); k < n; ++k) {
          uint8_t* entry = frame_var_name_entry(c, k);
          if (!entry) return kVariableTableOverflow;
          std::snprintf(reinterpret_cast<char*>(entry), kFrameNameBytes, "v%d", k);
          base[kFwLocals] = uint32_t(k + 1);
        }
      } else if (word("ref ")) {
        std::string n = t.substr(4);
        int32_t id = 0;
        if (fn_find_user(c, n.data(), int32_t(n.size()), nullptr, 0, library, 1, nullptr) < 0 &&
            fn_table_define(c, n.data(), int32_t(n.size()), nullptr, 0, library, 0, 0, kNoLibrary, &id) != kOk)
          return kTooManyUserFunctions;
      } else if (word("asm ")) {
        std::string a = t.substr(4);
        for (size_t at; (at = a.find('@')) != std::string::npos;) {
          size_t e = at + 1;
          while (e < a.size() && srclex_ident(a[e])) ++e;
          const int32_t id = id_of(c, library, a.substr(at + 1, e - at - 1));
          if (id < 0) return kTooManyUserFunctions;
          a = a.substr(0, at) + std::to_string(id) + a.substr(e);
        }
        body += a + "\n";
      }
    }
    if (function_id != -1 && !header) return kFunctionHeaderExpected;
    std::vector<uint16_t> words;
    if (function_id != -1) {
      const int m = int(outs.size()), n = int(ins.size());
      const int locals = define ? 0 : m + n + extra;
      uint16_t flagword = define ? kHdrArgless : 0;
      if (!ins.empty() && ins.back() == "varargin") flagword |= kHdrVarargin;
      if (!outs.empty() && outs.back() == "varargout") flagword |= kHdrVarargout;
      words = {flagword, uint16_t(locals), uint16_t(define ? 0 : n), uint16_t(define ? 1 : m)};
      for (int k = 0; k < n && !define; ++k) words.push_back(uint16_t(m + k));
      std::vector<std::string> names = outs;
      names.insert(names.end(), ins.begin(), ins.end());
      for (int k = 0; k < locals; ++k) {
        char name[kFrameNameBytes] = {};
        if (k < int(names.size())) std::memcpy(name, names[k].data(), std::min(names[k].size(), sizeof name));
        for (int i = 0; i < kFrameNameBytes; i += 2)
          words.push_back(uint16_t(uint8_t(name[i]) | uint8_t(name[i + 1]) << 8));
      }
    }
    tnasm::AsmOptions opt;
    opt.base_words = int(words.size());
    const std::vector<uint16_t> ops = tnasm::asm_code(body, opt);
    words.insert(words.end(), ops.begin(), ops.end());
    if (int64_t(words.size()) > capacity) return kCodeOverflow;
    std::memcpy(code, words.data(), words.size() * 2);
    *code_words = int64_t(words.size());
    return kOk;
  }
};

// ---- Interpreter ---------------------------------------------------------------------
// Runs the instructions calls need: constants, locals, plus on real scalars,
// drops, user calls by id, library rows, returns and halt.

struct MiniRunner {
  InterpRunFn previous;
  MiniRunner() : previous(interp_set_runner(&run)) {}
  ~MiniRunner() { interp_set_runner(previous); }

  static uint16_t* pc_of(EngineContext* c) {
    switch (c->pos.kind) {
      case kAreaCode: return code_words(c) + c->pos.offset / 2;
      case kAreaDataStack: return reinterpret_cast<uint16_t*>(reinterpret_cast<uint8_t*>(data_words(c)) + c->pos.offset);
      default: return nullptr;
    }
  }
  static void set_pc(EngineContext* c, const uint16_t* pc) {
    const uint8_t* base = c->pos.kind == kAreaCode ? reinterpret_cast<const uint8_t*>(code_words(c))
                                                   : reinterpret_cast<const uint8_t*>(data_words(c));
    c->pos.offset = uint32_t(reinterpret_cast<const uint8_t*>(pc) - base);
  }
  static int load_local(EngineContext* c, int slot) {
    const int32_t index = int32_t(frame_words(c, c->frame)[kFrameFixedWords + slot]);
    if (index <= 0) return 120;
    const uint32_t* h = reinterpret_cast<const uint32_t*>(heap_words(c) + index);
    const uint32_t words = item_data_words(h[0], h[1], h[2]);
    if (!desc_room(c) || words >= data_free_words(c)) return kStackOverflow;
    const uint32_t kind = h[0], a = h[1], b = h[2];
    uint64_t* p = stk_claim(c, kind, a, b, words);
    std::memcpy(p, heap_words(c) + index + kHeapValueHeaderWords, size_t(words) * 8);
    return kOk;
  }
  static int store_local(EngineContext* c, int slot) {
    const uint32_t* d = desc_at(c, 0);
    const uint32_t words = desc_data_words(d);
    int32_t index = 0;
    TN_TRY(heap_alloc(c, words + kHeapValueHeaderWords, &index));
    uint32_t* h = reinterpret_cast<uint32_t*>(heap_words(c) + index);
    h[0] = d[0];
    h[1] = d[1];
    h[2] = d[2];
    h[3] = 0;
    std::memcpy(heap_words(c) + index + kHeapValueHeaderWords, item_data(c, 0), size_t(words) * 8);
    uint32_t& s = frame_words(c, c->frame)[kFrameFixedWords + slot];
    heap_free(c, int32_t(s));
    s = uint32_t(index);
    stk_drop(c);
    return kOk;
  }

  static inline int steps_limit = 100000;

  static int run(EngineContext* c, int) {
    for (int steps = 0; steps < steps_limit; ++steps) {
      uint16_t* pc = pc_of(c);
      if (!pc) return kOk;
      const uint16_t op = pc[0];
      const int len = op >= kFirstLibraryOpcode ? kLibraryCallWords : insn_length(pc);
      set_pc(c, pc + len);
      int status = kOk;
      switch (op) {
        case kOpNop: break;
        case kOpPushZero: status = stk_push_real(c, 0); break;
        case kOpPushOne: status = stk_push_real(c, 1); break;
        case kOpPushInt16: status = stk_push_real(c, int16_t(pc[1])); break;
        case kOpPushNoValue: status = stk_push_no_value(c); break;
        case kOpPopItem: stk_drop(c); break;
        case kOpLoadLocal: status = load_local(c, pc[1]); break;
        case kOpStoreLocal: status = store_local(c, pc[1]); break;
        case kOpPlus: {
          double b = 0, a = 0;
          status = stk_pop_real_scalar(c, &b);
          if (status == kOk) status = stk_pop_real_scalar(c, &a);
          if (status == kOk) status = stk_push_real(c, a + b);
          break;
        }
        case kOpCallUser: {
          int32_t n = 0;
          const char* text = nullptr;
          fn_name_by_id(c, pc[1], &text, &n);
          const std::string name(text, size_t(n));
          status = fn_call(c, name.c_str(), frame_current_function(c), int16_t(pc[2]), int16_t(pc[3]), 0, 0);
          break;
        }
        case kOpRetFunction:
        case kOpHalt:
          status = frame_pop(c);
          if (status == kOk && c->pos.kind == kAreaNone) return kOk;
          break;
        default:
          if (op < kFirstLibraryOpcode) return kNotSupported;
          const BuiltinEntry* row = lib_entry_by_index(c, op - kFirstLibraryOpcode);
          if (!row || !row->fn) return kNotSupported;
          status = row->fn(c, int16_t(pc[1]), int16_t(pc[2]), builtin_data(c, row));
      }
      if (status != kOk) return status;
    }
    return kSliceEnded;
  }
};
