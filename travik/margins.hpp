// Goodness-of-fit margins: observed against expected first-, second- and third-order margins
// of the binary items (`computeBinaryMargins`) and of the nominal and ordinal items
// (`computeNominalMargins`, `computeOrdinalMargins`); and the products of the standardized
// loadings (`loadingProductsMatrix`). An expected margin integrates over the grid, e.g.
//   E(x_i = 1, x_j = 1) = N sum_g w_g P_i(z_g) P_j(z_g),
// and a cell's (O - E)^2 / E shows where the model misfits: large values flag pairs and
// triples of items whose association the latent variables do not explain (Bartholomew, Knott
// & Moustaki 2011, Latent Variable Models and Factor Analysis, 3rd ed., ch. 4).
#pragma once

#include "travik/estimates_report.hpp"
#include "travik/likelihood.hpp"
#include "travik/patterns.hpp"
#include "travik/quadrature.hpp"

#include <string>
#include <vector>

namespace travik {

// Binary items. Pair tables are [i * nb + j] with item i's response first; the diagonals of
// o11/e11 and o00/e00 are the first-order margins of responses 1 and 0. Only j < i (and the
// diagonal) are filled. Triples are [(i * nb + j) * nb + k] for i < j < k.
struct BinaryMargins {
    int nb = 0;
    bool triples = true; // false: too many items for the third-order table
    std::vector<long long> o11, o10, o01, o00, o111;
    std::vector<double> e11, e10, e01, e00, e111;

    std::size_t at(int i, int j) const { return static_cast<std::size_t>(i) * nb + j; }
    std::size_t at(int i, int j, int k) const {
        return (static_cast<std::size_t>(i) * nb + j) * nb + k;
    }
};

// Observed counts from the binary pattern table (a missing response counts in no cell);
// expected counts from the model, each quadrature sum accumulated in single precision and,
// for the first and second order, multiplied by the shares of cases answering the items.
BinaryMargins computeBinaryMargins(const ModelState& m, const Grid& grid, const ItemTables& tables,
                                   const PatternTable& patterns);
std::string binaryMarginsSection(const BinaryMargins& b);

// Nominal or ordinal items. first[i][c - 1]; pairs i < j in the order (0,1), (0,2), ..,
// (1,2), .., each [(c - 1) * categories[j] + (d - 1)]. Expected counts are NCASE times the
// model's probabilities, without a factor for missing values.
struct PolytomousMargins {
    bool nominal = true;
    std::vector<int> categories;
    std::vector<std::vector<long long>> first, pair;
    std::vector<std::vector<double>> firstExpected, pairExpected;
};
PolytomousMargins computeNominalMargins(const ModelState& m, const Grid& grid,
                                        const ItemTables& tables, const PatternTable& patterns);
PolytomousMargins computeOrdinalMargins(const ModelState& m, const Grid& grid,
                                        const ItemTables& tables, const PatternTable& patterns);
std::string polytomousMarginsSection(const PolytomousMargins& p);

// "MATRIX.OUT": row k holds L(k) . L(i) for i = 1..k, ten F9.3 fields a line.
std::string loadingProductsMatrix(const StandardizedLoadings& s);

} // namespace travik
