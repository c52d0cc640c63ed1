#pragma once
// Every native function, grouped by the file that defines it.

#include <vector>

#include "value/Function.h"

namespace ferrow {

// CoreNatives.cpp
Value nativePrint(Caller& caller, std::vector<Value>& args);
Value nativeInput(Caller& caller, std::vector<Value>& args);
Value nativeType(Caller& caller, std::vector<Value>& args);
Value nativeStr(Caller& caller, std::vector<Value>& args);
Value nativeRepr(Caller& caller, std::vector<Value>& args);
Value nativeNum(Caller& caller, std::vector<Value>& args);
Value nativeInt(Caller& caller, std::vector<Value>& args);
Value nativeBool(Caller& caller, std::vector<Value>& args);
Value nativeLen(Caller& caller, std::vector<Value>& args);
Value nativeIsNumber(Caller& caller, std::vector<Value>& args);
Value nativeIsString(Caller& caller, std::vector<Value>& args);
Value nativeIsList(Caller& caller, std::vector<Value>& args);
Value nativeIsMap(Caller& caller, std::vector<Value>& args);
Value nativeIsNil(Caller& caller, std::vector<Value>& args);
Value nativeIsBool(Caller& caller, std::vector<Value>& args);
Value nativeIsFunction(Caller& caller, std::vector<Value>& args);
Value nativeCopy(Caller& caller, std::vector<Value>& args);
Value nativeAssert(Caller& caller, std::vector<Value>& args);
Value nativeError(Caller& caller, std::vector<Value>& args);
Value nativeClock(Caller& caller, std::vector<Value>& args);

// CollectionNatives.cpp
Value nativePush(Caller& caller, std::vector<Value>& args);
Value nativePop(Caller& caller, std::vector<Value>& args);
Value nativeRange(Caller& caller, std::vector<Value>& args);
Value nativeKeys(Caller& caller, std::vector<Value>& args);
Value nativeValues(Caller& caller, std::vector<Value>& args);
Value nativeHas(Caller& caller, std::vector<Value>& args);
Value nativeSlice(Caller& caller, std::vector<Value>& args);
Value nativeMap(Caller& caller, std::vector<Value>& args);
Value nativeFilter(Caller& caller, std::vector<Value>& args);
Value nativeReduce(Caller& caller, std::vector<Value>& args);
Value nativeSort(Caller& caller, std::vector<Value>& args);
Value nativeReverse(Caller& caller, std::vector<Value>& args);
Value nativeFind(Caller& caller, std::vector<Value>& args);
Value nativeSum(Caller& caller, std::vector<Value>& args);
Value nativeCount(Caller& caller, std::vector<Value>& args);
Value nativeZip(Caller& caller, std::vector<Value>& args);
Value nativeEnumerate(Caller& caller, std::vector<Value>& args);
Value nativeInsert(Caller& caller, std::vector<Value>& args);
Value nativeRemoveAt(Caller& caller, std::vector<Value>& args);
Value nativeGet(Caller& caller, std::vector<Value>& args);
Value nativeItems(Caller& caller, std::vector<Value>& args);
Value nativeDelete(Caller& caller, std::vector<Value>& args);

// StringNatives.cpp
Value nativeUpper(Caller& caller, std::vector<Value>& args);
Value nativeLower(Caller& caller, std::vector<Value>& args);
Value nativeSplit(Caller& caller, std::vector<Value>& args);
Value nativeJoin(Caller& caller, std::vector<Value>& args);
Value nativeTrim(Caller& caller, std::vector<Value>& args);
Value nativeReplace(Caller& caller, std::vector<Value>& args);
Value nativeStartsWith(Caller& caller, std::vector<Value>& args);
Value nativeEndsWith(Caller& caller, std::vector<Value>& args);
Value nativeChar(Caller& caller, std::vector<Value>& args);
Value nativeOrd(Caller& caller, std::vector<Value>& args);
Value nativeHex(Caller& caller, std::vector<Value>& args);
Value nativeBin(Caller& caller, std::vector<Value>& args);
Value nativeOct(Caller& caller, std::vector<Value>& args);
Value nativeParseInt(Caller& caller, std::vector<Value>& args);
Value nativeChars(Caller& caller, std::vector<Value>& args);
Value nativeRepeat(Caller& caller, std::vector<Value>& args);
Value nativeCapitalize(Caller& caller, std::vector<Value>& args);

// MathNatives.cpp
Value nativeFloor(Caller& caller, std::vector<Value>& args);
Value nativeCeil(Caller& caller, std::vector<Value>& args);
Value nativeAbs(Caller& caller, std::vector<Value>& args);
Value nativeSqrt(Caller& caller, std::vector<Value>& args);
Value nativeMin(Caller& caller, std::vector<Value>& args);
Value nativeMax(Caller& caller, std::vector<Value>& args);
Value nativeRound(Caller& caller, std::vector<Value>& args);
Value nativePow(Caller& caller, std::vector<Value>& args);
Value nativeSin(Caller& caller, std::vector<Value>& args);
Value nativeCos(Caller& caller, std::vector<Value>& args);
Value nativeTan(Caller& caller, std::vector<Value>& args);
Value nativeLog(Caller& caller, std::vector<Value>& args);
Value nativeExp(Caller& caller, std::vector<Value>& args);
Value nativeRandom(Caller& caller, std::vector<Value>& args);
Value nativeRandint(Caller& caller, std::vector<Value>& args);
Value nativeFloat(Caller& caller, std::vector<Value>& args);
Value nativeClamp(Caller& caller, std::vector<Value>& args);
Value nativeSign(Caller& caller, std::vector<Value>& args);

}  // namespace ferrow
