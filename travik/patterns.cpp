#include "travik/patterns.hpp"

#include "fixedio/layout.hpp"

#include <bit>
#include <cmath>
#include <cstdint>

namespace travik {

using fixedio::Layout;

namespace {

// The integer part of a value; -0.3 gives +0, not -0, so that equal responses have equal bits.
inline double responseOf(double value) {
    return std::trunc(value) + 0.0;
}

inline std::uint64_t mix(std::uint64_t h) {
    h ^= h >> 30;
    h *= 0xbf58476d1ce4e5b9ULL;
    h ^= h >> 27;
    h *= 0x94d049bb133111ebULL;
    h ^= h >> 31;
    return h;
}

std::uint64_t hashRow(const double* row, int items) {
    std::uint64_t h = 0x9e3779b97f4a7c15ULL;
    for (int i = 0; i < items; ++i) h = mix(h ^ std::bit_cast<std::uint64_t>(row[i]));
    return h;
}

} // namespace

PatternTable foldPatterns(const DataMatrix& x, int firstColumn, int items) {
    PatternTable table;
    table.items = items;
    const int n = x.rows;
    // Open addressing: slots hold pattern positions, at least twice as many slots as cases. A
    // pattern is compared with the row of the case that starts it; its responses are copied
    // out once at the end.
    std::size_t slots = 2;
    while (slots < 2 * static_cast<std::size_t>(n)) slots <<= 1;
    const std::size_t mask = slots - 1;
    std::vector<int> slot(slots, -1);
    std::vector<std::uint64_t> patternHash;
    std::vector<double> row(items);
    auto sameAs = [&](int first) {
        for (int i = 0; i < items; ++i)
            if (responseOf(x(first, firstColumn + i)) != row[i]) return false;
        return true;
    };
    for (int k = 0; k < n; ++k) {
        for (int i = 0; i < items; ++i) row[i] = responseOf(x(k, firstColumn + i));
        const std::uint64_t h = hashRow(row.data(), items);
        std::size_t at = static_cast<std::size_t>(h) & mask;
        while (slot[at] >= 0 && !(patternHash[slot[at]] == h && sameAs(table.firstCase[slot[at]])))
            at = (at + 1) & mask;
        if (slot[at] >= 0) {
            ++table.freq[slot[at]];
            continue;
        }
        slot[at] = table.count();
        patternHash.push_back(h);
        table.freq.push_back(1);
        table.firstCase.push_back(k);
    }
    table.responses.reserve(static_cast<std::size_t>(table.count()) * items);
    for (int k : table.firstCase)
        for (int i = 0; i < items; ++i)
            table.responses.push_back(responseOf(x(k, firstColumn + i)));
    return table;
}

PatternTable foldBinary(const ModelState& m) {
    return foldPatterns(m.x, 0, m.deck.nb);
}

PatternTable foldPolytomous(const ModelState& m, int mode) {
    const Deck& d = m.deck;
    return mode == 1 ? foldPatterns(m.x, d.nominalColumn(0), d.nc)
                     : foldPatterns(m.x, d.ordinalColumn(0), d.no);
}

fixedio::Value printedResponse(double value) {
    const double v = std::trunc(value);
    if (isMissing(value) || !(std::fabs(v) < 1e15)) return fixedio::Value::undefined();
    return static_cast<long long>(v);
}

std::string observedExpectedSection(const ModelState& m, const PatternTable& t,
                                    const std::vector<double>& probability) {
    const int ncase = m.deck.ncase;
    const Layout row("I5,5X,F10.3,7X," + std::to_string(t.items) + "I2");
    static const Layout total("I5,1X,F9.3");
    std::string out = "\n\nOBSERVED    EXPECTED    RESPONSE PATTERN\n\n";
    std::vector<fixedio::Value> values;
    double sum = 0.0;
    for (int p = 0; p < t.count(); ++p) {
        const double expected = ncase * probability[p];
        sum += expected;
        values.assign({t.freq[p], expected});
        for (int i = 0; i < t.items; ++i) values.emplace_back(printedResponse(t.row(p)[i]));
        out += row.format(values);
    }
    out += "\n" + total.format({ncase, sum});
    return out;
}

} // namespace travik
