// The data and parameters every part of the latent class estimator shares.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace ploven {

// Binary response rows: the cases as read, or the distinct patterns after folding.
// Rows are stored one after the other so that a row's items are contiguous.
struct PatternTable {
    int nitem = 0;
    std::vector<std::uint8_t> x; // x[i * nitem + j]: response of row i to item j, 0 or 1
    std::vector<int> freq;       // frequency of row i

    int size() const { return static_cast<int>(freq.size()); }
    const std::uint8_t* row(int i) const {
        return x.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(nitem);
    }
    int response(int i, int j) const { return row(i)[j]; }
};

// Parameters of the unrestricted latent class model.
struct Estimates {
    int nitem = 0;
    int nclass = 0;
    std::vector<double>
        pi; // pi[j * nclass + k]: probability of a positive answer to item j in class k
    std::vector<double> eta; // eta[k]: prior probability of class k

    void resize(int items, int classes) {
        nitem = items;
        nclass = classes;
        pi.assign(static_cast<std::size_t>(items) * static_cast<std::size_t>(classes), 0.0);
        eta.assign(static_cast<std::size_t>(classes), 0.0);
    }
    double& PI(int j, int k) { return pi[static_cast<std::size_t>(j) * nclass + k]; }
    double PI(int j, int k) const { return pi[static_cast<std::size_t>(j) * nclass + k]; }
};

// How the loops over response patterns run. The patterns are cut into blocks of blockPatterns
// in pattern order; a block's sums take its patterns in order and the blocks' sums are added in
// block order (numerics/parallel_blocks.hpp), so every result depends on the block size and
// never on the threads. Data of at most one block sum exactly as one loop over the patterns.
struct PatternLoops {
    int threads = 1; // 0: one per core
    int blockPatterns = 4096;
};

// Per-pattern results of the estimation.
struct Posteriors {
    int nclass = 0;
    PatternLoops loops;    // of the fit that made them: the loops that use them run so too
    std::vector<double> h; // h[i * nclass + k]: posterior probability of class k given pattern i
    std::vector<int>
        iclass; // starting class during estimation, modal class afterwards (1-based, 0 = none)
    std::vector<int> iscore; // number of positive responses of pattern i

    double H(int k, int i) const { return h[static_cast<std::size_t>(i) * nclass + k]; }
};

// Free parameters of the model: the priors of classes 1 to K-1 and every item probability.
inline long long modelParameters(int nitem, int nclass) {
    return static_cast<long long>(nclass) - 1 + static_cast<long long>(nitem) * nclass;
}

// Error codes of the estimation and the fit statistics.
enum class ErrorCode : int {
    None = 0,
    BadSampleSize = 2000,     // no cases
    FrequencyMismatch = 2100, // the frequencies do not add up to the sample size
    TooManyClasses = 2200,    // more classes than items
    IterationCap = 2300,      // the cycle limit came before convergence
    ZeroFrequency = 2400,     // the full-table statistics met a zero frequency
    NotCertified = 2500,      // EM stopped, but no maximum could be certified (not for MAXIT)
};

// The number the report prints for an error.
constexpr int errorNumber(ErrorCode code) {
    return static_cast<int>(code);
}

// Where console pauses write (never null) and wait for Enter (null: never waits).
struct Console {
    std::FILE* in = stdin;
    std::FILE* out = stdout;
};

} // namespace ploven
