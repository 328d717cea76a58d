// EM estimation: the fit is a maximum of the likelihood, and the iteration messages.
#include "fit_support.hpp"
#include "fixedio/layout.hpp"
#include "test_support.hpp"
#include "travik/identification.hpp"
#include "travik/parameter_vector.hpp"
#include "travik/starting_values.hpp"
#include "travik/variance.hpp"

#include <algorithm>
#include <memory>

#include <cmath>

using namespace travik;
using namespace travik_test;

namespace {

// Every loglikelihood after the start is at least the one before, rounding aside.
void expectNonDecreasingHistory(const std::vector<double>& h) {
    for (std::size_t i = 1; i < h.size(); ++i)
        ASSERT_GE(h[i], h[i - 1] - 1e-10 * std::fabs(h[i - 1])) << "at " << i;
}

} // namespace

TEST(EmFit, GradientVanishesAtConvergenceForEveryItemType) {
    struct Case {
        int nb, nn, nc, no, nf, nq;
        double missing;
    };
    const Case cases[] = {
        {6, 0, 0, 0, 1, 32, 0.0}, {0, 4, 0, 0, 1, 32, 0.0}, {0, 0, 4, 0, 1, 32, 0.0},
        {0, 0, 0, 4, 1, 32, 0.0}, {3, 2, 2, 2, 1, 24, 0.1}, {3, 2, 2, 2, 2, 16, 0.05},
    };
    for (const Case& c : cases) {
        ModelState m = simulate(truthFor(c.nb, c.nn, c.nc, c.no, c.nf), c.nf, c.nq, 1000, c.missing,
                                42 + c.nb + c.nn);
        // A loose tolerance: the check and the Newton finish, not EM's rule, reach the top.
        m.deck.tol = 1e-5;
        Fit f = fit(m);
        ASSERT_TRUE(f.est.check.certified)
            << "types " << c.nb << c.nn << c.nc << c.no << " nf " << c.nf;
        std::vector<double> g = numericalGradient(m, f.est.grid);
        const std::vector<char> moving =
            movingParameters(m.deck, m.params); // not the fixed loading
        for (std::size_t q = 0; q < g.size(); ++q) {
            if (!moving[q]) continue;
            EXPECT_LT(std::fabs(g[q]), 0.01)
                << "types " << c.nb << c.nn << c.nc << c.no << " nf " << c.nf << " parameter " << q;
        }
        EXPECT_NEAR(f.est.weights.logl, loglikelihood(m, f.est.grid, f.est.tables, f.est.weights),
                    1e-9);
    }
}

