// Display of whole values: `disp`, a result shown under its name, and
// `format`. Picks the page printer for each array class, prints N-d arrays
// page by page, containers as one-line summaries of their elements, and keeps
// line buffering of the fd switched on only while a value is being shown.
#include "engine/lib/display.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/core/containers.h"
#include "engine/core/frames.h"
#include "engine/core/numfmt.h"
#include "engine/core/stack_ops.h"
#include "engine/core/streams.h"
#include "engine/core/strings.h"
#include "engine/core/symbols.h"
#include "engine/core/value_stack.h"
#include "engine/lib/display_text.h"

namespace {

// Context display words: disp_text holds the letter, the unit and loose.
constexpr int kTextLetter = 0;
constexpr int kTextUnit = 1;
constexpr int kTextLoose = 2;
constexpr int32_t kFlagSet = 0;
constexpr int32_t kFlagClear = -1;

constexpr int32_t kHeaderLimit = 35;       // "name =" is cut here
constexpr int32_t kQuotedCharLimit = 20;   // longer char rows are summarised by size
constexpr int64_t kContainerMinScratch = 99;  // at or below: containers only named
constexpr int32_t kFuncRefNameOffset = 4;  // i16 length, u16 context id, then the name

bool is_user_object(uint32_t kind, uint32_t subtype) {
  return kind == kKindContainer && subtype != kContList && subtype != kContStruct &&
         subtype != kContCell;
}

// A typed-array payload (numeric, char, logical) read from its data words;
// false for one whose header or elements run past them.
bool payload_view(uint32_t subtype, uint8_t* p, uint32_t words, TypedView* v) {
  constexpr uint32_t kMinWords = 2;
  if (subtype < kPayNumeric || subtype > kPayLogical || words < kMinWords) return false;
  const uint32_t type = tn::ld_u32(p);
  const uint32_t ndims = tn::ld_u32(p + 4);
  const int64_t bytes = int64_t(words) * 8;
  if (ndims < 2 || (int64_t(ndims) + 3) / 2 * 8 > bytes) return false;
  const uint32_t hdr = typed_header_bytes(ndims);
  const auto* dims = reinterpret_cast<const uint32_t*>(p + 8);
  int64_t count = 1;
  for (uint32_t i = 0; i < ndims; ++i) count = std::min(tn::mul64(count, dims[i]), bytes);
  const uint32_t size = elem_size(type);
  const bool cplx = type == kElemDoubleComplex || type == kElemSingleComplex;
  if (size == 0 || hdr + count * size * (cplx ? 2 : 1) > bytes) return false;
  *v = TypedView{subtype, type, ndims, dims, count, size, cplx, p + hdr, words};
  return true;
}

bool is_double_type(uint32_t t) { return t == kElemDouble || t == kElemDoubleComplex; }
bool is_single_type(uint32_t t) { return t == kElemSingle || t == kElemSingleComplex; }

bool is_2d_scalar(const TypedView& v) { return v.ndims == 2 && v.dims[0] == 1 && v.dims[1] == 1; }

int32_t size_class_type(const TypedView& v) {
  if (is_double_type(v.type)) return kSizeClassDouble;
  if (is_single_type(v.type)) return kSizeClassSingle;
  return int32_t(v.type & 127);
}

// The size-and-class description of a typed array, appended to the text.
int put_size_class(DisplayText& out, const TypedView& v) {
  TN_TRY(display_room(out, kDisplayChunkRoom));
  disp_size_class_text(out.buf, out.capacity, &out.pos, size_class_type(v),
                       (v.type & kElemUnsigned) != 0, v.subtype == kPayLogical,
                       v.subtype == kPayChar, int32_t(v.ndims), v.dims);
  return kOk;
}

// Name of a function reference payload, bounded by the payload itself.
void funcref_name(const uint8_t* p, uint32_t words, const char** name, int32_t* length) {
  const int64_t room = int64_t(words) * 8 - kFuncRefNameOffset;
  const int32_t n = tn::load<int16_t>(p);
  *name = reinterpret_cast<const char*>(p + kFuncRefNameOffset);
  *length = room <= 0 ? 0 : int32_t(std::clamp<int64_t>(n, 0, room));
}

// The class name of a library object: the first row of the table its class
// id designates whose class word has the id's class word as its magnitude.
const char* library_class_name(EngineContext* ctx, uint32_t class_id) {
  constexpr uint32_t kClassIdBase = kPayFirstClass;
  constexpr uint32_t kClassesPerTable = 128;
  if (class_id < kClassIdBase) return nullptr;
  const uint32_t table = (class_id - kClassIdBase) / kClassesPerTable;
  const int32_t word = int32_t((class_id - kClassIdBase) % kClassesPerTable);
  if (word == 0 || int64_t(table) >= ctx->table_count) return nullptr;
  const LibraryTableRef ref = table_refs(ctx)[table];
  for (int32_t r = 0; r < ref.rows; ++r)
    if (std::abs(ref.table[r].class_word) == word) return ref.table[r].name;
  return nullptr;
}

int put_symbol(DisplayText& out, int32_t symbol) {
  int32_t length = 0;
  const char* name = symtab_name(out.ctx, symbol, &length);
  // A name's bytes are characters 0 to 255: written through the charset too.
  for (int32_t i = 0; name && i < length; ++i) TN_TRY(display_put_wchar(out, uint8_t(name[i])));
  return kOk;
}

// --- Element summaries --------------------------------------------------------

int summary_number(DisplayText& out, const double* re, const double* im) {
  const DisplayOptions o = display_options(out.ctx);
  if (o.letter == kDispSign) {
    const bool nonzero = tn::ld_f64(re) != 0 || (im && tn::ld_f64(im) != 0);
    return display_put_char(out, nonzero ? '+' : ' ');
  }
  const int32_t digits = display_digits(o);
  const char style = display_style(o.letter);
  TN_TRY(display_room(out, kDisplayChunkRoom));
  if (im) {
    fmt_complex(out.buf, &out.pos, tn::ld_f64(re), tn::ld_f64(im), digits, style, 0, true, false,
                o.unit, false, false, false, out.capacity);
  } else {
    fmt_double(out.buf, &out.pos, tn::ld_f64(re), digits, style, 0, true, false, false, false,
               false, false, out.capacity);
  }
  return kOk;
}

int summary_typed(DisplayText& out, const TypedView& v) {
  const bool scalar = is_2d_scalar(v);
  if (v.subtype == kPayChar && v.ndims == 2 && (v.dims[0] == 1 || v.count == 0) &&
      v.count <= kQuotedCharLimit) {
    TN_TRY(display_put_char(out, '\''));
    for (int64_t i = 0; i < v.count; ++i)
      TN_TRY(display_put_wchar(out, tn::load<uint16_t>(v.elems + 2 * i)));
    return display_put_char(out, '\'');
  }
  if (v.subtype == kPayLogical && scalar) return display_put(out, v.elems[0] ? "true" : "false");
  if (v.subtype == kPayNumeric && scalar) {
    if (elem_is_integer(v.type)) return disp_int_array(out, v.type, 1, 1, v.elems, true, false, false);
    if (is_single_type(v.type)) {
      const auto* re = reinterpret_cast<const float*>(v.elems);
      return disp_single_array(out, 1, 1, re, v.is_complex ? re + 1 : nullptr, true, false);
    }
    if (is_double_type(v.type)) return display_put(out, "scalar number");
  }
  return put_size_class(out, v);
}

int summary(DisplayText& out, uint64_t* e) {
  const uint32_t kind = elem_kind(e);
  const uint32_t a = elem_word(e, 1);
  const uint32_t b = elem_word(e, 2);
  auto* data = reinterpret_cast<uint8_t*>(elem_data(e));
  if (kind == kKindReal || kind == kKindComplex) {
    const int64_t n = int64_t(a) * b;
    if (n == 0) return display_put(out, "[]");
    const auto* re = reinterpret_cast<const double*>(data);
    if (n == 1) return summary_number(out, re, kind == kKindComplex ? re + 1 : nullptr);
    TN_TRY(display_put(out, kind == kKindComplex ? "complex " : "real "));
    TN_TRY(display_room(out, kDisplayChunkRoom));
    fmt_int32_dec(out.buf, &out.pos, int32_t(a), true, 0, false, false, false, 1, out.capacity);
    buf_append_cstr(out.buf, &out.pos, "x", out.capacity);
    fmt_int32_dec(out.buf, &out.pos, int32_t(b), true, 0, false, false, false, 1, out.capacity);
    return kOk;
  }
  if (kind == kKindContainer) {
    switch (b) {
      case kContList: return display_put(out, a == 0 ? "{}" : "list");
      case kContStruct: return display_put(out, "struct");
      case kContCell: return display_put(out, "cell");
      default:
        TN_TRY(put_symbol(out, int32_t(b)));
        return display_put(out, " object");
    }
  }
  if (kind == kKindPayload) {
    if (b == kPayInline) return display_put(out, "inline");
    if (b == kPayFuncRef) {
      const char* name;
      int32_t length;
      funcref_name(data, a, &name, &length);
      TN_TRY(display_put_char(out, '@'));
      return display_put(out, name, length);
    }
    TypedView v;
    if (payload_view(b, data, a, &v)) return summary_typed(out, v);
    const char* cls = library_class_name(out.ctx, b);
    return display_put(out, cls ? cls : "bin");
  }
  return display_put(out, "bin");
}

// --- Containers ---------------------------------------------------------------

int disp_container(DisplayText& out) {
  EngineContext* ctx = out.ctx;
  const uint32_t* d = desc_at(ctx, 0);
  const uint32_t subtype = d[2];
  uint64_t* at = item_data(ctx, 0);
  int64_t left = d[1];
  auto done = [&] { return left < kElemHeaderWords || elem_total_words(at) > left; };
  auto next = [&] {
    const uint32_t w = elem_total_words(at);
    at += w;
    left -= w;
  };

  const bool object = is_user_object(kKindContainer, subtype);
  const bool structure = object || subtype == kContStruct;
  if (object) {
    TN_TRY(display_put_char(out, ' '));
    TN_TRY(put_symbol(out, int32_t(subtype)));
    TN_TRY(display_put(out, " object"));
    TN_TRY(display_newline(out));
  }
  TypedView sizes{};
  bool have_sizes = false;
  if (subtype == kContCell && !done()) {
    have_sizes = payload_view(elem_word(at, 2), reinterpret_cast<uint8_t*>(elem_data(at)),
                              elem_word(at, 1), &sizes);
    next();
  }
  if (done()) {
    TN_TRY(display_put(out, structure ? " (empty struct)" : " {}"));
    return display_newline(out);
  }
  int64_t free_bytes = 0;
  stk_free_space(ctx, &free_bytes, nullptr);
  if (free_bytes <= kContainerMinScratch) {
    TN_TRY(display_put(out, structure ? " struct" : subtype == kContCell ? " cell" : " list"));
    return display_newline(out);
  }
  if (subtype == kContCell) {
    // The size vector's elements are the cell array's sizes.
    const uint32_t k = have_sizes ? uint32_t(sizes.count) : 0;
    const auto* dims = reinterpret_cast<const uint32_t*>(have_sizes ? sizes.elems : nullptr);
    TN_TRY(display_room(out, kDisplayChunkRoom));
    disp_size_class_text(out.buf, out.capacity, &out.pos, kSizeClassCell, false, false, false,
                         int32_t(k), dims);
    return display_newline(out);
  }
  if (!structure) {
    TN_TRY(display_put(out, " {"));
    for (bool first = true; !done(); next(), first = false) {
      if (!first) TN_TRY(display_put_char(out, ','));
      TN_TRY(summary(out, at));
    }
    TN_TRY(display_put_char(out, '}'));
    return display_newline(out);
  }
  for (; !done(); next()) {
    TN_TRY(put_symbol(out, elem_name(at)));
    TN_TRY(display_put(out, ": "));
    TN_TRY(summary(out, at));
    TN_TRY(display_newline(out));
  }
  return kOk;
}

// --- Arrays of the payload kinds ------------------------------------------------

// One 2-D page of a typed array; page counts from 0.
int disp_page(DisplayText& out, const TypedView& v, int64_t page) {
  const int32_t rows = int32_t(v.dims[0]);
  const int32_t cols = int32_t(v.dims[1]);
  const int64_t per_page = int64_t(rows) * cols;
  const int64_t first = page * per_page;
  const DisplayOptions o = display_options(out.ctx);
  const bool sign = o.letter == kDispSign;
  if (is_double_type(v.type)) {
    const auto* re = reinterpret_cast<const double*>(v.elems);
    return disp_double_array(out, rows, cols, re + first, v.is_complex ? re + v.count + first : nullptr);
  }
  if (is_single_type(v.type)) {
    const auto* re = reinterpret_cast<const float*>(v.elems);
    return disp_single_array(out, rows, cols, re + first,
                             v.is_complex ? re + v.count + first : nullptr, is_2d_scalar(v), true);
  }
  const uint8_t* elems = v.elems + first * v.size;
  if (v.subtype == kPayChar)
    return disp_char_array(out, rows, cols, reinterpret_cast<const uint16_t*>(elems));
  if (v.subtype == kPayLogical) return disp_logical_array(out, sign, rows, cols, elems);
  return disp_int_array(out, v.type, rows, cols, elems, is_2d_scalar(v), true,
                        sign && v.count > 1);
}

int disp_typed(DisplayText& out, const TypedView& v) {
  if (!is_double_type(v.type) && !is_single_type(v.type) && !elem_is_integer(v.type))
    return kWrongArgType;
  bool zero_dim = false;
  for (uint32_t i = 0; i < v.ndims; ++i) zero_dim = zero_dim || v.dims[i] == 0;
  const bool header = v.ndims >= 3 || (v.subtype == kPayNumeric && !is_2d_scalar(v)) ||
                      (v.subtype == kPayLogical && zero_dim);
  if (header) {
    TN_TRY(put_size_class(out, v));
    TN_TRY(display_newline(out));
  }
  if (v.ndims >= 4) return kOk;
  if (v.ndims == 2) return disp_page(out, v, 0);
  const DisplayOptions o = display_options(out.ctx);
  for (uint32_t k = 0; k < v.dims[2]; ++k) {
    if (o.loose && k > 0) TN_TRY(display_newline(out));
    TN_TRY(display_put(out, "(:,:,"));
    TN_TRY(display_room(out, kDisplayChunkRoom));
    // Page numbers as the stream layer writes numbers.
    fmt_double(out.buf, &out.pos, double(k) + 1, o.digits, kDispGeneral, 0, true, false, false,
               false, false, false, out.capacity);
    TN_TRY(display_put(out, ") ="));
    TN_TRY(display_newline(out));
    TN_TRY(disp_page(out, v, k));
  }
  return kOk;
}

// The value's text, between the loose blank lines.
int disp_value(DisplayText& out) {
  EngineContext* ctx = out.ctx;
  const uint32_t* d = desc_at(ctx, 0);
  const uint32_t kind = d[0];
  if (kind == kKindReal || kind == kKindComplex) {
    const auto* re = reinterpret_cast<const double*>(item_data(ctx, 0));
    const int64_t n = int64_t(d[1]) * d[2];
    return disp_double_array(out, int32_t(d[1]), int32_t(d[2]), re,
                             kind == kKindComplex ? re + n : nullptr);
  }
  if (kind == kKindContainer) return disp_container(out);
  if (kind != kKindPayload) return kWrongArgType;
  auto* data = reinterpret_cast<uint8_t*>(item_data(ctx, 0));
  switch (d[2]) {
    case kPayInline:
      TN_TRY(display_put(out, "<inline function>"));
      return display_newline(out);
    case kPayFuncRef: {
      const char* name;
      int32_t length;
      funcref_name(data, d[1], &name, &length);
      TN_TRY(display_put_char(out, '@'));
      TN_TRY(display_put(out, name, length));
      return display_newline(out);
    }
    default: {
      TypedView v;
      if (!payload_view(d[2], data, d[1], &v)) return kWrongArgType;
      return disp_typed(out, v);
    }
  }
}

int disp_loose_line(DisplayText& out) {
  return display_options(out.ctx).loose ? display_newline(out) : kOk;
}

// Runs body between switching line buffering of fd on and off; the first
// failure wins, and buffering is switched off whatever happened.
template <typename Body>
int with_buffering(EngineContext* ctx, int32_t fd, Body body) {
  TN_TRY(io_set_buffering(ctx, fd, 1));
  const int status = body();
  const int off = io_set_buffering(ctx, fd, 0);
  return status != kOk ? status : off;
}

}  // namespace

