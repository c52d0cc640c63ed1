// The compiler's operand limits, and both engines on long chains, small stacks and step budgets.

#include <memory>
#include <vector>

#include "compiler/Disassembler.h"
#include "compiler/OpCodes.h"
#include "unit_support.h"

using namespace ferrow;
using namespace ferrow::test;

namespace {

std::string compileFailure(const Block& program) {
    try { compile(program); } catch (const FerrowError& error) { return describe(error); }
    return "compiled";
}
std::string compileFailure(const std::string& source) { return compileFailure(parse(tokenize(source))); }

// For programs the parser would refuse: a node filled in by `fill`.
template <class Node, class Fill> std::unique_ptr<Node> node(Fill fill, int32_t line = 1, int32_t column = 1) {
    auto n = std::make_unique<Node>();
    n->line = line, n->column = column, fill(*n);
    return n;
}
ExprPtr literal() { return std::make_unique<LiteralExpr>(); }

using N = std::size_t;

std::string numbered(const std::string& text, N n) {  // `text` n times, # standing for 0, 1, ... in turn
    std::string out;
    const std::size_t hash = text.find('#');
    for (N i = 0; i < n; ++i) out += text.substr(0, hash) + std::to_string(i) + text.substr(hash + 1);
    return out;
}
uint8_t op(OpCode o) { return static_cast<uint8_t>(o); }

// In the program that just fits, the function `level` deep holds `bytes`, the widest operand, at `at` (< 0: from end).
struct Limit {
    std::string (*source)(N); N fits, fails; const char* error; int level; long at; std::vector<uint8_t> bytes;
};

const Limit kLimits[] = {
    {[](N n) { return numbered("#\n", n); }, 65536, 65537, "too many constants @0:0", 0, -6,
     {op(OpCode::CONST), 0xff, 0xff}},
    // The bodies are reads of a local: 4 bytes each, and no constants.
    {[](N n) { return "if true then\n  let x = nil\n" + repeat("  x\n", n) + "end\n"; }, 16000, 16400,
     "branch too large @0:0", -1, 0, {}},
    {[](N n) { return "while true do\n  let x = nil\n" + repeat("  x\n", n) + "end\n"; }, 16000, 16400,
     "loop body too large @0:0", -1, 0, {}},
    {[](N n) { return "\n    [" + repeat("nil, ", n) + "]\n"; }, 65535, 65536,
     "too many elements in a list literal (the limit is 65535) @2:5", 0, 65535, {op(OpCode::BUILD_LIST), 0xff, 0xff}},
    {[](N n) { return "\n\n {" + repeat("nil: nil, ", n) + "}\n"; }, 65535, 65536,
     "too many entries in a map literal (the limit is 65535) @3:2", -1, 0, {}},
    // Reading the last parameter or captured variable needs the widest operand.
    {[](N n) { return "function f(" + numbered("p#, ", n - 1) + "q)\n  q\nend\n"; }, 65536, 65537,
     "too many local variables in one function (the limit is 65536) @1:1", 1, 0, {op(OpCode::GET_LOCAL), 0xff, 0xff}},
    {[](N n) { return "function f(" + numbered("p#, ", n - 1) + "q)\n  function g()\n" + numbered("    p#\n", n - 1) +
                      "    q\n  end\nend\n"; }, 256, 257,
     "too many captured variables in one function (the limit is 256) @259:5", 2, -5, {op(OpCode::GET_UPVALUE), 255}},
    {[](N n) { return repeat("function() end\n", n); }, 65536, 65537,
     "too many nested functions in one function (the limit is 65536) @65537:1", 0, -6,
     {op(OpCode::CLOSURE), 0xff, 0xff}},
};

}  // namespace

