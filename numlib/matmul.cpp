// The matrix product kernels: one blocked, vectorised driver built three times
// (SSE2, AVX, AVX-512) and chosen once at run time. Vectors run across the
// columns of C only, never across l, so every variant gives the bits of the
// plain triple loop; products and sums stay separate (no fused multiply-add:
// the build forbids contraction).
#include "numlib/matmul.h"

#include <cstddef>
#include <cstring>
#include <type_traits>

namespace {

using Idx = std::ptrdiff_t;

typedef double V2 __attribute__((vector_size(16)));
typedef double V4 __attribute__((vector_size(32)));
typedef double V8 __attribute__((vector_size(64)));

}  // namespace

// Vector types wider than the baseline are only used inside their own target
// regions; the warning about their calling convention does not apply there.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace isa_sse2 {
using VecW = V2;
constexpr int kW = 2;
constexpr int kMR = 4, kNV = 3;    // 12 accumulators of 16 registers
constexpr int kCMR = 2, kCNV = 2;  // 8 accumulators
constexpr Idx kKC = 128, kMC = 256, kNC = 1536;
#include "numlib/matmul_tiles.inc"
}  // namespace isa_sse2

#pragma GCC push_options
#pragma GCC target("avx")
namespace isa_avx {
using VecW = V4;
constexpr int kW = 4;
constexpr int kMR = 4, kNV = 3;
constexpr int kCMR = 2, kCNV = 2;
constexpr Idx kKC = 128, kMC = 256, kNC = 1536;
#include "numlib/matmul_tiles.inc"
}  // namespace isa_avx
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx512f")
namespace isa_avx512 {
using VecW = V8;
constexpr int kW = 8;
constexpr int kMR = 8, kNV = 3;    // 24 accumulators of 32 registers
constexpr int kCMR = 4, kCNV = 2;  // 16 accumulators
constexpr Idx kKC = 128, kMC = 256, kNC = 1536;
#include "numlib/matmul_tiles.inc"
}  // namespace isa_avx512
#pragma GCC pop_options

#pragma GCC diagnostic pop

namespace {

using ProductFn = void (*)(Idx, Idx, Idx, const double*, const double*, double*);

struct IsaKernels {
  ProductFn real;
  ProductFn cplx;
};

constexpr IsaKernels kKernels[] = {
    {isa_sse2::real_product, isa_sse2::complex_product},
    {isa_avx::real_product, isa_avx::complex_product},
    {isa_avx512::real_product, isa_avx512::complex_product},
};

const IsaKernels& kernels_for(MatmulIsa isa) { return kKernels[static_cast<int>(isa)]; }

// Resolved once; the cpu model is fixed for the life of the process.
const IsaKernels& best_kernels() {
  static const IsaKernels& k = kernels_for(matmul_best_isa());
  return k;
}

bool clear_for_empty_sum(Idx m, Idx k, Idx n, double* c, Idx blocks) {
  if (m < 1 || n < 1) return true;
  if (k < 1) {
    std::memset(c, 0, static_cast<size_t>(m * n * blocks) * sizeof(double));
    return true;
  }
  return false;
}

}  // namespace

bool matmul_isa_supported(MatmulIsa isa) {
  __builtin_cpu_init();
  switch (isa) {
    case MatmulIsa::kSse2: return true;
    case MatmulIsa::kAvx: return __builtin_cpu_supports("avx");
    case MatmulIsa::kAvx512: return __builtin_cpu_supports("avx512f");
  }
  return false;
}

MatmulIsa matmul_best_isa() {
  if (matmul_isa_supported(MatmulIsa::kAvx512)) return MatmulIsa::kAvx512;
  if (matmul_isa_supported(MatmulIsa::kAvx)) return MatmulIsa::kAvx;
  return MatmulIsa::kSse2;
}

void matmul_real(int32_t m, int32_t k, int32_t n, const double* a, const double* b, double* c) {
  if (clear_for_empty_sum(m, k, n, c, 1)) return;
  best_kernels().real(m, k, n, a, b, c);
}

void matmul_complex(int32_t m, int32_t k, int32_t n, const double* a, const double* b,
                    double* c) {
  if (clear_for_empty_sum(m, k, n, c, 2)) return;
  best_kernels().cplx(m, k, n, a, b, c);
}

void matmul_real_isa(MatmulIsa isa, int32_t m, int32_t k, int32_t n, const double* a,
                     const double* b, double* c) {
  if (clear_for_empty_sum(m, k, n, c, 1)) return;
  kernels_for(isa).real(m, k, n, a, b, c);
}

void matmul_complex_isa(MatmulIsa isa, int32_t m, int32_t k, int32_t n, const double* a,
                        const double* b, double* c) {
  if (clear_for_empty_sum(m, k, n, c, 2)) return;
  kernels_for(isa).cplx(m, k, n, a, b, c);
}
