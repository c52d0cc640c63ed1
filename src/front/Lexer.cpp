// The lexer: one left-to-right pass over the bytes of a source text, with one
// byte of lookahead (two for "." before a digit and for "${"). Character
// classes are ASCII only; every other byte is an error outside strings and
// comments.

#include "front/Lexer.h"

#include <cstdlib>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "value/Errors.h"

namespace ferrow {

namespace {

bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isNameByte(unsigned char c) { return isLetter(c) || isDigit(c) || c == '_'; }

// The reserved words. Built on first use and never changed afterwards.
const std::unordered_map<std::string_view, TokenKind>& keywordTable() {
    static const std::unordered_map<std::string_view, TokenKind> table = {
        {"let", TokenKind::Let},       {"function", TokenKind::Function},
        {"return", TokenKind::Return}, {"if", TokenKind::If},
        {"then", TokenKind::Then},     {"elif", TokenKind::Elif},
        {"else", TokenKind::Else},     {"while", TokenKind::While},
        {"for", TokenKind::For},       {"in", TokenKind::In},
        {"do", TokenKind::Do},         {"end", TokenKind::End},
        {"break", TokenKind::Break},   {"continue", TokenKind::Continue},
        {"and", TokenKind::And},       {"or", TokenKind::Or},
        {"not", TokenKind::Not},       {"true", TokenKind::True},
        {"false", TokenKind::False},   {"nil", TokenKind::Nil},
        {"try", TokenKind::Try},       {"catch", TokenKind::Catch},
    };
    return table;
}

class Lexer {
public:
    explicit Lexer(std::string_view source) : src_(source) {}

    std::vector<Token> run();

private:
    bool atEnd() const { return pos_ >= src_.size(); }
    // The byte `ahead` places on, or NUL past the end (callers that must tell
    // a real NUL from the end check atEnd first).
    unsigned char peek(size_t ahead = 0) const {
        return pos_ + ahead < src_.size() ? static_cast<unsigned char>(src_[pos_ + ahead]) : 0;
    }
    unsigned char advance() {
        unsigned char c = static_cast<unsigned char>(src_[pos_++]);
        if (c == '\n') {
            ++line_;
            column_ = 1;
        } else {
            ++column_;
        }
        return c;
    }

    [[noreturn]] static void fail(std::string message, uint32_t line, uint32_t column) {
        throw LexError(std::move(message), static_cast<int32_t>(line), static_cast<int32_t>(column));
    }

    void markStart() {
        startLine_ = line_;
        startColumn_ = column_;
    }
    Token& push(TokenKind kind, std::string text, uint32_t line, uint32_t column) {
        Token& t = tokens_.emplace_back();
        t.kind = kind;
        t.text = std::move(text);
        t.line = line;
        t.column = column;
        return t;
    }

    void scanNumber();
    void scanName();
    void scanOperator();
    void scanString(unsigned char quote);
    std::string scanInterpolation(uint32_t quoteLine, uint32_t quoteColumn);

