#include "travik/rotation.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>

namespace travik {

std::optional<RotationMethod> parseRotationMethod(std::string_view text, std::string& error) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (RotationMethod m :
         {RotationMethod::None, RotationMethod::Varimax, RotationMethod::Oblimin})
        if (lower == rotationMethodName(m)) return m;
    error = "unknown rotation '" + std::string(text) + "': expected none, varimax or oblimin";
    return std::nullopt;
}

std::string_view rotationMethodName(RotationMethod method) {
    switch (method) {
    case RotationMethod::Varimax:
        return "varimax";
    case RotationMethod::Oblimin:
        return "oblimin";
    case RotationMethod::None:
        break;
    }
    return "none";
}

namespace {

using Rows = std::vector<LoadingRow>;

constexpr Matrix2 kIdentity{{{1.0, 0.0}, {0.0, 1.0}}};
// Steps to a T whose determinant is below this are refused: its columns nearly coincide.
constexpr double kSingularT = 1e-10;

Matrix2 transposed(const Matrix2& m) {
    return {{{m[0][0], m[1][0]}, {m[0][1], m[1][1]}}};
}

Matrix2 product(const Matrix2& a, const Matrix2& b) {
    Matrix2 c{};
    for (int r = 0; r < 2; ++r)
        for (int k = 0; k < 2; ++k) c[r][k] = a[r][0] * b[0][k] + a[r][1] * b[1][k];
    return c;
}

double determinant(const Matrix2& m) {
    return m[0][0] * m[1][1] - m[0][1] * m[1][0];
}

// (T')^-1, which maps A to the pattern of an oblique rotation.
Matrix2 inverseTransposed(const Matrix2& t) {
    const double det = determinant(t);
    return {{{t[1][1] / det, -t[1][0] / det}, {-t[0][1] / det, t[0][0] / det}}};
}

double squaredNorm(const Matrix2& m) {
    return m[0][0] * m[0][0] + m[0][1] * m[0][1] + m[1][0] * m[1][0] + m[1][1] * m[1][1];
}

Rows times(const Rows& a, const Matrix2& m) {
    Rows l(a.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        for (int k = 0; k < 2; ++k) l[i][k] = a[i][0] * m[0][k] + a[i][1] * m[1][k];
    return l;
}

// a'b for two p x 2 matrices.
Matrix2 crossProduct(const Rows& a, const Rows& b) {
    Matrix2 c{};
    for (std::size_t i = 0; i < a.size(); ++i)
        for (int r = 0; r < 2; ++r)
            for (int k = 0; k < 2; ++k) c[r][k] += a[i][r] * b[i][k];
    return c;
}

// The orthogonal matrix nearest x (its polar factor U V'): the rotation or reflection with the
// larger trace of Q'x. Rotation (c, -s; s, c): trace c (x00 + x11) + s (x10 - x01); reflection
// (c, s; s, -c): trace c (x00 - x11) + s (x01 + x10).
Matrix2 polarFactor(const Matrix2& x) {
    const double rc = x[0][0] + x[1][1], rs = x[1][0] - x[0][1];
    const double fc = x[0][0] - x[1][1], fs = x[0][1] + x[1][0];
    const double rotation = std::hypot(rc, rs), reflection = std::hypot(fc, fs);
    if (rotation >= reflection && rotation > 0.0) {
        const double c = rc / rotation, s = rs / rotation;
        return {{{c, -s}, {s, c}}};
    }
    if (reflection == 0.0) return kIdentity;
    const double c = fc / reflection, s = fs / reflection;
    return {{{c, s}, {s, -c}}};
}

// x with its columns scaled to unit length.
Matrix2 unitColumns(Matrix2 x) {
    for (int k = 0; k < 2; ++k) {
        const double length = std::hypot(x[0][k], x[1][k]);
        x[0][k] /= length;
        x[1][k] /= length;
    }
    return x;
}

Matrix2 randomRotation(std::mt19937_64& rng) {
    const double u = std::ldexp(static_cast<double>(rng() >> 11), -53);
    const double angle = 2.0 * std::numbers::pi * u;
    const double c = std::cos(angle), s = std::sin(angle);
    return {{{c, -s}, {s, c}}};
}

struct StartResult {
    Matrix2 t = kIdentity;
    double criterion = 0;
    int iterations = 0;
    bool converged = false;
};

// The rotated loadings of a given T, and the gradient of Q with respect to T.
struct AtT {
    double value = 0;
    Matrix2 gradient{};
};

AtT criterionAt(RotationMethod method, const Rows& a, const Matrix2& t) {
    if (method == RotationMethod::Varimax) {
        CriterionValue q = rotationCriterion(method, times(a, t));
        return {q.value, crossProduct(a, q.gradient)};
    }
    // Oblique: dQ/dT = -(L' dQ/dL T^-1)'.
    const Matrix2 inverseT = transposed(inverseTransposed(t));
    const Rows l = times(a, transposed(inverseT));
    CriterionValue q = rotationCriterion(method, l);
    Matrix2 g = transposed(product(crossProduct(l, q.gradient), inverseT));
    for (auto& row : g)
        for (double& v : row) v = -v;
    return {q.value, g};
}

// The gradient projected on the tangent space of the constraint at t.
Matrix2 projectedGradient(RotationMethod method, const Matrix2& t, const Matrix2& g) {
    Matrix2 gp = g;
    if (method == RotationMethod::Varimax) {
        const Matrix2 m = product(transposed(t), g);
        const Matrix2 ts = product(
            t, {{{m[0][0], 0.5 * (m[0][1] + m[1][0])}, {0.5 * (m[0][1] + m[1][0]), m[1][1]}}});
        for (int r = 0; r < 2; ++r)
            for (int k = 0; k < 2; ++k) gp[r][k] -= ts[r][k];
    } else {
        for (int k = 0; k < 2; ++k) {
            const double along = t[0][k] * g[0][k] + t[1][k] * g[1][k];
            for (int r = 0; r < 2; ++r) gp[r][k] -= t[r][k] * along;
        }
    }
    return gp;
}

// The size of Q's rounding error: Q sums terms up to (sum of squared loadings)^2 in magnitude.
double roundingOfCriterion(const Rows& a, double q) {
    double squares = 0;
    for (const LoadingRow& r : a) squares += r[0] * r[0] + r[1] * r[1];
    return 16.0 * std::numeric_limits<double>::epsilon() * (std::abs(q) + squares * squares);
}

// The test of a step where Q cannot resolve the decrease asked for (a chance fall of Q's rounding
// error would pass it): the projected gradient must shrink without turning back. On a quadratic
// this is the Armijo rule's own condition, a step of at most 1 / curvature.
bool shrinksWithoutOvershoot(RotationMethod method, const Matrix2& next, const AtT& atNext,
                             const Matrix2& gp) {
    const Matrix2 after = projectedGradient(method, next, atNext.gradient);
    double along = 0;
    for (int r = 0; r < 2; ++r)
        for (int k = 0; k < 2; ++k) along += after[r][k] * gp[r][k];
    return along >= 0.0 && squaredNorm(after) < squaredNorm(gp);
}

StartResult gradientProjection(RotationMethod method, const Rows& a, Matrix2 t,
                               const RotationOptions& options) {
    AtT q = criterionAt(method, a, t);
    double alpha = 1.0;
    for (int iteration = 0;; ++iteration) {
        const Matrix2 gp = projectedGradient(method, t, q.gradient);
        const double norm2 = squaredNorm(gp);
        if (std::sqrt(norm2) < options.tolerance) return {t, q.value, iteration, true};
        if (iteration == options.maxIterations) return {t, q.value, iteration, false};
        const double rounding = roundingOfCriterion(a, q.value);
        alpha *= 2.0;
        Matrix2 next = t;
        AtT atNext;
        bool usable = false;
        for (int halving = 0; halving <= 10; ++halving) {
            Matrix2 x = t;
            for (int r = 0; r < 2; ++r)
                for (int k = 0; k < 2; ++k) x[r][k] -= alpha * gp[r][k];
            Matrix2 candidate = method == RotationMethod::Varimax ? polarFactor(x) : unitColumns(x);
            if (std::abs(determinant(candidate)) >= kSingularT) {
                next = candidate;
                atNext = criterionAt(method, a, next);
                usable = true;
                const double decrease = 0.5 * norm2 * alpha;
                if (decrease >= rounding ? atNext.value < q.value - decrease
                                         : shrinksWithoutOvershoot(method, next, atNext, gp))
                    break;
            }
            alpha *= 0.5;
        }
        // As in Bernaards & Jennrich's programs the last step is taken even when it did not
        // pass the test.
        if (!usable) return {t, q.value, iteration, false};
        t = next;
        q = atNext;
    }
}

bool allFinite(const Rows& a) {
    for (const LoadingRow& r : a)
        if (!std::isfinite(r[0]) || !std::isfinite(r[1])) return false;
    return true;
}

// Signs and order of the factors, decided on the criterion rows of l and applied to t.
Matrix2 withConventions(const Rows& l, Matrix2 t) {
    std::array<double, 2> sum{}, squares{};
    for (const LoadingRow& r : l)
        for (int k = 0; k < 2; ++k) {
            sum[k] += r[k];
            squares[k] += r[k] * r[k];
        }
    for (int k = 0; k < 2; ++k)
        if (sum[k] < 0.0) {
            t[0][k] = -t[0][k];
            t[1][k] = -t[1][k];
        }
    if (squares[1] > squares[0]) {
        std::swap(t[0][0], t[0][1]);
        std::swap(t[1][0], t[1][1]);
    }
    return t;
}

} // namespace

CriterionValue rotationCriterion(RotationMethod method, const std::vector<LoadingRow>& l) {
    CriterionValue q;
    q.gradient.resize(l.size());
    if (method == RotationMethod::Varimax) {
        const double p = static_cast<double>(l.size());
        if (l.empty()) return q;
        for (int k = 0; k < 2; ++k) {
            double fourth = 0, squares = 0;
            for (const LoadingRow& r : l) {
                const double s = r[k] * r[k];
                fourth += s * s;
                squares += s;
            }
            const double mean = squares / p;
            q.value -= 0.25 * (fourth - squares * mean);
            for (std::size_t i = 0; i < l.size(); ++i)
                q.gradient[i][k] = -l[i][k] * (l[i][k] * l[i][k] - mean);
        }
    } else if (method == RotationMethod::Oblimin) {
        // With two factors the pairs j != k are (1, 2) and (2, 1): Q = (1/2) sum_i l_i1^2 l_i2^2.
        for (std::size_t i = 0; i < l.size(); ++i) {
            const double s0 = l[i][0] * l[i][0], s1 = l[i][1] * l[i][1];
            q.value += 0.5 * s0 * s1;
            q.gradient[i] = {l[i][0] * s1, l[i][1] * s0};
        }
    }
    return q;
}

std::vector<LoadingRow> applyRotation(const Rotation& r, const std::vector<LoadingRow>& a) {
    return times(a, r.method == RotationMethod::Oblimin ? inverseTransposed(r.t) : r.t);
}

Rotation rotate(RotationMethod method, const std::vector<LoadingRow>& a,
                const std::vector<char>& inCriterion, const RotationOptions& options) {
    Rotation result;
    result.method = method;
    result.loadings = a;
    if (method == RotationMethod::None) return result;
    if (!allFinite(a)) {
        result.unavailable = "a loading is not a number";
        result.criterion = std::numeric_limits<double>::quiet_NaN();
        result.converged = false;
        return result;
    }
    Rows criterionRows;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (inCriterion.empty() || inCriterion[i]) criterionRows.push_back(a[i]);

    std::mt19937_64 rng(options.seed);
    std::vector<StartResult> ends;
    for (int start = 0; start < std::max(1, options.starts); ++start) {
        const Matrix2 t0 = start == 0 ? kIdentity : randomRotation(rng);
        ends.push_back(gradientProjection(method, criterionRows, t0, options));
    }
    std::size_t best = 0;
    for (std::size_t s = 1; s < ends.size(); ++s)
        if (ends[s].criterion < ends[best].criterion) best = s;
    const StartResult& kept = ends[best];
    for (const StartResult& e : ends)
        if (e.criterion <= kept.criterion + 1e-8 * (1.0 + std::abs(kept.criterion)))
            ++result.startsAtBest;

    result.t = kept.t;
    result.criterion = kept.criterion;
    result.iterations = kept.iterations;
    result.converged = kept.converged;
    result.t = withConventions(applyRotation(result, criterionRows), result.t);
    result.loadings = applyRotation(result, a);
    if (method == RotationMethod::Oblimin) result.phi = product(transposed(result.t), result.t);
    return result;
}

LoadingRows loadingRows(const StandardizedLoadings& s) {
    LoadingRows out;
    auto add = [&](const std::array<double, 3>& l, bool criterion) {
        out.rows.push_back({l[1], l[2]});
        out.inCriterion.push_back(criterion ? 1 : 0);
    };
    for (const auto& l : s.binary) add(l, true);
    for (const auto& l : s.normal) add(l, true);
    for (const auto& l : s.ordinal) add(l, true);
    for (const auto& item : s.nominal)
        for (std::size_t j = 2; j < item.size(); ++j) add(item[j], false);
    return out;
}

Rotation rotateStandardized(RotationMethod method, const StandardizedLoadings& s,
                            const RotationOptions& options) {
    const LoadingRows rows = loadingRows(s);
    return rotate(method, rows.rows, rows.inCriterion, options);
}

StandardizedLoadings rotatedStandardized(const StandardizedLoadings& s, const Rotation& r) {
    StandardizedLoadings out = s;
    std::size_t at = 0;
    auto take = [&](std::array<double, 3>& l) {
        l[1] = r.loadings[at][0];
        l[2] = r.loadings[at][1];
        ++at;
    };
    for (auto& l : out.binary) take(l);
    for (auto& l : out.normal) take(l);
    for (auto& l : out.ordinal) take(l);
    for (auto& item : out.nominal)
        for (std::size_t j = 2; j < item.size(); ++j) take(item[j]);
    return out;
}

} // namespace travik
