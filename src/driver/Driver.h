#pragma once

#include <string>
#include <vector>

namespace ferrow {

// The whole command line after the program name; returns the exit status.
int runDriver(const std::vector<std::string>& args);

}  // namespace ferrow
