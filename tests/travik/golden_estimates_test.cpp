// The estimates and standardized-loadings sections for small decks of every item type, one
// and two factors (a nominal item and an ordinal item with two categories among them).
// Checked line by line against the layouts when first produced.
#include "simulate.hpp"
#include "test_support.hpp"

using namespace travik_test;

namespace {

std::string deckFor(int nf) {
    travik::ModelState m = simulate(truthFor(2, 2, 1, 2, nf), nf, 16, 150, 0.05, 77 + nf);
    const int cols = m.x.cols;
    m.deck.c[0] = 2;
    m.deck.o[1] = 2;
    for (int k = 0; k < m.deck.ncase; ++k) {
        double& nominal = m.x.values[k * cols + 4];
        if (nominal != 999.0 && nominal > 2) nominal = 2;
        double& ordinal = m.x.values[k * cols + cols - 1];
        if (ordinal != 999.0) ordinal = ordinal > 2 ? 2 : 1;
    }
    return deckText(m, std::to_string(nf) + " 0 500 0 0.00000001 0");
}

void expectSection(int nf, const std::string& expected) {
    TempFolder dir;
    RunResult r = runDeck(dir.path, deckFor(nf));
    ASSERT_EQ(r.status, 0) << r.errors;
    std::size_t from = r.report.find("***Maximum Likelihood Estimates");
    ASSERT_NE(from, std::string::npos);
    std::vector<std::string> got = lines(r.report.substr(from)), want = lines(expected);
    ASSERT_GE(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], want[i]) << "line " << i + 1;
}

} // namespace

TEST(EstimatesReport, OneFactorEveryType) {
    expectSection(1, R"(***Maximum Likelihood Estimates Of Item Parameters and Standard Errors***
Binary Items
ITEM I   ALPHAB(0,I)    S.E.      ALPHAB(1,I)    S.E    P(X=1/Z=0)
     1     -0.8568     0.2047      0.5719     0.2319    0.2980
     2     -0.7163     0.2561      1.4608     0.3952    0.3282
 

Normal Items
  ITEM I   MU(I)    S.E     ALPHA(I)   S.E     PSI   S.E
    1     0.9295    0.0996     0.7850    0.0868     0.6207    0.0996
    2     1.6126    0.1158     1.0438    0.1036     0.5053    0.1597
  

Polytomous Items
 ITEM  CAT      AC(0,I,J)     S.E       AC(1,I,J)    S.E     PHI(I,J)

   1    2          0.734     0.233       1.026     0.295     0.676
  

Ordinal Items
 ITEM  CAT      THR(I,J)     S.E

   1    1         -0.698     0.206
   1    2         -0.007     0.195
   1    3          1.333     0.255
   2    1          0.224     0.210

ITEMS     ALPHA(1,I)     S.E

 1             0.800     0.239
 2             0.952     0.288


***Standardized Loadings***


Binary Items    STALPHAB
    1           0.4965
    2           0.8252


Normal Items    STALPHAN
    1         0.7059
    2         0.8265

Ordinal Items    STALPHAO
    1             0.6248
    2             0.6894

Nominal Items     STALPHAC
    1               0.7160
)");
}

TEST(EstimatesReport, TwoFactorsEveryType) {
    expectSection(2, R"(***Maximum Likelihood Estimates Of Item Parameters and Standard Errors***
 Binary Items
ITEM I ALPHAB(0,I)  S.E   ALPHAB(1,I)  S.E  ALPHAB(2,I)  S.E  P(X=1/Z=0)
    1  -0.6200   0.2384   0.3459   0.9893   1.1210   0.5161   0.3498
    2  -0.0969   0.2662   0.7849   1.4689   1.6169   1.0610   0.4758
  

Normal Items
ITEM I   MU(I)    S.E    ALPHAN1   S.E    ALPHAN2   S.E  PSI   S.E
    1   1.1098   0.1146   0.5676   0.7747   0.8072   0.5557   0.6739   0.1572
    2   1.4968   0.1225   1.2020   0.3226   0.5023   0.9924   0.0971   0.4838
 

Polytomous Items
 ITEM  CAT  AC(0,I,J)    S.E    AC(1,I,J)    S.E    AC(2,I,J)   S.E  PHI(I,J)
   1    2      1.10     0.26      0.69     0.88      0.83     0.78   0.75
  

Ordinal Items
 ITEM  CAT      THR(I,J)    SD

   1    1         -1.377     0.282
   1    2         -0.180     0.228
   1    3          0.956     0.231
   2    1         -0.157     0.228
 ITEMS   BETA(1,I)     S.EBETA(2,I)     S.E

   1             0.970     0.876           0.731     0.991
   2             0.560     0.841           0.915     0.641


***Standardized Loadings***



Binary Items    STALPHAB(1,I)  STALPHAB(2,I)
    1             0.2244         0.7272
    2             0.3816         0.7861


Normal Items    STLAMBDA1  STLAMBDA2
    1         0.4422      0.6288
    2         0.8974      0.3750


Ordinal Items    STAO(1,I)  STAO(2,I)
  1             0.6164      0.4647
  2             0.3818      0.6238


Nominal Items    STALPHAC(1,I)  STALPHAC(2,I)
    1               0.4706      0.5616
)");
}
