// The FFT driver and its radix-2 kernel. Frames on the work stack describe sets
// of equal sub-transforms; a frame at depth d reads what depth d+1 left in the
// buffer of parity d+1 and writes into the buffer of parity d (parity 0: the
// output arrays, parity 1: the input arrays), so every result lands in out.
#include "numlib/fft.h"

#include "engine/core/frames.h"
#include "numlib/fft_twiddles.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr double kTwoPi = 6.283185307179586476925286766559;

// Twiddles of one radix-2 stage are produced in chunks of this many, so that a
// stage can sweep the array block by block instead of once per twiddle.
constexpr int32_t kTwiddleChunk = 256;

// One recursion level: count sub-transforms of length len, the current one at
// offset (elements stride apart), the next one step further on.
struct FftFrame {
  int64_t offset, len, count, stride, step, done;
};
static_assert(sizeof(FftFrame) == 6 * sizeof(double));
constexpr int64_t kFrameDoubles = sizeof(FftFrame) / sizeof(double);

bool is_pow2(int64_t v) { return v > 0 && (v & (v - 1)) == 0; }

int32_t odd_factor_count(int32_t n) {
  int32_t levels = 0;
  for (int32_t len = n, p; (p = numk_fft_split(len)) > 1; len /= p) ++levels;
  return levels;
}

// Complex product parts, each term formed before it is combined.
inline double mul_re(double ar, double ai, double br, double bi) { return ar * br - ai * bi; }
inline double mul_im(double ar, double ai, double br, double bi) { return ar * bi + ai * br; }

struct Buffers {
  double* re[2];
  double* im[2];
};

// X(k) := sum over j of Y_j(k mod m) w((j k) mod len) for the parent frame's
// current sub-transform, Y_j being the child results p = len / m apart.
void combine(const Buffers& b, int src, int dst, int64_t offset, int64_t len, int64_t stride,
             int64_t p, const double* wr, const double* wi, bool inverse) {
  const int64_t m = len / p;
  const double* yr = b.re[src] + offset;
  const double* yi = b.im[src] + offset;
  double* xr = b.re[dst] + offset;
  double* xi = b.im[dst] + offset;
  const int64_t child_stride = stride * p;
  const double dp = double(p);
  if (p == 3) {
    // Hot path: the same sums as below, unrolled for the commonest factor.
    const int64_t s1 = stride, s2 = 2 * stride;
    int64_t i2 = 0;  // 2k mod len
    for (int64_t k = 0, km = 0, at = 0; k < len; ++k) {
      const double a0r = yr[at], a0i = yi[at];
      const double a1r = yr[at + s1], a1i = yi[at + s1];
      const double a2r = yr[at + s2], a2i = yi[at + s2];
      double sr = 0.0 + mul_re(a0r, a0i, wr[0], wi[0]);
      double si = 0.0 + mul_im(a0r, a0i, wr[0], wi[0]);
      sr = sr + mul_re(a1r, a1i, wr[k], wi[k]);
      si = si + mul_im(a1r, a1i, wr[k], wi[k]);
      sr = sr + mul_re(a2r, a2i, wr[i2], wi[i2]);
      si = si + mul_im(a2r, a2i, wr[i2], wi[i2]);
      if (inverse) {
        sr = sr / dp;
        si = si / dp;
      }
      xr[k * stride] = sr;
      xi[k * stride] = si;
      i2 += 2;
      if (i2 >= len) i2 -= len;
      if (++km == m) {
        km = 0;
        at = 0;
      } else {
        at += child_stride;
      }
    }
    return;
  }
  int64_t km = 0;  // k mod m
  for (int64_t k = 0; k < len; ++k) {
    double sr = 0.0, si = 0.0;
    int64_t idx = 0;  // (j k) mod len
    for (int64_t j = 0; j < p; ++j) {
      const int64_t at = j * stride + km * child_stride;
      const double ar = yr[at], ai = yi[at];
      sr = sr + mul_re(ar, ai, wr[idx], wi[idx]);
      si = si + mul_im(ar, ai, wr[idx], wi[idx]);
      idx += k;
      if (idx >= len) idx -= len;
    }
    if (inverse) {
      sr = sr / dp;
      si = si / dp;
    }
    xr[k * stride] = sr;
    xi[k * stride] = si;
    if (++km == m) km = 0;
  }
}

void copy_batch(const double* from_re, const double* from_im, double* to_re, double* to_im,
                int64_t offset, int64_t len, int64_t stride, int64_t count, int64_t step) {
  for (int64_t c = 0; c < count; ++c)
    for (int64_t i = 0; i < len; ++i) {
      const int64_t at = offset + c * step + i * stride;
      to_re[at] = from_re[at];
      to_im[at] = from_im[at];
    }
}

