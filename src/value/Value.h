#pragma once
// The value model: every datum a Ferrow program handles is a Value.
//
// A Value is sixteen bytes: a kind tag and eight bytes of payload, which is
// the bool, integer or double itself, or a pointer to a heap object (Object.h)
// for strings, lists, maps and functions. Copying a value copies those
// sixteen bytes and, for an object, adds one to its reference count; it never
// allocates.
//
// Code outside src/value uses the helpers below (kind tests, accessors,
// factories) rather than the representation.

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "value/Heap.h"
#include "value/Object.h"

namespace ferrow {

struct StringObj;
struct ListObj;
struct MapObj;
struct FunctionObj;
struct NativeObj;
struct VMClosure;

using StringPtr = Ref<StringObj>;
using ListPtr = Ref<ListObj>;
using MapPtr = Ref<MapObj>;
using FunctionPtr = Ref<FunctionObj>;
using NativePtr = Ref<NativeObj>;
using ClosurePtr = Ref<VMClosure>;

class Value {
public:
    // The alternatives, in this fixed order (the numbering is stable and used
    // by tests and dumps). Every kind from String on is a heap object.
    enum class Kind : uint8_t {
        Nil = 0, Bool, Integer, Float, String, List, Map, Function, Native, Closure
    };

    Value() noexcept { payload_.i = 0; }
    Value(const Value& other) noexcept : kind_(other.kind_), payload_(other.payload_) {
        if (isObject()) retainObject(payload_.o);
    }
    Value(Value&& other) noexcept : kind_(other.kind_), payload_(other.payload_) {
        other.kind_ = Kind::Nil;
    }
    // Both assignments take the new value before releasing the old one, which
    // may own it (as in `v = list[0]` where v holds the list's last reference).
    Value& operator=(const Value& other) noexcept {
        if (other.isObject()) retainObject(other.payload_.o);
        Obj* old = isObject() ? payload_.o : nullptr;
        kind_ = other.kind_;
        payload_ = other.payload_;
        if (old) releaseObject(old);
        return *this;
    }
    Value& operator=(Value&& other) noexcept {
        if (this == &other) return *this;
        Obj* old = isObject() ? payload_.o : nullptr;
        kind_ = other.kind_;
        payload_ = other.payload_;
        other.kind_ = Kind::Nil;
        if (old) releaseObject(old);
        return *this;
    }
    ~Value() {
        if (isObject()) releaseObject(payload_.o);
    }
    void swap(Value& other) noexcept {
        std::swap(kind_, other.kind_);
        std::swap(payload_, other.payload_);
    }

