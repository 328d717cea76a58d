// The input of a run and where its outputs go. A run reads the deck under its fixed name in
// any letter case in a folder (the program without arguments), a deck given by path, or a CSV
// file whose columns the estimator turns into a deck. Nothing is created here: a missing input
// leaves no file behind. The options every estimator takes live here too; each estimator
// derives its own run options from CommonOptions.
#pragma once

#include "csvio/table.hpp"
#include "latent/file_names.hpp"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace runshell {

// Data from a CSV file and the model options that give its columns their roles: the run builds
// the deck from it and writes that deck beside its outputs.
template <class Model> struct CsvInput {
    std::filesystem::path file;
    Model model;
};

// What every run reads and where it writes.
template <class Model> struct CommonOptions {
    // The deck: a file of any name, or (empty) the fixed-name deck in any letter case in folder.
    std::filesystem::path deck;
    std::filesystem::path folder = ".";
    std::optional<CsvInput<Model>> csv; // instead of a deck
    // Where the outputs go (created when missing); empty: the folder of the deck or CSV file.
    std::filesystem::path outputDir;
    bool force = false; // replace this program's own outputs there
    // Accelerated EM (squared extrapolation); unset: on for a CSV run, off for a deck.
    std::optional<bool> accelerate;
    // Worker threads; 0: one per core. Results do not depend on it.
    int threads = 0;
    char delimiter = 0; // the CSV file's field separator; 0: detected from its header

    bool accelerated() const { return accelerate.value_or(csv.has_value()); }
};

// The deck a run reads, found or built, and the folders around it.
struct Input {
    std::filesystem::path outputDir;
    std::filesystem::path deckFolder; // the deck's or the CSV file's folder, never empty
    std::string label;                // the deck's name in messages
    std::string content;              // the deck's text
    bool fromCsv = false;             // content was built from a CSV file
    // Every file the run may read, which no output may be: the deck or CSV file, the starting
    // values given, and (for a deck) the restart file in any letter case beside it.
    std::vector<std::filesystem::path> inputs;
};

// Where to look, as the options say; csv unset for a deck run.
struct InputPlace {
    std::filesystem::path deck, folder;
    std::optional<std::filesystem::path> csv;
    std::filesystem::path outputDir;
    std::filesystem::path start; // starting values given by the user (empty: none)
    char delimiter = 0;          // the CSV file's field separator; 0: detected from its header
};

// Finds the deck, or reads the CSV file and gives its table to deckText, which returns the deck
// built from it. Throws latent::InputError: "PROGRAM: no input deck DECK (in any letter case)
// in FOLDER", "PROGRAM: the deck PATH does not exist", or what the readers say.
Input locateInput(const latent::EstimatorFiles& files, const InputPlace& place,
                  const std::function<std::string(const csvio::Table&)>& deckText);

// The input and what the estimator's deckFromCsv made of a CSV file.
template <class CsvDeck> struct Source : Input { std::optional<CsvDeck> csv; };

// locateInput for an estimator's options: deckFromCsv(table, model) returns its CSV deck, whose
// member deck is the deck's text.
template <class Model, class CsvDeck>
Source<CsvDeck> locateSource(const latent::EstimatorFiles& files,
                             const CommonOptions<Model>& options,
                             CsvDeck (*deckFromCsv)(const csvio::Table&, const Model&),
                             const std::filesystem::path& start = {}) {
    Source<CsvDeck> source;
    const InputPlace place{options.deck,
                           options.folder,
                           options.csv ? std::optional(options.csv->file) : std::nullopt,
                           options.outputDir,
                           start,
                           options.delimiter};
    static_cast<Input&>(source) = locateInput(files, place, [&](const csvio::Table& table) {
        source.csv = deckFromCsv(table, options.csv->model);
        return source.csv->deck;
    });
    return source;
}

} // namespace runshell
