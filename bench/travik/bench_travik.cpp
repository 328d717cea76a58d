// travik benchmarks on generated decks of 3000 cases: time per EM cycle (median over a fixed
// number of cycles, tolerance 0), the standard errors, and a whole run.
#include "simulate.hpp"
#include "travik/em.hpp"
#include "travik/patterns.hpp"
#include "travik/run.hpp"
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
using travik_test::simulate;
using travik_test::truthFor;

namespace {

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Figures {
    double cycle = 0, variance = 0;
    int cycles = 0;
};

Figures measure(int nb, int nn, int nc, int no, int nf, int cycles) {
    travik::ModelState m = simulate(truthFor(nb, nn, nc, no, nf), nf, 48, 3000, 0.0, 2026);
    // Spread the item parameters a little more than the test models do.
    for (std::size_t i = 0; i < m.params.binary.size(); ++i) m.params.binary[i].alpha[0] = -1.0 + 0.1 * i;
    m.deck.maxit = cycles;
    m.deck.tol = 0.0;
    std::vector<Clock::time_point> stamps;
    travik::EmOutput out{[](std::string_view) {}, [&](std::string_view s) {
                             if (s.find("PROGRAM") == std::string_view::npos) stamps.push_back(Clock::now());
                         },
                         [](std::string_view) {}};
    Clock::time_point start = Clock::now();
    travik::Estimation est = travik::estimate(m, out);
    std::vector<double> each;
    for (std::size_t i = 0; i < stamps.size(); ++i) each.push_back(ms(stamps[i] - (i == 0 ? start : stamps[i - 1])));
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
    std::filesystem::path dir = std::filesystem::temp_directory_path() / ("bench-travik-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "LAT.INP") << travik_test::deckText(m, std::to_string(nf) + " 0 2000 1 0.000001 1");
    std::ostringstream err;
    Clock::time_point start = Clock::now();
    int status = travik::runInFolder(dir, err, nullptr);
    double t = ms(Clock::now() - start);
    std::ifstream progress(dir / "fort.2");
    int lines = 0;
    for (std::string line; std::getline(progress, line);) ++lines;
    std::filesystem::remove_all(dir);
    if (status != 0) std::cerr << err.str();
    std::printf("  whole run, %d binary, %d normal, %d nominal, %d ordinal items, %d factor(s): %.0f ms (%d progress lines)\n",
                nb, nn, nc, no, nf, t, lines);
    return t;
}

// Folding 100,000 cases of 20 binary items into their distinct patterns.
void folding() {
    travik::ModelState m = simulate(truthFor(20, 0, 0, 0, 1), 1, 8, 100000, 0.0, 7);
    Clock::time_point start = Clock::now();
    travik::PatternTable t = travik::foldBinary(m);
    std::printf("  folding 100000 cases of 20 binary items: %.1f ms (%d patterns)\n", ms(Clock::now() - start),
                t.count());
}

} // namespace

int main() {
    std::printf("travik: 3000 cases, NQ = 48 (30 points per factor), tolerance 0\n");
    struct Deck {
        const char* name;
        int nb, nn, nc, no, nf, cycles;
    };
    const Deck decks[] = {
        {"one factor, 20 binary items        ", 20, 0, 0, 0, 1, 200},
        {"one factor, 5 items of each type   ", 5, 5, 5, 5, 1, 200},
        {"two factors, 20 binary items       ", 20, 0, 0, 0, 2, 100},
        {"two factors, 5 items of each type  ", 5, 5, 5, 5, 2, 100},
    };
    for (const Deck& d : decks) {
        Figures f = measure(d.nb, d.nn, d.nc, d.no, d.nf, d.cycles);
        std::printf("  %s %8.3f ms per EM cycle (median of %d), standard errors %7.1f ms\n", d.name, f.cycle,
                    f.cycles - 1, f.variance);
    }
    wholeRun(20, 0, 0, 0, 1);
    folding();
    return 0;
}
