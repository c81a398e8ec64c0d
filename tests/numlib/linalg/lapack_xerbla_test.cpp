// LAPACK's error handler is the library's own (numlib/linalg/lapack_xerbla):
// an argument refused by a driver, by a routine under it or by BLAS leaves
// no text on standard output or error and comes back as 107 through
// lapack_status. The note can only be there when the call reached our
// handler, so these tests also prove that it links ahead of the installed
// library's (reference LAPACK or OpenBLAS alike).
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "engine/core/status.h"
#include "numlib/linalg/lapack_frame.h"

namespace {

struct Refusal {
  bool seen = false;
  std::string routine;
  la_int argument = 0;
};

Refusal last_refusal() {
  Refusal r;
  char name[8] = {};
  r.seen = lapack_pending_refusal(name, sizeof name, &r.argument);
  r.routine = name;
  return r;
}

// Runs f with standard output and error captured; both must stay empty.
template <class F>
void silently(F f) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  f();
  std::fflush(nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace

TEST(LapackXerbla, RefusalsBecomeStatusesNotText) {
  ASSERT_EQ(lapack_status(0), kOk);  // nothing pending from elsewhere
  struct Case {
    const char* routine;
    la_int argument;
    void (*call)(la_int* info);
  };
  const Case cases[] = {
      // The driver's own check: M < 0.
      {"DGETRF", 1,
       [](la_int* info) {
         la_int m = -1, n = 2, lda = 1, ipiv[2];
         double a[4] = {};
         dgetrf_(&m, &n, a, &lda, ipiv, info);
       }},
      // A routine under the driver refuses a NaN while the driver goes on:
      // the balancing step of the eigenvalue driver, INFO of its own.
      {"DGEBAL", 3,
       [](la_int* info) {
         la_int n = 2, one = 1, lwork = 64;
         double a[4] = {NAN, 2, 1, 1}, wr[2], wi[2], work[64], v[1];
         dgeev_("N", "N", &n, a, &n, wr, wi, v, &one, v, &one, work, &lwork, info, 1, 1);
       }},
      // BLAS: an unknown TRANSA.
      {"ZGEMM", 1,
       [](la_int* info) {
         la_int n = 1;
         const double one[2] = {1, 0}, a[2] = {1, 0};
         double c[2] = {};
         zgemm_("X", "N", &n, &n, &n, one, a, &n, a, &n, one, c, &n, 1, 1);
         *info = 0;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.routine);
    la_int info = 0;
    silently([&] { c.call(&info); });
    const Refusal r = last_refusal();
    ASSERT_TRUE(r.seen);
    // Trailing blanks of the Fortran name aside.
    EXPECT_EQ(r.routine.substr(0, std::string(c.routine).size()), c.routine);
    EXPECT_EQ(r.argument, c.argument);
    EXPECT_EQ(lapack_status(info), kBadArgument);
    EXPECT_FALSE(last_refusal().seen);  // read once
    EXPECT_EQ(lapack_status(0), kOk);
  }
  // A negative INFO alone (no note) is a refusal too; a positive one is the row's.
  EXPECT_EQ(lapack_status(-2), kBadArgument);
  EXPECT_EQ(lapack_status(3), kOk);
}
