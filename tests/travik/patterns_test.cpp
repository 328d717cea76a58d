// Pattern folding: the worked examples, and the hashed folding and the grouping of identical
// rows against a literal transcription of the case-by-case comparison on random decks.
#include "travik/patterns.hpp"
#include "travik/simulated_data.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>

using namespace travik;

namespace {

DataMatrix matrix(int cols, std::vector<double> values) {
    return {static_cast<int>(values.size()) / cols, cols, std::move(values), {}};
}

// Compare every case with every later one, mark the later copies, then compact.
PatternTable quadraticFold(const DataMatrix& x, int first, int items) {
    const int n = x.rows;
    std::vector<std::vector<double>> t(n);
    for (int k = 0; k < n; ++k)
        for (int i = 0; i < items; ++i) t[k].push_back(std::trunc(x(k, first + i)));
    std::vector<int> freq(n, 1);
    for (int k = 0; k < n - 1; ++k) {
        if (freq[k] == 0) continue;
        for (int l = k + 1; l < n; ++l)
            if (freq[l] != 0 && t[l] == t[k]) ++freq[k], freq[l] = 0;
    }
    PatternTable out;
    out.items = items;
    for (int k = 0; k < n; ++k)
        if (freq[k] != 0) {
            out.responses.insert(out.responses.end(), t[k].begin(), t[k].end());
            out.freq.push_back(freq[k]);
            out.firstCase.push_back(k);
        }
    return out;
}

} // namespace

TEST(PatternFolding, Examples) {
    PatternTable t = foldPatterns(matrix(2, {1, 0, 0, 1, 1, 0, 1, 1, 0, 1}), 0, 2);
    EXPECT_EQ(t.responses, (std::vector<double>{1, 0, 0, 1, 1, 1}));
    EXPECT_EQ(t.freq, (std::vector<int>{2, 2, 1}));
    EXPECT_EQ(t.firstCase, (std::vector<int>{0, 1, 3}));
    // 1.9 is 1; 999 and 999.5 are both missing; -0.4 and 0.3 are both 0.
    t = foldPatterns(matrix(2, {1.9, 999, 1, 999.5, -0.4, 2, 0.3, 2}), 0, 2);
    EXPECT_EQ(t.freq, (std::vector<int>{2, 2}));
    // A missing response prints as asterisks; any other value as its integer part, widened.
    EXPECT_EQ(fixedio::Layout("2I2").format({printedResponse(t.row(0)[1]), printedResponse(-0.4)}),
              "** 0\n");
    EXPECT_EQ(fixedio::Layout("I2").format({printedResponse(523.7)}), "523\n");
    EXPECT_EQ(foldPatterns(matrix(3, {1, 0, 1}), 0, 3).freq, std::vector<int>{1});
    EXPECT_EQ(foldPatterns(matrix(1, {0, 0, 0, 0}), 0, 1).freq, std::vector<int>{4});
    EXPECT_EQ(foldPatterns(matrix(1, {3, 1, 2}), 0, 1).responses, (std::vector<double>{3, 1, 2}));
}

TEST(PatternFolding, HashingMatchesTheCaseByCaseComparison) {
    std::mt19937 rng(7);
    const double binary[] = {0, 1, 1.9, 999, 999.5, -0.3, 2};
    for (int deck = 0; deck < 20; ++deck) {
        ModelState m =
            travik::simulated::simulate(travik::simulated::truthFor(1 + deck % 4, 1, 2, 2, 1), 1, 8,
                                        1 + 40 * deck, 0.05 * (deck % 3), deck);
        DataMatrix& x = m.x;
        for (int k = 0; k < x.rows; ++k)
            for (int i = 0; i < m.deck.nb; ++i) x.values[k * x.cols + i] = binary[rng() % 7];
        const Deck& d = m.deck;
        const PatternTable got[] = {foldPatterns(x, 0, d.nb), foldPolytomous(m, 1),
                                    foldPolytomous(m, 2)};
        const PatternTable want[] = {quadraticFold(x, 0, d.nb),
                                     quadraticFold(x, d.nominalColumn(0), d.nc),
                                     quadraticFold(x, d.ordinalColumn(0), d.no)};
        for (int type = 0; type < 3; ++type) {
            EXPECT_EQ(got[type].responses, want[type].responses) << deck << " " << type;
            EXPECT_EQ(got[type].freq, want[type].freq) << deck << " " << type;
            EXPECT_EQ(got[type].firstCase, want[type].firstCase) << deck << " " << type;
        }

        // Whole rows, value for value (1.9 is not 1 here): every case against every earlier
        // one. A group starts at its earliest case; the groups run in increasing order of
        // their rows, compared as vectors of bit patterns.
        for (int k = 0; k < x.rows; k += 3) // repeats, so that groups have several cases
            for (int c = 0; c < x.cols; ++c) x.values[k * x.cols + c] = x((k / 3) % 5, c);
        groupIdenticalRows(x);
        const RowGroups& g = x.groups;
        auto bits = [&](int k) {
            std::vector<std::uint64_t> b;
            for (int c = 0; c < x.cols; ++c) b.push_back(std::bit_cast<std::uint64_t>(x(k, c)));
            return b;
        };
        ASSERT_EQ(g.groupOfCase.size(), static_cast<std::size_t>(x.rows));
        std::vector<double> counted(g.count.size(), 0.0);
        for (int k = 0; k < x.rows; ++k) {
            int earliest = k;
            for (int l = 0; l < k; ++l)
                if (bits(l) == bits(k)) {
                    earliest = l;
                    break;
                }
            EXPECT_EQ(g.firstCase[g.groupOfCase[k]], earliest) << deck << " case " << k;
            counted[g.groupOfCase[k]] += 1.0;
        }
        EXPECT_EQ(counted, g.count) << deck;
        for (std::size_t j = 1; j < g.firstCase.size(); ++j)
            EXPECT_LT(bits(g.firstCase[j - 1]), bits(g.firstCase[j])) << deck;
    }
}
