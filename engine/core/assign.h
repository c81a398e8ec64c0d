// Variables and assignment: the instructions that read, store, clear,
// increment and link local variables (86, 88, 90, 95-97), references into
// variables for nested assignment (98, 99, 101, 106-108, 110), assignment and
// deletion through parenthesis subscripts (111), the built-ins clear, subsref
// and subsasgn, and the argument preparation of object methods.
//
// Slot k always means slot k of the current workspace (the innermost frame
// with locals, else the base frame). A nested assignment such as
// «s.a{3}(2) = v» compiles to: push v; 107 s; 98 a; push 3; 101 1; push 2;
// 111 1 0. The reference pushed by 107 is stepped down into the value, which
// is created or grown on the way, and 110 or 111 writes where it points; the
// variable's heap block is edited in place, never copied as a whole.
//
// Handlers that fail with 35, 37, 38, 39, 40 or 44 leave the stacks as they
// were, so the interpreter can hand the instruction to an object's method.
// Errors about a variable are raised with its name (err_raise_code).
//
// Dispatch (operands as the instruction carries them; fid = the running
// frame's function id, word 9; mc = its method class, word 10):
//   86 {k, p}     var_link_global(k, p ? fid : -1)   (404 in a restricted frame first)
//   87 {nargin}   bi_clear(nargin)
//   88 {k}        var_push_local(k)                  (120 -> 123 for an input argument)
//   89            bi_subsref()
//   90 {k}        var_store_local(k)
//   91            bi_subsasgn()
//   95, 96 {k}    var_local_add_constant(k, +1.0 / -1.0)
//   97 {k}        var_clear_local(k)
//   98 {sym}      op_ref_step(sym, mc)
//   99            op_ref_step_dynfield(mc)
//   100 {n, m}    index_extract(n, m, call kind, fid)  (indexing.h)
//   101 {n}       op_ref_step_element(n)
//   102, 103 {d, i, c}  op_index_end(d, i, c, 0 / 1)   (indexing.h)
//   104, 105 {d, i, c}  op_index_matrixrow(d, i, c, 1 / 0)
//   106, 107 {k}  var_push_ref(k, 0 / 1)
//   108           ref_deref_top()
//   109 {n, m}    op_index_get(fid, n, m, call kind)   (indexing.h)
//   110           op_ref_assign()
//   111 {n, m}    op_index_set(n, m)
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// --- Local variables -------------------------------------------------------------

// 88: pushes a copy of slot k's value. 120 when undefined (the interpreter
// turns it into 123 for an input argument), 2 or 4 when a stack is full.
int var_push_local(EngineContext* ctx, int32_t k);

// 90: pops the top item into slot k (through a global link). The slot's block
// is reused when the size matches; otherwise the new block is allocated before
// the old one is freed, so a failed allocation (5) leaves the variable and the
// stack as they were. A no-value item is only popped; a reference is stored
// as the value it designates.
int var_store_local(EngineContext* ctx, int32_t k);

// Fast forms of a load of slot `from` followed by a store into slot `to`
// («to = from» of an array): the value goes block to block without passing
// through the stack. With from_dies set (the caller has proved that slot
// `from` is never read again: its frame returns next) the block itself moves
// and `from` becomes undefined. False, with nothing changed, whenever the
// two instructions could behave otherwise (an undefined or global source, a
// value the stack could not hold, a full heap); the instructions then run.
bool var_try_copy_local(EngineContext* ctx, int32_t from, int32_t to, bool from_dies);

// A value written where a store into slot k would leave it, without
// passing through the stack. var_store_block gives the block: the slot's
// own when it holds exactly `words` words (header included) and is no lent
// argument, else a fresh one; 5 when the heap has no room (nothing changed),
// 12 for a slot that is not there. Once the block holds the value's data,
// var_store_finish writes its header h and makes it the slot's value (the
// old one drops as a store drops it); var_store_abandon gives back a block
// that var_store_block allocated when the value is not stored after all.
int var_store_block(EngineContext* ctx, int32_t k, int64_t words, int32_t* block);
void var_store_finish(EngineContext* ctx, int32_t k, int32_t block, const uint32_t* h);
void var_store_abandon(EngineContext* ctx, int32_t k, int32_t block);

// Fast form of «load_local k; ret_function» when the caller's next
// instruction is store_local j: the callee's block for slot k becomes the
// value of the caller's slot j, its frame is popped and the caller's
// position moves past the store. False, with nothing changed, when the
// frame, the value or the caller's instruction do not allow it.
bool var_try_return_local(EngineContext* ctx, int32_t k);

