// Many starts: the maximum that plain EM from many random starts finds, the single-start
// report where the band start is right, reproducible seeds, a stable class order, the
// replication warning and the iteration cap.
#include "ploven/multistart.hpp"

#include "helpers.hpp"
#include "ploven/report.hpp"

#include <cmath>
#include <limits>
#include <random>

using namespace testing_ploven;
using ploven::MultiStartFit;
using ploven::MultiStartOptions;
using ploven::PatternTable;

namespace {

// Three classes that differ in profile more than in level: the score bands mix them, so the
// band start ends at a maximum far below the best one.
const PatternTable& profileData() {
    static const PatternTable data = sample(model({{.9, .1, .1},
                                                   {.1, .1, .9},
                                                   {.1, .1, .1},
                                                   {.9, .9, .1},
                                                   {.1, .9, .9},
                                                   {.9, .1, .1},
                                                   {.1, .9, .1},
                                                   {.1, .9, .1}},
                                                  {1 / 3.0, 1 / 3.0, 1 / 3.0}),
                                            1000);
    return data;
}

// The best loglikelihood of textbook EM (posteriors, then closed-form updates) from starts
// random starts of its own, each run until it gains less than 1e-10.
double plainEmMaximum(const PatternTable& d, int K, int starts) {
    const int P = d.nitem;
    std::mt19937_64 g(2024);
    double best = -std::numeric_limits<double>::infinity();
    for (int s = 0; s < starts; ++s) {
        std::vector<double> pi(static_cast<std::size_t>(P) * K), eta(K, 1.0 / K);
        for (double& p : pi) p = 0.05 + 0.9 * (static_cast<double>(g() >> 11) * 0x1p-53);
        double previous = -std::numeric_limits<double>::infinity(), loglik = 0.0;
        for (int it = 0; it < 20000; ++it) {
            std::vector<double> classTotal(K, 0.0), positive(pi.size(), 0.0), f(K);
            loglik = 0.0;
            for (int i = 0; i < d.size(); ++i) {
                double mixture = 0.0;
                for (int k = 0; k < K; ++k) {
                    f[k] = eta[k];
                    for (int j = 0; j < P; ++j)
                        f[k] *= d.response(i, j) ? pi[j * K + k] : 1 - pi[j * K + k];
                    mixture += f[k];
                }
                loglik += d.freq[i] * std::log(mixture);
                for (int k = 0; k < K; ++k) {
                    const double w = d.freq[i] * f[k] / mixture;
                    classTotal[k] += w;
                    for (int j = 0; j < P; ++j) positive[j * K + k] += w * d.response(i, j);
                }
            }
            double n = 0.0;
            for (int f : d.freq) n += f;
            for (int k = 0; k < K; ++k) {
                eta[k] = classTotal[k] / n;
                for (int j = 0; j < P; ++j) pi[j * K + k] = positive[j * K + k] / classTotal[k];
            }
            if (loglik - previous < 1e-10) break;
            previous = loglik;
        }
        best = std::max(best, loglik);
    }
    return best;
}

const ploven::FinalRun& bandRun(const ploven::MultiStartOutcome& o) {
    for (const ploven::FinalRun& run : o.runs)
        if (run.origin == ploven::kBandStart) return run;
    throw std::logic_error("no band start");
}

// The patterns as a pattern-input deck.
std::string patternDeck(const PatternTable& d, int K, const std::string& limits,
                        const std::string& flags = "0 0 0 0 0 0") {
    std::string deck = "Profiles\n" + std::to_string(d.size()) + " " + std::to_string(K) + " " +
                       std::to_string(d.nitem) + " 1 " + flags + "\n" + limits + "\n";
    for (int i = 0; i < d.size(); ++i) {
        deck += std::to_string(d.freq[i]);
        for (int j = 0; j < d.nitem; ++j) deck += d.response(i, j) ? " 1" : " 0";
        deck += "\n";
    }
    return deck;
}

// The lines of text from the line holding `from` up to (not including) the one holding `to`.
std::string section(const std::string& text, const std::string& from, const std::string& to) {
    const auto a = text.find(from);
    const auto b = text.find(to, a);
    return a == std::string::npos || b == std::string::npos ? "" : text.substr(a, b - a);
}

} // namespace

