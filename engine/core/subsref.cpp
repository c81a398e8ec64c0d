// The subsref and subsasgn built-ins, which index and assign by a structure
// {type, subs} instead of by syntax, and the preparation of the same
// structure for the methods of objects. subsasgn runs the assignment steps on
// a copy of the value held in a temporary block, whose index a marker item
// keeps on the descriptor stack in place of a variable slot; the block is
// freed on every path.
#include <cstring>

#include "engine/core/assign.h"
#include "engine/core/element_layout.h"
#include "engine/core/frames.h"
#include "engine/core/indexing.h"
#include "engine/core/opcodes.h"
#include "engine/core/stack_ops.h"
#include "engine/core/strings.h"
#include "engine/core/symbols.h"
#include "engine/core/var_blocks.h"

namespace {

constexpr char kTypeField[] = "type";
constexpr char kSubsField[] = "subs";
constexpr char kColonText[] = ":";
constexpr int32_t kNoSlot = -1;

enum class Kind { Field, Paren, Brace };

struct SubsSpec {
  Kind kind;
  const uint64_t* subs;  // the "subs" element (header first)
};

bool text_equals(const uint64_t* e, const char* text) {
  ArrayView v;
  if (!array_view(reinterpret_cast<const uint32_t*>(e), const_cast<uint64_t*>(e) + kElemHeaderWords, &v) ||
      v.subtype != kPayChar || v.esize != 2)
    return false;
  const int64_t n = int64_t(std::strlen(text));
  if (v.count != n) return false;
  for (int64_t i = 0; i < n; ++i)
    if (tn::load<uint16_t>(v.re + 2 * i) != uint8_t(text[i])) return false;
  return true;
}

// The 8-bit text of a char element (at most `cap` characters).
int element_text(const uint64_t* e, char* out, int32_t cap, int32_t* n) {
  ArrayView v;
  if (!array_view(reinterpret_cast<const uint32_t*>(e), const_cast<uint64_t*>(e) + kElemHeaderWords, &v) ||
      v.subtype != kPayChar || v.esize != 2)
    return kWrongArgType;
  if (v.count > cap) return kNameTooLong;
  TN_TRY(wchars_to_name_bytes(v.re, v.count, out));
  *n = int32_t(v.count);
  return kOk;
}

// Reads s at depth: a struct with a "type" string and a "subs" field.
int read_spec(EngineContext* ctx, int depth, SubsSpec* spec) {
  const uint32_t* d = desc_at(ctx, depth);
  if (d[0] != kKindContainer || d[2] != kContStruct) return kWrongArgType;
  uint64_t* data = item_data(ctx, depth);
  const int32_t type_sym = symtab_find(ctx, kTypeField, 4);
  const int32_t subs_sym = symtab_find(ctx, kSubsField, 4);
  const uint64_t* type = type_sym ? find_named_element(data, d[1], type_sym) : nullptr;
  spec->subs = subs_sym ? find_named_element(data, d[1], subs_sym) : nullptr;
  if (!type || !spec->subs) return kUndefinedField;
  if (text_equals(type, "."))
    spec->kind = Kind::Field;
  else if (text_equals(type, "()"))
    spec->kind = Kind::Paren;
  else if (text_equals(type, "{}"))
    spec->kind = Kind::Brace;
  else
    return kUnknownOption;
  return kOk;
}

int field_symbol(EngineContext* ctx, const uint64_t* subs, int32_t* symbol) {
  char name[kFieldNameLimit];
  int32_t n = 0;
  TN_TRY(element_text(subs, name, kFieldNameLimit, &n));
  return symtab_intern(ctx, name, n, kFieldNameLimit, symbol);
}

int push_element(EngineContext* ctx, const uint64_t* e) {
  const uint32_t n = elem_data_words(e);
  if (!desc_room(ctx)) return kStackOverflow;
  if (int64_t(n) > data_free_words(ctx)) return kDataStackOverflow;
  uint64_t* p = stk_claim(ctx, elem_word(e, 0), elem_word(e, 1), elem_word(e, 2), n);
  std::memcpy(p, e + kElemHeaderWords, size_t(n) * 8);
  return kOk;
}

// Pushes the entries of a subscript list, ":" strings becoming colon bits
// (braces take no colon); other strings give 27. Returns the counts.
int push_subscripts(EngineContext* ctx, const uint64_t* subs, bool colons_allowed, int* n, uint32_t* mask,
                    int* pushed) {
  *n = 0;
  *mask = 0;
  *pushed = 0;
  Entries ent;
  if (!container_entries(reinterpret_cast<const uint32_t*>(subs), const_cast<uint64_t*>(subs) + kElemHeaderWords,
                         &ent))
    return kWrongArgType;
  if (ent.count > kMaxSubscripts) return kBadDimension;
  const uint64_t* e = ent.first;
  for (int64_t i = 0; i < ent.count; ++i, e += elem_total_words(e)) {
    const bool is_text = elem_kind(e) == kKindPayload && elem_word(e, 2) == kPayChar;
    if (is_text) {
      if (!colons_allowed || !text_equals(e, kColonText)) return kBadIndexType;
      *mask |= 1u << i;
    } else {
      TN_TRY(push_element(ctx, e));
      ++*pushed;
    }
    ++*n;
  }
  return kOk;
}

int32_t running_method_class(EngineContext* ctx) {
  return ctx->frame >= 0 ? int32_t(frame_words(ctx, ctx->frame)[kFwMethodClass]) : 0;
}

bool assignable_value(const uint32_t* d) {
  if (d[0] == kKindReal || d[0] == kKindComplex) return true;
  if (d[0] == kKindPayload) return d[2] == kPayNumeric || d[2] == kPayChar || d[2] == kPayLogical;
  return d[0] == kKindContainer && (d[2] == kContList || d[2] == kContStruct || d[2] == kContCell);
}

// The steps of subsasgn on [.., marker, rhs]: the reference to the marker's
// block is pushed, the subscripts after it, and the assignment runs.
int run_assignment(EngineContext* ctx, const SubsSpec& spec, int32_t marker_word, int32_t block) {
  TN_TRY(ref_push(ctx, VarRef{1, marker_word, block, 0, 0, kNoSlot}));
  if (spec.kind == Kind::Field) {
    int32_t symbol = 0;
    TN_TRY(field_symbol(ctx, spec.subs, &symbol));
    TN_TRY(op_ref_step(ctx, symbol, running_method_class(ctx)));
    return op_ref_assign(ctx);
  }
  int n = 0, pushed = 0;
  uint32_t mask = 0;
  TN_TRY(push_subscripts(ctx, spec.subs, spec.kind == Kind::Paren, &n, &mask, &pushed));
  if (spec.kind == Kind::Paren) return op_index_set(ctx, n, mask);
  if (n > 0) TN_TRY(op_ref_step_element(ctx, n));
  return op_ref_assign(ctx);
}

// Builds s = {type, subs} from the subs value on top; the struct replaces it.
int make_spec_struct(EngineContext* ctx, const char* type) {
  TN_TRY(stk_push_cstr(ctx, -1, type));
  TN_TRY(stk_make_container(ctx, 1, 0, kTypeField, 4));
  TN_TRY(stk_move(ctx, 2, 1));
  return stk_make_container(ctx, 1, 1, kSubsField, 4);
}

// Replaces the k subscripts on top by a list of n entries with ":" strings at
// the colon positions.
int gather_subscripts(EngineContext* ctx, int n, uint32_t mask, int k) {
  int used = 0;
  for (int i = 0; i < n; ++i) {
    if ((mask >> i) & 1) {
      TN_TRY(stk_push_cstr(ctx, -1, kColonText));
    } else {
      // The subscripts lie under the i entries pushed so far.
      TN_TRY(stk_dup(ctx, i + (k - 1 - used), 1));
      ++used;
    }
  }
  TN_TRY(stk_make_container(ctx, n, 0, nullptr, 0));
  return stk_remove(ctx, 1, k);
}

int stack_subs(int nsubs, uint32_t colon_mask) {
  int k = nsubs;
  for (int i = 0; i < nsubs && i < 32; ++i) k -= (colon_mask >> i) & 1;
  return k;
}

// Turns the operands of a failing instruction into [indexed item, s].
int prepare_spec(EngineContext* ctx, int opcode, int32_t op1, int32_t op2) {
  switch (opcode) {
    case kOpRefField: {
      int32_t n = 0;
      const char* name = symtab_name(ctx, op1, &n);
      if (!name) return TN_ILLEGAL();
      TN_TRY(stk_push_cstr(ctx, n, name));
      return make_spec_struct(ctx, ".");
    }
    case kOpRefDynfield:
      return make_spec_struct(ctx, ".");
    case kOpIndexRead:
    case kOpIndexRefRead:
    case kOpIndexAssign:
      if (op1 < 0 || op1 > kMaxSubscripts) return kBadDimension;
      TN_TRY(gather_subscripts(ctx, op1, uint32_t(op2), stack_subs(op1, uint32_t(op2))));
      return make_spec_struct(ctx, "()");
    case kOpRefElement:
      if (op1 < 0 || op1 > kMaxSubscripts) return kBadDimension;
      TN_TRY(gather_subscripts(ctx, op1, 0, op1));
      return make_spec_struct(ctx, "{}");
    default:
      return kPrivateField;
  }
}

}  // namespace

