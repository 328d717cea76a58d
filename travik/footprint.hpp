// The memory a travik run needs at its peak, for refusing a run that cannot fit before any work
// is done. The loops over cases hold one block of posterior weights per worker, never a table
// of every case by every grid point, so what grows with the cases is the data (with its folded
// response patterns and per-item category codes) and a few results per case.
#pragma once

#include "fixedio/memory.hpp"
#include "travik/model_state.hpp"

namespace travik {

// Cases, grid points and items from the deck; threads as the run uses them.
fixedio::Footprint runFootprint(const Deck& d, int threads);

} // namespace travik
