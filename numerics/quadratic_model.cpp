#include "numerics/quadratic_model.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace numerics {

namespace {

// Whether every entry that belongs to two free parameters (and every free gradient element)
// is a number.
bool finiteOverFree(const Eigen::VectorXd& g, const Eigen::MatrixXd& info,
                    const std::vector<char>& free) {
    const int n = static_cast<int>(g.size());
    for (int p = 0; p < n; ++p) {
        if (!free.empty() && !free[p]) continue;
        if (!std::isfinite(g(p))) return false;
        for (int r = 0; r < n; ++r)
            if ((free.empty() || free[r]) && !std::isfinite(info(p, r))) return false;
    }
    return true;
}

// The scaled information of the free parameters with a positive diagonal, its eigenvalues
// ascending.
struct ScaledInformation {
    std::vector<int> index;  // positions in the full vector
    Eigen::VectorXd scale;   // 1 / sqrt(diagonal)
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eigen;
};

ScaledInformation scaled(const Eigen::MatrixXd& info, const std::vector<char>& free,
                         int& noInformation) {
    ScaledInformation s;
    const int n = static_cast<int>(info.rows());
    for (int p = 0; p < n; ++p) {
        if (!free.empty() && !free[p]) continue;
        if (!(info(p, p) > 0.0) || !std::isfinite(info(p, p))) {
            ++noInformation;
            continue;
        }
        s.index.push_back(p);
    }
    const int m = static_cast<int>(s.index.size());
    s.scale.resize(m);
    for (int a = 0; a < m; ++a) s.scale(a) = 1.0 / std::sqrt(info(s.index[a], s.index[a]));
    Eigen::MatrixXd reduced(m, m);
    for (int a = 0; a < m; ++a)
        for (int b = 0; b < m; ++b)
            reduced(a, b) = info(s.index[a], s.index[b]) * s.scale(a) * s.scale(b);
    if (m > 0) s.eigen.compute(reduced);
    return s;
}

} // namespace

QuadraticModel quadraticModel(const Eigen::VectorXd& g, const Eigen::MatrixXd& info,
                              const std::vector<char>& free) {
    QuadraticModel q;
    const int n = static_cast<int>(g.size());
    q.step = Eigen::VectorXd::Zero(n);
    for (int p = 0; p < n; ++p)
        if (free.empty() || free[p]) q.largestGradient = std::max(q.largestGradient, std::fabs(g(p)));
    if (!finiteOverFree(g, info, free)) {
        q.finite = false;
        q.gain = std::numeric_limits<double>::infinity();
        q.largestGradient = std::numeric_limits<double>::infinity();
        return q;
    }
    const ScaledInformation s = scaled(info, free, q.unresolved);
    const int m = static_cast<int>(s.index.size());
    if (m == 0) return q;
    Eigen::VectorXd gs(m);
    for (int a = 0; a < m; ++a) gs(a) = g(s.index[a]) * s.scale(a);
    const Eigen::VectorXd& values = s.eigen.eigenvalues();
    const Eigen::MatrixXd& vectors = s.eigen.eigenvectors();
    const double floor = kRelativeEigenFloor * values(m - 1);
    Eigen::VectorXd scaledStep = Eigen::VectorXd::Zero(m);
    // Largest eigenvalues first, so the sums do not depend on how many small ones are kept.
    for (int e = m - 1; e >= 0; --e) {
        if (!(values(e) > floor)) {
            ++q.unresolved;
            continue;
        }
        const double along = vectors.col(e).dot(gs);
        q.gain += 0.5 * along * along / values(e);
        scaledStep += (along / values(e)) * vectors.col(e);
    }
    for (int a = 0; a < m; ++a) q.step(s.index[a]) = scaledStep(a) * s.scale(a);
    return q;
}

bool positiveDefinite(const Eigen::MatrixXd& info) {
    int noInformation = 0;
    const ScaledInformation s = scaled(info, {}, noInformation);
    if (noInformation > 0) return false;
    const int m = static_cast<int>(s.index.size());
    if (m == 0) return true;
    const Eigen::VectorXd& values = s.eigen.eigenvalues();
    return values(0) > kRelativeEigenFloor * values(m - 1);
}

} // namespace numerics
