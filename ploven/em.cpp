#include "ploven/em.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace ploven {

namespace {

// Everything a cycle reads, laid out so the inner loops run over the classes of one item or
// one pattern in contiguous memory.
struct Cycle {
    int npat = 0;
    int nitem = 0;
    int K = 0;
    const std::uint8_t* x = nullptr;
    std::vector<double> freq; // frequencies as reals
    // Patterns with a positive response to item j, in increasing order:
    // positive[positiveStart[j] .. positiveStart[j + 1]).
    std::vector<int> positiveStart;
    std::vector<int> positive;
    std::vector<double>
        factor; // factor[(2j + x) * K + k]: 1 - PI(j,k) for x = 0, PI(j,k) for x = 1
    std::vector<double> itemSum; // itemSum[j * K + k]
    // The E-step's products, with the items in order, share their beginnings between patterns:
    // the patterns are taken in lexicographic order of their responses, in two halves walked
    // side by side. At walk position p, shared[p] items agree with the pattern before it in
    // its half (0 at a half's start) and kept[p] with the one after it (0 at a half's end).
    std::vector<int> order;
    std::vector<int> shared, kept;
    int half = 0;                      // positions [0, half) and [half, npat)
    std::vector<double> prefix;        // two stacks of nitem + 1 rows of K running products
    std::vector<double> classProducts; // classProducts[i * K + k]: f_k(x_i)
    std::vector<double> weight;        // h_ik f_i of the M-step, rows of weightStride(K)
    std::vector<double> product;       // scratch, one per class
    double invCases = 0.0;
    double cases = 0.0;
};

// Keeps a running probability inside [0, 1] after every step.
inline double clampUnit(double v) {
    if (v > 1.0) return 1.0;
    if (v < 0.0) return 0.0;
    return v;
}

// The response factors of every item and class from the item probabilities.
void setFactors(Cycle& c, const Estimates& est) {
    const std::size_t K = static_cast<std::size_t>(c.K);
    for (std::size_t j = 0; j < static_cast<std::size_t>(c.nitem); ++j) {
        for (std::size_t k = 0; k < K; ++k) {
            const double pi = est.pi[j * K + k];
            c.factor[(2 * j) * K + k] = 1.0 - pi;
            c.factor[(2 * j + 1) * K + k] = pi;
        }
    }
}

// Two doubles added in one instruction (a GCC and Clang vector type), loaded and stored through
// memcpy so that no alignment is assumed.
using DoublePair = double __attribute__((vector_size(16)));

// Rows of the M-step's weights: the classes, and a zero after an odd count, so that a row is
// read as whole pairs.
constexpr int weightStride(int K) {
    return K + (K & 1);
}

// The weights of the patterns listed in a (and in b) summed class by class into sa (and sb),
// each sum taking its terms in list order. Two lists at a time and two classes per
// instruction, so that independent chains of additions overlap (one chain per sum cannot be
// shortened without changing its digits).
template <int KC>
void sumRows(const double* w, int K, const int* a, int na, double* sa, const int* b, int nb,
             double* sb) {
    if constexpr (KC > 0) {
        constexpr int S = weightStride(KC), N = S / 2;
        DoublePair u[N], v[N];
        for (int n = 0; n < N; ++n) u[n] = v[n] = DoublePair{0.0, 0.0};
        auto add = [](DoublePair* acc, const double* row) {
            for (int n = 0; n < N; ++n) {
                DoublePair t;
                std::memcpy(&t, row + 2 * n, sizeof t);
                acc[n] += t;
            }
        };
        const int both = std::min(na, nb);
        for (int p = 0; p < both; ++p) {
            add(u, w + static_cast<std::size_t>(a[p]) * S);
            add(v, w + static_cast<std::size_t>(b[p]) * S);
        }
        for (int p = both; p < na; ++p) add(u, w + static_cast<std::size_t>(a[p]) * S);
        for (int p = both; p < nb; ++p) add(v, w + static_cast<std::size_t>(b[p]) * S);
        double x[S], y[S];
        std::memcpy(x, u, sizeof x);
        std::memcpy(y, v, sizeof y);
        for (int k = 0; k < KC; ++k) {
            sa[k] = x[k];
            sb[k] = y[k];
        }
    } else {
        const int S = weightStride(K);
        for (int k = 0; k < K; ++k) sa[k] = sb[k] = 0.0;
        for (int p = 0; p < na; ++p)
            for (int k = 0; k < K; ++k) sa[k] += w[static_cast<std::size_t>(a[p]) * S + k];
        for (int p = 0; p < nb; ++p)
            for (int k = 0; k < K; ++k) sb[k] += w[static_cast<std::size_t>(b[p]) * S + k];
    }
}

// M-step: class priors and item probabilities from the posteriors. Every sum receives its terms
// in pattern order: the priors in one pass over the patterns, then each item's sums over the
// patterns with a positive response to it.
template <int KC> void mstep(Cycle& c, const std::vector<double>& h, Estimates& est) {
    const int K = KC > 0 ? KC : c.K;
    double* eta = est.eta.data();
    double* sum = c.itemSum.data();
    double* w = c.weight.data();
    std::fill(est.eta.begin(), est.eta.end(), 0.0);
    for (int i = 0; i < c.npat; ++i) {
        const double* hi = h.data() + static_cast<std::size_t>(i) * K;
        double* wi = w + static_cast<std::size_t>(i) * weightStride(K);
        const double f = c.freq[i];
        for (int k = 0; k < K; ++k) wi[k] = hi[k] * f;
        for (int k = 0; k < K; ++k) eta[k] = clampUnit(eta[k] + wi[k] * c.invCases);
    }
    const int* start = c.positiveStart.data();
    const int* rows = c.positive.data();
    for (int j = 0; j < c.nitem; j += 2) {
        // An odd last item is summed twice, the second time into scratch.
        const int jb = j + 1 < c.nitem ? j + 1 : j;
        double* second = jb > j ? sum + static_cast<std::size_t>(jb) * K : c.product.data();
        sumRows<KC>(w, K, rows + start[j], start[j + 1] - start[j],
                    sum + static_cast<std::size_t>(j) * K, rows + start[jb],
                    start[jb + 1] - start[jb], second);
    }
    for (int j = 0; j < c.nitem; ++j) {
        for (int k = 0; k < K; ++k) {
            double& pi = est.pi[static_cast<std::size_t>(j) * K + k];
            pi = eta[k] > 0.0 ? sum[static_cast<std::size_t>(j) * K + k] / (eta[k] * c.cases) : 1.0;
            pi = clampUnit(pi);
        }
    }
    setFactors(c, est);
}

// Posteriors of pattern i from its class terms f[k] = ETA(k) f_k(x_i); returns the mixture
// probability. A zero mixture probability (estimates at exactly 0 or 1) would divide by zero
// and take the logarithm of 0; the floor leaves every positive value alone.
template <int KC> double posteriors(int K, const double* f, double* hi) {
    if constexpr (KC > 0) K = KC;
    double mixture = 0.0;
    for (int k = 0; k < K; ++k) mixture += f[k];
    if (!(mixture > 0.0)) mixture = std::numeric_limits<double>::min();
    for (int k = 0; k < K; ++k) hi[k] = f[k] / mixture;
    return mixture;
}

// One item's factors times a pattern's running products.
template <int KC>
inline void multiplyItem(double* __restrict f, const double* __restrict factor,
                         const std::uint8_t* x, int j, int K) {
    if constexpr (KC > 0) K = KC;
    const double* __restrict t = factor + (2 * static_cast<std::size_t>(j) + x[j]) * K;
    for (int k = 0; k < K; ++k) f[k] *= t[k];
}

// The products f_k(x) of every pattern, items in order, into classProducts. A pattern starts
// from the running products of the items it shares with the one before it in its half of the
// walk, and keeps in its stack those the one after it will share. Two patterns are multiplied
// out side by side, so that the processor overlaps their independent chains.
template <int KC> void classProducts(Cycle& c) {
    const int K = KC > 0 ? KC : c.K;
    const int J = c.nitem;
    const double* factor = c.factor.data();
    const std::size_t rows = static_cast<std::size_t>(J) + 1;
    double* stacks[2] = {c.prefix.data(), c.prefix.data() + rows * K};
    double localA[KC > 0 ? KC : 1], localB[KC > 0 ? KC : 1];
    double* f[2] = {KC > 0 ? localA : c.product.data(), KC > 0 ? localB : c.product.data() + K};
    const std::uint8_t* x[2] = {nullptr, nullptr};
    int item[2] = {0, 0}, pattern[2] = {0, 0};
    // From the kept row of the shared items, on through the items the next pattern shares,
    // keeping each row: the rest of the items follow without keeping.
    auto begin = [&](int w, int at) {
        pattern[w] = c.order[at];
        x[w] = c.x + static_cast<std::size_t>(pattern[w]) * J;
        item[w] = c.shared[at];
        double* stack = stacks[w];
        for (int k = 0; k < K; ++k) f[w][k] = stack[static_cast<std::size_t>(item[w]) * K + k];
        for (; item[w] < c.kept[at]; ++item[w]) {
            multiplyItem<KC>(f[w], factor, x[w], item[w], K);
            double* row = stack + (static_cast<std::size_t>(item[w]) + 1) * K;
            for (int k = 0; k < K; ++k) row[k] = f[w][k];
        }
    };
    auto finish = [&](int w) {
        for (; item[w] < J; ++item[w]) multiplyItem<KC>(f[w], factor, x[w], item[w], K);
        double* out = c.classProducts.data() + static_cast<std::size_t>(pattern[w]) * K;
        for (int k = 0; k < K; ++k) out[k] = f[w][k];
    };
    int a = 0, b = c.half;
    for (; a < c.half && b < c.npat; ++a, ++b) {
        begin(0, a);
        begin(1, b);
        double* __restrict fa = f[0];
        double* __restrict fb = f[1];
        for (; item[0] < J && item[1] < J; ++item[0], ++item[1]) {
            multiplyItem<KC>(fa, factor, x[0], item[0], K);
            multiplyItem<KC>(fb, factor, x[1], item[1], K);
        }
        finish(0);
        finish(1);
    }
    for (; a < c.half; ++a) { // the first half is the longer by one pattern at most
        begin(0, a);
        finish(0);
    }
}

// E-step and loglikelihood with the current estimates. Each pattern's mixture probability is
// formed once and serves both its posteriors and its loglikelihood term; the loglikelihood
// takes the patterns' terms in pattern order.
template <int KC> double estep(Cycle& c, const Estimates& est, std::vector<double>& h) {
    const int K = KC > 0 ? KC : c.K;
    const double* eta = est.eta.data();
    classProducts<KC>(c);
    double loglik = 0.0;
    double local[KC > 0 ? KC : 1];
    double* f = KC > 0 ? local : c.product.data();
    for (int i = 0; i < c.npat; ++i) {
        const double* p = c.classProducts.data() + static_cast<std::size_t>(i) * K;
        for (int k = 0; k < K; ++k) f[k] = eta[k] * p[k];
        const double m = posteriors<KC>(K, f, h.data() + static_cast<std::size_t>(i) * K);
        loglik += c.freq[i] * std::log(m);
    }
    return loglik;
}

using MStep = void (*)(Cycle&, const std::vector<double>&, Estimates&);
using EStep = double (*)(Cycle&, const Estimates&, std::vector<double>&);

// Class counts up to ten get loops the compiler unrolls completely.
template <int KC> void pick(int K, MStep& m, EStep& e) {
    if constexpr (KC == 0) {
        m = &mstep<0>;
        e = &estep<0>;
    } else if (K == KC) {
        m = &mstep<KC>;
        e = &estep<KC>;
    } else {
        pick<KC - 1>(K, m, e);
    }
}

} // namespace

