// The O(n log n) sorts behind sort and the set functions. Each returns what
// the Shell sort of shellsort.h that it stands in for returns: the same
// order wherever that order is fixed (companions and index permutations
// exactly; values up to the order of -0 and 0 among themselves). None
// allocates; the callers hand over scratch from the data stack.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "numlib/shellsort.h"

// Each sort takes an optional merge room of (n + 1) / 2 elements: with it, a
// line made of few ordered runs (sorted, reversed, a few sorted stretches)
// is merged in close to linear time; without it, or with too many runs, the
// general sorts do the work. The result is the same either way.

// In place, NaN ranking above every number as in shellsort_real. scratch
// holds n doubles and is needed only for a stride other than 1; without it
// such a line goes to shellsort_real. A line whose NaNs differ in their
// bits (sign or payload) goes to shellsort_real too, which alone decides
// where each of them ends.
void sort_real(double* keys, int32_t n, int32_t stride, uint8_t descending, double* scratch,
               double* merge = nullptr);

// The numbers keys[0..n) (no NaN) in place, as sort_real sorts them, with no
// look for NaNs first; merge as for sort_real.
void sort_numbers(double* keys, int64_t n, uint8_t descending, double* merge);

// The orders that neighbours in a run may keep; a NaN keeps none of them.
enum class RunOrder : uint8_t { kNondecreasing, kAscending, kDescending, kEqual };

// The end of the run that starts at a[k - 1] (1 <= k <= n) and along which
// each element keeps the order with the one before it: the first place from
// k on that breaks it, or n. Read 16 bytes of elements at a time, without a
// branch an element; doubles, singles and integers of up to 32 bits.
template <class T>
int64_t run_end_from(const T* a, int64_t k, int64_t n, RunOrder order);

// The NaNs among keys[0..n).
int64_t count_nans(const double* keys, int64_t n);

// A key and the value that travels with it.
struct SortPair {
  double key;
  double comp;
};

// By key in the direction of the sort (NaN ranking above every number and
// equal to NaN), equal keys by the smaller companion first: the order of
// shellsort_real_pair, unique when the companions are distinct.
void sort_pairs(SortPair* pairs, int64_t n, uint8_t descending, SortPair* merge = nullptr);

// A 64-bit integer key and its position. Such keys are compared as
// integers, never as doubles, which lose exactness past 2^53; unsigned keys
// come with their top bit flipped, which orders them as signed keys.
struct IntPair {
  int64_t key;
  int64_t pos;
};

// By key, equal keys by the smaller position first (positions distinct);
// merge as for sort_pairs.
void sort_int_pairs(IntPair* pairs, int64_t n, IntPair* merge = nullptr);

// 64-bit integer keys (unsigned ones flipped as in IntPair) ascending in
// place; merge as for sort_pairs.
void sort_int_keys(int64_t* keys, int64_t n, int64_t* merge = nullptr);

// shellsort_real_pair's result for distinct companions, through n pairs of
// scratch; without scratch, shellsort_real_pair itself. A contiguous line
// merges its runs in the merge room, else in the scratch. Companions that
// ascend along the line (the positions of [s, i] = sort) may say so: a
// contiguous line without NaN is then ordered by its keys alone, through a
// stable merge.
void sort_real_pair(double* keys, double* companions, int32_t n, int32_t stride,
                    uint8_t descending, SortPair* scratch, SortPair* merge = nullptr,
                    bool ascending_companions = false);

// shellsort_index's result: index := 0 .. n-1 ordered by compare (negated
// when descending), ties by position. compare must be a weak order (every
// comparison of the library is), since the order of the ties then decides.
void sort_index(int32_t n, ShellCompareFn compare, int32_t* index, void* context,
                uint8_t descending, int32_t* merge = nullptr);

// A contiguous line of singles or integers keys[0..n), sorted by value
// where it lies, stably (equal values, -0 and 0 among them, in input order),
// and with it index[0..n) when given, which receives the positions 1, 2,
// ... in the sorted order (what it holds on entry is not read). room holds room_bytes, at least typed_sort_room_bytes(n,
// sizeof(T), index != 0), aligned for doubles; with room for a whole line
// (and its index) many runs merge faster. Values of one or two bytes are
// counted; the others are merged when they make few ordered runs: false,
// the line untouched, when they do not, or when a single is NaN.
template <class T>
bool sort_typed_line(T* keys, double* index, int64_t n, uint8_t descending, void* room, int64_t room_bytes);
int64_t typed_sort_room_bytes(int64_t n, uint32_t elem_bytes, bool with_index);

// Sampling for the paths of few distinct values (counting, hashing): the
// places come from a pseudo-random sequence, since a stride can fall in
// step with periodic data. *state starts at kSampleSeed.
constexpr uint64_t kSampleSeed = 0x2545F4914F6CDD1Dull;
inline int64_t next_sample_place(uint64_t* state, int64_t n) {
  *state = *state * 6364136223846793005ull + 1442695040888963407ull;
  return static_cast<int64_t>((*state >> 33) % static_cast<uint64_t>(n));
}

// Whether `taken` sampled values (sorted here) suggest at most `limit`
// distinct values in all. Were the values `limit` distinct ones evenly
// spread, s sampled elements would hold about limit (1 - e^(-s / limit))
// distinct values (about s - s^2 / (2 limit) for a limit well above s):
// the count is likely below the limit when the sample holds fewer.
template <class K>
bool sample_suggests_few(K* sample, int taken, int64_t limit) {
  std::sort(sample, sample + taken);
  int distinct = 1;
  for (int q = 1; q < taken; ++q) distinct += sample[q] == sample[q - 1] ? 0 : 1;
  const double m = static_cast<double>(limit);
  return distinct < m * -std::expm1(-taken / m);
}
