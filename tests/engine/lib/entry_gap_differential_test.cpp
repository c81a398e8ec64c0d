// Random programs of cell stores, run with the entry gap and without it: the
// output and the final value of every program must be the same, word for
// word, at the compiler's lowest and highest levels, and in an engine whose
// block moves (and whose old copy is poisoned) after every slice. The
// programs change entries' lengths in runs (so that the gap opens), store
// into entries (c{i}(j), c{i}{j}, c{i}.f), delete and grow, read, use end,
// call functions and eval inside subscripts (which edit the very cell the
// caller is indexing), catch errors between stores, and leave loops by
// break, continue and return; a global cell is edited by the functions
// that its caller's subscripts call.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/core/calls.h"
#include "engine/core/entry_gap.h"
#include "engine/core/frames.h"
#include "engine/core/interp.h"
#include "engine/core/snapshot.h"
#include "engine/core/streams.h"
#include "engine/lib/engine_start.h"
#include "support/heap_check.h"
#include "support/zvr_session.h"

namespace {

// The helpers every program may call: ser writes any value as text, f and
// h store into their own copy (h leaves its loop by return), id and gid
// return their argument (gid after editing the global cell).
constexpr char kHelpers[] =
    "function s = ser(v)\n"
    "  if iscell(v)\n"
    "    s = '{';\n"
    "    for q = 1:numel(v), s = [s ser(v{q}) ';']; end\n"
    "    s = [s '}'];\n"
    "  elseif isstruct(v)\n"
    "    f = fieldnames(v); s = 'S(';\n"
    "    for q = 1:numel(f), s = [s f{q} '=' ser(v.(f{q})) ';']; end\n"
    "    s = [s ')'];\n"
    "  else\n"
    "    s = [class(v) sprintf('[%d %d]', size(v, 1), size(v, 2)) sprintf('%g,', double(v))];\n"
    "  end\n"
    "endfunction\n"
    "function y = id(x)\n"
    "  y = x;\n"
    "endfunction\n"
    "function c = f(c, i)\n"
    "  for q = 1:6, c{mod(i + q, numel(c)) + 1} = q * ones(1, mod(i * q, 9)); end\n"
    "endfunction\n"
    "function c = h(c, i)\n"
    "  for q = 1:20\n"
    "    c{mod(i + 2 * q, numel(c)) + 1} = char(96 + (1:mod(q, 10)));\n"
    "    if q == mod(i, 7) + 3, return; end\n"
    "  end\n"
    "endfunction\n"
    "function y = gid(x, i)\n"
    "  global gc\n"
    "  gc{mod(i, numel(gc)) + 1} = ones(1, mod(i, 11));\n"
    "  gc{mod(i + 5, numel(gc)) + 1} = {i, 'x'};\n"
    "  y = x;\n"
    "endfunction\n";

class ProgramMaker {
 public:
  explicit ProgramMaker(uint32_t seed) : rng_(seed) {}

  std::string program() {
    n_ = pick(70, 130);
    std::string s = "global gc\ngc = num2cell(1:" + std::to_string(pick(60, 120)) + ");\n";
    s += pick(0, 1) ? "c = cell(1, " + std::to_string(n_) + ");\n"
                    : "c = num2cell(1:" + std::to_string(n_) + ");\n";
    // Entries of some length first, so that the stores behind move a tail.
    s += "for k = 1:numel(c), c{k} = k * ones(1, " + std::to_string(pick(5, 8)) + "); end\n";
    const int blocks = pick(4, 9);
    s += "k0 = " + num(1, 40) + ";\n";
    for (int b = 0; b < blocks; ++b) s += (pick(0, 2) ? loop() : statement("k0")) + "\n";
    s += "disp(ser(c));\ndisp(ser(gc));\n";
    return s;
  }

 private:
  int pick(int a, int b) { return a + int(rng_() % uint32_t(b - a + 1)); }
  std::string num(int a, int b) { return std::to_string(pick(a, b)); }

  // A loop of a few statements, which may leave early.
  std::string loop() {
    const std::string var = "k" + std::to_string(depth_);
    std::string s = "for " + var + " = " + (pick(0, 3) ? "1:" + num(4, 24) : num(10, 30) + ":-1:1") + "\n";
    ++depth_;
    const int m = pick(1, 4);
    for (int i = 0; i < m; ++i) s += (depth_ < 2 && !pick(0, 9) ? loop() : statement(var)) + "\n";
    --depth_;
    if (!pick(0, 4)) s += "  if " + var + " == " + num(2, 20) + ", break; end\n";
    if (!pick(0, 4))
      s += "  if mod(" + var + ", 3) == 0, continue; end\n  try, c{" + index(var) + "} = " + var + "; catch, end\n";
    return s + "end";
  }

