// What both results files share: the criteria, the head, numbers that read back, and the
// examples of docs/results.md, which must be JSON a program can read.
#include "resultsio/json_values.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <set>

using resultsio::Json;

TEST(Criteria, PenaliseTheDevianceByParametersAndSampleSize) {
    const resultsio::InformationCriteria c = resultsio::informationCriteria(-100.0, 4, 22.0);
    EXPECT_DOUBLE_EQ(c.aic, 208.0);
    EXPECT_DOUBLE_EQ(c.bic, 200.0 + 4 * std::log(22.0));
    EXPECT_DOUBLE_EQ(c.sabic, 200.0); // (22 + 2) / 24 = 1: no penalty at all
    // More cases penalise harder under BIC; AIC does not see them.
    const resultsio::InformationCriteria more = resultsio::informationCriteria(-100.0, 4, 220.0);
    EXPECT_EQ(more.aic, c.aic);
    EXPECT_GT(more.bic, c.bic);
    EXPECT_GT(more.sabic, c.sabic);
}

TEST(JsonValues, NumbersReadBackExactlyAndNonFiniteOnesAreNull) {
    Json doc = resultsio::documentHead("travik", "A title   ", resultsio::Ending::MaxCycles,
                                       resultsio::trimmedLine("   ***ERROR***  X \n"));
    for (double x : {0.1, 1.0 / 3.0, -6096.409612768042, 1e-300, 5e-324, 1.7976931348623157e308})
        doc["values"].push_back(resultsio::number(x));
    doc["values"].push_back(resultsio::number(std::numeric_limits<double>::quiet_NaN()));
    doc["values"].push_back(resultsio::number(-std::numeric_limits<double>::infinity()));
    resultsio::addModelComparison(doc, resultsio::Ending::Converged,
                                  std::numeric_limits<double>::quiet_NaN(), 3, 10.0);

    const std::string text = resultsio::fileText(doc);
    EXPECT_TRUE(text.ends_with("}\n"));
    const Json back = Json::parse(text);
    EXPECT_EQ(back["schema_version"], 3);
    EXPECT_EQ(back["version"], LATENT_VERSION);
    EXPECT_EQ(back["title"], "A title");
    EXPECT_EQ(back["status"], "max_cycles");
    EXPECT_EQ(back["message"], "***ERROR***  X");
    for (std::size_t i = 0; i < 6; ++i)
        EXPECT_EQ(back["values"][i].get<double>(), doc["values"][i].get<double>());
    EXPECT_TRUE(back["values"][6].is_null() && back["values"][7].is_null());
    EXPECT_TRUE(back["loglikelihood"].is_null() && back["aic"].is_null());
    EXPECT_EQ(back["parameters"], 3);

    // The criteria compare maxima: a fit that did not converge keeps its loglikelihood only.
    for (const resultsio::Ending ending :
         {resultsio::Ending::MaxCycles, resultsio::Ending::NotCertified,
          resultsio::Ending::Diverged}) {
        Json unconverged;
        resultsio::addModelComparison(unconverged, ending, -100.0, 4, 200.0);
        EXPECT_EQ(unconverged["loglikelihood"], -100.0);
        EXPECT_TRUE(unconverged["aic"].is_null() && unconverged["bic"].is_null() &&
                    unconverged["sabic"].is_null());
    }
    Json converged;
    resultsio::addModelComparison(converged, resultsio::Ending::Converged, -100.0, 4, 200.0);
    EXPECT_EQ(converged["bic"], 200.0 + 4.0 * std::log(200.0));

    // A title that is not UTF-8 (Latin-1 "é") still gives a file that parses.
    const Json latin =
        resultsio::documentHead("ploven", "caf\xe9", resultsio::Ending::Converged, "");
    Json parsed;
    EXPECT_NO_THROW(parsed = Json::parse(resultsio::fileText(latin)));
    EXPECT_TRUE(parsed["message"].is_null());
}

TEST(ResultsDocument, ItsJsonExamplesParse) {
    std::ifstream in(RESULTS_DOC);
    ASSERT_TRUE(in) << RESULTS_DOC;
    std::vector<std::string> blocks;
    std::string line, block;
    bool inside = false;
    while (std::getline(in, line)) {
        if (!inside && line == "```json") {
            inside = true;
            block.clear();
        } else if (inside && line == "```") {
            inside = false;
            blocks.push_back(block);
        } else if (inside) {
            block += line + "\n";
        }
    }
    EXPECT_FALSE(inside) << "an example is not closed";
    ASSERT_GE(blocks.size(), 3u);
    std::set<std::string> programs;
    for (const std::string& b : blocks) {
        const Json doc = Json::parse(b); // throws, and fails the test, on anything but JSON
        EXPECT_EQ(doc["schema_version"], resultsio::kSchemaVersion);
        programs.insert(doc["program"].get<std::string>());
        EXPECT_TRUE(doc.contains("status") && doc.contains("message"));
    }
    EXPECT_EQ(programs, (std::set<std::string>{"travik", "ploven"}));
}
