// Times the eigenvalues of a random real matrix (200 x 200 unless told) by
// the elimination/QR kernel, and the real Schur form with and without Q for
// comparison. With --write DIR it leaves the matrix and our eigenvalues there
// so that bench/eig_bench.sh can time and check numpy on the same matrix.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/timing.h"
#include "numlib/eigen.h"
#include "numlib/schur.h"

namespace {


using bench::best_seconds;

bool write_numbers(const std::string& path, const std::vector<double>& v, int per_line) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return false;
  for (size_t k = 0; k < v.size(); ++k)
    std::fprintf(f, "%.17g%c", v[k], (k + 1) % size_t(per_line) == 0 ? '\n' : ' ');
  return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  int reps = 10, n = 200;
  const char* out_dir = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--write") == 0 && i + 1 < argc)
      out_dir = argv[++i];
    else if (std::strcmp(argv[i], "--n") == 0 && i + 1 < argc)
      n = std::atoi(argv[++i]);
    else
      reps = std::atoi(argv[i]);
  }
  if (n < 1 || reps < 1) {
    std::fprintf(stderr, "usage: eig_bench [--n N] [--write DIR] [repetitions]\n");
    return 2;
  }
  std::mt19937_64 rng(2024);
  std::normal_distribution<double> dist(0.0, 1.0);
  const size_t nn = size_t(n) * n;
  std::vector<double> a(nn), work(nn), q(nn), wr(n), wi(n), scratch(2 * size_t(n));
  std::vector<int32_t> piv(n);
  for (double& x : a) x = dist(rng);

  bool ok = true;
  const double t_eig = best_seconds([&] { work = a; },
                                    [&] { ok &= numk_eig_real(work.data(), n, piv.data(),
                                                              wr.data(), wi.data()); },
                                    reps);
  std::vector<double> our_wr = wr, our_wi = wi;
  const double t_schur = best_seconds([&] { work = a; },
                                      [&] { ok &= la_schur_real(work.data(), n, nullptr, nullptr,
                                                                scratch.data()); },
                                      reps);
  const double t_schur_q = best_seconds([&] { work = a; },
                                        [&] { ok &= la_schur_real(work.data(), n, q.data(),
                                                                  nullptr, scratch.data()); },
                                        reps);
  std::printf("%d x %d random matrix, best of %d\n", n, n, reps);
  std::printf("  numk_eig_real (eigenvalues)   %9.3f ms\n", t_eig * 1e3);
  std::printf("  la_schur_real (T only)        %9.3f ms\n", t_schur * 1e3);
  std::printf("  la_schur_real (T and Q)       %9.3f ms\n", t_schur_q * 1e3);
  if (!ok) {
    std::printf("  an iteration did not converge\n");
    return 1;
  }
  if (out_dir) {
    std::vector<double> eig(2 * size_t(n));
    for (int k = 0; k < n; ++k) {
      eig[2 * size_t(k)] = our_wr[k];
      eig[2 * size_t(k) + 1] = our_wi[k];
    }
    const std::string dir = out_dir;
    if (!write_numbers(dir + "/matrix.txt", a, n) || !write_numbers(dir + "/eig.txt", eig, 2) ||
        !write_numbers(dir + "/ours_ms.txt", {t_eig * 1e3}, 1)) {
      std::fprintf(stderr, "eig_bench: cannot write to %s\n", out_dir);
      return 1;
    }
  }
  return 0;
}
