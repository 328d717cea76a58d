// The report blocks that judge and interpret a fitted model, written after the convergence
// check: the limited-information fit, the fit of each item, the item pairs that look locally
// dependent, the rotated loadings of a two-factor model and the IRT parameters. Each is a block
// of its own with a "***...***" heading, in the upper case of the rest of the report, and empty
// when there is nothing to show.
#pragma once

#include "travik/irt_parameters.hpp"
#include "travik/item_fit.hpp"
#include "travik/limited_fit.hpp"
#include "travik/local_dependence.hpp"
#include "travik/model_state.hpp"
#include "travik/rotation.hpp"

#include <string>

namespace travik {

// Rows of the model's items in report order (binary, normal, nominal, ordinal), as "  1 BINARY".
std::string itemLabel(const Deck& d, int item);

// "***Limited-Information Fit***": M2 or C2 with its degrees of freedom and p value, the RMSEA
// with its 90% interval, SRMSR, CFI, TLI and the independence model's statistic; or why not.
std::string limitedFitSection(const LimitedInformationFit& f);

// "***Item Fit (S-X2)***": one row per item, or why there is none.
std::string itemFitSection(const Deck& d, const ItemFit& f);

// "***Local Dependence (LD X2)***": how many pairs were tested, then the flagged ones.
std::string localDependenceSection(const LocalDependence& ld);

// "***IRT Parameters (Logistic Metric)***": a and b of binary items (MDISC and MDIFF with two
// factors), a and the thresholds b_c of ordinal items, with delta-method standard errors; empty
// without binary and ordinal items.
std::string irtSection(const Deck& d, const IrtParameters& irt);

// "***Rotated Standardized Loadings***": the method, whether the rotation converged and how many
// starts reached the best criterion, one row per item (per category of a nominal item) and,
// for an oblique rotation, the factor correlation.
std::string rotationSection(const Deck& d, const StandardizedLoadings& unrotated,
                            const Rotation& r);

} // namespace travik
