// Raising, storing and reporting errors. A raised error's text lives in a
// variable-heap block (the pending text) until it is committed as the last
// error text; both are named by heap data index, -1 for none, and a block is
// only ever owned by one of the two marks. Messages come from the tables of
// the "+errmsgtable" rows, searched in registration order.
#include "engine/core/errors.h"

#include <cstring>

#include "engine/core/checked.h"
#include "engine/core/containers.h"
#include "engine/core/frames.h"
#include "engine/core/function_names.h"
#include "engine/core/heap.h"
#include "engine/core/numfmt.h"
#include "engine/core/stack_ops.h"
#include "engine/core/streams.h"
#include "engine/core/strings.h"
#include "engine/core/symbols.h"
#include "engine/core/value_stack.h"

namespace {

constexpr int32_t kNoText = -1;
constexpr int32_t kNoFunction = -1;
constexpr int32_t kNoLine = -1;
constexpr char kNoRowText[] = "Error";
// Room the table report needs before it adds the error position.
constexpr int32_t kPositionRoom = 71;
// Bytes a stored text may grow by for its position: " (", ";", ")" and the line.
constexpr int64_t kPositionExtra = 10;
// Identifier characters placed in a message by %n.
constexpr int32_t kNamePlaceholderLimit = 32;
// An identifier given to rethrow: the form the error built-in recognises.
constexpr int32_t kIdentifierFormLimit = 66;
constexpr int kPrintableFirst = 32;
constexpr int kPrintableLast = 126;
constexpr int32_t kMinHexDigits = 2;
// A text argument found in the free data stack is copied out of the scratch
// buffer's way first, this much of it at most.
constexpr int32_t kTextArgumentCopy = 256;

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_name_char(char c) { return is_letter(c) || is_digit(c) || c == '_'; }

bool row_is_table_hook(const BuiltinEntry& row) {
  return row.fn && std::strncmp(row.name, kHookErrMsgTable, sizeof row.name) == 0;
}

// Visits the error tables in search order until visit answers non-null.
template <typename Visit>
const ErrMsgEntry* find_in_tables(EngineContext* ctx, Visit visit) {
  for (int t = 0; t < ctx->table_count; ++t) {
    const LibraryTableRef ref = table_refs(ctx)[t];
    for (int r = 0; r < ref.rows; ++r) {
      if (!row_is_table_hook(ref.table[r])) continue;
      if (const ErrMsgEntry* found = visit(errmsg_table_of(ref.table[r]))) return found;
    }
  }
  return nullptr;
}

// --- Error-text blocks: word 0 the code as a double, then zero-terminated text.

bool text_block_valid(EngineContext* ctx, int32_t index) {
  if (index < 1 || index >= ctx->heap_size) return false;
  const uint64_t h = heap_header(heap_words(ctx), index - 1);
  return heap_header_used(h) && heap_header_size(h) >= 2 && index + heap_header_size(h) <= ctx->heap_size;
}

const char* block_text(EngineContext* ctx, int32_t index, int32_t* room) {
  *room = int32_t((heap_block_size(ctx, index) - 1) * 8);
  return reinterpret_cast<const char*>(heap_words(ctx) + index + 1);
}

int32_t block_code(EngineContext* ctx, int32_t index) {
  return tn::dtoi32(tn::ld_f64(heap_words(ctx) + index));
}

void release_text(EngineContext* ctx, int32_t index) {
  if (text_block_valid(ctx, index)) heap_free(ctx, index);
}

bool inside_heap(EngineContext* ctx, const char* text) {
  const char* start = reinterpret_cast<const char*>(heap_words(ctx));
  return text >= start && text < start + int64_t(ctx->heap_size) * 8;
}

// --- Bounded text: appends keep the last byte free for the terminator.

struct Text {
  char* buf;
  int32_t cap;
  int32_t pos = 0;

