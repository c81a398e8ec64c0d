// The call instruction calls a function id directly only when resolving its
// name would give that same id: checked against resolution by name for every
// entry, context and argument kind, with names that mean something else.
#include <gtest/gtest.h>

#include <string>

#include "engine/core/containers.h"
#include "support/engine_block.h"
#include "support/fn_fakes.h"

namespace {

TEST(CallById, TheShortcutOnlyTakesWhatResolutionGives) {
  EngineBlock eng = EngineBlock::make(256 * 1024);
  EngineContext* c = eng;
  int32_t a = 0, b = 0, sym = 0;
  ASSERT_EQ(lib_find_by_name(c, "A", -1, 1, &a), kOk);
  ASSERT_EQ(lib_find_by_name(c, "B", -1, 1, &b), kOk);
  ASSERT_EQ(lib_use(c, a, "use B\n", 6), kOk);
  auto define = [&](const std::string& name, int32_t lib, const char* cls = nullptr) {
    int32_t id = 0;
    EXPECT_EQ(fn_table_define(c, name.data(), int32_t(name.size()), cls, cls ? 1 : 0, lib, 0, 0, kNoLibrary, &id), kOk);
    return id;
  };
  const int32_t ctor = define("k", a, "k"), shadowed = define("k", a);  // the constructor answers first
  const int32_t plain = define("greet", a), helper = define("helper", b), loose = define("loose", 0);
  define("greet", a, "k");
  // A name longer than any identifier (only a foreign table could hold one).
  const std::string long_name(kOpNameBytes + 1, 'g');
  int32_t too_long = 0;
  ASSERT_EQ(symtab_intern(c, long_name.data(), int32_t(long_name.size()), 255, &sym), kOk);
  ASSERT_EQ(fn_table_add(c, sym, a, kCodeReferenced, 0, &too_long), kOk);

  EXPECT_TRUE(fn_resolves_to_self(c, ctor, a, 0));
  EXPECT_TRUE(fn_resolves_to_self(c, plain, plain, 0));
  EXPECT_TRUE(fn_resolves_to_self(c, loose, 0, 0));
  EXPECT_FALSE(fn_resolves_to_self(c, shadowed, a, 0));
  EXPECT_FALSE(fn_resolves_to_self(c, helper, a, 0));  // through the use-list
  EXPECT_FALSE(fn_resolves_to_self(c, too_long, a, 0));
  // An object argument may choose the method; an object below the arguments may not.
  ASSERT_EQ(stk_push_real(c, 1), kOk);
  ASSERT_EQ(stk_make_container(c, 1, 0, "v", 1), kOk);
  desc_at(c, 0)[2] = uint32_t(ent(c, ctor, kEntExtra));
  EXPECT_FALSE(fn_resolves_to_self(c, plain, a, 1));
  ASSERT_EQ(stk_push_real(c, 2), kOk);
  EXPECT_TRUE(fn_resolves_to_self(c, plain, a, 1));

  for (int nargin : {0, 1, 2})
    for (int32_t context : {0, a, b, plain, helper, loose})
      for (int32_t id = 1; id <= c->fn_count; ++id) {
        if (!fn_resolves_to_self(c, id, context, nargin)) continue;
        const char* text = nullptr;
        int32_t n = 0, found = -1, opcode = -1;
        fn_name_by_id(c, id, &text, &n);
        const BuiltinEntry* row = nullptr;
        const IntrinsicEntry* intrinsic = nullptr;
        EXPECT_EQ(fn_resolve_ref(c, std::string(text, size_t(n)).c_str(), context, nargin, 1, &found, &row, &opcode,
                                 &intrinsic),
                  kOk);
        EXPECT_EQ(found, id) << "context " << context << " nargin " << nargin;
      }
}

}  // namespace
