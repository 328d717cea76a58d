// The results for programs: ploven.json carries the printed values at full precision, the
// criteria and the entropy R-square follow from the loglikelihood, a parameter count and the
// posteriors in ploven-cases.csv, the cases file lists every case in input order (every
// pattern for pattern input), and runs that end with exit status 1 still write their JSON.
#include "../resultsio/results_support.hpp"
#include "helpers.hpp"

#include <algorithm>
#include <nlohmann/json.hpp>

using namespace testing_ploven;
using nlohmann::json;
using results_support::csvRows;
using results_support::printedAs;

namespace {

std::string example(const std::string& name) {
    return slurp(fs::path(PLOVEN_EXAMPLES_DIR) / name);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// The number after `label` on the report line that holds it.
std::string printedAfter(const std::string& report, const std::string& label) {
    const std::size_t at = report.find(label);
    if (at == std::string::npos) return "";
    std::istringstream in(report.substr(at + label.size()));
    std::string token;
    in >> token;
    return token;
}

// The estimate/standard error pairs, "0.192845(0.020957)", of the report lines after `title`,
// one line per row.
std::vector<std::vector<std::pair<std::string, std::string>>>
pairsAfter(const std::string& report, const std::string& title, int rows) {
    std::vector<std::vector<std::pair<std::string, std::string>>> out;
    std::istringstream in(report.substr(report.find(title)));
    std::string line;
    std::getline(in, line);
    while (static_cast<int>(out.size()) < rows && std::getline(in, line)) {
        out.emplace_back();
        for (std::size_t open = line.find('('); open != std::string::npos;
             open = line.find('(', open + 1)) {
            const std::size_t start = line.rfind(' ', open) + 1, close = line.find(')', open);
            out.back().push_back(
                {line.substr(start, open - start), line.substr(open + 1, close - open - 1)});
        }
    }
    return out;
}

RunResult runExample(const Folder& f, const std::string& name) {
    return runDeck(f, example(name));
}

} // namespace

TEST(ResultsJson, CarriesTheReportsValuesAtFullPrecision) {
    Folder f;
    const RunResult r = runExample(f, "cases-with-ids.inp");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string report = f.read("LATC7.OUT");
    const json doc = json::parse(f.read("ploven.json"));
    EXPECT_EQ(doc["schema_version"], 3);
    EXPECT_EQ(doc["program"], "ploven");
    EXPECT_EQ(doc["status"], "converged");
    EXPECT_EQ(doc["data"]["cases"], 600);
    EXPECT_EQ(doc["standard_errors"], "computed");
    EXPECT_EQ(doc["standard_errors_reason"], nullptr);

    const double logl = doc["loglikelihood"];
    EXPECT_TRUE(printedAs(logl, printedAfter(report, "ESTIMATED LIKELIHOOD =")));
    EXPECT_NE(logl, std::round(logl * 1e5) / 1e5); // not the printed digits alone
    EXPECT_EQ(doc["cycles"].get<int>() + 1,
              std::stoi(printedAfter(report, "TOTAL OF ITERATIONS =")));

    const int J = doc["model"]["items"], K = doc["model"]["classes"];
    const auto pi = pairsAfter(report, "ESTIMATED PI-MATRIX:", J);
    for (int j = 0; j < J; ++j) {
        const json& item = doc["items"][j];
        EXPECT_EQ(item["name"], "item " + std::to_string(j + 1));
        ASSERT_EQ(pi[j].size(), static_cast<std::size_t>(K));
        for (int k = 0; k < K; ++k) {
            EXPECT_EQ(item["parameters"][k]["key"], "class_" + std::to_string(k + 1));
            EXPECT_TRUE(printedAs(item["parameters"][k]["estimate"], pi[j][k].first)) << j << k;
            EXPECT_TRUE(printedAs(item["parameters"][k]["standard_error"], pi[j][k].second))
                << j << k;
        }
    }
    const auto eta = pairsAfter(report, "ESTIMATED ETA-VECTOR:", 1);
    for (int k = 0; k < K; ++k) {
        EXPECT_TRUE(printedAs(doc["eta"][k]["estimate"], eta[0][k].first));
        EXPECT_TRUE(printedAs(doc["eta"][k]["standard_error"], eta[0][k].second));
    }

    const json& fit = doc["fit"];
    EXPECT_TRUE(printedAs(fit["full_table"]["likelihood_ratio"],
                          printedAfter(report, "LOG-LIKELIHOOD RATIO STATISTIC=")));
    EXPECT_TRUE(printedAs(fit["full_table"]["chi_square"],
                          printedAfter(report, "STANDARD CHI SQUARE TEST STATISTIC=")));
    EXPECT_EQ(fit["full_table"]["degrees_of_freedom"].get<double>(), std::pow(2.0, J) - K - J * K);
    EXPECT_TRUE(printedAs(fit["pooled"]["chi_square"],
                          printedAfter(report, "PEARSON CHI-SQUARE AFTER GROUPING =")));
    EXPECT_TRUE(printedAs(fit["pooled"]["likelihood_ratio"],
                          printedAfter(report, "LOG-LIKELIHOOD RATIO STATISTIC AFTER GROUPING =")));
    const std::size_t pooledDf = report.rfind("DEGREES OF FREEDOM =");
    EXPECT_EQ(std::to_string(fit["pooled"]["degrees_of_freedom"].get<int>()),
              printedAfter(report.substr(pooledDf), "DEGREES OF FREEDOM ="));

    // The final-stage runs in the order the report lists them.
    const std::string block = report.substr(report.find("          START      LOGLIKELIHOOD"));
    const std::vector<std::string> listed = lines(block);
    const json& runs = doc["starts"]["runs"];
    ASSERT_GE(listed.size(), runs.size() + 1);
    int reported = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        std::istringstream row(listed[i + 1]);
        std::string origin, loglik;
        row >> origin >> loglik;
        EXPECT_EQ(origin, runs[i]["origin"] == "band"
                              ? "BAND"
                              : std::to_string(runs[i]["start"].get<int>()));
        EXPECT_TRUE(printedAs(runs[i]["loglikelihood"], loglik)) << listed[i + 1];
        reported += runs[i]["reported"].get<bool>();
    }
    EXPECT_EQ(reported, 1);
    EXPECT_EQ(doc["starts"]["random_starts"], 20);