TEST(Compiler, OperandLimits) {
    for (const Limit& limit : kLimits) {
        SCOPED_TRACE(limit.error);
        const auto script = compile(parse(tokenize(limit.source(limit.fits))));
        const FunctionProto* proto = script.get();
        for (int i = 0; i < limit.level; ++i) proto = proto->protos.back().get();
        if (limit.level >= 0) {
            const std::size_t at = limit.at < 0 ? proto->code.size() + limit.at : limit.at;
            EXPECT_EQ(std::vector<uint8_t>(&proto->code.at(at), &proto->code[at] + limit.bytes.size()), limit.bytes);
        }
        EXPECT_EQ(compileFailure(limit.source(limit.fails)), std::string("CompileError: ") + limit.error);
    }
    // Long chains too: each literal and global name is a constant; the argument count is checked first.
    for (const std::string& source : {"print(1" + repeat(" + 1", 100000) + ")", "m" + repeat(".a", 100000),
                                      "f" + repeat("(x)", 70000), "\"" + repeat("${x}", 40000) + "\""})
        EXPECT_EQ(compileFailure(source), "CompileError: too many constants @0:0");
    EXPECT_EQ(compileFailure("f" + repeat("(1)", 70000) + "(" + repeat("x, ", 255) + "x)"),
              "CompileError: too many arguments @1:210002");
}

TEST(Compiler, DeepNestingIsACompileErrorNotACrash) {
    ExprPtr expr = literal();  // far deeper than the parser allows: the compiler's own guard stops it on a small stack
    for (int i = 0; i < 400000; ++i)
        expr = node<UnaryExpr>([&](auto& u) { u.op = "-", u.operand = std::move(expr); }, 7, 3);
    Block deep;
    deep.push_back(node<ExprStmt>([&](auto& s) { s.expr = std::move(expr); }));
    std::string failure;  // whatever the size of the compiler's frames in this build
    onSmallStack([&] { failure = compileFailure(deep); }, std::size_t{2} << 20);
    EXPECT_EQ(failure.rfind("CompileError: program too deeply nested @7:", 0), 0u) << failure;
    ExprPtr rest = std::move(static_cast<ExprStmt&>(*deep[0]).expr);  // taken apart: recursing would be as deep
    while (rest && rest->kind == ExprKind::Unary) rest = std::move(static_cast<UnaryExpr&>(*rest).operand);
}

TEST(LongChains, RunOnBothEnginesOnASmallStack) {  // parsed, compiled, run and freed without recursing per link
    const std::size_t n = 100000;
    auto f = [](const char* params, const std::string& body, const char* args) {
        return "function f(" + (params + (")\n  return " + body)) + "\nend\nlet result = f(" + args + ")\n";
    };
    const std::pair<std::string, std::string> cases[] = {
        {f("x", "x" + repeat(" + x", n), "1"), "100001"}, {f("s, i", "s" + repeat("[i]", n), "\"abc\", 0"), "\"a\""},
        // Every "+" copies the string so far: the pieces are empty but two.
        {f("a, b", "\"<\" + a" + repeat(" + b + a", n / 2) + " + \">\"", "\"\", \"\""), "\"<>\""},
        {f("x", "x" + repeat(" * x - x + x // x", n / 4) + " == x and x < x + x", "1"), "true"},
        {"function g(y) return g end\n" + f("x", "g" + repeat("(x)", n), "1"), "<function g>"},
        {"function g(y) return {next: g, value: y} end\n" + f("x, k", "g" + repeat("(x)[k]", n / 2) + "(x).value",
                                                              "7, \"next\""), "7"},
    };
    for (const auto& [source, expected] : cases)
        for (Engine engine : {Engine::Tree, Engine::VM}) {
            SCOPED_TRACE(std::string(engineName(engine)) + ": " + source.substr(0, 60));
            onSmallStack([&] { EXPECT_EQ(run(engine, source + "print(repr(result))\n"), expected + "\n"); });
        }
    // Every interpolation piece names the global `str`, a constant in the VM, whose limit comes first.
    const std::string pieces = "let e = \"\"\nprint(\"[" + repeat("${e}", n) + "]\")\n";
    onSmallStack([&] { EXPECT_EQ(run(Engine::Tree, pieces), "[]\n"); });
    onSmallStack([&] { EXPECT_EQ(run(Engine::VM, pieces), "CompileError: too many constants @0:0"); });
    onSmallStack([] {  // a million links of every kind, built without the parser, are freed
        ExprPtr c = literal();
        for (int i = 0; i < 250000; ++i) {
            c = node<BinaryExpr>([&](auto& e) { e.left = std::move(c), e.right = literal(); });
            c = node<CallExpr>([&](auto& e) { e.callee = std::move(c); });
            c = node<IndexExpr>([&](auto& e) { e.object = std::move(c), e.index = literal(); });
            c = node<GetExpr>([&](auto& e) { e.object = std::move(c); });
        }
    });
}

