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

// InputError "PROGRAM: WHAT needs SIZE, more than the SIZE this machine can give; ADVICE"
// when bytes exceeds the budget.
void requireMemory(std::string_view program, std::string_view what, double bytes,
                   std::string_view advice);

} // namespace fixedio
