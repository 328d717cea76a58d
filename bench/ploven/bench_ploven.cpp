// Timing figures of the latent class estimator on generated decks: the EM cycle for 9000 cases
// by 30 items with 3 and 10 classes (a fixed number of cycles), whole runs with a single start
// and with the default many starts side by side, plain and accelerated EM, the effect of
// stopping hopeless starts early, a simulation study of 200 samples of 9000 cases by 10 items
// with 3 classes, and the cycles plain and accelerated EM take on a survey of 6 items where
// plain EM stops short of the maximum.
#include "bench_model.hpp"
#include "ploven/categorical_em.hpp"
#include "ploven/certify.hpp"
#include "ploven/em.hpp"
#include "ploven/multistart.hpp"
#include "ploven/patterns.hpp"
#include "ploven/run.hpp"
#include "ploven/simulate.hpp"
#include "ploven/standard_errors.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using ploven::bench::makeModel;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

ploven::PatternTable makeCases(int ncase, const ploven::Estimates& model) {
    ploven::UniformSource uniform;
    ploven::PatternTable rows = ploven::simulateResponses(ncase, model, uniform);
    // Shuffle the rows so the deck does not list the classes one after the other.
    std::mt19937 g(7);
    for (int i = ncase - 1; i > 0; --i) {
        int r = static_cast<int>(g() % static_cast<unsigned>(i + 1));
        std::swap_ranges(rows.x.begin() + static_cast<std::ptrdiff_t>(i) * rows.nitem,
                         rows.x.begin() + static_cast<std::ptrdiff_t>(i + 1) * rows.nitem,
                         rows.x.begin() + static_cast<std::ptrdiff_t>(r) * rows.nitem);
    }
    return rows;
}

void writeDeck(const fs::path& dir, const std::string& title, const ploven::PatternTable& cases,
               int nclass, const std::string& flags, const std::string& limits) {
    fs::create_directories(dir);
    std::ofstream deck(dir / "LATC.INP");
    deck << title << '\n'
         << cases.size() << ' ' << nclass << ' ' << cases.nitem << " 0 " << flags << '\n'
         << limits << '\n';
    std::string line;
    for (int i = 0; i < cases.size(); ++i) {
        line.clear();
        for (int j = 0; j < cases.nitem; ++j) {
            line += static_cast<char>('0' + cases.response(i, j));
            line += ' ';
        }
        line.back() = '\n';
        deck << line;
    }
}

// The first line of the report holding text, for the headline figures.
std::string reportLine(const fs::path& dir, const std::string& text) {
    std::ifstream in(dir / "LATC7.OUT");
    for (std::string line; std::getline(in, line);)
        if (line.find(text) != std::string::npos) return line;
    return "(no line with " + text + ")";
}

void cycleTime(int nclass, int cycles) {
    const ploven::Estimates model = makeModel(30, nclass, 11u * static_cast<unsigned>(nclass));
    const ploven::PatternTable patterns = ploven::foldPatterns(makeCases(9000, model));
    ploven::Estimates est;
    ploven::Posteriors post;
    // A negative tolerance never converges: exactly `cycles` cycles run, then the cap ends it.
    ploven::estimateFromBandStart(patterns, nclass, 9000, -1.0, 2, est, post); // warm-up
    const auto start = Clock::now();
    const ploven::EmResult r =
        ploven::estimateFromBandStart(patterns, nclass, 9000, -1.0, cycles, est, post);
    const double ms = msSince(start);
    std::printf(
        "ploven  EM cycle, 9000 cases x 30 items (%d patterns), %2d classes: %.3f ms per cycle "
        "(%d cycles, code %d)\n",
        patterns.size(), nclass, ms / cycles, cycles, ploven::errorNumber(r.error));
}

