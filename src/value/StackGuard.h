#pragma once
// A guard against running out of native stack. Recursive stages (parser,
// tree-walker, compiler, text forms, native callbacks) ask it before going
// deeper and turn a "yes" into a clear error of their own instead of a crash.

#include <cstddef>

namespace ferrow {

// Enough for the deepest single step of any stage, in sanitizer builds too.
inline constexpr std::size_t kDefaultStackMargin = 512 * 1024;

// True when less than `margin` bytes of the calling thread's stack remain.
bool stackNearlyExhausted(std::size_t margin = kDefaultStackMargin);

}  // namespace ferrow
