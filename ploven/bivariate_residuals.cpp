#include "ploven/bivariate_residuals.hpp"

#include <cstddef>

namespace ploven {

std::vector<BivariateResidual> bivariateResiduals(const CategoricalData& data,
                                                  const CategoricalEstimates& est) {
    std::vector<BivariateResidual> out;
    const int J = data.nitem;
    for (int a = 0; a < J; ++a) {
        for (int b = a + 1; b < J; ++b) {
            const int Ca = data.categories[a], Cb = data.categories[b];
            const std::size_t cells = static_cast<std::size_t>(Ca) * static_cast<std::size_t>(Cb);
            std::vector<double> observed(cells, 0.0);
            double pairCases = 0.0;
            for (int i = 0; i < data.size(); ++i) {
                const std::uint8_t* x = data.row(i);
                if (x[a] == 0 || x[b] == 0) continue;
                const double f = data.freq[static_cast<std::size_t>(i)];
                observed[static_cast<std::size_t>((x[a] - 1) * Cb + x[b] - 1)] += f;
                pairCases += f;
            }
            double sum = 0.0;
            for (int u = 0; u < Ca; ++u)
                for (int v = 0; v < Cb; ++v) {
                    double p = 0.0;
                    for (int k = 0; k < est.nclass; ++k)
                        p += est.eta[static_cast<std::size_t>(k)] * est.P(a, k, u) * est.P(b, k, v);
                    const double e = pairCases * p;
                    const double o =
                        observed[static_cast<std::size_t>(u) * static_cast<std::size_t>(Cb) +
                                 static_cast<std::size_t>(v)];
                    if (e > 0.0) sum += (o - e) * (o - e) / e;
                }
            out.push_back({a, b, sum / ((Ca - 1) * (Cb - 1))});
        }
    }
    return out;
}

} // namespace ploven
