#include "travik/case_scores.hpp"

#include <cstring>
#include <vector>

namespace travik {

namespace {

// The binary items' sums, four items at a time point by point: each item's sums still run over
// the points in order with the terms of a one-item loop, so they are the same numbers, but four
// items share each vector operation and the sums stay in registers. For item i with response
// x_i and r = x_i - P_i(z_g):
//   a_i = sum_g GJ r,  b_i = sum_g GJ z1 r,  c_i = sum_g GJ z2 r,
//   aa_i = sum_g GJ r^2,  bb_i = sum_g GJ (z1 r)^2,  cc_i = sum_g GJ (z2 r)^2.
struct BinarySums {
    double *a, *b, *c, *aa, *bb, *cc; // one per item of the padded stride
};

using Lanes = double __attribute__((vector_size(kBinaryLanes * sizeof(double))));

template <int NF, bool Squares>
__attribute__((always_inline)) inline void
binaryPointSums(int stride, int G, const double* x, const double* pByPoint, const double* gj,
                const double* z1, const double* z2, const BinarySums& out) {
    for (int i = 0; i < stride; i += kBinaryLanes) {
        Lanes xi, p;
        std::memcpy(&xi, x + i, sizeof xi);
        Lanes a{}, b{}, c{}, aa{}, bb{}, cc{};
        for (int g = 0; g < G; ++g) {
            // A scalar operand acts on every lane.
            const double w = gj[g], u = z1[g];
            std::memcpy(&p, pByPoint + static_cast<std::size_t>(g) * stride + i, sizeof p);
            const Lanes r = xi - p;
            const Lanes ur = u * r;
            a += w * r;
            b += w * ur;
            if constexpr (Squares) {
                aa += w * (r * r);
                bb += w * ur * ur;
            }
            if constexpr (NF == 2) {
                const Lanes vr = z2[g] * r;
                c += w * vr;
                if constexpr (Squares) cc += w * vr * vr;
            }
        }
        std::memcpy(out.a + i, &a, sizeof a);
        std::memcpy(out.b + i, &b, sizeof b);
        std::memcpy(out.c + i, &c, sizeof c);
        std::memcpy(out.aa + i, &aa, sizeof aa);
        std::memcpy(out.bb + i, &bb, sizeof bb);
        std::memcpy(out.cc + i, &cc, sizeof cc);
    }
}

__attribute__((target_clones("avx2", "default"))) void
binaryScoreSums(int nf, bool squares, int stride, int G, const double* x, const double* pByPoint,
                const double* gj, const double* z1, const double* z2, const BinarySums& out) {
    if (nf == 2) {
        if (squares)
            binaryPointSums<2, true>(stride, G, x, pByPoint, gj, z1, z2, out);
        else
            binaryPointSums<2, false>(stride, G, x, pByPoint, gj, z1, z2, out);
    } else {
        if (squares)
            binaryPointSums<1, true>(stride, G, x, pByPoint, gj, z1, z2, out);
        else
            binaryPointSums<1, false>(stride, G, x, pByPoint, gj, z1, z2, out);
    }
}

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
    if (d.nb > 0) {
        const std::size_t stride = static_cast<std::size_t>(t.binaryStride);
        // The responses, then the six sums: one buffer per thread, not an allocation per case.
        thread_local std::vector<double> work;
        work.assign(7 * stride, 0.0);
        double* x = work.data();
        for (int i = 0; i < d.nb; ++i) {
            const double v = truncated(row[i]);
            x[i] = v == 1.0 ? 1.0 : 0.0; // an unanswered item's sums are not used
        }
        const BinarySums sums{x + stride,     x + 2 * stride, x + 3 * stride,
                              x + 4 * stride, x + 5 * stride, x + 6 * stride};
        binaryScoreSums(nf, Squares, t.binaryStride, G, x, t.binaryOneByPoint.data(), gj, z1, z2,
                        sums);
        for (int i = 0; i < d.nb; ++i) {
            const double v = truncated(row[i]);
            if (v != 0.0 && v != 1.0) continue;
            // The parameter vector holds an item's loadings (second, first) before its intercept.
            const int base = layout.binary[i];
            const int intercept = base + nf, first = base + nf - 1, second = base;
            s[intercept] = sums.a[i];
            s[first] = sums.b[i];
            if (nf == 2) s[second] = sums.c[i];
            if constexpr (Squares) {
                q[intercept] = sums.aa[i];
                q[first] = sums.bb[i];
                if (nf == 2) q[second] = sums.cc[i];
            }
        }
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
