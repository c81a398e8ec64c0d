// The test assembler and disassembler: every opcode survives text and back,
// errors name their line, and arbitrary words round-trip.
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
