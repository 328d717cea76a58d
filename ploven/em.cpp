#include "ploven/em.hpp"

#include "numerics/parallel_blocks.hpp"
#include "ploven/derivatives.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace ploven {

namespace {

// What one worker of the parallel loops holds: the running products of its part of the walk,
// and the partial sums of its current block.
struct Worker {
    std::vector<double> prefix;  // two stacks of nitem + 1 rows of K running products
    std::vector<double> product; // scratch, two per class
    std::vector<double> eta;     // the block's share of the priors, per class
    std::vector<double> items;   // the block's sums of weights per item and class, [j * K + k]
    double loglik = 0.0;         // the block's loglikelihood terms
};

// Everything a cycle reads, laid out so the inner loops run over the classes of one item or
// one pattern in contiguous memory.
struct Cycle {
    int npat = 0;
    int nitem = 0;
    int K = 0;
    const std::uint8_t* x = nullptr;
    std::vector<double> freq; // frequencies as reals
    std::vector<double>
        factor; // factor[(2j + x) * K + k]: 1 - PI(j,k) for x = 0, PI(j,k) for x = 1
    std::vector<double> itemSum; // itemSum[j * K + k]
    // The items each pattern answers with 1: pattern i's are
    // positiveItems[positiveFrom[i] .. positiveFrom[i + 1]).
    std::vector<int> positiveItems;
    std::vector<std::size_t> positiveFrom;
    // The E-step's products, with the items in order, share their beginnings between patterns:
    // the patterns are taken in lexicographic order of their responses, cut into stretches of
    // blockPatterns walk positions, each walked in two halves side by side. At walk position p,
    // shared[p] items agree with the pattern before it in its half (0 at a half's start) and
    // kept[p] with the one after it (0 at a half's end). The products do not depend on the
    // walk: each is formed from 1 with the items in order.
    std::vector<int> order;
    std::vector<int> shared, kept;
    PatternLoops loops;
    int threads = 1;
    std::vector<Worker> workers;
    double invCases = 0.0;
    double cases = 0.0;
};

// The first walk position of the second half of the stretch [begin, end).
inline std::size_t halfOf(std::size_t begin, std::size_t end) {
    return begin + (end - begin + 1) / 2;
}

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

// M-step: class priors and item probabilities from the posteriors. Within a block every sum
// takes its terms in pattern order (a prior's running share kept inside [0, 1] after every
// term); the blocks' sums are added in block order. An item's sums take the terms of the
// patterns that answer it with 1 (a negative response would add a zero, which leaves them as
// they are), from each pattern's list of such items, with no branch for the data to mispredict.
template <int KC> void mstep(Cycle& c, const std::vector<double>& h, Estimates& est) {
    const int K = KC > 0 ? KC : c.K;
    const int J = c.nitem;
    double* eta = est.eta.data();
    double* sum = c.itemSum.data();
    std::fill(est.eta.begin(), est.eta.end(), 0.0);
    std::fill(c.itemSum.begin(), c.itemSum.end(), 0.0);
    const auto blockSize = static_cast<std::size_t>(c.loops.blockPatterns);
    numerics::forEachBlock(
        static_cast<std::size_t>(c.npat), blockSize, c.threads,
        [&](int worker, const numerics::Block& block) {
            Worker& w = c.workers[static_cast<std::size_t>(worker)];
            double* share = w.eta.data();
            double* items = w.items.data();
            std::fill(w.eta.begin(), w.eta.end(), 0.0);
            std::fill(w.items.begin(), w.items.end(), 0.0);
            double local[KC > 0 ? KC : 1];
            double* wi = KC > 0 ? local : w.product.data();
            for (std::size_t i = block.begin; i < block.end; ++i) {
                const double* hi = h.data() + i * static_cast<std::size_t>(K);
                const double f = c.freq[i];
                for (int k = 0; k < K; ++k) wi[k] = hi[k] * f;
                for (int k = 0; k < K; ++k) share[k] = clampUnit(share[k] + wi[k] * c.invCases);
                for (std::size_t at = c.positiveFrom[i]; at < c.positiveFrom[i + 1]; ++at) {
                    double* s = items + static_cast<std::size_t>(c.positiveItems[at]) * K;
                    for (int k = 0; k < K; ++k) s[k] += wi[k];
                }
            }
        },
        [&](int worker, const numerics::Block&) {
            const Worker& w = c.workers[static_cast<std::size_t>(worker)];
            for (int k = 0; k < K; ++k) eta[k] = clampUnit(eta[k] + w.eta[k]);
            for (std::size_t t = 0; t < w.items.size(); ++t) sum[t] += w.items[t];
        });
    for (int j = 0; j < J; ++j) {
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

// The products f_k(x) of the patterns at walk positions [from, to), items in order, into their
// rows of out. A pattern starts from the running products of the items it shares with the one
// before it in its half of the stretch, and keeps in its stack those the one after it will
// share. Two patterns are multiplied out side by side, so that the processor overlaps their
// independent chains.
template <int KC>
void classProducts(const Cycle& c, Worker& wk, std::size_t from, std::size_t to, double* out) {
    const int K = KC > 0 ? KC : c.K;
    const int J = c.nitem;
    const double* factor = c.factor.data();
    const std::size_t rows = static_cast<std::size_t>(J) + 1;
    double* stacks[2] = {wk.prefix.data(), wk.prefix.data() + rows * K};
    double localA[KC > 0 ? KC : 1], localB[KC > 0 ? KC : 1];
    double* f[2] = {KC > 0 ? localA : wk.product.data(), KC > 0 ? localB : wk.product.data() + K};
    const std::uint8_t* x[2] = {nullptr, nullptr};
    int item[2] = {0, 0}, pattern[2] = {0, 0};
    // From the kept row of the shared items, on through the items the next pattern shares,
    // keeping each row: the rest of the items follow without keeping.
    auto begin = [&](int w, std::size_t at) {
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
        double* row = out + static_cast<std::size_t>(pattern[w]) * K;
        for (int k = 0; k < K; ++k) row[k] = f[w][k];
    };
    const std::size_t half = halfOf(from, to);
    std::size_t a = from, b = half;
    for (; a < half && b < to; ++a, ++b) {
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
    for (; a < half; ++a) { // the first half is the longer by one pattern at most
        begin(0, a);
        finish(0);
    }
}

// E-step and loglikelihood with the current estimates: the class products of every pattern
// into its row of h, then, block by block in pattern order, each pattern's mixture probability,
// which serves both its posteriors (in place of its products) and its loglikelihood term. The
// loglikelihood takes the terms of a block in pattern order and the blocks in block order.
template <int KC> double estep(Cycle& c, const Estimates& est, std::vector<double>& h) {
    const int K = KC > 0 ? KC : c.K;
    const double* eta = est.eta.data();
    const auto npat = static_cast<std::size_t>(c.npat);
    const auto blockSize = static_cast<std::size_t>(c.loops.blockPatterns);
    numerics::forEachBlock(
        npat, blockSize, c.threads,
        [&](int worker, const numerics::Block& block) {
            classProducts<KC>(c, c.workers[static_cast<std::size_t>(worker)], block.begin,
                              block.end, h.data());
        },
        [](int, const numerics::Block&) {});
    double loglik = 0.0;
    numerics::forEachBlock(
        npat, blockSize, c.threads,
        [&](int worker, const numerics::Block& block) {
            Worker& w = c.workers[static_cast<std::size_t>(worker)];
            double local[KC > 0 ? KC : 1];
            double* f = KC > 0 ? local : w.product.data();
            double sum = 0.0;
            for (std::size_t i = block.begin; i < block.end; ++i) {
                double* hi = h.data() + i * static_cast<std::size_t>(K);
                for (int k = 0; k < K; ++k) f[k] = eta[k] * hi[k];
                const double m = posteriors<KC>(K, f, hi);
                sum += c.freq[i] * std::log(m);
            }
            w.loglik = sum;
        },
        [&](int worker, const numerics::Block&) {
            loglik += c.workers[static_cast<std::size_t>(worker)].loglik;
        });
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

// The walk of classProducts: the patterns sorted by their responses, cut into stretches of
// blockPatterns positions and each stretch into two halves.
void prepareWalk(Cycle& c, const PatternTable& data) {
    const int J = data.nitem;
    const std::size_t npat = static_cast<std::size_t>(data.size());
    c.order.resize(npat);
    for (std::size_t i = 0; i < npat; ++i) c.order[i] = static_cast<int>(i);
    std::sort(c.order.begin(), c.order.end(), [&](int a, int b) {
        return std::lexicographical_compare(data.row(a), data.row(a) + J, data.row(b),
                                            data.row(b) + J);
    });
    c.shared.assign(npat, 0);
    c.kept.assign(npat, 0);
    const auto stretch = static_cast<std::size_t>(c.loops.blockPatterns);
    for (std::size_t p = 1; p < npat; ++p) {
        const std::size_t from = p - p % stretch;
        if (p == from || p == halfOf(from, std::min(npat, from + stretch))) continue;
        c.shared[p] = c.kept[p - 1] = agreement(data.row(c.order[p - 1]), data.row(c.order[p]), J);
    }
}

// Every worker's scratch: its two stacks (row 0 of each all ones) and its block sums.
void prepareWorkers(Cycle& c) {
    const auto K = static_cast<std::size_t>(c.K);
    const std::size_t rows = static_cast<std::size_t>(c.nitem) + 1;
    const int count =
        numerics::workersFor(static_cast<std::size_t>(c.npat),
                             static_cast<std::size_t>(c.loops.blockPatterns), c.threads);
    c.workers.resize(static_cast<std::size_t>(count));
    for (Worker& w : c.workers) {
        w.prefix.assign(2 * rows * K, 0.0);
        for (std::size_t k = 0; k < K; ++k) w.prefix[k] = w.prefix[rows * K + k] = 1.0;
        w.product.assign(2 * K, 0.0);
        w.eta.assign(K, 0.0);
        w.items.assign(static_cast<std::size_t>(c.nitem) * K, 0.0);
    }
}

} // namespace

struct EmCycles::Tables {
    Cycle c;
    MStep mStep = nullptr;
    EStep eStep = nullptr;
};

EmCycles::EmCycles(const PatternTable& data, int nclass, long long ncase, const PatternLoops& loops)
    : tables_(std::make_unique<Tables>()) {
    const int K = nclass;
    Cycle& c = tables_->c;
    c.npat = data.size();
    c.nitem = data.nitem;
    c.K = K;
    c.x = data.x.data();
    c.freq.assign(data.freq.begin(), data.freq.end());
    c.factor.assign(2 * static_cast<std::size_t>(data.nitem) * K, 0.0);
    c.itemSum.assign(static_cast<std::size_t>(data.nitem) * K, 0.0);
    c.positiveFrom.assign(static_cast<std::size_t>(c.npat) + 1, 0);
    for (int i = 0; i < c.npat; ++i) {
        const std::uint8_t* x = data.row(i);
        for (int j = 0; j < data.nitem; ++j)
            if (x[j] != 0) c.positiveItems.push_back(j);
        c.positiveFrom[static_cast<std::size_t>(i) + 1] = c.positiveItems.size();
    }
    c.loops = loops;
    c.loops.blockPatterns = std::max(1, loops.blockPatterns);
    c.threads = numerics::threadsFor(loops.threads);
    prepareWalk(c, data);
    prepareWorkers(c);
    c.cases = static_cast<double>(ncase);
    c.invCases = 1.0 / c.cases;
    pick<10>(K, tables_->mStep, tables_->eStep);
}

EmCycles::~EmCycles() = default;

const PatternLoops& EmCycles::loops() const {
    return tables_->c.loops;
}

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

fixedio::Footprint fitFootprint(long long npat, int nitem, int nclass, int threads) {
    const double J = nitem, K = nclass;
    const double parameters = static_cast<double>(modelParameters(nitem, nclass));
    fixedio::Footprint f;
    f.cases = static_cast<double>(npat);
    // Responses and frequency; the cycle's frequency, walk and lists of positive items; five
    // tables of posteriors with starting classes and scores.
    f.bytesPerCase = J + sizeof(int) + sizeof(double) + 3 * sizeof(int) + J * sizeof(int) +
                     sizeof(std::size_t) + 5 * K * sizeof(double) + 2 * sizeof(int);
    const PatternLoops loops;
    f.workers = numerics::workersFor(static_cast<std::size_t>(std::max<long long>(npat, 1)),
                                     static_cast<std::size_t>(loops.blockPatterns),
                                     numerics::threadsFor(threads));
    // Running products and block sums of the cycle, and a block of the information matrix with
    // its weights.
    f.bytesPerWorker = sizeof(double) * (2 * (J + 1) * K + (J + 3) * K + parameters * parameters +
                                         (2 * K + 2) * J * K);
    f.shared = derivativesBytes(nitem, nclass, static_cast<int>(f.workers));
    return f;
}

double sampleFitBytes(long long ncase, int nitem, int nclass) {
    return fitFootprint(ncase, nitem, nclass, 1).bytes();
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
