#include "helpers.hpp"
#include "ploven/cli.hpp"
#include "ploven/report.hpp"

#include <nlohmann/json.hpp>

#include <optional>

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
    const ploven::PatternTable rows = ploven::genlcr(
        ncase, model({{.1, .8}, {.2, .9}, {.3, .7}, {.2, .8}, {.1, .9}, {.2, .7}}, {.4, .6}), u);
    std::string d = "Sample deck\n" + controls + "\n" + limits + "\n";
    for (int i = 0; i < rows.size(); ++i) {
        for (int j = 0; j < rows.nitem; ++j)
            d += (j ? " " : "") + std::to_string(rows.response(i, j));
        d += "\n";
    }
    return d;
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

    // 10 classes: the tenth posterior goes on a line of its own, and so does a tenth pair.
    Folder e("e");
    ASSERT_EQ(runDeck(e, "T\n1 10 10 1 0 1 0 0 0 0\n0 5 0\n1 1 0 1 0 1 0 1 0 1 0\n").status, 0);
    EXPECT_TRUE(contains(e.read("LATC7.OUT"),
                         "     ESTIMATED POSTERIOR H-MATRIX:\n     1 0.000000 0.000000 0.000000 "
                         "0.000000 1.000000 0.000000 0.000000 0.000000 0.000000\n 0.000000\n"));
    ploven::Estimates est = model({std::vector<double>(10, 0.5)}, std::vector<double>(10, 0.1));
    ploven::StandardErrors se{true, "", std::vector<double>(10, 0.01),
                              std::vector<double>(10, 0.02)};
    EXPECT_TRUE(ploven::report::etaVector(est, &se).ends_with(")\n 0.100000(0.010000)\n"));
    EXPECT_EQ(ploven::report::sumMismatch(12, 13), "    *** ERROR ***  SUM OF OBSERVED FREQUENCY = "
                                                   "  12 NOT EQUAL TO THE SAMPLE SIZE (   13)\n");
}

TEST(Run, PatternInputIdentifiersAndStudy) {
    // Frequencies 10, 0, 5: 15 cases, and the zero pattern replaces the full-table lines.
    Folder f;
    RunResult r = runDeck(f, "Patterns\n3 2 3 1 0 0 1 1 0 0\n0 0 0\n10 1 0 1\n0 0 1 0\n5 0 0 0\n");
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
    EXPECT_TRUE(contains(r.err, "ploven: LATC.INP not found in ")) << r.err;
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
