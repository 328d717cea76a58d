#include "travik/mstep.hpp"

#include <cmath>

namespace travik {

namespace {

bool allFinite(const double* v, int n) {
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(v[i])) return false;
    return true;
}

bool belowFrozen(const std::array<double, 3>& a, int nf) {
    for (int m = 0; m <= nf; ++m)
        if (!(a[m] < kFrozen)) return false;
    return true;
}

// One factor: gradient (g0, g1) and information (I00, I01, I11) of intercept and loading.
void logisticStep1(const Grid& grid, const double* p, const double* r, const double* n, std::array<double, 3>& a) {
    double g0 = 0, g1 = 0, i00 = 0, i01 = 0, i11 = 0;
    for (int t = 0; t < grid.size; ++t) {
        const double z = grid.z1[t];
        const double resid = r[t] - p[t] * n[t];
        const double w = p[t] * (1.0 - p[t]) * n[t];
        g0 += resid;
        g1 += resid * z;
        i00 += w;
        i01 += w * z;
        i11 += w * z * z;
    }
    const double det = i11 * i00 - i01 * i01;
    if (det == 0.0) return;
    const double d = 1.0 / std::fabs(det);
    const double step[2] = {d * (i11 * g0 - i01 * g1), d * (i00 * g1 - i01 * g0)};
    if (!allFinite(step, 2)) return;
    a[0] += step[0];
    a[1] += step[1];
}

// Two factors: the 3 x 3 information inverted through its cofactors, divided by the absolute
// value of the determinant (expanded along the first row).
void logisticStep2(const Grid& grid, const double* p, const double* r, const double* n, std::array<double, 3>& a) {
    double g[3] = {0, 0, 0};
    double s = 0, s1 = 0, s2 = 0, s11 = 0, s12 = 0, s22 = 0;
    for (int t = 0; t < grid.size; ++t) {
        const double z1 = grid.z1[t], z2 = grid.z2[t];
        const double resid = r[t] - p[t] * n[t];
        const double w = p[t] * (1.0 - p[t]) * n[t];
        g[0] += resid;
        g[1] += resid * z1;
        g[2] += resid * z2;
        s += w;
        s1 += w * z1;
        s2 += w * z2;
        s11 += w * z1 * z1;
        s12 += w * z1 * z2;
        s22 += w * z2 * z2;
    }
    const double c11 = s11 * s22 - s12 * s12, c12 = s2 * s12 - s1 * s22, c13 = s1 * s12 - s2 * s11;
    const double c22 = s * s22 - s2 * s2, c23 = s1 * s2 - s * s12, c33 = s * s11 - s1 * s1;
    const double det = s * c11 + s1 * c12 + s2 * c13;
    if (det == 0.0) return;
    const double ad = std::fabs(det);
    const double inverse[3][3] = {{c11 / ad, c12 / ad, c13 / ad}, {c12 / ad, c22 / ad, c23 / ad}, {c13 / ad, c23 / ad, c33 / ad}};
    double step[3];
    for (int row = 0; row < 3; ++row) step[row] = inverse[row][0] * g[0] + inverse[row][1] * g[1] + inverse[row][2] * g[2];
    if (!allFinite(step, 3)) return;
    for (int m = 0; m < 3; ++m) a[m] += step[m];
}

void normalStep1(const MStepInput& in, int i, NormalItem& item) {
    const Grid& grid = in.grid;
    const double* n = in.e.row(in.e.nexp, in.deck.normalColumn(i));
    const double* sn1 = in.e.row(in.e.sn1, i);
    const double* sn2 = in.e.row(in.e.sn2, i);
    double w0 = 0, w1 = 0, w2 = 0, s0 = 0, s1 = 0;
    for (int t = 0; t < grid.size; ++t) {
        const double z = grid.z1[t];
        w0 += n[t];
        w1 += n[t] * z;
        w2 += n[t] * z * z;
        s0 += sn1[t];
        s1 += sn1[t] * z;
    }
    const double den = w2 * w0 - w1 * w1;
    if (w0 == 0.0 || den == 0.0) return;
    const double mu = (w2 * s0 - w1 * s1) / den;
    const double lambda = (s1 * w0 - w1 * s0) / den;
    double sum = 0;
    for (int t = 0; t < grid.size; ++t) {
        const double z = grid.z1[t];
        const double m = mu + lambda * z;
        sum += sn2[t] - 2.0 * mu * sn1[t] - 2.0 * lambda * z * sn1[t] + m * m * n[t];
    }
    const double psi = (1.0 / w0) * sum;
    const double v[3] = {mu, lambda, psi};
    if (!allFinite(v, 3)) return;
    item.mu = mu;
    item.lambda1 = lambda;
    // A residual variance must stay positive; a collapsed one keeps its last value.
    if (psi > 0.0) item.psi = psi;
}

void normalStep2(const MStepInput& in, int i, NormalItem& item) {
    const Grid& grid = in.grid;
    const double* n = in.e.row(in.e.nexp, in.deck.normalColumn(i));
    const double* sn1 = in.e.row(in.e.sn1, i);
    const double* sn2 = in.e.row(in.e.sn2, i);
    double m11 = 0, m12 = 0, m13 = 0, m22 = 0, m23 = 0, m33 = 0, r1 = 0, r2 = 0, r3 = 0;
    for (int t = 0; t < grid.size; ++t) {
        const double z1 = grid.z1[t], z2 = grid.z2[t];
        m11 += n[t];
        m12 += n[t] * z1;
        m13 += n[t] * z2;
        m22 += n[t] * z1 * z1;
        m23 += n[t] * z1 * z2;
        m33 += n[t] * z2 * z2;
        r1 += sn1[t];
        r2 += sn1[t] * z1;
        r3 += sn1[t] * z2;
    }
    const double w0 = m11;
    if (w0 == 0.0) return;
    std::vector<double> moments = {m11, m12, m13, m12, m22, m23, m13, m23, m33};
    if (!inv(moments, 3, in.pause)) return;
    double coef[3];
    for (int row = 0; row < 3; ++row)
        coef[row] = moments[row * 3] * r1 + moments[row * 3 + 1] * r2 + moments[row * 3 + 2] * r3;
    double sum = 0;
    for (int t = 0; t < grid.size; ++t) {
        const double m = coef[0] + coef[1] * grid.z1[t] + coef[2] * grid.z2[t];
        sum += sn2[t] - 2.0 * m * sn1[t] + m * m * n[t];
    }
    const double psi = (1.0 / w0) * sum;
    const double v[4] = {coef[0], coef[1], coef[2], psi};
    if (!allFinite(v, 4)) return;
    item.mu = coef[0];
    item.lambda1 = coef[1];
    item.lambda2 = coef[2];
    if (psi > 0.0) item.psi = psi;
}

} // namespace

