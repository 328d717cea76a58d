// The front end reads decks and CSV files with the estimators' own readers, under the program
// name "oruk". Their messages start with that name ("oruk: data.csv line 3: ..."), which the
// front end leaves out when it shows them.
#pragma once

#include "latent/input_error.hpp"

#include <QString>

#include <string>
#include <string_view>

namespace oruk {

// The program the readers name in their messages.
inline const std::string kReaderProgram = "oruk";

// The message of error without "oruk: " and, when the rest starts with it, without source
// ("data.csv " leaves "line 3: ...").
QString readerMessage(const latent::InputError& error, std::string_view source = {});

} // namespace oruk
