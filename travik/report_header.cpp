#include "travik/report_header.hpp"

#include "fixedio/layout.hpp"

namespace travik {

using fixedio::Layout;

namespace {

constexpr int kModelNumber = 1; // the one model this program fits

void titleBlock(std::string& out, const ModelState& m) {
    const Deck& d = m.deck;
    out += "\n" + Layout("25X,'   *** PROGRAM LATENT ***'").format({}) + "\n\n";
    static const Layout estimation("4X,' MAXIMUM LIKELIHOOD ESTIMATION OF A',I4,'  FACTOR MODEL'");
    static const Layout estimationMissing("4X,' MAXIMUM LIKELIHOOD ESTIMATION OF A',I4,'  FACTOR "
                                          "MODEL. THE DATA CONTAINS MISSING VALUES'");
    const bool missing = m.observed.anyMissing;
    out += (missing ? estimationMissing : estimation).format({d.nf});
    out += "\n";
    out += (missing ? "Filename:  " : "Filename: ") + d.title + "\n\n\n";
}

void echoBlock(std::string& out, const ModelState& m) {
    const Deck& d = m.deck;
    out += Layout("'  MODEL = ',I4").format({kModelNumber});
    out += Layout("'  NUMBER OF OBSERVED VARIABLES =  ',I4").format({d.nv()});
    out += Layout("'  NUMBER OF BINARY VARIABLES =  ',I4").format({d.nb});
    out += Layout("'  NUMBER OF NORMAL VARIABLES =  ',I4").format({d.nn});
    out += Layout("'  NUMBER OF NOMINAL VARIABLES =  ',I4").format({d.nc});
    out += Layout("'  NUMBER OF ORDINAL VARIABLES =  ',I4").format({d.no});
    out += Layout("'  NUMBER OF CASES SAMPLED =  ',I6").format({d.ncase});
    // The two blanks before MISSING, and before VALUE below, are deliberate: the established
    // layout has them, and readers of the report parse these lines by position.
    out +=
        Layout("'  PROPORTION OF RESPONSE PATTERNS WITH AT LEAST ONE  MISSING OBSERVATION = ',F6.3")
            .format({m.observed.missingShare});
    out += Layout("'  NUMBER OF QUADRATURE POINTS USED =  ',I6").format({d.nq});
    if (d.fullRule > 0) {
        // Asked for on the command line; NQ above is what the deck says.
        static const Layout rule("'  QUADRATURE RULE: ALL ',I1,' POINTS OF THE ',I1,'-POINT "
                                 "GAUSS-HERMITE RULE PER FACTOR'");
        out += rule.format({d.fullRule, d.fullRule});
    }
    out += Layout("'  MAXIMUM NUMBER OF ITERATIONS PERMITTED = ',I4").format({d.maxit});
    out += Layout("'  CONVERGENCE TOLERANCE FOR THE RELATIVE LIKELIHOOD  VALUE =  ',F10.8")
               .format({d.tol});
    out += "\n";
}

void categoryBlock(std::string& out, const char* heading,
                   const std::vector<std::vector<double>>& shares, const std::vector<double>& pmiss,
                   int firstColumn) {
    out += std::string("\n") + heading + "\n\n         Category\n\n";
    static const Layout item("'  ITEM  ',I2");
    static const Layout category("12X,I2,F12.7");
    static const Layout missing("'        MISSING',F11.7");
    for (std::size_t i = 0; i < shares.size(); ++i) {
        out += item.format({static_cast<int>(i) + 1});
        out += "\n";
        for (std::size_t j = 0; j < shares[i].size(); ++j)
            out += category.format({static_cast<int>(j) + 1, shares[i][j]});
        out += missing.format({pmiss[firstColumn + i]});
        out += "\n\n";
    }
}

void observedMargins(std::string& out, const ModelState& m) {
    const Deck& d = m.deck;
    const ObservedMargins& obs = m.observed;
    out += "  ***Observed Margins***\n\n";
    static const Layout binaryItem("'  Binary item',6X,I2");
    static const Layout share("3X,A,F5.3");
    for (int i = 0; i < d.nb; ++i) {
        out += "\n" + binaryItem.format({i + 1}) + "\n";
        out += share.format({" CATEGORY 1  ", obs.p1[i]});
        out += share.format({" CATEGORY 0  ", 1.0 - obs.p1[i] - obs.pmiss[i]});
        out += share.format({"  MISSING    ", obs.pmiss[i]});
        out += "\n";
    }
    static const Layout normalItem("'Normal Item',6X,I2");
    static const Layout normalMissing("'  MISSING    ',F5.3");
    for (int i = 0; i < d.nn; ++i) {
        out += "\n" + normalItem.format({i + 1}) + "\n";
        out += normalMissing.format({obs.pmiss[d.normalColumn(i)]});
        out += "\n";
    }
    static const Layout normalItemAgain("' Normal item',6X,I2");
    static const Layout normalMissingAgain("3X,'  MISSING    ',F5.3");
    for (int i = 0; i < d.nn; ++i) {
        out += "\n" + normalItemAgain.format({i + 1}) + "\n";
        out += normalMissingAgain.format({obs.pmiss[d.normalColumn(i)]});
        out += "\n";
    }
    if (d.nc > 0)
        categoryBlock(out, "Nominal items", obs.nominalShare, obs.pmiss, d.nominalColumn(0));
    if (d.no > 0)
        categoryBlock(out, "Ordinal items", obs.ordinalShare, obs.pmiss, d.ordinalColumn(0));
}

} // namespace

std::string headerSection(const ModelState& m, const std::vector<std::string>& legend) {
    std::string out;
    titleBlock(out, m);
    echoBlock(out, m);
    for (const std::string& line : legend) out += line + "\n";
    if (!legend.empty()) out += "\n";
    observedMargins(out, m);
    return out;
}

std::string initialEstimatesSection(const ModelState& m) {
    const Deck& d = m.deck;
    const Parameters& p = m.params;
    const bool two = d.nf == 2;
    std::string out = "\n\n***Initial Estimates of Item Parameters***\n\n";
    if (d.nb > 0) {
        static const Layout heading1("'  ITEM',7X,'ALPHAB(0,I)',4X,'ALPHAB(1,I)',/");
        static const Layout heading2(
            "'  ITEM',7X,'ALPHAB(0,I)',4X,'ALPHAB(1,I)',4X,'ALPHAB(2,I)',/");
        out += (two ? heading2 : heading1).format({});
        static const Layout row1("3X,I2,6X,2*(F7.3,4X)");
        static const Layout row2("3X,I2,9X,3*(F7.3,4X)");
        for (int i = 0; i < d.nb; ++i) {
            const auto& a = p.binary[i].alpha;
            out += two ? row2.format({i + 1, a[0], a[1], a[2]}) : row1.format({i + 1, a[0], a[1]});
        }
    }
    if (d.nn > 0) {
        static const Layout heading1("'   ITEM',7X,'MEAN',4X,'LAMBDA1',4X,'PSI',/");
        static const Layout heading2("'  ITEM',7X,'MEAN',4X,'LAMBDA1',4X,'LAMBDA2',4X,'PSI',/");
        out += (two ? heading2 : heading1).format({});
        static const Layout row("3X,I2,6X,4*(F7.3,4X)");
        for (int i = 0; i < d.nn; ++i) {
            const NormalItem& n = p.normal[i];
            out += two ? row.format({i + 1, n.mu, n.lambda1, n.lambda2, n.psi})
                       : row.format({i + 1, n.mu, n.lambda1, n.psi});
        }
    }
    static const Layout itemLine("' ITEM ',I4");
    static const Layout categoryRow("15X,I2,7X,3*(F7.3,3X)");
    if (d.nc > 0) {
        static const Layout heading1("12X,'CATEGORY',3X,'AC(0,I,J)',3X,'AC(1,I,J)',/");
        static const Layout heading2(
            "12X,'CATEGORY',3X,'AC(0,I,J)',3X,'AC(1,I,J)',3X,'AC(2,I,J)',/");
        out += (two ? heading2 : heading1).format({});
        for (int i = 0; i < d.nc; ++i) {
            const NominalItem& c = p.nominal[i];
            out += itemLine.format({i + 1});
            for (int j = 2; j <= c.categories; ++j) {
                const auto& a = c.ac[j];
                out += two ? categoryRow.format({j, a[0], a[1], a[2]})
                           : categoryRow.format({j, a[0], a[1]});
            }
        }
    }
    if (d.no > 0) {
        static const Layout heading1("12X,'CATEGORY',3X,'THR(I,J)',3X,'AO(1,I)',/");
        static const Layout heading2("12X,'CATEGORY',3X,'THR(I,J)',3X,'AO(1,I)',3X,'AO(2,I)',/");
        out += (two ? heading2 : heading1).format({});
        for (int i = 0; i < d.no; ++i) {
            const OrdinalItem& o = p.ordinal[i];
            out += itemLine.format({i + 1});
            for (int j = 1; j < o.categories; ++j) {
                out += two ? categoryRow.format({j, o.thr[j], o.ao[1], o.ao[2]})
                           : categoryRow.format({j, o.thr[j], o.ao[1]});
            }
        }
    }
    return out;
}

} // namespace travik
