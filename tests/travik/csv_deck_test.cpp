// Decks built from CSV tables: the text a user would write by hand, the same report as the
// equivalent hand-written deck, and a message naming line and column for every bad table.
#include "csvio/categories.hpp"
#include "csvio/read.hpp"
#include "fixedio/freeread.hpp"
#include "test_support.hpp"
#include "travik/csv_deck.hpp"

#include <sstream>

using namespace travik_test;

namespace {

std::string errorOf(const std::string& csv, const travik::CsvModelOptions& options) {
    try {
        travik::deckFromCsv(csvio::readCsv("travik", "data.csv", csv), options);
    } catch (const latent::InputError& e) {
        return e.what();
    }
    return "no error";
}

travik::CsvModelOptions twoBinary() {
    travik::CsvModelOptions o;
    o.binary = {"a", "b"};
    return o;
}

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

} // namespace

TEST(CsvDeck, SmallMixedTableGivesTheDeckAUserWouldWrite) {
    const csvio::Table table = csvio::readCsv("travik", "folder/small.csv",
                                              "id,q1,q2,\"height, m\",region,score,unused\n"
                                              "A1,1,0,1.75,north,3,\"x, y\"\n"
                                              "A2,0,1.0, 2.5 ,east,1,\n"
                                              "A3,NA,0,,south,5,z\n"
                                              "A4,1,,-0.125,east,3.0,\n"
                                              "A5,0,1,1e-3,NA,1,\n");
    travik::CsvModelOptions o;
    o.binary = {"q2", "q1"};
    o.normal = {"height, m"};
    o.nominal = {"region"};
    o.ordinal = {"score"};
    o.id = "id";
    const travik::CsvDeck d = travik::deckFromCsv(table, o);
    EXPECT_EQ(d.deck, "Data from small.csv\n"
                      "5 2 1 1 1 48\n"
                      "3\n"
                      "3\n"
                      "1 0 500 0 1e-08 0\n"
                      "0 1 1.75 2 2\n"
                      "1 0 2.5 1 1\n"
                      "0 999 999 3 3\n"
                      "999 1 -0.125 1 2\n"
                      "1 0 0.001 999 1\n");
    ASSERT_EQ(d.items.size(), 5u);
    EXPECT_EQ(d.items[0].name, "q2");
    EXPECT_EQ(d.items[1].numberInType, 2);
    EXPECT_EQ(d.items[3].categories, (std::vector<std::string>{"east", "north", "south"}));
    EXPECT_EQ(d.items[4].categories, (std::vector<std::string>{"1", "3", "5"}));
    EXPECT_EQ(d.caseIds, (std::vector<std::string>{"A1", "A2", "A3", "A4", "A5"}));
    EXPECT_EQ(d.caseLines, (std::vector<int>{2, 3, 4, 5, 6}));
    EXPECT_EQ(d.legend,
              (std::vector<std::string>{
                  "  ***Items from small.csv***", "", "  ITEM  TYPE     NUMBER  NAME",
                  "     1  BINARY        1  q2", "     2  BINARY        2  q1",
                  "     3  NORMAL        1  height, m", "     4  NOMINAL       1  region",
                  "                         1 = east", "                         2 = north",
                  "                         3 = south", "     5  ORDINAL       1  score",
                  "                         1 = 1", "                         2 = 3",
                  "                         3 = 5", "", "  ID COLUMN: id",
                  "  CASES: 5 (CSV LINES 2 TO 6)", "  MISSING VALUES: (EMPTY CELL), NA, ."}));
}

TEST(CsvDeck, ControlValuesComeFromTheOptions) {
    travik::CsvModelOptions o = twoBinary();
    o.factors = 2;
    o.quadraturePoints = 24;
    o.maxCycles = 1200;
    o.tolerance = 0.5e-6;
    o.scores = true;
    o.saveEstimates = true;
    o.missing = {"-9"};
    const travik::CsvDeck d =
        travik::deckFromCsv(csvio::readCsv("travik", "t.csv", "a,b\n1,-9\n0,0\n"), o);
    EXPECT_EQ(d.deck, "Data from t.csv\n2 2 0 0 0 24\n\n\n2 0 1200 1 5e-07 1\n1 999\n0 0\n");
    EXPECT_TRUE(d.caseIds.empty());
}

