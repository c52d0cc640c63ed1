// The parser, expression half: precedence climbing over the binary
// operators, unary and postfix operators, primaries and literals, and the
// expansion of interpolated strings into calls of `str` joined with "+".

#include <charconv>
#include <cstdint>
#include <optional>
#include <utility>

#include "value/Errors.h"
#include "front/Lexer.h"
#include "front/ParserImpl.h"

namespace ferrow {

namespace {

// Binding power of a binary operator, 0 for any other token. Level 7 is
// unused; "^" (8) is the only right-associative operator.
int binaryPrecedence(TokenKind kind) {
    switch (kind) {
    case TokenKind::Or: return 1;
    case TokenKind::And: return 2;
    case TokenKind::Equal:
    case TokenKind::NotEqual: return 3;
    case TokenKind::Less:
    case TokenKind::LessEqual:
    case TokenKind::Greater:
    case TokenKind::GreaterEqual: return 4;
    case TokenKind::Plus:
    case TokenKind::Minus: return 5;
    case TokenKind::Star:
    case TokenKind::Slash:
    case TokenKind::SlashSlash:
    case TokenKind::Percent: return 6;
    case TokenKind::Caret: return 8;
    default: return 0;
    }
}

// An integer literal is read from its digits, so that it is exact over the
// whole 64-bit range; the lexer's double has only 53 bits of precision. One
// that does not fit becomes that double, the nearest float to its value
// (infinity for a very long one), rather than a wrapped integer.
Value integerLiteral(const Token& token) {
    const std::string& digits = token.text;
    int64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error == std::errc() && end == digits.data() + digits.size()) return Value::integer(value);
    return Value::number(token.number);
}

// Positions inside a ${...} piece count from the piece's own start; this
// maps them to where the bytes stand in the source. Only a nested string
// that crosses a line feed can put a piece token past the piece's first line.
struct PieceOrigin {
    uint32_t line;
    uint32_t column;

    void place(uint32_t& line_, uint32_t& column_) const {
        if (line_ <= 1) {
            column_ = column + column_ - 1;
            line_ = line;
        } else {
            line_ = line + line_ - 1;
        }
    }
};

// Tokenizes the source of one piece, with every position (of the tokens, of
// nested pieces and of a lexical error) moved to its place in the source.
std::vector<Token> tokenizePiece(const StringPart& part) {
    PieceOrigin origin{part.line, part.column};
    // The lexer drops a leading byte-order mark and counts columns after it.
    if (part.text.compare(0, 3, "\xEF\xBB\xBF") == 0) origin.column += 3;

    std::vector<Token> tokens;
    try {
        tokens = tokenize(part.text);
    } catch (const LexError& e) {
        uint32_t line = static_cast<uint32_t>(e.line), column = static_cast<uint32_t>(e.column);
        origin.place(line, column);
        throw LexError(e.message, static_cast<int32_t>(line), static_cast<int32_t>(column));
    }
    for (Token& t : tokens) {
        origin.place(t.line, t.column);
        for (StringPart& nested : t.parts)
            if (nested.isExpr) origin.place(nested.line, nested.column);
    }
    return tokens;
}

}  // namespace

// expression -> unary { binop expression }   (precedence climbing)
// The loop reads a left-associative chain: the tree built so far becomes the
// left operand of the next link at the same level, and only the right
// operand is nested.
ExprPtr Parser::parseExpression(int minPrec) {
    ExprPtr left = parseUnary();

    for (;;) {
        const int prec = binaryPrecedence(current().kind);
        if (prec == 0 || prec < minPrec) break;
        Token op = take();
        auto node = makeNode<BinaryExpr>(op);
        node->right = parseNested(op.kind == TokenKind::Caret ? prec : prec + 1);
        node->op = std::move(op.text);
        node->left = std::move(left);
        left = std::move(node);
    }
    return left;
}

