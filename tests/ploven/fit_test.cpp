#include "ploven/fit.hpp"

#include "helpers.hpp"

#include <cmath>

using namespace testing_ploven;

TEST(Gftest, PoolsSparsePatternsSmallestFirst) {
    // 1, 1, 2, 3 pool until the observed count reaches 5 (at 7); 7 enters alone.
    std::vector<int> f = {3, 1, 7, 2, 1};
    std::vector<double> e = {2.5, 1.5, 6.0, 2.5, 0.75};
    ploven::FitStatistics s = ploven::pooledFitStatistics(f, e, 20);
    EXPECT_EQ(s.ngrp, 4);
    const double pooledE = 2.5 + 1.5 + 2.5 + 0.75, rest = 20 - (2.5 + 1.5 + 6.0 + 2.5 + 0.75);
    EXPECT_NEAR(s.gsquare, 2 * (7 * std::log(7 / pooledE) + 7 * std::log(7 / 6.0)), 1e-12);
    EXPECT_NEAR(s.chisquare, std::pow(7 - pooledE, 2) / pooledE + 1.0 / 6 + rest, 1e-12);

    // 1, 2 stay short of 5: the open pool is dropped but its patterns are counted.
    s = ploven::pooledFitStatistics(std::vector<int>{2, 9, 1}, std::vector<double>{1.0, 10.0, 2.0},
                                    14);
    EXPECT_EQ(s.ngrp, 2);
    EXPECT_NEAR(s.gsquare, 2 * 9 * std::log(0.9), 1e-12);
    EXPECT_NEAR(s.chisquare, 0.1 + 1.0, 1e-12);

    // All frequent: the full-table statistics, up to the single-precision rest of
    // fullTableStatistics.
    f = {5, 8, 12};
    e = {6.1, 7.3, 10.9};
    s = ploven::pooledFitStatistics(f, e, 26);
    const ploven::FitStatistics full = ploven::fullTableStatistics(f, e, 26);
    EXPECT_EQ(s.ngrp, 0);
    EXPECT_EQ(full.error, ploven::ErrorCode::None);
    EXPECT_DOUBLE_EQ(s.gsquare, full.gsquare);
    EXPECT_NEAR(s.chisquare, full.chisquare, 1e-6);

    // A zero expected count is left out rather than divided by.
    s = ploven::pooledFitStatistics(std::vector<int>{6, 5}, std::vector<double>{0.0, 5.0}, 11);
    EXPECT_DOUBLE_EQ(s.gsquare, 0.0);
    EXPECT_DOUBLE_EQ(s.chisquare, 6.0);
}

TEST(Lktest, ZeroFrequencyOrExpectationIsSignalled) {
    const std::vector<double> e = {4.0, 3.0, 2.0};
    ploven::FitStatistics s = ploven::fullTableStatistics(std::vector<int>{5, 0, 4}, e, 10);
    EXPECT_EQ(s.error, ploven::ErrorCode::ZeroFrequency);
    // The flagged pattern is skipped; the others still count, and so does the rest 10 - 9.
    EXPECT_NEAR(s.chisquare, 0.25 + 2.0 + 1.0, 1e-6);
    EXPECT_NEAR(s.gsquare, 2 * (5 * std::log(1.25) + 4 * std::log(2.0)), 1e-12);
    EXPECT_EQ(ploven::fullTableStatistics(std::vector<int>{5, 4}, std::vector<double>{4.0, 1e-7}, 9)
                  .error,
              ploven::ErrorCode::ZeroFrequency);
    EXPECT_EQ(
        ploven::fullTableStatistics(std::vector<int>{5, 4}, std::vector<double>{4.0, 3.0}, 9).error,
        ploven::ErrorCode::None);
}

TEST(Margins, TablesAndRowsForThreeItems) {
    const ploven::Estimates m = model({{.2, .7}, {.4, .9}, {.1, .6}}, {.35, .65});
    const ploven::PatternTable data = sample(m, 300);
    const ploven::MarginTables t = ploven::computeMargins(data, m, 300);
    for (int I = 0; I < 3; ++I) {
        for (int J = 0; J < 3; ++J) {
            if (I == J) continue;
            for (int a = 0; a < 2; ++a) {
                for (int b = 0; b < 2; ++b) {
                    long long o = 0;
                    for (int i = 0; i < data.size(); ++i)
                        if (data.response(i, I) == a && data.response(i, J) == b) o += data.freq[i];
                    double e = 0.0;
                    for (int k = 0; k < 2; ++k)
                        e += m.eta[k] * (a ? m.PI(I, k) : 1 - m.PI(I, k)) *
                             (b ? m.PI(J, k) : 1 - m.PI(J, k));
                    EXPECT_EQ(t.obs(a, b, I, J), o);
                    EXPECT_NEAR(t.exp(a, b, I, J), 300 * e, 1e-9);
                }
            }
        }
    }
    long long o111 = 0;
    for (int i = 0; i < data.size(); ++i)
        if (data.response(i, 0) && data.response(i, 1) && data.response(i, 2)) o111 += data.freq[i];
    ASSERT_EQ(t.observed111.size(), 1u);
    EXPECT_EQ(t.observed111[0], o111);

    // Rows: (0,0) and (1,1) list (2,1), (3,1), (3,2); the mixed blocks all six ordered pairs.
    std::istringstream report(ploven::marginReport(t));
    std::vector<std::string> rows;
    int blocks = 0;
    for (std::string line; std::getline(report, line);) {
        if (contains(line, "RESPONSE ("))
            ++blocks;
        else if (line.size() > 17 && std::isdigit(static_cast<unsigned char>(line[5])))
            rows.push_back(std::to_string(blocks) + ":" + line[5] + line[11] +
                           (blocks == 5 ? line.substr(17, 1) : ""));
    }
    EXPECT_EQ(rows,
              (std::vector<std::string>{"1:21", "1:31", "1:32", "2:12", "2:13", "2:21", "2:23",
                                        "2:31", "2:32", "3:12", "3:13", "3:21", "3:23", "3:31",
                                        "3:32", "4:21", "4:31", "4:32", "5:123"}));
}

TEST(Margins, RowsCountedForTheMemoryCheckAreThoseOfTheReport) {
    const ploven::Estimates m = model({{.2, .8}, {.3, .7}, {.6, .1}, {.5, .5}, {.9, .4}}, {.5, .5});
    const std::string report = ploven::marginReport(ploven::computeMargins(sample(m, 100), m, 100));
    const std::string second = report.substr(0, report.find("THIRD ORDER"));
    std::istringstream in(second);
    int rows = 0;
    for (std::string line; std::getline(in, line);)
        if (line.find_first_of("0123456789") != std::string::npos &&
            std::none_of(line.begin(), line.end(), ::isalpha))
            ++rows;
    EXPECT_EQ(rows, 60);
    EXPECT_EQ(ploven::marginRows(5), 60.0);
    EXPECT_EQ(ploven::marginsBytes(10), ploven::marginsBytes(5) * ploven::marginRows(10) / 60.0);
}