// The example deck of mixed items, rewritten as a CSV table the way such data arrive: text
// categories, ordinal values that sort differently as text, missing cells as NA, empty or
// ".", an ID column, and a note column with commas and line breaks that no item uses.
TEST(CsvDeck, MixedExampleFromCsvGivesTheSameReportAsItsDeck) {
    const std::vector<std::string> deck =
        lines(readFile(fs::path(TRAVIK_EXAMPLES_DIR) / "mixed.inp"));
    ASSERT_GT(deck.size(), 6u);
    ASSERT_EQ(deck[1], "600 3 3 2 2 24");
    const std::vector<std::vector<std::string>> nominalText = {{"Bravo", "alpha", "charlie"},
                                                               {"x", "y", "z"}};
    const std::vector<std::vector<std::string>> ordinalText = {{"-1", "0", "2.5", "10"},
                                                               {"1", "2", "3", "4"}};
    const char* const missingCells[] = {"NA", "", " . "};
    std::string csv = "person,b1,b2,b3,n1,n2,n3,c1,c2,o1,o2,note\n";
    std::vector<int> expectedLines;
    int line = 2, missing = 0;
    for (std::size_t r = 5; r < deck.size(); ++r) {
        const std::vector<std::string> v = words(deck[r]);
        ASSERT_EQ(v.size(), 10u) << deck[r];
        expectedLines.push_back(line);
        csv += "P" + std::to_string(r - 4);
        for (std::size_t i = 0; i < v.size(); ++i) {
            csv += ",";
            if (v[i] == "999") {
                csv += missingCells[missing++ % 3];
                continue;
            }
            const int category = i >= 6 ? std::stoi(v[i]) - 1 : 0;
            if (i == 6 || i == 7)
                csv += nominalText[i - 6][category];
            else if (i == 8 || i == 9)
                csv += ordinalText[i - 8][category];
            else
                csv += v[i];
        }
        const bool note = r % 50 == 0;
        csv += note ? ",\"a note, over\ntwo lines\"\n" : ",\n";
        line += note ? 2 : 1;
    }
    travik::CsvModelOptions o;
    o.binary = {"b1", "b2", "b3"};
    o.normal = {"n1", "n2", "n3"};
    o.nominal = {"c1", "c2"};
    o.ordinal = {"o1", "o2"};
    o.id = "person";
    o.quadraturePoints = 24;
    o.tolerance = 0.0000001;
    o.saveEstimates = true;
    o.scores = true;
    const travik::CsvDeck fromCsv =
        travik::deckFromCsv(csvio::readCsv("travik", "mixed.csv", csv), o);
    EXPECT_EQ(fromCsv.items[6].categories, nominalText[0]);
    EXPECT_EQ(fromCsv.items[8].categories, ordinalText[0]);
    EXPECT_EQ(fromCsv.caseLines, expectedLines);
    EXPECT_EQ(fromCsv.caseIds.back(), "P600");

    std::string handWritten = "Data from mixed.csv\n";
    for (std::size_t r = 1; r < deck.size(); ++r) handWritten += deck[r] + "\n";
    TempFolder hand, generated;
    const RunResult expected = runDeck(hand.path, handWritten);
    const RunResult actual = runDeck(generated.path, fromCsv.deck);
    ASSERT_EQ(expected.status, 0) << expected.errors;
    ASSERT_EQ(actual.status, 0) << actual.errors;
    EXPECT_GT(expected.report.size(), 10000u);
    EXPECT_EQ(actual.report, expected.report);
    EXPECT_EQ(readFile(generated.path / "LI8.OUT"), readFile(hand.path / "LI8.OUT"));
    EXPECT_EQ(readFile(generated.path / "MATRIX.OUT"), readFile(hand.path / "MATRIX.OUT"));
}

TEST(CsvDeck, ColumnsMustBeKnownAndNamedOnce) {
    const std::string csv = "id,a,b\n1,0,1\n";
    travik::CsvModelOptions o = twoBinary();
    o.nominal = {"c"};
    EXPECT_EQ(errorOf(csv, o), "travik: data.csv line 1: no column named \"c\" (given as a "
                               "nominal item); the header has: id, a, b");
    o.nominal = {"a"};
    EXPECT_EQ(errorOf(csv, o), "travik: data.csv line 1, column 2 (\"a\"): the column is named "
                               "twice, as a binary item and as a nominal item");
    o = twoBinary();
    o.id = "b";
    EXPECT_EQ(errorOf(csv, o), "travik: data.csv line 1, column 3 (\"b\"): the column is named "
                               "twice, as a binary item and as the ID column");
    EXPECT_EQ(errorOf(csv, travik::CsvModelOptions{}),
              "travik: data.csv: no items: name at least one column as a binary, normal, "
              "nominal or ordinal item");
    EXPECT_EQ(errorOf("a,b\n", twoBinary()),
              "travik: data.csv line 1: no data rows below the header row");
}