namespace {

// The items two response rows agree on before they first differ.
int agreement(const std::uint8_t* a, const std::uint8_t* b, int J) {
    int j = 0;
    while (j < J && a[j] == b[j]) ++j;
    return j;
}

// The walk of classProducts: the patterns sorted by their responses, in two halves, and the
// running products' rows (row 0 of each stack all ones).
void prepareWalk(Cycle& c, const PatternTable& data) {
    const int J = data.nitem;
    const int npat = data.size();
    c.order.resize(static_cast<std::size_t>(npat));
    for (int i = 0; i < npat; ++i) c.order[i] = i;
    std::sort(c.order.begin(), c.order.end(), [&](int a, int b) {
        return std::lexicographical_compare(data.row(a), data.row(a) + J, data.row(b),
                                            data.row(b) + J);
    });
    c.half = (npat + 1) / 2;
    c.shared.assign(static_cast<std::size_t>(npat), 0);
    c.kept.assign(static_cast<std::size_t>(npat), 0);
    for (int p = 1; p < npat; ++p) {
        if (p == c.half) continue;
        c.shared[p] = c.kept[p - 1] = agreement(data.row(c.order[p - 1]), data.row(c.order[p]), J);
    }
    const std::size_t rows = static_cast<std::size_t>(J) + 1;
    c.prefix.assign(2 * rows * static_cast<std::size_t>(c.K), 0.0);
    for (int k = 0; k < c.K; ++k) c.prefix[k] = c.prefix[rows * c.K + k] = 1.0;
    c.classProducts.assign(static_cast<std::size_t>(npat) * c.K, 0.0);
}

} // namespace

