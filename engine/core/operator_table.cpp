// The expression compiler's operator table. Binary operators are all
// left-associative; unary minus sits below "^" and "~" below the relational
// operators, as the precedences show.
#include "engine/core/operator_table.h"

#include <cstring>

const OperatorEntry kOperatorTable[kOperatorCount + 1] = {
    {kOperatorBinary, 8, ";", "vertcat"},
    {kOperatorBinary, 10, ",", "horzcat"},
    {kOperatorBinary, 12, ":", "colon"},
    {kOperatorShortCircuit, 12, "?", "***"},
    {kOperatorShortCircuit, 13, "||", "***"},
    {kOperatorShortCircuit, 14, "&&", "***"},
    {kOperatorBinary, 15, "|", "or"},
    {kOperatorBinary, 17, "&", "and"},
    {kOperatorBinary, 19, "<=", "le"},
    {kOperatorBinary, 19, "<", "lt"},
    {kOperatorBinary, 19, ">=", "ge"},
    {kOperatorBinary, 19, ">", "gt"},
    {kOperatorBinary, 19, "===", "same"},
    {kOperatorBinary, 19, "==", "eq"},
    {kOperatorBinary, 19, "~==", "unsame"},
    {kOperatorBinary, 19, "~=", "ne"},
    {kOperatorBinary, 20, "+", "plus"},
    {kOperatorBinary, 20, "-", "minus"},
    {kOperatorBinary, 21, "*", "mtimes"},
    {kOperatorBinary, 21, "/", "mrdivide"},
    {kOperatorBinary, 21, "\\", "mldivide"},
    {kOperatorBinary, 21, ".*", "times"},
    {kOperatorBinary, 21, "./", "rdivide"},
    {kOperatorBinary, 21, ".\\", "ldivide"},
    {kOperatorBinary, 23, "^", "mpower"},
    {kOperatorBinary, 23, ".^", "power"},
    {kOperatorPrefix, 18, "~", "not"},
    {kOperatorPrefix, 22, "-", "uminus"},
    {kOperatorPrefix, 22, "+", "uplus"},
    {kOperatorPostfix, 24, "'", "ctranspose"},
    {kOperatorPostfix, 24, ".'", "transpose"},
    {kOperatorEnd, 0, "", ""},
};

const char* operator_token_for(const char* name) {
  for (const OperatorEntry* e = kOperatorTable; e->kind != kOperatorEnd; ++e)
    if (std::strcmp(e->name, name) == 0) return e->token;
  return nullptr;
}
