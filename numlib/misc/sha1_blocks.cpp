// SHA-1 compression with the x86 SHA extensions: four rounds per instruction,
// the message schedule in vector registers. The code is compiled for those
// instructions function by function and reached only after the processor has
// been asked for them, so the build itself stays generic.
#include "numlib/misc/sha1_blocks.h"

#include <utility>

#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>
#include <immintrin.h>
#define TN_SHA1_X86 1
#endif

#ifdef TN_SHA1_X86

namespace {

#define TN_SHA1_TARGET __attribute__((target("sha,ssse3,sse4.1")))

struct Sha1Regs {
  __m128i abcd;     // a in the top lane, d in the lowest
  __m128i e_prev;   // abcd before the previous group: its a gives the next e
  __m128i msg[4];   // schedule words of four consecutive groups
};

// Group g of 4 rounds (rounds 4g .. 4g+3). The schedule for group g+1 is
// finished (msg2), that of g+2 advanced (xor) and that of g+3 started (msg1)
// while the rounds run; the group's function comes from g / 5.
template <int G>
TN_SHA1_TARGET inline void sha1_group(Sha1Regs& r, __m128i& e_cur) {
  __m128i* m = r.msg;
  if constexpr (G == 0) e_cur = _mm_add_epi32(e_cur, m[0]);
  else e_cur = _mm_sha1nexte_epu32(r.e_prev, m[G % 4]);
  r.e_prev = r.abcd;
  if constexpr (G >= 3 && G <= 18) m[(G + 1) % 4] = _mm_sha1msg2_epu32(m[(G + 1) % 4], m[G % 4]);
  r.abcd = _mm_sha1rnds4_epu32(r.abcd, e_cur, G / 5);
  if constexpr (G >= 1 && G <= 16) m[(G - 1) % 4] = _mm_sha1msg1_epu32(m[(G - 1) % 4], m[G % 4]);
  if constexpr (G >= 2 && G <= 17) m[(G - 2) % 4] = _mm_xor_si128(m[(G - 2) % 4], m[G % 4]);
}

template <int... G>
TN_SHA1_TARGET inline void sha1_groups(Sha1Regs& r, __m128i& e_cur, std::integer_sequence<int, G...>) {
  (sha1_group<G>(r, e_cur), ...);
}

}  // namespace

// The processor is asked through cpuid itself: clang's __builtin_cpu_supports
// knows no "sha", and both compilers ship <cpuid.h>. Leaf 1 gives SSSE3 and
// SSE4.1 (ECX), leaf 7 subleaf 0 the SHA extensions (EBX).
bool sha1_blocks_hw_available() {
  static const bool available = [] {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const bool vector = (c & bit_SSSE3) && (c & bit_SSE4_1);
    if (!vector || !__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return (b & bit_SHA) != 0;
  }();
  return available;
}

TN_SHA1_TARGET void sha1_blocks_hw(uint32_t* state, const uint8_t* data, uint64_t blocks) {
  // Big-endian words: reverse the 16 bytes of each load.
  const __m128i byte_swap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  Sha1Regs r;
  r.abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1b);
  __m128i e = _mm_set_epi32(int(state[4]), 0, 0, 0);
  for (; blocks > 0; --blocks, data += 64) {
    const __m128i abcd_in = r.abcd, e_in = e;
    for (int i = 0; i < 4; ++i)
      r.msg[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byte_swap);
    __m128i e_cur = e;
    sha1_groups(r, e_cur, std::make_integer_sequence<int, 20>{});
    // The state's e after the last group is rotl(a before it, 30).
    e = _mm_sha1nexte_epu32(r.e_prev, e_in);
    r.abcd = _mm_add_epi32(r.abcd, abcd_in);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(r.abcd, 0x1b));
  state[4] = uint32_t(_mm_extract_epi32(e, 3));
}

#else

bool sha1_blocks_hw_available() { return false; }
void sha1_blocks_hw(uint32_t*, const uint8_t*, uint64_t) {}

#endif
