// The safeguarded step of every item update. A Newton step (or a closed form) on one item's
// expected complete-data loglikelihood Q_i can overshoot where Q_i is far from quadratic:
// sparse categories, a large scale, a boundary. EM raises the loglikelihood only if no item's
// Q_i falls, so a step that lowers Q_i is halved until it does not; after a bounded number of
// halvings the item keeps its values for the cycle. The full step is taken whenever it does
// not lower Q_i, so a fit that never overshoots is unchanged.
#pragma once

#include <functional>
#include <vector>

namespace travik {

// Halvings tried before an item keeps its values (the last fraction is 2^-33, about 1e-10).
constexpr int kMaxHalvings = 33;

// Q_i at a parameter vector (the item's values in its own order).
using ItemObjective = std::function<double(const std::vector<double>&)>;

// Moves theta to theta + f * step for the largest f in 1, 1/2, 1/4, ... (at most kMaxHalvings
// halvings) whose Q_i is not below qOld = q(theta), rounding aside. Returns f, or 0 when
// theta is kept (also for a step that is not finite); qNew (optional) receives Q_i at the
// point taken.
double safeguardedStep(std::vector<double>& theta, const std::vector<double>& step,
                       const ItemObjective& q, double qOld, double* qNew = nullptr);

// The same for an update given as its result (a closed form): target is taken whole when
// it does not lower Q_i, else the move from theta toward it is halved.
double safeguardedMove(std::vector<double>& theta, const std::vector<double>& target,
                       const ItemObjective& q, double qOld);

// Whether qNew does not fall below qOld beyond the rounding of a sum over the grid.
bool notLower(double qNew, double qOld);

} // namespace travik
