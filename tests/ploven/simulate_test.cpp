#include "ploven/simulate.hpp"

#include "ploven/classify.hpp"
#include "ploven/multistart.hpp"
#include "ploven/standard_errors.hpp"

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

namespace {

// Everything a fit with standard errors and classification gives, to compare bit for bit.
struct FitOutputs {
    ploven::MultiStartFit fit;
    ploven::StandardErrors se;
    std::vector<int> modal;
    ploven::Matrix rounded;
};

FitOutputs fitOn(const ploven::PatternTable& data, long long ncase, int K, bool accelerate,
                 ploven::PatternLoops loops) {
    FitOutputs o;
    ploven::MultiStartOptions options;
    options.starts = 6;
    options.method.accelerate = accelerate;
    options.method.loops = loops;
    o.fit = ploven::fitFromManyStarts(data, K, ncase, 1e-9, 3000, options);
    std::FILE* sink = std::tmpfile();
    o.se = ploven::standardErrors(data, o.fit.est, o.fit.post, ploven::Console{nullptr, sink});
    std::fclose(sink);
    o.modal = ploven::modalClasses(o.fit.post, data.size());
    o.rounded = ploven::informationMatrix(data, o.fit.est, o.fit.post);
    return o;
}

void expectSame(const FitOutputs& a, const FitOutputs& b, int threads) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    EXPECT_EQ(a.fit.fit.error, b.fit.fit.error);
    EXPECT_EQ(a.fit.fit.loglik, b.fit.fit.loglik);
    EXPECT_EQ(a.fit.fit.iterations, b.fit.fit.iterations);
    EXPECT_EQ(a.fit.est.pi, b.fit.est.pi);
    EXPECT_EQ(a.fit.est.eta, b.fit.est.eta);
    EXPECT_EQ(a.fit.post.h, b.fit.post.h);
    EXPECT_EQ(a.fit.outcome.reported, b.fit.outcome.reported);
    ASSERT_EQ(a.fit.outcome.runs.size(), b.fit.outcome.runs.size());
    for (std::size_t r = 0; r < a.fit.outcome.runs.size(); ++r) {
        EXPECT_EQ(a.fit.outcome.runs[r].origin, b.fit.outcome.runs[r].origin);
        EXPECT_EQ(a.fit.outcome.runs[r].loglik, b.fit.outcome.runs[r].loglik);
        EXPECT_EQ(a.fit.outcome.runs[r].iterations, b.fit.outcome.runs[r].iterations);
    }
    EXPECT_EQ(a.fit.check.convergence.remainingGain, b.fit.check.convergence.remainingGain);
    EXPECT_EQ(a.se.ok, b.se.ok);
    EXPECT_EQ(a.se.report, b.se.report);
    EXPECT_EQ(a.se.eta, b.se.eta);
    EXPECT_EQ(a.se.pi, b.se.pi);
    EXPECT_EQ(a.modal, b.modal);
    EXPECT_EQ(a.rounded.a, b.rounded.a);
}

} // namespace

// The loops over patterns run in fixed blocks whose sums are added in block order: every output
// of a fit, its standard errors, its classification and a simulation study is the same bit for
// bit on 1, 2, 3 and 8 threads. Blocks of 7 and 50 patterns make many blocks, and a few, of a
// small deck, with a last block shorter than the others.
TEST(Threads, EveryOutputIsTheSameForAnyThreadCount) {
    const ploven::Estimates truth = model({{.1, .5, .9},
                                           {.2, .6, .85},
                                           {.15, .4, .8},
                                           {.3, .7, .9},
                                           {.1, .3, .95},
                                           {.25, .5, .75},
                                           {.2, .8, .9}},
                                          {.3, .3, .4});
    const long long ncase = 1500;
    const ploven::PatternTable data = sample(truth, ncase);
    ASSERT_GT(data.size(), 30);
    ASSERT_NE(data.size() % 7, 0);
    for (bool accelerate : {false, true}) {
        for (int block : {7, 50}) {
            ploven::PatternLoops loops;
            loops.blockPatterns = block;
            const FitOutputs one = fitOn(data, ncase, 3, accelerate, loops);
            ASSERT_EQ(one.fit.fit.error, ploven::ErrorCode::None);
            ASSERT_TRUE(one.se.ok);
            for (int threads : {2, 3, 8}) {
                loops.threads = threads;
                expectSame(one, fitOn(data, ncase, 3, accelerate, loops), threads);
            }
        }
    }

    // The study draws its samples in turn from one stream whatever the threads, and refits them
    // side by side: the same report and files, and the progress told in sample order. A failed
    // sample (more classes than items: 2200) ends the study with no files.
    ploven::FitMethod method;
    method.loops.blockPatterns = 5;
    const ploven::StudyResult one = ploven::study(truth, 400, 1e-8, 11, true, method);
    ASSERT_EQ(one.error, ploven::ErrorCode::None);
    std::vector<int> seen;
    for (int threads : {2, 3, 8}) {
        method.loops.threads = threads;
        seen.clear();
        const ploven::StudyResult r = ploven::study(truth, 400, 1e-8, 11, true, method,
                                                    [&](int s, int) { seen.push_back(s); });
        EXPECT_EQ(r.report, one.report) << threads;
        EXPECT_EQ(r.etas, one.etas) << threads;
        EXPECT_EQ(r.pis, one.pis) << threads;
        EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    }
    ploven::Estimates wide = model({{.2, .5, .8}, {.3, .6, .7}}, {.3, .3, .4});
    const ploven::StudyResult failed = ploven::study(wide, 200, 1e-8, 5, false, method);
    EXPECT_EQ(failed.error, ploven::ErrorCode::TooManyClasses);
    EXPECT_TRUE(contains(failed.report, "2200"));
    EXPECT_TRUE(failed.etas.empty());
}
