// Fuzz target: the lexer alone.

#include <cstddef>
#include <cstdint>

#include "value/Errors.h"
#include "front/Lexer.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ferrow;
    try {
        const std::vector<Token> tokens = tokenize(fuzz::sourceOf(data, size));
        // Exactly one end-of-file token, last; positions never go backwards.
        if (tokens.empty() || tokens.back().kind != TokenKind::Eof) fuzz::fail("no final Eof");
        for (std::size_t i = 0; i + 1 < tokens.size(); ++i) {
            if (tokens[i].kind == TokenKind::Eof) fuzz::fail("Eof before the end");
            const Token &a = tokens[i], &b = tokens[i + 1];
            if (b.line < a.line || (b.line == a.line && b.column < a.column))
                fuzz::fail("token positions go backwards");
        }
    } catch (const FerrowError&) {
    }
    return 0;
}