void logisticStep(const Grid& grid, const double* p, const double* r, const double* n, std::array<double, 3>& a) {
    if (grid.nf == 2) logisticStep2(grid, p, r, n, a);
    else logisticStep1(grid, p, r, n, a);
}

void normalStep(const MStepInput& in, int i, NormalItem& item) {
    if (in.grid.nf == 2) normalStep2(in, i, item);
    else normalStep1(in, i, item);
}

void ordinalStep(const MStepInput& in, int i, OrdinalItem& item) {
    const Grid& grid = in.grid;
    const int O = item.categories;
    const int nf = grid.nf;
    const int size = O - 1 + nf; // thresholds, then the loadings
    std::vector<double> s(size, 0.0), J(static_cast<std::size_t>(size) * size, 0.0);
    auto at = [&](int r, int c) -> double& { return J[static_cast<std::size_t>(r - 1) * size + (c - 1)]; };
    const double* cumo[kMaxCategories + 1];
    const double* po[kMaxCategories + 1];
    const double* ro[kMaxCategories + 1];
    for (int c = 1; c <= O; ++c) {
        cumo[c] = in.tables.cumulative(i, c);
        po[c] = in.tables.ordinal(i, c);
        ro[c] = in.e.category(in.e.ro, i, c);
    }
    double gamma[kMaxCategories + 1], pi[kMaxCategories + 1], h[kMaxCategories + 1], R[kMaxCategories + 2];
    for (int t = 0; t < grid.size; ++t) {
        const double z[2] = {grid.z1[t], grid.z2[t]};
        gamma[0] = 0.0;
        for (int c = 1; c <= O; ++c) {
            gamma[c] = cumo[c][t];
            pi[c] = po[c][t];
            h[c] = gamma[c] * (1.0 - gamma[c]);
            R[c] = ro[c][t];
        }
        // The term of the non-existent category 0 counts as 1 in the second derivatives.
        h[0] = 1.0;
        for (int k = 1; k < O; ++k) {
            s[k - 1] += h[k] * (R[k] / pi[k] - R[k + 1] / pi[k + 1]);
            at(k, k) += h[k] * ((h[k + 1] / (pi[k + 1] * pi[k + 1]) + 1.0) * R[k + 1] +
                                (h[k - 1] / (pi[k] * pi[k]) + 1.0) * R[k]);
            if (k + 1 < O) at(k, k + 1) += -(h[k] * h[k + 1] * R[k + 1] / (pi[k + 1] * pi[k + 1]));
            for (int f = 0; f < nf; ++f) at(k, O + f) += -(z[f] * h[k] * (R[k] + R[k + 1]));
        }
        double slope = 0.0, curvature = 0.0;
        for (int c = 1; c <= O; ++c) {
            slope += R[c] * (1.0 - gamma[c] - gamma[c - 1]);
            curvature += R[c] * (h[c] + h[c - 1]);
        }
        for (int f = 0; f < nf; ++f) {
            s[O - 1 + f] += z[f] * slope;
            for (int f2 = f; f2 < nf; ++f2) at(O + f, O + f2) += z[f] * z[f2] * curvature;
        }
    }
    for (int f = 0; f < nf; ++f) s[O - 1 + f] = -s[O - 1 + f];
    for (int r = 1; r <= size; ++r)
        for (int c = r + 1; c <= size; ++c) at(c, r) = at(r, c);
    if (!inv(J, size, in.pause)) return;
    std::vector<double> step(size, 0.0);
    for (int r = 0; r < size; ++r) {
        double sum = 0.0;
        for (int c = 0; c < size; ++c) sum += J[static_cast<std::size_t>(r) * size + c] * s[c];
        step[r] = sum;
    }
    if (!allFinite(step.data(), size)) return;
    // A step that would leave the thresholds out of order makes some category probabilities
    // negative: it is halved until they increase again (a step that keeps them in order,
    // the usual case, is taken whole).
    auto ordered = [&](double fraction) {
        for (int k = 2; k < O; ++k)
            if (!(item.thr[k - 1] + fraction * step[k - 2] < item.thr[k] + fraction * step[k - 1])) return false;
        return true;
    };
    double fraction = 1.0;
    while (!ordered(fraction)) {
        fraction *= 0.5;
        if (fraction < 1e-10) return;
    }
    for (int k = 1; k < O; ++k) item.thr[k] += fraction * step[k - 1];
    for (int f = 0; f < nf; ++f) item.ao[1 + f] += fraction * step[O - 1 + f];
}

void mstep(const MStepInput& in, Parameters& p) {
    const Deck& d = in.deck;
    const int nf = in.grid.nf;
    for (int i = 0; i < d.nb; ++i) {
        std::array<double, 3>& a = p.binary[i].alpha;
        if (!belowFrozen(a, nf)) continue;
        logisticStep(in.grid, in.tables.binary(i), in.e.row(in.e.rb, i), in.e.row(in.e.nexp, i), a);
    }
    for (int i = 0; i < d.nn; ++i) normalStep(in, i, p.normal[i]);
    for (int i = 0; i < d.nc; ++i) {
        NominalItem& item = p.nominal[i];
        const double* n = in.e.row(in.e.nexp, d.nominalColumn(i));
        for (int j = 2; j <= item.categories; ++j) {
            if (!belowFrozen(item.ac[j], nf)) continue;
            logisticStep(in.grid, in.tables.nominal(i, j), in.e.category(in.e.rc, i, j), n, item.ac[j]);
        }
    }
    for (int i = 0; i < d.no; ++i) ordinalStep(in, i, p.ordinal[i]);
}

} // namespace travik
