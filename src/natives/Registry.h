#pragma once
// Installing the natives into an engine's globals, and the helpers every
// native uses to check its arguments and report failures.

#include <cstdint>
#include <string>

#include "value/Environment.h"
#include "value/Function.h"

namespace ferrow {

// Defines every native, in registration order.
void registerNatives(Environment& globals);

void defineNative(Environment& globals, const std::string& name, NativeFn fn, int32_t minArity,
                  int32_t maxArity);

// Natives report failures without a source position.
[[noreturn]] void nativeFail(const std::string& message);

// An integer converted to double, a float unchanged; anything else fails with
// "<name>: expected a number, got <type>".
double expectNumber(const Value& v, const char* nativeName);

}  // namespace ferrow
