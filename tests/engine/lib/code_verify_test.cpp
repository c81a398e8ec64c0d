// Compiled code in engine images: every function the compiler writes loads
// and runs alike; code damaged in any word that names something (an
// instruction length, a jump target, a local, a name, a function, a built-in
// row, an argument count) is refused at load with the context left empty;
// and a sweep over every code word shows that whatever loads runs without
// reading outside the block (the sanitizer build sees any such read).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/core/fntable.h"
#include "engine/core/frames.h"
#include "engine/core/opcodes.h"
#include "engine/core/snapshot.h"
#include "support/snapshot_writer.h"
#include "support/zvr_session.h"

namespace {

constexpr uint32_t kBlockBytes = 1u << 20;

// Functions that between them use every kind of operand word the compiler
// writes: locals, jumps of every form, try handlers, names of fields,
// calls by id and by name, strings, doubles, wide integers, globals.
const char kSource[] =
    "function r = cv_loops(n)\n"
    " r = 0; k = 0;\n"
    " for i = 1:n\n  r = r + i;\n  if r > 100, break; end\n end\n"
    " for v = [2 4 6]\n  r = r + v;\n end\n"
    " while k < 3\n  k = k + 1;\n  if k == 2, continue; end\n  r = r - 1;\n end\n"
    " repeat\n  k = k - 1;\n until k <= 0\n"
    "endfunction\n"
    "function r = cv_branches(x)\n"
    " switch x\n  case 1\n   r = 'one';\n  case {2, 3}\n   r = 'few';\n  otherwise\n   r = 'many';\n end\n"
    " if x > 2 && x < 10 || ~x, r = [r '!']; elseif x == 2, r = [r '?']; else r = [r '.']; end\n"
    "endfunction\n"
    "function [a, b] = cv_values(x)\n"
    " global cv_g;\n persistent p;\n if isempty(p), p = 0; end\n p = p + 1;\n"
    " cv_g = x;\n s.name = 'n'; s.v = {1, 'two', 2.5e300};\n"
    " a = s.v{3} * 0 + 1.25 + int32(70000) + double(uint64(5));\n"
    " b = numel(s.name) + cv_helper(x) + feval('cv_helper', x) + size(zeros(2, 3), 2);\n"
    " try\n  error('cv:id', 'failed %d', x);\n catch\n  b = b + 1;\n end\n"
    "endfunction\n"
    "function y = cv_helper(x)\n y = x(end) * 2;\n x(2) = 5;\n y = y + x(2);\nendfunction\n"
    "function varargout = cv_out(varargin)\n for k = 1:nargout, varargout{k} = varargin{k}; end\nendfunction\n";

// The calls that run every function above.
const char* const kCalls[] = {"cv_loops(20)",   "cv_loops(5)",  "cv_branches(1)", "cv_branches(3)",
                              "cv_branches(2)", "cv_values(4)", "cv_helper(3)",   "cv_out(7, 8)"};

struct Session {
  ZvrSession s{kBlockBytes};
  int polls = 0;
  int budget = 0;
  static uint8_t poll(void* arg) {
    auto* self = static_cast<Session*>(arg);
    return ++self->polls > self->budget ? 1 : 0;
  }
  // Calls run with a budget of backward jumps and calls, so that a damaged
  // loop ends.
  void limit(int n) {
    budget = n;
    engine_set_option_pair(s.c, &Session::poll, this);
  }
  // Runs a statement a slice at a time (the abort poll is asked at every
  // backward jump), then unwinds whatever it left.
  void run_sliced(const std::string& statement) {
    polls = 0;
    const std::string text = statement + ";\n";
    int status = exec_command_line(s.c, text.data(), int32_t(text.size()), 0);
    for (int turns = 0; status == kSliceEnded && turns < budget; ++turns) status = interp_run(s.c, 1);
    frame_unwind(s.c, 0);
    s.take_output();
  }
};

// The image of a session that compiled kSource; with `values`, what each
// call gives in that session once the image is written.
std::vector<uint8_t> compiled_image(int level = 0, std::vector<std::string>* values = nullptr) {
  Session w;
  compile_set_optimisation(w.s.c, level, 0);
  EXPECT_EQ(w.s.run(kSource), kOk) << w.s.take_output();
  std::vector<uint8_t> image = write_engine_image(w.s.c);
  if (values)
    for (const auto& call : kCalls) values->push_back(w.s.value(call));
  return image;
}

// Code words of the image: where the code section starts and how long it is.
struct CodeSection {
  size_t at, words;
};
CodeSection code_section(const std::vector<uint8_t>& image) {
  const uint32_t d = tn::get_le32(image.data() + kImgDescTop), t = tn::get_le32(image.data() + kImgDataTop);
  const uint32_t h = tn::get_le32(image.data() + kImgHeapWords), f = tn::get_le32(image.data() + kImgFnCount);
  const uint32_t c = tn::get_le32(image.data() + kImgCodeWords);
  return {kImageHeaderBytes + size_t(d) * 4 + size_t(t) * 8 + size_t(h) * 8 + size_t(f) * 16, c};
}

uint16_t code_word(const std::vector<uint8_t>& image, const CodeSection& cs, size_t k) {
  return uint16_t(image[cs.at + 2 * k] | image[cs.at + 2 * k + 1] << 8);
}
void set_code_word(std::vector<uint8_t>* image, const CodeSection& cs, size_t k, uint16_t v) {
  (*image)[cs.at + 2 * k] = uint8_t(v);
  (*image)[cs.at + 2 * k + 1] = uint8_t(v >> 8);
}

// The instruction starts of every compiled function in a loaded context, in
// code words from the first word behind the table.
std::vector<size_t> instruction_starts(EngineContext* c) {
  std::vector<size_t> starts;
  const int64_t behind = int64_t(c->fn_capacity) * kEntryCodeWords;
  for (int32_t id = 1; id < c->fn_count; ++id) {
    const uint16_t* h = fn_code_header(c, id);
    if (!h) continue;
    const int64_t end = code_block_end(c, uint32_t(ent(c, id, kEntCode)));
    int64_t at = ent(c, id, kEntCode) + code_header_words(h);
    const uint16_t* code = code_words(c);
    while (at < end) {
      starts.push_back(size_t(at - behind));
      if (code[at] == kOpRetFunction || code[at] == kOpHalt) break;
      at += insn_length(code + at);
    }
  }
  return starts;
}

TEST(CodeVerify, EveryCompiledFunctionLoadsAndRunsAlike) {
  for (int level : {0, 2, 4}) {
    std::vector<std::string> expected;
    const std::vector<uint8_t> image = compiled_image(level, &expected);
    Session r;
    ASSERT_EQ(load_image(r.s.c, image), kOk);
    for (size_t k = 0; k < std::size(kCalls); ++k) {
      EXPECT_EQ(r.s.value(kCalls[k]), expected[k]) << kCalls[k];
      EXPECT_EQ(expected[k].rfind("error", 0), std::string::npos) << kCalls[k];
    }
  }
}

// One damage per row: the first instruction with that opcode in the named
// function gets a new operand word (or a new opcode word); the image is
// refused and the context is left empty.
struct Damage {
  const char* what;
  const char* function;
  uint16_t opcode;
  int word;  // 0 the opcode word, k the k-th operand word
  std::function<uint16_t(uint16_t)> change;
};

TEST(CodeVerify, DamagedOperandsAreRefusedAtLoad) {
  const std::vector<uint8_t> image = compiled_image();
  Session probe;
  ASSERT_EQ(load_image(probe.s.c, image), kOk);
  EngineContext* pc = probe.s.c;
  const int64_t behind = int64_t(pc->fn_capacity) * kEntryCodeWords;
  const CodeSection cs = code_section(image);

  const Damage damages[] = {
      {"jump past the function's end", "cv_loops", kOpJump, 1, [](uint16_t v) { return uint16_t(v + 4000); }},
      {"jump into an operand", "cv_loops", kOpJumpIfFalse, 1, [](uint16_t v) { return uint16_t(v + 1); }},
      {"jump before the code", "cv_loops", kOpJump, 1, [](uint16_t) { return uint16_t(0x8000); }},
      {"for exit outside", "cv_loops", kOpForRangeNext, 1, [](uint16_t) { return uint16_t(0x7fff); }},
      {"case jump outside", "cv_branches", kOpCaseTest, 1, [](uint16_t) { return uint16_t(0x9000); }},
      {"try handler outside", "cv_values", kOpTryHandler, 1, [](uint16_t) { return uint16_t(0x7000); }},
      {"local past the function's locals", "cv_helper", kOpLoadLocal, 1, [](uint16_t) { return uint16_t(40); }},
      {"negative local", "cv_helper", kOpStoreLocal, 1, [](uint16_t) { return uint16_t(0xffff); }},
      {"global flag", "cv_values", kOpDeclareGlobal, 2, [](uint16_t) { return uint16_t(7); }},
      {"field name off a symbol", "cv_values", kOpRefField, 1, [](uint16_t v) { return uint16_t(v + 1); }},
      {"field name as no symbol", "cv_values", kOpRefField, 1, [](uint16_t) { return uint16_t(5); }},
      {"function id out of the table", "cv_values", kOpCallUser, 1, [](uint16_t) { return uint16_t(3000); }},
      {"function id of entry 0", "cv_values", kOpCallUser, 1, [](uint16_t) { return uint16_t(0); }},
      {"negative argument count", "cv_values", kOpCallUser, 2, [](uint16_t) { return uint16_t(0xfff0); }},
      {"result count below -1", "cv_values", kOpCallUser, 3, [](uint16_t) { return uint16_t(0xfffe); }},
      {"intrinsic inputs past its maximum", "cv_values", kOpZeros, 1, [](uint16_t) { return uint16_t(40); }},
      {"intrinsic outputs past its maximum", "cv_values", kOpSize, 2, [](uint16_t) { return uint16_t(30); }},
      {"string longer than the function", "cv_branches", kOpPushString8, 1, [](uint16_t) { return uint16_t(0xfff0); }},
      {"negative opcode", "cv_helper", kOpRetFunction, 0, [](uint16_t) { return uint16_t(0x8123); }},
      {"library row past the tables", "cv_helper", kOpRetFunction, 0, [](uint16_t) { return uint16_t(0x7ff0); }},
      {"return lost: code falls off its end", "cv_helper", kOpRetFunction, 0, [](uint16_t) { return uint16_t(kOpNop); }},
      {"list count negative", "cv_out", kOpRefElement, 1, [](uint16_t) { return uint16_t(0xffff); }},
      {"position names a variable", "cv_loops", kOpPosition, 1, [](uint16_t) { return uint16_t(0x7ffe); }},
  };
  for (const Damage& d : damages) {
    int32_t id = 0;
    ASSERT_EQ(fn_find_user_simple(pc, d.function, int32_t(std::strlen(d.function)), 0, &id), kOk) << d.what;
    ASSERT_GT(id, 0) << d.what;
    const uint16_t* h = fn_code_header(pc, id);
    ASSERT_NE(h, nullptr) << d.what;
    int64_t at = ent(pc, id, kEntCode) + code_header_words(h);
    const uint16_t* code = code_words(pc);
    while (code[at] != d.opcode) at += insn_length(code + at);
    const size_t k = size_t(at - behind) + size_t(d.word);
    std::vector<uint8_t> bad = image;
    set_code_word(&bad, cs, k, d.change(code_word(image, cs, k)));
    Session r;
    EXPECT_EQ(load_image(r.s.c, bad), kInitError) << d.what;
    EXPECT_EQ(r.s.c->fn_count, 1) << d.what;
    EXPECT_EQ(r.s.c->pos.kind, kAreaNone) << d.what;
  }
}

// Every word of the code changed in several ways, try instructions
// included: what loads runs every call within a budget and ends (a damaged
// try once left its handler armed, and an error in the catch code looped
// back into it). The normal build sees only statuses; the sanitizer build
// sees any read outside the block.
TEST(CodeVerify, EveryCodeWordDamagedLoadsSafelyOrIsRefused) {
  const std::vector<uint8_t> image = compiled_image();
  const CodeSection cs = code_section(image);
  Session probe;
  ASSERT_EQ(load_image(probe.s.c, image), kOk);
  const std::vector<size_t> starts = instruction_starts(probe.s.c);
  int loaded = 0, refused = 0;
  for (size_t k = 0; k < cs.words; ++k) {
    const bool opcode = std::find(starts.begin(), starts.end(), k) != starts.end();
    for (uint16_t mask : {uint16_t(0x0001), uint16_t(0x0100), uint16_t(0x00ff), uint16_t(opcode ? 0x0003 : 0x8000)}) {
      std::vector<uint8_t> bad = image;
      set_code_word(&bad, cs, k, uint16_t(code_word(image, cs, k) ^ mask));
      Session r;
      if (load_image(r.s.c, bad) != kOk) {
        ++refused;
        continue;
      }
      ++loaded;
      r.limit(200);
      for (const char* call : kCalls) r.run_sliced(call);
    }
  }
  EXPECT_GT(refused, 0);
  EXPECT_GT(loaded, 0);
}

}  // namespace
