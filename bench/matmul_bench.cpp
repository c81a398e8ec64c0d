// Times the real matrix product kernel against OpenBLAS dgemm on one thread,
// side by side on the same operands, and reports both and their ratio. The
// product kernel must also agree bit for bit with the plain ordered sum.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "bench/timing.h"
#include "numlib/matmul.h"

extern "C" {
void dgemm_(const char* ta, const char* tb, const int* m, const int* n, const int* k,
            const double* alpha, const double* a, const int* lda, const double* b,
            const int* ldb, const double* beta, double* c, const int* ldc);
void openblas_set_num_threads(int n);
char* openblas_get_corename(void);
}

namespace {


// Row-major C = A B is column-major C' = B' A'.
void blas_product(int m, int k, int n, const double* a, const double* b, double* c) {
  const double one = 1.0, zero = 0.0;
  dgemm_("N", "N", &n, &m, &k, &one, b, &n, a, &k, &zero, c, &n);
}

using bench::best_seconds;

bool matches_ordered_sum(int m, int k, int n, const double* a, const double* b,
                         const double* c) {
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) {
      double s = 0.0;
      for (int l = 0; l < k; ++l) s = s + a[size_t(i) * k + l] * b[size_t(l) * n + j];
      if (std::memcmp(&s, &c[size_t(i) * n + j], sizeof s) != 0) return false;
    }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  openblas_set_num_threads(1);
  int reps = argc > 1 ? std::atoi(argv[1]) : 20;
  const int sizes[] = {500, 256, 1000};
  std::mt19937_64 rng(12345);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  if (argc > 1 && std::strcmp(argv[1], "--corename") == 0) {
    std::printf("%s\n", openblas_get_corename());
    return 0;
  }
  std::printf("matmul_real kernels: %s; OpenBLAS core: %s, 1 thread\n",
              matmul_best_isa() == MatmulIsa::kAvx512 ? "avx512"
              : matmul_best_isa() == MatmulIsa::kAvx  ? "avx"
                                                      : "sse2",
              openblas_get_corename());
  double ratio500 = 0;
  for (int sz : sizes) {
    const int m = sz, k = sz, n = sz;
    std::vector<double> a(size_t(m) * k), b(size_t(k) * n), c(size_t(m) * n), cb(c.size());
    for (auto& x : a) x = dist(rng);
    for (auto& x : b) x = dist(rng);
    int r = sz >= 1000 ? (reps + 3) / 4 : reps;
    // Interleave so that clock and cache conditions are the same for both.
    double t_ours = 1e30, t_blas = 1e30;
    for (int round = 0; round < 3; ++round) {
      t_blas = std::fmin(t_blas, best_seconds([&] { blas_product(m, k, n, a.data(), b.data(), cb.data()); }, r));
      t_ours = std::fmin(t_ours, best_seconds([&] { matmul_real(m, k, n, a.data(), b.data(), c.data()); }, r));
    }
    const double flops = 2.0 * m * k * n;
    bool exact = sz > 500 || matches_ordered_sum(m, k, n, a.data(), b.data(), c.data());
    std::printf("%4d x %-4d  matmul_real %8.3f ms (%6.2f GFLOP/s)  dgemm %8.3f ms (%6.2f GFLOP/s)"
                "  ratio %.2f%s\n",
                sz, sz, t_ours * 1e3, flops / t_ours * 1e-9, t_blas * 1e3, flops / t_blas * 1e-9,
                t_ours / t_blas, exact ? "" : "  MISMATCH");
    if (sz == 500) ratio500 = t_ours / t_blas;
    if (!exact) return 1;
  }
  // The narrower variants, for machines without the widest vectors.
  {
    const int sz = 500;
    std::vector<double> a(size_t(sz) * sz), b(a.size()), c(a.size());
    for (auto& x : a) x = dist(rng);
    for (auto& x : b) x = dist(rng);
    const char* names[] = {"sse2", "avx", "avx512"};
    for (MatmulIsa isa : {MatmulIsa::kSse2, MatmulIsa::kAvx, MatmulIsa::kAvx512}) {
      if (!matmul_isa_supported(isa)) continue;
      double t = best_seconds([&] { matmul_real_isa(isa, sz, sz, sz, a.data(), b.data(), c.data()); }, reps);
      std::printf("  variant %-6s 500 x 500 real %8.3f ms\n", names[int(isa)], t * 1e3);
    }
    std::vector<double> ac(2 * a.size()), bc(2 * b.size()), cc(2 * c.size());
    for (auto& x : ac) x = dist(rng);
    for (auto& x : bc) x = dist(rng);
    double t = best_seconds([&] { matmul_complex(sz, sz, sz, ac.data(), bc.data(), cc.data()); }, reps);
    std::printf("  matmul_complex 500 x 500 %8.3f ms\n", t * 1e3);
  }
  std::printf("500 x 500 ratio %.2f (target at most 2.50)\n", ratio500);
  return 0;
}
