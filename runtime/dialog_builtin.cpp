// `dialog` and `dialogset`: the modal value dialog of application code.
// The values are written as source text into an item on the value stack,
// shown for editing, and the edited text is compiled as a command block that
// runs through the continuation protocol; the stack then holds
// [inputs..., text, input count, values...] when `dialog` is resumed. Text
// that does not compile to as many values as were given shows the dialog
// again as the user left it. Idle processing is held while a dialog is up.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/calls.h"
#include "engine/core/containers.h"
#include "engine/core/continuation.h"
#include "engine/core/frames.h"
#include "engine/core/options.h"
#include "engine/core/stack_ops.h"
#include "engine/core/status.h"
#include "engine/core/strings.h"
#include "engine/core/value_stack.h"
#include "engine/lib/dump_source.h"
#include "runtime/instances.h"
#include "runtime/tn_builtins.h"

namespace {

constexpr int32_t kStateIdle = 2;
constexpr int32_t kStateOff = 0;
constexpr int32_t kTextBytes = 4096;    // the edit text's item
constexpr int32_t kWriteRoom = 50;      // a value is written while this much room remains
constexpr int32_t kEllipsisRoom = 30;   // below this, "..." ends the text
constexpr int32_t kLabelBytes = 1024;   // title and prompt
constexpr int kStateItems = 2;          // the text item and the input count
constexpr double kDefaultDigits = 15;

const OptionDesc kDialogOptions[] = {
    opt_row("NPrec", kOptReal, kDefaultDigits),
    opt_text_row("Prompt", ""),
    opt_text_row("Title", ""),
    opt_text_row("Format", ""),
    opt_end_row(),
};

// What one call asks for.
struct Request {
  int values = 0;     // values to edit
  int outputs = 0;    // values, or values and the OK flag
  bool options = false;
  int digits = int(kDefaultDigits);
  std::string title, prompt;
};

int text_of(EngineContext* ctx, int depth, std::string* out) {
  char buffer[kLabelBytes];
  int32_t length = 0;
  TN_TRY(stk_get_string_buf(ctx, depth, buffer, kLabelBytes, &length));
  out->assign(buffer, size_t(std::clamp(length, 0, kLabelBytes)));
  return kOk;
}

int option_text(EngineContext* ctx, int depth, const char* name, std::string* out) {
  TN_TRY(opt_read_struct(ctx, depth, name, kDialogOptions));
  const int status = stk_is_char(ctx, 0) ? text_of(ctx, 0, out) : int(kWrongArgType);
  stk_drop(ctx);
  return status;
}

int read_request(EngineContext* ctx, int nargin, int nargout, Request* r) {
  r->options = stk_is_struct(ctx, nargin - 1) != 0;
  r->values = nargin - (r->options ? 2 : 1);
  if (r->values < 0) return kTooFewInputs;
  // A statement call leaves at most one item.
  r->outputs = nargout < 0 ? std::min(r->values, 1) : nargout;
  if (r->outputs < r->values) return kTooFewOutputs;
  if (r->outputs > r->values + 1) return kTooManyOutputs;
  const int prompt_depth = nargin - (r->options ? 2 : 1);
  if (!stk_is_char(ctx, prompt_depth)) return kWrongArgType;
  TN_TRY(text_of(ctx, prompt_depth, &r->prompt));
  if (r->options) {
    double digits = kDefaultDigits;
    TN_TRY(opt_get_number(ctx, nargin - 1, "NPrec", kDialogOptions, kDefaultDigits, &digits));
    if (!(digits >= 1 && digits <= 17)) return kBadArgument;
    r->digits = int(digits);
    TN_TRY(option_text(ctx, nargin - 1, "Title", &r->title));
    if (r->prompt.empty()) TN_TRY(option_text(ctx, nargin - 1, "Prompt", &r->prompt));
  }
  return kOk;
}

// Holds every instance's idle processing while the dialog is up.
class IdleHold {
 public:
  explicit IdleHold(RuntimeBlock* b) : b_(b) {
    for (int32_t k = 0; k < b->h.instance_count; ++k)
      if (inst_at(b, k)->state == kStateIdle) {
        held_.push_back(inst_at(b, k)->id);
        inst_at(b, k)->state = kStateOff;
      }
  }
  ~IdleHold() {
    for (int32_t id : held_)
      if (InstanceRec* rec = inst_find_by_id(b_, id)) rec->state = kStateIdle;
  }

