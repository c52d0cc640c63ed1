#pragma once
// The value model: every datum a Ferrow program handles is a Value.
//
// Code outside src/value uses the helpers below (kind tests, accessors,
// factories) rather than the raw variant, so the representation can change
// without touching the engines and the natives.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace ferrow {

class Value;
struct MapData;
struct FunctionObj;
struct NativeObj;
struct VMClosure;

using ListData = std::vector<Value>;
using ListPtr = std::shared_ptr<ListData>;
using MapPtr = std::shared_ptr<MapData>;
using FunctionPtr = std::shared_ptr<FunctionObj>;
using NativePtr = std::shared_ptr<NativeObj>;
using ClosurePtr = std::shared_ptr<VMClosure>;

class Value {
public:
    // The alternatives, in this fixed order; ValueKind mirrors the index.
    using Variant = std::variant<std::monostate, bool, int64_t, double, std::string, ListPtr,
                                 MapPtr, FunctionPtr, NativePtr, ClosurePtr>;

    enum class Kind : uint8_t {
        Nil = 0, Bool, Integer, Float, String, List, Map, Function, Native, Closure
    };

    Value() = default;
    Value(const Value&) = default;
    Value(Value&&) noexcept = default;
    Value& operator=(const Value&) = default;
    Value& operator=(Value&&) noexcept = default;
    // Dropping the last reference to a container frees what it holds, which
    // may be another container, and so on: a list nested a million levels
    // deep would free itself a million frames deep. Such releases go through
    // releaseLast, which bounds that depth; everything else is freed as usual.
    ~Value() {
        if (isLastReferenceToContainer()) releaseLast();
    }

    // Factories. Named rather than implicit constructors so that a bool never
    // silently becomes an integer or a pointer a bool.
    static Value nil() { return Value(); }
    static Value boolean(bool b) { return Value(Variant(std::in_place_index<1>, b)); }
    static Value integer(int64_t i) { return Value(Variant(std::in_place_index<2>, i)); }
    static Value number(double d) { return Value(Variant(std::in_place_index<3>, d)); }
    static Value string(std::string s) { return Value(Variant(std::in_place_index<4>, std::move(s))); }
    static Value list(ListPtr l) { return Value(Variant(std::in_place_index<5>, std::move(l))); }
    static Value newList(ListData elements = {}) {
        return list(std::make_shared<ListData>(std::move(elements)));
    }
    static Value map(MapPtr m) { return Value(Variant(std::in_place_index<6>, std::move(m))); }
    static Value newMap();
    static Value function(FunctionPtr f) { return Value(Variant(std::in_place_index<7>, std::move(f))); }
    static Value native(NativePtr n) { return Value(Variant(std::in_place_index<8>, std::move(n))); }
    static Value closure(ClosurePtr c) { return Value(Variant(std::in_place_index<9>, std::move(c))); }

    Kind kind() const { return static_cast<Kind>(v_.index()); }

    bool isNil() const { return v_.index() == 0; }
    bool isBool() const { return v_.index() == 1; }
    bool isInteger() const { return v_.index() == 2; }
    bool isFloat() const { return v_.index() == 3; }
    bool isNumber() const { return v_.index() == 2 || v_.index() == 3; }
    bool isString() const { return v_.index() == 4; }
    bool isList() const { return v_.index() == 5; }
    bool isMap() const { return v_.index() == 6; }
    bool isTreeFunction() const { return v_.index() == 7; }
    bool isNative() const { return v_.index() == 8; }
    bool isClosure() const { return v_.index() == 9; }
    bool isFunction() const { return v_.index() >= 7 && v_.index() <= 9; }

    // Accessors: callers test the kind first; a wrong kind is a programming
    // error (the variant's access failure).
    bool asBool() const { return *std::get_if<1>(&v_); }
    int64_t asInteger() const { return *std::get_if<2>(&v_); }
    double asFloat() const { return *std::get_if<3>(&v_); }
    const std::string& asString() const { return *std::get_if<4>(&v_); }
    const ListPtr& asList() const { return *std::get_if<5>(&v_); }
    const MapPtr& asMap() const { return *std::get_if<6>(&v_); }
    const FunctionPtr& asTreeFunction() const { return *std::get_if<7>(&v_); }
    const NativePtr& asNative() const { return *std::get_if<8>(&v_); }
    const ClosurePtr& asClosure() const { return *std::get_if<9>(&v_); }

    // Raw access for the value layer itself (text forms, equality).
    const Variant& raw() const { return v_; }

private:
    explicit Value(Variant v) : v_(std::move(v)) {}

    // Lists, maps and both kinds of function can hold further values; a
    // native cannot.
    bool isLastReferenceToContainer() const {
        switch (v_.index()) {
        case 5: return std::get_if<5>(&v_)->use_count() == 1;
        case 6: return std::get_if<6>(&v_)->use_count() == 1;
        case 7: return std::get_if<7>(&v_)->use_count() == 1;
        case 9: return std::get_if<9>(&v_)->use_count() == 1;
        default: return false;
        }
    }
    void releaseLast() noexcept;

    Variant v_;
};

// The insertion-ordered storage of a map. Keys are strings or numbers; no two
// entries have keysEqual keys. Lookups are linear scans.
struct MapData {
    std::vector<std::pair<Value, Value>> entries;

    Value* find(const Value& key);
    const Value* find(const Value& key) const;
    // Replaces the value of an existing equal key in place (keeping that key
    // and its position), else appends.
    void set(const Value& key, Value value);
    bool remove(const Value& key);
    size_t size() const { return entries.size(); }
};

// The exception that carries a script value raised by the native `error`.
// Deliberately not a std::exception: only `try` and the driver catch it.
struct ThrownValue {
    Value value;
};

// "nil", "bool", "number", "string", "list", "map" or "function".
const char* typeName(const Value& v);
// Only nil and false are false.
bool isTruthy(const Value& v);
// An integer converted to double, a float as it is. Only for numbers.
inline double asDouble(const Value& v) {
    return v.isInteger() ? static_cast<double>(v.asInteger()) : v.asFloat();
}
// The one equality of the language: numbers by value as doubles, strings by
// bytes, lists, maps and functions by identity.
bool valuesEqual(const Value& a, const Value& b);
// Map key comparison: like valuesEqual for bool, numbers, strings and nil;
// false for everything else.
bool keysEqual(const Value& a, const Value& b);

// Truncates a double toward zero; NaN, infinities and values outside the
// 64-bit range give the smallest integer.
int64_t truncateToInt64(double d);

}  // namespace ferrow
