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

// The scaled information of the free parameters with a positive scale, its eigenvalues
// ascending, and the floor below which an eigenvalue is numerically zero.
struct ScaledInformation {
    std::vector<int> index; // positions in the full vector
    Eigen::VectorXd scale;  // 1 / sqrt(diagonal)
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eigen;
    double floor = 0.0;
};

ScaledInformation scaled(const Eigen::MatrixXd& info, const std::vector<char>& free,
                         const Eigen::VectorXd& reference, int& noInformation) {
    ScaledInformation s;
    const int n = static_cast<int>(info.rows());
    const bool own = reference.size() == 0;
    for (int p = 0; p < n; ++p) {
        if (!free.empty() && !free[p]) continue;
        const double diagonal = own ? info(p, p) : reference(p);
        if (!(diagonal > 0.0) || !std::isfinite(diagonal)) {
            ++noInformation;
            continue;
        }
        s.index.push_back(p);
    }
    const int m = static_cast<int>(s.index.size());
    s.scale.resize(m);
    for (int a = 0; a < m; ++a) {
        const int p = s.index[a];
        s.scale(a) = 1.0 / std::sqrt(own ? info(p, p) : reference(p));
    }
    Eigen::MatrixXd reduced(m, m);
    for (int a = 0; a < m; ++a)
        for (int b = 0; b < m; ++b)
            reduced(a, b) = info(s.index[a], s.index[b]) * s.scale(a) * s.scale(b);
    if (m == 0) return s;
    s.eigen.compute(reduced);
    const Eigen::VectorXd& values = s.eigen.eigenvalues();
    s.floor = own ? kRelativeEigenFloor * values(m - 1) : kReferenceEigenFloor;
    return s;
}

} // namespace

QuadraticModel quadraticModel(const Eigen::VectorXd& g, const Eigen::MatrixXd& info,
                              const std::vector<char>& free, const Eigen::VectorXd& reference) {
    QuadraticModel q;
    const int n = static_cast<int>(g.size());
    q.step = Eigen::VectorXd::Zero(n);
    for (int p = 0; p < n; ++p)
        if (free.empty() || free[p])
            q.largestGradient = std::max(q.largestGradient, std::fabs(g(p)));
    if (!finiteOverFree(g, info, free)) {
        q.finite = false;
        q.gain = std::numeric_limits<double>::infinity();
        q.largestGradient = std::numeric_limits<double>::infinity();
        return q;
    }
    const ScaledInformation s = scaled(info, free, reference, q.unresolved);
    const int m = static_cast<int>(s.index.size());
    if (m == 0) return q;
    Eigen::VectorXd gs(m);
    for (int a = 0; a < m; ++a) gs(a) = g(s.index[a]) * s.scale(a);
    const Eigen::VectorXd& values = s.eigen.eigenvalues();
    const Eigen::MatrixXd& vectors = s.eigen.eigenvectors();
    Eigen::VectorXd scaledStep = Eigen::VectorXd::Zero(m);
    if (values(0) < -s.floor) {
        // The smallest eigenvalue comes first.
        q.negativeCurvature = true;
        Eigen::VectorXd along = vectors.col(0);
        if (along.dot(gs) < 0.0) along = -along;
        q.escape = Eigen::VectorXd::Zero(n);
        for (int a = 0; a < m; ++a) q.escape(s.index[a]) = along(a) * s.scale(a);
    }
    // Largest eigenvalues first, so the sums do not depend on how many small ones are kept.
    for (int e = m - 1; e >= 0; --e) {
        if (values(e) < -s.floor) continue;
        if (!(values(e) > s.floor)) {
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

namespace {

// The smallest scaled eigenvalue over the free parameters against the floor: above it (or,
// with allowZero, above minus it). A free parameter with no scale fails.
bool smallestAbove(const Eigen::MatrixXd& info, const std::vector<char>& free,
                   const Eigen::VectorXd& reference, bool allowZero) {
    int noInformation = 0;
    const ScaledInformation s = scaled(info, free, reference, noInformation);
    if (noInformation > 0) return false;
    if (s.index.empty()) return true;
    const double smallest = s.eigen.eigenvalues()(0);
    return allowZero ? smallest > -s.floor : smallest > s.floor;
}

} // namespace

bool positiveDefinite(const Eigen::MatrixXd& info, const std::vector<char>& free,
                      const Eigen::VectorXd& reference) {
    return smallestAbove(info, free, reference, false);
}

bool positiveSemidefinite(const Eigen::MatrixXd& info, const std::vector<char>& free,
                          const Eigen::VectorXd& reference) {
    return smallestAbove(info, free, reference, true);
}

IdentifiedCovariance identifiedCovariance(const Eigen::MatrixXd& info,
                                          const Eigen::VectorXd& reference) {
    const int n = static_cast<int>(info.rows());
    IdentifiedCovariance out;
    out.covariance = Eigen::MatrixXd::Zero(n, n);
    out.identified.assign(static_cast<std::size_t>(n), 0);
    int noInformation = 0;
    const ScaledInformation s = scaled(info, {}, reference, noInformation);
    const int m = static_cast<int>(s.index.size());
    if (m == 0) return out;
    const Eigen::VectorXd& values = s.eigen.eigenvalues();
    const Eigen::MatrixXd& vectors = s.eigen.eigenvectors();
    std::vector<char> identified(static_cast<std::size_t>(m), 1);
    Eigen::MatrixXd inverse = Eigen::MatrixXd::Zero(m, m);
    for (int e = m - 1; e >= 0; --e) {
        if (values(e) > s.floor) {
            inverse += (1.0 / values(e)) * vectors.col(e) * vectors.col(e).transpose();
            continue;
        }
        for (int a = 0; a < m; ++a)
            if (std::fabs(vectors(a, e)) > kUnidentifiedComponent) identified[a] = 0;
    }
    for (int a = 0; a < m; ++a) {
        out.identified[s.index[a]] = identified[a];
        for (int b = 0; b < m; ++b)
            out.covariance(s.index[a], s.index[b]) = inverse(a, b) * s.scale(a) * s.scale(b);
    }
    return out;
}

} // namespace numerics
