// Function values and the built-ins that answer questions about names:
// function references {i16 length, u16 context id, name bytes, 0}, the counts
// of a function argument, "inline" (an anonymous function whose compiled code
// travels inside the value) and "exist".
#include <cstdio>
#include <cstring>

#include "engine/core/calls.h"
#include "engine/core/containers.h"
#include "engine/core/fntable.h"
#include "engine/core/frames.h"
#include "engine/core/libraries.h"
#include "engine/core/stack_ops.h"
#include "engine/core/symbols.h"
#include "engine/core/value_stack.h"

namespace {

constexpr int32_t kRecordHeaderBytes = 4;  // i16 length, u16 context id
constexpr int32_t kScratchSkipBytes = 16;  // room for the descriptor pushed while scratch is in use

bool is_letter(char ch) { return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z'); }

struct Appender {
  char* buffer;
  int32_t capacity;
  int32_t at = 0;
  bool full = false;
  void put(const char* text, int32_t n) {
    if (at + n > capacity) {
      full = true;
      return;
    }
    std::memcpy(buffer + at, text, size_t(n));
    at += n;
  }
  void put(const char* text) { put(text, int32_t(std::strlen(text))); }
};

// The single lower-case letter of a body nearest to x in the alphabet (the
// first met on a tie), i and j excepted; x when there is none.
char inline_argument_letter(const char* body, int32_t n) {
  char best = 0;
  int best_distance = 0;
  for (int32_t i = 0; i < n; ++i) {
    const char ch = body[i];
    if (ch < 'a' || ch > 'z' || ch == 'i' || ch == 'j') continue;
    if ((i > 0 && is_letter(body[i - 1])) || (i + 1 < n && is_letter(body[i + 1]))) continue;
    const int distance = ch > 'x' ? ch - 'x' : 'x' - ch;
    if (!best || distance < best_distance) {
      best = ch;
      best_distance = distance;
    }
  }
  return best ? best : 'x';
}

bool is_name_char(char ch) { return is_letter(ch) || ch == '_' || (ch >= '0' && ch <= '9'); }

// True when word stands in text as a whole identifier.
bool has_identifier(const char* text, int32_t n, const char* word, int32_t k) {
  for (int32_t i = 0; i + k <= n; ++i) {
    if (std::memcmp(text + i, word, size_t(k)) != 0) continue;
    if ((i == 0 || !is_name_char(text[i - 1])) && (i + k == n || !is_name_char(text[i + k]))) return true;
  }
  return false;
}

// The output variable of a generated function: y, unless the body, an
// argument or a captured value already uses that name (an anonymous
// function of x and y), then y1, y2, ...
void inline_output_name(const char* body, int32_t body_length, const char* args, int32_t args_length,
                        const char* captures, int32_t captures_length, char* name, int32_t* length) {
  name[0] = 'y';
  *length = 1;
  for (int k = 1;; ++k) {
    if (!has_identifier(body, body_length, name, *length) && !has_identifier(args, args_length, name, *length) &&
        !has_identifier(captures, captures_length, name, *length))
      return;
    *length = 1 + std::snprintf(name + 1, 11, "%d", k);
  }
}

bool starts_with_word(const char* text, int32_t n, const char* word) {
  int32_t p = 0;
  while (p < n && (text[p] == ' ' || text[p] == '\t' || text[p] == '\n' || text[p] == '\r')) ++p;
  const int32_t k = int32_t(std::strlen(word));
  if (n - p < k || std::memcmp(text + p, word, size_t(k)) != 0) return false;
  return p + k >= n || !(is_letter(text[p + k]) || text[p + k] == '_' || (text[p + k] >= '0' && text[p + k] <= '9'));
}

bool variable_exists(EngineContext* c, const char* name, int32_t n) {
  const int32_t index = frame_workspace_index(c);
  if (index < 0 || n < 1 || n > kFrameNameBytes) return false;
  uint8_t* table = nullptr;
  int32_t count = 0;
  frame_var_table(c, &table, &count);
  if (!table) return false;
  const uint32_t* slots = frame_words(c, index) + kFrameFixedWords;
  for (int32_t i = 0; i < count; ++i) {
    const char* entry = reinterpret_cast<const char*>(table) + int64_t(kFrameNameBytes) * i;
    if (std::memcmp(entry, name, size_t(n)) == 0 && (n == kFrameNameBytes || entry[n] == 0) &&
        int32_t(slots[i]) != -1)
      return true;
  }
  return false;
}

int wrong_type_as_44(int status) { return status == kWrongType ? kWrongArgType : status; }

}  // namespace

int stack_push_record(EngineContext* c, const char* name, int32_t length, int32_t word) {
  if (length < 0 || length > INT16_MAX - kRecordHeaderBytes) return kBadArgument;
  void* p = nullptr;
  TN_TRY(stk_push_raw(c, kPayFuncRef, uint32_t(length + kRecordHeaderBytes + 1), &p));
  auto* b = static_cast<uint8_t*>(p);
  tn::store<int16_t>(b, int16_t(length));
  tn::store<uint16_t>(b + 2, uint16_t(word));
  std::memcpy(b + kRecordHeaderBytes, name, size_t(length));
  b[kRecordHeaderBytes + length] = 0;
  return kOk;
}

void code_string_ref(const void* record, const char** text, int32_t* length) {
  const auto* b = static_cast<const uint8_t*>(record);
  const int16_t n = tn::load<int16_t>(b);
  *length = n < 0 ? 0 : n;
  *text = reinterpret_cast<const char*>(b + kRecordHeaderBytes);
}

int inline_captures(EngineContext* c, int depth, const double** flat) {
  InlineParts parts{};
  TN_TRY(stk_get_inline(c, depth, &parts));
  if (!parts.code || !(parts.code[kHdrFlags] & kHdrCaptures)) return kWrongType;
  // The payload ends with the flat item and a word that counts its words.
  const uint32_t words = desc_at(c, depth)[1];
  const uint64_t* data = item_data(c, depth);
  const uint64_t n = words >= 1 ? data[words - 1] : 0;
  const int64_t code_word = (reinterpret_cast<const uint8_t*>(parts.code) - reinterpret_cast<const uint8_t*>(data)) / 8;
  if (n < uint64_t(kFlatHeaderWords) || int64_t(n) + 1 > int64_t(words) - code_word) return kWrongType;
  const double* item = reinterpret_cast<const double*>(data + words - 1 - n);
  uint32_t head[kFlatHeaderWords];
  for (int i = 0; i < kFlatHeaderWords; ++i) head[i] = uint32_t(tn::dtoi64(tn::ld_f64(item + i)));
  if (item_data_words(head[0], head[1], head[2]) != n - kFlatHeaderWords) return kWrongType;
  *flat = item;
  return kOk;
}

int funarg_resolve(EngineContext* c, int depth, int32_t context_id, int32_t* max_in, int32_t* max_out) {
  if (!stk_has_item(c, depth)) return kBadArgument;
  const uint32_t* d = desc_at(c, depth);
  char name[kIdentifierLimit + 1] = {};
  if (stk_is_char(c, depth)) {
    int32_t n = 0;
    const int status = stk_get_string_buf(c, depth, name, kIdentifierLimit, &n);
    if (status == kObjectTooLarge) return kUndefinedFunction;
    TN_TRY(wrong_type_as_44(status));
    name[n] = 0;
    return fn_find_by_name(c, name, nullptr, context_id, 0, max_in, max_out);
  }
  if (d[0] == kKindPayload && d[2] == kPayInline) {
    InlineParts parts{};
    TN_TRY(wrong_type_as_44(stk_get_inline(c, depth, &parts)));
    if (!parts.code) return kWrongArgType;
    // The captured values are an argument that no caller passes.
    *max_in = parts.code[kHdrMaxIn] - ((parts.code[kHdrFlags] & kHdrCaptures) ? 1 : 0);
    *max_out = parts.code[kHdrMaxOut];
    return kOk;
  }
  if (d[0] == kKindPayload && d[2] == kPayFuncRef) {
    const char* text = nullptr;
    int32_t n = 0;
    const void* record = item_data(c, depth);
    code_string_ref(record, &text, &n);
    if (n > kIdentifierLimit || int64_t(n) + kRecordHeaderBytes > int64_t(d[1]) * 8) return kUndefinedFunction;
    std::memcpy(name, text, size_t(n));
    const int32_t word = tn::load<uint16_t>(static_cast<const uint8_t*>(record) + 2);
    return fn_find_by_name(c, name, nullptr, word, 0, max_in, max_out);
  }
  return kWrongArgType;
}

int funarg_pop_resolve(EngineContext* c, int depth, int which) {
  int32_t max_in = 0, max_out = 0;
  TN_TRY(funarg_resolve(c, depth, frame_current_function(c), &max_in, &max_out));
  stk_drop(c);
  return stk_push_real(c, double(which ? max_out : max_in));
}

int inline_build_source(const char* body, int32_t body_length, const char* args, int32_t args_length,
                        const char* captures, int32_t captures_length, char* buffer, int32_t capacity,
                        int32_t* length) {
  char output[12];
  int32_t output_length = 0;
  inline_output_name(body, body_length, args, args_length, captures, captures_length, output, &output_length);
  Appender out{buffer, capacity};
  out.put("function ");
  out.put(output, output_length);
  out.put("=f(");
  if (captures_length > 0) out.put("_,");
  if (args_length > 0) {
    out.put(args, args_length);
  } else {
    const char letter = inline_argument_letter(body, body_length);
    out.put(&letter, 1);
  }
  out.put(");");
  if (captures_length > 0) {
    out.put("(");
    out.put(captures, captures_length);
    out.put(")=deal(_");
    out.put("{:});");
  }
  out.put(output, output_length);
  out.put("=");
  out.put(body, body_length);
  if (out.full) return kDataStackOverflow;
  *length = out.at;
  return kOk;
}

int bi_inline(EngineContext* c, int nargin, int, uintptr_t) {
  if (nargin < 1 || !stk_has_item(c, nargin - 1)) return kBadArgument;
  const bool has_captures = nargin >= 2 && stk_is_struct(c, 0);
  const int name_args = nargin - 1 - (has_captures ? 1 : 0);

  int32_t capacity = 0;
  char* scratch = source_scratch(c, nullptr, 0, &capacity) + kScratchSkipBytes;
  capacity -= kScratchSkipBytes;
  if (capacity < 1) return kStackOverflow;
  // Body, argument list and capture list side by side, then the function text.
  int32_t body_length = 0;
  int status = stk_get_string_buf(c, nargin - 1, scratch, capacity, &body_length);
  if (status == kObjectTooLarge) return kStackOverflow;
  TN_TRY(wrong_type_as_44(status));
  const char* body = scratch;
  Appender lists{scratch + body_length, capacity - body_length};
  for (int k = 0; k < name_args; ++k) {
    if (k) lists.put(",");
    int32_t n = 0;
    char name[kIdentifierLimit + 1];
    status = stk_get_string_buf(c, nargin - 2 - k, name, kIdentifierLimit, &n);
    if (status == kObjectTooLarge) return kNameTooLong;
    TN_TRY(wrong_type_as_44(status));
    lists.put(name, n);
  }
  const int32_t args_length = lists.at;
  if (has_captures) {
    for (int32_t k = 1;; ++k) {
      const char* field = nullptr;
      int32_t n = 0;
      if (stk_container_field_at(c, 0, k, &field, &n) != kOk) break;
      if (k > 1) lists.put(",");
      lists.put(field, n);
    }
  }
  if (lists.full) return kStackOverflow;
  const char* args = scratch + body_length;
  const char* captures = args + args_length;
  const int32_t captures_length = lists.at - args_length;

  const char* source = body;
  int32_t source_length = body_length;
  if (starts_with_word(body, body_length, "function") || starts_with_word(body, body_length, "define")) {
    if (name_args > 0) return kTooManyInputs;
  } else {
    char* text = scratch + body_length + lists.at;
    TN_TRY(inline_build_source(body, body_length, args, args_length, captures, captures_length, text,
                               capacity - body_length - lists.at, &source_length));
    source = text;
  }

  // The value: {p, argument names} {q, body} then, 8-byte aligned, the code.
  const int32_t p = (args_length + 1) / 2;
  const int64_t prefix_bytes = (2 + 2 * int64_t(p) + 2 + body_length + 7) / 8 * 8;
  const int64_t lent = data_free_words(c) / 2;
  if (!desc_room(c)) return kStackOverflow;
  if (prefix_bytes / 8 + 1 >= lent) return kDataStackOverflow;
  uint64_t* item = stk_claim(c, kKindPayload, uint32_t(lent), kPayInline, uint32_t(lent));
  auto* b = reinterpret_cast<uint8_t*>(item);
  std::memset(b, 0, size_t(prefix_bytes));
  tn::store<int16_t>(b, int16_t(p));
  std::memcpy(b + 2, args, size_t(args_length));
  tn::store<int16_t>(b + 2 + 2 * p, int16_t(body_length));
  std::memcpy(b + 4 + 2 * p, body, size_t(body_length));
  uint16_t* code = reinterpret_cast<uint16_t*>(b + prefix_bytes);
  int64_t size = 0;
  int32_t values = 0;
  const int64_t room = (lent - prefix_bytes / 8) * 4;
  status = fn_compiler()(c, fn_library_of(c, frame_current_function(c)), source, source_length, code, room, &size,
                         kFunctionInline, kCompileHeaderExpected | kCompileDefineAllowed, &values);
  if (status == kOk && (size < kHdrInputSlots || size > room)) status = kCodeOverflow;
  if (status != kOk) {
    stk_drop(c);
    return status;
  }
  int64_t words = prefix_bytes / 8 + (size + 3) / 4;
  if (has_captures) {
    // The captured values travel behind the code as a flat item, its word
    // count last, so that a call finds them from the payload's end.
    int64_t n = 0;  // the flat item's words, its header included
    TN_TRY(stk_item_words(c, 1, &n));
    if (words + n + 1 > lent) {
      stk_drop(c);
      return kDataStackOverflow;
    }
    TN_TRY(stk_descriptor_as_doubles(c, 1, reinterpret_cast<double*>(item + words)));
    item[words + n] = uint64_t(n);
    code[kHdrFlags] = uint16_t(code[kHdrFlags] | kHdrCaptures);
    words += n + 1;
  }
  desc_at(c, 0)[1] = uint32_t(words);
  c->data_top -= int32_t(lent - words);
  return stk_remove(c, 1, nargin);
}

int bi_exist(EngineContext* c, int nargin, int, uintptr_t) {
  if (nargin < 1 || nargin > 2 || !stk_has_item(c, nargin - 1)) return kBadArgument;
  char kind = 0;
  if (nargin == 2) {
    char word[kIdentifierLimit + 1] = {};
    int32_t n = 0;
    const int status = stk_get_string_buf(c, 0, word, kIdentifierLimit, &n);
    if (status != kObjectTooLarge) TN_TRY(wrong_type_as_44(status));
    kind = word[0];
    if (kind != 'v' && kind != 'f' && kind != 'b') kind = 0;
  }
  char name[kIdentifierLimit + 1] = {};
  int32_t n = 0;
  const int status = stk_get_string_buf(c, nargin - 1, name, kIdentifierLimit, &n);
  bool found = false;
  if (status == kOk && n > 0) {
    name[n] = 0;
    if (!kind || kind == 'v') found = variable_exists(c, name, n);
    if (!found && (!kind || kind == 'f')) {
      int32_t id = -1;
      const int32_t library = fn_library_of(c, frame_current_function(c));
      found = fn_find_user_simple(c, name, n, library, &id) == kOk && id > 0 && fn_code_header(c, id);
    }
    if (!found && (!kind || kind == 'b')) {
      int32_t k = 0;
      found = lib_find_builtin(c, name, nullptr, 0, &k) != nullptr || intrinsic_find(name) != nullptr;
    }
  } else if (status != kObjectTooLarge) {
    TN_TRY(wrong_type_as_44(status));
  }
  for (int k = 0; k < nargin; ++k) stk_drop(c);
  return stk_push_real(c, found ? 1.0 : 0.0);
}
