// The measurement model at the Gauss-Hermite grid points, and the marginal loglikelihood.
//
// Response functions at a latent point z = (z1, z2), with intercept a and loadings l:
//   binary:   P(x = 1 | z) = 1 / (1 + exp(-(a + l'z)))              (two-parameter logit)
//   nominal:  P(x = c | z) = exp(a_c + l_c'z) / sum_d exp(a_d + l_d'z),  a_1 = l_1 = 0
//             (Bock 1972, Psychometrika 37, 29-51)
//   ordinal:  P(x <= c | z) = 1 / (1 + exp(-(t_c - l'z))),  t_1 < t_2 < ...  (cumulative
//             logit, Samejima 1969, Psychometrika Monograph 17: the loadings enter with a
//             minus sign, so a larger z makes the higher categories more likely)
//   normal:   x | z ~ N(mu + l'z, psi)
// The responses are independent given z and z is standard normal, so a case's marginal
// likelihood is
//   f(x) = integral prod_i f_i(x_i | z) phi(z) dz  ~=  FM = sum_g w_g prod_i f_i(x_i | z_g)
// over the grid of quadrature.hpp, and LOGL = sum_k ln FM(k) (Bock & Aitkin 1981,
// Psychometrika 46, 443-459; Bartholomew, Knott & Moustaki 2011, Latent Variable Models and
// Factor Analysis, 3rd ed., ch. 4, 5 and 7 for binary, polytomous and mixed items).
//
// Here: the response probabilities per item and grid point (`binaryItemTables`,
// `nominalItemTables`, `ordinalItemTables`), the normal densities per case
// (`normalItemTables`), each case's joint weights GJ (grid weight times the product of its
// item factors), its FM and the loglikelihood LOGL (`evaluateLikelihood`).
#pragma once

#include "travik/model_state.hpp"
#include "travik/quadrature.hpp"

#include <cstddef>
#include <memory>
#include <vector>

namespace travik {

// Binary items taken together in the vector loops over points (four doubles fill an AVX2
// register).
constexpr int kBinaryLanes = 4;

// Response probabilities at every grid point, computed once per item and point.
struct ItemTables {
    int size = 0;         // grid points
    int categoryRows = 0; // rows per nominal or ordinal item: the run's most categories + 1
    std::vector<double> binaryOneProb, binaryZeroProb; // P(x = 1) and 1 - P, [i * size + g]
    // P(x = 1) point by point, [g * binaryStride + i]: the binary items padded with zeros to a
    // multiple of kBinaryLanes, so that the items can be taken a vector register at a time.
    std::vector<double> binaryOneByPoint;
    int binaryStride = 0;
    // nominal category probabilities, [(i * categoryRows + c) * size + g], c = 1..C
    std::vector<double> nominalProb;
    std::vector<double> ordinalCumulativeProb; // P(x <= c), same layout, c = 1..O (the last is 1)
    std::vector<double> ordinalProb;           // ordinal category probabilities, same layout
    std::vector<double> normalMean;            // MU + LAMBDA1 z1 (+ LAMBDA2 z2), [i * size + g]
    std::vector<double> normalScale;           // K / sqrt(PSI) per normal item
    std::vector<double> normalTwoPsi;          // PSI + PSI per normal item

    const double* binary(int i) const {
        return binaryOneProb.data() + static_cast<std::size_t>(i) * size;
    }
    const double* binaryZero(int i) const {
        return binaryZeroProb.data() + static_cast<std::size_t>(i) * size;
    }
    const double* nominal(int i, int c) const { return nominalProb.data() + categoryOffset(i, c); }
    const double* cumulative(int i, int c) const {
        return ordinalCumulativeProb.data() + categoryOffset(i, c);
    }
    const double* ordinal(int i, int c) const { return ordinalProb.data() + categoryOffset(i, c); }
    const double* mean(int i) const {
        return normalMean.data() + static_cast<std::size_t>(i) * size;
    }
    std::size_t categoryOffset(int i, int c) const {
        return (static_cast<std::size_t>(i) * categoryRows + c) * size;
    }
};

// The normal density's constant: 6.28318 held in single precision, its square root rounded
// to single precision, the reciprocal taken in double precision.
double normalConstant();

// One item's probabilities at every grid point, by the formulas of the tables below.
// Logistic item (a binary item, or a nominal category against the reference): P(x = 1) into
// p and 1 - P into q (q may be null). Nominal item: category c's probabilities into pc[c],
// c = 1..C. Ordinal item: P(x <= c) into cumo[c] and P(x = c) into po[c], c = 1..O.
void logisticProbabilities(const Grid& grid, const std::array<double, 3>& a, double* p, double* q);
void nominalProbabilities(const Grid& grid, const NominalItem& item, double* const* pc);
void ordinalProbabilities(const Grid& grid, const OrdinalItem& item, double* const* cumo,
                          double* const* po);

// Fills the tables for the current parameters. With one factor the second loadings are not
// read.
void binaryItemTables(const Deck& d, const Parameters& p, const Grid& grid, ItemTables& t);
void normalItemTables(const Deck& d, const Parameters& p, const Grid& grid, ItemTables& t);
void nominalItemTables(const Deck& d, const Parameters& p, const Grid& grid, ItemTables& t);
void ordinalItemTables(const Deck& d, const Parameters& p, const Grid& grid, ItemTables& t);
void itemTables(const Deck& d, const Parameters& p, const Grid& grid, ItemTables& t);

// Per-case results. A case whose products would underflow is computed in scaled form: its
// GJ row and FM are multiplied by exp(-logScale); for every other case logScale is 0 and the
// values are the plain products.
struct CaseWeights {
    int size = 0;                 // grid points
    std::vector<double> gj;       // [k * size + g] (kept only when asked for)
    std::vector<double> fm;       // per case
    std::vector<double> logScale; // per case
    double logl = 0;

