#include "fixedio/memory.hpp"
#include "helpers.hpp"
#include "ploven/cli.hpp"
#include "ploven/fit.hpp"
#include "ploven/report.hpp"

#include <nlohmann/json.hpp>

#include <optional>
#include <random>

using namespace testing_ploven;

namespace {

const char* const kGoldenDeck = "Golden deck: one class, three items\n10 1 3 0 1 1 1 0 0 0\n0 0 0\n"
                                "1 1 1 1\n2 1 0 1\n3 1 0 0\n4 0 0 1\n5 1 1 1\n"
                                "6 0 0 0\n7 0 1 1\n8 1 0 1\n9 0 0 0\n10 0 0 1\n";

// The report of the golden deck, worked out independently for the one-class model
// PI = (0.5, 0.3, 0.7): expected counts are 10 times products of these.
std::string goldenReport() {
    return slurp(std::filesystem::path(PLOVEN_GOLDEN_DIR) / "one_class.out");
}

// Case records of a two-class sample, rendered as a deck with the given control values.
std::string deck(const std::string& controls, const std::string& limits, int ncase = 200) {
    ploven::UniformSource u;
    const ploven::PatternTable rows = ploven::simulateResponses(
        ncase, model({{.1, .8}, {.2, .9}, {.3, .7}, {.2, .8}, {.1, .9}, {.2, .7}}, {.4, .6}), u);
    std::string d = "Sample deck\n" + controls + "\n" + limits + "\n";
    for (int i = 0; i < rows.size(); ++i) {
        for (int j = 0; j < rows.nitem; ++j)
            d += (j ? " " : "") + std::to_string(rows.response(i, j));
        d += "\n";
    }
    return d;
}

// err without its last line (the line that says how a run with a fit ended), and that line.
std::pair<std::string, std::string> splitLastLine(const std::string& err) {
    const auto from = err.size() < 2 ? std::string::npos : err.rfind('\n', err.size() - 2);
    const std::size_t at = from == std::string::npos ? 0 : from + 1;
    return {err.substr(0, at), err.substr(at)};
}

// The figure the report prints after a line's label.
std::string reportFigure(const std::string& report, const std::string& label) {
    const auto at = report.find("\n" + label);
    if (at == std::string::npos) return "";
    std::istringstream in(report.substr(at + 1 + label.size()));
    std::string token;
    in >> token;
    return token;
}

} // namespace

TEST(Run, GoldenReportAndFiles) {
    Folder f;
    const RunResult r = runDeck(f, kGoldenDeck);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string report = f.read("LATC7.OUT");
    EXPECT_EQ(withoutConvergenceBlock(report), goldenReport());
    // One class: the proportions of positive responses are the maximum, which the first
    // M-step reaches; the second cycle changes nothing and the check finds no gradient left.
    EXPECT_TRUE(report.ends_with(convergenceBlock(report)));
    EXPECT_EQ(checkValue(report, "PHASE THAT ENDED THE FIT"), "EM");
    EXPECT_EQ(checkValue(report, "EM CYCLES"), "2");
    EXPECT_EQ(checkValue(report, "NEWTON STEPS"), "0");
    EXPECT_LT(std::stod(checkValue(report, "LARGEST ABSOLUTE GRADIENT ELEMENT")), 1e-12);
    EXPECT_LT(std::stod(checkValue(report, "EXPECTED REMAINING GAIN")), 1e-20);
    EXPECT_EQ(checkValue(report, "PARAMETERS LEFT OUT"), "0");
    EXPECT_EQ(checkValue(report, "MAXIMUM"), "CERTIFIED (REMAINING GAIN BELOW 1.000E-06)");
    EXPECT_TRUE(
        f.read("LATC8.OUT").starts_with("     1  1  1 1 1\n     2  1  1 0 1\n     3  1  1 0 0\n"));
    EXPECT_TRUE(f.read("LATC8.OUT").ends_with("     9  1  0 0 0\n    10  1  0 0 1\n"));
    EXPECT_EQ(f.read("LATC9.OUT"),
              std::string("Golden deck: one class, three items") + std::string(37, ' ') +
                  "\n    1    3    6\n    0.5000\n    0.3000\n    0.7000\n    1.0000\n");
    EXPECT_EQ(f.read("ETAS.OUT"), "");
    EXPECT_EQ(f.read("PIS.OUT"), "");
    EXPECT_EQ(r.console, "");
}

