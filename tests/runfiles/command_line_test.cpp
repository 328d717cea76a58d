// The command lines of both estimators: options and their errors, decks and outputs in any
// folder, --force, CSV data, quadrature on request, decks of many items, and the same words
// from both programs in the same situation.
#include "fixedio/layout.hpp"
#include "latent/file_names.hpp"
#include "latent/input_error.hpp"
#include "ploven/cli.hpp"
#include "runshell/status.hpp"
#include "travik/cli.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Folder {
    fs::path path;
    Folder() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path = fs::temp_directory_path() /
               ("cmdline-" + std::to_string(::getpid()) + "-" + info->name());
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Folder() { fs::remove_all(path); }
};

void write(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

std::string read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

struct Parsed {
    std::optional<int> exitNow;
    std::string out, err;
};

template <class Parse> Parsed parse(Parse parseCommandLine, std::vector<const char*> args) {
    std::ostringstream out, err;
    const auto cl = parseCommandLine(static_cast<int>(args.size()), args.data(), out, err);
    return {cl.exitNow, out.str(), err.str()};
}

travik::RunOptions travikOptions(std::vector<const char*> args) {
    args.insert(args.begin(), "travik");
    std::ostringstream out, err;
    auto cl = travik::parseCommandLine(static_cast<int>(args.size()), args.data(), out, err);
    EXPECT_FALSE(cl.exitNow) << err.str();
    return cl.options;
}

int runTravik(const travik::RunOptions& o, std::string* err = nullptr) {
    std::ostringstream messages;
    const int status = travik::run(o, messages, nullptr);
    if (err) *err = messages.str();
    return status;
}

// Binary responses of n cases to items items from a one-factor model, drawn with a fixed seed
// (uniforms from the top 53 bits of each 64-bit draw).
std::string binaryDeck(int items, int n, unsigned long long seed) {
    std::mt19937_64 g(seed);
    auto unit = [&] { return static_cast<double>(g() >> 11) * 0x1p-53; };
    std::string deck = "Binary items\n" + std::to_string(n) + " " + std::to_string(items) +
                       " 0 0 0 8\n\n\n1 0 500 0 0.000001 0\n";
    for (int k = 0; k < n; ++k) {
        const double z =
            std::sqrt(-2.0 * std::log(1.0 - unit())) * std::cos(6.283185307179586 * unit());
        for (int i = 0; i < items; ++i) {
            const double v = -1.0 + 2.0 * i / items + (0.8 + 0.01 * i) * z;
            deck += std::string(i ? " " : "") + (unit() < 1.0 / (1.0 + std::exp(-v)) ? "1" : "0");
        }
        deck += "\n";
    }
    return deck;
}

} // namespace

template <class Parse> void expectHelpAndVersion(Parse parseCommandLine, const char* program) {
    const Parsed help = parse(parseCommandLine, {program, "--help"});
    EXPECT_EQ(help.exitNow, 0);
    EXPECT_TRUE(contains(help.out, std::string("Usage: ") + program + " [OPTIONS] [DECK]"))
        << help.out;
    EXPECT_TRUE(help.err.empty());
    const Parsed version = parse(parseCommandLine, {program, "--version"});
    EXPECT_EQ(version.exitNow, 0);
    EXPECT_EQ(version.out, std::string(program) + " " + LATENT_VERSION + "\n");
}

