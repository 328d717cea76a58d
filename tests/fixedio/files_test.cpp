#include "fixedio/console.hpp"
#include "fixedio/files.hpp"
#include "fixedio/freeread.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;

namespace {

struct TempFolder {
    fs::path path;
    TempFolder() {
        path = fs::temp_directory_path() / ("fixedio-files-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempFolder() { fs::remove_all(path); }
};

std::string slurp(const fs::path& p) {
    std::ifstream in(p);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(FixedNames, FoundInAnyLetterCase) {
    TempFolder dir;
    EXPECT_FALSE(fixedio::findFixedName(dir.path, "LAT.INP", "travik"));
    std::ofstream(dir.path / "lat.inp") << "x";
    auto found = fixedio::findFixedName(dir.path, "LAT.INP", "travik");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->filename(), "lat.inp");
    std::ofstream(dir.path / "Lat.Inp") << "y";
    try {
        fixedio::findFixedName(dir.path, "LAT.INP", "travik");
        FAIL() << "two candidates must be an error";
    } catch (const fixedio::InputError& e) {
        std::string m = e.what();
        EXPECT_NE(m.find("lat.inp"), std::string::npos) << m;
        EXPECT_NE(m.find("Lat.Inp"), std::string::npos) << m;
    }
}

TEST(FixedNames, OutputFilesAreNeverReplaced) {
    TempFolder dir;
    {
        auto out = fixedio::createNew(dir.path, "LI7.OUT", "travik");
        out.put("report\n");
    }
    EXPECT_EQ(slurp(dir.path / "LI7.OUT"), "report\n");
    std::ofstream(dir.path / "li8.out") << "keep me";
    try {
        fixedio::createNew(dir.path, "LI8.OUT", "travik");
        FAIL() << "an existing file must not be replaced";
    } catch (const fixedio::InputError& e) {
        EXPECT_EQ(std::string(e.what()), "travik: LI8.OUT already exists in " +
                                             fs::absolute(dir.path).lexically_normal().string() +
                                             "; remove it or run in an empty folder");
    }
    EXPECT_EQ(slurp(dir.path / "li8.out"), "keep me");
    // The progress file is truncated instead, under the name it already has.
    std::ofstream(dir.path / "FORT.2") << "old progress";
    { fixedio::createOrTruncate(dir.path, "fort.2", "travik").put("new\n"); }
    EXPECT_EQ(slurp(dir.path / "FORT.2"), "new\n");
}

TEST(ConsolePause, GoesOnWithoutATerminal) {
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    fixedio::consolePause("Singular matrix", in, out); // must not block
    std::rewind(out);
    char buf[64] = {};
    ASSERT_NE(std::fgets(buf, sizeof buf, out), nullptr);
    EXPECT_STREQ(buf, "Singular matrix\n");
    std::fclose(in);
    std::fclose(out);
}
