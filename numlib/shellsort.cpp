// The Shell sort kernels: one generic driver (gap sequence and insertion step)
// and, per kernel, what is held, where it lives and when the held element
// moves before its left neighbour. Every double comparison ranks NaN above all
// numbers and equal to NaN, so NaNs end last ascending and first descending
// wherever they started, and each rule stays a strict weak order.
#include "numlib/shellsort.h"

#include <cmath>
#include <cstddef>

namespace {

using Idx = std::ptrdiff_t;

// take(i) copies element i (and companions) out; before(x, j) says whether the
// held x moves before element j; shift(from, to) copies one element; put(x, j)
// stores the held element.
template <class Take, class Before, class Shift, class Put>
void shell_sort(Idx n, Take take, Before before, Shift shift, Put put) {
  if (n <= 1) return;
  Idx h = 1;
  while (h < n) h = 3 * h + 1;
  do {
    h /= 3;
    for (Idx i = h; i < n; ++i) {
      auto x = take(i);
      Idx j = i;
      while (j >= h && before(x, j - h)) {
        shift(j - h, j);
        j -= h;
      }
      put(x, j);
    }
  } while (h > 1);
}

// a before b in ascending order, NaN ranking above every number.
inline bool nan_last_less(double a, double b) {
  return a < b || (std::isnan(b) && !std::isnan(a));
}
// Neither before the other: equal numbers, or two NaNs.
inline bool equivalent(double a, double b) { return !nan_last_less(a, b) && !nan_last_less(b, a); }

// Whether the held key x moves before the key y: y comes after x in the
// direction of the sort.
inline bool after(double y, double x, uint8_t descending) {
  return descending ? nan_last_less(y, x) : nan_last_less(x, y);
}

struct RealPairHeld {
  double key, comp;
};

}  // namespace

void shellsort_real(double* keys, int32_t n, int32_t stride, uint8_t descending) {
  if (stride == 0) return;
  const Idx s = stride;
  auto at = [&](Idx k) -> double& { return keys[k * s]; };
  auto shift = [&](Idx from, Idx to) { at(to) = at(from); };
  auto put = [&](double x, Idx j) { at(j) = x; };
  auto take = [&](Idx i) { return at(i); };
  shell_sort(n, take, [&](double x, Idx j) { return after(at(j), x, descending); }, shift, put);
}

void shellsort_int(int32_t* keys, int32_t n) {
  shell_sort(
      n, [&](Idx i) { return keys[i]; }, [&](int32_t x, Idx j) { return keys[j] > x; },
      [&](Idx from, Idx to) { keys[to] = keys[from]; }, [&](int32_t x, Idx j) { keys[j] = x; });
}

void shellsort_int_pairs(int32_t* keys, int32_t* companions, int32_t n) {
  struct Held {
    int32_t key, comp;
  };
  shell_sort(
      n, [&](Idx i) { return Held{keys[i], companions[i]}; },
      [&](const Held& x, Idx j) { return keys[j] > x.key; },
      [&](Idx from, Idx to) {
        keys[to] = keys[from];
        companions[to] = companions[from];
      },
      [&](const Held& x, Idx j) {
        keys[j] = x.key;
        companions[j] = x.comp;
      });
}

void shellsort_real_pair(double* keys, double* companions, int32_t n, int32_t stride,
                         uint8_t descending) {
  if (stride == 0) return;
  const Idx s = stride;
  auto take = [&](Idx i) { return RealPairHeld{keys[i * s], companions[i * s]}; };
  auto shift = [&](Idx from, Idx to) {
    keys[to * s] = keys[from * s];
    companions[to * s] = companions[from * s];
  };
  auto put = [&](const RealPairHeld& x, Idx j) {
    keys[j * s] = x.key;
    companions[j * s] = x.comp;
  };
  auto tie = [&](const RealPairHeld& x, Idx j) { return companions[j * s] > x.comp; };
  shell_sort(
      n, take,
      [&](const RealPairHeld& x, Idx j) {
        const double y = keys[j * s];
        return after(y, x.key, descending) || (equivalent(y, x.key) && tie(x, j));
      },
      shift, put);
}