TEST(CsvDeck, ValuesTheirItemTypeDoesNotTakeNameLineAndColumn) {
    EXPECT_EQ(errorOf("a,b\n0,1\n1,2\n", twoBinary()),
              "travik: data.csv line 3, column 2 (\"b\"): a binary item takes 0 or 1, found \"2\" "
              "(missing values: an empty cell, \"NA\", \".\")");
    travik::CsvModelOptions o;
    o.normal = {"x"};
    for (const char* bad : {"inf", "0x10", "1,5", "abc"})
        EXPECT_NE(errorOf("x\n1.5\n\"" + std::string(bad) + "\"\n", o)
                      .find("line 3, column 1 (\"x\"): expected a number for a normal item"),
                  std::string::npos)
            << bad;
    EXPECT_EQ(errorOf("x\n1.5\n999.4\n", o),
              "travik: data.csv line 3, column 1 (\"x\"): the value \"999.4\" would read as the "
              "deck's missing code 999 (every value from 999 to below 1000 does); rescale the "
              "item, for example divide it by 10");
    EXPECT_EQ(errorOf("x\n-999.4\n1000\n", o), "no error");
    o = {};
    o.ordinal = {"x"};
    EXPECT_NE(errorOf("x\n1\n2\nhigh\n", o)
                  .find("line 4, column 1 (\"x\"): expected a number for an ordinal item"),
              std::string::npos);
}

TEST(CsvDeck, CategoryCountsOutsideTheLimitsNameTheColumn) {
    travik::CsvModelOptions o;
    o.nominal = {"c"};
    std::string wide = "id,c\n";
    for (int v = 1; v <= 51; ++v) wide += std::to_string(v) + ",v" + std::to_string(v) + "\n";
    EXPECT_NE(errorOf(wide, o).find("travik: data.csv line 1, column 2 (\"c\"): the nominal item "
                                    "has 51 distinct values (\"v1\", \"v10\", "),
              std::string::npos);
    EXPECT_NE(errorOf(wide, o).find("; a nominal item takes 2 to 50 categories"),
              std::string::npos);
    o = {};
    o.ordinal = {"c"};
    EXPECT_EQ(errorOf("id,c\n1,2\n2,2.0\n3,NA\n", o),
              "travik: data.csv line 1, column 2 (\"c\"): the ordinal item has 1 distinct value "
              "(\"2\"); an ordinal item takes 2 to 50 categories");
}

// Levels in the user's order, numeric levels with gaps, and the checks on them.
TEST(CsvDeck, LevelsOrderTextCategoriesAndGapsKeepTheirLabels) {
    travik::CsvModelOptions o;
    o.ordinal = {"freq", "score"};
    o.levels = {{"freq", {"never", "rarely", "sometimes", "often", "always"}}};
    const std::string csv = "freq,score\nsometimes,5\nnever,1\nalways,2\n always ,5\nNA,1\n";
    const travik::CsvDeck d = travik::deckFromCsv(csvio::readCsv("travik", "d.csv", csv), o);
    EXPECT_EQ(d.items[0].categories,
              (std::vector<std::string>{"never", "rarely", "sometimes", "often", "always"}));
    EXPECT_EQ(d.items[1].categories, (std::vector<std::string>{"1", "2", "5"}));
    EXPECT_NE(d.deck.find("\n5 3\n"), std::string::npos) << d.deck; // categories per item
    EXPECT_NE(d.deck.find("\n3 3\n1 1\n5 2\n5 3\n999 1\n"), std::string::npos) << d.deck;
    bool gapLegend = false;
    for (const std::string& line : d.legend) gapLegend |= line.find("3 = 5") != std::string::npos;
    EXPECT_TRUE(gapLegend);

    EXPECT_NE(errorOf("freq,score\nsometimes,1\nseldom,2\n", o)
                  .find("line 3, column 1 (\"freq\"): the value \"seldom\" is none of the levels "
                        "given with --levels"),
              std::string::npos);
    o.levels = {{"score", {"low", "high"}}, {"other", {"a", "b"}}};
    EXPECT_NE(errorOf("freq,score,other\n1,low,a\n2,high,b\n", o)
                  .find("--levels names the column \"other\", which is not a nominal or ordinal "
                        "item"),
              std::string::npos);
    EXPECT_NE(csvio::parseLevelOrder("q=a,,b").fault.find("an empty label"), std::string::npos);
    EXPECT_NE(csvio::parseLevelOrder("q=a,b,a").fault.find("given twice"), std::string::npos);
    EXPECT_NE(csvio::parseLevelOrder("a,b").fault.find("expected COLUMN="), std::string::npos);
    EXPECT_EQ(csvio::parseLevelOrder(" q = x , y ").order.labels,
              (std::vector<std::string>{"x", "y"}));
}