// unary -> ('not' | '-') unary | postfix
ExprPtr Parser::parseUnary() {
    if (!check(TokenKind::Not) && !check(TokenKind::Minus)) return parsePostfix();
    Token op = take();
    auto node = makeNode<UnaryExpr>(op);
    node->op = op.kind == TokenKind::Not ? "not" : "-";
    Nest nest(*this);
    node->operand = parseUnary();
    return node;
}

// postfix -> primary { '(' [ expression { ',' expression } ] ')' | '[' expression ']' | '.' NAME }
// Like an operator chain, a postfix chain is read by the loop at one level;
// only the arguments and the index are nested.
ExprPtr Parser::parsePostfix() {
    ExprPtr expr = parsePrimary();

    for (;;) {
        if (check(TokenKind::LParen)) {
            auto node = makeNode<CallExpr>(take());
            if (!check(TokenKind::RParen)) {
                node->args.push_back(parseNested(0));
                while (check(TokenKind::Comma)) {
                    advance();
                    node->args.push_back(parseNested(0));
                }
            }
            expect(TokenKind::RParen, "')' after arguments");
            node->callee = std::move(expr);
            expr = std::move(node);
        } else if (check(TokenKind::LBracket)) {
            auto node = makeNode<IndexExpr>(take());
            node->index = parseNested(0);
            expect(TokenKind::RBracket, "']' after index");
            node->object = std::move(expr);
            expr = std::move(node);
        } else if (check(TokenKind::Dot)) {
            auto node = makeNode<GetExpr>(take());
            node->name = expect(TokenKind::Name, "a field name after '.'").text;
            node->key = internString(node->name);
            node->object = std::move(expr);
            expr = std::move(node);
        } else {
            break;
        }
    }
    return expr;
}

// An expression one level below the node being built.
ExprPtr Parser::parseNested(int minPrec) {
    Nest nest(*this);
    return parseExpression(minPrec);
}

// primary -> NUMBER | STRING | INTERP_STRING | NAME | '(' expression ')' | list | map
//          | functionexpr | 'true' | 'false' | 'nil'
ExprPtr Parser::parsePrimary() {
    switch (current().kind) {
    case TokenKind::Number: return parseNumber(take());
    case TokenKind::String: {
        Token t = take();
        auto node = makeNode<LiteralExpr>(t);
        node->value = internString(t.text);
        return node;
    }
    case TokenKind::InterpString: return parseInterpolation(take());
    case TokenKind::Name: {
        Token t = take();
        auto node = makeNode<NameExpr>(t);
        node->name = std::move(t.text);
        return node;
    }
    case TokenKind::LParen: {
        // No node for the parentheses, but the nesting still counts: it is
        // what bounds the recursion on "((((...".
        advance();
        ExprPtr inner = parseNested(0);
        expect(TokenKind::RParen, "')' to close grouping");
        return inner;
    }
    case TokenKind::LBracket: return parseListLiteral();
    case TokenKind::LBrace: return parseMapLiteral();
    case TokenKind::Function: return parseFunctionExpr();
    case TokenKind::True:
    case TokenKind::False: {
        auto node = makeNode<LiteralExpr>(current());
        node->value = Value::boolean(check(TokenKind::True));
        advance();
        return node;
    }
    case TokenKind::Nil: {
        auto node = makeNode<LiteralExpr>(current());
        advance();
        return node;
    }
    default: fail("unexpected " + describeToken(current()) + " in expression", current());
    }
}

ExprPtr Parser::parseNumber(const Token& token) {
    auto node = makeNode<LiteralExpr>(token);
    node->value = token.isInteger ? integerLiteral(token) : Value::number(token.number);
    return node;
}

// list -> '[' [ expression { ',' expression } [ ',' ] ] ']'   (newlines allowed inside)
ExprPtr Parser::parseListLiteral() {
    auto node = makeNode<ListLitExpr>(take());
    skipNewlines();
    if (!check(TokenKind::RBracket)) {
        node->elements.push_back(parseNested(0));
        while (check(TokenKind::Comma)) {
            advance();
            skipNewlines();
            if (check(TokenKind::RBracket)) break;
            node->elements.push_back(parseNested(0));
        }
    }
    skipNewlines();
    expect(TokenKind::RBracket, "']' to close list");
    return node;
}