TEST(CommandLine, HelpVersionAndWrongOptions) {
    expectHelpAndVersion(travik::parseCommandLine, "travik");
    expectHelpAndVersion(ploven::parseCommandLine, "ploven");
    // Wrong options and values end with status 2 and CLI11's message.
    const std::vector<std::vector<const char*>> travikWrong = {
        {"travik", "--bogus"},
        {"travik", "--points", "1"},
        {"travik", "--points", "202"},
        {"travik", "--csv", "d.csv", "--factors", "3"},
        {"travik", "--csv", "d.csv", "--max-cycles", "100001"},
        {"travik", "--accelerate", "--no-accelerate"},
        {"travik", "--csv", "d.csv", "--tolerance", "-1"},
        {"travik", "--binary", "a,b"},            // needs --csv
        {"travik", "deck.inp", "--csv", "d.csv"}, // one or the other
    };
    for (const auto& args : travikWrong) {
        const Parsed p = parse(travik::parseCommandLine, args);
        EXPECT_EQ(p.exitNow, 2) << args[args.size() - 2] << " " << args.back();
        EXPECT_FALSE(p.err.empty()) << args.back();
    }
    const std::vector<std::vector<const char*>> plovenWrong = {
        {"ploven", "--starts", "-1"},
        {"ploven", "--csv", "d.csv"}, // needs --classes
        {"ploven", "--csv", "d.csv", "--classes", "0"},
        {"ploven", "--se"},
        {"ploven", "--seed", "x"},
    };
    for (const auto& args : plovenWrong) {
        const Parsed p = parse(ploven::parseCommandLine, args);
        EXPECT_EQ(p.exitNow, 2) << args[1];
    }
    std::vector<const char*> args = {"ploven", "--csv",   "d.csv", "--classes", "3",     "--items",
                                     "a,b",    "--items", "c",     "--missing", "NA,,-9"};
    std::ostringstream out, err;
    const ploven::CommandLine ok =
        ploven::parseCommandLine(static_cast<int>(args.size()), args.data(), out, err);
    ASSERT_FALSE(ok.exitNow) << err.str();
    EXPECT_EQ(ok.options.csv->model.items, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(ok.options.csv->model.missing, (std::vector<std::string>{"NA", "", "-9"}));
}

TEST(CommandLine, DecksAndOutputsInAnyFolderAndForce) {
    Folder f;
    write(f.path / "in" / "study.inp", binaryDeck(5, 80, 3));
    const std::string deck = (f.path / "in" / "study.inp").string();
    const std::string out = (f.path / "results" / "run1").string();
    std::string err;
    ASSERT_EQ(runTravik(travikOptions({deck.c_str(), "-o", out.c_str()}), &err), 0) << err;
    EXPECT_TRUE(fs::exists(fs::path(out) / "LI7.OUT"));
    EXPECT_FALSE(fs::exists(f.path / "in" / "LI7.OUT"));
    EXPECT_EQ(runTravik(travikOptions({deck.c_str(), "-o", out.c_str()}), &err), 2);
    EXPECT_TRUE(contains(err, "LI7.OUT already exists") && contains(err, "--force")) << err;
    const std::string before = read(fs::path(out) / "LI7.OUT");
    ASSERT_EQ(runTravik(travikOptions({deck.c_str(), "-o", out.c_str(), "--force"}), &err), 0)
        << err;
    EXPECT_EQ(read(fs::path(out) / "LI7.OUT"), before);

    // Without -o the outputs go beside the deck; LAT3.INP is looked for there, or given.
    std::string restart = binaryDeck(5, 80, 3);
    restart.replace(restart.find("1 0 500 0"), 9, "1 1 500 0");
    write(f.path / "in" / "restart.inp", restart);
    const std::string restartDeck = (f.path / "in" / "restart.inp").string();
    EXPECT_EQ(runTravik(travikOptions({restartDeck.c_str()}), &err), 2);
    EXPECT_TRUE(contains(err, "no LAT3.INP") && contains(err, "--start")) << err;
    write(f.path / "elsewhere" / "start.txt", "0 1\n0 1\n0 1\n0 1\n0 1\n");
    const std::string start = (f.path / "elsewhere" / "start.txt").string();
    ASSERT_EQ(runTravik(travikOptions({restartDeck.c_str(), "--start", start.c_str()}), &err), 0)
        << err;
    EXPECT_TRUE(fs::exists(f.path / "in" / "LI7.OUT"));

    // ploven: a deck of any name, outputs elsewhere, refused and then replaced with --force.
    write(f.path / "classes" / "answers.txt", "Two classes\n6 2 3 1 0 0 0 0 0 0\n0 0 0\n20 1 1 "
                                              "1\n15 0 0 0\n5 1 0 0\n4 0 1 1\n6 1 1 0\n3 0 0 1\n");
    const std::string plovenDeck = (f.path / "classes" / "answers.txt").string();
    const std::string plovenOut = (f.path / "lc").string();
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::vector<const char*> args = {"ploven", plovenDeck.c_str(), "-o", plovenOut.c_str()};
        if (attempt == 2) args.push_back("--force");
        std::ostringstream o, e;
        const ploven::CommandLine cl =
            ploven::parseCommandLine(static_cast<int>(args.size()), args.data(), o, e);
        ASSERT_FALSE(cl.exitNow);
        std::ostringstream messages;
        EXPECT_EQ(ploven::run(cl.options, nullptr, messages, nullptr), attempt == 1 ? 2 : 0)
            << messages.str();
    }
    EXPECT_TRUE(fs::exists(fs::path(plovenOut) / "LATC7.OUT"));
}

