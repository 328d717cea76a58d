// The input stage: validation messages, margins, missingness weights, starting values and
// the handling of malformed decks.
#include "test_support.hpp"

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
        {"3 21 0 0 0 8", "", "", "1 0 10 0 0.001 0",
         "   ***ERROR***  THE NUMBER OF VARIABLES  21DOES NOT LIE BETWEEN 1 AND NV"},
        {"3 2 0 0 0 20", "", "", "1 0 10 0 0.001 0",
         "   ***ERROR***  THE NUMBER OF QUADRATURE POINTS IS NOT EQUAL TO 8, 16, 24, 32 OR 48 "},
        {"3 2 0 0 0 8", "", "", "3 0 10 0 0.001 0", "   ***ERROR*** NUMBER OF FACTORS DIFFERENTTHAN 1 OR 2"},
        {"3 2 0 0 0 8", "", "", "1 2 10 0 0.001 0",
         "   ***ERROR***  INPUT VALUES FOR PARAMETERSDIFFERENT THAN 0 OR 1"},
        {"3 2 0 0 0 8", "", "", "1 0 2001 0 0.001 0", "   ***ERROR***   NUMBER OF ITERATIONS BIGGERTHAN 2000"},
        {"3 0 0 2 0 8", "7 3", "", "1 0 10 0 0.001 0",
         "   ****ERROR**** THE VALUE OF C( 1) IS 7                 AND OUTSIDE THE RANGE 1 TO 6"},
        {"3 0 0 2 0 8", "3 12", "", "1 0 10 0 0.001 0",
         "   ****ERROR**** THE VALUE OF C( 2) IS *                 AND OUTSIDE THE RANGE 1 TO 6"},
        {"3 0 0 0 1 8", "", "1", "1 0 10 0 0.001 0",
         "   ****ERROR**** THE VALUE OF O( 1) IS 1                 AND OUTSIDE THE RANGE 1 TO 6"},
        // Checks beyond the classic list: a count of cases below 1, a negative item count.
        {"0 2 0 0 0 8", "", "", "1 0 10 0 0.001 0", "   ***ERROR***  THE NUMBER OF CASES     0 IS LESS THAN 1"},
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
        EXPECT_EQ(r.report.find("ERROR"), std::string::npos) << counts;
    }
    RunResult r = runDeck(dir.path, deck("2 1 0 0 0 8", "", "", "1 -1 5 0 0.001 0", "1\n0\n"), "0.25 0.75\n");
    EXPECT_NE(r.report.find("    1        0.250      0.750"), std::string::npos) << r.report;
}

TEST(DeckValidation, CategoriesOutsideTheItemAreRejected) {
    TempFolder dir;
    const std::string head = "4 1 0 1 1 8\n3\n2\n1 0 10 0 0.001 0\n";
    RunResult ok = runDeck(dir.path, "t\n" + head + "1 3 2\n0 1.9 1\n999 999.5 999\n2 2 2.7\n");
    EXPECT_EQ(ok.report.find("ERROR"), std::string::npos);
    RunResult bad = runDeck(dir.path, "t\n" + head + "1 3 2\n0 1 1\n1 4 1\n1 1 1\n");
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.report, "   ***ERROR***  CASE     3 VARIABLE  2 HAS AN INVALID CATEGORY\n");
    bad = runDeck(dir.path, "t\n" + head + "1 3 2\n0 1 0.5\n1 1 1\n1 1 1\n");
    EXPECT_EQ(bad.report, "   ***ERROR***  CASE     2 VARIABLE  3 HAS AN INVALID CATEGORY\n");
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
        {"Title only\n", "travik: LAT.INP line 2: the file ends after 0 of 6 values of the counts record"},
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
    EXPECT_EQ(windows.status, 0) << windows.errors;
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
    writeFile(dir.path / "lat.inp", deck("3 1 0 0 1 8", "", "3", "1 1 5 0 0.001 0", "1 2\n0 3\n1 1\n"));
    for (const auto& e : fs::directory_iterator(dir.path))
        if (e.path().filename() != "lat.inp" && e.path().filename() != "LAT3.INP") fs::remove(e.path());
    writeFile(dir.path / "LAT3.INP", "0.5 1\n0.5\n-0.5\n1\n");
    err.str("");
    EXPECT_EQ(travik::runInFolder(dir.path, err, nullptr), 2);
    EXPECT_EQ(err.str(), "travik: LAT3.INP line 3: the thresholds of ordinal item 1 must increase\n");
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
    RunResult r = runDeck(dir.path, deck("4 2 0 0 0 8", "", "", "1 0 5 0 0.001 0", "1 999.5\n2 1.9\n0 1\n1 0\n"));
    EXPECT_NE(r.report.find("  Binary item       1\n\n    CATEGORY 1  0.500\n    CATEGORY 0  0.500\n"
                            "     MISSING    0.000\n"),
              std::string::npos)
        << r.report;
    EXPECT_NE(r.report.find("  Binary item       2\n\n    CATEGORY 1  0.500\n    CATEGORY 0  0.250\n"
                            "     MISSING    0.250\n"),
              std::string::npos);
    EXPECT_NE(r.report.find("AT LEAST ONE  MISSING OBSERVATION =  0.250"), std::string::npos);
}