TEST(StepBudget, EndsRunawayProgramsAndCountsCallsAndIterations) {
    // Every call fails once the budget is spent, so a handler cannot keep the program going.
    const std::string recursion = "function f()\n  try\n    f()\n  catch e\n  end\n  f()\nend\nwhile true do\n  try\n"
        "    f()\n  catch e\n  end\nend\n", spent = "RuntimeError: execution budget exhausted @";
    // Three iterations and three calls of str fit in six steps, not in five; callbacks are calls too.
    const std::string threeCalls = "for i = 1, 3 do\n  str(i)\nend\n",
                      callbacks = "map(function(x) return x end, [1, 2])\n";
    // An operator chain spends no steps, a call chain one per call: with f's, g's 10,000th call is refused.
    const std::string sum = "function f(x)\n  return x" + repeat(" + x", 100000) + "\nend\nlet y = f(1)\n";
    const std::string calls =
        "function g(y) return g end\nfunction f(x)\n  return g" + repeat("(x)", 100000) + "\nend\nf(1)\n";
    const struct { std::string source; uint64_t budget; std::string tree, vm; } rows[] = {
        {"let i = 0\nwhile true do\n  i += 1\nend\n", 1000, spent + "2:1", spent + "2:0"},
        {recursion, 5000, spent, spent},  // where it stops is left open
        {threeCalls, 6, "", ""}, {threeCalls, 5, spent + "2:6", spent + "1:0"},
        {"for x in [1, 2] do\nend\n", 1, spent + "1:1", spent + "1:0"}, {callbacks, 3, "", ""},
        {callbacks, 2, spent + "0:0", spent + "0:0"}, {sum, 1, "", ""},
        {calls, 10000, spent + "3:30008", spent + "3:0"}, {calls, 100001, "", ""},
        {"let n = 0\nfor i = 1, 300000 do\n  n += 1\nend\n", UINT64_MAX, "", ""},  // unlimited
    };
    for (const auto& row : rows)
        for (Engine engine : {Engine::Tree, Engine::VM}) {
            SCOPED_TRACE(engineName(engine) + (" " + std::to_string(row.budget)) + ": " + row.source.substr(0, 60));
            const std::string result = run(engine, row.source, row.budget);
            const std::string& expected = engine == Engine::Tree ? row.tree : row.vm;
            EXPECT_EQ(expected == spent ? result.substr(0, spent.size()) : result, expected);
        }
}

// One listing shows the code shapes and every operand form; the implicit return is on line 0.
TEST(Compiler, Listing) {
    const char* source = "let a = x and \"s\"\nwhile a do try break catch e end end\n"
                         "function f()\n  let v = 1\n  return function() return v end\nend\n";
    EXPECT_EQ("\n" + disassemble(*compile(parse(tokenize(source)))), R"(
== <script> arity 0 ==
0000    1  GET_GLOBAL 1 ; x
0003    1  JUMP_IF_FALSE 4 -> 10
0006    1  POP
0007    1  CONST 2 ; "s"
0010    1  DEFINE_GLOBAL 0 ; a
0013    2  GET_GLOBAL 3 ; a
0016    2  JUMP_IF_FALSE 16 -> 35
0019    2  POP
0020    2  TRY_BEGIN 8 -> 31
0023    2  TRY_END
0024    2  JUMP 9 -> 36
0027    2  TRY_END
0028    2  JUMP 1 -> 32
0031    2  POP
0032    2  LOOP 22 -> 13
0035    2  POP
0036    3  CLOSURE 0 ; f
0039    3  DEFINE_GLOBAL 4 ; f
0042    0  NIL
0043    0  RETURN

== f arity 0 ==
0000    4  CONST 0 ; 1
0003    5  CLOSURE 0 ; <anonymous>
0006    5  RETURN
0007    3  NIL
0008    3  RETURN

== <anonymous> arity 0 ==
upvalues: local 0
0000    5  GET_UPVALUE 0
0002    5  RETURN
0003    5  NIL
0004    5  RETURN
)");
}