  void add(const char* s, int32_t n) { buf_append_n(buf, &pos, s, n, cap); }
  void add(const char* s) { buf_append_cstr(buf, &pos, s, cap); }
  void add_char(char c) { buf_append_n(buf, &pos, &c, 1, cap); }
  // At least one digit: 0 is a value like any other ("%.0d" would print nothing).
  void add_decimal(int32_t v) {
    fmt_int32_dec(buf, &pos, v, false, 0, false, false, false, 1, cap - 1);
  }
  void add_quoted(const char* s, int32_t n) {
    add_char('\'');
    add(s, n);
    add_char('\'');
  }
  int32_t room() const { return cap - 1 - pos; }
  int32_t finish() {
    if (cap > 0) buf[pos] = 0;
    return pos;
  }
};

// The template arguments of err_raise_code.
struct RaiseArgs {
  EngineContext* ctx;
  int32_t variable;
  int32_t function;
  int32_t integer;
  const char* text;
  int32_t text_limit;  // bytes of text that may be read
};

bool has_arguments(const RaiseArgs& a) {
  return a.variable >= 0 || a.function != 0 || a.integer >= 0 || a.text;
}

// The text a name placeholder stands for; length 0 when its argument is missing.
const char* placeholder_text(const RaiseArgs& a, char letter, int32_t* n) {
  *n = 0;
  switch (letter) {
    case 'v': {
      if (a.variable < 0) return nullptr;
      const uint8_t* entry = frame_var_name_entry(a.ctx, a.variable);
      if (!entry) return nullptr;
      const char* name = reinterpret_cast<const char*>(entry);
      *n = int32_t(strnlen(name, kFrameNameBytes));
      return name;
    }
    case 'f': {
      if (a.function == 0) return nullptr;
      const char* name = symtab_name(a.ctx, a.function, n);
      if (!name) *n = 0;
      return name;
    }
    case 'n': {
      if (!a.text) return nullptr;
      while (*n < kNamePlaceholderLimit && *n < a.text_limit && is_name_char(a.text[*n])) ++*n;
      return a.text;
    }
    case 's':
      if (a.text) *n = int32_t(strnlen(a.text, size_t(a.text_limit)));
      return a.text;
    case 'S':
      if (a.text && a.integer > 0) *n = a.integer < a.text_limit ? a.integer : a.text_limit;
      return a.text;
    default:
      return nullptr;
  }
}

// Copies a template, expanding its placeholders (see err_raise_code).
void expand_template(const RaiseArgs& a, const char* t, Text* out) {
  for (int32_t i = 0; t[i];) {
    if (t[i] != '%' || !is_letter(t[i + 1])) {
      out->add_char(t[i++]);
      continue;
    }
    const char letter = t[i + 1];
    i += 2;
    switch (letter) {
      case 'v':
      case 'f':
      case 'n':
      case 's':
      case 'S': {
        int32_t n = 0;
        const char* s = placeholder_text(a, letter, &n);
        if (n > 0)
          out->add_quoted(s, n);
        else if (t[i] == ' ')
          ++i;  // no double blank where the argument is missing
        break;
      }
      case 'i':
        if (a.integer >= 0) {
          out->add_decimal(a.integer);
        } else if (out->pos > 0 && out->buf[out->pos - 1] == '(' && t[i] == ')') {
          --out->pos;  // "(%i)" without a value goes away whole
          ++i;
          if (t[i] == ' ') ++i;
        }
        break;
      case 'c':
        if (a.integer >= kPrintableFirst && a.integer <= kPrintableLast) {
          const char c = char(a.integer);
          out->add_quoted(&c, 1);
        } else if (a.integer >= 0) {
          out->add("0x");
          fmt_uint_hex(out->buf, &out->pos, uint32_t(a.integer), 0, false, false, false,
                       kMinHexDigits, out->cap - 1);
        }
        break;
      default:
        break;  // an unknown placeholder is dropped
    }
  }
}

bool identifier_form(const char* text, int32_t n) {
  if (n < 1 || n > kIdentifierFormLimit) return false;
  bool colon = false;
  for (int32_t i = 0; i < n; ++i) {
    if (text[i] == ':')
      colon = true;
    else if (!is_name_char(text[i]))
      return false;
  }
  return colon;
}

// The code of an identifier, interning an unknown one as a symbol.
int identifier_code(EngineContext* ctx, const char* text, int32_t n, int32_t* code) {
  *code = err_code_from_identifier(ctx, text, n);
  if (*code != 0) return kOk;
  return symtab_intern(ctx, text, n, kErrorIdLimit, code);
}

}  // namespace

