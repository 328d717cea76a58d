// The input stage: validation messages, margins, missingness weights, starting values and
// the handling of malformed decks.
#include "test_support.hpp"
#include "travik/deck.hpp"
#include "travik/deck_checks.hpp"
#include "travik/simulated_data.hpp"

#include <cmath>

using namespace travik_test;

namespace {

// A deck with the given counts/controls records and rows.
std::string deck(const std::string& counts, const std::string& nominal, const std::string& ordinal,
                 const std::string& control, const std::string& rows) {
    return "Test deck\n" + counts + "\n" + nominal + "\n" + ordinal + "\n" + control + "\n" + rows;
}

} // namespace

TEST(DeckValidation, EachCheckWritesItsExactLineAndStops) {
    TempFolder dir;
    struct Case {
        std::string counts, nominal, ordinal, control, line;
    };
    const Case cases[] = {
        {"3 0 0 0 0 8", "", "", "1 0 10 0 0.001 0",
         "   ***ERROR***  THE NUMBER OF VARIABLES   0DOES NOT LIE BETWEEN 1 AND NV"},
        {"3 2 0 0 0 20", "", "", "1 0 10 0 0.001 0",
         "   ***ERROR***  THE NUMBER OF QUADRATURE POINTS IS NOT EQUAL TO 8, 16, 24, 32 OR 48 "},
        {"3 2 0 0 0 8", "", "", "3 0 10 0 0.001 0",
         "   ***ERROR*** NUMBER OF FACTORS DIFFERENTTHAN 1 OR 2"},
        {"3 2 0 0 0 8", "", "", "1 2 10 0 0.001 0",
         "   ***ERROR***  INPUT VALUES FOR PARAMETERSDIFFERENT THAN 0 OR 1"},
        {"3 2 0 0 0 8", "", "", "1 0 2001 0 0.001 0",
         "   ***ERROR***   NUMBER OF ITERATIONS BIGGERTHAN 2000"},
        // An item takes 2 to 50 categories.
        {"3 0 0 2 0 8", "51 3", "", "1 0 10 0 0.001 0",
         "   ****ERROR**** THE VALUE OF C( 1) IS 51                 AND OUTSIDE THE RANGE 2 TO 50"},
        {"3 0 0 2 0 8", "3 1", "", "1 0 10 0 0.001 0",
         "   ****ERROR**** THE VALUE OF C( 2) IS 1                 AND OUTSIDE THE RANGE 2 TO 50"},
        {"3 0 0 0 1 8", "", "1", "1 0 10 0 0.001 0",
         "   ****ERROR**** THE VALUE OF O( 1) IS 1                 AND OUTSIDE THE RANGE 2 TO 50"},
        {"3 0 0 0 1 8", "", "120", "1 0 10 0 0.001 0",
         "   ****ERROR**** THE VALUE OF O( 1) IS 120                 AND OUTSIDE THE RANGE 2 TO "
         "50"},
        // Checks beyond the classic list: a count of cases below 1, a negative item count.
        {"0 2 0 0 0 8", "", "", "1 0 10 0 0.001 0",
         "   ***ERROR***  THE NUMBER OF CASES     0 IS LESS THAN 1"},
        {"3 3 -1 0 0 8", "", "", "1 0 10 0 0.001 0",
         "   ***ERROR***  THE NUMBER OF NORMAL VARIABLES  -1 IS NEGATIVE"},
    };
    for (const Case& c : cases) {
        RunResult r = runDeck(dir.path, deck(c.counts, c.nominal, c.ordinal, c.control, ""));
        EXPECT_EQ(r.status, 1) << c.line;
        EXPECT_EQ(r.report, c.line + "\n");
        EXPECT_EQ(readFile(dir.path / "LI8.OUT"), "");
        EXPECT_FALSE(fs::exists(dir.path / "fort.2"));
    }
    // The boundaries that pass: NQ 48 and 12, MAXIT 2000, INIT -1 (reads LAT3.INP).
    for (const char* counts : {"2 1 0 0 0 48", "2 1 0 0 0 12"}) {
        RunResult r = runDeck(dir.path, deck(counts, "", "", "1 0 2000 0 0.001 0", "1\n0\n"));
        EXPECT_EQ(r.report.find("***ERROR***"), std::string::npos) << counts;
    }
    RunResult r =
        runDeck(dir.path, deck("2 1 0 0 0 8", "", "", "1 -1 5 0 0.001 0", "1\n0\n"), "0.25 0.75\n");
    EXPECT_NE(r.report.find("    1        0.250      0.750"), std::string::npos) << r.report;
}