TEST(CommandLine, CsvRunsAccelerateAndTakeTheirOwnLimits) {
    // Two factors: the full 31-point rule and a cycle limit beyond what a deck holds; EM is
    // accelerated unless --no-accelerate says otherwise.
    Folder f;
    std::string csv = "a,b,c,d,e\n";
    for (int k = 0; k < 40; ++k)
        for (int i = 0; i < 5; ++i)
            csv += std::string(((k * (i + 3) + k / 7) % 5) < 2 + (i % 2) ? "1" : "0") +
                   (i < 4 ? "," : "\n");
    write(f.path / "d.csv", csv);
    const std::string data = (f.path / "d.csv").string();
    for (const bool plain : {false, true}) {
        const std::string out = (f.path / (plain ? "plain" : "accelerated")).string();
        std::vector<const char*> args = {"--csv",     data.c_str(), "--binary",     "a,b,c,d,e",
                                         "--factors", "2",          "--max-cycles", "5000",
                                         "-o",        out.c_str()};
        if (plain) args.push_back("--no-accelerate");
        std::string err;
        EXPECT_LE(runTravik(travikOptions(args), &err), 1) << err;
        const std::string report = read(fs::path(out) / "LI7.OUT");
        EXPECT_TRUE(contains(
            report,
            "  QUADRATURE RULE: ALL 31 POINTS OF THE 31-POINT GAUSS-HERMITE RULE PER FACTOR\n"));
        EXPECT_TRUE(contains(report, "  MAXIMUM NUMBER OF ITERATIONS PERMITTED = 5000\n"))
            << report;
        EXPECT_TRUE(contains(
            report, "  CYCLE LIMIT: 5000 (LAT.INP HOLDS 2000, THE MOST A DECK'S MAXIT CAN BE)\n"));
        EXPECT_TRUE(contains(read(fs::path(out) / "LAT.INP"), "\n2 0 2000 0 1e-08 0\n"));
        EXPECT_EQ(contains(report, "  EM: ACCELERATED; RUN LAT.INP WITH --accelerate"), !plain);
        EXPECT_TRUE(contains(read(fs::path(out) / "travik.json"),
                             plain ? "\"accelerated\": false" : "\"accelerated\": true"));
    }
}

TEST(CommandLine, CsvRunsWriteTheirDeckAndNameLineAndColumnOfBadValues) {
    Folder f;
    write(f.path / "data.csv", "id,q1,q2,q3,score\n"
                               "a,1,0,1,3.5\nb,0,0,1,2.25\nc,1,1,1,4\nd,0,NA,0,1.5\ne,1,1,0,3\n"
                               "f,0,1,0,2\ng,1,0,0,2.5\nh,1,1,1,5\ni,0,0,0,1\nj,1,0,1,3\n");
    const std::string csv = (f.path / "data.csv").string();
    const std::string out = (f.path / "out").string();
    std::string err;
    const int status =
        runTravik(travikOptions({"--csv", csv.c_str(), "--binary", "q1,q2,q3", "--normal", "score",
                                 "--id", "id", "-o", out.c_str()}),
                  &err);
    EXPECT_LE(status, 1) << err;
    const std::string deck = read(fs::path(out) / "LAT.INP");
    EXPECT_TRUE(deck.starts_with("Data from data.csv\n10 3 1 0 0 48\n\n\n1 0 500 0 1e-08 0\n"))
        << deck;
    EXPECT_TRUE(contains(deck, "\n0 999 0 1.5\n")) << deck; // NA is the missing code
    const std::string report = read(fs::path(out) / "LI7.OUT");
    EXPECT_TRUE(contains(report, "  ***Items from data.csv***\n")) << report;
    // The generated deck repeats the analysis when run as a deck, accelerated as a CSV run is.
    EXPECT_TRUE(
        contains(report, "  EM: ACCELERATED; RUN LAT.INP WITH --accelerate TO REPEAT THIS FIT\n"))
        << report;
    const std::string again = (f.path / "again").string();
    const std::string generated = (fs::path(out) / "LAT.INP").string();
    EXPECT_EQ(
        runTravik(travikOptions({generated.c_str(), "-o", again.c_str(), "--accelerate"}), &err),
        status)
        << err;
    const std::string rerun = read(fs::path(again) / "LI7.OUT");
    EXPECT_EQ(rerun.substr(rerun.find("***Observed Margins***")),
              report.substr(report.find("***Observed Margins***")));
    // No estimates file unless asked for; a leftover of its name does not stop the run.
    EXPECT_FALSE(fs::exists(fs::path(out) / "LI8.OUT"));
    EXPECT_TRUE(fs::exists(fs::path(again) / "LI8.OUT")); // a deck run writes it, as always
    const std::string fresh = (f.path / "fresh").string();
    write(fs::path(fresh) / "li8.out", "kept\n");
    EXPECT_EQ(runTravik(travikOptions(
                            {"--csv", csv.c_str(), "--binary", "q1,q2,q3", "-o", fresh.c_str()}),
                        &err),
              status)
        << err;
    EXPECT_EQ(read(fs::path(fresh) / "li8.out"), "kept\n");
    fs::remove(fs::path(fresh) / "LI7.OUT"); // so that only li8.out is in the way
    for (const char* name : {"LAT.INP", "MATRIX.OUT", "travik.json", "travik-cases.csv"})
        fs::remove(fs::path(fresh) / name);
    EXPECT_EQ(runTravik(travikOptions({"--csv", csv.c_str(), "--binary", "q1,q2,q3",
                                       "--save-estimates", "-o", fresh.c_str()}),
                        &err),
              2);
    EXPECT_TRUE(contains(err, "LI8.OUT already exists")) << err;

    // A column that takes one value has no maximum: refused, naming the column.
    write(f.path / "same.csv", "q1,q2,q3\n1,0,1\n1,1,0\n1,0,0\n");
    const std::string same = (f.path / "same.csv").string();
    EXPECT_EQ(runTravik(travikOptions({"--csv", same.c_str(), "--binary", "q1,q2,q3", "-o",
                                       out.c_str(), "--force"}),
                        &err),
              1);
    EXPECT_TRUE(contains(
        err, "BINARY ITEM  1 (VARIABLE  1) TAKES ONE VALUE ONLY (EVERY OBSERVED VALUE IS 1): ITS "
             "PARAMETERS HAVE NO MAXIMUM (CSV column \"q1\")"))
        << err;

    write(f.path / "bad.csv", "q1,q2\n1,0\n0,2\n");
    const std::string bad = (f.path / "bad.csv").string();
    EXPECT_EQ(runTravik(travikOptions({"--csv", bad.c_str(), "--binary", "q1,q2", "-o", out.c_str(),
                                       "--force"}),
                        &err),
              2);
    EXPECT_TRUE(contains(err, "bad.csv line 3, column 2")) << err;
}

