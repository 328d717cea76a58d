#include "numerics/linear_algebra.hpp"

#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

namespace numerics {

LuSolution solve(const Eigen::MatrixXd& a, const Eigen::MatrixXd& b) {
    LuSolution s;
    if (a.rows() != a.cols() || b.rows() != a.rows()) return s;
    if (!a.allFinite() || !b.allFinite()) {
        s.finite = false;
        return s;
    }
    const Eigen::FullPivLU<Eigen::MatrixXd> lu(a);
    s.rank = static_cast<int>(lu.rank());
    if (s.rank < a.rows()) return s;
    s.x = lu.solve(b);
    s.solved = true;
    return s;
}

LuSolution invert(const Eigen::MatrixXd& a) {
    return solve(a, Eigen::MatrixXd::Identity(a.rows(), a.rows()));
}

SymmetricEigen symmetricEigen(const Eigen::MatrixXd& a) {
    SymmetricEigen e;
    const Eigen::Index n = a.rows();
    if (a.cols() != n || !a.allFinite()) {
        e.computed = false;
        return e;
    }
    e.values.resize(n);
    e.vectors.resize(n, n);
    if (n == 0) return e;
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(a);
    if (solver.info() != Eigen::Success) {
        e = SymmetricEigen{};
        e.computed = false;
        return e;
    }
    for (Eigen::Index k = 0; k < n; ++k) {
        // The solver's order is ascending.
        e.values(k) = solver.eigenvalues()(n - 1 - k);
        Eigen::VectorXd v = solver.eigenvectors().col(n - 1 - k);
        double sum = 0.0, firstNonzero = 0.0;
        for (Eigen::Index i = 0; i < n; ++i) {
            sum += v(i);
            if (firstNonzero == 0.0) firstNonzero = v(i);
        }
        if (sum < 0.0 || (sum == 0.0 && firstNonzero < 0.0)) v = -v;
        e.vectors.col(k) = v;
    }
    return e;
}

double PivotedCholesky::conditionBound() const {
    if (!positiveDefinite()) return std::numeric_limits<double>::infinity();
    return size == 0 ? 1.0 : pivots(0) / pivots(size - 1);
}

PivotedCholesky pivotedCholesky(const Eigen::MatrixXd& a, double tolerance) {
    PivotedCholesky c;
    const Eigen::Index n = a.rows();
    c.size = static_cast<int>(n);
    if (a.cols() != n || !a.allFinite()) {
        c.finite = false;
        return c;
    }
    if (!(tolerance > 0.0))
        tolerance = static_cast<double>(n) * std::numeric_limits<double>::epsilon() / 2.0;
    // s holds the Schur complement in its trailing block, rows and columns in pivot order.
    Eigen::MatrixXd s = a.selfadjointView<Eigen::Lower>();
    c.order.resize(static_cast<std::size_t>(n));
    std::iota(c.order.begin(), c.order.end(), 0);
    Eigen::VectorXd pivots(n);
    Eigen::MatrixXd factor = Eigen::MatrixXd::Zero(n, n);
    Eigen::Index k = 0;
    for (; k < n; ++k) {
        Eigen::Index q = k; // the largest remaining diagonal entry; the first of equal ones
        for (Eigen::Index i = k + 1; i < n; ++i)
            if (s(i, i) > s(q, q)) q = i;
        const double pivot = s(q, q);
        if (!(pivot > 0.0) || (k > 0 && !(pivot > tolerance * pivots(0)))) break;
        if (q != k) {
            s.row(k).swap(s.row(q));
            s.col(k).swap(s.col(q));
            factor.row(k).swap(factor.row(q));
            std::swap(c.order[static_cast<std::size_t>(k)], c.order[static_cast<std::size_t>(q)]);
        }
        pivots(k) = pivot;
        const double root = std::sqrt(pivot);
        const Eigen::Index rest = n - k - 1;
        factor(k, k) = root;
        factor.col(k).tail(rest) = s.col(k).tail(rest) / root;
        s.bottomRightCorner(rest, rest).noalias() -=
            factor.col(k).tail(rest) * factor.col(k).tail(rest).transpose();
    }
    c.rank = static_cast<int>(k);
    c.pivots = pivots.head(k);
    c.factor = factor.leftCols(k);
    return c;
}

std::optional<Eigen::VectorXd> positiveDefiniteSolve(const Eigen::MatrixXd& a,
                                                     const Eigen::VectorXd& g) {
    if (a.rows() != a.cols() || g.size() != a.rows() || !a.allFinite()) return std::nullopt;
    if (a.rows() == 0) return Eigen::VectorXd(0);
    const Eigen::LDLT<Eigen::MatrixXd> ldlt(a);
    if (ldlt.info() != Eigen::Success || !ldlt.isPositive() || !(ldlt.vectorD().minCoeff() > 0.0))
        return std::nullopt;
    Eigen::VectorXd step = ldlt.solve(g);
    if (!step.allFinite()) return std::nullopt;
    return step;
}

} // namespace numerics
