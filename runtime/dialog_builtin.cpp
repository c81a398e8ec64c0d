// `dialog` and `dialogset`: the modal value dialog of application code.
// The values are written as source text into an item on the value stack,
// shown for editing, and the edited text is compiled as a command block that
// runs through the continuation protocol; the stack then holds
// [inputs..., text, input count, values...] when `dialog` is resumed. Text
// that does not compile to as many values as were given shows the dialog
// again as the user left it, and so does text that fails while it runs (the
// block runs as in a try block whose catch is its end). Idle processing is
// held while a dialog is up.
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
// The item's last bytes hold where the running block's code lies, so that a
// resumed call can tell the code item (what a caught error leaves as the
// one result) from a value; the text has the rest.
constexpr int32_t kCodeMarkBytes = 16;  // the code item's width and first word

struct CodeMark {
  uint64_t first_word;
  uint32_t width;
  uint32_t spare;
};
static_assert(sizeof(CodeMark) == kCodeMarkBytes);

// The mark of the item on top (the block's code item right after it was set up).
CodeMark mark_of_top(EngineContext* ctx) {
  CodeMark m{};
  const uint32_t* d = desc_at(ctx, 0);
  if (d[0] != kKindReal || d[1] != 1 || d[2] == 0) return m;
  std::memcpy(&m.first_word, item_data(ctx, 0), sizeof m.first_word);
  m.width = d[2];
  return m;
}
constexpr int32_t kTextCapacity = kTextBytes - kCodeMarkBytes;
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

// The inputs lie `base` items down (0 on the first call, below the state
// when resumed).
int read_request(EngineContext* ctx, int nargin, int nargout, Request* r, int base = 0) {
  nargin += base;
  r->options = stk_is_struct(ctx, nargin - 1) != 0;
  r->values = nargin - base - (r->options ? 2 : 1);
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
                        text,           text ? kTextCapacity : 0, text ? length : nullptr,
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
  std::vector<uint16_t> wide(size_t(kTextCapacity), 0);
  int32_t pos = 0;
  for (int k = 0; k < r.values; ++k) {
    if (kTextCapacity - pos < kWriteRoom) break;
    if (k > 0) wide[size_t(pos++)] = u',';
    // Value k lies at depth r.values - k below the text item.
    TN_TRY(stk_dup(ctx, r.values - k, 1));
    int32_t at = pos;
    const int status = value_dump_source(ctx, wide.data(), kTextCapacity - 3, &at, -1, nullptr, 0, r.digits);
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
  if (kTextCapacity - pos < kEllipsisRoom) {
    pos = std::min(pos, kTextCapacity - 3);
    for (int k = 0; k < 3; ++k) wide[size_t(pos++)] = u'.';
  }
  char* text = text_item(ctx, 0);
  if (!text) return kIllegalError;
  TN_TRY(wchars_to_name_bytes(wide.data(), pos, text));
  *length = pos;
  return kOk;
}

// The byte offset of the block's closing halt, or -1.
int64_t halt_offset(EngineContext* ctx) {
  const uint8_t* base = nullptr;
  int64_t bytes = 0;
  switch (ctx->pos.kind) {
    case kAreaCode: base = reinterpret_cast<const uint8_t*>(code_words(ctx)); bytes = int64_t(ctx->code_size) * 2; break;
    case kAreaDataStack: base = reinterpret_cast<const uint8_t*>(data_words(ctx)); bytes = int64_t(ctx->data_capacity) * 8; break;
    case kAreaHeap: base = reinterpret_cast<const uint8_t*>(heap_words(ctx)); bytes = int64_t(ctx->heap_size) * 8; break;
    default: return -1;
  }
  for (int64_t at = ctx->pos.offset; at >= 0 && at + 2 <= bytes;) {
    const auto* pc = reinterpret_cast<const uint16_t*>(base + at);
    if (*pc == kOpHalt) return at;
    const int n = insn_length(pc);
    if (n <= 0) return -1;
    at += int64_t(n) * 2;
  }
  return -1;
}

// The edited text runs as if in a try block whose catch is the block's end:
// an error while it runs leaves no values, and `dialog`, resumed with none,
// shows the text again as the user left it.
void catch_at_halt(EngineContext* ctx, uint32_t* w) {
  const int64_t halt = halt_offset(ctx);
  if (halt < 0 || halt > int64_t(UINT32_MAX)) return;
  w[kFwCatchKind] = uint32_t(ctx->pos.kind);
  w[kFwCatchOffset] = uint32_t(halt);
  w[kFwCatchKeep] = 0;
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
    length = std::clamp(length, 0, kTextCapacity);
    // Ended, so that the text is found as left when it is shown again
    // after a failed run.
    if (length < kTextCapacity) text[length] = 0;
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
    uint32_t* w = frame_words(ctx, ctx->frame);
    w[kFwStepMode] = uint32_t(kStepRun);
    w[kFwResume] = 1;
    catch_at_halt(ctx, w);
    const CodeMark mark = mark_of_top(ctx);
    std::memcpy(text + kTextCapacity, &mark, sizeof mark);
    return kOk;
  }
}

// The end of the dialog's edit: on Cancel the outputs of no values, else
// the error; the state items go either way.
int edit_refused(EngineContext* ctx, const Request& r, int nargin, int status) {
  stk_drop(ctx);
  stk_drop(ctx);
  if (status != kCancel) return status;
  TN_TRY(no_values(ctx, r));
  return stk_remove(ctx, r.outputs, nargin);
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
  return status == kOk ? kOk : edit_refused(ctx, r, nargin, status);
}

// A run of the edited text that failed (no values): the text is shown again
// as the user left it, on [inputs..., text, count].
int show_again(EngineContext* ctx, RuntimeBlock* b, int nargin, int nargout) {
  Request r;
  TN_TRY(read_request(ctx, nargin, nargout, &r, kStateItems));
  char* text = text_item(ctx, 1);
  if (!text) return kIllegalError;
  const int32_t length = int32_t(strnlen(text, size_t(kTextCapacity)));
  const int status = edit_loop(ctx, b, r, length);
  return status == kOk ? kOk : edit_refused(ctx, r, nargin, status);
}

// True when the block's run failed: its catch left the code item alone as
// the result (or nothing at all).
bool failed_run(EngineContext* ctx, int results) {
  if (results == 0) return true;
  if (results != 1) return false;
  const char* text = text_item(ctx, 2);
  if (!text) return false;
  CodeMark mark{};
  std::memcpy(&mark, text + kTextCapacity, sizeof mark);
  const CodeMark top = mark_of_top(ctx);
  return mark.width != 0 && top.width == mark.width && top.first_word == mark.first_word;
}

// Resumed with the block's values on top of [inputs..., text, count].
int resumed(EngineContext* ctx, RuntimeBlock* b, int results, int nargout) {
  double count = 0;
  TN_TRY(stk_get_real_scalar(ctx, results, &count));
  const int nargin = int(count);
  if (failed_run(ctx, results)) {
    for (int k = 0; k < results; ++k) stk_drop(ctx);
    return show_again(ctx, b, nargin, nargout);
  }
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
  if (results >= 0) return resumed(ctx, cc->block, results, nargout);
  return first_call(ctx, cc->block, nargin, nargout);
}

const OptionDesc* rt_dialog_options() { return kDialogOptions; }
