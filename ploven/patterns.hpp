// Pattern bookkeeping: folding case rows into distinct response patterns (`foldPatterns`), and
// the index sort the pooled fit statistics rely on for their order of ties (`heapsortIndex`:
// heapsort, Williams 1964, Comm. ACM 7, 347-348, applied to an index vector; not stable,
// and the order in which it leaves equal keys is part of the pooling's result).
#pragma once

#include "ploven/model.hpp"

#include <span>
#include <vector>

namespace ploven {

// Folds rows into their distinct patterns, in order of first occurrence, each with the sum of
// the frequencies of its rows: case rows (frequency 1) give the number of cases showing each
// pattern; pattern records that repeat a pattern are merged. Linear: rows are found again by
// hashing. When patternOfCase is given it receives, per row, the index of its pattern.
PatternTable foldPatterns(const PatternTable& cases, std::vector<int>* patternOfCase = nullptr);

// Heapsort index sort: the returned permutation (0-based) orders keys ascending. Equal keys keep
// the order the heap leaves them in, which the pooling of sparse patterns depends on.
std::vector<int> heapsortIndex(std::span<const int> keys);

} // namespace ploven
