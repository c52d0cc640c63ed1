#include "driver/Diagnostics.h"

#include <iostream>

namespace ferrow {

namespace {

// The text of the 1-based line `wanted`, with every carriage return removed
// so CR LF files show clean excerpts; false when the source is shorter.
bool sourceLine(const std::string& source, int32_t wanted, std::string& out) {
    int32_t line = 1;
    std::size_t start = 0;
    while (line < wanted) {
        const std::size_t lf = source.find('\n', start);
        if (lf == std::string::npos) return false;
        start = lf + 1;
        ++line;
    }
    std::size_t end = source.find('\n', start);
    if (end == std::string::npos) end = source.size();
    out.clear();
    for (std::size_t i = start; i < end; ++i) {
        if (source[i] != '\r') out += source[i];
    }
    return true;
}

}  // namespace

std::string formatError(const FerrowError& error, const std::string& source,
                        const std::string& name) {
    std::string out = error.kind + ": " + error.message;
    if (error.line < 1) return out;
    out += "\n  --> " + name + ":" + std::to_string(error.line) + ":" +
           std::to_string(error.column);
    if (source.empty()) return out;
    std::string text;
    if (!sourceLine(source, error.line, text)) return out;
    const std::string gutter = std::to_string(error.line) + " | ";
    out += "\n" + gutter + text + "\n";
    // Columns count bytes, so the caret may drift from the character on
    // screen after tabs or multi-byte characters; that is accepted.
    const std::size_t indent =
        gutter.size() + (error.column >= 1 ? static_cast<std::size_t>(error.column) - 1 : 0);
    out.append(indent, ' ');
    out += '^';
    return out;
}

void writeToStderr(const std::string& text) {
    std::cout.flush();
    std::cerr << text;
    std::cerr.flush();
}

}  // namespace ferrow
