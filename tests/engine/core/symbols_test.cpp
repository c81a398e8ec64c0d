// Interning names in the symbol area below the end of the code area.
#include <gtest/gtest.h>

#include <string>

#include "engine/core/symbols.h"
#include "support/raw_items.h"
#include "support/test_context.h"


TEST(Symbols, InternFindAndName) {
  TestContext h = make_test_context(4096, 3 * 256 + 1);
  EngineContext* c = h.ctx();
  int32_t a = 0, b = 0, again = 0;
  EXPECT_EQ(symtab_find(c, "alpha", 5), 0);
  ASSERT_EQ(symtab_intern(c, "alpha", 5, kIdentifierLimit, &a), kOk);
  EXPECT_EQ(a, -6);  // length byte and five characters below the end
  ASSERT_EQ(symtab_intern(c, "be", 2, kIdentifierLimit, &b), kOk);
  EXPECT_EQ(b, -9);
  EXPECT_EQ(c->sym_extent, -9);
  ASSERT_EQ(symtab_intern(c, "alpha", 5, kIdentifierLimit, &again), kOk);
  EXPECT_EQ(again, a);
  EXPECT_EQ(c->sym_extent, -9);  // no space used the second time
  EXPECT_EQ(symtab_find(c, "be", 2), b);
  EXPECT_EQ(symtab_find(c, "alph", 4), 0);
  EXPECT_EQ(symtab_find(c, "Alpha", 5), 0);
  int32_t len = 0;
  const char* text = symtab_name(c, a, &len);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text, len), "alpha");
  EXPECT_EQ(symtab_name(c, 0, &len), nullptr);
  EXPECT_EQ(symtab_name(c, -20, &len), nullptr);
}

TEST(Symbols, LengthLimits) {
  TestContext h = make_test_context(4096, 3 * 256 + 1);
  EngineContext* c = h.ctx();
  std::string n32(32, 'x'), n33(33, 'y');
  int32_t s = 0;
  EXPECT_EQ(symtab_intern(c, n32.data(), 32, kIdentifierLimit, &s), kOk);
  EXPECT_EQ(symtab_intern(c, n33.data(), 33, kIdentifierLimit, &s), kNameTooLong);
  EXPECT_EQ(symtab_intern(c, "", 0, kIdentifierLimit, &s), kNullName);
  EXPECT_EQ(c->sym_extent, -33);
}

TEST(Symbols, CodeOverflowAndAreaLimit) {
  // 64 code words = 128 bytes; code ends at byte 100, leaving 28 for symbols.
  TestContext small = make_test_context(64, 16, 64, 50);
  EngineContext* c = small.ctx();
  int32_t s = 0;
  std::string n(25, 'a');
  ASSERT_EQ(symtab_intern(c, n.data(), 25, kIdentifierLimit, &s), kOk);  // 26 bytes
  ASSERT_EQ(symtab_intern(c, "q", 1, kIdentifierLimit, &s), kOk);        // the last two
  EXPECT_EQ(s, -28);
  EXPECT_EQ(symtab_intern(c, "r", 1, kIdentifierLimit, &s), kCodeOverflow);
  EXPECT_EQ(c->sym_extent, -28);
  EXPECT_EQ(symtab_intern(c, "q", 1, kIdentifierLimit, &s), kOk);  // existing: no room needed
  EXPECT_EQ(s, -28);

  TestContext big = make_test_context(64, 16, 40000, 8);
  c = big.ctx();
  int status = kOk;
  int interned = 0;
  for (int i = 0; status == kOk; ++i) {
    std::string name = "name_" + std::to_string(100000 + i) + std::string(20, 'z');
    status = symtab_intern(c, name.data(), static_cast<int32_t>(name.size()), kIdentifierLimit, &s);
    if (status == kOk) ++interned;
  }
  EXPECT_EQ(status, kSymbolTableTooLarge);
  EXPECT_LE(-c->sym_extent + 2, 32767);
  EXPECT_EQ(interned, 32765 / 32);  // 32 bytes a name
}
