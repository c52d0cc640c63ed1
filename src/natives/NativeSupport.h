#pragma once
// Argument and size checks shared by the collection, string and math natives.

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "natives/Registry.h"
#include "value/Value.h"

namespace ferrow {

__extension__ typedef unsigned __int128 UInt128;
__extension__ typedef __int128 Int128;

// An integer argument is taken exactly; a float is truncated toward zero
// (NaN, infinities and out-of-range values give the smallest integer). Going
// through a double would corrupt integers beyond 2^53.
inline int64_t expectInteger(const Value& v, const char* nativeName) {
    if (v.isInteger()) return v.asInteger();
    return truncateToInt64(expectNumber(v, nativeName));
}

// For a number only: truncates toward zero to 32 bits; NaN, infinities and
// values outside the 32-bit range give the smallest 32-bit integer.
inline int32_t truncateToInt32(const Value& v) {
    if (v.isInteger()) {
        int64_t i = v.asInteger();
        return (i < INT32_MIN || i > INT32_MAX) ? INT32_MIN : static_cast<int32_t>(i);
    }
    double d = std::trunc(v.asFloat());
    if (!(d >= INT32_MIN && d <= INT32_MAX)) return INT32_MIN;
    return static_cast<int32_t>(d);
}

// Test-only, for the fuzz targets: a ceiling below physical memory for every
// result (0: none), so that a fuzzed program asking for gigabytes fails as it
// would on a small machine instead of tripping the fuzzer's memory limit.
inline uint64_t& resultMemoryCapSetting() {
    static uint64_t cap = 0;
    return cap;
}
inline void setResultMemoryCap(uint64_t bytes) { resultMemoryCapSetting() = bytes; }

// The most memory one result may ask for: all the physical memory of the
// machine. A request beyond it can only end in an allocation failure or in
// swapping, so it is refused up front; smaller results are left to the
// allocator, whatever their size.
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

// Fails before allocating when `count` items of `itemSize` bytes would not fit
// in memory. Callers compute `count` without overflow (it may exceed 2^64).
inline void checkResultSize(const char* nativeName, UInt128 count, uint64_t itemSize) {
    if (count > UINT64_MAX || count * itemSize > resultMemoryBudget()) {
        nativeFail(std::string(nativeName) + ": result too large");
    }
}

}  // namespace ferrow