BuiltinFn errmsg_table_as_fn(const ErrMsgEntry* table) {
  return reinterpret_cast<BuiltinFn>(reinterpret_cast<uintptr_t>(table));
}

const ErrMsgEntry* errmsg_table_of(const BuiltinEntry& row) {
  return reinterpret_cast<const ErrMsgEntry*>(reinterpret_cast<uintptr_t>(row.fn));
}

const ErrMsgEntry* errmsg_lookup(EngineContext* ctx, int32_t code, bool templated) {
  return find_in_tables(ctx, [&](const ErrMsgEntry* table) -> const ErrMsgEntry* {
    const ErrMsgEntry* first = nullptr;
    for (const ErrMsgEntry* e = table; e->message; ++e) {
      if (int32_t(e->code) != code) continue;
      if (!first) {
        first = e;
        if (!templated) return first;
      } else {
        return e;
      }
    }
    return first;
  });
}

int32_t err_code_from_identifier(EngineContext* ctx, const char* text, int32_t length) {
  if (!text) return 0;
  if (length < 0) length = str_len(text);
  if (length < kEngineIdPrefixLength ||
      std::memcmp(text, kEngineIdPrefix, size_t(kEngineIdPrefixLength)) != 0)
    return 0;
  const char* name = text + kEngineIdPrefixLength;
  const int32_t n = length - kEngineIdPrefixLength;
  const ErrMsgEntry* row = find_in_tables(ctx, [&](const ErrMsgEntry* table) -> const ErrMsgEntry* {
    for (const ErrMsgEntry* e = table; e->message; ++e)
      if (e->identifier && str_equal(name, n, e->identifier, -1, false)) return e;
    return nullptr;
  });
  return row ? int32_t(row->code) : 0;
}

void err_note_location(EngineContext* ctx, int32_t status, int32_t line) {
  ctx->status_word = status;
  int32_t function = kNoFunction;
  int32_t at_line = kNoLine;
  for (int32_t index = ctx->frame; index >= 0 && index < ctx->desc_top;) {
    const uint32_t* w = frame_words(ctx, index);
    if (int32_t(w[kFwCurrentFunction]) != kNoFunction || w[kFwCallerKind] == kAreaNone) {
      function = int32_t(w[kFwCurrentFunction]);
      at_line = int32_t(w[kFwLine]);
      break;
    }
    const int32_t previous = index - int32_t(w[kFwPrevDistance]);
    if (previous < 0 || previous >= index) break;
    index = previous;
  }
  ctx->error_area.loc_function = function;
  ctx->error_area.loc_line = line > 0 ? line : at_line;
}

void err_state_clear(EngineContext* ctx) {
  ctx->status_word = 0;
  ctx->error_area.loc_line = 0;
  ctx->error_area.loc_function = kNoFunction;
  ctx->failing_op[0] = 0;
}

