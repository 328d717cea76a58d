// ploven: the latent class estimator. Runs in the current folder; takes no arguments.
#include "ploven/run.hpp"

#include <cstdio>
#include <iostream>

int main() {
    return ploven::runInFolder(".", stdin, std::cerr, stdout);
}
