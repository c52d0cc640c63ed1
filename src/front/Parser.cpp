// The parser, statement half: token machinery, blocks and statements. It is
// recursive descent with one token of lookahead (two after `function`); the
// first error ends parsing. Expressions are in ParseExpressions.cpp.

#include "front/Parser.h"

#include <utility>

#include "value/Errors.h"
#include "front/ParserImpl.h"
#include "value/StackGuard.h"

namespace ferrow {

Block parse(std::vector<Token> tokens) {
    Parser parser(std::move(tokens));
    return parser.parseProgram();
}

Parser::Parser(std::vector<Token> tokens, int depth)
    : tokens_(std::move(tokens)), depth_(depth) {
    // Every caller hands over a lexer result, which always ends in Eof; an
    // empty vector would leave current() without a token to stand on.
    if (tokens_.empty() || tokens_.back().kind != TokenKind::Eof) tokens_.emplace_back();
}

Parser::Nest::Nest(Parser& p) : Nest(p, p.current()) {}

Parser::Nest::Nest(Parser& p, const Token& at) : p_(p) {
    ++p_.depth_;
    // The stack check is only a safety net for a parser started on an
    // already deep or unusually small stack; the level count is the rule.
    if (p_.depth_ > kMaxNesting || stackNearlyExhausted()) {
        --p_.depth_;
        p_.tooDeep(at);
    }
}

// ---------------------------------------------------------------------------
// Token machinery

const Token& Parser::peekNext() const {
    return pos_ + 1 < tokens_.size() ? tokens_[pos_ + 1] : tokens_.back();
}

void Parser::advance() {
    if (!check(TokenKind::Eof)) ++pos_;
}

// Consumes the current token and hands it out; the vector dies with the
// parser, so moving is safe for all but Eof, which is never consumed.
Token Parser::take() {
    if (check(TokenKind::Eof)) return current();
    return std::move(tokens_[pos_++]);
}

Token Parser::expect(TokenKind kind, const char* what) {
    if (!check(kind)) fail(std::string("expected ") + what + ", got " + describeToken(current()), current());
    return take();
}

void Parser::skipNewlines() {
    while (check(TokenKind::Newline)) advance();
}

void Parser::fail(const std::string& message, const Token& at) const {
    throw ParseError(message, static_cast<int32_t>(at.line), static_cast<int32_t>(at.column));
}

void Parser::tooDeep(const Token& at) const {
    fail("too deeply nested (more than " + std::to_string(kMaxNesting) + " levels)", at);
}

std::string Parser::describeToken(const Token& token) {
    if (token.kind == TokenKind::Eof) return "end of file";
    if (token.kind == TokenKind::Newline) return "end of line";
    return "'" + token.text + "'";
}

// ---------------------------------------------------------------------------
// Blocks

Block Parser::parseProgram() {
    Block program = parseBlock();
    if (!check(TokenKind::Eof)) fail("unexpected " + describeToken(current()), current());
    // Release the tokens as soon as the tree stands on its own.
    std::vector<Token>().swap(tokens_);
    return program;
}

bool Parser::atBlockEnd() const {
    switch (current().kind) {
    case TokenKind::Elif:
    case TokenKind::Else:
    case TokenKind::End:
    case TokenKind::Catch:
    case TokenKind::Eof: return true;
    default: return false;
    }
}

// block -> { statement (NEWLINE | EOF | elif | else | end | catch) }
// Stops before elif/else/end/catch/EOF; the caller checks which it needed.
Block Parser::parseBlock() {
    Block block;
    for (;;) {
        skipNewlines();
        if (atBlockEnd()) return block;
        {
            Nest nest(*this);
            block.push_back(parseStatement());
        }
        if (!check(TokenKind::Newline) && !atBlockEnd())
            fail("expected end of statement, got " + describeToken(current()), current());
    }
}

// ---------------------------------------------------------------------------
// Statements

StmtPtr Parser::parseStatement() {
    switch (current().kind) {
    case TokenKind::Let: return parseLet();
    case TokenKind::Function:
        if (peekNext().kind == TokenKind::Name) return parseFunctionDecl();
        return parseExpressionStatement();
    case TokenKind::Return: return parseReturn();
    case TokenKind::If: return parseIf();
    case TokenKind::While: return parseWhile();
    case TokenKind::For: return parseFor();
    case TokenKind::Break: {
        auto node = makeNode<BreakStmt>(current());
        advance();
        return node;
    }
    case TokenKind::Continue: {
        auto node = makeNode<ContinueStmt>(current());
        advance();
        return node;
    }
    case TokenKind::Try: return parseTry();
    default: return parseExpressionStatement();
    }
}

// let -> 'let' NAME '=' expression
StmtPtr Parser::parseLet() {
    auto node = makeNode<LetStmt>(current());
    advance();
    node->name = expect(TokenKind::Name, "a variable name after 'let'").text;
    expect(TokenKind::Assign, "'=' in let declaration");
    Nest nest(*this);
    node->init = parseExpression(0);
    return node;
}

// functiondecl -> 'function' NAME params block 'end'
StmtPtr Parser::parseFunctionDecl() {
    auto node = makeNode<FunctionDeclStmt>(current());
    advance();
    node->name = expect(TokenKind::Name, "a function name").text;
    node->params = parseParams();
    node->body = parseBlock();
    expect(TokenKind::End, "'end' to close function");
    return node;
}

// params -> '(' [ NAME { ',' NAME } ] ')'
std::vector<std::string> Parser::parseParams() {
    std::vector<std::string> params;
    expect(TokenKind::LParen, "'(' before parameters");
    if (!check(TokenKind::RParen)) {
        params.push_back(expect(TokenKind::Name, "a parameter name").text);
        while (check(TokenKind::Comma)) {
            advance();
            params.push_back(expect(TokenKind::Name, "a parameter name").text);
        }
    }
    expect(TokenKind::RParen, "')' after parameters");
    return params;
}

// return -> 'return' [ expression ]
StmtPtr Parser::parseReturn() {
    auto node = makeNode<ReturnStmt>(current());
    advance();
    if (!check(TokenKind::Newline) && !atBlockEnd()) {
        Nest nest(*this);
        node->value = parseExpression(0);
    }
    return node;
}

// if -> 'if' expression 'then' block { 'elif' expression 'then' block }
//       [ 'else' block ] 'end'
StmtPtr Parser::parseIf() {
    auto node = makeNode<IfStmt>(current());
    advance();
    {
        IfBranch branch;
        {
            Nest nest(*this);
            branch.cond = parseExpression(0);
        }
        expect(TokenKind::Then, "'then' after if condition");
        branch.body = parseBlock();
        node->branches.push_back(std::move(branch));
    }
    while (check(TokenKind::Elif)) {
        advance();
        IfBranch branch;
        {
            Nest nest(*this);
            branch.cond = parseExpression(0);
        }
        expect(TokenKind::Then, "'then' after elif condition");
        branch.body = parseBlock();
        node->branches.push_back(std::move(branch));
    }
    if (check(TokenKind::Else)) {
        advance();
        IfBranch branch;
        branch.body = parseBlock();
        node->branches.push_back(std::move(branch));
    }
    expect(TokenKind::End, "'end' to close if");
    return node;
}

// while -> 'while' expression 'do' block 'end'
StmtPtr Parser::parseWhile() {
    auto node = makeNode<WhileStmt>(current());
    advance();
    {
        Nest nest(*this);
        node->cond = parseExpression(0);
    }
    expect(TokenKind::Do, "'do' after while condition");
    node->body = parseBlock();
    expect(TokenKind::End, "'end' to close while");
    return node;
}

// for -> 'for' NAME '=' expression ',' expression [ ',' expression ] 'do' block 'end'
//      | 'for' NAME 'in' expression 'do' block 'end'
StmtPtr Parser::parseFor() {
    Token forToken = take();
    std::string var = expect(TokenKind::Name, "a loop variable after 'for'").text;

    if (check(TokenKind::Assign)) {
        advance();
        auto node = makeNode<NumericForStmt>(forToken);
        node->var = std::move(var);
        {
            Nest nest(*this);
            node->start = parseExpression(0);
            expect(TokenKind::Comma, "',' after the numeric-for start value");
            node->limit = parseExpression(0);
            if (check(TokenKind::Comma)) {
                advance();
                node->step = parseExpression(0);
            }
        }
        expect(TokenKind::Do, "'do' after numeric-for header");
        node->body = parseBlock();
        expect(TokenKind::End, "'end' to close for");
        return node;
    }

    if (check(TokenKind::In)) {
        advance();
        auto node = makeNode<ForInStmt>(forToken);
        node->var = std::move(var);
        {
            Nest nest(*this);
            node->iterable = parseExpression(0);
        }
        expect(TokenKind::Do, "'do' after for-in header");
        node->body = parseBlock();
        expect(TokenKind::End, "'end' to close for");
        return node;
    }

    fail("expected '=' or 'in' in for loop", current());
}

// try -> 'try' block 'catch' NAME block 'end'
StmtPtr Parser::parseTry() {
    auto node = makeNode<TryStmt>(current());
    advance();
    node->body = parseBlock();
    expect(TokenKind::Catch, "'catch' after try body");
    node->catchName = expect(TokenKind::Name, "a variable name after 'catch'").text;
    node->handler = parseBlock();
    expect(TokenKind::End, "'end' to close try");
    return node;
}

// exprstat -> expression [ ('=' | '+=' | '-=' | '*=' | '/=' | '//=' | '%=' | '^=') expression ]
// Assignment is a statement, so the value after the operator is a plain
// expression and `a = b = c` stops at the second '='.
StmtPtr Parser::parseExpressionStatement() {
    Nest nest(*this);
    ExprPtr expr = parseExpression(0);

    std::string op;
    switch (current().kind) {
    case TokenKind::Assign: break;
    case TokenKind::PlusAssign:
    case TokenKind::MinusAssign:
    case TokenKind::StarAssign:
    case TokenKind::SlashAssign:
    case TokenKind::SlashSlashAssign:
    case TokenKind::PercentAssign:
    case TokenKind::CaretAssign:
        op = current().text.substr(0, current().text.size() - 1);
        break;
    default: {
        auto node = std::make_unique<ExprStmt>();
        node->line = expr->line;
        node->column = expr->column;
        node->expr = std::move(expr);
        return node;
    }
    }

    Token opToken = take();
    if (expr->kind != ExprKind::Name && expr->kind != ExprKind::Index && expr->kind != ExprKind::Get)
        fail("invalid assignment target", opToken);
    auto node = makeNode<AssignStmt>(opToken);
    node->target = std::move(expr);
    node->op = std::move(op);
    node->value = parseExpression(0);
    return node;
}

}  // namespace ferrow