    std::string_view src_;
    size_t pos_ = 0;
    uint32_t line_ = 1;
    uint32_t column_ = 1;
    // Start of the last real token; Newline and Eof tokens take this position
    // so that errors at them point at something visible.
    uint32_t startLine_ = 1;
    uint32_t startColumn_ = 1;
    std::vector<Token> tokens_;
};

std::vector<Token> Lexer::run() {
    if (src_.size() >= 3 && src_.substr(0, 3) == "\xEF\xBB\xBF") src_.remove_prefix(3);

    while (!atEnd()) {
        unsigned char c = peek();
        if (c == '\n') {
            push(TokenKind::Newline, "\\n", startLine_, startColumn_);
            advance();
        } else if (c == ' ' || c == '\t' || c == '\r') {
            advance();
        } else if (c == '#') {
            // A NUL also ends the comment so that it is reported below.
            while (!atEnd() && peek() != '\n' && peek() != '\0') advance();
        } else if (isDigit(c) || (c == '.' && isDigit(peek(1)))) {
            scanNumber();
        } else if (c == '"' || c == '\'') {
            scanString(c);
        } else if (isLetter(c) || c == '_') {
            scanName();
        } else {
            scanOperator();
        }
    }
    push(TokenKind::Eof, "", startLine_, startColumn_);
    return std::move(tokens_);
}

void Lexer::scanNumber() {
    markStart();
    size_t begin = pos_;
    bool integral = true;
    while (isDigit(peek())) advance();
    if (peek() == '.' && isDigit(peek(1))) {
        integral = false;
        advance();
        while (isDigit(peek())) advance();
    }
    if (peek() == 'e' || peek() == 'E') {
        integral = false;
        advance();
        if (peek() == '+' || peek() == '-') advance();
        if (!isDigit(peek())) fail("malformed number: exponent has no digits", startLine_, startColumn_);
        while (isDigit(peek())) advance();
    }
    std::string text(src_.substr(begin, pos_ - begin));
    // strtod follows IEEE rounding: a literal too large for a double becomes
    // infinity and one too small becomes a subnormal or zero, as in most
    // scripting languages, instead of failing. The spelling holds only digits,
    // '.', 'e' and a sign, and the process keeps the "C" numeric locale.
    double value = std::strtod(text.c_str(), nullptr);
    Token& t = push(TokenKind::Number, std::move(text), startLine_, startColumn_);
    t.number = value;
    t.isInteger = integral;
}

void Lexer::scanName() {
    markStart();
    size_t begin = pos_;
    while (!atEnd() && isNameByte(peek())) advance();
    std::string_view spelling = src_.substr(begin, pos_ - begin);
    const auto& keywords = keywordTable();
    auto it = keywords.find(spelling);
    push(it == keywords.end() ? TokenKind::Name : it->second, std::string(spelling), startLine_,
         startColumn_);
}

void Lexer::scanOperator() {
    markStart();
    unsigned char c = advance();
    auto pick = [&](TokenKind kind, std::string_view text) {
        push(kind, std::string(text), startLine_, startColumn_);
    };
    // One byte, or the same byte followed by '=' for the compound form.
    auto withAssign = [&](TokenKind plain, std::string_view plainText, TokenKind assign,
                          std::string_view assignText) {
        if (peek() == '=') {
            advance();
            pick(assign, assignText);
        } else {
            pick(plain, plainText);
        }
    };
    switch (c) {
    case '(': pick(TokenKind::LParen, "("); break;
    case ')': pick(TokenKind::RParen, ")"); break;
    case '[': pick(TokenKind::LBracket, "["); break;
    case ']': pick(TokenKind::RBracket, "]"); break;
    case '{': pick(TokenKind::LBrace, "{"); break;
    case '}': pick(TokenKind::RBrace, "}"); break;
    case ',': pick(TokenKind::Comma, ","); break;
    case ':': pick(TokenKind::Colon, ":"); break;
    case '.': pick(TokenKind::Dot, "."); break;
    case '+': withAssign(TokenKind::Plus, "+", TokenKind::PlusAssign, "+="); break;
    case '-': withAssign(TokenKind::Minus, "-", TokenKind::MinusAssign, "-="); break;
    case '*': withAssign(TokenKind::Star, "*", TokenKind::StarAssign, "*="); break;
    case '%': withAssign(TokenKind::Percent, "%", TokenKind::PercentAssign, "%="); break;
    case '^': withAssign(TokenKind::Caret, "^", TokenKind::CaretAssign, "^="); break;
    case '=': withAssign(TokenKind::Assign, "=", TokenKind::Equal, "=="); break;
    case '<': withAssign(TokenKind::Less, "<", TokenKind::LessEqual, "<="); break;
    case '>': withAssign(TokenKind::Greater, ">", TokenKind::GreaterEqual, ">="); break;
    case '/':
        if (peek() == '/') {
            advance();
            withAssign(TokenKind::SlashSlash, "//", TokenKind::SlashSlashAssign, "//=");
        } else {
            withAssign(TokenKind::Slash, "/", TokenKind::SlashAssign, "/=");
        }
        break;
    case '!':
        if (atEnd() || peek() != '=')
            fail("'!' must be followed by '=' (did you mean 'not'?)", startLine_, startColumn_);
        advance();
        pick(TokenKind::NotEqual, "!=");
        break;
    default:
        fail(std::string("unexpected character '") + static_cast<char>(c) + "'", startLine_,
             startColumn_);
    }
}

void Lexer::scanString(unsigned char quote) {
    markStart();
    const uint32_t quoteLine = line_, quoteColumn = column_;
    advance();
    std::string buffer;
    std::vector<StringPart> parts;
    bool interpolated = false;

    for (;;) {
        // A NUL byte counts as the end of the input here.
        if (atEnd() || peek() == '\0') fail("unterminated string literal", quoteLine, quoteColumn);
        unsigned char c = peek();
        if (c == '\n') fail("unterminated string literal", quoteLine, quoteColumn);
        if (c == '\\') {
            advance();
            if (atEnd()) fail("unterminated string literal", quoteLine, quoteColumn);
            unsigned char e = advance();
            switch (e) {
            case 'n': buffer += '\n'; break;
            case 't': buffer += '\t'; break;
            case 'r': buffer += '\r'; break;
            case '0': buffer += '\0'; break;
            case '\\': case '"': case '\'': case '$': buffer += static_cast<char>(e); break;
            default:
                fail(std::string("unknown escape sequence '\\") + static_cast<char>(e) + "'", line_,
                     column_);
            }
        } else if (quote == '"' && c == '$' && peek(1) == '{') {
            if (!buffer.empty()) {
                parts.push_back(StringPart{false, std::move(buffer), 0, 0});
                buffer.clear();
            }
            advance();
            advance();
            StringPart piece{true, {}, line_, column_};
            piece.text = scanInterpolation(quoteLine, quoteColumn);
            parts.push_back(std::move(piece));
            interpolated = true;
        } else if (c == quote) {
            advance();
            break;
        } else {
            advance();
            buffer += static_cast<char>(c);
        }
    }

    if (!interpolated) {
        push(TokenKind::String, std::move(buffer), quoteLine, quoteColumn);
        return;
    }
    if (!buffer.empty()) parts.push_back(StringPart{false, std::move(buffer), 0, 0});
    Token& t = push(TokenKind::InterpString, "", quoteLine, quoteColumn);
    t.parts = std::move(parts);
}

// Collects the raw source of one ${...} piece; the "${" is already consumed.
// Braces nest; quoted strings inside are skipped whole so that their braces
// do not count, and are checked when the piece itself is tokenized.
std::string Lexer::scanInterpolation(uint32_t quoteLine, uint32_t quoteColumn) {
    std::string text;
    int depth = 1;
    for (;;) {
        if (atEnd() || peek() == '\0' || peek() == '\n')
            fail("unterminated ${...} in string", quoteLine, quoteColumn);
        unsigned char c = advance();
        if (c == '{') {
            ++depth;
        } else if (c == '}') {
            if (--depth == 0) return text;
        } else if (c == '"' || c == '\'') {
            text += static_cast<char>(c);
            while (!atEnd() && peek() != '\0' && peek() != c) {
                unsigned char b = advance();
                text += static_cast<char>(b);
                if (b == '\\' && !atEnd()) text += static_cast<char>(advance());
            }
            if (!atEnd() && peek() == c) text += static_cast<char>(advance());
            continue;
        }
        text += static_cast<char>(c);
    }
}

}  // namespace

std::vector<Token> tokenize(const std::string& source) { return Lexer(source).run(); }

const char* tokenKindName(TokenKind kind) {
    switch (kind) {
    case TokenKind::Number: return "number";
    case TokenKind::String: return "string";
    case TokenKind::InterpString: return "interp-string";
    case TokenKind::Name: return "name";
    case TokenKind::Newline: return "end of line";
    case TokenKind::Eof: return "end of file";
    default: return "token";
    }
}

}  // namespace ferrow