TEST(CommandLine, FullQuadratureRuleOnRequest) {
    Folder f;
    // NQ = 20 has no rule of its own; --points takes its place and the report names the rule.
    std::string deck = binaryDeck(4, 60, 11);
    deck.replace(deck.find(" 0 0 0 8\n"), 9, " 0 0 0 20\n");
    write(f.path / "deck.inp", deck);
    const std::string path = (f.path / "deck.inp").string();
    std::string err;
    EXPECT_EQ(runTravik(travikOptions({path.c_str(), "-o", (f.path / "a").c_str()}), &err), 1);
    ASSERT_EQ(
        runTravik(travikOptions({path.c_str(), "-o", (f.path / "b").c_str(), "--points", "61"}),
                  &err),
        0)
        << err;
    EXPECT_TRUE(contains(
        read(f.path / "b" / "LI7.OUT"),
        "\n  NUMBER OF QUADRATURE POINTS USED =      20\n"
        "  QUADRATURE RULE: ALL 61 POINTS OF THE 61-POINT GAUSS-HERMITE RULE PER FACTOR\n"));
}

TEST(CommandLine, DecksOfManyItemsRun) {
    Folder f;
    for (int items : {40, 100}) {
        const fs::path deck = f.path / ("items" + std::to_string(items) + ".inp");
        write(deck, binaryDeck(items, items == 40 ? 300 : 200, 7));
        const std::string out = (f.path / ("out" + std::to_string(items))).string();
        std::string err;
        EXPECT_EQ(runTravik(travikOptions({deck.c_str(), "-o", out.c_str()}), &err), 0)
            << items << err;
        const std::string report = read(fs::path(out) / "LI7.OUT");
        EXPECT_TRUE(
            contains(report, "  NUMBER OF BINARY VARIABLES =  " + fixedio::formatI(items, 4)));
        // 40 items list all 9880 triples, the last this one; 100 items would give 161700 and
        // leave them out.
        // So many margins are not weighed for M2 (that would take minutes): the report says so.
        EXPECT_EQ(contains(report, "M2/C2 IS NOT COMPUTED FOR SO MANY ITEMS: 5050 MARGINS"),
                  items == 100);
        if (items == 40)
            EXPECT_TRUE(contains(report, "\n    38    39    40   ")) << items;
        else
            EXPECT_TRUE(contains(
                report,
                "\n               LEFT OUT: 100 ITEMS GIVE 161700 TRIPLES, MORE THAN THE 20000 "
                "LISTED AT MOST\n"));
    }
    // No cap, but a count no file of this size could hold is an input error, not an overflow.
    write(f.path / "huge.inp", "Huge\n3 2147483647 2 0 0 8\n\n\n1 0 10 0 0.001 0\n1 0\n0 1\n1 1\n");
    std::string err;
    EXPECT_EQ(
        runTravik(travikOptions({(f.path / "huge.inp").c_str(), "-o", (f.path / "h").c_str()}),
                  &err),
        2);
    EXPECT_TRUE(contains(err, "huge.inp line 2: the deck declares 2147483649 items")) << err;
}

