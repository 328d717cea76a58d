// Small helpers shared by the ploven tests: models, generated data, folders with a deck.
#pragma once

#include "ploven/em.hpp"
#include "ploven/model.hpp"
#include "ploven/patterns.hpp"
#include "ploven/run.hpp"
#include "ploven/simulate.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace testing_ploven {

namespace fs = std::filesystem;

// A model from item probabilities given item by item (pi[j][k]) and the priors.
inline ploven::Estimates model(std::vector<std::vector<double>> pi, std::vector<double> eta) {
    ploven::Estimates m;
    m.resize(static_cast<int>(pi.size()), static_cast<int>(eta.size()));
    for (int j = 0; j < m.nitem; ++j)
        for (int k = 0; k < m.nclass; ++k) m.PI(j, k) = pi[j][k];
    m.eta = eta;
    return m;
}

// Patterns of ncase cases drawn from m.
inline ploven::PatternTable sample(const ploven::Estimates& m, long long ncase) {
    ploven::UniformSource u;
    return ploven::foldPatterns(ploven::simulateResponses(ncase, m, u));
}

// Free parameters of a model: the priors of classes 1..K-1, then PI item by item.
inline std::vector<double> freeParameters(const ploven::Estimates& m) {
    std::vector<double> theta(m.eta.begin(), m.eta.end() - 1);
    theta.insert(theta.end(), m.pi.begin(), m.pi.end());
    return theta;
}

// Log probability of response vector x at free parameters theta (last prior: 1 minus the others).
inline double logProbability(const std::uint8_t* x, int nitem, int K,
                             const std::vector<double>& theta) {
    ploven::Estimates m;
    m.resize(nitem, K);
    m.eta[K - 1] = 1.0;
    for (int k = 0; k + 1 < K; ++k) m.eta[K - 1] -= m.eta[k] = theta[k];
    std::copy(theta.begin() + (K - 1), theta.end(), m.pi.begin());
    return std::log(ploven::expectedFrequency(x, m, 1));
}

// Central difference of f at theta along parameter m.
template <class F> double derivative(F f, std::vector<double> theta, std::size_t m, double h) {
    theta[m] += h;
    const double up = f(theta);
    theta[m] -= 2 * h;
    return (up - f(theta)) / (2 * h);
}

inline std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A fresh folder per test (and per use within a test), removed afterwards.
struct Folder {
    fs::path path;
    explicit Folder(const std::string& tag = "") {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path = fs::temp_directory_path() /
               ("ploven-" + std::to_string(::getpid()) + "-" + info->name() + tag);
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Folder() { fs::remove_all(path); }
    std::string read(const std::string& name) const { return slurp(path / name); }
};

struct RunResult {
    int status = -1;
    std::string err;     // messages on standard error
    std::string console; // console lines (pauses)
};

// Runs ploven in folder on deck (written as latc.inp unless name says otherwise).
inline RunResult runDeck(const Folder& folder, const std::string& deck,
                         const std::string& name = "latc.inp",
                         const ploven::RunOptions& options = {}) {
    if (!name.empty()) std::ofstream(folder.path / name, std::ios::binary) << deck;
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    std::ostringstream err;
    RunResult r;
    r.status = ploven::runInFolder(folder.path, in, err, out, options);
    r.err = err.str();
    std::rewind(out);
    for (int c; (c = std::fgetc(out)) != EOF;) r.console += static_cast<char>(c);
    std::fclose(in);
    std::fclose(out);
    return r;
}

// The report without the blocks that close it: model comparison and starting values.
inline std::string withoutClosingBlocks(const std::string& report) {
    auto at = report.rfind("\n     MODEL COMPARISON\n");
    if (at == std::string::npos) at = report.rfind("\n     STARTING VALUES\n");
    return at == std::string::npos ? report : report.substr(0, at);
}

// The block of the convergence check that ends a report (before any WARNINGS and NOTES), and
// the report without it.
inline std::string convergenceBlock(const std::string& report) {
    auto at = report.rfind("\n\n     CONVERGENCE CHECK\n");
    if (at == std::string::npos) return "";
    ++at; // the block starts with its blank line
    const auto notes =
        std::min(report.find("\n\n     WARNINGS\n", at), report.find("\n\n     NOTES\n", at));
    return report.substr(at, notes == std::string::npos ? std::string::npos : notes + 1 - at);
}
inline std::string withoutConvergenceBlock(const std::string& report) {
    const std::string block = convergenceBlock(report);
    if (block.empty()) return report;
    const auto at = report.rfind(block);
    return report.substr(0, at) + report.substr(at + block.size());
}

// The value a line of the convergence block gives for its label ("EM CYCLES", ...).
inline std::string checkValue(const std::string& report, const std::string& label) {
    const std::string block = convergenceBlock(report);
    const auto at = block.find("\n  " + label + " ");
    if (at == std::string::npos) return "";
    std::istringstream in(block.substr(at + 3 + label.size()));
    std::string value;
    std::getline(in >> std::ws, value);
    return value;
}

// Run options with the given random starts and seed, the rest as the program's defaults.
inline ploven::RunOptions starts(int count, std::uint64_t seed) {
    ploven::RunOptions o;
    o.starts = count;
    o.seed = seed;
    return o;
}

// Six items of a survey of 1200 cases from three classes: four and five classes are more than
// it supports, and plain EM stops short of their maxima.
inline const ploven::PatternTable& surveyOfSix() {
    static const ploven::PatternTable data = sample(model({{.15, .55, .9},
                                                           {.2, .7, .85},
                                                           {.1, .4, .8},
                                                           {.25, .6, .9},
                                                           {.2, .35, .75},
                                                           {.1, .5, .95}},
                                                          {.4, .35, .25}),
                                                    1200);
    return data;
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace testing_ploven