// The categorical model's cycle (E-step and M-step) on the same binary cases as cycleTime, and
// on 9000 cases x 30 items of four categories.
void categoricalCycleTime(int nclass, int cycles) {
    const ploven::Estimates model = makeModel(30, nclass, 11u * static_cast<unsigned>(nclass));
    const ploven::PatternTable binary = ploven::foldPatterns(makeCases(9000, model));
    ploven::CategoricalData two;
    two.nitem = 30;
    two.categories.assign(30, 2);
    for (std::uint8_t v : binary.x) two.x.push_back(static_cast<std::uint8_t>(v + 1));
    two.freq = binary.freq;
    ploven::CategoricalData four;
    four.nitem = 30;
    four.categories.assign(30, 4);
    std::mt19937_64 g(5);
    for (int i = 0; i < 9000; ++i) {
        const int k = static_cast<int>(g() % static_cast<unsigned>(nclass));
        for (int j = 0; j < 30; ++j)
            four.x.push_back(static_cast<std::uint8_t>(
                g() % 10 < 6 ? 1 + (k + j) % 4 : 1 + static_cast<int>(g() % 4)));
        four.freq.push_back(1);
    }
    four = ploven::foldCategorical(four, nullptr);
    for (const ploven::CategoricalData* d : {&two, &four}) {
        ploven::CategoricalEstimates est;
        est.resize(d->categories, nclass);
        std::mt19937_64 start(1);
        ploven::drawCategoricalStart(start, est);
        ploven::CategoricalEm em(*d, nclass);
        std::vector<double> h;
        ploven::CategoricalRun run;
        run.loglik = em.expectation(est, h);
        const auto t0 = Clock::now();
        ploven::iterateCategorical(em, est, h, run, -1.0, cycles);
        std::printf("ploven  categorical EM cycle, 9000 cases x 30 items of %d categories (%d "
                    "patterns), %2d classes: %.3f ms per cycle\n",
                    d->categories[0], d->size(), nclass, msSince(t0) / cycles);
    }
}

// A class enumeration of 1 to 6 classes on 2000 cases x 12 items of four categories, default
// starts, as a CSV run.
void enumerationTime(const fs::path& root) {
    fs::create_directories(root / "enumeration");
    const fs::path csv = root / "enumeration" / "answers.csv";
    {
        std::ofstream out(csv);
        out << "q1,q2,q3,q4,q5,q6,q7,q8,q9,q10,q11,q12\n";
        std::mt19937_64 g(9);
        for (int i = 0; i < 2000; ++i) {
            const int k = static_cast<int>(g() % 3);
            for (int j = 0; j < 12; ++j)
                out << (j ? "," : "")
                    << (g() % 10 < 7 ? 1 + (k + j) % 4 : 1 + static_cast<int>(g() % 4));
            out << '\n';
        }
    }
    ploven::RunOptions o;
    ploven::CsvModelOptions model;
    model.classes = 1;
    model.lastClasses = 6;
    o.csv = ploven::CsvInput{csv, model};
    o.outputDir = root / "enumeration" / "out";
    std::ostringstream err;
    const auto start = Clock::now();
    const int status = ploven::run(o, nullptr, err, nullptr);
    std::printf("ploven  enumeration of 1 to 6 classes, 2000 cases x 12 items of 4 categories, "
                "default starts: %.0f ms (status %d)\n",
                msSince(start), status);
}

int runTimed(const fs::path& dir, double& ms, const ploven::RunOptions& options = {}) {
    std::FILE* devnull = std::fopen("/dev/null", "r+");
    std::ostringstream err;
    const auto start = Clock::now();
    const int status = ploven::runInFolder(dir, devnull, err, devnull, options);
    ms = msSince(start);
    if (devnull) std::fclose(devnull);
    if (status != 0) std::cerr << err.str();
    return status;
}

// A whole run of one deck with the band start alone (starts 0), with the default starts, and
// with the default starts and accelerated EM (as a CSV run has it). Returns the accelerated
// run's time.
double singleAgainstDefault(const fs::path& root, const std::string& name, const std::string& label,
                            const ploven::PatternTable& cases, int nclass,
                            const std::string& flags) {
    const char* kinds[3] = {"single", "default", "accelerated"};
    double ms[3] = {0.0, 0.0, 0.0};
    int status[3] = {0, 0, 0};
    std::string likelihood[3];
    for (int run = 0; run < 3; ++run) {
        const fs::path dir = root / (name + "-" + kinds[run]);
        writeDeck(dir, "Generated: " + label, cases, nclass, flags, "0 0 0");
        ploven::RunOptions options;
        if (run == 0) options.starts = 0;
        if (run == 2) options.accelerate = true;
        status[run] = runTimed(dir, ms[run], options);
        likelihood[run] = reportLine(dir, "TOTAL OF ITERATIONS");
    }
    std::printf("ploven  whole run, %s: single start %.0f ms, default (20 starts) %.0f ms, "
                "accelerated %.0f ms (status %d, %d, %d)\n        single:     %s\n"
                "        default:    %s\n        accelerated:%s\n",
                label.c_str(), ms[0], ms[1], ms[2], status[0], status[1], status[2],
                likelihood[0].c_str(), likelihood[1].c_str(), likelihood[2].c_str());
    return ms[2];
}

