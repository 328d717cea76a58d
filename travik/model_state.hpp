// The model state of one travik run: the deck's control values, the data, the observed
// margins and the item parameters. Owned by the run and passed by reference; no other
// mutable global state exists.
//
// Item indices are 0-based in the containers (item I of the report is index I-1); category
// numbers J keep their 1-based value as the index of the small per-item arrays, so that
// ac[J][m] is AC(m,I,J) and thr[J] is THR(I,J).
#pragma once

#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace travik {

constexpr double kMissingCode = 999.0;
// The most categories a nominal or ordinal item may have. The parameter arrays of an item hold
// this many (small and fixed, so an item can be filled before its count is known); every table
// over items and categories is sized by the run's own largest count instead (`mostCategories`).
constexpr int kMostCategories = 50;

// Every response is used after truncation toward zero; 999 (so 999.0 and 999.7) is missing.
inline double truncated(double x) {
    return std::trunc(x);
}
inline bool isMissing(double x) {
    return std::trunc(x) == kMissingCode;
}

// A value rounded to single precision, for the steps the reports compute that way.
inline double singlePrecision(double x) {
    return static_cast<double>(static_cast<float>(x));
}

// A binary item or a nominal category whose intercept or a loading has reached 10 is frozen:
// the M-step moves it no more (a signed test: -15 is not frozen).
constexpr double kFrozen = 10.0;

// Whether a logistic item's intercept and loadings 1..nf are all below kFrozen.
inline bool belowFrozen(const std::array<double, 3>& a, int nf) {
    for (int m = 0; m <= nf; ++m)
        if (!(a[m] < kFrozen)) return false;
    return true;
}

struct BinaryItem {
    std::array<double, 3> alpha{}; // intercept, loading on factor 1, loading on factor 2
};

struct NormalItem {
    double mu = 0, lambda1 = 0, lambda2 = 0, psi = 0; // psi is the residual variance
};

struct NominalItem {
    int categories = 0;
    // ac[J][m]: category J's intercept (m = 0) and loadings (m = 1, 2); category 1 is the
    // reference and stays 0.
    std::array<std::array<double, 3>, kMostCategories + 1> ac{};
};

struct OrdinalItem {
    int categories = 0;
    std::array<double, kMostCategories + 1> thr{}; // thr[J], J = 1..categories-1 are parameters
    std::array<double, 3> ao{};                    // ao[1], ao[2]: loadings on the two factors
};

struct Parameters {
    std::vector<BinaryItem> binary;
    std::vector<NormalItem> normal;
    std::vector<NominalItem> nominal;
    std::vector<OrdinalItem> ordinal;
};

struct Deck {
    std::string title; // 70 columns, padded with blanks
    int ncase = 0, nb = 0, nn = 0, nc = 0, no = 0;
    int nq = 0;       // quadrature points as requested
    int fullRule = 0; // > 0: every node of this many points' rule, whatever NQ says
    int nf = 1, init = 0, maxit = 0, isave = 0, iprs = 0;
    double tol = 0;
    std::vector<int> c, o; // categories of each nominal / ordinal item

    int nv() const { return nb + nn + nc + no; }
    // The largest category count of the nominal and ordinal items (0 without such items):
    // tables over items and categories take mostCategories() + 1 rows per item.
    int mostCategories() const {
        int most = 0;
        for (int v : c) most = v > most ? v : most;
        for (int v : o) most = v > most ? v : most;
        return most;
    }
    // Data columns: binary items first, then normal, nominal and ordinal items.
    int normalColumn(int i) const { return nb + i; }
    int nominalColumn(int i) const { return nb + nn + i; }
    int ordinalColumn(int i) const { return nb + nn + nc + i; }
};

// Cases whose rows are the same bit for bit. A case's likelihood, its derivatives and its
// posterior depend on its row alone, so the loops over cases visit each group once, through its
// first case, and count its sums as many times as the group has cases: at 10^6 cases of 20
// binary items about one case in six starts a group of its own.
struct RowGroups {
    std::vector<int> firstCase;   // per group, the groups ordered by their rows' bits
    std::vector<double> count;    // per group: its cases
    std::vector<int> groupOfCase; // per case

    bool empty() const { return firstCase.empty(); }
};

// The data, one row per case, stored case by case.
struct DataMatrix {
    int rows = 0, cols = 0;
    std::vector<double> values;
    // Filled by groupIdenticalRows (patterns.hpp) once the values are final; while it is empty
    // every case is visited on its own.
    RowGroups groups;

    double operator()(int k, int col) const {
        return values[static_cast<std::size_t>(k) * cols + col];
    }
    const double* row(int k) const { return values.data() + static_cast<std::size_t>(k) * cols; }
};

struct ObservedMargins {
    std::vector<double> pmiss;                     // share missing, per data column
    std::vector<double> p1;                        // share of 1, per binary item
    std::vector<std::vector<double>> nominalShare; // [item][J-1]
    std::vector<std::vector<double>> ordinalShare; // [item][J-1]
    std::vector<double> wmiss;                     // probability of each case's missingness pattern
    double missingShare = 0;                       // share of cases with a missing value
    bool anyMissing = false;
};

struct ModelState {
    Deck deck;
    DataMatrix x;
    // The input record number (1-based case number in the deck) of every fitted case, in
    // the order of x; cases with no observed value are left out of the fit. Empty when the
    // data did not come from a deck (every case is then fitted in order).
    std::vector<int> caseNumbers;
    ObservedMargins observed;
    Parameters params;
    // Threads for the loops over cases (numerics/parallel_blocks.hpp); no result depends on it.
    int threads = 1;
};

} // namespace travik
