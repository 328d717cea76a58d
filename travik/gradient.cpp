#include "travik/gradient.hpp"

#include "travik/case_scores.hpp"

#include <algorithm>

namespace travik {

namespace {

// Cases whose gradients enter the outer products together.
constexpr int kBlock = 64;

class GradientSums : public CaseVisitor {
  public:
    GradientSums(const ModelState& m, const Grid& grid, const ItemTables& tables, Derivatives& out)
        : m_(m), grid_(grid), tables_(tables), layout_(parameterLayout(m.deck)), out_(out),
          score_(layout_.count), squares_(layout_.count), block_(layout_.count, kBlock) {
        out_.gradient = Eigen::VectorXd::Zero(layout_.count);
        out_.completeScale = Eigen::VectorXd::Zero(layout_.count);
        out_.crossProduct = Eigen::MatrixXd::Zero(layout_.count, layout_.count);
    }
    void visit(int k, const double* gj, double fm) override {
        std::fill(score_.begin(), score_.end(), 0.0);
        std::fill(squares_.begin(), squares_.end(), 0.0);
        caseScores(m_, grid_, tables_, layout_, gj, k, score_.data(), squares_.data());
        for (int p = 0; p < layout_.count; ++p) {
            const double g = score_[p] / fm;
            out_.gradient(p) += g;
            out_.completeScale(p) += squares_[p] / fm;
            block_(p, filled_) = g;
        }
        if (++filled_ == kBlock) flush();
    }
    void finish() {
        flush();
        out_.crossProduct = out_.crossProduct.selfadjointView<Eigen::Lower>();
    }

  private:
    void flush() {
        if (filled_ == 0) return;
        out_.crossProduct.selfadjointView<Eigen::Lower>().rankUpdate(block_.leftCols(filled_));
        filled_ = 0;
    }

    const ModelState& m_;
    const Grid& grid_;
    const ItemTables& tables_;
    ParameterLayout layout_;
    Derivatives& out_;
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
    evaluateLikelihood(m.deck, m.params, m.x, grid, tables, weights, false, &sums);
    sums.finish();
    out.loglik = weights.logl;
    return out;
}

} // namespace travik