TEST(DeckValidation, CategoriesOutsideTheItemAreRejected) {
    TempFolder dir;
    const std::string head = "4 1 0 1 1 8\n3\n2\n1 0 10 0 0.001 0\n";
    RunResult ok = runDeck(dir.path, "t\n" + head + "1 3 2\n0 1.9 1\n999 999.5 999\n2 2 2.7\n");
    EXPECT_EQ(ok.report.find("***ERROR***"), std::string::npos);
    RunResult bad = runDeck(dir.path, "t\n" + head + "1 3 2\n0 1 1\n1 4 1\n1 1 1\n");
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.report, "   ***ERROR***  CASE     3 VARIABLE  2 HAS AN INVALID CATEGORY\n");
    bad = runDeck(dir.path, "t\n" + head + "1 3 2\n0 1 0.5\n1 1 1\n1 1 1\n");
    EXPECT_EQ(bad.report, "   ***ERROR***  CASE     2 VARIABLE  3 HAS AN INVALID CATEGORY\n");
}

TEST(DeckValidation, ItemsOfManyCategoriesRunAndReportEveryCategory) {
    // Nominal and ordinal items of 7, 11 and 20 categories: the run converges, and every
    // category has its row in the observed margins (shares summing to one), the estimates with
    // finite standard errors (widened columns past 9) and the scores of every case.
    TempFolder dir;
    for (int categories : {7, 11, 20}) {
        const travik::Parameters truth =
            travik::simulated::truthWithCategories(1, {categories}, {categories}, 1);
        const travik::ModelState m = travik::simulated::simulate(truth, 1, 24, 1500, 0.0, 5);
        const RunResult r =
            runDeck(dir.path, travik::simulated::deckText(m, "1 0 500 0 0.00000001 1"));
        ASSERT_EQ(r.status, 0) << r.errors;
        const std::vector<std::string> report = lines(r.report);
        auto blockFrom = [&](const std::string& heading) {
            auto at = std::find(report.begin(), report.end(), heading);
            EXPECT_NE(at, report.end()) << heading;
            return at;
        };
        // Observed margins: rows "             c   share" for c = 1..C, then MISSING.
        for (const char* heading : {"Nominal items", "Ordinal items"}) {
            auto at = blockFrom(heading) + 6;
            double sum = 0;
            for (int c = 1; c <= categories; ++c, ++at) {
                std::istringstream row(*at);
                int number = 0;
                double share = -1;
                row >> number >> share;
                EXPECT_EQ(number, c) << heading << ": " << *at;
                sum += share;
            }
            EXPECT_NE(at->find("MISSING"), std::string::npos) << *at;
            EXPECT_NEAR(sum, 1.0, 1e-6 * categories) << heading;
        }
        // Estimates: item 1, category c, the estimate and its standard error.
        auto estimates = [&](auto at, int first, int last, int columns) {
            for (int c = first; c <= last; ++c, ++at) {
                ASSERT_EQ(at->rfind("   1    " + std::to_string(c) + " ", 0), 0u) << *at;
                std::istringstream row(*at);
                int item = 0, number = 0;
                row >> item >> number;
                for (int v = 0; v < columns; ++v) {
                    double value = NAN;
                    row >> value;
                    EXPECT_TRUE(std::isfinite(value)) << *at;
                }
            }
        };
        estimates(blockFrom("Polytomous Items") + 3, 2, categories, 5);
        estimates(blockFrom("Ordinal Items") + 3, 1, categories - 1, 2);
        const std::string scoring = "***Scoring Response Patterns***";
        const auto first = blockFrom(scoring) + 5;
        EXPECT_EQ(std::count_if(first, first + 1500,
                                [](const std::string& line) { return line.size() > 30; }),
                  1500);
    }
}

TEST(DeckInput, MalformedDecksGetAClearMessageAndStatus2) {
    TempFolder dir;
    const std::string good = deck("2 2 0 0 0 8", "", "", "1 0 5 0 0.001 0", "1 0\n0 1\n");
    struct Case {
        std::string deck, message;
    };
    const Case cases[] = {
        {deck("2 2 0 0 0 eight", "", "", "1 0 5 0 0.001 0", "1 0\n0 1\n"),
         "travik: LAT.INP line 2: expected an integer, found \"eight\""},
        {deck("2 2 0 0 0 8", "", "", "1 0 5 0 0.001 0", "1 0\n0 x\n"),
         "travik: LAT.INP line 7: expected a number, found \"x\""},
        {deck("3 2 0 0 0 8", "", "", "1 0 5 0 0.001 0", "1 0\n0 1\n"),
         "travik: LAT.INP line 8: the file ends after 0 of 2 values of a case"},
        {"Title only\n",
         "travik: LAT.INP line 2: the file ends after 0 of 6 values of the counts record"},
    };
    for (const Case& c : cases) {
        RunResult r = runDeck(dir.path, c.deck);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.errors, c.message + "\n");
    }
    // Windows line ends and a byte-order mark read like plain lines.
    std::string crlf = "\xEF\xBB\xBF";
    for (char ch : good) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    RunResult plain = runDeck(dir.path, good);
    RunResult windows = runDeck(dir.path, crlf);
    EXPECT_NE(windows.status, 2) << windows.errors; // two cases have no maximum: status 1 is fine
    EXPECT_EQ(windows.status, plain.status);
    EXPECT_EQ(windows.report, plain.report);
}

