// The check of the calling convention after a built-in returns: inputs
// replaced by exactly the outputs asked for, or by one item for a statement
// call. A breach names the row, since the item it leaves astray shows up
// statements later as a stray value or an unrelated error.
#include "engine/core/builtin_call_check.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "engine/core/opcodes.h"
#include "engine/core/value_stack.h"

namespace {

void report_and_abort(void*, const char* name, int nargin, int nargout, int64_t items) {
  std::fprintf(stderr,
               "built-in '%s' called with %d inputs for %d outputs left %" PRId64
               " items in their place, not %d\n",
               name, nargin, nargout, items, builtin_results_owed(nargout));
  std::abort();
}

// One engine thread calls built-ins; tests swap the reporter between runs.
BuiltinBreachFn g_reporter = report_and_abort;
void* g_reporter_context = nullptr;

bool same_position(const CodePosition& a, const CodePosition& b) {
  return a.kind == b.kind && a.offset == b.offset;
}

}  // namespace

BuiltinCallMark builtin_call_mark(const EngineContext* ctx) {
  return BuiltinCallMark{ctx->desc_top, ctx->frame, ctx->task_current, ctx->pos};
}

bool builtin_results_left(const EngineContext* ctx, const BuiltinCallMark& mark, int nargin, int64_t* items) {
  if (nargin < 0 || ctx->frame != mark.frame || ctx->task_current != mark.task || !same_position(ctx->pos, mark.pos))
    return false;
  *items = (int64_t(ctx->desc_top) - mark.desc_top) / kDescWords + nargin;
  return true;
}

void builtin_check_set_reporter(BuiltinBreachFn fn, void* context) {
  g_reporter = fn ? fn : report_and_abort;
  g_reporter_context = fn ? context : nullptr;
}

void builtin_call_verify(const EngineContext* ctx, const BuiltinCallMark& mark, const char* name, int nargin,
                         int nargout) {
  int64_t items = 0;
  if (builtin_results_left(ctx, mark, nargin, &items) && items != builtin_results_owed(nargout))
    g_reporter(g_reporter_context, name, nargin, nargout, items);
}

void intrinsic_call_verify(const EngineContext* ctx, const BuiltinCallMark& mark, uint32_t opcode, int nargin,
                           int nargout) {
  int64_t items = 0;
  if (!builtin_results_left(ctx, mark, nargin, &items) || items == builtin_results_owed(nargout)) return;
  const IntrinsicEntry* e = intrinsic_by_opcode(opcode);
  g_reporter(g_reporter_context, e ? e->name : "?", nargin, nargout, items);
}

int builtin_call_checked(EngineContext* ctx, const BuiltinEntry* row, int nargin, int nargout) {
  const BuiltinCallMark mark = builtin_call_mark(ctx);
  const int status = row->fn(ctx, nargin, nargout, builtin_data(ctx, row));
  if (status == kOk) builtin_call_verify(ctx, mark, row->name, nargin, nargout);
  return status;
}
