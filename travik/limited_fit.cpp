#include "travik/limited_fit.hpp"

#include "numerics/chi_square.hpp"
#include "numerics/linear_algebra.hpp"
#include "travik/likelihood.hpp"
#include "travik/parameter_vector.hpp"

#include <Eigen/Dense>

#include <algorithm>
#include <array>
#include <cmath>
#include <tuple>
#include <vector>

namespace travik {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Xi2 counts as singular below this pivot relative to its largest; the Jacobian as rank
// deficient below this relative pivot of its QR.
constexpr double kPivotTolerance = 1e-12;
constexpr double kRankTolerance = 1e-10;

// The functions of one response that a margin multiplies: the indicator of category c (kind
// c = 1..O), the score x - 1 (kind scoreKind(items), after the largest category of any item)
// and its square (the kind after that).

// An item of the statistic: binary items first, then ordinal ones, as in the data.
struct Item {
    int categories = 2;
    int column = 0;
    bool binary = true;
    int source = 0; // index among the binary or ordinal items
};

int scoreKind(const std::vector<Item>& items) {
    int most = 2;
    for (const Item& it : items) most = std::max(most, it.categories);
    return most + 1;
}

struct Factor {
    int item = 0, kind = 0;
};

// A margin: the mean of one factor (first order) or of the product of two (second order).
struct Margin {
    std::array<Factor, 2> factors{};
    int count = 1;
};

// A free parameter: an intercept (binary) or threshold j (ordinal), or loading m.
struct FreeParameter {
    int item = 0;
    bool loading = false;
    int index = 0; // threshold j = 1..O-1, or loading m = 1..2 (an intercept: 0)
};

// The model's conditional expectations at every grid point: E[f(x_i) | z_g] for every kind
// ([(i * kinds + kind) * size + g]), and the cumulative probabilities P(x_i <= c | z_g) the
// derivatives need ([(i * score + c) * size + g]).
struct Curves {
    int size = 0;
    int score = 0, scoreSquare = 0, kinds = 0; // the score kinds and the kinds per item
    std::vector<double> values, cumulative, z1, z2, w;

    const double* at(int item, int kind) const {
        return values.data() + (static_cast<std::size_t>(item) * kinds + kind) * size;
    }
    const double* below(int item, int c) const {
        return cumulative.data() + (static_cast<std::size_t>(item) * score + c) * size;
    }
};

Curves modelCurves(const std::vector<Item>& items, const Parameters& p, const Grid& grid) {
    Curves cv;
    const int G = grid.size;
    cv.size = G;
    cv.score = scoreKind(items);
    cv.scoreSquare = cv.score + 1;
    cv.kinds = cv.score + 2;
    const std::size_t kinds = cv.kinds, rows = cv.score;
    cv.z1 = grid.z1;
    cv.z2 = grid.nf == 2 ? grid.z2 : std::vector<double>(G, 0.0);
    cv.w = grid.w;
    cv.values.assign(items.size() * kinds * G, 0.0);
    cv.cumulative.assign(items.size() * rows * G, 0.0);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Item& it = items[i];
        const int O = it.categories;
        auto row = [&](int kind) {
            return cv.values.data() + (i * kinds + static_cast<std::size_t>(kind)) * G;
        };
        auto cum = [&](int c) {
            return cv.cumulative.data() + (i * rows + static_cast<std::size_t>(c)) * G;
        };
        if (it.binary) {
            logisticProbabilities(grid, p.binary[it.source].alpha, row(2), row(1));
            std::copy(row(1), row(1) + G, cum(1));
        } else {
            double* cumo[kMostCategories + 1];
            double* po[kMostCategories + 1];
            for (int c = 1; c <= O; ++c) {
                cumo[c] = cum(c);
                po[c] = row(c);
            }
            ordinalProbabilities(grid, p.ordinal[it.source], cumo, po);
        }
        double* s = row(cv.score);
        double* s2 = row(cv.scoreSquare);
        for (int c = 2; c <= O; ++c) {
            const double* pc = row(c);
            const double score = c - 1;
            for (int g = 0; g < G; ++g) {
                s[g] += score * pc[g];
                s2[g] += score * score * pc[g];
            }
        }
    }
    return cv;
}

// The product of two functions of the same response, as a multiple of one kind (coefficient 0:
// the product vanishes); score is the kind of the score.
int mergeKinds(int a, int b, int score, double& coefficient) {
    if (a > b) std::swap(a, b);
    if (b < score) { // two indicators
        coefficient = a == b ? 1.0 : 0.0;
        return a;
    }
    if (a < score) { // an indicator times the score
        coefficient = a - 1;
        return a;
    }
    coefficient = 1.0; // the score times itself
    return score + 1;
}

