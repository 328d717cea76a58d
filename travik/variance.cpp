#include "travik/variance.hpp"

#include "numerics/linear_algebra.hpp"
#include "numerics/quadratic_model.hpp"
#include "travik/case_scores.hpp"
#include "travik/identification.hpp"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <limits>

namespace travik {

namespace {

// Parameter positions of the items a case answered: the other rows of S are zero.
std::vector<int> answeredPositions(const Deck& d, const ParameterLayout& layout,
                                   const double* row) {
    std::vector<int> positions;
    const int nf = d.nf;
    auto add = [&](int first, int count) {
        for (int q = 0; q < count; ++q) positions.push_back(first + q);
    };
    for (int i = 0; i < d.nb; ++i) {
        double x = truncated(row[i]);
        if (x == 0.0 || x == 1.0) add(layout.binary[i], nf + 1);
    }
    for (int i = 0; i < d.nn; ++i)
        if (!isMissing(row[d.normalColumn(i)])) add(layout.normal[i], nf + 2);
    for (int i = 0; i < d.nc; ++i)
        if (!isMissing(row[d.nominalColumn(i)])) add(layout.nominal[i], (d.c[i] - 1) * (nf + 1));
    for (int i = 0; i < d.no; ++i)
        if (!isMissing(row[d.ordinalColumn(i)])) add(layout.ordinal[i], d.o[i] - 1 + nf);
    return positions;
}

// The covariance matrix: the information of every parameter but the fixed one and those of
// frozen items inverted by LU with complete pivoting (a fixed parameter has variance 0; a frozen
// one, sitting at a bound of the fit, has none). Information that is singular or not positive
// definite, measured against the complete-data scale of each parameter, has no inverse that
// means anything: "Singular matrix" is shown through pause, the parameters it identifies get
// their variances from its pseudo-inverse, the others none, and they are listed.
void invertOverFree(const std::vector<double>& info, const std::vector<double>& scale,
                    const std::vector<char>& frozen, int P, Covariance& result,
                    const fixedio::Pause& pause) {
    std::vector<int> free;
    for (int p = 0; p < P; ++p) {
        if (p == result.fixed) continue;
        if (frozen[p]) {
            result.withoutErrors.push_back(p);
            continue;
        }
        free.push_back(p);
    }
    const int F = static_cast<int>(free.size());
    Eigen::MatrixXd reduced(F, F);
    Eigen::VectorXd reference(F);
    for (int a = 0; a < F; ++a) reference(a) = scale[free[a]];
    for (int a = 0; a < F; ++a)
        for (int b = 0; b < F; ++b)
            reduced(a, b) = info[static_cast<std::size_t>(free[a]) * P + free[b]];
    const double nan = std::numeric_limits<double>::quiet_NaN();
    result.cov.assign(static_cast<std::size_t>(P) * P, nan);
    auto place = [&](int a, int b, double v) {
        result.cov[static_cast<std::size_t>(free[a]) * P + free[b]] = v;
    };
    if (result.fixed >= 0)
        result.cov[static_cast<std::size_t>(result.fixed) * P + result.fixed] = 0.0;
    if (!numerics::positiveDefinite(reduced, {}, reference)) {
        pause("Singular matrix");
        const numerics::IdentifiedCovariance c = numerics::identifiedCovariance(reduced, reference);
        int identified = 0;
        for (int a = 0; a < F; ++a) {
            if (!c.identified[a] || !(c.covariance(a, a) > 0.0)) {
                result.withoutErrors.push_back(free[a]);
                continue;
            }
            ++identified;
            for (int b = 0; b < F; ++b)
                if (c.identified[b]) place(a, b, c.covariance(a, b));
        }
        std::sort(result.withoutErrors.begin(), result.withoutErrors.end());
        if (identified == 0)
            result.unavailable =
                "the information matrix is singular or not positive definite at the "
                "estimates: the model is not identified there";
        return;
    }
    const numerics::LuSolution inverse = numerics::invert(reduced);
    if (!inverse.solved) {
        result.unavailable = "the information matrix could not be inverted";
        return;
    }
    for (int a = 0; a < F; ++a)
        if (!(inverse.x(a, a) > 0.0) || !std::isfinite(inverse.x(a, a))) {
            result.unavailable = "a variance came out negative or not a number";
            return;
        }
    for (int a = 0; a < F; ++a)
        for (int b = 0; b < F; ++b) place(a, b, inverse.x(a, b));
    // The fixed parameter's row and column are 0, a frozen one's are not numbers.
    if (result.fixed >= 0)
        for (int p = 0; p < P; ++p)
            if (!frozen[p]) {
                result.cov[static_cast<std::size_t>(result.fixed) * P + p] = 0.0;
                result.cov[static_cast<std::size_t>(p) * P + result.fixed] = 0.0;
            }
}

} // namespace

std::vector<double> caseScore(const ModelState& m, const Estimation& est,
                              const ParameterLayout& layout, int k) {
    std::vector<double> s(layout.count, 0.0);
    caseScores(m, est.grid, est.tables, layout, est.weights.row(k), k, s.data());
    return s;
}

Covariance variance(const ModelState& m, Estimation& est, const fixedio::Pause& pause) {
    const Deck& d = m.deck;
    Covariance result;
    result.layout = parameterLayout(d);
    const int P = result.layout.count;
    std::vector<double> info(static_cast<std::size_t>(P) * P, 0.0);
    std::vector<double> s(P, 0.0), squares(P, 0.0), scale(P, 0.0);
    CaseWeights& w = est.weights;
    constexpr double kFloor = 1e-15;
    for (int k = 0; k < d.ncase; ++k) {
        double* gj = w.row(k);
        if (w.logScale[k] != 0.0) {
            // Scaled because it underflows: its true FM lies far below the floor, so it is
            // raised, and its true joint weights are what the scaled ones shrink to.
            const double factor = std::exp(w.logScale[k]);
            for (int g = 0; g < w.size; ++g) gj[g] *= factor;
            w.fm[k] = kFloor;
            w.logScale[k] = 0.0;
        }
        if (w.fm[k] < kFloor) w.fm[k] = kFloor;
        const double fm = w.fm[k];
        std::fill(s.begin(), s.end(), 0.0);
        std::fill(squares.begin(), squares.end(), 0.0);
        caseScores(m, est.grid, est.tables, result.layout, gj, k, s.data(), squares.data());
        for (int p = 0; p < P; ++p) scale[p] += squares[p] / fm;
        const double fm2 = fm * fm;
        const std::vector<int> answered = answeredPositions(d, result.layout, m.x.row(k));
        for (std::size_t a = 0; a < answered.size(); ++a) {
            const int r = answered[a];
            double* infoRow = info.data() + static_cast<std::size_t>(r) * P;
            for (std::size_t b = a; b < answered.size(); ++b) {
                const int c = answered[b];
                infoRow[c] += s[r] * s[c] / fm2;
            }
        }
    }
    for (int r = 0; r < P; ++r)
        for (int c = r + 1; c < P; ++c)
            info[static_cast<std::size_t>(c) * P + r] = info[static_cast<std::size_t>(r) * P + c];
    result.fixed = fixedLoadingPosition(d, result.layout);
    // A frozen item's parameters are the ones the fit does not move but the fixed loading.
    std::vector<char> frozen(P, 0);
    const std::vector<char> moving = movingParameters(d, m.params);
    for (int p = 0; p < P; ++p) frozen[p] = !moving[p] && p != result.fixed;
    invertOverFree(info, scale, frozen, P, result, pause);
    return result;
}

} // namespace travik
