// S-X2 item fit and LD X2 local dependence: the model's tables against a brute-force
// enumeration of every response pattern, the pooling rule on hand-made tables, calibration on
// data from a fitting model, power against a misfitting item and a planted dependence, and the
// reasons given when the statistics cannot be computed.
#include "travik/em.hpp"
#include "travik/item_fit.hpp"
#include "travik/local_dependence.hpp"
#include "travik/patterns.hpp"
#include "travik/simulated_data.hpp"
#include "travik/starting_values.hpp"

#include <boost/math/distributions/chi_squared.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using namespace travik;

std::size_t u(int v) {
    return static_cast<std::size_t>(v);
}

// Independent response functions (not likelihood.hpp's) for the oracle.
double logistic(double v) {
    return 1.0 / (1.0 + std::exp(-v));
}

// P(item i = score c | z) for a binary/ordinal model; c is the 0-based score.
double categoryProb(const Deck& d, const Parameters& p, int i, int c, double z1, double z2) {
    if (i < d.nb) {
        const auto& a = p.binary[u(i)].alpha;
        const double p1 = logistic(a[0] + a[1] * z1 + (d.nf == 2 ? a[2] * z2 : 0.0));
        return c == 1 ? p1 : 1.0 - p1;
    }
    const OrdinalItem& o = p.ordinal[u(i - d.nb)];
    const double lz = o.ao[1] * z1 + (d.nf == 2 ? o.ao[2] * z2 : 0.0);
    auto cumulative = [&](int j) { // P(category <= j), j = 0..O
        return j <= 0 ? 0.0 : j >= o.categories ? 1.0 : logistic(o.thr[j] - lz);
    };
    return cumulative(c + 1) - cumulative(c);
}

int categories(const Deck& d, int i) {
    return i < d.nb ? 2 : d.o[u(i - d.nb)];
}

// Every response pattern with its marginal probability: P(S = s) and E_ics summed directly.
struct Enumeration {
    std::vector<double> scoreProb;
    std::vector<std::vector<std::vector<double>>> expected; // [i][c][s]
};

Enumeration enumerate(const Deck& d, const Parameters& p, const Grid& grid) {
    const int n = d.nv();
    int m = 0;
    for (int i = 0; i < n; ++i) m += categories(d, i) - 1;
    Enumeration e;
    e.scoreProb.assign(u(m + 1), 0.0);
    e.expected.resize(u(n));
    for (int i = 0; i < n; ++i)
        e.expected[u(i)].assign(u(categories(d, i)), std::vector<double>(u(m + 1), 0.0));
    std::vector<int> x(u(n), 0);
    while (true) {
        double prob = 0.0;
        for (int g = 0; g < grid.size; ++g) {
            double f = grid.w[u(g)];
            for (int i = 0; i < n; ++i)
                f *= categoryProb(d, p, i, x[u(i)], grid.z1[u(g)], grid.z2[u(g)]);
            prob += f;
        }
        int s = 0;
        for (int v : x) s += v;
        e.scoreProb[u(s)] += prob;
        for (int i = 0; i < n; ++i) e.expected[u(i)][u(x[u(i)])][u(s)] += prob;
        int i = 0;
        while (i < n && ++x[u(i)] == categories(d, i)) x[u(i++)] = 0;
        if (i == n) break;
    }
    for (auto& item : e.expected)
        for (auto& cat : item)
            for (std::size_t s = 0; s < cat.size(); ++s) cat[s] /= e.scoreProb[s];
    return e;
}

Parameters smallBinary(int nf) {
    Parameters p;
    const double a[5][3] = {
        {-0.6, 1.1, 0.4}, {0.3, 0.8, -0.5}, {0.9, 1.6, 0.7}, {-1.2, 1.3, 0.0}, {0.1, 0.6, 1.0}};
    for (const auto& row : a) p.binary.push_back({{row[0], row[1], nf == 2 ? row[2] : 0.0}});
    return p;
}

Parameters smallOrdinal(int nf) {
    Parameters p;
    for (int i = 0; i < 4; ++i) {
        OrdinalItem o;
        o.categories = 3;
        o.thr[1] = -0.9 + 0.3 * i;
        o.thr[2] = 0.5 + 0.2 * i;
        o.ao = {0.0, 0.8 + 0.3 * i, nf == 2 ? 0.5 - 0.3 * i : 0.0};
        p.ordinal.push_back(o);
    }
    return p;
}

