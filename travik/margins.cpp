#include "travik/margins.hpp"

#include "fixedio/layout.hpp"

namespace travik {

using fixedio::Layout;

std::string prodma(const StandardizedLoadings& s) {
    static const Layout row("10F9.3");
    std::string out;
    const std::size_t n = s.ordinal.size();
    for (std::size_t k = 0; k < n; ++k) {
        std::vector<fixedio::Value> values;
        for (std::size_t i = 0; i <= k; ++i)
            values.emplace_back(s.ordinal[k][1] * s.ordinal[i][1] + s.ordinal[k][2] * s.ordinal[i][2]);
        out += row.format(values);
    }
    return out;
}

} // namespace travik
