#include "fixedio/freeread.hpp"

#include <gtest/gtest.h>

using fixedio::FreeReader;
using latent::InputError;

namespace {

std::string messageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const InputError& e) {
        return e.what();
    }
    return "(no error)";
}

} // namespace

TEST(FreeReader, RecordsStartOnNewLinesAndMayContinue) {
    FreeReader r(
        "travik", "LAT.INP",
        "\xEF\xBB\xBFTitle line\r\n10 2, 0,0\r\n1 8 ignored words\r\n\r\n1.5D2 -3e-1 .5 7.\n");
    EXPECT_EQ(r.readLine(), "Title line");
    // Six values over two lines; what follows the last value on its line is ignored.
    EXPECT_EQ(r.readInts(6), (std::vector<int>{10, 2, 0, 0, 1, 8}));
    EXPECT_EQ(r.readInts(0), std::vector<int>{}); // an empty record still uses a (blank) line
    EXPECT_EQ(r.readReals(4), (std::vector<double>{150.0, -0.3, 0.5, 7.0}));
    EXPECT_TRUE(r.atEnd());
}

TEST(FreeReader, ClearMessagesForBadValues) {
    EXPECT_EQ(messageOf([] { FreeReader("travik", "LAT.INP", "1 3.5\n").readInts(2); }),
              "travik: LAT.INP line 1: expected an integer, found \"3.5\"");
    EXPECT_EQ(
        messageOf([] { FreeReader("ploven", "LATC.INP", "\n\n1 two\n").readLine(), (void)0; }),
        "(no error)");
    EXPECT_EQ(messageOf([] {
                  FreeReader r("ploven", "LATC.INP", "t\n1 two\n");
                  r.readLine();
                  r.readReals(2);
              }),
              "ploven: LATC.INP line 2: expected a number, found \"two\"");
    EXPECT_EQ(messageOf([] { FreeReader("travik", "LAT.INP", "1 2\n3\n").readInts(5); }),
              "travik: LAT.INP line 2: the file ends after 3 of 5 values");
    EXPECT_EQ(messageOf([] { FreeReader("travik", "LAT.INP", "").readInts(0); }),
              "travik: LAT.INP line 1: the file ends after 0 of 0 values");
    EXPECT_EQ(messageOf([] { FreeReader("travik", "LAT.INP", "1,,2\n").readInts(3); }),
              "travik: LAT.INP line 1: empty value between commas");
    EXPECT_EQ(messageOf([] { FreeReader("travik", "LAT.INP", "1e999\n").readReals(1); }),
              "travik: LAT.INP line 1: number out of range, found \"1e999\"");
    EXPECT_EQ(messageOf([] { FreeReader("travik", "LAT.INP", "99999999999\n").readInts(1); }),
              "travik: LAT.INP line 1: integer out of range, found \"99999999999\"");
    for (const char* bad : {"nan", "inf", "0x10", "1e", "+", ".", "1.2.3", "--1", "1/"})
        EXPECT_NE(messageOf([bad] { FreeReader("t", "F", std::string(bad) + "\n").readReals(1); }),
                  "(no error)")
            << bad;
}

TEST(FreeReader, MissingFileIsAnInputError) {
    EXPECT_THROW(FreeReader::fromFile("travik", "/nonexistent/LAT.INP", "LAT.INP"), InputError);
}
