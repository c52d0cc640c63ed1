#pragma once
// The parser's class, shared by the statement half (Parser.cpp) and the
// expression half (ParseExpressions.cpp). Not for use outside src/front.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "front/Ast.h"
#include "front/Token.h"

namespace ferrow {

// How deeply constructs may nest: brackets of every kind, blocks, function
// bodies, unary prefixes, the right operand of a binary operator (so "^",
// which is right-associative, nests with every link) and ${...} pieces. The
// parser, the compiler and the tree-walker recurse once per level, so the
// bound keeps their native stack use small whatever the input. 200 is the
// usual bound of small language implementations (Lua's limit on nested C
// calls and CPython's on nested brackets are both 200); written code never
// comes near it.
//
// A chain read by a loop is not nesting: the left operands of binary
// operators, the callee of a call and the object of an index or a field
// (together the "left spine" of an expression) stay at their parent's level.
// `1 + 1 + ... + 1` is one level however long it is, which is why everything
// that walks the tree follows a long left spine with a loop (see
// leftSpineChild in Ast.h) rather than by recursion.
inline constexpr int kMaxNesting = 200;

class Parser {
public:
    // `depth` is the nesting level of what encloses the parsed text: 0 for a
    // whole program, the level of the node that holds a ${...} piece.
    explicit Parser(std::vector<Token> tokens, int depth = 0);

    // block  -> { statement (NEWLINE | EOF | elif | else | end | catch) }
    Block parseProgram();

    // The whole of an interpolation piece: one expression, then end of file.
    // `stringToken` is where extra tokens are reported.
    ExprPtr parsePiece(const Token& stringToken);

private:
    // Counts one level of nesting for as long as it lives: the node parsed
    // inside stands one level below the one being built.
    class Nest {
    public:
        explicit Nest(Parser& p);
        Nest(Parser& p, const Token& at);  // a refusal points at `at`
        ~Nest() { --p_.depth_; }
        Nest(const Nest&) = delete;
        Nest& operator=(const Nest&) = delete;

    private:
        Parser& p_;
    };

    // Token machinery.
    const Token& current() const { return tokens_[pos_]; }
    const Token& peekNext() const;
    bool check(TokenKind kind) const { return current().kind == kind; }
    Token take();
    void advance();
    Token expect(TokenKind kind, const char* what);
    void skipNewlines();
    [[noreturn]] void fail(const std::string& message, const Token& at) const;
    [[noreturn]] void tooDeep(const Token& at) const;
    static std::string describeToken(const Token& token);

    // Statements.
    Block parseBlock();
    StmtPtr parseStatement();
    StmtPtr parseLet();
    StmtPtr parseFunctionDecl();
    StmtPtr parseReturn();
    StmtPtr parseIf();
    StmtPtr parseWhile();
    StmtPtr parseFor();
    StmtPtr parseTry();
    StmtPtr parseExpressionStatement();
    std::vector<std::string> parseParams();
    bool atBlockEnd() const;

    // Expressions.
    ExprPtr parseExpression(int minPrec);
    ExprPtr parseUnary();
    ExprPtr parsePostfix();
    ExprPtr parsePrimary();
    ExprPtr parseNested(int minPrec);
    ExprPtr parseListLiteral();
    ExprPtr parseMapLiteral();
    ExprPtr parseMapKey();
    ExprPtr parseFunctionExpr();
    ExprPtr parseInterpolation(const Token& token);
    ExprPtr parseNumber(const Token& token);
    // One string value per distinct text in the program (literals and field
    // names), so that equal keys compare by identity in map lookups.
    Value internString(std::string_view text);

    std::unordered_map<std::string_view, Value> strings_;
    std::vector<Token> tokens_;
    size_t pos_ = 0;
    // Nesting level of the construct being parsed: the root statements are
    // at 1. Never above kMaxNesting.
    int depth_;
};

template <typename Node>
std::unique_ptr<Node> makeNode(const Token& at) {
    auto node = std::make_unique<Node>();
    node->line = static_cast<int32_t>(at.line);
    node->column = static_cast<int32_t>(at.column);
    return node;
}

}  // namespace ferrow
