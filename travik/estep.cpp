#include "travik/estep.hpp"

namespace travik {

namespace {

inline void addTo(double* __restrict sum, const double* __restrict h, int n) {
    for (int g = 0; g < n; ++g) sum[g] += h[g];
}

// One case's share of every E-step sum, count times (the cases of a group of identical rows). The
// hot loop of every EM cycle: compiled for AVX2 where the processor has it (the same operations in
// wider registers give the same digits).
__attribute__((target_clones("avx2", "default"))) void
accumulate(const Deck& d, const double* row, double count, const double* gj, double fm, int G,
           const char* complete, double* h, double* total, EStepTables& t) {
    if (count == 1.0)
        for (int g = 0; g < G; ++g) h[g] = gj[g] / fm;
    else
        for (int g = 0; g < G; ++g) h[g] = count * (gj[g] / fm);
    for (int i = 0; i < d.nb; ++i)
        if (truncated(row[i]) == 1.0)
            addTo(t.expectedOnes.data() + static_cast<std::size_t>(i) * G, h, G);
    for (int i = 0; i < d.nn; ++i) {
        double v = row[d.normalColumn(i)];
        if (isMissing(v)) continue;
        double* s1 = t.expectedSumX.data() + static_cast<std::size_t>(i) * G;
        double* s2 = t.expectedSumX2.data() + static_cast<std::size_t>(i) * G;
        const double v2 = v * v;
        for (int g = 0; g < G; ++g) {
            s1[g] += v * h[g];
            s2[g] += v2 * h[g];
        }
    }
    auto categoryRow = [&](std::vector<double>& table, int i, double v) {
        return table.data() + (static_cast<std::size_t>(i) * t.categoryRows +
                               static_cast<std::size_t>(truncated(v))) *
                                  G;
    };
    for (int i = 0; i < d.nc; ++i) {
        double v = row[d.nominalColumn(i)];
        if (!isMissing(v)) addTo(categoryRow(t.expectedNominal, i, v), h, G);
    }
    for (int i = 0; i < d.no; ++i) {
        double v = row[d.ordinalColumn(i)];
        if (!isMissing(v)) addTo(categoryRow(t.expectedOrdinal, i, v), h, G);
    }
    // Complete columns share one sum; only columns with missing values need their own.
    addTo(total, h, G);
    for (int col = 0; col < d.nv(); ++col)
        if (!complete[col] && !isMissing(row[col]))
            addTo(t.expectedObserved.data() + static_cast<std::size_t>(col) * G, h, G);
}

} // namespace

namespace {

void emptyTables(const Deck& d, int size, EStepTables& t) {
    const std::size_t G = size;
    const std::size_t categories = d.mostCategories() + 1;
    t.size = size;
    t.categoryRows = static_cast<int>(categories);
    t.expectedOnes.assign(d.nb * G, 0.0);
    t.expectedSumX.assign(d.nn * G, 0.0);
    t.expectedSumX2.assign(d.nn * G, 0.0);
    t.expectedNominal.assign(d.nc * categories * G, 0.0);
    t.expectedOrdinal.assign(d.no * categories * G, 0.0);
    t.expectedObserved.assign(d.nv() * G, 0.0);
}

// sum += part, element by element; the part is emptied.
void addAndEmpty(std::vector<double>& sum, std::vector<double>& part) {
    for (std::size_t i = 0; i < sum.size(); ++i) {
        sum[i] += part[i];
        part[i] = 0.0;
    }
}

} // namespace

EStep::EStep(const Deck& d, const DataMatrix& x, int size, EStepTables& tables)
    : d_(d), x_(x), size_(size), t_(&tables), complete_(d.nv(), 1), total_(size, 0.0), hp_(size) {
    emptyTables(d, size, tables);
    // Grouped cases share their group's row: the groups' rows are all the rows there are.
    auto scan = [&](int k) {
        const double* row = x.row(k);
        for (int col = 0; col < d.nv(); ++col)
            if (isMissing(row[col])) complete_[col] = 0;
    };
    if (x.groups.empty())
        for (int k = 0; k < x.rows; ++k) scan(k);
    else
        for (int k : x.groups.firstCase) scan(k);
}

EStep::EStep(const EStep& total)
    : d_(total.d_), x_(total.x_), size_(total.size_), own_(std::make_unique<EStepTables>()),
      t_(own_.get()), complete_(total.complete_), total_(total.size_, 0.0), hp_(total.size_) {
    emptyTables(d_, size_, *own_);
}

std::unique_ptr<CaseVisitor> EStep::part() const {
    return std::unique_ptr<CaseVisitor>(new EStep(*this));
}

void EStep::visit(int k, double count, const double* gj, double fm, double) {
    accumulate(d_, x_.row(k), count, gj, fm, size_, complete_.data(), hp_.data(), total_.data(),
               *t_);
}

void EStep::merge(CaseVisitor& visitor) {
    EStep& part = static_cast<EStep&>(visitor);
    EStepTables& t = *t_;
    EStepTables& p = *part.t_;
    addAndEmpty(t.expectedOnes, p.expectedOnes);
    addAndEmpty(t.expectedSumX, p.expectedSumX);
    addAndEmpty(t.expectedSumX2, p.expectedSumX2);
    addAndEmpty(t.expectedNominal, p.expectedNominal);
    addAndEmpty(t.expectedOrdinal, p.expectedOrdinal);
    addAndEmpty(t.expectedObserved, p.expectedObserved);
    addAndEmpty(total_, part.total_);
}

void EStep::finish() {
    const int G = size_;
    for (int col = 0; col < d_.nv(); ++col)
        if (complete_[col])
            std::copy(total_.begin(), total_.end(),
                      t_->expectedObserved.begin() + static_cast<std::size_t>(col) * G);
}

void eStepFromStoredRows(const Deck& d, const DataMatrix& x, const CaseWeights& w,
                         EStepTables& tables) {
    EStep e(d, x, w.size, tables);
    for (int k = 0; k < x.rows; ++k) e.visit(k, 1.0, w.row(k), w.fm[k], w.logScale[k]);
    e.finish();
}

} // namespace travik
