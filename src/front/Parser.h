#pragma once

#include <vector>

#include "front/Ast.h"
#include "front/Token.h"

namespace ferrow {

// Parses a whole token vector (ending in Eof) into a block of statements.
// Throws ParseError (or LexError from inside interpolations) on the first
// error.
Block parse(std::vector<Token> tokens);

}  // namespace ferrow
