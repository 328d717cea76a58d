// Safeguarded EM: decks on which a plain Newton step overshoots (sparse categories, a normal
// item on a large scale, steep ordinal items with two factors, a two-factor start at a
// saddle) must end at a maximum, and the loglikelihood must never fall between cycles, on
// every deck. Each maximum is checked against a loglikelihood computed here by plain
// quadrature, independently of the estimator's tables.
#include "fit_support.hpp"
#include "test_support.hpp"
#include "travik/deck.hpp"
#include "travik/deck_checks.hpp"
#include "travik/parameter_vector.hpp"

#include <cmath>
#include <numbers>
#include <random>

using namespace travik;
using namespace travik_test;

namespace {

// Uniform doubles from the top 53 bits of the generator; normal ones by Box-Muller.
struct Draws {
    std::mt19937_64 bits;
    explicit Draws(unsigned long long seed) : bits(seed) {}
    double uniform() { return static_cast<double>(bits() >> 11) * 0x1.0p-53; }
    double normal() {
        const double u = 1.0 - uniform(), v = uniform();
        return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * std::numbers::pi * v);
    }
    bool logistic(double v) { return uniform() < 1.0 / (1.0 + std::exp(-v)); }
    // A category from unnormalized weights w[1..n].
    int category(const double* w, int n) {
        double total = 0;
        for (int j = 1; j <= n; ++j) total += w[j];
        const double u = uniform() * total;
        double below = 0;
        for (int j = 1; j < n; ++j)
            if (u < (below += w[j])) return j;
        return n;
    }
    // An ordinal category from thresholds thr[1..n-1] and the linear predictor s.
    int ordinal(const double* thr, int n, double s) {
        const double u = uniform();
        for (int j = 1; j < n; ++j)
            if (u < 1.0 / (1.0 + std::exp(-(thr[j] - s)))) return j;
        return n;
    }
};

ModelState blankDeck(int nb, int nn, int nc, int no, int nf, int nq, std::vector<int> c = {},
                     std::vector<int> o = {}) {
    ModelState m;
    Deck& d = m.deck;
    d.title = std::string(70, ' ');
    d.nb = nb, d.nn = nn, d.nc = nc, d.no = no, d.nf = nf, d.nq = nq;
    d.c = std::move(c);
    d.o = std::move(o);
    d.maxit = 2000;
    d.tol = 1e-9;
    m.x.cols = d.nv();
    return m;
}

void addCase(ModelState& m, const std::vector<double>& row) {
    m.x.values.insert(m.x.values.end(), row.begin(), row.end());
    m.deck.ncase = ++m.x.rows;
}

void prepare(ModelState& m) {
    computeObservedMargins(m);
    generateStartingValues(m);
}

// log of the sum of e^v over v.
double logSumExp(const std::vector<double>& v) {
    double top = -INFINITY;
    for (double x : v) top = std::max(top, x);
    double s = 0;
    for (double x : v) s += std::exp(x - top);
    return top + std::log(s);
}

