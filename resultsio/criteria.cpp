#include "resultsio/criteria.hpp"

#include <cmath>

namespace resultsio {

InformationCriteria informationCriteria(double loglik, long long parameters, double cases) {
    const double deviance = -2.0 * loglik;
    const double p = static_cast<double>(parameters);
    InformationCriteria c;
    c.aic = deviance + 2.0 * p;
    c.bic = deviance + p * std::log(cases);
    c.sabic = deviance + p * std::log((cases + 2.0) / 24.0);
    return c;
}

} // namespace resultsio
