#include "travik/case_scores.hpp"

namespace travik {

namespace {

// With Squares, q receives the sums of GJ times each squared derivative beside s.
template <bool Squares>
void scoresOfCase(const ModelState& m, const Grid& grid, const ItemTables& t,
                  const ParameterLayout& layout, const double* gj, int k, double* s, double* q) {
    const Deck& d = m.deck;
    const int G = grid.size, nf = d.nf;
    const double* z1 = grid.z1.data();
    const double* z2 = grid.z2.data();
    const double* row = m.x.row(k);

    // Logistic items: intercept x - p, loadings z (x - p), accumulated in the given slots.
    auto logistic = [&](const double* p, double x, int i0, int i1, int i2) {
        double a = 0, b = 0, c = 0, aa = 0, bb = 0, cc = 0;
        for (int g = 0; g < G; ++g) {
            const double r = x - p[g];
            a += gj[g] * r;
            b += gj[g] * (z1[g] * r);
            if (nf == 2) c += gj[g] * (z2[g] * r);
            if constexpr (Squares) {
                aa += gj[g] * (r * r);
                bb += gj[g] * (z1[g] * r) * (z1[g] * r);
                if (nf == 2) cc += gj[g] * (z2[g] * r) * (z2[g] * r);
            }
        }
        s[i0] = a;
        s[i1] = b;
        if (nf == 2) s[i2] = c;
        if constexpr (Squares) {
            q[i0] = aa;
            q[i1] = bb;
            if (nf == 2) q[i2] = cc;
        }
    };
    for (int i = 0; i < d.nb; ++i) {
        const double x = truncated(row[i]);
        if (x != 0.0 && x != 1.0) continue;
        const int base = layout.binary[i];
        if (nf == 2)
            logistic(t.binary(i), x, base + 2, base + 1, base);
        else
            logistic(t.binary(i), x, base + 1, base, -1);
    }
    for (int i = 0; i < d.nn; ++i) {
        const double x = row[d.normalColumn(i)];
        if (isMissing(x)) continue;
        const NormalItem& n = m.params.normal[i];
        double smu = 0, sl1 = 0, sl2 = 0, spsi = 0;
        double qmu = 0, ql1 = 0, ql2 = 0, qpsi = 0;
        for (int g = 0; g < G; ++g) {
            double r = x - n.mu - n.lambda1 * z1[g];
            if (nf == 2) r -= n.lambda2 * z2[g];
            const double dmu = r / n.psi, dl1 = z1[g] * r / n.psi;
            const double dpsi = r * r / (2.0 * n.psi * n.psi) - 1.0 / (2.0 * n.psi);
            smu += gj[g] * dmu;
            sl1 += gj[g] * dl1;
            if (nf == 2) sl2 += gj[g] * (z2[g] * r / n.psi);
            spsi += gj[g] * dpsi;
            if constexpr (Squares) {
                qmu += gj[g] * dmu * dmu;
                ql1 += gj[g] * dl1 * dl1;
                if (nf == 2) ql2 += gj[g] * (z2[g] * r / n.psi) * (z2[g] * r / n.psi);
                qpsi += gj[g] * dpsi * dpsi;
            }
        }
        const int base = layout.normal[i];
        s[base] = smu;
        s[base + 1] = sl1;
        if (nf == 2) s[base + 2] = sl2;
        s[base + nf + 1] = spsi;
        if constexpr (Squares) {
            q[base] = qmu;
            q[base + 1] = ql1;
            if (nf == 2) q[base + 2] = ql2;
            q[base + nf + 1] = qpsi;
        }
    }
    for (int i = 0; i < d.nc; ++i) {
        const double x = row[d.nominalColumn(i)];
        if (isMissing(x)) continue;
        const int response = static_cast<int>(truncated(x));
        int base = layout.nominal[i];
        for (int j = 2; j <= d.c[i]; ++j, base += nf + 1)
            logistic(t.nominal(i, j), response == j ? 1.0 : 0.0, base, base + 1, base + 2);
    }
    for (int i = 0; i < d.no; ++i) {
        const double xv = row[d.ordinalColumn(i)];
        if (isMissing(xv)) continue;
        const int x = static_cast<int>(truncated(xv));
        const int O = d.o[i];
        const int base = layout.ordinal[i];
        auto gamma = [&](int c, int g) { return c == 0 ? 0.0 : t.cumulative(i, c)[g]; };
        // Only the thresholds next to the response move its probability.
        for (int j = 1; j < O; ++j) {
            if (x != j && x != j + 1) continue;
            double sum = 0, squares = 0;
            for (int g = 0; g < G; ++g) {
                // Where the response's probability underflows to 0 its weight is 0 as well:
                // the quotient would be 0 / 0.
                if (gj[g] == 0.0) continue;
                const double gs = gamma(j, g);
                const double d1 = x == j ? gs * (1.0 - gs) / (gs - gamma(j - 1, g))
                                         : -(gs * (1.0 - gs)) / (gamma(j + 1, g) - gs);
                sum += gj[g] * d1;
                if constexpr (Squares) squares += gj[g] * d1 * d1;
            }
            s[base + j - 1] = sum;
            if constexpr (Squares) q[base + j - 1] = squares;
        }
        double sa1 = 0, sa2 = 0, qa1 = 0, qa2 = 0;
        for (int g = 0; g < G; ++g) {
            const double w = 1.0 - gamma(x, g) - gamma(x - 1, g);
            sa1 += gj[g] * (-z1[g] * w);
            if (nf == 2) sa2 += gj[g] * (-z2[g] * w);
            if constexpr (Squares) {
                qa1 += gj[g] * (z1[g] * w) * (z1[g] * w);
                if (nf == 2) qa2 += gj[g] * (z2[g] * w) * (z2[g] * w);
            }
        }
        s[base + O - 1] = sa1;
        if (nf == 2) s[base + O] = sa2;
        if constexpr (Squares) {
            q[base + O - 1] = qa1;
            if (nf == 2) q[base + O] = qa2;
        }
    }
}

} // namespace

void caseScores(const ModelState& m, const Grid& grid, const ItemTables& t,
                const ParameterLayout& layout, const double* gj, int k, double* s,
                double* squares) {
    if (squares)
        scoresOfCase<true>(m, grid, t, layout, gj, k, s, squares);
    else
        scoresOfCase<false>(m, grid, t, layout, gj, k, s, nullptr);
}

} // namespace travik
