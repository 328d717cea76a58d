#include "fixedio/layout.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

using fixedio::formatF;
using fixedio::formatI;
using fixedio::Layout;

TEST(FormatF, RoundingSignsAndWidening) {
    struct Case {
        double value;
        int w, d;
        const char* text;
    };
    const Case cases[] = {
        {0.5, 5, 3, "0.500"},
        {0.5, 4, 3, ".500"},
        {-0.5, 5, 3, "-.500"},
        {-0.5, 4, 3, "-.500"},
        {-0.0001, 6, 3, "-0.000"},
        {-0.0, 6, 3, "-0.000"},
        {0.0, 6, 3, " 0.000"},
        {27.0, 8, 0, "     27."},
        {0.4, 3, 0, " 0."},
        {0.4, 2, 0, "0."},
        {0.4, 1, 0, "0."},
        {0.25, 4, 1, " 0.2"},
        {0.35, 4, 1, " 0.3"},
        {0.0005, 5, 3, "0.001"},
        {2.5, 3, 0, " 2."},
        {3.5, 3, 0, " 4."},
        {123456.7, 6, 2, "123456.70"},
        {99.9996, 7, 3, "100.000"},
        {99.9996, 6, 3, "100.000"},
        {-1.23456, 9, 4, "  -1.2346"},
        {0.99995, 6, 4, "1.0000"},
        {0.99995, 5, 4, "1.0000"},
        {0.1234, 5, 4, ".1234"},
        {-0.00004, 7, 4, "-0.0000"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(formatF(c.value, c.w, c.d), c.text) << c.value << " F" << c.w << "." << c.d;
    // Only an undefined value fills its field with asterisks.
    EXPECT_EQ(formatF(std::nan(""), 8, 3), "********");
    EXPECT_EQ(formatF(-INFINITY, 4, 1), "****");
}

TEST(FormatI, WidthAndWidening) {
    EXPECT_EQ(formatI(7, 4), "   7");
    EXPECT_EQ(formatI(-100, 4), "-100");
    EXPECT_EQ(formatI(-100, 3), "-100");
    EXPECT_EQ(formatI(12, 1), "12");
    EXPECT_EQ(formatI(0, 1), "0");
}

TEST(Layout, LiteralsBlanksAndSlashes) {
    EXPECT_EQ(Layout("'  MODEL = ',I4").format({1}), "  MODEL =    1\n");
    EXPECT_EQ(Layout("/ 15X '****  LATENT CLASS PROGRAM ****'").format({}),
              "\n               ****  LATENT CLASS PROGRAM ****\n");
    EXPECT_EQ(Layout("\"it's\" 'say ''hi'''").format({}), "it'ssay 'hi'\n");
    // Blanks from X are written only when something follows on the line.
    EXPECT_EQ(Layout("I4,5X").format({12}), "  12\n");
    EXPECT_EQ(Layout("I2,3X,''").format({5}), " 5   \n");
    EXPECT_EQ(Layout("I2,5X,/,'a'").format({5}), " 5\na\n");
    EXPECT_EQ(Layout("' '").format({}), " \n");
    EXPECT_EQ(Layout("A5,'|',A2,'|',A").format({"ab", "abcd", "free text"}),
              "   ab|ab|free text\n");
    // A trailing slash ends the line and leaves an empty one.
    EXPECT_EQ(Layout("I3,/").format({1}), "  1\n\n");
}

TEST(Layout, WritingStopsAtTheFirstDescriptorWithoutValue) {
    EXPECT_EQ(Layout("I3,' and ',I3,' end'").format({1}), "  1 and \n");
    EXPECT_EQ(Layout("I3,' and ',I3,' end'").format({1, 2}), "  1 and   2 end\n");
    EXPECT_EQ(Layout("5X,40*I1").format({1, 0, 1}), "     101\n");
    EXPECT_EQ(Layout("10F5.1").format({}), "\n");
}

TEST(Layout, RepeatGroupsAndContinuation) {
    // Continuation starts again at the last top-level group; a leading 5X is not repeated.
    EXPECT_EQ(Layout("5X,3(I2,1X)").format({1, 2, 3, 4, 5, 6, 7}), "      1  2  3\n 4  5  6\n 7\n");
    EXPECT_EQ(Layout("5X 9*(1X F3.1 '(' F3.1 ')')").format({0.1, 0.2, 0.3, 0.4}),
              "      0.1(0.2) 0.3(0.4)\n");
    // Without a group the whole layout repeats.
    EXPECT_EQ(Layout("3F5.1").format({1.0, 2.0, 3.0, 4.0}), "  1.0  2.0  3.0\n  4.0\n");
    EXPECT_EQ(Layout("2*(3X I3),3X I5,3*(3X F9.4)").format({1, 2, 7, 1.5, -0.25, 0.0417}),
              "     1     2       7      1.5000     -0.2500      0.0417\n");
    // Nested groups and a group repeated zero times.
    EXPECT_EQ(Layout("2(I1,2('-'))").format({1, 2}), "1--2--\n");
    EXPECT_EQ(Layout("I1,0('x')").format({3}), "3\n");
    // Ten pairs in a nine-pair layout: the tenth pair stands alone on the next line.
    std::vector<fixedio::Value> v;
    for (int k = 1; k <= 20; ++k) v.push_back(k / 100.0);
    std::string text = Layout("5X 9*(1X F4.2 '(' F4.2 ')')").format(v);
    EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2) + 1), " 0.19(0.20)\n");
}

TEST(Layout, RealsInIntegerFieldsAndBadInput) {
    EXPECT_EQ(Layout("I3").format({4.0}), "  4\n");
    EXPECT_EQ(Layout("I3").format({4.5}), "***\n");
    EXPECT_THROW(Layout("I3").format({"x"}), std::invalid_argument);
    EXPECT_THROW(Layout("'abc").format({}), std::invalid_argument);
    EXPECT_THROW(Layout("Q3").format({}), std::invalid_argument);
    EXPECT_THROW(Layout("F5").format({}), std::invalid_argument);
    EXPECT_THROW(Layout("(I3").format({}), std::invalid_argument);
    EXPECT_THROW(Layout("'a'").format({1}), std::invalid_argument); // values but nowhere to go
}

TEST(FreeLine, LeadingBlankAndReadableNumbers) {
    EXPECT_EQ(fixedio::freeLine({"*** PROGRAM EM2 BEGIN ***"}), " *** PROGRAM EM2 BEGIN ***\n");
    EXPECT_EQ(fixedio::freeLine({"parameter=", 3, "  variance estimate=", -0.25}),
              " parameter= 3   variance estimate= -0.25\n");
}

TEST(Layout, AWideValueLengthensOnlyItsOwnFieldAndUndefinedValuesShowAsterisks) {
    // Counts of a big sample: the field grows by what it needs, later fields keep their width.
    EXPECT_EQ(Layout("I5,5X,F10.3,7X,2I2").format({123456, 1.5, 1, 0}),
              "123456          1.500        1 0\n");
    EXPECT_EQ(Layout("'  LOGLIKELIHOOD VALUE     ',F11.4").format({-1234567.12345}),
              "  LOGLIKELIHOOD VALUE     -1234567.1235\n");
    EXPECT_EQ(
        Layout("2I2,F6.2").format({fixedio::Value::undefined(), 1, fixedio::Value::undefined()}),
        "** 1******\n");
}