    // The check as the block gives it: plain EM reached the maximum, no Newton step.
    const json& check = doc["convergence"];
    EXPECT_EQ(check["certified"], true);
    EXPECT_TRUE(check["reason"].is_null());
    EXPECT_EQ(check["phase"], "em");
    EXPECT_EQ(check["newton_steps"], 0);
    EXPECT_EQ(check["em_cycles"].get<int>(), doc["cycles"].get<int>());
    EXPECT_EQ(check["releases_from_bounds"], 0);
    EXPECT_EQ(std::to_string(check["parameters_left_out"].get<int>()),
              checkValue(report, "PARAMETERS LEFT OUT"));
    char gain[32];
    std::snprintf(gain, sizeof gain, "%.3E", check["remaining_gain"].get<double>());
    EXPECT_EQ(checkValue(report, "EXPECTED REMAINING GAIN"), gain);
    EXPECT_LT(check["remaining_gain"].get<double>(), check["gain_limit"].get<double>());
    EXPECT_EQ(doc["simulation"]["samples"], 50);
    EXPECT_EQ(doc["simulation"]["completed"], true);
}

TEST(ResultsJson, CriteriaAndEntropyFollowFromTheFitAndThePosteriorsOfTheCasesFile) {
    for (const char* name : {"cases-with-ids.inp", "patterns.inp"}) {
        SCOPED_TRACE(name);
        Folder f;
        const RunResult r = runExample(f, name);
        ASSERT_EQ(r.status, 0) << r.err;
        const json doc = json::parse(f.read("ploven.json"));
        const long long J = doc["model"]["items"], K = doc["model"]["classes"];
        const long long p = (K - 1) + J * K;
        EXPECT_EQ(doc["parameters"], p);
        const double L = doc["loglikelihood"], n = doc["data"]["cases"];
        EXPECT_DOUBLE_EQ(doc["aic"].get<double>(), -2 * L + 2 * static_cast<double>(p));
        EXPECT_DOUBLE_EQ(doc["bic"].get<double>(), -2 * L + static_cast<double>(p) * std::log(n));
        EXPECT_DOUBLE_EQ(doc["sabic"].get<double>(),
                         -2 * L + static_cast<double>(p) * std::log((n + 2) / 24));

        // Entropy over the cases: a pattern row stands for as many cases as its frequency.
        const auto rows = csvRows(f.read("ploven-cases.csv"));
        const auto& header = rows[0];
        const std::size_t p1 = std::find(header.begin(), header.end(), "p_1") - header.begin();
        const std::size_t freq =
            std::find(header.begin(), header.end(), "frequency") - header.begin();
        double entropy = 0.0, cases = 0.0;
        std::vector<double> modal(static_cast<std::size_t>(K), 0.0);
        for (std::size_t i = 1; i < rows.size(); ++i) {
            const double w = freq < header.size() ? std::stod(rows[i][freq]) : 1.0;
            cases += w;
            modal[std::stoi(rows[i][p1 - 1]) - 1] += w;
            for (int k = 0; k < K; ++k) {
                const double pk = std::stod(rows[i][p1 + k]);
                if (pk > 0) entropy -= w * pk * std::log(pk);
            }
        }
        EXPECT_EQ(cases, n);
        EXPECT_NEAR(doc["entropy_r2"].get<double>(), 1.0 - entropy / (n * std::log(double(K))),
                    1e-12);

        // The assignment table: row r adds up to the cases whose modal class is r.
        const json& table = doc["classification"]["assignment_table"];
        for (int k = 0; k < K; ++k) {
            double sum = 0.0;
            for (double v : table[k]) sum += v;
            EXPECT_NEAR(sum, modal[k], 1e-9);
            EXPECT_EQ(doc["classification"]["modal_class_counts"][k].get<double>(), modal[k]);
        }

        // The report's block, before the starting values.
        const std::string report = f.read("LATC7.OUT");
        const std::size_t block = report.find("\n     MODEL COMPARISON\n");
        ASSERT_NE(block, std::string::npos);
        EXPECT_LT(block, report.find("\n     STARTING VALUES\n"));
        const std::string part = report.substr(block);
        EXPECT_EQ(printedAfter(part, "NUMBER OF PARAMETERS ="), std::to_string(p));
        for (const auto& [label, key] : {std::pair{"LOGLIKELIHOOD        =", "loglikelihood"},
                                         {"AIC                  =", "aic"},
                                         {"BIC                  =", "bic"},
                                         {"SABIC                =", "sabic"},
                                         {"ENTROPY R-SQUARE     =", "entropy_r2"}})
            EXPECT_TRUE(printedAs(doc[key], printedAfter(part, label))) << label;
    }
}

