// sandbox from its row: a text that does not compile gives back both
// arguments and the data stack's full capacity, with one input and with
// two; the two-argument form's input is the text's variable x.
#include <gtest/gtest.h>

#include <string>

#include "engine/lib/sandbox.h"
#include "support/stack_invariants.h"
#include "support/zvr_session.h"

namespace {

struct Case {
  const char* code;
  const char* input;  // null: the one-argument form
  int nargout;
};

TEST(Sandbox, FailedCompileRestoresArgumentsAndCapacity) {
  ZvrSession s;
  EngineContext* c = s.c;
  const Case cases[] = {
      {"1 +", nullptr, 1}, {"1 +", nullptr, -1}, {"(((", "5", 1}, {"(((", "{1, 'a'}", 0}, {"x +", "[1 2 3]", -1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.code) + (k.input ? std::string(" with ") + k.input : ""));
    ASSERT_EQ(s.run(std::string("code_ = '") + k.code + "';" + (k.input ? std::string("in_ = ") + k.input + ";" : "")),
              kOk);
    const uint32_t capacity = c->data_capacity;
    ASSERT_EQ(s.push_variable("code_"), kOk);
    if (k.input) ASSERT_EQ(s.push_variable("in_"), kOk);
    const StackSnapshot before = snapshot_stacks(c);
    const int frame = c->frame;
    EXPECT_NE(bi_sandbox(c, k.input ? 2 : 1, k.nargout, 0), kOk);
    EXPECT_EQ(c->data_capacity, capacity);
    EXPECT_EQ(c->frame, frame);
    EXPECT_TRUE(snapshot_stacks(c) == before);
    s.e.clear();
    s.take_output();
  }
}

TEST(Sandbox, TheInputIsX) {
  ZvrSession s;
  EXPECT_EQ(s.value("sandbox('x * 2', 4)"), s.value("8"));
  EXPECT_EQ(s.value("sandbox('[x, x]', 'ab')"), s.value("'abab'"));
  EXPECT_EQ(s.value("sandbox('numel(x)', {1, 2})"), s.value("2"));
  // The caller's x is neither seen nor changed.
  EXPECT_EQ(s.value("sandbox('x = x + 1; x + 0', 1)"), s.value("2"));
  ASSERT_EQ(s.run("x = 10; y_ = sandbox('x + 1', 1);"), kOk);
  EXPECT_EQ(s.value("x"), s.value("10"));
  EXPECT_EQ(s.value("y_"), s.value("2"));
  EXPECT_TRUE(s.clean());
}

}  // namespace
