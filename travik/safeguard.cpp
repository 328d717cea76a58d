#include "travik/safeguard.hpp"

#include <cmath>

namespace travik {

namespace {

// Q_i is a sum of up to a few thousand terms; a relative change below this is rounding.
constexpr double kRounding = 1e-12;

} // namespace

bool notLower(double qNew, double qOld) {
    if (std::isnan(qNew)) return false;
    if (!std::isfinite(qOld)) return qNew >= qOld;
    return qNew >= qOld - kRounding * std::fabs(qOld);
}

namespace {

bool allFinite(const std::vector<double>& v) {
    for (double s : v)
        if (!std::isfinite(s)) return false;
    return true;
}

// Tries theta + f * step from f = first on, halving.
double halvedSteps(std::vector<double>& theta, const std::vector<double>& step,
                   const ItemObjective& q, double qOld, int firstHalving, double* qNew) {
    std::vector<double> trial(theta.size());
    double fraction = std::ldexp(1.0, -firstHalving);
    for (int halvings = firstHalving; halvings <= kMaxHalvings; ++halvings, fraction *= 0.5) {
        for (std::size_t p = 0; p < theta.size(); ++p) trial[p] = theta[p] + fraction * step[p];
        const double value = q(trial);
        if (notLower(value, qOld)) {
            theta = trial;
            if (qNew) *qNew = value;
            return fraction;
        }
    }
    return 0.0;
}

} // namespace

double safeguardedStep(std::vector<double>& theta, const std::vector<double>& step,
                       const ItemObjective& q, double qOld, double* qNew) {
    if (!allFinite(step)) return 0.0;
    return halvedSteps(theta, step, q, qOld, 0, qNew);
}

double safeguardedMove(std::vector<double>& theta, const std::vector<double>& target,
                       const ItemObjective& q, double qOld) {
    if (!allFinite(target)) return 0.0;
    if (notLower(q(target), qOld)) {
        theta = target;
        return 1.0;
    }
    std::vector<double> step(theta.size());
    for (std::size_t p = 0; p < theta.size(); ++p) step[p] = target[p] - theta[p];
    return halvedSteps(theta, step, q, qOld, 1, nullptr);
}

} // namespace travik
