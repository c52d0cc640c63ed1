#pragma once

#include <string>
#include <vector>

#include "front/Token.h"

namespace ferrow {

// Turns a whole source text into tokens, ending with exactly one Eof token.
// Throws LexError on the first lexical error.
std::vector<Token> tokenize(const std::string& source);

// "number", "string", "interp-string", "name", "end of line", "end of file",
// or "token" for operators and keywords.
const char* tokenKindName(TokenKind kind);

}  // namespace ferrow
