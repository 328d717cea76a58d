#include "travik/mstep.hpp"

#include "numerics/linear_algebra.hpp"
#include "travik/expected_loglik.hpp"
#include "travik/identification.hpp"
#include "travik/safeguard.hpp"

#include <Eigen/Dense>

#include <cmath>
#include <optional>

namespace travik {

namespace {

// A solved M-step repeats an item's update while Q_i rises by more than this share of |Q_i|
// (Newton steps converge quadratically: a handful of repeats reach it), and at most
// kMostRepeats times.
constexpr double kSolvedRise = 1e-13;
constexpr int kMostRepeats = 50;

// Runs update once, or for a solved M-step repeats it while Q_i rises by more than kSolvedRise
// of |Q_i|. update(q) is told Q_i at the item's current values and returns Q_i after one
// safeguarded update, or nothing when it made none.
// A^-1 b for a symmetric matrix of the M-step that should be positive definite (the moments of
// the quadrature points, an ordinal item's information), by LU with complete pivoting. One that
// is singular or not positive definite shows "Singular matrix" through pause; a singular one, or
// one holding a value that is not a number, gives no solution.
std::optional<Eigen::VectorXd> solveShowingTrouble(const Eigen::MatrixXd& a,
                                                   const Eigen::VectorXd& b,
                                                   const fixedio::Pause& pause) {
    const numerics::LuSolution s = numerics::solve(a, b);
    if (!s.finite) return std::nullopt;
    if (!numerics::pivotedCholesky(a).positiveDefinite()) pause("Singular matrix");
    if (!s.solved) return std::nullopt;
    return Eigen::VectorXd(s.x.col(0));
}

template <class Update> void repeatWhileRising(bool solve, double q, Update update) {
    for (int repeat = 0; repeat < (solve ? kMostRepeats : 1); ++repeat) {
        const std::optional<double> next = update(q);
        if (!next || !(*next - q > kSolvedRise * std::fabs(q))) return;
        q = *next;
    }
}

// One loading: gradient (g0, g1) and information (I00, I01, I11) of intercept and loading 1.
bool logisticDirection1(const Grid& grid, const double* p, const double* r, const double* n,
                        double* step) {
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
    if (det == 0.0) return false;
    const double d = 1.0 / std::fabs(det);
    step[0] = d * (i11 * g0 - i01 * g1);
    step[1] = d * (i00 * g1 - i01 * g0);
    return true;
}

// Two loadings: the 3 x 3 information inverted through its cofactors, divided by the absolute
// value of the determinant (expanded along the first row).
bool logisticDirection2(const Grid& grid, const double* p, const double* r, const double* n,
                        double* step) {
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
    if (det == 0.0) return false;
    const double ad = std::fabs(det);
    const double inverse[3][3] = {{c11 / ad, c12 / ad, c13 / ad},
                                  {c12 / ad, c22 / ad, c23 / ad},
                                  {c13 / ad, c23 / ad, c33 / ad}};
    for (int row = 0; row < 3; ++row)
        step[row] = inverse[row][0] * g[0] + inverse[row][1] * g[1] + inverse[row][2] * g[2];
    return true;
}

// One loading: the regression of the item on (1, z1).
bool normalUpdate1(const MStepInput& in, int i, NormalItem& item) {
    const Grid& grid = in.grid;
    const double* n = in.e.row(in.e.expectedObserved, in.deck.normalColumn(i));
    const double* sn1 = in.e.row(in.e.expectedSumX, i);
    const double* sn2 = in.e.row(in.e.expectedSumX2, i);
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
    if (w0 == 0.0 || den == 0.0) return false;
    const double mu = (w2 * s0 - w1 * s1) / den;
    const double lambda = (s1 * w0 - w1 * s0) / den;
    double sum = 0;
    for (int t = 0; t < grid.size; ++t) {
        const double z = grid.z1[t];
        const double m = mu + lambda * z;
        sum += sn2[t] - 2.0 * mu * sn1[t] - 2.0 * lambda * z * sn1[t] + m * m * n[t];
    }
    const double psi = (1.0 / w0) * sum;
    item.mu = mu;
    item.lambda1 = lambda;
    // A residual variance must stay positive; a collapsed one keeps its last value.
    if (psi > 0.0) item.psi = psi;
    return true;
}

bool normalUpdate2(const MStepInput& in, int i, NormalItem& item) {
    const Grid& grid = in.grid;
    const double* n = in.e.row(in.e.expectedObserved, in.deck.normalColumn(i));
    const double* sn1 = in.e.row(in.e.expectedSumX, i);
    const double* sn2 = in.e.row(in.e.expectedSumX2, i);
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
    if (w0 == 0.0) return false;
    Eigen::Matrix3d moments;
    moments << m11, m12, m13, m12, m22, m23, m13, m23, m33;
    const std::optional<Eigen::VectorXd> coef =
        solveShowingTrouble(moments, Eigen::Vector3d(r1, r2, r3), in.pause);
    if (!coef) return false;
    double sum = 0;
    for (int t = 0; t < grid.size; ++t) {
        const double m = (*coef)(0) + (*coef)(1) * grid.z1[t] + (*coef)(2) * grid.z2[t];
        sum += sn2[t] - 2.0 * m * sn1[t] + m * m * n[t];
    }
    const double psi = (1.0 / w0) * sum;
    item.mu = (*coef)(0);
    item.lambda1 = (*coef)(1);
    item.lambda2 = (*coef)(2);
    if (psi > 0.0) item.psi = psi;
    return true;
}

// The item's free values as one vector, in a fixed order, and back.
std::vector<double> normalValues(const NormalItem& n, int nf) {
    if (nf == 2) return {n.mu, n.lambda1, n.lambda2, n.psi};
    return {n.mu, n.lambda1, n.psi};
}
NormalItem normalFrom(const std::vector<double>& v, int nf) {
    NormalItem n;
    n.mu = v[0];
    n.lambda1 = v[1];
    if (nf == 2) n.lambda2 = v[2];
    n.psi = v.back();
    return n;
}

std::vector<double> nominalValues(const NominalItem& c, int nf) {
    std::vector<double> v;
    for (int j = 2; j <= c.categories; ++j)
        for (int m = 0; m <= nf; ++m) v.push_back(c.ac[j][m]);
    return v;
}
void setNominal(NominalItem& c, const std::vector<double>& v, int nf) {
    std::size_t at = 0;
    for (int j = 2; j <= c.categories; ++j)
        for (int m = 0; m <= nf; ++m) c.ac[j][m] = v[at++];
}

std::vector<double> ordinalValues(const OrdinalItem& o, int nf) {
    std::vector<double> v;
    for (int k = 1; k < o.categories; ++k) v.push_back(o.thr[k]);
    for (int f = 1; f <= nf; ++f) v.push_back(o.ao[f]);
    return v;
}
void setOrdinal(OrdinalItem& o, const std::vector<double>& v, int nf) {
    const int O = o.categories;
    for (int k = 1; k < O; ++k) o.thr[k] = v[k - 1];
    for (int f = 1; f <= nf; ++f) o.ao[f] = v[O - 2 + f];
}

// A logistic step on (intercept, loadings 1..loadings), the other loading's step left 0.
bool logisticStep(const Grid& grid, int loadings, const double* p, const double* r, const double* n,
                  double* step) {
    step[0] = step[1] = step[2] = 0.0;
    return logisticDirection(grid, loadings, p, r, n, step);
}

void binaryUpdate(const MStepInput& in, int i, BinaryItem& item) {
    const int nf = in.grid.nf;
    const int loadings = freeLoadings(in.deck, Anchor::Binary, i);
    const double* r = in.e.row(in.e.expectedOnes, i);
    const double* n = in.e.row(in.e.expectedObserved, i);
    auto q = [&](const std::vector<double>& v) {
        std::array<double, 3> a{};
        for (int m = 0; m <= nf; ++m) a[m] = v[m];
        return binaryQ(in.grid, a, r, n);
    };
    if (!belowFrozen(item.alpha, nf)) return;
    std::vector<double> p;
    bool first = true;
    std::vector<double> theta(item.alpha.begin(), item.alpha.begin() + nf + 1);
    repeatWhileRising(in.solve, q(theta), [&](double before) -> std::optional<double> {
        if (!belowFrozen(item.alpha, nf)) return std::nullopt;
        // The first step uses the cycle's table; a repeat, the probabilities of the new values.
        const double* probabilities = in.tables.binary(i);
        if (!first) {
            p.resize(in.grid.size);
            logisticProbabilities(in.grid, item.alpha, p.data(), nullptr);
            probabilities = p.data();
        }
        first = false;
        double step[3];
        if (!logisticStep(in.grid, loadings, probabilities, r, n, step)) return std::nullopt;
        double after = before;
        if (!(safeguardedStep(theta, std::vector<double>(step, step + nf + 1), q, before, &after) >
              0.0))
            return std::nullopt;
        for (int m = 0; m <= nf; ++m) item.alpha[m] = theta[m];
        return after;
    });
}

// The closed form maximizes Q_i: a solved M-step has nothing to repeat.
void normalSafeguarded(const MStepInput& in, int i, NormalItem& item) {
    const int nf = in.grid.nf;
    NormalItem updated = item;
    if (!normalUpdate(in, i, freeLoadings(in.deck, Anchor::Normal, i), updated)) return;
    const double* n = in.e.row(in.e.expectedObserved, in.deck.normalColumn(i));
    const double* sn1 = in.e.row(in.e.expectedSumX, i);
    const double* sn2 = in.e.row(in.e.expectedSumX2, i);
    auto q = [&](const std::vector<double>& v) {
        return normalQ(in.grid, normalFrom(v, nf), n, sn1, sn2);
    };
    std::vector<double> theta = normalValues(item, nf);
    if (safeguardedMove(theta, normalValues(updated, nf), q, q(theta)) > 0.0)
        item = normalFrom(theta, nf);
}

// Each category's step formed on its own (the cross-category terms are not used), from the
// category probabilities pc[c].
bool categoryDirections(const MStepInput& in, int i, const NominalItem& item,
                        const double* const* pc, std::vector<double>& step) {
    const int nf = in.grid.nf;
    const double* n = in.e.row(in.e.expectedObserved, in.deck.nominalColumn(i));
    step.assign(static_cast<std::size_t>(item.categories - 1) * (nf + 1), 0.0);
    bool any = false;
    for (int j = 2; j <= item.categories; ++j) {
        if (!belowFrozen(item.ac[j], nf)) continue;
        double s[3];
        if (!logisticStep(in.grid, freeLoadings(in.deck, Anchor::Nominal, i, j), pc[j],
                          in.e.category(in.e.expectedNominal, i, j), n, s))
            continue;
        for (int m = 0; m <= nf; ++m) step[static_cast<std::size_t>(j - 2) * (nf + 1) + m] = s[m];
        any = true;
    }
    return any;
}

// The Newton step on every free category parameter at once, with the whole multinomial
// information: for categories J, K and terms m, m' (1, z1, z2),
//   g(J,m) = sum_t (R_J - N P_J) z_m,   I(Jm, Km') = sum_t N P_J (delta_JK - P_K) z_m z_m'.
// False when that information is not positive definite.
bool multinomialDirection(const MStepInput& in, int i, const NominalItem& item,
                          const double* const* pc, std::vector<double>& step) {
    const Grid& grid = in.grid;
    const int nf = grid.nf, C = item.categories, width = nf + 1;
    const double* n = in.e.row(in.e.expectedObserved, in.deck.nominalColumn(i));
    std::vector<int> position; // free (category, term) pairs as index j * width + m
    for (int j = 2; j <= C; ++j) {
        if (!belowFrozen(item.ac[j], nf)) continue;
        const int loadings = freeLoadings(in.deck, Anchor::Nominal, i, j);
        for (int m = 0; m <= loadings; ++m) position.push_back((j - 2) * width + m);
    }
    const int size = static_cast<int>(position.size());
    if (size == 0) return false;
    Eigen::VectorXd g = Eigen::VectorXd::Zero(size);
    Eigen::MatrixXd info = Eigen::MatrixXd::Zero(size, size);
    for (int t = 0; t < grid.size; ++t) {
        const double z[3] = {1.0, grid.z1[t], grid.z2[t]};
        for (int a = 0; a < size; ++a) {
            const int j = position[a] / width + 2, m = position[a] % width;
            g(a) += (in.e.category(in.e.expectedNominal, i, j)[t] - n[t] * pc[j][t]) * z[m];
            for (int b = a; b < size; ++b) {
                const int k = position[b] / width + 2, mm = position[b] % width;
                const double cross = (j == k ? pc[j][t] : 0.0) - pc[j][t] * pc[k][t];
                info(a, b) += n[t] * cross * z[m] * z[mm];
            }
        }
    }
    info = info.selfadjointView<Eigen::Upper>();
    const std::optional<Eigen::VectorXd> d = numerics::positiveDefiniteSolve(info, g);
    if (!d) return false;
    step.assign(static_cast<std::size_t>(C - 1) * width, 0.0);
    for (int a = 0; a < size; ++a) step[position[a]] = (*d)(a);
    return true;
}

void nominalUpdate(const MStepInput& in, int i, NominalItem& item) {
    const int nf = in.grid.nf;
    NominalItem trial = item;
    auto q = [&](const std::vector<double>& v) {
        setNominal(trial, v, nf);
        return nominalQ(in.grid, trial, in.e, i);
    };
    std::vector<double> own;
    bool first = true;
    std::vector<double> theta = nominalValues(item, nf);
    repeatWhileRising(in.solve, q(theta), [&](double before) -> std::optional<double> {
        const double* pc[kMostCategories + 1];
        if (first) {
            for (int c = 1; c <= item.categories; ++c) pc[c] = in.tables.nominal(i, c);
        } else {
            own.resize(static_cast<std::size_t>(item.categories + 1) * in.grid.size);
            double* rows[kMostCategories + 1];
            for (int c = 1; c <= item.categories; ++c)
                pc[c] = rows[c] = own.data() + static_cast<std::size_t>(c) * in.grid.size;
            nominalProbabilities(in.grid, item, rows);
        }
        first = false;
        std::vector<double> step;
        // The specified step takes each category on its own; a solved one, all of them at once.
        const bool any = in.solve ? multinomialDirection(in, i, item, pc, step) ||
                                        categoryDirections(in, i, item, pc, step)
                                  : categoryDirections(in, i, item, pc, step);
        if (!any) return std::nullopt;
        double after = before;
        if (!(safeguardedStep(theta, step, q, before, &after) > 0.0)) return std::nullopt;
        setNominal(item, theta, nf);
        return after;
    });
}

// The exact Newton step on Q_i of an ordinal item, for a solved M-step. With u_c = THR_c - a'z,
// g_c = sigma(u_c), h_c = g_c(1 - g_c), q_c = h_c(1 - 2 g_c) (0 for categories 0 and O) and
// P_c = g_c - g_(c-1), Q_i = sum_t sum_c R_c ln P_c has gradient sum R_c A_c / P_c and Hessian
// sum R_c (B_c / P_c - A_c A_c' / P_c^2), where A_c and B_c are the first and second
// derivatives of P_c: A: THR_c h_c, THR_(c-1) -h_(c-1), loading f -z_f (h_c - h_(c-1));
// B: THR_c,THR_c q_c; THR_(c-1),THR_(c-1) -q_(c-1); THR_c,f -z_f q_c; THR_(c-1),f z_f q_(c-1);
// f,f' z_f z_f' (q_c - q_(c-1)). False when minus the Hessian is not positive definite.
bool ordinalExactDirection(const MStepInput& in, int i, int O, int loadings,
                           const double* const* cumo, std::vector<double>& step) {
    const Grid& grid = in.grid;
    const int size = O - 1 + loadings;
    Eigen::VectorXd g = Eigen::VectorXd::Zero(size);
    Eigen::MatrixXd information = Eigen::MatrixXd::Zero(size, size);
    const double* ro[kMostCategories + 1];
    for (int c = 1; c <= O; ++c) ro[c] = in.e.category(in.e.expectedOrdinal, i, c);
    for (int t = 0; t < grid.size; ++t) {
        const double z[3] = {1.0, grid.z1[t], grid.z2[t]};
        double gamma[kMostCategories + 1], h[kMostCategories + 1], q[kMostCategories + 1];
        for (int c = 0; c <= O; ++c) {
            gamma[c] = c == 0 ? 0.0 : c == O ? 1.0 : cumo[c][t];
            h[c] = c == 0 || c == O ? 0.0 : gamma[c] * (1.0 - gamma[c]);
            q[c] = h[c] * (1.0 - 2.0 * gamma[c]);
        }
        for (int c = 1; c <= O; ++c) {
            const double R = ro[c][t], P = gamma[c] - gamma[c - 1];
            if (!(R > 0.0) || !(P > 0.0)) continue;
            // Positions P_c depends on, with A and the row of B they need.
            int pos[4];
            double a[4];
            int n = 0, upper = -1; // upper: the entry of THR_c, when c < O
            if (c < O) {
                upper = n;
                pos[n] = c - 1;
                a[n++] = h[c];
            }
            if (c > 1) {
                pos[n] = c - 2;
                a[n++] = -h[c - 1];
            }
            const int thresholds = n;
            for (int f = 1; f <= loadings; ++f) {
                pos[n] = O - 2 + f;
                a[n++] = -z[f] * (h[c] - h[c - 1]);
            }
            auto second = [&](int u, int v) {
                if (u < thresholds && v < thresholds)
                    return u != v ? 0.0 : u == upper ? q[c] : -q[c - 1];
                if (u < thresholds || v < thresholds) {
                    const int thr = u < thresholds ? u : v,
                              f = (u < thresholds ? v : u) - thresholds + 1;
                    return thr == upper ? -z[f] * q[c] : z[f] * q[c - 1];
                }
                return z[u - thresholds + 1] * z[v - thresholds + 1] * (q[c] - q[c - 1]);
            };
            for (int u = 0; u < n; ++u) {
                g(pos[u]) += R * a[u] / P;
                for (int v = 0; v < n; ++v)
                    information(pos[u], pos[v]) -= R * (second(u, v) / P - a[u] * a[v] / (P * P));
            }
        }
    }
    const std::optional<Eigen::VectorXd> d = numerics::positiveDefiniteSolve(information, g);
    if (!d) return false;
    step.assign(d->data(), d->data() + size);
    return true;
}

void ordinalUpdate(const MStepInput& in, int i, OrdinalItem& item) {
    const int nf = in.grid.nf;
    const int O = item.categories;
    const int loadings = freeLoadings(in.deck, Anchor::Ordinal, i);
    OrdinalItem trial = item;
    auto q = [&](const std::vector<double>& v) {
        setOrdinal(trial, v, nf);
        return ordinalQ(in.grid, trial, in.e, i);
    };
    // Directions over thresholds and the free loadings; a fixed loading's step stays 0.
    auto padded = [&](const std::vector<double>& v) {
        std::vector<double> full(static_cast<std::size_t>(O - 1 + nf), 0.0);
        std::copy(v.begin(), v.end(), full.begin());
        return full;
    };
    std::vector<double> own;
    bool first = true;
    std::vector<double> theta = ordinalValues(item, nf);
    repeatWhileRising(in.solve, q(theta), [&](double before) -> std::optional<double> {
        const double* cumo[kMostCategories + 1];
        const double* po[kMostCategories + 1];
        if (first) {
            for (int c = 1; c <= O; ++c) {
                cumo[c] = in.tables.cumulative(i, c);
                po[c] = in.tables.ordinal(i, c);
            }
        } else {
            const std::size_t G = in.grid.size;
            own.resize(2 * static_cast<std::size_t>(O + 1) * G);
            double* c1[kMostCategories + 1];
            double* c2[kMostCategories + 1];
            for (int c = 1; c <= O; ++c) {
                cumo[c] = c1[c] = own.data() + static_cast<std::size_t>(c) * G;
                po[c] = c2[c] = own.data() + static_cast<std::size_t>(O + 1 + c) * G;
            }
            ordinalProbabilities(in.grid, item, c1, c2);
        }
        first = false;
        double after = before;
        // A solved M-step takes the exact Newton step where it goes up.
        std::vector<double> exact;
        if (in.solve && ordinalExactDirection(in, i, O, loadings, cumo, exact) &&
            safeguardedStep(theta, padded(exact), q, before, &after) > 0.0) {
            setOrdinal(item, theta, nf);
            return after;
        }
        std::vector<double> direction, gradient, curvature;
        const bool newton =
            ordinalDirection(in, i, O, loadings, cumo, po, direction, gradient, curvature);
        if (gradient.empty()) return std::nullopt;
        // A step that would put the thresholds out of order has Q_i = -infinity: it is halved
        // like any step that lowers Q_i.
        bool moved = newton && safeguardedStep(theta, padded(direction), q, before, &after) > 0.0;
        if (!moved) {
            // The Newton step goes the wrong way where the matrix is not positive definite: a
            // gradient step scaled by the diagonal always goes up Q_i.
            std::vector<double> ascent(gradient.size());
            for (std::size_t p = 0; p < gradient.size(); ++p)
                ascent[p] = gradient[p] / (curvature[p] > 0.0 ? curvature[p] : 1.0);
            moved = safeguardedStep(theta, padded(ascent), q, before, &after) > 0.0;
        }
        if (!moved) return std::nullopt;
        setOrdinal(item, theta, nf);
        return after;
    });
}

} // namespace

bool logisticDirection(const Grid& grid, int loadings, const double* p, const double* r,
                       const double* n, double* step) {
    return loadings == 2 ? logisticDirection2(grid, p, r, n, step)
                         : logisticDirection1(grid, p, r, n, step);
}

bool normalUpdate(const MStepInput& in, int i, int loadings, NormalItem& item) {
    return loadings == 2 ? normalUpdate2(in, i, item) : normalUpdate1(in, i, item);
}

bool ordinalDirection(const MStepInput& in, int i, int O, int loadings, const double* const* cumo,
                      const double* const* po, std::vector<double>& step,
                      std::vector<double>& gradient, std::vector<double>& curvature) {
    const Grid& grid = in.grid;
    const int nf = loadings;
    const int size = O - 1 + nf; // thresholds, then the loadings
    std::vector<double> s(size, 0.0), J(static_cast<std::size_t>(size) * size, 0.0);
    auto at = [&](int r, int c) -> double& {
        return J[static_cast<std::size_t>(r - 1) * size + (c - 1)];
    };
    const double* ro[kMostCategories + 1];
    for (int c = 1; c <= O; ++c) ro[c] = in.e.category(in.e.expectedOrdinal, i, c);
    double gamma[kMostCategories + 1], pi[kMostCategories + 1], h[kMostCategories + 1],
        R[kMostCategories + 2];
    // Terms of a category are formed only where some case is expected in it: a category
    // probability that underflows to 0 at an extreme grid point carries no weight there, and
    // its quotients would give 0 / 0.
    auto ratio = [&](int c) { return R[c] > 0.0 ? R[c] / pi[c] : 0.0; };
    auto diagonal = [&](double hh, int c) {
        return R[c] > 0.0 ? (hh / (pi[c] * pi[c]) + 1.0) * R[c] : 0.0;
    };
    for (int t = 0; t < grid.size; ++t) {
        const double z[2] = {grid.z1[t], grid.z2[t]};
        gamma[0] = 0.0;
        for (int c = 1; c <= O; ++c) {
            gamma[c] = cumo[c][t];
            h[c] = gamma[c] * (1.0 - gamma[c]);
            R[c] = ro[c][t];
            pi[c] = po[c][t];
        }
        // The term of the non-existent category 0 counts as 1 in the second derivatives.
        h[0] = 1.0;
        for (int k = 1; k < O; ++k) {
            s[k - 1] += h[k] * (ratio(k) - ratio(k + 1));
            at(k, k) += h[k] * (diagonal(h[k + 1], k + 1) + diagonal(h[k - 1], k));
            if (k + 1 < O && R[k + 1] > 0.0)
                at(k, k + 1) += -(h[k] * h[k + 1] * R[k + 1] / (pi[k + 1] * pi[k + 1]));
            for (int f = 0; f < nf; ++f) at(k, O + f) += -(z[f] * h[k] * (R[k] + R[k + 1]));
        }
        double slope = 0.0, bend = 0.0;
        for (int c = 1; c <= O; ++c) {
            slope += R[c] * (1.0 - gamma[c] - gamma[c - 1]);
            bend += R[c] * (h[c] + h[c - 1]);
        }
        for (int f = 0; f < nf; ++f) {
            s[O - 1 + f] += z[f] * slope;
            for (int f2 = f; f2 < nf; ++f2) at(O + f, O + f2) += z[f] * z[f2] * bend;
        }
    }
    for (int f = 0; f < nf; ++f) s[O - 1 + f] = -s[O - 1 + f];
    for (int r = 1; r <= size; ++r)
        for (int c = r + 1; c <= size; ++c) at(c, r) = at(r, c);
    gradient = s;
    curvature.resize(size);
    for (int r = 1; r <= size; ++r) curvature[r - 1] = at(r, r);
    for (double v : gradient)
        if (!std::isfinite(v)) {
            gradient.clear();
            return false;
        }
    const std::optional<Eigen::VectorXd> newton =
        solveShowingTrouble(Eigen::Map<const Eigen::MatrixXd>(J.data(), size, size),
                            Eigen::Map<const Eigen::VectorXd>(s.data(), size), in.pause);
    if (!newton) return false;
    step.assign(newton->data(), newton->data() + size);
    return true;
}

void mstep(const MStepInput& in, Parameters& p) {
    const Deck& d = in.deck;
    for (int i = 0; i < d.nb; ++i) binaryUpdate(in, i, p.binary[i]);
    for (int i = 0; i < d.nn; ++i) normalSafeguarded(in, i, p.normal[i]);
    for (int i = 0; i < d.nc; ++i) nominalUpdate(in, i, p.nominal[i]);
    for (int i = 0; i < d.no; ++i) ordinalUpdate(in, i, p.ordinal[i]);
}

} // namespace travik
