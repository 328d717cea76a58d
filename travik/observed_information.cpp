#include "travik/observed_information.hpp"

#include <cmath>

namespace travik {

namespace {

// Rows of the weighted derivatives that enter the outer products together.
constexpr int kBlock = 128;

class LouisSums : public CaseVisitor {
  public:
    LouisSums(const ModelState& m, const Grid& grid, const ItemTables& tables)
        : m_(m), d_(m.deck), grid_(grid), t_(tables), l_(parameterLayout(m.deck)), P_(l_.count),
          info_(Eigen::MatrixXd::Zero(P_, P_)), dk_(P_), s_(P_), rows_(P_, kBlock),
          scores_(P_, kBlock) {}

    std::unique_ptr<CaseVisitor> part() const override {
        return std::make_unique<LouisSums>(m_, grid_, t_);
    }
    void merge(CaseVisitor& visitor) override {
        LouisSums& part = static_cast<LouisSums&>(visitor);
        part.flushRows();
        part.flushScores();
        info_ += part.info_;
        part.info_.setZero();
    }
    void visit(int k, double count, const double* gj, double fm, double) override {
        const double* row = m_.x.row(k);
        s_.setZero();
        for (int g = 0; g < grid_.size; ++g) {
            const double hp = gj[g] / fm;
            if (!(hp > kNegligibleWeight)) continue;
            // A group's count cases share the point's terms.
            const double weight = count * hp;
            dk_.setZero();
            pointDerivatives(row, g, weight);
            s_ += hp * dk_;
            rows_.col(rowsFilled_) = std::sqrt(weight) * dk_;
            if (++rowsFilled_ == kBlock) flushRows();
        }
        scores_.col(scoresFilled_) = std::sqrt(count) * s_;
        if (++scoresFilled_ == kBlock) flushScores();
    }

    Eigen::MatrixXd finish() {
        flushRows();
        flushScores();
        return info_.selfadjointView<Eigen::Lower>();
    }

  private:
    // -hp times a second derivative, into the lower triangle.
    void addCurvature(int p, int q, double hp, double second) {
        if (p < q) std::swap(p, q);
        info_(p, q) -= hp * second;
    }

    void flushRows() {
        if (rowsFilled_ == 0) return;
        info_.selfadjointView<Eigen::Lower>().rankUpdate(rows_.leftCols(rowsFilled_), -1.0);
        rowsFilled_ = 0;
    }
    void flushScores() {
        if (scoresFilled_ == 0) return;
        info_.selfadjointView<Eigen::Lower>().rankUpdate(scores_.leftCols(scoresFilled_), 1.0);
        scoresFilled_ = 0;
    }

    // d_kg into dk_ and -hp D2_kg into the information (hp: the weight of the point, times the
    // cases of a group), item by item.
    void pointDerivatives(const double* row, int g, double hp) {
        const int nf = d_.nf;
        const double z[3] = {1.0, grid_.z1[g], grid_.z2[g]};
        for (int i = 0; i < d_.nb; ++i) {
            const double x = truncated(row[i]);
            if (x != 0.0 && x != 1.0) continue;
            const double p = t_.binary(i)[g];
            for (int a = 0; a <= nf; ++a) {
                const int pa = l_.binaryAt(nf, i, a);
                dk_(pa) = (x - p) * z[a];
                for (int b = 0; b <= a; ++b)
                    addCurvature(pa, l_.binaryAt(nf, i, b), hp, -p * (1.0 - p) * z[a] * z[b]);
            }
        }
        for (int i = 0; i < d_.nn; ++i) {
            const double x = row[d_.normalColumn(i)];
            if (isMissing(x)) continue;
            const double psi = m_.params.normal[i].psi;
            const double r = x - t_.mean(i)[g];
            const int base = l_.normal[i], at = base + nf + 1;
            // MU and the loadings: the terms z_0 = 1, z_1, z_2.
            for (int a = 0; a <= nf; ++a) {
                dk_(base + a) = z[a] * r / psi;
                for (int b = 0; b <= a; ++b)
                    addCurvature(base + a, base + b, hp, -z[a] * z[b] / psi);
                addCurvature(at, base + a, hp, -z[a] * r / (psi * psi));
            }
            dk_(at) = r * r / (2.0 * psi * psi) - 1.0 / (2.0 * psi);
            addCurvature(at, at, hp, 1.0 / (2.0 * psi * psi) - r * r / (psi * psi * psi));
        }
        for (int i = 0; i < d_.nc; ++i) {
            const double xv = row[d_.nominalColumn(i)];
            if (isMissing(xv)) continue;
            const int x = static_cast<int>(truncated(xv));
            const int C = d_.c[i];
            for (int j = 2; j <= C; ++j) {
                const double pj = t_.nominal(i, j)[g];
                for (int a = 0; a <= nf; ++a) {
                    const int pa = l_.nominal[i] + (j - 2) * (nf + 1) + a;
                    dk_(pa) = ((x == j ? 1.0 : 0.0) - pj) * z[a];
                    for (int k = 2; k <= j; ++k) {
                        const double pk = t_.nominal(i, k)[g];
                        const double cross = (j == k ? pj : 0.0) - pj * pk;
                        for (int b = 0; b <= (k == j ? a : nf); ++b)
                            addCurvature(pa, l_.nominal[i] + (k - 2) * (nf + 1) + b, hp,
                                         -cross * z[a] * z[b]);
                    }
                }
            }
        }
        for (int i = 0; i < d_.no; ++i) {
            const double xv = row[d_.ordinalColumn(i)];
            if (isMissing(xv)) continue;
            ordinalPoint(i, static_cast<int>(truncated(xv)), g, z, hp);
        }
    }

