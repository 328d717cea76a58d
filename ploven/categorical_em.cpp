#include "ploven/categorical_em.hpp"

#include "numerics/parallel_blocks.hpp"
#include "numerics/squarem.hpp"
#include "ploven/multistart.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>

namespace ploven {

namespace {

constexpr double kReplicated = 1.0e-4;

} // namespace

CategoricalEm::CategoricalEm(const CategoricalData& data, int nclass, const PatternLoops& loops)
    : data_(data), K_(nclass), loops_(loops) {
    rowStart_.assign(static_cast<std::size_t>(data.nitem) + 1, 0);
    for (std::size_t j = 0; j < static_cast<std::size_t>(data.nitem); ++j)
        rowStart_[j + 1] = rowStart_[j] + static_cast<std::size_t>(data.categories[j]) + 1;
    table_.assign(rowStart_.back() * static_cast<std::size_t>(K_), 0.0);
    cases_ = static_cast<double>(data.cases());
    loops_.blockPatterns = std::max(1, loops.blockPatterns);
    threads_ = numerics::threadsFor(loops.threads);
    workers_.resize(static_cast<std::size_t>(
        numerics::workersFor(static_cast<std::size_t>(std::max(data.size(), 1)),
                             static_cast<std::size_t>(loops_.blockPatterns), threads_)));
    for (Worker& w : workers_) {
        w.table.assign(table_.size(), 0.0);
        w.eta.assign(static_cast<std::size_t>(K_), 0.0);
    }
}

namespace {

// Below this a pattern's mixture probability is recomputed from logarithms: the products of
// many small probabilities would lose digits or vanish.
constexpr double kProductFloor = 1.0e-250;

// Posteriors of a block's patterns and their loglikelihood from the probability table (row
// rowStart[j] + code of item j; the rows of a missing answer hold ones). Class counts up to ten
// get loops the compiler unrolls.
template <int KC>
double estep(const CategoricalData& data, int Kdyn, const std::vector<std::size_t>& rowStart,
             const double* table, const double* eta, double* h, const numerics::Block& block) {
    const std::size_t K = static_cast<std::size_t>(KC > 0 ? KC : Kdyn);
    const int J = data.nitem;
    double local[KC > 0 ? KC : 1];
    std::vector<double> dynamic(KC > 0 ? 0 : K);
    double* f = KC > 0 ? local : dynamic.data();
    double loglik = 0.0;
    for (int i = static_cast<int>(block.begin); i < static_cast<int>(block.end); ++i) {
        const std::uint8_t* x = data.row(i);
        for (std::size_t k = 0; k < K; ++k) f[k] = eta[k];
        for (int j = 0; j < J; ++j) {
            const double* row = table + (rowStart[static_cast<std::size_t>(j)] + x[j]) * K;
            for (std::size_t k = 0; k < K; ++k) f[k] *= row[k];
        }
        double sum = 0.0;
        for (std::size_t k = 0; k < K; ++k) sum += f[k];
        double* hi = h + static_cast<std::size_t>(i) * K;
        if (sum > kProductFloor) {
            for (std::size_t k = 0; k < K; ++k) hi[k] = f[k] / sum;
            loglik += data.freq[static_cast<std::size_t>(i)] * std::log(sum);
            continue;
        }
        // In logarithms, less the largest class term.
        const double floorLog = std::log(std::numeric_limits<double>::min());
        for (std::size_t k = 0; k < K; ++k) {
            f[k] = eta[k] > 0.0 ? std::log(eta[k]) : -std::numeric_limits<double>::infinity();
            for (int j = 0; j < J; ++j) {
                const double p = table[(rowStart[static_cast<std::size_t>(j)] + x[j]) * K + k];
                f[k] += p > 0.0 ? std::max(std::log(p), floorLog) : floorLog;
            }
        }
        const double top = *std::max_element(f, f + K);
        double scaled = 0.0;
        for (std::size_t k = 0; k < K; ++k) scaled += hi[k] = std::exp(f[k] - top);
        for (std::size_t k = 0; k < K; ++k) hi[k] /= scaled;
        loglik += data.freq[static_cast<std::size_t>(i)] * (std::log(scaled) + top);
    }
    return loglik;
}

// instance.template operator()<KC>() for KC = K when K is at most Most (a kernel unrolled for
// that class count), else for KC = 0 (the kernel for any count).
template <int Most, class Instance> auto forClassCount(int K, Instance instance) {
    if constexpr (Most == 0) {
        return instance.template operator()<0>();
    } else {
        if (K == Most) return instance.template operator()<Most>();
        return forClassCount<Most - 1>(K, instance);
    }
}

constexpr int kMostUnrolledClasses = 10;

} // namespace

double CategoricalEm::expectation(const CategoricalEstimates& est, std::vector<double>& h) {
    const std::size_t K = static_cast<std::size_t>(K_);
    for (int j = 0; j < data_.nitem; ++j) {
        std::fill_n(table_.data() + rowStart_[static_cast<std::size_t>(j)] * K, K, 1.0);
        for (int c = 0; c < est.categories[j]; ++c) {
            double* row =
                table_.data() +
                (rowStart_[static_cast<std::size_t>(j)] + static_cast<std::size_t>(c) + 1) * K;
            for (std::size_t k = 0; k < K; ++k) row[k] = est.P(j, static_cast<int>(k), c);
        }
    }
    h.resize(static_cast<std::size_t>(data_.size()) * K);
    const auto kernel =
        forClassCount<kMostUnrolledClasses>(K_, []<int KC>() { return &estep<KC>; });
    double loglik = 0.0;
    numerics::forEachBlock(
        static_cast<std::size_t>(data_.size()), static_cast<std::size_t>(loops_.blockPatterns),
        threads_,
        [&](int worker, const numerics::Block& block) {
            workers_[static_cast<std::size_t>(worker)].loglik =
                kernel(data_, K_, rowStart_, table_.data(), est.eta.data(), h.data(), block);
        },
        [&](int worker, const numerics::Block&) {
            loglik += workers_[static_cast<std::size_t>(worker)].loglik;
        });
    return loglik;
}

namespace {

// The M-step's sums over a block's patterns: row rowStart[j] + code of item j gathers the
// weights n(x) h_k(x) of the patterns with that answer; eta the weights' totals.
template <int KC>
void msums(const CategoricalData& data, int Kdyn, const std::vector<std::size_t>& rowStart,
           const double* h, double* table, double* eta, const numerics::Block& block) {
    const std::size_t K = static_cast<std::size_t>(KC > 0 ? KC : Kdyn);
    double local[KC > 0 ? KC : 1];
    std::vector<double> dynamic(KC > 0 ? 0 : K);
    double* w = KC > 0 ? local : dynamic.data();
    for (int i = static_cast<int>(block.begin); i < static_cast<int>(block.end); ++i) {
        const std::uint8_t* x = data.row(i);
        const double f = data.freq[static_cast<std::size_t>(i)];
        const double* hi = h + static_cast<std::size_t>(i) * K;
        for (std::size_t k = 0; k < K; ++k) {
            w[k] = f * hi[k];
            eta[k] += w[k];
        }
        for (int j = 0; j < data.nitem; ++j) {
            double* row = table + (rowStart[static_cast<std::size_t>(j)] + x[j]) * K;
            for (std::size_t k = 0; k < K; ++k) row[k] += w[k];
        }
    }
}

} // namespace

void CategoricalEm::maximization(const std::vector<double>& h, CategoricalEstimates& est) {
    const std::size_t K = static_cast<std::size_t>(K_);
    const int J = data_.nitem;
    std::fill(table_.begin(), table_.end(), 0.0);
    std::fill(est.eta.begin(), est.eta.end(), 0.0);
    const auto kernel =
        forClassCount<kMostUnrolledClasses>(K_, []<int KC>() { return &msums<KC>; });
    numerics::forEachBlock(
        static_cast<std::size_t>(data_.size()), static_cast<std::size_t>(loops_.blockPatterns),
        threads_,
        [&](int worker, const numerics::Block& block) {
            Worker& w = workers_[static_cast<std::size_t>(worker)];
            std::fill(w.table.begin(), w.table.end(), 0.0);
            std::fill(w.eta.begin(), w.eta.end(), 0.0);
            kernel(data_, K_, rowStart_, h.data(), w.table.data(), w.eta.data(), block);
        },
        [&](int worker, const numerics::Block&) {
            const Worker& w = workers_[static_cast<std::size_t>(worker)];
            for (std::size_t t = 0; t < table_.size(); ++t) table_[t] += w.table[t];
            for (std::size_t k = 0; k < K; ++k) est.eta[k] += w.eta[k];
        });
    for (std::size_t k = 0; k < K; ++k) est.eta[k] /= cases_;
    for (int j = 0; j < J; ++j) {
        const int C = est.categories[j];
        for (std::size_t k = 0; k < K; ++k) {
            double answered = 0.0;
            for (int c = 1; c <= C; ++c)
                answered += table_[(rowStart_[j] + static_cast<std::size_t>(c)) * K + k];
            for (int c = 1; c <= C; ++c) {
                const double n = table_[(rowStart_[j] + static_cast<std::size_t>(c)) * K + k];
                est.P(j, static_cast<int>(k), c - 1) = answered > 0.0 ? n / answered : 1.0 / C;
            }
        }
    }
}

namespace {

// The categorical EM cycle as the accelerator sees it, working on est and its E-step h, which
// hold the point evaluated last. Coordinates: the logarithms of the priors and of the category
// probabilities; a point is read back normalized (the priors, and each item's probabilities in
// a class, to a sum of 1), so every extrapolated point is a model. A value at 0, which EM never
// moves, is held at 0 with its coordinate at the iteration's first value.
class CategoricalMapping : public numerics::EstimatesEmMap<CategoricalEstimates> {
  public:
    CategoricalMapping(CategoricalEm& em, CategoricalEstimates& est, std::vector<double>& h)
        : EstimatesEmMap(est, h), em_(em) {}

