// How much an item, and the whole test, tells about the factor value: the Fisher information
// I(z) = E[-d² log p(x | z) / dz²] along one factor (the other held), from the model's formulas.
// The sources: Baker & Kim, Item Response Theory (2nd ed., 2004), ch. 6 (binary and graded
// items), Bock (1972, Psychometrika 37) for the nominal model, and the normal density for a
// normal item.
#pragma once

#include "oruk/core/itemcurves.hpp"

#include <array>
#include <vector>

namespace oruk {

// The information of one item at z along factor (0 or 1):
//   binary (logit):      a² P (1 - P), P = 1 / (1 + exp(-(c + a·z)));
//   nominal (Bock):      Σ_j P_j (a_j - ā)², ā = Σ_j P_j a_j, category 1 with a_1 = 0;
//   ordinal (cumulative logit, F_j = P(x ≤ j) = 1 / (1 + exp(-(thr_j - a·z))), F_0 = 0,
//     F_C = 1): a² Σ_j (W_j - W_{j-1})² / P_j, W_j = F_j (1 - F_j), P_j = F_j - F_{j-1};
//   normal:              λ² / ψ (ψ the residual variance).
// a (or λ) is the loading of the factor chosen.
double itemInformation(const ItemModel& item, int factor, const std::array<double, 2>& z);

// Every item's information curve over the factor grid, and the test information (their sum)
// with its standard error 1 / √I(z). Items whose estimates are incomplete are left out and
// named in problem.
struct InformationCurves {
    std::vector<Curve> items; // one per item, named after it
    Curve test;               // Σ_i I_i(z)
    Curve standardError;      // 1 / √(Σ_i I_i(z))
    QString problem;
};

InformationCurves informationCurves(const std::vector<ItemResult>& items, int factor);

} // namespace oruk