// Six items from three classes, fitted with four and five: plain EM under the deck's default
// tolerance stops short of the maximum and the Newton finish takes it there; accelerated EM
// gets there in fewer cycles; the reference is plain EM run until the loglikelihood changes by
// less than 1e-13.
void ridges() {
    ploven::Estimates truth;
    truth.resize(6, 3);
    const double pi[6][3] = {{.15, .55, .9}, {.2, .7, .85},  {.1, .4, .8},
                             {.25, .6, .9},  {.2, .35, .75}, {.1, .5, .95}};
    for (int j = 0; j < 6; ++j)
        for (int k = 0; k < 3; ++k) truth.PI(j, k) = pi[j][k];
    truth.eta = {.4, .35, .25};
    ploven::UniformSource uniform;
    const ploven::PatternTable data =
        ploven::foldPatterns(ploven::simulateResponses(1200, truth, uniform));
    for (int nclass : {4, 5}) {
        ploven::Estimates est;
        ploven::Posteriors post;
        const ploven::EmResult tight =
            ploven::estimateFromBandStart(data, nclass, 1200, 1e-13, 100000, est, post);
        const ploven::EmResult stopped =
            ploven::estimateFromBandStart(data, nclass, 1200, 1e-7, 3000, est, post);
        ploven::EmResult fit[2];
        ploven::FitCheck check[2];
        for (int a = 0; a < 2; ++a) {
            ploven::FitMethod method;
            method.accelerate = a == 1;
            fit[a] =
                ploven::fitFromBands(data, nclass, 1200, 1e-7, 3000, method, est, post, check[a]);
        }
        std::printf(
            "ploven  6 items, %d classes, band start: plain EM %d cycles + %zu Newton steps to "
            "%.7f (EM stopped at %.7f); accelerated %d cycles + %zu Newton steps to %.7f; "
            "reference %.7f after %d cycles\n",
            nclass, check[0].convergence.emCycles, check[0].convergence.newton.size(),
            fit[0].loglik, stopped.loglik, check[1].convergence.emCycles,
            check[1].convergence.newton.size(), fit[1].loglik, tight.loglik, tight.iterations - 1);
    }
}

// The default many starts with and without stopping hopeless starts early: the reported
// solution must be the same.
void earlyStopping(const std::string& label, const ploven::PatternTable& patterns, int nclass,
                   long long ncase) {
    ploven::MultiStartOptions all;
    all.stopHopeless = false;
    auto start = Clock::now();
    const ploven::MultiStartFit fast =
        ploven::fitFromManyStarts(patterns, nclass, ncase, 1e-7, 3000);
    const double fastMs = msSince(start);
    start = Clock::now();
    const ploven::MultiStartFit slow =
        ploven::fitFromManyStarts(patterns, nclass, ncase, 1e-7, 3000, all);
    const double slowMs = msSince(start);
    auto origin = [](const ploven::MultiStartFit& f) {
        const int r = f.outcome.runs[f.outcome.reported].origin;
        return r == ploven::kBandStart ? std::string("band start") : "start " + std::to_string(r);
    };
    double band = 0.0;
    for (const ploven::FinalRun& run : fast.outcome.runs)
        if (run.origin == ploven::kBandStart) band = run.loglik;
    const bool same = fast.fit.loglik == slow.fit.loglik && fast.est.pi == slow.est.pi &&
                      fast.est.eta == slow.est.eta;
    std::printf("ploven  early stopping, %s: %d of 20 starts stopped; reported %.5f (%s, "
                "replicated %d) against %.5f (%s, replicated %d) without: %s; %.0f ms against "
                "%.0f ms; band start alone %.5f\n",
                label.c_str(), fast.outcome.stoppedEarly, fast.fit.loglik, origin(fast).c_str(),
                fast.outcome.replicated, slow.fit.loglik, origin(slow).c_str(),
                slow.outcome.replicated, same ? "identical" : "DIFFERENT", fastMs, slowMs, band);
}

} // namespace

