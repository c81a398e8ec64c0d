// Options structures built from and read through OptionDesc templates. A
// structure being updated is kept on top of the stack, so a field grows or
// shrinks by moving only the structure's own tail; every room test precedes
// the first change of a step.
#include "engine/core/options.h"

#include <cstring>

#include "engine/core/checked.h"
#include "engine/core/containers.h"
#include "engine/core/convert.h"
#include "engine/core/stack_ops.h"
#include "engine/core/strings.h"
#include "engine/core/symbols.h"
#include "engine/core/value_stack.h"

namespace {

bool row_hidden(const OptionDesc& row) { return (row.hidden & 0xff) == kOptionHidden; }

int32_t row_name_length(const OptionDesc& row) {
  return int32_t(strnlen(row.name, kOptionNameBytes));
}

bool has_item(const EngineContext* ctx, int depth) {
  return depth >= 0 && 3 * (int64_t(depth) + 1) <= ctx->desc_top;
}

bool is_empty_double(const uint32_t* d) {
  return (d[0] == kKindReal || d[0] == kKindComplex) && (d[1] == 0 || d[2] == 0);
}

// Pushes the default value of a row, by its type.
int push_default(EngineContext* ctx, const OptionDesc& row) {
  const uint32_t type = row.type;
  switch (type) {
    case kOptReal:
      return stk_push_real(ctx, row.def.num[0]);
    case kOptRow2:
    case kOptRow3:
    case kOptRow4: {
      const int32_t n = int32_t(type - kOptRow2) + 2;
      double* re = nullptr;
      TN_TRY(stk_push_matrix(ctx, 1, n, &re, nullptr));
      for (int32_t i = 0; i < n; ++i) tn::st_f64(re + i, row.def.num[i]);
      return kOk;
    }
    case kOptLogical:
      return stk_push_logical_scalar(ctx, tn::dtoi32(row.def.num[0]) != 0 ? 1 : 0);
    case kOptEmptyList:
      return stk_make_container(ctx, 0, 0, nullptr, 0);
    case kOptText:
      return stk_push_cstr(ctx, -1, row.def.text ? row.def.text : "");
    default:
      break;
  }
  if (type >= kOptChars0 && type <= kOptChars4) {
    const int32_t n = int32_t(type - kOptChars0);
    uint16_t* chars = nullptr;
    TN_TRY(stk_push_char_row(ctx, n, &chars));
    for (int32_t i = 0; i < n; ++i) chars[i] = uint16_t(tn::dtoi32(row.def.num[i]));
    return kOk;
  }
  return stk_push_empty(ctx);  // kOptEmpty, and any kind this engine does not know
}

// A new structure of the visible options with their defaults, on top.
int push_default_struct(EngineContext* ctx, const OptionDesc* tmpl) {
  if (!desc_room(ctx)) return kStackOverflow;
  stk_claim(ctx, kKindContainer, 0, kContStruct, 0);
  for (const OptionDesc* row = tmpl; row->type != kOptEnd; ++row) {
    if (row_hidden(*row)) continue;
    int status = push_default(ctx, *row);
    if (status == kOk) {
      status = stk_make_container(ctx, 1, 1, row->name, row_name_length(*row));
      if (status != kOk) stk_drop(ctx);
    }
    if (status != kOk) {
      stk_drop(ctx);
      return status;
    }
  }
  return kOk;
}

// Sets field `symbol` of the structure on top to a copy of the item at
// value_depth, replacing the field's value or appending the field.
int struct_set_field(EngineContext* ctx, int value_depth, int32_t symbol) {
  const uint32_t* vd = desc_at(ctx, value_depth);
  const uint32_t kind = vd[0], a = vd[1], b = vd[2];
  const int64_t value_words = desc_data_words(vd);
  const uint64_t* value = item_data(ctx, value_depth);

  uint64_t* data = data_words(ctx);
  const int64_t start = item_data_index(ctx, 0);
  const int64_t end = ctx->data_top;
  int64_t place = end;
  int64_t old_words = 0;
  for (int64_t at = start; at < end; at += elem_total_words(data + at)) {
    if (elem_name(data + at) == symbol) {
      place = at;
      old_words = elem_total_words(data + at);
      break;
    }
  }
  const int64_t delta = kElemHeaderWords + value_words - old_words;
  if (delta > data_free_words(ctx)) return kDataStackOverflow;
  if (int64_t(desc_at(ctx, 0)[1]) + delta > int64_t(UINT32_MAX)) return kObjectTooLarge;

  // The value lies below the structure, so moving the tail leaves it intact.
  const int64_t tail = place + old_words;
  std::memmove(data + tail + delta, data + tail, size_t(end - tail) * 8);
  elem_set_header(data + place, kind, a, b, symbol);
  std::memcpy(data + place + kElemHeaderWords, value, size_t(value_words) * 8);
  desc_at(ctx, 0)[1] = uint32_t(int64_t(desc_at(ctx, 0)[1]) + delta);
  ctx->data_top = int32_t(end + delta);
  return kOk;
}

// The option named by the text item at depth, as a template row index.
int pair_option(EngineContext* ctx, int depth, const OptionDesc* tmpl, char* name,
                int32_t* length) {
  // Longer texts cannot name an option; they fail the lookup like any other.
  if (!stk_is_char(ctx, depth) ||
      stk_get_string_buf(ctx, depth, name, kOptionNameBytes + 1, length) != kOk ||
      opt_find(tmpl, name, *length) < 0)
    return kUnknownOption;
  return kOk;
}

}  // namespace

