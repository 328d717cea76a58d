#include "travik/expected_loglik.hpp"

#include <algorithm>
#include <cmath>

namespace travik {

namespace {

double linear(const Grid& grid, const std::array<double, 3>& a, int t) {
    return grid.nf == 2 ? a[0] + a[1] * grid.z1[t] + a[2] * grid.z2[t] : a[0] + a[1] * grid.z1[t];
}

} // namespace

double binaryQ(const Grid& grid, const std::array<double, 3>& a, const double* r, const double* n) {
    double q = 0.0;
    for (int t = 0; t < grid.size; ++t) {
        const double v = linear(grid, a, t);
        const double zeros = n[t] - r[t];
        // Both logs from one exponential and one logarithm, each without cancellation:
        // with l = log(1 + e^-|v|), log sigma(v) = min(v, 0) - l and log(1 - sigma(v)) =
        // min(-v, 0) - l.
        const double l = std::log1p(std::exp(-std::fabs(v)));
        if (r[t] > 0.0) q += r[t] * (std::min(v, 0.0) - l);
        if (zeros > 0.0) q += zeros * (std::min(-v, 0.0) - l);
    }
    return q;
}

double nominalQ(const Grid& grid, const NominalItem& item, const EStepTables& e, int i) {
    const int C = item.categories;
    const double* rc[kMostCategories + 1];
    for (int c = 1; c <= C; ++c) rc[c] = e.category(e.expectedNominal, i, c);
    double eta[kMostCategories + 1];
    double q = 0.0;
    for (int t = 0; t < grid.size; ++t) {
        // log of the denominator 1 + sum of e^eta, shifted by its largest term.
        eta[1] = 0.0;
        double top = 0.0;
        for (int j = 2; j <= C; ++j) {
            eta[j] = linear(grid, item.ac[j], t);
            top = std::max(top, eta[j]);
        }
        double sum = 0.0;
        for (int j = 1; j <= C; ++j) sum += std::exp(eta[j] - top);
        const double logDenominator = top + std::log(sum);
        for (int c = 1; c <= C; ++c)
            if (rc[c][t] > 0.0) q += rc[c][t] * (eta[c] - logDenominator);
    }
    return q;
}

double ordinalQ(const Grid& grid, const OrdinalItem& item, const EStepTables& e, int i) {
    const int O = item.categories;
    for (int k = 2; k < O; ++k)
        if (!(item.thr[k - 1] < item.thr[k])) return -INFINITY;
    const double* ro[kMostCategories + 1];
    for (int c = 1; c <= O; ++c) ro[c] = e.category(e.expectedOrdinal, i, c);
    double u[kMostCategories + 1], below[kMostCategories + 1], above[kMostCategories + 1];
    double q = 0.0;
    for (int t = 0; t < grid.size; ++t) {
        const double shift = grid.nf == 2 ? item.ao[1] * grid.z1[t] + item.ao[2] * grid.z2[t]
                                          : item.ao[1] * grid.z1[t];
        // log P(x <= k) = log sigma(u_k) and log P(x > k) = log(1 - sigma(u_k)) of each
        // threshold, from one exponential and one logarithm (as in binaryQ).
        for (int k = 1; k < O; ++k) {
            u[k] = item.thr[k] - shift;
            const double l = std::log1p(std::exp(-std::fabs(u[k])));
            below[k] = std::min(u[k], 0.0) - l;
            above[k] = std::min(-u[k], 0.0) - l;
        }
        for (int c = 1; c <= O; ++c) {
            const double r = ro[c][t];
            if (!(r > 0.0)) continue;
            double logp;
            if (c == 1)
                logp = below[1];
            else if (c == O)
                logp = above[O - 1];
            // sigma(a) - sigma(b) = sigma(a) (1 - sigma(b)) (1 - e^(b - a)) for a > b.
            else
                logp = below[c] + above[c - 1] + std::log(-std::expm1(u[c - 1] - u[c]));
            q += r * logp;
        }
    }
    return q;
}

double normalQ(const Grid& grid, const NormalItem& item, const double* n, const double* sn1,
               const double* sn2) {
    if (!(item.psi > 0.0)) return -INFINITY;
    const double logPsi = std::log(item.psi);
    double q = 0.0;
    for (int t = 0; t < grid.size; ++t) {
        if (!(n[t] > 0.0)) continue;
        const double m = grid.nf == 2
                             ? item.mu + item.lambda1 * grid.z1[t] + item.lambda2 * grid.z2[t]
                             : item.mu + item.lambda1 * grid.z1[t];
        // The weighted sum of squared residuals, (x - m)^2 summed with the E-step weights.
        const double squares = sn2[t] - 2.0 * m * sn1[t] + m * m * n[t];
        q -= 0.5 * (n[t] * logPsi + squares / item.psi);
    }
    return q;
}

} // namespace travik