struct EmCycles::Tables {
    Cycle c;
    MStep mStep = nullptr;
    EStep eStep = nullptr;
};

EmCycles::EmCycles(const PatternTable& data, int nclass, long long ncase)
    : tables_(std::make_unique<Tables>()) {
    const int K = nclass;
    const int npat = data.size();
    Cycle& c = tables_->c;
    c.npat = npat;
    c.nitem = data.nitem;
    c.K = K;
    c.x = data.x.data();
    c.freq.assign(data.freq.begin(), data.freq.end());
    c.positiveStart.assign(static_cast<std::size_t>(data.nitem) + 1, 0);
    for (int i = 0; i < npat; ++i) {
        const std::uint8_t* x = data.row(i);
        for (int j = 0; j < data.nitem; ++j) c.positiveStart[j + 1] += x[j];
    }
    for (int j = 0; j < data.nitem; ++j) c.positiveStart[j + 1] += c.positiveStart[j];
    c.positive.assign(static_cast<std::size_t>(c.positiveStart[data.nitem]), 0);
    std::vector<int> next(c.positiveStart.begin(), c.positiveStart.end() - 1);
    for (int i = 0; i < npat; ++i) {
        const std::uint8_t* x = data.row(i);
        for (int j = 0; j < data.nitem; ++j)
            if (x[j]) c.positive[next[j]++] = i;
    }
    c.factor.assign(2 * static_cast<std::size_t>(data.nitem) * K, 0.0);
    c.itemSum.assign(static_cast<std::size_t>(data.nitem) * K, 0.0);
    c.weight.assign(static_cast<std::size_t>(npat) * weightStride(K), 0.0);
    c.product.assign(2 * static_cast<std::size_t>(K), 0.0);
    prepareWalk(c, data);
    c.cases = static_cast<double>(ncase);
    c.invCases = 1.0 / c.cases;
    pick<10>(K, tables_->mStep, tables_->eStep);
}

