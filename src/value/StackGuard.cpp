#include "value/StackGuard.h"

#include <pthread.h>

#include <cstdint>

namespace ferrow {

namespace {

// The lowest usable address of this thread's stack (stacks grow downward on
// every platform we build for), looked up once per thread.
uintptr_t stackLow() {
    thread_local uintptr_t low = [] {
        pthread_attr_t attr;
        void* addr = nullptr;
        size_t size = 0;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            pthread_attr_getstack(&attr, &addr, &size);
            pthread_attr_destroy(&attr);
        }
        return reinterpret_cast<uintptr_t>(addr);
    }();
    return low;
}

}  // namespace

bool stackNearlyExhausted(std::size_t margin) {
    const uintptr_t low = stackLow();
    if (low == 0) return false;  // unknown bounds: never refuse
    // The frame address marks how deep this thread currently is (a local's
    // address could lie on a sanitizer's separate fake stack).
    const auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    return here < low + margin;
}

}  // namespace ferrow
