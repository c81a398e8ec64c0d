// Size, construction and constants: the intrinsics that ask an array for its
// shape, build arrays from size arguments, give the numeric constants, build
// complex values and magic squares, join lists, and push typed integer
// literals. Each replaces its arguments on the value stack by its results and
// returns a status; a failing call leaves its arguments as they were.
#pragma once

#include <cstdint>

#include "engine/core/context.h"

// Selectors.
enum : int {
  kConstInf = 'i',      // inf, Inf
  kConstNaN = 'n',      // nan, NaN
  kConstRealmin = 'm',
  kConstRealmax = 'M',
  kCtorZeros = 'z',
  kCtorOnes = 'o',
  kCtorEye = 'e',
  kCtorRand = 'r',
  kCtorRandn = 'n',
  kCtorCell = 'c',
  kLogicalTrue = 't',
  kLogicalFalse = 'f',
  kShapeLength = 0,
  kShapeNumel = 1,
};

// inf, nan, realmin, realmax (opcodes 6-9): the constant as a double scalar,
// or an array of it from size arguments and an optional last "single" or
// "double" (kUnknownOption for another text). kIllegalError for an unknown selector.
int bi_inf_nan_realmin_realmax(EngineContext* ctx, int selector, int nargin);

// eps (opcode 10): 2^-52, eps("single"), or the spacing of the doubles (or
// singles) in the binade of each element, with the element's sign.
int bi_eps(EngineContext* ctx, int nargin);

// true, false (opcodes 11, 12): logical arrays from size arguments.
int bi_true_false(EngineContext* ctx, int selector, int nargin);

// zeros, ones, eye, rand, randn, cell (opcodes 77-81, 68): arrays from size
// arguments; zeros, ones and eye take a last class name ("int8" ... "uint64",
// "double", "single"); rand and randn with a string first argument read or set
// their generator's state. A size at most 0 gives the plain 0x0 (an empty cell
// for cell).
int bi_array_ctor(EngineContext* ctx, int selector, int nargin);

// Shape queries (opcodes 69-72, 270).
int bi_ndims(EngineContext* ctx);
int bi_size(EngineContext* ctx, int nargin, int nargout);
int bi_length_numel(EngineContext* ctx, int which);  // kShapeLength or kShapeNumel
int bi_isempty(EngineContext* ctx);

// join (opcode 67): the lists and cells among the arguments joined into one
// list without copying an element; op_66_join: instruction 66 with operand n,
// the arguments before an x{:} (n - 1 items) joined in front of its list (on top).
int bi_join(EngineContext* ctx, int nargin);
int op_66_join(EngineContext* ctx, int n);

// complex (119), real (120), imag (121), magic (82).
int bi_complex(EngineContext* ctx);
int bi_real(EngineContext* ctx);
int bi_imag(EngineContext* ctx);
int bi_magic(EngineContext* ctx);

// The typed integer literals, opcodes 19-24, 27 and 28 with their one code
// word (and 25, 26 with their 32-bit value): a 1x1 integer array.
int op_typed_scalar(EngineContext* ctx, int opcode, int32_t value);
