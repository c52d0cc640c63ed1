#pragma once
// The operators of the language, shared by both engines. Every error is a
// RuntimeError at the given position.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "value/Value.h"

namespace ferrow {

enum class BinOp : uint8_t {
    Add, Sub, Mul, Div, FloorDiv, Mod, Pow,
    Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual,
    And, Or
};

std::optional<BinOp> binOpFromText(std::string_view op);
const char* binOpText(BinOp op);

// Where an operator runs and which wording its errors use: the VM names no
// operator for non-number arithmetic ("arithmetic needs numbers, got ...").
struct OpSite {
    int32_t line = 0;
    int32_t column = 0;
    bool vmWording = false;
};

// "+" and the numeric operators (Add .. Pow) on evaluated operands.
Value binaryOp(BinOp op, const Value& a, const Value& b, const OpSite& site);
// The numeric operators on two numbers.
Value arithmetic(BinOp op, const Value& a, const Value& b, const OpSite& site);
// Less .. GreaterEqual: strings byte-wise, numbers as doubles.
bool compareValues(BinOp op, const Value& a, const Value& b, const OpSite& site);
// Unary minus.
Value negate(const Value& a, const OpSite& site);

// object[index] for lists, maps and strings.
Value indexValue(const Value& object, const Value& index, const OpSite& site);
// object[index] = value for lists and maps.
void setIndex(const Value& object, const Value& index, Value value, const OpSite& site);
// The snapshot a for-in loop visits: list elements, map keys, string bytes.
ListData iterationItems(const Value& iterable, const OpSite& site);

}  // namespace ferrow
