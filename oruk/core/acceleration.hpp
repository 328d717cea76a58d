// Accelerated EM as the front end offers it: one choice per estimator, on unless the user
// switches it off, kept between sessions beside the editor (application "Oruk", group
// "Settings", keys "TravikAccelerate" and "PlovenAccelerate").
#pragma once

#include "oruk/core/estimatorprofile.hpp"

#include <QString>

namespace oruk {

// The stored choice; true when none was ever stored.
bool storedAcceleration(Estimator estimator);

// Stores the choice and writes it out at once.
void storeAcceleration(Estimator estimator, bool accelerate);

// What the choice does, for the tool tips of its check boxes.
QString accelerationToolTip();

} // namespace oruk