    void ordinalPoint(int i, int x, int g, const double* z, double hp) {
        const int nf = d_.nf, O = d_.o[i];
        const double prob = t_.ordinal(i, x)[g];
        auto gamma = [&](int c) { return c <= 0 ? 0.0 : c >= O ? 1.0 : t_.cumulative(i, c)[g]; };
        auto hOf = [&](int c) { return c <= 0 || c >= O ? 0.0 : gamma(c) * (1.0 - gamma(c)); };
        const double hx = hOf(x), hb = hOf(x - 1);
        const double qx = hx * (1.0 - 2.0 * gamma(x)), qb = hb * (1.0 - 2.0 * gamma(x - 1));
        // The parameters P_x depends on: its two thresholds (where they exist) and the loadings,
        // with A and B their first and second derivatives.
        int pos[2 + 2];
        double a[2 + 2];
        int n = 0;
        if (x < O) {
            pos[n] = l_.ordinal[i] + x - 1;
            a[n++] = hx;
        }
        if (x > 1) {
            pos[n] = l_.ordinal[i] + x - 2;
            a[n++] = -hb;
        }
        const int thresholds = n;
        for (int f = 1; f <= nf; ++f) {
            pos[n] = l_.ordinal[i] + O - 2 + f;
            a[n++] = -z[f] * (hx - hb);
        }
        auto second = [&](int u, int v) {
            const bool uThr = u < thresholds, vThr = v < thresholds;
            // Which threshold: the upper one (x) has A = h_x > 0 ... identified by position.
            auto upper = [&](int w) { return x < O && w == 0; };
            if (uThr && vThr) {
                if (u != v) return 0.0;
                return upper(u) ? qx : -qb;
            }
            if (uThr || vThr) {
                const int thr = uThr ? u : v, load = uThr ? v : u;
                const int f = load - thresholds + 1;
                return upper(thr) ? -z[f] * qx : z[f] * qb;
            }
            const int f = u - thresholds + 1, f2 = v - thresholds + 1;
            return z[f] * z[f2] * (qx - qb);
        };
        for (int u = 0; u < n; ++u) {
            dk_(pos[u]) = a[u] / prob;
            for (int v = 0; v <= u; ++v)
                addCurvature(pos[u], pos[v], hp, second(u, v) / prob - a[u] * a[v] / (prob * prob));
        }
    }

    const ModelState& m_;
    const Deck& d_;
    const Grid& grid_;
    const ItemTables& t_;
    ParameterLayout l_;
    int P_;
    Eigen::MatrixXd info_;
    Eigen::VectorXd dk_, s_;
    Eigen::MatrixXd rows_, scores_;
    int rowsFilled_ = 0, scoresFilled_ = 0;
};

} // namespace

Eigen::MatrixXd observedInformation(const ModelState& m, const Grid& grid) {
    ItemTables tables;
    CaseWeights weights;
    // The visitor reads the tables evaluateLikelihood fills before it visits the first case.
    LouisSums sums(m, grid, tables);
    evaluateLikelihood(m.deck, m.params, m.x, grid, tables, weights, false, &sums, m.threads);
    return sums.finish();
}

double observedInformationWork(const Deck& d, const Grid& grid) {
    const double parameters = parameterLayout(d).count;
    return static_cast<double>(d.ncase) * grid.size * parameters * parameters;
}

} // namespace travik
