#pragma once
// Every native function, grouped by the file that defines it.

#include <vector>

#include "value/Function.h"

namespace ferrow {

// CoreNatives.cpp
Value nativePrint(Caller& caller, Args args);
Value nativeEprint(Caller& caller, Args args);
Value nativeInput(Caller& caller, Args args);
Value nativeType(Caller& caller, Args args);
Value nativeStr(Caller& caller, Args args);
Value nativeRepr(Caller& caller, Args args);
Value nativeNum(Caller& caller, Args args);
Value nativeInt(Caller& caller, Args args);
Value nativeBool(Caller& caller, Args args);
Value nativeLen(Caller& caller, Args args);
Value nativeIsNumber(Caller& caller, Args args);
Value nativeIsString(Caller& caller, Args args);
Value nativeIsList(Caller& caller, Args args);
Value nativeIsMap(Caller& caller, Args args);
Value nativeIsNil(Caller& caller, Args args);
Value nativeIsBool(Caller& caller, Args args);
Value nativeIsFunction(Caller& caller, Args args);
Value nativeCopy(Caller& caller, Args args);
Value nativeAssert(Caller& caller, Args args);
Value nativeError(Caller& caller, Args args);
Value nativeClock(Caller& caller, Args args);

// CollectionNatives.cpp
Value nativePush(Caller& caller, Args args);
Value nativePop(Caller& caller, Args args);
Value nativeRange(Caller& caller, Args args);
Value nativeKeys(Caller& caller, Args args);
Value nativeValues(Caller& caller, Args args);
Value nativeHas(Caller& caller, Args args);
Value nativeSlice(Caller& caller, Args args);
Value nativeMap(Caller& caller, Args args);
Value nativeFilter(Caller& caller, Args args);
Value nativeReduce(Caller& caller, Args args);
Value nativeSort(Caller& caller, Args args);
Value nativeReverse(Caller& caller, Args args);
Value nativeFind(Caller& caller, Args args);
Value nativeSum(Caller& caller, Args args);
Value nativeCount(Caller& caller, Args args);
Value nativeZip(Caller& caller, Args args);
Value nativeEnumerate(Caller& caller, Args args);
Value nativeInsert(Caller& caller, Args args);
Value nativeRemoveAt(Caller& caller, Args args);
Value nativeGet(Caller& caller, Args args);
Value nativeItems(Caller& caller, Args args);
Value nativeDelete(Caller& caller, Args args);

// StringNatives.cpp
Value nativeUpper(Caller& caller, Args args);
Value nativeLower(Caller& caller, Args args);
Value nativeSplit(Caller& caller, Args args);
Value nativeJoin(Caller& caller, Args args);
Value nativeTrim(Caller& caller, Args args);
Value nativeReplace(Caller& caller, Args args);
Value nativeStartsWith(Caller& caller, Args args);
Value nativeEndsWith(Caller& caller, Args args);
Value nativeChar(Caller& caller, Args args);
Value nativeOrd(Caller& caller, Args args);
Value nativeHex(Caller& caller, Args args);
Value nativeBin(Caller& caller, Args args);
Value nativeOct(Caller& caller, Args args);
Value nativeParseInt(Caller& caller, Args args);
Value nativeChars(Caller& caller, Args args);
Value nativeRepeat(Caller& caller, Args args);
Value nativeCapitalize(Caller& caller, Args args);

// MathNatives.cpp
Value nativeFloor(Caller& caller, Args args);
Value nativeCeil(Caller& caller, Args args);
Value nativeAbs(Caller& caller, Args args);
Value nativeSqrt(Caller& caller, Args args);
Value nativeMin(Caller& caller, Args args);
Value nativeMax(Caller& caller, Args args);
Value nativeRound(Caller& caller, Args args);
Value nativePow(Caller& caller, Args args);
Value nativeSin(Caller& caller, Args args);
Value nativeCos(Caller& caller, Args args);
Value nativeTan(Caller& caller, Args args);
Value nativeLog(Caller& caller, Args args);
Value nativeExp(Caller& caller, Args args);
Value nativeRandom(Caller& caller, Args args);
Value nativeRandint(Caller& caller, Args args);
Value nativeFloat(Caller& caller, Args args);
Value nativeClamp(Caller& caller, Args args);
Value nativeSign(Caller& caller, Args args);

// SystemNatives.cpp
Value nativeArgs(Caller& caller, Args args);
Value nativeGetenv(Caller& caller, Args args);
Value nativeExit(Caller& caller, Args args);

// FormatNative.cpp
Value nativeFormat(Caller& caller, Args args);

// IntegerNatives.cpp
Value nativeBand(Caller& caller, Args args);
Value nativeBor(Caller& caller, Args args);
Value nativeBxor(Caller& caller, Args args);
Value nativeBnot(Caller& caller, Args args);
Value nativeShl(Caller& caller, Args args);
Value nativeShr(Caller& caller, Args args);
Value nativeSar(Caller& caller, Args args);
Value nativeIsInteger(Caller& caller, Args args);
Value nativeIsFloat(Caller& caller, Args args);

// FileNatives.cpp
Value nativeReadFile(Caller& caller, Args args);
Value nativeWriteFile(Caller& caller, Args args);
Value nativeAppendFile(Caller& caller, Args args);
Value nativeFileExists(Caller& caller, Args args);
Value nativeReadLines(Caller& caller, Args args);

}  // namespace ferrow
