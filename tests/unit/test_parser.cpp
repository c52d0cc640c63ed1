#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>

#include "value/Errors.h"
#include "front/Lexer.h"
#include "front/Parser.h"

using namespace ferrow;

namespace {

// ---------------------------------------------------------------------------
// A compact S-expression form of trees, so that shapes compare as text.
// Integers print as digits, floats always with a '.', strings in double
// quotes, blocks in braces.

std::string show(const Expr& e);
std::string show(const Stmt& s);

std::string show(const Block& block) {
    std::string out = "{";
    for (const StmtPtr& s : block) {
        if (out.size() > 1) out += ' ';
        out += show(*s);
    }
    return out + "}";
}

std::string showValue(const Value& v) {
    if (v.isNil()) return "nil";
    if (v.isBool()) return v.asBool() ? "true" : "false";
    if (v.isInteger()) return std::to_string(v.asInteger());
    if (v.isString()) return "\"" + std::string(v.asString()) + "\"";
    std::ostringstream out;
    out.precision(17);
    out << v.asFloat();
    std::string text = out.str();
    if (text.find_first_of(".en") == std::string::npos) text += ".0";
    return text;
}

std::string showParams(const std::vector<std::string>& params) {
    std::string out = "(";
    for (size_t i = 0; i < params.size(); ++i) out += (i ? " " : "") + params[i];
    return out + ")";
}

std::string show(const Expr& e) {
    switch (e.kind) {
    case ExprKind::Literal: return showValue(static_cast<const LiteralExpr&>(e).value);
    case ExprKind::Name: return static_cast<const NameExpr&>(e).name;
    case ExprKind::ListLit: {
        std::string out = "(list";
        for (const ExprPtr& x : static_cast<const ListLitExpr&>(e).elements) out += " " + show(*x);
        return out + ")";
    }
    case ExprKind::MapLit: {
        std::string out = "(map";
        for (const auto& [k, v] : static_cast<const MapLitExpr&>(e).entries)
            out += " (" + show(*k) + " " + show(*v) + ")";
        return out + ")";
    }
    case ExprKind::Unary: {
        const auto& u = static_cast<const UnaryExpr&>(e);
        return "(" + u.op + " " + show(*u.operand) + ")";
    }
    case ExprKind::Binary: {
        const auto& b = static_cast<const BinaryExpr&>(e);
        return "(" + b.op + " " + show(*b.left) + " " + show(*b.right) + ")";
    }
    case ExprKind::Call: {
        const auto& c = static_cast<const CallExpr&>(e);
        std::string out = "(call " + show(*c.callee);
        for (const ExprPtr& a : c.args) out += " " + show(*a);
        return out + ")";
    }
    case ExprKind::Index: {
        const auto& i = static_cast<const IndexExpr&>(e);
        return "(index " + show(*i.object) + " " + show(*i.index) + ")";
    }
    case ExprKind::Get: {
        const auto& g = static_cast<const GetExpr&>(e);
        return "(get " + show(*g.object) + " " + g.name + ")";
    }
    case ExprKind::Function: {
        const auto& f = static_cast<const FunctionExpr&>(e);
        return "(fn " + f.name + " " + showParams(f.params) + " " + show(f.body) + ")";
    }
    }
    return "?";
}

std::string show(const Stmt& s) {
    switch (s.kind) {
    case StmtKind::Let: {
        const auto& l = static_cast<const LetStmt&>(s);
        return "(let " + l.name + " " + show(*l.init) + ")";
    }
    case StmtKind::Assign: {
        const auto& a = static_cast<const AssignStmt&>(s);
        return "(" + a.op + "= " + show(*a.target) + " " + show(*a.value) + ")";
    }
    case StmtKind::Expr: return show(*static_cast<const ExprStmt&>(s).expr);
    case StmtKind::If: {
        std::string out = "(if";
        for (const IfBranch& b : static_cast<const IfStmt&>(s).branches)
            out += " (" + (b.cond ? show(*b.cond) : std::string("else")) + " " + show(b.body) + ")";
        return out + ")";
    }
    case StmtKind::While: {
        const auto& w = static_cast<const WhileStmt&>(s);
        return "(while " + show(*w.cond) + " " + show(w.body) + ")";
    }
    case StmtKind::NumericFor: {
        const auto& f = static_cast<const NumericForStmt&>(s);
        return "(for " + f.var + " " + show(*f.start) + " " + show(*f.limit) + " " +
               (f.step ? show(*f.step) : std::string("_")) + " " + show(f.body) + ")";
    }
    case StmtKind::ForIn: {
        const auto& f = static_cast<const ForInStmt&>(s);
        return "(forin " + f.var + " " + show(*f.iterable) + " " + show(f.body) + ")";
    }
    case StmtKind::FunctionDecl: {
        const auto& f = static_cast<const FunctionDeclStmt&>(s);
        return "(function " + f.name + " " + showParams(f.params) + " " + show(f.body) + ")";
    }
    case StmtKind::Return: {
        const auto& r = static_cast<const ReturnStmt&>(s);
        return r.value ? "(return " + show(*r.value) + ")" : "(return)";
    }
    case StmtKind::Break: return "(break)";
    case StmtKind::Continue: return "(continue)";
    case StmtKind::Try: {
        const auto& t = static_cast<const TryStmt&>(s);
        return "(try " + show(t.body) + " " + t.catchName + " " + show(t.handler) + ")";
    }
    }
    return "?";
}

Block parseSource(const std::string& source) { return parse(tokenize(source)); }

// The whole program, statements separated by "; ".
std::string tree(const std::string& source) {
    Block program = parseSource(source);
    std::string out;
    for (const StmtPtr& s : program) {
        if (!out.empty()) out += "; ";
        out += show(*s);
    }
    return out;
}

std::string pos(int32_t line, int32_t column) {
    return std::to_string(line) + ":" + std::to_string(column);
}
template <typename Node>
std::string pos(const Node& n) {
    return pos(n.line, n.column);
}

// The single expression of a one-statement program.
const Expr& exprOf(const Block& program) {
    EXPECT_EQ(program.size(), 1u);
    const Stmt& s = *program.at(0);
    if (s.kind == StmtKind::Let) return *static_cast<const LetStmt&>(s).init;
    EXPECT_EQ(s.kind, StmtKind::Expr);
    return *static_cast<const ExprStmt&>(s).expr;
}

struct Failure {
    std::string kind;
    std::string message;
    std::string where;
};

Failure failure(const std::string& source) {
    try {
        parseSource(source);
    } catch (const FerrowError& e) {
        return {e.kind, e.message, pos(e.line, e.column)};
    }
    ADD_FAILURE() << "no error for: " << source;
    return {};
}

void expectSyntaxError(const std::string& source, const std::string& message, const std::string& where) {
    Failure f = failure(source);
    EXPECT_EQ(f.kind, "SyntaxError") << source;
    EXPECT_EQ(f.message, message) << source;
    EXPECT_EQ(f.where, where) << source;
}

// How deeply a tree nests, in the parser's terms: every node stands one
// level below its parent, statements included, except the child a chain
// continues through (leftSpineChild), which stays at its parent's level.
// Chains are followed with a loop, as the engines do, so that trees built
// from long chains can be measured.
int nestingOf(const Expr& e);
int nestingOf(const Block& b);

int nestingOf(const Stmt& s) {
    int d = 0;  // of the deepest child
    auto child = [&d](int nesting) { d = std::max(d, nesting); };
    switch (s.kind) {
    case StmtKind::Let: child(nestingOf(*static_cast<const LetStmt&>(s).init)); break;
    case StmtKind::Expr: child(nestingOf(*static_cast<const ExprStmt&>(s).expr)); break;
    case StmtKind::Assign: {
        const auto& a = static_cast<const AssignStmt&>(s);
        child(nestingOf(*a.target));
        child(nestingOf(*a.value));
        break;
    }
    case StmtKind::If:
        for (const IfBranch& br : static_cast<const IfStmt&>(s).branches) {
            if (br.cond) child(nestingOf(*br.cond));
            child(nestingOf(br.body));
        }
        break;
    case StmtKind::While: {
        const auto& w = static_cast<const WhileStmt&>(s);
        child(nestingOf(*w.cond));
        child(nestingOf(w.body));
        break;
    }
    case StmtKind::NumericFor: {
        const auto& f = static_cast<const NumericForStmt&>(s);
        child(nestingOf(*f.start));
        child(nestingOf(*f.limit));
        if (f.step) child(nestingOf(*f.step));
        child(nestingOf(f.body));
        break;
    }
    case StmtKind::ForIn: {
        const auto& f = static_cast<const ForInStmt&>(s);
        child(nestingOf(*f.iterable));
        child(nestingOf(f.body));
        break;
    }
    case StmtKind::Return: {
        const auto& r = static_cast<const ReturnStmt&>(s);
        if (r.value) child(nestingOf(*r.value));
        break;
    }
    case StmtKind::FunctionDecl:
        child(nestingOf(static_cast<const FunctionDeclStmt&>(s).body));
        break;
    case StmtKind::Try: {
        const auto& t = static_cast<const TryStmt&>(s);
        child(nestingOf(t.body));
        child(nestingOf(t.handler));
        break;
    }
    default: break;
    }
    return 1 + d;
}

int nestingOf(const Block& b) {
    int d = 0;
    for (const StmtPtr& s : b) d = std::max(d, nestingOf(*s));
    return d;
}

int nestingOf(const Expr& top) {
    int d = 0;  // of the deepest child off the chain
    auto child = [&d](int nesting) { d = std::max(d, nesting); };
    for (const Expr* e = &top; e; e = leftSpineChild(*e)) {
        switch (e->kind) {
        case ExprKind::Unary: child(nestingOf(*static_cast<const UnaryExpr&>(*e).operand)); break;
        case ExprKind::Binary: child(nestingOf(*static_cast<const BinaryExpr&>(*e).right)); break;
        case ExprKind::Call:
            for (const ExprPtr& a : static_cast<const CallExpr&>(*e).args) child(nestingOf(*a));
            break;
        case ExprKind::Index: child(nestingOf(*static_cast<const IndexExpr&>(*e).index)); break;
        case ExprKind::ListLit:
            for (const ExprPtr& x : static_cast<const ListLitExpr&>(*e).elements)
                child(nestingOf(*x));
            break;
        case ExprKind::MapLit:
            for (const auto& [k, v] : static_cast<const MapLitExpr&>(*e).entries) {
                child(nestingOf(*k));
                child(nestingOf(*v));
            }
            break;
        case ExprKind::Function: child(nestingOf(static_cast<const FunctionExpr&>(*e).body)); break;
        default: break;
        }
    }
    return 1 + d;
}

// The number of links in the chain that `e` starts.
std::size_t chainLength(const Expr& e) {
    std::size_t links = 0;
    for (const Expr* link = leftSpineChild(e); link; link = leftSpineChild(*link)) ++links;
    return links;
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    out.reserve(s.size() * static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

const char* const kTooDeep = "too deeply nested (more than 200 levels)";

}  // namespace

// ---------------------------------------------------------------------------
// Blocks and statements

TEST(Parser, FunctionKeywordWithoutANameStartsAnExpressionStatement) {
    EXPECT_EQ(tree("function (a) return a end(1)"), "(call (fn <anonymous> (a) {(return a)}) 1)");
}

TEST(Parser, ReturnWithoutValueBeforeLineEndOrBlockEnd) {
    EXPECT_EQ(tree("function f()\n  return\nend"), "(function f () {(return)})");
    EXPECT_EQ(tree("if a then return elif b then return else return end"),
              "(if (a {(return)}) (b {(return)}) (else {(return)}))");
    EXPECT_EQ(tree("try return catch e return end"), "(try {(return)} e {(return)})");
}

TEST(Parser, IfWithElifAndElseIsOneStatement) {
    EXPECT_EQ(tree("if a then x elif b then y else z end"), "(if (a {x}) (b {y}) (else {z}))");
    EXPECT_EQ(tree("if a then\n  x\n  y\nelif b then\nelif c then z\nend"),
              "(if (a {x y}) (b {}) (c {z}))");
}

TEST(Parser, AssignmentTargetsAndOperators) {
    EXPECT_EQ(tree("a[i] = 2"), "(= (index a i) 2)");
    EXPECT_EQ(tree("a.b.c = 3"), "(= (get (get a b) c) 3)");
    EXPECT_EQ(tree("x += 1\nx -= 1\nx *= 1\nx /= 1\nx //= 1\nx %= 1\nx ^= 1"),
              "(+= x 1); (-= x 1); (*= x 1); (/= x 1); (//= x 1); (%= x 1); (^= x 1)");
}

TEST(Parser, StatementPositionsComeFromTheirFirstToken) {
    Block program = parseSource(
        "  if a then\n"
        "    while a do break end\n"
        "  end\n"
        "function f() return end");
    ASSERT_EQ(program.size(), 2u);
    EXPECT_EQ(pos(*program[0]), "1:3");
    const Stmt& loop = *static_cast<const IfStmt&>(*program[0]).branches[0].body[0];
    EXPECT_EQ(pos(loop), "2:5");
    EXPECT_EQ(pos(*static_cast<const WhileStmt&>(loop).body[0]), "2:16");
    EXPECT_EQ(pos(*static_cast<const FunctionDeclStmt&>(*program[1]).body[0]), "4:14");
}

TEST(Parser, AssignmentStandsAtItsOperator) {
    Block program = parseSource("a.b  += 1");
    EXPECT_EQ(pos(*program[0]), "1:6");
}

TEST(Parser, ExpressionStatementTakesTheExpressionsPosition) {
    Block program = parseSource("f(1)\n  1 + 2\n(x)");
    EXPECT_EQ(pos(*program[0]), "1:2");  // the call's "("
    EXPECT_EQ(pos(*program[1]), "2:5");  // the "+"
    EXPECT_EQ(pos(*program[2]), "3:2");  // x; parentheses make no node
}

// ---------------------------------------------------------------------------
// Statement errors

TEST(Parser, LetErrors) {
    expectSyntaxError("let x\n", "expected '=' in let declaration, got end of line", "1:5");
    expectSyntaxError("let 5 = 1", "expected a variable name after 'let', got '5'", "1:5");
    expectSyntaxError("let x = ", "unexpected end of file in expression", "1:7");
    expectSyntaxError("let x += 1", "expected '=' in let declaration, got '+='", "1:7");
}

TEST(Parser, FunctionErrors) {
    expectSyntaxError("function f a", "expected '(' before parameters, got 'a'", "1:12");
    expectSyntaxError("function f(a,) end", "expected a parameter name, got ')'", "1:14");
    expectSyntaxError("function f(a b) end", "expected ')' after parameters, got 'b'", "1:14");
    expectSyntaxError("function f()\n  x", "expected 'end' to close function, got end of file", "2:3");
    expectSyntaxError("let g = function() x", "expected 'end' to close function, got end of file", "1:20");
}

TEST(Parser, IfErrors) {
    expectSyntaxError("if x then", "expected 'end' to close if, got end of file", "1:6");
    expectSyntaxError("if x y", "expected 'then' after if condition, got 'y'", "1:6");
    expectSyntaxError("if x then elif y z end", "expected 'then' after elif condition, got 'z'", "1:18");
    expectSyntaxError("if a then else b elif c then end", "expected 'end' to close if, got 'elif'", "1:18");
    expectSyntaxError("if x then y end z", "expected end of statement, got 'z'", "1:17");
}

TEST(Parser, LoopErrors) {
    expectSyntaxError("while x\n", "expected 'do' after while condition, got end of line", "1:7");
    expectSyntaxError("while x do", "expected 'end' to close while, got end of file", "1:9");
    expectSyntaxError("for 1", "expected a loop variable after 'for', got '1'", "1:5");
    expectSyntaxError("for i = 1 do end", "expected ',' after the numeric-for start value, got 'do'", "1:11");
    expectSyntaxError("for i = 1, 2", "expected 'do' after numeric-for header, got end of file", "1:12");
    expectSyntaxError("for i = 1, 2, 3, 4 do end", "expected 'do' after numeric-for header, got ','", "1:16");
    expectSyntaxError("for i = 1, 2 do", "expected 'end' to close for, got end of file", "1:14");
    expectSyntaxError("for x in xs", "expected 'do' after for-in header, got end of file", "1:10");
}

TEST(Parser, InvalidAssignmentTargetIsReportedAtTheOperator) {
    expectSyntaxError("x + 1 = 2", "invalid assignment target", "1:7");
    expectSyntaxError("f() += 1", "invalid assignment target", "1:5");
    expectSyntaxError("(1) = 1", "invalid assignment target", "1:5");
}

TEST(Parser, AssignmentIsNotAnExpression) {
    expectSyntaxError("a = b = c", "expected end of statement, got '='", "1:7");
    expectSyntaxError("print(x = 1)", "expected ')' after arguments, got '='", "1:9");
}

TEST(Parser, TwoStatementsOnOneLine) {
    expectSyntaxError("f(1) g(2)", "expected end of statement, got 'g'", "1:6");
    expectSyntaxError("break 1", "expected end of statement, got '1'", "1:7");
    expectSyntaxError("x \"${y}\"", "expected end of statement, got ''", "1:3");
}

// ---------------------------------------------------------------------------
// Expressions

TEST(Parser, PrecedenceFromLowestToHighest) {
    EXPECT_EQ(tree("1 + 2 * 3 ^ 2 ^ 2"), "(+ 1 (* 2 (^ 3 (^ 2 2))))");
    EXPECT_EQ(tree("a or b and c"), "(or a (and b c))");
    EXPECT_EQ(tree("a == b < c"), "(== a (< b c))");
    EXPECT_EQ(tree("a and b != c"), "(and a (!= b c))");
}

TEST(Parser, UnaryBindsTighterThanEveryBinaryOperator) {
    EXPECT_EQ(tree("-2 ^ 2"), "(^ (- 2) 2)");
    EXPECT_EQ(tree("not a == b"), "(== (not a) b)");
    EXPECT_EQ(tree("a - -b"), "(- a (- b))");
    EXPECT_EQ(tree("-f(x).y"), "(- (get (call f x) y))");
}

TEST(Parser, PostfixOperatorsChainFreely) {
    EXPECT_EQ(tree("a.b[1](x).c"), "(get (call (index (get a b) 1) x) c)");
    EXPECT_EQ(tree("f(1, g(2), [3])"), "(call f 1 (call g 2) (list 3))");
}

TEST(Parser, IntegerLiteralsAreExactOverThe64BitRange) {
    // A double holds every integer only up to 2^53; the digits are read
    // exactly instead.
    EXPECT_EQ(tree("9007199254740993"), "9007199254740993");
    EXPECT_EQ(tree("6364136223846793005"), "6364136223846793005");
    EXPECT_EQ(tree("9223372036854775807"), "9223372036854775807");
    EXPECT_EQ(tree("00009223372036854775807"), "9223372036854775807");
    EXPECT_EQ(tree("007"), "7");
}

TEST(Parser, IntegerLiteralsBeyond64BitsAreTheNearestFloat) {
    auto literalOf = [](const std::string& source) {
        Block program = parseSource(source);
        const Expr& e = exprOf(program);
        EXPECT_EQ(e.kind, ExprKind::Literal);
        return static_cast<const LiteralExpr&>(e).value;
    };
    const Value two63 = literalOf("9223372036854775808");
    ASSERT_TRUE(two63.isFloat());
    EXPECT_EQ(two63.asFloat(), 9223372036854775808.0);
    const Value two64 = literalOf("18446744073709551616");
    ASSERT_TRUE(two64.isFloat());
    EXPECT_EQ(two64.asFloat(), 18446744073709551616.0);
    // Too long for a double as well: infinity, as the lexer read it.
    const Value huge = literalOf("1" + std::string(400, '0'));
    ASSERT_TRUE(huge.isFloat());
    EXPECT_EQ(huge.asFloat(), HUGE_VAL);
    // A minus sign is an operator, so the smallest integer cannot be
    // written as one literal.
    EXPECT_EQ(tree("-9223372036854775808"), "(- 9.2233720368547758e+18)");
}

TEST(Parser, MapLiteralKeys) {
    EXPECT_EQ(tree("{a: 1, \"b\": 2, [k]: 3, 4: 5}"), "(map (\"a\" 1) (\"b\" 2) (k 3) (4 5))");
    EXPECT_EQ(tree("{(k): 1, true: 2, nil: 3, [1 + 2]: 4}"), "(map (k 1) (true 2) (nil 3) ((+ 1 2) 4))");
}

TEST(Parser, MapKeyIsAPrimaryNotAnExpression) {
    expectSyntaxError("{-1: 2}", "unexpected '-' in expression", "1:2");
    expectSyntaxError("{a + 1: 2}", "expected ':' between map key and value, got '+'", "1:4");
}

TEST(Parser, BracketedLiteralErrors) {
    expectSyntaxError("{a 1}", "expected ':' between map key and value, got '1'", "1:4");
    expectSyntaxError("[1 2]", "expected ']' to close list, got '2'", "1:4");
    expectSyntaxError("[1,\n", "unexpected end of file in expression", "1:3");
    expectSyntaxError("{a: 1 b: 2}", "expected '}' to close map, got 'b'", "1:7");
    expectSyntaxError("{[1: 2}", "expected ']' after computed map key, got ':'", "1:4");
    expectSyntaxError("[,]", "unexpected ',' in expression", "1:2");
}

TEST(Parser, PostfixErrors) {
    expectSyntaxError("f(1, 2,)", "unexpected ')' in expression", "1:8");
    expectSyntaxError("f(1", "expected ')' after arguments, got end of file", "1:3");
    expectSyntaxError("a[1", "expected ']' after index, got end of file", "1:3");
    expectSyntaxError("a[]", "unexpected ']' in expression", "1:3");
    expectSyntaxError("x.\n", "expected a field name after '.', got end of line", "1:2");
}

TEST(Parser, NewlinesEndExpressionsOutsideBracketedLiterals) {
    expectSyntaxError("1 +\n2", "unexpected end of line in expression", "1:3");
    expectSyntaxError("f(1,\n2)", "unexpected end of line in expression", "1:4");
    expectSyntaxError("(1\n)", "expected ')' to close grouping, got end of line", "1:2");
}

TEST(Parser, UnexpectedTokenInExpression) {
    expectSyntaxError("x = then", "unexpected 'then' in expression", "1:5");
    expectSyntaxError("let y = end", "unexpected 'end' in expression", "1:9");
}

TEST(Parser, ExpressionNodesStandAtTheirTokens) {
    Block program = parseSource("let v = [a.b, f(x)[1], -y, {k: 1}, function() end]");
    const auto& list = static_cast<const ListLitExpr&>(exprOf(program));
    EXPECT_EQ(pos(list), "1:9");
    EXPECT_EQ(pos(*list.elements[0]), "1:11");  // the "."
    const auto& index = static_cast<const IndexExpr&>(*list.elements[1]);
    EXPECT_EQ(pos(index), "1:19");
    EXPECT_EQ(pos(*index.object), "1:16");  // the call's "("
    EXPECT_EQ(pos(*list.elements[2]), "1:24");
    EXPECT_EQ(pos(*list.elements[3]), "1:28");
    const auto& map = static_cast<const MapLitExpr&>(*list.elements[3]);
    EXPECT_EQ(pos(*map.entries[0].first), "1:29");
    EXPECT_EQ(pos(*list.elements[4]), "1:36");
}

// ---------------------------------------------------------------------------
// Interpolation

TEST(Parser, InterpolationBecomesStrCallsJoinedWithPlus) {
    EXPECT_EQ(tree("\"a${x}b\""), "(+ (+ \"a\" (call str x)) \"b\")");
    EXPECT_EQ(tree("\"${x}${y + 1}\""), "(+ (call str x) (call str (+ y 1)))");
}

TEST(Parser, InterpolationPieceMayHoldAnyExpression) {
    EXPECT_EQ(tree("\"${ {a: 1}[\"a\"] }!\""), "(+ (call str (index (map (\"a\" 1)) \"a\")) \"!\")");
    EXPECT_EQ(tree("\"${\"${x}\"}\""), "(call str (call str x))");
    EXPECT_EQ(tree("\"${'}'}\""), "(call str \"}\")");
}

TEST(Parser, ExtraTokensInAPieceAreReportedAtTheString) {
    expectSyntaxError("x = 1\n  s = \"v: ${a b}\"", "unexpected 'b' in ${...} interpolation", "2:7");
    expectSyntaxError("\"${a)}\"", "unexpected ')' in ${...} interpolation", "1:1");
}

TEST(Parser, EmptyPieceFailsAtThePiecesStart) {
    expectSyntaxError("\"${}\"", "unexpected end of file in expression", "1:4");
    expectSyntaxError("x\nlet s = \"ab${}\"", "unexpected end of file in expression", "2:14");
}

TEST(Parser, ParseErrorsInAPieceStandWhereTheyAreInTheSource) {
    //                 col: 1234567890123456789
    expectSyntaxError("\n\nlet s = \"abc${1 + }\"", "unexpected end of file in expression", "3:17");
    expectSyntaxError("let s = \"${f(1,)}\"", "unexpected ')' in expression", "1:16");
}

TEST(Parser, LexErrorsInAPieceStandWhereTheyAreInTheSource) {
    Failure f = failure("x\n  print(\"n = ${n ; 1}\")");
    EXPECT_EQ(f.kind, "SyntaxError (lexing)");
    EXPECT_EQ(f.message, "unexpected character ';'");
    EXPECT_EQ(f.where, "2:18");
}

TEST(Parser, ByteOrderMarkOpeningAPieceIsDroppedButStillCounted) {
    // The piece is tokenized like a source of its own, which drops a leading
    // mark; the positions still count its three bytes.
    Failure f = failure("\"${\xEF\xBB\xBF;}\"");
    EXPECT_EQ(f.message, "unexpected character ';'");
    EXPECT_EQ(f.where, "1:7");
}

TEST(Parser, NestedStringCrossingALineInAPieceFailsAtItsQuote) {
    Failure f = failure("s = \"${'a\nb'}\"");
    EXPECT_EQ(f.kind, "SyntaxError (lexing)");
    EXPECT_EQ(f.message, "unterminated string literal");
    EXPECT_EQ(f.where, "1:8");
}

TEST(Parser, PieceTokensOnALaterLineKeepTheirOwnColumn) {
    // The comment hides the opening quote of a nested string from the piece's
    // tokenizer, so the closing quote on the next line opens a string there.
    Failure f = failure("s = \"${x # 'c\n' + 1}\"");
    EXPECT_EQ(f.kind, "SyntaxError (lexing)");
    EXPECT_EQ(f.message, "unterminated string literal");
    EXPECT_EQ(f.where, "2:1");
}

TEST(Parser, NodesBuiltFromAPieceStandWhereTheyAreInTheSource) {
    Block program = parseSource("\n  let s = \"ab${x + y}\"");
    const auto& plus = static_cast<const BinaryExpr&>(exprOf(program));
    EXPECT_EQ(pos(plus), "2:11");
    EXPECT_EQ(pos(*plus.left), "2:11");
    const auto& call = static_cast<const CallExpr&>(*plus.right);
    EXPECT_EQ(pos(call), "2:11");
    EXPECT_EQ(pos(*call.callee), "2:11");
    const auto& sum = static_cast<const BinaryExpr&>(*call.args[0]);
    EXPECT_EQ(pos(sum), "2:18");
    EXPECT_EQ(pos(*sum.left), "2:16");
    EXPECT_EQ(pos(*sum.right), "2:20");
}

TEST(Parser, NestedInterpolationPositionsAreTranslatedTwice) {
    //         col: 123456789012
    Block program = parseSource("s = \"${\"${y}\"}\"");
    // (= s (call str (call str y)))
    const auto& assign = static_cast<const AssignStmt&>(*program[0]);
    const auto& outer = static_cast<const CallExpr&>(*assign.value);
    EXPECT_EQ(pos(outer), "1:5");
    const auto& inner = static_cast<const CallExpr&>(*outer.args[0]);
    EXPECT_EQ(pos(inner), "1:8");
    EXPECT_EQ(pos(*inner.args[0]), "1:11");
}

// ---------------------------------------------------------------------------
// Nesting limit

TEST(Parser, ChainsAreNotNesting) {
    // Left-associative operators, postfix operators and the pieces of an
    // interpolated string, at the old limit and far beyond it. A chain
    // stands at one level (2, under its statement) and its operands one
    // below, and their own operands one further when they are operators of
    // a higher precedence or calls.
    for (int n : {199, 200, 201, 100000}) {
        const std::pair<std::string, int> chains[] = {
            {"x" + repeat(" + 1", n - 1), 3},
            {"\"a\"" + repeat(" + b + \"c\"", (n - 1) / 2) + (n % 2 ? "" : " + b"), 3},
            {"x" + repeat(" - 1 * 2", n - 1), 4},
            {"a" + repeat(" or b and c", n - 1), 4},
            {"f" + repeat("(1)", n), 3},
            {"m" + repeat(".a", n), 2},
            {"m" + repeat("[0]", n), 3},
            {"m" + repeat(".f(1)[0]", n), 3},
            {"\"" + repeat("${x}-", n) + "\"", 4},
        };
        for (const auto& [source, nesting] : chains) {
            Block program = parseSource(source);
            EXPECT_EQ(nestingOf(program), nesting) << n << ": " << source.substr(0, 30);
            EXPECT_GE(chainLength(exprOf(program)), static_cast<std::size_t>(n - 1))
                << n << ": " << source.substr(0, 30);
        }
    }
}

TEST(Parser, ChainsKeepTheirShape) {
    EXPECT_EQ(tree("a + b - c + d"), "(+ (- (+ a b) c) d)");
    EXPECT_EQ(tree("a < b < c"), "(< (< a b) c)");
    EXPECT_EQ(tree("a + b * c * d - e"), "(- (+ a (* (* b c) d)) e)");
    EXPECT_EQ(tree("f(1)(2).x[3] + g.y"), "(+ (index (get (call (call f 1) 2) x) 3) (get g y))");
    EXPECT_EQ(tree("\"a${b}c${d}\""), "(+ (+ (+ \"a\" (call str b)) \"c\") (call str d))");
}

TEST(Parser, ChainsCountFromWhereTheyStand) {
    // A chain adds one level for its operands wherever it stands.
    Block ok = parseSource(repeat("[", 197) + "x" + repeat(" + 1", 100000) + repeat("]", 197));
    EXPECT_EQ(nestingOf(ok), 200);
    expectSyntaxError(repeat("[", 198) + "x + 1" + repeat("]", 198), kTooDeep, "1:203");
}

TEST(Parser, DeeplyNestedBracketsAreTooDeep) {
    expectSyntaxError(repeat("[", 10000) + repeat("]", 10000), kTooDeep, "1:200");
    expectSyntaxError(repeat("(", 10000) + "x" + repeat(")", 10000), kTooDeep, "1:200");
    expectSyntaxError(repeat("{a: ", 10000) + "1" + repeat("}", 10000), kTooDeep, "1:794");
    expectSyntaxError("f" + repeat("(g", 10000) + repeat(")", 10000), kTooDeep, "1:399");
    expectSyntaxError("m" + repeat("[m", 10000) + repeat("]", 10000), kTooDeep, "1:399");
}

TEST(Parser, DeeplyNestedBlocksAreTooDeep) {
    expectSyntaxError(repeat("if x then\n", 10000) + repeat("end\n", 10000), kTooDeep, "200:4");
    expectSyntaxError(repeat("while x do ", 10000) + repeat("end ", 10000), kTooDeep, "1:2196");
    expectSyntaxError(repeat("function f()\n", 10000) + repeat("end\n", 10000), kTooDeep, "201:1");
    expectSyntaxError(repeat("return function() ", 10000) + repeat("end ", 10000), kTooDeep,
                      "1:1801");
}

TEST(Parser, LongRunsOfPrefixesAreTooDeep) {
    expectSyntaxError(repeat("-", 100000) + "x", kTooDeep, "1:200");
    expectSyntaxError(repeat("not ", 100000) + "x", kTooDeep, "1:797");
}

TEST(Parser, LongPowerChainsAreTooDeep) {
    // "^" is right-associative: each link is the right operand of the one
    // before, so a run of them nests.
    EXPECT_EQ(tree("a ^ b ^ c"), "(^ a (^ b c))");
    expectSyntaxError("x" + repeat(" ^ 2", 100000), kTooDeep, "1:797");
}

TEST(Parser, DeepInterpolationNestingIsTooDeep) {
    // Each level is one more str(...) call around the level inside it.
    std::string nested = "x";
    for (int i = 0; i < 250; ++i) nested = "\"${" + nested + "}\"";
    expectSyntaxError(nested, kTooDeep, "1:598");
}

TEST(Parser, TreesUpToTheLimitAreAccepted) {
    Block lists = parseSource(repeat("[", 199) + repeat("]", 199));
    EXPECT_EQ(nestingOf(lists), 200);
    expectSyntaxError(repeat("[", 200) + repeat("]", 200), kTooDeep, "1:200");
    Block minus = parseSource(repeat("-", 198) + "x");
    EXPECT_EQ(nestingOf(minus), 200);
    expectSyntaxError(repeat("-", 199) + "x", kTooDeep, "1:200");
    Block power = parseSource("x" + repeat(" ^ 2", 198));
    EXPECT_EQ(nestingOf(power), 200);
    expectSyntaxError("x" + repeat(" ^ 2", 199), kTooDeep, "1:797");
}

TEST(Parser, NoAcceptedTreeIsDeeperThanTheLimit) {
    // Mixed shapes: chains that hang off deep subtrees, deep subtrees that
    // hang off early links of a chain, chains inside interpolation pieces.
    const std::string shapes[] = {
        repeat("[", 150) + "x" + repeat("]", 150) + repeat(" + 1", 60),
        "x + " + repeat("[", 150) + repeat("]", 150) + repeat(" + 1", 60),
        repeat("-", 150) + "x" + repeat(".a", 60),
        "f(" + repeat("[", 150) + repeat("]", 150) + ")" + repeat("()", 60),
        "\"" + repeat("${x}", 60) + "${" + repeat("-", 150) + "x}\"",
        repeat("if x then ", 100) + "y" + repeat(" + 1", 110) + repeat(" end", 100),
        "function f() return " + repeat("x + ", 120) + "function() return " + repeat("[", 90) +
            repeat("]", 90) + " end end",
        "x = " + repeat("(", 197) + "1" + repeat(" + 1", 1000) + repeat(")", 197),
        "x = " + repeat("(", 198) + "1" + repeat(" + 1", 1000) + repeat(")", 198),
        repeat("[", 196) + "\"${x + y}\"" + repeat("]", 196),
        repeat("[", 196) + "\"a${x + y}\"" + repeat("]", 196),
        repeat("[", 197) + "\"a${x}\"" + repeat("]", 197),
        repeat("[", 198) + "\"a${x}\"" + repeat("]", 198),
        repeat("{a: ", 98) + "{[x + y]: 1}" + repeat("}", 98),
    };
    for (const std::string& source : shapes) {
        try {
            Block program = parseSource(source);
            EXPECT_LE(nestingOf(program), 200) << source.substr(0, 60);
        } catch (const ParseError& e) {
            EXPECT_EQ(e.message, kTooDeep);
        }
    }
}
