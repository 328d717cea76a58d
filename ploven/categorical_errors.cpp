#include "ploven/categorical_errors.hpp"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>

namespace ploven {

namespace {

constexpr double kBoundary = 1.0e-9;

// A free parameter: its place in est.p (or a class, for priors) and its block's dropped one.
struct Free {
    bool prior = false;
    int item = 0, klass = 0, category = 0, dropped = 0;
};

} // namespace

CategoricalErrors categoricalErrors(const CategoricalData& data, const CategoricalEstimates& est,
                                    const std::vector<double>& h) {
    CategoricalErrors out;
    const int K = est.nclass, J = est.nitem;
    std::vector<Free> free;
    const int etaDropped =
        static_cast<int>(std::max_element(est.eta.begin(), est.eta.end()) - est.eta.begin());
    for (int k = 0; k < K; ++k)
        if (k != etaDropped && est.eta[static_cast<std::size_t>(k)] > kBoundary)
            free.push_back({true, 0, k, 0, etaDropped});
    std::vector<int> dropped(static_cast<std::size_t>(J) * static_cast<std::size_t>(K));
    for (int j = 0; j < J; ++j)
        for (int k = 0; k < K; ++k) {
            int r = 0;
            for (int c = 1; c < est.categories[j]; ++c)
                if (est.P(j, k, c) > est.P(j, k, r)) r = c;
            dropped[static_cast<std::size_t>(j) * static_cast<std::size_t>(K) +
                    static_cast<std::size_t>(k)] = r;
            for (int c = 0; c < est.categories[j]; ++c)
                if (c != r && est.P(j, k, c) > kBoundary) free.push_back({false, j, k, c, r});
        }
    const Eigen::Index n = static_cast<Eigen::Index>(free.size());
    Eigen::MatrixXd info = Eigen::MatrixXd::Zero(n, n);
    Eigen::VectorXd g(n);
    for (int i = 0; i < data.size(); ++i) {
        const std::uint8_t* x = data.row(i);
        const double* hi = h.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(K);
        for (Eigen::Index a = 0; a < n; ++a) {
            const Free& f = free[static_cast<std::size_t>(a)];
            if (f.prior) {
                g[a] = hi[f.klass] / est.eta[static_cast<std::size_t>(f.klass)] -
                       hi[f.dropped] / est.eta[static_cast<std::size_t>(f.dropped)];
                continue;
            }
            const int answer = x[f.item] - 1;
            double d = 0.0;
            if (answer == f.category)
                d = 1.0 / est.P(f.item, f.klass, f.category);
            else if (answer == f.dropped)
                d = -1.0 / est.P(f.item, f.klass, f.dropped);
            g[a] = hi[f.klass] * d;
        }
        info.selfadjointView<Eigen::Lower>().rankUpdate(g, data.freq[static_cast<std::size_t>(i)]);
    }
    info = info.selfadjointView<Eigen::Lower>();
    Eigen::LDLT<Eigen::MatrixXd> ldlt(info);
    const Eigen::VectorXd d = ldlt.vectorD();
    const double scale = n > 0 ? info.diagonal().cwiseAbs().maxCoeff() : 1.0;
    if (ldlt.info() != Eigen::Success || (n > 0 && d.minCoeff() <= scale * 1.0e-12)) {
        out.unavailable = "the information matrix is singular (a parameter is not identified)";
        return out;
    }
    const Eigen::MatrixXd V = ldlt.solve(Eigen::MatrixXd::Identity(n, n));
    out.eta.assign(static_cast<std::size_t>(K), 0.0);
    out.p.assign(est.p.size(), 0.0);
    for (Eigen::Index a = 0; a < n; ++a) {
        const Free& f = free[static_cast<std::size_t>(a)];
        const double se = std::sqrt(std::max(0.0, V(a, a)));
        if (f.prior)
            out.eta[static_cast<std::size_t>(f.klass)] = se;
        else
            out.p[est.index(f.item, f.klass, f.category)] = se;
    }
    auto blockVariance = [&](auto inBlock) {
        double v = 0.0;
        for (Eigen::Index a = 0; a < n; ++a)
            for (Eigen::Index b = 0; b < n; ++b)
                if (inBlock(free[static_cast<std::size_t>(a)]) &&
                    inBlock(free[static_cast<std::size_t>(b)]))
                    v += V(a, b);
        return std::sqrt(std::max(0.0, v));
    };
    out.eta[static_cast<std::size_t>(etaDropped)] =
        blockVariance([](const Free& f) { return f.prior; });
    for (int j = 0; j < J; ++j)
        for (int k = 0; k < K; ++k) {
            const int r = dropped[static_cast<std::size_t>(j) * static_cast<std::size_t>(K) +
                                  static_cast<std::size_t>(k)];
            out.p[est.index(j, k, r)] = blockVariance(
                [&](const Free& f) { return !f.prior && f.item == j && f.klass == k; });
        }
    out.ok = true;
    return out;
}

} // namespace ploven
