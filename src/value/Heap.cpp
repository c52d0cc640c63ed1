// The counted heap, object destruction and the cycle collector.

#include "value/Heap.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "value/Environment.h"
#include "value/Function.h"
#include "value/Value.h"

namespace ferrow {

// ---------------------------------------------------------------------------
// The limit

namespace {

// Nothing is collected before the heap holds this much.
constexpr std::size_t kMinCollectionBytes = std::size_t{4} << 20;

uint64_t physicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return UINT64_MAX;
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
}

// The first number in a file, or 0 when there is none ("max" included).
uint64_t readNumber(const char* path) {
    std::ifstream in(path);
    uint64_t value = 0;
    if (!(in >> value)) return 0;
    return value;
}

// The address space the process has already mapped: libraries, the engine
// thread's stack.
uint64_t mappedBytes() {
    const long pageSize = sysconf(_SC_PAGESIZE);
    return readNumber("/proc/self/statm") * static_cast<uint64_t>(pageSize > 0 ? pageSize : 4096);
}

// What the cgroup still allows, when it sets a limit (version 2, then 1).
uint64_t cgroupRoom() {
    struct Files {
        const char* limit;
        const char* usage;
    };
    const Files kFiles[] = {
        {"/sys/fs/cgroup/memory.max", "/sys/fs/cgroup/memory.current"},
        {"/sys/fs/cgroup/memory/memory.limit_in_bytes", "/sys/fs/cgroup/memory/memory.usage_in_bytes"},
    };
    for (const Files& files : kFiles) {
        const uint64_t limit = readNumber(files.limit);
        // Version 1 writes "no limit" as a number near 2^63.
        if (limit == 0 || limit >= (uint64_t{1} << 60)) continue;
        const uint64_t usage = readNumber(files.usage);
        return limit > usage ? limit - usage : 0;
    }
    return UINT64_MAX;
}

}  // namespace

