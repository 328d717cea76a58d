// Writing CSV: fields quoted only when they need it, numbers that read back exactly.
#include "csvio/read.hpp"
#include "csvio/write.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

TEST(CsvWrite, QuotesOnlyWhatNeedsQuotingAndReadsBack) {
    const std::vector<std::string> texts = {"plain",    "a,b", "say \"yes\"", "two\nlines",
                                            " padded ", "",    "x;y"};
    EXPECT_EQ(csvio::csvField("plain"), "plain");
    EXPECT_EQ(csvio::csvField("a,b"), "\"a,b\"");
    EXPECT_EQ(csvio::csvField("say \"yes\""), "\"say \"\"yes\"\"\"");
    EXPECT_EQ(csvio::csvField("x;y"), "x;y");

    // Our own reader gets every text back from a record written with them.
    std::vector<std::string> header, fields;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        header.push_back("c" + std::to_string(i));
        fields.push_back(csvio::csvField(texts[i]));
    }
    const csvio::Table t =
        csvio::readCsv("test", "t.csv", csvio::csvRecord(header) + csvio::csvRecord(fields));
    ASSERT_EQ(t.records.size(), 1u);
    ASSERT_EQ(t.records[0].fields.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(t.records[0].fields[i], texts[i]) << i;
}

TEST(CsvWrite, NumbersReadBackToTheSameDoubleAndNonFiniteOnesAreEmpty) {
    std::mt19937_64 bits(7);
    for (int i = 0; i < 2000; ++i) {
        // Doubles of every magnitude, from their bit patterns.
        const std::uint64_t b = bits();
        double x;
        std::memcpy(&x, &b, sizeof x);
        if (!std::isfinite(x)) continue;
        const std::string text = csvio::csvNumber(x);
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), x) << text;
        // Significant digits: those of the mantissa without the zeros before and after.
        std::string digits;
        for (char c : text.substr(0, text.find('e')))
            if (std::isdigit(static_cast<unsigned char>(c))) digits += c;
        const std::size_t first = digits.find_first_not_of('0'),
                          last = digits.find_last_not_of('0');
        if (first != std::string::npos) {
            EXPECT_LE(last - first + 1, 17u) << text;
        }
    }
    EXPECT_EQ(csvio::csvNumber(0.1), "0.1");
    EXPECT_EQ(csvio::csvNumber(-0.000012), "-0.000012");
    EXPECT_EQ(csvio::csvNumber(1.5e-7), "1.5e-07");
    EXPECT_EQ(csvio::csvNumber(1234.5), "1234.5");
    EXPECT_EQ(csvio::csvNumber(3e16), "30000000000000000");
    EXPECT_EQ(csvio::csvNumber(0.0), "0");
    EXPECT_EQ(csvio::csvNumber(std::numeric_limits<double>::quiet_NaN()), "");
    EXPECT_EQ(csvio::csvNumber(-std::numeric_limits<double>::infinity()), "");
}