// At most four rows: a product of two second-order margins.
using Rows = std::array<const double*, 4>;

// sum_g w_g prod_k rows[k][g], k < count.
double integrate(const std::vector<double>& w, const Rows& rows, int count, int size) {
    double sum = 0.0;
    switch (count) {
    case 1:
        for (int g = 0; g < size; ++g) sum += w[g] * rows[0][g];
        break;
    case 2:
        for (int g = 0; g < size; ++g) sum += w[g] * rows[0][g] * rows[1][g];
        break;
    case 3:
        for (int g = 0; g < size; ++g) sum += w[g] * rows[0][g] * rows[1][g] * rows[2][g];
        break;
    default:
        for (int g = 0; g < size; ++g)
            sum += w[g] * rows[0][g] * rows[1][g] * rows[2][g] * rows[3][g];
    }
    return sum;
}

// E[y_r y_t] under the model.
double jointMoment(const Curves& cv, const Margin& r, const Margin& t) {
    std::array<Factor, 4> f{};
    int n = 0;
    double scale = 1.0;
    auto add = [&](const Factor& a) {
        for (int k = 0; k < n; ++k)
            if (f[k].item == a.item) {
                double c = 0.0;
                f[k].kind = mergeKinds(f[k].kind, a.kind, cv.score, c);
                scale *= c;
                return;
            }
        f[n++] = a;
    };
    for (int k = 0; k < r.count; ++k) add(r.factors[k]);
    for (int k = 0; k < t.count; ++k) add(t.factors[k]);
    if (scale == 0.0) return 0.0;
    Rows rows{};
    for (int k = 0; k < n; ++k) rows[k] = cv.at(f[k].item, f[k].kind);
    return scale * integrate(cv.w, rows, n, cv.size);
}

// d P(x_i = c | z_g) / d theta for c = 1..O into dp[c], and the derivative of the score's
// conditional mean into dp[cv.score].
void probabilityDerivatives(const Curves& cv, const std::vector<Item>& items,
                            const FreeParameter& fp, std::vector<std::vector<double>>& dp) {
    const Item& it = items[fp.item];
    const int O = it.categories, G = cv.size;
    const std::vector<double>& z = fp.loading && fp.index == 2 ? cv.z2 : cv.z1;
    for (int c = 1; c <= O; ++c) dp[c].assign(G, 0.0);
    dp[cv.score].assign(G, 0.0);
    // h_c = F_c (1 - F_c) for the cumulative (binary: P(x = 0)) probabilities.
    auto h = [&](int c, int g) {
        if (c <= 0 || c >= O) return 0.0;
        const double f = cv.below(fp.item, c)[g];
        return f * (1.0 - f);
    };
    if (it.binary) {
        // P(x = 1) = logistic(a + l'z): the intercept and loadings enter with a plus sign.
        for (int g = 0; g < G; ++g) {
            const double d = fp.loading ? h(1, g) * z[g] : h(1, g);
            dp[2][g] = d;
            dp[1][g] = -d;
        }
    } else if (!fp.loading) {
        // P(x = c) = F_c - F_(c-1): threshold j raises category j and lowers category j + 1.
        const int j = fp.index;
        for (int g = 0; g < G; ++g) {
            dp[j][g] = h(j, g);
            dp[j + 1][g] = -h(j, g);
        }
    } else {
        // Cumulative logit: loadings enter with a minus sign.
        for (int c = 1; c <= O; ++c)
            for (int g = 0; g < G; ++g) dp[c][g] = -z[g] * (h(c, g) - h(c - 1, g));
    }
    for (int c = 2; c <= O; ++c)
        for (int g = 0; g < G; ++g) dp[cv.score][g] += (c - 1) * dp[c][g];
}

Eigen::MatrixXd marginJacobian(const Curves& cv, const std::vector<Item>& items,
                               const std::vector<Margin>& margins,
                               const std::vector<FreeParameter>& free) {
    const int s = static_cast<int>(margins.size()), q = static_cast<int>(free.size());
    Eigen::MatrixXd delta = Eigen::MatrixXd::Zero(s, q);
    std::vector<std::vector<double>> dp(cv.kinds);
    for (int col = 0; col < q; ++col) {
        const FreeParameter& fp = free[col];
        probabilityDerivatives(cv, items, fp, dp);
        for (int r = 0; r < s; ++r) {
            const Margin& m = margins[r];
            for (int k = 0; k < m.count; ++k) {
                if (m.factors[k].item != fp.item) continue;
                Rows rows{dp[m.factors[k].kind].data()};
                if (m.count == 2) rows[1] = cv.at(m.factors[1 - k].item, m.factors[1 - k].kind);
                delta(r, col) = integrate(cv.w, rows, m.count, cv.size);
            }
        }
    }
    return delta;
}