int bi_subsref(EngineContext* ctx) {
  if (!stk_has_item(ctx, 1)) return TN_ILLEGAL();
  SubsSpec spec;
  TN_TRY(read_spec(ctx, 0, &spec));
  if (spec.kind == Kind::Field) {
    int32_t symbol = 0;
    TN_TRY(field_symbol(ctx, spec.subs, &symbol));
    const uint32_t* d = desc_at(ctx, 1);
    if (d[0] != kKindContainer) return kWrongArgType;
    stk_drop(ctx);
    return op_ref_step(ctx, symbol, running_method_class(ctx));
  }
  int n = 0, pushed = 0;
  uint32_t mask = 0;
  const int status = push_subscripts(ctx, spec.subs, spec.kind == Kind::Paren, &n, &mask, &pushed);
  if (status != kOk) {
    for (int i = 0; i < pushed; ++i) stk_drop(ctx);
    return status;
  }
  TN_TRY(stk_remove(ctx, pushed, 1));  // s goes; the value is under the subscripts
  if (spec.kind == Kind::Paren) return index_extract(ctx, n, mask, 0, 0);
  return op_ref_step_element(ctx, n);
}

int bi_subsasgn(EngineContext* ctx) {
  if (!stk_has_item(ctx, 2)) return TN_ILLEGAL();
  if (!assignable_value(desc_at(ctx, 2))) return kWrongArgType;
  SubsSpec spec;
  TN_TRY(read_spec(ctx, 1, &spec));
  // The copy to assign into, in a block of its own.
  const uint32_t* v = desc_at(ctx, 2);
  const int64_t words = kElemHeaderWords + int64_t(desc_data_words(v));
  int32_t block = 0;
  TN_TRY(heap_alloc(ctx, words, &block));
  uint64_t* b = heap_words(ctx) + block;
  elem_set_header(b, v[0], v[1], v[2], 0);
  std::memcpy(b + kElemHeaderWords, item_data(ctx, 2), size_t(desc_data_words(v)) * 8);

  // [value, s, rhs] -> [value, s, marker, rhs]; the marker's b word is the slot.
  int status = stk_push_marker(ctx, block);
  if (status == kOk) status = stk_move(ctx, 2, 1);
  if (status != kOk) {
    heap_free(ctx, block);
    return status;
  }
  const int32_t marker_word = ctx->desc_top - 3 * 2 + 2;
  const int32_t marker_depth_items = stk_item_count(ctx);
  status = run_assignment(ctx, spec, marker_word, block);
  block = int32_t(desc_words(ctx)[marker_word]);
  if (status == kOk && stk_item_count(ctx) != marker_depth_items - 1) status = TN_ILLEGAL();
  if (status == kOk) {
    const uint64_t* e = heap_words(ctx) + block;
    status = push_element(ctx, e);
  }
  heap_free(ctx, block);
  if (status != kOk) {
    // The marker no longer names a block; what lies above it goes too.
    desc_words(ctx)[marker_word] = 0;
    return status;
  }
  return stk_remove(ctx, 1, 3);
}

