#include "csvio/read.hpp"
#include "error_text.hpp"

#include <gtest/gtest.h>

using csvio::readCsv;
using csvio_test::errorOf;

namespace {

std::string failure(const std::string& content) {
    return errorOf([&] { readCsv("travik", "data.csv", content); });
}

std::vector<int> recordLines(const csvio::Table& t) {
    std::vector<int> lines;
    for (const auto& r : t.records) lines.push_back(r.line);
    return lines;
}

} // namespace

TEST(CsvRead, QuotedCommasAndLineBreaksKeepLaterLinesRight) {
    const csvio::Table t = readCsv("travik", "data.csv",
                                   "id,note,n\n"
                                   "1,\"a, b\",2\n"
                                   "2,\"first\nsecond\nthird\",3\n"
                                   "3,plain,4\n");
    EXPECT_EQ(t.header, (std::vector<std::string>{"id", "note", "n"}));
    ASSERT_EQ(t.records.size(), 3u);
    EXPECT_EQ(t.records[0].fields[1], "a, b");
    EXPECT_EQ(t.records[1].fields[1], "first\nsecond\nthird");
    EXPECT_EQ(recordLines(t), (std::vector<int>{2, 3, 6}));
    // The field after the broken one starts on the line where that one ends.
    EXPECT_EQ(t.lineOf(1, 0), 3);
    EXPECT_EQ(t.lineOf(1, 1), 3);
    EXPECT_EQ(t.lineOf(1, 2), 5);
    EXPECT_EQ(t.lineOf(2, 2), 6);
}

TEST(CsvRead, DoubledQuotesAndQuotedHeaderNames) {
    const csvio::Table t =
        readCsv("p", "f.csv", "\"item \"\"A\"\"\", b \n\"say \"\"hi\"\"\",\"\"\n");
    EXPECT_EQ(t.header, (std::vector<std::string>{"item \"A\"", "b"}));
    EXPECT_EQ(t.records[0].fields, (csvio::Fields{"say \"hi\"", ""}));
}

TEST(CsvRead, ByteOrderMarkAndLineEndsDoNotChangeTheTable) {
    const std::string lf = "a,b\n1,\"x\ny\"\n2,3\n";
    std::string crlf;
    for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const csvio::Table plain = readCsv("p", "f.csv", lf);
    for (const std::string& variant : {crlf, "\xEF\xBB\xBF" + lf, "\xEF\xBB\xBF" + crlf}) {
        const csvio::Table t = readCsv("p", "f.csv", variant);
        EXPECT_EQ(t.header, plain.header);
        ASSERT_EQ(t.records.size(), 2u);
        EXPECT_EQ(t.records[0].fields, plain.records[0].fields); // "x\ny": line break as LF
        EXPECT_EQ(t.records[1].fields, plain.records[1].fields);
        EXPECT_EQ(recordLines(t), (std::vector<int>{2, 4}));
    }
}

TEST(CsvRead, BlankLinesAreSkippedAndLastLineNeedsNoLineEnd) {
    const csvio::Table t = readCsv("p", "f.csv", "\na,b\n1,2\n\n  \n3,4\n\n\r\n\n");
    EXPECT_EQ(t.headerLine, 2);
    EXPECT_EQ(recordLines(t), (std::vector<int>{3, 6}));
    const csvio::Table last = readCsv("p", "f.csv", "a,b\n1,2");
    ASSERT_EQ(last.records.size(), 1u);
    EXPECT_EQ(last.records[0].fields[1], "2");
}

TEST(CsvRead, HeaderOnlyGivesNoRecords) {
    EXPECT_TRUE(readCsv("p", "f.csv", "a,b,c\n").records.empty());
    EXPECT_TRUE(readCsv("p", "f.csv", "a,b,c").records.empty());
}

TEST(CsvRead, RaggedRowsNameLineAndColumn) {
    EXPECT_EQ(failure("a,b,c\n1,2,3\n4,5,6,7\n"),
              "travik: data.csv line 3, column 4: the record has 4 fields, the header 3; quote "
              "values that hold commas");
    EXPECT_EQ(failure("a,b,c\n1,2,3\n4,5\n"),
              "travik: data.csv line 3, column 3 (\"c\"): the record ends after 2 of 3 fields");
    // A record broken over lines ends on its last line.
    EXPECT_EQ(failure("a,b,c\n1,\"x\ny\"\n"),
              "travik: data.csv line 3, column 3 (\"c\"): the record ends after 2 of 3 fields");
}

TEST(CsvRead, QuotingErrorsNameWhereTheyStart) {
    EXPECT_EQ(failure("a,b\n1,2\n3,\"open\n\nmore\n"),
              "travik: data.csv line 3, column 2 (\"b\"): a quoted value is not closed before the "
              "end of the file");
    EXPECT_NE(failure("a,b\n1,5\"7\n").find("line 2, column 2 (\"b\"): a stray quote"),
              std::string::npos);
    EXPECT_NE(failure("a,b\n\"x\"y,2\n").find("line 2, column 1 (\"a\"): a stray quote"),
              std::string::npos);
}

TEST(CsvRead, CarriageReturnAloneIsRefused) {
    EXPECT_EQ(failure("a,b\r1,2\r3,4\r"),
              "travik: data.csv line 1, column 1 (\"a\"): a carriage return (CR) without a line "
              "feed ends a line here; save the file with LF or CRLF line ends");
    EXPECT_NE(failure("a,b\n1,2\r3,4\n").find("line 2, column 1"), std::string::npos);
}

TEST(CsvRead, EmptyFilesAndHeaderNames) {
    const std::string empty =
        "travik: data.csv line 1, column 1: the file is empty; a header row with the column "
        "names is expected";
    EXPECT_EQ(failure(""), empty);
    EXPECT_EQ(failure("\xEF\xBB\xBF\n\n"), empty);
    EXPECT_EQ(failure("a,  ,c\n1,2,3\n"),
              "travik: data.csv line 1, column 2: the column has no name; every column needs a "
              "name in the header row");
}

TEST(CsvRead, NamesTheHeaderTwiceOnlyWhenUsed) {
    const csvio::Table t = readCsv("travik", "data.csv", "q1,q2,q1\n1,0,1\n");
    EXPECT_EQ(csvio::columnIndex(t, "q2", "a binary item"), 1u);
    EXPECT_EQ(errorOf([&] { csvio::columnIndex(t, "q1", "a binary item"); }),
              "travik: data.csv line 1, column 1 (\"q1\"): the header names this column twice "
              "(columns 1 and 3); rename one so that the item is clear");
    EXPECT_EQ(errorOf([&] { csvio::columnIndex(t, "q3", "a binary item"); }),
              "travik: data.csv line 1: no column named \"q3\" (given as a binary item); the "
              "header has: q1, q2, q1");
}

TEST(CsvRead, UnreadableFileIsAnInputError) {
    EXPECT_EQ(errorOf([] { csvio::readCsvFile("ploven", "/nonexistent/answers.csv"); }),
              "ploven: cannot open /nonexistent/answers.csv");
}
