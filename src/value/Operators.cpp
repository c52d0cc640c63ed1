#include "value/Operators.h"

#include <cmath>
#include <string>

#include "value/Errors.h"
#include "value/MemoryBudget.h"

namespace ferrow {

namespace {

[[noreturn]] void fail(std::string message, const OpSite& site) {
    throw RuntimeError(std::move(message), site.line, site.column);
}

// Integers wrap in two's complement: do the arithmetic on unsigned values,
// where overflow is defined, and convert back.
int64_t wrapAdd(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
int64_t wrapSub(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}
int64_t wrapMul(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
}

// Repeated squaring gives the same wrapped result as multiplying `exponent`
// factors one by one, in logarithmic time.
int64_t wrapPow(int64_t base, int64_t exponent) {
    uint64_t result = 1;
    uint64_t factor = static_cast<uint64_t>(base);
    uint64_t e = static_cast<uint64_t>(exponent);
    while (e != 0) {
        if (e & 1) result *= factor;
        factor *= factor;
        e >>= 1;
    }
    return static_cast<int64_t>(result);
}

// Floor division of integers. The smallest integer divided by -1 has no
// representable quotient; it wraps to the smallest integer instead of trapping.
int64_t floorDiv(int64_t a, int64_t b) {
    if (b == -1) return wrapSub(0, a);
    int64_t q = a / b;
    if (a % b != 0 && ((a < 0) != (b < 0))) --q;
    return q;
}

// Truncated remainder; x % -1 is always 0, which also avoids the trap on the
// smallest integer.
int64_t truncMod(int64_t a, int64_t b) {
    if (b == -1) return 0;
    return a % b;
}

std::string decimal(int64_t n) { return std::to_string(n); }

// A negative index counts from the end; false when it falls outside.
bool adjustIndex(int64_t index, size_t length, size_t& out) {
    const auto len = static_cast<int64_t>(length);
    int64_t i = index < 0 ? index + len : index;
    if (i < 0 || i >= len) return false;
    out = static_cast<size_t>(i);
    return true;
}

}  // namespace

std::optional<BinOp> binOpFromText(std::string_view op) {
    switch (op.size()) {
    case 1:
        switch (op[0]) {
        case '+': return BinOp::Add;
        case '-': return BinOp::Sub;
        case '*': return BinOp::Mul;
        case '/': return BinOp::Div;
        case '%': return BinOp::Mod;
        case '^': return BinOp::Pow;
        case '<': return BinOp::Less;
        case '>': return BinOp::Greater;
        default: return std::nullopt;
        }
    case 2:
        if (op == "//") return BinOp::FloorDiv;
        if (op == "==") return BinOp::Equal;
        if (op == "!=") return BinOp::NotEqual;
        if (op == "<=") return BinOp::LessEqual;
        if (op == ">=") return BinOp::GreaterEqual;
        if (op == "or") return BinOp::Or;
        return std::nullopt;
    case 3:
        if (op == "and") return BinOp::And;
        return std::nullopt;
    default: return std::nullopt;
    }
}

const char* binOpText(BinOp op) {
    switch (op) {
    case BinOp::Add: return "+";
    case BinOp::Sub: return "-";
    case BinOp::Mul: return "*";
    case BinOp::Div: return "/";
    case BinOp::FloorDiv: return "//";
    case BinOp::Mod: return "%";
    case BinOp::Pow: return "^";
    case BinOp::Equal: return "==";
    case BinOp::NotEqual: return "!=";
    case BinOp::Less: return "<";
    case BinOp::LessEqual: return "<=";
    case BinOp::Greater: return ">";
    case BinOp::GreaterEqual: return ">=";
    case BinOp::And: return "and";
    case BinOp::Or: return "or";
    }
    return "?";
}

Value binaryOp(BinOp op, const Value& a, const Value& b, const OpSite& site) {
    if (op == BinOp::Add) {
        if (a.isInteger() && b.isInteger())
            return Value::integer(wrapAdd(a.asInteger(), b.asInteger()));
        if (a.isNumber() && b.isNumber()) return Value::number(asDouble(a) + asDouble(b));
        // Doubling a string or a list in a loop reaches any size in a few
        // dozen steps: past the memory budget the sum is refused up front.
        if (a.isString() && b.isString()) {
            if (!fitsMemoryBudget(a.asString().size() + b.asString().size(), 1))
                fail("result of '+' too large", site);
            return Value::joined(a.asString(), b.asString());
        }
        if (a.isList() && b.isList()) {
            const ListData& left = *a.asList();
            const ListData& right = *b.asList();
            if (!fitsMemoryBudget(left.size() + right.size(), sizeof(Value)))
                fail("result of '+' too large", site);
            ListData joined;
            joined.reserve(left.size() + right.size());
            joined.insert(joined.end(), left.begin(), left.end());
            joined.insert(joined.end(), right.begin(), right.end());
            return Value::newList(std::move(joined));
        }
        fail(std::string("cannot add ") + typeName(a) + " and " + typeName(b), site);
    }
    if (a.isNumber() && b.isNumber()) return arithmetic(op, a, b, site);
    if (site.vmWording)
        fail(std::string("arithmetic needs numbers, got ") + typeName(a) + " and " + typeName(b),
             site);
    fail(std::string("operator '") + binOpText(op) + "' needs numbers, got " + typeName(a) +
             " and " + typeName(b),
         site);
}

Value arithmetic(BinOp op, const Value& a, const Value& b, const OpSite& site) {
    if (op == BinOp::Div) {
        const double divisor = asDouble(b);
        if (divisor == 0.0) fail("division by zero", site);
        return Value::number(asDouble(a) / divisor);
    }
    if (a.isInteger() && b.isInteger()) {
        const int64_t x = a.asInteger();
        const int64_t y = b.asInteger();
        switch (op) {
        case BinOp::Mod:
            if (y == 0) fail("modulo by zero", site);
            return Value::integer(truncMod(x, y));
        case BinOp::Mul: return Value::integer(wrapMul(x, y));
        case BinOp::Sub: return Value::integer(wrapSub(x, y));
        case BinOp::Pow:
            if (y < 0)
                return Value::number(std::pow(static_cast<double>(x), static_cast<double>(y)));
            return Value::integer(wrapPow(x, y));
        case BinOp::FloorDiv:
            if (y == 0) fail("floor division by zero", site);
            return Value::integer(floorDiv(x, y));
        default: break;
        }
    }
    const double x = asDouble(a);
    const double y = asDouble(b);
    switch (op) {
    case BinOp::FloorDiv:
        if (y == 0.0) fail("floor division by zero", site);
        return Value::number(std::floor(x / y));
    case BinOp::Mod:
        if (y == 0.0) fail("modulo by zero", site);
        return Value::number(std::fmod(x, y));
    case BinOp::Mul: return Value::number(x * y);
    case BinOp::Sub: return Value::number(x - y);
    case BinOp::Pow: return Value::number(std::pow(x, y));
    default: break;
    }
    fail(std::string("unknown operator ") + binOpText(op), site);
}

bool compareValues(BinOp op, const Value& a, const Value& b, const OpSite& site) {
    if (a.isString() && b.isString()) {
        // std::string compares bytes as unsigned char, shorter prefix first.
        const int cmp = a.asString().compare(b.asString());
        switch (op) {
        case BinOp::Less: return cmp < 0;
        case BinOp::LessEqual: return cmp <= 0;
        case BinOp::Greater: return cmp > 0;
        default: return cmp >= 0;
        }
    }
    if (a.isNumber() && b.isNumber()) {
        const double x = asDouble(a);
        const double y = asDouble(b);
        switch (op) {
        case BinOp::Less: return x < y;
        case BinOp::LessEqual: return x <= y;
        case BinOp::Greater: return x > y;
        default: return x >= y;
        }
    }
    fail(std::string("cannot compare ") + typeName(a) + " and " + typeName(b), site);
}

Value negate(const Value& a, const OpSite& site) {
    if (a.isInteger()) return Value::integer(wrapSub(0, a.asInteger()));
    if (a.isFloat()) return Value::number(-a.asFloat());
    fail(std::string("unary '-': expected a number, got ") + typeName(a), site);
}

Value indexValue(const Value& object, const Value& index, const OpSite& site) {
    if (object.isList()) {
        if (!index.isInteger())
            fail(std::string("list index must be an integer, got ") + typeName(index), site);
        const ListData& list = *object.asList();
        size_t at = 0;
        if (!adjustIndex(index.asInteger(), list.size(), at))
            fail("list index " + decimal(index.asInteger()) + " out of range (len " +
                     decimal(static_cast<int64_t>(list.size())) + ")",
                 site);
        return list[at];
    }
    if (object.isMap()) {
        const MapData& map = *object.asMap();
        if (const Value* found = map.find(index)) return *found;
        return Value();
    }
    if (object.isString()) {
        if (!index.isInteger())
            fail(std::string("string index must be an integer, got ") + typeName(index), site);
        const std::string_view text = object.asString();
        size_t at = 0;
        if (!adjustIndex(index.asInteger(), text.size(), at))
            fail("string index out of range", site);
        return Value::string(text.substr(at, 1));
    }
    fail(std::string("cannot index ") + typeName(object), site);
}

void setIndex(const Value& object, const Value& index, Value value, const OpSite& site) {
    if (object.isList()) {
        if (!index.isInteger())
            fail(std::string("list index must be an integer, got ") + typeName(index), site);
        ListData& list = *object.asList();
        size_t at = 0;
        if (!adjustIndex(index.asInteger(), list.size(), at))
            fail("list index " + decimal(index.asInteger()) + " out of range (len " +
                     decimal(static_cast<int64_t>(list.size())) + ")",
                 site);
        list[at] = std::move(value);
        return;
    }
    if (object.isMap()) {
        if (!index.isString() && !index.isNumber())
            fail(std::string("map key must be a string or number, got ") + typeName(index), site);
        object.asMap()->set(index, std::move(value));
        return;
    }
    fail(std::string("cannot assign into ") + typeName(object), site);
}

ListData iterationItems(const Value& iterable, const OpSite& site) {
    if (iterable.isList()) return *iterable.asList();
    if (iterable.isMap()) {
        const MapData& map = *iterable.asMap();
        ListData keys;
        keys.reserve(map.size());
        map.forEach([&keys](const Value& key, const Value&) { keys.push_back(key); });
        return keys;
    }
    if (iterable.isString()) {
        const std::string_view text = iterable.asString();
        // One value per byte takes many times the string's memory.
        if (!fitsMemoryBudget(text.size(), sizeof(Value))) fail("string too long to iterate", site);
        ListData bytes;
        bytes.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i) bytes.push_back(Value::string(text.substr(i, 1)));
        return bytes;
    }
    fail(std::string("cannot iterate over ") + typeName(iterable), site);
}

}  // namespace ferrow
