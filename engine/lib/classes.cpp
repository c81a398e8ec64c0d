// User classes: the class name of every value, making objects from
// structures (class), and the questions isobject, isa and methods. An object
// is a container whose subtype word is its class name's symbol (negative);
// a parent object is a field named by the parent's class symbol.
#include "engine/lib/classes.h"

#include <cstdlib>
#include <cstring>

#include "engine/core/containers.h"
#include "engine/core/fntable.h"
#include "engine/core/interp.h"
#include "engine/core/opcodes.h"
#include "engine/core/stack_ops.h"
#include "engine/core/streams.h"
#include "engine/core/symbols.h"
#include "engine/core/value_stack.h"

namespace {

constexpr char kNoClassName[] = "???";
constexpr char kNoMethodLine[] = "No method for class ";
constexpr int32_t kClassNameBytes = kIdentifierLimit + 1;
constexpr uint32_t kClassIdBase = kPayFirstClass;
constexpr uint32_t kClassesPerTable = 128;

// A user-class object's subtype is a symbol: negative as a signed word.
bool subtype_is_user_class(uint32_t subtype) { return int32_t(subtype) < 0; }

const char* typed_class_name(uint32_t type) {
  switch (type) {
    case kElemDouble: case kElemDoubleComplex: return "double";
    case kElemSingle: case kElemSingleComplex: return "single";
    case kElemI8: return "int8";
    case kElemI16: return "int16";
    case kElemI32: return "int32";
    case kElemI64: return "int64";
    case kElemU8: return "uint8";
    case kElemU16: return "uint16";
    case kElemU32: return "uint32";
    case kElemU64: return "uint64";
    default: return nullptr;
  }
}

// The constructor row of a library class: the first row of the table the id
// designates whose class word has the id's class word as its magnitude.
const char* library_class_row_name(EngineContext* ctx, uint32_t class_id) {
  if (class_id < kClassIdBase) return nullptr;
  const uint32_t table = (class_id - kClassIdBase) / kClassesPerTable;
  const int32_t word = int32_t((class_id - kClassIdBase) % kClassesPerTable);
  if (word == 0 || int64_t(table) >= ctx->table_count) return nullptr;
  const LibraryTableRef ref = table_refs(ctx)[table];
  for (int32_t r = 0; r < ref.rows; ++r)
    if (std::abs(ref.table[r].class_word) == word) return ref.table[r].name;
  return nullptr;
}

bool set_name(const char* text, const char** name, int32_t* length) {
  if (!text) return false;
  *name = text;
  *length = int32_t(std::strlen(text));
  return true;
}

// The class name of the item at `depth`, as value_class_name gives it.
bool class_name_at(EngineContext* ctx, int depth, const char** name, int32_t* length) {
  if (!stk_has_item(ctx, depth)) return false;
  const uint32_t* d = desc_at(ctx, depth);
  switch (d[0]) {
    case kKindReal:
    case kKindComplex: return set_name("double", name, length);
    case kKindContainer:
      if (d[2] == kContList) return set_name("list", name, length);
      if (d[2] == kContStruct) return set_name("struct", name, length);
      if (d[2] == kContCell) return set_name("cell", name, length);
      if (!subtype_is_user_class(d[2])) return false;
      *name = symtab_name(ctx, int32_t(d[2]), length);
      return *name != nullptr;
    case kKindPayload: {
      if (d[2] == kPayInline) return set_name("inline", name, length);
      if (d[2] == kPayFuncRef) return set_name("funref", name, length);
      if (d[2] == kPayChar) return set_name("char", name, length);
      if (d[2] == kPayLogical) return set_name("logical", name, length);
      if (d[2] == kPayNumeric) {
        TypedView t{};
        if (!typed_view(ctx, depth, &t)) return false;
        return set_name(typed_class_name(t.type), name, length);
      }
      return set_name(library_class_row_name(ctx, d[2]), name, length);
    }
    default: return set_name("binary", name, length);
  }
}

// True when the object's class, or that of a parent found recursively among
// its fields, is `symbol`. A parent is a field holding a user-class object
// and named after that object's class. One pass over the object's words, in order: a parent's fields follow its
// header, so stepping into a parent is stepping over its header, and any
// other field is stepped over whole. No depth limit and no recursion: the
// walk ends within the words whatever the nesting (a damaged length that
// would not advance ends it too).
bool object_is_a(const uint64_t* first, int64_t words, uint32_t subtype, int32_t symbol) {
  if (int32_t(subtype) == symbol) return true;
  int64_t at = 0;
  while (at + kElemHeaderWords <= words) {
    const uint64_t* e = first + at;
    const int64_t total = elem_total_words(e);
    if (total < kElemHeaderWords || at + total > words) return false;
    if (elem_kind(e) == kKindContainer && subtype_is_user_class(elem_word(e, 2)) &&
        elem_name(e) == int32_t(elem_word(e, 2))) {
      if (int32_t(elem_word(e, 2)) == symbol) return true;
      at += kElemHeaderWords;
    } else {
      at += total;
    }
  }
  return false;
}

bool object_has_field(const uint64_t* first, int64_t words, int32_t symbol) {
  int64_t at = 0;
  while (at + kElemHeaderWords <= words) {
    const uint64_t* e = first + at;
    if (elem_name(e) == symbol) return true;
    at += elem_total_words(e);
  }
  return false;
}

int push_class_name(EngineContext* ctx, const char* name, int32_t length) {
  uint16_t* out = nullptr;
  TN_TRY(stk_push_char_row(ctx, length, &out));
  for (int32_t i = 0; i < length; ++i) out[i] = uint8_t(name[i]);
  return kOk;
}

// class(s, name, p1, ..., pn): the parents go in front of s's fields, in
// argument order, each named by its class. The object is built on top and
// then takes the place of the arguments, so a failure changes nothing.
int make_object(EngineContext* ctx, int nargin) {
  const int parents = nargin - 2;
  const int s_depth = nargin - 1;
  const uint32_t* sd = desc_at(ctx, s_depth);
  if (sd[0] != kKindContainer) return kWrongArgType;
  // Room past an identifier, so that an overlong name meets the interner's own status.
  char name[kIdentifierLimit * 4];
  int32_t length = 0;
  TN_TRY(stk_get_string_buf(ctx, s_depth - 1, name, int32_t(sizeof name), &length));
  uint32_t subtype = desc_at(ctx, s_depth)[2];
  // A cell that stays a cell (no class name) keeps its dims element first:
  // no parent goes in front of it.
  if (length == 0 && subtype == kContCell && parents > 0) return kBadArgument;
  if (length > 0) {
    int32_t symbol = 0;
    TN_TRY(symtab_intern(ctx, name, length, kIdentifierLimit, &symbol));
    subtype = uint32_t(symbol);
  }
  int64_t words = desc_at(ctx, s_depth)[1];
  const uint64_t* s_first = item_data(ctx, s_depth);
  for (int k = parents - 1; k >= 0; --k) {
    const uint32_t* pd = desc_at(ctx, k);
    if (pd[0] != kKindContainer || !subtype_is_user_class(pd[2])) return kNonObjectArgument;
    const int32_t symbol = int32_t(pd[2]);
    if (object_has_field(s_first, desc_at(ctx, s_depth)[1], symbol)) return kUndefinedField;
    for (int j = k + 1; j < parents; ++j)
      if (int32_t(desc_at(ctx, j)[2]) == symbol) return kUndefinedField;
    words += kElemHeaderWords + pd[1];
  }
  if (words > data_free_words(ctx) || words > INT32_MAX) return kDataStackOverflow;
  if (!desc_room(ctx)) return kStackOverflow;
  // Offsets, not pointers: the claim below cannot move the block, but the
  // sources are read through fresh lookups after it all the same.
  const int32_t s_at = item_data_index(ctx, s_depth + 0);
  const uint32_t s_words = desc_at(ctx, s_depth)[1];
  uint64_t* out = stk_claim(ctx, kKindContainer, uint32_t(words), subtype, uint32_t(words));
  for (int k = parents; k >= 1; --k) {  // depth k now: p1 deepest
    const uint32_t* pd = desc_at(ctx, k);
    elem_set_header(out, pd[0], pd[1], pd[2], int32_t(pd[2]));
    std::memcpy(out + kElemHeaderWords, item_data(ctx, k), size_t(pd[1]) * 8);
    out += kElemHeaderWords + pd[1];
  }
  std::memmove(out, data_words(ctx) + s_at, size_t(s_words) * 8);
  return stk_remove(ctx, 1, nargin);
}

}  // namespace

