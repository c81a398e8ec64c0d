// Compiles ZVR text in a fresh engine for tests: top-level code (in the base
// workspace) or one function, at a chosen optimisation level, giving the
// status, the disassembly of the code and the error report.
#pragma once

#include <string>
#include <vector>

#include "engine/core/compiler.h"
#include "engine/core/errors.h"
#include "engine/core/frames.h"
#include "engine/core/symbols.h"
#include "support/asm.h"
#include "support/engine_block.h"

struct CompileOutcome {
  int status = 0;
  std::vector<uint16_t> code;
  std::string text;     // disassembly of the code (after the header for functions)
  std::string report;   // the error report when status is not 0
  int32_t values = 0;
  int64_t code_start = 0;  // first instruction (after a function's header)
  std::vector<uint16_t> header;  // a function's header words (flags, locals, in, out, input slots)
};

struct CompileOptions {
  int level = 0;
  bool positions = false;
  bool opt_flag = false;
  uint32_t flags = 0;
  int32_t function_id = -1;  // -1 top-level; 0 defines a function "f" first; -2 inline
};

// Expands a golden listing written one instruction after another, "; "
// between them ("push_one; L1:; halt"), into the disassembler's layout: a
// label alone on its line, every instruction indented by two blanks. A "; "
// inside a quoted operand does not separate.
inline std::string code_lines(const std::string& compact) {
  std::string out, item;
  bool quoted = false, escaped = false;
  auto flush = [&] {
    const bool label = item.size() > 2 && item[0] == 'L' && item.back() == ':' &&
                       item.find_first_not_of("0123456789", 1) == item.size() - 1;
    out += (label ? "" : "  ") + item + "\n";
    item.clear();
  };
  for (size_t i = 0; i < compact.size(); ++i) {
    const char c = compact[i];
    if (!quoted && c == ';' && i + 1 < compact.size() && compact[i + 1] == ' ') {
      flush();
      ++i;
      continue;
    }
    item += c;
    if (escaped) {
      escaped = false;
    } else if (quoted && c == '\\') {
      escaped = true;
    } else if (c == '"') {
      quoted = !quoted;
    }
  }
  flush();
  return out;
}

class CompileHarness {
 public:
  // extra: rows registered behind the error table (library functions), ended
  // by the table's empty row.
  explicit CompileHarness(std::vector<BuiltinEntry> extra = {}, uint32_t block = 1u << 20)
      : engine_(EngineBlock::make(block)) {
    rows_.resize(1);
    std::strcpy(rows_[0].name, kHookErrMsgTable);
    rows_[0].fn = errmsg_table_as_fn(kEngineErrorTable);
    rows_.insert(rows_.end(), extra.begin(), extra.end());
    rows_.push_back(BuiltinEntry{});
    EXPECT_EQ(engine_register_builtin_table(ctx(), rows_.data(), 1), kOk);
  }
  EngineContext* ctx() { return engine_.ctx(); }

  int32_t define(const char* name) {
    int32_t id = -1;
    EXPECT_EQ(fn_table_define(ctx(), name, int32_t(std::strlen(name)), nullptr, 0, 0, 0, 0, kNoLibrary, &id), kOk);
    return id;
  }

  CompileOutcome run(const std::string& src, const CompileOptions& o = {}) {
    EngineContext* c = ctx();
    compile_set_optimisation(c, o.level, o.opt_flag ? 1 : 0);
    compile_set_debug_info(c, o.positions ? 1 : 0);
    CompileOutcome out;
    std::vector<uint16_t> buf(1 << 16);
    int64_t words = 0;
    int32_t id = o.function_id;
    uint32_t flags = o.flags;
    if (id == 0) id = define("f");
    if (id != -1) flags |= kCompileHeaderExpected | kCompileDefineAllowed;
    out.status = compile_source(c, 0, src.data(), int32_t(src.size()), buf.data(), int64_t(buf.size()), &words,
                                id, flags, &out.values);
    if (out.status != kOk) {
      char report[kReportBufferBytes];
      int32_t n = 0;
      err_format_report(c, out.status, true, report, sizeof report, &n);
      out.report.assign(report, size_t(n));
      return out;
    }
    out.code.assign(buf.begin(), buf.begin() + words);
    int64_t start = 0;
    if (id != -1) {
      const uint16_t* h = buf.data();
      start = kHdrInputSlots + h[kHdrMaxIn] + ((h[kHdrFlags] & kHdrNoNames) ? 0 : int64_t(h[kHdrLocals]) * 16);
      out.header.assign(h, h + kHdrInputSlots + h[kHdrMaxIn]);
    }
    out.code_start = start;
    tnasm::DisasmOptions d;
    d.base_words = int(start % 4);
    out.text = tnasm::disassemble(buf.data() + start, size_t(words - start), d);
    return out;
  }

 private:
  EngineBlock engine_;
  std::vector<BuiltinEntry> rows_;
};
