// ploven: the latent class estimator. `ploven --help` lists the options; without arguments it
// runs on LATC.INP in the current folder.
#include "ploven/cli.hpp"
#include "ploven/run.hpp"

#include <cstdio>
#include <iostream>

int main(int argc, char** argv) {
    const ploven::CommandLine cl = ploven::parseCommandLine(argc, argv, std::cout, std::cerr);
    if (cl.exitNow) return *cl.exitNow;
    return ploven::run(cl.options, stdin, std::cerr, stdout);
}
