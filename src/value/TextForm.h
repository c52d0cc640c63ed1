#pragma once
// The two text forms of values: the display form (print, str) and the quoted
// form (the prompt's echo, repr).

#include <string>
#include <string_view>

#include "value/Value.h"

namespace ferrow {

std::string toString(const Value& v);
// A string in double quotes with escapes; any other value as toString.
std::string toRepr(const Value& v);
std::string quoteString(std::string_view s);
// Shortest round-trip text of a double, with ".0" added where it would
// otherwise look like an integer.
std::string formatNumber(double d);

}  // namespace ferrow
