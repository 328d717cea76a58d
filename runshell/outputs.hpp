// The files of one run in its output folder: every output the estimator lists (and, for a CSV
// run, the deck it built, so the analysis can be repeated) staged under temporary dot-names and
// named when the run ends by itself, and the progress file written directly as the run goes.
// Before anything is created the folder is made when missing, and the run is refused when an
// output would replace one of its inputs (with or without --force), when the progress file's
// name is a link or not a regular file, or when an output already exists without --force.
#pragma once

#include "fixedio/files.hpp"
#include "latent/file_names.hpp"
#include "runshell/input.hpp"

#include <string_view>
#include <vector>

namespace runshell {

class Outputs {
  public:
    // force: replace this program's own earlier outputs (only those found now). notWritten:
    // outputs this run does not write, which a leftover file of that name does not stop either.
    Outputs(const latent::EstimatorFiles& files, const Input& input, bool force,
            const std::vector<std::string_view>& notWritten = {});

    fixedio::OutputFile& file(std::string_view name) { return staged_.file(name); }
    fixedio::ProgressFile& progress() { return progress_; }

    // The run ended by itself: the progress file is closed and the outputs receive their names.
    void commit();

  private:
    fixedio::StagedOutputs staged_;
    fixedio::ProgressFile progress_;
};

} // namespace runshell
