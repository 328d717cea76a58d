// Data simulated from known parameters: decks whose true model is known, for checking that a
// fit recovers it and for timing fits of a given size.
#pragma once

#include "travik/deck.hpp"
#include "travik/model_state.hpp"

#include <cmath>
#include <random>
#include <sstream>
#include <vector>

namespace travik::simulated {

// A model of nb, nn, nc, no items with moderate parameters (categories: nominal 3, ordinal 4).
inline travik::Parameters truthFor(int nb, int nn, int nc, int no, int nf) {
    travik::Parameters p;
    for (int i = 0; i < nb; ++i)
        p.binary.push_back({{-0.8 + 0.3 * i, 0.7 + 0.15 * i, nf == 2 ? 0.9 - 0.2 * i : 0.0}});
    for (int i = 0; i < nn; ++i)
        p.normal.push_back(
            {1.0 + 0.5 * i, 0.8 + 0.1 * i, nf == 2 ? 0.5 - 0.2 * i : 0.0, 0.5 + 0.1 * i});
    for (int i = 0; i < nc; ++i) {
        travik::NominalItem c;
        c.categories = 3;
        c.ac[2] = {-0.2, 0.7 + 0.1 * i, nf == 2 ? 0.4 : 0.0};
        c.ac[3] = {0.3, 1.2, nf == 2 ? -0.3 + 0.2 * i : 0.0};
        p.nominal.push_back(c);
    }
    for (int i = 0; i < no; ++i) {
        travik::OrdinalItem o;
        o.categories = 4;
        o.thr[1] = -1.0;
        o.thr[2] = 0.1 * i;
        o.thr[3] = 1.2;
        o.ao = {0.0, 0.9 + 0.1 * i, nf == 2 ? 0.6 - 0.3 * i : 0.0};
        p.ordinal.push_back(o);
    }
    return p;
}

// A model of nb binary items and nominal and ordinal items of the given category counts:
// every category about as likely at z = 0 (nominal loadings rising with the category, ordinal
// thresholds evenly spread over [-2.2, 2.2]), on one or two factors.
inline travik::Parameters truthWithCategories(int nb, const std::vector<int>& nominal,
                                              const std::vector<int>& ordinal, int nf) {
    travik::Parameters p = truthFor(nb, 0, 0, 0, nf);
    for (std::size_t i = 0; i < nominal.size(); ++i) {
        travik::NominalItem c;
        c.categories = nominal[i];
        for (int j = 2; j <= c.categories; ++j) {
            const double rise = static_cast<double>(j - 1) / (c.categories - 1);
            c.ac[j] = {0.3 * std::cos(j + static_cast<double>(i)), 1.2 * rise,
                       nf == 2 ? 0.6 - 0.9 * rise : 0.0};
        }
        p.nominal.push_back(c);
    }
    for (std::size_t i = 0; i < ordinal.size(); ++i) {
        travik::OrdinalItem o;
        o.categories = ordinal[i];
        for (int j = 1; j < o.categories; ++j) o.thr[j] = -2.2 + 4.4 * j / o.categories;
        o.ao = {0.0, 1.1 - 0.1 * static_cast<double>(i), nf == 2 ? 0.5 : 0.0};
        p.ordinal.push_back(o);
    }
    return p;
}

// Draws n cases from the model; each value is missing with probability missing.
inline travik::ModelState simulate(const travik::Parameters& p, int nf, int nq, int n,
                                   double missing, unsigned seed) {
    travik::ModelState m;
    travik::Deck& d = m.deck;
    d.title = std::string(70, ' ');
    d.ncase = n;
    d.nb = static_cast<int>(p.binary.size());
    d.nn = static_cast<int>(p.normal.size());
    d.nc = static_cast<int>(p.nominal.size());
    d.no = static_cast<int>(p.ordinal.size());
    d.nq = nq;
    d.nf = nf;
    d.maxit = 2000;
    d.tol = 1e-11;
    for (const auto& c : p.nominal) d.c.push_back(c.categories);
    for (const auto& o : p.ordinal) d.o.push_back(o.categories);
    m.x.rows = n;
    m.x.cols = d.nv();
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> unit;
    for (int k = 0; k < n; ++k) {
        double z1 = normal(rng), z2 = nf == 2 ? normal(rng) : 0.0;
        std::vector<double> row;
        for (const auto& b : p.binary) {
            double v = b.alpha[0] + b.alpha[1] * z1 + b.alpha[2] * z2;
            row.push_back(unit(rng) < 1.0 / (1.0 + std::exp(-v)) ? 1.0 : 0.0);
        }
        for (const auto& it : p.normal)
            row.push_back(it.mu + it.lambda1 * z1 + it.lambda2 * z2 +
                          std::sqrt(it.psi) * normal(rng));
        for (const auto& c : p.nominal) {
            double e[travik::kMostCategories + 1] = {0, 1.0}, sum = 1.0;
            for (int j = 2; j <= c.categories; ++j)
                sum += e[j] = std::exp(c.ac[j][0] + c.ac[j][1] * z1 + c.ac[j][2] * z2);
            double u = unit(rng) * sum, acc = 0;
            int cat = c.categories;
            for (int j = 1; j <= c.categories; ++j)
                if (u < (acc += e[j])) {
                    cat = j;
                    break;
                }
            row.push_back(cat);
        }
        for (const auto& o : p.ordinal) {
            double u = unit(rng);
            int cat = o.categories;
            for (int j = 1; j < o.categories; ++j)
                if (u < 1.0 / (1.0 + std::exp(-(o.thr[j] - o.ao[1] * z1 - o.ao[2] * z2)))) {
                    cat = j;
                    break;
                }
            row.push_back(cat);
        }
        for (double& v : row)
            if (missing > 0 && unit(rng) < missing) v = 999.0;
        m.x.values.insert(m.x.values.end(), row.begin(), row.end());
    }
    travik::computeObservedMargins(m);
    travik::generateStartingValues(m);
    return m;
}

// The deck text of a simulated model, for whole runs.
inline std::string deckText(const travik::ModelState& m, const std::string& control) {
    const travik::Deck& d = m.deck;
    std::ostringstream out;
    out.precision(17);
    out << "Simulated deck\n"
        << d.ncase << ' ' << d.nb << ' ' << d.nn << ' ' << d.nc << ' ' << d.no << ' ' << d.nq
        << '\n';
    for (int c : d.c) out << c << ' ';
    out << '\n';
    for (int o : d.o) out << o << ' ';
    out << '\n' << control << '\n';
    for (int k = 0; k < d.ncase; ++k) {
        for (int col = 0; col < d.nv(); ++col)
            out << m.x(k, col) << (col + 1 < d.nv() ? " " : "\n");
    }
    return out.str();
}

} // namespace travik::simulated
