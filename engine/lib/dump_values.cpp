// Whole values as source text: containers, function values, N-d arrays and
// library objects around the array writer; dumpvar; the variable dump and the
// variables intrinsic. A value is read in place through a view of its
// {kind, a, b} words and data, so nested elements need no copy; a failure
// leaves the stacks as they were (text already written to an fd stays).
#include <cstring>

#include "engine/core/calls.h"
#include "engine/core/containers.h"
#include "engine/core/element_layout.h"
#include "engine/core/fntable.h"
#include "engine/core/frames.h"
#include "engine/core/interp.h"
#include "engine/core/opcodes.h"
#include "engine/core/stack_ops.h"
#include "engine/core/streams.h"
#include "engine/core/symbols.h"
#include "engine/core/value_stack.h"
#include "engine/core/var_blocks.h"
#include "engine/lib/builtin_tables.h"
#include "engine/lib/dump_source.h"
#include "engine/lib/dump_writer.h"

namespace {

constexpr int32_t kMaxNesting = 30;
constexpr int32_t kFuncRefNameOffset = 4;  // i16 length, u16 context word, then the name
constexpr int32_t kFlatHeaderWords = 3;    // a flat item: kind, a, b as doubles, then the data
constexpr int32_t kNameLimit = 255;        // dumpvar's name argument
constexpr char kWideDumpHook[] = "+wdump";
constexpr char kDumpHook[] = "+dump";

bool name_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool name_char(char c) { return name_start(c) || (c >= '0' && c <= '9'); }

// Whether "@" and the name read back as the same reference: an identifier,
// or two joined by "::", as the compiler takes them after "@".
bool reads_as_at_name(const char* name, int32_t n) {
  int32_t i = 0;
  for (int part = 0; part < 2; ++part) {
    if (i >= n || !name_start(name[i])) return false;
    while (i < n && name_char(name[i])) ++i;
    if (i == n) return true;
    if (part == 1 || n - i < 2 || name[i] != ':' || name[i + 1] != ':') return false;
    i += 2;
  }
  return false;
}

// A function reference as "@name"; a name that would not read back so (str2fun
// takes any text: '+', '1)', an empty one) goes out as the str2fun call that
// "@name" compiles to, which the literal readers accept as well.
int dump_function_reference(DumpOut& out, const char* name, int32_t n) {
  if (reads_as_at_name(name, n)) {
    TN_TRY(out.put('@'));
    return out.put(name, n);
  }
  TN_TRY(out.put("str2fun('"));
  for (int32_t i = 0; i < n; ++i) TN_TRY(dump_char(out, uint16_t(uint8_t(name[i]))));
  return out.put("')");
}

// One value wherever it lies: a stack item, a container element, a flat item.
struct View {
  uint32_t kind;
  uint32_t a;
  uint32_t b;
  uint64_t* data;
};

View stack_view(EngineContext* ctx, int depth) {
  const uint32_t* d = desc_at(ctx, depth);
  return View{d[0], d[1], d[2], item_data(ctx, depth)};
}

View element_view(uint64_t* e) {
  return View{elem_kind(e), elem_word(e, 1), elem_word(e, 2), elem_data(e)};
}

int dump_view(DumpOut& out, const View& v, int digits, int nesting);

int put_symbol(DumpOut& out, int32_t symbol) {
  int32_t length = 0;
  const char* name = symtab_name(out.ctx, symbol, &length);
  for (int32_t i = 0; name && i < length; ++i) TN_TRY(dump_char(out, uint8_t(name[i])));
  return kOk;
}

int put_quoted_symbol(DumpOut& out, int32_t symbol) {
  TN_TRY(out.put('\''));
  TN_TRY(put_symbol(out, symbol));
  return out.put('\'');
}

int element_break(DumpOut& out) {
  TN_TRY(out.put(", ..."));
  return out.newline();
}

// The elements of a container from `first` to its end (words left), each
// written by `each`, separated by ", ..." and a line end.
template <typename Each>
int each_element(DumpOut& out, uint64_t* at, int64_t left, Each each) {
  for (bool first = true; left >= kElemHeaderWords && elem_total_words(at) <= left; first = false) {
    if (!first) TN_TRY(element_break(out));
    TN_TRY(out.room(0));
    TN_TRY(each(at));
    const uint32_t w = elem_total_words(at);
    at += w;
    left -= w;
  }
  return kOk;
}

int put_dims(DumpOut& out, const uint32_t* dims, int n) {
  TN_TRY(out.put(",["));
  for (int k = 0; k < n; ++k) {
    if (k) TN_TRY(out.put(','));
    TN_TRY(out.number(double(dims[k]), kDumpDigitsDouble));
  }
  return out.put("])");
}

int dump_struct_form(DumpOut& out, const View& v, int digits, int nesting) {
  TN_TRY(out.put("struct("));
  TN_TRY(each_element(out, v.data, v.a, [&](uint64_t* e) {
    TN_TRY(put_quoted_symbol(out, elem_name(e)));
    TN_TRY(out.put(','));
    return dump_view(out, element_view(e), digits, nesting + 1);
  }));
  return out.put(')');
}

int dump_container(DumpOut& out, const View& v, int digits, int nesting) {
  switch (v.b) {
    case kContList:
      TN_TRY(out.put('{'));
      TN_TRY(each_element(out, v.data, v.a,
                          [&](uint64_t* e) { return dump_view(out, element_view(e), digits, nesting + 1); }));
      return out.put('}');
    case kContStruct:
      return dump_struct_form(out, v, digits, nesting);
    case kContCell: {
      int k = 0;
      const uint32_t* sizes = read_cell_sizes(v.data, v.a, &k);
      if (!sizes) return kWrongArgType;
      const uint32_t skip = elem_total_words(v.data);
      TN_TRY(out.put("reshape({"));
      TN_TRY(each_element(out, v.data + skip, int64_t(v.a) - skip,
                          [&](uint64_t* e) { return dump_view(out, element_view(e), digits, nesting + 1); }));
      TN_TRY(out.put('}'));
      return put_dims(out, sizes, k);
    }
    default:
      // A user object: its fields as a structure, then its class name.
      TN_TRY(out.put("class("));
      TN_TRY(dump_struct_form(out, v, digits, nesting));
      TN_TRY(out.put(", "));
      TN_TRY(put_quoted_symbol(out, int32_t(v.b)));
      return out.put(')');
  }
}

int put_text(DumpOut& out, const char* text, int32_t n) {
  TN_TRY(out.put('\''));
  for (int32_t i = 0; i < n; ++i) {
    TN_TRY(out.room(0));
    TN_TRY(dump_char(out, uint8_t(text[i])));
  }
  return out.put('\'');
}

// inline(body, 'arg1', 'arg2', ..., captured structure).
int dump_inline(DumpOut& out, const View& v, int digits, int nesting) {
  const auto* p = reinterpret_cast<const uint8_t*>(v.data);
  const int64_t bytes = int64_t(v.a) * 8;
  if (bytes < 2) return kWrongArgType;
  const int64_t p_words = std::max<int16_t>(tn::load<int16_t>(p), 0);
  const int64_t q_at = 2 + 2 * p_words;
  if (q_at + 2 > bytes) return kWrongArgType;
  const int64_t q = std::max<int16_t>(tn::load<int16_t>(p + q_at), 0);
  if (q_at + 2 + q > bytes) return kWrongArgType;
  TN_TRY(out.put("inline("));
  TN_TRY(put_text(out, reinterpret_cast<const char*>(p + q_at + 2), int32_t(q)));
  // Argument names: comma-joined bytes, padded with a zero to whole words.
  const auto* args = reinterpret_cast<const char*>(p + 2);
  int64_t args_n = 0;
  while (args_n < 2 * p_words && args[args_n]) ++args_n;
  for (int64_t i = 0; i < args_n;) {
    int64_t j = i;
    while (j < args_n && args[j] != ',') ++j;
    TN_TRY(out.put(','));
    TN_TRY(put_text(out, args + i, int32_t(j - i)));
    i = j + 1;
  }
  // Captured values travel behind the code as a flat item, its word count last.
  const int64_t code_at = (q_at + 2 + q + 7) / 8 * 8;
  if (code_at + 2 <= bytes) {
    const auto* code = reinterpret_cast<const uint16_t*>(p + code_at);
    if (tn::load<uint16_t>(code) & kHdrCaptures) {
      const uint64_t n = v.data[v.a - 1];
      if (n < uint64_t(kFlatHeaderWords) || int64_t(n) + 1 > int64_t(v.a) - code_at / 8) return kWrongArgType;
      uint64_t* flat = v.data + v.a - 1 - n;
      uint32_t head[kFlatHeaderWords];
      for (int i = 0; i < kFlatHeaderWords; ++i) head[i] = uint32_t(tn::dtoi64(tn::ld_f64(flat + i)));
      if (item_data_words(head[0], head[1], head[2]) != n - kFlatHeaderWords) return kWrongArgType;
      TN_TRY(out.put(','));
      TN_TRY(dump_view(out, View{head[0], head[1], head[2], flat + kFlatHeaderWords}, digits, nesting + 1));
    }
  }
  return out.put(')');
}

// The class's "+wdump" (16-bit) or "+dump" (8-bit) hook, with a copy of the
// value on top and the class id current.
int dump_library_object(DumpOut& out, const View& v) {
  EngineContext* ctx = out.ctx;
  int32_t index = 0;
  const BuiltinEntry* row = lib_find_builtin(ctx, kWideDumpHook, nullptr, int32_t(v.b), &index);
  const bool wide = row != nullptr;
  if (!row) row = lib_find_builtin(ctx, kDumpHook, nullptr, int32_t(v.b), &index);
  if (!row || !row->fn) return kWrongType;
  // The hook gets a copy on top, which it may consume; whatever of it is
  // left goes after the call, so the value itself is never touched.
  const int32_t height = ctx->desc_top;
  const int32_t data_height = ctx->data_top;
  if (!desc_room(ctx)) return kStackOverflow;
  if (int64_t(v.a) > data_free_words(ctx)) return kDataStackOverflow;
  uint64_t* copy = stk_claim(ctx, v.kind, v.a, v.b, v.a);
  std::memmove(copy, v.data, size_t(v.a) * 8);
  const int32_t saved_class = ctx->class_id;
  ctx->class_id = int32_t(v.b);
  const uintptr_t user = builtin_data(ctx, row);
  int status = kOk;
  if (out.to_fd) {
    status = out.flush();
    // The free data stack holds the hook's text until it is written.
    void* scratch = nullptr;
    int64_t free_bytes = 0;
    stk_free_space(ctx, &free_bytes, &scratch);
    const int32_t cap = int32_t(std::min<int64_t>(free_bytes, INT32_MAX));
    int32_t n = 0;
    if (status == kOk && wide) {
      using WideHook = int (*)(EngineContext*, uint16_t*, int32_t, int32_t*, uintptr_t);
      status = builtin_fn_as<WideHook>(row->fn)(ctx, static_cast<uint16_t*>(scratch), cap / 2, &n, user);
      if (status == kOk) status = io_write_wchars(ctx, out.fd, static_cast<uint16_t*>(scratch), n, nullptr, 0);
    } else if (status == kOk) {
      using ByteHook = int (*)(EngineContext*, char*, int32_t, int32_t*, uintptr_t);
      status = builtin_fn_as<ByteHook>(row->fn)(ctx, static_cast<char*>(scratch), cap, &n, user);
      if (status == kOk) status = io_write(ctx, out.fd, static_cast<const char*>(scratch), n);
    }
  } else {
    const int32_t left = out.capacity - *out.pos;
    int32_t n = 0;
    if (wide) {
      using WideHook = int (*)(EngineContext*, uint16_t*, int32_t, int32_t*, uintptr_t);
      status = builtin_fn_as<WideHook>(row->fn)(ctx, out.buf + *out.pos, left, &n, user);
      if (status == kOk && (n < 0 || n > left)) status = kDataStackOverflow;
      if (status == kOk) *out.pos += n;
    } else {
      using ByteHook = int (*)(EngineContext*, char*, int32_t, int32_t*, uintptr_t);
      status = builtin_fn_as<ByteHook>(row->fn)(ctx, reinterpret_cast<char*>(out.buf + *out.pos), left, &n, user);
      if (status == kOk && !wbuf_widen_in_place(out.buf, out.pos, n, out.capacity)) status = kDataStackOverflow;
    }
  }
  ctx->class_id = saved_class;
  while (ctx->desc_top > height) stk_drop(ctx);
  if (ctx->desc_top != height || ctx->data_top != data_height) return TN_ILLEGAL();
  return status;
}

int dump_typed(DumpOut& out, const View& v, int digits) {
  TypedView t{};
  const auto* p = reinterpret_cast<uint8_t*>(v.data);
  if (v.a < 2) return kWrongArgType;
  const uint32_t type = tn::ld_u32(p);
  const uint32_t ndims = tn::ld_u32(p + 4);
  const int64_t bytes = int64_t(v.a) * 8;
  if (ndims < 2 || ndims > uint32_t(kMaxDims) || typed_header_bytes(ndims) > bytes) return kWrongArgType;
  const auto* dims = reinterpret_cast<const uint32_t*>(p + 8);
  int64_t count = 1;
  for (uint32_t i = 0; i < ndims; ++i) count = std::min<int64_t>(count * int64_t(dims[i]), bytes);
  const uint32_t size = elem_size(type);
  const bool cplx = type == kElemDoubleComplex || type == kElemSingleComplex;
  if (size == 0 || typed_header_bytes(ndims) + count * size * (cplx ? 2 : 1) > bytes) return kWrongArgType;
  t.elems = const_cast<uint8_t*>(p) + typed_header_bytes(ndims);
  const bool is_double = type == kElemDouble || type == kElemDoubleComplex;
  const bool is_single = type == kElemSingle || type == kElemSingleComplex;
  if (v.b == kPayChar && size != 2) return kWrongArgType;
  if (v.b == kPayLogical && size != 1) return kWrongArgType;
  ArraySource s{t.elems,
                cplx ? t.elems + count * size : nullptr,
                int64_t(dims[0]),
                int64_t(dims[1]),
                is_double && v.b == kPayNumeric,
                is_single && v.b == kPayNumeric,
                v.b == kPayChar,
                v.b == kPayLogical,
                int(size),
                (type & kElemUnsigned) != 0};
  if (ndims == 2) return dump_array(out, s, digits);
  // More dimensions: the elements as one row, reshaped.
  s.rows = count ? 1 : 0;
  s.columns = count;
  TN_TRY(out.put("reshape("));
  TN_TRY(dump_array(out, s, digits));
  return put_dims(out, dims, int(ndims));
}

int dump_view(DumpOut& out, const View& v, int digits, int nesting) {
  if (nesting > kMaxNesting) return kObjectTooLarge;
  TN_TRY(out.room(0));
  switch (v.kind) {
    case kKindReal:
    case kKindComplex: {
      const int64_t n = int64_t(v.a) * v.b;
      const ArraySource s{v.data, v.kind == kKindComplex ? v.data + n : nullptr, int64_t(v.a), int64_t(v.b),
                          true, false, false, false, 8, false};
      return dump_array(out, s, digits);
    }
    case kKindContainer:
      return dump_container(out, v, digits, nesting);
    case kKindPayload:
      switch (v.b) {
        case kPayInline:
          return dump_inline(out, v, digits, nesting);
        case kPayFuncRef: {
          const auto* p = reinterpret_cast<const uint8_t*>(v.data);
          const int64_t room = int64_t(v.a) * 8 - kFuncRefNameOffset;
          const int32_t n = tn::load<int16_t>(p);
          if (n < 0 || n > room) return kWrongArgType;
          return dump_function_reference(out, reinterpret_cast<const char*>(p + kFuncRefNameOffset), n);
        }
        case kPayNumeric:
        case kPayChar:
        case kPayLogical:
          return dump_typed(out, v, digits);
        default:
          return v.b >= kPayFirstClass ? dump_library_object(out, v) : kWrongArgType;
      }
    default:
      return kWrongArgType;
  }
}

// Writes the item at depth 0 without consuming it.
int dump_top(EngineContext* ctx, uint16_t* buffer, int32_t capacity, int32_t* position, int32_t fd,
             const char* name, int32_t name_length, int digits) {
  if (!stk_has_item(ctx, 0)) return kBadArgument;
  int32_t local_pos = 0;
  if (!position) position = &local_pos;
  DumpOut out(ctx, buffer, capacity, position, fd);
  TN_TRY(dump_name_head(out, name, name_length));
  TN_TRY(dump_view(out, stack_view(ctx, 0), digits, 0));
  TN_TRY(dump_name_tail(out, name));
  // Text printed without a name still ends its line.
  if (!name && out.to_fd) TN_TRY(out.newline());
  return out.flush();
}

}  // namespace

