#pragma once
// Rendering of language errors for the console, and the one way the driver
// writes to standard error.

#include <string>

#include "value/Errors.h"

namespace ferrow {

// The kind and message; then, when the line is known, an arrow line with the
// source name and position; then, when the source has that line, the line
// itself and a caret under the column. No trailing line feed.
std::string formatError(const FerrowError& error, const std::string& source,
                        const std::string& name);

// Flushes standard output first so that the two streams interleave in
// program order on a console.
void writeToStderr(const std::string& text);

}  // namespace ferrow
