#include "driver/Pragmas.h"

#include <cstdint>
#include <limits>

#include "driver/Diagnostics.h"
#include "driver/Driver.h"

namespace ferrow {

namespace {

bool isLeadingSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isTrimmed(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trim(const std::string& s) {
    std::size_t begin = 0;
    std::size_t end = s.size();
    while (begin < end && isTrimmed(s[begin])) ++begin;
    while (end > begin && isTrimmed(s[end - 1])) --end;
    return s.substr(begin, end - begin);
}

// Like atoi but never overflows: leading white space, one optional sign,
// then digits up to the first other byte; no digits reads as 0.
int64_t lenientInteger(const std::string& piece) {
    std::size_t i = 0;
    while (i < piece.size() && isLeadingSpace(piece[i])) ++i;
    bool negative = false;
    if (i < piece.size() && (piece[i] == '+' || piece[i] == '-')) {
        negative = piece[i] == '-';
        ++i;
    }
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    int64_t value = 0;
    for (; i < piece.size() && piece[i] >= '0' && piece[i] <= '9'; ++i) {
        const int digit = piece[i] - '0';
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    return negative ? -value : value;
}

std::vector<int64_t> versionPieces(const std::string& text) {
    std::vector<int64_t> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = text.find('.', start);
        if (dot == std::string::npos) {
            // A trailing dot adds no piece.
            if (start < text.size() || pieces.empty()) {
                pieces.push_back(lenientInteger(text.substr(start)));
            }
            return pieces;
        }
        pieces.push_back(lenientInteger(text.substr(start, dot - start)));
        start = dot + 1;
    }
}

}  // namespace

Pragmas scanPragmas(const std::string& source) {
    Pragmas result;
    std::size_t pos = source.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    int lineNumber = 0;
    static const std::string kPragma = "#pragma";
    while (pos <= source.size()) {
        ++lineNumber;
        std::size_t end = source.find('\n', pos);
        if (end == std::string::npos) end = source.size();
        std::size_t first = pos;
        while (first < end && isLeadingSpace(source[first])) ++first;
        const std::string text = source.substr(first, end - first);
        pos = end + 1;

        if (text.empty()) continue;
        const bool isPragma = text.compare(0, kPragma.size(), kPragma) == 0 &&
                              (text.size() == kPragma.size() || isLeadingSpace(text[kPragma.size()]));
        if (isPragma) {
            const std::string body = trim(text.substr(kPragma.size()));
            const std::size_t gap = body.find_first_of(" \t");
            PragmaLine pragma;
            pragma.line = lineNumber;
            if (gap == std::string::npos) {
                pragma.name = body;
            } else {
                pragma.name = body.substr(0, gap);
                pragma.args = trim(body.substr(gap));
            }
            if (pragma.name == "watch" || pragma.name == "hotreload") {
                result.watch = true;
            } else if (pragma.name == "version") {
                result.version = pragma.args;
            } else {
                result.unknown.push_back(std::move(pragma));
            }
            continue;
        }
        // Any other comment, including words such as #pragmatic.
        if (text[0] == '#') continue;
        break;  // the first line of code ends the header
    }
    return result;
}

bool checkPragmas(const Pragmas& pragmas, const std::string& name) {
    for (const PragmaLine& pragma : pragmas.unknown) {
        writeToStderr("ferrow: warning: unknown pragma '" + pragma.name + "' at " + name + ":" +
                      std::to_string(pragma.line) + "\n");
    }
    if (pragmas.version.empty() || versionAtLeast(versionString, pragmas.version)) return true;
    writeToStderr("ferrow: " + name + " requires Ferrow >= " + pragmas.version + " (this is " +
                  versionString + ")\n");
    return false;
}

bool versionAtLeast(const std::string& current, const std::string& required) {
    const std::vector<int64_t> have = versionPieces(current);
    const std::vector<int64_t> want = versionPieces(required);
    for (std::size_t i = 0; i < want.size(); ++i) {
        const int64_t value = i < have.size() ? have[i] : 0;
        if (value != want[i]) return value > want[i];
    }
    return true;
}

}  // namespace ferrow