// map -> '{' [ entry { ',' entry } [ ',' ] ] '}'   (newlines allowed inside)
// entry -> key ':' expression
ExprPtr Parser::parseMapLiteral() {
    auto node = makeNode<MapLitExpr>(take());
    auto parseEntry = [&] {
        ExprPtr key;
        {
            Nest nest(*this);
            key = parseMapKey();
        }
        expect(TokenKind::Colon, "':' between map key and value");
        ExprPtr value = parseNested(0);
        node->entries.emplace_back(std::move(key), std::move(value));
    };
    skipNewlines();
    if (!check(TokenKind::RBrace)) {
        parseEntry();
        while (check(TokenKind::Comma)) {
            advance();
            skipNewlines();
            if (check(TokenKind::RBrace)) break;
            parseEntry();
        }
    }
    skipNewlines();
    expect(TokenKind::RBrace, "'}' to close map");
    return node;
}

// key -> NAME | '[' expression ']' | primary
// A bare name is the string key of that spelling, never a variable.
ExprPtr Parser::parseMapKey() {
    if (check(TokenKind::Name)) {
        Token t = take();
        auto node = makeNode<LiteralExpr>(t);
        node->value = internString(t.text);
        return node;
    }
    if (check(TokenKind::LBracket)) {
        advance();
        ExprPtr key = parseExpression(0);
        expect(TokenKind::RBracket, "']' after computed map key");
        return key;
    }
    return parsePrimary();
}

// functionexpr -> 'function' params block 'end'
ExprPtr Parser::parseFunctionExpr() {
    auto node = makeNode<FunctionExpr>(take());
    node->params = parseParams();
    node->body = parseBlock();
    expect(TokenKind::End, "'end' to close function");
    return node;
}

// An interpolated string becomes its pieces joined with "+", each embedded
// expression wrapped as str(expression). The pieces after the first are
// right operands of the join, one level down, like those of any operator
// chain; an embedded expression is parsed by a parser of its own that starts
// at that level, so that the limit holds for the whole tree.
ExprPtr Parser::parseInterpolation(const Token& token) {
    if (token.parts.empty()) {
        auto node = makeNode<LiteralExpr>(token);
        node->value = internString("");
        return node;
    }

    ExprPtr joined;
    for (const StringPart& part : token.parts) {
        std::optional<Nest> nest;
        // The string token is behind the parser by now: a refusal points at it.
        if (joined) nest.emplace(*this, token);
        ExprPtr piece;
        if (!part.isExpr) {
            auto literal = makeNode<LiteralExpr>(token);
            literal->value = internString(part.text);
            piece = std::move(literal);
        } else {
            auto call = makeNode<CallExpr>(token);
            auto callee = makeNode<NameExpr>(token);
            callee->name = "str";
            call->callee = std::move(callee);
            Parser inner(tokenizePiece(part), depth_);
            call->args.push_back(inner.parsePiece(token));
            piece = std::move(call);
        }

        if (!joined) {
            joined = std::move(piece);
            continue;
        }
        auto plus = makeNode<BinaryExpr>(token);
        plus->op = "+";
        plus->left = std::move(joined);
        plus->right = std::move(piece);
        joined = std::move(plus);
    }
    return joined;
}

ExprPtr Parser::parsePiece(const Token& stringToken) {
    ExprPtr expr = parseNested(0);
    if (!check(TokenKind::Eof))
        fail("unexpected " + describeToken(current()) + " in ${...} interpolation", stringToken);
    return expr;
}

Value Parser::internString(std::string_view text) {
    // The table's key views the bytes of the string it maps to.
    auto found = strings_.find(text);
    if (found != strings_.end()) return found->second;
    Value value = Value::string(text);
    strings_.emplace(value.asString(), value);
    return value;
}

}  // namespace ferrow
