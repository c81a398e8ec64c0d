// Calls of user code on behalf of built-ins: the callee's frame carries the
// resume mark, so that its return calls the built-in again (frames.cpp) with
// the callee's results on the stack. See continuation.h for the protocol.
#include "engine/core/continuation.h"

#include "engine/core/calls.h"
#include "engine/core/frames.h"

int builtin_call_value(EngineContext* ctx, int depth, int nargin, int nargout) {
  // The resume mark is set by the call itself.
  return fn_call_funarg(ctx, depth, nargin, nargout, 0);
}

int builtin_call_name(EngineContext* ctx, const char* name, int nargin, int nargout) {
  TN_TRY(fn_call(ctx, name, frame_current_function(ctx), nargin, nargout, 0, 0));
  frame_words(ctx, ctx->frame)[kFwResume] = 1;
  return kOk;
}

int builtin_call_name_from(EngineContext* ctx, const char* name, int32_t context_id, int nargin, int nargout) {
  TN_TRY(fn_call(ctx, name, context_id, nargin, nargout, 0, 0));
  frame_words(ctx, ctx->frame)[kFwResume] = 1;
  return kOk;
}
