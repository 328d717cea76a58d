#include "ploven/bootstrap_lr.hpp"

#include "ploven/multistart.hpp"

namespace ploven {

namespace {

// The index whose cumulative probability first exceeds u (the last on rounding).
int drawIndex(double u, const double* p, int n, int stride) {
    double cumulative = 0.0;
    for (int c = 0; c < n; ++c) {
        cumulative += p[static_cast<std::ptrdiff_t>(c) * stride];
        if (u < cumulative) return c;
    }
    return n - 1;
}

} // namespace

CategoricalData drawSample(std::mt19937_64& generator, const CategoricalEstimates& est,
                           const CategoricalData& cases) {
    CategoricalData sample;
    sample.nitem = cases.nitem;
    sample.categories = cases.categories;
    sample.x.reserve(cases.x.size());
    for (int i = 0; i < cases.size(); ++i) {
        const std::uint8_t* x = cases.row(i);
        for (int copy = 0; copy < cases.freq[static_cast<std::size_t>(i)]; ++copy) {
            const int k = drawIndex(unitInterval(generator()), est.eta.data(), est.nclass, 1);
            for (int j = 0; j < cases.nitem; ++j) {
                if (x[j] == 0) {
                    sample.x.push_back(0);
                    continue;
                }
                const int c = drawIndex(unitInterval(generator()), &est.p[est.index(j, k, 0)],
                                        est.categories[j], 1);
                sample.x.push_back(static_cast<std::uint8_t>(c + 1));
            }
            sample.freq.push_back(1);
        }
    }
    return foldCategorical(sample, nullptr);
}

BootstrapResult bootstrapLikelihoodRatio(const CategoricalData& cases,
                                         const CategoricalEstimates& null, double lr,
                                         const BootstrapOptions& options) {
    BootstrapResult result;
    result.lr = lr;
    std::mt19937_64 generator(options.seed);
    const int K = null.nclass + 1;
    for (int b = 0; b < options.samples; ++b) {
        if (options.onSample) options.onSample(b + 1, options.samples);
        const CategoricalData sample = drawSample(generator, null, cases);
        CategoricalStarts starts = options.starts;
        starts.seed = generator();
        const CategoricalFit h0 =
            fitCategorical(sample, K - 1, options.tol, options.maxCycles, starts);
        const CategoricalFit h1 = fitCategorical(sample, K, options.tol, options.maxCycles, starts);
        // The K-class model holds the K-1-class one, so its maximum is never lower.
        const double lrStar = 2.0 * (std::max(h1.run.loglik, h0.run.loglik) - h0.run.loglik);
        if (lrStar >= lr) ++result.exceeded;
    }
    result.p = (1.0 + result.exceeded) / (options.samples + 1.0);
    return result;
}

} // namespace ploven
