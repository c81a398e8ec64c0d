// The two Runge-Kutta pairs, each value the double of its published fraction.
#include "numlib/calculus/ode_tableaus.h"

const double kOde45Tableau[kOde45TableauSize] = {
    5, 4, 0.2, 4,
    // nodes
    1.0 / 5, 3.0 / 10, 4.0 / 5, 8.0 / 9, 1,
    // propagated weights, stages 0..5
    35.0 / 384, 0, 500.0 / 1113, 125.0 / 192, -2187.0 / 6784, 11.0 / 84,
    // error weights, stages 0..6
    71.0 / 57600, 0, -71.0 / 16695, 71.0 / 1920, -17253.0 / 339200, 22.0 / 525, -1.0 / 40,
    // couplings: row l is stage l's weight in stages 1..5
    1.0 / 5, 3.0 / 40, 44.0 / 45, 19372.0 / 6561, 9017.0 / 3168,
    0, 9.0 / 40, -56.0 / 15, -25360.0 / 2187, -355.0 / 33,
    0, 0, 32.0 / 9, 64448.0 / 6561, 46732.0 / 5247,
    0, 0, 0, -212.0 / 729, 49.0 / 176,
    0, 0, 0, 0, -5103.0 / 18656,
    // continuous extension: coefficients of theta .. theta^4 per stage
    1, -183.0 / 64, 37.0 / 12, -145.0 / 128,
    0, 0, 0, 0,
    0, 1500.0 / 371, -1000.0 / 159, 1000.0 / 371,
    0, -125.0 / 32, 125.0 / 12, -375.0 / 64,
    0, 9477.0 / 3392, -729.0 / 106, 25515.0 / 6784,
    0, -11.0 / 7, 11.0 / 3, -55.0 / 28,
    0, 3.0 / 2, -4, 5.0 / 2,
};

const double kOde23Tableau[kOde23TableauSize] = {
    2, 3, 1.0 / 3, 1,
    // nodes
    1.0 / 2, 3.0 / 4,
    // propagated weights, stages 0..2
    2.0 / 9, 1.0 / 3, 4.0 / 9,
    // error weights, stages 0..3
    -5.0 / 72, 1.0 / 12, 1.0 / 9, -1.0 / 8,
    // couplings
    1.0 / 2, 0,
    0, 3.0 / 4,
    // continuous extension: coefficients of theta .. theta^3 per stage
    1, -4.0 / 3, 5.0 / 9,
    0, 1, -2.0 / 3,
    0, 4.0 / 3, -8.0 / 9,
    0, -1, 1,
};