void err_store(EngineContext* ctx, int32_t code, const char* text, int32_t length,
               bool with_position) {
  // A text read from the old block itself must outlive the new allocation.
  const int32_t old = ctx->err_pending_text;
  const bool keep_old = text && inside_heap(ctx, text);
  ctx->err_pending_text = kNoText;
  if (!keep_old) release_text(ctx, old);
  if (code == 0 && !text) return;

  int32_t n;
  if (text) {
    n = length < 0 ? str_len(text) : length;
  } else {
    const ErrMsgEntry* row = errmsg_lookup(ctx, code, false);
    text = row ? row->message : kNoRowText;
    n = str_len(text);
  }
  err_note_location(ctx, code, 0);

  char name[kPositionNameLimit + 1] = "";
  int32_t line = 0;
  if (with_position) line = code_function_name(ctx, name, sizeof name, nullptr, 0);
  const bool use_position = line > 1;
  const int32_t name_length = use_position ? str_len(name) : 0;

  const int64_t total = int64_t(n) + name_length;
  int32_t index = 0;
  if (heap_alloc(ctx, ((total + 11) >> 3) + 2, &index) != kOk) {
    if (keep_old) release_text(ctx, old);
    return;  // the error goes on without its text
  }
  uint64_t* block = heap_words(ctx) + index;
  tn::st_f64(block, double(code));
  Text out{reinterpret_cast<char*>(block + 1), int32_t(total + kPositionExtra + 1)};
  out.add(text, n);
  if (use_position) {
    out.add(" (");
    if (name_length > 0) {
      out.add(name, name_length);
      out.add_char(';');
    }
    out.add_decimal(line);
    out.add_char(')');
  }
  out.finish();
  if (keep_old) release_text(ctx, old);
  ctx->err_pending_text = index;
}

void err_clear_location(EngineContext* ctx) {
  release_text(ctx, ctx->err_last_text);
  ctx->err_last_text = text_block_valid(ctx, ctx->err_pending_text) ? ctx->err_pending_text : kNoText;
  ctx->err_pending_text = kNoText;
}

int err_raise_code(EngineContext* ctx, int32_t code, int32_t variable, int32_t function,
                   int32_t integer, const char* text) {
  // Scratch: the upper half of the free data stack; the stack is not changed.
  int64_t free_bytes = 0;
  void* scratch = nullptr;
  stk_free_space(ctx, &free_bytes, nullptr);
  const int64_t words = free_bytes / 8 / 2;
  if (words < 1 || stk_reserve_top(ctx, words, &scratch) != kOk) {
    // No room to build the text: the plain message still names the error.
    err_store(ctx, code, nullptr, 0, true);
    return code;
  }
  const int64_t bytes = words * 8;
  Text out{static_cast<char*>(scratch), int32_t(bytes > INT32_MAX ? INT32_MAX : bytes)};
  RaiseArgs args{ctx, variable, function, integer, text, INT32_MAX};
  char copy[kTextArgumentCopy];
  const char* free_start = reinterpret_cast<const char*>(data_words(ctx) + ctx->data_top);
  const char* free_end = reinterpret_cast<const char*>(data_words(ctx) + ctx->data_capacity);
  if (text && text >= free_start && text < free_end) {
    const int64_t avail = free_end - text;
    const int32_t n = int32_t(avail < kTextArgumentCopy ? avail : kTextArgumentCopy);
    std::memcpy(copy, text, size_t(n));
    args.text = copy;
    args.text_limit = n;
  }
  const ErrMsgEntry* row = errmsg_lookup(ctx, code, has_arguments(args));
  if (!row) {
    out.add(kNoRowText);
    out.add_char(' ');
    out.add_decimal(code);
  } else {
    expand_template(args, row->message, &out);
  }
  const int32_t n = out.finish();
  err_store(ctx, code, out.buf, n, true);
  return code;
}

int err_raise_id(EngineContext* ctx, const char* identifier, int32_t identifier_length,
                 const char* message, int32_t message_length) {
  if (identifier && identifier_length < 0) identifier_length = str_len(identifier);
  int32_t code = kUserError;
  if (identifier && identifier_length > 0)
    TN_TRY(identifier_code(ctx, identifier, identifier_length, &code));
  if (message && message_length < 0) message_length = str_len(message);
  if (message && message_length > 0) err_store(ctx, code, message, message_length, true);
  return code;
}

