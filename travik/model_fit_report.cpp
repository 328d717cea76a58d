#include "travik/model_fit_report.hpp"

#include "resultsio/convergence.hpp"

#include <cmath>
#include <cstdio>

namespace travik {

namespace {

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string upperName(std::string_view name) {
    std::string out(name);
    for (char& c : out) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return out;
}

// "     3  BINARY        " then the category (or blanks) and the two loadings.
std::string loadingRow(const Deck& d, int item, int category, const std::array<double, 3>& l) {
    char text[128];
    std::snprintf(text, sizeof text, "%s %8s %11.4f %11.4f\n", itemLabel(d, item).c_str(),
                  category > 0 ? std::to_string(category).c_str() : "", l[1], l[2]);
    return text;
}

// A column heading laid out with the format of its rows, and a line end.
template <class... Names> std::string heading(const char* format, Names... names) {
    char text[160];
    std::snprintf(text, sizeof text, format, names...);
    return std::string(text) + "\n";
}

std::string orNotAvailable(double value, int decimals) {
    return std::isfinite(value) ? fixed(value, decimals) : "N/A";
}

// A value and its standard error in 12 columns each, N/A where there is none.
std::string valueAndError(const IrtValue& v) {
    char text[64];
    const auto shown = [](const std::optional<double>& x) {
        return x && std::isfinite(*x) ? fixed(*x, 4) : std::string("N/A");
    };
    std::snprintf(text, sizeof text, "%12s%12s", shown(v.value).c_str(), shown(v.se).c_str());
    return text;
}

std::string irtRow(const Deck& d, int item, const char* parameter, const IrtValue& v) {
    char text[64];
    std::snprintf(text, sizeof text, "  %-10s", parameter);
    return itemLabel(d, item) + text + valueAndError(v) + "\n";
}

} // namespace

std::string limitedFitSection(const LimitedInformationFit& f) {
    std::string out = "\n\n***Limited-Information Fit***\n\n";
    if (!f.available) return out + resultsio::reportLine("NOT AVAILABLE", upperName(f.reason));
    const std::string& s = f.statistic;
    out += resultsio::reportLine("STATISTIC", s + (s == "M2" ? " (UNIVARIATE AND BIVARIATE MARGINS)"
                                                             : " (MARGINS AND CROSS-PRODUCTS)"));
    out += resultsio::reportLine(s, fixed(f.value, 4));
    out += resultsio::reportLine("DEGREES OF FREEDOM", std::to_string(f.df));
    out += resultsio::reportLine("P VALUE", fixed(f.p, 4));
    out += resultsio::reportLine("RMSEA", fixed(f.rmsea, 4));
    out += resultsio::reportLine("RMSEA 90% INTERVAL", orNotAvailable(f.rmseaLow, 4) + " TO " +
                                                           orNotAvailable(f.rmseaHigh, 4));
    out += resultsio::reportLine("SRMSR", fixed(f.srmsr, 4));
    out += resultsio::reportLine("CFI", orNotAvailable(f.cfi, 4));
    out += resultsio::reportLine("TLI", orNotAvailable(f.tli, 4));
    out += resultsio::reportLine("INDEPENDENCE MODEL",
                                 s + " " + orNotAvailable(f.baselineValue, 4) + " ON " +
                                     std::to_string(f.baselineDf) + " DF");
    return out;
}

std::string itemFitSection(const Deck& d, const ItemFit& f) {
    std::string out = "\n\n***Item Fit (S-X2)***\n\n";
    if (!f.available) return out + resultsio::reportLine("NOT AVAILABLE", upperName(f.reason));
    out += heading("%8s  %-8s%12s%8s%12s%12s", "ITEM", "TYPE", "S-X2", "DF", "P VALUE", "RMSEA");
    for (const ItemFitEntry& e : f.items) {
        char text[128];
        if (e.available)
            std::snprintf(text, sizeof text, "%12.4f%8d%12.4f%12.4f\n", e.sx2, e.df, e.p, e.rmsea);
        else
            std::snprintf(text, sizeof text, "  NOT AVAILABLE: %s\n", upperName(e.reason).c_str());
        out += itemLabel(d, e.item) + text;
    }
    return out;
}

std::string localDependenceSection(const LocalDependence& ld) {
    std::string out = "\n\n***Local Dependence (LD X2)***\n\n";
    if (!ld.available) return out + resultsio::reportLine("NOT AVAILABLE", upperName(ld.reason));
    out += resultsio::reportLine("ITEM PAIRS TESTED", std::to_string(ld.pairs.size()));
    out += resultsio::reportLine("PAIRS FLAGGED", std::to_string(ld.flagged.size()) +
                                                      " (STANDARDIZED LD X2 ABOVE " +
                                                      fixed(kLocalDependenceFlag, 0) + ")");
    if (ld.flagged.empty()) return out;
    out += "\n" + heading("%8s%8s%13s%6s%14s%11s", "ITEM", "ITEM", "LD X2", "DF", "STANDARDIZED",
                          "SIGNED V");
    for (int at : ld.flagged) {
        const ItemPairDependence& p = ld.pairs[static_cast<std::size_t>(at)];
        char text[128];
        std::snprintf(text, sizeof text, "%8d%8d%13.3f%6d%14.3f%11.4f\n", p.i + 1, p.j + 1, p.x2,
                      p.df, p.standardized, p.signedCramersV);
        out += text;
    }
    return out;
}

std::string irtSection(const Deck& d, const IrtParameters& irt) {
    if (irt.binary.empty() && irt.ordinal.empty()) return "";
    std::string out = "\n\n***IRT Parameters (Logistic Metric)***\n\n";
    const bool two = irt.factors == 2;
    const bool thresholds = !irt.ordinal.empty();
    out += two ? std::string("  A1, A2 THE LOADINGS; MDISC = SQRT(A1**2 + A2**2); MDIFF = "
                             "-INTERCEPT / MDISC\n") +
                     (thresholds ? "  B(C) = THRESHOLD C / MDISC\n" : "")
               : std::string("  A THE LOADING; B = -INTERCEPT / A\n") +
                     (thresholds ? "  B(C) = THRESHOLD C / A\n" : "");
    out += "\n" + heading("%8s  %-8s  %-10s%12s%12s", "ITEM", "TYPE", "PARAMETER", "VALUE", "S.E.");
    for (std::size_t i = 0; i < irt.binary.size(); ++i) {
        const BinaryIrt& b = irt.binary[i];
        const int item = static_cast<int>(i);
        if (two) {
            out += irtRow(d, item, "A1", b.a1) + irtRow(d, item, "A2", b.a2) +
                   irtRow(d, item, "MDISC", b.mdisc) + irtRow(d, item, "MDIFF", b.difficulty);
        } else {
            out += irtRow(d, item, "A", b.a1) + irtRow(d, item, "B", b.difficulty);
        }
    }
    for (std::size_t i = 0; i < irt.ordinal.size(); ++i) {
        const OrdinalIrt& o = irt.ordinal[i];
        const int item = d.nb + d.nn + d.nc + static_cast<int>(i);
        if (two)
            out += irtRow(d, item, "A1", o.a1) + irtRow(d, item, "A2", o.a2) +
                   irtRow(d, item, "MDISC", o.mdisc);
        else
            out += irtRow(d, item, "A", o.a1);
        for (std::size_t c = 0; c < o.thresholds.size(); ++c)
            out += irtRow(d, item, ("B(" + std::to_string(c + 1) + ")").c_str(), o.thresholds[c]);
    }
    return out;
}

std::string itemLabel(const Deck& d, int item) {
    const char* type = item < d.nb                 ? "BINARY"
                       : item < d.nb + d.nn        ? "NORMAL"
                       : item < d.nb + d.nn + d.nc ? "NOMINAL"
                                                   : "ORDINAL";
    char text[32];
    std::snprintf(text, sizeof text, "%8d  %-8s", item + 1, type);
    return text;
}

std::string rotationSection(const Deck& d, const StandardizedLoadings& unrotated,
                            const Rotation& r) {
    if (r.method == RotationMethod::None) return "";
    std::string out = "\n\n***Rotated Standardized Loadings***\n\n";
    const bool oblique = r.method == RotationMethod::Oblimin;
    if (!r.unavailable.empty())
        return out + resultsio::reportLine("ROTATION", "NOT DONE: " + upperName(r.unavailable));
    out +=
        resultsio::reportLine("ROTATION", upperName(rotationMethodName(r.method)) +
                                              (oblique ? " (OBLIQUE, GAMMA 0)" : " (ORTHOGONAL)"));
    out += resultsio::reportLine("CRITERION", resultsio::scientific(r.criterion));
    out += resultsio::reportLine("CONVERGED", r.converged ? "YES" : "NO");
    out += resultsio::reportLine("STARTS AT THE BEST CRITERION", std::to_string(r.startsAtBest));
    out += "\n" +
           heading("%8s  %-8s %8s %11s %11s", "ITEM", "TYPE", "CATEGORY", "FACTOR 1", "FACTOR 2");
    const StandardizedLoadings l = rotatedStandardized(unrotated, r);
    for (int i = 0; i < d.nb; ++i) out += loadingRow(d, i, 0, l.binary[i]);
    for (int i = 0; i < d.nn; ++i) out += loadingRow(d, d.nb + i, 0, l.normal[i]);
    for (int i = 0; i < d.nc; ++i)
        for (int j = 2; j <= d.c[i]; ++j) out += loadingRow(d, d.nb + d.nn + i, j, l.nominal[i][j]);
    for (int i = 0; i < d.no; ++i) out += loadingRow(d, d.nb + d.nn + d.nc + i, 0, l.ordinal[i]);
    if (oblique) out += "\n" + resultsio::reportLine("FACTOR CORRELATION", fixed(r.phi[0][1], 4));
    return out;
}

} // namespace travik