TEST(CasesFile, ListsCasesInInputOrderWithTheIdsOfTheDeck) {
    Folder f;
    ASSERT_EQ(runExample(f, "cases-with-ids.inp").status, 0);
    const auto rows = csvRows(f.read("ploven-cases.csv"));
    ASSERT_EQ(rows[0], (std::vector<std::string>{"case", "id", "class", "p_1", "p_2", "p_3"}));
    const std::vector<std::string> classified = lines(f.read("LATC8.OUT"));
    ASSERT_EQ(rows.size(), 601u);
    ASSERT_EQ(classified.size(), 600u);
    for (std::size_t k = 1; k < rows.size(); ++k) {
        std::istringstream line(classified[k - 1]);
        std::string id, cls;
        line >> id >> cls;
        EXPECT_EQ(rows[k][0], std::to_string(k));
        EXPECT_EQ(rows[k][1], id);
        EXPECT_EQ(rows[k][2], cls);
    }
}

TEST(CasesFile, PatternInputGivesOneRowPerPatternWithItsFrequency) {
    Folder f;
    ASSERT_EQ(runExample(f, "patterns.inp").status, 0);
    const auto rows = csvRows(f.read("ploven-cases.csv"));
    ASSERT_EQ(rows[0],
              (std::vector<std::string>{"pattern", "frequency", "class", "p_1", "p_2", "item_1",
                                        "item_2", "item_3", "item_4", "item_5"}));
    // The summary table lists the same patterns: frequency, expected frequency, class, responses.
    const std::string report = f.read("LATC7.OUT");
    std::vector<std::string> summary = lines(report.substr(report.find("OBS.FREQ.")));
    ASSERT_EQ(rows.size(), 32u);
    for (std::size_t i = 1; i < rows.size(); ++i) {
        std::istringstream line(summary.at(i));
        std::string frequency, expected, cls, responses;
        line >> frequency >> expected >> cls >> responses;
        EXPECT_EQ(rows[i][0], std::to_string(i));
        EXPECT_EQ(rows[i][1], frequency);
        EXPECT_EQ(rows[i][2], cls);
        EXPECT_EQ(rows[i][5] + rows[i][6] + rows[i][7] + rows[i][8] + rows[i][9], responses);
    }
}

