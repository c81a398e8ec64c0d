// The twiddle tables of the FFT, kept for the whole process: each is built
// once per length and direction and then shared, read-only, by every transform
// on every thread. The cache is bounded; a table that does not fit is refused
// and the caller computes its own into its work array.
#pragma once

#include <cstdint>

// A table held by a caller: re/im have `count` doubles each. For a power of
// two len (the radix-2 stages) count is len: w(j), j < len/2, then from
// len/2 on the twiddles of every shorter stage gathered in order (see
// fft_twiddles_gather_stages). For any other len (the odd-factor
// combinations) count is len: w(m), m < len. Each w(m) = exp(-+2 pi i m/len)
// is computed from its own angle, as the kernels did before there was a cache,
// so cached and computed tables hold the same bits.
struct FftTwiddles {
  const double* re;
  const double* im;
  int64_t count;
  int32_t slot;  // the cache entry held, or -1 for none
};

// Takes the table of len and direction from the cache, building it on first
// use. False (out->slot -1) when it is above the cache's bound or memory is
// short: nothing is held then. A held table stays valid until released.
bool fft_twiddles_acquire(int64_t len, bool inverse, FftTwiddles* out);
void fft_twiddles_release(FftTwiddles* t);

// Fills w(m) = exp(-+2 pi i m/len) for m < count into re/im.
void fft_twiddles_compute(double* re, double* im, int64_t len, int64_t count, bool inverse);
// For a power of two n: gathers from the table w_n(j), j < n/2, the twiddles
// of the stages len = 2 .. n/2: those of stage len land at
// stages[len/2 - 1 ...], w_n(j n/len) for j < len/2 (n/2 - 1 doubles in all),
// so that every stage reads its twiddles in order instead of n/len apart.
void fft_twiddles_gather_stages(const double* re, const double* im, int64_t n, double* stages_re,
                                double* stages_im);

// Bytes of tables the cache holds now, and its bound (for tests).
int64_t fft_twiddles_cached_bytes();
int64_t fft_twiddles_bound_bytes();