TEST(Run, DefaultsWarningsAndWrapping) {
    // TOL <= 0 means 1.0E-7 and MAXIT = 0 means 3000: the same report as when written out.
    Folder a("a"), b("b");
    ASSERT_EQ(runDeck(a, deck("200 2 6 0 0 0 0 1 0 0", "0 0 0")).status, 0);
    ASSERT_EQ(runDeck(b, deck("200 2 6 0 0 0 0 1 0 0", "1.0E-7 3000 0")).status, 0);
    EXPECT_EQ(a.read("LATC7.OUT"), b.read("LATC7.OUT"));
    EXPECT_TRUE(contains(a.read("LATC7.OUT"),
                         "     ESTIMATED PI-MATRIX:\n      0.")); // with standard errors

    // 4 classes with 6 items warn at the console (4 > 3.5); 3 classes with 5 items do not.
    // Standard input is no terminal here, so nothing asks for a key.
    Folder c("c"), d("d");
    RunResult r =
        runDeck(c, "T\n3 4 6 1 0 0 0 0 0 0\n0 0 0\n1 1 1 1 1 1 1\n1 0 0 0 0 0 0\n1 1 0 1 0 1 0\n");
    EXPECT_EQ(r.console, "**** WARNING: VERY LARGE NUMBER OF CLASSES ****\n");
    r = runDeck(d, "T\n3 3 5 1 0 0 0 0 0 0\n0 0 0\n1 1 1 1 1 1\n1 0 0 0 0 0\n1 1 0 1 0 1\n");
    EXPECT_EQ(r.console, "");

    // 10 classes: the tenth posterior goes on a line of its own, and so does a tenth pair. (Two
    // cases: with one, every item would have one observed value.)
    Folder e("e");
    ASSERT_EQ(runDeck(e, "T\n2 10 10 1 0 1 0 0 0 0\n0 5 0\n1 1 0 1 0 1 0 1 0 1 0\n"
                         "1 0 1 0 1 0 1 0 1 0 1\n")
                  .status,
              0);
    // Per pattern: its number and nine posteriors (F8.6), then the tenth on a line of its own.
    auto posteriors = [](std::istream& in, int values) {
        std::string line;
        std::getline(in, line);
        std::istringstream fields(line);
        int read = 0;
        for (std::string v; fields >> v; ++read)
            if (v.size() != 8 || v[1] != '.') return -1;
        return read == values && line.size() == static_cast<std::size_t>(9 * values) ? read : -1;
    };
    const std::string report = e.read("LATC7.OUT");
    const std::string title = "     ESTIMATED POSTERIOR H-MATRIX:\n";
    ASSERT_TRUE(contains(report, title));
    std::istringstream rows(report.substr(report.find(title) + title.size()));
    for (const char* number : {"     1", "     2"}) {
        std::string head(6, ' ');
        rows.read(head.data(), 6);
        EXPECT_EQ(head, number);
        EXPECT_EQ(posteriors(rows, 9), 9);
        EXPECT_EQ(posteriors(rows, 1), 1);
    }
    ploven::Estimates est = model({std::vector<double>(10, 0.5)}, std::vector<double>(10, 0.1));
    ploven::StandardErrors se{true, "", std::vector<double>(10, 0.01),
                              std::vector<double>(10, 0.02), ""};
    EXPECT_TRUE(ploven::report::etaVector(est, &se).ends_with(")\n 0.100000(0.010000)\n"));
    EXPECT_EQ(ploven::report::sumMismatch(12, 13), "    *** ERROR ***  SUM OF OBSERVED FREQUENCY = "
                                                   "  12 NOT EQUAL TO THE SAMPLE SIZE (   13)\n");
}

TEST(Run, PatternInputIdentifiersAndStudy) {
    // Frequencies 10, 0, 5: 15 cases, and the zero pattern replaces the full-table lines.
    Folder f;
    RunResult r = runDeck(f, "Patterns\n3 2 3 1 0 0 1 1 0 0\n0 0 0\n10 1 0 1\n0 0 0 0\n5 0 1 0\n");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string report = f.read("LATC7.OUT");
    EXPECT_TRUE(contains(report, "     NUMBER OF CASES=      15\n"));
    EXPECT_TRUE(contains(
        report, "\n  ** WARNING ** EXPECTED FREQUENCY FOR A RESPONSE PATTERN  IS EQUAL TO ZERO\n"
                "     PEARSON CHI-SQUARE AFTER GROUPING ="));
    EXPECT_TRUE(contains(report,
                         "     *** WARNING *** CASE IDENTIFIERS NEED CASE-BY-CASE INPUT; NO "
                         "CLASSIFICATION FILE WRITTEN\n"));
    EXPECT_EQ(f.read("LATC8.OUT"), "");

    // One sample is no study: a warning, and the run still completes.
    Folder g("g");
    r = runDeck(g, deck("200 2 6 0 0 0 0 0 1 0", "0 0 1"));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(
        withoutClosingBlocks(g.read("LATC7.OUT"))
            .ends_with("     *** WARNING *** THE SIMULATION STUDY NEEDS AT LEAST 2 SAMPLES\n"));

    // Two runs of a study deck give identical files.
    Folder h("h"), i("i");
    ASSERT_EQ(runDeck(h, deck("200 2 6 0 0 0 0 0 1 1", "0 0 3")).status, 0);
    ASSERT_EQ(runDeck(i, deck("200 2 6 0 0 0 0 0 1 1", "0 0 3")).status, 0);
    const std::string etas = h.read("ETAS.OUT");
    EXPECT_EQ(std::count(etas.begin(), etas.end(), '\n'), 3);
    for (const char* name : {"ETAS.OUT", "PIS.OUT", "LATC7.OUT"})
        EXPECT_EQ(h.read(name), i.read(name)) << name;
    EXPECT_TRUE(
        withoutClosingBlocks(h.read("LATC7.OUT")).ends_with("     TOTAL SIMULATIONS:      3\n"));
}

