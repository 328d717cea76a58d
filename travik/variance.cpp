#include "travik/variance.hpp"

#include "numerics/linear_algebra.hpp"
#include "numerics/quadratic_model.hpp"
#include "travik/case_scores.hpp"
#include "travik/identification.hpp"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <limits>

namespace travik {

namespace {

// Parameter positions of the items a case answered: the other rows of S are zero.
std::vector<int> answeredPositions(const Deck& d, const ParameterLayout& layout,
                                   const double* row) {
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

// The covariance matrix: the information of every parameter but the fixed one and those of
// frozen items inverted by LU with complete pivoting (a fixed parameter has variance 0; a frozen
// one, sitting at a bound of the fit, has none). Information that is singular or not positive
// definite, measured against the complete-data scale of each parameter, has no inverse that
// means anything: "Singular matrix" is shown through pause, the parameters it identifies get
// their variances from its pseudo-inverse, the others none, and they are listed.
void invertOverFree(const std::vector<double>& info, const std::vector<double>& scale,
                    const std::vector<char>& frozen, int P, Covariance& result,
                    const fixedio::Pause& pause) {
    std::vector<int> free;
    for (int p = 0; p < P; ++p) {
        if (p == result.fixed) continue;
        if (frozen[p]) {
            result.withoutErrors.push_back(p);
            continue;
        }
        free.push_back(p);
    }
    const int F = static_cast<int>(free.size());
    Eigen::MatrixXd reduced(F, F);
    Eigen::VectorXd reference(F);
    for (int a = 0; a < F; ++a) reference(a) = scale[free[a]];
    for (int a = 0; a < F; ++a)
        for (int b = 0; b < F; ++b)
            reduced(a, b) = info[static_cast<std::size_t>(free[a]) * P + free[b]];
    const double nan = std::numeric_limits<double>::quiet_NaN();
    result.cov.assign(static_cast<std::size_t>(P) * P, nan);
    auto place = [&](int a, int b, double v) {
        result.cov[static_cast<std::size_t>(free[a]) * P + free[b]] = v;
    };
    if (result.fixed >= 0)
        result.cov[static_cast<std::size_t>(result.fixed) * P + result.fixed] = 0.0;
    if (!numerics::positiveDefinite(reduced, {}, reference)) {
        pause("Singular matrix");
        const numerics::IdentifiedCovariance c = numerics::identifiedCovariance(reduced, reference);
        int identified = 0;
        for (int a = 0; a < F; ++a) {
            if (!c.identified[a] || !(c.covariance(a, a) > 0.0)) {
                result.withoutErrors.push_back(free[a]);
                continue;
            }
            ++identified;
            for (int b = 0; b < F; ++b)
                if (c.identified[b]) place(a, b, c.covariance(a, b));
        }
        std::sort(result.withoutErrors.begin(), result.withoutErrors.end());
        if (identified == 0)
            result.unavailable =
                "the information matrix is singular or not positive definite at the "
                "estimates: the model is not identified there";
        return;
    }
    const numerics::LuSolution inverse = numerics::invert(reduced);
    if (!inverse.solved) {
        result.unavailable = "the information matrix could not be inverted";
        return;
    }
    for (int a = 0; a < F; ++a)
        if (!(inverse.x(a, a) > 0.0) || !std::isfinite(inverse.x(a, a))) {
            result.unavailable = "a variance came out negative or not a number";
            return;
        }
    for (int a = 0; a < F; ++a)
        for (int b = 0; b < F; ++b) place(a, b, inverse.x(a, b));
    // The fixed parameter's row and column are 0, a frozen one's are not numbers.
    if (result.fixed >= 0)
        for (int p = 0; p < P; ++p)
            if (!frozen[p]) {
                result.cov[static_cast<std::size_t>(result.fixed) * P + p] = 0.0;
                result.cov[static_cast<std::size_t>(p) * P + result.fixed] = 0.0;
            }
}

// The cross-product information and the complete-data scale, summed case by case (the upper
// triangle of info), in blocks of cases; every case's raised FM into fm.
class InformationSums : public CaseVisitor {
  public:
    InformationSums(const ModelState& m, const Estimation& est, const ParameterLayout& layout,
                    std::vector<double>& fm)
        : m_(m), est_(est), layout_(layout), P_(layout.count), fm_(fm),
          info_(static_cast<std::size_t>(P_) * P_, 0.0), scale_(P_, 0.0), s_(P_, 0.0),
          squares_(P_, 0.0), gj_(static_cast<std::size_t>(est.grid.size)) {}

    std::unique_ptr<CaseVisitor> part() const override {
        return std::make_unique<InformationSums>(m_, est_, layout_, fm_);
    }
    void visit(int k, double count, const double* gj, double fm, double logScale) override {
        std::copy(gj, gj + est_.grid.size, gj_.begin());
        fm = fm_[k] = raisedLikelihood(gj_.data(), est_.grid.size, fm, logScale);
        std::fill(s_.begin(), s_.end(), 0.0);
        std::fill(squares_.begin(), squares_.end(), 0.0);
        caseScores(m_, est_.grid, est_.tables, layout_, gj_.data(), k, s_.data(), squares_.data());
        for (int p = 0; p < P_; ++p) scale_[p] += count * (squares_[p] / fm);
        const double fm2 = fm * fm;
        const std::vector<int> answered = answeredPositions(m_.deck, layout_, m_.x.row(k));
        for (std::size_t a = 0; a < answered.size(); ++a) {
            const int r = answered[a];
            double* infoRow = info_.data() + static_cast<std::size_t>(r) * P_;
            for (std::size_t b = a; b < answered.size(); ++b) {
                const int c = answered[b];
                infoRow[c] += count * (s_[r] * s_[c] / fm2);
            }
        }
    }
    void merge(CaseVisitor& visitor) override {
        InformationSums& part = static_cast<InformationSums&>(visitor);
        for (std::size_t i = 0; i < info_.size(); ++i) {
            info_[i] += part.info_[i];
            part.info_[i] = 0.0;
        }
        for (int p = 0; p < P_; ++p) {
            scale_[p] += part.scale_[p];
            part.scale_[p] = 0.0;
        }
    }
    std::vector<double>& info() { return info_; }
    const std::vector<double>& scale() const { return scale_; }

  private:
    const ModelState& m_;
    const Estimation& est_;
    const ParameterLayout& layout_;
    int P_;
    std::vector<double>& fm_;
    std::vector<double> info_, scale_, s_, squares_, gj_;
};

} // namespace

double raisedLikelihood(double* gj, int size, double fm, double logScale) {
    if (logScale != 0.0) {
        const double factor = std::exp(logScale);
        for (int g = 0; g < size; ++g) gj[g] *= factor;
        return kLikelihoodFloor;
    }
    return fm < kLikelihoodFloor ? kLikelihoodFloor : fm;
}

std::vector<double> caseScore(const ModelState& m, const Estimation& est,
                              const ParameterLayout& layout, int k) {
    std::vector<double> s(layout.count, 0.0);
    const std::size_t G = est.grid.size;
    std::vector<double> gj(G), work(4 * G);
    double logScale = 0.0;
    caseWeights(m.deck, m.x, est.grid, est.tables, k, gj.data(), logScale, work.data());
    caseScores(m, est.grid, est.tables, layout, gj.data(), k, s.data());
    return s;
}

Covariance variance(const ModelState& m, Estimation& est, const fixedio::Pause& pause) {
    const Deck& d = m.deck;
    Covariance result;
    result.layout = parameterLayout(d);
    const int P = result.layout.count;
    CaseWeights& w = est.weights;
    InformationSums sums(m, est, result.layout, w.fm);
    visitCases(d, m.x, est.grid, est.tables, sums, m.threads);
    copyToGroups(m.x, w.fm);
    std::fill(w.logScale.begin(), w.logScale.end(), 0.0);
    std::vector<double>& info = sums.info();
    const std::vector<double>& scale = sums.scale();
    for (int r = 0; r < P; ++r)
        for (int c = r + 1; c < P; ++c)
            info[static_cast<std::size_t>(c) * P + r] = info[static_cast<std::size_t>(r) * P + c];
    result.fixed = fixedLoadingPosition(d, result.layout);
    // A frozen item's parameters are the ones the fit does not move but the fixed loading.
    std::vector<char> frozen(P, 0);
    const std::vector<char> moving = movingParameters(d, m.params);
    for (int p = 0; p < P; ++p) frozen[p] = !moving[p] && p != result.fixed;
    invertOverFree(info, scale, frozen, P, result, pause);
    return result;
}

} // namespace travik
