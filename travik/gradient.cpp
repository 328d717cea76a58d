#include "travik/gradient.hpp"

#include "travik/case_scores.hpp"

#include <algorithm>
#include <cmath>

namespace travik {

namespace {

// Cases whose gradients enter the outer products together.
constexpr int kBlock = 64;

class GradientSums : public CaseVisitor {
  public:
    GradientSums(const ModelState& m, const Grid& grid, const ItemTables& tables, Derivatives& out)
        : m_(m), grid_(grid), tables_(tables), layout_(parameterLayout(m.deck)), out_(&out),
          score_(layout_.count), squares_(layout_.count), block_(layout_.count, kBlock) {
        empty(out);
    }
    std::unique_ptr<CaseVisitor> part() const override {
        auto own = std::make_unique<Derivatives>();
        auto p = std::make_unique<GradientSums>(m_, grid_, tables_, *own);
        p->own_ = std::move(own);
        return p;
    }
    void merge(CaseVisitor& visitor) override {
        GradientSums& part = static_cast<GradientSums&>(visitor);
        part.flush();
        out_->gradient += part.out_->gradient;
        out_->completeScale += part.out_->completeScale;
        out_->crossProduct += part.out_->crossProduct;
        empty(*part.out_);
    }
    void visit(int k, double count, const double* gj, double fm, double) override {
        std::fill(score_.begin(), score_.end(), 0.0);
        std::fill(squares_.begin(), squares_.end(), 0.0);
        caseScores(m_, grid_, tables_, layout_, gj, k, score_.data(), squares_.data());
        // A group's count cases enter the outer products as one column scaled by its root.
        const double root = std::sqrt(count);
        for (int p = 0; p < layout_.count; ++p) {
            const double g = score_[p] / fm;
            out_->gradient(p) += count * g;
            out_->completeScale(p) += count * (squares_[p] / fm);
            block_(p, filled_) = root * g;
        }
        if (++filled_ == kBlock) flush();
    }
    void finish() {
        flush();
        out_->crossProduct = out_->crossProduct.selfadjointView<Eigen::Lower>();
    }

  private:
    void empty(Derivatives& d) const {
        d.gradient = Eigen::VectorXd::Zero(layout_.count);
        d.completeScale = Eigen::VectorXd::Zero(layout_.count);
        d.crossProduct = Eigen::MatrixXd::Zero(layout_.count, layout_.count);
    }
    void flush() {
        if (filled_ == 0) return;
        out_->crossProduct.selfadjointView<Eigen::Lower>().rankUpdate(block_.leftCols(filled_));
        filled_ = 0;
    }

    const ModelState& m_;
    const Grid& grid_;
    const ItemTables& tables_;
    ParameterLayout layout_;
    std::unique_ptr<Derivatives> own_; // a part's sums
    Derivatives* out_;
    std::vector<double> score_, squares_;
    Eigen::MatrixXd block_;
    int filled_ = 0;
};

} // namespace

Derivatives loglikelihoodDerivatives(const ModelState& m, const Grid& grid) {
    Derivatives out;
    ItemTables tables;
    CaseWeights weights;
    GradientSums sums(m, grid, tables, out);
    evaluateLikelihood(m.deck, m.params, m.x, grid, tables, weights, false, &sums, m.threads);
    sums.finish();
    out.loglik = weights.logl;
    return out;
}

} // namespace travik
