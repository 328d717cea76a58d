#include "travik/quadrature.hpp"

#include <cmath>
#include <numbers>

namespace travik {

namespace {

// The orthonormal Hermite polynomial of degree m at z (weight exp(-x^2)) by its recurrence,
// and the derivative's factor sqrt(2m) p_{m-1}(z) that Newton's method and the weights use.
struct Hermite {
    double value, slope;
};

Hermite orthonormalHermite(double z, int m) {
    static const double pim4 = 1.0 / std::pow(std::numbers::pi, 0.25);
    double p1 = pim4, p2 = 0.0;
    for (int j = 1; j <= m; ++j) {
        const double p3 = p2;
        p2 = p1;
        p1 = z * std::sqrt(2.0 / j) * p2 - std::sqrt(static_cast<double>(j - 1) / j) * p3;
    }
    return {p1, std::sqrt(2.0 * m) * p2};
}

// The physicists' rule (nodes descending, weights for exp(-x^2)) as a rule for the standard
// normal density, nodes ascending.
Rule standardNormalScale(const std::vector<double>& x, const std::vector<double>& w) {
    const std::size_t m = x.size();
    Rule rule;
    rule.nodes.resize(m);
    rule.weights.resize(m);
    for (std::size_t i = 0; i < m; ++i) {
        rule.nodes[i] = std::numbers::sqrt2 * x[m - 1 - i];
        rule.weights[i] = w[m - 1 - i] / std::sqrt(std::numbers::pi);
    }
    return rule;
}

} // namespace

Rule standardNormalRule(int m) {
    // Newton's method on the Hermite recurrence, from the classic asymptotic first guesses;
    // the orthonormal form of the polynomials keeps every value in range. These guesses serve
    // the tabulated rules; for many points fullStandardNormalRule brackets each root first.
    std::vector<double> x(m), w(m);
    const int half = (m + 1) / 2;
    double z = 0.0;
    for (int i = 0; i < half; ++i) {
        if (i == 0)
            z = std::sqrt(2.0 * m + 1.0) - 1.85575 * std::pow(2.0 * m + 1.0, -0.16667);
        else if (i == 1)
            z -= 1.14 * std::pow(static_cast<double>(m), 0.426) / z;
        else if (i == 2)
            z = 1.86 * z - 0.86 * x[0];
        else if (i == 3)
            z = 1.91 * z - 0.91 * x[1];
        else
            z = 2.0 * z - x[i - 2];
        double pp = 0.0;
        for (int iter = 0; iter < 100; ++iter) {
            const Hermite h = orthonormalHermite(z, m);
            pp = h.slope;
            double z1 = z;
            z = z1 - h.value / pp;
            if (std::fabs(z - z1) <= 1e-15 * std::fmax(1.0, std::fabs(z))) break;
        }
        x[i] = z;
        x[m - 1 - i] = -z;
        w[i] = w[m - 1 - i] = 2.0 / (pp * pp);
    }
    Rule rule = standardNormalScale(x, w);
    if (m % 2 == 1) rule.nodes[m / 2] = 0.0;
    return rule;
}

int storedPoints(int requested) {
    switch (requested) {
    case 8:
        return 8;
    case 12:
        return 12;
    case 16:
        return 16;
    case 24:
        return 20;
    case 32:
        return 24;
    case 48:
        return 30;
    default:
        return 0;
    }
}

namespace {

// The grid over nf factors from the one-dimensional points kept.
Grid gridFrom(std::vector<double> qz, std::vector<double> qw, int nf) {
    Grid grid;
    grid.nf = nf;
    const int n = static_cast<int>(qz.size());
    grid.nq = n;
    grid.qz = std::move(qz);
    grid.qw = std::move(qw);
    if (nf == 1) {
        grid.size = n;
        grid.z1 = grid.qz;
        grid.z2.assign(n, 0.0);
        grid.w = grid.qw;
        for (int t = 0; t < n; ++t) {
            grid.t1.push_back(t);
            grid.t2.push_back(0);
        }
        return grid;
    }
    grid.size = n * n;
    for (int a = 0; a < n; ++a) {
        for (int b = 0; b < n; ++b) {
            grid.z1.push_back(grid.qz[a]);
            grid.z2.push_back(grid.qz[b]);
            grid.w.push_back(grid.qw[a] * grid.qw[b]);
            grid.t1.push_back(a);
            grid.t2.push_back(b);
        }
    }
    return grid;
}

} // namespace

Grid makeGrid(int requested, int nf) {
    const int n = storedPoints(requested);
    if (n == 0) {
        Grid empty;
        empty.nf = nf;
        return empty;
    }
    Rule rule = standardNormalRule(requested);
    const int drop = (requested - n) / 2;
    return gridFrom(
        std::vector<double>(rule.nodes.begin() + drop, rule.nodes.begin() + drop + n),
        std::vector<double>(rule.weights.begin() + drop, rule.weights.begin() + drop + n), nf);
}

Rule fullStandardNormalRule(int m) {
    // The nodes are the eigenvalues of the Jacobi matrix of the Hermite polynomials (zero
    // diagonal, off-diagonal sqrt(j/2)); each is bracketed by bisection on the Sturm count,
    // which cannot converge to a neighbouring root the way Newton's method from asymptotic
    // guesses does for many points, then polished by Newton's method on the recurrence, which
    // also gives the weight.
    auto below = [m](double x) { // eigenvalues less than x
        int count = 0;
        double q = -x;
        for (int j = 1; j <= m; ++j) {
            if (j > 1) q = -x - (0.5 * (j - 1)) / q;
            if (q == 0.0) q = -1e-300;
            if (q < 0.0) ++count;
        }
        return count;
    };
    const int half = m / 2;
    std::vector<double> x(m), w(m);
    const double bound = std::sqrt(2.0 * m + 1.0) + 1.0;
    for (int i = 0; i < (m + 1) / 2; ++i) {
        // Root m - i (counting from 1 at the most negative): the (i+1)-th largest.
        const int rank = m - i;
        double lo = 0.0, hi = bound;
        if (m % 2 == 1 && i == half) hi = 0.0;
        for (int it = 0; it < 200 && hi - lo > 1e-15 * std::fmax(1.0, hi); ++it) {
            const double mid = 0.5 * (lo + hi);
            (below(mid) >= rank ? hi : lo) = mid;
        }
        double z = 0.5 * (lo + hi), pp = 0.0;
        for (int iter = 0; iter < 3; ++iter) {
            const Hermite h = orthonormalHermite(z, m);
            pp = h.slope;
            if (iter < 2) z -= h.value / pp;
        }
        if (m % 2 == 1 && i == half) z = 0.0;
        x[i] = z;
        x[m - 1 - i] = -z;
        w[i] = w[m - 1 - i] = 2.0 / (pp * pp);
    }
    return standardNormalScale(x, w);
}

Grid makeFullGrid(int points, int nf) {
    Rule rule = fullStandardNormalRule(points);
    return gridFrom(std::move(rule.nodes), std::move(rule.weights), nf);
}

Grid gridFor(const Deck& d) {
    return d.fullRule > 0 ? makeFullGrid(d.fullRule, d.nf) : makeGrid(d.nq, d.nf);
}

int pointsPerFactor(const Deck& d) {
    return d.fullRule > 0 ? d.fullRule : storedPoints(d.nq);
}

} // namespace travik