TEST(EmFit, IterationLimitToleranceAndDivergenceMessages) {
    TempFolder dir;
    ModelState m = simulate(truthFor(4, 1, 0, 1, 1), 1, 24, 300, 0.0, 9);
    // MAXIT = 1 without convergence: one table line, the three message lines, the ENDED line.
    RunResult r = runDeck(dir.path, deckText(m, "1 0 1 0 0.0000001 0"));
    // A fit that is not converged keeps its report but ends with status 1 and says why.
    ASSERT_EQ(r.status, 1) << r.errors;
    EXPECT_TRUE(r.errors.starts_with(
        "travik: no convergence within MAXIT = 1 cycles (relative change of the last cycle -"))
        << r.errors;
    EXPECT_NE(r.report.find("***Standardized Loadings***"), std::string::npos);
    std::vector<std::string> l = lines(r.report);
    auto at = std::find(l.begin(), l.end(), "  ITER      PROP       LOGLIKELIHOOD");
    ASSERT_NE(at, l.end());
    ASSERT_GT(l.end() - at, 9);
    EXPECT_EQ(at[1], "");
    EXPECT_TRUE(at[2].starts_with("    1   ")) << at[2];
    EXPECT_EQ(at[3], "");
    EXPECT_TRUE(at[4].starts_with(" *** MAX. NO. OF ITERATION EXCEEDED WITH RG STATISTICS :"))
        << at[4];
    EXPECT_EQ(at[5], " MORE ITERATIONS NEEDED TO ACHIEVE CONVERGENCE.");
    EXPECT_EQ(at[6],
              " CHECK THE DERIVATIVES OF LOGLIKELIHOOD FOR FURTHER INFORMATION ON CONVERGENCE");
    EXPECT_EQ(at[7], "");
    EXPECT_EQ(at[8], "");
    EXPECT_EQ(at[9], " *** ITERATIONS FINISHED ***");
    std::string progress = readFile(dir.path / "fort.2");
    EXPECT_TRUE(progress.starts_with("  *** PROGRAM EM1 BEGIN ***\n    1   ")) << progress;
    EXPECT_NE(progress.find("\n  *** PROGRAM EM1 ENDED ***\n\n\n *** ITERATIONS FINISHED ***\n\n\n "
                            "ITERATIONS FINISHED\n"),
              std::string::npos)
        << progress;
    // MAXIT = 0 behaves like 1.
    auto fromTable = [](const std::string& report) { return report.substr(report.find("  ITER")); };
    EXPECT_EQ(fromTable(runDeck(dir.path, deckText(m, "1 0 0 0 0.0000001 0")).report),
              fromTable(r.report));

    // A tolerance above the first relative change stops after one cycle, without messages.
    r = runDeck(dir.path, deckText(m, "1 0 50 0 0.9 0"));
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(withoutConvergedSummary(r.errors), "");
    EXPECT_NE(r.errors, "");
    l = lines(r.report);
    at = std::find(l.begin(), l.end(), "  ITER      PROP       LOGLIKELIHOOD");
    EXPECT_TRUE(at[2].starts_with("    1   "));
    EXPECT_EQ(at[3], "");
    EXPECT_EQ(at[4], " *** ITERATIONS FINISHED ***");
    EXPECT_EQ(readFile(dir.path / "fort.2").find("ENDED"), std::string::npos);
    EXPECT_EQ(r.report.find("DIVERGED"), std::string::npos);

    // A far-off residual variance: the one cycle raises the loglikelihood by more than 20 %.
    std::string start = "0 1\n0 1\n0 1\n0 1\n0.9 0.5 1000\n-1.5\n-0.5\n0.5\n1\n";
    r = runDeck(dir.path, deckText(m, "1 1 50 0 0.9 0"), start);
    EXPECT_NE(
        r.report.find("\n *** ITERATIVE PROCEDURE DIVERGED ***\n\n *** ITERATIONS FINISHED ***"),
        std::string::npos)
        << r.report;
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.errors.find("travik: the iterative procedure diverged"), std::string::npos)
        << r.errors;

    // Two factors: the other heading and progress lines.
    ModelState m2 = simulate(truthFor(4, 0, 0, 0, 2), 2, 8, 100, 0.0, 9);
    r = runDeck(dir.path, deckText(m2, "2 0 1 0 0.0000001 0"));
    EXPECT_NE(r.report.find("\n  ITER     PROP       LOGLIKELIHOOD\n"), std::string::npos);
    progress = readFile(dir.path / "fort.2");
    EXPECT_TRUE(progress.starts_with(" *** PROGRAM EM2 BEGIN ***\n")) << progress;
    EXPECT_NE(progress.find("\n  *** PROGRAM EM2 ENDED ***\n"), std::string::npos);
}

TEST(EmFit, FrozenItemsAndSymmetricSecondFactor) {
    // An intercept or loading at 10 freezes the item; -10 does not (the test is signed).
    ModelState m = simulate(truthFor(3, 0, 1, 0, 1), 1, 16, 400, 0.0, 4);
    m.params.binary[0].alpha = {0.0, 10.0, 0.0};
    m.params.binary[1].alpha = {0.0, -10.0, 0.0};
    m.params.nominal[0].ac[2] = {10.0, 1.0, 0.0};
    m.deck.maxit = 5;
    fit(m);
    EXPECT_EQ(m.params.binary[0].alpha[0], 0.0);
    EXPECT_EQ(m.params.binary[0].alpha[1], 10.0);
    EXPECT_NE(m.params.binary[1].alpha[1], -10.0);
    EXPECT_EQ(m.params.nominal[0].ac[2][1], 1.0);
    EXPECT_NE(m.params.nominal[0].ac[3][1], 1.0);

    // Second-factor parameters all starting at 0 keep a symmetric posterior: they stay 0.
    ModelState m2 = simulate(truthFor(3, 2, 1, 1, 2), 2, 16, 300, 0.0, 8);
    for (auto& b : m2.params.binary) b.alpha[2] = 0.0;
    for (auto& n : m2.params.normal) n.lambda2 = 0.0;
    for (auto& c : m2.params.nominal) c.ac[2][2] = c.ac[3][2] = 0.0;
    for (auto& o : m2.params.ordinal) o.ao[2] = 0.0;
    m2.deck.maxit = 20;
    fit(m2);
    for (auto& b : m2.params.binary) EXPECT_NEAR(b.alpha[2], 0.0, 1e-10);
    for (auto& n : m2.params.normal) EXPECT_NEAR(n.lambda2, 0.0, 1e-10);
    for (auto& o : m2.params.ordinal) EXPECT_NEAR(o.ao[2], 0.0, 1e-10);
    EXPECT_NE(m2.params.binary[0].alpha[1], truthFor(3, 2, 1, 1, 2).binary[0].alpha[1]);
}

