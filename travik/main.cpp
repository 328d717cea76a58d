#include "travik/run.hpp"

#include <cstdio>
#include <filesystem>
#include <iostream>

int main() { return travik::runInFolder(std::filesystem::current_path(), std::cerr, stdin); }
