// The check of what a built-in leaves: a row that leaves k items in place of
// its inputs, judged against every output count; calls that hand the run over
// to code or are resumed are not judged; in the debug build the interpreter
// reports a breach by the row's name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/builtin_call_check.h"
#include "engine/core/calls.h"
#include "engine/core/frames.h"
#include "engine/core/interp.h"
#include "engine/core/value_stack.h"
#include "support/engine_block.h"
#include "support/fn_fakes.h"
#include "support/zvr_session.h"

namespace {

int g_leave = 0;  // the items the fake row leaves in place of its inputs

int bi_leave(EngineContext* c, int nargin, int, uintptr_t) {
  for (int i = 0; i < nargin; ++i) stk_drop(c);
  for (int i = 0; i < g_leave; ++i) TN_TRY(stk_push_real(c, i));
  return kOk;
}

struct Seen {
  std::string name;
  int nargin, nargout;
  int64_t items;
};
std::vector<Seen> g_seen;

void collect(void*, const char* name, int nargin, int nargout, int64_t items) {
  g_seen.push_back({name, nargin, nargout, items});
}

struct Collecting {
  Collecting() {
    g_seen.clear();
    builtin_check_set_reporter(collect, nullptr);
  }
  ~Collecting() { builtin_check_set_reporter(nullptr, nullptr); }
};

TEST(BuiltinCallCheck, ItemsLeftAgainstEveryOutputCount) {
  EngineBlock b = EngineBlock::make(1 << 20);
  EngineContext* c = b;
  const BuiltinEntry row = fn_row("leave_", bi_leave, 0, 2, 0, 3);
  Collecting on;
  const int32_t base = c->desc_top;
  for (int nargout = -1; nargout <= 3; ++nargout)
    for (int leave = 0; leave <= 3; ++leave)
      for (int nargin = 0; nargin <= 2; ++nargin) {
        SCOPED_TRACE(std::to_string(nargin) + " in, " + std::to_string(nargout) + " out, " + std::to_string(leave) +
                     " left");
        for (int i = 0; i < nargin; ++i) ASSERT_EQ(stk_push_real(c, 7), kOk);
        g_seen.clear();
        g_leave = leave;
        ASSERT_EQ(builtin_call_checked(c, &row, nargin, nargout), kOk);
        const int owed = nargout < 0 ? 1 : nargout;
        if (leave == owed) {
          EXPECT_TRUE(g_seen.empty());
        } else {
          ASSERT_EQ(g_seen.size(), 1u);
          EXPECT_EQ(g_seen[0].name, "leave_");
          EXPECT_EQ(g_seen[0].nargin, nargin);
          EXPECT_EQ(g_seen[0].nargout, nargout);
          EXPECT_EQ(g_seen[0].items, leave);
        }
        while (c->desc_top > base) stk_drop(c);
      }
}

TEST(BuiltinCallCheck, CallsWhoseResultsComeLaterAreNotJudged) {
  EngineBlock b = EngineBlock::make(1 << 20);
  EngineContext* c = b;
  int64_t items = 0;
  const BuiltinCallMark mark = builtin_call_mark(c);
  EXPECT_TRUE(builtin_results_left(c, mark, 0, &items));
  EXPECT_EQ(items, 0);
  EXPECT_FALSE(builtin_results_left(c, mark, -1, &items));  // resumed after a return
  BuiltinCallMark moved = mark;
  moved.pos.offset += 2;  // the position went on to other code
  EXPECT_FALSE(builtin_results_left(c, moved, 0, &items));
  BuiltinCallMark framed = mark;
  framed.frame += 1;  // a frame was pushed
  EXPECT_FALSE(builtin_results_left(c, framed, 0, &items));
  BuiltinCallMark switched = mark;
  switched.task += 1;  // another task runs
  EXPECT_FALSE(builtin_results_left(c, switched, 0, &items));
}

#ifdef TN_DEBUG_CHECKS
// Compiled code: a statement call that leaves nothing is named, the same
// call that leaves its one item is not.
TEST(BuiltinCallCheck, TheInterpreterNamesTheBuiltinThatBreaksTheConvention) {
  ZvrSession s;
  BuiltinEntry table[] = {fn_row("leave_", bi_leave, 0, 2, 0, 1), {}};
  ASSERT_EQ(engine_register_builtin_table(s.c, table, 1), kOk);
  Collecting on;
  g_leave = 1;
  EXPECT_EQ(s.run("leave_(3);\n"), kOk);
  EXPECT_TRUE(g_seen.empty());
  EXPECT_TRUE(s.clean());
  g_leave = 0;
  s.run("leave_(3);\n");
  frame_unwind(s.c, 0);
  ASSERT_FALSE(g_seen.empty());
  EXPECT_EQ(g_seen[0].name, "leave_");
  EXPECT_EQ(g_seen[0].nargin, 1);
  EXPECT_EQ(g_seen[0].nargout, -1);
  EXPECT_EQ(g_seen[0].items, 0);
}
#endif

}  // namespace