TEST(Run, BadInputGetsAClearMessageAndStatus) {
    // A response of 2 in record 7, item 3: an empty line, the message, status 1.
    Folder f;
    std::string d = "T\n8 1 3 0 0 0 0 0 0 0\n0 0 0\n";
    for (int i = 1; i <= 8; ++i) d += i == 7 ? "1 0 2\n" : "1 0 1\n";
    RunResult r = runDeck(f, d);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(
        f.read("LATC7.OUT")
            .ends_with("\n\n   ** ERROR: NON-BINARY VARIABLE **  OBS=   7 VAR=  3 VALUE=2\n"));
    EXPECT_EQ(f.read("LATC9.OUT"), "T" + std::string(71, ' ') + "\n");

    struct Case {
        std::string deck, message;
    } cases[] = {
        {"T\n3 1 3 0 0 0 0 0 0 0\n0 0 0\n1 0 1\n1 0\n",
         "latc.inp line 5: the file ends after 2 of 3 values of record 2"},
        {"T\n3 1 3 0 0 0 0 0 0 0\n0 0 0\n1 0 1\n1 x 0\n",
         "latc.inp line 5: expected an integer, found \"x\""},
        {"T\n3 1 3 0 0 0 0 0 0\n", "latc.inp line 2: the file ends after 9 of 10 control values"},
        {"T\n3 0 3 0 0 0 0 0 0 0\n0 0 0\n",
         "latc.inp line 2: the number of classes must be at least 1, found 0"},
        {"T\n1 1 3 1 0 0 0 0 0 0\n0 0 0\n-4 1 0 1\n",
         "record 1: a pattern frequency must not be negative, found -4"},
        {"T\n1 1 2000000000 0 0 0 0 0 0 0\n0 0 0\n1\n",
         "the number of items, 2000000000, is more than"},
        {"", "latc.inp line 1: the file ends where a line of text was expected"},
    };
    for (const Case& c : cases) {
        Folder g("bad");
        r = runDeck(g, c.deck);
        EXPECT_EQ(r.status, 2) << c.deck;
        EXPECT_TRUE(contains(r.err, "ploven: ") && contains(r.err, c.message)) << r.err;
    }

    // A missing deck leaves the folder empty; an existing output stops the run before any
    // other output is made.
    Folder h("h");
    r = runDeck(h, "", "");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "ploven: no input deck LATC.INP (in any letter case) in "))
        << r.err;
    EXPECT_TRUE(fs::is_empty(h.path));
    std::ofstream(h.path / "latc9.out") << "old";
    r = runDeck(h, kGoldenDeck, "LATC.inp");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "ploven: LATC9.OUT already exists in ")) << r.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(h.path), fs::directory_iterator()), 2);
    EXPECT_EQ(h.read("latc9.out"), "old");
}

