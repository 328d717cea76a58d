#include "travik/likelihood.hpp"

#include "numerics/parallel_blocks.hpp"
#include "travik/exponential.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <stdexcept>

namespace travik {

double normalConstant() {
    const float twoPi = 6.28318f;
    const float root = std::sqrt(twoPi);
    return 1.0 / static_cast<double>(root);
}

void logisticProbabilities(const Grid& grid, const std::array<double, 3>& a, double* p, double* q) {
    for (int g = 0; g < grid.size; ++g) {
        double v =
            grid.nf == 2 ? a[0] + a[1] * grid.z1[g] + a[2] * grid.z2[g] : a[0] + a[1] * grid.z1[g];
        // Two forms of the logistic function keep the exponential's argument non-positive.
        double prob;
        if (v > 0.0)
            prob = 1.0 / (1.0 + std::exp(-v));
        else {
            double e = std::exp(v);
            prob = e / (1.0 + e);
        }
        p[g] = prob;
        if (q) q[g] = 1.0 - prob;
    }
}

void binaryItemTables(const Deck& d, const Parameters& p, const Grid& grid, ItemTables& t) {
    const int G = grid.size;
    t.binaryOneProb.resize(static_cast<std::size_t>(d.nb) * G);
    t.binaryZeroProb.resize(t.binaryOneProb.size());
    for (int i = 0; i < d.nb; ++i)
        logisticProbabilities(grid, p.binary[i].alpha,
                              t.binaryOneProb.data() + static_cast<std::size_t>(i) * G,
                              t.binaryZeroProb.data() + static_cast<std::size_t>(i) * G);
    t.binaryStride = (d.nb + kBinaryLanes - 1) / kBinaryLanes * kBinaryLanes;
    t.binaryOneByPoint.assign(static_cast<std::size_t>(t.binaryStride) * G, 0.0);
    for (int i = 0; i < d.nb; ++i)
        for (int g = 0; g < G; ++g)
            t.binaryOneByPoint[static_cast<std::size_t>(g) * t.binaryStride + i] =
                t.binaryOneProb[static_cast<std::size_t>(i) * G + g];
}

void normalItemTables(const Deck& d, const Parameters& p, const Grid& grid, ItemTables& t) {
    const int G = grid.size;
    const double k = normalConstant();
    t.normalMean.resize(static_cast<std::size_t>(d.nn) * G);
    t.normalScale.resize(d.nn);
    t.normalTwoPsi.resize(d.nn);
    for (int i = 0; i < d.nn; ++i) {
        const NormalItem& n = p.normal[i];
        double* mean = t.normalMean.data() + static_cast<std::size_t>(i) * G;
        for (int g = 0; g < G; ++g)
            mean[g] = grid.nf == 2 ? n.mu + n.lambda1 * grid.z1[g] + n.lambda2 * grid.z2[g]
                                   : n.mu + n.lambda1 * grid.z1[g];
        t.normalScale[i] = k * (1.0 / std::sqrt(n.psi));
        t.normalTwoPsi[i] = n.psi + n.psi;
    }
}

void nominalProbabilities(const Grid& grid, const NominalItem& item, double* const* pc) {
    const int C = item.categories;
    double e[kMostCategories + 1];
    for (int g = 0; g < grid.size; ++g) {
        // Multinomial logit with category 1 as reference.
        double sum = 1.0;
        for (int j = 2; j <= C; ++j) {
            const auto& a = item.ac[j];
            double eta = grid.nf == 2 ? a[0] + a[1] * grid.z1[g] + a[2] * grid.z2[g]
                                      : a[0] + a[1] * grid.z1[g];
            e[j] = std::exp(eta);
            sum += e[j];
        }
        pc[1][g] = 1.0 / sum;
        for (int j = 2; j <= C; ++j) pc[j][g] = e[j] / sum;
    }
}

void nominalItemTables(const Deck& d, const Parameters& p, const Grid& grid, ItemTables& t) {
    const int G = grid.size;
    t.categoryRows = d.mostCategories() + 1;
    t.nominalProb.assign(static_cast<std::size_t>(d.nc) * t.categoryRows * G, 0.0);
    for (int i = 0; i < d.nc; ++i) {
        double* rows[kMostCategories + 1];
        for (int c = 1; c <= p.nominal[i].categories; ++c)
            rows[c] = t.nominalProb.data() + t.categoryOffset(i, c);
        nominalProbabilities(grid, p.nominal[i], rows);
    }
}

void ordinalProbabilities(const Grid& grid, const OrdinalItem& item, double* const* cumo,
                          double* const* po) {
    const int O = item.categories;
    for (int g = 0; g < grid.size; ++g) {
        // Cumulative logit: loadings enter with a minus sign, so a larger factor value moves
        // mass to the higher categories.
        double previous = 0.0;
        for (int j = 1; j <= O; ++j) {
            double cumulative = 1.0;
            if (j < O) {
                double u = grid.nf == 2
                               ? item.thr[j] - item.ao[1] * grid.z1[g] - item.ao[2] * grid.z2[g]
                               : item.thr[j] - item.ao[1] * grid.z1[g];
                // e^u / (e^u + 1) is exactly 1 in double precision long before e^u overflows.
                if (u > 40.0)
                    cumulative = 1.0;
                else {
                    double e = std::exp(u);
                    cumulative = e / (e + 1.0);
                }
            }
            cumo[j][g] = cumulative;
            po[j][g] = j == 1 ? cumulative : cumulative - previous;
            previous = cumulative;
        }
    }
}

void ordinalItemTables(const Deck& d, const Parameters& p, const Grid& grid, ItemTables& t) {
    const int G = grid.size;
    t.categoryRows = d.mostCategories() + 1;
    const std::size_t cells = static_cast<std::size_t>(d.no) * t.categoryRows * G;
    t.ordinalCumulativeProb.assign(cells, 0.0);
    t.ordinalProb.assign(cells, 0.0);
    for (int i = 0; i < d.no; ++i) {
        double* cumo[kMostCategories + 1];
        double* po[kMostCategories + 1];
        for (int c = 1; c <= p.ordinal[i].categories; ++c) {
            cumo[c] = t.ordinalCumulativeProb.data() + t.categoryOffset(i, c);
            po[c] = t.ordinalProb.data() + t.categoryOffset(i, c);
        }
        ordinalProbabilities(grid, p.ordinal[i], cumo, po);
    }
}

void itemTables(const Deck& d, const Parameters& p, const Grid& grid, ItemTables& t) {
    t.size = grid.size;
    binaryItemTables(d, p, grid, t);
    normalItemTables(d, p, grid, t);
    nominalItemTables(d, p, grid, t);
    ordinalItemTables(d, p, grid, t);
}

namespace {

// Multiplies product by row, or copies row into it for the first factor (1 times a value is
// that value, so the products are the same as starting from 1).
inline void multiplyInto(double* __restrict product, const double* __restrict row, int n,
                         bool first) {
    if (first)
        std::copy(row, row + n, product);
    else
        for (int g = 0; g < n; ++g) product[g] *= row[g];
}

inline void normalFactor(double* __restrict product, const double* __restrict mean, double x,
                         double scale, double twoPsi, int n, bool first) {
    auto density = [&](int g) {
        const double r = x - mean[g];
        return scale * exponential(-(r * r) / twoPsi);
    };
    if (first)
        for (int g = 0; g < n; ++g) product[g] = density(g);
    else
        for (int g = 0; g < n; ++g) product[g] *= density(g);
}

inline signed char binaryResponse(double value) {
    const double v = truncated(value);
    return v == 1.0 ? 1 : v == 0.0 ? 0 : -1;
}

// The product over the row's binary items, in column order, from the products the prefix keeps
// for the leading items with the same responses; null without an observed binary item.
__attribute__((always_inline)) inline const double*
binaryProductWithPrefix(const Deck& d, const double* row, const ItemTables& t, int G,
                        BinaryPrefix& pre) {
    const int nb = d.nb;
    if (nb == 0) return nullptr;
    if (pre.response.size() != static_cast<std::size_t>(nb)) {
        pre.products.assign(static_cast<std::size_t>(nb) * G, 0.0);
        pre.level.assign(static_cast<std::size_t>(nb), nullptr);
        pre.response.assign(static_cast<std::size_t>(nb), -1);
        pre.kept = 0;
    }
    int i = 0;
    while (i < pre.kept && binaryResponse(row[i]) == pre.response[i]) ++i;
    for (; i < nb; ++i) {
        const signed char r = binaryResponse(row[i]);
        pre.response[i] = r;
        const double* before = i > 0 ? pre.level[i - 1] : nullptr;
        if (r < 0) { // missing (or any other code) leaves the product unchanged
            pre.level[i] = before;
            continue;
        }
        double* __restrict out = pre.products.data() + static_cast<std::size_t>(i) * G;
        const double* __restrict factor = r == 1 ? t.binary(i) : t.binaryZero(i);
        if (before)
            for (int g = 0; g < G; ++g) out[g] = before[g] * factor[g];
        else
            std::copy(factor, factor + G, out);
        pre.level[i] = out;
    }
    pre.kept = nb;
    return pre.level[nb - 1];
}

// The same weights in logarithms, for a case whose plain products underflow.
double scaledCaseWeights(const Deck& d, const double* row, const Grid& grid, const ItemTables& t,
                         double* gj, double& logScale) {
    const int G = grid.size;
    for (int g = 0; g < G; ++g) {
        double s = logOrFloor(grid.w[g]);
        for (int i = 0; i < d.nb; ++i) {
            double v = truncated(row[i]);
            if (v == 1.0)
                s += logOrFloor(t.binary(i)[g]);
            else if (v == 0.0)
                s += logOrFloor(t.binaryZero(i)[g]);
        }
        for (int i = 0; i < d.nn; ++i) {
            double x = row[d.normalColumn(i)];
            if (isMissing(x)) continue;
            double r = x - t.mean(i)[g];
            s += logOrFloor(t.normalScale[i]) - (r * r) / t.normalTwoPsi[i];
        }
        for (int i = 0; i < d.nc; ++i) {
            double x = row[d.nominalColumn(i)];
            if (!isMissing(x)) s += logOrFloor(t.nominal(i, static_cast<int>(truncated(x)))[g]);
        }
        for (int i = 0; i < d.no; ++i) {
            double x = row[d.ordinalColumn(i)];
            if (!isMissing(x)) s += logOrFloor(t.ordinal(i, static_cast<int>(truncated(x)))[g]);
        }
        gj[g] = s;
    }
    return weightsFromLogs(gj, G, logScale);
}

} // namespace

double weightsFromLogs(double* values, int n, double& logScale) {
    double top = -INFINITY;
    for (int i = 0; i < n; ++i) top = std::max(top, values[i]);
    if (!std::isfinite(top)) top = 0.0;
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
        values[i] = std::exp(values[i] - top);
        sum += values[i];
    }
    logScale = top;
    return sum;
}