bool value_class_name(EngineContext* ctx, const char** name, int32_t* length) {
  return class_name_at(ctx, 0, name, length);
}

int bi_class(EngineContext* ctx, int nargin) {
  if (nargin < 1 || !stk_has_item(ctx, nargin - 1)) return kBadArgument;
  if (nargin >= 2) return make_object(ctx, nargin);
  const char* name = nullptr;
  int32_t length = 0;
  if (!value_class_name(ctx, &name, &length)) set_name(kNoClassName, &name, &length);
  TN_TRY(push_class_name(ctx, name, length));
  return stk_remove(ctx, 1, 1);
}

int bi_isobject(EngineContext* ctx) {
  if (!stk_has_item(ctx, 0)) return kBadArgument;
  const uint32_t* d = desc_at(ctx, 0);
  const bool object = d[0] == kKindContainer && subtype_is_user_class(d[2]);
  TN_TRY(stk_push_logical_scalar(ctx, object));
  return stk_remove(ctx, 1, 1);
}

int bi_isa(EngineContext* ctx) {
  if (!stk_has_item(ctx, 1)) return kBadArgument;
  char name[kClassNameBytes];
  int32_t length = 0;
  // A name longer than any class name cannot match: answered below as false.
  int status = stk_get_string_buf(ctx, 0, name, kClassNameBytes, &length);
  if (status == kObjectTooLarge) length = -1;
  else if (status != kOk) return status;
  const uint32_t* d = desc_at(ctx, 1);
  bool result = false;
  if (length >= 0 && d[0] == kKindContainer && subtype_is_user_class(d[2])) {
    const int32_t symbol = symtab_find(ctx, name, length);
    result = symbol != 0 && object_is_a(item_data(ctx, 1), d[1], d[2], symbol);
  } else if (length >= 0) {
    const char* own = nullptr;
    int32_t own_length = 0;
    result = class_name_at(ctx, 1, &own, &own_length) && own_length == length &&
             std::memcmp(own, name, size_t(length)) == 0;
  }
  TN_TRY(stk_push_logical_scalar(ctx, result));
  return stk_remove(ctx, 1, 2);
}