int dump_name_head(DumpOut& out, const char* name, int32_t name_length) {
  if (!name) return kOk;
  if (name_length < 0) name_length = int32_t(std::strlen(name));
  TN_TRY(out.put(name, name_length));
  return out.put(" = ");
}

int dump_name_tail(DumpOut& out, const char* name) {
  if (!name) return kOk;
  TN_TRY(out.put(';'));
  return out.newline();
}

int value_dump_source_keep(EngineContext* ctx, uint16_t* buffer, int32_t capacity, int32_t* position, int32_t fd,
                           const char* name, int32_t name_length, int digits) {
  return dump_top(ctx, buffer, capacity, position, fd, name, name_length, digits);
}

int value_dump_source(EngineContext* ctx, uint16_t* buffer, int32_t capacity, int32_t* position, int32_t fd,
                      const char* name, int32_t name_length, int digits) {
  TN_TRY(dump_top(ctx, buffer, capacity, position, fd, name, name_length, digits));
  stk_drop(ctx);
  return kOk;
}

int dump_into_free_space(EngineContext* ctx, const char* name, int32_t name_length, int digits,
                         uint16_t** text, int32_t* length) {
  // The text is written into the upper half of the free data stack, which
  // is lent out of the stack's capacity meanwhile: a library object's hook
  // may still push below it.
  constexpr int64_t kSpareWords = 4;
  const int64_t free_words = data_free_words(ctx);
  const int64_t lent = free_words / 2 - kSpareWords;
  if (lent < 1) return kDataStackOverflow;
  auto* buffer = reinterpret_cast<uint16_t*>(data_words(ctx) + ctx->data_capacity - lent);
  const int64_t chars = std::min<int64_t>(lent * 4, INT32_MAX);
  ctx->data_capacity -= uint32_t(lent);
  int32_t n = 0;
  const int status = dump_top(ctx, buffer, int32_t(chars), &n, -1, name, name_length, digits);
  ctx->data_capacity += uint32_t(lent);
  TN_TRY(status);
  *text = buffer;
  *length = n;
  return kOk;
}

