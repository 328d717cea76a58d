// Matrix inversion by Gauss-Jordan elimination with full pivoting (`inv`).
#pragma once

#include <functional>
#include <string_view>
#include <vector>

namespace travik {

// Shows a console message and waits as the console pause does.
using Pause = std::function<void(std::string_view)>;

// Replaces the n x n matrix a (row r, column c at a[r * n + c]) by its inverse. A column met
// twice or a negative pivot (a matrix that is not positive definite) shows "Singular matrix"
// through pause and the elimination goes on. Returns false, leaving a partly eliminated,
// when a pivot is exactly zero: the caller must not use the result.
bool inv(std::vector<double>& a, int n, const Pause& pause);

} // namespace travik