// The hot loop of every EM cycle: compiled for AVX2 where the processor has it (the same
// operations in wider registers give the same digits).
__attribute__((target_clones("avx2", "default"))) double
caseWeights(const Deck& d, const DataMatrix& x, const Grid& grid, const ItemTables& t, int k,
            double* gj, double& logScale, double* work, BinaryPrefix* prefix) {
    const int G = grid.size;
    const double* row = x.row(k);
    double* fb = work;
    double* fn = work + G;
    double* fc = work + 2 * G;
    double* fo = work + 3 * G;

    // Each type's product over the case's observed items, in column order.
    bool anyN = false, anyC = false, anyO = false;
    const double* binaryProduct = nullptr;
    if (prefix)
        binaryProduct = binaryProductWithPrefix(d, row, t, G, *prefix);
    else
        for (int i = 0; i < d.nb; ++i) {
            const signed char r = binaryResponse(row[i]);
            if (r < 0) continue; // missing (or any other code) leaves the product unchanged
            multiplyInto(fb, r == 1 ? t.binary(i) : t.binaryZero(i), G, !binaryProduct);
            binaryProduct = fb;
        }
    for (int i = 0; i < d.nn; ++i) {
        double v = row[d.normalColumn(i)];
        if (isMissing(v)) continue;
        normalFactor(fn, t.mean(i), v, t.normalScale[i], t.normalTwoPsi[i], G, !anyN);
        anyN = true;
    }
    for (int i = 0; i < d.nc; ++i) {
        double v = row[d.nominalColumn(i)];
        if (isMissing(v)) continue;
        multiplyInto(fc, t.nominal(i, static_cast<int>(truncated(v))), G, !anyC);
        anyC = true;
    }
    for (int i = 0; i < d.no; ++i) {
        double v = row[d.ordinalColumn(i)];
        if (isMissing(v)) continue;
        multiplyInto(fo, t.ordinal(i, static_cast<int>(truncated(v))), G, !anyO);
        anyO = true;
    }

    // GJ = weight * FB * FN * FC * FO, left to right; a type without observed items is 1.
    const double* w = grid.w.data();
    std::copy(w, w + G, gj);
    if (binaryProduct) multiplyInto(gj, binaryProduct, G, false);
    if (anyN) multiplyInto(gj, fn, G, false);
    if (anyC) multiplyInto(gj, fc, G, false);
    if (anyO) multiplyInto(gj, fo, G, false);

    double fm = 0.0;
    for (int g = 0; g < G; ++g) fm += gj[g];
    logScale = 0.0;
    if (fm < DBL_MIN) fm = scaledCaseWeights(d, row, grid, t, gj, logScale);
    return fm;
}

