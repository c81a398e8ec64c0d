// The semaphore rows of the host's table run from ZVR code, with the host's
// table registered in front of the engine's as start-up does.
#include <gtest/gtest.h>

#include "host/builtin_table_host.h"
#include "support/zvr_session.h"

namespace {

class SemaphoreTest : public ::testing::Test {
 protected:
  ZvrSession s;
  void SetUp() override { ASSERT_EQ(engine_register_builtin_table(s.c, g_builtin_table_host, 1), kOk); }
};

TEST_F(SemaphoreTest, LockUnlockAndTheirErrors) {
  const struct {
    const char* expr;
    const char* result;
  } steps[] = {
      {"semaphorenew()", "double 1x1 [1]"},
      {"semaphorenew", "double 1x1 [2]"},
      {"semaphorelock(1)", "logical 1x1 [1]"},
      {"semaphorelock(1)", "logical 1x1 [0]"},  // one output: no waiting
      {"semaphorelock(2)", "logical 1x1 [1]"},
      {"semaphorelock(3)", "error 100"},
      {"semaphorelock('a')", "error 43"},
      {"semaphorelock(0)", "error 100"},
      {"semaphorelock(1.5)", "error 100"},
  };
  for (const auto& k : steps) EXPECT_EQ(s.value(k.expr), k.result) << k.expr;
  EXPECT_EQ(s.run("semaphoreunlock(1);\n"), kOk);
  EXPECT_EQ(s.run("semaphoreunlock(1);\n"), 101);
  EXPECT_EQ(s.run("semaphoreunlock(7);\n"), 100);
  EXPECT_EQ(s.run("semaphorelock(1);\n"), kOk);  // statement form: taken at once
  EXPECT_EQ(s.value("semaphorelock(1)"), "logical 1x1 [0]");
  EXPECT_EQ(s.run("semaphoredelete(1);\n"), kOk);  // whatever its count
  EXPECT_EQ(s.run("semaphoredelete(1);\n"), 100);
  EXPECT_EQ(s.value("semaphorelock(1)"), "error 100");
}

// Ids are never given twice; freed entries are reused, and the ninth live
// semaphore grows the table with every entry kept.
TEST_F(SemaphoreTest, TableGrowsAndKeepsEntries) {
  ASSERT_EQ(s.run("for k = 1:8, s(k) = semaphorenew(); end\n"), kOk);
  ASSERT_EQ(s.run("semaphorelock(s(3)); semaphoredelete(s(8));\n"), kOk);
  EXPECT_EQ(s.value("semaphorenew"), "double 1x1 [9]");
  const int32_t before = s.c->sem_table[1];
  EXPECT_EQ(s.value("semaphorenew"), "double 1x1 [10]");
  EXPECT_EQ(s.c->sem_table[1], 2 * before);
  EXPECT_EQ(s.value("semaphorelock(s(3))"), "logical 1x1 [0]");
  EXPECT_EQ(s.value("semaphorelock(s(4))"), "logical 1x1 [1]");
  EXPECT_EQ(s.value("semaphorelock(10)"), "logical 1x1 [1]");
  EXPECT_EQ(s.value("semaphorelock(8)"), "error 100");
}

}  // namespace