    // Coordinates around the current point; returns its coordinates.
    Eigen::VectorXd begin() {
        held_.assign(est_.eta.size() + est_.p.size(), 0);
        anchor_ = coordinatesOf(est_, nullptr);
        updated_.resize(0);
        return anchor_;
    }
    double evaluate(const Eigen::VectorXd& theta) override {
        if (isUpdated(theta))
            est_ = updatedEst_;
        else
            estimatesAt(theta, est_);
        return em_.expectation(est_, h_);
    }
    Eigen::VectorXd update() override {
        em_.maximization(h_, updatedEst_);
        updated_ = coordinatesOf(updatedEst_, &anchor_);
        return updated_;
    }

  private:
    // The priors, then the probabilities in the order of est.p; a value at 0 is held from now
    // on, its coordinate the anchor's.
    Eigen::VectorXd coordinatesOf(const CategoricalEstimates& e, const Eigen::VectorXd* anchor) {
        const std::size_t K = e.eta.size();
        Eigen::VectorXd t(static_cast<Eigen::Index>(K + e.p.size()));
        for (std::size_t i = 0; i < held_.size(); ++i) {
            const double v = i < K ? e.eta[i] : e.p[i - K];
            const auto at = static_cast<Eigen::Index>(i);
            if (!(v > 0.0)) held_[i] = 1;
            t[at] = held_[i] ? (anchor ? (*anchor)[at] : 0.0) : std::log(v);
        }
        return t;
    }
    // exp(t_i - largest) over the values of one sum, normalized; held values stay 0.
    void normalized(const Eigen::VectorXd& t, std::size_t from, std::size_t count,
                    double* out) const {
        double top = -std::numeric_limits<double>::infinity();
        for (std::size_t i = from; i < from + count; ++i)
            if (!held_[i]) top = std::max(top, t[static_cast<Eigen::Index>(i)]);
        double sum = 0.0;
        for (std::size_t i = from; i < from + count; ++i) {
            const double v = held_[i] ? 0.0 : std::exp(t[static_cast<Eigen::Index>(i)] - top);
            out[i - from] = v;
            sum += v;
        }
        for (std::size_t i = 0; i < count; ++i) out[i] /= sum;
    }
    void estimatesAt(const Eigen::VectorXd& t, CategoricalEstimates& e) const {
        const std::size_t K = e.eta.size();
        normalized(t, 0, K, e.eta.data());
        for (int j = 0; j < e.nitem; ++j) {
            const std::size_t C = static_cast<std::size_t>(e.categories[j]);
            for (std::size_t k = 0; k < K; ++k) {
                const std::size_t first = e.index(j, static_cast<int>(k), 0);
                normalized(t, K + first, C, e.p.data() + first);
            }
        }
    }