void err_store_identified(EngineContext* ctx, int32_t code, const char* identifier, int32_t length) {
  if (!errmsg_lookup(ctx, code, false)) {
    err_store(ctx, code, identifier, length, true);
  } else if (code == kUserError) {
    // The report of code 10 reads the stored text (or an earlier error's):
    // the table's message is stored for it.
    err_store(ctx, code, nullptr, 0, true);
  } else {
    err_store(ctx, 0, nullptr, 0, false);  // the report takes the table's text
  }
}

int32_t err_last_code(EngineContext* ctx) {
  return text_block_valid(ctx, ctx->err_last_text) ? block_code(ctx, ctx->err_last_text) : 0;
}

int32_t err_pending_code(EngineContext* ctx) {
  return text_block_valid(ctx, ctx->err_pending_text) ? block_code(ctx, ctx->err_pending_text) : 0;
}

void err_format_report(EngineContext* ctx, int32_t code, bool current, char* buffer,
                       int32_t capacity, int32_t* out_length) {
  if (!buffer || capacity < 1) {
    if (out_length) *out_length = 0;
    return;
  }
  bool stored;
  if (!current) {
    stored = text_block_valid(ctx, ctx->err_last_text);
  } else if (code != 0 && text_block_valid(ctx, ctx->err_pending_text)) {
    // Errors raised by identifier (negative codes) keep their text too.
    err_clear_location(ctx);
    stored = true;
  } else if (code >= 0 && code != kUserError) {
    stored = false;
  } else {
    stored = text_block_valid(ctx, ctx->err_last_text);
  }

  Text out{buffer, capacity};
  if (stored) {
    int32_t room = 0;
    const char* text = block_text(ctx, ctx->err_last_text, &room);
    out.add(text, int32_t(strnlen(text, size_t(room))));
  } else if (const ErrMsgEntry* row = code != 0 ? errmsg_lookup(ctx, code, false) : nullptr) {
    out.add(row->message);
#ifdef TN_DEBUG_CHECKS
    if (code == kIllegalError && tn_illegal_site().file) {
      out.add(" [");
      out.add(tn_illegal_site().file);
      out.add_char(':');
      out.add_decimal(tn_illegal_site().line);
      out.add_char(']');
    }
#endif
    if (out.room() >= kPositionRoom) {
      char name[kPositionNameLimit + 1];
      char operation[kFailingOpBytes + 1];
      const int32_t line = code_function_name(ctx, name, sizeof name, operation, sizeof operation);
      if (name[0] || line >= 2) {
        out.add(" (");
        if (name[0]) {
          out.add(name);
          if (line >= 1) {
            out.add_char(';');
            out.add_decimal(line);
          }
        } else {
          out.add_decimal(line);
        }
        out.add_char(')');
      }
      if (uint8_t(operation[0]) > ' ') {
        out.add_char(' ');
        out.add_quoted(operation, str_len(operation));
      }
    }
  }
  const int32_t n = out.finish();
  if (out_length) *out_length = n;
}

int err_print(EngineContext* ctx, int32_t code, bool keep) {
  char report[kReportBufferBytes];
  int32_t n = 0;
  err_format_report(ctx, code, keep, report, sizeof report, &n);
  if (keep) {
    err_store(ctx, code, report, n, false);
    err_clear_location(ctx);
  }
  if (n == 0) return kOk;
  TN_TRY(io_write(ctx, kFdStderr, report, n));
  return io_newline(ctx, kFdStderr);
}

