// Prototypes of the LAPACK and BLAS drivers the "!lapack" rows call, as the
// system's Fortran library exports them: 32-bit INTEGERs, every argument by
// address, complex arrays as interleaved doubles, and gfortran's hidden
// length argument after the others for every CHARACTER argument.
#pragma once

#include <cstddef>
#include <cstdint>

using la_int = int32_t;
using la_len = size_t;
using la_select = void*;  // selection callbacks are never passed

extern "C" {
// LAPACK's and BLAS's error handler: defined by us (lapack_xerbla.cpp).
void xerbla_(const char* name, const la_int* info, la_len name_len);
void dgetrf_(const la_int* m, const la_int* n, double* a, const la_int* lda, la_int* ipiv, la_int* info);
void zgetrf_(const la_int* m, const la_int* n, double* a, const la_int* lda, la_int* ipiv, la_int* info);
void dgesv_(const la_int* n, const la_int* nrhs, double* a, const la_int* lda, la_int* ipiv, double* b,
            const la_int* ldb, la_int* info);
void zgesv_(const la_int* n, const la_int* nrhs, double* a, const la_int* lda, la_int* ipiv, double* b,
            const la_int* ldb, la_int* info);
void dgelss_(const la_int* m, const la_int* n, const la_int* nrhs, double* a, const la_int* lda, double* b,
             const la_int* ldb, double* s, const double* rcond, la_int* rank, double* work,
             const la_int* lwork, la_int* info);
void zgelss_(const la_int* m, const la_int* n, const la_int* nrhs, double* a, const la_int* lda, double* b,
             const la_int* ldb, double* s, const double* rcond, la_int* rank, double* work,
             const la_int* lwork, double* rwork, la_int* info);
void dgesvd_(const char* jobu, const char* jobvt, const la_int* m, const la_int* n, double* a,
             const la_int* lda, double* s, double* u, const la_int* ldu, double* vt, const la_int* ldvt,
             double* work, const la_int* lwork, la_int* info, la_len, la_len);
void zgesvd_(const char* jobu, const char* jobvt, const la_int* m, const la_int* n, double* a,
             const la_int* lda, double* s, double* u, const la_int* ldu, double* vt, const la_int* ldvt,
             double* work, const la_int* lwork, double* rwork, la_int* info, la_len, la_len);
// The divide-and-conquer SVD (JOBZ "S" or "A"), for the rows that want U and V.
void dgesdd_(const char* jobz, const la_int* m, const la_int* n, double* a, const la_int* lda, double* s,
             double* u, const la_int* ldu, double* vt, const la_int* ldvt, double* work, const la_int* lwork,
             la_int* iwork, la_int* info, la_len);
void zgesdd_(const char* jobz, const la_int* m, const la_int* n, double* a, const la_int* lda, double* s,
             double* u, const la_int* ldu, double* vt, const la_int* ldvt, double* work, const la_int* lwork,
             double* rwork, la_int* iwork, la_int* info, la_len);
void dgeev_(const char* jobvl, const char* jobvr, const la_int* n, double* a, const la_int* lda,
            double* wr, double* wi, double* vl, const la_int* ldvl, double* vr, const la_int* ldvr,
            double* work, const la_int* lwork, la_int* info, la_len, la_len);
void zgeev_(const char* jobvl, const char* jobvr, const la_int* n, double* a, const la_int* lda, double* w,
            double* vl, const la_int* ldvl, double* vr, const la_int* ldvr, double* work,
            const la_int* lwork, double* rwork, la_int* info, la_len, la_len);
void dgegv_(const char* jobvl, const char* jobvr, const la_int* n, double* a, const la_int* lda, double* b,
            const la_int* ldb, double* alphar, double* alphai, double* beta, double* vl,
            const la_int* ldvl, double* vr, const la_int* ldvr, double* work, const la_int* lwork,
            la_int* info, la_len, la_len);
void zgegv_(const char* jobvl, const char* jobvr, const la_int* n, double* a, const la_int* lda, double* b,
            const la_int* ldb, double* alpha, double* beta, double* vl, const la_int* ldvl, double* vr,
            const la_int* ldvr, double* work, const la_int* lwork, double* rwork, la_int* info, la_len,
            la_len);
void dgees_(const char* jobvs, const char* sort, la_select select, const la_int* n, double* a,
            const la_int* lda, la_int* sdim, double* wr, double* wi, double* vs, const la_int* ldvs,
            double* work, const la_int* lwork, la_int* bwork, la_int* info, la_len, la_len);
void zgees_(const char* jobvs, const char* sort, la_select select, const la_int* n, double* a,
            const la_int* lda, la_int* sdim, double* w, double* vs, const la_int* ldvs, double* work,
            const la_int* lwork, double* rwork, la_int* bwork, la_int* info, la_len, la_len);
void dgehrd_(const la_int* n, const la_int* ilo, const la_int* ihi, double* a, const la_int* lda, double* tau,
             double* work, const la_int* lwork, la_int* info);
void zgehrd_(const la_int* n, const la_int* ilo, const la_int* ihi, double* a, const la_int* lda, double* tau,
             double* work, const la_int* lwork, la_int* info);
void dorghr_(const la_int* n, const la_int* ilo, const la_int* ihi, double* a, const la_int* lda,
             const double* tau, double* work, const la_int* lwork, la_int* info);
void zunghr_(const la_int* n, const la_int* ilo, const la_int* ihi, double* a, const la_int* lda,
             const double* tau, double* work, const la_int* lwork, la_int* info);
void dpotrf_(const char* uplo, const la_int* n, double* a, const la_int* lda, la_int* info, la_len);
void zpotrf_(const char* uplo, const la_int* n, double* a, const la_int* lda, la_int* info, la_len);
void dgebal_(const char* job, const la_int* n, double* a, const la_int* lda, la_int* ilo, la_int* ihi,
             double* scale, la_int* info, la_len);
void zgebal_(const char* job, const la_int* n, double* a, const la_int* lda, la_int* ilo, la_int* ihi,
             double* scale, la_int* info, la_len);
void dgeqrf_(const la_int* m, const la_int* n, double* a, const la_int* lda, double* tau, double* work,
             const la_int* lwork, la_int* info);
void zgeqrf_(const la_int* m, const la_int* n, double* a, const la_int* lda, double* tau, double* work,
             const la_int* lwork, la_int* info);
void dgeqpf_(const la_int* m, const la_int* n, double* a, const la_int* lda, la_int* jpvt, double* tau,
             double* work, la_int* info);
void zgeqpf_(const la_int* m, const la_int* n, double* a, const la_int* lda, la_int* jpvt, double* tau,
             double* work, double* rwork, la_int* info);
void dorgqr_(const la_int* m, const la_int* n, const la_int* k, double* a, const la_int* lda,
             const double* tau, double* work, const la_int* lwork, la_int* info);
void zung2r_(const la_int* m, const la_int* n, const la_int* k, double* a, const la_int* lda,
             const double* tau, double* work, la_int* info);
void dgges_(const char* jobvsl, const char* jobvsr, const char* sort, la_select selctg, const la_int* n,
            double* a, const la_int* lda, double* b, const la_int* ldb, la_int* sdim, double* alphar,
            double* alphai, double* beta, double* vsl, const la_int* ldvsl, double* vsr,
            const la_int* ldvsr, double* work, const la_int* lwork, la_int* bwork, la_int* info, la_len,
            la_len, la_len);
void zgges_(const char* jobvsl, const char* jobvsr, const char* sort, la_select selctg, const la_int* n,
            double* a, const la_int* lda, double* b, const la_int* ldb, la_int* sdim, double* alpha,
            double* beta, double* vsl, const la_int* ldvsl, double* vsr, const la_int* ldvsr,
            double* work, const la_int* lwork, double* rwork, la_int* bwork, la_int* info, la_len,
            la_len, la_len);
double dlange_(const char* norm, const la_int* m, const la_int* n, const double* a, const la_int* lda,
               double* work, la_len);
double zlange_(const char* norm, const la_int* m, const la_int* n, const double* a, const la_int* lda,
               double* work, la_len);
void dgecon_(const char* norm, const la_int* n, const double* a, const la_int* lda, const double* anorm,
             double* rcond, double* work, la_int* iwork, la_int* info, la_len);
void zgecon_(const char* norm, const la_int* n, const double* a, const la_int* lda, const double* anorm,
             double* rcond, double* work, double* rwork, la_int* info, la_len);
void zgemm_(const char* transa, const char* transb, const la_int* m, const la_int* n, const la_int* k,
            const double* alpha, const double* a, const la_int* lda, const double* b, const la_int* ldb,
            const double* beta, double* c, const la_int* ldc, la_len, la_len);
}