// The loglikelihood by plain quadrature: for every case, the log of the weighted sum over
// the grid of the product of its item probabilities (the textbook normal constant).
double plainLoglikelihood(const ModelState& m, const Grid& grid) {
    const Deck& d = m.deck;
    const Parameters& p = m.params;
    double total = 0;
    std::vector<double> terms(grid.size);
    for (int k = 0; k < m.x.rows; ++k) {
        for (int g = 0; g < grid.size; ++g) {
            const double z1 = grid.z1[g], z2 = d.nf == 2 ? grid.z2[g] : 0.0;
            double s = std::log(grid.w[g]);
            for (int i = 0; i < d.nb; ++i) {
                const double x = std::trunc(m.x(k, i));
                const auto& a = p.binary[i].alpha;
                const double v = a[0] + a[1] * z1 + a[2] * z2;
                if (x == 1)
                    s -= std::log1p(std::exp(-v));
                else if (x == 0)
                    s -= std::log1p(std::exp(v));
            }
            for (int i = 0; i < d.nn; ++i) {
                const double x = m.x(k, d.normalColumn(i));
                if (std::trunc(x) == 999) continue;
                const NormalItem& n = p.normal[i];
                const double r = x - (n.mu + n.lambda1 * z1 + n.lambda2 * z2);
                s += -0.5 * std::log(2 * std::numbers::pi * n.psi) - r * r / (2 * n.psi);
            }
            for (int i = 0; i < d.nc; ++i) {
                const double x = std::trunc(m.x(k, d.nominalColumn(i)));
                if (x == 999) continue;
                const NominalItem& c = p.nominal[i];
                std::vector<double> eta = {0.0};
                for (int j = 2; j <= c.categories; ++j)
                    eta.push_back(c.ac[j][0] + c.ac[j][1] * z1 + c.ac[j][2] * z2);
                s += eta[static_cast<int>(x) - 1] - logSumExp(eta);
            }
            for (int i = 0; i < d.no; ++i) {
                const double x = std::trunc(m.x(k, d.ordinalColumn(i)));
                if (x == 999) continue;
                const OrdinalItem& o = p.ordinal[i];
                const int c = static_cast<int>(x);
                auto cumulative = [&](int j) {
                    if (j <= 0) return 0.0;
                    if (j >= o.categories) return 1.0;
                    return 1.0 / (1.0 + std::exp(-(o.thr[j] - o.ao[1] * z1 - o.ao[2] * z2)));
                };
                s += std::log(cumulative(c) - cumulative(c - 1));
            }
            terms[g] = s;
        }
        total += logSumExp(terms);
    }
    return total;
}

// No single parameter the fit moves, moved by 0.01 either way, raises the loglikelihood
// (beyond `slack`); the loading that fixes the rotation of two factors is not one of them.
void expectLocalMaximum(ModelState& m, const Grid& grid, double slack, const std::string& what) {
    const double at = plainLoglikelihood(m, grid);
    ASSERT_TRUE(std::isfinite(at)) << what;
    const std::vector<char> moving = movingParameters(m.deck, m.params);
    int q = 0;
    for (double* p : freeParameters(m)) {
        if (!moving[q]) {
            ++q;
            continue;
        }
        const double keep = *p;
        for (double step : {-0.01, 0.01}) {
            *p = keep + step;
            EXPECT_LE(plainLoglikelihood(m, grid), at + slack)
                << what << ", parameter " << q << " " << step;
        }
        *p = keep;
        ++q;
    }
}

// Every cycle's loglikelihood is at least the one before, rounding aside.
void expectNonDecreasing(const Estimation& est, const std::string& what) {
    const std::vector<double>& h = est.history;
    ASSERT_GE(h.size(), 2u) << what;
    for (std::size_t i = 1; i < h.size(); ++i)
        ASSERT_GE(h[i], h[i - 1] - 1e-10 * std::fabs(h[i - 1])) << what << ", cycle " << i;
}

// 392 cases, 4 nominal items of 3 categories whose first (the reference) is rare: from the
// generated start a whole Newton step on each category overshoots, and the loglikelihood
// would fall by about 50 in the second cycle.
ModelState sparseNominalDeck() {
    ModelState m = blankDeck(0, 0, 4, 0, 1, 8, {3, 3, 3, 3});
    Draws r(320);
    const double rare = -5 + r.uniform() * 2.5, spread = 1 + 4 * r.uniform();
    double loading[4], intercept[4];
    for (int j = 2; j <= 3; ++j) {
        loading[j] = spread * (r.uniform() * 2 - 0.5);
        intercept[j] = 2 * r.uniform() - 1;
    }
    for (int k = 0; k < 392; ++k) {
        const double z = r.normal();
        std::vector<double> row;
        for (int i = 0; i < 4; ++i) {
            double w[4] = {0, std::exp(rare)};
            for (int j = 2; j <= 3; ++j)
                w[j] = std::exp(intercept[j] + loading[j] * z * (1 + 0.2 * i));
            row.push_back(r.category(w, 3));
        }
        addCase(m, row);
    }
    prepare(m);
    return m;
}

