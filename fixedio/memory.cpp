#include "memory.hpp"

#include "freeread.hpp"

#include <cstdio>
#include <unistd.h>

namespace fixedio {

std::uint64_t memoryBudgetBytes() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return std::uint64_t{4} << 30; // unknown: assume 8 GB
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) / 2;
}

std::string readableBytes(double bytes) {
    static const char* const units[] = {"bytes", "KB", "MB", "GB", "TB", "PB"};
    int u = 0;
    while (bytes >= 1024.0 && u < 5) {
        bytes /= 1024.0;
        ++u;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, u == 0 ? "%.0f %s" : "%.1f %s", bytes, units[u]);
    return buf;
}

void requireMemory(std::string_view program, std::string_view what, double bytes,
                   std::string_view advice) {
    const double budget = static_cast<double>(memoryBudgetBytes());
    if (bytes <= budget) return;
    throw latent::InputError(std::string(program) + ": " + std::string(what) + " needs " +
                             readableBytes(bytes) + ", more than the " + readableBytes(budget) +
                             " this machine can give; " + std::string(advice));
}

} // namespace fixedio
