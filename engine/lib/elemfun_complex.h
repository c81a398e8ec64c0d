// Complex kernels of the elementary functions, one element at a time, and the
// complex values that real arguments outside a real domain take. Internal to
// the base library. An element on a cut along the real axis gets the value a
// real argument gets whatever the sign of its zero imaginary part (log1p, which
// has no such real value, takes the upper side's), so an element's result
// does not depend on whether its array happened to be complex.
#pragma once

#include <cstdint>

struct Cx {
  double re;
  double im;
};

constexpr double kPi = 3.141592653589793;
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kLog10E = 0.4342944819032518;      // 1 / ln 10
constexpr double kLog2E = 1.4426950408889634;       // 1 / ln 2
constexpr double kPiOverLn10 = 1.3643763538418412;  // imaginary part of log10 of a negative
constexpr double kPiOverLn2 = 4.532360141827194;    // imaginary part of log2 of a negative

// Smith's division, overflow-safe; 1 / 0 is +Inf + 0i.
Cx cx_recip(double a, double b);
Cx cx_div(Cx p, Cx q);

// Principal square root: a zero imaginary part counts as positive, so the
// root of a negative real is +i times the root of its magnitude.
Cx cx_sqrt(double a, double b);

// Exponential family on a complex element (selector letters of bi_exp).
Cx cx_exp_family(int letter, double a, double b);

// Circular and hyperbolic families on a complex element (selector letters
// of bi_circular and bi_hyperbolic, without the reciprocal).
Cx cx_circular(int letter, double a, double b);
Cx cx_hyperbolic(int letter, double a, double b);

// sec, csc (letters 'c', 's' of cx_circular) and sech, csch (of
// cx_hyperbolic) computed directly far from the real (imaginary) axis, where
// cos and sin overflow and their reciprocals would be NaN; any other letter
// is the reciprocal of the direct function. The real sech and csch follow
// the same rule, so a real element and its complex twin agree.
constexpr double kRecipFar = 20.0;
Cx cx_circular_recip(int letter, double a, double b);
Cx cx_hyperbolic_recip(int letter, double a, double b);
double real_sech(double x);
double real_csch(double x);

// Values of real arguments outside the real domain (the callers test the
// domain): asin and acos for |x| > 1, acosh for x < 1, atanh for |x| > 1.
Cx real_asin_wide(double x);
Cx real_acos_wide(double x);
Cx real_acosh_wide(double x);
Cx real_atanh_wide(double x);
