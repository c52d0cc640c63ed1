#pragma once

#include <string>

namespace ferrow {

// Times the file on both engines (one warm-up and five timed runs each, a
// fresh engine per run) and prints the mean milliseconds per run and their
// ratio. Returns the exit status.
int benchFile(const std::string& path);

}  // namespace ferrow