// Z = X1 + i X2 with X1, X2 the transforms of real vectors: X1(k) =
// (Z(k) + conj Z(n-k)) / 2, X2(k) = (Z(k) - conj Z(n-k)) / 2i, the same in both
// directions. Z sits in the slot of X1; X2 goes dist further on.
void separate_real_pair(double* re, double* im, int64_t n, int64_t stride, int64_t dist) {
  double* r2 = re + dist;
  double* i2 = im + dist;
  r2[0] = im[0];
  i2[0] = 0.0;
  im[0] = 0.0;
  for (int64_t k = 1; k <= n / 2; ++k) {
    const int64_t a = k * stride, b = (n - k) * stride;
    const double zr = re[a], zi = im[a], wr = re[b], wi = im[b];
    const double x1r = (zr + wr) * 0.5, x1i = (zi - wi) * 0.5;
    const double x2r = (zi + wi) * 0.5, x2i = (wr - zr) * 0.5;
    // n - k before k: at k = n/2 both name one element, which keeps the +0.
    re[b] = x1r;
    im[b] = -x1i;
    r2[b] = x2r;
    i2[b] = -x2i;
    re[a] = x1r;
    im[a] = x1i;
    r2[a] = x2r;
    i2[a] = x2i;
  }
}

}  // namespace

int32_t numk_fft_split(int32_t len) {
  if (len < 2 || is_pow2(len)) return 1;
  if (len % 3 == 0) return 3;
  if (len > 25)
    for (int64_t q = 5; q * q < len; q += 6) {
      if (len % q == 0) return int32_t(q);
      if (len % (q + 2) == 0) return int32_t(q + 2);
    }
  int32_t odd = len;
  while ((odd & 1) == 0) odd >>= 1;
  return odd;
}

int32_t numk_fft_plan(int32_t n, int32_t* factors, int32_t capacity) {
  int32_t written = 0;
  if (n < 1) return 0;
  int32_t len = n;
  for (int32_t p; (p = numk_fft_split(len)) > 1; len /= p)
    if (written < capacity) factors[written++] = p;
  if (len > 1 && written < capacity) factors[written++] = len;
  return written;
}

int64_t numk_fft_work_doubles(int32_t n) {
  if (n < 1) return 0;
  return 2 * int64_t(n) + kFrameDoubles * (1 + int64_t(odd_factor_count(n)));
}

