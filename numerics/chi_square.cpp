#include "numerics/chi_square.hpp"

#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/non_central_chi_squared.hpp>
#include <boost/math/tools/roots.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace numerics {

namespace {

// Domain errors give a NaN and overflow an infinity instead of an exception: the callers test
// their arguments, and a report is better served by a blank figure than by an abort.
using Quiet = boost::math::policies::policy<
    boost::math::policies::domain_error<boost::math::policies::ignore_error>,
    boost::math::policies::overflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::evaluation_error<boost::math::policies::ignore_error>>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The noncentrality lambda >= 0 at which F(x; df, lambda) = target, 0 when F(x; df, 0) is already
// at or below it (F falls in lambda, so there is then no root).
double noncentralityAt(double x, double df, double target) {
    auto excess = [&](double lambda) { return noncentralChiSquareCdf(x, df, lambda) - target; };
    if (!(excess(0.0) > 0.0)) return 0.0;
    // Bracket: F(x; df, lambda) drops fast once lambda passes x, the mean being df + lambda.
    double low = 0.0, high = std::max(x, 1.0);
    while (excess(high) > 0.0) {
        low = high;
        high *= 2.0;
        if (!std::isfinite(high)) return kNaN;
    }
    std::uintmax_t iterations = 200;
    const auto root = boost::math::tools::toms748_solve(
        excess, low, high, boost::math::tools::eps_tolerance<double>(50), iterations, Quiet());
    return 0.5 * (root.first + root.second);
}

} // namespace

double chiSquareUpperTail(double x, double df) {
    if (!(df > 0.0) || std::isnan(x)) return kNaN;
    if (x <= 0.0) return 1.0;
    if (std::isinf(x)) return 0.0;
    return boost::math::cdf(
        boost::math::complement(boost::math::chi_squared_distribution<double, Quiet>(df), x));
}

double noncentralChiSquareCdf(double x, double df, double lambda) {
    if (!(df > 0.0) || !(lambda >= 0.0) || !std::isfinite(lambda) || std::isnan(x)) return kNaN;
    if (x <= 0.0) return 0.0;
    if (std::isinf(x)) return 1.0;
    if (lambda == 0.0)
        return boost::math::cdf(boost::math::chi_squared_distribution<double, Quiet>(df), x);
    return boost::math::cdf(
        boost::math::non_central_chi_squared_distribution<double, Quiet>(df, lambda), x);
}

std::pair<double, double> rmseaInterval(double statistic, double df, double n, double level) {
    if (!(df > 0.0) || !(n > 0.0) || !(statistic >= 0.0) || !std::isfinite(statistic) ||
        !(level > 0.0 && level < 1.0))
        return {kNaN, kNaN};
    const double tail = 0.5 * (1.0 - level);
    const double lambdaLow = noncentralityAt(statistic, df, 1.0 - tail);
    const double lambdaHigh = noncentralityAt(statistic, df, tail);
    return {std::sqrt(lambdaLow / (df * n)), std::sqrt(lambdaHigh / (df * n))};
}

} // namespace numerics
