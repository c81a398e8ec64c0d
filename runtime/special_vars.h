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

// Codes of the special variables the handler call supplies or takes itself.
enum : int32_t {
  kCodeFirstSpecial = 2,
  kCodeLastEvent = 27,  // _z .. _ix: empty without an event
  kCodeParam = 28,
  kCodeKey = 29,
  kCodeFd = 30,
  kCodeWidth = 31,
  kCodeHeight = 32,
  kCodeMsg = 35,
  kCodeCursor = 36,
  kCodeIdleRate = 37,
  kCodeIdleAmount = 38,
  kCodeLastSpecial = 39,  // codes 1 to 39 are never instance variables
};

// Pushes special variable `code` read from the block's event state: codes
// 2 to 27 by their validity bits (an empty matrix without them), 28 the
// parameter of the handler subplot (previous: the row before the newest);
// any other code an empty matrix. 0 or a push failure.
int handler_push_special_var(RuntimeBlock* b, int32_t id, int32_t code, bool previous);