    CategoricalEm& em_;
    std::vector<char> held_;
    Eigen::VectorXd anchor_; // the coordinates of the iteration's first point
};

} // namespace

void iterateCategorical(CategoricalEm& em, CategoricalEstimates& est, std::vector<double>& h,
                        CategoricalRun& run, double tol, int maxCycles,
                        const std::function<void(int cycles, double loglik)>& onCycle,
                        bool accelerate) {
    std::optional<CategoricalMapping> map;
    if (accelerate) map.emplace(em, est, h);
    numerics::SquaremStep bound;
    while (run.cycles < maxCycles) {
        double next = 0.0;
        if (map) {
            const numerics::SquaremResult r = numerics::squaremIterationWithin(
                *map, map->begin(), run.loglik, bound, maxCycles - run.cycles);
            next = r.loglik;
            run.cycles += r.evaluations;
        } else {
            em.maximization(h, est);
            next = em.expectation(est, h);
            ++run.cycles;
        }
        if (onCycle) onCycle(run.cycles, next);
        const double change = std::fabs(next - run.loglik);
        run.loglik = next;
        if (change <= tol) {
            run.converged = true;
            return;
        }
    }
}

std::vector<double> bandPosteriors(const CategoricalData& data, int nclass) {
    const int n = data.size();
    std::vector<double> score(static_cast<std::size_t>(n), 0.0);
    for (int i = 0; i < n; ++i) {
        const std::uint8_t* x = data.row(i);
        double sum = 0.0;
        int answered = 0;
        for (int j = 0; j < data.nitem; ++j) {
            if (x[j] == 0) continue;
            sum += static_cast<double>(x[j] - 1) / (data.categories[j] - 1);
            ++answered;
        }
        score[static_cast<std::size_t>(i)] = answered > 0 ? sum / answered : 0.0;
    }
    std::vector<int> order(static_cast<std::size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return score[static_cast<std::size_t>(a)] < score[static_cast<std::size_t>(b)];
    });
    const double total = static_cast<double>(data.cases());
    std::vector<double> h(static_cast<std::size_t>(n) * static_cast<std::size_t>(nclass), 0.0);
    double before = 0.0;
    for (int i : order) {
        const int band = std::min(nclass - 1, static_cast<int>(before * nclass / total));
        h[static_cast<std::size_t>(i) * static_cast<std::size_t>(nclass) +
          static_cast<std::size_t>(band)] = 1.0;
        before += data.freq[static_cast<std::size_t>(i)];
    }
    return h;
}