namespace {

// One worker's scratch rows and its part of the sums.
struct CaseWorker {
    std::vector<double> work, gj;
    BinaryPrefix prefix; // for this loop's tables only
    std::unique_ptr<CaseVisitor> part;
    double logl = 0.0;
};

std::vector<CaseWorker> caseWorkers(int count, int G, CaseVisitor* visitor) {
    std::vector<CaseWorker> workers(static_cast<std::size_t>(count));
    for (CaseWorker& c : workers) {
        c.work.resize(4 * static_cast<std::size_t>(G));
        c.gj.resize(static_cast<std::size_t>(G));
        if (visitor) c.part = visitor->part();
    }
    return workers;
}

// The units the loops over cases visit: the groups of identical rows, or else every case.
class CaseUnits {
  public:
    explicit CaseUnits(const DataMatrix& x) : groups_(x.groups), grouped_(!x.groups.empty()) {
        if (grouped_ && x.groups.groupOfCase.size() != static_cast<std::size_t>(x.rows))
            throw std::logic_error("the row groups do not belong to this data");
        count_ = grouped_ ? groups_.firstCase.size() : static_cast<std::size_t>(x.rows);
    }
    std::size_t count() const { return count_; }
    int caseOf(std::size_t u) const {
        return grouped_ ? groups_.firstCase[u] : static_cast<int>(u);
    }
    double casesIn(std::size_t u) const { return grouped_ ? groups_.count[u] : 1.0; }
    // Carried binary products pay when the rows come sorted, as the groups do.
    BinaryPrefix* prefixFor(CaseWorker& c) const { return grouped_ ? &c.prefix : nullptr; }