TEST(DeckInput, MissingFilesAndExistingOutputs) {
    TempFolder dir;
    std::ostringstream err;
    EXPECT_EQ(travik::runInFolder(dir.path, err, nullptr), 2);
    EXPECT_NE(err.str().find("no input deck LAT.INP"), std::string::npos) << err.str();
    EXPECT_TRUE(fs::is_empty(dir.path));

    // The deck is found in any letter case.
    const std::string good = deck("2 2 0 0 0 8", "", "", "1 1 5 0 0.001 0", "1 0\n0 1\n");
    writeFile(dir.path / "lat.inp", good);
    err.str("");
    EXPECT_EQ(travik::runInFolder(dir.path, err, nullptr), 2);
    EXPECT_NE(err.str().find("there is no LAT3.INP"), std::string::npos) << err.str();

    // Starting thresholds must increase.
    writeFile(dir.path / "lat.inp",
              deck("3 1 0 0 1 8", "", "3", "1 1 5 0 0.001 0", "1 2\n0 3\n1 1\n"));
    for (const auto& e : fs::directory_iterator(dir.path))
        if (e.path().filename() != "lat.inp" && e.path().filename() != "LAT3.INP")
            fs::remove(e.path());
    writeFile(dir.path / "LAT3.INP", "0.5 1\n0.5\n-0.5\n1\n");
    err.str("");
    EXPECT_EQ(travik::runInFolder(dir.path, err, nullptr), 2);
    EXPECT_EQ(err.str(),
              "travik: LAT3.INP line 3: the thresholds of ordinal item 1 must increase\n");
    writeFile(dir.path / "lat.inp", good);
    fs::remove(dir.path / "LAT3.INP");

    // An output file already present stops the run before anything is written or replaced.
    for (const auto& e : fs::directory_iterator(dir.path))
        if (e.path().filename() != "lat.inp") fs::remove(e.path());
    writeFile(dir.path / "Matrix.Out", "keep");
    err.str("");
    EXPECT_EQ(travik::runInFolder(dir.path, err, nullptr), 2);
    EXPECT_NE(err.str().find("MATRIX.OUT already exists in"), std::string::npos) << err.str();
    EXPECT_FALSE(fs::exists(dir.path / "LI7.OUT"));
    EXPECT_EQ(readFile(dir.path / "Matrix.Out"), "keep");
}

TEST(DeckMargins, SharesWeightsAndTruncation) {
    TempFolder dir;
    // 999.5 is missing, 2 in a binary column counts as category 0, 1.9 counts as 1.
    RunResult r = runDeck(
        dir.path, deck("4 2 0 0 0 8", "", "", "1 0 5 0 0.001 0", "1 999.5\n2 1.9\n0 1\n1 0\n"));
    EXPECT_NE(
        r.report.find("  Binary item       1\n\n    CATEGORY 1  0.500\n    CATEGORY 0  0.500\n"
                      "     MISSING    0.000\n"),
        std::string::npos)
        << r.report;
    EXPECT_NE(
        r.report.find("  Binary item       2\n\n    CATEGORY 1  0.500\n    CATEGORY 0  0.250\n"
                      "     MISSING    0.250\n"),
        std::string::npos);
    EXPECT_NE(r.report.find("AT LEAST ONE  MISSING OBSERVATION =  0.250"), std::string::npos);
}

