// travik benchmarks on generated decks of 3000 cases: time per EM cycle (median over a fixed
// number of cycles, tolerance 0), the standard errors, and a whole run. Then fits to a
// certified maximum, plain EM against accelerated EM: cycles, Newton steps, the loglikelihood
// reached and the time, on decks where plain EM crawls (two factors, nominal items).
#include "travik/em.hpp"
#include "travik/patterns.hpp"
#include "travik/run.hpp"
#include "travik/simulated_data.hpp"
#include "travik/starting_values.hpp"
#include "travik/variance.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unistd.h>

using Clock = std::chrono::steady_clock;
using travik::simulated::simulate;
using travik::simulated::truthFor;

namespace {

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Figures {
    double cycle = 0, variance = 0;
    int cycles = 0;
};

// grouped: the rows of identical cases grouped, as a run of the program has them.
Figures measure(int nb, int nn, int nc, int no, int nf, int cycles, bool grouped) {
    travik::ModelState m = simulate(truthFor(nb, nn, nc, no, nf), nf, 48, 3000, 0.0, 2026);
    // Spread the item parameters a little more than the test models do.
    for (std::size_t i = 0; i < m.params.binary.size(); ++i)
        m.params.binary[i].alpha[0] = -1.0 + 0.1 * static_cast<double>(i);
    if (grouped) travik::groupIdenticalRows(m.x);
    m.deck.maxit = cycles;
    m.deck.tol = 0.0;
    std::vector<Clock::time_point> stamps;
    travik::EmOutput out{[](std::string_view) {},
                         [&](std::string_view s) {
                             if (s.find("PROGRAM") == std::string_view::npos)
                                 stamps.push_back(Clock::now());
                         },
                         [](std::string_view) {}};
    Clock::time_point start = Clock::now();
    travik::Estimation est = travik::estimate(m, out);
    std::vector<double> each;
    for (std::size_t i = 0; i < stamps.size(); ++i)
        each.push_back(ms(stamps[i] - (i == 0 ? start : stamps[i - 1])));
    std::sort(each.begin() + 1, each.end()); // the first cycle includes the set-up
    Figures f;
    f.cycles = static_cast<int>(each.size());
    f.cycle = each[1 + (each.size() - 1) / 2];
    Clock::time_point v0 = Clock::now();
    travik::variance(m, est, [](std::string_view) {});
    f.variance = ms(Clock::now() - v0);
    return f;
}

double wholeRun(int nb, int nn, int nc, int no, int nf) {
    travik::ModelState m = simulate(truthFor(nb, nn, nc, no, nf), nf, 48, 3000, 0.0, 2026);
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("bench-travik-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "LAT.INP")
        << travik::simulated::deckText(m, std::to_string(nf) + " 0 2000 1 0.000001 1");
    std::ostringstream err;
    Clock::time_point start = Clock::now();
    int status = travik::runInFolder(dir, err, nullptr);
    double t = ms(Clock::now() - start);
    std::ifstream progress(dir / "fort.2");
    int lines = 0;
    for (std::string line; std::getline(progress, line);) ++lines;
    std::filesystem::remove_all(dir);
    if (status != 0) std::cerr << err.str();
    std::printf("  whole run, %d binary, %d normal, %d nominal, %d ordinal items, %d factor(s): "
                "%.0f ms (%d progress lines)\n",
                nb, nn, nc, no, nf, t, lines);
    return t;
}

// A fit from the generated start to a certified maximum.
void certifiedFit(const char* name, travik::ModelState m, bool accelerate) {
    travik::EmOutput out{[](std::string_view) {}, [](std::string_view) {}, [](std::string_view) {}};
    travik::generateStartingValues(m);
    Clock::time_point start = Clock::now();
    travik::Estimation est =
        travik::estimate(m, out, travik::EstimationOptions{accelerate, std::nullopt});
    const double t = ms(Clock::now() - start);
    const resultsio::ConvergenceCheck& c = est.check;
    std::printf("  %s %-11s %5d cycles + %2d Newton steps, LOGL %.5f, gain %.1e, %s, %.0f ms\n",
                name, accelerate ? "accelerated" : "plain", c.emCycles,
                static_cast<int>(c.newton.size()), est.history.back(), c.remainingGain,
                c.certified ? "certified" : c.reason.c_str(), t);
}

// 392 cases of four nominal items with four categories, the lowest rare, like a classic
// attitude scale: plain EM takes thousands of cycles on such items.
travik::ModelState attitudeScale() {
    travik::Parameters p;
    for (int i = 0; i < 4; ++i) {
        travik::NominalItem c;
        c.categories = 4;
        c.ac[2] = {2.0, 0.7 + 0.2 * i, 0.0};
        c.ac[3] = {3.0, 1.5 + 0.2 * i, 0.0};
        c.ac[4] = {1.5, 2.4 + 0.3 * i, 0.0};
        p.nominal.push_back(c);
    }
    travik::ModelState m = simulate(p, 1, 48, 392, 0.0, 1990);
    m.deck.tol = 1e-8;
    m.deck.maxit = 2000;
    return m;
}

// Six ordinal items of five categories on two factors with simple structure, on the full
// 31-point rule.
travik::ModelState ordinalTwoFactors() {
    travik::Parameters p;
    for (int i = 0; i < 6; ++i) {
        travik::OrdinalItem o;
        o.categories = 5;
        o.thr[1] = -2.0;
        o.thr[2] = -0.7;
        o.thr[3] = 0.4;
        o.thr[4] = 1.6;
        o.ao = {0.0, i < 3 ? 1.6 : 0.3, i < 3 ? 0.2 : 1.5};
        p.ordinal.push_back(o);
    }
    travik::ModelState m = simulate(p, 2, 48, 800, 0.0, 31);
    m.deck.fullRule = 31;
    m.deck.tol = 1e-8;
    m.deck.maxit = 2000;
    return m;
}

// Folding 100,000 cases of 20 binary items into their distinct patterns.
void folding() {
    travik::ModelState m = simulate(truthFor(20, 0, 0, 0, 1), 1, 8, 100000, 0.0, 7);
    Clock::time_point start = Clock::now();
    travik::PatternTable t = travik::foldBinary(m);
    std::printf("  folding 100000 cases of 20 binary items: %.1f ms (%d patterns)\n",
                ms(Clock::now() - start), t.count());
}

} // namespace

int main() {
    std::printf("travik: 3000 cases, NQ = 48 (30 points per factor), tolerance 0\n");
    struct Deck {
        const char* name;
        int nb, nn, nc, no, nf, cycles;
        bool grouped;
    };
    // Case by case, and with identical rows grouped as the program groups them.
    const Deck decks[] = {
        {"one factor, 20 binary items        ", 20, 0, 0, 0, 1, 200, false},
        {"  the same, rows grouped           ", 20, 0, 0, 0, 1, 200, true},
        {"one factor, 5 items of each type   ", 5, 5, 5, 5, 1, 200, false},
        {"two factors, 20 binary items       ", 20, 0, 0, 0, 2, 100, false},
        {"  the same, rows grouped           ", 20, 0, 0, 0, 2, 100, true},
        {"two factors, 5 items of each type  ", 5, 5, 5, 5, 2, 100, false},
    };
    for (const Deck& d : decks) {
        Figures f = measure(d.nb, d.nn, d.nc, d.no, d.nf, d.cycles, d.grouped);
        std::printf("  %s %8.3f ms per EM cycle (median of %d), standard errors %7.1f ms\n", d.name,
                    f.cycle, f.cycles - 1, f.variance);
    }
    wholeRun(20, 0, 0, 0, 1);
    folding();

    std::printf("travik: fits to a certified maximum from the generated start (TOL 1e-8)\n");
    const travik::ModelState attitude = attitudeScale(), ordinal = ordinalTwoFactors();
    travik::ModelState binary2 = simulate(truthFor(12, 0, 0, 0, 2), 2, 48, 1000, 0.0, 5);
    binary2.deck.tol = 1e-8;
    for (bool accelerate : {false, true}) {
        certifiedFit("nominal, 392 cases, 4 items of 4 categories:      ", attitude, accelerate);
        certifiedFit("ordinal, 800 cases, 6 items, two factors, 31x31:  ", ordinal, accelerate);
        certifiedFit("binary, 1000 cases, 12 items, two factors, 30x30: ", binary2, accelerate);
    }
    return 0;
}
