// The error of a run that cannot go on because of its input or its files: the deck, the CSV
// file, the command line, an output folder. Its message is complete and names the place
// ("travik: LAT.INP line 3: ..."); the programs print it and end with status 2.
#pragma once

#include <stdexcept>

namespace latent {

class InputError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

} // namespace latent
