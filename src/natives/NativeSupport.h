#pragma once
// Argument and size checks shared by the collection, string and math natives.

#include <cmath>
#include <cstdint>
#include <string>

#include "natives/Registry.h"
#include "value/MemoryBudget.h"
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

// Integers only: a float fails even when it is whole, with "<name>: expected
// an integer, got float"; any other value names its type.
inline int64_t expectExactInteger(const Value& v, const char* nativeName) {
    if (v.isInteger()) return v.asInteger();
    nativeFail(std::string(nativeName) + ": expected an integer, got " +
               (v.isFloat() ? "float" : typeName(v)));
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

// Fails before allocating when `count` items of `itemSize` bytes would not fit
// in memory. Callers compute `count` without overflow (it may exceed 2^64).
inline void checkResultSize(const char* nativeName, UInt128 count, uint64_t itemSize) {
    if (count > UINT64_MAX || count * itemSize > resultMemoryBudget()) {
        nativeFail(std::string(nativeName) + ": result too large");
    }
}

// The digits of `magnitude` in `base` (2 to 16), most significant first;
// "0" for zero.
inline std::string digitsInBase(uint64_t magnitude, unsigned base, bool upper = false) {
    const char* const digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char text[64];
    char* first = text + sizeof text;
    do {
        *--first = digits[magnitude % base];
        magnitude /= base;
    } while (magnitude != 0);
    return std::string(first, text + sizeof text);
}

// The memory a list of `count` strings holding `bytes` bytes in all needs.
inline void checkStringListSize(const char* nativeName, UInt128 count, UInt128 bytes) {
    checkResultSize(nativeName, count * sizeof(Value) + bytes, 1);
}

}  // namespace ferrow
