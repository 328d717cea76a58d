// Information criteria for comparing models fitted to the same data: AIC (Akaike 1974, IEEE
// Trans. Automatic Control 19, 716-723), BIC (Schwarz 1978, Annals of Statistics 6, 461-464)
// and the sample-size adjusted BIC (Sclove 1987, Psychometrika 52, 333-343). The smaller the
// criterion, the better the trade-off between fit and the number of parameters.
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
