#include "travik/accelerated_em.hpp"

#include "travik/em.hpp"
#include "travik/mstep.hpp"
#include "travik/parameter_vector.hpp"

#include <cmath>
#include <limits>

namespace travik {

TraitEmMap::TraitEmMap(const ModelState& m, const Grid& grid, const fixedio::Pause& pause)
    : m_(m), grid_(grid), pause_(pause), current_(m.params) {
    const ParameterLayout l = parameterLayout(m.deck);
    for (int i = 0; i < m.deck.nn; ++i) logScale_.push_back(l.normal[i] + m.deck.nf + 1);
}

Eigen::VectorXd TraitEmMap::coordinates(const Parameters& p) const {
    const std::vector<double> v = packParameters(m_.deck, p);
    Eigen::VectorXd theta =
        Eigen::Map<const Eigen::VectorXd>(v.data(), static_cast<Eigen::Index>(v.size()));
    for (int at : logScale_) theta(at) = std::log(theta(at));
    return theta;
}

Parameters TraitEmMap::parameters(const Eigen::VectorXd& theta) const {
    std::vector<double> v(theta.data(), theta.data() + theta.size());
    for (int at : logScale_) v[at] = std::exp(v[at]);
    Parameters p = m_.params;
    unpackParameters(m_.deck, v, p);
    return p;
}

double TraitEmMap::evaluate(const Eigen::VectorXd& theta) {
    current_ = parameters(theta);
    if (!insideModel(current_)) return -std::numeric_limits<double>::infinity();
    EStep collector(m_.deck, m_.x, grid_.size, e_);
    evaluateLikelihood(m_.deck, current_, m_.x, grid_, tables_, weights_, false, &collector,
                       m_.threads);
    collector.finish();
    return weights_.logl;
}

Eigen::VectorXd TraitEmMap::update() {
    Parameters next = current_;
    MStepInput in{m_.deck, grid_, tables_, e_, pause_};
    in.solve = solve_;
    mstep(in, next);
    return coordinates(next);
}

bool TraitEmMap::admissible(const Eigen::VectorXd& theta) {
    return runawayItem(m_.deck, parameters(theta)).empty();
}

void TraitEmMap::keep() {
    kept_.params = current_;
    kept_.tables = tables_;
    kept_.e = e_;
}

void TraitEmMap::restore() {
    current_ = kept_.params;
    tables_ = kept_.tables;
    e_ = kept_.e;
}

} // namespace travik
