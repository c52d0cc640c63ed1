#pragma once

#include <string>

namespace ferrow {

// Runs the file, then again with fresh globals whenever its modification
// time changes, polling every 200 ms. Ends only when the process is
// interrupted.
[[noreturn]] void watchFile(const std::string& path);

}  // namespace ferrow
