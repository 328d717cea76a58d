#include "runshell/outputs.hpp"

#include <algorithm>
#include <string>
#include <vector>

namespace runshell {

namespace {

// The checks before anything is created; returns the names to stage.
std::vector<std::string> checkedNames(const latent::EstimatorFiles& files, const Input& input,
                                      const std::vector<std::string_view>& notWritten) {
    fixedio::createOutputFolder(input.outputDir, files.program);
    std::vector<std::string> names;
    for (std::string_view name : files.outputs)
        if (std::find(notWritten.begin(), notWritten.end(), name) == notWritten.end())
            names.emplace_back(name);
    if (input.fromCsv) names.emplace_back(files.deck);
    std::vector<std::string> written = names;
    written.emplace_back(files.progress);
    fixedio::requireNoInputAmongOutputs(input.outputDir, written, input.inputs, files.program);
    fixedio::requireWritableName(input.outputDir, files.progress, files.program);
    return names;
}

} // namespace

Outputs::Outputs(const latent::EstimatorFiles& files, const Input& input, bool force,
                 const std::vector<std::string_view>& notWritten)
    : staged_(input.outputDir, std::string(files.program), checkedNames(files, input, notWritten),
              force),
      progress_(input.outputDir, std::string(files.progress), std::string(files.program)) {
    if (input.fromCsv) staged_.file(files.deck).put(input.content);
}

void Outputs::commit() {
    progress_.close();
    staged_.commit();
}

} // namespace runshell
