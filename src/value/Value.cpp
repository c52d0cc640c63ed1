#include "value/Value.h"

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <new>

#include "value/Function.h"

namespace ferrow {

// ---------------------------------------------------------------------------
// Strings

StringObj* StringObj::allocate(std::size_t length) {
    // The struct already holds one byte, which pays for the closing zero.
    const std::size_t size = sizeof(StringObj) + length;
    if (size < length) throw std::bad_alloc();
    void* block = Heap::current().allocate(size);
    StringObj* s = ::new (block) StringObj();
    s->length = length;
    s->bytes[length] = '\0';
    return s;
}

StringObj* StringObj::make(std::string_view bytes) {
    StringObj* s = allocate(bytes.size());
    if (!bytes.empty()) std::memcpy(s->bytes, bytes.data(), bytes.size());
    return s;
}

void StringObj::release(StringObj* s) noexcept {
    const std::size_t size = sizeof(StringObj) + s->length;
    s->~StringObj();
    Heap::current().deallocate(s, size);
}

// FNV-1a over the bytes, then a final mix so that the low bits, which pick a
// map's index cell, depend on every byte.
uint64_t StringObj::hashBytes(std::string_view bytes) noexcept {
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    h ^= h >> 32;
    h *= 0xd6e8feb86659fd93ull;
    h ^= h >> 32;
    return h;
}

Value Value::string(std::string_view bytes) { return string(StringObj::make(bytes)); }

Value Value::joined(std::string_view a, std::string_view b) {
    if (a.size() > SIZE_MAX / 2 || b.size() > SIZE_MAX / 2) throw std::bad_alloc();
    StringObj* s = StringObj::allocate(a.size() + b.size());
    if (!a.empty()) std::memcpy(s->bytes, a.data(), a.size());
    if (!b.empty()) std::memcpy(s->bytes + a.size(), b.data(), b.size());
    return string(s);
}

Value Value::newList() { return list(newContainer<ListObj>()); }

Value Value::newList(ValueVector elements) {
    return list(newContainer<ListObj>(std::move(elements)));
}

Value Value::newMap() { return map(newContainer<MapObj>()); }

// ---------------------------------------------------------------------------
// ValueVector

void ValueVector::grow() {
    // Half again, so that a list's spare room stays a third of it at most.
    std::size_t capacity = capacity_ < 4 ? 4 : capacity_ + capacity_ / 2;
    if (capacity < capacity_ || capacity > SIZE_MAX / sizeof(Value)) throw std::bad_alloc();
    regrow(capacity);
}

void ValueVector::regrow(std::size_t capacity) {
    if (capacity > SIZE_MAX / sizeof(Value)) throw std::bad_alloc();
    // Values hold no pointers into themselves, so moving them as bytes is
    // moving them.
    data_ = static_cast<Value*>(Heap::current().reallocate(data_, capacity_ * sizeof(Value),
                                                           capacity * sizeof(Value)));
    capacity_ = capacity;
}

void ValueVector::freeAll() noexcept {
    clear();
    if (data_) Heap::current().deallocate(data_, capacity_ * sizeof(Value));
    data_ = nullptr;
    capacity_ = 0;
}

void ValueVector::assign(std::size_t count, const Value& fill) {
    clear();
    reserve(count);
    for (std::size_t i = 0; i < count; ++i) push_back(fill);
}

Value* ValueVector::insert(Value* position, Value v) {
    const std::size_t at = static_cast<std::size_t>(position - data_);
    push_back(std::move(v));
    // Rotate the new last element into place.
    for (std::size_t i = size_ - 1; i > at; --i) data_[i].swap(data_[i - 1]);
    return data_ + at;
}

Value* ValueVector::erase(Value* position) {
    const std::size_t at = static_cast<std::size_t>(position - data_);
    for (std::size_t i = at; i + 1 < size_; ++i) data_[i].swap(data_[i + 1]);
    pop_back();
    return data_ + at;
}

// ---------------------------------------------------------------------------
// Maps

namespace {

constexpr std::size_t kNotFound = SIZE_MAX;

bool isKeyKind(const Value& key) {
    return key.isString() || (key.isNumber() && !(key.isFloat() && std::isnan(key.asFloat())));
}

uint64_t mix(uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ull;
    x ^= x >> 33;
    return x;
}

}  // namespace

uint64_t keyHash(const Value& key) {
    if (key.isString()) return key.asStringObj()->hash();
    if (key.isNumber()) {
        // Numbers are keys by their double value: 1 and 1.0 hash alike, and
        // so do -0.0 and 0.0.
        double d = asDouble(key);
        if (d == 0.0) d = 0.0;
        uint64_t bits = 0;
        std::memcpy(&bits, &d, sizeof bits);
        return mix(bits);
    }
    return 0;
}

MapObj::MapObj(const MapObj& other) : GcObj(ObjType::Map) {
    entries_.reserve(other.live_);
    for (const MapEntry& entry : other.entries_) {
        if (!entry.key.isNil()) entries_.push_back(entry);
    }
    live_ = entries_.size();
    if (entries_.size() > kLinearLimit) rebuildIndex(2 * entries_.size());
}

MapObj::~MapObj() {
    if (index_) Heap::current().deallocate(index_, (indexMask_ + 1) * sizeof(uint32_t));
}

void MapObj::clear() noexcept {
    if (index_) Heap::current().deallocate(index_, (indexMask_ + 1) * sizeof(uint32_t));
    index_ = nullptr;
    indexMask_ = 0;
    live_ = 0;
    // Taken out first, so that what the entries release sees an empty map.
    auto doomed = std::move(entries_);
    entries_.clear();
}

std::size_t MapObj::lookup(const Value& key, uint64_t hash) const noexcept {
    if (!index_) {
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (entries_[i].hash == hash && keysEqual(entries_[i].key, key)) return i;
        }
        return kNotFound;
    }
    for (std::size_t cell = hash & indexMask_;; cell = (cell + 1) & indexMask_) {
        const uint32_t position = index_[cell];
        if (position == kEmpty) return kNotFound;
        const MapEntry& entry = entries_[position];
        if (entry.hash == hash && keysEqual(entry.key, key)) return position;
    }
}

