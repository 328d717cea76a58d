// What both estimators leave in their folder when a run fails, is killed, meets a link, a full
// disk or a file-size limit, starts in a removed folder or races another run; and numbers of
// big samples that widen their fields.
#include "fixedio/files.hpp"
#include "ploven/report.hpp"
#include "ploven/run.hpp"
#include "travik/deck.hpp"
#include "travik/restart_file.hpp"
#include "travik/run.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Folder {
    fs::path path;
    explicit Folder(const std::string& tag = "") {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path = fs::temp_directory_path() /
               ("runfiles-" + std::to_string(::getpid()) + "-" + info->name() + tag);
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Folder() {
        ::umount2(path.c_str(), MNT_DETACH); // a tmpfs of the full-disk test, if any
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string read(const std::string& name) const {
        std::ifstream in(path / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(path / name, std::ios::binary) << text;
    }
    // Names in the folder that do not start with a dot, sorted.
    std::vector<std::string> all() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(path))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    std::vector<std::string> visible() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(path)) {
            std::string n = e.path().filename().string();
            if (n[0] != '.') out.push_back(n);
        }
        std::sort(out.begin(), out.end());
        return out;
    }
};

using Names = std::vector<std::string>;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Binary responses of a one-factor model (loading 1.5, intercepts from -1 to 1), drawn with a
// fixed generator: the latent trait and latent class models fitted to them have a maximum.
std::string binaryRows(int cases, int items, const std::string& lead = "") {
    std::mt19937_64 generator(20261207);
    auto uniform = [&] { return static_cast<double>(generator() >> 11) * 0x1p-53; };
    std::string rows;
    for (int k = 0; k < cases; ++k) {
        double z = -6.0; // the sum of twelve uniforms, less six: close to a standard normal
        for (int u = 0; u < 12; ++u) z += uniform();
        rows += lead.empty() ? "" : std::to_string(k + 1) + " ";
        for (int i = 0; i < items; ++i) {
            const double intercept = -1.0 + 2.0 * (i % 5) / 4.0;
            const bool yes = uniform() < 1.0 / (1.0 + std::exp(-(intercept + 1.5 * z)));
            rows += std::string(i ? " " : "") + (yes ? "1" : "0");
        }
        rows += "\n";
    }
    return rows;
}

std::string travikDeck(int cases = 60, int items = 5,
                       const std::string& control = "1 0 100 1 0.000001 1", int nq = 8) {
    return "Files test\n" + std::to_string(cases) + " " + std::to_string(items) + " 0 0 0 " +
           std::to_string(nq) + "\n\n\n" + control + "\n" + binaryRows(cases, items);
}

std::string plovenDeck(const std::string& controls = "60 2 5 0 0 0 1 1 0 0",
                       const std::string& limits = "0 0 0", int cases = 60) {
    return "Files test\n" + controls + "\n" + limits + "\n" + binaryRows(cases, 5, "id");
}

int runTravik(const Folder& f, std::string* err = nullptr) {
    std::ostringstream messages;
    const int status = travik::runInFolder(f.path, messages, nullptr);
    if (err) *err = messages.str();
    return status;
}

int runPloven(const Folder& f, std::string* err = nullptr) {
    std::ostringstream messages;
    const int status = ploven::runInFolder(f.path, nullptr, messages, nullptr);
    if (err) *err = messages.str();
    return status;
}

// A program started as a child process in a folder, standard input closed, standard error
// kept in a file of the test's own.
struct Child {
    pid_t pid = -1;
    fs::path errors;

