#include "travik/margins.hpp"

#include "fixedio/layout.hpp"
#include "resultsio/triples.hpp"

#include <cmath>
#include <limits>

namespace travik {

using fixedio::Layout;

namespace {

// (O - E)^2 / E; with nothing expected the contribution does not exist (printed as asterisks).
inline double contribution(double o, double e) {
    return e > 0.0 ? (o - e) * (o - e) / e : std::numeric_limits<double>::quiet_NaN();
}

// Quadrature sum of w times the product of the given rows, each partial sum rounded to
// single precision.
double singleSum(const std::vector<double>& w, const double* a, const double* b = nullptr,
                 const double* c = nullptr) {
    double sum = 0.0;
    for (std::size_t t = 0; t < w.size(); ++t) {
        double term = w[t] * a[t];
        if (b) term *= b[t];
        if (c) term *= c[t];
        sum = singlePrecision(sum + term);
    }
    return sum;
}

// The same in double precision.
double doubleSum(const std::vector<double>& w, const double* a, const double* b = nullptr) {
    double sum = 0.0;
    for (std::size_t t = 0; t < w.size(); ++t) sum += b ? w[t] * a[t] * b[t] : w[t] * a[t];
    return sum;
}

} // namespace

BinaryMargins computeBinaryMargins(const ModelState& m, const Grid& grid, const ItemTables& tables,
                                   const PatternTable& patterns) {
    const int nb = m.deck.nb;
    const double ncase = m.deck.ncase;
    const std::vector<double>& pmiss = m.observed.pmiss;
    BinaryMargins b;
    b.nb = nb;
    const std::size_t pairs = static_cast<std::size_t>(nb) * nb;
    for (auto* v : {&b.o11, &b.o10, &b.o01, &b.o00}) v->assign(pairs, 0);
    for (auto* v : {&b.e11, &b.e10, &b.e01, &b.e00}) v->assign(pairs, 0.0);
    b.triples = resultsio::tripleCount(nb) <= resultsio::kMostTriplesListed;
    b.o111.assign(b.triples ? pairs * nb : 0, 0);
    b.e111.assign(b.o111.size(), 0.0);

    std::vector<int> ones;
    for (int p = 0; p < patterns.count(); ++p) {
        const double* r = patterns.row(p);
        const long long f = patterns.freq[p];
        ones.clear();
        for (int i = 0; i < nb; ++i) {
            if (r[i] == 1.0) {
                b.o11[b.at(i, i)] += f;
                ones.push_back(i);
            } else if (r[i] == 0.0) {
                b.o00[b.at(i, i)] += f;
            } else {
                continue;
            }
            for (int j = 0; j < i; ++j) {
                if (r[j] != 1.0 && r[j] != 0.0) continue;
                const std::size_t ij = b.at(i, j);
                if (r[i] == 1.0)
                    (r[j] == 1.0 ? b.o11 : b.o10)[ij] += f;
                else
                    (r[j] == 1.0 ? b.o01 : b.o00)[ij] += f;
            }
        }
        for (std::size_t x = 0; x < ones.size() && b.triples; ++x)
            for (std::size_t y = x + 1; y < ones.size(); ++y)
                for (std::size_t z = y + 1; z < ones.size(); ++z)
                    b.o111[b.at(ones[x], ones[y], ones[z])] += f;
    }

    const std::vector<double>& w = grid.w;
    for (int i = 0; i < nb; ++i) {
        const double* p1 = tables.binary(i);
        const double* p0 = tables.binaryZero(i);
        const double answered = ncase * (1.0 - pmiss[i]);
        b.e11[b.at(i, i)] = answered * singleSum(w, p1);
        b.e00[b.at(i, i)] = answered * singleSum(w, p0);
        for (int j = 0; j < i; ++j) {
            const double* q1 = tables.binary(j);
            const double* q0 = tables.binaryZero(j);
            const double both = answered * (1.0 - pmiss[j]);
            const std::size_t ij = b.at(i, j);
            b.e11[ij] = both * singleSum(w, p1, q1);
            b.e10[ij] = both * singleSum(w, p1, q0);
            b.e01[ij] = both * singleSum(w, p0, q1);
            b.e00[ij] = both * singleSum(w, p0, q0);
        }
    }
    for (int i = 0; i < nb && b.triples; ++i)
        for (int j = i + 1; j < nb; ++j)
            for (int k = j + 1; k < nb; ++k)
                b.e111[b.at(i, j, k)] =
                    ncase * singleSum(w, tables.binary(i), tables.binary(j), tables.binary(k));
    return b;
}

std::string binaryMarginsSection(const BinaryMargins& b) {
    static const Layout header(
        "5X,'I',5X,'J',3X,'OBSER',4X,'EXPECT',6X,'OBS-EXP',4X,'((O-E)**2)/E'");
    static const Layout row("2(3X,I3),3X,I5,3(3X,F9.4)");
    const int nb = b.nb;
    std::string out = "\n\n\n**First and Second Order Observed and Expected Margins**\n\n\n";
    struct Block {
        const char* title;
        const std::vector<long long>& o;
        const std::vector<double>& e;
        bool diagonal;
    };
    const Block blocks[] = {{"RESPONSE (1,1) to ITEMS (I,J)", b.o11, b.e11, true},
                            {"RESPONSE (1,0) to ITEMS (I,J)", b.o10, b.e10, false},
                            {"RESPONSE (0,1) to ITEMS (I,J)", b.o01, b.e01, false},
                            {"RESPONSE (0,0) to ITEMS (I,J)", b.o00, b.e00, true}};
    bool firstBlock = true;
    for (const Block& block : blocks) {
        if (!firstBlock) out += "\n\n";
        firstBlock = false;
        out += std::string(15, ' ') + block.title + "\n\n" + header.format({}) + "\n";
        for (int i = 0; i < nb; ++i)
            for (int j = 0; j < (block.diagonal ? i + 1 : i); ++j) {
                const double o = static_cast<double>(block.o[b.at(i, j)]), e = block.e[b.at(i, j)];
                out +=
                    row.format({i + 1, j + 1, block.o[b.at(i, j)], e, o - e, contribution(o, e)});
            }
    }
    static const Layout header3(
        "5X,'I',5X,'J',5X,'J1',3X,'OBSER',4X,'EXPECT',6X,'OBS-EXP',4X,'((O-E)**2)/E'");
    static const Layout row3("3(3X,I3),3X,I5,3(3X,F9.4)");
    out += "\n\n" + std::string(10, ' ') + "Third Order Observed and Expected Margins\n\n\n";
    if (!b.triples) return out + resultsio::triplesLeftOut(nb, resultsio::tripleCount(nb), 15);
    out +=
        std::string(15, ' ') + "RESPONSE (1,1,1) to ITEMS (I,J,J1)\n\n" + header3.format({}) + "\n";
    for (int i = 0; i < nb; ++i)
        for (int j = i + 1; j < nb; ++j)
            for (int k = j + 1; k < nb; ++k) {
                const long long o = b.o111[b.at(i, j, k)];
                const double e = b.e111[b.at(i, j, k)];
                out += row3.format({i + 1, j + 1, k + 1, o, e, static_cast<double>(o) - e,
                                    contribution(static_cast<double>(o), e)});
            }
    return out;
}

namespace {

// The shared body of computeNominalMargins and computeOrdinalMargins: prob(i, c) is the row of
// category c of item i.
template <class Probability>
PolytomousMargins polytomousMargins(bool nominal, const std::vector<int>& categories, double ncase,
                                    const Grid& grid, const PatternTable& patterns,
                                    Probability prob) {
    PolytomousMargins out;
    out.nominal = nominal;
    out.categories = categories;
    const int n = static_cast<int>(categories.size());
    auto valid = [&](int i, double r) { return r >= 1.0 && r <= categories[i]; };
    for (int i = 0; i < n; ++i) {
        out.first.emplace_back(categories[i], 0);
        out.firstExpected.emplace_back(categories[i], 0.0);
        for (int j = i + 1; j < n; ++j) {
            out.pair.emplace_back(static_cast<std::size_t>(categories[i]) * categories[j], 0);
            out.pairExpected.emplace_back(static_cast<std::size_t>(categories[i]) * categories[j],
                                          0.0);
        }
    }
    for (int p = 0; p < patterns.count(); ++p) {
        const double* r = patterns.row(p);
        const long long f = patterns.freq[p];
        std::size_t pair = 0;
        for (int i = 0; i < n; ++i) {
            const bool answered = valid(i, r[i]);
            if (answered) out.first[i][static_cast<int>(r[i]) - 1] += f;
            for (int j = i + 1; j < n; ++j, ++pair)
                if (answered && valid(j, r[j]))
                    out.pair[pair][static_cast<std::size_t>(r[i] - 1) * categories[j] +
                                   static_cast<std::size_t>(r[j] - 1)] += f;
        }
    }
    const std::vector<double>& w = grid.w;
    std::size_t pair = 0;
    for (int i = 0; i < n; ++i) {
        for (int c = 1; c <= categories[i]; ++c)
            out.firstExpected[i][c - 1] = ncase * doubleSum(w, prob(i, c));
        for (int j = i + 1; j < n; ++j, ++pair)
            for (int c = 1; c <= categories[i]; ++c)
                for (int e = 1; e <= categories[j]; ++e)
                    out.pairExpected[pair][static_cast<std::size_t>(c - 1) * categories[j] +
                                           (e - 1)] = ncase * doubleSum(w, prob(i, c), prob(j, e));
    }
    return out;
}

} // namespace

PolytomousMargins computeNominalMargins(const ModelState& m, const Grid& grid,
                                        const ItemTables& tables, const PatternTable& patterns) {
    return polytomousMargins(true, m.deck.c, m.deck.ncase, grid, patterns,
                             [&](int i, int c) { return tables.nominal(i, c); });
}

PolytomousMargins computeOrdinalMargins(const ModelState& m, const Grid& grid,
                                        const ItemTables& tables, const PatternTable& patterns) {
    return polytomousMargins(false, m.deck.o, m.deck.ncase, grid, patterns,
                             [&](int i, int c) { return tables.ordinal(i, c); });
}

std::string polytomousMarginsSection(const PolytomousMargins& p) {
    static const Layout header1(
        "2X,' ITEM I1',2X,'(I1,J1)',2X,'OBSER',3X,'EXPECT',3X,'OBS-EXP',4X,'SQ(O-E)/E'");
    static const Layout row1("2(4X,I3),7X,I5,3(3X,F9.4)");
    static const Layout header2("2X,'ITEM I1',2X,'ITEM I2',2X,' J1 ',3X,' J2 "
                                "',3X,'OBSER',3X,'EXPECT',3X,'OBS-EXP',4X,'SQ(O-E)/E'");
    static const Layout row2("4(4X,I3),3X,I5,3(3X,F9.4)");
    static const Layout sum("40X,'                   Sum=',F9.4");
    const int n = static_cast<int>(p.categories.size());
    std::string out = p.nominal ? "\n\n****First Order Observed and Expected Margins****\n\n\n"
                                : "\n\n***First Order Observed and Expected Margins***\n\n\n";
    out += header1.format({}) + "\n";
    for (int i = 0; i < n; ++i)
        for (int c = 1; c <= p.categories[i]; ++c) {
            const long long o = p.first[i][c - 1];
            const double e = p.firstExpected[i][c - 1], od = static_cast<double>(o);
            out += row1.format({i + 1, c, o, e, od - e, contribution(od, e)});
        }
    out += "\n\n***Second Order Observed and Expected Margins***\n\n\n" + header2.format({}) + "\n";
    std::size_t pair = 0;
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j, ++pair) {
            // A cell with nothing expected has no contribution and adds nothing to the sum.
            double total = 0.0;
            for (int c = 1; c <= p.categories[i]; ++c)
                for (int d = 1; d <= p.categories[j]; ++d) {
                    const std::size_t cell =
                        static_cast<std::size_t>(c - 1) * p.categories[j] + (d - 1);
                    const long long o = p.pair[pair][cell];
                    const double e = p.pairExpected[pair][cell], od = static_cast<double>(o);
                    const double contrib = contribution(od, e);
                    if (e > 0.0) total += contrib;
                    out += row2.format({i + 1, j + 1, c, d, o, e, od - e, contrib});
                }
            out += sum.format({total});
        }
    return out;
}

std::string loadingProductsMatrix(const StandardizedLoadings& s) {
    static const Layout row("10F9.3");
    std::string out;
    const std::size_t n = s.ordinal.size();
    for (std::size_t k = 0; k < n; ++k) {
        std::vector<fixedio::Value> values;
        for (std::size_t i = 0; i <= k; ++i)
            values.emplace_back(s.ordinal[k][1] * s.ordinal[i][1] +
                                s.ordinal[k][2] * s.ordinal[i][2]);
        out += row.format(values);
    }
    return out;
}

} // namespace travik
