#include "travik/deck_checks.hpp"

#include "fixedio/layout.hpp"

#include <cstdio>
#include <vector>

namespace travik {

namespace {

struct ItemName {
    const char* type;
    int number; // within its type, 1-based
};

ItemName nameOf(const Deck& d, int col) {
    if (col < d.nb) return {"BINARY", col + 1};
    if (col < d.nb + d.nn) return {"NORMAL", col - d.nb + 1};
    if (col < d.nb + d.nn + d.nc) return {"NOMINAL", col - d.nb - d.nn + 1};
    return {"ORDINAL", col - d.nb - d.nn - d.nc + 1};
}

int categoriesOf(const Deck& d, int col) {
    const int first = d.nb + d.nn;
    if (col < first) return 0;
    return col < first + d.nc ? d.c[col - first] : d.o[col - first - d.nc];
}

} // namespace

bool observedInLikelihood(const Deck& d, int col, double x) {
    if (col < d.nb) {
        const double v = truncated(x);
        return v == 0.0 || v == 1.0;
    }
    return !isMissing(x);
}

std::optional<std::string> checkObservedItems(const ModelState& m, int* column) {
    const Deck& d = m.deck;
    static const fixedio::Layout noValue(
        "'   ***ERROR***  ',A,' ITEM',I3,' (VARIABLE',I3,') HAS NO OBSERVED VALUE'");
    static const fixedio::Layout emptyCategory(
        "'   ***ERROR***  ',A,' ITEM',I3,' (VARIABLE',I3,') HAS NO CASE IN CATEGORY',I2");
    static const fixedio::Layout oneValue(
        "'   ***ERROR***  ',A,' ITEM',I3,' (VARIABLE',I3,') TAKES ONE VALUE ONLY (',A,'): ITS "
        "PARAMETERS HAVE NO MAXIMUM'");
    for (int col = 0; col < d.nv(); ++col) {
        const int categories = categoriesOf(d, col);
        std::vector<int> counts(categories + 1, 0);
        int observed = 0;
        double first = 0.0;
        bool varies = false;
        for (int k = 0; k < m.x.rows; ++k) {
            double x = m.x(k, col);
            if (!observedInLikelihood(d, col, x)) continue;
            // A binary value counts by its truncation, a normal one as it is.
            if (col < d.nb) x = truncated(x);
            if (observed++ == 0)
                first = x;
            else
                varies = varies || x != first;
            if (categories > 0) ++counts[static_cast<int>(truncated(x))];
        }
        const ItemName name = nameOf(d, col);
        if (column) *column = col;
        if (observed == 0) return noValue.format({name.type, name.number, col + 1});
        for (int c = 1; c <= categories; ++c)
            if (counts[c] == 0) return emptyCategory.format({name.type, name.number, col + 1, c});
        // A binary item always 0 or always 1, a normal item without variance: the likelihood
        // rises without bound as its intercept or residual variance runs off.
        if (categories == 0 && !varies) {
            char value[32];
            std::snprintf(value, sizeof value, "%.10g", first);
            const std::string what = observed == 1
                                         ? std::string("ONE OBSERVED VALUE, ") + value
                                         : std::string("EVERY OBSERVED VALUE IS ") + value;
            return oneValue.format({name.type, name.number, col + 1, what});
        }
    }
    return std::nullopt;
}

std::optional<std::string> leaveOutEmptyCases(ModelState& m) {
    const Deck& d = m.deck;
    const int nv = d.nv();
    std::vector<double> kept;
    std::vector<int> numbers, left;
    kept.reserve(m.x.values.size());
    for (int k = 0; k < m.x.rows; ++k) {
        const double* row = m.x.row(k);
        bool any = false;
        for (int col = 0; col < nv && !any; ++col) any = observedInLikelihood(d, col, row[col]);
        if (!any) {
            left.push_back(k + 1);
            continue;
        }
        kept.insert(kept.end(), row, row + nv);
        numbers.push_back(k + 1);
    }
    m.caseNumbers = std::move(numbers);
    if (left.empty()) return std::nullopt;
    m.x.values = std::move(kept);
    m.x.rows = static_cast<int>(m.caseNumbers.size());
    m.deck.ncase = m.x.rows;
    // The first few case numbers, so that they can be found in the deck.
    constexpr std::size_t shown = 5;
    std::string list;
    for (std::size_t i = 0; i < left.size() && i < shown; ++i)
        list += (i ? ", " : "") + std::to_string(left[i]);
    if (left.size() > shown) list += ", ...";
    const std::string count = std::to_string(left.size());
    return (left.size() == 1 ? "1 case with no observed value was"
                             : count + " cases with no observed value were") +
           std::string(" left out of the fit (case") + (left.size() == 1 ? " " : "s ") + list +
           "); the " + std::to_string(m.x.rows) + " cases fitted are the NCASE of this report";
}

} // namespace travik
