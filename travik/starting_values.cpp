#include "travik/starting_values.hpp"

#include "numerics/linear_algebra.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace travik {

namespace {

// Logistic loadings are about 1.7 times the normal-ogive ones.
constexpr double kLogitScale = 1.7;

std::size_t countOf(int n) {
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

void sizeParameters(ModelState& m) {
    const Deck& d = m.deck;
    Parameters& p = m.params;
    p.binary.assign(countOf(d.nb), {});
    p.normal.assign(countOf(d.nn), {});
    p.nominal.assign(countOf(d.nc), {});
    p.ordinal.assign(countOf(d.no), {});
    for (int i = 0; i < d.nc; ++i) p.nominal[i].categories = d.c[i];
    for (int i = 0; i < d.no; ++i) p.ordinal[i].categories = d.o[i];
}

// Mean and variance (divided by the count) of the observed values of a column.
struct Moments {
    double mean = 0, variance = 0;
    int count = 0;
};
template <class Value> Moments momentsOf(const ModelState& m, int col, Value value) {
    Moments s;
    double sum = 0;
    for (int k = 0; k < m.x.rows; ++k) {
        double v;
        if (!value(m.x(k, col), v)) continue;
        sum += v;
        ++s.count;
    }
    if (s.count == 0) return s;
    s.mean = sum / s.count;
    double squares = 0;
    for (int k = 0; k < m.x.rows; ++k) {
        double v;
        if (!value(m.x(k, col), v)) continue;
        squares += (v - s.mean) * (v - s.mean);
    }
    s.variance = squares / s.count;
    return s;
}

bool normalValue(double x, double& v) {
    if (isMissing(x)) return false;
    v = x;
    return true;
}

// The starting mean and variance of a normal item; a constant item gets variance 1.
Moments normalMoments(const ModelState& m, int i) {
    Moments s = momentsOf(m, m.deck.normalColumn(i), normalValue);
    if (!(s.variance > 0.0)) s.variance = 1.0;
    return s;
}

// The item variables of the principal components: one column of values per variable, with
// missing values (NaN here) replaced by the variable's mean.
std::vector<std::vector<double>> itemVariables(const ModelState& m) {
    const Deck& d = m.deck;
    const int n = m.x.rows;
    std::vector<std::vector<double>> vars;
    auto column = [&](int col, auto value) {
        std::vector<double> v(n);
        for (int k = 0; k < n; ++k) v[k] = value(m.x(k, col));
        vars.push_back(std::move(v));
    };
    const double nan = std::nan("");
    for (int i = 0; i < d.nb; ++i)
        column(i, [&](double x) {
            const double t = truncated(x);
            return t == 1.0 || t == 0.0 ? t : nan;
        });
    for (int i = 0; i < d.nn; ++i)
        column(d.normalColumn(i), [&](double x) { return isMissing(x) ? nan : x; });
    for (int i = 0; i < d.nc; ++i)
        for (int j = 2; j <= d.c[i]; ++j)
            column(d.nominalColumn(i), [&](double x) {
                return isMissing(x) ? nan : truncated(x) == j ? 1.0 : 0.0;
            });
    for (int i = 0; i < d.no; ++i)
        column(d.ordinalColumn(i), [&](double x) { return isMissing(x) ? nan : truncated(x); });
    for (auto& v : vars) {
        double sum = 0;
        int count = 0;
        for (double x : v)
            if (!std::isnan(x)) sum += x, ++count;
        const double mean = count > 0 ? sum / count : 0.0;
        for (double& x : v)
            if (std::isnan(x)) x = mean;
    }
    return vars;
}

// Correlation matrix of the variables; a constant variable is uncorrelated with the others.
std::vector<double> correlations(const std::vector<std::vector<double>>& vars) {
    const std::size_t p = vars.size();
    std::vector<std::vector<double>> centred = vars;
    std::vector<double> norm(p, 0.0);
    for (std::size_t a = 0; a < p; ++a) {
        double sum = 0;
        for (double x : centred[a]) sum += x;
        const double mean = centred[a].empty() ? 0.0 : sum / static_cast<double>(centred[a].size());
        for (double& x : centred[a]) {
            x -= mean;
            norm[a] += x * x;
        }
        norm[a] = std::sqrt(norm[a]);
    }
    std::vector<double> r(p * p, 0.0);
    for (std::size_t a = 0; a < p; ++a) {
        r[a * p + a] = 1.0;
        for (std::size_t b = a + 1; b < p; ++b) {
            double cross = 0;
            for (std::size_t k = 0; k < centred[a].size(); ++k)
                cross += centred[a][k] * centred[b][k];
            const double c = norm[a] > 0.0 && norm[b] > 0.0 ? cross / (norm[a] * norm[b]) : 0.0;
            r[a * p + b] = r[b * p + a] = c;
        }
    }
    return r;
}

// An item's two loadings on the correlation scale with at most kMaxStartCommunality of its
// variance, and their sum of squares.
std::array<double, 2> capped(std::array<double, 2> l, double& communality) {
    communality = l[0] * l[0] + l[1] * l[1];
    if (communality > kMaxStartCommunality) {
        const double shrink = std::sqrt(kMaxStartCommunality / communality);
        l[0] *= shrink;
        l[1] *= shrink;
        communality = kMaxStartCommunality;
    }
    return l;
}

// Loadings of a logistic response (binary, nominal, ordinal) from correlation-scale ones, and
// the factor by which an intercept on the marginal logit scale grows once they are there
// (the logistic-normal integral is about a logistic of v / sqrt(1 + pi s^2 / 8)).
struct LogisticLoadings {
    double a1 = 0, a2 = 0, interceptScale = 1;
};
LogisticLoadings logisticFrom(const std::array<double, 2>& l) {
    double communality;
    const std::array<double, 2> c = capped(l, communality);
    LogisticLoadings out;
    const double root = std::sqrt(1.0 - communality);
    out.a1 = kLogitScale * c[0] / root;
    out.a2 = kLogitScale * c[1] / root;
    out.interceptScale =
        std::sqrt(1.0 + std::numbers::pi * (out.a1 * out.a1 + out.a2 * out.a2) / 8.0);
    return out;
}

double logit(double p) {
    p = std::clamp(p, 1e-3, 1.0 - 1e-3);
    return std::log(p / (1.0 - p));
}

void oneFactorStart(ModelState& m) {
    const Deck& d = m.deck;
    Parameters& p = m.params;
    for (BinaryItem& b : p.binary) b.alpha = {0.0, 1.0, 0.0};
    for (int i = 0; i < d.nn; ++i) {
        const Moments s = normalMoments(m, i);
        const double c = kNormalStartLoading;
        p.normal[i] =
            NormalItem{s.mean, c * std::sqrt(s.variance), 0.0, (1.0 - c * c) * s.variance};
    }
    for (NominalItem& c : p.nominal)
        for (int j = 2; j <= c.categories; ++j) c.ac[j] = {0.0, 1.0, 1.5};
    for (OrdinalItem& o : p.ordinal) {
        for (int j = 1; j <= o.categories; ++j) o.thr[j] = j - 2.5;
        o.ao = {0.0, 1.0, 0.0};
    }
}

void twoFactorStart(ModelState& m) {
    const Deck& d = m.deck;
    Parameters& p = m.params;
    const std::vector<std::array<double, 2>> l = principalLoadings(m);
    std::size_t v = 0;
    auto shareOf = [&](int col, auto counts) {
        int hits = 0, observed = 0;
        for (int k = 0; k < m.x.rows; ++k) {
            const double x = m.x(k, col);
            if (isMissing(x)) continue;
            const int c = counts(truncated(x));
            if (c < 0) continue;
            ++observed;
            hits += c;
        }
        return observed > 0 ? static_cast<double>(hits) / observed : 0.5;
    };
    for (int i = 0; i < d.nb; ++i) {
        const LogisticLoadings a = logisticFrom(l[v++]);
        const double share = shareOf(i, [](double t) { return t == 1.0 ? 1 : t == 0.0 ? 0 : -1; });
        p.binary[i].alpha = {logit(share) * a.interceptScale, a.a1, a.a2};
    }
    for (int i = 0; i < d.nn; ++i) {
        const Moments s = normalMoments(m, i);
        double communality;
        const std::array<double, 2> c = capped(l[v++], communality);
        const double sd = std::sqrt(s.variance);
        p.normal[i] = NormalItem{s.mean, c[0] * sd, c[1] * sd, (1.0 - communality) * s.variance};
    }
    for (int i = 0; i < d.nc; ++i) {
        NominalItem& item = p.nominal[i];
        const int col = d.nominalColumn(i);
        const double first = shareOf(col, [](double t) { return t == 1.0 ? 1 : 0; });
        for (int j = 2; j <= item.categories; ++j) {
            const LogisticLoadings a = logisticFrom(l[v++]);
            const double share = shareOf(col, [j](double t) { return t == j ? 1 : 0; });
            // The log odds of category j against the reference category 1.
            const double odds = std::log(std::max(share, 1e-3) / std::max(first, 1e-3));
            item.ac[j] = {odds * a.interceptScale, a.a1, a.a2};
        }
    }
    for (int i = 0; i < d.no; ++i) {
        OrdinalItem& item = p.ordinal[i];
        const LogisticLoadings a = logisticFrom(l[v++]);
        const int col = d.ordinalColumn(i);
        // Thresholds at the logits of the cumulative shares, kept increasing.
        for (int j = 1; j < item.categories; ++j) {
            const double cumulative = shareOf(col, [j](double t) { return t <= j ? 1 : 0; });
            item.thr[j] = logit(cumulative) * a.interceptScale;
            if (j > 1) item.thr[j] = std::max(item.thr[j], item.thr[j - 1] + 0.1);
        }
        item.ao = {0.0, a.a1, a.a2};
    }
}

} // namespace

std::vector<std::array<double, 2>> principalLoadings(const ModelState& m) {
    const std::vector<std::vector<double>> vars = itemVariables(m);
    const int p = static_cast<int>(vars.size());
    std::vector<std::array<double, 2>> l(vars.size(), {0.0, 0.0});
    if (p == 0) return l;
    const std::vector<double> r = correlations(vars);
    // The eigenvectors come signed so that their components sum to at least 0: so do the
    // loadings.
    const numerics::SymmetricEigen e =
        numerics::symmetricEigen(Eigen::Map<const Eigen::MatrixXd>(r.data(), p, p));
    if (!e.computed) return l;
    for (int f = 0; f < std::min(2, p); ++f) {
        const double root = std::sqrt(std::max(e.values(f), 0.0));
        for (int i = 0; i < p; ++i) l[i][f] = root * e.vectors(i, f);
    }
    return l;
}

void generateStartingValues(ModelState& m) {
    sizeParameters(m);
    if (m.deck.nf == 2)
        twoFactorStart(m);
    else
        oneFactorStart(m);
}

} // namespace travik
