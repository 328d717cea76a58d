// The suite's version: the estimators' --version, the results files and the front end's About
// window all show this one.
#pragma once

namespace latent {

constexpr const char* version() {
    return LATENT_VERSION;
}

} // namespace latent
