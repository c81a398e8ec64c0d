// The Runge-Kutta tableaus of ode45 (Dormand-Prince 5(4)) and ode23
// (Bogacki-Shampine 3(2)) as flat rows of doubles: s, d, p, the default
// Refine, the nodes, the propagated weights, the error weights, the
// couplings by source stage (s x s) and the continuous extension ((s+2) x d).
#pragma once

#include <cstdint>

constexpr int kTabStages = 0;
constexpr int kTabDense = 1;
constexpr int kTabExponent = 2;
constexpr int kTabRefine = 3;
constexpr int kTabNodes = 4;

// Offsets of the parts of a tableau with s intermediate stages and d dense coefficients.
struct TableauView {
  const double* t;
  int s, d;
  double node(int j) const { return t[kTabNodes + j - 1]; }            // stage j = 1..s
  double weight(int l) const { return t[4 + s + l]; }                  // l = 0..s
  double error(int l) const { return t[5 + 2 * s + l]; }               // l = 0..s+1
  double coupling(int l, int j) const { return t[7 + 3 * s + l * s + j - 1]; }  // stage l into j
  double dense(int l, int c) const { return t[7 + 3 * s + s * s + l * d + c]; }
};

inline TableauView tableau_view(const double* t) {
  return TableauView{t, static_cast<int>(t[kTabStages]), static_cast<int>(t[kTabDense])};
}

constexpr int kOde45TableauSize = 7 + 3 * 5 + 5 * 5 + 7 * 4;
constexpr int kOde23TableauSize = 7 + 3 * 2 + 2 * 2 + 4 * 3;
extern const double kOde45Tableau[kOde45TableauSize];
extern const double kOde23Tableau[kOde23TableauSize];
