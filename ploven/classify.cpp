#include "ploven/classify.hpp"

#include "fixedio/layout.hpp"
#include "numerics/parallel_blocks.hpp"

#include <algorithm>

namespace ploven {

std::vector<int> modalClasses(const Posteriors& post, int npat) {
    std::vector<int> iclass(static_cast<std::size_t>(npat), 0);
    numerics::forEachBlock(
        iclass.size(), static_cast<std::size_t>(std::max(1, post.loops.blockPatterns)),
        numerics::threadsFor(post.loops.threads),
        [&](int, const numerics::Block& block) {
            for (std::size_t i = block.begin; i < block.end; ++i) {
                double best = 0.0;
                for (int k = 0; k < post.nclass; ++k) {
                    const double h = post.H(k, static_cast<int>(i));
                    if (h >= best) {
                        best = h;
                        iclass[i] = k + 1;
                    }
                }
            }
        },
        [](int, const numerics::Block&) {});
    return iclass;
}

std::string classificationLines(std::span<const int> ids, const PatternTable& cases,
                                std::span<const int> patternOfCase, std::span<const int> iclass) {
    static const fixedio::Layout line("I6 1X I2 1X 40*(I2)");
    std::string out;
    std::vector<fixedio::Value> values;
    for (int m = 0; m < cases.size(); ++m) {
        const int p = patternOfCase[m];
        const int cls = p >= 0 && p < static_cast<int>(iclass.size()) ? iclass[p] : 0;
        values.clear();
        values.emplace_back(ids[m]);
        values.emplace_back(cls);
        for (int j = 0; j < cases.nitem; ++j) values.emplace_back(cases.response(m, j));
        out += line.format(values);
    }
    return out;
}

} // namespace ploven
