#include "value/Value.h"

#include <vector>


namespace ferrow {

namespace {

// Releasing a value may release what it holds, and so on down a nested
// structure. Up to kReleaseDepth levels are freed by plain recursion; deeper
// values are moved to the outermost release's work list and freed from its
// loop, so the stack depth stays bounded however deep the structure is.
constexpr unsigned kReleaseDepth = 64;
thread_local unsigned releaseDepth = 0;
thread_local std::vector<Value>* deferredReleases = nullptr;

}  // namespace

bool Value::holdsLastReference() const noexcept {
    // A shared count above one means this release only decrements it.
    switch (v_.index()) {
        case 5: {
            const ListPtr& list = *std::get_if<5>(&v_);
            return list.use_count() == 1 && !list->empty();
        }
        case 6: {
            const MapPtr& map = *std::get_if<6>(&v_);
            return map.use_count() == 1 && map->size() != 0;
        }
        case 7: return std::get_if<7>(&v_)->use_count() == 1;
        case 9: return std::get_if<9>(&v_)->use_count() == 1;
        default: return false;
    }
}

void Value::releaseShared() noexcept {
    if (!holdsLastReference()) return;
    if (deferredReleases) {
        if (releaseDepth >= kReleaseDepth) {
            try {
                deferredReleases->push_back(std::move(*this));
                return;
            } catch (...) {
                // No memory for the work list: release in place after all.
            }
        }
        ++releaseDepth;
        { Variant doomed = std::move(v_); }
        --releaseDepth;
        return;
    }
    std::vector<Value> work;
    deferredReleases = &work;
    releaseDepth = 1;
    { Variant doomed = std::move(v_); }
    while (!work.empty()) {
        Variant doomed = std::move(work.back().v_);
        work.pop_back();
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
