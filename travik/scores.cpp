#include "travik/scores.hpp"

#include "fixedio/layout.hpp"
#include "travik/patterns.hpp"
#include "travik/variance.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace travik {

using fixedio::Layout;

namespace {

// Mean and standard deviation of the nodes under the weights h, summed over the nodes in
// increasing order.
void summarize(const std::vector<double>& qz, const double* h, double& mean, double& sd) {
    double m1 = 0.0, m2 = 0.0;
    for (std::size_t t = 0; t < qz.size(); ++t) {
        m1 += qz[t] * h[t];
        m2 += qz[t] * qz[t] * h[t];
    }
    mean = m1;
    sd = std::sqrt(std::max(0.0, m2 - m1 * m1));
}

// Each case's posterior means and standard deviations into s, from its joint weights; the
// cases write their own elements only, so every part writes into s directly.
class PosteriorScores : public CaseVisitor {
  public:
    PosteriorScores(const Grid& grid, Scores& s)
        : grid_(grid), s_(s), gj_(grid.size), h1_(grid.nq), h2_(grid.nq) {}
    std::unique_ptr<CaseVisitor> part() const override {
        return std::make_unique<PosteriorScores>(grid_, s_);
    }
    void merge(CaseVisitor&) override {}
    void visit(int k, double, const double* gj, double fm, double logScale) override {
        const int nq = grid_.nq;
        if (grid_.nf == 1) {
            std::copy(gj, gj + nq, gj_.begin());
            fm = raisedLikelihood(gj_.data(), nq, fm, logScale);
            for (int t = 0; t < nq; ++t) h1_[t] = gj_[t] / fm;
            summarize(grid_.qz, h1_.data(), s_.eap1[k], s_.eapSd1[k]);
            return;
        }
        // h1 sums over t2 within t1; h2 sums over t1, both in increasing order.
        std::fill(h1_.begin(), h1_.end(), 0.0);
        std::fill(h2_.begin(), h2_.end(), 0.0);
        for (int a = 0; a < nq; ++a)
            for (int b = 0; b < nq; ++b) {
                const double hp = gj[a * nq + b] / fm;
                h1_[a] += hp;
                h2_[b] += hp;
            }
        summarize(grid_.qz, h1_.data(), s_.eap1[k], s_.eapSd1[k]);
        summarize(grid_.qz, h2_.data(), s_.eap2[k], s_.eapSd2[k]);
    }

  private:
    const Grid& grid_;
    Scores& s_;
    std::vector<double> gj_, h1_, h2_;
};

} // namespace

void posteriorMeans(const ModelState& m, const Estimation& est, Scores& s) {
    const Deck& d = m.deck;
    const int n = d.ncase;
    s.eap1.assign(n, 0.0);
    s.eapSd1.assign(n, 0.0);
    if (d.nf == 2) {
        s.eap2.assign(n, 0.0);
        s.eapSd2.assign(n, 0.0);
    }
    PosteriorScores scores(est.grid, s);
    if (d.nf == 1) {
        visitCases(d, m.x, est.grid, est.tables, scores, m.threads);
    } else {
        ItemTables tables;
        itemTables(d, est.posteriorParameters, est.grid, tables);
        visitCases(d, m.x, est.grid, tables, scores, m.threads);
    }
    for (std::vector<double>* v : {&s.eap1, &s.eapSd1, &s.eap2, &s.eapSd2})
        if (!v->empty()) copyToGroups(m.x, *v);
}

void componentScores(const ModelState& m, Scores& s) {
    const Deck& d = m.deck;
    const Parameters& p = m.params;
    s.component1.assign(d.ncase, 0.0);
    if (d.nf == 2) s.component2.assign(d.ncase, 0.0);
    for (int f = 1; f <= d.nf; ++f) {
        std::vector<double>& cs = f == 1 ? s.component1 : s.component2;
        for (int k = 0; k < d.ncase; ++k) {
            const double* row = m.x.row(k);
            double sum = 0.0;
            for (int i = 0; i < d.nb; ++i)
                if (truncated(row[i]) == 1.0) sum += p.binary[i].alpha[f];
            for (int i = 0; i < d.nn; ++i) {
                const double x = row[d.normalColumn(i)];
                if (isMissing(x)) continue;
                const NormalItem& item = p.normal[i];
                sum += x * (f == 1 ? item.lambda1 : item.lambda2) / item.psi;
            }
            for (int i = 0; i < d.nc; ++i) {
                const double x = row[d.nominalColumn(i)];
                if (!isMissing(x)) sum += p.nominal[i].ac[static_cast<int>(truncated(x))][f];
            }
            cs[k] = sum;
        }
    }
}

std::vector<int> ascendingOrder(const std::vector<double>& key) {
    std::vector<int> order(key.size());
    std::iota(order.begin(), order.end(), 0);
    // A value that is not a number goes last.
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const double x = key[a], y = key[b];
        return std::isnan(y) ? !std::isnan(x) : x < y;
    });
    return order;
}

double caseTotal(const double* row, int nv) {
    double total = 0.0;
    for (int i = 0; i < nv; ++i)
        if (!isMissing(row[i])) total += row[i];
    return total;
}

std::string scoringSection(const ModelState& m, const Scores& s, const std::vector<int>& order) {
    const Deck& d = m.deck;
    const int nv = d.nv();
    const std::string responses = std::to_string(nv) + "I2";
    const bool two = d.nf == 2, ordinal = d.no > 0;
    std::string columns, layout;
    if (!two && !ordinal) {
        columns = "E(Z1/X)    SD1    CSCORE    ITOTAL    RESPONSE PATTERN";
        layout = "F7.3,3X,F6.3,3X,F6.2,3X,F6.2,3X,";
    } else if (two && !ordinal) {
        columns = "E(Z1/X)  SD1  E(Z2/X)  SD2    CS1    CS2    RESPONSES";
        layout = "6(F6.2,1X),";
    } else if (!two) {
        columns = "E(Z1/X)    SD1    ITOTAL    RESPONSE PATTERN";
        layout = "F7.3,3X,F6.3,3X,F6.2,3X,";
    } else {
        columns = "E(Z1/X)  SD1  E(Z2/X)  SD2  RESPONSES";
        layout = "4(F6.2,1X),";
    }
    const Layout row(layout + responses);
    std::string out = "\n\n***Scoring Response Patterns***\n\n\n" + columns + "\n\n";
    std::vector<fixedio::Value> values;
    for (int k : order) {
        const double* x = m.x.row(k);
        values.clear();
        if (two) {
            values.assign({s.eap1[k], s.eapSd1[k], s.eap2[k], s.eapSd2[k]});
            if (!ordinal) values.insert(values.end(), {s.component1[k], s.component2[k]});
        } else {
            values.assign({s.eap1[k], s.eapSd1[k]});
            if (!ordinal) values.emplace_back(s.component1[k]);
            values.emplace_back(caseTotal(x, nv));
        }
        for (int i = 0; i < nv; ++i) values.emplace_back(printedResponse(x[i]));
        out += row.format(values);
    }
    return out;
}

} // namespace travik
