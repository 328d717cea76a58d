#include "oruk/core/readermessage.hpp"

namespace oruk {

QString readerMessage(const latent::InputError& error, std::string_view source) {
    std::string_view message = error.what();
    if (message.starts_with(kReaderProgram) &&
        message.substr(kReaderProgram.size()).starts_with(": "))
        message.remove_prefix(kReaderProgram.size() + 2);
    if (!source.empty() && message.starts_with(source)) message.remove_prefix(source.size());
    return QString::fromUtf8(message.data(), qsizetype(message.size()));
}

} // namespace oruk