TEST(Run, CsvRunsAccelerateDecksOnRequestAndBothReachTheSameMaximum) {
    auto parse = [](std::vector<const char*> args) {
        std::ostringstream out, err;
        args.insert(args.begin(), "ploven");
        return ploven::parseCommandLine(static_cast<int>(args.size()), args.data(), out, err);
    };
    EXPECT_FALSE(parse({"deck.inp"}).options.accelerate.has_value());
    EXPECT_EQ(parse({"--accelerate", "deck.inp"}).options.accelerate, true);
    EXPECT_EQ(parse({"--no-accelerate", "deck.inp"}).options.accelerate, false);
    EXPECT_EQ(parse({"--accelerate", "--no-accelerate", "deck.inp"}).exitNow, 2);
    EXPECT_FALSE(parse({"--csv", "d.csv", "--classes", "2", "--max-cycles", "100000"}).exitNow);
    EXPECT_EQ(parse({"--csv", "d.csv", "--classes", "2", "--max-cycles", "100001"}).exitNow, 2);

    auto fit = [](std::optional<bool> accelerate, bool csv) {
        Folder f(std::string(csv ? "csv" : "deck") +
                 (accelerate ? (*accelerate ? "-on" : "-off") : "-default"));
        ploven::RunOptions o;
        o.accelerate = accelerate;
        o.outputDir = f.path;
        if (csv) {
            ploven::CsvModelOptions model;
            model.id = "person";
            model.classes = 3;
            model.listwise = true; // the binary deck: cases with a missing answer left out
            o.csv = ploven::CsvInput{fs::path(PLOVEN_EXAMPLES_DIR) / "answers.csv", model};
        } else {
            o.deck = fs::path(PLOVEN_EXAMPLES_DIR) / "cases-with-ids.inp";
        }
        std::ostringstream err;
        EXPECT_EQ(ploven::run(o, nullptr, err, nullptr), 0) << err.str();
        return std::make_pair(f.read("LATC7.OUT"), nlohmann::json::parse(f.read("ploven.json")));
    };
    for (const bool csv : {true, false}) {
        const auto [plainReport, plain] = fit(false, csv);
        const auto [fastReport, fast] = fit(true, csv);
        const auto [defaultReport, byDefault] = fit(std::nullopt, csv);
        EXPECT_EQ(defaultReport, csv ? fastReport : plainReport);
        EXPECT_TRUE(contains(fastReport, "\n  EM CYCLES (ACCELERATED) "));
        EXPECT_TRUE(contains(plainReport, "\n  EM CYCLES "));
        EXPECT_FALSE(contains(plainReport, "(ACCELERATED)"));
        EXPECT_EQ(fast["convergence"]["accelerated"], true);
        EXPECT_EQ(plain["convergence"]["accelerated"], false);
        EXPECT_NEAR(fast["loglikelihood"].get<double>(), plain["loglikelihood"].get<double>(),
                    1e-6);
    }
}

namespace {

nlohmann::json resultsOf(const Folder& f) {
    return nlohmann::json::parse(f.read("ploven.json"));
}

// Case records of the responses in rows, one line each.
std::string caseDeck(const std::string& controls, const std::vector<std::string>& rows) {
    std::string d = "T\n" + controls + "\n0 0 0\n";
    for (const std::string& row : rows) d += row + "\n";
    return d;
}

} // namespace

