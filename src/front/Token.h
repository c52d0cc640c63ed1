#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ferrow {

// Token kinds; the enumerator values are fixed (they appear in dumps and
// tests), so new kinds may only be appended before Newline.
enum class TokenKind : uint32_t {
    Number, String, InterpString, Name,
    LParen, RParen, LBracket, RBracket, LBrace, RBrace,
    Comma, Colon, Dot,
    Plus, Minus, Star, Slash, SlashSlash, Percent, Caret,
    Assign, Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual,
    PlusAssign, MinusAssign, StarAssign, SlashAssign, SlashSlashAssign, PercentAssign, CaretAssign,
    Let, Function, Return, If, Then, Elif, Else, While, For, In, Do, End,
    Break, Continue, And, Or, Not, True, False, Nil, Try, Catch,
    Newline, Eof
};

// One piece of an interpolated string: literal text (escapes decoded) or the
// raw source of an embedded expression.
struct StringPart {
    bool isExpr = false;
    std::string text;
    // Where the piece's first byte stands in the source (for expression
    // pieces), so positions inside it can be reported where they belong.
    uint32_t line = 0;
    uint32_t column = 0;
};

struct Token {
    TokenKind kind = TokenKind::Eof;
    std::string text;
    double number = 0;
    bool isInteger = false;
    std::vector<StringPart> parts;
    uint32_t line = 1;
    uint32_t column = 1;
};

}  // namespace ferrow
