// Item fit (S-X2) and local dependence (LD X2) on generated decks of 3000 cases at the
// generating parameters: the median time of each statistic over repeated runs.
#include "travik/item_fit.hpp"
#include "travik/local_dependence.hpp"
#include "travik/simulated_data.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

template <class F> double medianMs(int repeats, F&& f) {
    std::vector<double> times;
    for (int r = 0; r < repeats; ++r) {
        const Clock::time_point start = Clock::now();
        f();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void measure(const char* name, int nb, int no, int nf, int points) {
    const travik::Parameters truth = travik::simulated::truthFor(nb, 0, 0, no, nf);
    const travik::ModelState m = travik::simulated::simulate(truth, nf, points, 3000, 0.0, 2026);
    const travik::Grid grid = travik::makeGrid(points, nf);
    int available = 0;
    const double sx2 = medianMs(9, [&] {
        const travik::ItemFit f = travik::itemFit(m.deck, truth, grid, m.x);
        available = static_cast<int>(std::count_if(f.items.begin(), f.items.end(),
                                                   [](const auto& e) { return e.available; }));
    });
    std::size_t pairs = 0;
    const double ld = medianMs(
        9, [&] { pairs = travik::localDependence(m.deck, truth, grid, m.x).pairs.size(); });
    std::printf("  %s S-X2 %8.2f ms (%d items), LD X2 %8.2f ms (%zu pairs)\n", name, sx2, available,
                ld, pairs);
}

} // namespace

int main() {
    std::printf("travik item fit: 3000 cases, NQ = 48 (30 points per factor), median of 9 runs\n");
    measure("one factor, 20 binary items            ", 20, 0, 1, 48);
    measure("one factor, 10 binary + 10 ordinal (4) ", 10, 10, 1, 48);
    measure("two factors, 20 binary items           ", 20, 0, 2, 48);
    measure("one factor, 60 binary items            ", 60, 0, 1, 48);
    return 0;
}
