// travik: the latent trait estimator. `travik --help` lists the options; without arguments it
// runs on LAT.INP in the current folder.
#include "travik/cli.hpp"
#include "travik/run.hpp"

#include <cstdio>
#include <iostream>

int main(int argc, char** argv) {
    return runshell::programMain(
        argc, argv, travik::parseCommandLine,
        [](const travik::RunOptions& options) { return travik::run(options, std::cerr, stdin); });
}
