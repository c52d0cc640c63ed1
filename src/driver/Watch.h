#pragma once

#include <string>
#include <vector>

namespace ferrow {

// Runs the file, then again with fresh globals whenever its modification
// time changes, polling every 200 ms. Ends only when the process is
// interrupted. Every run's args() returns `scriptArgs`.
[[noreturn]] void watchFile(const std::string& path, const std::vector<std::string>& scriptArgs);

}  // namespace ferrow