TEST(Run, AnItemWithOneObservedValueIsRefusedBeforeTheFit) {
    // Item 1 is 1 for every case: no maximum inside the model, whatever EM would say.
    Folder f;
    RunResult r = runDeck(
        f, caseDeck("6 2 3 0 0 0 0 1 0 0", {"1 1 0", "1 0 0", "1 1 1", "1 0 1", "1 1 0", "1 0 1"}));
    const std::string line = "*** ERROR ***  ITEM 1 (1 FOR EVERY CASE) HAS ONE OBSERVED VALUE: "
                             "THE LIKELIHOOD HAS NO MAXIMUM INSIDE THE MODEL; LEAVE IT OUT";
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(f.read("LATC7.OUT").ends_with("     NUMBER OF CASES=       6\n    " + line + "\n"));
    EXPECT_EQ(r.err, "ploven: " + line + "\n");
    nlohmann::json doc = resultsOf(f);
    EXPECT_EQ(doc["status"], "rejected");
    EXPECT_EQ(doc["message"], line);
    EXPECT_FALSE(contains(f.read("fort.2"), "CYCLE")); // refused before any EM cycle

    // Pattern input: a pattern of frequency 0 observes nothing, so item 2 is 0 for every case;
    // item 3 is 1 for every case too.
    Folder g("patterns");
    r = runDeck(g, "P\n3 2 4 1 0 0 0 0 0 0\n0 0 0\n4 1 0 1 0\n0 0 1 1 1\n3 0 0 1 1\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(g.read("LATC7.OUT"),
                         "    *** ERROR ***  ITEMS 2 (0 FOR EVERY CASE), 3 (1 FOR EVERY CASE) "
                         "HAVE ONE OBSERVED VALUE:"));

    // One case: every item has one value.
    Folder h("one");
    r = runDeck(h, caseDeck("1 1 3 0 0 0 0 0 0 0", {"1 0 1"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(resultsOf(h)["message"],
              "*** ERROR ***  EVERY ITEM HAS ONE OBSERVED VALUE: THERE IS ONE CASE ONLY, SO THE "
              "LIKELIHOOD HAS NO MAXIMUM INSIDE THE MODEL");
}

TEST(Run, ModelsTooLargeForTheirDataAreFittedWithWarnings) {
    // 9 free parameters for 5 cases of 4 items (15 free cells): a warning, not a refusal.
    Folder f("many");
    RunResult r = runDeck(f, caseDeck("5 2 4 0 0 0 0 0 0 0",
                                      {"1 1 0 0", "0 1 1 0", "1 0 1 1", "0 0 0 1", "1 1 1 0"}));
    const std::string tooMany = "the model has 9 free parameters, more than the 5 cases: the "
                                "data cannot determine its estimates; fit fewer classes";
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(splitLastLine(r.err).first, "ploven: warning: " + tooMany + "\n");
    EXPECT_TRUE(splitLastLine(r.err).second.starts_with("ploven: converged in ")) << r.err;
    EXPECT_EQ(resultsOf(f)["warnings"], nlohmann::json::array({tooMany}));

    // Two classes on three items: 7 parameters for the 7 free cells of 2^3 patterns.
    Folder g("saturated");
    std::vector<std::string> rows;
    for (const char* row : {"1 1 1", "1 1 0", "0 0 0", "1 0 0", "0 1 1", "0 0 1"})
        for (int i = 0; i < 5; ++i) rows.push_back(row);
    r = runDeck(g, caseDeck("30 2 3 0 0 0 0 0 0 0", rows));
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json warnings = resultsOf(g)["warnings"];
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], "the model is saturated: its 7 free parameters are as many as the 7 "
                           "free cells of the table of response patterns, so the fit statistics "
                           "(degrees of freedom 0) test nothing; fit fewer classes");
    EXPECT_TRUE(contains(g.read("LATC7.OUT"), "     DEGREES OF FREEDOM =       0.\n"));

    // Seven classes on five cases: fitted, exit status 0, and said so.
    Folder h("seven");
    r = runDeck(h,
                caseDeck("5 7 7 0 0 0 0 0 0 0", {"1 0 1 0 1 0 1", "0 1 0 1 0 1 0", "1 1 0 0 1 1 0",
                                                 "0 0 1 1 0 0 1", "1 1 1 0 0 0 1"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(contains(r.err, "ploven: warning: the model has 55 free parameters, more than "
                                "the 5 cases"));
}

TEST(Run, DataAfterTheLastRecordAreNamedAndNotRead) {
    // NPAT 100 of 300 records: the report counts 100 cases and says where the rest lie.
    std::string d = deck("100 2 6 0 0 0 0 0 0 0", "0 0 0", 300);
    Folder f;
    RunResult r = runDeck(f, d);
    const std::string warning = "\"latc.inp\" lines 104 to 303: data remain after the last of "
                                "the 100 records (NPAT) and are not read: is NPAT right?";
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(splitLastLine(r.err).first, "ploven: warning: " + warning + "\n");
    const std::string report = f.read("LATC7.OUT");
    EXPECT_TRUE(contains(report, "     NUMBER OF CASES=     100\n"));
    EXPECT_TRUE(
        report.ends_with("\n\n     WARNINGS\n     *** WARNING *** \"latc.inp\" LINES 104 TO "
                         "303: DATA REMAIN AFTER THE LAST OF THE 100 RECORDS (NPAT) AND "
                         "ARE NOT READ: IS NPAT RIGHT?\n"));

    // Blank lines, and words after a record on its own line, are no data left unread.
    Folder g("blank");
    d = deck("100 2 6 0 0 0 0 0 0 0", "0 0 0", 100);
    d.insert(d.find('\n', d.find("\n0 0 0\n") + 7), "   end of case 1");
    r = runDeck(g, d + "\n \t\n,\r\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(splitLastLine(r.err).first, "");
    EXPECT_EQ(resultsOf(g)["warnings"], nlohmann::json::array());
}

TEST(Run, EveryFitEndsWithOneLineOnHowItEnded) {
    // A converged fit: its cycles, starts and figures as the results file and the report give
    // them, and the report's path (absolute: the folder is not inside the current one).
    Folder f;
    RunResult r = runDeck(f, deck("200 2 6 0 0 0 0 0 0 0", "0 0 0"));
    ASSERT_EQ(r.status, 0) << r.err;
    nlohmann::json doc = resultsOf(f);
    const std::string report = f.read("LATC7.OUT");
    const std::string place =
        "; report " + (std::filesystem::canonical(f.path) / "LATC7.OUT").string() + "\n";
    char bic[32];
    std::snprintf(bic, sizeof bic, "%.2f", doc["bic"].get<double>());
    EXPECT_EQ(r.err, "ploven: converged in " + std::to_string(doc["cycles"].get<int>()) +
                         " cycles (best of 21 starts found " +
                         std::to_string(doc["starts"]["replicated"].get<int>()) +
                         " times), loglikelihood " +
                         reportFigure(report, "     LOGLIKELIHOOD        =") + ", BIC " + bic +
                         place);
    EXPECT_NEAR(std::stod(bic), std::stod(reportFigure(report, "     BIC                  =")),
                0.005 + 1e-9);

    // Out of cycles: the line says so, in the deck's terms, once; the results file keeps the
    // loglikelihood but no criterion of a maximum it did not reach.
    Folder g("short");
    r = runDeck(g, deck("200 2 6 0 0 0 0 0 0 0", "0 1 0"), "latc.inp", starts(0, 1));
    ASSERT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(r.err.starts_with("ploven: no convergence within 1 cycle (raise MAXIT in the "
                                  "deck); remaining gain "))
        << r.err;
    EXPECT_TRUE(r.err.ends_with("; report " +
                                (std::filesystem::canonical(g.path) / "LATC7.OUT").string() + "\n"))
        << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    doc = resultsOf(g);
    EXPECT_EQ(doc["status"], "max_cycles");
    EXPECT_TRUE(doc["loglikelihood"].is_number());
    for (const char* key : {"aic", "bic", "sabic", "entropy_r2"})
        EXPECT_TRUE(doc[key].is_null()) << key;
}

TEST(Run, TablesTooLargeForMemoryAreRefusedBeforeTheDataAreRead) {
    // Ten thousand items: the margins of their 49,995,000 pairs cannot be held. Only one of
    // the two records is there: the refusal comes before the data are read.
    const double needed = ploven::marginsBytes(10000);
    if (needed <= static_cast<double>(fixedio::memoryBudgetBytes()))
        GTEST_SKIP() << "this machine could hold the margins of 10,000 items";
    std::string d = "Wide\n2 1 10000 0 0 0 0 0 0 0\n0 0 0\n";
    for (int j = 0; j < 10000; ++j) d += j % 2 ? "1 " : "0 ";
    Folder f;
    const RunResult r = runDeck(f, d + "\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(
        r.err.starts_with("ploven: listing the second-order margins of 10000 items (299970000 "
                          "rows in the report and in ploven.json) needs " +
                          fixedio::readableBytes(needed) + ", more than the "))
        << r.err;
    EXPECT_TRUE(r.err.ends_with("; fit fewer items\n")) << r.err;
    EXPECT_FALSE(fs::exists(f.path / "LATC7.OUT"));
}

// ---- CSV runs with polytomous items, missing answers, class enumeration and the BLRT ----

namespace {

// A CSV file of two known classes: four-category items a, b, c (text in c), binary d, e; the
// ID column "who"; every seventh case leaves one answer empty.
std::string twoClassCsv(int n, std::uint64_t seed) {
    std::mt19937_64 g(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const char* words[] = {"never", "rarely", "often", "always"};
    std::string csv = "who,a,b,c,d,e\n";
    for (int i = 0; i < n; ++i) {
        const bool high = u(g) < 0.4;
        auto category = [&](int C) {
            return u(g) < 0.8
                       ? (high ? C - 1 - static_cast<int>(u(g) * 2) : static_cast<int>(u(g) * 2))
                       : static_cast<int>(u(g) * C);
        };
        std::vector<std::string> v = {std::to_string(category(4) + 1),
                                      std::to_string(category(4) + 1), words[category(4)],
                                      std::to_string(category(2)), std::to_string(category(2))};
        if (i % 7 == 3) v[static_cast<std::size_t>(i % 5)] = "";
        csv += "c" + std::to_string(i);
        for (const std::string& x : v) csv += "," + x;
        csv += "\n";
    }
    return csv;
}

struct CsvRun {
    int status = 0;
    std::string err;
};

CsvRun runCsvFile(const fs::path& csv, const fs::path& out, ploven::CsvModelOptions model) {
    ploven::RunOptions o;
    model.id = "who";
    model.levels = {{"c", {"never", "rarely", "often", "always"}}};
    o.csv = ploven::CsvInput{csv, model};
    o.outputDir = out;
    std::ostringstream err;
    CsvRun r;
    r.status = ploven::run(o, nullptr, err, nullptr);
    r.err = err.str();
    return r;
}

} // namespace

TEST(CategoricalRun, ReportJsonCasesAndBivariateResiduals) {
    Folder f("poly");
    const int n = 500;
    std::ofstream(f.path / "data.csv", std::ios::binary) << twoClassCsv(n, 11);
    ploven::CsvModelOptions model;
    model.classes = 2;
    model.standardErrors = true;
    const CsvRun r = runCsvFile(f.path / "data.csv", f.path / "out", model);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string report = slurp(f.path / "out" / "LATC7.OUT");
    EXPECT_TRUE(contains(report, "CLASS-CONDITIONAL CATEGORY PROBABILITIES (STANDARD ERRORS"));
    EXPECT_TRUE(contains(report, "CASES WITH MISSING ANSWERS="));
    EXPECT_TRUE(contains(report, "BIVARIATE RESIDUALS"));
    const auto doc = nlohmann::json::parse(slurp(f.path / "out" / "ploven.json"));
    EXPECT_EQ(doc["data"]["cases"], n);
    EXPECT_EQ(doc["data"]["cases_with_missing"], (n + 3) / 7);
    const auto& items = doc["items"];
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[2]["categories"],
              (std::vector<std::string>{"never", "rarely", "often", "always"}));
    EXPECT_EQ(items[3]["categories"], (std::vector<std::string>{"0", "1"}));
    EXPECT_EQ(items[3]["type"], "binary");
    EXPECT_EQ(items[3]["parameters"].size(), 2u);

    // The residuals from the estimates, over the cases answering both items of a pair.
    std::vector<std::vector<int>> answers;
    std::istringstream in(twoClassCsv(n, 11));
    std::string line;
    std::getline(in, line);
    const std::vector<std::string> words = {"never", "rarely", "often", "always"};
    while (std::getline(in, line)) {
        std::vector<int> row;
        std::stringstream cells(line + ",");
        std::string cell;
        std::getline(cells, cell, ',');
        for (int j = 0; j < 5; ++j) {
            std::getline(cells, cell, ',');
            const auto w = std::find(words.begin(), words.end(), cell);
            row.push_back(cell.empty()       ? -1
                          : w != words.end() ? static_cast<int>(w - words.begin())
                          : j >= 3           ? std::stoi(cell)
                                             : std::stoi(cell) - 1);
        }
        answers.push_back(row);
    }
    auto prob = [&](int j, int k, int c) {
        return items[static_cast<std::size_t>(j)]["class_probabilities"][k][c].get<double>();
    };
    const auto& bvr = doc["bivariate_residuals"];
    ASSERT_EQ(bvr.size(), 10u);
    std::size_t at = 0;
    for (int a = 0; a < 5; ++a)
        for (int b = a + 1; b < 5; ++b, ++at) {
            const int Ca = a < 3 ? 4 : 2, Cb = b < 3 ? 4 : 2;
            std::vector<double> o(static_cast<std::size_t>(Ca * Cb), 0.0);
            double pair = 0.0;
            for (const auto& row : answers)
                if (row[a] >= 0 && row[b] >= 0) {
                    o[static_cast<std::size_t>(row[a] * Cb + row[b])] += 1;
                    pair += 1;
                }
            double x2 = 0.0;
            for (int u = 0; u < Ca; ++u)
                for (int v = 0; v < Cb; ++v) {
                    double e = 0.0;
                    for (int k = 0; k < 2; ++k)
                        e +=
                            doc["eta"][k]["estimate"].get<double>() * prob(a, k, u) * prob(b, k, v);
                    e *= pair;
                    x2 += (o[static_cast<std::size_t>(u * Cb + v)] - e) *
                          (o[static_cast<std::size_t>(u * Cb + v)] - e) / e;
                }
            EXPECT_EQ(bvr[at]["items"][0], items[static_cast<std::size_t>(a)]["name"]);
            EXPECT_EQ(bvr[at]["items"][1], items[static_cast<std::size_t>(b)]["name"]);
            EXPECT_NEAR(bvr[at]["bvr"].get<double>(), x2 / ((Ca - 1) * (Cb - 1)), 1e-9);
        }

    // The cases file keeps the ID column's name and classifies every case.
    const std::string cases = slurp(f.path / "out" / "ploven-cases.csv");
    EXPECT_EQ(cases.substr(0, cases.find('\n')), "case,who,class,p_1,p_2");
    EXPECT_EQ(std::count(cases.begin(), cases.end(), '\n'), n + 1);
}

// The simulation files belong to studies, the classification and estimates files to the binary
// model: a categorical run writes none of them, and leftovers of their names stay as they were.
TEST(CategoricalRun, SimulationFilesBelongToStudiesAlone) {
    Folder f("leftover");
    std::ofstream(f.path / "data.csv", std::ios::binary) << twoClassCsv(200, 2);
    fs::create_directories(f.path / "out");
    for (const char* name : {"ETAS.OUT", "PIS.OUT", "latc8.out", "LATC9.OUT"})
        std::ofstream(f.path / "out" / name) << "kept\n";
    ploven::CsvModelOptions model;
    model.classes = 2;
    model.simulations = 5; // not run for the categorical model: a warning says so
    const CsvRun r = runCsvFile(f.path / "data.csv", f.path / "out", model);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "simulation study"));
    for (const char* name : {"ETAS.OUT", "PIS.OUT", "latc8.out", "LATC9.OUT"})
        EXPECT_EQ(slurp(f.path / "out" / name), "kept\n") << name;
}

TEST(CategoricalRun, EnumerationRowsEqualSeparateRunsAndTheBlrtFindsTheClasses) {
    Folder f("enumerate");
    std::ofstream(f.path / "data.csv", std::ios::binary) << twoClassCsv(400, 5);
    ploven::CsvModelOptions model;
    model.classes = 1;
    model.lastClasses = 3;
    model.blrt = 19;
    const CsvRun r = runCsvFile(f.path / "data.csv", f.path / "all", model);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto rows =
        nlohmann::json::parse(slurp(f.path / "all" / "ploven-comparison.json"))["rows"];
    ASSERT_EQ(rows.size(), 3u);
    int marked = 0;
    for (int K = 1; K <= 3; ++K) {
        const auto& row = rows[static_cast<std::size_t>(K - 1)];
        marked += row["smallest_bic"].get<bool>();
        ploven::CsvModelOptions one;
        one.classes = K;
        ASSERT_EQ(runCsvFile(f.path / "data.csv", f.path / ("K" + std::to_string(K)), one).status,
                  0);
        for (const fs::path& dir : {f.path / ("K" + std::to_string(K)),
                                    f.path / "all" / ("classes-" + std::to_string(K))}) {
            const auto doc = nlohmann::json::parse(slurp(dir / "ploven.json"));
            EXPECT_EQ(row["loglikelihood"], doc["loglikelihood"]) << dir;
            EXPECT_EQ(row["bic"], doc["bic"]) << dir;
            EXPECT_EQ(row["parameters"], doc["parameters"]) << dir;
        }
        EXPECT_EQ(row["blrt_p"].is_null(), K == 1);
    }
    EXPECT_EQ(marked, 1);
    EXPECT_TRUE(rows[1]["smallest_bic"].get<bool>());
    EXPECT_NEAR(rows[1]["blrt_p"].get<double>(), 0.05, 1e-12); // no sample reaches the data's LR
    EXPECT_GT(rows[2]["blrt_p"].get<double>(), 0.1);
    EXPECT_TRUE(contains(slurp(f.path / "all" / "LATC7.OUT"), "COMPARISON OF CLASS COUNTS"));
    EXPECT_TRUE(contains(slurp(f.path / "all" / "ploven-comparison.csv"), "classes,loglikelihood"));

    // A second run into the same folder needs --force.
    EXPECT_EQ(runCsvFile(f.path / "data.csv", f.path / "all", model).status, 2);
}

TEST(CategoricalRun, CountOptionsSayTheirRange) {
    auto message = [](std::vector<const char*> args) {
        std::ostringstream out, err;
        args.insert(args.begin(), "ploven");
        const auto cl =
            ploven::parseCommandLine(static_cast<int>(args.size()), args.data(), out, err);
        return std::make_pair(cl.exitNow.value_or(0), err.str());
    };
    const auto zero = message({"--csv", "d.csv", "--classes", "0"});
    EXPECT_EQ(zero.first, 2);
    EXPECT_TRUE(contains(zero.second, "--classes takes a number from 1 to 100 or a range such "
                                      "as 1-6, not \"0\""))
        << zero.second;
    EXPECT_TRUE(contains(message({"--csv", "d.csv", "--classes", "4-2"}).second, "not \"4-2\""));
    EXPECT_TRUE(contains(message({"--csv", "d.csv", "--classes", "2", "--starts", "-1"}).second,
                         "--starts takes a whole number from 0 to 10000, not -1"));
    EXPECT_TRUE(contains(message({"--csv", "d.csv", "--classes", "2", "--blrt", "0"}).second,
                         "--blrt takes a whole number from 1 to 10000, not 0"));
    const auto range = ploven::parseCommandLine(
        5, std::vector<const char*>{"ploven", "--csv", "d.csv", "--classes", "2-5"}.data(),
        std::cout, std::cerr);
    ASSERT_FALSE(range.exitNow);
    EXPECT_EQ(range.options.csv->model.classes, 2);
    EXPECT_EQ(range.options.csv->model.lastClasses, 5);
}