Value* MapObj::find(const Value& key) {
    // A deleted entry has a nil key, and nil, bools and NaN are never keys.
    if (!isKeyKind(key)) return nullptr;
    const std::size_t position = lookup(key, keyHash(key));
    return position == kNotFound ? nullptr : &entries_[position].value;
}

void MapObj::set(const Value& key, Value value) {
    const uint64_t hash = keyHash(key);
    if (isKeyKind(key)) {
        const std::size_t position = lookup(key, hash);
        if (position != kNotFound) {
            entries_[position].value = std::move(value);
            return;
        }
    }
    // A NaN key equals nothing, itself included: each one adds an entry.
    if (index_ && (entries_.size() + 1) * 2 > indexMask_ + 1) {
        // Full enough: drop the dead entries when they are many, else grow.
        if (entries_.size() - live_ > live_) {
            compact();
        } else {
            rebuildIndex(2 * (entries_.size() + 1));
        }
    }
    entries_.push_back(MapEntry{key, std::move(value), hash});
    ++live_;
    const auto position = static_cast<uint32_t>(entries_.size() - 1);
    if (!index_) {
        if (entries_.size() > kLinearLimit) rebuildIndex(2 * entries_.size());
        return;
    }
    // The key is not present, so the first free or dead cell of its probe
    // sequence can take it.
    for (std::size_t cell = hash & indexMask_;; cell = (cell + 1) & indexMask_) {
        const uint32_t at = index_[cell];
        if (at == kEmpty || entries_[at].key.isNil()) {
            index_[cell] = position;
            return;
        }
    }
}

bool MapObj::remove(const Value& key) {
    if (!isKeyKind(key)) return false;
    const std::size_t position = lookup(key, keyHash(key));
    if (position == kNotFound) return false;
    --live_;
    if (!index_) {
        // Few entries: close the gap at once.
        MapEntry doomed = std::move(entries_[position]);
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(position));
        return true;
    }
    // The entry stays as a tombstone with a nil key; its index cell keeps
    // pointing at it so that probes for other keys still pass over it.
    MapEntry doomed = std::move(entries_[position]);
    entries_[position].key = Value();
    entries_[position].value = Value();
    if (entries_.size() > 16 && entries_.size() - live_ > live_) compact();
    return true;
}

void MapObj::compact() {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].key.isNil()) continue;
        if (kept != i) entries_[kept] = std::move(entries_[i]);
        ++kept;
    }
    entries_.resize(kept);
    rebuildIndex(2 * (kept + 1));
}

void MapObj::rebuildIndex(std::size_t minCapacity) {
    std::size_t capacity = 16;
    while (capacity < minCapacity) capacity *= 2;
    if (capacity > UINT32_MAX) throw std::bad_alloc();
    auto* fresh = static_cast<uint32_t*>(Heap::current().allocate(capacity * sizeof(uint32_t)));
    std::fill(fresh, fresh + capacity, kEmpty);
    const std::size_t mask = capacity - 1;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].key.isNil()) continue;
        std::size_t cell = entries_[i].hash & mask;
        while (fresh[cell] != kEmpty) cell = (cell + 1) & mask;
        fresh[cell] = static_cast<uint32_t>(i);
    }
    if (index_) Heap::current().deallocate(index_, (indexMask_ + 1) * sizeof(uint32_t));
    index_ = fresh;
    indexMask_ = mask;
}

// ---------------------------------------------------------------------------
// Helpers

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

namespace {

bool stringsEqual(const Value& a, const Value& b) {
    if (a.asObject() == b.asObject()) return true;
    const StringObj* x = a.asStringObj();
    const StringObj* y = b.asStringObj();
    if (x->length != y->length) return false;
    if (x->hashed && y->hashed && x->hashValue != y->hashValue) return false;
    return std::memcmp(x->bytes, y->bytes, x->length) == 0;
}

// The comparison shared by valuesEqual and keysEqual: bools, numbers, strings
// and nil. Sets `decided` when one of those rules applied.
bool scalarEqual(const Value& a, const Value& b, bool& decided) {
    decided = true;
    if (a.isBool()) return b.isBool() && a.asBool() == b.asBool();
    if (b.isBool()) return false;
    // Integers too are compared as doubles, so integers that differ only
    // beyond 2^53 are equal; NaN is unequal to itself and -0.0 equals 0.0.
    if (a.isNumber() && b.isNumber()) return asDouble(a) == asDouble(b);
    if (a.isString()) return b.isString() && stringsEqual(a, b);
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
    // Containers and functions compare by identity.
    return a.kind() == b.kind() && a.asObject() == b.asObject();
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

// ---------------------------------------------------------------------------
// The engines' output

void Caller::write(std::string_view text) {
    std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace ferrow