TEST(EmFit, SavedEstimatesStartTheNextRun) {
    TempFolder dir;
    ModelState m = simulate(truthFor(2, 1, 1, 1, 1), 1, 16, 200, 0.05, 13);
    RunResult r = runDeck(dir.path, deckText(m, "1 0 500 1 0.000001 0"));
    ASSERT_EQ(r.status, 0) << r.errors;
    std::string saved = readFile(dir.path / "LI8.OUT");
    std::vector<std::string> l = lines(saved);
    // Binary records hold two values, normal three, nominal two per category, ordinal one per
    // threshold then the loading.
    ASSERT_EQ(l.size(), 2u + 1u + 2u + 3u + 1u);
    EXPECT_EQ(l[0].size(), 22u);
    EXPECT_EQ(l[2].size(), 33u);
    EXPECT_EQ(l[5].size(), 11u);
    RunResult again = runDeck(dir.path, deckText(m, "1 1 500 1 0.000001 0"), saved);
    ASSERT_EQ(again.status, 0) << again.errors;
    // The starting values printed to three decimals equal the final estimates of the first run.
    auto block = [](const std::string& report) {
        std::size_t from = report.find("***Initial Estimates");
        return report.substr(from, report.find("  ITER", from) - from);
    };
    travik::ModelState fitted = m;
    travik::readStartingValues(*std::make_unique<fixedio::FreeReader>("t", "LI8.OUT", saved),
                               fitted);
    std::string expectedBlock = block(again.report);
    EXPECT_NE(expectedBlock.find(
                  fixedio::Layout("F7.3").format({fitted.params.binary[0].alpha[1]}).substr(0, 7)),
              std::string::npos);
    EXPECT_NE(block(r.report), expectedBlock);
}

TEST(EmFit, OrdinalStepsKeepThresholdsInOrder) {
    // Twelve cases: a whole Newton step would cross two thresholds and make a category
    // probability negative.
    for (int cycles : {1, 5, 50}) {
        ModelState m = simulate(truthFor(2, 2, 2, 2, 1), 1, 16, 12, 0.15, 32);
        m.params = truthFor(2, 2, 2, 2, 1);
        m.deck.maxit = cycles;
        Fit f = fit(m);
        for (const auto& o : m.params.ordinal)
            for (int j = 2; j < o.categories; ++j)
                EXPECT_LT(o.thr[j - 1], o.thr[j]) << cycles << " cycles";
        EXPECT_TRUE(std::isfinite(f.est.weights.logl));
        for (double s : f.est.weights.logScale) EXPECT_EQ(s, 0.0);
    }
}

namespace {

// Decks on which plain EM crawls: nominal items with a rare category on one factor, and two
// factors with items of every type or ordinal items of simple structure.
std::vector<std::pair<std::string, ModelState>> crawlingDecks() {
    std::vector<std::pair<std::string, ModelState>> decks;
    Parameters nominal;
    for (int i = 0; i < 4; ++i) {
        NominalItem c;
        c.categories = 4;
        c.ac[2] = {2.0, 0.7 + 0.2 * i, 0.0};
        c.ac[3] = {3.0, 1.5 + 0.2 * i, 0.0};
        c.ac[4] = {1.5, 2.4 + 0.3 * i, 0.0};
        nominal.nominal.push_back(c);
    }
    decks.emplace_back("nominal", simulate(nominal, 1, 32, 392, 0.0, 1990));
    decks.emplace_back("two factors, every type",
                       simulate(truthFor(2, 2, 1, 2, 2), 2, 16, 300, 0.0, 5));
    Parameters ordinal;
    for (int i = 0; i < 6; ++i) {
        OrdinalItem o;
        o.categories = 4;
        o.thr[1] = -1.5;
        o.thr[2] = 0.0;
        o.thr[3] = 1.3;
        o.ao = {0.0, i < 3 ? 1.6 : 0.3, i < 3 ? 0.2 : 1.5};
        ordinal.ordinal.push_back(o);
    }
    decks.emplace_back("two factors, ordinal", simulate(ordinal, 2, 16, 300, 0.0, 31));
    for (auto& [name, m] : decks) generateStartingValues(m);
    return decks;
}

} // namespace

