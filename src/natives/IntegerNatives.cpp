// The bit operations on 64-bit integers, and the predicates that tell an
// integer from a float. The operations take integers only: a float, even a
// whole one, is an error rather than silently truncated.
//
// Shifts: shl and shr (logical) fill with zeros, sar (arithmetic) with the
// sign. A count outside 0 to 63, negative ones included, shifts everything
// out: the result is 0, or for sar -1 when the number is negative. No count
// reaches C++'s undefined shifts.

#include <cstdint>

#include "natives/NativeFunctions.h"
#include "natives/NativeSupport.h"

namespace ferrow {

namespace {

bool countInRange(int64_t count) { return count >= 0 && count <= 63; }

// Signed and unsigned 64-bit integers convert both ways modulo 2^64.
Value fromBits(uint64_t bits) { return Value::integer(static_cast<int64_t>(bits)); }

uint64_t bitsOf(const Value& v, const char* nativeName) {
    return static_cast<uint64_t>(expectExactInteger(v, nativeName));
}

}  // namespace

Value nativeBand(Caller&, Args args) {
    return fromBits(bitsOf(args[0], "band") & bitsOf(args[1], "band"));
}

Value nativeBor(Caller&, Args args) {
    return fromBits(bitsOf(args[0], "bor") | bitsOf(args[1], "bor"));
}

Value nativeBxor(Caller&, Args args) {
    return fromBits(bitsOf(args[0], "bxor") ^ bitsOf(args[1], "bxor"));
}

Value nativeBnot(Caller&, Args args) { return fromBits(~bitsOf(args[0], "bnot")); }

Value nativeShl(Caller&, Args args) {
    const uint64_t bits = bitsOf(args[0], "shl");
    const int64_t count = expectExactInteger(args[1], "shl");
    return fromBits(countInRange(count) ? bits << count : 0);
}

Value nativeShr(Caller&, Args args) {
    const uint64_t bits = bitsOf(args[0], "shr");
    const int64_t count = expectExactInteger(args[1], "shr");
    return fromBits(countInRange(count) ? bits >> count : 0);
}

// C++20 defines >> of a negative integer as the arithmetic shift.
Value nativeSar(Caller&, Args args) {
    const int64_t value = expectExactInteger(args[0], "sar");
    const int64_t count = expectExactInteger(args[1], "sar");
    if (!countInRange(count)) return Value::integer(value < 0 ? -1 : 0);
    return Value::integer(value >> count);
}

Value nativeIsInteger(Caller&, Args args) { return Value::boolean(args[0].isInteger()); }

Value nativeIsFloat(Caller&, Args args) { return Value::boolean(args[0].isFloat()); }

}  // namespace ferrow
