// Posterior classification: the modal class of every response pattern (`modalClasses`: the k
// with the largest posterior h_k(x) = ETA(k) f_k(x) / P(x), the Bayes rule under 0-1 loss),
// and the case classification file that gives every identified case the class of its pattern
// (`classificationLines`).
#pragma once

#include "ploven/model.hpp"

#include <span>
#include <string>
#include <vector>

namespace ploven {

// Modal class (1-based) of every pattern; of equal largest posteriors the highest class wins.
// Blocks of patterns on threads as post.loops says.
std::vector<int> modalClasses(const Posteriors& post, int npat);

// Lines of the case classification file: per case its identifier, the class of its pattern and
// its responses. cases holds the responses as read, patternOfCase the pattern each case was
// folded into; a case is matched to its pattern by its exact responses.
std::string classificationLines(std::span<const int> ids, const PatternTable& cases,
                                std::span<const int> patternOfCase, std::span<const int> iclass);

} // namespace ploven