TEST(EmFit, CertifiedFitsReachTheMaximumOfALongTightRun) {
    for (auto& [name, deck] : crawlingDecks()) {
        SCOPED_TRACE(name);
        // The reference: plain EM alone, far past where its relative change is 1e-13 (it shares
        // no code with the Newton finish or the accelerated cycles).
        ModelState reference = deck;
        reference.deck.tol = 1e-14;
        reference.deck.maxit = 20000;
        const Fit r = fit(reference);
        ASSERT_TRUE(r.est.converged);
        const double top = r.est.history[r.est.check.emCycles];
        for (const bool accelerate : {false, true}) {
            SCOPED_TRACE(accelerate ? "accelerated" : "plain");
            ModelState m = deck;
            m.deck.tol = accelerate ? 1e-8 : 1e-6;
            EmOutput out{[](std::string_view) {}, [](std::string_view) {}, [](std::string_view) {}};
            const Estimation est = estimate(m, out, EstimationOptions{accelerate, std::nullopt});
            EXPECT_TRUE(est.check.certified) << est.check.reason;
            EXPECT_TRUE(unsuccessfulOutcome(m.deck, est).empty());
            EXPECT_NEAR(est.weights.logl, top, 1e-6);
            expectNonDecreasingHistory(est.history);
            const std::vector<double> got = packParameters(m.deck, m.params),
                                      want = packParameters(m.deck, reference.params);
            for (std::size_t p = 0; p < got.size(); ++p)
                EXPECT_NEAR(got[p], want[p], 2e-3) << "parameter " << p;
            // Hundreds of cycles at most, where plain EM at that tolerance needs thousands.
            EXPECT_LT(est.check.emCycles + static_cast<int>(est.check.newton.size()),
                      accelerate ? 300 : 1000);
        }
    }
}

TEST(EmFit, TwoFactorsFixTheirRotationOnTheFirstItem) {
    // Twelve binary items: without the constraint the loadings' standard errors ran to
    // thousands, the information being singular along the rotation.
    ModelState m = simulate(truthFor(12, 0, 0, 0, 2), 2, 16, 500, 0.0, 12);
    generateStartingValues(m);
    ASSERT_NE(m.params.binary[0].alpha[2], 0.0);
    // The rotated start has the likelihood of the start (on a rule fine enough to be nearly
    // rotation invariant) and the first item on factor 1 alone.
    const Grid fine = makeFullGrid(81, 2);
    ItemTables t;
    CaseWeights w;
    const double before = loglikelihood(m, fine, t, w);
    rotateToAnchor(m.deck, m.params);
    EXPECT_EQ(m.params.binary[0].alpha[2], 0.0);
    EXPECT_NEAR(loglikelihood(m, fine, t, w), before, 1e-6);
    m.deck.tol = 1e-7;
    Fit f = fit(m);
    ASSERT_TRUE(f.est.check.certified) << f.est.check.reason;
    EXPECT_EQ(m.params.binary[0].alpha[2], 0.0);
    const Covariance cov = variance(m, f.est, [](std::string_view) {});
    ASSERT_TRUE(cov.unavailable.empty()) << cov.unavailable;
    EXPECT_EQ(cov.fixed, cov.layout.binaryAt(2, 0, 2));
    EXPECT_EQ(cov.se(cov.fixed), 0.0);
    for (int p = 0; p < cov.layout.count; ++p)
        if (p != cov.fixed) {
            EXPECT_LT(cov.se(p), 0.6) << "position " << p;
        }
}

