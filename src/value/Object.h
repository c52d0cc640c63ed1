#pragma once
// The header every heap object shares, and the intrusive pointer that holds
// one.
//
// Reference counts are plain integers: a heap and its objects belong to one
// thread (the engine's), so no count is ever touched by two threads and none
// needs an atomic operation. Objects that can hold other objects (lists,
// maps, functions, environments, upvalues) are containers: they also carry
// the links of the cycle collector, which finds groups of containers that
// only refer to each other (see Heap.h).

#include <cstddef>
#include <cstdint>
#include <utility>

namespace ferrow {

enum class ObjType : uint8_t { String, List, Map, Function, Native, Closure, Environment, Upvalue };

struct Obj {
    explicit Obj(ObjType type) : type(type) {}
    Obj(const Obj&) = delete;
    Obj& operator=(const Obj&) = delete;

    // Objects live in the counted heap (Heap.h).
    static void* operator new(std::size_t bytes);
    static void operator delete(void* block, std::size_t bytes) noexcept;

    std::size_t refCount = 0;
    ObjType type;
    bool gcReachable = false;  // a collection's mark
};

struct GcObj : Obj {
    explicit GcObj(ObjType type) : Obj(type) {}

    // Where the heap's table of live containers holds this one (SIZE_MAX:
    // not in it).
    std::size_t gcIndex = SIZE_MAX;
    // A collection's scratch: references from outside the tracked set.
    int64_t gcRefs = 0;
};

// Frees an object whose count reached zero, with everything it holds.
[[gnu::cold]] void destroyObject(Obj* object) noexcept;

inline void retainObject(Obj* object) noexcept { ++object->refCount; }
inline void releaseObject(Obj* object) noexcept {
    if (--object->refCount == 0) destroyObject(object);
}

// An owning pointer to a heap object: copying it adds a reference, dropping
// it removes one. Built implicitly from a raw pointer, which it then shares
// (the object's count is intrusive, so sharing a raw pointer is safe).
template <typename T>
class Ref {
public:
    Ref() noexcept = default;
    Ref(T* object) noexcept : ptr_(object) {  // NOLINT: implicit by design
        if (ptr_) retainObject(ptr_);
    }
    Ref(const Ref& other) noexcept : Ref(other.ptr_) {}
    Ref(Ref&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(ptr_, other.ptr_);
        return *this;
    }
    ~Ref() {
        if (ptr_) releaseObject(ptr_);
    }

    T* get() const noexcept { return ptr_; }
    T* operator->() const noexcept { return ptr_; }
    T& operator*() const noexcept { return *ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }
    bool operator==(const Ref& other) const noexcept { return ptr_ == other.ptr_; }
    void reset() noexcept { Ref().swap(*this); }
    void swap(Ref& other) noexcept { std::swap(ptr_, other.ptr_); }

private:
    T* ptr_ = nullptr;
};

}  // namespace ferrow
