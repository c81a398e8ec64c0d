// The table of engine opcodes and the string, cell, list and structure
// built-ins that serve them, with the adapters from the interpreter's handler
// arguments (selector, nargin, nargout) to each built-in's own.
#include "engine/lib/text_container_opcodes.h"

#include "engine/core/opcodes.h"
#include "engine/lib/container_builtins.h"
#include "engine/lib/strfun.h"

namespace {

// Built-ins taking only a selector of their own.
int op_selector(EngineContext* ctx, int32_t selector, int, int, int) {
  switch (selector >> 8) {
    case kOpIsletter: return bi_char_test(ctx, selector & 0xff);
    case kOpUpper: return bi_change_case(ctx, selector & 0xff);
    case kOpDeblank: return bi_deblank(ctx, selector & 0xff);
    case kOpIslist: return bi_iscell(ctx, selector & 0xff);
    default: return kNotSupported;
  }
}
constexpr int32_t sel(uint16_t family, int value) { return int32_t(family) << 8 | value; }

int op_fixed(EngineContext* ctx, int32_t opcode, int, int, int) {
  switch (opcode) {
    case kOpFindstr: return bi_findstr(ctx);
    case kOpList2num: return bi_list2num(ctx);
    case kOpReplist: return bi_replist(ctx);
    case kOpIsstruct: return bi_isstruct(ctx);
    case kOpIsfield: return bi_isfield(ctx);
    case kOpGetfield: return bi_getfield(ctx);
    case kOpSetfield: return bi_setfield(ctx);
    case kOpRmfield: return bi_rmfield(ctx);
    case kOpFieldnames: return bi_fieldnames(ctx);
    default: return kNotSupported;
  }
}

int op_nargin(EngineContext* ctx, int32_t opcode, int nargin, int, int) {
  switch (opcode) {
    case kOpStrcmp: return bi_strcmp(ctx, 0, nargin);
    case kOpStrcmpi: return bi_strcmp(ctx, 1, nargin);
    case kOpStrmatch: return bi_strmatch(ctx, nargin);
    case kOpNum2list: return bi_num2list(ctx, nargin);
    case kOpNum2cell: return bi_num2cell(ctx, nargin);
    case kOpStruct: return bi_struct(ctx, nargin);
    default: return kNotSupported;
  }
}

int op_in_out(EngineContext* ctx, int32_t opcode, int nargin, int nargout, int) {
  switch (opcode) {
    case kOpStrtok: return bi_strtok(ctx, nargin, nargout);
    case kOpOrderfields: return bi_orderfields(ctx, nargin, nargout);
    default: return kNotSupported;
  }
}

}  // namespace

const TextContainerOpcodeHandler kTextContainerOpcodeHandlers[] = {
    {kOpIsletter, op_selector, sel(kOpIsletter, kCharLetter)},
    {kOpIsdigit, op_selector, sel(kOpIsletter, kCharDigit)},
    {kOpIsspace, op_selector, sel(kOpIsletter, kCharSpace)},
    {kOpUpper, op_selector, sel(kOpUpper, kCaseUpper)},
    {kOpLower, op_selector, sel(kOpUpper, kCaseLower)},
    {kOpStrcmp, op_nargin, kOpStrcmp},
    {kOpStrcmpi, op_nargin, kOpStrcmpi},
    {kOpFindstr, op_fixed, kOpFindstr},
    {kOpStrmatch, op_nargin, kOpStrmatch},
    {kOpDeblank, op_selector, sel(kOpDeblank, kTrimTrailing)},
    {kOpStrtrim, op_selector, sel(kOpDeblank, kTrimBoth)},
    {kOpStrtok, op_in_out, kOpStrtok},
    {kOpNum2list, op_nargin, kOpNum2list},
    {kOpNum2cell, op_nargin, kOpNum2cell},
    {kOpList2num, op_fixed, kOpList2num},
    {kOpIslist, op_selector, sel(kOpIslist, kIsList)},
    {kOpIscell, op_selector, sel(kOpIslist, kIsCell)},
    {kOpReplist, op_fixed, kOpReplist},
    {kOpStruct, op_nargin, kOpStruct},
    {kOpIsstruct, op_fixed, kOpIsstruct},
    {kOpIsfield, op_fixed, kOpIsfield},
    {kOpGetfield, op_fixed, kOpGetfield},
    {kOpSetfield, op_fixed, kOpSetfield},
    {kOpRmfield, op_fixed, kOpRmfield},
    {kOpFieldnames, op_fixed, kOpFieldnames},
    {kOpOrderfields, op_in_out, kOpOrderfields},
};
const int kTextContainerOpcodeHandlerCount =
    sizeof(kTextContainerOpcodeHandlers) / sizeof(kTextContainerOpcodeHandlers[0]);