// IDs are kept byte for byte inside quotes; empty, missing and repeated ones name their lines.
TEST(CsvDeck, CaseIdsAreCheckedAndKeptAsWritten) {
    travik::CsvModelOptions o = twoBinary();
    o.id = "id";
    const auto ids = [&](const std::string& csv) {
        return travik::deckFromCsv(csvio::readCsv("travik", "d.csv", csv), o).caseIds;
    };
    EXPECT_EQ(ids("id,a,b\n  A 1 ,1,0\n\" 007 \",0,1\n"),
              (std::vector<std::string>{"A 1", " 007 "}));
    EXPECT_EQ(errorOf("id,a,b\nx,1,0\ny,0,1\nx,1,1\ny,0,0\nx,1,1\n", o),
              "travik: data.csv line 4, column 1 (\"id\"): the identifier \"x\" is on lines 2, "
              "4, 6 (and 1 more record repeat an earlier identifier); identifiers must be unique, "
              "or give --allow-duplicate-ids");
    EXPECT_EQ(errorOf("id,a,b\nx,1,0\n ,0,1\nNA,1,1\n", o),
              "travik: data.csv line 3, column 1 (\"id\"): 2 cases have no identifier (empty or a "
              "missing token) on lines 3, 4; every case needs one");
    o.allowDuplicateIds = true;
    EXPECT_EQ(ids("id,a,b\nx,1,0\nx,0,1\n"), (std::vector<std::string>{"x", "x"}));
}

// Semicolon and tab files are read when the header shows them, and the legend says so.
TEST(CsvDeck, DelimitersAreDetectedFromTheHeaderAndNamed) {
    const travik::CsvModelOptions o = twoBinary();
    const auto legendOf = [&](const std::string& csv) {
        const csvio::Table t = csvio::readCsv("travik", "d.csv", csv, 0);
        const travik::CsvDeck d = travik::deckFromCsv(t, o);
        EXPECT_NE(d.deck.find("\n1 0\n0 1\n"), std::string::npos) << d.deck;
        std::string all;
        for (const std::string& line : d.legend) all += line + "\n";
        return all;
    };
    EXPECT_NE(legendOf("a;b\n1;0\n0;1\n").find("FIELDS SEPARATED BY SEMICOLONS (DETECTED"),
              std::string::npos);
    EXPECT_NE(legendOf("a\tb\n1\t0\n0\t1\n").find("FIELDS SEPARATED BY TABS"), std::string::npos);
    EXPECT_EQ(legendOf("a,b\n1,0\n0,1\n").find("FIELDS SEPARATED"), std::string::npos);
    EXPECT_EQ(csvio::detectDelimiter("\"x;y\",b"), ',');
    EXPECT_EQ(csvio::detectDelimiter("\"x,y\";b"), ';');
    // Read as commas, a semicolon file is one column: the message says what to give.
    const csvio::Table one = csvio::readCsv("travik", "d.csv", "a;b\n1;0\n", ',');
    try {
        travik::deckFromCsv(one, o);
        ADD_FAILURE() << "no error";
    } catch (const latent::InputError& e) {
        EXPECT_NE(std::string(e.what()).find("Give --delimiter ';'"), std::string::npos)
            << e.what();
    }
}

TEST(CsvDeck, NominalValuesSortNumericallyOnlyWhenAllAreNumbers) {
    travik::CsvModelOptions o;
    o.nominal = {"c"};
    const auto categories = [&](const std::string& csv) {
        return travik::deckFromCsv(csvio::readCsv("travik", "d.csv", csv), o).items[0].categories;
    };
    EXPECT_EQ(categories("c\n10\n9\n2.0\n2\n"), (std::vector<std::string>{"2.0", "9", "10"}));
    EXPECT_EQ(categories("c\n10\n9\nb\nB\n"), (std::vector<std::string>{"10", "9", "B", "b"}));
}
