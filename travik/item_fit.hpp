// Item fit by the summed-score statistic S-X2 (Orlando & Thissen 2000, Applied Psychological
// Measurement 24, 50-64; 2003, APM 27, 289-298; ordinal items: Kang & Chen 2008, Journal of
// Educational Measurement 45, 391-406), for models whose items are all binary or ordinal and
// whose data have no missing response.
//
// Item i's categories are scored 0..K_i-1 (binary: the response 0/1; ordinal: category c is
// scored c-1). The summed score S of a case is the sum of its item scores, 0..M.
//
// Summed-score likelihoods (Lord & Wingersky 1984, APM 8, 453-461): at each grid point z_g,
//   L^(0)_0 = 1;  L^(k)_s = sum_c L^(k-1)_(s-c) P_kc(z_g)   (items added one at a time),
// giving S_s(z_g) = P(S = s | z_g) for the whole test and S^-i_s(z_g) for the test without
// item i. Then, with the grid of quadrature.hpp,
//   P(S = s)  = sum_g w_g S_s(z_g),
//   E_ics     = sum_g w_g P_ic(z_g) S^-i_(s-c)(z_g) / sum_g w_g S_s(z_g),
// the model's proportion of category c of item i among cases with summed score s.
//
// Observed: N_s cases have score s, O_ics of them answer category c of item i. The statistic
// compares the counts in pooled score groups G (below):
//   S-X2_i = sum_G sum_c (O_iGc - E_iGc)^2 / E_iGc,
//   O_iGc = sum_(s in G) O_ics,  E_iGc = sum_(s in G) N_s E_ics,
// (that is sum_G N_G (O - E)^2 / E in proportions), with
//   df_i  = (number of groups)(K_i - 1) - (free parameters of item i),
//   p_i   = P(chi-square(df_i) >= S-X2_i),
//   RMSEA_i = sqrt(max(S-X2_i - df_i, 0) / (df_i (N - 1))).
// The free parameters are those the fit moves (parameter_vector.hpp's movingParameters): the
// fixed second loading of a two-factor model and frozen items do not count.
//
// Scores used: the extreme scores 0 and M are left out, for binary and ordinal tests alike: at
// them every item's category is fixed (E = O = 0 or 1), so they carry no information
// (Orlando & Thissen 2000). Scores next to them can still fix some categories of an ordinal
// item (at S = 1 no item can be in category 2): such cells have E = 0 and are pooled away.
//
// Pooling, item by item (Orlando & Thissen 2000 pool adjacent groups from the extremes inward
// until no expected count is below kMinExpectedCount). The scores 1..M-1 are split at
// h = M / 2 (integer division) into a lower part 1..h and an upper part h+1..M-1.
//   1. The lower part is walked upward from score 1: scores accumulate into an open group,
//      which is closed as soon as every one of its K_i expected counts is at least 1.
//   2. The upper part is walked downward from score M-1 the same way.
//   3. What is left open at the end of the two walks (scores next to h) forms one group. If an
//      expected count of it is still below 1, it joins the closed group just below it, or, when
//      there is none, the closed group just above it. If there is no closed group at all, every
//      score forms one group.
// A group whose expected counts still fall below 1 (only possible when every score is in it),
// or df_i < 1, leaves the item without a statistic (reason in words).
#pragma once

#include "travik/model_state.hpp"
#include "travik/quadrature.hpp"

#include <string>
#include <vector>

namespace travik {

constexpr double kMinExpectedCount = 1.0;

// The model's summed-score tables (no data involved).
struct SummedScoreTables {
    int maxScore = 0;                 // M
    std::vector<int> categories;      // K_i per item, in model order
    int mostCategories = 0;           // the largest K_i (at least 2): the rows per item
    std::vector<double> scoreProb;    // P(S = s), s = 0..M
    std::vector<double> expectedProp; // E_ics at [(i * mostCategories + c) * (M + 1) + s]

    double expected(int i, int c, int s) const {
        return expectedProp[(static_cast<std::size_t>(i) * mostCategories +
                             static_cast<std::size_t>(c)) *
                                (static_cast<std::size_t>(maxScore) + 1) +
                            static_cast<std::size_t>(s)];
    }
};

// One pooled group of summed scores of one item.
struct ScoreGroup {
    int low = 0, high = 0;        // the scores pooled: low..high
    double cases = 0;             // N_G
    std::vector<double> observed; // O_iGc, c = 0..K_i-1 (counts)
    std::vector<double> expected; // E_iGc, c = 0..K_i-1 (counts)
};

struct ItemFitEntry {
    int item = 0; // index in model order (the item's data column)
    bool available = false;
    std::string reason; // why there is no statistic, when not available
    double sx2 = 0.0;
    int df = 0;
    double p = 0.0;
    double rmsea = 0.0;
    int freeParameters = 0;
    std::vector<ScoreGroup> groups; // in score order
};

struct ItemFit {
    bool available = false;
    std::string reason; // why the whole statistic is not available
    int cases = 0;
    int maxScore = 0;
    std::vector<ItemFitEntry> items; // every item, in model order
};

// Why S-X2 cannot be computed for these data and this model, in a sentence; empty when it can.
std::string itemFitUnavailable(const Deck& d, const DataMatrix& x);

// The summed-score distribution and the E_ics of a binary/ordinal model.
SummedScoreTables summedScoreTables(const Deck& d, const Parameters& p, const Grid& grid);

// The pooled groups of one item: scores 1..M-1, N_s and O_ics per score (observed[s * K + c]),
// by the rule above. Returns the groups in score order.
std::vector<ScoreGroup> poolScoreGroups(const SummedScoreTables& t, int item,
                                        const std::vector<double>& scoreCases,
                                        const std::vector<double>& observed);

// S-X2 of every item.
ItemFit itemFit(const Deck& d, const Parameters& p, const Grid& grid, const DataMatrix& x);

} // namespace travik