struct Statistic {
    double value = kNaN;
    int df = 0;
    std::string reason;
};

// N e' C2 e, by the pivoted Cholesky factor of Xi2 and the QR of the whitened Jacobian.
Statistic quadraticForm(const Curves& cv, const std::vector<Item>& items,
                        const std::vector<Margin>& margins, const std::vector<FreeParameter>& free,
                        const Eigen::VectorXd& observed, double n) {
    Statistic st;
    const int s = static_cast<int>(margins.size()), q = static_cast<int>(free.size());
    st.df = s - q;
    if (st.df <= 0) {
        st.reason = "M2/C2 has no degrees of freedom: " + std::to_string(s) + " margins for " +
                    std::to_string(q) + " free parameters";
        return st;
    }
    Eigen::VectorXd pi(s);
    Eigen::MatrixXd xi(s, s);
    for (int r = 0; r < s; ++r) {
        const Margin& m = margins[r];
        const Rows rows{cv.at(m.factors[0].item, m.factors[0].kind),
                        cv.at(m.factors[1].item, m.factors[1].kind)};
        pi(r) = integrate(cv.w, rows, m.count, cv.size);
    }
    for (int r = 0; r < s; ++r)
        for (int t = 0; t <= r; ++t)
            xi(r, t) = xi(t, r) = jointMoment(cv, margins[r], margins[t]) - pi(r) * pi(t);
    const numerics::PivotedCholesky chol = numerics::pivotedCholesky(xi, kPivotTolerance);
    if (!chol.positiveDefinite()) {
        st.reason = "M2/C2 is not computed: the covariance matrix of the margins is singular";
        return st;
    }
    const Eigen::MatrixXd delta = marginJacobian(cv, items, margins, free);
    Eigen::VectorXd e(s);
    Eigen::MatrixXd d(s, q);
    for (int k = 0; k < s; ++k) {
        e(k) = observed(chol.order[k]) - pi(chol.order[k]);
        d.row(k) = delta.row(chol.order[k]);
    }
    const auto lower = chol.factor.triangularView<Eigen::Lower>();
    const Eigen::VectorXd whiteE = lower.solve(e);
    const Eigen::MatrixXd whiteD = lower.solve(d);
    Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(whiteD);
    qr.setThreshold(kRankTolerance);
    if (!whiteD.allFinite() || !whiteE.allFinite() || qr.rank() < q) {
        st.reason = "M2/C2 is not computed: the margins do not identify the free parameters";
        return st;
    }
    const Eigen::VectorXd rotated = qr.householderQ().adjoint() * whiteE;
    st.value = n * rotated.tail(s - q).squaredNorm();
    return st;
}

// The observed margins, and each item's observed score moments.
struct ObservedMoments {
    Eigen::VectorXd margins;
    std::vector<double> mean, square;         // E[s_i], E[s_i^2]
    std::vector<std::vector<double>> product; // E[s_i s_j]
    std::vector<std::vector<int>> counts;     // [item][c]
};

ObservedMoments observedMoments(const std::vector<Item>& items, const std::vector<Margin>& margins,
                                const std::vector<std::vector<int>>& category) {
    ObservedMoments o;
    const std::size_t n = items.size();
    const int cases = category.empty() ? 0 : static_cast<int>(category[0].size());
    o.mean.assign(n, 0.0);
    o.square.assign(n, 0.0);
    o.product.assign(n, std::vector<double>(n, 0.0));
    o.counts.assign(n, std::vector<int>(scoreKind(items), 0));
    for (std::size_t i = 0; i < n; ++i)
        for (int k = 0; k < cases; ++k) ++o.counts[i][category[i][k]];
    for (std::size_t i = 0; i < n; ++i) {
        for (int c = 2; c <= items[i].categories; ++c) {
            const double share = static_cast<double>(o.counts[i][c]) / cases;
            o.mean[i] += (c - 1) * share;
            o.square[i] += (c - 1) * (c - 1) * share;
        }
        for (std::size_t j = i + 1; j < n; ++j) {
            long long sum = 0;
            for (int k = 0; k < cases; ++k) sum += (category[i][k] - 1) * (category[j][k] - 1);
            o.product[i][j] = o.product[j][i] = static_cast<double>(sum) / cases;
        }
    }
    o.margins.resize(static_cast<int>(margins.size()));
    for (std::size_t r = 0; r < margins.size(); ++r) {
        const Margin& m = margins[r];
        const int i = m.factors[0].item;
        o.margins(static_cast<int>(r)) =
            m.count == 1 ? static_cast<double>(o.counts[i][m.factors[0].kind]) / cases
                         : o.product[i][m.factors[1].item];
    }
    return o;
}

