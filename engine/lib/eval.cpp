// eval: the text is compiled into a code block on the data stack above a
// frame of its own and run by the loop. Invariant: while the compiler works
// the text lies beyond the data stack's end, which is moved below it, so
// nothing the compiler claims can overwrite it; the end is restored after.
#include "engine/lib/eval.h"

#include "engine/core/calls.h"
#include "engine/core/fntable.h"
#include "engine/core/strings.h"
#include "engine/core/value_stack.h"

int bi_eval(EngineContext* c, int nargout) {
  if (!stk_has_item(c, 0)) return kBadArgument;
  TypedView t{};
  if (!stk_is_char(c, 0) || !typed_view(c, 0, &t)) return kWrongArgType;
  const int64_t length = t.count;
  const int64_t words = (length + 7) / 8;
  // At least one word must stay free for the compiler's output.
  if (words + 1 > data_free_words(c) || length > INT32_MAX) return kDataStackOverflow;
  auto* text = reinterpret_cast<char*>(data_words(c) + c->data_capacity - words);
  // Source text is 8-bit: a character above 255 is refused, never cut.
  TN_TRY(wchars_to_name_bytes(t.elems, length, text));
  stk_drop(c);
  const bool statement = nargout < 0;
  if (statement) TN_TRY(stk_push_no_value(c));
  c->data_capacity -= uint32_t(words);
  const int status = exec_eval_block(c, text, int32_t(length), statement ? 0 : nargout,
                                     statement ? uint32_t(kCompileAnsConvention) : 0u);
  c->data_capacity += uint32_t(words);
  if (status != kOk && statement) stk_drop(c);
  return status;
}
