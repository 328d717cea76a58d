#include "runshell/input.hpp"

#include "csvio/read.hpp"
#include "fixedio/files.hpp"
#include "fixedio/freeread.hpp"
#include "latent/input_error.hpp"

#include <system_error>

namespace runshell {

namespace fs = std::filesystem;

Input locateInput(const latent::EstimatorFiles& files, const InputPlace& place,
                  const std::function<std::string(const csvio::Table&)>& deckText) {
    const std::string program(files.program);
    Input input;
    if (place.csv) {
        input.content = deckText(csvio::readCsvFile(program, *place.csv, place.delimiter));
        input.fromCsv = true;
        input.label = files.deck;
        input.deckFolder = place.csv->parent_path();
        input.inputs.push_back(*place.csv);
    } else {
        fs::path deck = place.deck;
        if (deck.empty()) {
            const std::optional<fs::path> found =
                fixedio::findFixedName(place.folder, files.deck, program);
            if (!found)
                throw latent::InputError(program + ": no input deck " + std::string(files.deck) +
                                         " (in any letter case) in " +
                                         fixedio::folderName(place.folder));
            deck = *found;
        }
        std::error_code ec;
        if (!fs::exists(deck, ec))
            throw latent::InputError(program + ": the deck " + deck.string() + " does not exist");
        input.label = place.deck.empty() ? deck.filename().string() : deck.string();
        input.content = fixedio::FreeReader::fileContent(program, deck, input.label);
        input.deckFolder = place.deck.empty() ? place.folder : deck.parent_path();
        input.inputs.push_back(deck);
    }
    if (input.deckFolder.empty()) input.deckFolder = ".";
    // Starting values are read only when the deck asks for them, but they are the user's file
    // whether or not this run reads them.
    if (!place.start.empty()) input.inputs.push_back(place.start);
    if (!place.csv && !files.restart.empty())
        for (const fs::path& p :
             fixedio::entriesIgnoringCase(input.deckFolder, files.restart, program))
            input.inputs.push_back(p);
    input.outputDir = place.outputDir.empty() ? input.deckFolder : place.outputDir;
    return input;
}

} // namespace runshell
