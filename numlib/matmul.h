// Matrix product kernels shared by the product, division and power operators.
// Every element of C is one sum started at 0.0 and accumulated over l = 0, 1,
// ..., k-1 in that order, whatever the machine: results are bit-reproducible.
#pragma once

#include <cstdint>

// c (m x n) := a (m x k) * b (k x n), all row-major; c must not overlap a or b.
// Nothing happens when m or n is below 1; k below 1 gives zeros.
void matmul_real(int32_t m, int32_t k, int32_t n, const double* a, const double* b, double* c);

// The same for complex arrays, each holding all real parts then all imaginary
// parts. Per element: re += (ar br - ai bi), im += (ar bi + ai br), each term
// formed before it is added.
void matmul_complex(int32_t m, int32_t k, int32_t n, const double* a, const double* b,
                    double* c);

// Instruction sets the kernels are built for; matmul_real picks the widest the
// machine supports. The explicit forms exist so that tests and benchmarks can
// run every variant on one machine.
enum class MatmulIsa : int { kSse2 = 0, kAvx = 1, kAvx512 = 2 };

MatmulIsa matmul_best_isa();
bool matmul_isa_supported(MatmulIsa isa);
void matmul_real_isa(MatmulIsa isa, int32_t m, int32_t k, int32_t n, const double* a,
                     const double* b, double* c);
void matmul_complex_isa(MatmulIsa isa, int32_t m, int32_t k, int32_t n, const double* a,
                        const double* b, double* c);
