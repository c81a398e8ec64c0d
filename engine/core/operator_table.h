// The operator table of the expression compiler: token, kind, precedence and
// the function an operator compiles to. Static data; the order decides which
// token matches first ("<=" before "<", "===" before "==").
#pragma once

#include <cstdint>

enum : int32_t {
  kOperatorBinary = 0,
  kOperatorPrefix = 1,
  kOperatorPostfix = 3,
  kOperatorShortCircuit = 5,  // compiled as jumps; function name "***"
  kOperatorEnd = -1,
};

struct OperatorEntry {
  int32_t kind;
  uint32_t precedence;
  char token[4];
  char name[12];
};
static_assert(sizeof(OperatorEntry) == 24);

constexpr int kOperatorCount = 31;
// kOperatorCount rows and an end row of kind kOperatorEnd.
extern const OperatorEntry kOperatorTable[kOperatorCount + 1];

// The token of the first operator row whose function is name, or null.
const char* operator_token_for(const char* name);
