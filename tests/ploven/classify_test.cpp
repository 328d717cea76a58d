#include "ploven/classify.hpp"

#include "helpers.hpp"

using testing_ploven::contains;

TEST(Alloc, ModalClassWithTiesToTheHighest) {
    ploven::Posteriors post;
    post.nclass = 3;
    post.h = {0.5, 0.5, 0.0, 0.2, 0.3, 0.5, 0.6, 0.1, 0.3, 0.0, 0.0, 0.0};
    EXPECT_EQ(ploven::modalClasses(post, 4), (std::vector<int>{2, 3, 1, 3}));
}

TEST(Scrout, OneLinePerCaseWithThePatternsClass) {
    ploven::PatternTable cases;
    cases.nitem = 3;
    cases.x = {1, 0, 1, 0, 0, 0, 1, 0, 1};
    cases.freq = {1, 1, 1};
    std::vector<int> patternOf;
    ploven::foldPatterns(cases, &patternOf);
    EXPECT_EQ(ploven::classificationLines(std::vector<int>{101, 205, 3333333}, cases, patternOf,
                                          std::vector<int>{2, 1}),
              "   101  2  1 0 1\n   205  1  0 0 0\n3333333  2  1 0 1\n"); // a long identifier
                                                                          // widens its field

    // 45 items: responses continue on a second line; cases differing in the last item only
    // (beyond the reach of decimal codes) keep their own pattern's class.
    cases.nitem = 45;
    cases.x.assign(90, 1);
    cases.x[89] = 0;
    cases.freq = {1, 1};
    ploven::foldPatterns(cases, &patternOf);
    const std::string lines = ploven::classificationLines(std::vector<int>{1, 2}, cases, patternOf,
                                                          std::vector<int>{3, 4});
    EXPECT_EQ(lines.substr(0, 10), "     1  3 ");
    EXPECT_TRUE(contains(lines, "\n 1 1 1 1 1\n     2  4 "));
    EXPECT_TRUE(lines.ends_with(" 1 1 1 1 0\n"));
}
