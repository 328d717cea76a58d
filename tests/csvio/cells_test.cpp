#include "csvio/cells.hpp"
#include "csvio/columns.hpp"
#include "csvio/deck_text.hpp"
#include "csvio/read.hpp"
#include "error_text.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

using csvio_test::errorOf;

TEST(CsvCells, PlainDecimalNumbersOnly) {
    for (const char* text : {"0", "-3", "+2.5", ".5", "5.", "1e-3", "2E+10", "-0.0", "007"})
        EXPECT_TRUE(csvio::plainDecimal(text).has_value()) << text;
    for (const char* text : {"", "-", ".", "e3", "1e", "0x1A", "inf", "nan", "1,5", "1 2", "1d3",
                             "1e999", "--1", "1.2.3"})
        EXPECT_FALSE(csvio::plainDecimal(text).has_value()) << text;
    EXPECT_EQ(*csvio::plainDecimal("0.1"), 0.1);
    EXPECT_EQ(*csvio::plainDecimal("+2.5"), 2.5);
}

TEST(CsvCells, ShortestDecimalReadsBackExactly) {
    for (double x : {0.1, 2.5, -1.0 / 3.0, 1e-8, 6.02214076e23, -0.0, 123456.789})
        EXPECT_EQ(std::strtod(csvio::shortestDecimal(x).c_str(), nullptr), x) << x;
    EXPECT_EQ(csvio::shortestDecimal(2.5), "2.5");
    EXPECT_EQ(csvio::shortestDecimal(0.1), "0.1");
}

TEST(CsvCells, MissingTokensAndValuesAreComparedTrimmed) {
    const std::vector<std::string> tokens = {"", "NA", " . "};
    EXPECT_TRUE(csvio::isMissingToken("  ", tokens));
    EXPECT_TRUE(csvio::isMissingToken(" NA\t", tokens));
    EXPECT_TRUE(csvio::isMissingToken(".", tokens));
    EXPECT_FALSE(csvio::isMissingToken("na", tokens));
    EXPECT_FALSE(csvio::isMissingToken("", {"-9"}));
}

TEST(CsvCells, BinaryAndNumberCellsNameTheCellWhenWrong) {
    const csvio::Table t =
        csvio::readCsv("travik", "data.csv", "q,x\n1.0,\" 2.5 \"\n\"\n0\",NA\n2,abc\n");
    const auto missing = csvio::defaultMissingTokens();
    EXPECT_EQ(csvio::binaryAt(t, 0, 0, missing), 1);
    EXPECT_EQ(csvio::numberAt(t, 0, 1, missing, "a normal item"), 2.5);
    EXPECT_EQ(csvio::numberAt(t, 1, 1, missing, "a normal item"), std::nullopt);
    // The second record starts on line 3; its first field holds a line break, so not 0 or 1.
    EXPECT_EQ(errorOf([&] { csvio::binaryAt(t, 1, 0, missing); }),
              "travik: data.csv line 3, column 1 (\"q\"): a binary item takes 0 or 1, found "
              "\"?0\" (missing values: an empty cell, \"NA\", \".\")");
    EXPECT_EQ(errorOf([&] { csvio::binaryAt(t, 2, 0, missing); }).substr(0, 72),
              "travik: data.csv line 5, column 1 (\"q\"): a binary item takes 0 or 1, fou");
    EXPECT_EQ(errorOf([&] { csvio::numberAt(t, 2, 1, missing, "a normal item"); }),
              "travik: data.csv line 5, column 2 (\"x\"): expected a number for a normal item, "
              "found \"abc\" (missing values: an empty cell, \"NA\", \".\")");
}

TEST(CsvColumns, EveryColumnNamedOnce) {
    const csvio::Table t = csvio::readCsv("travik", "data.csv", "id,a,b,c\n1,0,1,0\n");
    const auto picked =
        csvio::pickColumns(t, {{"a binary item", {"c", "a"}}, {"the ID column", {"id"}}});
    EXPECT_EQ(picked, (std::vector<std::vector<std::size_t>>{{3, 1}, {0}}));
    EXPECT_EQ(errorOf([&] {
                  csvio::pickColumns(t, {{"a binary item", {"a", "b"}}, {"a nominal item", {"b"}}});
              }),
              "travik: data.csv line 1, column 3 (\"b\"): the column is named twice, as a binary "
              "item and as a nominal item");
    EXPECT_EQ(
        errorOf([&] {
            csvio::pickColumns(t, {{"a binary item", {"a", "a"}}});
        }),
        "travik: data.csv line 1, column 2 (\"a\"): the column is named twice as a binary item");
}

TEST(CsvDeckText, TitleIsCutAtACharacterBoundary) {
    EXPECT_EQ(csvio::deckTitle("some/folder/survey.csv", 70), "Data from survey.csv");
    // "Data from " is 10 bytes; each "é" is 2: a cut at 15 bytes keeps two of them whole.
    EXPECT_EQ(csvio::deckTitle("\xC3\xA9\xC3\xA9\xC3\xA9.csv", 15), "Data from \xC3\xA9\xC3\xA9");
    EXPECT_EQ(csvio::deckTitle("a\nb.csv", 70), "Data from a?b.csv");
}
