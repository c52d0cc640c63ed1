#pragma once
// The heap of one engine thread: every object and every buffer that grows
// with a program's data (list elements, map entries, string bytes) is counted
// here against a limit, and the containers are tracked for the cycle
// collector.
//
// Reference counting frees almost everything the moment it becomes
// unreachable. What it cannot free are cycles (`node.self = node`, a closure
// stored in the scope it closes over), so the collector finds them by trial
// deletion: it takes each container's count, subtracts the references that
// come from other containers, and what is left over are references from
// outside (the engines' stacks and scopes, C++ locals). Containers with none,
// that no such container reaches either, are garbage; their contents are
// dropped, which frees them through their counts. Nothing a program can
// observe changes: there are no finalisers, and a live object is never
// touched.
//
// A collection runs when a container is about to be made and the heap has
// doubled since the last collection, so its cost stays proportional to the
// work the program does.
//
// The limit keeps a runaway program from taking the machine: past it an
// allocation fails with std::bad_alloc before asking the system, and the run
// ends with "ferrow: out of memory".

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "value/Object.h"

#if defined(__SANITIZE_ADDRESS__)
#define FERROW_HEAP_POOL 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FERROW_HEAP_POOL 0
#endif
#endif
#ifndef FERROW_HEAP_POOL
#define FERROW_HEAP_POOL 1
#endif

namespace ferrow {

class Heap {
public:
    // The heap of the calling thread (an engine runs on one thread).
    static Heap& current() noexcept;
    ~Heap();
    Heap(const Heap&) = delete;
    Heap& operator=(const Heap&) = delete;

    // Counted memory. allocate and reallocate throw std::bad_alloc when the
    // request would pass the limit or the system refuses it.
    void* allocate(std::size_t bytes);
    void* reallocate(void* block, std::size_t oldBytes, std::size_t newBytes);
    void deallocate(void* block, std::size_t bytes) noexcept;
    // Counts memory that an object keeps through a standard container.
    void charge(std::size_t bytes);
    void refund(std::size_t bytes) noexcept { bytes_ -= bytes; }

    std::size_t bytesInUse() const noexcept { return bytes_; }
    std::size_t limit() const noexcept;
    // What the limit is derived from: the address-space limit or the cgroup
    // memory limit when set, else physical memory, less a margin.
    static std::size_t systemLimit();
    // For tests and the fuzz targets: a lower limit (0 restores the system's).
    void setLimit(std::size_t bytes) noexcept;

    void track(GcObj* object);
    void untrack(GcObj* object) noexcept;
    std::size_t trackedCount() const noexcept { return tracked_.size(); }

    // Called before a container is made.
    void collectIfDue() {
        if (bytes_ >= nextCollection_ || (stress_ && ++stressCount_ % kStressInterval == 0))
            collect();
    }
    // Frees every cycle that nothing outside reaches; returns how many
    // containers it freed.
    std::size_t collect() noexcept;
    // For the fuzz targets and tests: collect before every kStressInterval-th
    // container, whatever the heap's size, so that collections fall in the
    // middle of every kind of work.
    static constexpr std::size_t kStressInterval = 16;
    void setStressCollection(bool on) noexcept { stress_ = on; }

private:
    Heap();

    void scheduleNext() noexcept;

    // Small blocks (most objects, short strings, short lists' arrays) come
    // from free lists of sixteen-byte size classes carved out of large
    // chunks: far cheaper than the system allocator for the many small
    // objects a program makes and drops. Chunks go back when the heap ends.
    static constexpr std::size_t kGranule = 16;
    static constexpr std::size_t kSmallLimit = 256;
    // Under AddressSanitizer every block comes from the system, so that a
    // use after free or a leaked object is reported rather than hidden in a
    // chunk.
    static constexpr bool kPooled = FERROW_HEAP_POOL;
    static bool isSmall(std::size_t bytes) noexcept { return kPooled && bytes <= kSmallLimit; }
    static constexpr std::size_t kChunkBytes = std::size_t{256} << 10;
    static std::size_t sizeClass(std::size_t bytes) noexcept {
        return (bytes + kGranule - 1) / kGranule;
    }
    // A request's size as the heap counts it.
    static std::size_t rounded(std::size_t bytes) noexcept {
        return isSmall(bytes) ? (bytes == 0 ? kGranule : sizeClass(bytes) * kGranule) : bytes;
    }
    void* allocateSmall(std::size_t sizeClass);
    struct FreeBlock {
        FreeBlock* next;
    };
    FreeBlock* freeLists_[kSmallLimit / kGranule + 1] = {};
    char* chunkCursor_ = nullptr;
    char* chunkEnd_ = nullptr;
    FreeBlock* chunks_ = nullptr;  // every chunk, linked through its first bytes

    std::size_t bytes_ = 0;
    // Until limitKnown_, limit_ is only the point at which the real limit
    // is looked up.
    static constexpr std::size_t kProvisionalLimit = std::size_t{16} << 20;
    std::size_t limit_ = 0;
    bool limitKnown_ = false;
    std::size_t nextCollection_ = 0;
    // Every live container, in no particular order: the collector walks it
    // front to back, which a linked list would make a chase through memory.
    std::vector<GcObj*> tracked_;
    // A collection's work lists, kept between collections so that each one
    // does not ask the system for them afresh.
    std::vector<GcObj*> pending_;
    std::vector<GcObj*> garbage_;
    bool collecting_ = false;
    bool stress_ = false;
    std::size_t stressCount_ = 0;
};

// A standard-library allocator that counts what it hands out, for the
// containers inside heap objects.
template <typename T>
struct HeapAllocator {
    using value_type = T;
    HeapAllocator() noexcept = default;
    template <typename U>
    HeapAllocator(const HeapAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        return static_cast<T*>(Heap::current().allocate(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept { Heap::current().deallocate(p, n * sizeof(T)); }
    template <typename U>
    bool operator==(const HeapAllocator<U>&) const noexcept {
        return true;
    }
};

// Makes a container object: a collection may run first, then the object is
// built and tracked.
template <typename T, typename... Args>
T* newContainer(Args&&... args) {
    Heap& heap = Heap::current();
    heap.collectIfDue();
    T* object = new T(std::forward<Args>(args)...);
    try {
        heap.track(object);
    } catch (...) {
        delete object;
        throw;
    }
    return object;
}

}  // namespace ferrow