    // Factories. Named rather than implicit constructors so that a bool never
    // silently becomes an integer or a pointer a bool.
    static Value nil() { return Value(); }
    static Value boolean(bool b) {
        // Stored as a whole word: a one-byte store followed by the
        // eight-byte copy of the payload would stall the processor.
        Value v(Kind::Bool);
        v.payload_.i = b ? 1 : 0;
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
    // A new string holding a copy of the bytes.
    static Value string(std::string_view bytes);
    // A new string holding a's bytes followed by b's.
    static Value joined(std::string_view a, std::string_view b);
    // Shares an existing string.
    static Value string(StringObj* s) { return object(Kind::String, reinterpret_cast<Obj*>(s)); }
    static Value list(ListObj* l) { return object(Kind::List, reinterpret_cast<Obj*>(l)); }
    static Value newList();
    static Value newList(struct ValueVector elements);
    static Value map(MapObj* m) { return object(Kind::Map, reinterpret_cast<Obj*>(m)); }
    static Value newMap();
    static Value function(FunctionObj* f) { return object(Kind::Function, reinterpret_cast<Obj*>(f)); }
    static Value native(NativeObj* n) { return object(Kind::Native, reinterpret_cast<Obj*>(n)); }
    static Value closure(VMClosure* c) { return object(Kind::Closure, reinterpret_cast<Obj*>(c)); }

    // Replace this value in place by a scalar, with no temporary value.
    void setBool(bool b) noexcept { setBits(Kind::Bool, b ? 1 : 0); }
    void setInteger(int64_t i) noexcept { setBits(Kind::Integer, i); }
    void setFloat(double d) noexcept {
        int64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        setBits(Kind::Float, bits);
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
    bool isObject() const { return kind_ >= Kind::String; }

    // Accessors: callers test the kind first; reading the wrong kind is a
    // programming error. Object accessors lend the pointer: it stays valid
    // while this value (or another reference) holds the object.
    bool asBool() const { return payload_.i != 0; }
    int64_t asInteger() const { return payload_.i; }
    double asFloat() const { return payload_.d; }
    inline std::string_view asString() const;
    StringObj* asStringObj() const { return reinterpret_cast<StringObj*>(payload_.o); }
    ListObj* asList() const { return reinterpret_cast<ListObj*>(payload_.o); }
    MapObj* asMap() const { return reinterpret_cast<MapObj*>(payload_.o); }
    FunctionObj* asTreeFunction() const { return reinterpret_cast<FunctionObj*>(payload_.o); }
    NativeObj* asNative() const { return reinterpret_cast<NativeObj*>(payload_.o); }
    VMClosure* asClosure() const { return reinterpret_cast<VMClosure*>(payload_.o); }
    Obj* asObject() const { return payload_.o; }

private:
    union Payload {
        int64_t i;
        double d;
        Obj* o;
    };

    explicit Value(Kind kind) : kind_(kind) { payload_.i = 0; }
    void setBits(Kind kind, int64_t bits) noexcept {
        Obj* old = isObject() ? payload_.o : nullptr;
        kind_ = kind;
        payload_.i = bits;
        if (old) releaseObject(old);
    }
    static Value object(Kind kind, Obj* o) {
        Value v(kind);
        v.payload_.o = o;
        retainObject(o);
        return v;
    }

    Kind kind_ = Kind::Nil;
    Payload payload_;
};

static_assert(sizeof(Value) == 16);

// An immutable string: one allocation holding the length, the hash and the
// bytes (followed by a zero byte, so that C library parsers can read them).
// Copies of a string value share it.
struct StringObj : Obj {
    static StringObj* make(std::string_view bytes);
    // A string of `length` bytes for the caller to fill in before sharing it.
    static StringObj* allocate(std::size_t length);
    // Strings are sized by their bytes; the matching delete is release().
    static void release(StringObj* s) noexcept;

    std::string_view view() const { return std::string_view(bytes, length); }
    const char* c_str() const { return bytes; }
    // Computed on first use, then kept.
    uint64_t hash() {
        if (!hashed) {
            hashValue = hashBytes(view());
            hashed = true;
        }
        return hashValue;
    }
    static uint64_t hashBytes(std::string_view bytes) noexcept;

    std::size_t length = 0;
    uint64_t hashValue = 0;
    bool hashed = false;
    char bytes[1];  // really length + 1

private:
    StringObj() : Obj(ObjType::String) {}
};

inline std::string_view Value::asString() const { return asStringObj()->view(); }

// A growable array of values. Unlike std::vector it grows with realloc:
// values hold no pointers into themselves, so they may be moved as bytes,
// and a large list then grows in place (the system remaps its pages) without
// ever holding the old and the new array at once. Counted in the heap.
struct ValueVector {
    using value_type = Value;
    using iterator = Value*;
    using const_iterator = const Value*;
    using reverse_iterator = std::reverse_iterator<Value*>;
    using const_reverse_iterator = std::reverse_iterator<const Value*>;

    ValueVector() noexcept = default;
    ValueVector(std::size_t count, const Value& fill) { assign(count, fill); }
    template <typename It, typename = typename std::iterator_traits<It>::iterator_category>
    ValueVector(It first, It last) {
        if constexpr (std::is_base_of_v<std::forward_iterator_tag,
                                        typename std::iterator_traits<It>::iterator_category>) {
            reserve(static_cast<std::size_t>(std::distance(first, last)));
        }
        for (; first != last; ++first) push_back(*first);
    }
    ValueVector(std::initializer_list<Value> values) : ValueVector(values.begin(), values.end()) {}
    ValueVector(const ValueVector& other) : ValueVector(other.begin(), other.end()) {}
    ValueVector(ValueVector&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    ValueVector& operator=(ValueVector other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
        return *this;
    }
    ~ValueVector() { freeAll(); }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    std::size_t capacity() const noexcept { return capacity_; }
    Value* data() noexcept { return data_; }
    const Value* data() const noexcept { return data_; }
    Value& operator[](std::size_t i) noexcept { return data_[i]; }
    const Value& operator[](std::size_t i) const noexcept { return data_[i]; }
    Value& back() noexcept { return data_[size_ - 1]; }
    const Value& back() const noexcept { return data_[size_ - 1]; }
    Value* begin() noexcept { return data_; }
    Value* end() noexcept { return data_ + size_; }
    const Value* begin() const noexcept { return data_; }
    const Value* end() const noexcept { return data_ + size_; }
    reverse_iterator rbegin() noexcept { return reverse_iterator(end()); }
    reverse_iterator rend() noexcept { return reverse_iterator(begin()); }
    const_reverse_iterator rbegin() const noexcept { return const_reverse_iterator(end()); }
    const_reverse_iterator rend() const noexcept { return const_reverse_iterator(begin()); }

    void reserve(std::size_t count) {
        if (count > capacity_) regrow(count);
    }
    void push_back(const Value& v) {
        if (size_ == capacity_) {
            Value copy(v);  // v may live in this array
            grow();
            new (data_ + size_++) Value(std::move(copy));
            return;
        }
        new (data_ + size_++) Value(v);
    }
    void push_back(Value&& v) {
        if (size_ == capacity_) {
            Value taken(std::move(v));
            grow();
            new (data_ + size_++) Value(std::move(taken));
            return;
        }
        new (data_ + size_++) Value(std::move(v));
    }
    void emplace_back() { push_back(Value()); }
    void pop_back() noexcept { data_[--size_].~Value(); }
    void clear() noexcept {
        // Released back to front, and the size drops first, so that nothing
        // released can see a half-cleared array.
        while (size_ > 0) pop_back();
    }
    void assign(std::size_t count, const Value& fill);
    Value* insert(Value* position, Value v);
    template <typename It>
    Value* insert(Value* position, It first, It last) {
        const std::size_t at = static_cast<std::size_t>(position - data_);
        ValueVector tail(data_ + at, end());
        truncate(at);
        for (; first != last; ++first) push_back(*first);
        for (Value& v : tail) push_back(std::move(v));
        return data_ + at;
    }
    Value* erase(Value* position);
    void truncate(std::size_t count) noexcept {
        while (size_ > count) pop_back();
    }
    // Takes the elements out, leaving this array empty.
    ValueVector take() noexcept { return std::move(*this); }

private:
    void grow();
    void regrow(std::size_t capacity);
    void freeAll() noexcept;

    Value* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

using ListData = ValueVector;

// A list: a shared, growable array of values.
struct ListObj final : GcObj, ValueVector {
    ListObj() : GcObj(ObjType::List) {}
    explicit ListObj(ValueVector elements) : GcObj(ObjType::List), ValueVector(std::move(elements)) {}
};

// One entry of a map. A deleted entry keeps its place with a nil key until
// the map is compacted, so the order of the others never changes.
struct MapEntry {
    Value key;
    Value value;
    uint64_t hash = 0;
};

// The storage of a map: entries in insertion order, and for maps of more
// than a few entries an open-addressing index of entry positions, so that
// lookups, insertions, updates and deletions take expected constant time.
// Keys are strings or numbers, compared by keysEqual: numbers as doubles (so
// 1 and 1.0 are one key, and -0.0 is 0.0), a NaN key equal to nothing.
struct MapObj final : GcObj {
    MapObj() : GcObj(ObjType::Map) {}
    MapObj(const MapObj& other);  // a copy in the same order, without dead entries
    ~MapObj();

    Value* find(const Value& key);
    const Value* find(const Value& key) const { return const_cast<MapObj*>(this)->find(key); }
    // find for a string key, inline: the key's cached hash first, then its
    // identity (the compiler shares one string per constant text), then
    // its bytes.
    Value* findString(StringObj* key) noexcept {
        const uint64_t hash = key->hash();
        if (!index_) {
            for (MapEntry& entry : entries_) {
                if (entry.hash == hash && sameString(entry.key, key)) return &entry.value;
            }
            return nullptr;
        }
        for (std::size_t cell = hash & indexMask_;; cell = (cell + 1) & indexMask_) {
            const uint32_t position = index_[cell];
            if (position == kEmpty) return nullptr;
            MapEntry& entry = entries_[position];
            if (entry.hash == hash && sameString(entry.key, key)) return &entry.value;
        }
    }
    // Replaces the value of an existing equal key in place (keeping that key
    // and its position), else appends.
    void set(const Value& key, Value value);
    bool remove(const Value& key);
    std::size_t size() const noexcept { return live_; }
    void clear() noexcept;

    // Visits the live entries in insertion order. The callback must not
    // change the map.
    template <typename F>
    void forEach(F&& visit) const {
        for (const MapEntry& e : entries_) {
            if (!e.key.isNil()) visit(e.key, e.value);
        }
    }
    // Positional access for walkers that pause between entries (text forms):
    // slots run from 0 to slotCount(); a dead slot has a nil key.
    std::size_t slotCount() const noexcept { return entries_.size(); }
    const MapEntry& slot(std::size_t i) const noexcept { return entries_[i]; }

private:
    static constexpr std::size_t kLinearLimit = 8;  // up to here, no index
    static constexpr uint32_t kEmpty = UINT32_MAX;

    static bool sameString(const Value& entryKey, StringObj* key) noexcept {
        return entryKey.isString() &&
               (entryKey.asStringObj() == key || entryKey.asString() == key->view());
    }

    std::size_t lookup(const Value& key, uint64_t hash) const noexcept;
    void rebuildIndex(std::size_t minCapacity);
    void compact();

    std::vector<MapEntry, HeapAllocator<MapEntry>> entries_;
    // Positions into entries_, kEmpty for a free cell; a deleted entry's cell
    // keeps pointing at it (its nil key never matches), which serves as the
    // tombstone until the next rebuild.
    uint32_t* index_ = nullptr;
    std::size_t indexMask_ = 0;  // index capacity - 1, a power of two minus one
    std::size_t live_ = 0;
};

using MapData = MapObj;

// The exception that carries a script value raised by the native `error`.
// Deliberately not a std::exception: only `try` and the driver catch it.
struct ThrownValue {
    Value value;
};

// "nil", "bool", "number", "string", "list", "map" or "function".
const char* typeName(const Value& v);
// Only nil and false are false.
inline bool isTruthy(const Value& v) { return v.isBool() ? v.asBool() : !v.isNil(); }
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
// The hash that goes with keysEqual.
uint64_t keyHash(const Value& key);

// Truncates a double toward zero; NaN, infinities and values outside the
// 64-bit range give the smallest integer.
int64_t truncateToInt64(double d);

}  // namespace ferrow