TEST(MultiStart, ReachesTheMaximumOfManyPlainEmStartsWhereTheBandStartFails) {
    const PatternTable& d = profileData();
    const double maximum = plainEmMaximum(d, 3, 30);
    const MultiStartFit fit = ploven::fitFromManyStarts(d, 3, 1000, 1e-7, 3000);
    ASSERT_EQ(fit.fit.ierr, 0);
    ASSERT_LT(bandRun(fit.outcome).loglik, maximum - 100.0); // the band start is far off here
    EXPECT_NEAR(fit.fit.loglik, maximum, 1e-3);
    EXPECT_GE(fit.outcome.replicated, 2);
    EXPECT_NE(fit.outcome.runs[fit.outcome.reported].origin, ploven::kBandStart);

    // The reported posteriors belong to the reported estimates, class by class, and the
    // classes rise in mean item probability.
    for (int i = 0; i < d.size(); ++i) {
        const double total = ploven::exfrq(d.row(i), fit.est, 1);
        for (int k = 0; k < 3; ++k) {
            ploven::Estimates one = fit.est;
            for (int m = 0; m < 3; ++m) one.eta[m] = m == k ? fit.est.eta[k] : 0.0;
            EXPECT_NEAR(fit.post.H(k, i), ploven::exfrq(d.row(i), one, 1) / total, 1e-12);
        }
    }
    auto level = [&](int k) {
        double s = 0.0;
        for (int j = 0; j < d.nitem; ++j) s += fit.est.PI(j, k);
        return s;
    };
    EXPECT_LT(level(0), level(1));
    EXPECT_LT(level(1), level(2));
}

TEST(MultiStart, KeepsTheSingleStartReportWhereTheBandStartIsRight) {
    for (const char* name : {"cases-with-ids.inp", "patterns.inp"}) {
        const std::string deck = slurp(fs::path(PLOVEN_EXAMPLES_DIR) / name);
        Folder many("many"), one("one");
        ASSERT_EQ(runDeck(many, deck).status, 0) << name;
        ASSERT_EQ(runDeck(one, deck, "latc.inp", starts(0, 1)).status, 0) << name;
        const std::string report = many.read("LATC7.OUT");
        EXPECT_EQ(withoutClosingBlocks(report), withoutClosingBlocks(one.read("LATC7.OUT")));
        EXPECT_TRUE(contains(report, "     RANDOM STARTS:    20     SEED:                    1"));
        EXPECT_TRUE(contains(report, "\n     REPORTED: THE SOLUTION OF THE BAND START\n"));
        for (const char* file : {"LATC8.OUT", "LATC9.OUT", "ETAS.OUT", "PIS.OUT"})
            EXPECT_EQ(many.read(file), one.read(file)) << name << " " << file;
    }

    // --starts 0: the single band start and a short block without a replication line.
    Folder f;
    const RunResult r =
        runDeck(f, patternDeck(profileData(), 3, "0 0 0"), "latc.inp", starts(0, 1));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string report = f.read("LATC7.OUT");
    EXPECT_TRUE(withoutConvergenceBlock(report).ends_with(
        "\n\n     STARTING VALUES\n"
        "     ONE DETERMINISTIC START FROM THE SCORE BANDS; NO RANDOM STARTS\n"))
        << report;
    EXPECT_EQ(checkValue(report, "MAXIMUM"), "CERTIFIED (REMAINING GAIN BELOW 1.000E-06)");
    ploven::Estimates est;
    ploven::Posteriors post;
    const ploven::EmResult band = ploven::emalg(profileData(), 3, 1000, 1e-7, 3000, est, post);
    EXPECT_TRUE(
        contains(report, ploven::report::likelihood(band.loglik, band.change, band.iterations)));
}

TEST(MultiStart, SeedReproducesTheDigitsAndAnotherSeedTheSameTable) {
    // The best starts of seeds 6 and 8 find the classes in different orders.
    const std::string deck = patternDeck(profileData(), 3, "1.0E-10 0 0", "0 0 0 0 0 0");
    Folder a("a"), b("b"), c("c");
    ASSERT_EQ(runDeck(a, deck, "latc.inp", starts(20, 6)).status, 0);
    ASSERT_EQ(runDeck(b, deck, "latc.inp", starts(20, 6)).status, 0);
    ASSERT_EQ(runDeck(c, deck, "latc.inp", starts(20, 8)).status, 0);
    for (const char* file : {"LATC7.OUT", "LATC9.OUT"}) EXPECT_EQ(a.read(file), b.read(file));
    const std::string first = a.read("LATC7.OUT"), other = c.read("LATC7.OUT");
    EXPECT_TRUE(contains(first, "SEED:                    6"));
    EXPECT_TRUE(contains(other, "SEED:                    8"));

    // Both seeds report a random start's solution; estimates and modal classes agree.
    for (const std::string* report : {&first, &other})
        EXPECT_TRUE(contains(*report, "     REPORTED: THE SOLUTION OF RANDOM START"));
    EXPECT_NE(section(first, "FINAL STAGE", "RUNS THAT"),
              section(other, "FINAL STAGE", "RUNS THAT"));
    const std::string table = section(first, "ESTIMATED PI-MATRIX:", "ESTIMATED LIKELIHOOD");
    EXPECT_FALSE(table.empty());
    EXPECT_EQ(table, section(other, "ESTIMATED PI-MATRIX:", "ESTIMATED LIKELIHOOD"));
    EXPECT_EQ(section(first, "SUMMARY RESULTS", "No. OBSERVED"),
              section(other, "SUMMARY RESULTS", "No. OBSERVED"));
}