TEST(CasesFile, ACsvRunKeepsTheRecordsOfTheFileWithCasesLeftOutInPlace) {
    Folder f;
    ploven::RunOptions o;
    ploven::CsvModelOptions model;
    model.id = "person";
    model.classes = 2;
    model.listwise = true;
    o.csv = ploven::CsvInput{fs::path(PLOVEN_EXAMPLES_DIR) / "answers.csv", model};
    o.outputDir = f.path;
    std::ostringstream err;
    ASSERT_EQ(ploven::run(o, nullptr, err, nullptr), 0) << err.str();
    const auto rows = csvRows(f.read("ploven-cases.csv"));
    const auto input = csvRows(example("answers.csv"));
    ASSERT_EQ(rows.size(), input.size());
    EXPECT_EQ(rows[0][1], "person"); // the ID column keeps its name
    int leftOut = 0;
    for (std::size_t k = 1; k < rows.size(); ++k) {
        EXPECT_EQ(rows[k][0], std::to_string(k));
        EXPECT_EQ(rows[k][1], input[k][0]);
        const bool missing = std::find(input[k].begin(), input[k].end(), "") != input[k].end() ||
                             std::find(input[k].begin(), input[k].end(), "NA") != input[k].end();
        EXPECT_EQ(rows[k][2].empty(), missing) << k;
        leftOut += missing;
    }
    EXPECT_EQ(leftOut, 3);
    const json doc = json::parse(f.read("ploven.json"));
    EXPECT_EQ(doc["data"]["cases_with_missing"], 3);
    EXPECT_EQ(doc["items"][0]["name"], "q1");
}