// Three binary items and a test score with mean 500 and SD about 100.
ModelState largeScaleDeck(double scale, double shift) {
    ModelState m = blankDeck(3, 1, 0, 0, 1, 16);
    Draws r(2);
    for (int k = 0; k < 500; ++k) {
        const double z = r.normal();
        std::vector<double> row;
        for (int i = 0; i < 3; ++i) row.push_back(r.logistic(-0.5 + 0.5 * i + 1.2 * z) ? 1 : 0);
        row.push_back(shift + scale * (0.7 * z + 0.7 * r.normal()));
        addCase(m, row);
    }
    prepare(m);
    return m;
}

// Eight binary items, four on each factor.
ModelState simpleStructureDeck() {
    ModelState m = blankDeck(8, 0, 0, 0, 2, 8);
    m.deck.tol = 1e-6;
    Draws r(3);
    for (int k = 0; k < 1000; ++k) {
        const double z1 = r.normal(), z2 = r.normal();
        std::vector<double> row;
        for (int i = 0; i < 8; ++i)
            row.push_back(r.logistic(-0.3 + 0.1 * i + 1.8 * (i < 4 ? z1 : z2)) ? 1 : 0);
        addCase(m, row);
    }
    prepare(m);
    return m;
}

// Three binary and three steep ordinal items on two factors: at the outer grid points an
// ordinal category's probability is exactly 0.
ModelState steepOrdinalDeck() {
    ModelState m = blankDeck(3, 0, 0, 3, 2, 16, {}, {4, 4, 4});
    m.deck.tol = 1e-8;
    Draws r(4);
    const double thr[4] = {0, -2, 0, 2};
    for (int k = 0; k < 300; ++k) {
        const double z1 = r.normal(), z2 = r.normal();
        std::vector<double> row;
        for (int i = 0; i < 3; ++i)
            row.push_back(r.logistic(0.2 * i + 1.5 * z1 + 0.5 * z2) ? 1 : 0);
        for (int i = 0; i < 3; ++i) row.push_back(r.ordinal(thr, 4, 0.5 * z1 + (5.0 + i) * z2));
        addCase(m, row);
    }
    prepare(m);
    return m;
}

} // namespace

TEST(Safeguards, SparseNominalCategoriesClimbToAMaximum) {
    ModelState m = sparseNominalDeck();
    for (const auto& share : m.observed.nominalShare) // the reference category is rare
        EXPECT_LT(share[0], 0.11);
    Fit f = fit(m);
    EXPECT_TRUE(f.est.converged);
    expectNonDecreasing(f.est, "sparse nominal");
    expectLocalMaximum(m, f.est.grid, 1e-3, "sparse nominal");
}

TEST(Safeguards, NormalItemScaleDoesNotChangeTheFit) {
    ModelState m = largeScaleDeck(100.0, 500.0);
    ModelState converged = m;
    Fit f = fit(converged);
    ASSERT_TRUE(f.est.converged) << f.report;
    expectNonDecreasing(f.est, "normal item on its natural scale");
    expectLocalMaximum(converged, f.est.grid, 1e-3, "normal item on its natural scale");

    // From a start that ignores the scale (PSI 1.8 for a variance near 10^4) the plain steps
    // overshoot; the safeguarded ones still reach the same maximum.
    ModelState blind = m;
    blind.params.normal[0].lambda1 = 0.5;
    blind.params.normal[0].psi = 1.8;
    Fit fromBlind = fit(blind);
    EXPECT_TRUE(fromBlind.est.converged);
    expectNonDecreasing(fromBlind.est, "normal item from a start off its scale");
    EXPECT_NEAR(fromBlind.est.weights.logl, f.est.weights.logl,
                1e-7 * std::fabs(f.est.weights.logl));

    // The same data on the unit scale, the same number of cycles (the relative change of
    // the loglikelihood, which stops a run, depends on the scale): the same fit, rescaled,
    // and a loglikelihood higher by the log of the scale per observed value.
    ModelState unit = largeScaleDeck(1.0, 0.0);
    for (ModelState* s : {&m, &unit}) {
        s->deck.tol = 0.0;
        s->deck.maxit = 60;
    }
    f = fit(m);
    Fit g = fit(unit);
    EXPECT_NEAR(g.est.weights.logl - 500 * std::log(100.0), f.est.weights.logl,
                1e-9 * std::fabs(f.est.weights.logl));
    for (int i = 0; i < 3; ++i)
        for (int q = 0; q < 2; ++q)
            EXPECT_NEAR(unit.params.binary[i].alpha[q], m.params.binary[i].alpha[q], 1e-6);
    const NormalItem& a = m.params.normal[0];
    const NormalItem& b = unit.params.normal[0];
    EXPECT_NEAR(a.mu, 500 + 100 * b.mu, 1e-4);
    EXPECT_NEAR(a.lambda1, 100 * b.lambda1, 1e-4);
    EXPECT_NEAR(a.psi, 1e4 * b.psi, 1e-2);
}