EmCycles::~EmCycles() = default;

double EmCycles::expectation(const Estimates& est, std::vector<double>& h) {
    setFactors(tables_->c, est);
    return tables_->eStep(tables_->c, est, h);
}

void EmCycles::maximization(const std::vector<double>& h, Estimates& est) {
    tables_->mStep(tables_->c, h, est);
}

double EmCycles::cycle(Estimates& est, std::vector<double>& h) {
    tables_->mStep(tables_->c, h, est);
    return tables_->eStep(tables_->c, est, h);
}

bool iterateEm(EmCycles& cycles, Estimates& est, std::vector<double>& h, EmProgress& progress,
               double tol, int lastCounter, const CycleCallback& onCycle) {
    while (progress.change > tol) {
        if (progress.counter > lastCounter) return false;
        const double next = cycles.cycle(est, h);
        progress.change = std::fabs(next - progress.loglik);
        progress.loglik = next;
        if (onCycle) onCycle(progress.counter, next);
        ++progress.counter;
    }
    return true;
}

ErrorCode checkEstimationInput(const PatternTable& data, int nclass, long long ncase) {
    if (ncase <= 0) return ErrorCode::BadSampleSize;
    long long total = 0;
    for (int f : data.freq) total += f;
    if (total != ncase) return ErrorCode::FrequencyMismatch;
    if (nclass > data.nitem) return ErrorCode::TooManyClasses;
    return ErrorCode::None;
}

