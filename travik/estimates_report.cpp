#include "travik/estimates_report.hpp"

#include "fixedio/layout.hpp"

#include <cmath>

namespace travik {

using fixedio::Layout;

StandardizedLoadings standardizedLoadings(const ModelState& m) {
    const int nf = m.deck.nf;
    const Parameters& p = m.params;
    StandardizedLoadings s;
    // Loadings a[1..nf] over sqrt(1 + sum of squares).
    auto logit = [nf](const std::array<double, 3>& a) {
        double sum = 1.0;
        for (int q = 1; q <= nf; ++q) sum += a[q] * a[q];
        const double root = std::sqrt(sum);
        std::array<double, 3> out{};
        for (int q = 1; q <= nf; ++q) out[q] = a[q] / root;
        return out;
    };
    for (const BinaryItem& b : p.binary) s.binary.push_back(logit(b.alpha));
    for (const NormalItem& n : p.normal) {
        const double root = nf == 2
                                ? std::sqrt(n.lambda1 * n.lambda1 + n.lambda2 * n.lambda2 + n.psi)
                                : std::sqrt(n.lambda1 * n.lambda1 + n.psi);
        s.normal.push_back({0.0, n.lambda1 / root, nf == 2 ? n.lambda2 / root : 0.0});
    }
    for (const OrdinalItem& o : p.ordinal) s.ordinal.push_back(logit(o.ao));
    for (const NominalItem& c : p.nominal) {
        std::vector<std::array<double, 3>> item(c.categories + 1);
        for (int j = 2; j <= c.categories; ++j) item[j] = logit(c.ac[j]);
        s.nominal.push_back(item);
    }
    return s;
}

std::vector<double> binaryAtZero(const Parameters& p) {
    std::vector<double> v;
    for (const BinaryItem& b : p.binary) {
        const double a = b.alpha[0];
        v.push_back(a > 15.0 ? 1.0 : std::exp(a) / (1.0 + std::exp(a)));
    }
    return v;
}

std::vector<std::vector<double>> nominalAtZero(const Parameters& p) {
    std::vector<std::vector<double>> v;
    for (const NominalItem& c : p.nominal) {
        std::vector<double> phi(c.categories + 1, 0.0);
        double sum = 1.0;
        for (int j = 2; j <= c.categories; ++j) sum += std::exp(c.ac[j][0]);
        double others = 0.0;
        for (int j = 2; j <= c.categories; ++j) {
            phi[j] = c.ac[j][0] > 15.0 ? 1.0 : std::exp(c.ac[j][0]) / sum;
            others += phi[j];
        }
        phi[1] = 1.0 - others;
        v.push_back(phi);
    }
    return v;
}

namespace {

void binaryBlock(std::string& out, const ModelState& m, const Covariance& cov) {
    const ParameterLayout& l = cov.layout;
    const std::vector<double> atZero = binaryAtZero(m.params);
    if (m.deck.nf == 1) {
        out += "Binary Items\n";
        out +=
            Layout("'ITEM I',3X,'ALPHAB(0,I)',4X,'S.E.',6X,'ALPHAB(1,I)',4X,'S.E',4X,'P(X=1/Z=0)'")
                .format({});
        static const Layout row("2X,I4,2*(2X,F10.4,1X,F10.4),2X,F8.4");
        for (int i = 0; i < m.deck.nb; ++i) {
            const auto& a = m.params.binary[i].alpha;
            out += row.format({i + 1, a[0], cov.se(l.binaryAt(1, i, 0)), a[1],
                               cov.se(l.binaryAt(1, i, 1)), atZero[i]});
        }
        return;
    }
    out += " Binary Items\n";
    out += Layout("'ITEM "
                  "I',1X,'ALPHAB(0,I)',2X,'S.E',3X,'ALPHAB(1,I)',2X,'S.E',2X,'ALPHAB(2,I)',2X,'S.E'"
                  ",2X,'P(X=1/Z=0)'")
               .format({});
    static const Layout row("1X,I4,3*(1X,F8.4,1X,F8.4),1X,F8.4");
    for (int i = 0; i < m.deck.nb; ++i) {
        const auto& a = m.params.binary[i].alpha;
        out +=
            row.format({i + 1, a[0], cov.se(l.binaryAt(2, i, 0)), a[1], cov.se(l.binaryAt(2, i, 1)),
                        a[2], cov.se(l.binaryAt(2, i, 2)), atZero[i]});
    }
}

void normalBlock(std::string& out, const ModelState& m, const Covariance& cov) {
    const ParameterLayout& l = cov.layout;
    if (m.deck.nf == 1) {
        out += " \n\nNormal Items\n  ITEM I   MU(I)    S.E     ALPHA(I)   S.E     PSI   S.E\n";
        static const Layout row("I5,3*(2X,F9.4,1X,F9.4)");
        for (int i = 0; i < m.deck.nn; ++i) {
            const NormalItem& n = m.params.normal[i];
            const int at = l.normal[i];
            out += row.format(
                {i + 1, n.mu, cov.se(at), n.lambda1, cov.se(at + 1), n.psi, cov.se(at + 2)});
        }
        return;
    }
    out +=
        "  \n\nNormal Items\nITEM I   MU(I)    S.E    ALPHAN1   S.E    ALPHAN2   S.E  PSI   S.E\n";
    static const Layout row("1X,I4,8*(1X,F8.4)");
    for (int i = 0; i < m.deck.nn; ++i) {
        const NormalItem& n = m.params.normal[i];
        const int at = l.normal[i];
        out += row.format({i + 1, n.mu, cov.se(at), n.lambda1, cov.se(at + 1), n.lambda2,
                           cov.se(at + 2), n.psi, cov.se(at + 3)});
    }
}

void nominalBlock(std::string& out, const ModelState& m, const Covariance& cov) {
    const ParameterLayout& l = cov.layout;
    const int nf = m.deck.nf;
    const std::vector<std::vector<double>> phi = nominalAtZero(m.params);
    if (nf == 1)
        out += "  \n\nPolytomous Items\n ITEM  CAT      AC(0,I,J)     S.E       AC(1,I,J)    S.E   "
               "  PHI(I,J)\n\n";
    else
        out += " \n\nPolytomous Items\n ITEM  CAT  AC(0,I,J)    S.E    AC(1,I,J)    S.E    "
               "AC(2,I,J)   S.E  PHI(I,J)\n";
    static const Layout row1("1X,I3,4X,I1,3X,2*(F12.3,1X,F9.3),1X,F9.3");
    static const Layout row2("1X,I3,4X,I1,3*(F10.2,1X,F8.2),1X,F6.2");
    for (int i = 0; i < m.deck.nc; ++i) {
        const NominalItem& c = m.params.nominal[i];
        for (int j = 2; j <= c.categories; ++j) {
            const int at = l.nominal[i] + (j - 2) * (nf + 1);
            const auto& a = c.ac[j];
            out += nf == 1
                       ? row1.format({i + 1, j, a[0], cov.se(at), a[1], cov.se(at + 1), phi[i][j]})
                       : row2.format({i + 1, j, a[0], cov.se(at), a[1], cov.se(at + 1), a[2],
                                      cov.se(at + 2), phi[i][j]});
        }
    }
}

void ordinalBlock(std::string& out, const ModelState& m, const Covariance& cov) {
    const ParameterLayout& l = cov.layout;
    const int nf = m.deck.nf;
    // Deliberate: the two-factor heading says SD where the one-factor one says S.E; both
    // columns hold standard errors. The established layout differs so, and stays.
    out += nf == 1 ? "  \n\nOrdinal Items\n ITEM  CAT      THR(I,J)     S.E\n\n"
                   : "  \n\nOrdinal Items\n ITEM  CAT      THR(I,J)    SD\n\n";
    static const Layout row("1X,I3,4X,I1,3X,F12.3,1X,F9.3");
    for (int i = 0; i < m.deck.no; ++i) {
        const OrdinalItem& o = m.params.ordinal[i];
        for (int j = 1; j < o.categories; ++j)
            out += row.format({i + 1, j, o.thr[j], cov.se(l.ordinal[i] + j - 1)});
    }
    if (nf == 1) {
        out += "\nITEMS     ALPHA(1,I)     S.E\n\n";
        static const Layout slope("I2,6X,F12.3,1X,F9.3");
        for (int i = 0; i < m.deck.no; ++i) {
            const int at = l.ordinal[i] + m.params.ordinal[i].categories - 1;
            out += slope.format({i + 1, m.params.ordinal[i].ao[1], cov.se(at)});
        }
        return;
    }
    out += Layout("1X,'ITEMS',3X,'BETA(1,I)',5X,'S.E','BETA(2,I)',5X,'S.E',/").format({});
    static const Layout slope("1X,I3,6X,F12.3,1X,F9.3,4X,F12.3,1X,F9.3");
    for (int i = 0; i < m.deck.no; ++i) {
        const OrdinalItem& o = m.params.ordinal[i];
        const int at = l.ordinal[i] + o.categories - 1;
        out += slope.format({i + 1, o.ao[1], cov.se(at), o.ao[2], cov.se(at + 1)});
    }
}

} // namespace

std::string estimatesSection(const ModelState& m, const Covariance& cov) {
    std::string out =
        "\n\n***Maximum Likelihood Estimates Of Item Parameters and Standard Errors***\n";
    if (m.deck.nb > 0) binaryBlock(out, m, cov);
    if (m.deck.nn > 0) normalBlock(out, m, cov);
    if (m.deck.nc > 0) nominalBlock(out, m, cov);
    if (m.deck.no > 0) ordinalBlock(out, m, cov);
    return out;
}

std::string standardizedSection(const ModelState& m, const StandardizedLoadings& s) {
    const Deck& d = m.deck;
    const bool two = d.nf == 2;
    std::string out = "\n\n***Standardized Loadings***\n\n";
    if (d.nb > 0) {
        out += two ? "\n\nBinary Items    STALPHAB(1,I)  STALPHAB(2,I)\n"
                   : "\nBinary Items    STALPHAB\n";
        static const Layout row1("I5,8X,F9.4"), row2("I5,10X,F9.4,6X,F9.4");
        for (int i = 0; i < d.nb; ++i)
            out += two ? row2.format({i + 1, s.binary[i][1], s.binary[i][2]})
                       : row1.format({i + 1, s.binary[i][1]});
    }
    if (d.nn > 0) {
        out +=
            two ? "\n\nNormal Items    STLAMBDA1  STLAMBDA2\n" : "\n\nNormal Items    STALPHAN\n";
        static const Layout row1("I5,6X,F9.4"), row2("I5,6X,F9.4,3X,F9.4");
        for (int i = 0; i < d.nn; ++i)
            out += two ? row2.format({i + 1, s.normal[i][1], s.normal[i][2]})
                       : row1.format({i + 1, s.normal[i][1]});
    }
    if (d.no > 0) {
        out +=
            two ? "\n\nOrdinal Items    STAO(1,I)  STAO(2,I)\n" : "\nOrdinal Items    STALPHAO\n";
        static const Layout row1("I5,10X,F9.4"), row2("I3,10X,F9.4,3X,F9.4");
        for (int i = 0; i < d.no; ++i)
            out += two ? row2.format({i + 1, s.ordinal[i][1], s.ordinal[i][2]})
                       : row1.format({i + 1, s.ordinal[i][1]});
    }
    if (d.nc > 0) {
        // Deliberate: five blanks before STALPHAC in the one-factor heading (four elsewhere),
        // as the established layout has it.
        out += two ? "\n\nNominal Items    STALPHAC(1,I)  STALPHAC(2,I)\n"
                   : "\nNominal Items     STALPHAC\n";
        static const Layout row1("I5,12X,F9.4"), row2("I5,12X,F9.4,3X,F9.4");
        for (int i = 0; i < d.nc; ++i)
            for (int j = 2; j <= d.c[i]; ++j)
                out += two ? row2.format({i + 1, s.nominal[i][j][1], s.nominal[i][j][2]})
                           : row1.format({i + 1, s.nominal[i][j][1]});
    }
    return out;
}

} // namespace travik
