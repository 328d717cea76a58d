// Many starts: the maximum that plain EM from many random starts finds, the single-start
// report where the band start is right, reproducible seeds, a stable class order, the
// replication warning and the iteration cap.
#include "ploven/multistart.hpp"

#include "helpers.hpp"
#include "ploven/report.hpp"

#include <nlohmann/json.hpp>

#include <cctype>
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

// Textbook EM (posteriors, then closed-form updates) from pi and eta, run until a cycle gains
// less than tol; returns the loglikelihood.
double textbookEm(const PatternTable& d, int K, std::vector<double>& pi, std::vector<double>& eta,
                  double tol, int cycles) {
    const int P = d.nitem;
    double previous = -std::numeric_limits<double>::infinity(), loglik = 0.0;
    for (int it = 0; it < cycles; ++it) {
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
        for (int count : d.freq) n += count;
        for (int k = 0; k < K; ++k) {
            eta[k] = classTotal[k] / n;
            for (int j = 0; j < P; ++j) pi[j * K + k] = positive[j * K + k] / classTotal[k];
        }
        if (loglik - previous < tol) break;
        previous = loglik;
    }
    return loglik;
}

// The best loglikelihood of textbook EM from starts random starts of its own, each run until
// it gains less than 1e-10.
double plainEmMaximum(const PatternTable& d, int K, int starts) {
    std::mt19937_64 g(2024);
    double best = -std::numeric_limits<double>::infinity();
    for (int s = 0; s < starts; ++s) {
        std::vector<double> pi(static_cast<std::size_t>(d.nitem) * K), eta(K, 1.0 / K);
        for (double& p : pi) p = 0.05 + 0.9 * (static_cast<double>(g() >> 11) * 0x1p-53);
        best = std::max(best, textbookEm(d, K, pi, eta, 1e-10, 20000));
    }
    return best;
}

