#include "travik/run.hpp"

#include "fixedio/files.hpp"
#include "fixedio/freeread.hpp"
#include "travik/deck.hpp"
#include "travik/model_state.hpp"
#include "travik/report_header.hpp"

#include <new>

namespace travik {

namespace fs = std::filesystem;
using fixedio::InputError;
using fixedio::OutputFile;

namespace {

constexpr const char* kProgram = "travik";

struct RunFiles {
    fs::path dir;
    fs::path deck;
    OutputFile report;    // LI7.OUT
    OutputFile estimates; // LI8.OUT
    OutputFile matrix;    // MATRIX.OUT
};

RunFiles openFiles(const fs::path& dir) {
    RunFiles files;
    files.dir = dir;
    auto deck = fixedio::findFixedName(dir, "LAT.INP", kProgram);
    if (!deck) {
        throw InputError(std::string(kProgram) + ": no input deck LAT.INP (in any letter case) in " +
                         fs::absolute(dir).lexically_normal().string());
    }
    files.deck = *deck;
    // All three names are checked before any is created, so a refused run leaves nothing behind.
    for (const char* name : {"LI7.OUT", "LI8.OUT", "MATRIX.OUT"})
        if (fixedio::findFixedName(dir, name, kProgram)) fixedio::createNew(dir, name, kProgram);
    files.report = fixedio::createNew(dir, "LI7.OUT", kProgram);
    files.estimates = fixedio::createNew(dir, "LI8.OUT", kProgram);
    files.matrix = fixedio::createNew(dir, "MATRIX.OUT", kProgram);
    return files;
}

void readOrGenerateStartingValues(const RunFiles& files, ModelState& m) {
    if (m.deck.init == 0) {
        generateStartingValues(m);
        return;
    }
    auto path = fixedio::findFixedName(files.dir, "LAT3.INP", kProgram);
    if (!path) {
        throw InputError(std::string(kProgram) + ": the deck asks for starting values (INIT = " +
                         std::to_string(m.deck.init) + ") but there is no LAT3.INP in " +
                         fs::absolute(files.dir).lexically_normal().string());
    }
    fixedio::FreeReader in = fixedio::FreeReader::fromFile(kProgram, *path, path->filename().string());
    readStartingValues(in, m);
}

int run(const fs::path& dir, std::FILE* consoleIn) {
    (void)consoleIn;
    RunFiles files = openFiles(dir);
    ModelState m;
    fixedio::FreeReader deck =
        fixedio::FreeReader::fromFile(kProgram, files.deck, files.deck.filename().string());
    if (auto message = readDeck(deck, m)) {
        files.report.put(*message);
        return 1;
    }
    computeObservedMargins(m);
    files.report.put(headerSection(m));
    readOrGenerateStartingValues(files, m);
    files.report.put(initialEstimatesSection(m));
    files.report.close();
    files.estimates.close();
    files.matrix.close();
    return 0;
}

} // namespace

int runInFolder(const fs::path& dir, std::ostream& err, std::FILE* consoleIn) {
    try {
        return run(dir, consoleIn);
    } catch (const InputError& e) {
        err << e.what() << '\n';
    } catch (const std::bad_alloc&) {
        err << kProgram << ": not enough memory for this deck\n";
    }
    return 2;
}

} // namespace travik
