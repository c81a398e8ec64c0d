// The process-wide twiddle cache: a few slots under one mutex, each a table
// with the count of callers holding it. A table is built outside the lock and
// never changes once published; only tables no caller holds are evicted
// (least recently used first), so the bytes held stay under the bound.
#include "numlib/fft_twiddles.h"

#include <cmath>
#include <cstdlib>
#include <mutex>

namespace {

constexpr double kTwoPi = 6.283185307179586476925286766559;
constexpr int kSlots = 32;
// 2^21 points take 32 MiB of table: room for that and the smaller ones a
// mixed-radix transform asks for beside it.
constexpr int64_t kBoundBytes = int64_t{96} << 20;
constexpr int64_t kMaxTableBytes = int64_t{32} << 20;

struct Slot {
  int64_t len = 0;  // 0: free
  bool inverse = false;
  double* re = nullptr;  // re and im in one allocation
  int64_t count = 0;
  int64_t holders = 0;
  uint64_t used = 0;  // the use counter's value at the last acquire
};

struct Cache {
  std::mutex lock;
  Slot slots[kSlots];
  int64_t bytes = 0;
  uint64_t uses = 0;
};

Cache& cache() {
  static Cache c;
  return c;
}

bool is_pow2(int64_t v) { return v > 0 && (v & (v - 1)) == 0; }

int64_t table_bytes(int64_t count) { return 2 * count * int64_t(sizeof(double)); }

// Frees unheld tables, least recently used first, until `need` more bytes
// fit and a slot is free; returns the free slot or -1. Called under the lock.
int make_room(Cache& c, int64_t need) {
  for (;;) {
    int free_slot = -1, victim = -1;
    for (int i = 0; i < kSlots; ++i) {
      const Slot& s = c.slots[i];
      if (s.len == 0) {
        if (free_slot < 0) free_slot = i;
      } else if (s.holders == 0 && (victim < 0 || s.used < c.slots[victim].used)) {
        victim = i;
      }
    }
    if (free_slot >= 0 && c.bytes + need <= kBoundBytes) return free_slot;
    if (victim < 0) return -1;
    Slot& v = c.slots[victim];
    std::free(v.re);
    c.bytes -= table_bytes(v.count);
    v = Slot{};
  }
}

// Under the lock: the slot of (len, inverse), or -1.
int find(Cache& c, int64_t len, bool inverse) {
  for (int i = 0; i < kSlots; ++i)
    if (c.slots[i].len == len && c.slots[i].inverse == inverse) return i;
  return -1;
}

void hold(Cache& c, int i, FftTwiddles* out) {
  Slot& s = c.slots[i];
  ++s.holders;
  s.used = ++c.uses;
  out->re = s.re;
  out->im = s.re + s.count;
  out->count = s.count;
  out->slot = i;
}

}  // namespace

void fft_twiddles_compute(double* re, double* im, int64_t len, int64_t count, bool inverse) {
  const double sign = inverse ? 1.0 : -1.0;
  for (int64_t m = 0; m < count; ++m) {
    const double theta = kTwoPi * double(m) / double(len);
    re[m] = std::cos(theta);
    im[m] = sign * std::sin(theta);
  }
}

void fft_twiddles_gather_stages(const double* re, const double* im, int64_t n, double* stages_re,
                                double* stages_im) {
  for (int64_t len = 2; len <= n / 2; len *= 2)
    for (int64_t j = 0, step = n / len; j < len / 2; ++j) {
      stages_re[len / 2 - 1 + j] = re[j * step];
      stages_im[len / 2 - 1 + j] = im[j * step];
    }
}

bool fft_twiddles_acquire(int64_t len, bool inverse, FftTwiddles* out) {
  *out = FftTwiddles{nullptr, nullptr, 0, -1};
  if (len < 2 || table_bytes(len) > kMaxTableBytes) return false;
  Cache& c = cache();
  {
    std::lock_guard<std::mutex> g(c.lock);
    const int i = find(c, len, inverse);
    if (i >= 0) {
      hold(c, i, out);
      return true;
    }
  }
  // Built outside the lock: a large table takes milliseconds, and other
  // lengths should not wait for it. A power of two keeps w(j) for j < len/2
  // and, behind it, the shorter stages' twiddles gathered.
  const int64_t count = len;
  double* re = static_cast<double*>(std::malloc(size_t(table_bytes(count))));
  if (!re) return false;
  double* im = re + count;
  if (is_pow2(len)) {
    fft_twiddles_compute(re, im, len, len / 2, inverse);
    fft_twiddles_gather_stages(re, im, len, re + len / 2, im + len / 2);
  } else {
    fft_twiddles_compute(re, im, len, len, inverse);
  }
  std::lock_guard<std::mutex> g(c.lock);
  int i = find(c, len, inverse);  // another thread may have published it meanwhile
  if (i >= 0) {
    std::free(re);
    hold(c, i, out);
    return true;
  }
  i = make_room(c, table_bytes(count));
  if (i < 0) {
    std::free(re);
    return false;
  }
  Slot& s = c.slots[i];
  s.len = len;
  s.inverse = inverse;
  s.re = re;
  s.count = count;
  s.holders = 0;
  c.bytes += table_bytes(count);
  hold(c, i, out);
  return true;
}

void fft_twiddles_release(FftTwiddles* t) {
  if (t->slot < 0) return;
  Cache& c = cache();
  std::lock_guard<std::mutex> g(c.lock);
  --c.slots[t->slot].holders;
  *t = FftTwiddles{nullptr, nullptr, 0, -1};
}

int64_t fft_twiddles_cached_bytes() {
  Cache& c = cache();
  std::lock_guard<std::mutex> g(c.lock);
  return c.bytes;
}

int64_t fft_twiddles_bound_bytes() { return kBoundBytes; }