    Child(const char* exe, const fs::path& dir, rlim_t fileSizeLimit = RLIM_INFINITY,
          bool removeFolder = false)
        : errors(fs::temp_directory_path() / ("runfiles-err-" + std::to_string(::getpid()) + "-" +
                                              fs::path(exe).filename().string())) {
        pid = ::fork();
        if (pid != 0) return;
        if (::chdir(dir.c_str()) != 0) ::_exit(120);
        if (removeFolder && ::rmdir(dir.c_str()) != 0) ::_exit(121);
        const int in = ::open("/dev/null", O_RDWR);
        const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(in, 0);
        ::dup2(in, 1); // console pauses say nothing the test needs
        ::dup2(err, 2);
        // SIGXFSZ keeps its default action: the program itself must keep it from killing it.
        const rlimit limit{fileSizeLimit, fileSizeLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::execl(exe, exe, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // The exit status, or 128 + the signal that ended the process.
    int wait() {
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string stderrText() const {
        std::ifstream in(errors);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    ~Child() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            wait();
        }
        std::error_code ec;
        fs::remove(errors, ec);
    }
};

ino_t inode(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Waits (bounded) until the folder's progress file holds text.
bool waitForProgress(const Folder& f, const std::string& text) {
    for (int i = 0; i < 6000; ++i) {
        if (contains(f.read("fort.2"), text)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace

TEST(FailedRun, LeavesNothingThatBlocksTheRerun) {
    Folder t("travik"), p("ploven");
    std::string deck = travikDeck();
    deck.replace(deck.rfind("1 0"), 1, "x");
    t.write("LAT.INP", deck);
    std::string err;
    EXPECT_EQ(runTravik(t, &err), 2);
    EXPECT_TRUE(contains(err, "LAT.INP line")) << err;
    EXPECT_EQ(t.visible(), Names{"LAT.INP"});
    t.write("LAT.INP", travikDeck());
    EXPECT_EQ(runTravik(t, &err), 0) << err;
    EXPECT_EQ(t.visible(), (Names{"LAT.INP", "LI7.OUT", "LI8.OUT", "MATRIX.OUT", "fort.2",
                                  "travik-cases.csv", "travik.json"}));

    p.write("LATC.INP", plovenDeck("60 2 5 0 0 0 1 1 0 0", "0 x 0"));
    EXPECT_EQ(runPloven(p, &err), 2);
    EXPECT_EQ(p.visible(), Names{"LATC.INP"});
    p.write("LATC.INP", plovenDeck());
    EXPECT_EQ(runPloven(p, &err), 0) << err;
    EXPECT_EQ(p.visible(), (Names{"ETAS.OUT", "LATC.INP", "LATC7.OUT", "LATC8.OUT", "LATC9.OUT",
                                  "PIS.OUT", "fort.2", "ploven-cases.csv", "ploven.json"}));
}

TEST(KilledRun, LeavesOnlyDotFilesBehind) {
    // travik killed during its cycles: long enough to be caught (two factors, 900 grid points).
    Folder t("travik");
    t.write("LAT.INP", travikDeck(2000, 12, "2 0 2000 1 0 1", 48));
    {
        Child run(TRAVIK_EXE, t.path);
        ASSERT_TRUE(waitForProgress(t, "    2   ")) << t.read("fort.2");
        ::kill(run.pid, SIGTERM);
        EXPECT_EQ(run.wait(), 128 + SIGTERM);
    }
    EXPECT_EQ(t.visible(), (Names{"LAT.INP", "fort.2"}));
    t.write("LAT.INP", travikDeck());
    EXPECT_EQ(runTravik(t), 0); // the dot-files do not block the rerun

    // ploven killed during its simulation study.
    Folder p("ploven");
    p.write("LATC.INP", plovenDeck("60 2 5 0 0 0 1 0 1 0", "0 0 1000000"));
    {
        Child run(PLOVEN_EXE, p.path);
        ASSERT_TRUE(waitForProgress(p, "SIMULATION SAMPLE")) << p.read("fort.2");
        ::kill(run.pid, SIGTERM);
        EXPECT_EQ(run.wait(), 128 + SIGTERM);
    }
    EXPECT_EQ(p.visible(), (Names{"LATC.INP", "fort.2"}));
}

TEST(ProgressFileLink, IsNeverFollowed) {
    for (const bool trait : {true, false}) {
        Folder f(trait ? "travik" : "ploven");
        f.write(trait ? "LAT.INP" : "LATC.INP", trait ? travikDeck() : plovenDeck());
        f.write("precious", "keep me\n");
        fs::create_symlink(f.path / "precious", f.path / "fort.2");
        std::string err;
        EXPECT_EQ(trait ? runTravik(f, &err) : runPloven(f, &err), 2);
        EXPECT_TRUE(contains(err, "fort.2") && contains(err, "symbolic link")) << err;
        EXPECT_EQ(f.read("precious"), "keep me\n");
        EXPECT_EQ(f.visible().size(), 3u); // the deck, the link and its target: nothing new
    }
}

TEST(WriteError, EndsTheRunWithAMessageNamingTheFile) {
    // Injected: a file-size limit makes the report's writes fail as a full disk would.
    Folder p("ploven");
    p.write("LATC.INP", plovenDeck("60 2 5 0 0 0 1 1 1 0", "0 0 20"));
    Child run(PLOVEN_EXE, p.path, 2000);
    EXPECT_EQ(run.wait(), 2);
    EXPECT_TRUE(contains(run.stderrText(), "ploven: cannot write ")) << run.stderrText();
    EXPECT_EQ(p.visible(), (Names{"LATC.INP", "fort.2"})); // the progress file alone stays

    // A real full disk: a small tmpfs, where this test may mount one.
    Folder small("tmpfs");
    if (::mount("tmpfs", small.path.c_str(), "tmpfs", 0, "size=16k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    small.write("LATC.INP", plovenDeck("60 2 5 0 0 0 1 1 1 0", "0 0 400"));
    std::string err;
    EXPECT_EQ(runPloven(small, &err), 2);
    EXPECT_TRUE(contains(err, "cannot write")) << err;
    EXPECT_EQ(small.visible(), (Names{"LATC.INP", "fort.2"}));
}

TEST(WriteError, AFileSizeLimitEndsTheRunAsAFullDiskDoes) {
    // Unhandled, SIGXFSZ would end the program at the limit without a word, leaving dot-files.
    Folder t("travik"), p("ploven");
    t.write("LAT.INP", travikDeck(300));
    p.write("LATC.INP", plovenDeck("60 2 5 0 0 0 1 1 1 0", "0 0 20"));
    for (const auto& [f, exe, deck] :
         {std::tuple{&t, TRAVIK_EXE, "LAT.INP"}, std::tuple{&p, PLOVEN_EXE, "LATC.INP"}}) {
        Child run(exe, f->path, 8000);
        EXPECT_EQ(run.wait(), 2) << exe;
        EXPECT_TRUE(contains(run.stderrText(), ": cannot write ") &&
                    contains(run.stderrText(), ": File too large"))
            << run.stderrText();
        EXPECT_EQ(f->all(), (Names{deck, "fort.2"})) << exe;
    }
}

TEST(ConcurrentForce, TheRunThatEndsSecondReplacesNothing) {
    // Another --force run into the same folder begins and ends while this one runs: its
    // outputs stay, and this run ends as it would without --force.
    Folder f;
    f.write("LATC.INP", plovenDeck());
    ploven::RunOptions force;
    force.force = true;
    std::ostringstream first, mine, other;
    ASSERT_EQ(ploven::runInFolder(f.path, nullptr, first, nullptr, force), 0) << first.str();
    ino_t otherReport = 0;
    fixedio::setCommitHook([&] {
        EXPECT_EQ(ploven::runInFolder(f.path, nullptr, other, nullptr, force), 0) << other.str();
        otherReport = inode(f.path / "LATC7.OUT");
    });
    EXPECT_EQ(ploven::runInFolder(f.path, nullptr, mine, nullptr, force), 2);
    EXPECT_TRUE(contains(mine.str(), "ploven: cannot name the output ") &&
                contains(mine.str(), " was replaced during the run"))
        << mine.str();
    EXPECT_EQ(inode(f.path / "LATC7.OUT"), otherReport);
    for (const std::string& name : f.all()) EXPECT_NE(name[0], '.') << name;
}

TEST(RemovedFolder, GivesAMessageAndStatusTwo) {
    for (const char* exe : {TRAVIK_EXE, PLOVEN_EXE}) {
        Folder f(fs::path(exe).filename().string());
        fs::remove_all(f.path);
        fs::create_directories(f.path);
        Child run(exe, f.path, RLIM_INFINITY, true);
        EXPECT_EQ(run.wait(), 2) << exe;
        EXPECT_FALSE(run.stderrText().empty()) << exe;
        fs::create_directories(f.path); // for the folder's own clean-up
    }
}

TEST(BigSamples, NumbersWidenTheirFieldsInsteadOfTurningToAsterisks) {
    // Two million cases as patterns: the loglikelihood and the margins counts need more
    // columns than their fields have.
    Folder f;
    std::string deck = "Big sample\n4 2 3 1 0 0 0 0 0 0\n0 0 0\n";
    for (const char* row : {"900000 1 1 1", "700000 0 0 0", "250000 1 0 0", "150000 0 1 1"})
        deck += std::string(row) + "\n";
    f.write("LATC.INP", deck);
    std::string err;
    ASSERT_EQ(runPloven(f, &err), 0) << err;
    const std::string report = f.read("LATC7.OUT");
    EXPECT_TRUE(contains(report, "     ESTIMATED LIKELIHOOD =-")) << report;
    EXPECT_FALSE(contains(report, "*****")) << report;
    EXPECT_TRUE(contains(report, "NUMBER OF CASES= 2000000"));
}

TEST(PatternInput, RepeatedPatternsAreMergedWithANote) {
    Folder once("once"), twice("twice");
    const std::string head = "Merge\n";
    once.write("LATC.INP",
               head + "4 2 3 1 0 0 0 0 0 0\n0 0 0\n12 1 1 1\n9 0 0 0\n5 1 0 0\n4 0 1 1\n");
    twice.write("LATC.INP",
                head + "5 2 3 1 0 0 0 0 0 0\n0 0 0\n7 1 1 1\n9 0 0 0\n5 1 0 0\n4 0 1 1\n5 1 1 1\n");
    ASSERT_EQ(runPloven(once), 0);
    ASSERT_EQ(runPloven(twice), 0);
    const std::string merged = twice.read("LATC7.OUT");
    const std::string note =
        "\n\n     NOTES\n     1 PATTERN RECORD REPEATS AN EARLIER RECORD'S PATTERN; ITS "
        "FREQUENCY IS ADDED TO THAT RECORD\n";
    ASSERT_TRUE(merged.ends_with(note)) << merged;
    EXPECT_EQ(merged.substr(0, merged.size() - note.size()), once.read("LATC7.OUT"));
}

TEST(OddInput, GetsPlainMessages) {
    std::string err;
    Folder folderDeck("folder");
    fs::create_directory(folderDeck.path / "LAT.INP");
    EXPECT_EQ(runTravik(folderDeck, &err), 2);
    EXPECT_TRUE(contains(err, "LAT.INP is a folder")) << err;

    Folder mac("mac");
    std::string deck = travikDeck();
    std::replace(deck.begin(), deck.end(), '\n', '\r');
    mac.write("LAT.INP", deck);
    EXPECT_EQ(runTravik(mac, &err), 2);
    EXPECT_TRUE(contains(err, "LAT.INP line 1: the line ends with a carriage return alone")) << err;

    // The empty lines of records 3 and 4 left out: the message points at line 3, wherever the
    // shifted records make the reading fail, with a rejection or an input error.
    Folder shifted("shifted");
    // Records 3 and 4 take the control record and a row of zeros; the next row, read as the
    // control record, asks for 0 factors.
    std::string blankless = "Files test\n60 5 0 0 0 8\n1 0 100 1 0.000001 1\n" + binaryRows(60, 5);
    blankless.replace(blankless.find("0.000001 1\n") + 11, 0, "0 0 0 0 0\n0 0 0 0 0\n");
    shifted.write("LAT.INP", blankless);
    EXPECT_EQ(runTravik(shifted, &err), 1);
    EXPECT_TRUE(contains(
        err, "LAT.INP line 3 is read as the nominal category counts, which must be an empty line"))
        << err;
    Folder shortDeck("short");
    shortDeck.write("LAT.INP", "T\n3 2 0 0 0 8\n1 0 10 0 0.001 0\n1 0\n0 1\n1 1\n");
    EXPECT_EQ(runTravik(shortDeck, &err), 2);
    EXPECT_TRUE(contains(err, "LAT.INP line 6: the file ends") &&
                contains(err, "(line 3 is read as the nominal"))
        << err;

    Folder negative("maxit");
    negative.write("LATC.INP", plovenDeck("60 2 5 0 0 0 1 1 0 0", "0 -5 0"));
    EXPECT_EQ(runPloven(negative, &err), 2);
    EXPECT_TRUE(contains(err, "LATC.INP line 3: MAXIT must be positive")) << err;
    EXPECT_EQ(negative.visible(), Names{"LATC.INP"});

    Folder control("control");
    control.write("LATC.INP", "T\n60 2 5 0 0 0 1 1 0 0\n0 0 0\n1 1 1 0\x01\x7f 1 1\n");
    EXPECT_EQ(runPloven(control, &err), 2);
    EXPECT_TRUE(contains(err, "\"0\\x01\\x7F\"")) << err;

    // A title cut at 72 bytes never splits a character: the 72nd byte starts an "é".
    Folder title("title");
    title.write("LATC.INP", std::string(71, 'a') + "\xC3\xA9 and more\n" +
                                "4 1 3 1 0 0 0 0 0 0\n0 0 0\n1 1 1 1\n1 0 0 0\n1 1 0 0\n1 0 1 1\n");
    ASSERT_EQ(runPloven(title, &err), 0) << err;
    EXPECT_TRUE(contains(title.read("LATC7.OUT"), "DATA: " + std::string(71, 'a') + " \n"));
}

TEST(LargeWork, IsRefusedOrLeftOutEarly) {
    // Third-order margins of 200 items would list 1,313,400 triples: left out with a reason.
    Folder wide("wide");
    std::string deck = "Wide\n4 1 200 1 0 0 0 0 0 0\n0 0 0\n";
    for (int r = 0; r < 4; ++r) {
        deck += "1";
        for (int j = 0; j < 200; ++j) deck += (j + r) % 3 ? " 1" : " 0";
        deck += "\n";
    }
    wide.write("LATC.INP", deck);
    std::string err;
    ASSERT_EQ(runPloven(wide, &err), 0) << err;
    EXPECT_TRUE(contains(
        wide.read("LATC7.OUT"),
        "\n     LEFT OUT: 200 ITEMS GIVE 1313400 TRIPLES, MORE THAN THE 20000 LISTED AT MOST\n"));

    // A simulation study whose store cannot fit is refused before any work.
    Folder huge("huge");
    huge.write("LATC.INP", plovenDeck("60 2 5 0 0 0 1 0 1 0", "0 0 2000000000"));
    EXPECT_EQ(runPloven(huge, &err), 2);
    EXPECT_TRUE(contains(err, "the simulation study of 2000000000 samples needs")) << err;
    EXPECT_EQ(huge.visible(), Names{"LATC.INP"});

    // A study in progress says so in the progress file, one line per sample here.
    Folder study("study");
    study.write("LATC.INP", plovenDeck("60 2 5 0 0 0 1 0 1 0", "0 0 3"));
    ASSERT_EQ(runPloven(study, &err), 0) << err;
    // Before it, every EM run of the fit as it begins, and each of its cycles.
    EXPECT_TRUE(study.read("fort.2").starts_with(
        " RUN 1 OF 25 CYCLES AT MOST 3000\n CYCLE 1 LOGLIKELIHOOD -"));
    EXPECT_TRUE(contains(study.read("fort.2"), "\n RUN 25 OF 25 CYCLES AT MOST 3000\n"));
    EXPECT_TRUE(study.read("fort.2").ends_with(
        " SIMULATION SAMPLE 1 OF 3\n SIMULATION SAMPLE 2 OF 3\n SIMULATION SAMPLE 3 OF 3\n"));
}

TEST(SavedEstimates, ReadBackAsStartingValuesWhateverTheirSize) {
    travik::ModelState m;
    m.deck.nf = 2;
    m.deck.nb = 1;
    m.deck.nn = 2;
    m.deck.nc = 1;
    m.deck.no = 1;
    m.deck.c = {3};
    m.deck.o = {4};
    travik::Parameters& p = m.params;
    p.binary = {{{-123.45678, 0.00001, 98765.4321}}};
    // Test scores with an SD of 70 have a residual variance in the thousands; a Heywood case
    // has one too small for four decimals.
    p.normal = {{512.3456, 61.25, -0.5, 4321.98765}, {-0.25, 1.5, 0.0, 0.0000123}};
    p.nominal.resize(1);
    p.nominal[0].categories = 3;
    p.nominal[0].ac[2] = {-12345.5, 3.0, -4.0};
    p.nominal[0].ac[3] = {0.1, -0.2, 1e7};
    p.ordinal.resize(1);
    p.ordinal[0].categories = 4;
    p.ordinal[0].thr = {0, -1234.5, 0.0, 99999.125};
    p.ordinal[0].ao = {0, 2.5, -3.5};

    const std::string saved = travik::savedEstimates(m);
    EXPECT_EQ(saved.find('*'), std::string::npos) << saved;
    travik::ModelState back;
    back.deck = m.deck;
    fixedio::FreeReader reader("travik", "LAT3.INP", saved);
    travik::readStartingValues(reader, back);
    auto near = [](double a, double b) {
        return std::fabs(a - b) <= 0.5e-4 * std::max(1.0, std::fabs(b) * 1e-8);
    };
    for (int m1 = 0; m1 < 3; ++m1)
        EXPECT_TRUE(near(back.params.binary[0].alpha[m1], p.binary[0].alpha[m1])) << m1;
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(near(back.params.normal[i].mu, p.normal[i].mu));
        EXPECT_TRUE(near(back.params.normal[i].lambda1, p.normal[i].lambda1));
        EXPECT_TRUE(near(back.params.normal[i].lambda2, p.normal[i].lambda2));
    }
    EXPECT_TRUE(near(back.params.normal[0].psi, p.normal[0].psi));
    EXPECT_NEAR(back.params.normal[1].psi, 0.0000123, 0.0000001); // positive, not 0.0000
    for (int j = 2; j <= 3; ++j)
        for (int m1 = 0; m1 < 3; ++m1)
            EXPECT_TRUE(near(back.params.nominal[0].ac[j][m1], p.nominal[0].ac[j][m1]));
    for (int j = 1; j <= 3; ++j)
        EXPECT_TRUE(near(back.params.ordinal[0].thr[j], p.ordinal[0].thr[j]));
    EXPECT_TRUE(near(back.params.ordinal[0].ao[2], -3.5));
}
