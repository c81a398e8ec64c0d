// The test assembler and disassembler: every opcode survives text and back,
// the text of a small program is pinned byte for byte, operand forms and
// errors behave as the format says, and arbitrary words round-trip.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/asm.h"

namespace {

using Words = std::vector<uint16_t>;

void expect_round_trip(const Words& code, bool no_raw = true) {
  std::string text = tnasm::disassemble(code);
  std::vector<uint16_t> back;
  std::string error;
  ASSERT_TRUE(tnasm::assemble(text, &back, &error)) << error << "\n" << text;
  EXPECT_EQ(back, code) << text;
  if (no_raw) {
    EXPECT_EQ(text.find(".word"), std::string::npos) << text;
  }
}

// One well-formed instruction of each engine opcode, padded so that an
// 8-byte literal's operand is aligned.
Words sample(uint16_t op) {
  const OpcodeInfo& info = kOpcodeInfoTable[op];
  Words w;
  if (tnasm::needs_alignment(op)) w.assign(3, kOpNop);
  w.push_back(op);
  switch (info.kind) {
    case kOperandWords:
      for (int k = 0; k < info.count; ++k) w.push_back(uint16_t(k == 1 ? 0x8003 : -5 + 7 * k));
      break;
    case kOperandInt32: w.insert(w.end(), {0x0001, 0x8000}); break;
    case kOperandInt64:
    case kOperandDouble: w.insert(w.end(), {0x1234, 0x5678, 0x9abc, 0x3ff0}); break;
    case kOperandString8: w.insert(w.end(), {3, 'a' | '"' << 8, '\\'}); break;
    case kOperandString16: w.insert(w.end(), {2, 0x20AC, '\n'}); break;
  }
  return w;
}

TEST(Assembler, EveryOpcodeRoundTrips) {
  for (int op = 0; op < kEngineOpcodeCount; ++op) {
    SCOPED_TRACE(op);
    ASSERT_NE(tnasm::mnemonic(op), nullptr);
    EXPECT_EQ(tnasm::opcode_for(tnasm::mnemonic(op)), op);
    expect_round_trip(sample(uint16_t(op)));
  }
  for (uint16_t op : {uint16_t(kFirstLibraryOpcode), uint16_t(1000), uint16_t(0xFFFF)})
    expect_round_trip({op, 2, 0xFFFF});
}

// A small loop with a literal, a string, an intrinsic call with operand
// words and a library call: the words and the text are both pinned.
TEST(Assembler, ProgramGolden) {
  const char* source =
      "  push_int16 10      ; counter\n"
      "  store_local 1\n"
      "top: load_local 1\n"
      "  push_zero\n"
      "  gt\n"
      "  jump_if_false done\n"
      "  dec_local 1\n"
      "  jump top\n"
      "done:\n"
      "  push_double 2.5\n"
      "  push_string8 \"it's \\\"x\\\"\\n\"\n"
      "  size 1, 2\n"
      "  lib 4 1 -1\n"
      "  ret_function\n";
  const Words want = {
      kOpPushInt16, 10, kOpStoreLocal, 1, kOpLoadLocal, 1, kOpPushZero, kOpGt,
      kOpJumpIfFalse, 5, kOpDecLocal, 1, kOpJump, uint16_t(-10),
      kOpNop, kOpPushDouble, 0, 0, 0, 0x4004,
      kOpPushString8, 9, 'i' | 't' << 8, '\'' | 's' << 8, ' ' | '"' << 8, 'x' | '"' << 8, '\n',
      kOpSize, 1, 2, kFirstLibraryOpcode + 4, 1, 0xFFFF, kOpRetFunction};
  Words code = tnasm::asm_code(source);
  EXPECT_EQ(code, want);
  EXPECT_EQ(tnasm::disassemble(code),
            "  push_int16 10\n"
            "  store_local 1\n"
            "L1:\n"
            "  load_local 1\n"
            "  push_zero\n"
            "  gt\n"
            "  jump_if_false L2\n"
            "  dec_local 1\n"
            "  jump L1\n"
            "  nop\n"
            "L2:\n"
            "  push_double 2.5\n"
            "  push_string8 \"it's \\\"x\\\"\\n\"\n"
            "  size 1 2\n"
            "  lib 4 1 -1\n"
            "  ret_function\n");
  tnasm::DisasmOptions listing;
  listing.addresses = true;
  listing.lib_name = [](int k) { return k == 4 ? std::string("mylib") : std::string(); };
  std::string text = tnasm::disassemble(code, listing);
  EXPECT_NE(text.find("   30  lib 4 1 -1  ; mylib\n"), std::string::npos) << text;
  EXPECT_NE(text.find("   14  nop\nL2:\n   15  push_double 2.5\n"), std::string::npos) << text;
}

TEST(Assembler, OperandForms) {
  struct Case {
    const char* text;
    Words words;
    const char* back;  // canonical disassembly; null: same as text
  } cases[] = {
      {"  j\n", {kOpI}, "  i\n"},
      {"  Inf 0\n", {kOpInf, 0}, "  inf 0\n"},
      {"  push_int16 0xFFFF\n", {kOpPushInt16, 0xFFFF}, "  push_int16 -1\n"},
      {"  index_read 2 0x3\n", {kOpIndexRead, 2, 3}, nullptr},
      {"  index_assign 17 0xffff\n", {kOpIndexAssign, 17, 0xFFFF}, nullptr},
      {"  jump 0xFFFE\n", {kOpJump, 0xFFFE}, "L1:\n  jump L1\n"},  // -2: itself
      {"  jump 0xFFFF\n", {kOpJump, 0xFFFF}, "  jump -1\n"},         // into its own operand
      {"  jump 7\n", {kOpJump, 7}, nullptr},                       // outside the code
      {"  skip 5\n", {kOpSkip, 5}, nullptr},
      {"  try_handler 0 1\n", {kOpTryHandler, 0, 1}, nullptr},     // restores the enclosing one
      {"  try_handler h 0\n  nop\nh:\n", {kOpTryHandler, 1, 0, kOpNop}, "  try_handler L1 0\n  nop\nL1:\n"},
      {"  push_int32.int32 -2147483648\n", {kOpPushInt32, 0, 0x8000}, nullptr},
      {"  push_int32.uint32 4294967295\n", {kOpPushUint32, 0xFFFF, 0xFFFF}, nullptr},
      {"  push_int64.int64 -2\n", {kOpPushInt64, 0xFFFE, 0xFFFF, 0xFFFF, 0xFFFF}, nullptr},
      {"  push_int64.uint64 18446744073709551615\n", {kOpPushUint64, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}, nullptr},
      {"  push_small_typed.uint8 200\n", {kOpPushSmallUint8, 200}, nullptr},
      {"  push_string16 \"\\u20ac\\x7f\"\n", {kOpPushString16, 2, 0x20AC, 0x7F}, nullptr},
      {"  write_string8 \"\"\n", {kOpWriteString8, 0}, nullptr},
      {"  write_string8 \"\\t\\xff\"\n", {kOpWriteString8, 2, 0xFF09}, nullptr},
      {"  .word 1 -1 0x10\n", {1, 0xFFFF, 0x10}, "  push_zero\n  .word 0xffff 0x0010\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Words code = tnasm::asm_code(c.text);
    EXPECT_EQ(code, c.words);
    EXPECT_EQ(tnasm::disassemble(code), c.back ? c.back : c.text);
  }
}

TEST(Assembler, DoublesKeepTheirBits) {
  const char* values[] = {"2.5", "-0", "0.1", "1e+300", "-4.94065645841247e-324", "inf", "-inf",
                          "nan", "-nan", "raw:0x7ff0000000000001", "0.30000000000000004"};
  for (const char* v : values) {
    SCOPED_TRACE(v);
    std::string text = std::string("  nop\n  nop\n  nop\n  push_imag_double ") + v + "\n";
    Words code = tnasm::asm_code(text);
    ASSERT_EQ(code.size(), 8u);
    EXPECT_EQ(tnasm::disassemble(code), text);
  }
  // Padding depends on where the code starts relative to an 8-byte boundary.
  EXPECT_EQ(tnasm::asm_code("  push_single 1\n").size(), 8u);
  tnasm::AsmOptions at1;
  at1.base_words = 1;
  EXPECT_EQ(tnasm::asm_code("  push_single 1\n", at1).size(), 7u);
  tnasm::AsmOptions unaligned;
  unaligned.align_doubles = false;
  Words raw = tnasm::asm_code("  push_single 1\n", unaligned);
  EXPECT_EQ(raw.size(), 5u);
  EXPECT_EQ(tnasm::disassemble(raw), "  .word 0x0011 0x0000 0x0000 0x0000 0x3ff0\n");
}

TEST(Assembler, ErrorsNameTheLine) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"  nop\n  frobnicate\n", "line 2: unknown mnemonic 'frobnicate'"},
      {"  load_local\n", "line 1: load_local takes 1 operand(s)"},
      {"  push_int16 70000\n", "line 1: bad operand '70000'"},
      {"  jump nowhere\n", "line 1: unknown label 'nowhere'"},
      {"a:\n  nop\na: nop\n", "line 3: label 'a' defined twice"},
      {"  push_string8 \"\\u0100\"\n", "line 1: \\u in a byte string"},
      {"  push_string8 \"abc\n", "line 1: string without closing quote"},
      {"  push_string8 abc\n", "line 1: expected a quoted string"},
      {"  push_double 1x\n", "line 1: bad double '1x'"},
      {"  push_int32.uint32 4294967296\n", "line 1: bad 32-bit value '4294967296'"},
      {"  lib 65209 0 0\n", "line 1: bad library row '65209'"},
  };
  for (const Case& c : cases) {
    Words code;
    std::string error;
    EXPECT_FALSE(tnasm::assemble(c.text, &code, &error)) << c.text;
    EXPECT_EQ(error, c.error);
  }
}

