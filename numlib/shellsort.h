// In-place Shell sorts sharing one gap sequence (1, 4, 13, 40, ...: the largest
// below n first, each pass dividing by 3 down to 1) and one insertion step that
// holds one element with its companions and shifts the others. They differ in
// key type, companions, direction and tie rule; none allocates or fails.
// Strides count elements; a stride of 0 leaves the data as they are. Double
// keys rank NaN above every number: NaNs end last ascending, first descending.
#pragma once

#include <cstdint>

// Keys at keys[k * stride], k = 0 .. n-1 (stride of either sign).
void shellsort_real(double* keys, int32_t n, int32_t stride, uint8_t descending);

void shellsort_int(int32_t* keys, int32_t n);
void shellsort_int_pairs(int32_t* keys, int32_t* companions, int32_t n);

// Companions travel with the keys (same stride). Equal keys (NaNs among
// themselves too) are ordered by the companion: the smaller companion first.
void shellsort_real_pair(double* keys, double* companions, int32_t n, int32_t stride,
                         uint8_t descending);

// By squared modulus, then |imaginary part|, then imaginary part, all in the
// direction of the sort. Positive strides only.
void shellsort_complex(double* re, double* im, int32_t n, int32_t stride, uint8_t descending);

// Returns negative when the element at x comes before the one at y ascending,
// 0 when equal, positive otherwise.
using ShellCompareFn = int32_t (*)(int32_t x, int32_t y, void* context);

// index := 0 .. n-1 sorted by compare (negated when descending); equal elements
// keep their order, so the result is stable.
void shellsort_index(int32_t n, ShellCompareFn compare, int32_t* index, void* context,
                     uint8_t descending);

// Ascending; perm travels with the keys and is copied exactly.
void shellsort_real_with_perm(double* keys, int32_t* perm, int32_t n, int32_t stride);

// Keys contiguous; second, third and (when given) fourth at k * stride travel
// with them. With fourth, equal keys go by the smaller fourth value first.
void shellsort_real_multi(double* keys, double* second, double* third, double* fourth, int32_t n,
                          int32_t stride, uint8_t descending);
