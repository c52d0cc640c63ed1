#include "value/Value.h"

#include <memory>
#include <vector>


namespace ferrow {

void Value::copyHeap(const Value& other) {
    switch (other.kind_) {
        case Kind::String: std::construct_at(&payload_.s, other.payload_.s); break;
        case Kind::List: std::construct_at(&payload_.l, other.payload_.l); break;
        case Kind::Map: std::construct_at(&payload_.m, other.payload_.m); break;
        case Kind::Function: std::construct_at(&payload_.f, other.payload_.f); break;
        case Kind::Native: std::construct_at(&payload_.n, other.payload_.n); break;
        case Kind::Closure: std::construct_at(&payload_.c, other.payload_.c); break;
        default: break;
    }
}

void Value::moveHeap(Value&& other) noexcept {
    switch (other.kind_) {
        case Kind::String: std::construct_at(&payload_.s, std::move(other.payload_.s)); break;
        case Kind::List: std::construct_at(&payload_.l, std::move(other.payload_.l)); break;
        case Kind::Map: std::construct_at(&payload_.m, std::move(other.payload_.m)); break;
        case Kind::Function: std::construct_at(&payload_.f, std::move(other.payload_.f)); break;
        case Kind::Native: std::construct_at(&payload_.n, std::move(other.payload_.n)); break;
        case Kind::Closure: std::construct_at(&payload_.c, std::move(other.payload_.c)); break;
        default: break;
    }
}

namespace {

// Releasing the last reference to a container releases what it holds, and so
// on down a nested structure: a list nested ten million levels deep would be
// freed ten million frames deep. Up to kReleaseDepth levels are freed by
// plain recursion; deeper containers are handed to the outermost release's
// work list and freed from its loop, so the native stack stays bounded.
constexpr unsigned kReleaseDepth = 64;
thread_local unsigned releaseDepth = 0;
thread_local std::vector<Value>* deferredReleases = nullptr;

}  // namespace

void Value::destroyHeap() noexcept {
    if (holdsLastContainerReference()) {
        releaseContainer();
        return;
    }
    destroyPayload();
}

bool Value::holdsLastContainerReference() const noexcept {
    switch (kind_) {
        case Kind::List: return payload_.l.use_count() == 1 && !payload_.l->empty();
        case Kind::Map: return payload_.m.use_count() == 1 && payload_.m->size() != 0;
        case Kind::Function: return payload_.f.use_count() == 1;
        case Kind::Closure: return payload_.c.use_count() == 1;
        default: return false;
    }
}

void Value::releaseContainer() noexcept {
    if (deferredReleases) {
        if (releaseDepth >= kReleaseDepth) {
            try {
                deferredReleases->push_back(std::move(*this));
                destroyPayload();  // what is left is an empty pointer
                return;
            } catch (...) {
                // No memory for the work list: release in place after all.
            }
        }
        ++releaseDepth;
        destroyPayload();
        --releaseDepth;
        return;
    }
    std::vector<Value> work;
    deferredReleases = &work;
    releaseDepth = 1;
    destroyPayload();
    while (!work.empty()) {
        Value doomed = std::move(work.back());
        work.pop_back();
    }
    releaseDepth = 0;
    deferredReleases = nullptr;
}

void Value::destroyPayload() noexcept {
    switch (kind_) {
        case Kind::String: std::destroy_at(&payload_.s); break;
        case Kind::List: std::destroy_at(&payload_.l); break;
        case Kind::Map: std::destroy_at(&payload_.m); break;
        case Kind::Function: std::destroy_at(&payload_.f); break;
        case Kind::Native: std::destroy_at(&payload_.n); break;
        case Kind::Closure: std::destroy_at(&payload_.c); break;
        default: break;
    }
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
    switch (v.kind()) {
        case Value::Kind::Nil: return "nil";
        case Value::Kind::Bool: return "bool";
        case Value::Kind::Integer:
        case Value::Kind::Float: return "number";
        case Value::Kind::String: return "string";
        case Value::Kind::List: return "list";
        case Value::Kind::Map: return "map";
        case Value::Kind::Function:
        case Value::Kind::Native:
        case Value::Kind::Closure: return "function";
    }
    return "unknown";
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
