#include "travik/fit.hpp"

#include "fixedio/layout.hpp"
#include "numerics/parallel_blocks.hpp"
#include "travik/scores.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

namespace travik {

using fixedio::Layout;

namespace {

constexpr double kMinimumExpected = 5.0;

// Patterns per block of the loop over patterns.
constexpr std::size_t kPatternsPerBlock = 256;

} // namespace

Pooling poolPatterns(const std::vector<double>& expected, const std::vector<int>& freq) {
    const std::size_t n = expected.size();
    // The look-ahead sums the later expected counts front to back. Sums from the back bound
    // it within a relative 1e-6, so the exact sum is formed only when the bound leaves its
    // comparison with 5 open, which happens at most at the last one or two groups.
    std::vector<double> tail(n + 1, 0.0);
    for (std::size_t i = n; i-- > 0;) tail[i] = tail[i + 1] + expected[i];

    Pooling p;
    double o = 0.0, e = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        if (freq[i] == 0) continue;
        o += freq[i];
        e += expected[i];
        if (e < kMinimumExpected) continue;
        // A group that leaves less than 5 expected behind it takes the rest along and ends
        // the walk.
        bool rest = false;
        if (i + 1 < n && tail[i + 1] < kMinimumExpected * (1.0 + 1e-6)) {
            double later = 0.0, laterFreq = 0.0;
            for (std::size_t j = i + 1; j < n; ++j) {
                later += expected[j];
                laterFreq += freq[j];
            }
            if (later < kMinimumExpected) {
                o += laterFreq;
                e += later;
                rest = true;
            }
        }
        p.gp += o * std::log(o / e);
        p.x2 += (o - e) * (o - e) / e;
        p.eu += e;
        ++p.groups;
        o = e = 0.0;
        if (rest) break;
    }
    // A group still open at the end (less than 5 expected) is dropped.
    return p;
}

int degreesOfFreedom(int groups, int nb, int nf) {
    int df = groups;
    if (nb < 62 && static_cast<long long>(groups) >= (1LL << nb)) df -= 1;
    return df - (nf == 2 ? 3 : 2) * nb;
}

double saturatedLoglikelihood(const PatternTable& patterns, int ncase) {
    double s = 0.0;
    for (int f : patterns.freq)
        if (f > 0) s += f * singlePrecision(std::log(static_cast<double>(f) / ncase));
    return s;
}

PatternPosterior patternPosterior(const Deck& d, const Grid& grid, const ItemTables& tables,
                                  const PatternTable& patterns, int threads) {
    const int G = grid.size, nq = grid.nq;
    const std::size_t n = static_cast<std::size_t>(patterns.count());
    PatternPosterior out;
    out.f.resize(n);
    out.mean.resize(n);
    std::vector<std::vector<double>> work(
        static_cast<std::size_t>(numerics::workersFor(n, kPatternsPerBlock, threads)),
        std::vector<double>(static_cast<std::size_t>(G)));
    // m = sum over t1 of (sum over t2 of g / F) QZ(t1); one factor has a single t2.
    auto posteriorMean = [&](const std::vector<double>& g, double f) {
        const int inner = d.nf == 2 ? nq : 1;
        double mean = 0.0;
        for (int a = 0; a < nq; ++a) {
            double h = 0.0;
            for (int b = 0; b < inner; ++b) h += g[a * inner + b] / f;
            mean += h * grid.qz[a];
        }
        return mean;
    };
    auto onePattern = [&](int p, std::vector<double>& g) {
        const double* row = patterns.row(p);
        std::copy(grid.w.begin(), grid.w.end(), g.begin());
        for (int j = 0; j < d.nb; ++j) {
            const double* factor = row[j] == 1.0   ? tables.binary(j)
                                   : row[j] == 0.0 ? tables.binaryZero(j)
                                                   : nullptr;
            if (!factor) continue; // a missing response contributes no factor
            for (int t = 0; t < G; ++t) g[t] *= factor[t];
        }
        double f = 0.0;
        for (int t = 0; t < G; ++t) f += g[t];
        out.f[p] = f;
        if (f >= DBL_MIN) {
            out.mean[p] = posteriorMean(g, f);
            return;
        }
        // The products underflow: the posterior weights again, from logarithms.
        for (int t = 0; t < G; ++t) {
            double s = logOrFloor(grid.w[t]);
            for (int j = 0; j < d.nb; ++j) {
                if (row[j] == 1.0)
                    s += logOrFloor(tables.binary(j)[t]);
                else if (row[j] == 0.0)
                    s += logOrFloor(tables.binaryZero(j)[t]);
            }
            g[t] = s;
        }
        double logScale = 0.0;
        out.mean[p] = posteriorMean(g, weightsFromLogs(g.data(), G, logScale));
    };
    numerics::forEachBlock(
        n, kPatternsPerBlock, threads,
        [&](int worker, const numerics::Block& b) {
            for (std::size_t p = b.begin; p < b.end; ++p)
                onePattern(static_cast<int>(p), work[static_cast<std::size_t>(worker)]);
        },
        [](int, const numerics::Block&) {});
    return out;
}