// --- Settings -------------------------------------------------------------------

void display_set_options(EngineContext* ctx, char letter, int32_t digits, char unit, uint8_t loose,
                         int32_t setting5, bool flag) {
  ctx->disp_text[kTextLetter] = letter;
  ctx->disp_word1 = digits;
  ctx->disp_text[kTextUnit] = unit;
  ctx->disp_text[kTextLoose] = char(loose);
  ctx->disp_word2 = setting5;
  ctx->disp_flag = flag ? kFlagSet : kFlagClear;
}

void display_get_options(EngineContext* ctx, char* letter, int32_t* digits, char* unit,
                         uint8_t* loose, int32_t* setting5, bool* flag) {
  const DisplayOptions o = display_options(ctx);
  if (letter) *letter = o.letter;
  if (digits) *digits = o.digits;
  if (unit) *unit = o.unit;
  if (loose) *loose = o.loose;
  if (setting5) *setting5 = o.setting5;
  if (flag) *flag = o.flag;
}

DisplayOptions display_options(const EngineContext* ctx) {
  return DisplayOptions{ctx->disp_text[kTextLetter], ctx->disp_word1, ctx->disp_text[kTextUnit],
                        uint8_t(ctx->disp_text[kTextLoose]), ctx->disp_word2, ctx->disp_flag >= 0};
}