TEST(CommandLine, SeedsOutOfRangeAndEmptyColumnNamesAreRefused) {
    const std::vector<std::vector<const char*>> wrong = {
        {"ploven", "--seed", "-1"},
        {"ploven", "--seed", "18446744073709551616"},
        {"ploven", "--csv", "d.csv", "--classes", "2", "--items", "q1,,q2"},
        {"travik", "--csv", "d.csv", "--binary", "a,b,"},
        {"travik", "--csv", "d.csv", "--normal", ""},
        {"travik", "--csv", "d.csv", "--normal", "a, ,b"},
    };
    for (const auto& args : wrong) {
        const Parsed p = args[0] == std::string("travik") ? parse(travik::parseCommandLine, args)
                                                          : parse(ploven::parseCommandLine, args);
        EXPECT_EQ(p.exitNow, 2) << args.back();
        EXPECT_TRUE(contains(p.err, args.size() == 3 ? "--seed: must be a whole number from 0 to "
                                                       "18446744073709551615"
                                                     : "an empty column name in \""))
            << p.err;
    }
    const std::vector<const char*> largest = {"ploven", "--seed", "18446744073709551615"};
    std::ostringstream out, err;
    EXPECT_EQ(ploven::parseCommandLine(3, largest.data(), out, err).options.seed, ~0ULL);

    // Names are trimmed like the header's; numbers, separators and levels say what they take.
    const std::vector<const char*> args = {"travik",           "--csv",       "d.csv", "--binary",
                                           " a , b",           "--ordinal",   "q",     "--levels",
                                           "q=low, mid ,high", "--delimiter", "tab"};
    const travik::CommandLine named =
        travik::parseCommandLine(static_cast<int>(args.size()), args.data(), out, err);
    ASSERT_FALSE(named.exitNow) << err.str();
    EXPECT_EQ(named.options.csv->model.binary, (std::vector<std::string>{"a", "b"}));
    ASSERT_EQ(named.options.csv->model.levels.size(), 1u);
    EXPECT_EQ(named.options.csv->model.levels[0].labels,
              (std::vector<std::string>{"low", "mid", "high"}));
    EXPECT_EQ(named.options.delimiter, '\t');
    const std::vector<std::pair<std::vector<const char*>, std::string>> plain = {
        {{"travik", "--csv", "d.csv", "--points", "1"},
         "--points takes a whole number from 2 to 201, not 1"},
        {{"travik", "--csv", "d.csv", "--max-cycles", "1e3"},
         "--max-cycles takes a whole number from 1 to 100000, not \"1e3\""},
        {{"travik", "--csv", "d.csv", "--delimiter", "|"}, "--delimiter takes ',', ';' or tab"},
        {{"travik", "--csv", "d.csv", "--levels", "q=a", "--ordinal", "q"},
         "--levels: give at least 2 labels in \"q=a\""},
        {{"travik", "--csv", "d.csv", "--levels", "q=a,b", "--levels", "q=c,d"},
         "the column \"q\" is given twice"},
    };
    for (const auto& [wrongArgs, message] : plain) {
        const Parsed p = parse(travik::parseCommandLine, wrongArgs);
        EXPECT_EQ(p.exitNow, 2) << message;
        EXPECT_TRUE(contains(p.err, message)) << p.err;
    }
}

namespace {

// Either program with these arguments: the status, and its messages in err.
int runProgram(const std::vector<const char*>& args, std::string& err) {
    std::ostringstream out, messages;
    const int argc = static_cast<int>(args.size());
    int status = 0;
    if (args[0] == std::string("travik")) {
        const travik::CommandLine cl = travik::parseCommandLine(argc, args.data(), out, messages);
        status = cl.exitNow ? *cl.exitNow : travik::run(cl.options, messages, nullptr);
    } else {
        const ploven::CommandLine cl = ploven::parseCommandLine(argc, args.data(), out, messages);
        status = cl.exitNow ? *cl.exitNow : ploven::run(cl.options, nullptr, messages, nullptr);
    }
    err = messages.str();
    return status;
}

} // namespace

