// ploven: the latent class estimator. `ploven --help` lists the options; without arguments it
// runs on LATC.INP in the current folder.
#include "ploven/cli.hpp"
#include "ploven/run.hpp"

#include <csignal>
#include <cstdio>
#include <iostream>

int main(int argc, char** argv) {
    // Past a file-size limit a write then fails with EFBIG, which ends the run with a message
    // and no files left behind, as a full disk does, instead of killing the program silently.
    std::signal(SIGXFSZ, SIG_IGN);
    const ploven::CommandLine cl = ploven::parseCommandLine(argc, argv, std::cout, std::cerr);
    if (cl.exitNow) return *cl.exitNow;
    return ploven::run(cl.options, stdin, std::cerr, stdout);
}
