// Whole report headers, line by line, for small decks of every item type: the title block,
// the echo of the deck, the observed margins and the starting values.
#include "test_support.hpp"

using namespace travik_test;

namespace {

std::string titleBlock(const std::string& estimationLine, const std::string& filenameLine) {
    return "\n" + std::string(25, ' ') + "   *** PROGRAM LATENT ***\n\n\n" + estimationLine + "\n\n" +
           filenameLine + "\n\n\n";
}

std::string padded(const std::string& title) { return title + std::string(70 - title.size(), ' '); }

void expectPrefix(const std::string& report, const std::string& expected) {
    std::vector<std::string> got = lines(report), want = lines(expected);
    ASSERT_GE(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], want[i]) << "line " << i + 1;
}

} // namespace

TEST(ReportHeader, OneFactorWithMissingValuesAndEveryType) {
    TempFolder dir;
    RunResult r = runDeck(dir.path, "Small mixed deck\n6 2 1 1 1 48\n3\n3\n1 0 10 50 0.0001 1\n"
                                    "1 0 1.5 1 1\n0 1 2.0 2 2\n1 1 999 3 3\n0 0 -0.5 1 999\n"
                                    "1 999 0.75 2 1\n1 1 1.25 3 2\n");
    ASSERT_EQ(r.status, 0) << r.errors;
    expectPrefix(r.report,
                 titleBlock("     MAXIMUM LIKELIHOOD ESTIMATION OF A   1  FACTOR MODEL. THE DATA CONTAINS MISSING VALUES",
                            "Filename:  " + padded("Small mixed deck")) +
                     R"(  MODEL =    1
  NUMBER OF OBSERVED VARIABLES =     5
  NUMBER OF BINARY VARIABLES =     2
  NUMBER OF NORMAL VARIABLES =     1
  NUMBER OF NOMINAL VARIABLES =     1
  NUMBER OF ORDINAL VARIABLES =     1
  NUMBER OF CASES SAMPLED =       6
  PROPORTION OF RESPONSE PATTERNS WITH AT LEAST ONE  MISSING OBSERVATION =  0.500
  NUMBER OF QUADRATURE POINTS USED =      48
  MAXIMUM NUMBER OF ITERATIONS PERMITTED =   10
  CONVERGENCE TOLERANCE FOR THE RELATIVE LIKELIHOOD  VALUE =  0.00010000

  ***Observed Margins***


  Binary item       1

    CATEGORY 1  0.667
    CATEGORY 0  0.333
     MISSING    0.000


  Binary item       2

    CATEGORY 1  0.500
    CATEGORY 0  0.333
     MISSING    0.167


Normal Item       1

  MISSING    0.167


 Normal item       1

     MISSING    0.167


Nominal items

         Category

  ITEM   1

             1   0.3333333
             2   0.3333333
             3   0.3333333
        MISSING  0.0000000



Ordinal items

         Category

  ITEM   1

             1   0.3333333
             2   0.3333333
             3   0.1666667
        MISSING  0.1666667




***Initial Estimates of Item Parameters***

  ITEM       ALPHAB(0,I)    ALPHAB(1,I)

    1        0.000      1.000
    2        0.000      1.000
   ITEM       MEAN    LAMBDA1    PSI

    1        1.000      0.500      1.800
            CATEGORY   AC(0,I,J)   AC(1,I,J)

 ITEM    1
                2         0.000     1.000
                3         0.000     1.000
            CATEGORY   THR(I,J)   AO(1,I)

 ITEM    1
)");
}

TEST(ReportHeader, TwoFactorsCompleteDataAndEveryType) {
    TempFolder dir;
    RunResult r = runDeck(dir.path, "Two factors, every type\n4 1 1 1 1 16\n2\n2\n2 0 100 1 0.00001 0\n"
                                    "1 0.5 1 2\n0 1.5 2 1\n1 2.5 2 2\n0 3.5 1 1\n");
    ASSERT_EQ(r.status, 0) << r.errors;
    expectPrefix(r.report, titleBlock("     MAXIMUM LIKELIHOOD ESTIMATION OF A   2  FACTOR MODEL",
                                      "Filename: " + padded("Two factors, every type")) +
                               R"(  MODEL =    1
  NUMBER OF OBSERVED VARIABLES =     4
  NUMBER OF BINARY VARIABLES =     1
  NUMBER OF NORMAL VARIABLES =     1
  NUMBER OF NOMINAL VARIABLES =     1
  NUMBER OF ORDINAL VARIABLES =     1
  NUMBER OF CASES SAMPLED =       4
  PROPORTION OF RESPONSE PATTERNS WITH AT LEAST ONE  MISSING OBSERVATION =  0.000
  NUMBER OF QUADRATURE POINTS USED =      16
  MAXIMUM NUMBER OF ITERATIONS PERMITTED =  100
  CONVERGENCE TOLERANCE FOR THE RELATIVE LIKELIHOOD  VALUE =  0.00001000

  ***Observed Margins***


  Binary item       1

    CATEGORY 1  0.500
    CATEGORY 0  0.500
     MISSING    0.000


Normal Item       1

  MISSING    0.000


 Normal item       1

     MISSING    0.000


Nominal items

         Category

  ITEM   1

             1   0.5000000
             2   0.5000000
        MISSING  0.0000000



Ordinal items

         Category

  ITEM   1

             1   0.5000000
             2   0.5000000
        MISSING  0.0000000




***Initial Estimates of Item Parameters***

  ITEM       ALPHAB(0,I)    ALPHAB(1,I)    ALPHAB(2,I)

    1           0.000      1.000      1.500
  ITEM       MEAN    LAMBDA1    LAMBDA2    PSI

    1        2.000      0.500      0.400      1.800
            CATEGORY   AC(0,I,J)   AC(1,I,J)   AC(2,I,J)

 ITEM    1
                2         0.000     1.000     1.500
            CATEGORY   THR(I,J)   AO(1,I)   AO(2,I)

 ITEM    1
                1        -1.500     1.000     0.300
)");
}
