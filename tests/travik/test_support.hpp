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
