// The O(n log n) sorts: introsort over the numbers once the NaNs are set
// apart (large arrays spread over buckets of key ranges first), and over
// (key, companion) or (key, position) so that every order the Shell sorts
// fix is a strict total order here, which has one result. Inputs made of a
// few ordered runs are merged and numbers of few distinct values counted
// instead, close to linear time, with the same result.
// Written for speed: sort, unique and the set functions of large arrays
// spend their time here.
#include "numlib/sort_kernels.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

namespace {

uint64_t bits_of(double x) {
  uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

// Two doubles and the lanes of a comparison of two such (all ones or zero):
// the scans below read a line two doubles at a time.
typedef double ScanPair __attribute__((vector_size(16)));
typedef int64_t ScanMask __attribute__((vector_size(16)));

}  // namespace

int64_t count_nans(const double* keys, int64_t n) {
  constexpr int64_t kStep = 8;
  ScanMask lanes{};
  int64_t k = 0;
  for (; k + kStep <= n; k += kStep)
    for (int64_t j = 0; j < kStep; j += 2) {
      ScanPair v;
      std::memcpy(&v, keys + k + j, sizeof v);
      lanes -= v != v;  // -1 in a lane that holds a NaN
    }
  int64_t c = lanes[0] + lanes[1];
  for (; k < n; ++k) c += keys[k] != keys[k] ? 1 : 0;
  return c;
}

namespace {

// Counts the NaNs of a contiguous line; false when two differ in bits.
// The count first, without a branch an element (most lines hold none).
bool nans_alike(const double* keys, int64_t n, int64_t* count) {
  const int64_t c = count_nans(keys, n);
  *count = c;
  uint64_t first = 0;
  bool seen = false;
  for (int64_t k = 0; k < n && c > 0; ++k) {
    if (!std::isnan(keys[k])) continue;
    const uint64_t b = bits_of(keys[k]);
    if (seen && b != first) return false;
    first = b;
    seen = true;
  }
  return true;
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

// --- Inputs already in order ---------------------------------------------------
// Data that is sorted, reversed or made of a few ordered stretches is the
// common case, and a natural merge sort costs it one scan and a merge per
// level of runs, where the bucket pass and the comparison sorts cost
// n log n whatever the order. A run is a nondecreasing stretch, or a
// strictly decreasing one that is reversed where it lies (no two of its
// elements are equal, so reversing keeps equal elements in input order).
// Merges take the left run first on ties, so the whole is stable and gives
// the one result of a strict total order too. A merge moves the shorter of
// its two runs out to the merge room, so the room holds half the elements.
// The sorts reach their elements through an accessor: a plain array, or the
// keys and companions of a line as two arrays, sorted where they lie.
// Written for speed: sorted and nearly sorted arrays spend their time here.

constexpr int kMaxRuns = 1024;         // more runs than this: the general sorts
constexpr int64_t kMinRunLength = 32;  // on average; shorter: the general sorts
// Values alone in as few runs as this merge in their own type: the runs
// move fewer bytes than through doubles (converted there and back).
constexpr int kRunsMergedInType = 64;

template <class T>
struct Plain {
  T* p;
  T get(int64_t k) const { return p[k]; }
  void set(int64_t k, const T& v) const { p[k] = v; }
  void reverse(int64_t lo, int64_t hi) const { std::reverse(p + lo, p + hi); }
};

struct Zipped {
  double* key;
  double* comp;
  SortPair get(int64_t k) const { return SortPair{key[k], comp[k]}; }
  void set(int64_t k, const SortPair& v) const {
    key[k] = v.key;
    comp[k] = v.comp;
  }
  void reverse(int64_t lo, int64_t hi) const {
    std::reverse(key + lo, key + hi);
    std::reverse(comp + lo, comp + hi);
  }
};

// Copies src[from..to) to dst from position at on; a copy to lower
// positions of the same array is safe. The accessors (here and in the
// merges) are taken by value: a copy's pointers stay in registers, where a
// reference's would be read again after every store.
template <class S, class D>
void copy_range(S src, int64_t from, int64_t to, D dst, int64_t at) {
  for (int64_t k = from; k < to; ++k) dst.set(at++, src.get(k));
}
template <class T>
void copy_range(Plain<T> src, int64_t from, int64_t to, Plain<T> dst, int64_t at) {
  if (to > from) std::memmove(dst.p + at, src.p + from, static_cast<size_t>(to - from) * sizeof(T));
}
void copy_range(Zipped src, int64_t from, int64_t to, Zipped dst, int64_t at) {
  copy_range(Plain<double>{src.key}, from, to, Plain<double>{dst.key}, at);
  copy_range(Plain<double>{src.comp}, from, to, Plain<double>{dst.comp}, at);
}

// The first place in a[lo..hi) where pred fails, pred holding on a prefix.
template <class A, class Pred>
int64_t first_failing(A a, int64_t lo, int64_t hi, Pred pred) {
  while (lo < hi) {
    const int64_t mid = lo + (hi - lo) / 2;
    if (pred(a.get(mid)))
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

// As first_failing, probing at steps of 1, 2, 4, ... from lo first: costs
// the log of the distance found, not of the length.
template <class A, class Pred>
int64_t gallop_forward(A a, int64_t lo, int64_t hi, Pred pred) {
  int64_t passed = lo, probe = lo, step = 1;
  while (probe < hi && pred(a.get(probe))) {
    passed = probe + 1;
    probe = lo + step;
    step *= 2;
  }
  return first_failing(a, passed, std::min(probe, hi), pred);
}

// The first place p in a[lo..hi) from which pred holds to the end (pred
// holding on a suffix), probing back from hi at steps of 1, 2, 4, ...
template <class A, class Pred>
int64_t gallop_backward(A a, int64_t lo, int64_t hi, Pred pred) {
  int64_t held = hi, probe = hi - 1, step = 1;
  while (probe >= lo && pred(a.get(probe))) {
    held = probe;
    probe = hi - 1 - step;
    step *= 2;
  }
  // pred fails at probe (or probe is below lo) and holds from held on.
  return first_failing(a, std::max(probe + 1, lo), held, [&](const auto& e) { return !pred(e); });
}

// Finds the runs of a[0..n) (bounds in `ends`, each run ending where the
// next starts), reversing the decreasing ones. Gives up, returning 0, once
// the runs pass the limit; a is then a permutation of what it was.
template <class A, class Less>
int find_runs(A a, int64_t n, Less less, int64_t* ends) {
  const int64_t limit = std::min<int64_t>(kMaxRuns, std::max<int64_t>(1, n / kMinRunLength));
  int runs = 0;
  for (int64_t start = 0; start < n;) {
    int64_t end = start + 1;
    if (end < n && less(a.get(end), a.get(end - 1))) {
      while (end < n && less(a.get(end), a.get(end - 1))) ++end;
      a.reverse(start, end);
    } else {
      while (end < n && !less(a.get(end), a.get(end - 1))) ++end;
    }
    if (runs == limit) return 0;
    ends[runs++] = end;
    start = end;
  }
  return runs;
}

// After this many elements in a row from one run, the merge looks for the
// end of that stretch by galloping and moves it as a block: runs that
// interleave in long stretches (periodic data, values repeated in blocks)
// cost a search a stretch.
constexpr int kGallopAfter = 8;

// Merges a[lo..mid) (moved out to buf) with a[mid..hi) from the front.
// out < j throughout (out = lo + i + (j - mid), i < nl), so the right run's
// elements move down into place before anything overwrites them.
// The loop of the merges from the front: left[i..i_end) and
// right[j..j_end) into out from place o on, until one of them is spent,
// which the places returned show. The heads stay in registers: each step
// reads only the element that replaces the one it moved and tests only
// that run's end. After kGallopAfter wins in a row, a gallop finds the end
// of the stretch, which moves as a block. Ties go to the left.
struct MergeStop {
  int64_t i, j, o;
};
template <class L, class R, class O, class Less>
MergeStop merge_front(L left, int64_t i, int64_t i_end, R right, int64_t j, int64_t j_end, O out, int64_t o,
                      Less less) {
  int left_wins = 0, right_wins = 0;
  if (i == i_end || j == j_end) return MergeStop{i, j, o};
  auto x = right.get(j), y = left.get(i);
  for (;;) {
    if (less(x, y)) {
      out.set(o++, x);
      left_wins = 0;
      if (++j == j_end) break;
      if (++right_wins >= kGallopAfter) {
        const int64_t end = gallop_forward(right, j, j_end, [&](const auto& e) { return less(e, y); });
        copy_range(right, j, end, out, o);
        o += end - j;
        j = end;
        right_wins = 0;
        if (j == j_end) break;
      }
      x = right.get(j);
    } else {
      out.set(o++, y);
      right_wins = 0;
      if (++i == i_end) break;
      if (++left_wins >= kGallopAfter) {
        const int64_t end = gallop_forward(left, i, i_end, [&](const auto& e) { return !less(x, e); });
        copy_range(left, i, end, out, o);
        o += end - i;
        i = end;
        left_wins = 0;
        if (i == i_end) break;
      }
      y = left.get(i);
    }
  }
  return MergeStop{i, j, o};
}

// Merges a[lo..mid) (moved out to buf) with a[mid..hi) from the front.
// out < j throughout (out = lo + i + (j - mid), i < nl), so the right run's
// elements move down into place before anything overwrites them.
template <class A, class Less>
void merge_low(A a, int64_t lo, int64_t mid, int64_t hi, A buf, Less less) {
  const int64_t nl = mid - lo;
  copy_range(a, lo, mid, buf, 0);
  const MergeStop m = merge_front(buf, 0, nl, a, mid, hi, a, lo, less);
  copy_range(buf, m.i, nl, a, m.o);  // what the right run leaves
}

// Merges a[lo..mid) with a[mid..hi) (moved out to buf) from the back; the
// mirror of merge_low (out = i + j > i, the left run's elements move up).
template <class A, class Less>
void merge_high(A a, int64_t lo, int64_t mid, int64_t hi, A buf, Less less) {
  const int64_t nr = hi - mid;
  copy_range(a, mid, hi, buf, 0);
  int64_t i = mid, j = nr, out = hi;
  int left_wins = 0, right_wins = 0;
  if (i > lo && j > 0) {  // the tails in registers, as merge_low's heads
    auto x = a.get(i - 1), y = buf.get(j - 1);
    for (;;) {
      if (less(y, x)) {  // the left element is greater: it goes last
        a.set(--out, x);
        right_wins = 0;
        if (--i == lo) break;
        if (++left_wins >= kGallopAfter) {
          const int64_t start = gallop_backward(a, lo, i, [&](const auto& e) { return less(y, e); });
          for (int64_t k = i - 1; k >= start; --k) a.set(--out, a.get(k));
          i = start;
          left_wins = 0;
          if (i == lo) break;
        }
        x = a.get(i - 1);
      } else {
        a.set(--out, y);
        left_wins = 0;
        if (--j == 0) break;
        if (++right_wins >= kGallopAfter) {
          const int64_t start = gallop_backward(buf, 0, j, [&](const auto& e) { return !less(e, x); });
          for (int64_t k = j - 1; k >= start; --k) a.set(--out, buf.get(k));
          j = start;
          right_wins = 0;
          if (j == 0) break;
        }
        y = buf.get(j - 1);
      }
    }
  }
  copy_range(buf, 0, j, a, lo);  // what the left run leaves
}

// Merges the ordered a[lo..mid) and a[mid..hi) through buf. The left run's
// head that no right element precedes, and the right run's tail that
// follows every left element, stay where they are; the shorter of what
// remains moves out.
template <class A, class Less>
void merge_adjacent(A a, int64_t lo, int64_t mid, int64_t hi, A buf, Less less) {
  if (!less(a.get(mid), a.get(mid - 1))) return;  // already in order
  const auto first_right = a.get(mid), last_left = a.get(mid - 1);
  lo = first_failing(a, lo, mid, [&](const auto& e) { return !less(first_right, e); });
  hi = first_failing(a, mid, hi, [&](const auto& e) { return less(e, last_left); });
  if (mid - lo <= hi - mid)
    merge_low(a, lo, mid, hi, buf, less);
  else
    merge_high(a, lo, mid, hi, buf, less);
}

// Merges runs first .. last (their bounds in ends) into one, the halves
// first: depth first, so that the small merges work in the cache.
template <class A, class Less>
void merge_run_range(const A& a, const int64_t* ends, int first, int last, const A& buf, Less less) {
  if (first == last) return;
  const int mid = first + (last - first) / 2;
  merge_run_range(a, ends, first, mid, buf, less);
  merge_run_range(a, ends, mid + 1, last, buf, less);
  merge_adjacent(a, first == 0 ? 0 : ends[first - 1], ends[mid], ends[last], buf, less);
}

// Merges src[lo..mid) and src[mid..hi) into dst[lo..hi), another array:
// merge_low's steps without the run moved out first.
template <class A, class Less>
void merge_into(A src, int64_t lo, int64_t mid, int64_t hi, A dst, Less less) {
  const MergeStop m = merge_front(src, lo, mid, src, mid, hi, dst, lo, less);
  copy_range(src, m.i, mid, dst, m.o);  // one run is spent: one of these is empty
  copy_range(src, m.j, hi, dst, m.o + (mid - m.i));
}

// Merges runs first .. last of a into one, in a when to_other is false,
// else in other (room for all of a): each merge reads one array and writes
// the other, so no run is moved out first. Many runs cost a pass a level
// this way where merging in place costs one and a half.
template <class A, class Less>
void merge_runs_between(A a, A other, const int64_t* ends, int first, int last, bool to_other, Less less) {
  const int64_t lo = first == 0 ? 0 : ends[first - 1], hi = ends[last];
  if (first == last) {
    if (to_other) copy_range(a, lo, hi, other, lo);
    return;
  }
  const int mid = first + (last - first) / 2;
  merge_runs_between(a, other, ends, first, mid, !to_other, less);
  merge_runs_between(a, other, ends, mid + 1, last, !to_other, less);
  merge_into(to_other ? a : other, lo, ends[mid], hi, to_other ? other : a, less);
}

// Sorts a[0..n) when it is made of few enough runs, through buf (room for
// (n + 1) / 2 elements); false, a then a permutation of what it was, when
// it is not.
template <class A, class Less>
bool natural_sort(const A& a, int64_t n, const A& buf, Less less) {
  if (n < 2) return true;
  int64_t ends[kMaxRuns];
  const int runs = find_runs(a, n, less, ends);
  if (runs == 0) return false;
  merge_run_range(a, ends, 0, runs - 1, buf, less);
  return true;
}

// --- Few distinct values ---------------------------------------------------------
// Values drawn from a small set and repeated many times (periodic data,
// codes, rounded measurements) are counted rather than merged or sorted:
// each value's count in a hash table in the merge room, the distinct values
// sorted, each written as many times as it came. Linear in the elements,
// where merging the many runs of periodic data costs a pass per level of
// runs. Values are told apart by their bits, so -0 and 0 both stay. Tried
// only where a sample suggests few distinct values.
// Written for speed: sorts of data with many repeats spend their time here.

constexpr int64_t kCountFrom = 4096;  // fewer elements: the other sorts
constexpr int64_t kCountRatio = 64;   // at most n / kCountRatio distinct values
constexpr int kCountSampled = 1024;
constexpr int kFewRuns = 4;           // this few runs: merged, however many repeats

struct CountSlot {
  double key;
  int64_t count;  // 0: an empty slot
};

// Whether keys[0..n) likely hold at most `limit` distinct values.
bool few_values_likely(const double* keys, int64_t n, int64_t limit) {
  double sample[kCountSampled];
  uint64_t state = kSampleSeed;
  for (double& x : sample) x = keys[next_sample_place(&state, n)];
  return sample_suggests_few(sample, kCountSampled, limit);
}

// Sorts the numbers keys[0..n) by counting them, through room (room_slots
// slots); false, the keys untouched, when they are not few.
bool count_sort(double* keys, int64_t n, uint8_t descending, CountSlot* room, int64_t room_slots) {
  const int64_t limit = n / kCountRatio;
  int64_t size = 64;
  while (size < 2 * limit) size *= 2;
  if (n < kCountFrom || size > room_slots || !few_values_likely(keys, n, limit)) return false;
  const uint64_t mask = static_cast<uint64_t>(size) - 1;
  const int shift = 64 - std::countr_zero(static_cast<uint64_t>(size));
  std::fill(room, room + size, CountSlot{0, 0});
  int64_t distinct = 0;
  uint64_t before = 0;
  CountSlot* run = nullptr;  // the slot of the value before, which most values repeat
  for (int64_t k = 0; k < n; ++k) {
    const uint64_t b = bits_of(keys[k]);
    if (run && b == before) {
      ++run->count;
      continue;
    }
    uint64_t h = ((b ^ (b >> 29)) * 0x9E3779B97F4A7C15ull) >> shift;
    while (room[h].count != 0 && bits_of(room[h].key) != b) h = (h + 1) & mask;
    if (room[h].count == 0) {
      if (++distinct > limit) return false;
      room[h].key = keys[k];
    }
    run = &room[h];
    ++run->count;
    before = b;
  }
  int64_t used = 0;
  for (int64_t q = 0; q < size; ++q)
    if (room[q].count != 0) room[used++] = room[q];
  if (descending)
    std::sort(room, room + used, [](const CountSlot& x, const CountSlot& y) { return x.key > y.key; });
  else
    std::sort(room, room + used, [](const CountSlot& x, const CountSlot& y) { return x.key < y.key; });
  int64_t at = 0;
  for (int64_t q = 0; q < used; ++q) {
    std::fill(keys + at, keys + at + room[q].count, room[q].key);
    at += room[q].count;
  }
  return true;
}

// The numbers keys[0..n) once their runs are found (bounds in ends, the
// decreasing ones reversed; runs 0 when there were too many), with a merge
// room of (n + 1) / 2 doubles: a few runs merged; else few distinct values
// counted; else more runs merged; else the buckets.
template <class Less>
void sort_found_runs(double* keys, int64_t n, uint8_t descending, double* merge, const int64_t* ends,
                     int runs, Less less) {
  const Plain<double> line{keys}, buf{merge};
  if (runs > 0 && runs <= kFewRuns) {
    merge_run_range(line, ends, 0, runs - 1, buf, less);
    return;
  }
  if (count_sort(keys, n, descending, reinterpret_cast<CountSlot*>(merge), (n + 1) / 4)) return;
  if (runs > 0) {
    merge_run_range(line, ends, 0, runs - 1, buf, less);
    return;
  }
  bucket_sort(keys, n, [](double v) { return v; }, less, descending != 0);
}

// --- One pass over a line of doubles ------------------------------------------------
// Whether a line is in order, the reverse of it, made of few runs or holds
// a NaN is found in one scan, where a look for order, a count of the NaNs
// and a look for runs would read the whole line three times. The long runs
// of ordered data are scanned a block at a time, without a branch an
// element.
// Written for speed: sorts of ordered lines spend most of their time here.

constexpr int64_t kScanBlock = 16;

// The end of the run from k - 1 on along which ok(a[q - 1], a[q]) holds
// (ok false with a NaN, and taking pairs of doubles lane by lane too);
// 1 <= k <= n.
template <class Ok>
int64_t run_end(const double* a, int64_t k, int64_t n, Ok ok) {
  while (k + kScanBlock <= n) {
    ScanMask all = ~ScanMask{};
    for (int64_t j = 0; j < kScanBlock; j += 2) {
      ScanPair prev, cur;
      std::memcpy(&prev, a + k + j - 1, sizeof prev);
      std::memcpy(&cur, a + k + j, sizeof cur);
      all &= ok(prev, cur);
    }
    if ((all[0] & all[1]) == 0) break;
    k += kScanBlock;
  }
  while (k < n && ok(a[k - 1], a[k])) ++k;
  return k;
}

enum class LineScan : uint8_t { kRuns, kTooMany, kNan };

// The runs of a[0..n) (n >= 2) as find_runs finds them for the order
// `before`, with `in_order` its non-strict form (both false with a NaN):
// bounds in ends, the decreasing runs marked in down, none reversed yet.
// kNan at the first NaN met; kTooMany once the runs pass limit, the run
// past it recorded too (find_runs reverses it before it gives up).
template <class InOrder, class Before>
LineScan scan_runs(const double* a, int64_t n, int64_t limit, InOrder in_order, Before before,
                   int64_t* ends, uint8_t* down, int* runs) {
  int count = 0;
  if (a[0] != a[0]) return LineScan::kNan;
  for (int64_t start = 0; start < n;) {
    int64_t end = start + 1;
    uint8_t reversed = 0;
    if (end < n) {
      if (a[end] != a[end]) return LineScan::kNan;
      if (before(a[end], a[end - 1])) {
        reversed = 1;
        end = run_end(a, end, n, [&](auto x, auto y) { return before(y, x); });
      } else {
        end = run_end(a, end, n, in_order);
      }
      if (end < n && a[end] != a[end]) return LineScan::kNan;
    }
    ends[count] = end;
    down[count] = reversed;
    if (count++ == limit) {
      *runs = count;
      return LineScan::kTooMany;
    }
    start = end;
  }
  *runs = count;
  return LineScan::kRuns;
}

// A contiguous line of doubles sorted through one scan when it holds no
// NaN: true when done, false (the line untouched) when it holds one.
template <class InOrder, class Before>
bool sort_scanned(double* line, int64_t n, uint8_t descending, double* merge, InOrder in_order,
                  Before before) {
  const int64_t limit = std::min<int64_t>(kMaxRuns, std::max<int64_t>(1, n / kMinRunLength));
  int64_t ends[kMaxRuns + 1];
  uint8_t down[kMaxRuns + 1];
  int runs = 0;
  const LineScan scan = scan_runs(line, n, limit, in_order, before, ends, down, &runs);
  if (scan == LineScan::kNan) return false;
  if (scan == LineScan::kRuns && runs == 1) {
    if (down[0]) std::reverse(line, line + n);
    return true;
  }
  // The rest unread: a NaN may lie there.
  if (scan == LineScan::kTooMany && count_nans(line + ends[runs - 1], n - ends[runs - 1]) > 0) return false;
  if (!merge) {
    bucket_sort(line, n, [](double v) { return v; }, before, descending != 0);
    return true;
  }
  for (int r = 0; r < runs; ++r)
    if (down[r]) std::reverse(line + (r == 0 ? 0 : ends[r - 1]), line + ends[r]);
  sort_found_runs(line, n, descending, merge, ends, scan == LineScan::kTooMany ? 0 : runs, before);
  return true;
}

// A contiguous line of keys whose companions ascend along it (the
// positions of [s, i] = sort), sorted through one scan of the keys when it
// holds no NaN and few enough runs: true when done, false (the line
// untouched) when not. The merges are stable, so equal keys keep their
// companions' order and the keys alone decide. merge holds n + 1 doubles;
// room, 2 n or none, lets many runs merge between it and the line.
template <class InOrder, class Before>
bool sort_indexed_scanned(double* keys, double* comps, int64_t n, double* merge, double* room,
                          InOrder in_order, Before before) {
  const int64_t limit = std::min<int64_t>(kMaxRuns, std::max<int64_t>(1, n / kMinRunLength));
  int64_t ends[kMaxRuns + 1];
  uint8_t down[kMaxRuns + 1];
  int runs = 0;
  if (scan_runs(keys, n, limit, in_order, before, ends, down, &runs) != LineScan::kRuns) return false;
  for (int r = 0; r < runs; ++r) {
    const int64_t lo = r == 0 ? 0 : ends[r - 1];
    if (!down[r]) continue;
    std::reverse(keys + lo, keys + ends[r]);
    std::reverse(comps + lo, comps + ends[r]);
  }
  if (runs == 1) return true;
  if (room && runs > 2) {
    const Zipped line{keys, comps}, other{room, room + n};
    merge_runs_between(line, other, ends, 0, runs - 1, false,
                       [&](const SortPair& a, const SortPair& b) { return before(a.key, b.key); });
    return true;
  }
  const Zipped line{keys, comps}, buf{merge, merge + (n + 1) / 2};
  merge_run_range(line, ends, 0, runs - 1, buf,
                  [&](const SortPair& a, const SortPair& b) { return before(a.key, b.key); });
  return true;
}

// Calls f(in_order, before) with the comparisons of the direction: in_order
// holds for neighbours that may stay as they are, before for a strict order.
template <class F>
bool by_direction(uint8_t descending, F f) {
  if (descending) return f([](auto a, auto b) { return a >= b; }, [](auto a, auto b) { return a > b; });
  return f([](auto a, auto b) { return a <= b; }, [](auto a, auto b) { return a < b; });
}

// A contiguous line whose NaNs are all alike: the numbers are gathered and
// sorted, the NaNs written after (ascending) or before them.
void sort_contiguous(double* keys, int64_t n, int64_t nans, uint8_t descending, double* merge) {
  if (nans == 0) {
    sort_numbers(keys, n, descending, merge);
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
  sort_numbers(keys, m, descending, merge);
  if (descending) {
    std::move_backward(keys, keys + m, keys + n);
    std::fill(keys, keys + nans, nan);
  } else {
    std::fill(keys + m, keys + n, nan);
  }
}

// The order of sort_pairs as one comparison: by key in the direction, NaN
// above every number, then by companion.
struct PairBefore {
  bool descending;
  bool operator()(const SortPair& a, const SortPair& b) const {
    if (descending ? a.key > b.key : a.key < b.key) return true;
    if (descending ? a.key < b.key : a.key > b.key) return false;
    const bool an = a.key != a.key, bn = b.key != b.key;  // equal keys, or a NaN
    if (an != bn) return descending ? an : bn;
    return a.comp < b.comp;
  }
};

}  // namespace

void sort_numbers(double* keys, int64_t n, uint8_t descending, double* merge) {
  if (n < 2) return;
  // Numbers only: the scan finds no NaN, so the sort is always done.
  by_direction(descending, [&](auto in_order, auto before) {
    return sort_scanned(keys, n, descending, merge, in_order, before);
  });
}

void sort_real(double* keys, int32_t n, int32_t stride, uint8_t descending, double* scratch,
               double* merge) {
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
  const bool done = by_direction(descending, [&](auto in_order, auto before) {
    return sort_scanned(line, n, descending, merge, in_order, before);
  });
  if (done) {
    if (stride != 1)
      for (int64_t k = 0; k < n; ++k) keys[k * s] = scratch[k];
    return;
  }
  int64_t nans = 0;
  if (!nans_alike(line, n, &nans)) {
    shellsort_real(keys, n, stride, descending);
    return;
  }
  sort_contiguous(line, n, nans, descending, merge);
  if (stride != 1)
    for (int64_t k = 0; k < n; ++k) keys[k * s] = scratch[k];
}

void sort_pairs(SortPair* pairs, int64_t n, uint8_t descending, SortPair* merge) {
  if (n < 2) return;
  if (merge && natural_sort(Plain<SortPair>{pairs}, n, Plain<SortPair>{merge}, PairBefore{descending != 0}))
    return;
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

// The buckets go by the key as a double: the conversion is nondecreasing
// and keeps equal keys equal, which is all the buckets ask; the sort within
// a bucket compares the integers themselves.
void sort_int_pairs(IntPair* pairs, int64_t n, IntPair* merge) {
  if (n < 2) return;
  auto before = [](const IntPair& a, const IntPair& b) {
    return a.key < b.key || (a.key == b.key && a.pos < b.pos);
  };
  if (merge && natural_sort(Plain<IntPair>{pairs}, n, Plain<IntPair>{merge}, before)) return;
  bucket_sort(
      pairs, n, [](const IntPair& p) { return static_cast<double>(p.key); }, before, false);
}

void sort_int_keys(int64_t* keys, int64_t n, int64_t* merge) {
  if (n < 2) return;
  auto before = [](int64_t a, int64_t b) { return a < b; };
  if (merge && natural_sort(Plain<int64_t>{keys}, n, Plain<int64_t>{merge}, before)) return;
  bucket_sort(keys, n, [](int64_t k) { return static_cast<double>(k); }, before, false);
}

void sort_real_pair(double* keys, double* companions, int32_t n, int32_t stride,
                    uint8_t descending, SortPair* scratch, SortPair* merge, bool ascending_companions) {
  if (stride == 0 || n < 2) return;
  if (ascending_companions && stride == 1 && merge &&
      by_direction(descending, [&](auto in_order, auto before) {
        return sort_indexed_scanned(keys, companions, n, reinterpret_cast<double*>(merge),
                                    reinterpret_cast<double*>(scratch), in_order, before);
      }))
    return;
  if (!scratch) {
    shellsort_real_pair(keys, companions, n, stride, descending);
    return;
  }
  const int64_t s = stride;
  const PairBefore before{descending != 0};
  // A line already in order, or in the reverse of it with no two keys
  // equal, is done where it lies (neither holds a NaN).
  auto pair = [&](int64_t k) { return SortPair{keys[k * s], companions[k * s]}; };
  auto in_order_at = [&](const double* key, const double* comp, int64_t step, int64_t q) {
    const double x = key[(q - 1) * step], y = key[q * step];  // false with a NaN
    return (descending ? x > y : x < y) || (x == y && comp[(q - 1) * step] < comp[q * step]);
  };
  int64_t k = 1;
  if (s == 1)  // the common case, with a constant step
    while (k < n && in_order_at(keys, companions, 1, k)) ++k;
  else
    while (k < n && in_order_at(keys, companions, s, k)) ++k;
  if (k >= n) return;
  if (k == 1) {
    auto reversed_at = [&](int64_t q) {  // false with a NaN
      return descending ? keys[(q - 1) * s] < keys[q * s] : keys[(q - 1) * s] > keys[q * s];
    };
    while (k < n && reversed_at(k)) ++k;
    if (k >= n && s == 1) {
      std::reverse(keys, keys + n);
      std::reverse(companions, companions + n);
      return;
    }
    if (k >= n) {
      for (int64_t lo = 0, hi = n - 1; lo < hi; ++lo, --hi) {
        std::swap(keys[lo * s], keys[hi * s]);
        std::swap(companions[lo * s], companions[hi * s]);
      }
      return;
    }
  }
  // A contiguous line of few runs is merged where it lies, through the
  // merge room or, lacking it, the pairs' (n words each way).
  if (stride == 1) {
    auto* room = reinterpret_cast<double*>(merge ? merge : scratch);
    const Zipped line{keys, companions}, buf{room, room + (int64_t{n} + 1) / 2};
    if (natural_sort(line, n, buf, before)) return;
    merge = nullptr;  // too many runs: found already
  }
  for (k = 0; k < n; ++k) scratch[k] = pair(k);
  sort_pairs(scratch, n, descending, merge);
  for (k = 0; k < n; ++k) {
    keys[k * s] = scratch[k].key;
    companions[k * s] = scratch[k].comp;
  }
}

void sort_index(int32_t n, ShellCompareFn compare, int32_t* index, void* context,
                uint8_t descending, int32_t* merge) {
  if (n < 1) return;
  for (int32_t i = 0; i < n; ++i) index[i] = i;
  auto before = [&](int32_t x, int32_t y) {
    int64_t r = compare(x, y, context);
    if (descending) r = -r;  // 64 bits: negating INT32_MIN is defined here
    return r < 0 || (r == 0 && x < y);
  };
  if (merge && natural_sort(Plain<int32_t>{index}, int64_t{n}, Plain<int32_t>{merge}, before)) return;
  std::sort(index, index + n, before);
}

// --- The other real classes ------------------------------------------------------
// Singles and integers sorted as their own type, where they lie: values of
// one or two bytes counted (a table of every value, so linear in n), others
// merged where they make few ordered runs. Both are stable, so equal values
// keep their input order, as the permutation sorts through the class's
// comparison keep it, and the index of [s, i] = sort travels with them.
// Written for speed: sort of ordered singles and integers spends its time
// here.
namespace {

template <class T>
struct KeyIndex {
  T key;
  double index;
};

template <class T>
struct Indexed {
  T* key;
  double* index;
  KeyIndex<T> get(int64_t k) const { return KeyIndex<T>{key[k], index[k]}; }
  void set(int64_t k, const KeyIndex<T>& v) const {
    key[k] = v.key;
    index[k] = v.index;
  }
  void reverse(int64_t lo, int64_t hi) const {
    std::reverse(key + lo, key + hi);
    std::reverse(index + lo, index + hi);
  }
};

template <class T>
void copy_range(Indexed<T> src, int64_t from, int64_t to, Indexed<T> dst, int64_t at) {
  copy_range(Plain<T>{src.key}, from, to, Plain<T>{dst.key}, at);
  copy_range(Plain<double>{src.index}, from, to, Plain<double>{dst.index}, at);
}

template <class T>
constexpr bool kCounted = std::is_integral_v<T> && sizeof(T) <= 2;

// A value's place in T's order among all of T's values.
template <class T>
uint32_t rank_of(T v) {
  using U = std::make_unsigned_t<T>;
  constexpr U kFlip = std::is_signed_v<T> ? U(U(1) << (8 * sizeof(T) - 1)) : U(0);
  return static_cast<U>(static_cast<U>(v) ^ kFlip);
}
template <class T>
T value_of(uint32_t rank) {
  using U = std::make_unsigned_t<T>;
  constexpr U kFlip = std::is_signed_v<T> ? U(U(1) << (8 * sizeof(T) - 1)) : U(0);
  return static_cast<T>(static_cast<U>(static_cast<U>(rank) ^ kFlip));
}

// Counts the values of keys[0..n) in counts (a slot for each of T's
// values), then writes them back in order; with index, first scatters the
// positions 1, 2, ... to where their values go, in input order.
template <class T>
void count_values(T* keys, double* index, int64_t n, bool descending, uint32_t* counts) {
  constexpr int64_t kValues = int64_t{1} << (8 * sizeof(T));
  // Four tables taking turns, so that a run of one value does not wait on
  // its own count at every element; then summed into the first.
  std::fill(counts, counts + 4 * kValues, 0u);
  int64_t k = 0;
  for (; k + 4 <= n; k += 4) {
    ++counts[rank_of(keys[k])];
    ++counts[kValues + rank_of(keys[k + 1])];
    ++counts[2 * kValues + rank_of(keys[k + 2])];
    ++counts[3 * kValues + rank_of(keys[k + 3])];
  }
  for (; k < n; ++k) ++counts[rank_of(keys[k])];
  for (int64_t r = 0; r < kValues; ++r)
    counts[r] += counts[kValues + r] + counts[2 * kValues + r] + counts[3 * kValues + r];
  auto each_rank = [&](auto f) {
    if (descending)
      for (int64_t r = kValues - 1; r >= 0; --r) f(static_cast<uint32_t>(r));
    else
      for (int64_t r = 0; r < kValues; ++r) f(static_cast<uint32_t>(r));
  };
  if (index) {
    uint32_t at = 0;  // each value's first place
    each_rank([&](uint32_t r) {
      const uint32_t c = counts[r];
      counts[r] = at;
      at += c;
    });
    for (k = 0; k < n; ++k) index[counts[rank_of(keys[k])]++] = double(k + 1);
    uint32_t from = 0;  // counts[r] is now where value r's places end
    each_rank([&](uint32_t r) {
      std::fill(keys + from, keys + counts[r], value_of<T>(r));
      from = counts[r];
    });
    return;
  }
  int64_t at = 0;
  each_rank([&](uint32_t r) {
    std::fill(keys + at, keys + at + counts[r], value_of<T>(r));
    at += counts[r];
  });
}

// The end of the run from k - 1 on along which ok(a[q - 1], a[q]) holds
// (1 <= k <= n), a block at a time and 16 bytes of elements a comparison
// (ok takes vectors of T as well as T).
template <class T, class Ok>
int64_t typed_run_end(const T* a, int64_t k, int64_t n, Ok ok) {
  typedef T Lanes __attribute__((vector_size(16)));
  using Mask = decltype(Lanes{} < Lanes{});
  constexpr int64_t kLanes = 16 / sizeof(T), kBlock = 32;
  static_assert(kBlock % kLanes == 0);
  while (k + kBlock <= n) {
    Mask all = ~Mask{};
    for (int64_t j = 0; j < kBlock; j += kLanes) {
      Lanes prev, cur;
      std::memcpy(&prev, a + k + j - 1, sizeof prev);
      std::memcpy(&cur, a + k + j, sizeof cur);
      all &= ok(prev, cur);
    }
    uint64_t words[2];
    std::memcpy(words, &all, sizeof words);
    if ((words[0] & words[1]) != ~uint64_t{0}) break;
    k += kBlock;
  }
  while (k < n && ok(a[k - 1], a[k])) ++k;
  return k;
}

// The runs of keys[0..n) (n >= 2) as sort_scanned finds them: bounds in
// ends, the decreasing ones marked in down; false once they pass limit, or
// at a NaN (which ends every run, so looking at each run's first element
// finds it).
template <class T, class InOrder, class Before>
bool typed_runs(const T* keys, int64_t n, int64_t limit, InOrder in_order, Before before, int64_t* ends,
                uint8_t* down, int* runs) {
  int count = 0;
  for (int64_t start = 0; start < n;) {
    if (keys[start] != keys[start]) return false;
    int64_t end = start + 1;
    uint8_t reversed = 0;
    if (end < n && before(keys[end], keys[end - 1])) {
      reversed = 1;
      end = typed_run_end(keys, end, n, [&](auto x, auto y) { return before(y, x); });
    } else {
      end = typed_run_end(keys, end, n, in_order);
    }
    if (count == limit) return false;
    ends[count] = end;
    down[count++] = reversed;
    start = end;
  }
  *runs = count;
  return true;
}

// Values alone in many runs sorted as doubles, through the sorts of
// doubles (values of few distinct kinds counted there), when every value
// is exact as a double and a single holds no -0 (whose place among zeros
// the sort of doubles does not keep): false, keys untouched, when not, or
// when room lacks n doubles and their merge room.
template <class T>
bool sort_as_doubles(T* keys, int64_t n, bool descending, void* room, int64_t room_bytes) {
  if (room_bytes < 8 * (n + (n + 1) / 2)) return false;
  auto* d = static_cast<double*>(room);
  bool exact = true;
  for (int64_t k = 0; k < n; ++k) {
    d[k] = static_cast<double>(keys[k]);
    if constexpr (std::is_floating_point_v<T>)
      exact &= !(keys[k] == 0 && std::signbit(keys[k]));
    else if constexpr (sizeof(T) == 8)
      exact &= d[k] >= -9007199254740992.0 && d[k] <= 9007199254740992.0;
  }
  if (!exact) return false;
  sort_numbers(d, n, descending ? 1 : 0, d + n);
  for (int64_t k = 0; k < n; ++k) keys[k] = static_cast<T>(d[k]);
  return true;
}

// Singles and 4-byte integers as unsigned bits in the same order (-0 is
// left to the caller: its bits come just below those of 0).
template <class T>
struct OrderBits {
  static_assert(sizeof(T) == 4);
  static constexpr uint32_t kTop = uint32_t{1} << 31;
  static uint32_t of(T v) {
    uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    if constexpr (std::is_floating_point_v<T>) return (b & kTop) ? ~b : b | kTop;
    return std::is_signed_v<T> ? b ^ kTop : b;
  }
  static T value(uint32_t r) {
    if constexpr (std::is_floating_point_v<T>)
      r = (r & kTop) ? r ^ kTop : ~r;
    else if constexpr (std::is_signed_v<T>)
      r ^= kTop;
    T v;
    std::memcpy(&v, &r, sizeof v);
    return v;
  }
};

// Many runs with the index, where it costs less than merging them `levels`
// times: a stable radix sort of (bits, position) records, a pass for each
// byte of the bits that differs between elements, back and forth between
// two record arrays in room. Linear however the runs interleave (periodic
// data merges element by element at every level). False, the line
// untouched, without room for the records, or for a single holding -0.
template <class T>
bool radix_sort_indexed(T* keys, double* index, int64_t n, bool descending, int levels, void* room,
                        int64_t room_bytes) {
  using Bits = OrderBits<T>;
  using U = uint32_t;
  struct Rec {
    U bits;
    uint32_t pos;
  };
  if (room_bytes < 2 * n * int64_t{sizeof(Rec)} || n > int64_t{UINT32_MAX}) return false;
  const U flip = descending ? ~U{0} : U{0};  // descending: the bits complemented, ties still by position
  U all_and = ~U{0}, all_or = 0;
  bool negative_zero = false;
  for (int64_t k = 0; k < n; ++k) {
    const U b = Bits::of(keys[k]);
    all_and &= b;
    all_or |= b;
    if constexpr (std::is_floating_point_v<T>) negative_zero |= b == U(~Bits::kTop);
  }
  if (negative_zero) return false;
  const U varying = all_and ^ all_or;
  if (varying == 0) return false;  // all equal: one run
  // Digits of 8 bits from the lowest bit that differs up to the highest:
  // the top one (bits top_shift and up) may go first, into buckets that
  // the other digits then sort within the cache.
  const int low = std::countr_zero(varying), high = 31 - std::countl_zero(varying);
  const int passes = (high - low) / 8 + 1;
  const int top_shift = std::max(low, high - 7);
  if (2 + 3 * passes >= 2 * levels) return false;  // merging costs less even bucketed (see below)
  uint32_t top_counts[4][256] = {};
  {
    int64_t k = 0;
    for (; k + 4 <= n; k += 4)
      for (int t = 0; t < 4; ++t) ++top_counts[t][((Bits::of(keys[k + t]) ^ flip) >> top_shift) & 255];
    for (; k < n; ++k) ++top_counts[0][((Bits::of(keys[k]) ^ flip) >> top_shift) & 255];
  }
  uint32_t starts[257];
  int64_t buckets = 0, largest = 0;
  starts[0] = 0;
  for (int v = 0; v < 256; ++v) {
    const int64_t c = top_counts[0][v] + top_counts[1][v] + top_counts[2][v] + top_counts[3][v];
    starts[v + 1] = static_cast<uint32_t>(starts[v] + c);
    buckets += c > 0 ? 1 : 0;
    largest = std::max(largest, c);
  }
  const bool bucketed = passes > 1 && buckets >= 16 && largest <= n / 8;
  // In halves of a level of merging: packing and unpacking cost about two,
  // a digit's count and scatter about five over the whole line (its writes
  // go to 256 places) and three within the cache.
  if (2 + (bucketed ? 3 : 5) * passes >= 2 * levels) return false;
  auto* from = static_cast<Rec*>(room);
  Rec* to = from + n;
  for (int64_t k = 0; k < n; ++k) from[k] = Rec{U(Bits::of(keys[k]) ^ flip), static_cast<uint32_t>(k)};
  // A stable pass of src[lo..hi) to dst[lo..hi) by the digit at shift.
  auto pass = [](const Rec* src, Rec* dst, int64_t lo, int64_t hi, int shift) {
    // Four count tables taking turns, so that a run of one value does not
    // wait on its own count.
    uint32_t counts[4][256] = {};
    int64_t k = lo;
    for (; k + 4 <= hi; k += 4)
      for (int t = 0; t < 4; ++t) ++counts[t][(src[k + t].bits >> shift) & 255];
    for (; k < hi; ++k) ++counts[0][(src[k].bits >> shift) & 255];
    auto at = static_cast<uint32_t>(lo);
    for (int v = 0; v < 256; ++v) {
      const uint32_t c = counts[0][v] + counts[1][v] + counts[2][v] + counts[3][v];
      counts[0][v] = at;
      at += c;
    }
    for (k = lo; k < hi; ++k) dst[counts[0][(src[k].bits >> shift) & 255]++] = src[k];
  };
  auto unpack = [&](const Rec* src, int64_t lo, int64_t hi) {
    for (int64_t k = lo; k < hi; ++k) {
      keys[k] = Bits::value(src[k].bits ^ flip);
      index[k] = src[k].pos + 1.0;
    }
  };
  if (!bucketed) {
    // Every digit from the lowest up, over the whole line.
    for (int shift = low; shift <= high; shift += 8) {
      pass(from, to, 0, n, shift);
      std::swap(from, to);
    }
    unpack(from, 0, n);
    return true;
  }
  {
    uint32_t at[256];
    std::copy(starts, starts + 256, at);
    for (int64_t k = 0; k < n; ++k) to[at[(from[k].bits >> top_shift) & 255]++] = from[k];
  }
  for (int v = 0; v < 256; ++v) {
    const int64_t lo = starts[v], hi = starts[v + 1];
    Rec *src = to, *dst = from;
    // The digits below the top one (the last may reach into it, which is
    // one value within a bucket).
    for (int shift = low; shift < top_shift && hi - lo > 1; shift += 8) {
      pass(src, dst, lo, hi, shift);
      std::swap(src, dst);
    }
    unpack(src, lo, hi);
  }
  return true;
}

// out[0..n) := first, first + step, ... (step 1 or -1): in 32 bits where
// they fit (every line sort takes does), which convert a vector at a time.
void write_positions(double* out, int64_t n, int64_t first, int step) {
  if (first >= 0 && first + n <= std::numeric_limits<int32_t>::max()) {
    const auto f = static_cast<int32_t>(first), count = static_cast<int32_t>(n);
    if (step > 0)
      for (int32_t q = 0; q < count; ++q) out[q] = static_cast<double>(f + q);
    else
      for (int32_t q = 0; q < count; ++q) out[q] = static_cast<double>(f - q);
    return;
  }
  for (int64_t q = 0; q < n; ++q) out[q] = static_cast<double>(first + step * q);
}

// A run of keys read with the positions they came from, which are implicit:
// k + 1, or c - k where the run was decreasing and has been reversed.
template <class T>
struct PositionedRun {
  const T* key;
  bool down;
  int64_t c;
  KeyIndex<T> get(int64_t k) const { return KeyIndex<T>{key[k], double(down ? c - k : k + 1)}; }
};

// Two runs with the index: the left run's keys move out to buf and the two
// merge back, each element's position written as it lands (a decreasing
// run, reversed, counts its positions down), so that no positions are
// written first and none move out. Ties keep the left run first.
template <class T, class Before>
void merge_two_runs(T* keys, double* index, int64_t n, int64_t mid, const uint8_t* down, T* buf,
                    Before before) {
  std::memcpy(buf, keys, static_cast<size_t>(mid) * sizeof(T));
  const PositionedRun<T> left{buf, down[0] != 0, mid}, right{keys, down[1] != 0, mid + n};
  const MergeStop m = merge_front(left, 0, mid, right, mid, n, Indexed<T>{keys, index}, 0,
                                  [&](const KeyIndex<T>& a, const KeyIndex<T>& b) { return before(a.key, b.key); });
  copy_range(left, m.i, mid, Indexed<T>{keys, index}, m.o);
  copy_range(right, m.j, n, Indexed<T>{keys, index}, m.o + (mid - m.i));  // in place: positions alone
}

template <class T, class InOrder, class Before>
bool sort_typed_runs(T* keys, double* index, int64_t n, bool descending, void* room, int64_t room_bytes,
                     int64_t most_runs, InOrder in_order, Before before) {
  const int64_t limit = std::min<int64_t>(most_runs, std::max<int64_t>(1, n / kMinRunLength));
  int64_t ends[kMaxRuns];
  uint8_t down[kMaxRuns];
  int runs = 0;
  if (!typed_runs(keys, n, limit, in_order, before, ends, down, &runs)) return false;
  if (!index && runs > kRunsMergedInType && sort_as_doubles(keys, n, descending, room, room_bytes)) return true;
  if constexpr (sizeof(T) == 4) {  // records of wider keys scatter too slowly to gain
    int levels = 0;
    while ((int64_t{1} << levels) < runs) ++levels;
    if (index && runs > 2 && radix_sort_indexed(keys, index, n, descending, levels, room, room_bytes))
      return true;
  }
  if (index && runs == 2 && room_bytes >= ends[0] * int64_t{sizeof(T)}) {
    for (int r = 0; r < 2; ++r)
      if (down[r]) std::reverse(keys + (r == 0 ? 0 : ends[0]), keys + ends[r]);
    merge_two_runs(keys, index, n, ends[0], down, static_cast<T*>(room), before);
    return true;
  }
  // The positions, a decreasing run's reversed with it.
  for (int r = 0; r < runs; ++r) {
    const int64_t lo = r == 0 ? 0 : ends[r - 1], hi = ends[r];
    if (down[r]) std::reverse(keys + lo, keys + hi);
    if (index) write_positions(index + lo, hi - lo, down[r] ? hi : lo + 1, down[r] ? -1 : 1);
  }
  if (runs == 1) return true;
  // Many runs merge back and forth between the line and a whole line's
  // room, where there is one.
  if (runs > 2 && room_bytes >= n * int64_t(sizeof(T) + (index ? 8 : 0))) {
    if (index) {
      auto* other_index = static_cast<double*>(room);
      merge_runs_between(Indexed<T>{keys, index}, Indexed<T>{reinterpret_cast<T*>(other_index + n), other_index},
                         ends, 0, runs - 1, false,
                         [&](const KeyIndex<T>& a, const KeyIndex<T>& b) { return before(a.key, b.key); });
    } else {
      merge_runs_between(Plain<T>{keys}, Plain<T>{static_cast<T*>(room)}, ends, 0, runs - 1, false, before);
    }
    return true;
  }
  const int64_t half = (n + 1) / 2;
  if (index) {
    auto* room_index = static_cast<double*>(room);
    const Indexed<T> line{keys, index}, buf{reinterpret_cast<T*>(room_index + half), room_index};
    merge_run_range(line, ends, 0, runs - 1, buf,
                    [&](const KeyIndex<T>& a, const KeyIndex<T>& b) { return before(a.key, b.key); });
  } else {
    merge_run_range(Plain<T>{keys}, ends, 0, runs - 1, Plain<T>{static_cast<T*>(room)}, before);
  }
  return true;
}

}  // namespace

int64_t typed_sort_room_bytes(int64_t n, uint32_t elem_bytes, bool with_index) {
  const int64_t half = (n + 1) / 2;
  const int64_t merging = half * (elem_bytes + (with_index ? 8 : 0));
  const int64_t counting = elem_bytes <= 2 ? (int64_t{16} << (8 * elem_bytes)) : 0;
  return std::max(merging, counting);
}

// 64-bit integers in many runs through the integer sorts, by keys whose
// ascending order is the sort's (unsigned ones with the top bit flipped,
// complemented when descending); with the index as (key, position) pairs,
// which keep equal keys in position order. False, keys untouched, when
// room lacks the pairs.
template <class T>
bool sort_wide_integers(T* keys, double* index, int64_t n, bool descending, void* room, int64_t room_bytes) {
  auto key_of = [descending](T v) {
    const int64_t k = std::is_signed_v<T> ? int64_t(v) : int64_t(uint64_t(v) ^ (uint64_t{1} << 63));
    return descending ? ~k : k;
  };
  auto value_of = [descending](int64_t k) {
    if (descending) k = ~k;
    return std::is_signed_v<T> ? T(k) : T(uint64_t(k) ^ (uint64_t{1} << 63));
  };
  const int64_t half = (n + 1) / 2;
  if (index) {
    if (room_bytes < n * int64_t{sizeof(IntPair)}) return false;
    auto* pairs = static_cast<IntPair*>(room);
    IntPair* merge = room_bytes >= (n + half) * int64_t{sizeof(IntPair)} ? pairs + n : nullptr;
    for (int64_t k = 0; k < n; ++k) pairs[k] = IntPair{key_of(keys[k]), k};
    sort_int_pairs(pairs, n, merge);
    for (int64_t k = 0; k < n; ++k) {
      keys[k] = value_of(pairs[k].key);
      index[k] = double(pairs[k].pos + 1);
    }
    return true;
  }
  auto* ordered = reinterpret_cast<int64_t*>(keys);  // the same element, as its key
  for (int64_t k = 0; k < n; ++k) ordered[k] = key_of(keys[k]);
  sort_int_keys(ordered, n, room_bytes >= half * 8 ? static_cast<int64_t*>(room) : nullptr);
  for (int64_t k = 0; k < n; ++k) keys[k] = value_of(ordered[k]);
  return true;
}

// Few runs of one- and two-byte values merge (long stretches of one run
// then move as blocks) faster than they count.
constexpr int64_t kFewRunsBeforeCounting = 8;

template <class T>
bool sort_typed_line(T* keys, double* index, int64_t n, uint8_t descending, void* room, int64_t room_bytes) {
  if (n < 2) {
    if (index && n == 1) index[0] = 1;
    return true;
  }
  auto by_runs = [&](int64_t most_runs) {
    if (descending)
      return sort_typed_runs(keys, index, n, true, room, room_bytes, most_runs,
                             [](auto a, auto b) { return a >= b; }, [](auto a, auto b) { return a > b; });
    return sort_typed_runs(keys, index, n, false, room, room_bytes, most_runs,
                           [](auto a, auto b) { return a <= b; }, [](auto a, auto b) { return a < b; });
  };
  if constexpr (kCounted<T>) {
    if (n >= (int64_t{1} << (8 * sizeof(T))) / 16) {
      if (!by_runs(kFewRunsBeforeCounting)) count_values(keys, index, n, descending != 0, static_cast<uint32_t*>(room));
      return true;
    }
  }
  if constexpr (std::is_integral_v<T> && sizeof(T) == 8)
    return by_runs(kMaxRuns) || sort_wide_integers(keys, index, n, descending != 0, room, room_bytes);
  return by_runs(kMaxRuns);
}

template <class T>
int64_t run_end_from(const T* a, int64_t k, int64_t n, RunOrder order) {
  switch (order) {
    case RunOrder::kNondecreasing: return typed_run_end(a, k, n, [](auto x, auto y) { return x <= y; });
    case RunOrder::kAscending: return typed_run_end(a, k, n, [](auto x, auto y) { return x < y; });
    case RunOrder::kDescending: return typed_run_end(a, k, n, [](auto x, auto y) { return x > y; });
    case RunOrder::kEqual: break;
  }
  return typed_run_end(a, k, n, [](auto x, auto y) { return x == y; });
}

template int64_t run_end_from(const double*, int64_t, int64_t, RunOrder);
template int64_t run_end_from(const float*, int64_t, int64_t, RunOrder);
template int64_t run_end_from(const int8_t*, int64_t, int64_t, RunOrder);
template int64_t run_end_from(const uint8_t*, int64_t, int64_t, RunOrder);
template int64_t run_end_from(const int16_t*, int64_t, int64_t, RunOrder);
template int64_t run_end_from(const uint16_t*, int64_t, int64_t, RunOrder);
template int64_t run_end_from(const int32_t*, int64_t, int64_t, RunOrder);
template int64_t run_end_from(const uint32_t*, int64_t, int64_t, RunOrder);

template bool sort_typed_line(float*, double*, int64_t, uint8_t, void*, int64_t);
template bool sort_typed_line(int8_t*, double*, int64_t, uint8_t, void*, int64_t);
template bool sort_typed_line(uint8_t*, double*, int64_t, uint8_t, void*, int64_t);
template bool sort_typed_line(int16_t*, double*, int64_t, uint8_t, void*, int64_t);
template bool sort_typed_line(uint16_t*, double*, int64_t, uint8_t, void*, int64_t);
template bool sort_typed_line(int32_t*, double*, int64_t, uint8_t, void*, int64_t);
template bool sort_typed_line(uint32_t*, double*, int64_t, uint8_t, void*, int64_t);
template bool sort_typed_line(int64_t*, double*, int64_t, uint8_t, void*, int64_t);
template bool sort_typed_line(uint64_t*, double*, int64_t, uint8_t, void*, int64_t);