FitMeasures goodnessOfFit(const Deck& d, const PatternTable& patterns, const PatternPosterior& post,
                          double logl, double logl0) {
    const int ncase = d.ncase;
    FitMeasures r;
    r.logl = logl;
    const double s = saturatedLoglikelihood(patterns, ncase);
    const double g0 = 2.0 * ncase * (s - logl0);
    const double g = 2.0 * ncase * (s - logl);
    // Without G-square under independence there is no share of it to explain.
    r.explained = g0 != 0.0 ? singlePrecision(100.0 * (g0 - g) / g0)
                            : std::numeric_limits<double>::quiet_NaN();

    const std::vector<int> order = ascendingOrder(post.mean);
    std::vector<double> expected;
    std::vector<int> freq;
    for (int p : order) {
        expected.push_back(ncase * post.f[p]);
        freq.push_back(patterns.freq[p]);
    }
    const Pooling pooled = poolPatterns(expected, freq);
    r.lr = 2.0 * pooled.gp;
    r.chiObserved = pooled.x2;
    r.chiAll = pooled.x2 + ncase - pooled.eu;
    r.df = degreesOfFreedom(pooled.groups, d.nb, d.nf);
    return r;
}

std::string fitSection(const FitMeasures& f) {
    static const Layout explained("' % OF G-SQUARE EXPLAINED ',F11.4");
    static const Layout logl("'  LOGLIKELIHOOD VALUE     ',F11.4");
    static const Layout lr("'  LIKELIHOOD RATIO STAT.  ',F12.5");
    static const Layout chiObserved("'  CHI-SQUARE FOR OBS RESP PATTERNS  ',F11.4");
    static const Layout chiAll("'  CHI-SQUARE FOR ALL RESP PATTERNS  ',F11.4");
    static const Layout df("'  DEGREES OF FREEDOM      ',I7");
    return "\n\n***Goodness-of-Fit Measures***\n\n\n" + explained.format({f.explained}) +
           logl.format({f.logl}) + lr.format({f.lr}) + chiObserved.format({f.chiObserved}) +
           chiAll.format({f.chiAll}) + df.format({f.df}) + "\n";
}

std::string fullPatternInvalidReason(const Deck& d, int casesWithMissing) {
    if (d.nn + d.nc + d.no > 0)
        return "the model has normal, nominal or ordinal items, whose densities the "
               "loglikelihood holds but the binary patterns do not";
    if (casesWithMissing > 0)
        return std::to_string(casesWithMissing) +
               (casesWithMissing == 1 ? " case has" : " cases have") +
               " missing responses, so not every case has a complete binary pattern";
    return "";
}

} // namespace travik