TEST(CommandLine, NoInputIsEverWritten) {
    // Each input ("@") carries an output's name in the output folder, in any letter case or
    // through a linked folder: refused with or without --force, and nothing is written.
    Folder f;
    const fs::path in = f.path / "in";
    const std::string deck = binaryDeck(5, 80, 3), elsewhere = (f.path / "study.inp").string();
    const std::string csv = "a,b,c\n1,0,1\n0,0,1\n1,1,1\n0,1,0\n1,0,0\n0,1,1\n1,1,0\n0,0,0\n";
    write(elsewhere, deck);
    fs::create_directory_symlink(in, f.path / "alias");
    const std::vector<std::tuple<std::string, std::string, std::vector<std::string>>> cases = {
        {"LAT.INP", csv, {"travik", "--csv", "@", "--binary", "a,b,c", "--force"}},
        {"latc.inp", csv, {"ploven", "--csv", "@", "--classes", "2", "--force"}},
        {"LI7.OUT", deck, {"travik", "@", "--force"}},
        {"FORT.2", deck, {"travik", "@"}}, // the progress file, also without --force
        {"MATRIX.OUT", deck, {"travik", "@", "-o", (f.path / "alias").string(), "--force"}},
        {"LI8.OUT", "0 1\n", {"travik", elsewhere, "--start", "@", "-o", in.string(), "--force"}},
    };
    std::string err;
    for (const auto& [name, text, args] : cases) {
        write(in / name, text);
        const std::string input = (in / name).string();
        std::vector<const char*> argv;
        for (const std::string& a : args) argv.push_back(a == "@" ? input.c_str() : a.c_str());
        EXPECT_EQ(runProgram(argv, err), 2) << name;
        EXPECT_TRUE(contains(err, "is the input " + input)) << err;
        EXPECT_EQ(read(in / name), text);
        EXPECT_EQ(std::distance(fs::directory_iterator(in), fs::directory_iterator()), 1) << name;
        fs::remove(in / name);
    }
    // The same file under another name: a hard link.
    fs::create_hard_link(elsewhere, in / "LI8.OUT");
    EXPECT_EQ(runProgram({"travik", elsewhere.c_str(), "-o", in.c_str(), "--force"}, err), 2);
    EXPECT_TRUE(contains(err, "is the input " + elsewhere + " (the same file through a link)"))
        << err;
    EXPECT_EQ(read(elsewhere), deck);
}

