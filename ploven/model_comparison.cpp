#include "ploven/model_comparison.hpp"

#include "fixedio/layout.hpp"
#include "resultsio/criteria.hpp"

#include <cmath>

namespace ploven {

double entropyRSquare(const Posteriors& post, const PatternTable& patterns) {
    const int K = post.nclass;
    if (K <= 1) return 1.0;
    double cases = 0.0;
    double entropy = 0.0;
    for (int i = 0; i < patterns.size(); ++i) {
        const double f = patterns.freq[i];
        cases += f;
        double e = 0.0;
        for (int k = 0; k < K; ++k) {
            const double p = post.H(k, i);
            if (p > 0.0) e -= p * std::log(p);
        }
        entropy += f * e;
    }
    return 1.0 - entropy / (cases * std::log(static_cast<double>(K)));
}

std::vector<std::vector<double>> modalAssignments(const Posteriors& post,
                                                  const PatternTable& patterns) {
    const int K = post.nclass;
    std::vector<std::vector<double>> table(K, std::vector<double>(K, 0.0));
    for (int i = 0; i < patterns.size(); ++i) {
        const int modal = post.iclass[i] - 1;
        if (modal < 0 || modal >= K) continue;
        for (int k = 0; k < K; ++k) table[modal][k] += patterns.freq[i] * post.H(k, i);
    }
    return table;
}

namespace report {

std::string modelComparison(const RunRecord& r) {
    static const fixedio::Layout heading("/ 5X 'MODEL COMPARISON'");
    static const fixedio::Layout parameters("5X 'NUMBER OF PARAMETERS =' I16");
    static const fixedio::Layout loglik("5X 'LOGLIKELIHOOD        =' F16.5");
    static const fixedio::Layout aic("5X 'AIC                  =' F16.4");
    static const fixedio::Layout bic("5X 'BIC                  =' F16.4");
    static const fixedio::Layout sabic("5X 'SABIC                =' F16.4");
    static const fixedio::Layout entropy("5X 'ENTROPY R-SQUARE     =' F16.4");
    const long long p = modelParameters(r.nitem, r.nclass);
    const resultsio::InformationCriteria c =
        resultsio::informationCriteria(r.fit.loglik, p, static_cast<double>(r.cases));
    return heading.format({}) + parameters.format({p}) + loglik.format({r.fit.loglik}) +
           aic.format({c.aic}) + bic.format({c.bic}) + sabic.format({c.sabic}) +
           entropy.format({entropyRSquare(r.post, r.patterns)});
}

} // namespace report

} // namespace ploven
