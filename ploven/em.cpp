#include "ploven/em.hpp"

#include <algorithm>
#include <cmath>
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
    std::vector<double> freq;  // frequencies as reals
    std::vector<int> posStart; // positive items of pattern i: posItem[posStart[i] .. posStart[i+1])
    std::vector<int> posItem;
    std::vector<double>
        factor; // factor[(2j + x) * K + k]: 1 - PI(j,k) for x = 0, PI(j,k) for x = 1
    std::vector<double> itemSum; // itemSum[j * K + k]
    std::vector<double> weight;  // scratch, one per class
    std::vector<double> product; // scratch, one per class
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

// M-step: class priors and item probabilities from the posteriors, one pass over the patterns.
// Each sum still receives its terms in pattern order.
template <int KC> void mstep(Cycle& c, const std::vector<double>& h, Estimates& est) {
    const int K = KC > 0 ? KC : c.K;
    double local[KC > 0 ? KC : 1];
    double* w = KC > 0 ? local : c.weight.data();
    double* eta = est.eta.data();
    double* sum = c.itemSum.data();
    std::fill(est.eta.begin(), est.eta.end(), 0.0);
    std::fill(c.itemSum.begin(), c.itemSum.end(), 0.0);
    for (int i = 0; i < c.npat; ++i) {
        const double* hi = h.data() + static_cast<std::size_t>(i) * K;
        const double f = c.freq[i];
        for (int k = 0; k < K; ++k) w[k] = hi[k] * f;
        for (int k = 0; k < K; ++k) eta[k] = clampUnit(eta[k] + w[k] * c.invCases);
        for (int p = c.posStart[i]; p < c.posStart[i + 1]; ++p) {
            double* s = sum + static_cast<std::size_t>(c.posItem[p]) * K;
            for (int k = 0; k < K; ++k) s[k] += w[k];
        }
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

// E-step and loglikelihood with the current estimates. Each pattern's mixture probability is
// formed once and serves both its posteriors and its loglikelihood term. With a known class
// count two patterns are multiplied out side by side: their products are independent, so the
// processor overlaps them, and each still runs over the items in order.
template <int KC> double estep(Cycle& c, const Estimates& est, std::vector<double>& h) {
    const int K = KC > 0 ? KC : c.K;
    const double* eta = est.eta.data();
    const double* factor = c.factor.data();
    const std::size_t stride = static_cast<std::size_t>(c.nitem);
    double loglik = 0.0;
    int i = 0;
    if constexpr (KC > 0) {
        double f[KC], g[KC];
        for (; i + 1 < c.npat; i += 2) {
            const std::uint8_t* x = c.x + static_cast<std::size_t>(i) * stride;
            const std::uint8_t* y = x + stride;
            for (int k = 0; k < KC; ++k) f[k] = g[k] = 1.0;
            for (std::size_t j = 0; j < stride; ++j) {
                const double* tx = factor + (2 * j + x[j]) * KC;
                const double* ty = factor + (2 * j + y[j]) * KC;
                for (int k = 0; k < KC; ++k) {
                    f[k] *= tx[k];
                    g[k] *= ty[k];
                }
            }
            for (int k = 0; k < KC; ++k) {
                f[k] = eta[k] * f[k];
                g[k] = eta[k] * g[k];
            }
            const double mf = posteriors<KC>(KC, f, h.data() + static_cast<std::size_t>(i) * KC);
            const double mg =
                posteriors<KC>(KC, g, h.data() + static_cast<std::size_t>(i + 1) * KC);
            loglik += c.freq[i] * std::log(mf);
            loglik += c.freq[i + 1] * std::log(mg);
        }
    }
    double* f = c.product.data();
    for (; i < c.npat; ++i) {
        const std::uint8_t* x = c.x + static_cast<std::size_t>(i) * stride;
        for (int k = 0; k < K; ++k) f[k] = 1.0;
        for (std::size_t j = 0; j < stride; ++j) {
            const double* t = factor + (2 * j + x[j]) * K;
            for (int k = 0; k < K; ++k) f[k] *= t[k];
        }
        for (int k = 0; k < K; ++k) f[k] = eta[k] * f[k];
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
    c.posStart.assign(static_cast<std::size_t>(npat) + 1, 0);
    for (int i = 0; i < npat; ++i) {
        const std::uint8_t* x = data.row(i);
        for (int j = 0; j < data.nitem; ++j)
            if (x[j]) c.posItem.push_back(j);
        c.posStart[i + 1] = static_cast<int>(c.posItem.size());
    }
    c.factor.assign(2 * static_cast<std::size_t>(data.nitem) * K, 0.0);
    c.itemSum.assign(static_cast<std::size_t>(data.nitem) * K, 0.0);
    c.weight.assign(static_cast<std::size_t>(K), 0.0);
    c.product.assign(static_cast<std::size_t>(K), 0.0);
    c.cases = static_cast<double>(ncase);
    c.invCases = 1.0 / c.cases;
    pick<10>(K, tables_->mStep, tables_->eStep);
}

EmCycles::~EmCycles() = default;

double EmCycles::expectation(const Estimates& est, std::vector<double>& h) {
    setFactors(tables_->c, est);
    return tables_->eStep(tables_->c, est, h);
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

int checkEstimationInput(const PatternTable& data, int nclass, long long ncase) {
    if (ncase <= 0) return kBadSampleSize;
    long long total = 0;
    for (int f : data.freq) total += f;
    if (total != ncase) return kFrequencyMismatch;
    if (nclass > data.nitem) return kTooManyClasses;
    return kNoError;
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

EmResult emalg(const PatternTable& data, int nclass, long long ncase, double tol, int maxit,
               Estimates& est, Posteriors& post, const CycleCallback& onCycle) {
    EmResult result;
    result.iterations = maxit;
    est.resize(0, 0);
    post = Posteriors{};
    result.ierr = checkEstimationInput(data, nclass, ncase);
    if (result.ierr != kNoError) return result;

    const int K = nclass;
    const int npat = data.size();
    est.resize(data.nitem, K);
    post.nclass = K;
    post.h.assign(static_cast<std::size_t>(npat) * K, 0.0);
    post.iclass.assign(static_cast<std::size_t>(npat), 0);
    post.iscore.assign(static_cast<std::size_t>(npat), 0);
    startBands(data, K, post);

    EmCycles cycles(data, K, ncase);
    EmProgress progress;
    if (!iterateEm(cycles, est, post.h, progress, tol, maxit, onCycle)) result.ierr = kIterationCap;
    result.iterations = progress.counter;
    result.loglik = progress.loglik;
    result.change = progress.change;
    return result;
}

double exfrq(const std::uint8_t* x, const Estimates& est, long long ncase) {
    double p = 0.0;
    for (int k = 0; k < est.nclass; ++k) {
        double f = 1.0;
        for (int j = 0; j < est.nitem; ++j) f *= x[j] ? est.PI(j, k) : 1.0 - est.PI(j, k);
        p += est.eta[k] * f;
    }
    return p * static_cast<double>(ncase);
}

} // namespace ploven
