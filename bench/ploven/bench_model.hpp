// The latent class model the ploven benchmarks draw their data from.
#pragma once

#include "ploven/model.hpp"

#include <algorithm>
#include <random>

namespace ploven::bench {

// Classes that rise in overall level (so the score bands of the start mean something) and differ
// in profile: item probabilities within 0.05 and 0.95, no tiny class.
inline Estimates makeModel(int nitem, int nclass, unsigned seed) {
    Estimates m;
    m.resize(nitem, nclass);
    std::mt19937 g(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int k = 0; k < nclass; ++k) {
        const double level = nclass == 1 ? 0.5 : 0.15 + 0.7 * k / (nclass - 1);
        for (int j = 0; j < nitem; ++j)
            m.PI(j, k) = std::min(0.95, std::max(0.05, level + 0.5 * (u(g) - 0.5)));
    }
    double total = 0.0;
    for (int k = 0; k < nclass; ++k) total += m.eta[k] = 1.0 + 0.5 * (k % 3);
    for (double& e : m.eta) e /= total;
    return m;
}

} // namespace ploven::bench
