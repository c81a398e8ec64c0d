// Literal values from text. The text is compiled as a code block in a
// workspace of its own; the block runs only when the constant-expression
// check accepts every instruction up to its halt, so nothing with an effect
// (a call of an arbitrary function, an assignment, a variable read) can run,
// and no name the text makes outlives it: "NaN = 1" refused once must not
// turn every later NaN into a variable read.
// While the compiler works the 8-bit copy of the text lies beyond the data
// stack's end, which is lowered below it and restored after.
#include "engine/lib/str2obj.h"

#include "engine/core/calls.h"
#include "engine/core/continuation.h"
#include "engine/core/frames.h"
#include "engine/core/interp.h"
#include "engine/core/stack_ops.h"
#include "engine/core/strings.h"
#include "engine/core/value_stack.h"

namespace {

// Compiles and checks; on any failure the block's frame is gone and the
// position is `saved` again.
int compile_checked(EngineContext* c, const char* text, int32_t length, const CodePosition& saved,
                    int32_t* values) {
  const int status = exec_own_code_block(c, text, length, values);
  if (status != kOk) {
    c->pos = saved;
    return status;
  }
  if (!exec_check_halt_opcode(c)) {
    frame_return_discard(c);
    c->pos = saved;
    return kBadArgument;
  }
  return kOk;
}

// Runs `body` with the 16-bit text of the char array on top copied as 8-bit
// text beyond the lowered end of the data stack.
template <typename Body>
int with_text_bytes(EngineContext* c, Body body) {
  TypedView t{};
  if (!stk_is_char(c, 0) || !typed_view(c, 0, &t)) return kWrongArgType;
  const int64_t length = t.count;
  const int64_t words = (length + 7) / 8;
  // At least one word must stay free for the compiler's output.
  if (words + 1 > data_free_words(c) || length > INT32_MAX) return kDataStackOverflow;
  auto* text = reinterpret_cast<char*>(data_words(c) + c->data_capacity - words);
  TN_TRY(wchars_to_name_bytes(t.elems, length, text));
  c->data_capacity -= uint32_t(words);
  const int status = body(text, int32_t(length));
  c->data_capacity += uint32_t(words);
  return status;
}

}  // namespace

int literal_compile(EngineContext* c, const char* text, int32_t length, int32_t* value_count) {
  const CodePosition saved = c->pos;
  return compile_checked(c, text, length, saved, value_count);
}

int bi_str2obj(EngineContext* c, int nargin, int nargout, uintptr_t) {
  const int results = builtin_resumed(nargin);
  if (results >= 0) {
    // [text, v1 ... vn]: the text goes; the first value ends on top.
    if (!stk_has_item(c, results)) return kBadArgument;
    TN_TRY(stk_reverse(c, results));
    return stk_remove(c, results, 1);
  }
  if (nargin != 1 || !stk_has_item(c, 0)) return kBadArgument;
  const int want = nargout < 1 ? 1 : nargout;
  // The block runs above the text, which stays until the resumed call, so a
  // failure anywhere leaves the argument where it was.
  const CodePosition saved = c->pos;
  return with_text_bytes(c, [&](const char* text, int32_t length) -> int {
    int32_t values = 0;
    const int status = exec_own_code_block(c, text, length, &values);
    if (status != kOk) {
      c->pos = saved;
      return status;
    }
    if (values != want) {
      frame_return_discard(c);
      c->pos = saved;
      return want < values ? int(kTooFewOutputs) : int(kTooManyOutputs);
    }
    if (!exec_check_halt_opcode(c)) {
      frame_return_discard(c);
      c->pos = saved;
      return kBadArgument;
    }
    // The loop runs the block (the check's nested-run mark is not wanted
    // there); its frame's return calls str2obj again with the values.
    c->pos.flag = 0;
    frame_words(c, c->frame)[kFwStepMode] = uint32_t(kStepRun);
    frame_words(c, c->frame)[kFwResume] = 1;
    return int(kOk);
  });
}

int literal_read_value(EngineContext* c, const char* text, int32_t length) {
  const CodePosition saved = c->pos;
  const int32_t level = c->frame + 1;
  // No caller position: the block's return ends the run, and an error in it
  // is never caught by a try of code that happens to be running.
  c->pos = CodePosition{};
  c->pos.kind = kAreaNone;
  int32_t values = 0;
  TN_TRY(compile_checked(c, text, length, saved, &values));
  if (values != 1) {
    frame_return_discard(c);
    c->pos = saved;
    return kTooManyInputs;
  }
  frame_words(c, c->frame)[kFwStepMode] = uint32_t(kStepRun);
  const int status = interp_run(c, 0);
  if (status != kOk) frame_unwind(c, level > 0 ? level : 1);
  c->pos = saved;
  return status;
}