// SRMSR from the observed moments and the model's.
double srmsr(const Curves& cv, const std::vector<Item>& items, const ObservedMoments& o) {
    const int n = static_cast<int>(items.size());
    if (n < 2) return kNaN;
    std::vector<double> mean(n), sd(n);
    for (int i = 0; i < n; ++i) {
        const Rows s{cv.at(i, cv.score)};
        const Rows s2{cv.at(i, cv.scoreSquare)};
        mean[i] = integrate(cv.w, s, 1, cv.size);
        sd[i] = std::sqrt(integrate(cv.w, s2, 1, cv.size) - mean[i] * mean[i]);
    }
    double sum = 0.0;
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) {
            const Rows rows{cv.at(i, cv.score), cv.at(j, cv.score)};
            const double model =
                (integrate(cv.w, rows, 2, cv.size) - mean[i] * mean[j]) / (sd[i] * sd[j]);
            const double observed = (o.product[i][j] - o.mean[i] * o.mean[j]) /
                                    std::sqrt((o.square[i] - o.mean[i] * o.mean[i]) *
                                              (o.square[j] - o.mean[j] * o.mean[j]));
            sum += (observed - model) * (observed - model);
        }
    return std::sqrt(sum / (0.5 * n * (n - 1)));
}

// The independence model: loadings 0, intercepts and thresholds the logits of the observed
// (cumulative) shares.
Parameters independenceModel(const Deck& d, const Parameters& p, const std::vector<Item>& items,
                             const ObservedMoments& o, int cases) {
    Parameters base = p;
    auto logit = [](double share) { return std::log(share / (1.0 - share)); };
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Item& it = items[i];
        if (it.binary) {
            base.binary[it.source].alpha = {logit(static_cast<double>(o.counts[i][2]) / cases), 0.0,
                                            0.0};
            continue;
        }
        OrdinalItem& oi = base.ordinal[it.source];
        oi.ao = {0.0, 0.0, 0.0};
        int below = 0;
        for (int c = 1; c < d.o[it.source]; ++c) {
            below += o.counts[i][c];
            oi.thr[c] = logit(static_cast<double>(below) / cases);
        }
    }
    return base;
}

// The fitted model's free parameters in the unified item order.
std::vector<FreeParameter> movingFreeParameters(const Deck& d, const Parameters& p,
                                                const std::vector<Item>& items) {
    const ParameterLayout layout = parameterLayout(d);
    const std::vector<char> moving = movingParameters(d, p);
    std::vector<FreeParameter> free;
    for (int i = 0; i < static_cast<int>(items.size()); ++i) {
        const Item& it = items[i];
        if (it.binary) {
            if (moving[layout.binaryAt(d.nf, it.source, 0)]) free.push_back({i, false, 0});
            for (int m = 1; m <= d.nf; ++m)
                if (moving[layout.binaryAt(d.nf, it.source, m)]) free.push_back({i, true, m});
        } else {
            const int at = layout.ordinal[it.source], O = it.categories;
            for (int j = 1; j < O; ++j)
                if (moving[at + j - 1]) free.push_back({i, false, j});
            for (int m = 1; m <= d.nf; ++m)
                if (moving[at + O - 2 + m]) free.push_back({i, true, m});
        }
    }
    return free;
}

bool finiteParameters(const Deck& d, const Parameters& p) {
    for (double v : packParameters(d, p))
        if (!std::isfinite(v)) return false;
    return true;
}

} // namespace

