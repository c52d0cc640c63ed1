#pragma once
// The value model: every datum a Ferrow program handles is a Value.
//
// Code outside src/value uses the helpers below (kind tests, accessors,
// factories) rather than the representation, so the representation can change
// without touching the engines and the natives.

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
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
    // The alternatives, in this fixed order (the numbering is stable and used
    // by tests and dumps).
    enum class Kind : uint8_t {
        Nil = 0, Bool, Integer, Float, String, List, Map, Function, Native, Closure
    };

    Value() noexcept { payload_.i = 0; }
    Value(const Value& other) : kind_(other.kind_) {
        if (other.ownsHeap()) copyHeap(other);
        else copyBits(other);
    }
    Value(Value&& other) noexcept : kind_(other.kind_) {
        if (other.ownsHeap()) moveHeap(std::move(other));
        else copyBits(other);
    }
    Value& operator=(const Value& other) {
        if (this != &other) {
            // Copy first: `other` may live inside what this value owns.
            Value copy(other);
            *this = std::move(copy);
        }
        return *this;
    }
    Value& operator=(Value&& other) noexcept {
        if (this == &other) return *this;
        if (!ownsHeap() && !other.ownsHeap()) {
            kind_ = other.kind_;
            copyBits(other);
            return *this;
        }
        // Take `other` out before releasing our payload, which may own it
        // (as in `v = std::move(list[0])` where v holds the last reference
        // to the list).
        Value taken(std::move(other));
        reset();
        kind_ = taken.kind_;
        if (taken.ownsHeap()) moveHeap(std::move(taken));
        else copyBits(taken);
        return *this;
    }
    ~Value() {
        if (ownsHeap()) destroyHeap();
    }

    // Factories. Named rather than implicit constructors so that a bool never
    // silently becomes an integer or a pointer a bool.
    static Value nil() { return Value(); }
    static Value boolean(bool b) {
        Value v(Kind::Bool);
        v.payload_.b = b;
        return v;
    }
    static Value integer(int64_t i) {
        Value v(Kind::Integer);
        v.payload_.i = i;
        return v;
    }
    static Value number(double d) {
        Value v(Kind::Float);
        v.payload_.d = d;
        return v;
    }
    static Value string(std::string s) {
        Value v(Kind::String);
        std::construct_at(&v.payload_.s, std::move(s));
        return v;
    }
    static Value list(ListPtr l) {
        Value v(Kind::List);
        std::construct_at(&v.payload_.l, std::move(l));
        return v;
    }
    static Value newList(ListData elements = {}) {
        return list(std::make_shared<ListData>(std::move(elements)));
    }
    static Value map(MapPtr m) {
        Value v(Kind::Map);
        std::construct_at(&v.payload_.m, std::move(m));
        return v;
    }
    static Value newMap();
    static Value function(FunctionPtr f) {
        Value v(Kind::Function);
        std::construct_at(&v.payload_.f, std::move(f));
        return v;
    }
    static Value native(NativePtr n) {
        Value v(Kind::Native);
        std::construct_at(&v.payload_.n, std::move(n));
        return v;
    }
    static Value closure(ClosurePtr c) {
        Value v(Kind::Closure);
        std::construct_at(&v.payload_.c, std::move(c));
        return v;
    }

    Kind kind() const { return kind_; }

    bool isNil() const { return kind_ == Kind::Nil; }
    bool isBool() const { return kind_ == Kind::Bool; }
    bool isInteger() const { return kind_ == Kind::Integer; }
    bool isFloat() const { return kind_ == Kind::Float; }
    bool isNumber() const { return kind_ == Kind::Integer || kind_ == Kind::Float; }
    bool isString() const { return kind_ == Kind::String; }
    bool isList() const { return kind_ == Kind::List; }
    bool isMap() const { return kind_ == Kind::Map; }
    bool isTreeFunction() const { return kind_ == Kind::Function; }
    bool isNative() const { return kind_ == Kind::Native; }
    bool isClosure() const { return kind_ == Kind::Closure; }
    bool isFunction() const { return kind_ >= Kind::Function; }

    // Accessors: callers test the kind first; reading the wrong kind is a
    // programming error.
    bool asBool() const { return payload_.b; }
    int64_t asInteger() const { return payload_.i; }
    double asFloat() const { return payload_.d; }
    const std::string& asString() const { return payload_.s; }
    const ListPtr& asList() const { return payload_.l; }
    const MapPtr& asMap() const { return payload_.m; }
    const FunctionPtr& asTreeFunction() const { return payload_.f; }
    const NativePtr& asNative() const { return payload_.n; }
    const ClosurePtr& asClosure() const { return payload_.c; }

private:
    // A hand-made tagged union rather than std::variant: the engines copy and
    // destroy values on every stack push and pop, and here the common case
    // (nil, bool, numbers) is an inline copy of a tag and eight bytes, while
    // variant dispatches every copy and destruction through a table.
    union Payload {
        Payload() {}
        ~Payload() {}
        bool b;
        int64_t i;
        double d;
        std::string s;
        ListPtr l;
        MapPtr m;
        FunctionPtr f;
        NativePtr n;
        ClosurePtr c;
    };

    explicit Value(Kind kind) : kind_(kind) { payload_.i = 0; }

    bool ownsHeap() const { return kind_ >= Kind::String; }
    // Scalars are copied as their eight payload bytes, whichever scalar it is.
    void copyBits(const Value& other) {
        std::memcpy(static_cast<void*>(&payload_), static_cast<const void*>(&other.payload_),
                    sizeof(int64_t));
    }
    void copyHeap(const Value& other);
    void moveHeap(Value&& other) noexcept;
    void destroyHeap() noexcept;
    void destroyPayload() noexcept;
    bool holdsLastContainerReference() const noexcept;
    void releaseContainer() noexcept;
    void reset() noexcept {
        if (ownsHeap()) destroyHeap();
        kind_ = Kind::Nil;
        payload_.i = 0;
    }

    Kind kind_ = Kind::Nil;
    Payload payload_;
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