// --- dumpvar ------------------------------------------------------------------------

int bi_dumpvar(EngineContext* ctx, int nargin, int nargout, uintptr_t) {
  if (nargin < 1 || nargin > 3 || !stk_has_item(ctx, nargin - 1)) return kBadArgument;
  if (nargin == 3 && nargout == 1) return kTooManyOutputs;
  if (nargout > 1) return kTooManyOutputs;
  int32_t fd = 1;
  if (nargin == 3) {
    if (stk_is_char(ctx, 2) || stk_is_logical(ctx, 2) || stk_get_int(ctx, 2, &fd) != kOk) return kWrongArgType;
    if (fd < 0) return kNotMyDescriptor;
  }
  char name[kNameLimit + 1] = {};
  int32_t name_length = 0;
  const bool named = nargin >= 2;
  if (named) {
    if (!stk_is_char(ctx, 1)) return kWrongArgType;
    const int status = stk_get_string_buf(ctx, 1, name, kNameLimit, &name_length);
    if (status != kOk) return status == kObjectTooLarge ? kObjectTooLarge : kWrongArgType;
    name[name_length] = 0;
  }
  if (nargout <= 0) {
    TN_TRY(value_dump_source_keep(ctx, nullptr, 0, nullptr, fd, named ? name : nullptr, name_length,
                                  kDumpDigitsDouble));
    TN_TRY(stk_remove(ctx, 0, nargin));
    return nargout < 0 ? stk_push_no_value(ctx) : kOk;
  }
  // The row replaces the arguments: room for its descriptor once they are gone.
  if (int64_t(ctx->desc_top) - kDescWords * nargin + kDescWords >= int64_t(ctx->desc_capacity))
    return kStackOverflow;
  uint16_t* text = nullptr;
  int32_t n = 0;
  TN_TRY(dump_into_free_space(ctx, named ? name : nullptr, name_length, kDumpDigitsDouble, &text, &n));
  TN_TRY(stk_remove(ctx, 0, nargin));
  // The text lies at least half the free space above the data top, so the
  // new row's header cannot reach it; its characters move down onto it.
  uint16_t* row = nullptr;
  TN_TRY(stk_push_char_row(ctx, n, &row));
  std::memmove(row, text, size_t(n) * 2);
  const int64_t used = int64_t(n) * 2;
  const int64_t words = desc_at(ctx, 0)[1];
  auto* end = reinterpret_cast<uint8_t*>(item_data(ctx, 0)) + words * 8;
  auto* tail = reinterpret_cast<uint8_t*>(row) + used;
  if (tail < end) std::memset(tail, 0, size_t(end - tail));
  return kOk;
}

