#include "travik/irt_parameters.hpp"

#include "travik/parameter_vector.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace travik {

namespace {

// A quantity with its derivatives with respect to the positions it depends on.
struct Linearized {
    double value = 0;
    std::vector<std::pair<int, double>> gradient;
    bool differentiable = true;
};

// The delta-method standard error, when every position the quantity moves with has one.
std::optional<double> deltaError(const Linearized& g, const Covariance* cov) {
    if (!g.differentiable || cov == nullptr || !cov->unavailable.empty()) return std::nullopt;
    const auto count = static_cast<std::size_t>(cov->layout.count);
    if (cov->cov.size() != count * count) return std::nullopt;
    std::vector<std::pair<int, double>> terms;
    for (const auto& [position, derivative] : g.gradient) {
        // The fixed loading is a constant.
        if (position == cov->fixed || derivative == 0.0) continue;
        if (std::binary_search(cov->withoutErrors.begin(), cov->withoutErrors.end(), position))
            return std::nullopt;
        terms.emplace_back(position, derivative);
    }
    double variance = 0;
    for (const auto& [a, da] : terms)
        for (const auto& [b, db] : terms)
            variance += da * db *
                        cov->cov[static_cast<std::size_t>(a) * count + static_cast<std::size_t>(b)];
    if (!std::isfinite(variance) || variance < 0.0) return std::nullopt;
    return std::sqrt(variance);
}

IrtValue withError(const Linearized& g, const Covariance* cov) {
    return {g.value, deltaError(g, cov)};
}

// The loadings of one item, each with its position.
struct Discrimination {
    std::vector<std::pair<int, double>> loadings; // one per factor
};

// a_1 or a_2 itself.
Linearized loading(const Discrimination& d, std::size_t k) {
    return {d.loadings[k].second, {{d.loadings[k].first, 1.0}}, true};
}

// The scale a difficulty is measured against: a with one factor, MDISC with two.
Linearized scale(const Discrimination& d) {
    if (d.loadings.size() == 1) return loading(d, 0);
    double sum = 0;
    for (const auto& l : d.loadings) sum += l.second * l.second;
    Linearized s{std::sqrt(sum), {}, sum > 0.0};
    if (s.differentiable)
        for (const auto& [position, a] : d.loadings) s.gradient.emplace_back(position, a / s.value);
    return s;
}

// MDISC: |a| with one factor.
Linearized multidimensionalDiscrimination(const Discrimination& d) {
    Linearized s = scale(d);
    if (d.loadings.size() == 1) {
        const double sign = s.value > 0.0 ? 1.0 : -1.0;
        s.differentiable = s.value != 0.0;
        s.value = std::abs(s.value);
        s.gradient[0].second = sign;
    }
    return s;
}

// A difficulty numerator / scale, the numerator (-intercept or a threshold) being
// sign * the parameter at position.
IrtValue difficulty(const Discrimination& d, int position, double sign, double parameter,
                    const Covariance* cov) {
    const Linearized s = scale(d);
    if (!(std::abs(s.value) >= kSmallestDiscrimination)) return {};
    const double numerator = sign * parameter;
    Linearized b{numerator / s.value, {{position, sign / s.value}}, s.differentiable};
    for (const auto& [at, ds] : s.gradient)
        b.gradient.emplace_back(at, -numerator / (s.value * s.value) * ds);
    return withError(b, cov);
}

void fillDiscriminations(const Discrimination& d, const Covariance* cov, IrtValue& a1, IrtValue& a2,
                         IrtValue& mdisc) {
    a1 = withError(loading(d, 0), cov);
    if (d.loadings.size() == 2) a2 = withError(loading(d, 1), cov);
    mdisc = withError(multidimensionalDiscrimination(d), cov);
}

} // namespace

IrtParameters irtParameters(const Deck& d, const Parameters& p, const Covariance* cov) {
    const int nf = d.nf;
    const ParameterLayout layout = parameterLayout(d);
    IrtParameters out;
    out.factors = nf;
    for (int i = 0; i < d.nb; ++i) {
        const auto& alpha = p.binary[i].alpha;
        Discrimination disc;
        for (int m = 1; m <= nf; ++m)
            disc.loadings.emplace_back(layout.binaryAt(nf, i, m), alpha[m]);
        BinaryIrt item;
        fillDiscriminations(disc, cov, item.a1, item.a2, item.mdisc);
        item.difficulty = difficulty(disc, layout.binaryAt(nf, i, 0), -1.0, alpha[0], cov);
        out.binary.push_back(item);
    }
    for (int i = 0; i < d.no; ++i) {
        const OrdinalItem& o = p.ordinal[i];
        const int categories = d.o[i];
        Discrimination disc;
        for (int m = 1; m <= nf; ++m)
            disc.loadings.emplace_back(layout.ordinal[i] + categories - 1 + m - 1, o.ao[m]);
        OrdinalIrt item;
        fillDiscriminations(disc, cov, item.a1, item.a2, item.mdisc);
        for (int c = 1; c < categories; ++c)
            item.thresholds.push_back(
                difficulty(disc, layout.ordinal[i] + c - 1, 1.0, o.thr[c], cov));
        out.ordinal.push_back(item);
    }
    return out;
}

} // namespace travik
