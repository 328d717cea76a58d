// Helpers shared by the travik tests: a scratch folder per test and an in-process run.
#pragma once

#include "travik/run.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace travik_test {

namespace fs = std::filesystem;

struct TempFolder {
    fs::path path;
    TempFolder() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path = fs::temp_directory_path() / ("travik-" + std::to_string(::getpid()) + "-" +
                                            info->test_suite_name() + "-" + info->name());
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempFolder() { fs::remove_all(path); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
};

inline void writeFile(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

inline std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Standard error without the summary line a converged run ends with; the text unchanged (and
// so unequal to what a test expects) when its last line is not that summary.
inline std::string withoutConvergedSummary(const std::string& errors) {
    const std::size_t last = errors.rfind('\n', errors.size() < 2 ? 0 : errors.size() - 2);
    const std::size_t start = last == std::string::npos ? 0 : last + 1;
    return errors.compare(start, 21, "travik: converged in ") == 0 ? errors.substr(0, start)
                                                                   : errors;
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

struct RunResult {
    int status;
    std::string errors;
    std::string report;
};

// Runs travik on a deck in a fresh folder (the folder is emptied first).
inline RunResult runDeck(const fs::path& dir, const std::string& deck,
                         const std::string& start = "") {
    for (const auto& e : fs::directory_iterator(dir)) fs::remove_all(e.path());
    writeFile(dir / "LAT.INP", deck);
    if (!start.empty()) writeFile(dir / "LAT3.INP", start);
    std::ostringstream err;
    int status = travik::runInFolder(dir, err, nullptr);
    return {status, err.str(), readFile(dir / "LI7.OUT")};
}

} // namespace travik_test