TEST(MultiStart, WarnsWhenOnlyOneRunReachesTheBest) {
    // One random start that beats the band start: the best is reached once.
    ploven::MultiStartOptions one;
    one.starts = 1;
    one.seed = 1;
    const MultiStartFit single = ploven::fitFromManyStarts(profileData(), 3, 1000, 1e-7, 3000, one);
    ASSERT_EQ(single.outcome.replicated, 1);
    const std::string warning =
        "     THE BEST LOGLIKELIHOOD WAS NOT REPLICATED; RUN AGAIN WITH MORE STARTS\n";
    Folder f("one"), g("many");
    ASSERT_EQ(runDeck(f, patternDeck(profileData(), 3, "0 0 0"), "latc.inp", starts(1, 1)).status,
              0);
    EXPECT_TRUE(withoutConvergenceBlock(f.read("LATC7.OUT")).ends_with(warning));
    ASSERT_EQ(runDeck(g, patternDeck(profileData(), 3, "0 0 0")).status, 0);
    EXPECT_FALSE(contains(g.read("LATC7.OUT"), warning));
}

TEST(MultiStart, BandStartAtTheIterationCapGivesWayToAConvergedStart) {
    const PatternTable& d = profileData();
    const MultiStartFit free = ploven::fitFromManyStarts(d, 3, 1000, 1e-7, 3000);
    int fastest = std::numeric_limits<int>::max();
    for (const ploven::FinalRun& run : free.outcome.runs)
        if (run.origin != ploven::kBandStart) fastest = std::min(fastest, run.iterations);
    const int bandCounter = bandRun(free.outcome).iterations;
    ASSERT_LT(fastest, bandCounter - 1); // some random start needs fewer cycles

    // One cycle short for the band start, enough for the fastest random start.
    const std::string capped = "0 " + std::to_string(bandCounter - 2) + " 0";
    Folder f("capped");
    ASSERT_EQ(runDeck(f, patternDeck(d, 3, capped)).status, 0);
    const std::string report = f.read("LATC7.OUT");
    EXPECT_TRUE(contains(report, "  NOT CONVERGED\n"));
    EXPECT_TRUE(contains(report, "     REPORTED: THE SOLUTION OF RANDOM START"));

    // No run converges: the cap's error line ends the report, as with a single start.
    Folder g("none");
    EXPECT_EQ(runDeck(g, patternDeck(d, 3, "0 3 0")).status, 1);
    const std::string failed = g.read("LATC7.OUT");
    EXPECT_TRUE(withoutConvergenceBlock(failed).ends_with(
        "    *** ERROR *** MAXIMUM NUMBER OF ITERATIONS EXECUTED\n"));
    EXPECT_EQ(checkValue(failed, "MAXIMUM"),
              "NOT CERTIFIED: MAXIT CYCLES RAN OUT BEFORE EM MET ITS STOP RULE");
    EXPECT_EQ(checkValue(failed, "EM CYCLES"), "3");
}

TEST(MultiStart, ClassesAreRenumberedWithTheirPosteriors) {
    ploven::Estimates est = model({{.9, .2, .5}, {.7, .1, .5}}, {.5, .3, .2}); // means .8 .15 .5
    std::vector<double> h = {.6, .3, .1, .2, .2, .6};                          // two patterns
    ploven::orderClassesByLevel(est, h, 2);
    EXPECT_EQ(est.pi, (std::vector<double>{.2, .5, .9, .1, .5, .7}));
    EXPECT_EQ(est.eta, (std::vector<double>{.3, .2, .5}));
    EXPECT_EQ(h, (std::vector<double>{.3, .1, .6, .2, .6, .2}));
}