// --- The variable dump ----------------------------------------------------------------

int dump_variables(EngineContext* ctx, int32_t fd, bool qualifiers) {
  int32_t slots = 0;
  if (frame_workspace(ctx, &slots) < 0) return kOk;
  for (int32_t k = 0; k < slots; ++k) {
    const uint8_t* entry = frame_var_name_entry(ctx, k);
    if (!entry) continue;
    char name[kFrameNameBytes + 1] = {};
    std::memcpy(name, entry, kFrameNameBytes);
    const int32_t name_length = int32_t(strnlen(name, kFrameNameBytes));
    if (name_length == 0) continue;
    SlotTarget t{};
    if (slot_locate(ctx, k, &t) != kOk) continue;
    if (t.link && qualifiers && fd >= 0) {
      const bool global = t.entry > 0 && ent(ctx, t.entry, kEntExtra) == -1;
      TN_TRY(io_write(ctx, fd, global ? "global " : "persistent ", -1));
      TN_TRY(io_write(ctx, fd, name, name_length));
      TN_TRY(io_newline(ctx, fd));
    }
    if (t.block == kNoBlock) continue;
    const uint32_t* h = block_words32(ctx, t.block);
    const uint32_t n = desc_data_words(h);
    if (!desc_room(ctx)) return kStackOverflow;
    if (int64_t(n) > data_free_words(ctx)) return kDataStackOverflow;
    uint64_t* p = stk_claim(ctx, h[0], h[1], h[2], n);
    std::memcpy(p, heap_words(ctx) + t.block + kElemHeaderWords, size_t(n) * 8);
    if (fd >= 0) {
      const int status = value_dump_source(ctx, nullptr, 0, nullptr, fd, name, name_length, kDumpDigitsDouble);
      if (status != kOk) {
        stk_drop(ctx);
        return status;
      }
    } else {
      const int status = stk_make_container(ctx, 1, 1, name, name_length);
      if (status != kOk) {
        stk_drop(ctx);
        return status;
      }
    }
  }
  return kOk;
}

int dump_variables_to_channel(EngineContext* ctx, int32_t fd, bool qualifiers) {
  if (fd < 0) return kNotMyDescriptor;
  io_set_buffering(ctx, fd, 1);
  const int status = dump_variables(ctx, fd, qualifiers);
  const int flushed = io_set_buffering(ctx, fd, 0);
  return status != kOk ? status : flushed;
}

namespace {

int h_variables(EngineContext* ctx, int32_t, int, int, int) {
  if (!desc_room(ctx)) return kStackOverflow;
  stk_claim(ctx, kKindContainer, 0, kContStruct, 0);
  const int status = dump_variables(ctx, -1, false);
  if (status != kOk) stk_drop(ctx);
  return status;
}

}  // namespace

void dump_source_register_ops() { interp_set_op_handler(kOpVariables, h_variables, 0); }
