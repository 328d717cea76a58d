#include "travik/footprint.hpp"

#include "travik/parameter_vector.hpp"
#include "travik/quadrature.hpp"

#include <cmath>

namespace travik {

fixedio::Footprint runFootprint(const Deck& d, int threads) {
    const double nv = d.nv();
    const double G = std::pow(static_cast<double>(pointsPerFactor(d)), d.nf);
    const double rows = d.mostCategories() + 1.0;
    const double P = parameterLayout(d).count;
    const double word = sizeof(double);
    fixedio::Footprint f;
    f.cases = d.ncase;
    // The data and its folded patterns (doubles), category codes (ints), and per case the
    // likelihood and its scale, six scores, the score order and the case number; the groups of
    // identical rows (at most one per case: its first case, count and hash, the case's group,
    // and up to four hash slots while they are found).
    f.bytesPerCase =
        2 * nv * word + nv * sizeof(int) + 8 * word + 2 * sizeof(int) + 2 * word + 6 * sizeof(int);
    f.workers = threads;
    // A worker's rows of weights (five of the grid's size), its part of the E-step counts
    // (every item's rows and categories, and NEXP per column) and of the information (P x P).
    const double estepRows = d.nb + 2.0 * d.nn + (d.nc + d.no) * rows + nv + 1;
    f.bytesPerWorker = (5 + estepRows) * G * word + 2 * P * P * word;
    // The item tables at the grid points (probabilities and cumulative ones), the E-step totals
    // and the grid itself.
    f.shared = (2.0 * d.nb + d.nn + 3 * (d.nc + d.no) * rows + estepRows + 4) * G * word;
    return f;
}

} // namespace travik