TEST(EmFit, FitsThatAreNotAtAMaximumSayWhy) {
    TempFolder dir;
    // An item answered 1 by nearly everyone at the top of the trait: its loading runs away.
    const std::string runaway = "Runaway\n10 3 1 0 0 48\n\n\n1 0 500 0 0.00000001 0\n"
                                "1 0 1 3.5\n0 0 1 2.25\n1 1 1 4\n0 999 0 1.5\n1 1 0 3\n"
                                "0 1 0 2\n1 0 0 2.5\n1 1 1 5\n0 0 0 1\n1 0 1 3\n";
    RunResult r = runDeck(dir.path, runaway);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(
        r.errors.find("travik: no certified maximum: the loadings of binary item 1 are beyond 10"),
        std::string::npos)
        << r.errors;
    EXPECT_NE(
        r.report.find(
            "  MAXIMUM                             NOT CERTIFIED: THE LOADINGS OF BINARY ITEM 1 "
            "ARE BEYOND 10"),
        std::string::npos);

    // EM stops at its loose tolerance after a few cycles and MAXIT leaves one Newton step: not
    // enough, and the message gives the check's figures.
    ModelState m = simulate(truthFor(4, 1, 0, 1, 1), 1, 24, 300, 0.0, 9);
    r = runDeck(dir.path, deckText(m, "1 0 4 0 0.01 0"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(
        r.errors.find(
            "travik: no certified maximum: the cycle limit MAXIT was reached during the Newton "
            "finish (remaining gain "),
        std::string::npos)
        << r.errors;
    const std::string block = r.report.substr(r.report.find("***Convergence Check***"));
    EXPECT_NE(block.find("  NEWTON STEPS                        "), std::string::npos) << block;
    EXPECT_NE(block.find("NOT CERTIFIED: THE CYCLE LIMIT MAXIT WAS REACHED"), std::string::npos)
        << block;
}

TEST(EmFit, FrozenStartsAndPoorerPlacesAreNotConverged) {
    TempFolder dir;
    ModelState m = simulate(truthFor(3, 0, 0, 0, 1), 1, 24, 300, 0.0, 21);
    // Every item frozen by its starting values: the fit could not move, an input error.
    for (const char* start : {"12 12\n12 12\n12 12\n", "20 0\n20 0\n20 0\n",
                              "1e308 1e308\n1e308 1e308\n1e308 1e308\n"}) {
        const RunResult r = runDeck(dir.path, deckText(m, "1 1 500 0 0.000001 0"), start);
        EXPECT_EQ(r.status, 2) << start;
        EXPECT_NE(r.errors.find("LAT3.INP line 1: every item starts frozen"), std::string::npos)
            << r.errors;
        EXPECT_FALSE(fs::exists(dir.path / "LI7.OUT"));
    }

    EmOutput out{[](std::string_view) {}, [](std::string_view) {}, [](std::string_view) {}};
    // One item held at a probability near 1 (intercept 15): the fit ends far below where the
    // program's own start would have begun.
    ModelState generated = m;
    generateStartingValues(generated);
    ItemTables t;
    CaseWeights w;
    EstimationOptions options;
    options.generatedStartLoglik = loglikelihood(generated, gridFor(generated.deck), t, w);
    ModelState held = generated;
    held.params.binary[1].alpha = {15.0, 0.5, 0.0};
    Estimation est = estimate(held, out, options);
    EXPECT_FALSE(est.check.certified);
    EXPECT_NE(est.check.reason.find("of the program's own starting values"), std::string::npos)
        << est.check.reason;
    EXPECT_EQ(est.frozenItems, std::vector<std::string>{"binary item 2"});
    EXPECT_FALSE(unsuccessfulOutcome(held.deck, est).empty());

    // The same through a run: the reason, the frozen item named, no standard errors for it.
    const RunResult r =
        runDeck(dir.path, deckText(m, "1 1 500 0 0.000001 0"), "0 1\n15 0.5\n0 1\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.errors.find("travik: warning: binary item 2 is frozen at the bound"),
              std::string::npos)
        << r.errors;
    EXPECT_NE(r.errors.find("of the program's own starting values"), std::string::npos) << r.errors;
    EXPECT_NE(r.report.find(" *** WARNING *** BINARY ITEM 2 IS FROZEN AT THE BOUND"),
              std::string::npos);
    EXPECT_NE(readFile(dir.path / "travik.json").find("\"standard_errors\": \"partial\""),
              std::string::npos);

    // Every item frozen (the start read without the check): nothing moves, nothing certified.
    ModelState still = generated;
    for (BinaryItem& b : still.params.binary) b.alpha[0] = 11.0;
    est = estimate(still, out, {});
    EXPECT_FALSE(est.check.certified);
    EXPECT_NE(est.check.reason.find("every item is frozen"), std::string::npos) << est.check.reason;
    EXPECT_EQ(est.frozenItems.size(), 3u);
}
