// The call cache never answers for a function table, a path or a task that
// has changed since it was filled: a redefined callee whose new code starts
// where the old one did, a callee whose code moved, a cleared library, a path
// change, a task switch, a moved block, a new engine at an old address and a
// change made on another thread each leave no entry behind (an entry found
// is used without a check of its own), and the calls after them give what
// resolution by name gives.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/call_cache.h"
#include "engine/core/fntable.h"
#include "engine/lib/libpath.h"
#include "engine/lib/tasks.h"
#include "support/zvr_session.h"

namespace {

// The function id of a name defined at the command line.
int32_t function_id(EngineContext* c, const char* name) {
  int32_t id = -1;
  return fn_find_user_simple(c, name, int32_t(std::strlen(name)), 0, &id) == kOk ? id : -1;
}

// The argument as outer passes it: a local pushed, or a local's arithmetic
// handed to the call without a push.
class CallCache : public ::testing::TestWithParam<const char*> {
 protected:
  ZvrSession s;
  EngineContext* c = s.c;

  // Defines inner and outer (calling inner in a loop), then inner again, so
  // that its code lies last, and calls outer once, so that the pair's entry
  // is filled.
  void warm(const std::string& inner_body) {
    const std::string inner = "function r = inner(x)\n" + inner_body + "endfunction\n";
    ASSERT_EQ(s.run(inner), kOk) << s.take_output();
    ASSERT_EQ(s.run(std::string("function r = outer(x)\n  r = 0;\n  for k = 1:3\n    r = r + inner(") + GetParam() +
                    ");\n  end\nendfunction\n"),
              kOk)
        << s.take_output();
    ASSERT_EQ(s.run(inner), kOk) << s.take_output();
    ASSERT_EQ(s.value("outer(2)"), s.value("3 * inner(2)"));
    ASSERT_NE(call_cache_find(c, function_id(c, "inner"), function_id(c, "outer")), nullptr);
  }
  bool cached() { return call_cache_find(c, function_id(c, "inner"), function_id(c, "outer")) != nullptr; }
};

TEST_P(CallCache, RedefinedCalleeAtTheSameOffsetIsCalledAnew) {
  warm("  r = x + 1;\n");
  const int32_t code_before = ent(c, function_id(c, "inner"), kEntCode);
  // More locals: a longer header, so the first instruction lies further on.
  ASSERT_EQ(s.run("function r = inner(x)\n  a = 10;\n  b = 20;\n  r = x * a + b;\nendfunction\n"), kOk) << s.take_output();
  EXPECT_FALSE(cached());
  EXPECT_EQ(s.value("outer(2)"), s.value("3 * 40"));
  // The case the cache's own check of the code offset cannot see.
  EXPECT_EQ(ent(c, function_id(c, "inner"), kEntCode), code_before);
  EXPECT_EQ(s.value("inner(1)"), s.value("30"));
}

TEST_P(CallCache, CalleeWhoseCodeMovedIsCalledWhereItNowStarts) {
  // A function defined ahead of inner and then redefined longer moves
  // inner's code up: an entry kept would start inside its old words.
  ASSERT_EQ(s.run("function r = ahead(x)\n  r = x;\nendfunction\n"), kOk) << s.take_output();
  warm("  r = x + 1;\n");
  const int32_t inner = function_id(c, "inner");
  const int32_t code_before = ent(c, inner, kEntCode);
  ASSERT_EQ(s.run("function r = ahead(x)\n  a = x + 1;\n  b = a * 2;\n  r = a + b;\nendfunction\n"), kOk)
      << s.take_output();
  if (ent(c, inner, kEntCode) == code_before) GTEST_SKIP() << "the code did not move";
  EXPECT_FALSE(cached());
  EXPECT_EQ(s.value("outer(2)"), s.value("9"));
  EXPECT_TRUE(cached());
}

TEST_P(CallCache, ClearedFunctionsAreResolvedAndCompiledAgain) {
  warm("  r = x + 1;\n");
  ASSERT_EQ(s.run("clear('-f');\n"), kOk) << s.take_output();
  EXPECT_FALSE(cached());
  EXPECT_EQ(s.value("outer(2)"), "error 200");  // the command line's functions are gone
  warm("  r = x * 10;\n");
  EXPECT_EQ(s.value("outer(2)"), s.value("60"));
}

TEST_P(CallCache, PathChangeTaskSwitchAndEntryWritesEmptyIt) {
  const std::vector<std::pair<const char*, std::function<void()>>> changes = {
      {"path", [&] { ASSERT_EQ(libpath_set("", 0, nullptr, 0), kOk); }},
      {"task switch", [&] { task_switch(c, 0); }},
      {"entry written", [&] { ent_set(c, function_id(c, "inner"), kEntExtra, ent(c, function_id(c, "inner"), kEntExtra)); }},
      {"function defined", [&] { ASSERT_EQ(s.run("function r = other(x)\n  r = x;\nendfunction\n"), kOk); }},
  };
  warm("  r = x - 1;\n");
  for (const auto& [what, change] : changes) {
    ASSERT_EQ(s.value("outer(5)"), s.value("12")) << what;
    ASSERT_TRUE(cached()) << what;
    change();
    EXPECT_FALSE(cached()) << what;
  }
  // A global variable's store writes its entry too, and leaves the calls
  // alone (declaring it adds an entry, which empties the cache).
  ASSERT_EQ(s.run("global gv\ngv = 1;\n"), kOk) << s.take_output();
  ASSERT_EQ(s.value("outer(5)"), s.value("12"));
  ASSERT_EQ(s.run("gv = [1 2 3];\ngv = 'text';\n"), kOk) << s.take_output();
  EXPECT_TRUE(cached());
}

TEST_P(CallCache, AChangeOnAnotherThreadEmptiesIt) {
  // The path set, or an engine started, on another thread than the one that
  // runs this engine: its entries there go too.
  const std::vector<std::pair<const char*, std::function<void()>>> changes = {
      {"path", [] { EXPECT_EQ(libpath_set("", 0, nullptr, 0), kOk); }},
      {"engine started", [] {
         std::vector<uint64_t> other(1 << 16);
         EngineContext* o = nullptr;
         EXPECT_EQ(engine_init(other.data(), uint32_t(other.size() * 8), &o), kOk);
       }},
  };
  warm("  r = x - 1;\n");
  for (const auto& [what, change] : changes) {
    ASSERT_EQ(s.value("outer(5)"), s.value("12")) << what;
    ASSERT_TRUE(cached()) << what;
    std::thread(change).join();
    EXPECT_FALSE(cached()) << what;
  }
}

INSTANTIATE_TEST_SUITE_P(Arguments, CallCache, ::testing::Values("x", "x * 1"));

TEST(CallCacheOwner, AnotherEngineOrAMovedBlockFindsNothing) {
  std::vector<uint64_t> a(1 << 16), b(1 << 16);
  EngineContext* ca = nullptr;
  EngineContext* cb = nullptr;
  ASSERT_EQ(engine_init(a.data(), uint32_t(a.size() * 8), &ca), kOk);
  CallCacheEntry e;
  e.callee = 3;
  e.context = 0;
  call_cache_store(ca, e);
  EXPECT_NE(call_cache_find(ca, 3, 0), nullptr);
  EXPECT_EQ(call_cache_find(ca, 3, 1), nullptr);
  ASSERT_EQ(engine_init(b.data(), uint32_t(b.size() * 8), &cb), kOk);
  EXPECT_EQ(call_cache_find(ca, 3, 0), nullptr);  // a new engine empties it
  call_cache_store(ca, e);
  EXPECT_EQ(call_cache_find(cb, 3, 0), nullptr);  // the same words at another address
  call_cache_store(cb, e);
  EXPECT_EQ(call_cache_find(ca, 3, 0), nullptr);  // the other engine's entry emptied the first's
  // A new engine at the old address never meets the old one's entries.
  call_cache_store(ca, e);
  ASSERT_EQ(engine_init(a.data(), uint32_t(a.size() * 8), &ca), kOk);
  EXPECT_EQ(call_cache_find(ca, 3, 0), nullptr);
}

}  // namespace
