// ploven: the latent class estimator. `ploven --help` lists the options; without arguments it
// runs on LATC.INP in the current folder.
#include "ploven/cli.hpp"
#include "ploven/run.hpp"

#include <cstdio>
#include <iostream>

int main(int argc, char** argv) {
    return runshell::programMain(argc, argv, ploven::parseCommandLine,
                                 [](const ploven::RunOptions& options) {
                                     return ploven::run(options, stdin, std::cerr, stdout);
                                 });
}
