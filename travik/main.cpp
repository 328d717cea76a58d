// travik: the latent trait estimator. `travik --help` lists the options; without arguments it
// runs on LAT.INP in the current folder.
#include "travik/cli.hpp"
#include "travik/run.hpp"

#include <cstdio>
#include <iostream>

int main(int argc, char** argv) {
    const travik::CommandLine cl = travik::parseCommandLine(argc, argv, std::cout, std::cerr);
    if (cl.exitNow) return *cl.exitNow;
    return travik::run(cl.options, std::cerr, stdin);
}