int overload_subsref_struct(EngineContext* ctx, int opcode, int32_t op1, int32_t op2) {
  TN_TRY(prepare_spec(ctx, opcode, op1, op2));
  if (desc_at(ctx, 1)[0] == kKindReference) TN_TRY(ref_deref_at(ctx, 1));
  return kOk;
}

int overload_subsasgn_struct(EngineContext* ctx, int opcode, int32_t op1, int32_t op2) {
  if (opcode != kOpIndexAssign && opcode != kOpRefField && opcode != kOpRefDynfield &&
      opcode != kOpRefElement)
    return kPrivateField;
  // [rhs, ref, operands] -> [rhs, ref, s] -> [ref, object, s, rhs]
  TN_TRY(prepare_spec(ctx, opcode, op1, op2));
  if (desc_at(ctx, 1)[0] != kKindReference) return TN_ILLEGAL();
  TN_TRY(stk_dup(ctx, 1, 1));
  TN_TRY(ref_deref_at(ctx, 0));
  TN_TRY(stk_move(ctx, 2, 1));
  return stk_move(ctx, 4, 1);
}

int overload_push_end_args(EngineContext* ctx, int depth, int position, int count) {
  if (!stk_has_item(ctx, depth)) return TN_ILLEGAL();
  TN_TRY(stk_dup(ctx, depth, 1));
  if (desc_at(ctx, 0)[0] == kKindReference) TN_TRY(ref_deref_at(ctx, 0));
  TN_TRY(stk_push_real(ctx, double(position)));
  return stk_push_real(ctx, double(count));
}