TEST(Safeguards, TwoFactorStartIsNotASaddle) {
    ModelState m = simpleStructureDeck();
    // The second loadings are no common multiple of the first.
    double low = INFINITY, high = -INFINITY;
    for (const BinaryItem& b : m.params.binary) {
        low = std::min(low, b.alpha[2] / b.alpha[1]);
        high = std::max(high, b.alpha[2] / b.alpha[1]);
    }
    EXPECT_GT(high - low, 1.0);
    Fit f = fit(m);
    ASSERT_TRUE(f.est.converged);
    expectNonDecreasing(f.est, "simple structure");
    // Each item loads mainly on one factor, as simulated (up to a rotation, which the
    // principal components fix here).
    for (int i = 0; i < 8; ++i) {
        const auto& a = m.params.binary[i].alpha;
        EXPECT_GT(std::max(std::fabs(a[1]), std::fabs(a[2])), 1.2) << i;
        EXPECT_LT(std::min(std::fabs(a[1]), std::fabs(a[2])), 0.5) << i;
    }
    // With a far tighter tolerance the loglikelihood moves on only along the nearly flat
    // rotation of the loadings, to a maximum.
    ModelState tight = simpleStructureDeck();
    tight.deck.tol = 1e-9;
    tight.deck.maxit = 400;
    Fit g = fit(tight);
    EXPECT_LT(g.est.weights.logl - f.est.weights.logl, 1e-4 * std::fabs(f.est.weights.logl));
    expectLocalMaximum(tight, g.est.grid, 1e-3, "simple structure");
}

TEST(Safeguards, SteepOrdinalItemsOnTwoFactorsReachAMaximum) {
    ModelState m = steepOrdinalDeck();
    Fit f = fit(m);
    ASSERT_TRUE(f.est.converged);
    // Some ordinal category probabilities are exactly 0 at the outer grid points.
    int zeros = 0;
    for (int i = 0; i < 3; ++i)
        for (int c = 1; c <= 4; ++c)
            for (int g = 0; g < f.est.grid.size; ++g) zeros += f.est.tables.ordinal(i, c)[g] == 0.0;
    EXPECT_GT(zeros, 10);
    expectNonDecreasing(f.est, "steep ordinal");
    expectLocalMaximum(m, f.est.grid, 1e-3, "steep ordinal");
}

TEST(Safeguards, LoglikelihoodNeverFallsOnExampleAndGoldenDecks) {
    const fs::path source = fs::path(TRAVIK_GOLDEN_DIR).parent_path().parent_path().parent_path();
    std::vector<fs::path> decks = {source / "examples/travik/binary.inp",
                                   source / "examples/travik/mixed.inp",
                                   source / "examples/travik/twofactor.inp"};
    for (const char* g : {"one_factor_binary", "one_factor_mixed", "two_factors_mixed"})
        decks.push_back(fs::path(TRAVIK_GOLDEN_DIR) / (std::string(g) + ".inp"));
    for (const fs::path& p : decks) {
        ModelState m;
        fixedio::FreeReader in("travik", p.filename().string(), readFile(p));
        ASSERT_FALSE(readDeck(in, m).has_value()) << p;
        ASSERT_FALSE(checkObservedItems(m).has_value()) << p;
        leaveOutEmptyCases(m);
        prepare(m);
        Fit f = fit(m);
        EXPECT_TRUE(f.est.converged) << p;
        expectNonDecreasing(f.est, p.filename().string());
    }
}

