#pragma once

#include <string>
#include <vector>

namespace ferrow {

inline constexpr const char* versionString = "0.5.0";

// The whole command line after the program name; returns the exit status.
// The chosen mode runs on a thread with a large stack so that deep recursion
// meets the engines' own limits long before the native stack runs out.
int runDriver(const std::vector<std::string>& args);

// The argument dispatch itself, on the calling thread.
int dispatch(std::vector<std::string> args);

}  // namespace ferrow
