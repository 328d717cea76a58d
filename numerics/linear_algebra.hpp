// Dense linear algebra of the estimators, on Eigen: linear systems and inverses by LU with
// complete pivoting, the symmetric eigen-decomposition, Cholesky with diagonal pivoting, and the
// positive definite solve of a Newton step. Every routine refuses a matrix holding a value that
// is not a number (finite is false) instead of spreading it through the result.
//
// LU with complete pivoting (Golub & Van Loan 2013, Matrix Computations, 4th ed., sec. 3.4;
// Eigen::FullPivLU):
//     P A Q = L U,
// each pivot the largest remaining entry in magnitude. The rank is the number of pivots above
// n eps times the largest (eps = 2^-52, Eigen's default threshold); A X = B is solved, and A
// inverted, only at full rank.
//
// Symmetric eigen-decomposition (Golub & Van Loan, sec. 8.3: Householder tridiagonalization and
// the implicit symmetric QR step; Eigen::SelfAdjointEigenSolver):
//     A = V diag(lambda) V',   V'V = I,
// eigenvalues in descending order. An eigenvector's sign is arbitrary; here each one's
// components sum to at least 0, and one whose components sum to exactly 0 has its first nonzero
// component positive, so the result does not depend on the solver's choice.
//
// Cholesky with diagonal (complete) pivoting (Higham 2002, Accuracy and Stability of Numerical
// Algorithms, 2nd ed., sec. 10.3; Golub & Van Loan, sec. 4.2): for symmetric A,
//     Pi' A Pi = L L',
// step k taking as pivot d_k = L(k,k)^2 the largest diagonal entry of the Schur complement left
// by the steps before, so that d_1 >= d_2 >= ... The factorization stops at the first step whose
// largest remaining diagonal entry is not above tolerance * d_1 (Higham's stopping rule, with
// tolerance n u by default, u = 2^-53 the unit roundoff); the steps taken are the rank, and a
// matrix is positive definite to working precision when the rank is n. Then d_1 / d_n is a lower
// bound of the 2-norm condition number (d_1 <= lambda_max and d_n >= lambda_min), close to it in
// practice.
#pragma once

#include <Eigen/Dense>

#include <optional>
#include <vector>

namespace numerics {

// X = A^-1 B (or A^-1), by LU with complete pivoting.
struct LuSolution {
    Eigen::MatrixXd x;   // empty unless solved
    int rank = 0;        // numerical rank of A
    bool finite = true;  // false: A or B holds a value that is not a number, refused
    bool solved = false; // A is square, finite and of full rank
};
LuSolution solve(const Eigen::MatrixXd& a, const Eigen::MatrixXd& b);
LuSolution invert(const Eigen::MatrixXd& a);

// A = V diag(values) V' for symmetric A (only its lower triangle is read).
struct SymmetricEigen {
    Eigen::VectorXd values;  // descending
    Eigen::MatrixXd vectors; // column k: the unit eigenvector of values(k), signed as above
    bool computed = true;    // false: a value that is not a number (refused) or no convergence
};
SymmetricEigen symmetricEigen(const Eigen::MatrixXd& a);

// Pi' A Pi = L L' over the first `rank` pivots, for symmetric A.
struct PivotedCholesky {
    int size = 0;
    int rank = 0;           // pivots taken
    std::vector<int> order; // order[k]: the row and column of A that was pivot k
    Eigen::VectorXd pivots; // d_1 >= ... >= d_rank, all positive
    Eigen::MatrixXd factor; // L: size x rank, row k belonging to row order[k] of A
    bool finite = true;     // false: refused, rank 0

    bool positiveDefinite() const { return finite && rank == size; }
    // d_1 / d_n, a lower bound of the condition number; infinite when not positive definite
    // (1 for an empty matrix).
    double conditionBound() const;
};
// tolerance <= 0: n u.
PivotedCholesky pivotedCholesky(const Eigen::MatrixXd& a, double tolerance = 0.0);

// The Newton step A^-1 g for an information matrix A that the step needs positive definite:
// Eigen's LDL' factorization (Eigen::LDLT) with every diagonal entry of D positive. Nothing when
// A is not, or when the step is not finite.
std::optional<Eigen::VectorXd> positiveDefiniteSolve(const Eigen::MatrixXd& a,
                                                     const Eigen::VectorXd& g);

} // namespace numerics
