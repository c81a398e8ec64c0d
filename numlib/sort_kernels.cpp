// The O(n log n) sorts: introsort over the numbers once the NaNs are set
// apart (large arrays spread over buckets of key ranges first), and over
// (key, companion) or (key, position) so that every order the Shell sorts
// fix is a strict total order here, which has one result.
// Written for speed: sort, unique and the set functions of large arrays
// spend their time here.
#include "numlib/sort_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

uint64_t bits_of(double x) {
  uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

// Counts the NaNs of a contiguous line; false when two differ in bits.
bool nans_alike(const double* keys, int64_t n, int64_t* count) {
  int64_t c = 0;
  uint64_t first = 0;
  bool alike = true;
  for (int64_t k = 0; k < n; ++k) {
    if (!std::isnan(keys[k])) continue;
    const uint64_t b = bits_of(keys[k]);
    if (c++ == 0) first = b;
    alike = alike && b == first;
  }
  *count = c;
  return alike;
}

// Large arrays are first spread over buckets of ascending key ranges, in
// place (each element moves once, the buckets filling side by side), so that
// the comparison sort then works on short, cache-resident pieces and the
// whole grows close to linearly. A bucket is a nondecreasing function of the
// key (so the order across buckets is the sort's), and equal keys, -0 and 0
// too, share one.
constexpr int64_t kBucketFrom = 4096;   // fewer elements: one comparison sort
constexpr int64_t kPerBucket = 256;
constexpr int kMaxBuckets = 1024;

template <class T, class Key, class Less>
void bucket_sort(T* a, int64_t n, Key key, Less less, bool descending) {
  if (n < kBucketFrom) {
    std::sort(a, a + n, less);
    return;
  }
  // The range of the finite keys (every key here is a number; infinities go
  // to the end buckets).
  double lo = INFINITY, hi = -INFINITY;
  for (int64_t k = 0; k < n; ++k) {
    const double v = key(a[k]);
    if (std::isfinite(v)) {
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  }
  const int buckets = static_cast<int>(std::min<int64_t>(kMaxBuckets, n / kPerBucket));
  const double scale = hi > lo ? buckets / (hi - lo) : 0.0;  // 0 also when the span overflows
  if (!(scale > 0) || !std::isfinite(scale)) {
    std::sort(a, a + n, less);
    return;
  }
  auto bucket_of = [&](const T& x) {
    const double v = key(x);
    int b;
    if (v <= lo)
      b = 0;
    else if (v >= hi)
      b = buckets - 1;
    else
      b = std::min(buckets - 1, static_cast<int>((v - lo) * scale));
    return descending ? buckets - 1 - b : b;
  };
  int64_t start[kMaxBuckets + 1] = {};
  int64_t next[kMaxBuckets];
  for (int64_t k = 0; k < n; ++k) ++start[bucket_of(a[k]) + 1];
  for (int b = 0; b < buckets; ++b) start[b + 1] += start[b];
  for (int b = 0; b < buckets; ++b) next[b] = start[b];
  // Each place is filled once: an element is swapped into its own bucket's
  // next free place until the one in hand belongs where it stands.
  for (int b = 0; b < buckets; ++b) {
    while (next[b] < start[b + 1]) {
      T x = a[next[b]];
      int t = bucket_of(x);
      while (t != b) {
        std::swap(x, a[next[t]++]);
        t = bucket_of(x);
      }
      a[next[b]++] = x;
    }
  }
  for (int b = 0; b < buckets; ++b) std::sort(a + start[b], a + start[b + 1], less);
}

// A contiguous line whose NaNs are all alike: the numbers are gathered and
// sorted, the NaNs written after (ascending) or before them.
void sort_contiguous(double* keys, int64_t n, int64_t nans, uint8_t descending) {
  auto key = [](double v) { return v; };
  auto greater = [](double a, double b) { return a > b; };
  auto less = [](double a, double b) { return a < b; };
  if (nans == 0) {
    if (descending)
      bucket_sort(keys, n, key, greater, true);
    else
      bucket_sort(keys, n, key, less, false);
    return;
  }
  double nan = 0;
  int64_t m = 0;
  for (int64_t k = 0; k < n; ++k) {
    if (std::isnan(keys[k]))
      nan = keys[k];
    else
      keys[m++] = keys[k];
  }
  if (descending) {
    bucket_sort(keys, m, key, greater, true);
    std::move_backward(keys, keys + m, keys + n);
    std::fill(keys, keys + nans, nan);
  } else {
    bucket_sort(keys, m, key, less, false);
    std::fill(keys + m, keys + n, nan);
  }
}

}  // namespace

void sort_real(double* keys, int32_t n, int32_t stride, uint8_t descending, double* scratch) {
  if (stride == 0 || n < 2) return;
  if (stride != 1 && !scratch) {
    shellsort_real(keys, n, stride, descending);
    return;
  }
  const int64_t s = stride;
  double* line = keys;
  if (stride != 1) {
    for (int64_t k = 0; k < n; ++k) scratch[k] = keys[k * s];
    line = scratch;
  }
  int64_t nans = 0;
  if (!nans_alike(line, n, &nans)) {
    shellsort_real(keys, n, stride, descending);
    return;
  }
  sort_contiguous(line, n, nans, descending);
  if (stride != 1)
    for (int64_t k = 0; k < n; ++k) keys[k * s] = scratch[k];
}

void sort_pairs(SortPair* pairs, int64_t n, uint8_t descending) {
  if (n < 2) return;
  // The NaNs go last ascending and first descending, among themselves by
  // companion; the numbers by key, then companion.
  SortPair* const end = pairs + n;
  auto by_comp = [](const SortPair& a, const SortPair& b) { return a.comp < b.comp; };
  if (descending) {
    SortPair* nums = std::partition(pairs, end, [](const SortPair& p) { return std::isnan(p.key); });
    std::sort(pairs, nums, by_comp);
    bucket_sort(
        nums, end - nums, [](const SortPair& p) { return p.key; },
        [](const SortPair& a, const SortPair& b) { return a.key > b.key || (a.key == b.key && a.comp < b.comp); },
        true);
  } else {
    SortPair* nan = std::partition(pairs, end, [](const SortPair& p) { return !std::isnan(p.key); });
    std::sort(nan, end, by_comp);
    bucket_sort(
        pairs, nan - pairs, [](const SortPair& p) { return p.key; },
        [](const SortPair& a, const SortPair& b) { return a.key < b.key || (a.key == b.key && a.comp < b.comp); },
        false);
  }
}

void sort_real_pair(double* keys, double* companions, int32_t n, int32_t stride,
                    uint8_t descending, SortPair* scratch) {
  if (stride == 0 || n < 2) return;
  if (!scratch) {
    shellsort_real_pair(keys, companions, n, stride, descending);
    return;
  }
  const int64_t s = stride;
  for (int64_t k = 0; k < n; ++k) scratch[k] = SortPair{keys[k * s], companions[k * s]};
  sort_pairs(scratch, n, descending);
  for (int64_t k = 0; k < n; ++k) {
    keys[k * s] = scratch[k].key;
    companions[k * s] = scratch[k].comp;
  }
}

void sort_index(int32_t n, ShellCompareFn compare, int32_t* index, void* context,
                uint8_t descending) {
  if (n < 1) return;
  for (int32_t i = 0; i < n; ++i) index[i] = i;
  std::sort(index, index + n, [&](int32_t x, int32_t y) {
    int64_t r = compare(x, y, context);
    if (descending) r = -r;  // 64 bits: negating INT32_MIN is defined here
    return r < 0 || (r == 0 && x < y);
  });
}