const OptionDesc kOdesetOptions[] = {
    opt_row("AbsTol", kOptReal, 1e-6),
    opt_row("Events", kOptEmpty),
    opt_row("EventTime", kOptEmpty),
    opt_row("InitialStep", kOptEmpty),
    opt_row("MaxStep", kOptEmpty),
    opt_row("MinStep", kOptEmpty),
    opt_row("NormControl", kOptLogical, 0),
    opt_row("OnEvent", kOptEmpty),
    opt_row("OutputFcn", kOptEmpty),
    opt_row("PreArg", kOptEmptyList),
    opt_row("Refine", kOptEmpty),
    opt_row("RelTol", kOptReal, 1e-3),
    opt_row("Stats", kOptLogical, 0),
    opt_end_row(),
};

const OptionDesc kOptimsetOptions[] = {
    opt_row("Display", kOptLogical, 0),
    opt_row("MaxFunEvals", kOptEmpty),
    opt_row("MaxIter", kOptEmpty),
    opt_row("TolX", kOptEmpty),
    opt_end_row(),
};

const OptionDesc kThreadsetOptions[] = {
    opt_row("Priority", kOptReal, 0),
    opt_row("Running", kOptLogical, 1, 0, 0, 0, kOptionHidden),
    opt_row("Sandbox", kOptLogical, 0),
    opt_row("StackSize", kOptReal, 8192),
    opt_end_row(),
};

int opt_find(const OptionDesc* tmpl, const char* name, int32_t length) {
  if (!tmpl || !name) return -1;
  if (length < 0) length = str_len(name);
  for (int i = 0; tmpl[i].type != kOptEnd; ++i)
    if (str_equal(tmpl[i].name, row_name_length(tmpl[i]), name, length, false)) return i;
  return -1;
}

int opt_make_struct(EngineContext* ctx, int nargin, const OptionDesc* tmpl) {
  if (nargin < 0 || (nargin > 0 && !has_item(ctx, nargin - 1)) || !tmpl) return kBadArgument;
  const bool fresh = nargin % 2 == 0;
  if (fresh) {
    TN_TRY(push_default_struct(ctx, tmpl));
  } else {
    if (!stk_is_struct(ctx, nargin - 1)) return kWrongType;
    TN_TRY(stk_move(ctx, nargin, 1));  // the structure given first goes on top
  }
  // The pairs lie below the structure, the first name deepest.
  const int args = fresh ? nargin : nargin - 1;
  for (int depth = args; depth >= 2; depth -= 2) {
    char name[kOptionNameBytes + 1];
    int32_t length = 0;
    int32_t symbol = 0;
    int status = pair_option(ctx, depth, tmpl, name, &length);
    if (status == kOk) status = symtab_intern(ctx, name, length, kIdentifierLimit, &symbol);
    if (status == kOk) status = struct_set_field(ctx, depth - 1, symbol);
    if (status != kOk) {
      if (fresh) stk_drop(ctx);
      return status;
    }
  }
  return stk_remove(ctx, 1, args);
}

int opt_read_struct(EngineContext* ctx, int depth, const char* name, const OptionDesc* tmpl) {
  if (!has_item(ctx, depth) || !name) return kBadArgument;
  if (!is_empty_double(desc_at(ctx, depth))) {
    if (!stk_is_struct(ctx, depth)) return kWrongType;
    const int32_t length = str_len(name);
    if (symtab_find(ctx, name, length) != 0) {
      const int status = stk_struct_get_field(ctx, depth, name, length);
      if (status == kOk) {
        if (!is_empty_double(desc_at(ctx, 0))) return kOk;
        stk_drop(ctx);  // an empty field reads as the default
      } else if (status != kUndefinedField) {
        return status;
      }
    }
  }
  const int row = opt_find(tmpl, name, -1);
  if (row < 0) return kUndefinedField;
  return push_default(ctx, tmpl[row]);
}

int stk_pop_scalar_or_default(EngineContext* ctx, double def, double* out) {
  if (!has_item(ctx, 0)) return kBadArgument;
  const uint32_t* d = desc_at(ctx, 0);
  if (d[0] != kKindReal && d[0] != kKindComplex) TN_TRY(stk_convert_to_double(ctx, 0, 0, nullptr));
  int64_t count = 0;
  double* re = nullptr;
  TN_TRY(stk_get_double_array(ctx, 0, nullptr, nullptr, &count, &re, nullptr));
  int status = kOk;
  double value = def;
  if (count == 1)
    value = tn::ld_f64(re);
  else if (count > 1)
    status = kBadSize;
  stk_drop(ctx);
  if (status == kOk && out) *out = value;
  return status;
}

int opt_get_number(EngineContext* ctx, int depth, const char* name, const OptionDesc* tmpl,
                   double def, double* out) {
  const int row = opt_find(tmpl, name, -1);
  if (row < 0) return kUndefinedField;
  if (tmpl[row].type == kOptReal) def = tmpl[row].def.num[0];
  if (tmpl[row].type == kOptLogical) def = tn::dtoi32(tmpl[row].def.num[0]) != 0 ? 1.0 : 0.0;
  TN_TRY(opt_read_struct(ctx, depth, name, tmpl));
  return stk_pop_scalar_or_default(ctx, def, out);
}

int opt_get_bool(EngineContext* ctx, int depth, const char* name, const OptionDesc* tmpl,
                 uint8_t def, uint8_t* out) {
  double value = 0;
  TN_TRY(opt_get_number(ctx, depth, name, tmpl, double(def), &value));
  if (out) *out = value != 0 ? 1 : 0;
  return kOk;
}

int bi_option_set(EngineContext* ctx, int nargin, int, uintptr_t data) {
  return opt_make_struct(ctx, nargin, reinterpret_cast<const OptionDesc*>(data));
}
