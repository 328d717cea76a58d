// The message of the InputError an action throws, or "no error".
#pragma once

#include "fixedio/freeread.hpp"

#include <string>

namespace csvio_test {

template <class Action> std::string errorOf(Action action) {
    try {
        action();
    } catch (const latent::InputError& e) {
        return e.what();
    }
    return "no error";
}

} // namespace csvio_test