std::size_t Heap::systemLimit() {
    static const std::size_t limit = [] {
        uint64_t room = std::min(physicalMemory(), cgroupRoom());
        rlimit rl{};
        if (getrlimit(RLIMIT_AS, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) {
            const uint64_t mapped = mappedBytes();
            room = std::min<uint64_t>(room, rl.rlim_cur > mapped ? rl.rlim_cur - mapped : 0);
        }
        // A quarter stays for what is not counted: the allocator's own
        // overhead, the engines' stacks and tables, the syntax tree, text
        // being printed.
        room -= room / 4;
        return static_cast<std::size_t>(std::min<uint64_t>(room, SIZE_MAX / 2));
    }();
    return limit;
}

// Finding the system's limit reads several files; a small program never
// comes near it, so it is looked up only once the heap passes kProvisional.
Heap::Heap() : limit_(kProvisionalLimit) { scheduleNext(); }

std::size_t Heap::limit() const noexcept {
    if (!limitKnown_) return std::min(kProvisionalLimit, systemLimit());
    return limit_;
}

Heap& Heap::current() noexcept {
    thread_local Heap heap;
    return heap;
}

void Heap::setLimit(std::size_t bytes) noexcept {
    limit_ = bytes == 0 ? systemLimit() : std::min(bytes, systemLimit());
    limitKnown_ = true;
    scheduleNext();
}

void Heap::scheduleNext() noexcept {
    // Collect when the heap has doubled. Near the limit an allocation that
    // would pass it collects first (charge), since freed cycles may be what
    // lets the program go on.
    nextCollection_ = std::max(bytes_ * 2, bytes_ + kMinCollectionBytes);
}

// ---------------------------------------------------------------------------
// Counted memory

void Heap::charge(std::size_t bytes) {
    if (bytes > limit_ - std::min(bytes_, limit_) && !limitKnown_) {
        limit_ = systemLimit();
        limitKnown_ = true;
    }
    if (bytes > limit_ - std::min(bytes_, limit_)) {
        // Cycles may be holding what is needed.
        collect();
        if (bytes > limit_ - std::min(bytes_, limit_)) throw std::bad_alloc();
    }
    bytes_ += bytes;
}

Heap::~Heap() {
    while (chunks_) {
        FreeBlock* next = chunks_->next;
        std::free(chunks_);
        chunks_ = next;
    }
}

void* Heap::allocateSmall(std::size_t sizeClass) {
    if (FreeBlock* block = freeLists_[sizeClass]) {
        freeLists_[sizeClass] = block->next;
        return block;
    }
    const std::size_t size = sizeClass * kGranule;
    if (static_cast<std::size_t>(chunkEnd_ - chunkCursor_) < size) {
        // The rest of the old chunk is too small for this class; it is left
        // unused (less than one small block).
        auto* chunk = static_cast<char*>(std::malloc(kChunkBytes));
        if (!chunk) throw std::bad_alloc();
        auto* link = reinterpret_cast<FreeBlock*>(chunk);
        link->next = chunks_;
        chunks_ = link;
        chunkCursor_ = chunk + kGranule;
        chunkEnd_ = chunk + kChunkBytes;
    }
    void* block = chunkCursor_;
    chunkCursor_ += size;
    return block;
}

void* Heap::allocate(std::size_t bytes) {
    const std::size_t counted = rounded(bytes);
    charge(counted);
    void* block = nullptr;
    if (isSmall(bytes)) {
        try {
            block = allocateSmall(sizeClass(counted));
        } catch (const std::bad_alloc&) {
            bytes_ -= counted;
            throw;
        }
        return block;
    }
    block = std::malloc(bytes == 0 ? 1 : bytes);
    if (!block) {
        bytes_ -= counted;
        throw std::bad_alloc();
    }
    return block;
}

void* Heap::reallocate(void* block, std::size_t oldBytes, std::size_t newBytes) {
    if (!block) return allocate(newBytes);
    if (isSmall(oldBytes) || isSmall(newBytes)) {
        if (rounded(oldBytes) == rounded(newBytes)) return block;
        void* moved = allocate(newBytes);
        std::memcpy(moved, block, std::min(oldBytes, newBytes));
        deallocate(block, oldBytes);
        return moved;
    }
    // Large blocks grow in place where the system can (it remaps pages
    // rather than copying them).
    if (newBytes > oldBytes) charge(newBytes - oldBytes);
    void* moved = std::realloc(block, newBytes);
    if (!moved) {
        if (newBytes > oldBytes) bytes_ -= newBytes - oldBytes;
        throw std::bad_alloc();
    }
    if (newBytes < oldBytes) bytes_ -= oldBytes - newBytes;
    return moved;
}

void Heap::deallocate(void* block, std::size_t bytes) noexcept {
    if (!block) return;
    const std::size_t counted = rounded(bytes);
    bytes_ -= counted;
    if (isSmall(bytes)) {
        auto* free = static_cast<FreeBlock*>(block);
        const std::size_t sizeClass = counted / kGranule;
        free->next = freeLists_[sizeClass];
        freeLists_[sizeClass] = free;
        return;
    }
    std::free(block);
}

void* Obj::operator new(std::size_t bytes) { return Heap::current().allocate(bytes); }

void Obj::operator delete(void* block, std::size_t bytes) noexcept {
    Heap::current().deallocate(block, bytes);
}

// ---------------------------------------------------------------------------
// Tracking

void Heap::track(GcObj* object) {
    tracked_.push_back(object);
    object->gcIndex = tracked_.size() - 1;
}

void Heap::untrack(GcObj* object) noexcept {
    const std::size_t at = object->gcIndex;
    if (at == SIZE_MAX) return;  // never tracked (a container that failed to build)
    GcObj* last = tracked_.back();
    tracked_[at] = last;
    last->gcIndex = at;
    tracked_.pop_back();
    object->gcIndex = SIZE_MAX;
}

// ---------------------------------------------------------------------------
// Destruction

namespace {

bool isContainer(ObjType type) { return type != ObjType::String && type != ObjType::Native; }

// Calls visit(GcObj*) for every container the object refers to, once per
// reference: exactly the references its count includes.
template <typename Visit>
void traverse(GcObj* object, Visit&& visit) {
    auto value = [&visit](const Value& v) {
        if (v.isObject() && isContainer(v.asObject()->type))
            visit(static_cast<GcObj*>(v.asObject()));
    };
    switch (object->type) {
    case ObjType::List:
        for (const Value& v : *static_cast<ListObj*>(object)) value(v);
        break;
    case ObjType::Map:
        // Keys are strings and numbers.
        static_cast<MapObj*>(object)->forEach([&value](const Value&, const Value& v) { value(v); });
        break;
    case ObjType::Function: {
        auto* function = static_cast<FunctionObj*>(object);
        if (function->closure) visit(function->closure.get());
        break;
    }
    case ObjType::Closure:
        for (const Ref<Upvalue>& upvalue : static_cast<VMClosure*>(object)->upvalues)
            visit(upvalue.get());
        break;
    case ObjType::Environment: {
        auto* env = static_cast<Environment*>(object);
        if (env->parent) visit(env->parent.get());
        env->forEachValue(value);
        break;
    }
    case ObjType::Upvalue:
        // An open upvalue points at a stack slot, which it does not own.
        value(static_cast<Upvalue*>(object)->closed);
        break;
    case ObjType::String:
    case ObjType::Native: break;
    }
}

// Drops every reference the container holds.
void clearContents(GcObj* object) noexcept {
    switch (object->type) {
    case ObjType::List: {
        ValueVector doomed = static_cast<ListObj*>(object)->take();
        break;
    }
    case ObjType::Map: static_cast<MapObj*>(object)->clear(); break;
    case ObjType::Function: static_cast<FunctionObj*>(object)->closure.reset(); break;
    case ObjType::Closure: {
        auto doomed = std::move(static_cast<VMClosure*>(object)->upvalues);
        break;
    }
    case ObjType::Environment: static_cast<Environment*>(object)->clear(); break;
    case ObjType::Upvalue: static_cast<Upvalue*>(object)->closed = Value(); break;
    case ObjType::String:
    case ObjType::Native: break;
    }
}

void freeObject(Obj* object) noexcept {
    switch (object->type) {
    case ObjType::String: StringObj::release(static_cast<StringObj*>(object)); break;
    case ObjType::List: delete static_cast<ListObj*>(static_cast<GcObj*>(object)); break;
    case ObjType::Map: delete static_cast<MapObj*>(object); break;
    case ObjType::Function: delete static_cast<FunctionObj*>(object); break;
    case ObjType::Native: delete static_cast<NativeObj*>(object); break;
    case ObjType::Closure: delete static_cast<VMClosure*>(object); break;
    case ObjType::Environment: delete static_cast<Environment*>(object); break;
    case ObjType::Upvalue: delete static_cast<Upvalue*>(object); break;
    }
}

// Freeing the last reference to a container frees what it holds, and so on
// down a nested structure: a list nested ten million levels deep would be
// freed ten million frames deep. Up to kReleaseDepth levels are freed by
// plain recursion; deeper objects go to the outermost release's work list
// and are freed from its loop, so the native stack stays bounded.
constexpr unsigned kReleaseDepth = 64;
thread_local unsigned releaseDepth = 0;
thread_local std::vector<Obj*>* deferredReleases = nullptr;

}  // namespace

void destroyObject(Obj* object) noexcept {
    // Out of the collector's sight at once: its count is zero and it is on
    // its way out, even if it waits on the work list.
    if (isContainer(object->type)) Heap::current().untrack(static_cast<GcObj*>(object));
    if (deferredReleases) {
        if (releaseDepth >= kReleaseDepth) {
            try {
                deferredReleases->push_back(object);
                return;
            } catch (...) {
                // No memory for the work list: free in place after all.
            }
        }
        ++releaseDepth;
        freeObject(object);
        --releaseDepth;
        return;
    }
    std::vector<Obj*> work;
    deferredReleases = &work;
    releaseDepth = 1;
    freeObject(object);
    while (!work.empty()) {
        Obj* next = work.back();
        work.pop_back();
        freeObject(next);
    }
    releaseDepth = 0;
    deferredReleases = nullptr;
}

// ---------------------------------------------------------------------------
// Collection

std::size_t Heap::collect() noexcept {
    if (collecting_) return 0;
    collecting_ = true;
    std::size_t freed = 0;
    try {
        // Nothing is freed until the garbage is known, so the table stays
        // as it is through the first passes.
        for (GcObj* o : tracked_) {
            o->gcRefs = static_cast<int64_t>(o->refCount);
            o->gcReachable = false;
        }
        // What is left after subtracting the references from other
        // containers comes from outside them.
        for (GcObj* o : tracked_) traverse(o, [](GcObj* child) { --child->gcRefs; });
        std::vector<GcObj*>& pending = pending_;
        pending.clear();
        for (GcObj* o : tracked_) {
            if (o->gcRefs > 0 && !o->gcReachable) {
                o->gcReachable = true;
                pending.push_back(o);
            }
        }
        while (!pending.empty()) {
            GcObj* o = pending.back();
            pending.pop_back();
            traverse(o, [&pending](GcObj* child) {
                if (!child->gcReachable) {
                    child->gcReachable = true;
                    pending.push_back(child);
                }
            });
        }
        std::vector<GcObj*>& garbage = garbage_;
        garbage.clear();
        for (GcObj* o : tracked_) {
            if (!o->gcReachable) garbage.push_back(o);
        }
        // Held while their contents go, so that none is freed while another
        // still refers to it; the last release frees each.
        for (GcObj* o : garbage) retainObject(o);
        for (GcObj* o : garbage) clearContents(o);
        for (GcObj* o : garbage) releaseObject(o);
        freed = garbage.size();
        garbage.clear();
    } catch (const std::bad_alloc&) {
        // No room to collect in: try again later.
    }
    collecting_ = false;
    scheduleNext();
    return freed;
}

}  // namespace ferrow