namespace {

// Bit-reversed copy in blocks: an index is split into its top and bottom
// kRevBits bits around a middle part, and reversing it swaps and reverses the
// parts. For one middle value the 2^kRevBits rows of 2^kRevBits elements read
// and written are whole cache lines that stay in L1 until used, where the
// element-by-element order touches a new line of the input for every element.
constexpr int kRevBits = 5;
constexpr int64_t kRevSide = int64_t{1} << kRevBits;

int64_t reverse_bits(int64_t v, int bits) {
  int64_t r = 0;
  for (int b = 0; b < bits; ++b, v >>= 1) r = (r << 1) | (v & 1);
  return r;
}

int log2_of(int64_t n) {
  int k = 0;
  while ((int64_t{1} << k) < n) ++k;
  return k;
}

// r := the successor of r in bit-reversed counting below n.
inline int64_t next_reversed(int64_t r, int64_t n) {
  int64_t bit = n >> 1;
  while (r & bit) {
    r ^= bit;
    bit >>= 1;
  }
  return r | bit;
}

// out(k) := scale x(rev(k)) for unit strides and a full input of n >= 2^(2 kRevBits).
void bit_reverse_blocked(const double* in_re, const double* in_im, double* out_re, double* out_im,
                         int64_t n, double scale) {
  const int bits = log2_of(n), mid_bits = bits - 2 * kRevBits;
  int64_t rev_side[kRevSide];
  for (int64_t a = 0; a < kRevSide; ++a) rev_side[a] = reverse_bits(a, kRevBits);
  for (int64_t mid = 0; mid < (int64_t{1} << mid_bits); ++mid) {
    const int64_t rmid = reverse_bits(mid, mid_bits) << kRevBits;
    for (int64_t a = 0; a < kRevSide; ++a) {
      // k = a | mid | c, rev(k) = rev(c) | rev(mid) | rev(a).
      const int64_t out_at = (a << (bits - kRevBits)) | (mid << kRevBits);
      const int64_t in_at = rmid | rev_side[a];
      for (int64_t c = 0; c < kRevSide; ++c) {
        const int64_t from = in_at | (rev_side[c] << (bits - kRevBits));
        out_re[out_at + c] = scale * in_re[from];
        out_im[out_at + c] = in_im ? scale * in_im[from] : 0.0;
      }
    }
  }
}

// out(k) := scale x(rev(k)), zeros past the first in_count inputs.
void bit_reverse_copy(const double* in_re, const double* in_im, int64_t in_count, int64_t is,
                      double* out_re, double* out_im, int64_t n, int64_t os, double scale) {
  if (is == 1 && os == 1 && in_count >= n && n >= kRevSide * kRevSide) {
    bit_reverse_blocked(in_re, in_im, out_re, out_im, n, scale);
    return;
  }
  for (int64_t k = 0, r = 0; k < n; ++k) {
    if (k > 0) {  // r := k with its bits reversed, counting from the top bit
      int64_t bit = n >> 1;
      while (r & bit) {
        r ^= bit;
        bit >>= 1;
      }
      r |= bit;
    }
    if (r < in_count) {
      out_re[k * os] = scale * in_re[r * is];
      out_im[k * os] = in_im ? scale * in_im[r * is] : 0.0;
    } else {
      out_re[k * os] = 0.0;
      out_im[k * os] = 0.0;
    }
  }
}

// The butterfly of every stage: b := a - w b, a := a + w b.
inline void butterfly(double* ar, double* ai, double* br, double* bi, double wr, double wi) {
  const double tr = mul_re(wr, wi, *br, *bi);
  const double ti = mul_im(wr, wi, *br, *bi);
  *br = *ar - tr;
  *bi = *ai - ti;
  *ar = *ar + tr;
  *ai = *ai + ti;
}

#if defined(__SSE2__)
// Two butterflies at once (elements j and j + 1 of unit-stride arrays): the
// same products and sums as butterfly, lane by lane, so the same bits.
inline void butterfly2(double* ar, double* ai, double* br, double* bi, __m128d w_re, __m128d w_im) {
  const __m128d a_re = _mm_loadu_pd(ar), a_im = _mm_loadu_pd(ai);
  const __m128d b_re = _mm_loadu_pd(br), b_im = _mm_loadu_pd(bi);
  const __m128d t_re = _mm_sub_pd(_mm_mul_pd(w_re, b_re), _mm_mul_pd(w_im, b_im));
  const __m128d t_im = _mm_add_pd(_mm_mul_pd(w_re, b_im), _mm_mul_pd(w_im, b_re));
  _mm_storeu_pd(br, _mm_sub_pd(a_re, t_re));
  _mm_storeu_pd(bi, _mm_sub_pd(a_im, t_im));
  _mm_storeu_pd(ar, _mm_add_pd(a_re, t_re));
  _mm_storeu_pd(ai, _mm_add_pd(a_im, t_im));
}
#endif

// Stages with the twiddles computed chunk by chunk (no table at hand).
void stages_computed(double* out_re, double* out_im, int64_t n, int64_t os, bool inverse) {
  // Butterflies of one stage touch disjoint pairs, so sweeping block by block
  // with a chunk of twiddles gives the same bits as the twiddle-major order
  // while walking memory forward.
  double wr[kTwiddleChunk], wi[kTwiddleChunk];
  const double sign = inverse ? 1.0 : -1.0;
  for (int64_t len = 2; len <= n; len *= 2) {
    const int64_t half = len / 2;
    for (int64_t j0 = 0; j0 < half; j0 += kTwiddleChunk) {
      const int64_t jn = half - j0 < kTwiddleChunk ? half - j0 : kTwiddleChunk;
      // Each twiddle from its own angle (running products drift with len).
      for (int64_t j = 0; j < jn; ++j) {
        const double theta = kTwoPi * double(j0 + j) / double(len);
        wr[j] = std::cos(theta);
        wi[j] = sign * std::sin(theta);
      }
      for (int64_t i0 = j0; i0 < n; i0 += len) {
        double* ar = out_re + i0 * os;
        double* ai = out_im + i0 * os;
        for (int64_t j = 0; j < jn; ++j)
          butterfly(ar + j * os, ai + j * os, ar + (j + half) * os, ai + (j + half) * os, wr[j], wi[j]);
      }
    }
  }
}

// Stages of a block of this many elements run one after the other while the
// block stays in the inner caches (64 KiB of real and imaginary parts).
constexpr int64_t kCacheBlock = int64_t{1} << 12;

// The twiddle table of a transform of length n (see radix2): w_n(j) for
// j < n/2, which stage n reads in order, and the twiddles of every shorter
// stage gathered from it (stage len at stages[len/2 - 1 ...]), so that no
// stage reads them n/len apart, a cache line (and a page) for each one.
// Either from the shared cache or, when it refuses, built in the caller's
// work array; the same bits either way.
struct Radix2Table {
  const double* re;
  const double* im;
  int64_t n;
  const double* stages_re;
  const double* stages_im;
};

// Stage len's twiddles w_len(j), j < len/2, in order.
inline const double* stage_re(const Radix2Table& t, int64_t len) {
  return len == t.n ? t.re : t.stages_re + len / 2 - 1;
}
inline const double* stage_im(const Radix2Table& t, int64_t len) {
  return len == t.n ? t.im : t.stages_im + len / 2 - 1;
}

// Stage len on one block: butterflies (j, j + len/2), twiddle w_n(j n/len).
// kUnit marks unit stride, for which the loop is compiled without it.
template <bool kUnit>
void table_stage(double* re, double* im, int64_t os, int64_t len, const Radix2Table& t) {
  const int64_t half = len / 2, s = kUnit ? 1 : os;
  const double* wr = stage_re(t, len);
  const double* wi = stage_im(t, len);
#if defined(__SSE2__)
  if (kUnit && half >= 2) {
    for (int64_t j = 0; j < half; j += 2)
      butterfly2(re + j, im + j, re + j + half, im + j + half, _mm_loadu_pd(wr + j), _mm_loadu_pd(wi + j));
    return;
  }
#endif
  for (int64_t j = 0; j < half; ++j)
    butterfly(re + j * s, im + j * s, re + (j + half) * s, im + (j + half) * s, wr[j], wi[j]);
}

// Stages len/2 (on both halves) and len of one block in one sweep: the same
// butterflies on the same values as two sweeps, taken four elements at a time.
template <bool kUnit>
void table_stage_pair(double* re, double* im, int64_t os, int64_t len, const Radix2Table& t) {
  const int64_t q = len / 4, s = kUnit ? 1 : os;
  const double* hr = stage_re(t, len / 2);
  const double* hi = stage_im(t, len / 2);
  const double* wr = stage_re(t, len);
  const double* wi = stage_im(t, len);
#if defined(__SSE2__)
  if (kUnit) {
    for (int64_t j = 0; j < q; j += 2) {
      const __m128d h_re = _mm_loadu_pd(hr + j), h_im = _mm_loadu_pd(hi + j);
      butterfly2(re + j, im + j, re + j + q, im + j + q, h_re, h_im);
      butterfly2(re + j + 2 * q, im + j + 2 * q, re + j + 3 * q, im + j + 3 * q, h_re, h_im);
      butterfly2(re + j, im + j, re + j + 2 * q, im + j + 2 * q, _mm_loadu_pd(wr + j), _mm_loadu_pd(wi + j));
      butterfly2(re + j + q, im + j + q, re + j + 3 * q, im + j + 3 * q, _mm_loadu_pd(wr + j + q),
                 _mm_loadu_pd(wi + j + q));
    }
    return;
  }
#endif
  for (int64_t j = 0; j < q; ++j) {
    double* r0 = re + j * s;
    double* i0 = im + j * s;
    double* r1 = r0 + q * s;
    double* i1 = i0 + q * s;
    double* r2 = r1 + q * s;
    double* i2 = i1 + q * s;
    double* r3 = r2 + q * s;
    double* i3 = i2 + q * s;
    butterfly(r0, i0, r1, i1, hr[j], hi[j]);
    butterfly(r2, i2, r3, i3, hr[j], hi[j]);
    butterfly(r0, i0, r2, i2, wr[j], wi[j]);
    butterfly(r1, i1, r3, i3, wr[j + q], wi[j + q]);
  }
}

#if defined(__SSE2__)
// Stage 2 over a unit-stride block of len >= 4, two butterflies (j, j+1),
// (j+2, j+3) at a time: lanes gathered so that each holds one butterfly's
// operands, the same products and sums as butterfly, then put back.
void first_stage_unit(double* re, double* im, int64_t len, const Radix2Table& t) {
  const __m128d w_re = _mm_set1_pd(stage_re(t, 2)[0]), w_im = _mm_set1_pd(stage_im(t, 2)[0]);
  for (int64_t b = 0; b < len; b += 4) {
    const __m128d r01 = _mm_loadu_pd(re + b), r23 = _mm_loadu_pd(re + b + 2);
    const __m128d i01 = _mm_loadu_pd(im + b), i23 = _mm_loadu_pd(im + b + 2);
    const __m128d a_re = _mm_unpacklo_pd(r01, r23), b_re = _mm_unpackhi_pd(r01, r23);
    const __m128d a_im = _mm_unpacklo_pd(i01, i23), b_im = _mm_unpackhi_pd(i01, i23);
    const __m128d t_re = _mm_sub_pd(_mm_mul_pd(w_re, b_re), _mm_mul_pd(w_im, b_im));
    const __m128d t_im = _mm_add_pd(_mm_mul_pd(w_re, b_im), _mm_mul_pd(w_im, b_re));
    const __m128d na_re = _mm_add_pd(a_re, t_re), nb_re = _mm_sub_pd(a_re, t_re);
    const __m128d na_im = _mm_add_pd(a_im, t_im), nb_im = _mm_sub_pd(a_im, t_im);
    _mm_storeu_pd(re + b, _mm_unpacklo_pd(na_re, nb_re));
    _mm_storeu_pd(re + b + 2, _mm_unpackhi_pd(na_re, nb_re));
    _mm_storeu_pd(im + b, _mm_unpacklo_pd(na_im, nb_im));
    _mm_storeu_pd(im + b + 2, _mm_unpackhi_pd(na_im, nb_im));
  }
}
#endif

// Every stage up to len on the block at (re, im), depth first: a block that
// fits the caches is finished before the next is touched, and the stages
// above that size sweep their block two at a time. Each butterfly sees the
// same operands as in stage-by-stage order, so the bits are the same.
template <bool kUnit>
void table_stages(double* re, double* im, int64_t os, int64_t len, const Radix2Table& t) {
  if (len <= kCacheBlock) {
    int64_t l = 2;
#if defined(__SSE2__)
    if (kUnit && len >= 4) {
      first_stage_unit(re, im, len, t);
      l = 4;
    }
#endif
    for (; l <= len; l *= 2)
      for (int64_t b = 0; b < len; b += l) table_stage<kUnit>(re + b * os, im + b * os, os, l, t);
    return;
  }
  if (len / 2 > kCacheBlock) {
    const int64_t q = len / 4;
    for (int64_t k = 0; k < 4; ++k) table_stages<kUnit>(re + k * q * os, im + k * q * os, os, q, t);
    table_stage_pair<kUnit>(re, im, os, len, t);
    return;
  }
  const int64_t half = len / 2;
  table_stages<kUnit>(re, im, os, half, t);
  table_stages<kUnit>(re + half * os, im + half * os, os, half, t);
  table_stage<kUnit>(re, im, os, len, t);
}

// The radix-2 kernel; with a table (w_n(j), j < n/2, of this length and
// direction) the twiddle of stage len at j is w_n(j n/len), an exact value of
// its own angle read instead of computed: for a power-of-two step the angle
// 2 pi (j step) / (len step) rounds as 2 pi j / len, so both give the same bits.
void radix2(const double* in_re, const double* in_im, int32_t in_count, int32_t in_stride,
            double* out_re, double* out_im, int32_t n, int32_t out_stride, uint8_t inverse,
            const Radix2Table* t) {
  if (n < 1) return;
  const int64_t os = out_stride;
  const double scale = inverse ? 1.0 / double(n) : 1.0;
  bit_reverse_copy(in_re, in_im, in_count, in_stride, out_re, out_im, n, os, scale);
  if (!t) {
    stages_computed(out_re, out_im, n, os, inverse != 0);
    return;
  }
  if (os == 1) table_stages<true>(out_re, out_im, 1, n, *t);
  else table_stages<false>(out_re, out_im, os, n, *t);
}

// The table of a power-of-two length n from `re`, `im` as the cache lays it
// out (w_n(j) for j < n/2, the shorter stages' twiddles gathered behind).
Radix2Table radix2_table(const double* re, const double* im, int64_t n) {
  return Radix2Table{re, im, n, re + n / 2, im + n / 2};
}

// Builds that layout in place, for a table the cache refused.
void build_radix2_table(double* re, double* im, int64_t n, bool inverse) {
  fft_twiddles_compute(re, im, n, n / 2, inverse);
  fft_twiddles_gather_stages(re, im, n, re + n / 2, im + n / 2);
}

// Interleaved vectors (element i of vector c at c step + i stride, the rows
// of `count` elements short beside the stride, as in a pass over a leading
// dimension) are transformed batch_width(n) at a time, row by row: every row is
// a run of adjacent elements, where one vector at a time reads a cache line
// for each element. Each vector gets the butterflies of radix2 on the same
// operands in the same stage order, so the same bits.
// Up to 32 vectors (rows of 256 bytes, measured best on a 1024 by 1024 pass),
// fewer for long vectors, so that the scratch stays within 4 MiB an array.
constexpr int64_t kBatchWidth = 32;
constexpr int64_t kBatchScratchDoubles = int64_t{1} << 19;

int64_t batch_width(int64_t n) {
  int64_t w = kBatchWidth;
  while (w > 2 && n * w > kBatchScratchDoubles) w /= 2;
  return w;
}

// Every stage on `width` adjacent vectors whose rows lie stride apart.
void batch_stages(double* re, double* im, int64_t n, int64_t stride, int64_t width, const Radix2Table& t) {
  for (int64_t len = 2; len <= n; len *= 2) {
    const int64_t half = len / 2;
    const double* twr = stage_re(t, len);
    const double* twi = stage_im(t, len);
    for (int64_t i0 = 0; i0 < n; i0 += len)
      for (int64_t j = 0; j < half; ++j) {
        const double wr = twr[j], wi = twi[j];
        double* ar = re + (i0 + j) * stride;
        double* ai = im + (i0 + j) * stride;
        double* br = ar + half * stride;
        double* bi = ai + half * stride;
        int64_t c = 0;
#if defined(__SSE2__)
        const __m128d w_re = _mm_set1_pd(wr), w_im = _mm_set1_pd(wi);
        for (; c + 2 <= width; c += 2) butterfly2(ar + c, ai + c, br + c, bi + c, w_re, w_im);
#endif
        for (; c < width; ++c) butterfly(ar + c, ai + c, br + c, bi + c, wr, wi);
      }
  }
}

// Rows a power of two apart defeat the hardware's prefetch (it follows runs
// within a page), and each row is a fresh line from memory: the rows this
// many ahead are asked for while the current one is copied.
constexpr int64_t kPrefetchRows = 8;
constexpr int64_t kLineDoubles = 8;

inline void prefetch_row(const double* row, int64_t doubles, bool for_write) {
  for (int64_t d = 0; d < doubles; d += kLineDoubles) {
    if (for_write) __builtin_prefetch(row + d, 1);
    else __builtin_prefetch(row + d, 0);
  }
}

// Rows in bit-reversed order, scaled: to(rev(r)) := scale from(r) for each of
// `width` vectors, the rows of `from` stride apart and those of `to` width;
// `from` is read in order, the scratch written in bit-reversed order.
void gather_reversed_rows(const double* from_re, const double* from_im, double* to_re, double* to_im,
                          int64_t n, int64_t stride, int64_t width, int64_t step, double scale) {
  const int64_t span = (width - 1) * step + 1;
  for (int64_t r = 0, k = 0; r < n; ++r, k = r < n ? next_reversed(k, n) : k) {
    if (r + kPrefetchRows < n) {
      prefetch_row(from_re + (r + kPrefetchRows) * stride, span, false);
      prefetch_row(from_im + (r + kPrefetchRows) * stride, span, false);
    }
    const double* fr = from_re + r * stride;
    const double* fi = from_im + r * stride;
    double* tr = to_re + k * width;
    double* ti = to_im + k * width;
    for (int64_t c = 0; c < width; ++c) {
      tr[c] = scale * fr[c * step];
      ti[c] = scale * fi[c * step];
    }
  }
}

void scatter_rows(const double* from_re, const double* from_im, double* to_re, double* to_im, int64_t n,
                  int64_t stride, int64_t width, int64_t step) {
  const int64_t span = (width - 1) * step + 1;
  for (int64_t k = 0; k < n; ++k) {
    if (k + kPrefetchRows < n) {
      prefetch_row(to_re + (k + kPrefetchRows) * stride, span, true);
      prefetch_row(to_im + (k + kPrefetchRows) * stride, span, true);
    }
    for (int64_t c = 0; c < width; ++c) {
      to_re[k * stride + c * step] = from_re[k * width + c];
      to_im[k * stride + c * step] = from_im[k * width + c];
    }
  }
}

// Each group of vectors is gathered into adjacent rows of the scratch (2 n
// batch_width(n) doubles) first: rows a power of two apart fall into the same
// cache sets, and a column pass over a 1024-row array thrashed the caches.
void radix2_batch(const double* in_re, const double* in_im, double* out_re, double* out_im, int64_t n,
                  int64_t stride, int64_t count, int64_t step, bool inverse, const Radix2Table& t,
                  double* scratch) {
  const double scale = inverse ? 1.0 / double(n) : 1.0;
  const int64_t group = batch_width(n);
  for (int64_t c0 = 0; c0 < count; c0 += group) {
    const int64_t width = count - c0 < group ? count - c0 : group;
    const int64_t at = c0 * step;
    double* sr = scratch;
    double* si = scratch + n * group;
    gather_reversed_rows(in_re + at, in_im + at, sr, si, n, stride, width, step, scale);
    batch_stages(sr, si, n, width, width, t);
    scatter_rows(sr, si, out_re + at, out_im + at, n, stride, width, step);
  }
}

// Whether a set of equal radix-2 transforms goes through radix2_batch: several
// vectors whose rows are short runs (a step of 1, or 2 for real pairs) beside
// their stride.
bool batch_pays(int64_t count, int64_t stride, int64_t step) {
  return count >= 4 && step <= 2 && count * step <= stride;
}

// --- Long odd factors: Bluestein's chirp convolution ----------------------
//
// A factor p of a combination is p-point DFTs of the twiddled children,
// X(k1 + m k2) = sum_j [Y_j(k1) w_len(j k1)] w_p(j k2), and the direct sum
// costs p squared per k1: 10^10 products for a prime length of 10^5. From
// kChirpFromFactor on each p-point DFT is a circular convolution instead,
// through jk = (j^2 + k^2 - (k - j)^2) / 2:
//   X(k) = c(k) sum_j (x(j) c(j)) conj(c(k - j)),  c(j) = exp(-+i pi j^2 / p),
// done by power-of-two transforms of length M >= 2p - 1, in O(p log p).
// Below that factor the direct sum stays: it keeps its bits, and there it is
// within a factor of two of the convolution (level at 61, twice at 127), a
// matter of microseconds.
constexpr int64_t kChirpFromFactor = 128;

// What every p-point DFT of one depth shares: the chirp, the transform of
// the convolution kernel, two buffers of M and the length-M radix-2 table
// (from the cache, or built into the plan's own block when it refuses).
struct ChirpPlan {
  int64_t p = 0, m = 0;
  double* block = nullptr;  // everything below, one allocation
  double *c_re = nullptr, *c_im = nullptr;  // c(j), j < p
  double *h_re = nullptr, *h_im = nullptr;  // FFT_M of conj(c(d)), d in -(p-1) .. p-1
  double *a_re = nullptr, *a_im = nullptr;  // M each
  double *b_re = nullptr, *b_im = nullptr;
  FftTwiddles held{nullptr, nullptr, 0, -1};
  Radix2Table table{};
  ~ChirpPlan() {
    fft_twiddles_release(&held);
    std::free(block);
  }
};

// Builds the plan of factor p in one direction; false when memory is short
// (the caller then sums directly).
bool chirp_plan_build(ChirpPlan* plan, int64_t p, bool inverse) {
  int64_t m = 1;
  while (m < 2 * p - 1) m *= 2;
  if (m > INT32_MAX) return false;  // the radix-2 kernel counts in 32 bits
  const bool cached = fft_twiddles_acquire(m, false, &plan->held);
  const int64_t doubles = 2 * p + 6 * m + (cached ? 0 : 2 * m);
  plan->block = static_cast<double*>(std::malloc(size_t(doubles) * sizeof(double)));
  if (!plan->block) {
    fft_twiddles_release(&plan->held);
    return false;
  }
  plan->p = p;
  plan->m = m;
  double* at = plan->block;
  for (double** slot : {&plan->c_re, &plan->c_im}) {
    *slot = at;
    at += p;
  }
  for (double** slot : {&plan->h_re, &plan->h_im, &plan->a_re, &plan->a_im, &plan->b_re, &plan->b_im}) {
    *slot = at;
    at += m;
  }
  if (cached) {
    plan->table = radix2_table(plan->held.re, plan->held.im, m);
  } else {
    build_radix2_table(at, at + m, m, false);
    plan->table = radix2_table(at, at + m, m);
  }
  // j^2 mod 2p is exact in 64 bits (p < 2^31), so each angle is reduced
  // before it is rounded and c keeps full accuracy for every j.
  const double sign = inverse ? 1.0 : -1.0;
  for (int64_t j = 0; j < p; ++j) {
    const double theta = kTwoPi * 0.5 * double((j * j) % (2 * p)) / double(p);
    plan->c_re[j] = std::cos(theta);
    plan->c_im[j] = sign * std::sin(theta);
  }
  // The kernel conj(c(d)) laid out circularly: d at d and at M - d.
  std::fill(plan->a_re, plan->a_re + m, 0.0);
  std::fill(plan->a_im, plan->a_im + m, 0.0);
  for (int64_t d = 0; d < p; ++d) {
    plan->a_re[d] = plan->c_re[d];
    plan->a_im[d] = -plan->c_im[d];
    if (d > 0) {
      plan->a_re[m - d] = plan->c_re[d];
      plan->a_im[m - d] = -plan->c_im[d];
    }
  }
  radix2(plan->a_re, plan->a_im, int32_t(m), 1, plan->h_re, plan->h_im, int32_t(m), 1, 0, &plan->table);
  return true;
}

// out(k) := sum_j in(j) w_p(+-jk) for k < p (scaled by 1/p for the inverse);
// in is the plan's a buffer (its first p elements), out lands at stride.
void chirp_dft(ChirpPlan& plan, double* out_re, double* out_im, int64_t out_stride, bool inverse) {
  const int64_t p = plan.p, m = plan.m;
  double *ar = plan.a_re, *ai = plan.a_im, *br = plan.b_re, *bi = plan.b_im;
  for (int64_t j = 0; j < p; ++j) {
    const double xr = ar[j], xi = ai[j];
    ar[j] = mul_re(xr, xi, plan.c_re[j], plan.c_im[j]);
    ai[j] = mul_im(xr, xi, plan.c_re[j], plan.c_im[j]);
  }
  radix2(ar, ai, int32_t(p), 1, br, bi, int32_t(m), 1, 0, &plan.table);
  // The inverse transform of the product as the conjugate of a forward one:
  // the table of one direction serves both.
  for (int64_t k = 0; k < m; ++k) {
    const double zr = br[k], zi = bi[k];
    br[k] = mul_re(zr, zi, plan.h_re[k], plan.h_im[k]);
    bi[k] = -mul_im(zr, zi, plan.h_re[k], plan.h_im[k]);
  }
  radix2(br, bi, int32_t(m), 1, ar, ai, int32_t(m), 1, 0, &plan.table);
  const double scale = 1.0 / double(m) / (inverse ? double(p) : 1.0);
  for (int64_t k = 0; k < p; ++k) {
    const double zr = ar[k] * scale, zi = -ai[k] * scale;
    out_re[k * out_stride] = mul_re(zr, zi, plan.c_re[k], plan.c_im[k]);
    out_im[k * out_stride] = mul_im(zr, zi, plan.c_re[k], plan.c_im[k]);
  }
}

// The combination of combine() through chirp_dft: for each k1 < len/p the
// twiddled children Y_j(k1) w_len(j k1) form one p-point DFT, whose output
// k2 is X(k1 + m k2).
void chirp_combine(ChirpPlan& plan, const Buffers& b, int src, int dst, int64_t offset, int64_t len,
                   int64_t stride, const double* wr, const double* wi, bool inverse) {
  const int64_t p = plan.p, m = len / p;
  const double* yr = b.re[src] + offset;
  const double* yi = b.im[src] + offset;
  double* xr = b.re[dst] + offset;
  double* xi = b.im[dst] + offset;
  const int64_t child_stride = stride * p;
  for (int64_t k1 = 0; k1 < m; ++k1) {
    int64_t idx = 0;  // (j k1) mod len
    for (int64_t j = 0; j < p; ++j) {
      const int64_t at = j * stride + k1 * child_stride;
      plan.a_re[j] = mul_re(yr[at], yi[at], wr[idx], wi[idx]);
      plan.a_im[j] = mul_im(yr[at], yi[at], wr[idx], wi[idx]);
      idx += k1;
      if (idx >= len) idx -= len;
    }
    chirp_dft(plan, xr + k1 * stride, xi + k1 * stride, m * stride, inverse);
  }
}

// The twiddle tables one transform holds from the cache: one for each
// combining depth and one for the radix-2 leaves, all released at the end.
// A length the cache refused has none: its table is computed in the work array.
constexpr int kMaxDepths = 32;  // 3^20 is above every int32 length
struct HeldTables {
  FftTwiddles level[kMaxDepths];
  FftTwiddles leaf;
  ChirpPlan chirp[kMaxDepths];  // for long factors, built at their first use
  bool chirp_failed[kMaxDepths] = {};
  double* batch_scratch = nullptr;  // for radix2_batch, taken at its first use
  HeldTables() {
    for (FftTwiddles& t : level) t = FftTwiddles{nullptr, nullptr, 0, -1};
    leaf = FftTwiddles{nullptr, nullptr, 0, -1};
  }
  ~HeldTables() {
    for (FftTwiddles& t : level) fft_twiddles_release(&t);
    fft_twiddles_release(&leaf);
    std::free(batch_scratch);
  }
  HeldTables(const HeldTables&) = delete;
  HeldTables& operator=(const HeldTables&) = delete;
};

}  // namespace

