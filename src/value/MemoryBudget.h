#pragma once
// The most memory one result may ask for, shared by the natives and the
// operators that build values of any size (concatenation, iteration).

#include <unistd.h>

#include <cstddef>
#include <cstdint>

namespace ferrow {

// Test-only, for the fuzz targets: a ceiling below physical memory for every
// result (0: none), so that a fuzzed program asking for gigabytes fails as it
// would on a small machine instead of tripping the fuzzer's memory limit.
inline uint64_t& resultMemoryCapSetting() {
    static uint64_t cap = 0;
    return cap;
}
inline void setResultMemoryCap(uint64_t bytes) { resultMemoryCapSetting() = bytes; }

// All the physical memory of the machine. A request beyond it can only end in
// an allocation failure or in swapping, so it is refused up front; smaller
// results are left to the allocator, whatever their size.
inline uint64_t resultMemoryBudget() {
    static const uint64_t physical = [] {
        long pages = sysconf(_SC_PHYS_PAGES);
        long pageSize = sysconf(_SC_PAGESIZE);
        if (pages <= 0 || pageSize <= 0) return static_cast<uint64_t>(PTRDIFF_MAX);
        return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
    }();
    const uint64_t cap = resultMemoryCapSetting();
    return cap != 0 && cap < physical ? cap : physical;
}

// True when `count` items of `itemSize` bytes fit in the budget; `count` is
// any size_t sum of existing sizes, so it cannot overflow before this test.
inline bool fitsMemoryBudget(uint64_t count, uint64_t itemSize) {
    return count <= resultMemoryBudget() / itemSize;
}

}  // namespace ferrow
