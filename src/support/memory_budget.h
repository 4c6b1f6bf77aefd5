#pragma once
// The memory one run may spend on what a BMC sends: the documents it keeps
// and the answers' bodies still held. A parsed document costs many times its
// text, and every document stays for the run, so the body cap alone bounds
// nothing.
#include <cstddef>
#include <string>

namespace support {

// 256 MiB: the largest service seen (a few thousand documents) takes about a
// tenth of it, and a probe on a Zabbix server runs beside many others.
inline constexpr std::size_t kRunMemoryBytes = 256u << 20;

struct MemoryBudget {
    std::size_t limit = kRunMemoryBytes;
    std::size_t kept = 0;       // the documents built, counted as they grow
    std::size_t in_flight = 0;  // the bodies received and not yet parsed
};

// True while bytes more still fit.
inline bool fits(const MemoryBudget& budget, std::size_t bytes) {
    const std::size_t used = budget.kept + budget.in_flight;
    return used <= budget.limit && bytes <= budget.limit - used;
}

// Why a run that needs more ends.
inline std::string over_budget(const MemoryBudget& budget) {
    return "the run's documents and answers would take more than " + std::to_string(budget.limit >> 20) +
           " MiB of memory";
}

}  // namespace support
