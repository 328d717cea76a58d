#include "ploven/categorical_model.hpp"

#include <map>
#include <string>

namespace ploven {

CategoricalData foldCategorical(const CategoricalData& rows, std::vector<int>* casePattern) {
    CategoricalData out;
    out.nitem = rows.nitem;
    out.categories = rows.categories;
    std::map<std::string, int> seen;
    const std::size_t J = static_cast<std::size_t>(rows.nitem);
    if (casePattern) casePattern->assign(static_cast<std::size_t>(rows.size()), 0);
    for (int i = 0; i < rows.size(); ++i) {
        const std::uint8_t* r = rows.row(i);
        std::string key(reinterpret_cast<const char*>(r), J);
        auto [at, fresh] = seen.try_emplace(std::move(key), out.size());
        if (fresh) {
            out.x.insert(out.x.end(), r, r + J);
            out.freq.push_back(0);
        }
        out.freq[static_cast<std::size_t>(at->second)] += rows.freq[static_cast<std::size_t>(i)];
        if (casePattern) (*casePattern)[static_cast<std::size_t>(i)] = at->second;
    }
    return out;
}

void CategoricalEstimates::resize(const std::vector<int>& cats, int classes) {
    nitem = static_cast<int>(cats.size());
    nclass = classes;
    categories = cats;
    offset.assign(cats.size() + 1, 0);
    for (std::size_t j = 0; j < cats.size(); ++j)
        offset[j + 1] =
            offset[j] + static_cast<std::size_t>(cats[j]) * static_cast<std::size_t>(classes);
    p.assign(offset.back(), 0.0);
    eta.assign(static_cast<std::size_t>(classes), 0.0);
}

long long categoricalParameters(const std::vector<int>& categories, int nclass) {
    long long n = nclass - 1;
    for (int c : categories) n += static_cast<long long>(nclass) * (c - 1);
    return n;
}

} // namespace ploven
