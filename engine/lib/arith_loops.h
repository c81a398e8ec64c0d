// The elementwise loops behind arith_elementwise_binary, one tight loop per
// operator and class (the operator is chosen once, outside the loop). Each
// operand is a data pointer and an `array` flag: false means one element that
// is expanded over the whole result. Results may be written over an operand.
// Internal to the engine base library.
#pragma once

#include <cstdint>

#include "engine/lib/zip.h"

// Integer classes: op is one of + - * / % o (a divide-left is exchanged
// before); elem_type the common element type (1..8, 129..136).
void arith_int_loop(int op, uint32_t elem_type, void* out, LoopArg a, LoopArg b, int64_t n);

// Real double or single operands, op one of + - * / % o r.
void arith_real_loop_double(int op, double* out, LoopArg a, LoopArg b, int64_t n);
void arith_real_loop_single(int op, float* out, LoopArg a, LoopArg b, int64_t n);

// Real ^: true when some element gives a complex result (a negative base with
// a non-integral exponent), so the result must be pushed complex.
bool arith_real_power_is_complex_double(LoopArg a, LoopArg b, int64_t n);
bool arith_real_power_is_complex_single(LoopArg a, LoopArg b, int64_t n);
// out_im null: a real result (the caller checked that none is complex).
void arith_real_power_double(double* out_re, double* out_im, LoopArg a, LoopArg b, int64_t n);
void arith_real_power_single(float* out_re, float* out_im, LoopArg a, LoopArg b, int64_t n);

// At least one operand complex; op one of + - * / ^.
void arith_complex_loop_double(int op, double* out_re, double* out_im, LoopArg a, LoopArg b,
                               int64_t n);
void arith_complex_loop_single(int op, float* out_re, float* out_im, LoopArg a, LoopArg b,
                               int64_t n);
