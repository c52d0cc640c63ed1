// Fuzz target: a map behaves like a list of key/value pairs searched from the
// front. The bytes are operations (set, remove, find, copy, clear) on one map,
// mirrored on that model; after each, sizes and the touched key's value must
// agree, and every few operations the whole iteration order too. Keys come
// from a small pool (equal numbers of both kinds, -0.0 and 0.0, integers equal
// only as doubles, NaN, equal but separately allocated strings) and from
// ranges wide enough to pass linear search, index growth, tombstones and
// compaction.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "FuzzSupport.h"
#include "value/Heap.h"
#include "value/Value.h"

namespace {
using namespace ferrow;

struct Input {
    const uint8_t* data;
    std::size_t size, at = 0;
    bool empty() const { return at == size; }
    uint8_t byte() { return at < size ? data[at++] : 0; }  // zeros past the end
};

constexpr int64_t kTwo53 = int64_t{1} << 53;

// "a", "b", "" shared, or made afresh on every use ("1", not the number 1, and
// "k7" of the wide range) so that equality cannot rest on identity.
Value pooledKey(uint8_t pick, const std::vector<Value>& shared) {
    static const double kFloats[] = {0.0, -0.0, 1.0, 2.0, 1.5, static_cast<double>(kTwo53), -1.0};
    static const int64_t kIntegers[] = {0, 1, 2, kTwo53, kTwo53 + 1, kTwo53 + 2, INT64_MAX, -1};
    static const char* const kFresh[] = {"a", "b", "", "1", "k7"};
    pick %= 24;
    if (pick < 7) return Value::number(kFloats[pick]);
    if (pick < 15) return Value::integer(kIntegers[pick - 7]);
    if (pick == 15) return Value::number(std::nan(""));
    if (pick < 19) return shared[pick - 16];
    return Value::string(kFresh[pick - 19]);
}

Value readKey(Input& in, const std::vector<Value>& shared) {
    const uint8_t kind = in.byte();
    if (kind < 64) return pooledKey(kind, shared);
    if (kind < 160) return Value::string("k" + std::to_string(in.byte()));
    const int64_t high = in.byte();
    const int64_t n = (high << 8 | in.byte()) % 1001;
    // Now and then the same numbers as floats: they must find the integers.
    return kind < 224 ? Value::integer(n) : Value::number(static_cast<double>(n));
}

// Written out afresh rather than taken from keysEqual, so a fault there shows.
bool modelKeysEqual(const Value& a, const Value& b) {
    if (a.isNumber() && b.isNumber()) return asDouble(a) == asDouble(b);
    return a.isString() && b.isString() && a.asString() == b.asString();
}

// Same kind and bits: a replaced entry keeps its first key exactly (integer 1,
// not a later 1.0; 0.0, not -0.0).
bool identical(const Value& a, const Value& b) {
    if (a.kind() != b.kind()) return false;
    if (a.isInteger()) return a.asInteger() == b.asInteger();
    if (a.isString()) return a.asString() == b.asString();
    if (!a.isFloat()) return false;
    const double x = a.asFloat(), y = b.asFloat();
    return std::memcmp(&x, &y, sizeof x) == 0;
}

using Model = std::vector<std::pair<Value, Value>>;

Model::iterator modelFind(Model& model, const Value& key) {
    auto it = model.begin();
    while (it != model.end() && !modelKeysEqual(it->first, key)) ++it;
    return it;
}

void checkSame(const MapObj& map, const Model& model) {
    if (map.size() != model.size()) fuzz::fail("map: size differs from the model");
    std::size_t i = 0;
    map.forEach([&](const Value& key, const Value& value) {
        if (i >= model.size()) fuzz::fail("map: iteration visits more entries than the size");
        if (!identical(key, model[i].first)) fuzz::fail("map: iteration order or key differs");
        if (!identical(value, model[i++].second)) fuzz::fail("map: iterated value differs");
    });
    if (i != model.size()) fuzz::fail("map: iteration visits fewer entries than the size");
}

void run(const uint8_t* data, std::size_t size) {
    const std::vector<Value> shared = {Value::string("a"), Value::string("b"), Value::string("")};
    Input in{data, size};
    Value map = Value::newMap();
    Model model;
    int64_t serial = 0;
    unsigned sinceCheck = 0;
    while (!in.empty()) {
        const uint8_t op = in.byte();
        bool checkAll = ++sinceCheck == 16;
        MapObj& m = *map.asMap();
        if (op < 232) {
            const Value key = readKey(in, shared);
            auto it = modelFind(model, key);
            if (op < 128) {  // set; now and then a string value, so entries own objects
                const Value value = op < 112 ? Value::integer(serial++)
                                             : Value::string("v" + std::to_string(serial++));
                m.set(key, value);
                if (it != model.end()) it->second = value;
                else model.emplace_back(key, value);
                const Value* found = m.find(key);
                const bool nan = key.isFloat() && std::isnan(key.asFloat());
                if (nan ? found != nullptr : (!found || !identical(*found, value)))
                    fuzz::fail("map: a key just set does not find its value");
            } else if (op < 176) {  // remove
                const bool expected = it != model.end();
                if (expected) model.erase(it);
                if (m.remove(key) != expected) fuzz::fail("map: remove result differs");
                if (m.find(key)) fuzz::fail("map: a removed key is still found");
            } else {  // find
                const Value* found = m.find(key);
                if ((found != nullptr) != (it != model.end())) fuzz::fail("map: find presence differs");
                if (found && !identical(*found, it->second)) fuzz::fail("map: find value differs");
            }
        } else if (op < 252) {
            // A copy is independent: clearing the original leaves it whole.
            Value copy = Value::map(newContainer<MapObj>(m));
            if (op & 1) m.clear();
            map = std::move(copy);
            checkAll = true;
        } else {
            m.clear();
            model.clear();
        }
        if (map.asMap()->size() != model.size()) fuzz::fail("map: size differs from the model");
        if (checkAll) { checkSame(*map.asMap(), model); sinceCheck = 0; }
    }
    checkSame(*map.asMap(), model);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // All an input makes (index and entry arrays too) is freed when it ends.
    const std::size_t before = ferrow::Heap::current().bytesInUse();
    run(data, size);
    if (ferrow::Heap::current().bytesInUse() != before) ferrow::fuzz::fail("map: heap bytes not returned");
    return 0;
}
