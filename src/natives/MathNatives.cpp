// The numeric natives. Results that are integers are computed exactly from
// integer arguments; only floats are truncated.

#include <cmath>
#include <cstdint>
#include <ctime>
#include <random>
#include <stdexcept>
#include <string>

#include "natives/NativeFunctions.h"
#include "natives/NativeSupport.h"
#include "natives/Registry.h"

namespace ferrow {

namespace {

constexpr double kTwoTo63 = 9223372036854775808.0;

// The one generator of the process, shared by random and randint. It is
// seeded once with a single 32-bit value from the system's random source.
std::mt19937_64& randomEngine() {
    static std::mt19937_64 engine([] {
        try {
            std::random_device device;
            return static_cast<std::mt19937_64::result_type>(device());
        } catch (const std::exception&) {
            // No random source: fall back to the clock rather than fail.
            return static_cast<std::mt19937_64::result_type>(std::time(nullptr));
        }
    }());
    return engine;
}

template <typename Function>
Value floatFunction(const Value& x, const char* name, Function function) {
    return Value::number(function(expectNumber(x, name)));
}

// min and max: the first of the best candidates wins, with its own kind.
Value extremum(Args args, const char* name, bool wantMax) {
    // Read in place: nothing here can change the list.
    std::span<const Value> candidates(args.data(), args.size());
    if (args.size() == 1 && args[0].isList()) {
        const ListObj& list = *args[0].asList();
        candidates = std::span<const Value>(list.data(), list.size());
    }
    if (candidates.empty()) nativeFail(std::string(name) + ": no arguments");
    size_t best = 0;
    double bestValue = expectNumber(candidates[0], name);
    for (size_t i = 1; i < candidates.size(); ++i) {
        double value = expectNumber(candidates[i], name);
        if (wantMax ? value > bestValue : value < bestValue) {
            best = i;
            bestValue = value;
        }
    }
    return candidates[best];
}

}  // namespace

Value nativeAbs(Caller&, Args args) {
    if (args[0].isInteger()) {
        int64_t i = args[0].asInteger();
        // The smallest integer has no positive counterpart and stays as it is.
        if (i < 0 && i != INT64_MIN) i = -i;
        return Value::integer(i);
    }
    return Value::number(std::fabs(expectNumber(args[0], "abs")));
}

Value nativeFloor(Caller&, Args args) {
    if (args[0].isInteger()) return args[0];
    return Value::integer(truncateToInt64(std::floor(expectNumber(args[0], "floor"))));
}

Value nativeCeil(Caller&, Args args) {
    if (args[0].isInteger()) return args[0];
    return Value::integer(truncateToInt64(std::ceil(expectNumber(args[0], "ceil"))));
}

// With one argument halves round away from zero to an integer (0 when the
// argument is not finite or the result does not fit); with two the result is
// a float rounded to that many decimal digits.
Value nativeRound(Caller&, Args args) {
    if (args.size() == 1) {
        if (args[0].isInteger()) return args[0];
        double rounded = std::round(expectNumber(args[0], "round"));
        if (!(rounded >= -kTwoTo63 && rounded < kTwoTo63)) return Value::integer(0);
        return Value::integer(static_cast<int64_t>(rounded));
    }
    double x = expectNumber(args[0], "round");
    expectNumber(args[1], "round");
    double factor = std::pow(10.0, static_cast<double>(truncateToInt32(args[1])));
    return Value::number(std::round(x * factor) / factor);
}

Value nativeSqrt(Caller&, Args args) {
    return floatFunction(args[0], "sqrt", [](double x) { return std::sqrt(x); });
}

Value nativePow(Caller&, Args args) {
    double base = expectNumber(args[0], "pow");
    double exponent = expectNumber(args[1], "pow");
    return Value::number(std::pow(base, exponent));
}

Value nativeSin(Caller&, Args args) {
    return floatFunction(args[0], "sin", [](double x) { return std::sin(x); });
}

Value nativeCos(Caller&, Args args) {
    return floatFunction(args[0], "cos", [](double x) { return std::cos(x); });
}

Value nativeTan(Caller&, Args args) {
    return floatFunction(args[0], "tan", [](double x) { return std::tan(x); });
}

Value nativeExp(Caller&, Args args) {
    return floatFunction(args[0], "exp", [](double x) { return std::exp(x); });
}

Value nativeLog(Caller&, Args args) {
    double x = expectNumber(args[0], "log");
    if (args.size() == 1) return Value::number(std::log(x));
    double base = expectNumber(args[1], "log");
    return Value::number(std::log(x) / std::log(base));
}

Value nativeSign(Caller&, Args args) {
    double x = expectNumber(args[0], "sign");
    return Value::integer(x > 0 ? 1 : (x < 0 ? -1 : 0));
}

Value nativeMin(Caller&, Args args) { return extremum(args, "min", false); }

Value nativeMax(Caller&, Args args) { return extremum(args, "max", true); }

Value nativeClamp(Caller&, Args args) {
    double x = expectNumber(args[0], "clamp");
    double low = expectNumber(args[1], "clamp");
    double high = expectNumber(args[2], "clamp");
    if (args[0].isInteger() && args[1].isInteger() && args[2].isInteger()) {
        int64_t xi = args[0].asInteger();
        int64_t lowi = args[1].asInteger();
        int64_t highi = args[2].asInteger();
        if (lowi > highi) nativeFail("clamp: low must be <= high");
        return Value::integer(lowi > xi ? lowi : (highi < xi ? highi : xi));
    }
    if (low > high) nativeFail("clamp: low must be <= high");
    return Value::number(low > x ? low : (high < x ? high : x));
}

Value nativeFloat(Caller&, Args args) {
    const Value& x = args[0];
    if (x.isBool()) return Value::number(x.asBool() ? 1.0 : 0.0);
    if (x.isInteger()) return Value::number(static_cast<double>(x.asInteger()));
    if (x.isFloat()) return x;
    if (x.isString()) {
        const std::string s(x.asString());
        try {
            return Value::number(std::stod(s));
        } catch (const std::logic_error&) {
            // stod reports "nothing to convert" and "out of range" alike.
            nativeFail("float: cannot convert \"" + s + "\" to a float");
        }
    }
    nativeFail(std::string("float: cannot convert ") + typeName(x) + " to a float");
}

// The top 53 bits of one draw fill a double's mantissa exactly, so the result
// lies in [0, 1); scaling all 64 bits could round up to 1.0.
Value nativeRandom(Caller&, Args) {
    return Value::number(static_cast<double>(randomEngine()() >> 11) * 0x1.0p-53);
}

// An unbiased draw below the width by multiply-and-reject: products whose low
// half falls below (2^64 - width) mod width would favour some results.
Value nativeRandint(Caller&, Args args) {
    int64_t low = expectInteger(args[0], "randint");
    int64_t high = expectInteger(args[1], "randint");
    if (low > high) nativeFail("randint: low must be <= high");
    std::mt19937_64& engine = randomEngine();
    uint64_t width = static_cast<uint64_t>(high) - static_cast<uint64_t>(low) + 1;
    uint64_t offset;
    if (width == 0) {
        offset = engine();
    } else {
        uint64_t threshold = (0 - width) % width;
        UInt128 product;
        do {
            product = static_cast<UInt128>(engine()) * width;
        } while (static_cast<uint64_t>(product) < threshold);
        offset = static_cast<uint64_t>(product >> 64);
    }
    return Value::integer(static_cast<int64_t>(static_cast<uint64_t>(low) + offset));
}

}  // namespace ferrow