LimitedInformationFit limitedInformationFit(const Deck& d, const Parameters& p, const Grid& grid,
                                            const DataMatrix& x) {
    LimitedInformationFit fit;
    fit.statistic = d.no > 0 ? "C2" : "M2";
    if (d.nn > 0 || d.nc > 0) {
        fit.reason = "M2/C2 is computed for binary and ordinal items only";
        return fit;
    }
    std::vector<Item> items;
    items.reserve(static_cast<std::size_t>(d.nb) + static_cast<std::size_t>(d.no));
    for (int i = 0; i < d.nb; ++i) items.push_back({2, i, true, i});
    for (int i = 0; i < d.no; ++i) items.push_back({d.o[i], d.ordinalColumn(i), false, i});
    const int cases = x.rows;
    if (items.size() < 2 || cases < 1) {
        fit.reason = "M2/C2 needs at least two items and one case";
        return fit;
    }
    // Each case's category of every item; a value outside the item's categories counts as
    // missing, as it does in the likelihood.
    std::vector<std::vector<int>> category(items.size(), std::vector<int>(cases));
    for (std::size_t i = 0; i < items.size(); ++i)
        for (int k = 0; k < cases; ++k) {
            const double v = x(k, items[i].column);
            const double c = isMissing(v) ? -1.0 : truncated(v) + (items[i].binary ? 1.0 : 0.0);
            if (!(c >= 1.0 && c <= items[i].categories)) {
                fit.reason = "M2/C2 is not computed with missing responses";
                return fit;
            }
            category[i][k] = static_cast<int>(c);
        }
    if (!finiteParameters(d, p)) {
        fit.reason = "M2/C2 is not computed: the estimates are not finite numbers";
        return fit;
    }

    std::vector<Margin> margins;
    const int n = static_cast<int>(items.size());
    for (int i = 0; i < n; ++i)
        for (int c = 2; c <= items[i].categories; ++c) margins.push_back({{{{i, c}, {i, c}}}, 1});
    const int score = scoreKind(items);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) margins.push_back({{{{i, score}, {j, score}}}, 2});
    // The covariance of the margins costs margins^2 x grid points to build and margins^3 to
    // factor: beyond these a run of many items would wait minutes for one statistic.
    const double s = static_cast<double>(margins.size());
    if (s > kMostMargins || s * s * grid.size > kMostCovarianceTerms) {
        fit.reason = "M2/C2 is not computed for so many items: " + std::to_string(margins.size()) +
                     " margins on " + std::to_string(grid.size) + " grid points (at most " +
                     std::to_string(static_cast<int>(kMostMargins)) +
                     " margins, and margins squared times grid points at most 1e9)";
        return fit;
    }
    const ObservedMoments observed = observedMoments(items, margins, category);
    for (int i = 0; i < n; ++i)
        for (int c = 1; c <= items[i].categories; ++c)
            if (observed.counts[i][c] == 0) {
                fit.reason = "M2/C2 is not computed: a category of an item is never observed";
                return fit;
            }

    const Curves curves = modelCurves(items, p, grid);
    const std::vector<FreeParameter> free = movingFreeParameters(d, p, items);
    fit.margins = static_cast<int>(margins.size());
    fit.parameters = static_cast<int>(free.size());
    const Statistic st = quadraticForm(curves, items, margins, free, observed.margins, cases);
    fit.df = st.df;
    if (!st.reason.empty()) {
        fit.reason = st.reason;
        return fit;
    }
    fit.available = true;
    fit.value = st.value;
    fit.p = numerics::chiSquareUpperTail(st.value, st.df);
    const double excess = std::max(st.value - st.df, 0.0);
    fit.rmsea = std::sqrt(excess / (static_cast<double>(cases) * st.df));
    std::tie(fit.rmseaLow, fit.rmseaHigh) = numerics::rmseaInterval(st.value, st.df, cases);
    fit.srmsr = srmsr(curves, items, observed);

    // The independence model integrates nothing: one point at z = 0 with weight 1.
    Grid point;
    point.nq = point.size = 1;
    point.qz = point.z1 = point.z2 = {0.0};
    point.qw = point.w = {1.0};
    point.t1 = point.t2 = {0};
    const Curves baseCurves =
        modelCurves(items, independenceModel(d, p, items, observed, cases), point);
    std::vector<FreeParameter> baseFree;
    for (int i = 0; i < n; ++i) {
        if (items[i].binary)
            baseFree.push_back({i, false, 0});
        else
            for (int j = 1; j < items[i].categories; ++j) baseFree.push_back({i, false, j});
    }
    const Statistic base =
        quadraticForm(baseCurves, items, margins, baseFree, observed.margins, cases);
    fit.baselineDf = base.df;
    if (base.reason.empty()) {
        fit.baselineValue = base.value;
        const double baseExcess = std::max(base.value - base.df, 0.0);
        const double scale = std::max(baseExcess, excess);
        fit.cfi = scale > 0.0 ? 1.0 - excess / scale : 1.0;
        const double baseRatio = base.value / base.df;
        fit.tli = (baseRatio - st.value / st.df) / (baseRatio - 1.0);
    }
    return fit;
}

} // namespace travik