namespace {

// The program run as a child process in dir, standard input closed: its exit status and what it
// wrote on standard output and standard error together.
std::pair<int, std::string> runIn(const fs::path& dir, const char* exe,
                                  std::vector<std::string> args) {
    const fs::path said = dir.string() + ".said";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(said.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = ::open("/dev/null", O_RDONLY);
        if (out < 0 || in < 0 || ::chdir(dir.c_str()) != 0) ::_exit(120);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        std::vector<char*> argv{const_cast<char*>(exe)};
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(exe, argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), read(said)};
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

} // namespace

TEST(CommandLine, BothProgramsSayTheSameInTheSameSituation) {
    // {program}, {deck}, {report} and {dir} stand for each program's own; {model} for the model
    // options a CSV run needs; a file whose text is "/" is a folder.
    struct Situation {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files;
        std::vector<std::string> args;
        int status;
        std::string says;
    };
    const std::string help = "\nRun with --help for more information.\n";
    const std::string csv = "a,b,c\n1,0,1\n0,1,1\n";
    const std::vector<Situation> situations = {
        {"an empty folder",
         {},
         {},
         2,
         "{program}: no input deck {deck} (in any letter case) in {dir}/\n"},
        {"a missing deck path",
         {},
         {"study.inp"},
         2,
         "{program}: the deck study.inp does not exist\n"},
        {"a deck that is a folder",
         {{"{deck}", "/"}},
         {},
         2,
         "{program}: {deck} is a folder, not a file (./{deck})\n"},
        {"a missing CSV file",
         {},
         {"--csv", "data.csv", "{model}"},
         2,
         "{program}: cannot open data.csv\n"},
        {"an unreadable CSV file",
         {{"data.csv", "a,b,c\n1,0\n"}},
         {"--csv", "data.csv", "{model}"},
         2,
         "{program}: data.csv line 2, column 3 (\"c\"): the record ends after 2 of 3 fields\n"},
        {"an output named like the input",
         {{"{report}", csv}},
         {"--csv", "{report}", "{model}", "--force"},
         2,
         "{program}: the output {report} in {dir}/ is the input {report}; no run writes a file it "
         "reads, with or without --force: give the outputs another folder with -o\n"},
        {"an existing output without --force",
         {{"{deck}", "x\n"}, {"{report}", "old\n"}},
         {},
         2,
         "{program}: {report} already exists in {dir}/; remove it, run in an empty folder or use "
         "--force\n"},
        {"an output folder that is a file",
         {{"{deck}", "x\n"}, {"out", ""}},
         {"{deck}", "-o", "out"},
         2,
         "{program}: cannot make the output folder {dir}/out: Not a directory\n"},
        {"a bad option value",
         {},
         {"--csv", "data.csv", "{model}", "--max-cycles", "0"},
         2,
         "--max-cycles takes a whole number from 1 to 100000, not 0" + help},
        {"an unknown option",
         {},
         {"--bogus"},
         2,
         "The following argument was not expected: --bogus" + help},
        {"a model option without --csv", {}, {"--id", "person"}, 2, "--id requires --csv" + help},
        {"a deck and a CSV file",
         {},
         {"study.inp", "--csv", "data.csv", "{model}"},
         2,
         "DECK excludes --csv" + help},
        {"both kinds of EM",
         {},
         {"--accelerate", "--no-accelerate"},
         2,
         "--accelerate excludes --no-accelerate" + help},
        {"the version asked for",
         {},
         {"--version"},
         0,
         std::string("{program} ") + LATENT_VERSION + "\n"},
    };
    struct Program {
        const char* exe;
        const latent::EstimatorFiles& files;
        std::vector<std::string> model;
    };
    const std::vector<Program> programs = {
        {TRAVIK_EXE, latent::kTravikFiles, {"--binary", "a,b,c"}},
        {PLOVEN_EXE, latent::kPlovenFiles, {"--classes", "2"}},
    };
    Folder f;
    int number = 0;
    for (const Situation& s : situations) {
        for (const Program& p : programs) {
            auto own = [&](std::string text) {
                replaceAll(text, "{program}", std::string(p.files.program));
                replaceAll(text, "{deck}", std::string(p.files.deck));
                replaceAll(text, "{report}", std::string(p.files.report));
                return text;
            };
            const fs::path dir = f.path / std::to_string(++number);
            fs::create_directory(dir);
            for (const auto& [name, text] : s.files) {
                if (text == "/")
                    fs::create_directory(dir / own(name));
                else
                    write(dir / own(name), text);
            }
            std::vector<std::string> args;
            for (const std::string& a : s.args) {
                if (a == "{model}")
                    args.insert(args.end(), p.model.begin(), p.model.end());
                else
                    args.push_back(own(a));
            }
            std::string says = own(s.says);
            replaceAll(says, "{dir}", fs::canonical(dir).string());
            const auto [status, said] = runIn(dir, p.exe, args);
            EXPECT_EQ(status, s.status) << p.files.program << ", " << s.what << ": " << said;
            EXPECT_EQ(said, says) << p.files.program << ", " << s.what;
            // A run that stops with status 2 leaves the folder as it found it.
            EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()),
                      static_cast<long>(s.files.size()))
                << p.files.program << ", " << s.what;
        }
    }
}

namespace {

// Answers to three binary items by two groups of cases of unlike answer rates.
std::string twoGroupsCsv(int cases) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::string csv = "a,b,c\n";
    for (int k = 0; k < cases; ++k) {
        const double rate = k % 2 == 0 ? 0.8 : 0.25;
        for (int i = 0; i < 3; ++i)
            csv += std::string(i ? "," : "") + (u(random) < rate ? "1" : "0");
        csv += '\n';
    }
    return csv;
}

} // namespace

