#include "travik/variance.hpp"

#include <cmath>
#include <limits>

namespace travik {

ParameterLayout parameterLayout(const Deck& d) {
    ParameterLayout l;
    const int nf = d.nf;
    int at = 0;
    for (int i = 0; i < d.nb; ++i, at += nf + 1) l.binary.push_back(at);
    for (int i = 0; i < d.nn; ++i, at += nf + 2) l.normal.push_back(at);
    for (int i = 0; i < d.nc; ++i) {
        l.nominal.push_back(at);
        at += (d.c[i] - 1) * (nf + 1);
        l.nominalCategories += d.c[i] - 1;
    }
    for (int i = 0; i < d.no; ++i) {
        l.ordinal.push_back(at);
        at += d.o[i] - 1 + nf;
    }
    l.count = at;
    return l;
}

namespace {

// Sums of GJ times each derivative over the grid, item by item, into s.
void scoreOfCase(const ModelState& m, const Estimation& est, const ParameterLayout& layout, const double* gj, int k,
                 double* s) {
    const Deck& d = m.deck;
    const Grid& grid = est.grid;
    const ItemTables& t = est.tables;
    const int G = grid.size, nf = d.nf;
    const double* z1 = grid.z1.data();
    const double* z2 = grid.z2.data();
    const double* row = m.x.row(k);

    // Logistic items: intercept x - p, loadings z (x - p), accumulated in the given slots.
    auto logistic = [&](const double* p, double x, double* s0, double* s1, double* s2) {
        double a = 0, b = 0, c = 0;
        for (int g = 0; g < G; ++g) {
            const double r = x - p[g];
            a += gj[g] * r;
            b += gj[g] * (z1[g] * r);
            if (nf == 2) c += gj[g] * (z2[g] * r);
        }
        *s0 = a;
        *s1 = b;
        if (nf == 2) *s2 = c;
    };
    for (int i = 0; i < d.nb; ++i) {
        const double x = truncated(row[i]);
        if (x != 0.0 && x != 1.0) continue;
        double* base = s + layout.binary[i];
        if (nf == 2) logistic(t.binary(i), x, base + 2, base + 1, base);
        else logistic(t.binary(i), x, base + 1, base, nullptr);
    }
    for (int i = 0; i < d.nn; ++i) {
        const double x = row[d.normalColumn(i)];
        if (isMissing(x)) continue;
        const NormalItem& n = m.params.normal[i];
        double smu = 0, sl1 = 0, sl2 = 0, spsi = 0;
        for (int g = 0; g < G; ++g) {
            double r = x - n.mu - n.lambda1 * z1[g];
            if (nf == 2) r -= n.lambda2 * z2[g];
            smu += gj[g] * (r / n.psi);
            sl1 += gj[g] * (z1[g] * r / n.psi);
            if (nf == 2) sl2 += gj[g] * (z2[g] * r / n.psi);
            spsi += gj[g] * (r * r / (2.0 * n.psi * n.psi) - 1.0 / (2.0 * n.psi));
        }
        double* base = s + layout.normal[i];
        base[0] = smu;
        base[1] = sl1;
        if (nf == 2) base[2] = sl2;
        base[nf + 1] = spsi;
    }
    for (int i = 0; i < d.nc; ++i) {
        const double x = row[d.nominalColumn(i)];
        if (isMissing(x)) continue;
        const int response = static_cast<int>(truncated(x));
        double* base = s + layout.nominal[i];
        for (int j = 2; j <= d.c[i]; ++j, base += nf + 1)
            logistic(t.nominal(i, j), response == j ? 1.0 : 0.0, base, base + 1, base + 2);
    }
    for (int i = 0; i < d.no; ++i) {
        const double xv = row[d.ordinalColumn(i)];
        if (isMissing(xv)) continue;
        const int x = static_cast<int>(truncated(xv));
        const int O = d.o[i];
        double* base = s + layout.ordinal[i];
        auto gamma = [&](int c, int g) { return c == 0 ? 0.0 : t.cumulative(i, c)[g]; };
        // Only the thresholds next to the response move its probability.
        for (int j = 1; j < O; ++j) {
            if (x != j && x != j + 1) continue;
            double sum = 0;
            for (int g = 0; g < G; ++g) {
                const double gs = gamma(j, g);
                const double d1 = x == j ? gs * (1.0 - gs) / (gs - gamma(j - 1, g))
                                         : -(gs * (1.0 - gs)) / (gamma(j + 1, g) - gs);
                sum += gj[g] * d1;
            }
            base[j - 1] = sum;
        }
        double sa1 = 0, sa2 = 0;
        for (int g = 0; g < G; ++g) {
            const double q = 1.0 - gamma(x, g) - gamma(x - 1, g);
            sa1 += gj[g] * (-z1[g] * q);
            if (nf == 2) sa2 += gj[g] * (-z2[g] * q);
        }
        base[O - 1] = sa1;
        if (nf == 2) base[O] = sa2;
    }
}

// Parameter positions of the items a case answered: the other rows of S are zero.
std::vector<int> answeredPositions(const Deck& d, const ParameterLayout& layout, const double* row) {
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

} // namespace

std::vector<double> caseScore(const ModelState& m, const Estimation& est, const ParameterLayout& layout, int k) {
    std::vector<double> s(layout.count, 0.0);
    scoreOfCase(m, est, layout, est.weights.row(k), k, s.data());
    return s;
}

Covariance variance(const ModelState& m, Estimation& est, const Pause& pause) {
    const Deck& d = m.deck;
    Covariance result;
    result.layout = parameterLayout(d);
    const int P = result.layout.count;
    const std::size_t PP = static_cast<std::size_t>(P) * P;
    std::vector<double> info(PP, 0.0);
    std::vector<double> s(P, 0.0);
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
        scoreOfCase(m, est, result.layout, gj, k, s.data());
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
        for (int c = r + 1; c < P; ++c) info[static_cast<std::size_t>(c) * P + r] = info[static_cast<std::size_t>(r) * P + c];
    if (!inv(info, P, pause)) info.assign(PP, std::numeric_limits<double>::quiet_NaN());
    result.cov = std::move(info);
    return result;
}

} // namespace travik
