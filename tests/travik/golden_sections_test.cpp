// Report sections for small decks of every item type, line by line against texts that were
// checked against the layouts when first produced (tests/travik/golden/*.txt): the header
// (title block, echo of the deck, observed margins, starting values) and the estimates with
// the standardized loadings, for one and two factors.
#include "test_support.hpp"
#include "travik/simulated_data.hpp"

using namespace travik_test;
using namespace travik::simulated;

namespace {

// The report from `from` on starts with the golden text, line by line.
void expectSection(const std::string& report, const std::string& from, const std::string& golden) {
    const std::size_t at = report.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    const std::vector<std::string> got = lines(report.substr(at)),
                                   want = lines(readFile(fs::path(TRAVIK_GOLDEN_DIR) / golden));
    ASSERT_FALSE(want.empty()) << golden;
    ASSERT_GE(got.size(), want.size()) << golden;
    for (std::size_t i = 0; i < want.size(); ++i)
        EXPECT_EQ(got[i], want[i]) << golden << ", line " << i + 1;
}

// 150 simulated cases of every type, a nominal and an ordinal item with two categories among
// them, 5 % missing.
std::string estimatesDeck(int nf) {
    travik::ModelState m = simulate(truthFor(2, 2, 1, 2, nf), nf, 16, 150, 0.05, nf == 1 ? 78 : 3);
    const int cols = m.x.cols;
    m.deck.c[0] = 2;
    m.deck.o[1] = 2;
    for (int k = 0; k < m.deck.ncase; ++k) {
        double& nominal = m.x.values[k * cols + 4];
        if (nominal != 999.0 && nominal > 2) nominal = 2;
        double& ordinal = m.x.values[k * cols + cols - 1];
        if (ordinal != 999.0) ordinal = ordinal > 2 ? 2 : 1;
    }
    // (With two factors some samples of 150 cases have no finite maximum: an ordinal item's
    // loadings run away. This one has a maximum.)
    return deckText(m, nf == 1 ? "1 0 500 0 0.00000001 0" : "2 0 500 0 0.000001 0");
}

} // namespace

TEST(ReportSections, HeaderOneFactorWithMissingValuesAndEveryType) {
    TempFolder dir;
    RunResult r = runDeck(dir.path, "Small mixed deck\n6 2 1 1 1 48\n3\n3\n1 0 10 50 0.0001 1\n"
                                    "1 0 1.5 1 1\n0 1 2.0 2 2\n1 1 999 3 3\n0 0 -0.5 1 999\n"
                                    "1 999 0.75 2 1\n1 1 1.25 3 2\n");
    // Ten cycles do not reach convergence on these six cases: a fit that is not converged.
    ASSERT_EQ(r.status, 1) << r.errors;
    EXPECT_NE(r.errors.find("travik: no convergence within MAXIT = 10 cycles"), std::string::npos)
        << r.errors;
    expectSection(r.report, "", "header_one_factor.txt");
    // The title is padded to 70 columns, after two blanks when values are missing.
    EXPECT_NE(r.report.find("\nFilename:  Small mixed deck" + std::string(54, ' ') + "\n"),
              std::string::npos);
}

TEST(ReportSections, HeaderTwoFactorsCompleteDataAndEveryType) {
    TempFolder dir;
    RunResult r =
        runDeck(dir.path, "Two factors, every type\n4 1 1 1 1 16\n2\n2\n2 0 100 1 0.00001 0\n"
                          "1 0.5 1 2\n0 1.5 2 1\n1 2.5 2 2\n0 3.5 1 1\n");
    ASSERT_EQ(r.status, 1) << r.errors;
    expectSection(r.report, "", "header_two_factors.txt");
}

TEST(ReportSections, EstimatesOneAndTwoFactorsEveryType) {
    TempFolder dir;
    for (int nf : {1, 2}) {
        RunResult r = runDeck(dir.path, estimatesDeck(nf));
        ASSERT_EQ(r.status, 0) << r.errors;
        expectSection(r.report, "***Maximum Likelihood Estimates",
                      nf == 1 ? "estimates_one_factor.txt" : "estimates_two_factors.txt");
    }
}
