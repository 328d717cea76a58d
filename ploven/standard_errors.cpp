#include "ploven/standard_errors.hpp"

#include "fixedio/console.hpp"
#include "fixedio/layout.hpp"
#include "numerics/linear_algebra.hpp"
#include "numerics/parallel_blocks.hpp"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace ploven {

namespace {

// Estimates this close to a bound have no usable standard error.
constexpr double kLowBound = 3.0e-6;
constexpr double kHighBound = 0.999997;

void singular(const Console& console) {
    fixedio::consolePause("SINGULAR MATRIX", console.in, console.out);
}

using RowMajorMap =
    Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>;

Eigen::MatrixXd toEigen(const Matrix& a) {
    return RowMajorMap(a.a.data(), a.n, a.n);
}

// Response factor p (x = 1) or 1 - p (x = 0) of item j in class k for pattern x.
inline double responseFactor(const Estimates& est, const std::uint8_t* x, int j, int k) {
    return x[j] ? est.PI(j, k) : 1.0 - est.PI(j, k);
}

// Parameters a warning names one by one; the rest are counted.
constexpr std::size_t kParametersNamed = 10;

std::string listed(const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size() && i < kParametersNamed; ++i)
        out += (i > 0 ? ", " : "") + names[i];
    if (names.size() > kParametersNamed)
        out += " and " + std::to_string(names.size() - kParametersNamed) + " more";
    return out;
}

// "the variance -0.0012" for a warning; one that is not a finite number is said in words, as
// no report prints NaN.
std::string varianceText(double v) {
    if (!std::isfinite(v)) return "a variance that is not a finite number";
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", v);
    return std::string("the variance ") + text;
}

} // namespace

std::string parameterName(int m, int nclass) {
    if (m < nclass - 1) return "ETA(" + std::to_string(m + 1) + ")";
    const int at = m - (nclass - 1);
    return "PI(" + std::to_string(at / nclass + 1) + "," + std::to_string(at % nclass + 1) + ")";
}