TEST(DeckValidation, ItemsWithoutDataAndEmptyCategoriesAreRejected) {
    TempFolder dir;
    struct Case {
        std::string counts, nominal, ordinal, rows, line;
    };
    const Case cases[] = {
        // An ordinal item whose middle categories nobody chose.
        {"4 1 0 0 1 8", "", "4", "1 1\n0 4\n1 4\n0 1\n",
         "   ***ERROR***  ORDINAL ITEM  1 (VARIABLE  2) HAS NO CASE IN CATEGORY 2"},
        {"4 1 0 1 0 8", "3", "", "1 1\n0 2\n1 2\n0 1\n",
         "   ***ERROR***  NOMINAL ITEM  1 (VARIABLE  2) HAS NO CASE IN CATEGORY 3"},
        {"3 1 2 0 0 8", "", "", "1 2.5 999\n0 1.5 999\n1 0.5 999.2\n",
         "   ***ERROR***  NORMAL ITEM  2 (VARIABLE  3) HAS NO OBSERVED VALUE"},
        // Binary values other than 0 and 1 are not observations.
        {"3 2 0 0 0 8", "", "", "1 2\n0 999\n1 2\n",
         "   ***ERROR***  BINARY ITEM  2 (VARIABLE  2) HAS NO OBSERVED VALUE"},
        // One value only: a binary item always 1 (1.9 counts as 1), a normal item without
        // variance, a normal item observed once. Their likelihood has no maximum.
        {"3 2 0 0 0 8", "", "", "1 1\n0 1.9\n1 1\n",
         "   ***ERROR***  BINARY ITEM  2 (VARIABLE  2) TAKES ONE VALUE ONLY (EVERY OBSERVED VALUE "
         "IS 1): ITS "
         "PARAMETERS HAVE NO MAXIMUM"},
        {"3 1 1 0 0 8", "", "", "1 5\n0 5\n1 5\n",
         "   ***ERROR***  NORMAL ITEM  1 (VARIABLE  2) TAKES ONE VALUE ONLY (EVERY OBSERVED VALUE "
         "IS 5): ITS "
         "PARAMETERS HAVE NO MAXIMUM"},
        {"3 1 1 0 0 8", "", "", "1 999\n0 2.25\n1 999\n",
         "   ***ERROR***  NORMAL ITEM  1 (VARIABLE  2) TAKES ONE VALUE ONLY (ONE OBSERVED VALUE, "
         "2.25): ITS "
         "PARAMETERS HAVE NO MAXIMUM"},
    };
    for (const Case& c : cases) {
        RunResult r =
            runDeck(dir.path, deck(c.counts, c.nominal, c.ordinal, "1 0 50 0 0.001 0", c.rows));
        EXPECT_EQ(r.status, 1) << c.line;
        EXPECT_EQ(r.report, c.line + "\n");
        EXPECT_EQ(r.errors, "travik: " + c.line.substr(3) + "\n");
    }
}

TEST(DeckInput, CasesWithNothingObservedAreLeftOut) {
    TempFolder dir;
    const std::string rows = "1 0.5\n0 1.5\n999 999\n1 2.5\n2 999.5\n0 0.7\n1 1.9\n0 1.1\n";
    RunResult r = runDeck(dir.path, deck("8 1 1 0 0 8", "", "", "1 0 500 0 0.0001 0", rows));
    // (Six cases say little about the model: whether it has a maximum is not the point here.)
    EXPECT_NE(r.status, 2) << r.errors;
    EXPECT_NE(r.report.find("  NUMBER OF CASES SAMPLED =       6\n"), std::string::npos);
    EXPECT_NE(
        r.report.find(
            " NOTE: 2 CASES WITH NO OBSERVED VALUE WERE LEFT OUT OF THE FIT (CASES 3, 5); THE 6 "
            "CASES FITTED ARE THE NCASE OF THIS REPORT\n"),
        std::string::npos)
        << r.report;
    EXPECT_EQ(r.errors.find("case"), std::string::npos) << r.errors; // no warning about the cases

    travik::ModelState m;
    fixedio::FreeReader in("travik", "LAT.INP",
                           deck("8 1 1 0 0 8", "", "", "1 0 500 0 0.0001 0", rows));
    ASSERT_FALSE(travik::readDeck(in, m));
    ASSERT_TRUE(travik::leaveOutEmptyCases(m));
    EXPECT_EQ(m.caseNumbers, (std::vector<int>{1, 2, 4, 6, 7, 8}));
    EXPECT_EQ(m.x(2, 1), 2.5);
    EXPECT_EQ(m.x.rows, 6);
}

