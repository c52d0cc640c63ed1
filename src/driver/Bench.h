#pragma once

#include <string>
#include <vector>

namespace ferrow {

// Times the file on both engines (one warm-up and five timed runs each, a
// fresh engine per run) and prints the mean milliseconds per run and their
// ratio. Returns the exit status. args() returns `scriptArgs` in every run.
int benchFile(const std::string& path, const std::vector<std::string>& scriptArgs);

}  // namespace ferrow