// 97: frees slot k's value and marks it undefined; a linked global or
// persistent value is freed as well (the entry then has no value).
int var_clear_local(EngineContext* ctx, int32_t k);

// 95 (c = 1) and 96 (c = -1): adds c in place to the real parts of the double
// matrix in slot k. 120 when undefined, 35 for another value.
int var_local_add_constant(EngineContext* ctx, int32_t k, double c);

// 86: links slot k to the global (owner -1) or persistent (owner = the
// function id) variable of the slot's name, whose function-table entry the
// compiler created (12 when missing, or for k past the workspace's slots).
// An entry without a value gets the empty matrix. The restricted-frame test
// (404) is the interpreter's.
int var_link_global(EngineContext* ctx, int32_t k, int32_t owner);

// The size word of the container in slot k; 0 when it holds none.
uint32_t var_local_container_size(EngineContext* ctx, int32_t k);

// --- References ----------------------------------------------------------------------

// 106 (assign_flag 0) and 107 (1): pushes a reference to slot k's value. An
// undefined variable gives 120, or with the flag becomes an empty list marked
// as created.
int var_push_ref(EngineContext* ctx, int32_t k, int assign_flag);

// 108: replaces a reference on top by a copy of its value (3 when the data
// stack is full); any other item stays.
int ref_deref_top(EngineContext* ctx);

// 98: field step into field `symbol` of the reference (or value) on top.
// method_class: frame word 10 of the running frame (the class whose method
// runs, 0 outside methods). A missing field is created in an assignment; a
// created empty element becomes a struct.
int op_ref_step(EngineContext* ctx, int32_t symbol, int32_t method_class);

// 99: as 98 with the field named by the string on top (interned, at most 32
// characters), which is removed.
int op_ref_step_dynfield(EngineContext* ctx, int32_t method_class);

// 101: brace step with n subscripts above the reference (or a list or cell
// value). An assignment grows the list or cell to reach the element.
int op_ref_step_element(EngineContext* ctx, int n);

// 110: the reference on top, the value below it: the value replaces the
// referenced element; both items are dropped.
int op_ref_assign(EngineContext* ctx);

// 111: the right-hand side, the reference, then the subscripts that are not
// colons. Assigns the selected elements, grows the array, list or cell as
// needed, or deletes the selected elements when the right-hand side is empty.
// All three kinds of item are consumed.
int op_index_set(EngineContext* ctx, int n, uint32_t colon_mask);

// --- Built-ins ------------------------------------------------------------------------

// 87: clear with nargin names (none: every variable of the workspace; the
// single name "-f": the code of every user function, refused with 400 while
// compiled code runs or is to be returned to: inside a function, under a
// frame that returns into code-area code, or with engine tasks; a command
// line's block on the data stack does not count). Unknown names are ignored;
// the names are removed.
int bi_clear(EngineContext* ctx, int nargin);

// 89: subsref(value, s) and 91: subsasgn(value, s, rhs), s a struct with the
// fields "type" (".", "()" or "{}", else 108) and "subs". Both run at once on
// the stack: the assignment works on a copy of the value held in a temporary
// block, the result replaces the arguments.
int bi_subsref(EngineContext* ctx);
int bi_subsasgn(EngineContext* ctx);

// Argument preparation for the "subsref" and "subsasgn" methods of objects,
// for a failing instruction `opcode` with operand words op1 and op2:
//   98 {symbol}: "." with the field name; 99: "." with the string on top;
//   100 and 109 {n, mask}: "()" with the subscripts and ":" at each colon;
//   101 {n}: "{}" with the subscripts; 111 {n, mask}: "()" as 100.
// subsref: [object or reference, subscripts...] -> [object, s].
// subsasgn (111, or 98/99/101 followed by 110):
//   [rhs, reference, subscripts...] -> [reference, object, s, rhs]
// so that a call of the method with 3 inputs, a swap and 110 store its result.
// 40 for any other opcode.
int overload_subsref_struct(EngineContext* ctx, int opcode, int32_t op1, int32_t op2);
int overload_subsasgn_struct(EngineContext* ctx, int opcode, int32_t op1, int32_t op2);

// 102-105 on an object: pushes a copy of the indexed item (depth counted
// before the push; a reference resolved to its value), then position and
// count as real scalars.
int overload_push_end_args(EngineContext* ctx, int depth, int position, int count);
