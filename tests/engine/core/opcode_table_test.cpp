// The opcode description table and its readers: the start-up self-check and
// what makes it fail, instruction lengths and stack effects as the instruction
// set lays them out, the side-effect flags, opcode names and keywords.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "engine/core/opcodes.h"

namespace {

// ---- Self-check ------------------------------------------------------------

struct Tables {
  std::vector<OpcodeInfo> info{std::begin(kOpcodeInfoTable), std::end(kOpcodeInfoTable)};
  std::vector<IntrinsicEntry> intr{std::begin(kIntrinsicTable), std::end(kIntrinsicTable)};
  IntrinsicEntry& row(const char* name) {
    for (auto& e : intr)
      if (std::strcmp(e.name, name) == 0) return e;
    throw std::runtime_error(name);
  }
  int check() const { return opcode_table_selfcheck(info, intr); }
};

TEST(OpcodeSelfCheck, ShippedTablesPass) {
  EXPECT_EQ(opcode_table_selfcheck(), kOk);
  EXPECT_EQ(Tables().check(), kOk);
}

TEST(OpcodeSelfCheck, EachCorruptionIsRefused) {
  struct Case {
    const char* what;
    std::function<void(Tables&)> corrupt;
  };
  const Case cases[] = {
      {"row opcode differs from its index", [](Tables& t) { t.info[100].opcode = 101; }},
      {"no-operand kind with a count", [](Tables& t) { t.info[kOpNop].count = 1; }},
      {"operand kind with count 0", [](Tables& t) { t.info[kOpPushInt16].count = 0; }},
      {"unknown operand kind", [](Tables& t) { t.info[kOpPopItem].kind = 2; }},
      {"effect out of range", [](Tables& t) { t.info[kOpPushOne].effect = 0x100; }},
      {"row missing", [](Tables& t) { t.info.pop_back(); }},
      {"fixed input differs from the effect", [](Tables& t) { t.row("plus").in_args = 1; }},
      {"fixed output differs from the effect", [](Tables& t) { t.row("disp").out_args = 1; }},
      {"variable count made fixed", [](Tables& t) { t.row("size").in_args = 1; }},
      {"operand count differs from the variable count words", [](Tables& t) { t.info[kOpSize].count = 1; }},
      {"variable count without an operand nibble", [](Tables& t) { t.info[kOpSize].effect = 0x1F; }},
      {"alias disagrees with its opcode", [](Tables& t) { t.row("Inf").in_args = 0; }},
      {"intrinsic opcode past the engine range", [](Tables& t) { t.row("abs").opcode = kFirstLibraryOpcode; }},
      {"name without terminator", [](Tables& t) { std::memset(t.row("abs").name, 'a', 12); }},
      {"empty name before the end row", [](Tables& t) { t.row("abs").name[0] = '\0'; }},
      {"no end row", [](Tables& t) { t.intr.pop_back(); }},
  };
  for (const Case& c : cases) {
    Tables t;
    c.corrupt(t);
    EXPECT_EQ(t.check(), kInitError) << c.what;
  }
}

TEST(OpcodeSelfCheck, IrregularIntrinsicsSkipTheCountComparison) {
  Tables t;
  ASSERT_EQ(t.info[kOpFeval].effect, kEffectIrregular);
  t.row("feval").out_args = 3;
  EXPECT_EQ(t.check(), kOk);
}

// ---- Lengths -----------------------------------------------------------------

// Every engine opcode that is not an intrinsic, with the words of its
// instruction: the opcode plus its listed operands.
struct Layout {
  uint16_t op;
  int words;
};
const Layout kEngineLayouts[] = {
    {kOpNop, 1}, {kOpPushZero, 1}, {kOpPushOne, 1}, {kOpPushInt16, 2}, {kOpPushImagInt16, 2},
    {kOpPushDouble, 5}, {kOpPushImagDouble, 5}, {kOpPushSingle, 5}, {kOpPushImagSingle, 5},
    {kOpPushSmallInt8, 2}, {kOpPushSmallInt16, 2}, {kOpPushSmallInt32, 2}, {kOpPushSmallUint8, 2},
    {kOpPushSmallUint16, 2}, {kOpPushSmallUint32, 2}, {kOpPushSmallInt64, 2}, {kOpPushSmallUint64, 2},
    {kOpPushInt32, 3}, {kOpPushUint32, 3}, {kOpPushInt64, 5}, {kOpPushUint64, 5},
    {kOpPushRange16, 4}, {kOpPushNoValue, 1}, {kOpPopItem, 1}, {kOpDupItems, 3}, {kOpMoveItem, 3},
    {kOpPushEmpty, 1}, {kOpMakeList, 2}, {kOpListAppend, 1}, {kOpListFlatten, 2},
    {kOpDeclareGlobal, 3}, {kOpLoadLocal, 2}, {kOpStoreLocal, 2}, {kOpDisplayLocal, 2},
    {kOpStoreAnsDisplay, 2}, {kOpDisplayNamed, 2}, {kOpIncLocal, 2}, {kOpDecLocal, 2},
    {kOpClearLocal, 2}, {kOpRefField, 2}, {kOpRefDynfield, 1}, {kOpIndexRead, 3}, {kOpRefElement, 2},
    {kOpIndexBeginning, 4}, {kOpIndexEnd, 4}, {kOpIndexMatrixrow, 4}, {kOpIndexMatrixcol, 4},
    {kOpPushRef, 2}, {kOpPushRefTarget, 2}, {kOpDeref, 1}, {kOpIndexRefRead, 3}, {kOpRefAssign, 1},
    {kOpIndexAssign, 3}, {kOpJump, 2}, {kOpJumpIfTrue, 2}, {kOpJumpIfFalse, 2}, {kOpSkip, 2},
    {kOpCaseTest, 2}, {kOpForNext, 2}, {kOpForRangeNext, 2}, {kOpRangePack, 2}, {kOpRangeFinal, 1},
    {kOpOrElse, 2}, {kOpAndThen, 2}, {kOpCallUser, 4}, {kOpPositionWide, 4}, {kOpCallNamed, 2},
    {kOpRetFunction, 1}, {kOpHalt, 1}, {kOpTryHandler, 3}, {kOpPosition, 3}, {kOpTaskEnd, 1},
};

TEST(InstructionLength, EngineOpcodes) {
  std::set<int> covered;
  for (const Layout& l : kEngineLayouts) {
    uint16_t code[8] = {l.op, 7, 7, 7, 7, 7, 7, 7};
    EXPECT_EQ(insn_length(code), l.words) << "opcode " << l.op;
    covered.insert(l.op);
  }
  // With the four string opcodes and the intrinsics, every opcode is named.
  for (int op = 0; op < kEngineOpcodeCount; ++op) {
    bool strings = op == kOpPushString8 || op == kOpPushString16 || op == kOpWriteString8 ||
                   op == kOpWriteString16;
    EXPECT_EQ(covered.count(op) + (intrinsic_by_opcode(op) != nullptr) + strings, 1u) << "opcode " << op;
  }
}

TEST(InstructionLength, StringsAndLibraryCalls) {
  struct Case {
    uint16_t op, n;
    int words;
  } cases[] = {
      {kOpPushString8, 3, 4},   {kOpPushString8, 0, 2},   {kOpPushString8, 4, 4},
      {kOpWriteString8, 1, 3},  {kOpPushString16, 3, 5},  {kOpWriteString16, 0, 2},
      {kOpPushString8, 0xFFFF, 0x8002},  // the length word is a count, never negative
  };
  for (const Case& c : cases) {
    uint16_t code[2] = {c.op, c.n};
    EXPECT_EQ(insn_length(code), c.words) << c.op << " n=" << c.n;
  }
  for (uint16_t op : {uint16_t(kFirstLibraryOpcode), uint16_t(400), uint16_t(0xFFFF)}) {
    uint16_t code[3] = {op, 1, 1};
    EXPECT_EQ(insn_length(code), kLibraryCallWords);
  }
}

// ---- Stack effects -------------------------------------------------------------

TEST(StackEffect, EngineOpcodes) {
  struct Case {
    uint16_t code[3];
    int nin, nout;
  } regular[] = {
      {{kOpNop}, 0, 0},          {{kOpPushZero}, 0, 1},        {{kOpPushOne}, 0, 1},
      {{kOpPopItem}, 1, 0},      {{kOpDupItems, 4, 2}, 4, 2},  {{kOpPushEmpty}, 0, 1},
      {{kOpMakeList, 3}, 3, 1},  {{kOpMakeList, 0}, 0, 1},     {{kOpListAppend}, 2, 1},
      {{kOpListFlatten, 2}, 2, 1}, {{kOpRefDynfield}, 2, 1},
      {{uint16_t(kFirstLibraryOpcode + 5), 2, 0xFFFF}, 2, -1},  // statement context
  };
  std::set<int> plain;
  for (const Case& c : regular) {
    int nin = -9, nout = -9;
    ASSERT_EQ(insn_stack_effect(c.code, &nin, &nout), kOk) << c.code[0];
    EXPECT_EQ(nin, c.nin) << c.code[0];
    EXPECT_EQ(nout, c.nout) << c.code[0];
    plain.insert(c.code[0]);
  }
  // Every other engine opcode without an intrinsic name has no plain effect.
  for (const Layout& l : kEngineLayouts) {
    if (plain.count(l.op)) continue;
    uint16_t code[8] = {l.op};
    EXPECT_EQ(insn_stack_effect(code, nullptr, nullptr), kBadArgument) << "opcode " << l.op;
  }
  uint16_t str[2] = {kOpPushString8, 0};
  EXPECT_EQ(insn_stack_effect(str, nullptr, nullptr), kBadArgument);
}

TEST(StackEffect, OperandCountsAndNullOutputs) {
  uint16_t size_call[3] = {kOpSize, 1, 2};  // nargin then nargout
  uint16_t eval_call[2] = {kOpEval, 3};
  uint16_t lasterr_call[2] = {kOpLasterr, 2};  // fixed input: nargout is the first operand
  int nin = 0, nout = 0;
  ASSERT_EQ(insn_stack_effect(size_call, &nin, &nout), kOk);
  EXPECT_EQ(nin, 1);
  EXPECT_EQ(nout, 2);
  EXPECT_EQ(insn_stack_effect(eval_call, &nin, &nout), kBadArgument);  // runs further code
  ASSERT_EQ(insn_stack_effect(lasterr_call, nullptr, &nout), kOk);
  EXPECT_EQ(nout, 2);
  ASSERT_EQ(insn_stack_effect(size_call, &nin, nullptr), kOk);
}

// ---- Flags ---------------------------------------------------------------------

TEST(OpcodeFlags, SideEffectOpcodes) {
  std::set<int> impure = {35, 36, 40, 41, 42, 43, 45, 46, 47, 48, 50, 80, 81, 86, 87, 90,
                          110, 111, 295, 296, 297, 299, 322, 326};
  for (int op = 53; op <= 59; ++op) impure.insert(op);
  for (int op = 92; op <= 97; ++op) impure.insert(op);
  for (int op = 301; op <= 307; ++op) impure.insert(op);
  for (int op = 309; op <= 319; ++op) impure.insert(op);
  impure.insert(kOpAssert);  // raises errors, so it must never be dropped as pure
  for (int op = 0; op < kEngineOpcodeCount; ++op)
    EXPECT_EQ((kOpcodeInfoTable[op].flags & kOpPure) == 0, impure.count(op) == 1) << "opcode " << op;
}

// ---- Names ---------------------------------------------------------------------

// A context in a block whose registered-table list is filled in by hand.
struct FakeEngine {
  static constexpr uint32_t kRefsAt = 2048;
  alignas(16) uint8_t block[4096] = {};
  EngineContext* ctx = reinterpret_cast<EngineContext*>(block);
  void set_tables(std::initializer_list<std::pair<const BuiltinEntry*, int>> tables) {
    ctx->tables = BlockOff{kRefsAt};
    ctx->table_count = 0;
    for (auto& [t, rows] : tables) table_refs(ctx)[ctx->table_count++] = {t, rows, 0};
  }
};

BuiltinEntry row(const char* name) {
  BuiltinEntry e{};
  std::strncpy(e.name, name, sizeof e.name);
  return e;
}

TEST(OpcodeNames, IntrinsicAndOperatorForms) {
  struct Case {
    uint32_t op;
    int operator_form;
    const char* name;
  } cases[] = {
      {kOpI, 0, "i"},          {kOpInf, 0, "inf"},        {kOpNan, 0, "nan"},
      {kOpPlus, 1, "+"},       {kOpCtranspose, 1, "'"},   {kOpEq, 1, "=="},
      {kOpUminus, 1, "-"},     {kOpNot, 1, "~"},          {kOpSame, 1, "==="},
      {kOpPlus, 0, "plus"},    {kOpSin, 1, "sin"},        {kOpPushOne, 0, ""},
      {kOpJump, 1, ""},        {kFirstLibraryOpcode, 0, ""},  // no context: no rows
  };
  for (const Case& c : cases) {
    char buf[kOpNameBytes];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(core_builtin_name(nullptr, c.op, c.operator_form, buf), 0);
    EXPECT_STREQ(buf, c.name) << c.op;
    for (size_t k = std::strlen(c.name); k < sizeof buf; ++k) EXPECT_EQ(buf[k], '\0');
  }
}

TEST(OpcodeNames, LibraryRowsAcrossTables) {
  BuiltinEntry a[] = {row("!tools"), row("alpha"), row("+errmsgtable"), row("beta"), row("")};
  BuiltinEntry b[] = {row("@core"), row("_gamma"), row(""), row("")};
  std::memcpy(b[2].name, "abcdefghijklmnopqrstuvwxyz012345", 32);  // no room for a terminator
  FakeEngine fe;
  fe.set_tables({{a, 4}, {b, 3}});
  char buf[kOpNameBytes];
  EXPECT_EQ(core_builtin_name(fe.ctx, kFirstLibraryOpcode + 1, 0, buf), 0);
  EXPECT_STREQ(buf, "alpha");
  EXPECT_EQ(core_builtin_name(fe.ctx, kFirstLibraryOpcode + 5, 1, buf), 0);
  EXPECT_STREQ(buf, "_gamma");
  EXPECT_EQ(core_builtin_name(fe.ctx, kFirstLibraryOpcode + 6, 0, buf), kOpNameBytes);
  EXPECT_EQ(std::memcmp(buf, b[2].name, 32), 0);
  EXPECT_EQ(core_builtin_name(fe.ctx, kFirstLibraryOpcode + 7, 0, buf), 0);  // past the rows
  EXPECT_STREQ(buf, "");

  // "info" order: intrinsics, then callable rows with the section they sit in.
  const char* section = nullptr;
  bool group = true;
  EXPECT_STREQ(intrinsic_name_by_index(fe.ctx, 0, 0, &section, &group), "abs");
  EXPECT_STREQ(section, "ZVR");
  EXPECT_FALSE(group);
  EXPECT_STREQ(intrinsic_name_by_index(fe.ctx, kIntrinsicCount - 1, 0, nullptr, nullptr),
               kIntrinsicTable[kIntrinsicCount - 1].name);
  struct Want {
    const char* name;
    const char* section;
    bool group;
  } want[] = {{"alpha", "tools", true}, {"beta", "tools", true}, {"_gamma", "core", false}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_STREQ(intrinsic_name_by_index(fe.ctx, kIntrinsicCount + i, 0, &section, &group), want[i].name);
    EXPECT_STREQ(section, want[i].section);
    EXPECT_EQ(group, want[i].group);
  }
  EXPECT_EQ(intrinsic_name_by_index(fe.ctx, kIntrinsicCount + 4, 0, &section, &group), nullptr);
  EXPECT_EQ(intrinsic_name_by_index(nullptr, kIntrinsicCount, 0, nullptr, nullptr), nullptr);
  EXPECT_EQ(intrinsic_name_by_index(fe.ctx, -1, 0, nullptr, nullptr), nullptr);
}

TEST(OpcodeNames, OperatorTokensByIndex) {
  EXPECT_STREQ(intrinsic_name_by_index(nullptr, 0, 1, nullptr, nullptr), ";");
  EXPECT_STREQ(intrinsic_name_by_index(nullptr, 4, 1, nullptr, nullptr), "||");
  EXPECT_STREQ(intrinsic_name_by_index(nullptr, 30, 1, nullptr, nullptr), ".'");
  EXPECT_EQ(intrinsic_name_by_index(nullptr, 31, 1, nullptr, nullptr), nullptr);
}

TEST(Keywords, FixedOrderByIdentity) {
  const char* const want[] = {"break", "case", "catch", "continue", "else", "elseif", "end",
                              "endfunction", "for", "function", "global", "if", "include",
                              "includeifexists", "otherwise", "persistent", "private", "public",
                              "repeat", "return", "switch", "try", "until", "use", "useifexists",
                              "while", "_pragma"};
  static_assert(std::size(want) == kKeywordCount);
  const char* k = nullptr;
  for (const char* w : want) {
    k = keyword_next(k);
    ASSERT_NE(k, nullptr);
    EXPECT_STREQ(k, w);
  }
  EXPECT_EQ(keyword_next(k), nullptr);
  char copy[] = "break";  // equal text, other pointer
  EXPECT_EQ(keyword_next(copy), nullptr);
}

}  // namespace
