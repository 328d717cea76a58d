#include "fixedio/console.hpp"
#include "fixedio/files.hpp"
#include "fixedio/freeread.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct TempFolder {
    fs::path path;
    TempFolder() {
        path = fs::temp_directory_path() /
               ("fixedio-files-" + std::to_string(::getpid()) + "-" +
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
    } catch (const latent::InputError& e) {
        std::string m = e.what();
        EXPECT_NE(m.find("lat.inp"), std::string::npos) << m;
        EXPECT_NE(m.find("Lat.Inp"), std::string::npos) << m;
    }
}

std::vector<std::string> names(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(StagedOutputs, NamedOnlyWhenTheRunEndsByItself) {
    TempFolder dir;
    {
        fixedio::StagedOutputs out(dir.path, "travik", {"LI7.OUT", "LI8.OUT"});
        out.file("LI7.OUT").put("report\n");
        // While the run goes on only dot-files exist; they never block a rerun.
        for (const std::string& n : names(dir.path)) EXPECT_EQ(n[0], '.') << n;
        fixedio::StagedOutputs again(dir.path, "travik", {"LI7.OUT"});
        out.commit();
    }
    EXPECT_EQ(names(dir.path), (std::vector<std::string>{"LI7.OUT", "LI8.OUT"}));
    EXPECT_EQ(slurp(dir.path / "LI7.OUT"), "report\n");
    {
        // A run that fails (no commit) leaves nothing under any name.
        fs::remove(dir.path / "LI7.OUT");
        fs::remove(dir.path / "LI8.OUT");
        fixedio::StagedOutputs out(dir.path, "travik", {"LI7.OUT", "LI8.OUT"});
        out.file("LI8.OUT").put("half");
    }
    EXPECT_TRUE(names(dir.path).empty());
}

TEST(StagedOutputs, ExistingOutputsAreRefusedOrReplacedWithForce) {
    TempFolder dir;
    std::ofstream(dir.path / "li8.out") << "keep me";
    try {
        fixedio::StagedOutputs out(dir.path, "travik", {"LI7.OUT", "LI8.OUT"});
        FAIL() << "an existing file must not be replaced";
    } catch (const latent::InputError& e) {
        EXPECT_EQ(std::string(e.what()), "travik: LI8.OUT already exists in " +
                                             fs::absolute(dir.path).lexically_normal().string() +
                                             "; remove it, run in an empty folder or use --force");
    }
    EXPECT_EQ(names(dir.path), (std::vector<std::string>{"li8.out"}));
    {
        fixedio::StagedOutputs out(dir.path, "travik", {"LI7.OUT", "LI8.OUT"}, true);
        out.file("LI8.OUT").put("new\n");
        out.commit();
    }
    // The old copy in another letter case does not stay beside the new one.
    EXPECT_EQ(names(dir.path), (std::vector<std::string>{"LI7.OUT", "LI8.OUT"}));
    EXPECT_EQ(slurp(dir.path / "LI8.OUT"), "new\n");
    {
        // A final name that appears during the run is not replaced; nothing of the run remains.
        fixedio::StagedOutputs out(dir.path / "", "travik", {"A.OUT", "B.OUT"});
        std::ofstream(dir.path / "B.OUT") << "someone else's";
        EXPECT_THROW(out.commit(), latent::InputError);
    }
    EXPECT_FALSE(fs::exists(dir.path / "A.OUT"));
    EXPECT_EQ(slurp(dir.path / "B.OUT"), "someone else's");
}

TEST(StagedOutputs, ForceReplacesOnlyTheFilesFoundAtTheStart) {
    TempFolder dir;
    std::ofstream(dir.path / "A.OUT") << "old a";
    std::ofstream(dir.path / "b.out") << "old b";
    {
        fixedio::StagedOutputs out(dir.path, "ploven", {"A.OUT", "B.OUT"}, true);
        out.file("A.OUT").put("new a");
        // Another run puts its own B.OUT in place of the one this run found.
        std::ofstream(dir.path / "theirs") << "their b";
        fs::rename(dir.path / "theirs", dir.path / "b.out");
        EXPECT_THROW(out.commit(), latent::InputError);
    }
    // A.OUT, replaced before B.OUT was reached, is back as it was; nothing of the run remains.
    EXPECT_EQ(names(dir.path), (std::vector<std::string>{"A.OUT", "b.out"}));
    EXPECT_EQ(slurp(dir.path / "A.OUT"), "old a");
    EXPECT_EQ(slurp(dir.path / "b.out"), "their b");
    {
        // A name that was free at the start and taken meanwhile is not replaced either.
        fixedio::StagedOutputs out(dir.path, "ploven", {"C.OUT"}, true);
        std::ofstream(dir.path / "c.out") << "their c";
        EXPECT_THROW(out.commit(), latent::InputError);
    }
    EXPECT_EQ(slurp(dir.path / "c.out"), "their c");
}

TEST(ProgressFile, TruncatedUnderItsNameButNeverThroughALink) {
    TempFolder dir;
    std::ofstream(dir.path / "FORT.2") << "old progress";
    { fixedio::createOrTruncate(dir.path, "fort.2", "travik").put("new\n"); }
    EXPECT_EQ(slurp(dir.path / "FORT.2"), "new\n");
    fs::remove(dir.path / "FORT.2");
    std::ofstream(dir.path / "precious") << "data";
    fs::create_symlink(dir.path / "precious", dir.path / "fort.2");
    EXPECT_THROW(fixedio::requireWritableName(dir.path, "fort.2", "travik"), latent::InputError);
    EXPECT_THROW(fixedio::createOrTruncate(dir.path, "fort.2", "travik"), latent::InputError);
    EXPECT_EQ(slurp(dir.path / "precious"), "data");
}

TEST(OutputFile, AFailedWriteNamesTheFile) {
    // /dev/full takes the bytes into its buffer, then refuses them at flush and close.
    std::FILE* full = std::fopen("/dev/full", "w");
    if (!full) GTEST_SKIP() << "no /dev/full";
    fixedio::OutputFile out(full, "/dev/full", "ETAS.OUT", "ploven");
    out.put("0.500 0.500\n");
    try {
        out.close();
        FAIL() << "a write error must not pass silently";
    } catch (const latent::InputError& e) {
        EXPECT_NE(std::string(e.what()).find("cannot write ETAS.OUT"), std::string::npos)
            << e.what();
        EXPECT_NE(std::string(e.what()).find("No space left"), std::string::npos) << e.what();
    }
}

TEST(ConsolePause, GoesOnWithoutATerminal) {
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    // Nobody can press a key: the prompt is left out, the warning stays.
    fixedio::consolePause("Singular matrix", in, out, "PRESS ENTER TO CONTINUE"); // must not block
    std::rewind(out);
    char buf[64] = {};
    ASSERT_NE(std::fgets(buf, sizeof buf, out), nullptr);
    EXPECT_STREQ(buf, "Singular matrix\n");
    EXPECT_EQ(std::fgets(buf, sizeof buf, out), nullptr);
    std::fclose(in);
    std::fclose(out);
}

TEST(ConsolePause, AsksForEnterAtATerminal) {
    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (terminal < 0 || ::grantpt(terminal) != 0 || ::unlockpt(terminal) != 0)
        GTEST_SKIP() << "no pseudo-terminal here";
    const int side = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY);
    ASSERT_GE(side, 0);
    ASSERT_EQ(::write(terminal, "\n", 1), 1); // Enter, typed before the pause reads it
    std::FILE* in = ::fdopen(side, "r");
    std::FILE* out = std::tmpfile();
    fixedio::consolePause("WARNING\n", in, out, "PRESS ENTER TO CONTINUE\n");
    std::rewind(out);
    std::string shown(64, '\0');
    shown.resize(std::fread(shown.data(), 1, shown.size(), out));
    EXPECT_EQ(shown, "WARNING\nPRESS ENTER TO CONTINUE\n");
    std::fclose(in);
    std::fclose(out);
    ::close(terminal);
}
