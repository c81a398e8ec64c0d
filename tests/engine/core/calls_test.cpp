// Name resolution and calls: precedence of user functions, methods (also of
// parent classes) and intrinsics; wrong counts, function values, command
// lines, "exist" and "inline".
#include <gtest/gtest.h>

#include "engine/core/containers.h"
#include "engine/core/service_table.h"
#include "support/engine_block.h"
#include "support/fn_fakes.h"

namespace {

int sum_args(EngineContext* c, int nargin, int nargout, uintptr_t) {
  double total = 0;
  for (int k = 0; k < nargin; ++k) {
    double v = 0;
    TN_TRY(stk_pop_real_scalar(c, &v));
    total += v;
  }
  if (nargout == 0) return kOk;
  return stk_push_real(c, total);
}
int push_marker(EngineContext* c, int nargin, int, uintptr_t data) {
  for (int k = 0; k < nargin; ++k) stk_drop(c);
  return stk_push_real(c, double(data));
}

struct Calls : ::testing::Test {
  EngineBlock eng = EngineBlock::make(256 * 1024);
  EngineContext* c = eng.ctx();
  FakeCompiler compiler;
  MiniRunner runner;

  void SetUp() override { register_error_table(c); }

  int32_t compile(const std::string& name, const std::string& text, int32_t library = 0) {
    int32_t id = 0;
    EXPECT_EQ(fn_define_from_source(c, name.data(), int32_t(name.size()), text.data(), int32_t(text.size()), library,
                                    0, 0, &id),
              kOk);
    return id;
  }
  struct Ref {
    int32_t id = -1, opcode = -1;
    const BuiltinEntry* row = nullptr;
    const IntrinsicEntry* intrinsic = nullptr;
    int status = 0;
  };
  Ref resolve(const char* name, int nargin, int nargout, int32_t context = 0, uint32_t flags = 0) {
    Ref r;
    r.status = fn_resolve_ref(c, name, context, nargin, nargout, &r.id, &r.row, &r.opcode, &r.intrinsic, flags);
    return r;
  }
  double pop() {
    double v = -1;
    EXPECT_EQ(stk_pop_real_scalar(c, &v), kOk);
    return v;
  }
  // An object of class cls holding the given items (named after their class
  // when they are objects themselves) is built from the top n items.
  void make_object(const char* cls, int n, const char* field) {
    ASSERT_EQ(stk_make_container(c, n, 0, field, int32_t(std::strlen(field))), kOk);
    int32_t sym = 0;
    ASSERT_EQ(symtab_intern(c, cls, int32_t(std::strlen(cls)), kIdentifierLimit, &sym), kOk);
    desc_at(c, 0)[2] = uint32_t(sym);
  }
  const std::string twice = "function y = twice(x)\nasm load_local 1\nasm load_local 1\nasm plus\nasm ret_function\n";
};

TEST_F(Calls, AUserFunctionHidesTheIntrinsicOfItsName) {
  ASSERT_EQ(stk_push_real(c, 1), kOk);
  Ref r = resolve("sin", 1, 1);
  ASSERT_EQ(r.status, kOk);
  ASSERT_TRUE(r.intrinsic);
  EXPECT_EQ(r.opcode, kOpSin);
  int32_t in = 0, out = 0;
  ASSERT_EQ(fn_find_by_name(c, "sin", nullptr, 0, 0, &in, &out), kOk);
  EXPECT_EQ(in, 1);

  const int32_t id = compile("sin", "function [a, b] = sin(x, y, z)\nasm ret_function\n");
  r = resolve("sin", 1, 1);
  EXPECT_EQ(r.id, id);
  EXPECT_FALSE(r.intrinsic);
  ASSERT_EQ(fn_find_by_name(c, "sin", nullptr, 0, 0, &in, &out), kOk);
  EXPECT_EQ(in, 3);
  EXPECT_EQ(out, 2);
  r = resolve("sin", 1, 1, 0, kResolveBuiltinOnly);
  EXPECT_EQ(r.opcode, kOpSin);
}

TEST_F(Calls, AMethodIsFoundInTheClassOrItsParents) {
  compile("base::greet", "function greet(o)\nasm ret_function\n");
  compile("greet", "function greet(o)\nasm ret_function\n");
  // derived object holding its parent under the parent's class name.
  ASSERT_EQ(stk_push_real(c, 1), kOk);
  make_object("base", 1, "v");
  make_object("derived", 1, "base");
  const int32_t base_greet = fn_find_user(c, "greet", 5, "base", 4, 0, 1, nullptr);
  ASSERT_GT(base_greet, 0);
  EXPECT_EQ(resolve("greet", 1, 0).id, base_greet);

  const int32_t own = compile("derived::greet", "function greet(o)\nasm ret_function\n");
  EXPECT_EQ(resolve("greet", 1, 0).id, own);

  // A plain argument, or an object whose class has no such method: the plain function.
  const int32_t plain = fn_find_user(c, "greet", 5, nullptr, 0, 0, 1, nullptr);
  ASSERT_EQ(stk_push_real(c, 2), kOk);
  EXPECT_EQ(resolve("greet", 1, 0).id, plain);
  stk_drop(c);
  ASSERT_EQ(stk_push_real(c, 2), kOk);
  make_object("other", 1, "w");
  EXPECT_EQ(resolve("greet", 1, 0).id, plain);
}

TEST_F(Calls, WrongCountsAndUnknownNames) {
  BuiltinEntry table[] = {fn_row("two", sum_args, 2, 2, 1, 1), {}};
  ASSERT_EQ(engine_register_builtin_table(c, table, 1), kOk);
  for (int k = 0; k < 3; ++k) ASSERT_EQ(stk_push_real(c, k), kOk);
  EXPECT_EQ(resolve("two", 1, 1).status, kWrongNargin);
  EXPECT_EQ(error_report(c, kWrongNargin), "Wrong number of input arguments (1) for function 'two'");
  EXPECT_EQ(resolve("two", 2, 3).status, kWrongNargout);
  EXPECT_EQ(resolve("two", 2, 0).status, kOk);  // fewer results than given: dropped by the call
  EXPECT_EQ(resolve("two", 2, -1).status, kOk);
  EXPECT_EQ(resolve("sin", 2, 1).status, kWrongNargin);
  EXPECT_EQ(resolve("size", 1, 17).status, kWrongNargout);
  EXPECT_EQ(resolve("nosuchthing", 0, 1).status, kUndefinedFunction);
  EXPECT_EQ(error_report(c, kUndefinedFunction), "Undefined function 'nosuchthing'");
  EXPECT_EQ(resolve("two", 2, 1, 0, kResolveUserOnly).status, kUndefinedFunctionOrVariable);
  int32_t in = 0, out = 0;
  EXPECT_EQ(fn_find_by_name(c, "nosuchthing", nullptr, 0, 0, &in, &out), kUndefinedFunctionOrVariable);
  ASSERT_EQ(fn_find_by_name(c, "sprintf", nullptr, 0, 0, &in, &out), kOk);
  EXPECT_EQ(in, kCountUnbounded);
  ASSERT_EQ(fn_find_by_name(c, "two", nullptr, 0, 0, &in, &out), kOk);
  EXPECT_EQ(in, 2);
  int32_t id = 0;
  EXPECT_EQ(fn_find_user_simple(c, "a:b", 3, 0, &id), kBadArgument);
  EXPECT_EQ(fn_call(c, "two", 0, 2, 2, 0, 0), kWrongNargout);
}

TEST_F(Calls, FunctionValuesCallTheirFunction) {
  compile("twice", twice);
  const int32_t base_top = c->desc_top;

  // A reference, a name and an inline value, each with the argument above it.
  ASSERT_EQ(stack_push_record(c, "twice", 5, 0), kOk);
  ASSERT_EQ(stk_push_real(c, 4), kOk);
  ASSERT_EQ(fn_call_funarg(c, 1, 1, 1, 0), kOk);
  EXPECT_EQ(frame_words(c, c->frame)[kFwResume], 1u);
  ASSERT_EQ(interp_run_hook(c, 0), kOk);
  EXPECT_EQ(pop(), 8);
  stk_drop(c);

  ASSERT_EQ(stk_push_cstr(c, -1, "twice"), kOk);
  ASSERT_EQ(stk_push_real(c, 5), kOk);
  ASSERT_EQ(fn_call_funarg(c, 1, 1, 1, 0), kOk);
  ASSERT_EQ(interp_run_hook(c, 0), kOk);
  EXPECT_EQ(pop(), 10);
  stk_drop(c);

  // Inline: {p = 0}{q = 0} then, 8-byte aligned, the compiled function.
  uint16_t code[512];
  int64_t words = 0;
  ASSERT_EQ(FakeCompiler::compile(c, 0, twice.data(), int32_t(twice.size()), code, 512, &words, kFunctionInline,
                                  0, nullptr),
            kOk);
  void* p = nullptr;
  ASSERT_EQ(stk_push_raw(c, kPayInline, uint32_t(8 + words * 2), &p), kOk);
  std::memset(p, 0, 8);
  std::memcpy(static_cast<uint8_t*>(p) + 8, code, size_t(words) * 2);
  ASSERT_EQ(stk_push_real(c, 6), kOk);
  ASSERT_EQ(fn_call_funarg(c, 1, 1, 1, 0), kOk);
  EXPECT_EQ(c->pos.kind, kAreaDataStack);
  ASSERT_EQ(interp_run_hook(c, 0), kOk);
  EXPECT_EQ(pop(), 12);
  InlineParts parts{};
  EXPECT_EQ(stk_get_inline(c, 0, &parts), kOk);  // the value itself stays
  stk_drop(c);
  EXPECT_EQ(c->desc_top, base_top);

  ASSERT_EQ(stk_push_cstr(c, 0, ""), kOk);
  EXPECT_EQ(fn_call_funarg(c, 0, 0, 1, 0), kNullName);
  stk_drop(c);
  ASSERT_EQ(stk_push_cstr(c, -1, std::string(33, 'z').c_str()), kOk);
  EXPECT_EQ(fn_call_funarg(c, 0, 0, 1, 0), kFunctionNotFound);
  stk_drop(c);
  ASSERT_EQ(stk_push_real(c, 1), kOk);
  EXPECT_EQ(fn_call_funarg(c, 0, 0, 1, 0), kWrongArgType);
  engine_set_option_pair(c, [](void*) -> uint8_t { return 1; }, nullptr);
  EXPECT_EQ(fn_call_funarg(c, 0, 0, 1, 0), kAborted);
}

TEST_F(Calls, CommandLinesDefineIntoCliAndRunTheRest) {
  const std::string line =
      "asm push_int16 5\nfunction f\nasm push_int16 99\nasm ret_function\nendfunction\nasm pop_item\nasm halt\n";
  ASSERT_EQ(exec_command_line(c, line.data(), int32_t(line.size()), 0), kSliceEnded);
  const int32_t f = fn_find_user(c, "f", 1, nullptr, 0, 0, 1, nullptr);
  ASSERT_GT(f, 0);
  EXPECT_GT(ent(c, f, kEntCode), 0);
  EXPECT_EQ(ent_library(c, f), lib_index_by_symbol(c, symtab_find(c, kCliLibrary, 4)));
  EXPECT_EQ(FakeCompiler::log.back().text,
            "asm push_int16 5\n          \n                 \n                \n           \nasm pop_item\nasm halt\n");
  ASSERT_EQ(interp_run_hook(c, 0), kOk);
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
  // Defining it again replaces the code.
  ASSERT_EQ(exec_command_line(c, line.data(), int32_t(line.size()), 0), kSliceEnded);
  ASSERT_EQ(interp_run_hook(c, 0), kOk);
}

TEST_F(Calls, ExistLooksOnlyAtTheKindsAskedFor) {
  BuiltinEntry table[] = {fn_row("rowfn", push_marker, 0, 1, 1, 1), {}};
  ASSERT_EQ(engine_register_builtin_table(c, table, 1), kOk);
  compile("userfn", "function userfn\nasm ret_function\n");
  int32_t pending = 0;
  ASSERT_EQ(fn_table_define(c, "later", 5, nullptr, 0, 0, 0, 0, kNoLibrary, &pending), kOk);
  auto exist = [&](const char* name, const char* kind) {
    EXPECT_EQ(stk_push_cstr(c, -1, name), kOk);
    if (kind) {
      EXPECT_EQ(stk_push_cstr(c, -1, kind), kOk);
    }
    EXPECT_EQ(bi_exist(c, kind ? 2 : 1, 1, 0), kOk);
    return pop();
  };
  EXPECT_EQ(exist("sin", nullptr), 1);
  EXPECT_EQ(exist("sin", "v"), 0);
  EXPECT_EQ(exist("sin", "builtin"), 1);
  EXPECT_EQ(exist("rowfn", "b"), 1);
  EXPECT_EQ(exist("userfn", "function"), 1);
  EXPECT_EQ(exist("userfn", "b"), 0);
  EXPECT_EQ(exist("later", nullptr), 0);  // not compiled yet
  EXPECT_EQ(exist("ans", nullptr), 0);    // named but unset
  int32_t block = 0;
  ASSERT_EQ(heap_alloc(c, 3, &block), kOk);
  frame_words(c, 0)[kFrameFixedWords] = uint32_t(block);
  EXPECT_EQ(exist("ans", "var"), 1);
  EXPECT_EQ(exist(std::string(40, 'a').c_str(), nullptr), 0);
  EXPECT_EQ(c->desc_top, kBaseFrameWords);
}

TEST(InlineSource, ArgumentChoiceAndCaptures) {
  struct Case {
    const char* body;
    const char* args;
    const char* captures;
    const char* expected;
  } cases[] = {
      {"t^2+1", "", "", "function y=f(t);y=t^2+1"},
      {"a*b", "", "", "function y=f(b);y=a*b"},
      {"2+3", "", "", "function y=f(x);y=2+3"},
      {"sin(t)+i", "", "", "function y=f(t);y=sin(t)+i"},
      {"w+y", "", "", "function y1=f(w);y1=w+y"},
      {"x+y", "x,y", "", "function y1=f(x,y);y1=x+y"},
      {"x+y1", "x", "y", "function y2=f(_,x);(y)=deal(_{:});y2=x+y1"},
      {"yy+2", "", "", "function y=f(x);y=yy+2"},
      {"p*q", "p,q", "", "function y=f(p,q);y=p*q"},
      {"a*x", "", "a,b", "function y=f(_,x);(a,b)=deal(_{:});y=a*x"},
  };
  for (const Case& k : cases) {
    char buffer[128];
    int32_t n = 0;
    ASSERT_EQ(inline_build_source(k.body, int32_t(std::strlen(k.body)), k.args, int32_t(std::strlen(k.args)),
                                  k.captures, int32_t(std::strlen(k.captures)), buffer, sizeof buffer, &n),
              kOk);
    EXPECT_EQ(std::string(buffer, size_t(n)), k.expected) << k.body;
  }
  char small[8];
  int32_t n = 0;
  EXPECT_EQ(inline_build_source("x", 1, "", 0, "", 0, small, sizeof small, &n), kDataStackOverflow);
}

}  // namespace