void expectRelative(double actual, double expected, double tol = 1e-9) {
    EXPECT_NEAR(actual, expected, tol * std::max(std::abs(expected), 1e-300)) << expected;
}

// The score of a data value: binary as it is, ordinal category c as c - 1.
int scoreOf(const Deck& d, int col, double v) {
    return col < d.nb ? static_cast<int>(v) : static_cast<int>(v) - 1;
}

Estimation fitModel(ModelState& m) {
    m.deck.tol = 1e-8;
    EmOutput out{[](std::string_view) {}, [](std::string_view) {}, [](std::string_view) {}};
    return estimate(m, out, EstimationOptions{true, std::nullopt});
}

TEST(ItemFit, ModelTablesAndStatisticsMatchEnumeratedPatterns) {
    struct Case {
        const char* name;
        Parameters p;
        int nf;
        Grid grid;
    };
    const Case cases[] = {{"binary, one factor", smallBinary(1), 1, makeGrid(48, 1)},
                          {"binary, two factors", smallBinary(2), 2, makeFullGrid(11, 2)},
                          {"ordinal, one factor", smallOrdinal(1), 1, makeGrid(48, 1)},
                          {"ordinal, two factors", smallOrdinal(2), 2, makeFullGrid(11, 2)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelState m = simulated::simulate(c.p, c.nf, 48, 4000, 0.0, 77);
        const Deck& d = m.deck;
        const Enumeration want = enumerate(d, c.p, c.grid);
        const SummedScoreTables got = summedScoreTables(d, c.p, c.grid);
        const int maxScore = static_cast<int>(want.scoreProb.size()) - 1;
        ASSERT_EQ(got.maxScore, maxScore);
        for (int s = 0; s <= maxScore; ++s) {
            expectRelative(got.scoreProb[u(s)], want.scoreProb[u(s)]);
            for (int i = 0; i < d.nv(); ++i)
                for (int k = 0; k < categories(d, i); ++k) {
                    const double e = want.expected[u(i)][u(k)][u(s)];
                    if (e == 0.0)
                        EXPECT_EQ(got.expected(i, k, s), 0.0);
                    else
                        expectRelative(got.expected(i, k, s), e);
                }
        }

        // The statistics from the enumerated tables and the raw data, over the module's groups.
        const ItemFit fit = itemFit(d, c.p, c.grid, m.x);
        ASSERT_TRUE(fit.available) << fit.reason;
        ASSERT_EQ(fit.items.size(), u(d.nv()));
        for (int i = 0; i < d.nv(); ++i) {
            SCOPED_TRACE(i);
            const ItemFitEntry& e = fit.items[u(i)];
            ASSERT_TRUE(e.available) << e.reason;
            const int k = categories(d, i);
            // Binary items: 4000 cases fill every score group; ordinal items must pool at least
            // score 1, where no item can be in its top category.
            if (i < d.nb) {
                EXPECT_EQ(e.groups.size(), u(maxScore - 1));
            } else {
                EXPECT_LT(e.groups.size(), u(maxScore - 1));
            }
            int next = 1;
            double x2 = 0.0;
            for (const ScoreGroup& g : e.groups) {
                EXPECT_EQ(g.low, next);
                next = g.high + 1;
                std::vector<double> obs(u(k), 0.0), exp(u(k), 0.0);
                for (int r = 0; r < m.x.rows; ++r) {
                    int s = 0;
                    for (int col = 0; col < d.nv(); ++col) s += scoreOf(d, col, m.x(r, col));
                    if (s < g.low || s > g.high) continue;
                    obs[u(scoreOf(d, i, m.x(r, i)))] += 1.0;
                    for (int a = 0; a < k; ++a) exp[u(a)] += want.expected[u(i)][u(a)][u(s)];
                }
                for (int a = 0; a < k; ++a) {
                    const std::size_t ua = u(a);
                    EXPECT_EQ(g.observed[ua], obs[ua]);
                    expectRelative(g.expected[ua], exp[ua]);
                    EXPECT_GE(exp[ua], 1.0);
                    x2 += (obs[ua] - exp[ua]) * (obs[ua] - exp[ua]) / exp[ua];
                }
            }
            EXPECT_EQ(next, maxScore);
            const int free = i < d.nb ? c.nf + 1 : k - 1 + c.nf;
            const int fixed = i == 0 && c.nf == 2 ? 1 : 0; // the first item's second loading
            EXPECT_EQ(e.df, static_cast<int>(e.groups.size()) * (k - 1) - (free - fixed));
            expectRelative(e.sx2, x2);
            expectRelative(
                e.p, boost::math::cdf(boost::math::complement(boost::math::chi_squared(e.df), x2)),
                1e-7);
            expectRelative(e.rmsea,
                           std::sqrt(std::max(x2 - e.df, 0.0) / (e.df * (fit.cases - 1.0))));
        }
    }
}

// Pooling on hand-made tables: one binary item with E = 1/2 in both categories at every
// score, so a group's expected counts are both N_G / 2 and it passes once N_G >= 2.
TEST(ItemFit, PoolsScoreGroupsFromTheExtremesInward) {
    SummedScoreTables t;
    t.maxScore = 8; // scores 1..7 used, lower part 1..4, upper part 5..7
    t.categories = {2};
    t.mostCategories = 2;
    t.expectedProp.assign(2 * 9, 0.0);
    for (int s = 0; s <= 8; ++s) t.expectedProp[u(s)] = 0.5;
    for (int s = 0; s <= 8; ++s) t.expectedProp[u(9 + s)] = 0.5;
    struct Case {
        std::vector<double> cases; // N_s, s = 0..8
        std::vector<std::pair<int, int>> groups;
    };
    const Case cases[] = {
        // Both walks close every group they open.
        {{0, 1, 0.5, 3, 5, 6, 1, 0.5, 0}, {{1, 3}, {4, 4}, {5, 7}}},
        // Leftovers 2..4 and 5..5 meet, stay short, and join the closed group below them.
        {{0, 3, 1, 0.5, 0.2, 0.1, 3, 3, 0}, {{1, 5}, {6, 6}, {7, 7}}},
        // No closed group below: the leftover joins the one just above it.
        {{0, 0.4, 0.4, 0.4, 0.4, 3, 3, 3, 0}, {{1, 5}, {6, 6}, {7, 7}}},
        // The leftovers together are enough on their own.
        {{0, 2, 1, 1, 0.5, 0.5, 2, 2, 0}, {{1, 1}, {2, 5}, {6, 6}, {7, 7}}},
        // Too few cases anywhere: one group of every score, still short.
        {{0, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0}, {{1, 7}}},
    };
    for (const Case& c : cases) {
        std::vector<double> observed;
        for (std::size_t s = 0; s < c.cases.size(); ++s) {
            observed.push_back(static_cast<double>(s));        // category 0
            observed.push_back(10.0 * static_cast<double>(s)); // category 1
        }
        const std::vector<ScoreGroup> groups = poolScoreGroups(t, 0, c.cases, observed);
        ASSERT_EQ(groups.size(), c.groups.size());
        for (std::size_t gi = 0; gi < groups.size(); ++gi) {
            const auto [low, high] = c.groups[gi];
            EXPECT_EQ(groups[gi].low, low);
            EXPECT_EQ(groups[gi].high, high);
            double n = 0.0, o0 = 0.0;
            for (int s = low; s <= high; ++s) {
                n += c.cases[u(s)];
                o0 += s;
            }
            EXPECT_DOUBLE_EQ(groups[gi].cases, n);
            EXPECT_DOUBLE_EQ(groups[gi].expected[1], n / 2);
            EXPECT_DOUBLE_EQ(groups[gi].observed[0], o0);
            EXPECT_DOUBLE_EQ(groups[gi].observed[1], 10 * o0);
        }
    }
}

// 20 binary items fitted to 3000 cases drawn from them: S-X2 p values spread over (0, 1) and
// no pair shows local dependence. Then the same with one item drawn from a response function
// that rises and falls, which the logistic model cannot follow: S-X2 finds it.
TEST(ItemFit, CalibratedOnAFittingModelAndFindsAMisfittingItem) {
    Parameters truth;
    for (int i = 0; i < 20; ++i)
        truth.binary.push_back({{-1.5 + 0.15 * i, 0.8 + 0.06 * ((i * 7) % 20), 0.0}});
    ModelState m = simulated::simulate(truth, 1, 48, 3000, 0.0, 2024);
    const Estimation est = fitModel(m);
    const ItemFit fit = itemFit(m.deck, m.params, est.grid, m.x);
    ASSERT_TRUE(fit.available) << fit.reason;
    int small = 0;
    double mean = 0.0;
    for (const ItemFitEntry& e : fit.items) {
        ASSERT_TRUE(e.available) << e.reason;
        small += e.p < 0.01;
        mean += e.p / 20.0;
        EXPECT_LT(e.rmsea, 0.03);
    }
    EXPECT_LE(small, 2);
    EXPECT_GT(mean, 0.2);
    EXPECT_LT(mean, 0.8);
    const LocalDependence ld = localDependence(m.deck, m.params, est.grid, m.x);
    ASSERT_TRUE(ld.available);
    EXPECT_EQ(ld.pairs.size(), 190u);
    EXPECT_TRUE(ld.flagged.empty());
    // Counted over groups of identical rows: the very same tables and statistics.
    DataMatrix grouped = m.x;
    groupIdenticalRows(grouped);
    ASSERT_LT(grouped.groups.firstCase.size(), static_cast<std::size_t>(m.x.rows));
    const LocalDependence byGroups = localDependence(m.deck, m.params, est.grid, grouped);
    for (std::size_t p = 0; p < ld.pairs.size(); ++p) {
        EXPECT_EQ(byGroups.pairs[p].cases, ld.pairs[p].cases);
        EXPECT_EQ(byGroups.pairs[p].observed, ld.pairs[p].observed);
        EXPECT_EQ(byGroups.pairs[p].x2, ld.pairs[p].x2);
    }

    // Item 5 redrawn to be likely only in a middle band of the other items' summed score: its
    // curve rises and falls, which no logistic curve follows.
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> unit;
    for (int k = 0; k < m.x.rows; ++k) {
        int rest = 0;
        for (int i = 0; i < 20; ++i) rest += i == 5 ? 0 : static_cast<int>(m.x(k, i));
        const double p = rest >= 6 && rest <= 11 ? 0.8 : 0.2;
        m.x.values[u(k) * 20 + 5] = unit(rng) < p ? 1.0 : 0.0;
    }
    generateStartingValues(m);
    const Estimation refit = fitModel(m);
    const ItemFit misfit = itemFit(m.deck, m.params, refit.grid, m.x);
    ASSERT_TRUE(misfit.items[5].available);
    EXPECT_LT(misfit.items[5].p, 1e-4);
}

TEST(ItemFit, SaysWhyItCannotBeComputed) {
    struct Case {
        const char* name;
        Parameters p;
        double missing;
        const char* words;
    };
    Parameters mixed = simulated::truthFor(3, 1, 0, 0, 1);
    Parameters nominal = simulated::truthFor(3, 0, 1, 0, 1);
    Parameters twoItems = smallBinary(1);
    twoItems.binary.resize(2);
    const Case cases[] = {{"normal item", mixed, 0.0, "normal or nominal"},
                          {"nominal item", nominal, 0.0, "normal or nominal"},
                          {"missing responses", smallBinary(1), 0.02, "missing response"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelState m = simulated::simulate(c.p, 1, 48, 500, c.missing, 5);
        const ItemFit fit = itemFit(m.deck, c.p, makeGrid(48, 1), m.x);
        EXPECT_FALSE(fit.available);
        EXPECT_TRUE(fit.items.empty());
        EXPECT_NE(fit.reason.find(c.words), std::string::npos) << fit.reason;
        EXPECT_EQ(fit.reason, itemFitUnavailable(m.deck, m.x));
    }
    // Two binary items: one score group (S = 1) cannot carry an item's two parameters.
    ModelState two = simulated::simulate(twoItems, 1, 48, 500, 0.0, 5);
    const ItemFit fit = itemFit(two.deck, twoItems, makeGrid(48, 1), two.x);
    ASSERT_TRUE(fit.available) << fit.reason;
    for (const ItemFitEntry& e : fit.items) {
        EXPECT_FALSE(e.available);
        EXPECT_NE(e.reason.find("degrees of freedom"), std::string::npos) << e.reason;
    }
    // A response outside the item's categories.
    two.x.values[3] = 2.0;
    EXPECT_NE(itemFitUnavailable(two.deck, two.x).find("case 2"), std::string::npos);
    // A test too short for any pair: local dependence says so too.
    Parameters one = smallBinary(1);
    one.binary.resize(1);
    ModelState single = simulated::simulate(one, 1, 48, 100, 0.0, 5);
    const LocalDependence ld = localDependence(single.deck, one, makeGrid(48, 1), single.x);
    EXPECT_FALSE(ld.available);
    EXPECT_NE(ld.reason.find("fewer than two"), std::string::npos);
}

// LD X2 against the enumerated two-way margins, with missing responses left out pair by pair,
// on a mixed binary/ordinal model whose data copy item 0 into item 1 for some cases and the
// reverse of item 2 into item 3 for others.
TEST(LocalDependence, TablesSignsAndMissingResponses) {
    Parameters p = smallBinary(1);
    for (const OrdinalItem& o : smallOrdinal(1).ordinal) p.ordinal.push_back(o);
    ModelState m = simulated::simulate(p, 1, 48, 3000, 0.05, 31);
    std::mt19937_64 rng(4);
    std::uniform_real_distribution<double> unit;
    const int cols = m.x.cols;
    for (int k = 0; k < m.x.rows; ++k) {
        double* row = m.x.values.data() + u(k) * cols;
        if (unit(rng) < 0.3 && !isMissing(row[0]) && !isMissing(row[1])) row[1] = row[0];
        if (unit(rng) < 0.3 && !isMissing(row[2]) && !isMissing(row[3])) row[3] = 1.0 - row[2];
    }
    const Grid grid = makeGrid(48, 1);
    const Deck& d = m.deck;
    const LocalDependence ld = localDependence(d, p, grid, m.x);
    ASSERT_TRUE(ld.available);
    ASSERT_EQ(ld.pairs.size(), 36u);
    std::size_t at = 0;
    for (int i = 0; i < d.nv(); ++i)
        for (int j = i + 1; j < d.nv(); ++j, ++at) {
            SCOPED_TRACE(std::to_string(i) + "," + std::to_string(j));
            const ItemPairDependence& r = ld.pairs[at];
            EXPECT_EQ(r.i, i);
            EXPECT_EQ(r.j, j);
            const int ki = categories(d, i), kj = categories(d, j);
            EXPECT_EQ(r.df, (ki - 1) * (kj - 1));
            int n = 0;
            std::vector<double> obs(u(ki * kj), 0.0);
            for (int k = 0; k < m.x.rows; ++k)
                if (!isMissing(m.x(k, i)) && !isMissing(m.x(k, j))) {
                    ++n;
                    obs[u(scoreOf(d, i, m.x(k, i)) * kj + scoreOf(d, j, m.x(k, j)))] += 1.0;
                }
            EXPECT_EQ(r.cases, n);
            double x2 = 0.0;
            for (int a = 0; a < ki; ++a)
                for (int b = 0; b < kj; ++b) {
                    double e = 0.0;
                    for (int g = 0; g < grid.size; ++g) {
                        const double z = grid.z1[u(g)];
                        e += grid.w[u(g)] * categoryProb(d, p, i, a, z, 0) *
                             categoryProb(d, p, j, b, z, 0);
                    }
                    e *= n;
                    const std::size_t cell = u(a * kj + b);
                    expectRelative(r.expected[cell], e);
                    EXPECT_EQ(r.observed[cell], obs[cell]);
                    x2 += (obs[cell] - e) * (obs[cell] - e) / e;
                }
            expectRelative(r.x2, x2);
            EXPECT_NEAR(std::abs(r.signedCramersV), std::sqrt(x2 / (n * (std::min(ki, kj) - 1))),
                        1e-12);
            if (i == 0 && j == 1) {
                EXPECT_TRUE(r.flagged);
                EXPECT_GT(r.signedCramersV, 0.1);
            }
            if (i == 2 && j == 3) {
                EXPECT_TRUE(r.flagged);
                EXPECT_LT(r.signedCramersV, -0.1);
            }
        }
    // The flagged list points at the flagged pairs.
    for (int f : ld.flagged) EXPECT_TRUE(ld.pairs[u(f)].flagged);
}

// A planted dependence among ten binary items survives a fitted model: the copying pair is
// the only one flagged.
TEST(LocalDependence, FlagsAPlantedPairAfterAFit) {
    Parameters truth;
    for (int i = 0; i < 10; ++i)
        truth.binary.push_back({{-1.0 + 0.2 * i, 1.0 + 0.1 * (i % 4), 0.0}});
    ModelState m = simulated::simulate(truth, 1, 48, 3000, 0.0, 8);
    std::mt19937_64 rng(12);
    std::uniform_real_distribution<double> unit;
    for (int k = 0; k < m.x.rows; ++k)
        if (unit(rng) < 0.3) m.x.values[u(k) * 10 + 7] = m.x(k, 4);
    generateStartingValues(m);
    const Estimation est = fitModel(m);
    const LocalDependence ld = localDependence(m.deck, m.params, est.grid, m.x);
    ASSERT_EQ(ld.flagged.size(), 1u);
    const ItemPairDependence& r = ld.pairs[u(ld.flagged[0])];
    EXPECT_EQ(r.i, 4);
    EXPECT_EQ(r.j, 7);
    EXPECT_GT(r.signedCramersV, 0.0);
}

} // namespace
