#pragma once

#include <string>

namespace ferrow {

// Writes one line per token of the file at `path` ("name 'x' @1:5"), or only
// the diagnostic when it does not tokenize. Returns the exit status.
int dumpTokens(const std::string& path);

}  // namespace ferrow
