#include "travik/restart_file.hpp"

#include "fixedio/layout.hpp"

#include <cstdio>
#include <vector>

namespace travik {

namespace {

// A residual variance below this would print as 0.0000 and read back as no variance at all.
constexpr double kSmallestFixedVariance = 0.00005;

std::string record(const std::vector<double>& values, bool lastIsVariance = false) {
    static const fixedio::Layout field("3X,F8.4");
    std::string line;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const double v = values[i];
        if (lastIsVariance && i + 1 == values.size() && v > 0.0 && v < kSmallestFixedVariance) {
            char text[32];
            std::snprintf(text, sizeof text, "   %8.2E", v);
            line += text;
        } else {
            std::string f = field.format({v});
            f.pop_back(); // the line end
            line += f;
        }
    }
    return line + '\n';
}

} // namespace

std::string savedEstimates(const ModelState& m) {
    const Parameters& p = m.params;
    const bool two = m.deck.nf == 2;
    std::string out;
    for (const BinaryItem& b : p.binary)
        out +=
            two ? record({b.alpha[0], b.alpha[1], b.alpha[2]}) : record({b.alpha[0], b.alpha[1]});
    for (const NormalItem& n : p.normal)
        out += two ? record({n.mu, n.lambda1, n.lambda2, n.psi}, true)
                   : record({n.mu, n.lambda1, n.psi}, true);
    for (const NominalItem& c : p.nominal)
        for (int j = 2; j <= c.categories; ++j) {
            const auto& a = c.ac[j];
            out += two ? record({a[0], a[1], a[2]}) : record({a[0], a[1]});
        }
    for (const OrdinalItem& o : p.ordinal) {
        for (int j = 1; j < o.categories; ++j) out += record({o.thr[j]});
        out += two ? record({o.ao[1], o.ao[2]}) : record({o.ao[1]});
    }
    return out;
}

} // namespace travik
