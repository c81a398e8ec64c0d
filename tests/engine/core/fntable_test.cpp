// The function table: definitions, growth and code removal (functions stay
// callable, globals keep their heap blocks), compiling on demand through the
// compile step, and the pending scan.
#include <gtest/gtest.h>

#include "support/engine_block.h"
#include "support/fn_fakes.h"
#include "support/heap_check.h"

namespace {

constexpr uint32_t kBlockBytes = 256 * 1024;
constexpr uint32_t kSmallBlockBytes = 32 * 1024;  // symbols fill the code area before their own limit

struct FnTable : ::testing::Test {
  EngineBlock eng = EngineBlock::make(kBlockBytes);
  FakeCompiler compiler;
  MiniRunner runner;
  EngineContext* c = eng.ctx();

  int32_t define(const std::string& name, int32_t library = 0, int priv = 0) {
    int32_t id = 0;
    EXPECT_EQ(fn_table_define(c, name.data(), int32_t(name.size()), nullptr, 0, library, priv, 0, kNoLibrary, &id),
              kOk);
    return id;
  }
  int32_t compile(const std::string& name, const std::string& text) {
    int32_t id = 0;
    EXPECT_EQ(fn_define_from_source(c, name.data(), int32_t(name.size()), text.data(), int32_t(text.size()), 0, 0,
                                    0, &id),
              kOk);
    return id;
  }
  // Runs name(x) for the host and returns its single result.
  double call1(const std::string& name, double x) {
    EXPECT_EQ(stk_push_real(c, x), kOk);
    EXPECT_EQ(interp_call(c, name.c_str(), 0, 1, 1, 0, 0), kOk);
    double r = -1;
    EXPECT_EQ(stk_pop_real_scalar(c, &r), kOk);
    EXPECT_EQ(c->desc_top, kBaseFrameWords);
    return r;
  }
};

// add_k(x) = x + k, calling the next one down so that calls cross code blocks.
std::string adder(int k, const std::string& callee) {
  std::string s = "function y = add" + std::to_string(k) + "(x)\n";
  if (callee.empty()) {
    s += "asm load_local 1\nasm push_int16 " + std::to_string(k) + "\nasm plus\n";
  } else {
    s += "asm load_local 1\nasm call_user @" + callee + " 1 1\nasm push_int16 " + std::to_string(k) + "\nasm plus\n";
  }
  return s + "asm store_local 0\nasm load_local 0\nasm ret_function\nend\n";
}

TEST_F(FnTable, DefineFindsExistingEntryAndOnlyChangesPrivacy) {
  const int32_t id = define("f");
  EXPECT_EQ(ent(c, id, kEntCode), kCodeReferenced);
  EXPECT_EQ(define("f", 0, 1), id);
  EXPECT_TRUE(fn_entry(c, id)[kEntLink] & kEntryPrivate);
  EXPECT_EQ(define("f", 0, 0), id);
  EXPECT_FALSE(fn_entry(c, id)[kEntLink] & kEntryPrivate);
  EXPECT_EQ(c->fn_count, 2);

  int32_t other = 0;
  EXPECT_EQ(fn_table_define(c, "f", 1, "cls", 3, 0, 0, 0, kNoLibrary, &other), kOk);
  EXPECT_NE(other, id);  // a method of that name is another function
  EXPECT_EQ(fn_table_define(c, "f", 1, nullptr, 0, 5, 0, 0, kNoLibrary, &other), kBadArgument);
  const std::string name32(32, 'n');
  EXPECT_EQ(fn_table_define(c, name32.data(), 32, nullptr, 0, 0, 0, 0, kNoLibrary, &other), kOk);
  const std::string long_name(33, 'a');
  EXPECT_EQ(fn_table_define(c, long_name.data(), 33, nullptr, 0, 0, 0, 0, kNoLibrary, &other), kNameTooLong);
  EXPECT_EQ(fn_table_define(c, "", 0, nullptr, 0, 0, 0, 0, kNoLibrary, &other), kNullName);
}

TEST_F(FnTable, SecondLibraryAdoptsOnlyUncompiledPublicEntries) {
  int32_t lib = 0;
  ASSERT_EQ(lib_find_by_name(c, "lib", -1, 1, &lib), kOk);
  const int32_t fwd = define("g");  // a forward reference without library
  int32_t id = 0;
  ASSERT_EQ(fn_table_define(c, "g", 1, nullptr, 0, lib, 0, 1, 0, &id), kOk);
  EXPECT_EQ(id, fwd);
  EXPECT_EQ(ent_library(c, id), lib);
  EXPECT_TRUE(fn_entry(c, id)[kEntLink] & kEntryRestricted);

  const int32_t compiled = compile("h", "function h\nasm ret_function\n");
  ASSERT_EQ(fn_table_define(c, "h", 1, nullptr, 0, lib, 0, 0, 0, &id), kOk);
  EXPECT_NE(id, compiled);
  EXPECT_EQ(ent_library(c, compiled), 0);
}

TEST_F(FnTable, GrowthKeepsFunctionsCallableAndGlobalsInPlace) {
  const int32_t a0 = compile("add0", adder(0, ""));
  compile("add1", adder(1, "add0"));
  compile("add2", adder(2, "add1"));
  EXPECT_EQ(call1("add2", 10), 13);

  // A global variable entry holds a heap index in the word that holds code
  // offsets for functions: growth must leave it alone.
  int32_t sym = 0, block = 0, gid = 0;
  ASSERT_EQ(symtab_intern(c, "gv", 2, kIdentifierLimit, &sym), kOk);
  ASSERT_EQ(heap_alloc(c, 3, &block), kOk);
  ASSERT_EQ(fn_table_add(c, kEntryVariable, sym, block, kVariableGlobalOwner, &gid), kOk);

  const int32_t capacity = c->fn_capacity;
  const uint32_t code_off = uint32_t(ent(c, a0, kEntCode));
  const std::vector<uint16_t> before(code_words(c) + code_off, code_words(c) + c->code_free);
  while (c->fn_count < c->fn_capacity) define("filler" + std::to_string(c->fn_count));
  const int32_t extra = define("one_more");  // the table grows here
  EXPECT_GT(extra, 0);
  ASSERT_GT(c->fn_capacity, capacity);
  const uint32_t shift = uint32_t(c->fn_capacity - capacity) * kEntryCodeWords;
  EXPECT_EQ(uint32_t(ent(c, a0, kEntCode)), code_off + shift);
  EXPECT_EQ(std::vector<uint16_t>(code_words(c) + code_off + shift, code_words(c) + c->code_free), before);
  EXPECT_EQ(ent(c, gid, kEntCode), block);
  EXPECT_EQ(call1("add2", 10), 13);
}

TEST_F(FnTable, GrowthWaitsWhileCodeIsRunning) {
  compile("add0", adder(0, ""));
  c->pos = CodePosition{kAreaCode, 0, uint32_t(ent(c, 1, kEntCode)) * 2};
  const int32_t capacity = c->fn_capacity;
  fn_table_grow(c);
  EXPECT_EQ(c->fn_capacity, capacity);
  c->pos.kind = kAreaNone;
  fn_table_grow(c);
  EXPECT_GT(c->fn_capacity, capacity);
}

TEST_F(FnTable, GrowthStopsWhenTheCodeAreaIsFull) {
  EngineBlock small = EngineBlock::make(kSmallBlockBytes);
  EngineContext* c = small.ctx();
  // Fill the code area with symbols until fewer than 16 words are free.
  for (int k = 0;; ++k) {
    const std::string n = "s" + std::to_string(k) + std::string(24, 'x');
    int32_t sym = 0;
    if (symtab_intern(c, n.data(), int32_t(n.size()), kIdentifierLimit, &sym) != kOk) break;
  }
  while (c->fn_count < c->fn_capacity) {
    int32_t id = 0;
    ASSERT_EQ(fn_table_add(c, kEntryLibrary, 0, 0, 0, &id), kOk);
  }
  int32_t id = 0;
  EXPECT_EQ(fn_table_add(c, kEntryLibrary, 0, 0, 0, &id), kTooManyUserFunctions);
}

TEST_F(FnTable, RemovingCodeInTheMiddleKeepsLaterFunctionsCallable) {
  compile("add0", adder(0, ""));
  const int32_t mid = compile("mid", "function y = mid(x)\nlocals 3\nasm load_local 1\nasm ret_function\n");
  compile("add1", adder(1, "add0"));
  compile("add2", adder(2, "add1"));
  const uint32_t free_before = c->code_free;
  const uint32_t mid_start = uint32_t(ent(c, mid, kEntCode));
  const uint32_t size = code_block_end(c, mid_start) - mid_start;
  ASSERT_EQ(fn_code_remove(c, mid), kOk);
  EXPECT_EQ(ent(c, mid, kEntCode), kCodeNotCompiled);
  EXPECT_EQ(c->code_free, free_before - size);
  EXPECT_EQ(call1("add2", 1), 4);
  EXPECT_EQ(fn_code_remove(c, mid), kOk);  // nothing left to remove
}

TEST_F(FnTable, RemovalRefusesCodeThatAFrameStillRuns) {
  compile("add0", adder(0, ""));
  const int32_t a1 = compile("add1", adder(1, "add0"));
  const int32_t a0 = 1;
  // A frame running add0 from inside add1: add1's return position lies in
  // add1's code, above add0's.
  ASSERT_EQ(stk_push_real(c, 1), kOk);
  c->pos = CodePosition{kAreaCode, 0, uint32_t(ent(c, a1, kEntCode) + 40) * 2};
  ASSERT_EQ(fn_call(c, "add0", a1, 1, 1, 0, 0), kOk);
  EXPECT_EQ(fn_code_remove(c, a0), kFunctionRedefined);
  EXPECT_EQ(fn_code_remove(c, a1), kFunctionRedefined);
  EXPECT_GT(ent(c, a0, kEntCode), 0);
  ASSERT_EQ(frame_unwind(c, 0), kOk);
  EXPECT_EQ(fn_code_remove(c, a1), kOk);
  EXPECT_EQ(fn_code_remove(c, a0), kOk);
}

TEST_F(FnTable, CompileOnDemandPlacesAlignedCodeAndMarksRestrictedHeaders) {
  const int32_t id = define("r");
  const std::string text = "function r\nasm ret_function\n";
  c->code_free += 1;  // misaligned first free word
  ASSERT_EQ(fn_compile_on_demand(c, id, text.data(), int32_t(text.size()), 7, 1), kOk);
  EXPECT_EQ(ent(c, id, kEntCode) % kCodeAlignWords, 0);
  EXPECT_EQ(c->code_free % kCodeAlignWords, 0u);
  EXPECT_TRUE(fn_code_header(c, id)[kHdrFlags] & kHdrRestricted);
  EXPECT_EQ(FakeCompiler::log.back().text, text);
  EXPECT_EQ(FakeCompiler::log.back().function_id, id);
  EXPECT_EQ(fn_compile_on_demand(c, id, text.data(), int32_t(text.size()), 0, 0), kFunctionRedefined);
  EXPECT_EQ(fn_compile_on_demand(c, 9999, nullptr, 0, 0, 0), kUndefinedFunctionOrVariable);
}

TEST_F(FnTable, FailedCompilationLeavesNoTrace) {
  const int32_t id = define("bad");
  const uint32_t free_before = c->code_free;
  const std::string text = "function bad\nfail 150\n";
  EXPECT_EQ(fn_compile_on_demand(c, id, text.data(), int32_t(text.size()), 0, 0), 150);
  EXPECT_EQ(ent(c, id, kEntCode), kCodeNotCompiled);
  EXPECT_EQ(c->code_free, free_before);
  EXPECT_FALSE(c->compiling);
}

TEST_F(FnTable, WithoutSourceTheFunctionIsReadThroughReadfn) {
  SourceStore store;
  store.function("twice", "function y = twice(x)\nasm load_local 1\nasm load_local 1\nasm plus\nasm ret_function\n");
  BuiltinEntry table[] = {hook_row(kHookReadFn, store_hook, reinterpret_cast<uintptr_t>(&store)), {}};
  ASSERT_EQ(engine_register_builtin_table(c, table, 1), kOk);
  define("twice");  // as a compiled reference would have made it
  EXPECT_EQ(call1("twice", 4), 8);
  EXPECT_EQ(store.reads_of("twice|.m"), 1);

  const int32_t missing = define("nowhere");
  EXPECT_EQ(fn_compile_on_demand(c, missing, nullptr, 0, 0, 0), kUndefinedFunctionOrVariable);
}

TEST_F(FnTable, PendingScanCompilesNewReferencesAndReportsMissingOnes) {
  SourceStore store;
  store.function("a", "function a\nref b\nasm ret_function\n");
  store.function("b", "function b\nref c2\nref missing\nasm ret_function\n");
  store.function("c2", "function c2\nasm ret_function\n");
  BuiltinEntry table[] = {hook_row(kHookReadFn, store_hook, reinterpret_cast<uintptr_t>(&store)), {}};
  ASSERT_EQ(engine_register_builtin_table(c, table, 1), kOk);
  define("a");
  EXPECT_EQ(fn_compile_pending(c, 0), kFunctionNotFound);
  for (const char* n : {"a", "b", "c2"}) {
    const int32_t id = fn_find_user(c, n, int32_t(std::strlen(n)), nullptr, 0, 0, 0, nullptr);
    ASSERT_GT(id, 0) << n;
    EXPECT_GT(ent(c, id, kEntCode), 0) << n;
  }
  const int32_t missing = fn_find_user(c, "missing", 7, nullptr, 0, 0, 0, nullptr);
  ASSERT_GT(missing, 0);
  EXPECT_EQ(ent(c, missing, kEntCode), kCodeNotCompiled);
  EXPECT_EQ(fn_compile_pending(c, 0), kOk);  // a not-compiled entry waits for its first call
  EXPECT_EQ(fn_compile_pending(c, 1), kFunctionNotFound);
}

TEST_F(FnTable, PendingScanStopsAtACompileError) {
  SourceStore store;
  store.function("e", "function e\nfail 152\n");
  BuiltinEntry table[] = {hook_row(kHookReadFn, store_hook, reinterpret_cast<uintptr_t>(&store)), {}};
  ASSERT_EQ(engine_register_builtin_table(c, table, 1), kOk);
  const int32_t id = define("e");
  EXPECT_EQ(fn_compile_pending(c, 0), 152);
  EXPECT_EQ(ent(c, id, kEntCode), kCodeNotCompiled);
}

TEST_F(FnTable, CompiledCodeNeverRunsIntoTheSymbols) {
  EngineBlock small = EngineBlock::make(kSmallBlockBytes);
  EngineContext* c = small.ctx();
  int32_t n = 0;
  for (;; ++n) {
    const std::string name = "s" + std::to_string(n) + std::string(28, 'y');
    int32_t sym = 0;
    if (symtab_intern(c, name.data(), int32_t(name.size()), kIdentifierLimit, &sym) != kOk) break;
  }
  int32_t id = 0;
  ASSERT_EQ(fn_table_define(c, "big", 3, nullptr, 0, 0, 0, 0, kNoLibrary, &id), kOk);
  std::string text = "function big\n";
  for (int k = 0; k < 64; ++k) text += "asm push_one\n";
  EXPECT_EQ(fn_compile_on_demand(c, id, text.data(), int32_t(text.size()), 0, 0), kCodeOverflow);
  EXPECT_LE(c->code_free, code_symbol_floor(c));
}

}  // namespace