// --- Entry points -----------------------------------------------------------------

int bi_disp(EngineContext* ctx, int32_t fd, bool pop) {
  if (!stk_has_item(ctx, 0)) return kBadArgument;
  if (desc_at(ctx, 0)[0] == kKindNoValue) {
    if (pop) stk_drop(ctx);
    return kOk;
  }
  return with_buffering(ctx, fd, [&]() -> int {
    char fallback[kDisplayMinScratch];
    DisplayText out = display_text_begin(ctx, fd, fallback);
    TN_TRY(disp_loose_line(out));
    TN_TRY(disp_value(out));
    TN_TRY(display_flush(out));
    if (pop) stk_drop(ctx);
    return disp_loose_line(out);
  });
}

int op_disp(EngineContext* ctx) {
  if (!stk_has_item(ctx, 0)) return kBadArgument;
  const uint32_t* d = desc_at(ctx, 0);
  if (is_user_object(d[0], d[2])) return kWrongArgType;
  return bi_disp(ctx, kFdStdout, true);
}

int display_named(EngineContext* ctx, const char* name, int32_t length, bool skip_object_check,
                  bool pop) {
  if (!stk_has_item(ctx, 0)) return kBadArgument;
  return with_buffering(ctx, kFdStdout, [&]() -> int {
    char fallback[kDisplayMinScratch];
    DisplayText out = display_text_begin(ctx, kFdStdout, fallback);
    TN_TRY(disp_loose_line(out));
    if (!name || length == 0 || (length < 0 && !name[0])) {
      TN_TRY(display_put(out, "??? ="));
    } else {
      // The header as a whole is cut; no name a frame holds is long enough.
      constexpr int32_t kSuffix = 2;  // " ="
      if (length < 0) length = str_len(name);
      TN_TRY(display_put(out, name, std::min(length, kHeaderLimit)));
      TN_TRY(display_put(out, " =", std::clamp(kHeaderLimit - length, 0, kSuffix)));
    }
    TN_TRY(display_newline(out));
    const uint32_t* d = desc_at(ctx, 0);
    if (!skip_object_check && is_user_object(d[0], d[2])) return kWrongArgType;
    return bi_disp(ctx, kFdStdout, pop);
  });
}

