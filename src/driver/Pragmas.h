#pragma once
// Directives for the driver in the comment header of a source file:
// "#pragma watch" (or "hotreload") and "#pragma version X.Y.Z".

#include <string>
#include <vector>

namespace ferrow {

struct PragmaLine {
    std::string name;
    std::string args;  // the rest of the line after the name, trimmed
    int line = 0;      // 1-based line in the source
};

struct Pragmas {
    bool watch = false;          // "watch" or "hotreload" was seen
    std::string version;         // arguments of the last "version"; empty when none
    std::vector<PragmaLine> unknown;  // every other name, in source order
};

// Reads the header: blank lines, comments and pragmas up to the first line
// of code. Never fails.
Pragmas scanPragmas(const std::string& source);

// Warns about unknown pragmas and complains about an unmet version
// requirement on standard error; false when the file must not run.
bool checkPragmas(const Pragmas& pragmas, const std::string& name);

// Compares dotted versions piece by piece; missing pieces of `current`
// count as 0, extra ones are ignored.
bool versionAtLeast(const std::string& current, const std::string& required);

}  // namespace ferrow