  private:
    const RowGroups& groups_;
    bool grouped_;
    std::size_t count_ = 0;
};

} // namespace

void copyToGroups(const DataMatrix& x, std::vector<double>& perCase) {
    const RowGroups& g = x.groups;
    if (g.empty()) return;
    for (std::size_t k = 0; k < g.groupOfCase.size(); ++k)
        perCase[k] = perCase[static_cast<std::size_t>(g.firstCase[g.groupOfCase[k]])];
}

void evaluateLikelihood(const Deck& d, const Parameters& p, const DataMatrix& x, const Grid& grid,
                        ItemTables& t, CaseWeights& w, bool keepRows, CaseVisitor* visitor,
                        int threads) {
    itemTables(d, p, grid, t);
    const int G = grid.size;
    const int n = x.rows;
    w.size = G;
    w.fm.resize(n);
    w.logScale.resize(n);
    if (keepRows) w.gj.resize(static_cast<std::size_t>(n) * G);
    const CaseUnits units(x);
    std::vector<CaseWorker> workers =
        caseWorkers(numerics::workersFor(units.count(), kCasesPerBlock, threads), G, visitor);
    double logl = 0.0;
    numerics::forEachBlock(
        units.count(), kCasesPerBlock, threads,
        [&](int worker, const numerics::Block& b) {
            CaseWorker& c = workers[static_cast<std::size_t>(worker)];
            c.logl = 0.0;
            for (std::size_t u = b.begin; u < b.end; ++u) {
                const int k = units.caseOf(u);
                const double count = units.casesIn(u);
                double* gj = keepRows ? w.row(k) : c.gj.data();
                const double fm = caseWeights(d, x, grid, t, k, gj, w.logScale[k], c.work.data(),
                                              units.prefixFor(c));
                w.fm[k] = fm;
                c.logl += count * (std::log(fm) + w.logScale[k]);
                if (c.part) c.part->visit(k, count, gj, fm, w.logScale[k]);
            }
        },
        [&](int worker, const numerics::Block&) {
            CaseWorker& c = workers[static_cast<std::size_t>(worker)];
            logl += c.logl;
            if (visitor) visitor->merge(*c.part);
        });
    w.logl = logl;
    copyToGroups(x, w.fm);
    copyToGroups(x, w.logScale);
    if (keepRows && !x.groups.empty())
        for (int k = 0; k < n; ++k) {
            const int first = x.groups.firstCase[x.groups.groupOfCase[k]];
            if (first != k) std::copy(w.row(first), w.row(first) + G, w.row(k));
        }
}

void visitCases(const Deck& d, const DataMatrix& x, const Grid& grid, const ItemTables& t,
                CaseVisitor& visitor, int threads) {
    const CaseUnits units(x);
    std::vector<CaseWorker> workers = caseWorkers(
        numerics::workersFor(units.count(), kCasesPerBlock, threads), grid.size, &visitor);
    numerics::forEachBlock(
        units.count(), kCasesPerBlock, threads,
        [&](int worker, const numerics::Block& b) {
            CaseWorker& c = workers[static_cast<std::size_t>(worker)];
            for (std::size_t u = b.begin; u < b.end; ++u) {
                const int k = units.caseOf(u);
                double logScale = 0.0;
                const double fm = caseWeights(d, x, grid, t, k, c.gj.data(), logScale,
                                              c.work.data(), units.prefixFor(c));
                c.part->visit(k, units.casesIn(u), c.gj.data(), fm, logScale);
            }
        },
        [&](int worker, const numerics::Block&) {
            visitor.merge(*workers[static_cast<std::size_t>(worker)].part);
        });
}

} // namespace travik