TEST(CommandLine, EveryFitEndsWithOneLineOnHowItEnded) {
    Folder f;
    write(f.path / "data.csv", twoGroupsCsv(300));
    struct Program {
        const char* exe;
        latent::EstimatorFiles files;
        std::vector<std::string> model;
    };
    const std::vector<Program> programs = {
        {TRAVIK_EXE, latent::kTravikFiles, {"--binary", "a,b,c"}},
        {PLOVEN_EXE, latent::kPlovenFiles, {"--classes", "2"}}};
    for (const Program& p : programs) {
        const std::string program(p.files.program), report(p.files.report);
        auto lastLine = [](const std::string& said) {
            const auto from = said.rfind('\n', said.size() - 2);
            return said.substr(from == std::string::npos ? 0 : from + 1);
        };
        std::vector<std::string> args = {"--csv", "data.csv"};
        args.insert(args.end(), p.model.begin(), p.model.end());

        // A converged fit: the report named from the current folder.
        std::vector<std::string> fit = args;
        fit.insert(fit.end(), {"-o", "fit-" + program});
        auto [status, said] = runIn(f.path, p.exe, fit);
        ASSERT_EQ(status, 0) << said;
        std::string line = lastLine(said);
        EXPECT_TRUE(line.starts_with(program + ": converged in ")) << line;
        EXPECT_TRUE(line.ends_with("; report fit-" + program + "/" + report + "\n")) << line;

        // Out of cycles: the limit is the option's, said once, on the run's last line.
        std::vector<std::string> shortFit = args;
        shortFit.insert(shortFit.end(), {"--max-cycles", "1", "-o", "short-" + program});
        std::tie(status, said) = runIn(f.path, p.exe, shortFit);
        EXPECT_EQ(status, 1) << said;
        line = lastLine(said);
        EXPECT_TRUE(
            line.starts_with(program + ": no convergence within 1 cycle (raise --max-cycles)"))
            << said;
        EXPECT_TRUE(line.ends_with("; report short-" + program + "/" + report + "\n")) << line;
        EXPECT_EQ(said.find("MAXIT"), std::string::npos) << said;
        EXPECT_EQ(said.find("no convergence"), said.rfind("no convergence")) << said;
    }
}

namespace {

// The entry of --help for an option (its line, and the next when the description is there),
// with the program's name and the default value left out.
std::string helpEntry(const std::string& help, const std::string& option, const char* program) {
    auto at = help.find("\n  " + option + " ");
    if (at == std::string::npos) return "";
    auto end = help.find('\n', at + 1);
    if (help.compare(end + 1, 8, std::string(8, ' ')) == 0) end = help.find('\n', end + 1);
    std::string entry = help.substr(at, end - at);
    replaceAll(entry, program, "PROGRAM");
    const auto value = entry.find('=');
    if (value != std::string::npos) entry.erase(value, entry.find(' ', value) - value);
    return entry;
}

} // namespace

TEST(CommandLine, EachProgramKeepsItsOptionsAndTheCommonOnesReadAlike) {
    const std::string travik = parse(travik::parseCommandLine, {"travik", "--help"}).out;
    const std::string ploven = parse(ploven::parseCommandLine, {"ploven", "--help"}).out;
    for (const char* option : {"DECK", "--version", "-o,--output-dir", "--force", "--accelerate",
                               "--no-accelerate", "--id", "--max-cycles", "--missing"}) {
        EXPECT_FALSE(helpEntry(travik, option, "travik").empty()) << option;
        EXPECT_EQ(helpEntry(travik, option, "travik"), helpEntry(ploven, option, "ploven"));
    }
    // ploven's --csv also needs --classes; what it reads is said alike.
    for (const std::string* help : {&travik, &ploven})
        EXPECT_NE(help->find("Data from a CSV file with a header row, instead of DECK"),
                  std::string::npos);
    for (const char* option :
         {"--start", "--points", "--binary", "--normal", "--nominal", "--ordinal", "--factors",
          "--tolerance", "--scores", "--save-estimates"})
        EXPECT_FALSE(helpEntry(travik, option, "travik").empty()) << option;
    for (const char* option :
         {"--starts", "--seed", "--classes", "--items", "--se", "--simulate", "--tolerance"})
        EXPECT_FALSE(helpEntry(ploven, option, "ploven").empty()) << option;
}

TEST(CommandLine, WhatStopsARunEndsItWithStatusTwoAndOneMessage) {
    const std::vector<std::pair<std::function<int()>, std::string>> runs = {
        {[] { return 1; }, ""},
        {[]() -> int { throw latent::InputError("travik: LAT.INP line 2: bad"); },
         "travik: LAT.INP line 2: bad\n"},
        {[]() -> int { throw std::bad_alloc(); }, "travik: not enough memory for this deck\n"},
        {[]() -> int { throw std::runtime_error("the folder is gone"); },
         "travik: the folder is gone\n"},
    };
    for (const auto& [body, says] : runs) {
        std::ostringstream err;
        EXPECT_EQ(runshell::guardedRun("travik", err, body), says.empty() ? 1 : 2);
        EXPECT_EQ(err.str(), says);
    }
}