TEST(Safeguards, LoglikelihoodNeverFallsOnRandomDecks) {
    // Small decks of every item type with parameters from moderate to extreme, some with a
    // normal item on a large scale or missing values; thirty cycles each.
    Draws r(2026);
    auto pick = [&](int n) { return static_cast<int>(r.uniform() * n); };
    for (int deck = 0; deck < 300; ++deck) {
        const int nf = 1 + pick(2);
        int nb = pick(4), nn = pick(3), nc = pick(3), no = pick(3);
        if (nb + nn + nc + no == 0) nb = 2;
        std::vector<int> c, o;
        for (int i = 0; i < nc; ++i) c.push_back(2 + pick(4));
        for (int i = 0; i < no; ++i) o.push_back(2 + pick(4));
        ModelState m = blankDeck(nb, nn, nc, no, nf, 8, c, o);
        m.deck.maxit = 30;
        m.deck.tol = 0.0;
        const double spread = deck % 3 == 0 ? 4.0 : 1.5; // every third deck has steep items
        const double scale = deck % 5 == 0 ? 100.0 : 1.0;
        const double missing = deck % 4 == 0 ? 0.15 : 0.0;
        auto loading = [&] { return spread * (r.uniform() - 0.3); };
        std::vector<std::array<double, 3>> a(nb + nn + 6 * nc + no);
        for (auto& v : a) v = {2 * (r.uniform() - 0.5), loading(), nf == 2 ? loading() : 0.0};
        const int n = 30 + pick(50);
        for (int k = 0; k < n; ++k) {
            const double z1 = r.normal(), z2 = nf == 2 ? r.normal() : 0.0;
            std::vector<double> row;
            int at = 0;
            auto lin = [&](const std::array<double, 3>& p) { return p[0] + p[1] * z1 + p[2] * z2; };
            for (int i = 0; i < nb; ++i) row.push_back(r.logistic(lin(a[at++])) ? 1 : 0);
            for (int i = 0; i < nn; ++i)
                row.push_back(scale * (lin(a[at++]) + 0.6 * r.normal()) + 5 * scale);
            for (int i = 0; i < nc; ++i) {
                double w[7] = {0, 1};
                for (int j = 2; j <= c[i]; ++j) w[j] = std::exp(lin(a[at + j]));
                at += 6;
                row.push_back(r.category(w, c[i]));
            }
            for (int i = 0; i < no; ++i) {
                const double thr[6] = {0, -1.5, -0.5, 0.5, 1.5, 2.5};
                const auto& p = a[at++];
                row.push_back(r.ordinal(thr, o[i], p[1] * z1 + p[2] * z2));
            }
            for (double& v : row)
                if (r.uniform() < missing) v = 999;
            addCase(m, row);
        }
        if (checkObservedItems(m)) continue; // a deck the run would reject
        leaveOutEmptyCases(m);
        prepare(m);
        Fit f = fit(m);
        ASSERT_TRUE(f.est.failure.empty()) << "deck " << deck << ": " << f.est.failure;
        expectNonDecreasing(f.est, "random deck " + std::to_string(deck));
    }
}

TEST(Safeguards, NonFiniteValuesStopTheRunWithAReason) {
    TempFolder dir;
    const std::string head = "Scale\n3 1 1 0 0 8\n\n\n1 0 50 0 0.0001 0\n";
    // A data value whose square overflows: the loglikelihood at the start is no number.
    RunResult r = runDeck(dir.path, head + "1 2.5\n0 1e308\n1 3.5\n");
    EXPECT_EQ(r.status, 1);
    // (Three cases for five parameters also get a warning before it.)
    EXPECT_TRUE(r.errors.ends_with(
        "\ntravik: ***ERROR***  THE LOGLIKELIHOOD AT THE STARTING VALUES IS NOT A FINITE NUMBER\n"))
        << r.errors;
    EXPECT_NE(
        r.report.find(
            "   ***ERROR***  THE LOGLIKELIHOOD AT THE STARTING VALUES IS NOT A FINITE NUMBER\n"),
        std::string::npos)
        << r.report;
    EXPECT_EQ(r.report.find("ITERATIONS FINISHED"), std::string::npos);
    for (const std::string& line : lines(r.report)) {
        EXPECT_EQ(line.find("nan"), std::string::npos) << line;
        EXPECT_EQ(line.find("inf"), std::string::npos) << line;
    }
}
