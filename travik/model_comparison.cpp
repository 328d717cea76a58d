#include "travik/model_comparison.hpp"

#include "fixedio/layout.hpp"
#include "resultsio/criteria.hpp"
#include "travik/variance.hpp"

namespace travik {

using fixedio::Layout;

long long modelParameters(const Deck& d) {
    return parameterLayout(d).count - (d.nf == 2 ? 1 : 0);
}

std::string modelComparisonSection(const Deck& d, double logl) {
    static const Layout parameters("'  NUMBER OF PARAMETERS    ',I15");
    static const Layout loglik("'  LOGLIKELIHOOD           ',F15.5");
    static const Layout aic("'  AIC                     ',F15.4");
    static const Layout bic("'  BIC                     ',F15.4");
    static const Layout sabic("'  SABIC                   ',F15.4");
    const long long p = modelParameters(d);
    const resultsio::InformationCriteria c = resultsio::informationCriteria(logl, p, d.ncase);
    return "\n\n***Model Comparison***\n\n" + parameters.format({p}) + loglik.format({logl}) +
           aic.format({c.aic}) + bic.format({c.bic}) + sabic.format({c.sabic});
}

} // namespace travik
