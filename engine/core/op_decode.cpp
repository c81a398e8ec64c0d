// The decode table of the engine opcodes: each instruction's length, the
// operand words a handler gets and whether it may run further code. The table
// is derived once from the instruction tables, so it always agrees with them.
#include <array>

#include "engine/core/interp_dispatch.h"

namespace {

constexpr int kMaxHandlerOperands = 3;

bool opcode_runs_code(uint32_t op) {
  switch (op) {
    case kOpSubsasgn: case kOpIndexRead: case kOpIndexRefRead: case kOpEval: case kOpFeval:
    case kOpBuiltin: case kOpCallNamed:
      return true;
    default:
      return false;
  }
}

OpDecode decode_of(uint32_t op) {
  OpDecode d{};
  const OpcodeInfo& info = kOpcodeInfoTable[op];
  switch (info.kind) {
    case kOperandNone: d.length = 1; break;
    case kOperandWords: d.length = uint8_t(info.count + 1); break;
    case kOperandInt32: d.length = uint8_t(2 * info.count + 1); break;
    case kOperandInt64:
    case kOperandDouble: d.length = uint8_t(4 * info.count + 1); break;
    default: d.length = 0; break;  // strings: the length word decides
  }
  if (info.kind == kOperandWords)
    d.operands = uint8_t(info.count < kMaxHandlerOperands ? info.count : kMaxHandlerOperands);
  if (const IntrinsicEntry* e = intrinsic_by_opcode(op)) {
    d.intrinsic = true;
    int8_t word = 1;
    if (argc_is_variable(e->in_args)) d.in_word = word++;
    else d.in_fixed = int8_t(e->in_args);
    if (argc_is_variable(e->out_args)) d.out_word = word;
    else d.out_fixed = int8_t(e->out_args);
  }
  d.runs_code = opcode_runs_code(op);
  return d;
}

const std::array<OpDecode, kEngineOpcodeCount> kDecode = [] {
  std::array<OpDecode, kEngineOpcodeCount> t{};
  for (uint32_t op = 0; op < uint32_t(kEngineOpcodeCount); ++op) t[op] = decode_of(op);
  return t;
}();

}  // namespace

const OpDecode& op_decode(uint32_t opcode) { return kDecode[opcode]; }

void op_handler_args(const OpDecode& dec, const uint16_t* insn, int* a, int* b, int* c) {
  *a = *b = *c = 0;
  if (dec.intrinsic) {
    *a = dec.in_word ? int16_t(insn[dec.in_word]) : dec.in_fixed;
    *b = dec.out_word ? int16_t(insn[dec.out_word]) : dec.out_fixed;
    return;
  }
  if (dec.operands >= 1) *a = int16_t(insn[1]);
  if (dec.operands >= 2) *b = int16_t(insn[2]);
  if (dec.operands >= 3) *c = int16_t(insn[3]);
}