int op_display_name(EngineContext* ctx, int32_t slot, bool skip_object_check, bool pop) {
  const uint8_t* entry = frame_var_name_entry(ctx, slot);
  const char* name = reinterpret_cast<const char*>(entry);
  const int32_t length = entry ? int32_t(strnlen(name, kFrameNameBytes)) : 0;
  return display_named(ctx, name, length, skip_object_check, pop);
}

int bi_format(EngineContext* ctx, int nargin) {
  constexpr int kMaxArgs = 2;
  constexpr int32_t kKeywordBuffer = 16;
  if (nargin < 0 || nargin > kMaxArgs) return kTooManyInputs;
  if (stk_item_count(ctx) < nargin) return kBadArgument;
  char word[kMaxArgs][kKeywordBuffer] = {};
  for (int i = 0; i < nargin; ++i) {
    const int depth = nargin - 1 - i;
    if (!stk_is_char(ctx, depth)) return kWrongArgType;
    int32_t length = 0;
    // A text too long for any keyword is an unknown keyword.
    if (stk_get_string_buf(ctx, depth, word[i], kKeywordBuffer - 1, &length) != kOk)
      return kUnknownOption;
    word[i][length] = 0;
  }
  DisplayOptions o = display_options(ctx);
  auto is = [&](int i, const char* k) { return std::strcmp(word[i], k) == 0; };
  struct Preset {
    const char* name;
    int32_t digits;
  };
  constexpr Preset kPresets[] = {{"short", 4}, {"long", 15}, {"bank", 2}};
  constexpr int32_t kSignDigits = 4;
  if (nargin == 0) {
    o.letter = kDispFixed;
    o.digits = 4;
  } else if (is(0, "+")) {
    if (nargin == 2 && !is(1, "e") && !is(1, "g")) return kUnknownOption;
    o.letter = kDispSign;
    o.digits = kSignDigits;
  } else if (nargin == 2) {
    if (!is(1, "e") && !is(1, "g")) return kUnknownOption;
    const Preset* p = nullptr;
    for (const Preset& q : kPresets)
      if (is(0, q.name)) p = &q;
    if (!p) return kUnknownOption;
    o.letter = word[1][0];
    o.digits = p->digits;
  } else if (is(0, "compact") || is(0, "loose")) {
    o.loose = is(0, "loose") ? 1 : 0;
  } else if (is(0, "i") || is(0, "j")) {
    o.unit = word[0][0];
  } else {
    const Preset* p = nullptr;
    for (const Preset& q : kPresets)
      if (is(0, q.name)) p = &q;
    if (!p) return kUnknownOption;
    o.letter = is(0, "bank") ? kDispBank : kDispFixed;
    o.digits = p->digits;
  }
  display_set_options(ctx, o.letter, o.digits, o.unit, o.loose, o.setting5, o.flag);
  for (int i = 0; i < nargin; ++i) stk_drop(ctx);
  return kOk;
}
