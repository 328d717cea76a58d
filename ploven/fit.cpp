#include "ploven/fit.hpp"

#include "fixedio/layout.hpp"
#include "numerics/parallel_blocks.hpp"
#include "ploven/patterns.hpp"
#include "resultsio/triples.hpp"

#include <algorithm>
#include <cmath>

namespace ploven {

namespace {

// fullTableStatistics skips patterns whose expected frequency is not above this.
const double kZeroExpected = static_cast<double>(1.0e-6f);

// Measured per row of the second-order margins: 450 bytes of JSON tree, 190 of its text (held
// twice while the file's text is made), 45 of report text; the tables take 24 more.
constexpr double kBytesPerMarginRow = 450.0 + 2 * 190.0 + 45.0 + 24.0;

} // namespace

double marginRows(int nitem) {
    const double J = nitem;
    return 3.0 * J * (J - 1.0);
}

double marginsBytes(int nitem) {
    return kBytesPerMarginRow * marginRows(nitem);
}

MarginTables computeMargins(const PatternTable& data, const Estimates& est, long long ncase,
                            const PatternLoops& loops) {
    const int P = data.nitem;
    const int K = est.nclass;
    const auto cells = static_cast<std::size_t>(P) * static_cast<std::size_t>(P);
    MarginTables t;
    t.nitem = P;
    for (int a = 0; a < 2; ++a) {
        for (int b = 0; b < 2; ++b) {
            t.observed[a][b].assign(cells, 0);
            t.expected[a][b].assign(cells, 0.0);
        }
    }

    // Observed counts are integer sums, so any order gives them exactly: count the positive
    // pairs and triples per pattern and derive the other cells from the item totals.
    std::vector<long long> positives(static_cast<std::size_t>(P), 0);
    long long total = 0;
    std::vector<long long>& o11 = t.observed[1][1];
    // Triples I < J < L are stored in lexicographic order; those of pair (I, J) start here.
    std::vector<std::size_t> pairStart(cells, 0);
    for (std::size_t at = 0, I = 0; I < static_cast<std::size_t>(P); ++I) {
        for (std::size_t J = I + 1; J < static_cast<std::size_t>(P); ++J) {
            pairStart[I * P + J] = at;
            at += P - 1 - J;
        }
    }
    t.triples = resultsio::tripleCount(P) <= resultsio::kMostTriplesListed;
    t.observed111.assign(t.triples ? resultsio::tripleCount(P) : 0, 0);
    // Per worker the counts of its block: integer sums, so the blocks add up exactly.
    struct Counts {
        std::vector<long long> positives, both, triples;
        long long total = 0;
        std::vector<int> ones;
    };
    const auto npat = static_cast<std::size_t>(data.size());
    const auto blockSize = static_cast<std::size_t>(std::max(1, loops.blockPatterns));
    const int threads = numerics::threadsFor(loops.threads);
    std::vector<Counts> workers(
        static_cast<std::size_t>(numerics::workersFor(npat, blockSize, threads)));
    numerics::forEachBlock(
        npat, blockSize, threads,
        [&](int worker, const numerics::Block& block) {
            Counts& w = workers[static_cast<std::size_t>(worker)];
            w.positives.assign(static_cast<std::size_t>(P), 0);
            w.both.assign(cells, 0);
            w.triples.assign(t.observed111.size(), 0);
            w.total = 0;
            for (std::size_t m = block.begin; m < block.end; ++m) {
                const long long f = data.freq[m];
                const std::uint8_t* x = data.row(static_cast<int>(m));
                w.total += f;
                w.ones.clear();
                for (int j = 0; j < P; ++j)
                    if (x[j]) w.ones.push_back(j);
                const std::vector<int>& ones = w.ones;
                for (std::size_t a = 0; a < ones.size(); ++a) {
                    w.positives[ones[a]] += f;
                    for (std::size_t b = a + 1; b < ones.size(); ++b) {
                        const int I = ones[a], J = ones[b];
                        w.both[static_cast<std::size_t>(I) * P + J] += f;
                        const std::size_t base = pairStart[static_cast<std::size_t>(I) * P + J];
                        if (!t.triples) continue;
                        for (std::size_t c = b + 1; c < ones.size(); ++c)
                            w.triples[base + static_cast<std::size_t>(ones[c] - J - 1)] += f;
                    }
                }
            }
        },
        [&](int worker, const numerics::Block&) {
            const Counts& w = workers[static_cast<std::size_t>(worker)];
            total += w.total;
            for (std::size_t j = 0; j < positives.size(); ++j) positives[j] += w.positives[j];
            for (std::size_t c = 0; c < cells; ++c) o11[c] += w.both[c];
            for (std::size_t c = 0; c < w.triples.size(); ++c) t.observed111[c] += w.triples[c];
        });
    for (int I = 0; I < P; ++I) {
        for (int J = 0; J < P; ++J) {
            if (I == J) continue;
            const std::size_t ij = static_cast<std::size_t>(I) * P + J;
            const long long both = I < J ? o11[ij] : o11[static_cast<std::size_t>(J) * P + I];
            t.observed[1][1][ij] = both;
            t.observed[1][0][ij] = positives[I] - both;
            t.observed[0][1][ij] = positives[J] - both;
            t.observed[0][0][ij] = total - positives[I] - positives[J] + both;
        }
    }

    // Expected counts: ncase * sum_k ETA(k) p_a(I,k) p_b(J,k), the (0,0) and (1,1) cells formed
    // for I < J and mirrored.
    const double n = static_cast<double>(ncase);
    auto p = [&](int a, int j, int k) { return a ? est.PI(j, k) : 1.0 - est.PI(j, k); };
    for (int a = 0; a < 2; ++a) {
        for (int b = 0; b < 2; ++b) {
            const bool mirrored = a == b;
            for (int I = 0; I < P; ++I) {
                for (int J = mirrored ? I + 1 : 0; J < P; ++J) {
                    if (I == J) continue;
                    double s = 0.0;
                    for (int k = 0; k < K; ++k) s += est.eta[k] * p(a, I, k) * p(b, J, k);
                    t.expected[a][b][static_cast<std::size_t>(I) * P + J] = n * s;
                    if (mirrored) t.expected[a][b][static_cast<std::size_t>(J) * P + I] = n * s;
                }
            }
        }
    }
    t.expected111.assign(t.observed111.size(), 0.0);
    std::size_t at = 0;
    for (int I = 0; I < P && t.triples; ++I) {
        for (int J = I + 1; J < P; ++J) {
            for (int L = J + 1; L < P; ++L) {
                double s = 0.0;
                for (int k = 0; k < K; ++k)
                    s += est.eta[k] * est.PI(I, k) * est.PI(J, k) * est.PI(L, k);
                t.expected111[at++] = n * s;
            }
        }
    }
    return t;
}

std::string marginReport(const MarginTables& t) {
    static const fixedio::Layout title("/ / 10X 'SECOND ORDER OBSERVED AND EXPECTED MARGINS'");
    static const fixedio::Layout block("/ 5X A");
    static const fixedio::Layout heading(
        "5X 'I' 5X 'J' 5X ' OBS' 5X ' EXP' 5X '  OBS-EXP' 3X '(OBS-EXP)**2/EXP'");
    static const fixedio::Layout row("2X I4 2X I4 2X I7 1X F8.2 3X F11.3 8X F11.4");
    static const fixedio::Layout title3("/ / 10X 'THIRD ORDER OBSERVED AND EXPECTED MARGINS'");
    static const fixedio::Layout block3("/ 5X 'RESPONSE (1,1,1) TO ITEMS (I,J,K)'");
    static const fixedio::Layout heading3(
        "/ 5X 'I' 5X 'J' 5X 'K' 5X 'OBS-EXP' 3X '(OBS-EXP)**2/EXP'");
    static const fixedio::Layout row3("3*(2X I4) 2X F12.3 5X F13.6");

    const int P = t.nitem;
    std::string out = title.format({});
    const char* names[2][2] = {
        {"RESPONSE (0,0) TO ITEMS (I,J):", "RESPONSE (0,1) TO ITEMS (I,J):"},
        {"RESPONSE (1,0) TO ITEMS (I,J):", "RESPONSE (1,1) TO ITEMS (I,J):"}};
    auto pairRow = [&](int a, int b, int I, int J) {
        const long long o = t.obs(a, b, I, J);
        const double e = t.exp(a, b, I, J);
        const double d = static_cast<double>(o) - e;
        if (e >= kTinyExpected) return row.format({I + 1, J + 1, o, e, d, d * d / e});
        return row.format({I + 1, J + 1, o, e, d});
    };
    for (int a = 0; a < 2; ++a) {
        for (int b = 0; b < 2; ++b) {
            out += block.format({names[a][b]});
            out += heading.format({});
            const bool lower = a == b; // (0,0) and (1,1): pairs with J < I only
            for (int I = 0; I < P; ++I) {
                for (int J = 0; J < (lower ? I : P); ++J) {
                    if (J != I) out += pairRow(a, b, I, J);
                }
            }
        }
    }
    out += title3.format({});
    if (!t.triples) return out + "\n" + resultsio::triplesLeftOut(P, resultsio::tripleCount(P), 5);
    out += block3.format({});
    out += heading3.format({});
    std::size_t at = 0;
    for (int I = 0; I < P; ++I) {
        for (int J = I + 1; J < P; ++J) {
            for (int L = J + 1; L < P; ++L, ++at) {
                const double e = t.expected111[at];
                const double d = static_cast<double>(t.observed111[at]) - e;
                if (e >= kTinyExpected)
                    out += row3.format({I + 1, J + 1, L + 1, d, d * d / e});
                else
                    out += row3.format({I + 1, J + 1, L + 1, d});
            }
        }
    }
    return out;
}

FitStatistics fullTableStatistics(std::span<const int> freq, std::span<const double> expf,
                                  long long ncase) {
    double expectedTotal = 0.0;
    for (double e : expf) expectedTotal += e;
    // The expected count of all never observed patterns, kept in single precision.
    const double rest =
        static_cast<double>(static_cast<float>(static_cast<double>(ncase) - expectedTotal));
    FitStatistics s;
    double g = 0.0;
    double c = 0.0;
    for (std::size_t i = 0; i < freq.size(); ++i) {
        if (freq[i] == 0 || !(expf[i] > kZeroExpected)) {
            s.error = ErrorCode::ZeroFrequency;
            continue;
        }
        const double o = freq[i];
        const double e = expf[i];
        c += (o - e) * (o - e) / e;
        g += o * std::log(o / e);
    }
    s.gsquare = 2.0 * g;
    s.chisquare = c + rest;
    return s;
}

FitStatistics pooledFitStatistics(std::span<const int> freq, std::span<const double> expf,
                                  long long ncase) {
    FitStatistics s;
    double g = 0.0;
    double c = 0.0;
    const std::vector<int> indx = heapsortIndex(freq);
    double expectedTotal = 0.0;
    for (double e : expf) expectedTotal += e;
    const double rest = static_cast<double>(ncase) - expectedTotal;

    // A term whose expected count is 0 cannot be compared with its observation: it is left out.
    auto add = [&](double o, double e) {
        if (e == 0.0) return;
        g += o * std::log(o / e);
        c += (o - e) * (o - e) / e;
    };
    const std::size_t n = freq.size();
    std::size_t i = 0;
    double pooledObs = 0.0;
    double pooledExp = 0.0;
    for (; i < n && freq[indx[i]] < 5; ++i) {
        pooledExp += expf[indx[i]];
        pooledObs += freq[indx[i]];
        s.ngrp += 1;
        if (pooledObs >= 5.0) {
            add(pooledObs, pooledExp);
            pooledObs = 0.0;
            pooledExp = 0.0;
        }
    }
    // A pool still short of 5 when the sparse patterns run out is dropped.
    for (; i < n; ++i) add(freq[indx[i]], expf[indx[i]]);
    s.chisquare = c + rest;
    s.gsquare = 2.0 * g;
    return s;
}

} // namespace ploven
