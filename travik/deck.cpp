#include "travik/deck.hpp"

#include "fixedio/layout.hpp"

#include <algorithm>
#include <cstdio>

namespace travik {

namespace {

constexpr std::size_t kTitleWidth = 70;

std::size_t countOf(int n) {
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

// The checks of the counts record (record 2) alone, in their order among all the checks.
std::optional<std::string> checkCounts(const Deck& d) {
    using fixedio::Layout;
    // Summed wide: counts read from the deck may be anything an int holds.
    const long long nv = static_cast<long long>(d.nb) + d.nn + d.nc + d.no;
    // No upper limit: items cost memory, never a fixed capacity.
    if (nv < 1) {
        static const Layout line(
            "'   ***ERROR***  THE NUMBER OF VARIABLES',I4,'DOES NOT LIE BETWEEN 1 AND NV'");
        return line.format({nv});
    }
    // A negative count would cancel another one in NV; it is no count of items.
    const struct {
        int count;
        const char* name;
    } counts[] = {{d.nb, "BINARY"}, {d.nn, "NORMAL"}, {d.nc, "NOMINAL"}, {d.no, "ORDINAL"}};
    for (const auto& c : counts) {
        if (c.count < 0) {
            static const Layout line(
                "'   ***ERROR***  THE NUMBER OF ',A,' VARIABLES',I4,' IS NEGATIVE'");
            return line.format({c.name, c.count});
        }
    }
    // A full rule asked for on the command line takes the place of NQ's.
    const int nq = d.nq;
    if (d.fullRule == 0 && nq != 8 && nq != 12 && nq != 16 && nq != 24 && nq != 32 && nq != 48)
        return "   ***ERROR***  THE NUMBER OF QUADRATURE POINTS IS NOT EQUAL TO 8, 16, 24, 32 OR "
               "48 \n";
    return std::nullopt;
}

std::optional<std::string> checkControls(const Deck& d) {
    using fixedio::Layout;
    if (auto counts = checkCounts(d)) return counts;
    if (d.nf < 1 || d.nf > 2) return "   ***ERROR*** NUMBER OF FACTORS DIFFERENTTHAN 1 OR 2\n";
    if (d.init > 1) return "   ***ERROR***  INPUT VALUES FOR PARAMETERSDIFFERENT THAN 0 OR 1\n";
    if (d.maxit > 2000) return "   ***ERROR***   NUMBER OF ITERATIONS BIGGERTHAN 2000\n";
    // An item takes 2 to kMostCategories categories.
    static const Layout categoryLine("'   ****ERROR**** THE VALUE OF ',A,'(',I2,') IS ',I1,'       "
                                     "          AND OUTSIDE THE RANGE 2 TO ',I2");
    for (int i = 0; i < d.nc; ++i)
        if (d.c[i] < 2 || d.c[i] > kMostCategories)
            return categoryLine.format({"C", i + 1, d.c[i], kMostCategories});
    for (int i = 0; i < d.no; ++i)
        if (d.o[i] < 2 || d.o[i] > kMostCategories)
            return categoryLine.format({"O", i + 1, d.o[i], kMostCategories});
    if (d.ncase < 1) {
        static const Layout line("'   ***ERROR***  THE NUMBER OF CASES',I6,' IS LESS THAN 1'");
        return line.format({d.ncase});
    }
    return std::nullopt;
}

// A nominal or ordinal value must name one of the item's categories (or be missing).
std::optional<std::string> checkCategories(const Deck& d, int k, const double* row) {
    static const fixedio::Layout line(
        "'   ***ERROR***  CASE',I6,' VARIABLE',I3,' HAS AN INVALID CATEGORY'");
    for (int col = d.nb + d.nn; col < d.nv(); ++col) {
        double x = row[col];
        if (isMissing(x)) continue;
        int i = col - d.nb - d.nn;
        int categories = i < d.nc ? d.c[i] : d.o[i - d.nc];
        double v = truncated(x);
        if (v < 1 || v > categories) return line.format({k + 1, col + 1});
    }
    return std::nullopt;
}

// Record 5 (the control values), its checks, and the data records.
std::optional<std::string> readControlsAndData(fixedio::FreeReader& in, ModelState& m) {
    Deck& d = m.deck;
    std::vector<fixedio::Token> control = in.readValues(6, "values of the control record");
    d.nf = in.toInt(control[0]);
    d.init = in.toInt(control[1]);
    d.maxit = in.toInt(control[2]);
    d.isave = in.toInt(control[3]);
    d.tol = in.toReal(control[4]);
    d.iprs = in.toInt(control[5]);

    if (auto message = checkControls(d)) return message;

    const int nv = d.nv();
    m.x.rows = d.ncase;
    m.x.cols = nv;
    m.x.values.clear();
    // Rows are added as they are read: a count larger than the file cannot exhaust memory.
    for (int k = 0; k < d.ncase; ++k) {
        std::vector<double> row = in.readReals(static_cast<std::size_t>(nv), "values of a case");
        if (auto message = checkCategories(d, k, row.data())) return message;
        m.x.values.insert(m.x.values.end(), row.begin(), row.end());
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> readDeck(fixedio::FreeReader& in, ModelState& m, std::string* hint) {
    Deck& d = m.deck;
    d.title = fixedio::fixedWidthTitle(in.readLine(), kTitleWidth);
    std::vector<int> counts = in.readInts(6, "values of the counts record");
    d.ncase = counts[0];
    d.nb = counts[1];
    d.nn = counts[2];
    d.nc = counts[3];
    d.no = counts[4];
    d.nq = counts[5];
    // No fixed cap on items, but every case record holds each item's value and a separator:
    // a count beyond what the file could hold is no deck (and would overflow NV).
    const long long declared = static_cast<long long>(d.nb) + d.nn + d.nc + d.no;
    if (d.ncase > 0 && declared > static_cast<long long>(in.size() / 2) + 1)
        in.fail(in.linesRead(), "the deck declares " + std::to_string(declared) +
                                    " items, more than its case records could hold");
    // Records 3 and 4 are one line each even when they list nothing; leaving out such an empty
    // line shifts every later record, and the error only shows far down the file.
    std::string shifted;
    auto categoryRecord = [&](int count, const char* what) {
        std::vector<int> values = in.readInts(countOf(count), what);
        if (count == 0 && shifted.empty() &&
            in.lastLine().find_first_not_of(" \t,") != std::string_view::npos)
            shifted = "line " + std::to_string(in.linesRead()) + " is read as the " + what +
                      ", which must be an empty line when there are none, but it holds " +
                      fixedio::shownText(in.lastLine()) + ": is an empty line missing?";
        return values;
    };
    d.c = categoryRecord(d.nc, "nominal category counts");
    d.o = categoryRecord(d.no, "ordinal category counts");
    try {
        std::optional<std::string> rejected = readControlsAndData(in, m);
        // Only records read after the shifted line can have been misread.
        if (rejected && hint && !checkCounts(d) && d.ncase >= 1) *hint = shifted;
        return rejected;
    } catch (const latent::InputError& e) {
        if (shifted.empty()) throw;
        throw latent::InputError(std::string(e.what()) + " (" + shifted + ")");
    }
}

void computeObservedMargins(ModelState& m) {
    const Deck& d = m.deck;
    const int n = d.ncase, nv = d.nv();
    const double dn = n;
    ObservedMargins& obs = m.observed;
    obs.pmiss.assign(nv, 0.0);
    obs.p1.assign(d.nb, 0.0);

    int casesWithMissing = 0;
    for (int k = 0; k < n; ++k) {
        const double* row = m.x.row(k);
        if (std::any_of(row, row + nv, isMissing)) ++casesWithMissing;
    }
    obs.missingShare = casesWithMissing / dn;
    obs.anyMissing = casesWithMissing > 0;

    auto countColumn = [&](int col, auto&& predicate) {
        int count = 0;
        for (int k = 0; k < n; ++k)
            if (predicate(m.x(k, col))) ++count;
        return count;
    };
    for (int i = 0; i < d.nb; ++i) {
        obs.p1[i] = countColumn(i, [](double x) { return truncated(x) == 1.0; }) / dn;
        obs.pmiss[i] = countColumn(i, isMissing) / dn;
    }
    for (int i = 0; i < d.nn; ++i) {
        int col = d.normalColumn(i);
        obs.pmiss[col] = countColumn(col, isMissing) / dn;
    }
    // Polytomous items: category shares, and the missing share as what they leave of 1.
    auto categoryShares = [&](int col, int categories, std::vector<double>& shares) {
        std::vector<int> counts(categories, 0);
        for (int k = 0; k < n; ++k) {
            double x = m.x(k, col);
            if (!isMissing(x)) ++counts[static_cast<int>(truncated(x)) - 1];
        }
        shares.assign(categories, 0.0);
        double sum = 0.0;
        for (int j = 0; j < categories; ++j) {
            shares[j] = counts[j] / dn;
            sum += shares[j];
        }
        obs.pmiss[col] = 1.0 - sum;
    };
    obs.nominalShare.assign(d.nc, {});
    for (int i = 0; i < d.nc; ++i) categoryShares(d.nominalColumn(i), d.c[i], obs.nominalShare[i]);
    obs.ordinalShare.assign(d.no, {});
    for (int i = 0; i < d.no; ++i) categoryShares(d.ordinalColumn(i), d.o[i], obs.ordinalShare[i]);

    obs.wmiss.assign(n, 1.0);
    for (int k = 0; k < n; ++k) {
        const double* row = m.x.row(k);
        double w = 1.0;
        for (int col = 0; col < nv; ++col)
            w *= isMissing(row[col]) ? obs.pmiss[col] : 1.0 - obs.pmiss[col];
        obs.wmiss[k] = w;
    }
}

namespace {

void sizeParameters(ModelState& m) {
    const Deck& d = m.deck;
    Parameters& p = m.params;
    p.binary.assign(d.nb, {});
    p.normal.assign(d.nn, {});
    p.nominal.assign(d.nc, {});
    p.ordinal.assign(d.no, {});
    for (int i = 0; i < d.nc; ++i) p.nominal[i].categories = d.c[i];
    for (int i = 0; i < d.no; ++i) p.ordinal[i].categories = d.o[i];
}

} // namespace

void readStartingValues(fixedio::FreeReader& in, ModelState& m) {
    sizeParameters(m);
    const int nf = m.deck.nf;
    const std::size_t loadings = static_cast<std::size_t>(nf);
    Parameters& p = m.params;
    // The line of the first record of a frozen item, and whether every item is frozen.
    int firstFrozenLine = 0;
    bool allFrozen = p.normal.empty() && p.ordinal.empty();
    for (BinaryItem& b : p.binary) {
        std::vector<double> v = in.readReals(loadings + 1, "values of a binary item");
        std::copy(v.begin(), v.end(), b.alpha.begin());
        if (belowFrozen(b.alpha, nf))
            allFrozen = false;
        else if (firstFrozenLine == 0)
            firstFrozenLine = in.linesRead();
    }
    for (std::size_t i = 0; i < p.normal.size(); ++i) {
        NormalItem& n = p.normal[i];
        std::vector<double> v = in.readReals(loadings + 2, "values of a normal item");
        n.mu = v[0];
        n.lambda1 = v[1];
        if (nf == 2) n.lambda2 = v[2];
        n.psi = v.back();
        // PSI is a variance: the density needs it positive.
        if (!(n.psi > 0.0)) {
            char found[32];
            std::snprintf(found, sizeof found, "%g", n.psi);
            in.fail(in.linesRead(), "the residual variance PSI of normal item " +
                                        std::to_string(i + 1) + " must be positive, found " +
                                        found);
        }
    }
    for (NominalItem& c : p.nominal) {
        bool itemFrozen = true;
        for (int j = 2; j <= c.categories; ++j) {
            std::vector<double> v = in.readReals(loadings + 1, "values of a nominal category");
            std::copy(v.begin(), v.end(), c.ac[j].begin());
            if (belowFrozen(c.ac[j], nf))
                itemFrozen = false;
            else if (firstFrozenLine == 0)
                firstFrozenLine = in.linesRead();
        }
        if (!itemFrozen) allFrozen = false;
    }
    // Every item frozen at its start: the fit could not move at all.
    if (allFrozen && firstFrozenLine > 0)
        in.fail(firstFrozenLine, "every item starts frozen (an intercept or loading of " +
                                     std::to_string(static_cast<int>(kFrozen)) +
                                     " or more stops an item's updates), so the fit could not "
                                     "move: start from smaller values");
    for (std::size_t i = 0; i < p.ordinal.size(); ++i) {
        OrdinalItem& o = p.ordinal[i];
        for (int j = 1; j < o.categories; ++j) {
            o.thr[j] = in.readReals(1, "threshold")[0];
            // Thresholds out of order would give negative category probabilities.
            if (j > 1 && !(o.thr[j - 1] < o.thr[j]))
                in.fail(in.linesRead(), "the thresholds of ordinal item " + std::to_string(i + 1) +
                                            " must increase");
        }
        std::vector<double> v = in.readReals(loadings, "ordinal loadings");
        std::copy(v.begin(), v.end(), o.ao.begin() + 1);
    }
}

} // namespace travik