void numk_fft_radix2(const double* in_re, const double* in_im, int32_t in_count,
                     int32_t in_stride, double* out_re, double* out_im, int32_t n,
                     int32_t out_stride, uint8_t inverse) {
  radix2(in_re, in_im, in_count, in_stride, out_re, out_im, n, out_stride, inverse, nullptr);
}

int numk_fft(double* in_re, double* in_im, int32_t n, int32_t stride, int32_t count,
             int32_t dist, double* out_re, double* out_im, uint8_t inverse, double* work,
             int64_t work_doubles, EngineContext* ctx) {
  if (n < 0 || count < 0) return kFftBadBatch;
  const bool real = in_im == nullptr;
  if (real && (count & 1) != 0) return kFftBadBatch;
  if (n == 0 || count == 0) return kFftDone;
  int64_t vdist = dist, vcount = count;
  if (real) {
    in_im = in_re + dist;
    vdist = 2 * int64_t(dist);
    vcount = count / 2;
  }
  if (work_doubles < numk_fft_work_doubles(n)) return kFftWorkTooSmall;

  double* wr = work;
  double* wi = work + n;
  int64_t table_len = 0;  // the length whose combination twiddles wr, wi hold
  FftFrame* frames = reinterpret_cast<FftFrame*>(work + 2 * int64_t(n));
  const Buffers buf = {{out_re, in_re}, {out_im, in_im}};
  bool input_copied = false;

  // The tables: one per combining depth, and the radix-2 leaves' (their
  // length is what is left of n after the odd factors).
  HeldTables held;
  int64_t leaf_len = n;
  for (int d = 0, p; (p = numk_fft_split(int32_t(leaf_len))) > 1; ++d, leaf_len /= p)
    fft_twiddles_acquire(leaf_len, inverse != 0, &held.level[d]);
  Radix2Table leaf{};
  const Radix2Table* leaf_table = nullptr;
  if (leaf_len > 1) {
    if (fft_twiddles_acquire(leaf_len, inverse != 0, &held.leaf)) {
      leaf = radix2_table(held.leaf.re, held.leaf.im, leaf_len);
      leaf_table = &leaf;
    } else if (leaf_len == n) {
      // A power of two never combines, so the work area is free for its table.
      build_radix2_table(wr, wi, n, inverse != 0);
      leaf = radix2_table(wr, wi, n);
      leaf_table = &leaf;
    }
  }

  int depth = 0;
  frames[0] = {0, n, vcount, stride, vdist, 0};
  for (;;) {
    FftFrame& f = frames[depth];
    if (f.done < f.count) {
      if (!is_pow2(f.len)) {
        const int64_t p = numk_fft_split(int32_t(f.len));
        frames[depth + 1] = {f.offset, f.len / p, p, f.stride * p, f.stride, 0};
        ++depth;
        continue;
      }
      const int src = (depth + 1) & 1, dst = depth & 1;
      if (f.len > 1) {
        // At an odd depth the kernel reads the output arrays: seed them.
        if (src == 0 && !input_copied) {
          copy_batch(in_re, in_im, out_re, out_im, 0, n, stride, vcount, vdist);
          input_copied = true;
        }
        // Without the scratch (memory short) the vectors go one at a time.
        if (leaf_table && batch_pays(f.count - f.done, f.stride, f.step) && !held.batch_scratch)
          held.batch_scratch = static_cast<double*>(std::malloc(size_t(2 * f.len * batch_width(f.len)) * sizeof(double)));
        if (leaf_table && batch_pays(f.count - f.done, f.stride, f.step) && held.batch_scratch) {
          const int64_t at = f.offset + f.done * f.step;
          radix2_batch(buf.re[src] + at, buf.im[src] + at, buf.re[dst] + at, buf.im[dst] + at, f.len,
                       f.stride, f.count - f.done, f.step, inverse != 0, *leaf_table, held.batch_scratch);
        } else {
          for (int64_t j = f.done; j < f.count; ++j) {
            const int64_t at = f.offset + j * f.step;
            radix2(buf.re[src] + at, buf.im[src] + at, int32_t(f.len), int32_t(f.stride),
                   buf.re[dst] + at, buf.im[dst] + at, int32_t(f.len), int32_t(f.stride), inverse,
                   leaf_table);
          }
        }
      } else if (dst == 0) {
        copy_batch(in_re, in_im, out_re, out_im, f.offset, 1, 1, f.count, f.step);
      }
      f.done = f.count;
      continue;
    }
    if (depth == 0) break;
    const FftFrame& child = frames[depth];
    --depth;
    FftFrame& parent = frames[depth];
    const double* cr = held.level[depth].re;
    const double* ci = held.level[depth].im;
    if (!cr) {
      if (table_len != parent.len) {
        fft_twiddles_compute(wr, wi, parent.len, parent.len, inverse != 0);
        table_len = parent.len;
      }
      cr = wr;
      ci = wi;
    }
    ChirpPlan& plan = held.chirp[depth];
    if (child.count >= kChirpFromFactor && !plan.block && !held.chirp_failed[depth])
      held.chirp_failed[depth] = !chirp_plan_build(&plan, child.count, inverse != 0);
    if (plan.block)
      chirp_combine(plan, buf, (depth + 1) & 1, depth & 1, parent.offset, parent.len, parent.stride, cr,
                    ci, inverse != 0);
    else
      combine(buf, (depth + 1) & 1, depth & 1, parent.offset, parent.len, parent.stride,
              child.count, cr, ci, inverse != 0);
    ++parent.done;
    parent.offset += parent.step;
    if (ctx != nullptr && poll_abort(ctx) != 0) return kFftInterrupted;
  }

  if (real)
    for (int64_t c = 0; c < vcount; ++c)
      separate_real_pair(out_re + c * vdist, out_im + c * vdist, n, stride, dist);
  return kFftDone;
}
