// A transfer function num(s)/den(s) evaluated at one complex point. Plain
// kernel on caller arrays: no engine access, no allocation.
#pragma once

#include <cstdint>

// num holds m + 1 coefficients and den n + 1, highest power first. A zero
// denominator gives (Re p / 0, 0) for a real numerator value p, else NaNs.
void tf_eval_at_complex(const double* num, int32_t m, const double* den, int32_t n, double re, double im,
                        double* out_re, double* out_im);
