// Goodness of fit of a fitted latent class model: second- and third-order margins, observed
// against expected, and likelihood-ratio and Pearson statistics over the full table of
// response patterns (`fullTableStatistics`) and after pooling sparse patterns
// (`pooledFitStatistics`):
//   G^2 = 2 sum_x n(x) ln(n(x) / E(x)),   X^2 = sum_x (n(x) - E(x))^2 / E(x),
// E(x) = N P(x) the expected frequency (em.hpp). Over the full table the patterns never
// observed enter X^2 as one cell; the pooled chi-square merges patterns of frequency below 5,
// smallest first, because sparse cells break the chi-square approximation (Goodman 1974,
// Biometrika 61, 215-231; Agresti 2013, Categorical Data Analysis, 3rd ed., on
// sparse tables).
#pragma once

#include "ploven/model.hpp"

#include <span>
#include <string>
#include <vector>

namespace ploven {

// Expected counts below this get no Pearson term (OBS-EXP)**2/EXP in the margins.
inline const double kTinyExpected = static_cast<double>(1.0e-7f);

// Observed and expected counts of the item pairs and of the positive item triples.
struct MarginTables {
    int nitem = 0;
    bool triples = true; // false: too many items for the third-order table
    // Pair tables, nitem x nitem, cell (I, J) at [I * nitem + J]; index a/b = response to I/J.
    std::vector<long long> observed[2][2];
    std::vector<double> expected[2][2];
    // Triples I < J < L in lexicographic order.
    std::vector<long long> observed111;
    std::vector<double> expected111;

    long long obs(int a, int b, int I, int J) const {
        return observed[a][b][static_cast<std::size_t>(I) * nitem + J];
    }
    double exp(int a, int b, int I, int J) const {
        return expected[a][b][static_cast<std::size_t>(I) * nitem + J];
    }
};

// The observed counts are summed in blocks of patterns on threads as loops says (integer sums:
// the same for any blocks).
MarginTables computeMargins(const PatternTable& data, const Estimates& est, long long ncase,
                            const PatternLoops& loops = {});

// Rows of the second-order margins: every unordered pair twice ((0,0), (1,1)), every ordered
// pair twice ((0,1), (1,0)).
double marginRows(int nitem);

// Bytes the second-order margins of nitem items take at most: their tables, and their rows in
// the report and in the results file (a JSON tree of the rows and its text, made at the end).
double marginsBytes(int nitem);

// The report section of the margins tables.
std::string marginReport(const MarginTables& tables);

struct FitStatistics {
    double gsquare = 0.0;
    double chisquare = 0.0;
    int ngrp = 0; // patterns pooled (pooledFitStatistics)
    ErrorCode error =
        ErrorCode::None; // 2400 when fullTableStatistics met a zero observed or expected frequency
};

// Full table of 2^NITEM patterns; the never observed ones enter the chi-square as a whole.
FitStatistics fullTableStatistics(std::span<const int> freq, std::span<const double> expf,
                                  long long ncase);

// The same after pooling patterns of frequency below 5, smallest first.
FitStatistics pooledFitStatistics(std::span<const int> freq, std::span<const double> expf,
                                  long long ncase);

} // namespace ploven
