// The opcode table of the string, cell, list and structure intrinsics: every
// opcode of those families has a row, and each adapter passes the selector
// and the argument counts through to its built-in.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "engine/core/opcodes.h"
#include "engine/lib/text_container_opcodes.h"
#include "support/value_fixture.h"

namespace {

class TextContainerOpcodes : public ValueFixture {
 protected:
  const TextContainerOpcodeHandler* row_of(uint16_t op) {
    for (int i = 0; i < kTextContainerOpcodeHandlerCount; ++i)
      if (kTextContainerOpcodeHandlers[i].opcode == op) return &kTextContainerOpcodeHandlers[i];
    return nullptr;
  }
};

TEST_F(TextContainerOpcodes, EveryOpcodeHasARowAndReachesItsBuiltin) {
  for (uint16_t op = kOpIsletter; op <= kOpStrtok; ++op) EXPECT_NE(row_of(op), nullptr) << op;
  for (uint16_t op = kOpNum2list; op <= kOpOrderfields; ++op) EXPECT_NE(row_of(op), nullptr) << op;
  EXPECT_EQ(kTextContainerOpcodeHandlerCount, (kOpStrtok - kOpIsletter + 1) + (kOpOrderfields - kOpNum2list + 1));

  // A structure s = struct(k=5, j=6) is pushed first where a row needs it.
  auto s = [&] { str("k"); num(5); str("j"); num(6); ASSERT_EQ(row_of(kOpStruct)->fn(c, row_of(kOpStruct)->selector, 4, 1, 0), kOk); };
  struct {
    uint16_t op;
    std::function<void()> push;
    int nargin, nargout;
    std::string want;  // the top item
  } rows[] = {
      {kOpIsletter, [&] { str("a1"); }, 1, 1, "logical([1 0])"},
      {kOpIsdigit, [&] { str("a1"); }, 1, 1, "logical([0 1])"},
      {kOpIsspace, [&] { str("a b"); }, 1, 1, "logical([0 1 0])"},
      {kOpUpper, [&] { str("aB"); }, 1, 1, "'AB'"},
      {kOpLower, [&] { str("AbC"); }, 1, 1, "'abc'"},
      {kOpStrcmp, [&] { str("ab"); str("AB"); }, 2, 1, "logical(0)"},
      {kOpStrcmpi, [&] { str("ab"); str("AB"); }, 2, 1, "logical(1)"},
      {kOpFindstr, [&] { str("aa"); str("a"); }, 2, 1, "[1 2]"},
      {kOpStrmatch, [&] { str("b"); strings({"a", "b"}); }, 2, 1, "2"},
      {kOpDeblank, [&] { str(" q "); }, 1, 1, "' q'"},
      {kOpStrtrim, [&] { str(" q "); }, 1, 1, "'q'"},
      {kOpStrtok, [&] { str("a b"); }, 1, 2, "'a'"},
      {kOpNum2list, [&] { row({1, 2}); }, 1, 1, "{1, 2}"},
      {kOpNum2cell, [&] { row({1, 2}); }, 1, 1, "cell(int32([1 2]): 1, 2)"},
      {kOpList2num, [&] { strings({"a", "b"}); }, 1, 1, "'ab'"},
      {kOpIslist, [&] { num(1); cells(1, 1); }, 1, 1, "logical(0)"},
      {kOpIscell, [&] { num(1); cells(1, 1); }, 1, 1, "logical(1)"},
      {kOpReplist, [&] { strings({"a"}); num(2); }, 2, 1, "{'a', 'a'}"},
      {kOpStruct, [&] { str("x"); num(1); }, 2, 1, "struct(x=1)"},
      {kOpIsstruct, [&] { s(); }, 1, 1, "logical(1)"},
      {kOpIsfield, [&] { s(); str("j"); }, 2, 1, "logical(1)"},
      {kOpGetfield, [&] { s(); str("j"); }, 2, 1, "6"},
      {kOpSetfield, [&] { s(); str("k"); num(0); }, 3, 1, "struct(k=0, j=6)"},
      {kOpRmfield, [&] { s(); str("k"); }, 2, 1, "struct(j=6)"},
      {kOpFieldnames, [&] { s(); }, 1, 1, "{'k', 'j'}"},
      {kOpOrderfields, [&] { s(); }, 1, 2, "struct(j=6, k=5)"},
  };
  for (const auto& r : rows) {
    r.push();
    const TextContainerOpcodeHandler* h = row_of(r.op);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(h->fn(c, h->selector, r.nargin, r.nargout, 0), kOk) << r.op;
    EXPECT_EQ(items(), r.nargout >= 2 ? 2 : 1) << r.op;
    EXPECT_EQ(top(), r.want) << r.op;
    clear();
  }
}

}  // namespace
