// Calls of library rows by opcode: the lookup of row k among the registered
// tables, the checks of restricted frames and class methods, and the calls
// that built-ins and resumed frames make through an opcode or a function.
#include "engine/core/lib_calls.h"

#include "engine/core/builtin_call_check.h"
#include "engine/core/calls.h"
#include "engine/core/errors.h"
#include "engine/core/frames.h"
#include "engine/core/interp.h"
#include "engine/core/interp_dispatch.h"

namespace {

// The built-ins noted by lib_note_scalar_operator: a few, noted before main
// (constant-initialised, so no order of static initialisers matters).
struct ScalarOperatorNote {
  BuiltinFn fn;
  uint16_t op;
};
constexpr int kScalarOperatorNotes = 4;
ScalarOperatorNote g_scalar_operators[kScalarOperatorNotes] = {};

}  // namespace

int lib_note_scalar_operator(BuiltinFn fn, uint16_t op) {
  if (!fn || (op != kOpMrdivide && op != kOpMldivide)) return kBadArgument;
  for (ScalarOperatorNote& n : g_scalar_operators)
    if (!n.fn || n.fn == fn) {
      n = {fn, op};
      return kOk;
    }
  return kBadArgument;
}

uint16_t lib_scalar_operator(BuiltinFn fn) {
  for (const ScalarOperatorNote& n : g_scalar_operators) {
    if (!n.fn) break;
    if (n.fn == fn) return n.op;
  }
  return 0;
}

int lib_row_lookup(EngineContext* ctx, int32_t k, LibRow* out) {
  if (k < 0) return kNotSupported;
  const LibraryTableRef* refs = table_refs(ctx);
  for (int32_t t = 0; t < ctx->table_count; ++t) {
    if (k < refs[t].rows) {
      *out = LibRow{&refs[t].table[k], t, k};
      return kOk;
    }
    k -= refs[t].rows;
  }
  return kNotSupported;
}

bool frame_is_restricted(EngineContext* ctx) {
  return ctx->frame >= 0 && frame_words(ctx, ctx->frame)[kFwSandbox] != 0;
}

int lib_row_admit(EngineContext* ctx, const LibRow& r) {
  if (frame_is_restricted(ctx)) {
    // The last group mark at or above the row decides.
    char mark = 0;
    const BuiltinEntry* table = table_refs(ctx)[r.table].table;
    for (int32_t i = 0; i <= r.index; ++i)
      if (table[i].name[0] == '!' || table[i].name[0] == '@') mark = table[i].name[0];
    if (mark != '!') return kSecurityViolation;
  }
  if (r.row->class_word > 0) return kWrongArgType;
  // Marker and hook rows keep other things than a built-in in their function field.
  const char mark = r.row->name[0];
  if (!r.row->fn || mark == '@' || mark == '!' || mark == '+') return kNotSupported;
  ctx->class_id = builtin_class_id(r.table, r.row->class_word);
  return kOk;
}

int lib_call_opcode(EngineContext* ctx, int32_t opcode, int nargin, int nargout) {
  if (opcode >= 0 && opcode < kEngineOpcodeCount) {
    const OpHandler h = interp_op_handler(uint32_t(opcode));
    return h.fn(ctx, h.selector, nargin, nargout, 0);
  }
  LibRow r{};
  if (lib_row_lookup(ctx, opcode - int32_t(kFirstLibraryOpcode), &r) != kOk) return TN_ILLEGAL();
  TN_TRY(lib_row_admit(ctx, r));
  return builtin_call(ctx, r.row, nargin, nargout);
}

int lib_call_builtin(EngineContext* ctx, BuiltinFn fn, int nargin, int nargout) {
  const LibraryTableRef* refs = table_refs(ctx);
  for (int32_t t = 0; t < ctx->table_count; ++t) {
    for (int32_t i = 0; i < refs[t].rows; ++i) {
      const BuiltinEntry& row = refs[t].table[i];
      if (row.fn != fn) continue;
      ctx->class_id = builtin_class_id(t, row.class_word);
      return builtin_call(ctx, &row, nargin, nargout);
    }
  }
  return fn(ctx, nargin, nargout, ctx->default_data);
}
