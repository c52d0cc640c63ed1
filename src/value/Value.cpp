#include "value/Value.h"

#include <new>


namespace ferrow {

namespace {

// How many container releases may nest on the native stack before further
// ones are deferred; each level costs a few frames of vector, map and
// environment destructors.
constexpr int kMaxReleaseDepth = 100;

// The releases in progress on this thread, and the deferred ones, owned by
// the outermost release in progress (null when none is).
thread_local int releaseDepth = 0;
thread_local std::vector<Value>* deferredReleases = nullptr;

}  // namespace

void Value::releaseLast() noexcept {
    if (deferredReleases) {
        if (releaseDepth >= kMaxReleaseDepth) {
            try {
                // The moved-from pointer left here releases nothing.
                deferredReleases->push_back(std::move(*this));
                return;
            } catch (const std::bad_alloc&) {
                // No memory to defer it: free it here after all.
            }
        }
        ++releaseDepth;
        v_.emplace<0>();
        --releaseDepth;
        return;
    }
    // The outermost release frees the value, then every release deferred
    // meanwhile, each of which may defer more, all at the same shallow depth.
    std::vector<Value> deferred;
    deferredReleases = &deferred;
    releaseDepth = 1;
    v_.emplace<0>();
    while (!deferred.empty()) {
        Value next = std::move(deferred.back());
        deferred.pop_back();
    }
    releaseDepth = 0;
    deferredReleases = nullptr;
}

Value Value::newMap() {
    return map(std::make_shared<MapData>());
}

Value* MapData::find(const Value& key) {
    for (auto& entry : entries) {
        if (keysEqual(entry.first, key)) return &entry.second;
    }
    return nullptr;
}

const Value* MapData::find(const Value& key) const {
    for (const auto& entry : entries) {
        if (keysEqual(entry.first, key)) return &entry.second;
    }
    return nullptr;
}

void MapData::set(const Value& key, Value value) {
    if (Value* slot = find(key)) {
        *slot = std::move(value);
        return;
    }
    entries.emplace_back(key, std::move(value));
}

bool MapData::remove(const Value& key) {
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (keysEqual(it->first, key)) {
            entries.erase(it);
            return true;
        }
    }
    return false;
}

const char* typeName(const Value& v) {
    switch (v.raw().index()) {
        case 0: return "nil";
        case 1: return "bool";
        case 2:
        case 3: return "number";
        case 4: return "string";
        case 5: return "list";
        case 6: return "map";
        case 7:
        case 8:
        case 9: return "function";
        default: return "unknown";  // valueless after a failed assignment
    }
}

bool isTruthy(const Value& v) {
    if (v.isNil()) return false;
    if (v.isBool()) return v.asBool();
    return true;
}

namespace {

// The comparison shared by valuesEqual and keysEqual: bools, numbers, strings
// and nil. Sets `decided` when one of those rules applied.
bool scalarEqual(const Value& a, const Value& b, bool& decided) {
    decided = true;
    if (a.isBool()) return b.isBool() && a.asBool() == b.asBool();
    if (b.isBool()) return false;
    // Integers too are compared as doubles, so integers that differ only
    // beyond 2^53 are equal; NaN is unequal to itself and -0.0 equals 0.0.
    if (a.isNumber() && b.isNumber()) return asDouble(a) == asDouble(b);
    if (a.isString()) return b.isString() && a.asString() == b.asString();
    if (a.isNil()) return b.isNil();
    if (b.isNil()) return false;
    decided = false;
    return false;
}

}  // namespace

bool valuesEqual(const Value& a, const Value& b) {
    bool decided = false;
    const bool scalar = scalarEqual(a, b, decided);
    if (decided) return scalar;
    if (a.kind() != b.kind()) return false;
    // Containers and functions compare by identity.
    switch (a.kind()) {
        case Value::Kind::List: return a.asList() == b.asList();
        case Value::Kind::Map: return a.asMap() == b.asMap();
        case Value::Kind::Function: return a.asTreeFunction() == b.asTreeFunction();
        case Value::Kind::Native: return a.asNative() == b.asNative();
        case Value::Kind::Closure: return a.asClosure() == b.asClosure();
        default: return false;
    }
}

bool keysEqual(const Value& a, const Value& b) {
    bool decided = false;
    const bool scalar = scalarEqual(a, b, decided);
    return decided && scalar;
}

int64_t truncateToInt64(double d) {
    // 2^63 is exactly representable; every double in [-2^63, 2^63) fits.
    constexpr double kLimit = 9223372036854775808.0;
    if (!(d >= -kLimit && d < kLimit)) return INT64_MIN;  // also catches NaN
    return static_cast<int64_t>(d);  // the conversion truncates toward zero
}

}  // namespace ferrow
