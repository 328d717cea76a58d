#include "travik/inv.hpp"

#include <cmath>
#include <utility>

namespace travik {

bool inv(std::vector<double>& a, int n, const Pause& pause) {
    auto at = [&](int r, int c) -> double& { return a[static_cast<std::size_t>(r) * n + c]; };
    std::vector<int> pivots(n, 0), rowOf(n, 0), columnOf(n, 0);
    for (int pass = 0; pass < n; ++pass) {
        // Largest element among unpivoted rows and columns; a later one of equal size wins.
        double big = 0.0;
        int row = -1, column = -1;
        for (int r = 0; r < n; ++r) {
            if (pivots[r] == 1) continue;
            for (int c = 0; c < n; ++c) {
                if (pivots[c] == 0) {
                    if (std::fabs(at(r, c)) >= big) {
                        big = std::fabs(at(r, c));
                        row = r;
                        column = c;
                    }
                } else if (pivots[c] > 1) {
                    pause("Singular matrix");
                }
            }
        }
        if (column < 0) return false; // nothing but NaN left
        ++pivots[column];
        if (row != column)
            for (int c = 0; c < n; ++c) std::swap(at(row, c), at(column, c));
        rowOf[pass] = row;
        columnOf[pass] = column;
        const double pivot = at(column, column);
        if (pivot == 0.0) return false;
        if (pivot < 0.0) pause("Singular matrix");
        const double reciprocal = 1.0 / pivot;
        at(column, column) = 1.0;
        for (int c = 0; c < n; ++c) at(column, c) *= reciprocal;
        for (int r = 0; r < n; ++r) {
            if (r == column) continue;
            const double factor = at(r, column);
            at(r, column) = 0.0;
            for (int c = 0; c < n; ++c) at(r, c) -= at(column, c) * factor;
        }
    }
    for (int pass = n - 1; pass >= 0; --pass) {
        if (rowOf[pass] == columnOf[pass]) continue;
        for (int r = 0; r < n; ++r) std::swap(at(r, rowOf[pass]), at(r, columnOf[pass]));
    }
    return true;
}

} // namespace travik
