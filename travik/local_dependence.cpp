#include "travik/local_dependence.hpp"

#include "travik/likelihood.hpp"

#include <algorithm>
#include <cmath>

namespace travik {

namespace {

// A binary or ordinal item: its data column and, per grid point, P(score = a) at [a * G + g].
struct ScoredItem {
    int column = 0;
    int categories = 0;
    bool ordinal = false;
    std::vector<double> prob;
};

std::vector<ScoredItem> scoredItems(const Deck& d, const Parameters& p, const Grid& grid) {
    ItemTables t;
    t.size = grid.size;
    binaryItemTables(d, p, grid, t);
    ordinalItemTables(d, p, grid, t);
    const std::size_t size = static_cast<std::size_t>(grid.size);
    std::vector<ScoredItem> items;
    for (int i = 0; i < d.nb; ++i) {
        ScoredItem s{i, 2, false, {}};
        s.prob.assign(t.binaryZero(i), t.binaryZero(i) + size);
        s.prob.insert(s.prob.end(), t.binary(i), t.binary(i) + size);
        items.push_back(std::move(s));
    }
    for (int i = 0; i < d.no; ++i) {
        ScoredItem s{d.ordinalColumn(i), d.o[static_cast<std::size_t>(i)], true, {}};
        for (int c = 1; c <= s.categories; ++c)
            s.prob.insert(s.prob.end(), t.ordinal(i, c), t.ordinal(i, c) + size);
        items.push_back(std::move(s));
    }
    return items;
}

// The item score of a response, or -1 when it is missing or outside the categories.
int scoreOf(const ScoredItem& item, double value) {
    if (isMissing(value)) return -1;
    const double v = truncated(value) - (item.ordinal ? 1.0 : 0.0);
    if (!(v >= 0.0 && v < item.categories)) return -1;
    return static_cast<int>(v);
}

std::size_t cellOf(int a, int b, int kj) {
    return static_cast<std::size_t>(a) * static_cast<std::size_t>(kj) + static_cast<std::size_t>(b);
}

// The covariance of the two scores in a K_i x K_j table of counts totalling n.
double scoreCovariance(const std::vector<double>& table, int kj, double n) {
    double sa = 0.0, sb = 0.0, sab = 0.0;
    const std::size_t columns = static_cast<std::size_t>(kj);
    for (std::size_t cell = 0; cell < table.size(); ++cell) {
        const std::size_t row = cell / columns; // the item-i score
        const double a = static_cast<double>(row);
        const double b = static_cast<double>(cell - row * columns);
        sa += a * table[cell];
        sb += b * table[cell];
        sab += a * b * table[cell];
    }
    return sab / n - (sa / n) * (sb / n);
}

ItemPairDependence pairDependence(const ScoredItem& u, const ScoredItem& v, const Grid& grid,
                                  const DataMatrix& x) {
    ItemPairDependence r;
    r.i = u.column;
    r.j = v.column;
    r.df = (u.categories - 1) * (v.categories - 1);
    const int ki = u.categories, kj = v.categories;
    const std::size_t cells = static_cast<std::size_t>(ki) * static_cast<std::size_t>(kj);
    r.observed.assign(cells, 0.0);
    r.expected.assign(cells, 0.0);
    // Counts are whole numbers: row by row or a group's count at once, the same numbers.
    auto count = [&](int k, int cases) {
        const int a = scoreOf(u, x(k, u.column)), b = scoreOf(v, x(k, v.column));
        if (a < 0 || b < 0) return;
        r.cases += cases;
        r.observed[cellOf(a, b, kj)] += cases;
    };
    if (x.groups.empty())
        for (int k = 0; k < x.rows; ++k) count(k, 1);
    else
        for (std::size_t group = 0; group < x.groups.firstCase.size(); ++group)
            count(x.groups.firstCase[group], static_cast<int>(x.groups.count[group]));
    if (r.cases == 0) return r;
    const double n = r.cases;
    const std::size_t size = static_cast<std::size_t>(grid.size);
    for (int a = 0; a < ki; ++a)
        for (int b = 0; b < kj; ++b) {
            const double* pa = u.prob.data() + static_cast<std::size_t>(a) * size;
            const double* pb = v.prob.data() + static_cast<std::size_t>(b) * size;
            double sum = 0.0;
            for (std::size_t g = 0; g < size; ++g) sum += grid.w[g] * pa[g] * pb[g];
            r.expected[cellOf(a, b, kj)] = n * sum;
        }
    for (std::size_t cell = 0; cell < cells; ++cell) {
        const double e = r.expected[cell];
        if (!(e > 0.0)) continue;
        const double diff = r.observed[cell] - e;
        r.x2 += diff * diff / e;
    }
    const double sign =
        scoreCovariance(r.observed, kj, n) >= scoreCovariance(r.expected, kj, n) ? 1.0 : -1.0;
    r.signedCramersV = sign * std::sqrt(r.x2 / (n * (std::min(ki, kj) - 1)));
    r.standardized = standardizedLdX2(r.x2, r.df);
    r.flagged = r.standardized > kLocalDependenceFlag;
    return r;
}

} // namespace

double standardizedLdX2(double x2, int df) {
    return (x2 - df) / std::sqrt(2.0 * df);
}

LocalDependence localDependence(const Deck& d, const Parameters& p, const Grid& grid,
                                const DataMatrix& x) {
    LocalDependence ld;
    if (d.nb + d.no < 2) {
        ld.reason = "local dependence is tested between pairs of binary or ordinal items, and "
                    "the model has fewer than two of them";
        return ld;
    }
    ld.available = true;
    const std::vector<ScoredItem> items = scoredItems(d, p, grid);
    for (std::size_t u = 0; u < items.size(); ++u)
        for (std::size_t v = u + 1; v < items.size(); ++v) {
            ld.pairs.push_back(pairDependence(items[u], items[v], grid, x));
            if (ld.pairs.back().flagged)
                ld.flagged.push_back(static_cast<int>(ld.pairs.size()) - 1);
        }
    return ld;
}

} // namespace travik
