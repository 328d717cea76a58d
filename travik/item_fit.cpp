#include "travik/item_fit.hpp"

#include "numerics/chi_square.hpp"
#include "travik/likelihood.hpp"
#include "travik/parameter_vector.hpp"

#include <algorithm>
#include <cmath>

namespace travik {

namespace {

// Item i's category c among `most` per item.
std::size_t at(int i, int c, int most) {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(most) +
           static_cast<std::size_t>(c);
}

// Categories of item i of a binary/ordinal model (binary items first).
int categoriesOf(const Deck& d, int i) {
    return i < d.nb ? 2 : d.o[static_cast<std::size_t>(i - d.nb)];
}

// The item score of a (non-missing) response, or -1 outside the item's categories.
int itemScore(const Deck& d, int i, double value) {
    const double v = truncated(value);
    const int k = categoriesOf(d, i);
    const int score = i < d.nb ? static_cast<int>(v) : static_cast<int>(v) - 1;
    if (v < -1.0 || v > kMostCategories + 1.0 || score < 0 || score >= k) return -1;
    return score;
}

// Lord-Wingersky: the summed-score probabilities of every item but skip (-1: none) at one
// grid point. prob holds P_ic at [at(i, c, most)]; out receives P(S = s), s = 0..top; returns
// top.
int summedScoreLikelihood(const std::vector<int>& k, int most, const std::vector<double>& prob,
                          int skip, std::vector<double>& out, std::vector<double>& work) {
    out[0] = 1.0;
    int top = 0;
    for (int i = 0; i < static_cast<int>(k.size()); ++i) {
        if (i == skip) continue;
        const int ki = k[static_cast<std::size_t>(i)];
        std::fill(work.begin(), work.begin() + top + ki, 0.0);
        for (int s = 0; s <= top; ++s) {
            const double below = out[static_cast<std::size_t>(s)];
            for (int c = 0; c < ki; ++c)
                work[static_cast<std::size_t>(s) + static_cast<std::size_t>(c)] +=
                    below * prob[at(i, c, most)];
        }
        top += ki - 1;
        std::copy(work.begin(), work.begin() + top + 1, out.begin());
    }
    return top;
}

ScoreGroup makeGroup(const SummedScoreTables& t, int item, const std::vector<double>& scoreCases,
                     const std::vector<double>& observed, int low, int high) {
    const int k = t.categories[static_cast<std::size_t>(item)];
    ScoreGroup g;
    g.low = low;
    g.high = high;
    g.observed.assign(static_cast<std::size_t>(k), 0.0);
    g.expected.assign(static_cast<std::size_t>(k), 0.0);
    for (int s = low; s <= high; ++s) {
        const double n = scoreCases[static_cast<std::size_t>(s)];
        g.cases += n;
        for (int c = 0; c < k; ++c) {
            g.observed[static_cast<std::size_t>(c)] +=
                observed[static_cast<std::size_t>(s) * static_cast<std::size_t>(k) +
                         static_cast<std::size_t>(c)];
            g.expected[static_cast<std::size_t>(c)] += n * t.expected(item, c, s);
        }
    }
    return g;
}

bool deficient(const ScoreGroup& g) {
    for (double e : g.expected)
        if (!(e >= kMinExpectedCount)) return true;
    return false;
}

std::string itemName(const Deck& d, int i) {
    return i < d.nb ? "binary item " + std::to_string(i + 1)
                    : "ordinal item " + std::to_string(i - d.nb + 1);
}

} // namespace

std::string itemFitUnavailable(const Deck& d, const DataMatrix& x) {
    if (d.nn > 0 || d.nc > 0)
        return "item fit by summed scores needs binary and ordinal items only, and the model has "
               "normal or nominal items";
    if (d.nv() < 2) return "item fit by summed scores needs at least two items";
    if (x.rows == 0) return "item fit by summed scores needs data, and there are no cases";
    int incomplete = 0;
    for (int k = 0; k < x.rows; ++k)
        for (int col = 0; col < d.nv(); ++col)
            if (isMissing(x(k, col))) {
                ++incomplete;
                break;
            }
    if (incomplete > 0)
        return "item fit by summed scores needs complete responses, and " +
               std::to_string(incomplete) + (incomplete == 1 ? " case has" : " cases have") +
               " a missing response";
    for (int k = 0; k < x.rows; ++k)
        for (int col = 0; col < d.nv(); ++col)
            if (itemScore(d, col, x(k, col)) < 0)
                return "item fit by summed scores needs every response within its item's "
                       "categories, and case " +
                       std::to_string(k + 1) + " answers " + itemName(d, col) + " outside them";
    return {};
}

SummedScoreTables summedScoreTables(const Deck& d, const Parameters& p, const Grid& grid) {
    const int n = d.nb + d.no;
    SummedScoreTables t;
    for (int i = 0; i < n; ++i) {
        t.categories.push_back(categoriesOf(d, i));
        t.maxScore += t.categories.back() - 1;
    }
    const int m = t.maxScore;
    const int most = t.mostCategories = std::max(2, d.mostCategories());
    const std::size_t width = static_cast<std::size_t>(m) + 1;
    ItemTables tables;
    tables.size = grid.size;
    binaryItemTables(d, p, grid, tables);
    ordinalItemTables(d, p, grid, tables);
    t.scoreProb.assign(width, 0.0);
    t.expectedProp.assign(static_cast<std::size_t>(n) * most * width, 0.0);
    std::vector<double> prob(static_cast<std::size_t>(n) * most, 0.0);
    std::vector<double> full(width + most), rest(width + most), work(width + most);
    for (int g = 0; g < grid.size; ++g) {
        for (int i = 0; i < d.nb; ++i) {
            prob[at(i, 0, most)] = tables.binaryZero(i)[g];
            prob[at(i, 1, most)] = tables.binary(i)[g];
        }
        for (int j = 0; j < d.no; ++j)
            for (int c = 1; c <= d.o[static_cast<std::size_t>(j)]; ++c)
                prob[at(d.nb + j, c - 1, most)] = tables.ordinal(j, c)[g];
        const double w = grid.w[static_cast<std::size_t>(g)];
        summedScoreLikelihood(t.categories, most, prob, -1, full, work);
        for (int s = 0; s <= m; ++s)
            t.scoreProb[static_cast<std::size_t>(s)] += w * full[static_cast<std::size_t>(s)];
        for (int i = 0; i < n; ++i) {
            const int top = summedScoreLikelihood(t.categories, most, prob, i, rest, work);
            for (int c = 0; c < t.categories[static_cast<std::size_t>(i)]; ++c) {
                const double wp = w * prob[at(i, c, most)];
                double* row = t.expectedProp.data() + at(i, c, most) * width + c;
                for (int s = 0; s <= top; ++s) row[s] += wp * rest[static_cast<std::size_t>(s)];
            }
        }
    }
    for (int i = 0; i < n; ++i)
        for (int c = 0; c < t.categories[static_cast<std::size_t>(i)]; ++c)
            for (int s = 0; s <= m; ++s) {
                const double total = t.scoreProb[static_cast<std::size_t>(s)];
                double& e = t.expectedProp[at(i, c, most) * width + static_cast<std::size_t>(s)];
                e = total > 0.0 ? e / total : 0.0;
            }
    return t;
}

std::vector<ScoreGroup> poolScoreGroups(const SummedScoreTables& t, int item,
                                        const std::vector<double>& scoreCases,
                                        const std::vector<double>& observed) {
    const int m = t.maxScore;
    if (m < 2) return {};
    auto group = [&](int low, int high) {
        return makeGroup(t, item, scoreCases, observed, low, high);
    };
    const int h = m / 2;
    std::vector<ScoreGroup> lower, upper; // upper in descending score order
    int openLow = 1;
    for (int s = 1; s <= h; ++s) {
        ScoreGroup g = group(openLow, s);
        if (!deficient(g)) {
            lower.push_back(std::move(g));
            openLow = s + 1;
        }
    }
    int openHigh = m - 1;
    for (int s = m - 1; s > h; --s) {
        ScoreGroup g = group(s, openHigh);
        if (!deficient(g)) {
            upper.push_back(std::move(g));
            openHigh = s - 1;
        }
    }
    // The leftovers of the two walks meet at h: scores openLow..openHigh.
    if (openLow <= openHigh) {
        ScoreGroup middle = group(openLow, openHigh);
        if (deficient(middle)) {
            if (!lower.empty()) {
                middle = group(lower.back().low, openHigh);
                lower.pop_back();
            } else if (!upper.empty()) {
                middle = group(openLow, upper.back().high);
                upper.pop_back();
            }
        }
        lower.push_back(std::move(middle));
    }
    lower.insert(lower.end(), std::make_move_iterator(upper.rbegin()),
                 std::make_move_iterator(upper.rend()));
    return lower;
}

ItemFit itemFit(const Deck& d, const Parameters& p, const Grid& grid, const DataMatrix& x) {
    ItemFit fit;
    fit.reason = itemFitUnavailable(d, x);
    if (!fit.reason.empty()) return fit;
    fit.available = true;
    fit.cases = x.rows;
    const SummedScoreTables t = summedScoreTables(d, p, grid);
    fit.maxScore = t.maxScore;
    const int n = d.nv();
    const std::size_t width = static_cast<std::size_t>(t.maxScore) + 1;

    // N_s, and O_ics per item at [s * K_i + c].
    std::vector<double> scoreCases(width, 0.0);
    std::vector<std::vector<double>> observed(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        observed[static_cast<std::size_t>(i)].assign(
            width * static_cast<std::size_t>(t.categories[static_cast<std::size_t>(i)]), 0.0);
    std::vector<int> scores(static_cast<std::size_t>(n));
    for (int k = 0; k < x.rows; ++k) {
        int s = 0;
        for (int i = 0; i < n; ++i)
            s += scores[static_cast<std::size_t>(i)] = itemScore(d, i, x(k, i));
        scoreCases[static_cast<std::size_t>(s)] += 1.0;
        for (int i = 0; i < n; ++i)
            observed[static_cast<std::size_t>(i)]
                    [static_cast<std::size_t>(s) *
                         static_cast<std::size_t>(t.categories[static_cast<std::size_t>(i)]) +
                     static_cast<std::size_t>(scores[static_cast<std::size_t>(i)])] += 1.0;
    }

    const ParameterLayout layout = parameterLayout(d);
    const std::vector<char> moving = movingParameters(d, p);
    for (int i = 0; i < n; ++i) {
        ItemFitEntry e;
        e.item = i;
        const int k = t.categories[static_cast<std::size_t>(i)];
        const int first = i < d.nb ? layout.binary[static_cast<std::size_t>(i)]
                                   : layout.ordinal[static_cast<std::size_t>(i - d.nb)];
        const int count = i < d.nb ? d.nf + 1 : k - 1 + d.nf;
        for (int q = first; q < first + count; ++q)
            e.freeParameters += moving[static_cast<std::size_t>(q)] != 0;
        e.groups = poolScoreGroups(t, i, scoreCases, observed[static_cast<std::size_t>(i)]);
        const int groups = static_cast<int>(e.groups.size());
        e.df = groups * (k - 1) - e.freeParameters;
        if (groups == 0) {
            e.reason = "the test has no summed score between its lowest and highest";
        } else if (std::any_of(e.groups.begin(), e.groups.end(), deficient)) {
            e.reason = "even with every summed score pooled, an expected count of " +
                       itemName(d, i) + " stays below 1";
        } else if (e.df < 1) {
            e.reason = "the " + std::to_string(groups) + " pooled score group" +
                       (groups == 1 ? "" : "s") + " leave no degrees of freedom for " +
                       itemName(d, i) + "'s " + std::to_string(e.freeParameters) +
                       " free parameters";
        } else {
            e.available = true;
            for (const ScoreGroup& g : e.groups)
                for (int c = 0; c < k; ++c) {
                    const double diff = g.observed[static_cast<std::size_t>(c)] -
                                        g.expected[static_cast<std::size_t>(c)];
                    e.sx2 += diff * diff / g.expected[static_cast<std::size_t>(c)];
                }
            e.p = numerics::chiSquareUpperTail(e.sx2, e.df);
            if (fit.cases > 1)
                e.rmsea = std::sqrt(std::max(e.sx2 - e.df, 0.0) /
                                    (e.df * (static_cast<double>(fit.cases) - 1.0)));
        }
        fit.items.push_back(std::move(e));
    }
    return fit;
}

} // namespace travik