void shellsort_complex(double* re, double* im, int32_t n, int32_t stride, uint8_t descending) {
  if (stride <= 0) return;
  const Idx s = stride;
  struct Held {
    double re, im;
  };
  // Each level is consulted only when the one above is equivalent (NaN with
  // NaN included), so the three levels form one strict weak order.
  shell_sort(
      n, [&](Idx i) { return Held{re[i * s], im[i * s]}; },
      [&](const Held& x, Idx j) {
        const double yr = re[j * s], yi = im[j * s];
        const double kx = x.re * x.re + x.im * x.im;
        const double ky = yr * yr + yi * yi;
        if (!equivalent(ky, kx)) return after(ky, kx, descending);
        const double ax = std::fabs(x.im), ay = std::fabs(yi);
        if (!equivalent(ay, ax)) return after(ay, ax, descending);
        return after(yi, x.im, descending);
      },
      [&](Idx from, Idx to) {
        re[to * s] = re[from * s];
        im[to * s] = im[from * s];
      },
      [&](const Held& x, Idx j) {
        re[j * s] = x.re;
        im[j * s] = x.im;
      });
}

void shellsort_index(int32_t n, ShellCompareFn compare, int32_t* index, void* context,
                     uint8_t descending) {
  for (int32_t i = 0; i < n; ++i) index[i] = i;
  shell_sort(
      n, [&](Idx i) { return index[i]; },
      [&](int32_t x, Idx j) {
        const int32_t y = index[j];
        int64_t r = compare(x, y, context);
        if (descending) r = -r;  // 64 bits: negating INT32_MIN is defined here
        return r < 0 || (r == 0 && x < y);
      },
      [&](Idx from, Idx to) { index[to] = index[from]; }, [&](int32_t x, Idx j) { index[j] = x; });
}

void shellsort_real_with_perm(double* keys, int32_t* perm, int32_t n, int32_t stride) {
  if (stride == 0) return;
  const Idx s = stride;
  struct Held {
    double key;
    int32_t p;
  };
  shell_sort(
      n, [&](Idx i) { return Held{keys[i * s], perm[i * s]}; },
      [&](const Held& x, Idx j) { return nan_last_less(x.key, keys[j * s]); },
      [&](Idx from, Idx to) {
        keys[to * s] = keys[from * s];
        perm[to * s] = perm[from * s];
      },
      [&](const Held& x, Idx j) {
        keys[j * s] = x.key;
        perm[j * s] = x.p;
      });
}

void shellsort_real_multi(double* keys, double* second, double* third, double* fourth, int32_t n,
                          int32_t stride, uint8_t descending) {
  if (stride == 0) return;
  const Idx s = stride;
  struct Held {
    double key, b, c, d;
  };
  auto tie = [&](const Held& x, Idx j) { return fourth && fourth[j * s] > x.d; };
  auto take = [&](Idx i) {
    return Held{keys[i], second[i * s], third[i * s], fourth ? fourth[i * s] : 0.0};
  };
  auto shift = [&](Idx from, Idx to) {
    keys[to] = keys[from];
    second[to * s] = second[from * s];
    third[to * s] = third[from * s];
    if (fourth) fourth[to * s] = fourth[from * s];
  };
  auto put = [&](const Held& x, Idx j) {
    keys[j] = x.key;
    second[j * s] = x.b;
    third[j * s] = x.c;
    if (fourth) fourth[j * s] = x.d;
  };
  shell_sort(
      n, take,
      [&](const Held& x, Idx j) {
        const double y = keys[j];
        return after(y, x.key, descending) || (equivalent(y, x.key) && tie(x, j));
      },
      shift, put);
}
