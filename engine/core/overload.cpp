// Operator overloading and operand conversion for instructions that failed
// with a type error: the method of the object's class (user classes through
// user functions, library classes through their rows), or a retry with
// integer, char and logical operands converted to double. Nothing here runs
// code itself: a method call only prepares its frame and position.
#include "engine/core/overload.h"

#include <cstring>

#include "engine/core/assign.h"
#include "engine/core/calls.h"
#include "engine/core/containers.h"
#include "engine/core/convert.h"
#include "engine/core/errors.h"
#include "engine/core/frames.h"
#include "engine/core/heap.h"
#include "engine/core/interp.h"
#include "engine/core/interp_dispatch.h"
#include "engine/core/opcodes.h"
#include "engine/core/stack_ops.h"
#include "engine/core/symbols.h"
#include "engine/core/value_stack.h"

namespace {

// Words of a kind-8 reference's data, read as u32: the assignment flag,
// block and element offset.
enum : int { kRefAssignFlag = 0, kRefBlock = 3, kRefOffset = 4 };
constexpr int kClassNameLimit = 28;

constexpr char kMethodSubsref[] = "subsref";
constexpr char kMethodSubsasgn[] = "subsasgn";
constexpr char kMethodDisp[] = "disp";

// The element a reference designates (its 16-byte header), or null.
const uint64_t* ref_target(EngineContext* c, int depth) {
  const uint32_t* d = desc_at(c, depth);
  if (d[0] != kKindReference || d[1] < 3) return nullptr;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(item_data(c, depth));
  const int64_t block = tn::ld_i32(p + 4 * kRefBlock);
  const int64_t offset = tn::ld_i32(p + 4 * kRefOffset);
  if (block < 1 || offset < 0 || block + offset + 2 > c->heap_size) return nullptr;
  if (offset != 0) entry_gap_close_in(c, int32_t(block));  // as ref_element does
  return heap_words(c) + block + offset;
}

// Descriptor words of the item at depth, a reference followed to its value.
bool value_desc(EngineContext* c, int depth, uint32_t out[3]) {
  if (!stk_has_item(c, depth)) return false;
  const uint32_t* d = desc_at(c, depth);
  if (d[0] == kKindReference) {
    const uint64_t* e = ref_target(c, depth);
    if (!e) return false;
    out[0] = elem_kind(e);
    out[1] = elem_word(e, 1);
    out[2] = elem_word(e, 2);
    return true;
  }
  std::memcpy(out, d, 3 * sizeof(uint32_t));
  return true;
}

// Replaces a kind-8 reference at depth by a copy of the value it designates.
int resolve_ref_at(EngineContext* ctx, int depth) {
  if (!stk_has_item(ctx, depth) || desc_at(ctx, depth)[0] != kKindReference) return kOk;
  const uint64_t* e = ref_target(ctx, depth);
  if (!e) return TN_ILLEGAL();
  const uint32_t kind = elem_kind(e), a = elem_word(e, 1), b = elem_word(e, 2);
  const uint32_t words = item_data_words(kind, a, b);
  if (!desc_room(ctx)) return kStackOverflow;
  if (int64_t(words) > data_free_words(ctx)) return kDataStackOverflow;
  const int64_t at = e - heap_words(ctx);
  uint64_t* p = stk_claim(ctx, kind, a, b, words);
  std::memcpy(p, heap_words(ctx) + at + kElemHeaderWords, size_t(words) * 8);
  stk_replace_with_top(ctx, depth);
  return kOk;
}

void failing_method_name(EngineContext* c, uint32_t cls, const char* method) {
  char buf[kFailingOpBytes] = {};
  int32_t n = 0;
  const char* name = symtab_name(c, int32_t(cls), &n);
  int32_t at = 0;
  if (name)
    for (int32_t i = 0; i < n && i < kClassNameLimit; ++i) buf[at++] = name[i];
  for (const char* s = "::"; *s && at < kFailingOpBytes; ++s) buf[at++] = *s;
  for (const char* s = method; *s && at < kFailingOpBytes; ++s) buf[at++] = *s;
  std::memcpy(c->failing_op, buf, sizeof buf);
}

int32_t caller_function(EngineContext* c) {
  return c->frame >= 0 ? int32_t(frame_words(c, c->frame)[kFwFunctionId]) : -1;
}

// What the failing instruction asks of an object.
struct MethodPlan {
  char name[kOpNameBytes + 1] = {};
  int n = 0;           // inputs of the method
  int m = 1;           // outputs
  int object = -1;     // depth of the object's operand, -1: the first object among the inputs
  bool assign = false;  // "subsasgn": the result is assigned through the reference
  bool index = false;   // index, field or end instruction: no conversion to double
  int skip = 0;         // words past the instruction where execution goes on
};

bool plan_method(EngineContext* c, const uint16_t* insn, int length, MethodPlan* p) {
  const uint32_t op = insn[0];
  p->skip = length;
  auto set = [&](const char* name, int n) {
    std::strncpy(p->name, name, kOpNameBytes);
    p->n = n;
    p->index = true;
  };
  switch (op) {
    case kOpDisplayLocal:
    case kOpStoreAnsDisplay:
    case kOpDisplayNamed:
      set(kMethodDisp, 1);
      p->m = 0;
      p->object = 0;
      return true;
    case kOpRefField:
    case kOpRefDynfield:
    case kOpRefElement: {
      p->assign = insn[length] == kOpRefAssign;
      set(p->assign ? kMethodSubsasgn : kMethodSubsref, p->assign ? 3 : 2);
      if (p->assign) p->skip = length + 1;
      p->object = op == kOpRefField ? 0 : op == kOpRefDynfield ? 1 : int16_t(insn[1]);
      return true;
    }
    case kOpIndexRead:
    case kOpIndexRefRead:
      set(kMethodSubsref, 2);
      p->object = mask_count_unset(int16_t(insn[1]), insn[2]);
      return true;
    case kOpIndexAssign:
      set(kMethodSubsasgn, 3);
      p->assign = true;
      p->object = mask_count_unset(int16_t(insn[1]), insn[2]);
      return true;
    case kOpIndexBeginning: set("beginning", 3); p->object = int16_t(insn[1]); return true;
    case kOpIndexEnd: set("end", 3); p->object = int16_t(insn[1]); return true;
    case kOpIndexMatrixrow: set("matrixrow", 3); p->object = int16_t(insn[1]); return true;
    case kOpIndexMatrixcol: set("matrixcol", 3); p->object = int16_t(insn[1]); return true;
    default:
      break;
  }
  int nin = 0, nout = 0;
  if (insn_stack_effect(insn, &nin, &nout) != kOk) return false;  // irregular: not overloaded
  char name[kOpNameBytes];
  core_builtin_name(c, op, 0, name);
  std::memcpy(p->name, name, kOpNameBytes);
  if (!p->name[0]) return false;
  p->n = nin;
  p->m = nout;
  return true;
}

// The object among the method's inputs: depth, or -1 when none is an object.
int find_object(EngineContext* c, const MethodPlan& p) {
  if (p.object >= 0) return item_user_class(c, p.object) != 0 ? p.object : -1;
  for (int d = p.n - 1; d >= 0; --d)
    if (item_user_class(c, d) != 0) return d;
  return -1;
}

// A field or brace step into an object in the middle of an assignment path
// («o.x.y = v», «o.x(2) = v»): the rest of the path needs a reference into
// the object, which neither method gives ("subsref" leaves a value, and the
// store would land nowhere).
bool inner_assignment_step(EngineContext* c, const uint16_t* insn, const MethodPlan& p) {
  const uint32_t op = insn[0];
  if ((op != kOpRefField && op != kOpRefDynfield && op != kOpRefElement) || p.assign) return false;
  if (!stk_has_item(c, p.object) || desc_at(c, p.object)[0] != kKindReference) return false;
  return tn::ld_i32(reinterpret_cast<const uint8_t*>(item_data(c, p.object)) + 4 * kRefAssignFlag) == 1;
}

// Refuses such a step, naming the class's "subsasgn": 121 when the class
// has none, else 1000 (the method stores one step into the object, not a
// path through it).
int refuse_inner_assignment(EngineContext* c, uint32_t cls) {
  int32_t n = 0;
  const char* name = symtab_name(c, int32_t(cls), &n);
  const int32_t id = name ? fn_find_user(c, kMethodSubsasgn, int32_t(sizeof kMethodSubsasgn - 1), name, n,
                                         fn_library_of(c, caller_function(c)), 1, nullptr)
                          : -1;
  err_store(c, 0, nullptr, 0, false);
  failing_method_name(c, cls, kMethodSubsasgn);
  return id > 0 ? kNotSupported : kUndefinedFunction;
}

// Brings the method's inputs on top in their order. For "subsasgn" the stack
// becomes [reference, object, S, rhs] for the assignment sequence.
int prepare_arguments(EngineContext* c, const uint16_t* insn, const MethodPlan& p) {
  const uint32_t op = insn[0];
  switch (op) {
    case kOpIndexRead:
    case kOpIndexRefRead:
    case kOpIndexAssign:
    case kOpRefField:
    case kOpRefDynfield:
    case kOpRefElement:
      return p.assign ? overload_subsasgn_struct(c, int(op), int16_t(insn[1]), int16_t(insn[2]))
                      : overload_subsref_struct(c, int(op), int16_t(insn[1]), int16_t(insn[2]));
    case kOpIndexBeginning:
    case kOpIndexEnd:
    case kOpIndexMatrixrow:
    case kOpIndexMatrixcol:
      return overload_push_end_args(c, int16_t(insn[1]), int16_t(insn[2]), int16_t(insn[3]));
    default:
      for (int d = 0; d < p.n; ++d)
        if (stk_has_item(c, d) && desc_at(c, d)[0] == kKindReference) TN_TRY(resolve_ref_at(c, d));
      return kOk;
  }
}

// The code a "subsasgn" method runs in: call it, put the reference on top,
// assign its result through the reference, leave.
int run_assignment(EngineContext* c, int32_t method_id) {
  const uint16_t code[] = {kOpCallUser, uint16_t(method_id), 3, 1, kOpMoveItem, 2, 1, kOpRefAssign, kOpHalt};
  return call_setup_frame(c, code, int32_t(sizeof code / sizeof code[0]), 4, 0, 0, caller_function(c), 0);
}

int user_class_method(EngineContext* c, const uint16_t* insn, const MethodPlan& p, uint32_t cls,
                      OverloadAction* action) {
  TN_TRY(prepare_arguments(c, insn, p));
  int32_t id = -1, opcode = -1;
  const BuiltinEntry* row = nullptr;
  const IntrinsicEntry* intrinsic = nullptr;
  const int n = p.assign ? 3 : p.n;
  const int found = fn_resolve_ref(c, p.name, caller_function(c), n, p.m, &id, &row, &opcode, &intrinsic,
                                   kResolveUserOnly);
  if (found == kStackOverflow || found == kDataStackOverflow) return found;
  if (found != kOk || id < 1) {
    if (std::strcmp(p.name, kMethodDisp) == 0) {
      // No "disp" method: the built-in display shows the object.
      TN_TRY(interp_display(c, 1, 1));
      code_set_pc(c, insn + p.skip);
      *action = OverloadAction::kContinue;
      return kOk;
    }
    // The lookup's own text would name the bare method: the report is rebuilt
    // from the code with the class in the operation's name.
    err_store(c, 0, nullptr, 0, false);
    failing_method_name(c, cls, p.name);
    return kUndefinedFunction;
  }
  code_set_pc(c, insn + p.skip);
  if (p.assign) TN_TRY(run_assignment(c, id));
  else TN_TRY(fn_call(c, p.name, caller_function(c), n, p.m, 1, 0));
  *action = OverloadAction::kContinue;
  return kOk;
}

// A library class: the row of that class id, name and counts.
int library_class_method(EngineContext* c, const uint16_t* insn, const MethodPlan& p, uint32_t cls,
                         OverloadAction* action) {
  const int n = p.assign ? 3 : p.n;
  const LibraryTableRef* refs = table_refs(c);
  for (int32_t t = 0; t < c->table_count; ++t) {
    for (int32_t i = 0; i < refs[t].rows; ++i) {
      const BuiltinEntry& row = refs[t].table[i];
      if (!row.fn || uint32_t(builtin_class_id(t, row.class_word)) != cls) continue;
      if (std::strncmp(row.name, p.name, sizeof row.name) != 0) continue;
      const bool in_ok = n >= row.min_in && (n <= row.max_in || (row.max_in & kArgsAny));
      // A statement (m < 0) takes whatever the method leaves: a value goes to
      // ans, as for a plain row called as a statement.
      const bool out_ok = p.m < 0 || (p.m >= row.min_out && (p.m <= row.max_out || (row.max_out & kArgsAny)));
      if (!in_ok || !out_ok) continue;
      TN_TRY(prepare_arguments(c, insn, p));
      code_set_pc(c, insn + p.skip);
      c->class_id = int32_t(cls);
      int status = row.fn(c, n, p.m, builtin_data(c, &row));
      if (status == kOk && p.assign) {
        // [ref, result] -> the result assigned through the reference.
        status = stk_move(c, 2, 1);
        if (status == kOk) {
          const OpHandler h = interp_op_handler(kOpRefAssign);
          status = h.fn(c, h.selector, 0, 0, 0);
        }
      }
      if (status != kOk) {
        if (c->free_at_run > 0) {
          heap_free(c, c->free_at_run);
          c->free_at_run = -1;
        }
        return status;
      }
      *action = OverloadAction::kContinue;
      return kOk;
    }
  }
  return -1;
}

}  // namespace

