#include "natives/Registry.h"

#include "value/Errors.h"
#include "natives/NativeFunctions.h"

namespace ferrow {

namespace {

struct NativeEntry {
    const char* name;
    NativeFn fn;
    int32_t minArity;
    int32_t maxArity;  // -1: no upper bound
};

// The natives in registration order. `contains` is a second, distinct
// function value sharing `has`'s implementation (so `has == contains` is
// false while both behave alike).
constexpr NativeEntry kNatives[] = {
    {"print", nativePrint, 0, -1},
    {"input", nativeInput, 0, 1},
    {"type", nativeType, 1, 1},
    {"str", nativeStr, 1, 1},
    {"repr", nativeRepr, 1, 1},
    {"num", nativeNum, 1, 1},
    {"int", nativeInt, 1, 1},
    {"bool", nativeBool, 1, 1},
    {"len", nativeLen, 1, 1},
    {"push", nativePush, 1, -1},
    {"pop", nativePop, 1, 1},
    {"range", nativeRange, 1, 3},
    {"keys", nativeKeys, 1, 1},
    {"values", nativeValues, 1, 1},
    {"has", nativeHas, 2, 2},
    {"slice", nativeSlice, 1, 3},
    {"map", nativeMap, 2, 2},
    {"filter", nativeFilter, 2, 2},
    {"reduce", nativeReduce, 2, 3},
    {"sort", nativeSort, 1, 2},
    {"reverse", nativeReverse, 1, 1},
    {"find", nativeFind, 2, 2},
    {"sum", nativeSum, 1, 1},
    {"count", nativeCount, 2, 2},
    {"upper", nativeUpper, 1, 1},
    {"lower", nativeLower, 1, 1},
    {"split", nativeSplit, 1, 2},
    {"join", nativeJoin, 1, 2},
    {"trim", nativeTrim, 1, 1},
    {"replace", nativeReplace, 3, 3},
    {"starts_with", nativeStartsWith, 2, 2},
    {"ends_with", nativeEndsWith, 2, 2},
    {"char", nativeChar, 1, 1},
    {"ord", nativeOrd, 1, 1},
    {"floor", nativeFloor, 1, 1},
    {"ceil", nativeCeil, 1, 1},
    {"abs", nativeAbs, 1, 1},
    {"sqrt", nativeSqrt, 1, 1},
    {"min", nativeMin, 1, -1},
    {"max", nativeMax, 1, -1},
    {"round", nativeRound, 1, 2},
    {"pow", nativePow, 2, 2},
    {"sin", nativeSin, 1, 1},
    {"cos", nativeCos, 1, 1},
    {"tan", nativeTan, 1, 1},
    {"log", nativeLog, 1, 2},
    {"exp", nativeExp, 1, 1},
    {"random", nativeRandom, 0, 0},
    {"randint", nativeRandint, 2, 2},
    {"float", nativeFloat, 1, 1},
    {"hex", nativeHex, 1, 1},
    {"bin", nativeBin, 1, 1},
    {"oct", nativeOct, 1, 1},
    {"parse_int", nativeParseInt, 1, 2},
    {"chars", nativeChars, 1, 1},
    {"is_number", nativeIsNumber, 1, 1},
    {"is_string", nativeIsString, 1, 1},
    {"is_list", nativeIsList, 1, 1},
    {"is_map", nativeIsMap, 1, 1},
    {"is_nil", nativeIsNil, 1, 1},
    {"is_bool", nativeIsBool, 1, 1},
    {"is_function", nativeIsFunction, 1, 1},
    {"clamp", nativeClamp, 3, 3},
    {"sign", nativeSign, 1, 1},
    {"copy", nativeCopy, 1, 1},
    {"zip", nativeZip, 2, 2},
    {"enumerate", nativeEnumerate, 1, 1},
    {"insert", nativeInsert, 3, 3},
    {"remove_at", nativeRemoveAt, 2, 2},
    {"get", nativeGet, 2, 3},
    {"contains", nativeHas, 2, 2},
    {"repeat", nativeRepeat, 2, 2},
    {"capitalize", nativeCapitalize, 1, 1},
    {"items", nativeItems, 1, 1},
    {"delete", nativeDelete, 2, 2},
    {"assert", nativeAssert, 1, 2},
    {"error", nativeError, 0, 1},
    {"clock", nativeClock, 0, 0},
    // The standard library group, after the original natives.
    {"args", nativeArgs, 0, 0},
    {"getenv", nativeGetenv, 1, 1},
    {"read_file", nativeReadFile, 1, 1},
    {"write_file", nativeWriteFile, 2, 2},
    {"append_file", nativeAppendFile, 2, 2},
    {"file_exists", nativeFileExists, 1, 1},
    {"read_lines", nativeReadLines, 1, 1},
    {"eprint", nativeEprint, 0, -1},
    {"exit", nativeExit, 0, 1},
    {"format", nativeFormat, 1, -1},
    {"band", nativeBand, 2, 2},
    {"bor", nativeBor, 2, 2},
    {"bxor", nativeBxor, 2, 2},
    {"bnot", nativeBnot, 1, 1},
    {"shl", nativeShl, 2, 2},
    {"shr", nativeShr, 2, 2},
    {"sar", nativeSar, 2, 2},
    {"is_integer", nativeIsInteger, 1, 1},
    {"is_float", nativeIsFloat, 1, 1},
};

static_assert(sizeof(kNatives) / sizeof(kNatives[0]) == 97);

}  // namespace

void registerNatives(Environment& globals) {
    for (const NativeEntry& entry : kNatives) {
        defineNative(globals, entry.name, entry.fn, entry.minArity, entry.maxArity);
    }
}

void defineNative(Environment& globals, const std::string& name, NativeFn fn, int32_t minArity,
                  int32_t maxArity) {
    Value value = Value::native(new NativeObj());
    NativeObj& native = *value.asNative();
    native.name = name;
    native.fn = fn;
    native.minArity = minArity;
    native.maxArity = maxArity;
    globals.define(name, std::move(value));
}

void nativeFail(const std::string& message) {
    throw RuntimeError(message, 0, 0);
}

double expectNumber(const Value& v, const char* nativeName) {
    if (v.isInteger()) return static_cast<double>(v.asInteger());
    if (v.isFloat()) return v.asFloat();
    nativeFail(std::string(nativeName) + ": expected a number, got " + typeName(v));
}

}  // namespace ferrow
