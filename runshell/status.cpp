#include "runshell/status.hpp"

#include "latent/input_error.hpp"

#include <exception>
#include <new>

namespace runshell {

void sayEnding(std::string_view program, std::string_view reason, std::ostream& err) {
    err << program << ": " << reason << '\n';
}

void sayWarning(std::string_view program, std::string_view text, std::ostream& err) {
    err << program << ": warning: " << text << '\n';
}

int failed(std::string_view program, std::ostream& err) {
    try {
        throw;
    } catch (const latent::InputError& e) {
        err << e.what() << '\n';
    } catch (const std::bad_alloc&) {
        err << program << ": not enough memory for this deck\n";
    } catch (const std::exception& e) {
        err << program << ": " << e.what() << '\n';
    }
    return kInputError;
}

} // namespace runshell