bool overload_status(int status) {
  switch (status) {
    case kWrongVariableType: case kFieldOfNonStruct: case kElementOfNonList: case kUndefinedField:
    case kPrivateField: case kWrongArgType:
      return true;
    default:
      return false;
  }
}

int mask_count_unset(int n, uint32_t mask) {
  if (n < 1) return n;
  const uint32_t low = n >= 32 ? mask : (mask & ((1u << n) - 1));
  return n - __builtin_popcount(low);
}

uint32_t item_user_class(EngineContext* ctx, int depth) {
  uint32_t d[3];
  if (!value_desc(ctx, depth, d) || d[0] != kKindContainer) return 0;
  return (d[2] == kContList || d[2] == kContStruct || d[2] == kContCell) ? 0 : d[2];
}

uint32_t item_payload_subtype(EngineContext* ctx, int depth) {
  uint32_t d[3];
  if (!value_desc(ctx, depth, d) || d[0] != kKindPayload) return 0;
  return d[2];
}

int overload_try(EngineContext* ctx, int status, const uint16_t* insn, int length, OverloadAction* action) {
  *action = OverloadAction::kReport;
  MethodPlan p;
  if (!plan_method(ctx, insn, length, &p)) return status;
  const int object = find_object(ctx, p);
  if (object >= 0) {
    const uint32_t cls = item_user_class(ctx, object);
    if (inner_assignment_step(ctx, insn, p)) return refuse_inner_assignment(ctx, cls);
    return user_class_method(ctx, insn, p, cls, action);
  }

  // No object of a user class: the first input with a payload decides.
  uint32_t t = 0;
  const int first = p.object >= 0 ? p.object : p.n - 1;
  const int last = p.object >= 0 ? p.object : 0;
  for (int d = first; d >= last && t == 0; --d) t = item_payload_subtype(ctx, d);
  if (t == kPayNumeric || t == kPayChar || t == kPayLogical) {
    // A built-in that raised its own report of the failure has judged its
    // operands as they are: they are not converted behind its back.
    if (p.index || p.n < 1 || err_pending_code(ctx) == status) return status;
    int changed = 0;
    const int converted = stk_convert_to_double(ctx, ~(p.n - 1), 0, &changed);
    if (converted != kOk && converted != kWrongType) return converted;
    if (changed) *action = OverloadAction::kRetry;
    return changed ? kOk : status;
  }
  if (t >= kPayFirstClass) {
    const int r = library_class_method(ctx, insn, p, t, action);
    return r == -1 ? status : r;
  }
  return status;
}
