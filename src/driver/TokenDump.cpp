#include "driver/TokenDump.h"

#include <iostream>
#include <vector>

#include "driver/Diagnostics.h"
#include "driver/SourceRun.h"
#include "front/Lexer.h"

namespace ferrow {

int dumpTokens(const std::string& path) {
    const std::optional<std::string> read = readSourceOrComplain(path);
    if (!read) return 1;
    const std::string& source = *read;
    // Tokenizing finishes before anything is printed, so a lexing error
    // leaves no partial dump.
    std::vector<Token> tokens;
    if (reportFailures(source, path, [&] { tokens = tokenize(source); }) != 0) return 1;
    std::string out;
    for (const Token& token : tokens) {
        // The text is written as stored: decoded string contents may hold
        // line feeds, and an end of line is stored as backslash and n.
        out += tokenKindName(token.kind);
        out += " '";
        out += token.text;
        out += "' @";
        out += std::to_string(token.line);
        out += ':';
        out += std::to_string(token.column);
        out += '\n';
    }
    std::cout << out;
    std::cout.flush();
    return 0;
}

}  // namespace ferrow
