#include "travik/identification.hpp"

#include "travik/parameter_vector.hpp"

#include <cmath>

namespace travik {

Anchor anchorItem(const Deck& d) {
    if (d.nf != 2) return Anchor::None;
    if (d.nb > 0) return Anchor::Binary;
    if (d.nn > 0) return Anchor::Normal;
    if (d.nc > 0) return Anchor::Nominal;
    if (d.no > 0) return Anchor::Ordinal;
    return Anchor::None;
}

int freeLoadings(const Deck& d, Anchor type, int i, int category) {
    if (i == 0 && category == 2 && type == anchorItem(d)) return 1;
    return d.nf;
}

namespace {

// The constrained item's loadings on the two factors.
double* anchorLoadings(const Deck& d, Parameters& p, double*& second) {
    switch (anchorItem(d)) {
    case Anchor::Binary:
        second = &p.binary[0].alpha[2];
        return &p.binary[0].alpha[1];
    case Anchor::Normal:
        second = &p.normal[0].lambda2;
        return &p.normal[0].lambda1;
    case Anchor::Nominal:
        second = &p.nominal[0].ac[2][2];
        return &p.nominal[0].ac[2][1];
    case Anchor::Ordinal:
        second = &p.ordinal[0].ao[2];
        return &p.ordinal[0].ao[1];
    case Anchor::None:
        break;
    }
    second = nullptr;
    return nullptr;
}

} // namespace

void rotateToAnchor(const Deck& d, Parameters& p) {
    double* second = nullptr;
    double* first = anchorLoadings(d, p, second);
    if (!first) return;
    const double length = std::hypot(*first, *second);
    if (!(length > 0.0) || !std::isfinite(length)) return;
    const double c = *first / length, s = *second / length;
    // (l1, l2) -> (c l1 + s l2, -s l1 + c l2): the constrained item's pair becomes (length, 0).
    auto rotate = [&](double& l1, double& l2) {
        const double a = l1, b = l2;
        l1 = c * a + s * b;
        l2 = -s * a + c * b;
    };
    for (BinaryItem& b : p.binary) rotate(b.alpha[1], b.alpha[2]);
    for (NormalItem& n : p.normal) rotate(n.lambda1, n.lambda2);
    for (NominalItem& item : p.nominal)
        for (int j = 2; j <= item.categories; ++j) rotate(item.ac[j][1], item.ac[j][2]);
    for (OrdinalItem& o : p.ordinal) rotate(o.ao[1], o.ao[2]);
    // Exactly: the rotation leaves rounding in the constrained loading.
    *first = length;
    *second = 0.0;
}

std::string fixedLoadingName(const Deck& d) {
    static const char* const names[] = {"", "binary item 1's loading", "normal item 1's loading",
                                        "nominal item 1's category 2 loading",
                                        "ordinal item 1's loading"};
    return names[static_cast<int>(anchorItem(d))];
}

int fixedLoadingPosition(const Deck& d, const ParameterLayout& l) {
    switch (anchorItem(d)) {
    case Anchor::Binary:
        return l.binaryAt(2, 0, 2);
    case Anchor::Normal:
        return l.normal[0] + 2;
    case Anchor::Nominal:
        return l.nominal[0] + 2;
    case Anchor::Ordinal:
        return l.ordinal[0] + d.o[0]; // thresholds 1..O-1, loading 1, then loading 2
    case Anchor::None:
        break;
    }
    return -1;
}

} // namespace travik
