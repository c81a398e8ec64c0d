// The operators' view of a numeric operand on the value stack (double matrix,
// N-d double, single, integer, char or logical array), the shape rule of the
// elementwise operators and the common class of two operands. Internal to the
// engine base library; pointers stay valid until the next push or pop.
#pragma once

#include <cstdint>

#include "engine/core/context.h"
#include "engine/core/value_stack.h"

enum class NumKind : uint8_t { kNone, kDouble, kSingle, kInt };

struct NumOperand {
  NumKind kind = NumKind::kNone;
  bool cplx = false;
  bool plain = false;       // a kind 0/1 matrix (not a typed array)
  uint32_t type = 0;        // element type; 64/65 for a plain matrix
  uint32_t* desc = nullptr;
  int ndims = 2;
  const uint32_t* dims = nullptr;
  int64_t count = 0;
  void* re = nullptr;       // double*, float* or the integer elements
  void* im = nullptr;       // null unless complex
  bool scalar() const { return count == 1; }
};

// kind kNone for an item that is no numeric array (or no item at all).
NumOperand num_operand(EngineContext* ctx, int depth);
// The same for a value's descriptor words d and its data (a heap block's).
NumOperand num_operand_of(uint32_t* d, uint64_t* data);

// Two operands may be combined elementwise when either has exactly one
// element or both have the same dimensions.
bool shapes_agree(const NumOperand& a, const NumOperand& b);

// The two top items as numeric operands (a deeper, b on top) that may be
// combined elementwise: kWrongArgType when either is no numeric array, kIncompatibleSize when their
// shapes do not agree.
int elementwise_pair(EngineContext* ctx, NumOperand* a, NumOperand* b);

// The operand whose shape the result takes: the top one unless it is a
// scalar (the stack getters' rule).
inline const NumOperand& result_shape(const NumOperand& a, const NumOperand& b) {
  return b.count != 1 ? b : a;
}

// The class both operands are brought to: double, else single, else the
// widest integer (unsigned when an operand of that width is). int_type is the
// element type for kInt.
struct CommonClass {
  NumKind kind;
  uint32_t int_type;
};
CommonClass common_class(const NumOperand& a, const NumOperand& b);

// Converts the two top items (a deeper, b on top) to their common class when
// they are not both of it already, then reads them again. A conversion's kWrongType
// is reported as kWrongArgType so the interpreter can try the operands' methods.
// result_words is the room the caller's result takes after it: when the
// conversions and that result would not both fit, nothing is converted (a
// room status), so a failed operator never leaves its operands converted.
int promote_pair(EngineContext* ctx, NumOperand* a, NumOperand* b, const CommonClass& cc,
                 int64_t result_words);

// Upper bounds of the data words push_numeric_result and push_logical_result take.
int64_t numeric_result_words(const CommonClass& cc, bool cplx, const NumOperand& shape);
int64_t logical_result_words(const NumOperand& shape);

// Pushes an uninitialised result of the class with the shape of `shape`.
int push_numeric_result(EngineContext* ctx, const CommonClass& cc, bool cplx,
                        const NumOperand& shape, void** re, void** im);

// Pushes a logical array of the shape of `shape`.
int push_logical_result(EngineContext* ctx, const NumOperand& shape, uint8_t** out);

// True for a user or library object (a container of a class subtype or a
// library-class payload).
bool item_is_object(EngineContext* ctx, int depth);

// Calls f with a value of the C type of an integer element type (I8 ... U64),
// so one generic lambda serves every width; any other type calls nothing.
template <typename F>
inline void visit_int_type(uint32_t type, F&& f) {
  switch (type) {
    case kElemI8: f(int8_t{}); break;
    case kElemU8: f(uint8_t{}); break;
    case kElemI16: f(int16_t{}); break;
    case kElemU16: f(uint16_t{}); break;
    case kElemI32: f(int32_t{}); break;
    case kElemU32: f(uint32_t{}); break;
    case kElemI64: f(int64_t{}); break;
    case kElemU64: f(uint64_t{}); break;
    default: break;
  }
}