// Starting classes in bands of the score: with w = (NITEM + 1) / NCLASS (integer division),
// a pattern starts in the smallest class k with score <= k * w, or in none when the score is
// higher than NCLASS * w.
void startBands(const PatternTable& data, int K, Posteriors& post) {
    const long long width = (static_cast<long long>(data.nitem) + 1) / K;
    for (int i = 0; i < data.size(); ++i) {
        const std::uint8_t* x = data.row(i);
        int score = 0;
        for (int j = 0; j < data.nitem; ++j) score += x[j];
        post.iscore[i] = score;
        int start = 0;
        for (int k = 1; k <= K; ++k) {
            if (score <= k * width) { // k * width stays within long long
                start = k;
                break;
            }
        }
        post.iclass[i] = start;
        if (start > 0) post.h[static_cast<std::size_t>(i) * K + (start - 1)] = 1.0;
    }
}

ErrorCode startEstimation(const PatternTable& data, int nclass, long long ncase, Estimates& est,
                          Posteriors& post) {
    est.resize(0, 0);
    post = Posteriors{};
    const ErrorCode error = checkEstimationInput(data, nclass, ncase);
    if (error != ErrorCode::None) return error;
    const int K = nclass;
    const int npat = data.size();
    est.resize(data.nitem, K);
    post.nclass = K;
    post.h.assign(static_cast<std::size_t>(npat) * K, 0.0);
    post.iclass.assign(static_cast<std::size_t>(npat), 0);
    post.iscore.assign(static_cast<std::size_t>(npat), 0);
    startBands(data, K, post);
    return ErrorCode::None;
}

EmResult estimateFromBandStart(const PatternTable& data, int nclass, long long ncase, double tol,
                               int maxit, Estimates& est, Posteriors& post,
                               const CycleCallback& onCycle) {
    EmResult result;
    result.iterations = maxit;
    result.error = startEstimation(data, nclass, ncase, est, post);
    if (result.error != ErrorCode::None) return result;

    EmCycles cycles(data, nclass, ncase);
    EmProgress progress;
    if (!iterateEm(cycles, est, post.h, progress, tol, maxit, onCycle))
        result.error = ErrorCode::IterationCap;
    result.iterations = progress.counter;
    result.loglik = progress.loglik;
    result.change = progress.change;
    return result;
}

double expectedFrequency(const std::uint8_t* x, const Estimates& est, long long ncase) {
    double p = 0.0;
    for (int k = 0; k < est.nclass; ++k) {
        double f = 1.0;
        for (int j = 0; j < est.nitem; ++j) f *= x[j] ? est.PI(j, k) : 1.0 - est.PI(j, k);
        p += est.eta[k] * f;
    }
    return p * static_cast<double>(ncase);
}

} // namespace ploven
