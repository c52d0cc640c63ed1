#pragma once
// The parser's class, shared by the statement half (Parser.cpp) and the
// expression half (ParseExpressions.cpp). Not for use outside src/front.

#include <cstdint>
#include <string>
#include <vector>

#include "front/Ast.h"
#include "front/Token.h"

namespace ferrow {

// No syntax tree may be deeper than this many nodes from the root. The
// engines and the compiler walk the tree recursively, and so do the parser
// and the tree's destructors; a fixed bound keeps all of them far from the
// end of the native stack whatever the input.
inline constexpr int kMaxNesting = 200;

class Parser {
public:
    // `depth` is the depth of the node that encloses what is parsed: 0 for a
    // whole program, the position of the interpolation for a ${...} piece.
    explicit Parser(std::vector<Token> tokens, int depth = 0);

    // block  -> { statement (NEWLINE | EOF | elif | else | end | catch) }
    Block parseProgram();

    // The whole of an interpolation piece: one expression, then end of file.
    // `stringToken` is where extra tokens are reported.
    ExprPtr parsePiece(const Token& stringToken);

    // The deepest node level reached by what was parsed so far.
    int reach() const { return reach_; }

private:
    // Counts one level of nesting for as long as it lives: the node parsed
    // inside stands one level below the one being built.
    class Nest {
    public:
        explicit Nest(Parser& p);
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

    // Marks the node at the current depth as reached.
    void touch() {
        if (depth_ > reach_) reach_ = depth_;
    }
    // Records that `left`, built at the current depth, now sits one level
    // lower under a new node whose other children reached `rightReach`, and
    // returns the reach of the combined tree. Loops that wrap the tree built
    // so far (operator chains, postfix chains, joined interpolation pieces)
    // deepen every node already in it.
    int wrap(int leftReach, int rightReach, const Token& at) const;

    std::vector<Token> tokens_;
    size_t pos_ = 0;
    // Depth of the node being parsed: the root statements are at 1.
    int depth_;
    // The deepest level that any node parsed so far stands at. Loops that
    // wrap a built tree reset it to measure each part on its own.
    int reach_;
};

template <typename Node>
std::unique_ptr<Node> makeNode(const Token& at) {
    auto node = std::make_unique<Node>();
    node->line = static_cast<int32_t>(at.line);
    node->column = static_cast<int32_t>(at.column);
    return node;
}

}  // namespace ferrow
