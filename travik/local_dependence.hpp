// Local dependence between pairs of items by the LD X2 statistic (Chen & Thissen 1997, Journal
// of Educational and Behavioral Statistics 22, 265-289), for every pair of binary or ordinal
// items of the model (normal and nominal items take no part; the pairs of the others are
// tested all the same).
//
// Item i's categories are scored 0..K_i-1 (binary: the response; ordinal: category c scores
// c-1). For the pair (i, j), over the N_ij cases observed on both items (cases missing either
// response are left out of that pair only):
//   O_ab  = cases answering a on item i and b on item j,
//   E_ab  = N_ij sum_g w_g P_ia(z_g) P_jb(z_g)        (the model's two-way margin),
//   LD X2 = sum_ab (O_ab - E_ab)^2 / E_ab,           df = (K_i - 1)(K_j - 1)
// (cells whose expected count is exactly 0 are left out). The sign is that of the observed
// covariance of the two item scores minus the model's, both taken from the tables:
//   cov(T) = sum_ab a b T_ab / N - (sum_ab a T_ab / N)(sum_ab b T_ab / N),
// positive when the items go together more than the model says (Chen & Thissen's signed
// statistic; zero difference counts as positive). Then
//   signed Cramer's V = sign sqrt(LD X2 / (N_ij (min(K_i, K_j) - 1))).
//
// Flagged pairs: the standardized statistic (X2 - df) / sqrt(2 df) above kLocalDependenceFlag
// = 10, the mark of large local dependence in the IRTPRO guide (Cai, Thissen & du Toit 2011,
// after Chen & Thissen 1997). Under local independence X2 is close to chi-square(df), whose
// standardized value passes 10 with probability about 1e-4 for df = 1 (X2 > 15.1) and less for
// larger df, so a model that fits flags almost no pair.
#pragma once

#include "travik/model_state.hpp"
#include "travik/quadrature.hpp"

#include <string>
#include <vector>

namespace travik {

constexpr double kLocalDependenceFlag = 10.0;

struct ItemPairDependence {
    int i = 0, j = 0; // the items' indices in model order (data columns), i < j
    int cases = 0;    // N_ij
    double x2 = 0.0;
    int df = 0;
    double signedCramersV = 0.0;
    double standardized = 0.0; // (x2 - df) / sqrt(2 df)
    bool flagged = false;      // standardized > kLocalDependenceFlag
    // The K_i x K_j tables, row a (item i) by column b (item j): [a * K_j + b].
    std::vector<double> observed, expected;
};

struct LocalDependence {
    bool available = false;
    std::string reason;                    // why not, in words
    std::vector<ItemPairDependence> pairs; // (0,1), (0,2), ..., in model order
    std::vector<int> flagged;              // positions in pairs of the flagged pairs
};

// (x2 - df) / sqrt(2 df).
double standardizedLdX2(double x2, int df);

// LD X2 of every pair of binary/ordinal items.
LocalDependence localDependence(const Deck& d, const Parameters& p, const Grid& grid,
                                const DataMatrix& x);

} // namespace travik
