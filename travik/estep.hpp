// The E-step: each case's posterior weights over the grid,
//   HP(k, g) = GJ(k, g) / FM(k) = w_g prod_i f_i(x_ki | z_g) / FM(k),
// and the expected statistics per item and grid point the M-step needs: the "artificial data"
// of Bock & Aitkin (1981, Psychometrika 46, 443-459). For a binary item i
//   r_ig = sum_k x_ki HP(k, g)                 expected number answering 1 at z_g,
//   n_ig = sum_k [x_ki observed] HP(k, g)      expected number observed at z_g,
// and likewise per category of nominal and ordinal items and as sums of x and x^2 for normal
// items. Collected case by case while the evaluation visits the rows (EStep), or from stored
// rows (`eStepFromStoredRows`).
#pragma once

#include "travik/likelihood.hpp"

#include <vector>

namespace travik {

struct EStepTables {
    int size = 0;         // grid points
    int categoryRows = 0; // rows per nominal or ordinal item: the run's most categories + 1
    // The expected counts of Bock & Aitkin's E-step, per item and grid point.
    std::vector<double> expectedOnes; // binary: sum of HP over cases answering 1, [i * size + g]
    // normal: sums of x HP and x^2 HP over observed cases
    std::vector<double> expectedSumX, expectedSumX2;
    // nominal / ordinal: sum of HP per category, [(i * categoryRows + c) * size + g]
    std::vector<double> expectedNominal, expectedOrdinal;
    // every item by data column: sum of HP over observed cases (NEXP)
    std::vector<double> expectedObserved;

    const double* row(const std::vector<double>& table, int i) const {
        return table.data() + static_cast<std::size_t>(i) * size;
    }
    const double* category(const std::vector<double>& table, int i, int c) const {
        return table.data() + (static_cast<std::size_t>(i) * categoryRows + c) * size;
    }
};

// Accumulates the E-step tables case by case. Every sum receives its terms in case order within
// a block of cases, and the blocks' sums in block order (likelihood.hpp: CaseVisitor).
class EStep : public CaseVisitor {
  public:
    EStep(const Deck& d, const DataMatrix& x, int size, EStepTables& tables);
    std::unique_ptr<CaseVisitor> part() const override;
    void visit(int k, double count, const double* gj, double fm, double logScale) override;
    void merge(CaseVisitor& part) override;
    // Completes the tables after the last case.
    void finish();

  private:
    // A part: empty tables of the shape of total's, held by the part itself.
    explicit EStep(const EStep& total);

    const Deck& d_;
    const DataMatrix& x_;
    int size_;
    std::unique_ptr<EStepTables> own_; // a part's tables
    EStepTables* t_;
    std::vector<char> complete_; // per data column: no missing value anywhere
    std::vector<double> total_;  // sum of HP over all cases: NEXP of every complete column
    std::vector<double> hp_;
};

// `eStepFromStoredRows` over stored rows: the tables from the weights of every case, each case
// on its own.
void eStepFromStoredRows(const Deck& d, const DataMatrix& x, const CaseWeights& w,
                         EStepTables& tables);

} // namespace travik