void drawCategoricalStart(std::mt19937_64& generator, CategoricalEstimates& est) {
    for (int j = 0; j < est.nitem; ++j) {
        const int C = est.categories[j];
        for (int k = 0; k < est.nclass; ++k) {
            double sum = 0.0;
            for (int c = 0; c < C; ++c) {
                est.P(j, k, c) = 0.15 + 0.7 * unitInterval(generator());
                sum += est.P(j, k, c);
            }
            for (int c = 0; c < C; ++c) est.P(j, k, c) /= sum;
        }
    }
    std::fill(est.eta.begin(), est.eta.end(), 1.0 / est.nclass);
}

void orderCategoricalClasses(CategoricalEstimates& est, std::vector<double>& h) {
    const int K = est.nclass;
    std::vector<double> level(static_cast<std::size_t>(K), 0.0);
    for (int k = 0; k < K; ++k)
        for (int j = 0; j < est.nitem; ++j) {
            const int C = est.categories[j];
            for (int c = 1; c < C; ++c)
                level[static_cast<std::size_t>(k)] += est.P(j, k, c) * c / (C - 1);
        }
    std::vector<int> order(static_cast<std::size_t>(K));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return level[static_cast<std::size_t>(a)] < level[static_cast<std::size_t>(b)];
    });
    const CategoricalEstimates old = est;
    for (int k = 0; k < K; ++k) {
        const int from = order[static_cast<std::size_t>(k)];
        est.eta[static_cast<std::size_t>(k)] = old.eta[static_cast<std::size_t>(from)];
        for (int j = 0; j < est.nitem; ++j)
            for (int c = 0; c < est.categories[j]; ++c) est.P(j, k, c) = old.P(j, from, c);
    }
    const std::size_t Ks = static_cast<std::size_t>(K);
    std::vector<double> row(Ks);
    for (std::size_t i = 0; i + Ks <= h.size(); i += Ks) {
        for (std::size_t k = 0; k < Ks; ++k) row[k] = h[i + static_cast<std::size_t>(order[k])];
        std::copy(row.begin(), row.end(), h.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

namespace {

struct Candidate {
    CategoricalEstimates est;
    std::vector<double> h;
    CategoricalRun run;
};

} // namespace

CategoricalFit fitCategorical(const CategoricalData& data, int nclass, double tol, int maxCycles,
                              const CategoricalStarts& options) {
    CategoricalEm em(data, nclass, options.loops);
    std::vector<Candidate> finals;
    const int starts = nclass > 1 ? options.starts : 0;
    const int runs = 1 + starts + std::min(starts, options.finalRuns);
    int runNumber = 0;
    auto announce = [&](int cap) {
        if (options.onRun) options.onRun(++runNumber, runs, cap);
    };
    {
        announce(maxCycles);
        Candidate band;
        band.est.resize(data.categories, nclass);
        band.h = bandPosteriors(data, nclass);
        em.maximization(band.h, band.est);
        band.run.loglik = em.expectation(band.est, band.h);
        iterateCategorical(em, band.est, band.h, band.run, tol, maxCycles, options.onCycle,
                           options.accelerate);
        finals.push_back(std::move(band));
    }
    std::vector<Candidate> first;
    std::mt19937_64 generator(options.seed);
    for (int s = 0; s < starts; ++s) {
        Candidate c;
        c.est.resize(data.categories, nclass);
        drawCategoricalStart(generator, c.est);
        c.run.loglik = em.expectation(c.est, c.h);
        const int cap = std::min(options.firstStageCycles, maxCycles);
        announce(cap);
        iterateCategorical(em, c.est, c.h, c.run, tol, cap, options.onCycle, options.accelerate);
        first.push_back(std::move(c));
    }
    std::stable_sort(first.begin(), first.end(), [](const Candidate& a, const Candidate& b) {
        return a.run.loglik > b.run.loglik;
    });
    for (std::size_t s = 0; s < first.size() && s < static_cast<std::size_t>(options.finalRuns);
         ++s) {
        Candidate& c = first[s];
        announce(maxCycles);
        if (!c.run.converged)
            iterateCategorical(em, c.est, c.h, c.run, tol, maxCycles, options.onCycle,
                               options.accelerate);
        finals.push_back(std::move(c));
    }
    // Converged runs first, each group best first; the deterministic start wins ties.
    std::stable_sort(finals.begin(), finals.end(), [](const Candidate& a, const Candidate& b) {
        if (a.run.converged != b.run.converged) return a.run.converged;
        return a.run.loglik > b.run.loglik;
    });
    CategoricalFit fit;
    fit.finalRuns = static_cast<int>(finals.size());
    for (const Candidate& c : finals) {
        fit.finalLogliks.push_back(c.run.loglik);
        if (c.run.converged && std::fabs(c.run.loglik - finals.front().run.loglik) <= kReplicated)
            ++fit.replicated;
    }
    fit.est = std::move(finals.front().est);
    fit.h = std::move(finals.front().h);
    fit.run = finals.front().run;
    orderCategoricalClasses(fit.est, fit.h);
    return fit;
}

} // namespace ploven