int main(int argc, char** argv) {
    // --keep leaves the generated decks and reports behind and says where.
    const bool keep = argc > 1 && std::string(argv[1]) == "--keep";
    const fs::path root =
        fs::temp_directory_path() / ("bench-ploven-" + std::to_string(::getpid()));
    fs::remove_all(root);

    cycleTime(3, 300);
    cycleTime(10, 100);
    categoricalCycleTime(3, 100);
    categoricalCycleTime(10, 50);
    enumerationTime(root);

    singleAgainstDefault(root, "three-classes", "9000 cases, 30 items, 3 classes",
                         makeCases(9000, makeModel(30, 3, 33)), 3, "0 0 0 0 0 0");
    const double accelerated =
        singleAgainstDefault(root, "ten-classes", "9000 cases, 30 items, 10 classes",
                             makeCases(9000, makeModel(30, 10, 110)), 10, "0 0 0 0 0 0");
    std::printf("ploven  target: 9000 cases x 30 items, 10 classes, default starts, accelerated: "
                "%.0f ms (target 1000 ms or less; 2290 ms with plain EM before the Newton "
                "finish and the faster cycle)\n",
                accelerated);
    {
        // Standard errors of a 10-class fit: information matrix and inversion (309 parameters),
        // timed directly since such a fit usually has estimates at a bound.
        const ploven::Estimates model = makeModel(30, 10, 110);
        const ploven::PatternTable patterns = ploven::foldPatterns(makeCases(9000, model));
        ploven::Estimates est;
        ploven::Posteriors post;
        ploven::estimateFromBandStart(patterns, 10, 9000, 1e-7, 3000, est, post);
        for (double& p : est.pi) p = std::min(0.99, std::max(0.01, p)); // keep every score finite
        const auto start = Clock::now();
        const ploven::Matrix info = ploven::informationMatrix(patterns, est, post);
        const double infoMs = msSince(start);
        std::FILE* devnull = std::fopen("/dev/null", "r+");
        const ploven::Matrix v = ploven::invertInformation(info, ploven::Console{devnull, devnull});
        if (devnull) std::fclose(devnull);
        std::printf(
            "ploven  standard errors, 10 classes x 30 items (%d parameters): information matrix "
            "%.0f ms, inversion %.0f ms\n",
            v.n, infoMs, msSince(start) - infoMs);
    }
    singleAgainstDefault(root, "three-classes-se",
                         "9000 cases, 30 items, 3 classes, standard errors",
                         makeCases(9000, makeModel(30, 3, 33)), 3, "0 0 0 1 0 0");
    {
        // Every deck of this bench, and one whose classes differ in profile, not in level
        // (item probabilities uniform on [0.1, 0.9]), where the band start is far off.
        earlyStopping("9000 x 30, 3 classes",
                      ploven::foldPatterns(makeCases(9000, makeModel(30, 3, 33))), 3, 9000);
        earlyStopping("9000 x 30, 10 classes",
                      ploven::foldPatterns(makeCases(9000, makeModel(30, 10, 110))), 10, 9000);
        earlyStopping("9000 x 10, 3 classes",
                      ploven::foldPatterns(makeCases(9000, makeModel(10, 3, 33))), 3, 9000);
        ploven::Estimates profiles;
        profiles.resize(60, 3);
        std::mt19937_64 g(1);
        for (double& p : profiles.pi) p = 0.1 + 0.8 * ploven::unitInterval(g());
        profiles.eta = {1 / 3.0, 1 / 3.0, 1 / 3.0};
        earlyStopping("5000 x 60, 3 classes by profile",
                      ploven::foldPatterns(makeCases(5000, profiles)), 3, 5000);
    }
    {
        const fs::path dir = root / "study";
        const ploven::Estimates model = makeModel(10, 3, 33);
        writeDeck(dir, "Generated: 9000 cases, 10 items, 3 classes, 200 samples",
                  makeCases(9000, model), 3, "0 0 0 0 1 0", "0 0 200");
        double ms = 0.0;
        const int status = runTimed(dir, ms);
        std::printf(
            "ploven  simulation study, 200 samples x 9000 cases x 10 items, 3 classes: %.0f ms "
            "(status %d)\n        %s\n",
            ms, status, reportLine(dir, "TOTAL OF ITERATIONS").c_str());
    }
    ridges();
    if (keep)
        std::printf("decks and reports kept in %s\n", root.c_str());
    else
        fs::remove_all(root);
    return 0;
}