int err_identifier_text(EngineContext* ctx, int32_t code) {
  const char* text = "";
  int32_t n = 0;
  const char* prefix = "";
  int32_t prefix_length = 0;
  if (code < 0) {
    text = symtab_name(ctx, code, &n);
    if (!text) {
      text = "";
      n = 0;
    }
  } else if (code > 0) {
    const ErrMsgEntry* row = errmsg_lookup(ctx, code, false);
    if (row && row->identifier) {
      prefix = kEngineIdPrefix;
      prefix_length = kEngineIdPrefixLength;
      text = row->identifier;
      n = str_len(text);
    }
  }
  uint16_t* chars = nullptr;
  TN_TRY(stk_push_char_row(ctx, prefix_length + n, &chars));
  for (int32_t i = 0; i < prefix_length; ++i) chars[i] = uint8_t(prefix[i]);
  for (int32_t i = 0; i < n; ++i) chars[prefix_length + i] = uint8_t(text[i]);
  return kOk;
}

int bi_lasterr_lasterror(EngineContext* ctx, int nargout, bool as_structure) {
  const int items = stk_item_count(ctx);
  const int32_t code = ctx->status_word;
  int status = kOk;
  if (nargout >= 2) status = err_identifier_text(ctx, code);

  if (status == kOk) {
    int32_t capacity = -1;  // as large as the data stack allows
    uint16_t* chars = nullptr;
    status = stk_push_str_buffer2(ctx, &capacity, &chars);
    if (status == kOk) {
      int32_t n = 0;
      err_format_report(ctx, code, false, reinterpret_cast<char*>(chars), capacity, &n);
      status = stk_shrink_byte_string(ctx, n);
    }
  }
  if (status == kOk && as_structure) {
    static constexpr char kMessage[] = "message";
    static constexpr char kIdentifier[] = "identifier";
    status = stk_make_container(ctx, 1, 0, kMessage, int32_t(sizeof kMessage - 1));
    const int32_t id_code = text_block_valid(ctx, ctx->err_last_text)
                                ? block_code(ctx, ctx->err_last_text)
                                : code;
    if (status == kOk) status = err_identifier_text(ctx, id_code);
    if (status == kOk)
      status = stk_make_container(ctx, 1, 1, kIdentifier, int32_t(sizeof kIdentifier - 1));
  }
  if (status != kOk)
    while (stk_item_count(ctx) > items) stk_drop(ctx);
  return status;
}

int bi_rethrow(EngineContext* ctx) {
  static constexpr char kIdentifier[] = "identifier";
  static constexpr char kMessage[] = "message";
  int fields = 0;
  bool has_id = false;
  bool has_message = false;
  int status = stk_struct_get_field(ctx, 0, kIdentifier, int32_t(sizeof kIdentifier - 1));
  if (status == kOk) {
    has_id = true;
    ++fields;
  } else if (status != kUndefinedField) {
    return status;
  }
  status = stk_struct_get_field(ctx, fields, kMessage, int32_t(sizeof kMessage - 1));
  if (status == kOk) {
    has_message = true;
    ++fields;
  } else if (status != kUndefinedField) {
    stk_remove(ctx, 0, fields);
    return status;
  }
  if (fields == 0) return kUndefinedField;
  status = kOk;  // a missing field was skipped, not failed

  // Texts stay on the stack until the error is stored; only then is the
  // structure removed with them.
  char* id = nullptr;
  int32_t id_length = 0;
  if (has_id && stk_get_cstring(ctx, has_message ? 1 : 0, &id, &id_length) != kOk) has_id = false;
  char* message = nullptr;
  int32_t message_length = 0;
  if (has_message) status = stk_get_cstring(ctx, 0, &message, &message_length);
  if (status != kOk) status = kBadArgument;

  int32_t code = kUserError;
  if (status == kOk && has_id && identifier_form(id, id_length)) {
    status = identifier_code(ctx, id, id_length, &code);
  } else if (status == kOk && has_id && !has_message) {
    // Not an identifier: the error built-in would take it as the message.
    message = id;
    message_length = id_length;
    has_message = true;
  }
  if (status == kOk) {
    if (!has_message) {
      err_store_identified(ctx, code, id, id_length);
      status = code;
    } else if (message_length > 0) {
      err_store(ctx, code, message, message_length, false);
      status = code;
    }
  }
  stk_remove(ctx, 0, fields + 1);
  return status;
}
