// Decks built from CSV tables: case-by-case input with case numbers for text IDs, cases with a
// missing value left out, and the same run as the equivalent hand-written deck.
#include "csvio/read.hpp"
#include "fixedio/freeread.hpp"
#include "helpers.hpp"
#include "ploven/csv_deck.hpp"

using namespace testing_ploven;

namespace {

std::string errorOf(const std::string& csv, const ploven::CsvModelOptions& options) {
    try {
        ploven::deckFromCsv(csvio::readCsv("ploven", "answers.csv", csv), options);
    } catch (const latent::InputError& e) {
        return e.what();
    }
    return "no error";
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

} // namespace

TEST(CsvDeck, CaseNumbersStandForTextIdsAndIncompleteCasesAreLeftOut) {
    const csvio::Table table = csvio::readCsv("ploven", "data/answers.csv",
                                              "q1,who,q2,q3\n"
                                              "1,\"Smith, J.\",0,1\n"
                                              "0,Lee,NA,1\n"
                                              "1.0,Kim,1,0\n"
                                              "0,Ruiz,0,\n");
    ploven::CsvModelOptions o;
    o.id = "who";
    o.classes = 2;
    o.standardErrors = true;
    o.simulations = 20;
    o.listwise = true;
    const ploven::CsvDeck d = ploven::deckFromCsv(table, o);
    EXPECT_EQ(d.deck, "Data from answers.csv\n"
                      "2 2 3 0 0 0 1 1 1 0\n"
                      "1e-08 3000 20\n"
                      "1 1 0 1\n"
                      "2 1 1 0\n");
    EXPECT_EQ(d.itemNames, (std::vector<std::string>{"q1", "q2", "q3"}));
    EXPECT_EQ(d.caseIds, (std::vector<std::string>{"Smith, J.", "Kim"}));
    EXPECT_EQ(d.caseLines, (std::vector<int>{2, 4}));
    EXPECT_EQ(d.leftOutLines, (std::vector<int>{3, 5}));
    EXPECT_EQ(d.legend,
              (std::vector<std::string>{
                  "     ***ITEMS FROM answers.csv***", "", "     ITEM  COLUMN  NAME",
                  "        1       1  q1", "        2       3  q2", "        3       4  q3", "",
                  "     CASE IDENTIFIERS: CASE NUMBERS 1 TO 2 IN THE DECK, IDS FROM COLUMN who",
                  "     CASES USED: 2", "     2 CASES WITH A MISSING VALUE LEFT OUT",
                  "     CSV LINES 3 5"}));

    // Without an ID column the records hold the responses alone.
    ploven::CsvModelOptions plain;
    plain.items = {"q3", "q1"};
    plain.classes = 1;
    plain.maxCycles = 50;
    plain.tolerance = 1e-6;
    plain.listwise = true;
    EXPECT_EQ(ploven::deckFromCsv(table, plain).deck,
              "Data from answers.csv\n3 1 2 0 0 0 0 0 0 0\n1e-06 50 0\n1 1\n1 0\n0 1\n");
}

// The example deck with identifiers, rewritten as a CSV table with text IDs in a middle column
// and some incomplete cases: the same run, classification file included.
TEST(CsvDeck, AnswersFromCsvGiveTheSameRunAsTheirDeck) {
    const std::vector<std::string> deck =
        linesOf(slurp(fs::path(PLOVEN_EXAMPLES_DIR) / "cases-with-ids.inp"));
    ASSERT_EQ(deck[1], "600 3 6 0 0 0 1 1 1 0");
    ASSERT_EQ(deck[2], "0 0 50");
    std::string csv = "i1,i2,person,i3,i4,i5,i6\n";
    std::string handWritten = "Data from answers.csv\n" + deck[1] + "\n" + deck[2] + "\n";
    std::vector<std::string> ids;
    std::vector<int> leftOut;
    int line = 2;
    for (std::size_t r = 3; r < deck.size(); ++r) {
        std::istringstream in(deck[r]);
        std::string id;
        std::vector<std::string> x(6);
        in >> id;
        for (std::string& v : x) in >> v;
        if (r % 97 == 0) { // an incomplete case, left out of the analysis
            csv += "NA,1,gone-" + id + ",0,,1,1\n";
            leftOut.push_back(line++);
        }
        ids.push_back("resp " + id);
        csv += x[0] + "," + x[1] + ",\"" + ids.back() + "\"," + x[2] + "," + x[3] + "," + x[4] +
               "," + x[5] + "\n";
        ++line;
        handWritten += std::to_string(ids.size());
        for (const std::string& v : x) handWritten += " " + v;
        handWritten += "\n";
    }
    ASSERT_EQ(ids.size(), 600u);

    ploven::CsvModelOptions o;
    o.id = "person";
    o.classes = 3;
    o.standardErrors = true;
    o.simulations = 50;
    o.tolerance = 1e-7;
    o.listwise = true;
    const ploven::CsvDeck d = ploven::deckFromCsv(csvio::readCsv("ploven", "answers.csv", csv), o);
    EXPECT_EQ(d.caseIds, ids);
    EXPECT_EQ(d.leftOutLines, leftOut);
    EXPECT_EQ(d.legend[d.legend.size() - 2], "     6 CASES WITH A MISSING VALUE LEFT OUT");

    Folder hand("hand"), generated("csv");
    const RunResult expected = runDeck(hand, handWritten);
    const RunResult actual = runDeck(generated, d.deck);
    ASSERT_EQ(expected.status, 0) << expected.err;
    ASSERT_EQ(actual.status, 0) << actual.err;
    for (const char* file : {"LATC7.OUT", "LATC8.OUT", "LATC9.OUT", "ETAS.OUT", "PIS.OUT"})
        EXPECT_EQ(generated.read(file), hand.read(file)) << file;
    EXPECT_EQ(linesOf(generated.read("LATC8.OUT")).size(), 600u);
    EXPECT_TRUE(contains(generated.read("LATC7.OUT"), "NUMBER OF CASES=     600"));
}

TEST(CsvDeck, BadTablesNameLineAndColumn) {
    ploven::CsvModelOptions o;
    o.id = "id";
    // A value is checked even in a case that would be left out.
    o.listwise = true;
    o.levels = {{"b", {"no", "yes"}}};
    EXPECT_EQ(errorOf("id,a,b\n1,0,no\n2,NA,maybe\n", o),
              "ploven: answers.csv line 3, column 3 (\"b\"): the value \"maybe\" is none of the "
              "levels given with --levels (\"no\", \"yes\")");
    o.levels = {{"a", {"no", "yes"}}, {"c", {"x", "y"}}};
    EXPECT_EQ(errorOf("id,a,b\n1,0,no\n2,NA,yes\n", o),
              "ploven: answers.csv: --levels names the column \"c\", which is not an item; levels "
              "apply only to such columns");
    o.levels = {};
    o.items = {"a", "id"};
    EXPECT_EQ(errorOf("id,a,b\n1,0,1\n", o),
              "ploven: answers.csv line 1, column 1 (\"id\"): the "
              "column is named twice, as an item and as the ID column");
    o.items = {"a", "c"};
    EXPECT_EQ(errorOf("id,a,b\n1,0,1\n", o),
              "ploven: answers.csv line 1: no column named \"c\" (given as an item); the header "
              "has: id, a, b");
    o.items = {};
    EXPECT_EQ(errorOf("id,a,b\n1,0,\n2,.,1\n", o),
              "ploven: answers.csv: every case has a missing value; no case is left to analyse");
    o.listwise = false; // cases with some answer are kept; one with none is not
    EXPECT_EQ(errorOf("id,a,b\n1,NA,\n2,.,.\n", o),
              "ploven: answers.csv: no case answered any item; no case is left to analyse");
    EXPECT_EQ(errorOf("id,a,b\n", o),
              "ploven: answers.csv line 1: no data rows below the header row");
    EXPECT_EQ(errorOf("id\n1\n", o),
              "ploven: answers.csv: no items: the table has no column to use as an item");
}

namespace {

// A run of ploven on csv (written as answers.csv in folder) with two classes.
RunResult runCsv(const Folder& folder, const std::string& csv,
                 std::vector<std::string> missing = {"", "NA", "."}, bool listwise = false) {
    std::ofstream(folder.path / "answers.csv", std::ios::binary) << csv;
    ploven::RunOptions o;
    ploven::CsvModelOptions model;
    model.id = "id";
    model.missing = std::move(missing);
    model.listwise = listwise;
    o.csv = ploven::CsvInput{folder.path / "answers.csv", model};
    std::ostringstream err;
    RunResult r;
    r.status = ploven::run(o, nullptr, err, nullptr);
    r.err = err.str();
    return r;
}

} // namespace

TEST(CsvDeck, AnItemWithOneObservedValueIsRefusedByItsColumnName) {
    const std::string csv = "id,q1,q2,q3\n1,1,0,1\n2,1,1,1\n3,0,1,1\n4,1,1,1\n5,0,0,1\n";
    Folder f("constant");
    RunResult r = runCsv(f, csv);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ploven: *** ERROR ***  COLUMN \"q3\" (1 FOR EVERY CASE) HAS ONE OBSERVED "
                     "VALUE: THE LIKELIHOOD HAS NO MAXIMUM INSIDE THE MODEL; LEAVE IT OUT\n");
    EXPECT_TRUE(contains(f.read("LATC7.OUT"), "     NUMBER OF CASES=       5\n    *** ERROR "));

    // "0" taken for a missing value leaves the cases that answer 1 throughout.
    Folder g("missing");
    r = runCsv(g, csv, {"", "0"}, true);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ploven: *** ERROR ***  EVERY ITEM HAS ONE OBSERVED VALUE: ALL 2 CASES GIVE "
                     "THE SAME RESPONSES, SO THE LIKELIHOOD HAS NO MAXIMUM INSIDE THE MODEL; ONLY "
                     "THE 2 CASES WITHOUT A MISSING VALUE ARE USED (3 LEFT OUT): ARE THE "
                     "MISSING-VALUE TOKENS RIGHT?\n");
    // Kept, the cases with missing answers go to the categorical model, which refuses too.
    Folder h("kept");
    r = runCsv(h, csv, {"", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ploven: *** ERROR ***  EVERY ITEM HAS ONE OBSERVED VALUE: ALL 5 CASES GIVE "
                     "THE SAME RESPONSES, SO THE LIKELIHOOD HAS NO MAXIMUM INSIDE THE MODEL\n");
}
