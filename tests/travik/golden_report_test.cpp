// Whole reports of one run per model family, compared section by section with reports that
// were checked line by line against the layouts: one factor with binary items, one factor
// with every item type, two factors with every item type.
#include "test_support.hpp"

using namespace travik_test;

namespace {

void expectGolden(const std::string& name) {
    const fs::path golden = fs::path(TRAVIK_GOLDEN_DIR) / name;
    TempFolder dir;
    RunResult r = runDeck(dir.path, readFile(fs::path(golden).replace_extension(".inp")));
    ASSERT_EQ(r.status, 0) << r.errors;
    const std::vector<std::string> got = lines(r.report),
                                   want =
                                       lines(readFile(fs::path(golden).replace_extension(".out")));
    std::string section = "header";
    for (std::size_t i = 0; i < std::min(got.size(), want.size()); ++i) {
        const std::string title =
            want[i].substr(std::min(want[i].find_first_not_of(' '), want[i].size()));
        if (title.starts_with("**") || title.starts_with("ITER ") ||
            title.starts_with("OBSERVED ") || title.starts_with("Third Order"))
            section = title;
        ASSERT_EQ(got[i], want[i]) << name << ", section " << section << ", line " << i + 1;
    }
    EXPECT_EQ(got.size(), want.size()) << name;
    const fs::path matrix = fs::path(golden).replace_extension(".matrix");
    EXPECT_EQ(readFile(dir.path / "MATRIX.OUT"), fs::exists(matrix) ? readFile(matrix) : "")
        << name;
}

} // namespace

TEST(GoldenReport, OneFactorBinary) {
    expectGolden("one_factor_binary");
}
TEST(GoldenReport, OneFactorMixed) {
    expectGolden("one_factor_mixed");
}
TEST(GoldenReport, TwoFactorsMixed) {
    expectGolden("two_factors_mixed");
}