    const double* row(int k) const { return gj.data() + static_cast<std::size_t>(k) * size; }
    double* row(int k) { return gj.data() + static_cast<std::size_t>(k) * size; }
};

// The products over the leading binary items of the case a worker computed last, valid for one
// set of item tables. The next case whose first responses are the same starts from them instead
// of multiplying again; a product is the same number either way, since the factors are
// multiplied in column order. The groups of identical rows are sorted by their responses, so
// that groups visited one after another share long prefixes.
struct BinaryPrefix {
    std::vector<double> products;      // [i * size + g]: a product ending at binary item i
    std::vector<const double*> level;  // the product over items 0..i (null: no factor yet)
    std::vector<signed char> response; // item i's response: 1, 0, or -1 for no factor
    int kept = 0;                      // leading items whose products are valid
};

// Computes case k's joint weights into gj (size values) and returns FM; logScale receives 0,
// or the scale of a case whose products underflow. work holds 4 * size doubles. prefix
// (optional) carries the binary products from one call to the next with the same tables.
double caseWeights(const Deck& d, const DataMatrix& x, const Grid& grid, const ItemTables& t, int k,
                   double* gj, double& logScale, double* work, BinaryPrefix* prefix = nullptr);

// For products that underflow: the logarithm of a factor (a probability of exactly zero
// counts as e^-1000, very unlikely but finite), and log weights turned back into weights
// divided by exp(logScale), their largest value. Returns the sum of the scaled weights.
inline double logOrFloor(double p) {
    return p > 0.0 ? std::log(p) : -1000.0;
}
double weightsFromLogs(double* values, int n, double& logScale);

// Cases per block of the loops over cases: fixed, so that the blocks, and with them every sum,
// are the same for any number of threads (numerics/parallel_blocks.hpp). A deck of up to this
// many cases is one block, summed exactly as a plain loop over its cases. With grouped rows
// (x.groups) the loops run over the groups, in blocks of as many groups.
constexpr std::size_t kCasesPerBlock = 256;

// Collects sums over the cases while the evaluation visits each case's weights (the row is
// still in cache). The cases are visited block by block: a block's cases in increasing order
// into a part (a worker's own sums, made by `part`), which is then added to this visitor's
// totals by `merge`, in block order. A visitor that writes per-case results only may write
// them from its parts directly (distinct cases never share an element). With grouped rows only
// the first case of each group is visited, with the group's count: sums take its terms count
// times (a count of 1 leaves every term as it is), and per-case results written at the first
// case are copied to the rest of the group by `copyToGroups`.
class CaseVisitor {
  public:
    virtual ~CaseVisitor() = default;
    // Empty sums of the same shape, for one worker.
    virtual std::unique_ptr<CaseVisitor> part() const = 0;
    // Case k's joint weights (scaled by exp(-logScale) when they underflow) and FM; count is
    // the number of cases it stands for.
    virtual void visit(int k, double count, const double* gj, double fm, double logScale) = 0;
    // Adds a part's sums to the totals, after those of every earlier block, and empties it.
    virtual void merge(CaseVisitor& part) = 0;
};

// The whole evaluation: item tables, then per case GJ, FM and LOGL, on up to `threads` threads
// in blocks of kCasesPerBlock cases or groups (LOGL summed in their order within a block, the
// blocks' sums in block order). keepRows stores every GJ row in w.gj (for tests: it takes cases
// x grid points); visitor (optional) sees each row. w holds every case's FM and scale.
void evaluateLikelihood(const Deck& d, const Parameters& p, const DataMatrix& x, const Grid& grid,
                        ItemTables& t, CaseWeights& w, bool keepRows,
                        CaseVisitor* visitor = nullptr, int threads = 1);

// The same loop over cases on tables already filled, without LOGL or per-case results: visits
// every case's (or group's) weights.
void visitCases(const Deck& d, const DataMatrix& x, const Grid& grid, const ItemTables& t,
                CaseVisitor& visitor, int threads);

// Per-case results written at the first case of each group, copied to the other cases of the
// group (nothing to do without groups).
void copyToGroups(const DataMatrix& x, std::vector<double>& perCase);

} // namespace travik