int bi_methods(EngineContext* ctx, int nargout) {
  if (!stk_has_item(ctx, 0)) return kBadArgument;
  char name[kClassNameBytes];
  int32_t length = 0;
  int status = stk_get_string_buf(ctx, 0, name, kClassNameBytes, &length);
  if (status == kObjectTooLarge) length = -1;
  else if (status != kOk) return status;
  const int32_t symbol = length > 0 ? symtab_find(ctx, name, length) : 0;
  int32_t found = 0;
  for (int32_t id = 1; symbol != 0 && id < ctx->fn_count; ++id) {
    if (!ent_is_function(ctx, id) || ent(ctx, id, kEntExtra) != symbol) continue;
    if ((uint32_t(ent(ctx, id, kEntLink)) & kEntryPrivate) && !ctx->private_visible) continue;
    int32_t n = 0;
    const char* method = symtab_name(ctx, ent(ctx, id, kEntName), &n);
    if (!method) continue;
    if (nargout >= 1) {
      status = push_class_name(ctx, method, n);
      if (status != kOk) {
        (void)stk_remove(ctx, 0, found);  // the names pushed so far
        return status;
      }
    } else {
      TN_TRY(io_write(ctx, kFdStdout, method, n));
      TN_TRY(io_newline(ctx, kFdStdout));
    }
    ++found;
  }
  if (nargout >= 1) {
    status = stk_make_container(ctx, found, 0, nullptr, 0);
    if (status != kOk) {
      (void)stk_remove(ctx, 0, found);
      return status;
    }
    return stk_remove(ctx, 1, 1);
  }
  if (found == 0) {
    TN_TRY(io_write(ctx, kFdStdout, kNoMethodLine, int32_t(sizeof kNoMethodLine) - 1));
    if (length > 0) TN_TRY(io_write(ctx, kFdStdout, name, length));
    TN_TRY(io_newline(ctx, kFdStdout));
  }
  TN_TRY(stk_remove(ctx, 0, 1));
  return nargout < 0 ? stk_push_no_value(ctx) : kOk;
}

namespace {

int op_classes(EngineContext* ctx, int32_t opcode, int nargin, int nargout, int) {
  switch (opcode) {
    case kOpClass: return bi_class(ctx, nargin);
    case kOpIsobject: return bi_isobject(ctx);
    case kOpIsa: return bi_isa(ctx);
    case kOpMethods: return bi_methods(ctx, nargout);
    default: return kNotSupported;
  }
}

}  // namespace

void classes_install() {
  for (uint16_t op : {kOpClass, kOpIsobject, kOpIsa, kOpMethods}) interp_set_op_handler(op, op_classes, op);
}