 private:
  RuntimeBlock* b_;
  std::vector<int32_t> held_;
};

bool show(RuntimeBlock* b, const Request& r, char* text, int32_t* length) {
  DialogRequest request{r.title.data(), int32_t(r.title.size()), r.prompt.data(), int32_t(r.prompt.size()),
                        text,           text ? kTextBytes : 0,   text ? length : nullptr,
                        uint8_t(r.values > 0 || r.outputs == 1)};
  IdleHold hold(b);
  return b->h.dialog.fn(&request, b->h.dialog.context) != 0;
}

// The outputs of a dialog that gave no values (no callback, or Cancel):
// without the OK output the caller cannot tell, so the handler is cancelled.
int no_values(EngineContext* ctx, const Request& r) {
  if (r.outputs == 0) return kOk;
  if (r.outputs == r.values) return kCancel;
  TN_TRY(stk_push_logical_scalar(ctx, 0));
  for (int k = 0; k < r.values; ++k) {
    if (const int status = stk_push_empty(ctx); status != kOk) {
      for (int j = 0; j <= k; ++j) stk_drop(ctx);
      return status;
    }
  }
  return kOk;
}

char* text_item(EngineContext* ctx, int depth) {
  int ndims = 0, elem_size = 0, unsigned_flag = 0;
  const uint32_t* dims = nullptr;
  int64_t count = 0;
  void* data = nullptr;
  if (stk_get_typed_array(ctx, depth, &ndims, &dims, &count, &elem_size, &unsigned_flag, &data) != kOk ||
      elem_size != 1 || count != kTextBytes)
    return nullptr;
  return static_cast<char*>(data);
}

// Writes the values (depths values..1 below the text item on top, the first
// value deepest) as source text, converted to 8-bit text in the item.
int write_values(EngineContext* ctx, const Request& r, int32_t* length) {
  std::vector<uint16_t> wide(size_t(kTextBytes), 0);
  int32_t pos = 0;
  for (int k = 0; k < r.values; ++k) {
    if (kTextBytes - pos < kWriteRoom) break;
    if (k > 0) wide[size_t(pos++)] = u',';
    // Value k lies at depth r.values - k below the text item.
    TN_TRY(stk_dup(ctx, r.values - k, 1));
    int32_t at = pos;
    const int status = value_dump_source(ctx, wide.data(), kTextBytes - 3, &at, -1, nullptr, 0, r.digits);
    if (status == kDataStackOverflow) {
      stk_drop(ctx);
      break;
    }
    if (status != kOk) {
      stk_drop(ctx);
      return status;
    }
    pos = at;
  }
  if (kTextBytes - pos < kEllipsisRoom) {
    pos = std::min(pos, kTextBytes - 3);
    for (int k = 0; k < 3; ++k) wide[size_t(pos++)] = u'.';
  }
  char* text = text_item(ctx, 0);
  if (!text) return kIllegalError;
  TN_TRY(wchars_to_name_bytes(wide.data(), pos, text));
  *length = pos;
  return kOk;
}

bool is_room(int status) {
  return status == kStackOverflow || status == kDataStackOverflow || status == kCodeOverflow ||
         status == kVariableOverflow;
}

// Shows the text item on top (below it the input count) until the user
// cancels or the text compiles to as many values as were given; then the
// block's frame is set up to run and resume `dialog`.
int edit_loop(EngineContext* ctx, RuntimeBlock* b, const Request& r, int32_t length) {
  const CodePosition saved = ctx->pos;
  for (;;) {
    char* text = text_item(ctx, 1);
    if (!text) return kIllegalError;
    if (!show(b, r, text, &length)) return kCancel;  // the caller maps it
    length = std::clamp(length, 0, kTextBytes);
    int32_t values = 0;
    const int status = exec_code_block(ctx, text, length, &values);
    if (status != kOk) {
      ctx->pos = saved;
      // Out of room: the caller's handler call grows the block and runs
      // again; asking the user again would not help.
      if (is_room(status)) return status;
      continue;
    }
    if (values != r.values) {
      frame_return_discard(ctx);
      ctx->pos = saved;
      continue;
    }
    ctx->pos.flag = 0;
    frame_words(ctx, ctx->frame)[kFwStepMode] = uint32_t(kStepRun);
    frame_words(ctx, ctx->frame)[kFwResume] = 1;
    return kOk;
  }
}

int first_call(EngineContext* ctx, RuntimeBlock* b, int nargin, int nargout) {
  Request r;
  TN_TRY(read_request(ctx, nargin, nargout, &r));
  if (!b->h.dialog.fn || r.values == 0) {
    int pushed = 0;
    if (!b->h.dialog.fn) {
      TN_TRY(no_values(ctx, r));
      pushed = r.outputs;
    } else {
      const bool ok = show(b, r, nullptr, nullptr);
      if (r.outputs == 1) {
        TN_TRY(stk_push_logical_scalar(ctx, ok ? 1 : 0));
        pushed = 1;
      }
    }
    if (nargout < 0 && pushed == 0) {
      TN_TRY(stk_push_no_value(ctx));
      pushed = 1;
    }
    return stk_remove(ctx, pushed, nargin);
  }
  // [inputs..., text, input count]
  const int32_t dims[2] = {1, kTextBytes};
  void* data = nullptr;
  TN_TRY(stk_push_typed_array(ctx, 2, dims, 1, 1, &data));
  int32_t length = 0;
  int status = write_values(ctx, r, &length);
  if (status == kOk) status = stk_push_real(ctx, nargin);
  if (status != kOk) {
    stk_drop(ctx);
    return status;
  }
  status = edit_loop(ctx, b, r, length);
  if (status == kOk) return kOk;
  stk_drop(ctx);
  stk_drop(ctx);
  if (status != kCancel) return status;
  TN_TRY(no_values(ctx, r));
  return stk_remove(ctx, r.outputs, nargin);
}

// Resumed with the block's values on top of [inputs..., text, count].
int resumed(EngineContext* ctx, int results, int nargout) {
  double count = 0;
  TN_TRY(stk_get_real_scalar(ctx, results, &count));
  const int nargin = int(count);
  Request r;
  // The inputs lie below the state and the values, where read_request looks.
  const int below = results + kStateItems;
  r.options = stk_is_struct(ctx, below + nargin - 1) != 0;
  r.values = nargin - (r.options ? 2 : 1);
  r.outputs = nargout < 0 ? std::min(r.values, 1) : nargout;
  if (results != r.values) return kTooFewOutputs;
  if (r.outputs == r.values + 1) {
    TN_TRY(stk_push_logical_scalar(ctx, 1));
    TN_TRY(stk_reverse(ctx, results + 1));
  } else {
    TN_TRY(stk_reverse(ctx, results));
  }
  int kept = r.outputs;
  if (nargout < 0 && kept == 0) {
    TN_TRY(stk_push_no_value(ctx));
    kept = 1;
  }
  return stk_remove(ctx, kept, kStateItems + nargin);
}

}  // namespace

int bi_dialog(EngineContext* ctx, int nargin, int nargout, uintptr_t data) {
  CallContext* cc = reinterpret_cast<CallContext*>(data);
  if (!cc || !cc->block) return kBadContext;
  const int results = builtin_resumed(nargin);
  if (results >= 0) return resumed(ctx, results, nargout);
  return first_call(ctx, cc->block, nargin, nargout);
}

const OptionDesc* rt_dialog_options() { return kDialogOptions; }
