// Fitting a model in a test, and the loglikelihood's numerical gradient at the result.
#pragma once

#include "travik/em.hpp"
#include "travik/simulated_data.hpp"

#include <string>
#include <vector>

namespace travik_test {
// The simulated decks are part of every fit test's vocabulary.
using namespace travik::simulated;

struct Fit {
    travik::Estimation est;
    std::string report, progress;
    int pauses = 0;
};

inline Fit fit(travik::ModelState& m) {
    Fit f;
    travik::EmOutput out{[&](std::string_view s) { f.report += s; },
                         [&](std::string_view s) { f.progress += s; },
                         [&](std::string_view) { ++f.pauses; }};
    f.est = travik::estimate(m, out);
    return f;
}

// Every free parameter, in the order of the parameter vector of the standard errors: binary
// loadings before the intercept, other types intercepts or thresholds first.
inline std::vector<double*> freeParameters(travik::ModelState& m) {
    std::vector<double*> v;
    const int nf = m.deck.nf;
    for (auto& b : m.params.binary)
        for (int q = nf; q >= 0; --q) v.push_back(&b.alpha[q]);
    for (auto& n : m.params.normal) {
        v.push_back(&n.mu);
        v.push_back(&n.lambda1);
        if (nf == 2) v.push_back(&n.lambda2);
        v.push_back(&n.psi);
    }
    for (auto& c : m.params.nominal)
        for (int j = 2; j <= c.categories; ++j)
            for (int q = 0; q <= nf; ++q) v.push_back(&c.ac[j][q]);
    for (auto& o : m.params.ordinal) {
        for (int j = 1; j < o.categories; ++j) v.push_back(&o.thr[j]);
        for (int q = 1; q <= nf; ++q) v.push_back(&o.ao[q]);
    }
    return v;
}

// Central differences of the loglikelihood with respect to every free parameter.
inline std::vector<double> numericalGradient(travik::ModelState& m, const travik::Grid& grid,
                                             double h = 1e-5) {
    travik::ItemTables t;
    travik::CaseWeights w;
    std::vector<double> g;
    for (double* p : freeParameters(m)) {
        const double keep = *p;
        *p = keep + h;
        double up = travik::loglikelihood(m, grid, t, w);
        *p = keep - h;
        double down = travik::loglikelihood(m, grid, t, w);
        *p = keep;
        g.push_back((up - down) / (2 * h));
    }
    return g;
}

} // namespace travik_test
