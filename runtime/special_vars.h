// The special handler variables: their fixed codes and names (the table is
// registered in the name table when the block is laid out) and the set-up of
// the block's tables.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/runtime_block.h"

constexpr int32_t kSpecialNameBytes = 12;
struct SpecialVarDef {
  int32_t code;
  char name[kSpecialNameBytes];
};
static_assert(sizeof(SpecialVarDef) == 16);

constexpr int32_t kSpecialVarRows = 43;
// The table in its stored order, ended by {-1, ""}.
extern const SpecialVarDef kSpecialVarTable[kSpecialVarRows + 1];

// Value-store keys of an instance's own state.
enum : int32_t {
  kKeyLayout = 100,
  kKeyParam = 101,
  kKey3D = 102,
  kKeyTitle = 103,
  kKeyVersion = 104,
  kKeyHelp = 105,
};

int special_vars_init(RuntimeBlock* b, bool reset_engine);