// The maximum textbook EM reaches from the score bands (a pattern with score s starts in the
// first class k with s <= k (J + 1) / K, or in none), run until a cycle gains less than 1e-13.
double bandStartMaximum(const PatternTable& d, int K) {
    const int P = d.nitem, width = (P + 1) / K;
    std::vector<double> classTotal(K, 0.0), positive(static_cast<std::size_t>(P) * K, 0.0);
    double n = 0.0;
    for (int i = 0; i < d.size(); ++i) {
        int score = 0;
        for (int j = 0; j < P; ++j) score += d.response(i, j);
        n += d.freq[i];
        for (int k = 0; k < K; ++k) {
            if (score > (k + 1) * width) continue;
            classTotal[k] += d.freq[i];
            for (int j = 0; j < P; ++j) positive[j * K + k] += d.freq[i] * d.response(i, j);
            break;
        }
    }
    std::vector<double> pi(positive.size()), eta(K);
    for (int k = 0; k < K; ++k) {
        eta[k] = classTotal[k] / n;
        for (int j = 0; j < P; ++j) pi[j * K + k] = positive[j * K + k] / classTotal[k];
    }
    return textbookEm(d, K, pi, eta, 1e-13, 200000);
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
    ASSERT_EQ(fit.fit.error, ploven::ErrorCode::None);
    ASSERT_LT(bandRun(fit.outcome).loglik, maximum - 100.0); // the band start is far off here
    EXPECT_NEAR(fit.fit.loglik, maximum, 1e-3);
    EXPECT_GE(fit.outcome.replicated, 2);
    EXPECT_NE(fit.outcome.runs[fit.outcome.reported].origin, ploven::kBandStart);

    // The reported posteriors belong to the reported estimates, class by class, and the
    // classes rise in mean item probability.
    for (int i = 0; i < d.size(); ++i) {
        const double total = ploven::expectedFrequency(d.row(i), fit.est, 1);
        for (int k = 0; k < 3; ++k) {
            ploven::Estimates one = fit.est;
            for (int m = 0; m < 3; ++m) one.eta[m] = m == k ? fit.est.eta[k] : 0.0;
            EXPECT_NEAR(fit.post.H(k, i), ploven::expectedFrequency(d.row(i), one, 1) / total,
                        1e-12);
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
    const ploven::EmResult band =
        ploven::estimateFromBandStart(profileData(), 3, 1000, 1e-7, 3000, est, post);
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

namespace {

// A run of the pattern deck of d with K classes and the band start alone, and its results file.
struct DeckRun {
    int status = -1;
    std::string report;
    nlohmann::json doc;
};

DeckRun runBandStart(const PatternTable& d, int K, const std::string& limits,
                     bool accelerate = false, const std::string& tag = "") {
    Folder f(tag + std::to_string(K) + (accelerate ? "a" : "p") + limits);
    ploven::RunOptions o = starts(0, 1);
    if (accelerate) o.accelerate = true;
    DeckRun r;
    r.status = runDeck(f, patternDeck(d, K, limits), "latc.inp", o).status;
    r.report = f.read("LATC7.OUT");
    r.doc = nlohmann::json::parse(f.read("ploven.json"));
    return r;
}

} // namespace

TEST(CertifiedMaximum, WherePlainEmStopsShortNewtonStepsReachTheMaximumOfALongTightRun) {
    for (int K : {4, 5}) {
        SCOPED_TRACE(K);
        const double reference = bandStartMaximum(surveyOfSix(), K);
        ploven::Estimates est;
        ploven::Posteriors post;
        const ploven::EmResult em =
            ploven::estimateFromBandStart(surveyOfSix(), K, 1200, 1e-7, 3000, est, post);
        ASSERT_EQ(em.error, ploven::ErrorCode::None);
        EXPECT_LT(em.loglik, reference - 1e-6); // EM's stop rule holds short of the maximum

        const DeckRun plain = runBandStart(surveyOfSix(), K, "0 0 0");
        ASSERT_EQ(plain.status, 0) << plain.report;
        EXPECT_NEAR(plain.doc["loglikelihood"].get<double>(), reference, 1e-6);
        EXPECT_EQ(checkValue(plain.report, "PHASE THAT ENDED THE FIT"), "NEWTON STEPS AFTER EM");
        const nlohmann::json& check = plain.doc["convergence"];
        EXPECT_EQ(check["em_cycles"].get<int>() + 1, em.iterations); // EM's own cycles first
        EXPECT_LT(check["remaining_gain"].get<double>(), 1e-6);
        // The cycle counter counts the Newton steps too.
        EXPECT_EQ(plain.doc["cycles"].get<int>(),
                  check["em_cycles"].get<int>() + check["newton_steps"].get<int>());

        const DeckRun fast = runBandStart(surveyOfSix(), K, "0 0 0", true);
        ASSERT_EQ(fast.status, 0) << fast.report;
        EXPECT_NEAR(fast.doc["loglikelihood"].get<double>(), reference, 1e-6);
        EXPECT_TRUE(contains(fast.report, "  EM CYCLES (ACCELERATED) "));
        EXPECT_LT(fast.doc["convergence"]["em_cycles"].get<int>(), check["em_cycles"].get<int>());
    }
}

TEST(CertifiedMaximum, MaxitCountsTheNewtonStepsAndEndsThemWithTheFiguresInTheMessage) {
    const DeckRun free = runBandStart(surveyOfSix(), 4, "0 0 0");
    const nlohmann::json& check = free.doc["convergence"];
    const int em = check["em_cycles"];
    int needed = 0; // steps until the gain is below the limit
    while (check["newton"][needed]["remaining_gain"].get<double>() >= 1e-6) ++needed;
    ++needed;
    ASSERT_GE(needed, 2);

    const DeckRun enough =
        runBandStart(surveyOfSix(), 4, "0 " + std::to_string(em + needed) + " 0");
    EXPECT_EQ(enough.status, 0);
    const DeckRun cut =
        runBandStart(surveyOfSix(), 4, "0 " + std::to_string(em + needed - 1) + " 0");
    EXPECT_EQ(cut.status, 1);
    EXPECT_TRUE(withoutConvergenceBlock(cut.report)
                    .ends_with("    *** ERROR *** MAXIMUM NUMBER OF ITERATIONS EXECUTED\n"));
    EXPECT_EQ(checkValue(cut.report, "NEWTON STEPS"), std::to_string(needed - 1));
    EXPECT_EQ(checkValue(cut.report, "MAXIMUM"),
              "NOT CERTIFIED: MAXIT CYCLES RAN OUT DURING THE NEWTON FINISH");
    EXPECT_EQ(cut.doc["status"], "max_cycles");
    EXPECT_TRUE(contains(cut.doc["message"], "; remaining gain "));
}

TEST(CertifiedMaximum, AValuePushedAwayFromItsBoundIsReleasedFromTheSaddle) {
    // Three classes of equal level: EM from the score bands stops where a tiny class has item
    // probabilities next to 1 that EM pushes back into the model, a saddle far below the top.
    const PatternTable d = sample(model({{.9, .1, .1},
                                         {.9, .1, .9},
                                         {.9, .9, .1},
                                         {.1, .9, .9},
                                         {.1, .1, .9},
                                         {.1, .9, .1},
                                         {.9, .1, .1},
                                         {.1, .9, .1}},
                                        {1 / 3.0, 1 / 3.0, 1 / 3.0}),
                                  1000);
    ploven::Estimates est;
    ploven::Posteriors post;
    const double best = plainEmMaximum(d, 3, 30);
    ASSERT_LT(ploven::estimateFromBandStart(d, 3, 1000, 1e-7, 3000, est, post).loglik,
              best - 100.0);
    for (const bool accelerate : {false, true}) {
        const DeckRun r = runBandStart(d, 3, "0 0 0", accelerate, "saddle");
        ASSERT_EQ(r.status, 0);
        EXPECT_NEAR(r.doc["loglikelihood"].get<double>(), best, 1e-4);
        EXPECT_GE(r.doc["convergence"]["releases_from_bounds"].get<int>(), 1);
        EXPECT_FALSE(checkValue(r.report, "RELEASES FROM A BOUND").empty());
    }
}

TEST(CertifiedMaximum, BoundaryAndUnidentifiedSolutionsEndCleanly) {
    PatternTable emptyBand; // 4 items, 3 classes: no pattern scores 4, the last band is empty
    emptyBand.nitem = 4;
    emptyBand.x = {0, 0, 0, 0, 1, 1, 0, 0, 1, 1, 1, 0, 0, 0, 0, 1};
    emptyBand.freq = {30, 20, 25, 15};
    // Item 2 is certain in class 1 only (one value for every case is refused before the fit).
    PatternTable sure = sample(model({{.9, .2}, {1.0, .6}, {.8, .1}, {.7, .3}}, {.5, .5}), 300);
    const PatternTable unidentified = sample(
        model({{.1, .5, .9}, {.2, .8, .7}, {.3, .4, .9}, {.15, .6, .85}}, {.3, .3, .4}), 2000);
    const PatternTable few =
        sample(model(std::vector<std::vector<double>>(6, {.2, .8}), {.5, .5}), 40); // six classes
    const std::pair<const PatternTable*, int> decks[] = {
        {&emptyBand, 3}, {&sure, 2}, {&unidentified, 3}, {&few, 6}};
    for (const auto& [d, K] : decks)
        for (const bool accelerate : {false, true}) {
            SCOPED_TRACE(std::to_string(K) + (accelerate ? " accelerated" : " plain"));
            const DeckRun r = runBandStart(*d, K, "0 0 0", accelerate, "bound");
            ASSERT_TRUE(r.status == 0 || r.status == 1);
            // No value that is not a number: "NAN", "nan", or "INF"/"inf" as a word.
            for (const std::string bad : {"NAN", "nan", "INF", "inf"})
                for (auto at = r.report.find(bad); at != std::string::npos;
                     at = r.report.find(bad, at + 1))
                    EXPECT_TRUE(at + 3 < r.report.size() && std::isalpha(r.report[at + 3]))
                        << r.report.substr(at > 40 ? at - 40 : 0, 80);
            EXPECT_TRUE(std::isfinite(r.doc["loglikelihood"].get<double>()));
            EXPECT_EQ(r.doc["convergence"]["certified"], r.status == 0);
            if (r.status == 0) {
                EXPECT_LT(r.doc["convergence"]["remaining_gain"].get<double>(), 1e-6);
            }
        }
}