TEST(ResultsJson, RunsThatEndWithStatusOneStillWriteTheirStatusAndMessage) {
    // A response of 2: rejected, with the report's error line as the message.
    Folder f("rejected");
    RunResult r = runDeck(f, "T\n3 1 3 0 0 0 0 0 0 0\n0 0 0\n1 0 1\n1 2 1\n0 0 0\n");
    ASSERT_EQ(r.status, 1);
    json doc = json::parse(f.read("ploven.json"));
    EXPECT_EQ(doc["status"], "rejected");
    EXPECT_EQ(doc["message"], "** ERROR: NON-BINARY VARIABLE **  OBS=   2 VAR=  2 VALUE=2");
    EXPECT_EQ(r.err, "ploven: ** ERROR: NON-BINARY VARIABLE **  OBS=   2 VAR=  2 VALUE=2\n");
    EXPECT_EQ(doc["warnings"], json::array());
    EXPECT_FALSE(doc.contains("loglikelihood"));
    EXPECT_EQ(f.read("ploven-cases.csv"), "case,class\n");

    // No run converged within MAXIT: the values as they stand, no block of the fit in the
    // report but the check's, and its figures in the message.
    Folder g("cap");
    std::string deck = example("cases-with-ids.inp");
    deck.replace(deck.find("0 0 50"), 6, "0 3 0 ");
    r = runDeck(g, deck, "latc.inp", starts(0, 1));
    ASSERT_EQ(r.status, 1);
    doc = json::parse(g.read("ploven.json"));
    EXPECT_EQ(doc["status"], "max_cycles");
    const json& check = doc["convergence"];
    EXPECT_EQ(check["certified"], false);
    EXPECT_EQ(check["em_cycles"], 3);
    auto e = [](double v) {
        char text[32];
        std::snprintf(text, sizeof text, "%.3E", v);
        return std::string(text);
    };
    EXPECT_EQ(doc["message"],
              "*** ERROR *** MAXIMUM NUMBER OF ITERATIONS EXECUTED; remaining gain " +
                  e(check["remaining_gain"]) + ", largest gradient element " +
                  e(check["largest_gradient"]));
    EXPECT_GT(check["remaining_gain"].get<double>(), 1e-6); // three cycles are far from the top
    EXPECT_TRUE(contains(g.read("LATC7.OUT"), "     CONVERGENCE CHECK\n"));
    EXPECT_TRUE(doc["loglikelihood"].is_number());
    EXPECT_EQ(doc["standard_errors"], "not_available");
    EXPECT_EQ(doc["standard_errors_reason"], "no fit converged");
    // One line says it, with the figures of the check the message gives.
    const std::string message = doc["message"];
    EXPECT_TRUE(
        r.err.starts_with("ploven: no convergence within 3 cycles (raise MAXIT in the deck)" +
                          message.substr(message.find(';'))))
        << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    EXPECT_FALSE(doc.contains("classification"));
    EXPECT_FALSE(contains(g.read("LATC7.OUT"), "MODEL COMPARISON"));

    // An input error (exit status 2) leaves no results file.
    Folder h("input");
    r = runDeck(h, "T\n3 1 x\n");
    ASSERT_EQ(r.status, 2);
    EXPECT_FALSE(fs::exists(h.path / "ploven.json"));
    EXPECT_FALSE(fs::exists(h.path / "ploven-cases.csv"));
}

TEST(ResultsJson, WarningsAndNotesAreThoseOfTheReportsClosingBlocks) {
    // A repeated pattern record (a note) in a saturated model (a warning).
    Folder f;
    const RunResult r = runDeck(
        f, "Merge\n5 2 3 1 0 0 0 0 0 0\n0 0 0\n7 1 1 1\n9 0 0 0\n5 1 0 0\n4 0 1 1\n5 1 1 1\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const json doc = json::parse(f.read("ploven.json"));
    ASSERT_EQ(doc["warnings"].size(), 1u);
    ASSERT_EQ(doc["notes"].size(), 1u);
    const std::string note = doc["notes"][0];
    EXPECT_EQ(note, "1 PATTERN RECORD REPEATS AN EARLIER RECORD'S PATTERN; ITS FREQUENCY IS ADDED "
                    "TO THAT RECORD");
    std::string warning = doc["warnings"][0];
    for (char& c : warning) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(f.read("LATC7.OUT")
                    .ends_with("\n\n     WARNINGS\n     *** WARNING *** " + warning +
                               "\n\n\n     NOTES\n     " + note + "\n"));
    const std::string warningLine =
        "ploven: warning: " + doc["warnings"][0].get<std::string>() + "\n";
    EXPECT_TRUE(r.err.starts_with(warningLine + "ploven: converged in ")) << r.err;
}
