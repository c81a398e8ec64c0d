// The O(n log n) sorts behind sort and the set functions. Each returns what
// the Shell sort of shellsort.h that it stands in for returns: the same
// order wherever that order is fixed (companions and index permutations
// exactly; values up to the order of -0 and 0 among themselves). None
// allocates; the callers hand over scratch from the data stack.
#pragma once

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

// shellsort_real_pair's result for distinct companions, through n pairs of
// scratch; without scratch, shellsort_real_pair itself. A contiguous line
// merges its runs in the merge room, else in the scratch.
void sort_real_pair(double* keys, double* companions, int32_t n, int32_t stride,
                    uint8_t descending, SortPair* scratch, SortPair* merge = nullptr);

// shellsort_index's result: index := 0 .. n-1 ordered by compare (negated
// when descending), ties by position. compare must be a weak order (every
// comparison of the library is), since the order of the ties then decides.
void sort_index(int32_t n, ShellCompareFn compare, int32_t* index, void* context,
                uint8_t descending, int32_t* merge = nullptr);
