// Information criteria for comparing models fitted to the same data: AIC, BIC and the
// sample-size adjusted BIC.
#pragma once

namespace resultsio {

struct InformationCriteria {
    double aic = 0.0;   // -2L + 2p
    double bic = 0.0;   // -2L + p ln N
    double sabic = 0.0; // -2L + p ln((N + 2) / 24)
};

// From the loglikelihood L, the number of free parameters p and the number of cases N the
// model was fitted to. A loglikelihood that is not a finite number gives criteria that are not
// either (written as null).
InformationCriteria informationCriteria(double loglik, long long parameters, double cases);

} // namespace resultsio
