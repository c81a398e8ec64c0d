// Discrete Fourier transforms of any length over batches of strided vectors:
// a mixed-radix driver (decimation in time by 3, 5, 7, 11, ... then a power of
// two) and the radix-2 kernel under it. Twiddle tables come from a process-wide
// cache (numlib/fft_twiddles.h), or from the caller's work array when it
// refuses; the recursion frames live there too, and its size is checked first.
// Interleaved batches take a small scratch when memory allows; results are the
// same bits on every path.
#pragma once

#include <cstdint>

// Results of numk_fft.
enum : int {
  kFftDone = 0,
  kFftInterrupted = 1,   // a break request; output partly written
  kFftWorkTooSmall = 2,  // nothing transformed
  kFftBadBatch = 3,      // negative sizes, or a real batch of odd count
};

struct EngineContext;

// Element i of vector c lies at c * dist + i * stride (in doubles) in the real
// and the imaginary array alike; the output uses the same layout. With in_im
// null the input is real and count must be even: vectors 2c and 2c+1 are
// transformed together as one complex vector. The input arrays serve as the
// second buffer and are overwritten. Forward: X(k) = sum x(j) exp(-2 pi i jk/N);
// inverse: exp(+...) and division by N. With ctx given, the engine's break
// request is polled after every combination step.
int numk_fft(double* in_re, double* in_im, int32_t n, int32_t stride, int32_t count,
             int32_t dist, double* out_re, double* out_im, uint8_t inverse, double* work,
             int64_t work_doubles, EngineContext* ctx);

// Work numk_fft needs for length n: the 2n twiddle doubles and one frame of six
// 64-bit integers per recursion level.
int64_t numk_fft_work_doubles(int32_t n);

// One vector, out of place: out(k), k = 0 .. n-1 (n a power of two), from the
// first in_count input elements (the rest count as zeros). in_im may be null
// for a real input.
void numk_fft_radix2(const double* in_re, const double* in_im, int32_t in_count,
                     int32_t in_stride, double* out_re, double* out_im, int32_t n,
                     int32_t out_stride, uint8_t inverse);

// The driver's split of length len: the odd factor taken off next, or 1 when
// len is a power of two (or below 2).
int32_t numk_fft_split(int32_t len);

// The driver's whole plan for length n: the odd factors in the order taken,
// then the remaining power of two when above 1. Returns the count written
// (at most capacity).
int32_t numk_fft_plan(int32_t n, int32_t* factors, int32_t capacity);