  // An entry of c: a number, one from the loop variable, or from end.
  std::string index(const std::string& k) {
    switch (pick(0, 9)) {
      case 0: return num(1, n_ + 3);
      case 1: return "end";
      case 2: return "end - " + num(0, 5);
      case 3: return "id(" + num(1, n_) + ")";
      case 4: return "n_(" + k + ")";
      default: return "mod(" + k + " * " + num(1, 13) + " + " + num(0, 50) + ", numel(c)) + 1";
    }
  }

  // A value of a length that varies from store to store.
  std::string value(const std::string& k) {
    const std::string len = pick(0, 1) ? num(0, 14) : "mod(" + k + ", " + num(2, 15) + ")";
    switch (pick(0, 9)) {
      case 0: return "char(96 + (1:" + len + "))";
      case 1: return "{" + k + ", ones(1, " + len + ")}";
      case 2: return "int8(" + k + " + (1:" + len + "))";
      case 3: return "[]";
      case 4: return "struct('f', " + k + ", 'g', ones(1, " + len + "))";
      case 5: return "c{" + num(1, n_) + "}";
      case 6: return "{}";
      default: return k + " * ones(1, " + len + ")";
    }
  }

  // Text inside a quoted string: its quotes doubled.
  static std::string quoted(const std::string& text) {
    std::string s;
    for (char ch : text) s += ch == '\'' ? std::string("''") : std::string(1, ch);
    return s;
  }

  // One statement; those that may fail are caught, and the error's text
  // goes to the output.
  std::string statement(const std::string& k) {
    const std::string i = index(k);
    std::string s;
    switch (pick(0, 23)) {
      case 0: case 1: case 2: case 3: case 4: case 5: case 6:
        s = "c{" + i + "} = " + value(k) + ";";
        break;
      case 7: s = "c(" + i + ") = {" + value(k) + "};"; break;
      case 8: s = "c{" + i + "}(" + num(1, 16) + ") = " + k + ";"; break;
      case 9: s = "c{" + i + "}{" + num(1, 4) + "} = " + value(k) + ";"; break;
      case 10: s = "c{" + i + "}.f = " + k + ";"; break;
      case 11: s = "c(" + i + ") = [];"; break;
      case 12: s = "c{" + i + "}(" + num(1, 3) + ") = [];"; break;
      case 13: s = "c{end + 1} = " + value(k) + ";"; break;
      case 14: s = "t = c{" + i + "}; disp(numel(t));"; break;
      case 15:
        s = "x = c{" + i + "}(eval('c{" + num(1, n_) + "} = " + quoted(value("3")) + "; c{" + num(1, n_) + "} = ''zz''; 1')); disp(x);";
        break;
      case 16: s = "c{" + i + "}(id(" + num(1, 4) + ")) = " + k + ";"; break;
      case 17: s = "c{eval('c{" + num(1, n_) + "} = ones(1, " + num(0, 12) + "); " + num(1, n_) + "')} = " + value(k) + ";"; break;
      case 18: s = "c = f(c, " + k + ");"; break;
      case 19: s = "c = h(c, " + k + ");"; break;
      case 20: s = "x = gc{" + num(1, 60) + "}(gid(1, " + k + ")); disp(x);"; break;
      case 21: s = "c{" + i + "}(end + 1) = c{end}(1);"; break;
      case 22: s = "disp(ser(c{" + i + "}));"; break;
      default: s = "gc{gid(" + num(1, 60) + ", " + k + ")} = " + value(k) + ";"; break;
    }
    return "  try, " + s + " catch, disp(lasterr); end";
  }

  std::mt19937 rng_;
  int n_ = 100;
  int depth_ = 0;
};

// Room enough that neither engine runs out of heap (the two lay their blocks
// out differently, and would not run out at the same store).
constexpr uint32_t kBlockBytes = 8u << 20;
// A moving engine moves at every this many slices (each move copies the block).
constexpr int kSlicesPerMove = 32;
constexpr size_t kOutputBytes = 1u << 20;

// An engine that runs command lines in slices, its output captured, with
// or without the gap, and optionally moving its block after every slice.
struct GapEngine {
  using Block = std::unique_ptr<uint64_t, decltype(&std::free)>;
  // calloc: the zeroed pages come as they are first touched.
  Block block{static_cast<uint64_t*>(std::calloc(kBlockBytes / 8, 8)), &std::free};
  EngineContext* c = nullptr;
  std::unique_ptr<char[]> out{new char[kOutputBytes]};
  uint32_t out_len = 0;
  bool moving = false;

  GapEngine(bool gap, int level, bool move) : moving(move) {
    EXPECT_EQ(engine_start(block.get(), kBlockBytes, &c), kOk);
    c->entry_gap_off = gap ? 0 : 1;
    compile_set_optimisation(c, level, 0);
    attach_output();
  }

  void attach_output() {
    c->capture = CaptureBuffer{out.get(), uint32_t(kOutputBytes), &out_len};
    io_set_redirect(c, kFdStderr, kFdCapture, 0);
    io_set_redirect(c, kFdStdout, kFdCapture, 0);
  }

