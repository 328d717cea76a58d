// travik: the latent trait estimator. `travik --help` lists the options; without arguments it
// runs on LAT.INP in the current folder.
#include "travik/cli.hpp"
#include "travik/run.hpp"

#include <csignal>
#include <cstdio>
#include <iostream>

int main(int argc, char** argv) {
    // Past a file-size limit a write then fails with EFBIG, which ends the run with a message
    // and no files left behind, as a full disk does, instead of killing the program silently.
    std::signal(SIGXFSZ, SIG_IGN);
    const travik::CommandLine cl = travik::parseCommandLine(argc, argv, std::cout, std::cerr);
    if (cl.exitNow) return *cl.exitNow;
    return travik::run(cl.options, std::cerr, stdin);
}
