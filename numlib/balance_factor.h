// One step of the balancing sweep shared by the eigenvalue routines and the
// matrix exponential: the power of two by which one index's row is divided
// and its column multiplied.
#pragma once

#include <algorithm>

namespace numk_detail {

// Factors and norms stay inside these bounds (the smallest normal number
// over the unit roundoff 2^-52, and its inverse), so that no scaled element
// underflows to zero or overflows; a change is kept only if it lowers the
// row and column norms of its index by a twentieth, so the sweeps end.
constexpr double kBalanceMin = 0x1p-1022 * 0x1p52;
constexpr double kBalanceMax = 1.0 / kBalanceMin;
constexpr double kBalanceGain = 0.95;
static_assert(kBalanceMin == 0x1p-970, "balancing stops 52 binary orders above the normal range");

// c and r are the scaled norms of the index's column and row off the
// diagonal (both nonzero), ca and ra their largest moduli, d the index's
// factor so far. Gives the factor f for this step, 1 when nothing changes.
inline double balance_factor(double c, double ca, double r, double ra, double d) {
  constexpr double kMin2 = kBalanceMin * 2.0, kMax2 = 1.0 / kMin2;
  const double sum = c + r;
  double f = 1.0, g = r / 2.0;
  while (c < g && std::max({f, c, ca}) < kMax2 && std::min({r, g, ra}) > kMin2) {
    f *= 2.0;
    c *= 2.0;
    ca *= 2.0;
    r /= 2.0;
    g /= 2.0;
    ra /= 2.0;
  }
  g = c / 2.0;
  while (g >= r && std::max(r, ra) < kMax2 && std::min({f, c, g, ca}) > kMin2) {
    f /= 2.0;
    c /= 2.0;
    g /= 2.0;
    ca /= 2.0;
    r *= 2.0;
    ra *= 2.0;
  }
  if (c + r >= kBalanceGain * sum) return 1.0;
  if (f < 1.0 && d < 1.0 && f * d <= kBalanceMin) return 1.0;
  if (f > 1.0 && d > 1.0 && d >= kBalanceMax / f) return 1.0;
  return f;
}

}  // namespace numk_detail
