// Work that cannot fit in memory is refused before it starts, with the size named, rather than
// failing after minutes of work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fixedio {

// What a run may use for one table: half of the machine's physical memory.
std::uint64_t memoryBudgetBytes();

// "12.3 GB", "512 KB": a size for messages.
std::string readableBytes(double bytes);

// What a run holds at its peak: tables that grow with the cases (the data, per-case results),
// tables each worker thread holds while it works on a block, and tables held once.
struct Footprint {
    double cases = 0, bytesPerCase = 0;
    double workers = 1, bytesPerWorker = 0;
    double shared = 0;

    double bytes() const { return cases * bytesPerCase + workers * bytesPerWorker + shared; }
};

// InputError "PROGRAM: WHAT needs SIZE, more than the SIZE this machine can give; ADVICE"
// when bytes exceeds the budget.
void requireMemory(std::string_view program, std::string_view what, double bytes,
                   std::string_view advice);

} // namespace fixedio