  // The block moves; the old copy is poisoned.
  void move() {
    Block fresh(static_cast<uint64_t*>(std::malloc(kBlockBytes)), &std::free);
    std::memcpy(fresh.get(), block.get(), kBlockBytes);
    const ptrdiff_t at = reinterpret_cast<uint8_t*>(c) - reinterpret_cast<uint8_t*>(block.get());
    std::memset(block.get(), 0xDD, kBlockBytes);
    block.swap(fresh);
    c = reinterpret_cast<EngineContext*>(reinterpret_cast<uint8_t*>(block.get()) + at);
    ASSERT_EQ(engine_offsets_to_pointers(c, 0, 0), kOk);
    attach_output();
  }

  int run(const std::string& text) {
    int status = exec_command_line(c, text.data(), int32_t(text.size()), 0);
    for (int slice = 0; status == kSliceEnded; ++slice) {
      if (moving && slice % kSlicesPerMove == 0) move();
      status = interp_run(c, moving ? 1 : 0);
    }
    return status;
  }

  std::string output() const { return std::string(out.get(), out_len); }

  // The words of a base-workspace variable's value (no gap is open between runs).
  std::vector<uint64_t> value_words(const char* name) {
    const int32_t b = ZvrSession::base_variable_block(c, name);
    if (b < 1) return {};
    const uint64_t* base = heap_words(c) + b;
    const auto* h = reinterpret_cast<const uint32_t*>(base);
    return std::vector<uint64_t>(base, base + kHeapValueHeaderWords + item_data_words(h[0], h[1], h[2]));
  }
};

struct Outcome {
  int status;
  std::string output;
  std::vector<uint64_t> words;
};

// The engines, one for each way of running, started afresh every so many
// programs (starting one costs more than most programs do); a program
// assigns every variable it reads first.
constexpr int kProgramsPerEngine = 40;
std::unique_ptr<GapEngine> g_engines[2][2][2];

GapEngine& engine_for(bool gap, int level, bool move, int program) {
  std::unique_ptr<GapEngine>& e = g_engines[gap][level != 0][move];
  if (!e || program % kProgramsPerEngine == 0) {
    e = std::make_unique<GapEngine>(gap, level, move);
    EXPECT_EQ(e->run(kHelpers), kOk) << e->output();
    // n_(k): an index from the loop variable that stays inside most cells.
    EXPECT_EQ(e->run("n_ = @(k) mod(k * 17, 90) + 1;\n"), kOk) << e->output();
  }
  e->out_len = 0;
  return *e;
}

Outcome run_program(const std::string& text, bool gap, int level, bool move, int program) {
  GapEngine& e = engine_for(gap, level, move, program);
  Outcome o{e.run(text), e.output(), e.value_words("c")};
  EXPECT_EQ(e.c->entry_gap.block, 0);
  EXPECT_TRUE(check_heap_chain(e.c));
  return o;
}

TEST(EntryGapDifferential, RandomCellProgramsGiveThePlainStoresOutputAndValues) {
#if defined(TN_SANITIZED)
  constexpr int kPrograms = 600;
#else
  constexpr int kPrograms = 2000;
#endif
  const uint64_t opened_before = entry_gap_opened_count();
  int failed_runs = 0;
  for (int p = 0; p < kPrograms && failed_runs < 3; ++p) {
    ProgramMaker maker(20261208u + uint32_t(p));
    const std::string text = maker.program();
    if (const char* dump = std::getenv("TN_GAP_PROGRAM"); dump && std::atoi(dump) == p) std::fputs(text.c_str(), stdout);
    const int level = p % 2 ? 0 : 4;
    const Outcome plain = run_program(text, false, level, false, p);
    // Every statement catches its errors: the program runs to its end.
    ASSERT_EQ(plain.status, kOk) << "program " << p << ":\n" << plain.output << "\n" << text;
    ASSERT_LT(plain.output.size(), kOutputBytes) << "program " << p;
    // Every sixteenth program runs in an engine whose block moves between slices.
    const bool move = p % 16 == 1;
    const Outcome gapped = run_program(text, true, level, move, p);
    EXPECT_EQ(gapped.status, plain.status) << "program " << p;
    EXPECT_EQ(gapped.output, plain.output) << "program " << p << " at level " << level << "\n" << text;
    EXPECT_EQ(gapped.words, plain.words) << "program " << p;
    if (gapped.output != plain.output || gapped.words != plain.words) ++failed_runs;
  }
  // The programs did store through gaps, many times.
  EXPECT_GT(entry_gap_opened_count() - opened_before, uint64_t(kPrograms));
  for (auto& by_gap : g_engines)
    for (auto& by_level : by_gap)
      for (auto& e : by_level) e.reset();
}

}  // namespace
