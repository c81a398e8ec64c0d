// The call instruction's shortcut: a function id is called directly only when
// resolving its name would give that same id. Checked against the resolution
// by name for every entry, calling context and kind of argument, and for the
// cases where the name means something else (an earlier entry of the name,
// another library, a method, an object argument, a name too long to copy).
#include <gtest/gtest.h>

#include <string>

#include "engine/core/containers.h"
#include "support/engine_block.h"
#include "support/fn_fakes.h"

namespace {

struct CallById : ::testing::Test {
  EngineBlock eng = EngineBlock::make(256 * 1024);
  EngineContext* c = eng.ctx();

  void SetUp() override { register_error_table(c); }

  int32_t lib(const char* name) {
    int32_t id = 0;
    EXPECT_EQ(lib_find_by_name(c, name, -1, 1, &id), kOk);
    return id;
  }
  int32_t define(const std::string& name, int32_t library, const char* cls = nullptr, int private_flag = 0) {
    int32_t id = 0;
    const int32_t class_length = cls ? int32_t(std::strlen(cls)) : 0;
    EXPECT_EQ(fn_table_define(c, name.data(), int32_t(name.size()), cls, class_length, library, private_flag, 0,
                              kNoLibrary, &id),
              kOk);
    return id;
  }
  // What the call by name answers for the name of entry id.
  int32_t by_name(int32_t id, int32_t context, int nargin) {
    const char* text = nullptr;
    int32_t n = 0;
    fn_name_by_id(c, id, &text, &n);
    const std::string name(text, size_t(n));
    int32_t found = -1, opcode = -1;
    const BuiltinEntry* row = nullptr;
    const IntrinsicEntry* intrinsic = nullptr;
    const int status = fn_resolve_ref(c, name.c_str(), context, nargin, 1, &found, &row, &opcode, &intrinsic);
    return status == kOk ? found : -1;
  }
  void push_object(const char* cls) {
    ASSERT_EQ(stk_push_real(c, 1), kOk);
    ASSERT_EQ(stk_make_container(c, 1, 0, "v", 1), kOk);
    int32_t sym = 0;
    ASSERT_EQ(symtab_intern(c, cls, int32_t(std::strlen(cls)), kIdentifierLimit, &sym), kOk);
    desc_at(c, 0)[2] = uint32_t(sym);
  }
};

TEST_F(CallById, TheShortcutOnlyTakesWhatResolutionGives) {
  const int32_t a = lib("A"), b = lib("B");
  ASSERT_EQ(lib_use(c, a, "use B\n", 6), kOk);
  const int32_t ctor = define("ctor", a, "ctor");  // a constructor answers to its class's name
  const int32_t shadowed = define("ctor", a);
  const int32_t plain = define("greet", a);
  const int32_t method = define("greet", a, "k");
  const int32_t helper = define("helper", b);
  const int32_t secret = define("secret", b, nullptr, 1);
  const int32_t loose = define("loose", 0);
  const int32_t fits = define(std::string(kOpNameBytes, 'f'), a);
  // Longer than any identifier, as only a damaged or foreign table could hold.
  const std::string long_name(kOpNameBytes + 1, 'g');
  int32_t long_sym = 0, too_long = 0;
  ASSERT_EQ(symtab_intern(c, long_name.data(), int32_t(long_name.size()), 255, &long_sym), kOk);
  ASSERT_EQ(fn_table_add(c, long_sym, a, kCodeReferenced, 0, &too_long), kOk);

  // The plain cases take the shortcut.
  EXPECT_TRUE(fn_resolves_to_self(c, ctor, a, 0));
  EXPECT_TRUE(fn_resolves_to_self(c, plain, plain, 0));  // called from a function of the library
  EXPECT_TRUE(fn_resolves_to_self(c, helper, b, 0));
  EXPECT_TRUE(fn_resolves_to_self(c, secret, b, 0));
  EXPECT_TRUE(fn_resolves_to_self(c, loose, 0, 0));
  EXPECT_TRUE(fn_resolves_to_self(c, fits, a, 0));
  // Everything else goes by name.
  EXPECT_EQ(by_name(shadowed, a, 0), ctor);
  EXPECT_FALSE(fn_resolves_to_self(c, shadowed, a, 0));
  EXPECT_FALSE(fn_resolves_to_self(c, method, a, 0));
  EXPECT_FALSE(fn_resolves_to_self(c, helper, a, 0));  // found through the use-list
  EXPECT_FALSE(fn_resolves_to_self(c, loose, a, 0));   // found as a function without library
  EXPECT_FALSE(fn_resolves_to_self(c, too_long, a, 0));
  EXPECT_FALSE(fn_resolves_to_self(c, a, a, 0));       // a library is no function
  EXPECT_FALSE(fn_resolves_to_self(c, c->fn_count, a, 0));

  // An object argument may pick a method; one below the arguments may not.
  push_object("k");
  EXPECT_EQ(by_name(plain, a, 1), method);
  EXPECT_FALSE(fn_resolves_to_self(c, plain, a, 1));
  EXPECT_TRUE(fn_resolves_to_self(c, plain, a, 0));
  ASSERT_EQ(stk_push_real(c, 2), kOk);
  EXPECT_FALSE(fn_resolves_to_self(c, plain, a, 2));
  EXPECT_TRUE(fn_resolves_to_self(c, plain, a, 1));

  // Whenever the shortcut is taken, the name resolves to the same entry.
  for (int nargin : {0, 1, 2})
    for (int32_t context : {0, a, b, plain, helper, loose})
      for (int32_t id = 1; id < c->fn_count; ++id)
        if (fn_resolves_to_self(c, id, context, nargin)) {
          EXPECT_EQ(by_name(id, context, nargin), id) << "id " << id << " context " << context << " nargin " << nargin;
        }
}

}  // namespace
