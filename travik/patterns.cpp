#include "travik/patterns.hpp"

#include "fixedio/layout.hpp"

#include <algorithm>
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

std::uint64_t hashRow(const std::uint64_t* keys, int width) {
    std::uint64_t h = 0x9e3779b97f4a7c15ULL;
    for (int i = 0; i < width; ++i) h = mix(h ^ keys[i]);
    return h;
}

// Rows 0..n-1 grouped by equal keys, the groups numbered in the order they first occur.
struct Grouping {
    std::vector<int> first;   // per group: its first row
    std::vector<int> size;    // per group: its rows
    std::vector<int> groupOf; // per row: its group
};

// keyOf(k, keys) writes row k's `width` keys. One pass over the rows with a hash of each:
// the same groups, order and sizes as comparing every row with every later one. Open
// addressing: at least twice as many slots as rows, each holding a group; a group is compared
// through the keys of its first row.
template <class KeyOf> Grouping groupEqualRows(int n, int width, KeyOf keyOf) {
    Grouping out;
    out.groupOf.resize(static_cast<std::size_t>(n));
    std::size_t slots = 2;
    while (slots < 2 * static_cast<std::size_t>(n)) slots <<= 1;
    const std::size_t mask = slots - 1;
    std::vector<int> slot(slots, -1);
    std::vector<std::uint64_t> groupHash;
    std::vector<std::uint64_t> keys(static_cast<std::size_t>(width)),
        other(static_cast<std::size_t>(width));
    auto sameAs = [&](int first) {
        keyOf(first, other.data());
        return std::equal(keys.begin(), keys.end(), other.begin());
    };
    for (int k = 0; k < n; ++k) {
        keyOf(k, keys.data());
        const std::uint64_t h = hashRow(keys.data(), width);
        std::size_t at = static_cast<std::size_t>(h) & mask;
        while (slot[at] >= 0 && !(groupHash[slot[at]] == h && sameAs(out.first[slot[at]])))
            at = (at + 1) & mask;
        if (slot[at] < 0) {
            slot[at] = static_cast<int>(out.first.size());
            groupHash.push_back(h);
            out.first.push_back(k);
            out.size.push_back(0);
        }
        ++out.size[slot[at]];
        out.groupOf[static_cast<std::size_t>(k)] = slot[at];
    }
    return out;
}

} // namespace

PatternTable foldPatterns(const DataMatrix& x, int firstColumn, int items) {
    PatternTable table;
    table.items = items;
    Grouping g = groupEqualRows(x.rows, items, [&](int k, std::uint64_t* keys) {
        for (int i = 0; i < items; ++i)
            keys[i] = std::bit_cast<std::uint64_t>(responseOf(x(k, firstColumn + i)));
    });
    table.freq = std::move(g.size);
    table.firstCase = std::move(g.first);
    table.responses.reserve(static_cast<std::size_t>(table.count()) * items);
    for (int k : table.firstCase)
        for (int i = 0; i < items; ++i)
            table.responses.push_back(responseOf(x(k, firstColumn + i)));
    return table;
}

void groupIdenticalRows(DataMatrix& x) {
    x.groups = {};
    auto bitsOf = [&](int k, std::uint64_t* keys) {
        const double* row = x.row(k);
        for (int i = 0; i < x.cols; ++i) keys[i] = std::bit_cast<std::uint64_t>(row[i]);
    };
    const Grouping g = groupEqualRows(x.rows, x.cols, bitsOf);
    // Groups in the order of their rows' bits, column by column: groups with the same leading
    // responses come one after another.
    std::vector<int> order(g.first.size());
    for (std::size_t j = 0; j < order.size(); ++j) order[j] = static_cast<int>(j);
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        const double* ra = x.row(g.first[a]);
        const double* rb = x.row(g.first[b]);
        for (int i = 0; i < x.cols; ++i) {
            const std::uint64_t ba = std::bit_cast<std::uint64_t>(ra[i]);
            const std::uint64_t bb = std::bit_cast<std::uint64_t>(rb[i]);
            if (ba != bb) return ba < bb;
        }
        return false;
    });
    std::vector<int> rank(order.size());
    RowGroups& out = x.groups;
    for (std::size_t j = 0; j < order.size(); ++j) {
        rank[order[j]] = static_cast<int>(j);
        out.firstCase.push_back(g.first[order[j]]);
        out.count.push_back(g.size[order[j]]);
    }
    out.groupOfCase.reserve(g.groupOf.size());
    for (int group : g.groupOf) out.groupOfCase.push_back(rank[group]);
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