TEST(Disassembler, FallsBackToWordsWhereTextWouldLie) {
  const Words cases[] = {
      {kOpPushDouble, 0, 0, 0, 0},             // operand not 8-byte aligned
      {kOpLoadLocal},                          // truncated
      {kOpPushString8},                        // no length word
      {kOpPushString16, 5, 'a'},               // string runs past the end
      {kOpPushString8, 1, 0x4161},             // pad byte not zero
      {kOpNop, kFirstLibraryOpcode, 1},        // truncated library call
  };
  for (const Words& w : cases) {
    std::string text = tnasm::disassemble(w);
    EXPECT_NE(text.find(".word"), std::string::npos) << text;
    expect_round_trip(w, false);
  }
}

// Any words at all come back unchanged: the disassembler's text is either
// exact or raw. Opcodes are drawn mostly from the engine's range.
TEST(Disassembler, RandomWordsRoundTrip) {
  std::mt19937 rng(12345);
  for (int trial = 0; trial < 2000; ++trial) {
    Words w(1 + rng() % 40);
    for (auto& x : w) {
      switch (rng() % 4) {
        case 0: x = uint16_t(rng() % kEngineOpcodeCount); break;
        case 1: x = uint16_t(rng() % 8); break;
        case 2: x = uint16_t(-int(rng() % 8)); break;
        default: x = uint16_t(rng()); break;
      }
    }
    std::string text = tnasm::disassemble(w);
    Words back;
    std::string error;
    ASSERT_TRUE(tnasm::assemble(text, &back, &error)) << error << "\n" << text;
    ASSERT_EQ(back, w) << text;
  }
}

}  // namespace