TEST(DeckInput, MiscountedDecksGiveWarningsAndTheRunGoesOn) {
    TempFolder dir;
    const std::string control = "1 0 500 0 0.0001 0";
    const std::string rows = "1 0.5\n0 1.5\n1 2.5\n0 0.7\n1 1.9\n0 1.1\n";
    // NCASE smaller than the data.
    RunResult r = runDeck(dir.path, deck("4 1 1 0 0 8", "", "", control, rows + "\n"));
    // (Four cases say little about the model: other warnings may follow these.)
    EXPECT_NE(r.status, 2) << r.errors;
    EXPECT_TRUE(r.errors.starts_with(
        "travik: warning: LAT.INP lines 10 to 11: data remain after the last of the 4 "
        "cases and are not read: is NCASE right?\n"))
        << r.errors;
    EXPECT_NE(r.report.find(
                  "\n\n***Notes and Warnings***\n\n *** WARNING *** LAT.INP LINES 10 TO 11: DATA "
                  "REMAIN AFTER THE LAST OF THE 4 CASES AND ARE NOT READ: IS NCASE RIGHT?\n"),
              std::string::npos)
        << r.report;

    // Two values a line where the deck has three items: every case runs on.
    r = runDeck(dir.path, deck("4 2 1 0 0 8", "", "", control,
                               "1 0 0.5\n0 1\n1.5 1\n1 2.5\n0 0 0.7\n1 0 1.9\n"));
    EXPECT_NE(
        r.errors.find(
            "travik: warning: LAT.INP lines 7 to 8: the values of case 2 run on to the next line "
            "while those of case 1 fit on one line (2 cases like this): are the numbers of items "
            "right?\n"),
        std::string::npos)
        << r.errors;
    // More numbers on a case line than the deck has items.
    r = runDeck(dir.path, deck("6 1 1 0 0 8", "", "", control,
                               "1 0.5\n0 1.5 3\n1 2.5\n0 0.7 4\n1 1.9\n0 1.1\n"));
    EXPECT_NE(
        r.errors.find(
            "travik: warning: LAT.INP line 7: case 2 has more numbers than the 2 items of the deck "
            "(2 cases like this)"),
        std::string::npos)
        << r.errors;
    // Starting values of a two-factor model for a one-factor deck, and a spare record.
    r = runDeck(dir.path, deck("6 1 1 0 0 8", "", "", "1 1 500 0 0.0001 0", rows),
                "0.1 1 1.5\n1 0.5 0.4 0.8\n7\n");
    EXPECT_EQ(
        withoutConvergedSummary(r.errors),
        "travik: warning: LAT3.INP line 1: more values than the model has (2 not read on the "
        "records' lines): do the starting values belong to this model (NF = 1)?\n"
        "travik: warning: LAT3.INP line 3: values remain after the last parameter of the model and "
        "are not read: do the starting values belong to this model?\n");
    EXPECT_NE(r.report.find("\n *** WARNING *** LAT3.INP LINE 1: MORE VALUES"), std::string::npos);
}

TEST(DeckInput, StartingVariancesMustBePositiveAndNumbersFinite) {
    TempFolder dir;
    const std::string lat =
        deck("3 1 1 0 0 8", "", "", "1 1 50 0 0.001 0", "1 0.5\n0 1.5\n1 2.5\n");
    struct Case {
        std::string deck, start, message;
    };
    const Case cases[] = {
        {lat, "0 1\n0.2 0.5 0\n",
         "travik: LAT3.INP line 2: the residual variance PSI of normal item 1 must be positive, "
         "found 0"},
        {lat, "0 1\n0.2 0.5 -1.5\n",
         "travik: LAT3.INP line 2: the residual variance PSI of normal item 1 must be positive, "
         "found -1.5"},
        {lat, "0 1\n0.2 0.5 nan\n", "travik: LAT3.INP line 2: expected a number, found \"nan\""},
        {lat, "0 1\n0.2 1e999 1\n",
         "travik: LAT3.INP line 2: number out of range, found \"1e999\""},
        {deck("3 1 1 0 0 8", "", "", "1 0 50 0 0.001 0", "1 0.5\n0 inf\n1 2.5\n"), "",
         "travik: LAT.INP line 7: expected a number, found \"inf\""},
    };
    for (const Case& c : cases) {
        RunResult r = runDeck(dir.path, c.deck, c.start);
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_EQ(r.errors, c.message + "\n");
    }
}

TEST(DeckInput, ARejectedDeckSaysWhyOnTheTerminal) {
    TempFolder dir;
    // A CSV file with a header row given as the deck: its numbers fill the counts record.
    RunResult r = runDeck(dir.path, "x1,x2,x3\n1,0,1\n0,1,1\n1,1,0\n0,0,1\n1,1,1\n0,1,0\n1,0,0\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errors, "travik: ***ERROR***  THE NUMBER OF QUADRATURE POINTS IS NOT EQUAL TO 8, "
                        "16, 24, 32 OR 48\n");
}
