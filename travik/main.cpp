#include "travik/run.hpp"

#include <cstdio>
#include <iostream>

// The current folder is named ".", so a folder removed under the program gives a message
// from the run instead of an exception here.
int main() { return travik::runInFolder(".", std::cerr, stdin); }
