#include "ploven/simulate.hpp"

#include "helpers.hpp"

#include <cmath>
#include <sstream>

using namespace testing_ploven;

TEST(Genlcr, ClassSizesRowsAndUniforms) {
    EXPECT_EQ(ploven::classSizes(100, {0.337, 0.663}), (std::vector<long long>{33, 67}));
    EXPECT_EQ(ploven::classSizes(10, {0.25, 0.25, 0.5}), (std::vector<long long>{2, 2, 6}));
    EXPECT_EQ(ploven::classSizes(10, {0.6, 0.6, 0.0}),
              (std::vector<long long>{6, 6, 0})); // never negative

    EXPECT_EQ(ploven::UniformSource::unit(0), 0.0f);
    EXPECT_LT(ploven::UniformSource::unit(0xFFFFFFFFu), 1.0f);
    EXPECT_EQ(ploven::UniformSource::unit(0x80000000u), 0.5f);

    // Rows are filled class by class: class 1 always answers 1, class 2 always 0.
    ploven::UniformSource u;
    std::vector<long long> sizes;
    const ploven::PatternTable rows =
        ploven::simulateResponses(10, model({{1.0, 0.0}, {1.0, 0.0}}, {0.3, 0.7}), u, &sizes);
    EXPECT_EQ(sizes, (std::vector<long long>{3, 7}));
    EXPECT_EQ(rows.x, (std::vector<std::uint8_t>{1, 1, 1, 1, 1, 1, 0, 0, 0, 0,
                                                 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(Study, MeansApproachTheGeneratingValues) {
    const ploven::Estimates truth = model({{.15, .85}, {.2, .9}, {.1, .7}, {.25, .8}}, {.4, .6});
    const ploven::StudyResult r = ploven::study(truth, 1500, 1e-8, 20, false);
    ASSERT_EQ(r.error, ploven::ErrorCode::None);
    // One line of priors per sample; four items by two classes in F5.3 fields.
    EXPECT_EQ(std::count(r.etas.begin(), r.etas.end(), '\n'), 20);
    EXPECT_EQ(r.pis.find('\n'), 40u);

    // The means in the report lie near the generating values (label order kept by the start).
    std::istringstream report(r.report);
    std::string line;
    while (std::getline(report, line) && !contains(line, "(PIS)")) {
    }
    for (int j = 0; j < 4; ++j) {
        ASSERT_TRUE(std::getline(report, line));
        for (int k = 0; k < 2; ++k)
            EXPECT_NEAR(std::stod(line.substr(6 + 19 * k, 8)), truth.PI(j, k), 0.03) << line;
    }
    EXPECT_TRUE(contains(r.report, "     TOTAL SIMULATIONS:     20\n"));

    // The samples are fitted as the main fit is, to certified maxima: accelerated EM finds the
    // same estimates to the three decimals the files keep (a value on a rounding edge may
    // print one unit apart).
    const ploven::StudyResult fast = ploven::study(truth, 1500, 1e-8, 20, false, {true});
    ASSERT_EQ(fast.error, ploven::ErrorCode::None);
    for (const auto& [a, b] : {std::pair{&fast.etas, &r.etas}, std::pair{&fast.pis, &r.pis}}) {
        ASSERT_EQ(a->size(), b->size());
        for (std::size_t at = 0; at + 5 <= a->size(); at += 5) {
            if ((*a)[at] == '\n') ++at; // lines of whole F5.3 fields
            if (at + 5 > a->size()) break;
            EXPECT_NEAR(std::stod(a->substr(at, 5)), std::stod(b->substr(at, 5)), 0.0011) << at;
        }
    }
}
