// gfortran prints the same edit descriptors; where it is installed it serves as an independent
// oracle for thousands of random values.
#include "fixedio/layout.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool haveGfortran() {
    return std::system("command -v gfortran >/dev/null 2>&1") == 0;
}

// Compiles and runs a Fortran program in a fresh folder; returns its standard output.
std::string runFortran(const std::string& source, const std::string& input) {
    fs::path dir = fs::temp_directory_path() / ("fixedio-oracle-" + std::to_string(::getpid()) +
                                                "-" + std::to_string(std::rand()));
    fs::create_directories(dir);
    std::ofstream(dir / "p.f90") << source;
    std::ofstream(dir / "in.txt") << input;
    std::string cmd = "cd '" + dir.string() +
                      "' && gfortran -O0 p.f90 -o p >build.log 2>&1 && ./p <in.txt >out.txt";
    int rc = std::system(cmd.c_str());
    std::ifstream out(dir / "out.txt");
    std::stringstream text;
    text << out.rdbuf();
    fs::remove_all(dir);
    if (rc != 0) return "(gfortran failed)";
    return text.str();
}

const char* const kRealFormats[] = {"F10.4", "F5.3",  "F6.3", "F8.0", "F12.5", "F9.4",
                                    "F4.3",  "F15.5", "F7.3", "F3.1", "F13.6", "F11.4"};

} // namespace

TEST(LayoutOracle, RealFieldsAgreeWithGfortranOnRandomValues) {
    if (!haveGfortran()) GTEST_SKIP() << "gfortran not installed";
    std::mt19937_64 rng(20261207);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> scale(-6, 7);
    std::vector<double> values;
    for (int i = 0; i < 3000; ++i) {
        double v = unit(rng) * std::pow(10.0, scale(rng));
        if (i % 5 == 0) v = std::round(v * 16.0) / 16.0;              // exact binary ties
        if (i % 7 == 0) v = std::round(v * 1000.0) / 1000.0 + 0.0005; // near decimal ties
        values.push_back(v);
    }
    values.insert(values.end(), {0.0, -0.0, 0.5, -0.5, 0.05, -0.05, 1e-9, -1e-9, 99999.99995});

    std::string input = std::to_string(values.size()) + "\n";
    char buf[64];
    for (double v : values) {
        std::snprintf(buf, sizeof buf, "%.17g\n", v);
        input += buf;
    }
    std::string source = "program p\n  integer :: n, i\n  double precision :: v\n  read(*,*) n\n"
                         "  do i = 1, n\n    read(*,*) v\n";
    // Each format, then its minimal width F0.d: a defined value too wide for its field is
    // written in just the width it needs, where Fortran would write asterisks.
    for (const char* f : kRealFormats) {
        const std::string minimal = std::string("F0") + std::strchr(f, '.');
        source += std::string("    write(*,'(") + f + ")') v\n";
        source += "    write(*,'(" + minimal + ")') v\n";
    }
    source += "  end do\nend program\n";
    std::string expected = runFortran(source, input);
    ASSERT_NE(expected, "(gfortran failed)");

    std::string actual;
    for (double v : values)
        for (const char* f : kRealFormats) actual += fixedio::Layout(f).format({v});
    std::istringstream e(expected), a(actual);
    std::string le, minimal, la;
    int line = 0, mismatches = 0, widened = 0;
    while (std::getline(e, le) && std::getline(e, minimal)) {
        ++line;
        ASSERT_TRUE(std::getline(a, la)) << "fewer lines than gfortran at " << line;
        if (le.find_first_not_of('*') == std::string::npos) {
            le = minimal;
            ++widened;
        }
        if (le != la && ++mismatches <= 10)
            ADD_FAILURE() << "line " << line << ": gfortran \"" << le << "\", layout \"" << la
                          << "\"";
    }
    EXPECT_GT(widened, 100); // the values reach well past the narrow fields
    EXPECT_EQ(mismatches, 0);
    EXPECT_FALSE(std::getline(a, la)) << "more lines than gfortran";
}

TEST(LayoutOracle, GroupsAndContinuationAgreeWithGfortran) {
    if (!haveGfortran()) GTEST_SKIP() << "gfortran not installed";
    struct Case {
        const char* layout;
        int count;
    };
    const Case cases[] = {
        {"5X,9(1X,F8.6,'(',F8.6,')')", 20}, {"10F10.4", 13},
        {"5X,I5,5X,I5,5X,40I1", 9},         {"40F5.3", 85},
        {"1X,F5.1,9(1X,F8.6)", 11},         {"3(3X,F9.4)", 12},
        {"I6,1X,I2,1X,40I2", 45},           {"3X,F5.1,6X,2(F7.3,4X)", 6},
    };
    std::string source =
        "program p\n  double precision :: v(100)\n  integer :: k(100)\n"
        "  do i = 1, 100\n    v(i) = i * 0.0137d0 - 0.3d0\n    k(i) = mod(i*7, 10)\n  end do\n";
    for (const Case& c : cases) {
        std::string layout = c.layout;
        bool integers =
            layout.find('I') != std::string::npos && layout.find('F') == std::string::npos;
        source += std::string("  write(*,\"(") + c.layout + ")\") " + (integers ? "k" : "v") +
                  "(1:" + std::to_string(c.count) + ")\n";
    }
    source += "end program\n";
    std::string expected = runFortran(source, "");
    ASSERT_NE(expected, "(gfortran failed)");
    // Mixed layouts take integers where the layout has I and reals where it has F.
    std::string actual;
    for (const Case& c : cases) {
        fixedio::Layout layout(c.layout);
        std::string text = c.layout;
        bool integers = text.find('I') != std::string::npos && text.find('F') == std::string::npos;
        std::vector<fixedio::Value> values;
        for (int i = 1; i <= c.count; ++i) {
            if (integers)
                values.emplace_back((i * 7) % 10);
            else
                values.emplace_back(i * 0.0137 - 0.3);
        }
        actual += layout.format(values);
    }
    EXPECT_EQ(actual, expected);
}