std::vector<int> singularParameters(const Matrix& a, double limit) {
    const int n = a.n;
    std::vector<int> out;
    std::vector<int> informed; // parameters with a positive diagonal
    for (int i = 0; i < n; ++i) {
        if (a(i, i) > 0.0 && std::isfinite(a(i, i)))
            informed.push_back(i);
        else
            out.push_back(i);
    }
    const int m = static_cast<int>(informed.size());
    if (m > 0) {
        Eigen::MatrixXd s(m, m);
        for (int r = 0; r < m; ++r)
            for (int c = 0; c < m; ++c)
                s(r, c) = a(informed[r], informed[c]) /
                          std::sqrt(a(informed[r], informed[r]) * a(informed[c], informed[c]));
        const numerics::SymmetricEigen eigen = numerics::symmetricEigen(s);
        if (eigen.computed) {
            const Eigen::VectorXd& values = eigen.values; // decreasing
            const double floor = values(0) / limit;
            Eigen::VectorXd share = Eigen::VectorXd::Zero(m);
            for (int v = m - 1; v >= 0 && values(v) <= floor; --v)
                share += eigen.vectors.col(v).cwiseAbs2();
            for (int r = 0; r < m; ++r)
                if (share(r) >= kNamedShare) out.push_back(informed[r]);
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

namespace {

// The score of pattern i into s (modelParameters entries).
void scoreInto(const PatternTable& data, int i, const Estimates& est, const Posteriors& post,
               double* s) {
    const int K = est.nclass;
    const double last = post.H(K - 1, i) / est.eta[K - 1];
    for (int k = 0; k + 1 < K; ++k) s[k] = post.H(k, i) / est.eta[k] - last;
    const std::uint8_t* x = data.row(i);
    for (int j = 0; j < est.nitem; ++j) {
        for (int k = 0; k < K; ++k) {
            const double p = est.PI(j, k);
            s[(K - 1) + j * K + k] = x[j] ? post.H(k, i) / p : -post.H(k, i) / (1.0 - p);
        }
    }
}

// What a worker of informationMatrix holds: its block's sum and one pattern's terms.
struct InformationWorker {
    Matrix sum;
    std::vector<double> score;
    std::vector<double> weight; // weight[k * K + l]: FREQ h_k h_l, rounded or not
    std::vector<double> factor; // factor[j * K + l]: the response factor of item j in class l
    // signedWeight[(2 k + a) * P * K + j * K + l]: weight[k * K + l], negative where the
    // response to item j differs from a.
    std::vector<double> signedWeight;
};

// Adds the terms of pattern i to the worker's sum: priors with priors and with item
// probabilities (stored on both sides), item probabilities with item probabilities. An item
// pair whose responses differ subtracts its term; it is added negated instead, which gives the
// same digits and lets the row run as one vectorizable loop.
void addPatternInformation(const PatternTable& data, int i, const Estimates& est,
                           const Posteriors& post, bool roundWeights, InformationWorker& w) {
    const int K = est.nclass;
    const int P = est.nitem;
    const int priors = K - 1;
    const int M = w.sum.n;
    const std::size_t width = static_cast<std::size_t>(P) * K;
    Matrix& A = w.sum;
    const double f = data.freq[i];
    const std::uint8_t* x = data.row(i);
    double* s = w.score.data();
    scoreInto(data, i, est, post, s);

    for (int k = 0; k < priors; ++k) {
        for (int l = 0; l < priors; ++l) A(k, l) += f * s[k] * s[l];
        for (int m = priors; m < M; ++m) {
            const double v = A(k, m) + f * s[k] * s[m];
            A(k, m) = v;
            A(m, k) = v;
        }
    }

    for (int k = 0; k < K; ++k)
        for (int l = 0; l < K; ++l) {
            const double v = f * post.H(k, i) * post.H(l, i);
            w.weight[static_cast<std::size_t>(k) * K + l] =
                roundWeights ? static_cast<double>(static_cast<float>(v)) : v;
        }
    for (int j = 0; j < P; ++j)
        for (int k = 0; k < K; ++k)
            w.factor[static_cast<std::size_t>(j) * K + k] = responseFactor(est, x, j, k);
    for (int k = 0; k < K; ++k)
        for (int a = 0; a < 2; ++a) {
            double* row = w.signedWeight.data() + (2 * static_cast<std::size_t>(k) + a) * width;
            const double* wk = w.weight.data() + static_cast<std::size_t>(k) * K;
            for (int jj = 0; jj < P; ++jj)
                for (int l = 0; l < K; ++l)
                    row[static_cast<std::size_t>(jj) * K + l] = x[jj] != a ? -wk[l] : wk[l];
        }
    const double* __restrict b = w.factor.data();
    for (int j = 0; j < P; ++j) {
        for (int k = 0; k < K; ++k) {
            const double a = w.factor[static_cast<std::size_t>(j) * K + k];
            const double* __restrict sw =
                w.signedWeight.data() + (2 * static_cast<std::size_t>(k) + x[j]) * width;
            double* __restrict cell = &A(priors + j * K + k, priors);
            for (std::size_t t = 0; t < width; ++t) cell[t] += sw[t] / (a * b[t]);
        }
    }
}

} // namespace

std::vector<double> patternScore(const PatternTable& data, int i, const Estimates& est,
                                 const Posteriors& post) {
    std::vector<double> s(static_cast<std::size_t>(modelParameters(est.nitem, est.nclass)), 0.0);
    scoreInto(data, i, est, post, s.data());
    return s;
}

Matrix informationMatrix(const PatternTable& data, const Estimates& est, const Posteriors& post,
                         bool roundWeights) {
    const int K = est.nclass;
    const int M = static_cast<int>(modelParameters(est.nitem, K));
    const std::size_t width = static_cast<std::size_t>(est.nitem) * K;
    const auto npat = static_cast<std::size_t>(data.size());
    const auto blockSize = static_cast<std::size_t>(std::max(1, post.loops.blockPatterns));
    const int threads = numerics::threadsFor(post.loops.threads);
    std::vector<InformationWorker> workers(
        static_cast<std::size_t>(numerics::workersFor(npat, blockSize, threads)));
    for (InformationWorker& w : workers) {
        w.sum = Matrix(M);
        w.score.assign(static_cast<std::size_t>(M), 0.0);
        w.weight.assign(static_cast<std::size_t>(K) * K, 0.0);
        w.factor.assign(width, 0.0);
        w.signedWeight.assign(2 * static_cast<std::size_t>(K) * width, 0.0);
    }
    Matrix A(M);
    numerics::forEachBlock(
        npat, blockSize, threads,
        [&](int worker, const numerics::Block& block) {
            InformationWorker& w = workers[static_cast<std::size_t>(worker)];
            std::fill(w.sum.a.begin(), w.sum.a.end(), 0.0);
            for (std::size_t i = block.begin; i < block.end; ++i)
                addPatternInformation(data, static_cast<int>(i), est, post, roundWeights, w);
        },
        [&](int worker, const numerics::Block&) {
            const Matrix& partial = workers[static_cast<std::size_t>(worker)].sum;
            for (std::size_t t = 0; t < A.a.size(); ++t) A.a[t] += partial.a[t];
        });
    return A;
}

Matrix invertInformation(const Matrix& a, const Console& console) {
    const Eigen::MatrixXd information = toEigen(a);
    if (!numerics::pivotedCholesky(information).positiveDefinite()) singular(console);
    const numerics::LuSolution inverse = numerics::invert(information);
    Matrix v(a.n);
    if (!inverse.solved) {
        std::fill(v.a.begin(), v.a.end(), std::numeric_limits<double>::quiet_NaN());
        return v;
    }
    Eigen::Map<Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>(
        v.a.data(), a.n, a.n) = inverse.x;
    return v;
}

double pivotRatio(const Matrix& a, double stopAbove) {
    const int n = a.n;
    Eigen::VectorXd scale(n);
    for (int i = 0; i < n; ++i) {
        if (!(a(i, i) > 0.0) || !std::isfinite(a(i, i)))
            return std::numeric_limits<double>::infinity();
        scale(i) = 1.0 / std::sqrt(a(i, i));
    }
    const Eigen::MatrixXd scaled = scale.asDiagonal() * toEigen(a) * scale.asDiagonal();
    return numerics::pivotedCholesky(scaled, 1.0 / stopAbove).conditionBound();
}

StandardErrors standardErrors(const PatternTable& data, const Estimates& est,
                              const Posteriors& post, const Console& console) {
    const int K = est.nclass;
    const int P = est.nitem;
    StandardErrors se;
    // The report's line names the first bound met, class by class; the warning names all.
    std::vector<std::string> atBound;
    for (int k = 0; k < K; ++k) {
        if (est.eta[k] < kLowBound) {
            // Two blanks in "STANDARD  ERRORS" here and none in "STANDARDERRORS" below: the
            // established report's two lines, kept as they are on purpose.
            if (se.report.empty())
                se.report =
                    fixedio::freeLine({"BOUNDARY ESTIMATE: UNABLE TO COMPUTE STANDARD  ERRORS"});
            atBound.push_back("ETA(" + std::to_string(k + 1) + ") near 0");
        }
        for (int j = 0; j < P; ++j) {
            const double p = est.PI(j, k);
            if (p < kLowBound || p > kHighBound) {
                if (se.report.empty())
                    se.report =
                        fixedio::freeLine({"BOUNDARY ESTIMATE: UNABLE TO COMPUTE STANDARDERRORS"});
                atBound.push_back("PI(" + std::to_string(j + 1) + "," + std::to_string(k + 1) +
                                  (p < kLowBound ? ") near 0" : ") near 1"));
            }
        }
    }
    if (!atBound.empty()) {
        se.unavailable = "estimates at a bound (within 3.0E-6 of 0 or 1), where the information "
                         "is singular: " +
                         listed(atBound);
        return se;
    }

    // A singular information matrix inverts to numbers without meaning: say so instead. The
    // test needs the matrix in full precision: weights rounded to single precision blur a
    // singular matrix into one of condition 1e7 or so.
    if (const Matrix full = informationMatrix(data, est, post, false);
        pivotRatio(full, kIdentificationLimit) > kIdentificationLimit) {
        se.report =
            "     *** WARNING *** THE MODEL IS NOT IDENTIFIED AT THIS SOLUTION; NO STANDARD "
            "ERRORS\n"
            "     (CONDITION NUMBER OF THE INFORMATION MATRIX ABOVE 1.0E+12)\n";
        std::vector<std::string> names;
        for (int m : singularParameters(full, kIdentificationLimit))
            names.push_back(parameterName(m, K));
        se.unavailable = "the model is not identified at this solution: the information matrix "
                         "is singular (condition number above 1.0E+12)";
        if (!names.empty()) se.unavailable += " in directions of " + listed(names);
        return se;
    }
    const Matrix V = invertInformation(informationMatrix(data, est, post), console);
    auto refuse = [&](fixedio::Value parameter, const std::string& name, double variance) {
        se.report = fixedio::freeLine({"*** VARCO: CANNOT COMPUTE STANDARD ERROR ***"}) +
                    fixedio::freeLine({"negative variance estimate:"}) +
                    fixedio::freeLine(
                        {"parameter=", std::move(parameter), "  variance estimate=", variance});
        se.unavailable = "the inverse of the information matrix gives " + name + " " +
                         varianceText(variance) + ": the information is singular there";
    };
    const int M = V.n;
    for (int m = 0; m < M; ++m) {
        // Not-a-number and infinite variances come from a failed elimination: refused alike.
        if (!(V(m, m) > 0.0) || !std::isfinite(V(m, m))) {
            refuse(m + 1, parameterName(m, K), V(m, m));
            return se;
        }
    }

    se.eta.assign(static_cast<std::size_t>(K), 0.0);
    se.pi.assign(static_cast<std::size_t>(P) * K, 0.0);
    if (K == 2) {
        se.eta[0] = se.eta[1] = std::sqrt(V(0, 0));
    } else if (K >= 3) {
        // The last prior is 1 minus the others: the variance of their sum.
        double diagonal = 0.0;
        double above = 0.0;
        for (int k = 0; k + 1 < K; ++k) {
            se.eta[k] = std::sqrt(V(k, k));
            diagonal += V(k, k);
            for (int l = 0; l < k; ++l) above += V(l, k);
        }
        const double variance = diagonal + 2.0 * above;
        if (!(variance > 0.0) || !std::isfinite(variance)) {
            const std::string last = "ETA(" + std::to_string(K) + ")";
            refuse(last, last, variance);
            return se;
        }
        se.eta[K - 1] = std::sqrt(variance);
    }
    // One class: the prior is fixed at 1 and its standard error stays 0.
    for (int j = 0; j < P; ++j)
        for (int k = 0; k < K; ++k) {
            const int m = (K - 1) + j * K + k;
            se.pi[static_cast<std::size_t>(j) * K + k] = std::sqrt(V(m, m));
        }
    se.ok = true;
    return se;
}

} // namespace ploven
