// Core natives: output and input, type inspection and conversion, length,
// assertions, raising script errors, the clock, copying and the predicates.

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>

#include "natives/NativeFunctions.h"
#include "natives/Registry.h"
#include "value/TextForm.h"

namespace ferrow {

namespace {

// The text-to-integer and text-to-double conversions of the C library: leading
// white space, an optional sign, the longest prefix that forms a number.
// Strings may hold NUL bytes; the conversion stops at the first one, which
// then counts as an unconsumed byte.
struct IntegerParse {
    bool ok = false;        // digits were read and the value is in range
    bool complete = false;  // the parse consumed the whole string
    int64_t value = 0;
};

IntegerParse parseInteger(const std::string& s) {
    IntegerParse result;
    const char* begin = s.c_str();
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(begin, &end, 10);
    if (end == begin || errno == ERANGE) return result;
    result.ok = true;
    result.complete = end == begin + s.size();
    result.value = static_cast<int64_t>(value);
    return result;
}

// False when no number was found or the value is out of range; the C library
// reports overflow and underflow alike as out of range, and so does num.
bool parseFloat(const std::string& s, double& value) {
    const char* begin = s.c_str();
    char* end = nullptr;
    errno = 0;
    value = std::strtod(begin, &end);
    return end != begin && errno != ERANGE;
}

[[noreturn]] void failNumText(const std::string& s) {
    nativeFail("num: cannot convert \"" + s + "\" to a number");
}

Value numFromString(const std::string& s) {
    double d = 0.0;
    if (!s.empty() && s.find_first_of(".eE") != std::string::npos) {
        if (!parseFloat(s, d)) failNumText(s);
        return Value::number(d);
    }
    const IntegerParse parsed = parseInteger(s);
    if (!parsed.ok) failNumText(s);
    if (parsed.complete) return Value::integer(parsed.value);
    // Trailing bytes make it a float parse: "12abc" is 12.0, "42 " is 42.0.
    if (!parseFloat(s, d)) failNumText(s);
    return Value::number(d);
}

// What print and eprint write: the display forms, one space apart, and a
// line feed.
std::string printedLine(Args args) {
    std::string line;
    for (size_t i = 0; i < args.size(); ++i) {
        if (i > 0) line += ' ';
        line += toString(args[i]);
    }
    line += '\n';
    return line;
}

}  // namespace

Value nativePrint(Caller& caller, Args args) {
    caller.write(printedLine(args));
    return Value::nil();
}

// Standard output goes first, so that the two streams interleave in the
// order the script wrote them.
Value nativeEprint(Caller&, Args args) {
    const std::string line = printedLine(args);
    std::cout.flush();
    std::cerr << line;
    std::cerr.flush();
    return Value::nil();
}

Value nativeInput(Caller& caller, Args args) {
    if (!args.empty()) caller.write(toString(args[0]));
    std::cout.flush();
    std::string line;
    // A last line without a newline is still a line; only a read that gets
    // nothing at all means the end of input.
    if (!std::getline(std::cin, line)) return Value::nil();
    return Value::string(std::move(line));
}

Value nativeType(Caller&, Args args) {
    return Value::string(typeName(args[0]));
}

Value nativeStr(Caller&, Args args) {
    return Value::string(toString(args[0]));
}

Value nativeRepr(Caller&, Args args) {
    return Value::string(toRepr(args[0]));
}

Value nativeNum(Caller&, Args args) {
    const Value& x = args[0];
    if (x.isBool()) return Value::integer(x.asBool() ? 1 : 0);
    if (x.isNumber()) return x;
    if (x.isString()) return numFromString(std::string(x.asString()));
    nativeFail(std::string("num: cannot convert ") + typeName(x) + " to a number");
}

Value nativeInt(Caller&, Args args) {
    const Value& x = args[0];
    if (x.isBool()) return Value::integer(x.asBool() ? 1 : 0);
    if (x.isInteger()) return x;
    if (x.isFloat()) return Value::integer(truncateToInt64(x.asFloat()));
    if (x.isString()) {
        // Trailing bytes are ignored: "3.9" is 3, "12abc" is 12.
        const std::string text(x.asString());
        const IntegerParse parsed = parseInteger(text);
        if (!parsed.ok) nativeFail("int: cannot convert \"" + text + "\" to an integer");
        return Value::integer(parsed.value);
    }
    nativeFail(std::string("int: cannot convert ") + typeName(x) + " to an integer");
}

Value nativeBool(Caller&, Args args) {
    return Value::boolean(isTruthy(args[0]));
}

Value nativeLen(Caller&, Args args) {
    const Value& x = args[0];
    if (x.isString()) return Value::integer(static_cast<int64_t>(x.asString().size()));
    if (x.isList()) return Value::integer(static_cast<int64_t>(x.asList()->size()));
    if (x.isMap()) return Value::integer(static_cast<int64_t>(x.asMap()->size()));
    nativeFail(std::string("len: ") + typeName(x) + " has no length");
}

Value nativeIsNumber(Caller&, Args args) {
    return Value::boolean(args[0].isNumber());
}

Value nativeIsString(Caller&, Args args) {
    return Value::boolean(args[0].isString());
}

Value nativeIsList(Caller&, Args args) {
    return Value::boolean(args[0].isList());
}

Value nativeIsMap(Caller&, Args args) {
    return Value::boolean(args[0].isMap());
}

Value nativeIsNil(Caller&, Args args) {
    return Value::boolean(args[0].isNil());
}

Value nativeIsBool(Caller&, Args args) {
    return Value::boolean(args[0].isBool());
}

Value nativeIsFunction(Caller&, Args args) {
    return Value::boolean(args[0].isFunction());
}

// Shallow: lists, maps and functions inside are shared with the source.
Value nativeCopy(Caller&, Args args) {
    const Value& x = args[0];
    if (x.isList()) return Value::newList(*x.asList());
    // The source's keys are already distinct, so its entries copy as they are.
    if (x.isMap()) return Value::map(newContainer<MapObj>(*x.asMap()));
    return x;
}

Value nativeAssert(Caller&, Args args) {
    if (isTruthy(args[0])) return args[0];
    if (args.size() > 1) nativeFail(toString(args[1]));
    nativeFail("assertion failed");
}

Value nativeError(Caller&, Args args) {
    if (args.empty()) throw ThrownValue{Value::string("error")};
    throw ThrownValue{args[0]};
}

Value nativeClock(Caller&, Args) {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count();
    return Value::number(static_cast<double>(nanos) / 1e9);
}

}  // namespace ferrow
