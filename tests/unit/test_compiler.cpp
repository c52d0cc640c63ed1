#include <gtest/gtest.h>

#include <pthread.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "compiler/Compiler.h"
#include "compiler/Disassembler.h"
#include "compiler/OpCodes.h"
#include "value/Errors.h"
#include "front/Lexer.h"
#include "front/Parser.h"

using namespace ferrow;

namespace {

std::shared_ptr<FunctionProto> compileSource(const std::string& source) {
    Block program = parse(tokenize(source));
    return compile(program);
}

// A leading newline lets the goldens start on their own line.
std::string listing(const std::string& source) {
    return "\n" + disassemble(*compileSource(source));
}

struct Failure {
    std::string kind;
    std::string message;
    int32_t line = -1;
    int32_t column = -1;
};

Failure compileFailure(const Block& program) {
    try {
        compile(program);
    } catch (const FerrowError& error) {
        return {error.kind, error.message, error.line, error.column};
    }
    ADD_FAILURE() << "compiled without an error";
    return {};
}

// Builders for programs too large or too odd to write as source.
template <class Node>
std::unique_ptr<Node> node(int32_t line = 1, int32_t column = 1) {
    auto n = std::make_unique<Node>();
    n->line = line;
    n->column = column;
    return n;
}

ExprPtr literal(Value value, int32_t line = 1) {
    auto lit = node<LiteralExpr>(line);
    lit->value = std::move(value);
    return lit;
}

ExprPtr name(const std::string& text, int32_t line = 1) {
    auto n = node<NameExpr>(line);
    n->name = text;
    return n;
}

StmtPtr exprStmt(ExprPtr expr) {
    auto stmt = node<ExprStmt>(expr->line, expr->column);
    stmt->expr = std::move(expr);
    return stmt;
}

StmtPtr let(const std::string& var, ExprPtr init) {
    auto stmt = node<LetStmt>();
    stmt->name = var;
    stmt->init = std::move(init);
    return stmt;
}

// A function expression statement with `count` parameters p0, p1, ...
std::unique_ptr<FunctionExpr> functionWithParams(std::size_t count) {
    auto fn = node<FunctionExpr>();
    for (std::size_t i = 0; i < count; ++i) fn->params.push_back("p" + std::to_string(i));
    return fn;
}

}  // namespace

// ------------------------------------------------------------ code shapes

TEST(Compiler, EmptyScriptIsNilReturnWithLineZero) {
    auto proto = compileSource("");
    EXPECT_EQ(proto->name, "<script>");
    EXPECT_EQ(proto->arity, 0);
    EXPECT_EQ(proto->code, (std::vector<uint8_t>{1, 39}));
    EXPECT_EQ(proto->lines, (std::vector<uint32_t>{0, 0}));
    EXPECT_TRUE(proto->constants.empty());
    EXPECT_EQ(listing(""), R"(
== <script> arity 0 ==
0000    0  NIL
0001    0  RETURN
)");
}

TEST(Compiler, EveryByteHasALine) {
    auto proto = compileSource(
        "function f(a, b)\n  let c = [a, {\"k\": b}]\n  for i = 1, 3 do\n    c[0] += i\n  end\n"
        "  return c\nend\nprint(f(1, 2))\n");
    EXPECT_EQ(proto->code.size(), proto->lines.size());
    ASSERT_EQ(proto->protos.size(), 1u);
    EXPECT_EQ(proto->protos[0]->code.size(), proto->protos[0]->lines.size());
    // The implicit return of a function carries the declaration's line.
    const auto& lines = proto->protos[0]->lines;
    EXPECT_EQ(lines[lines.size() - 1], 1u);
    EXPECT_EQ(lines[lines.size() - 2], 1u);
}

TEST(Compiler, ShortCircuitAndAssignments) {
    EXPECT_EQ(listing("let a = x and y or z\na.b += 1\na[0] = 2\na -= 1\n"), R"(
== <script> arity 0 ==
0000    1  GET_GLOBAL 1 ; x
0003    1  JUMP_IF_FALSE 4 -> 10
0006    1  POP
0007    1  GET_GLOBAL 2 ; y
0010    1  JUMP_IF_TRUE 4 -> 17
0013    1  POP
0014    1  GET_GLOBAL 3 ; z
0017    1  DEFINE_GLOBAL 0 ; a
0020    2  GET_GLOBAL 4 ; a
0023    2  CONST 5 ; "b"
0026    2  GET_INDEX_KEEP
0027    2  CONST 6 ; 1
0030    2  ADD
0031    2  SET_INDEX
0032    2  POP
0033    3  GET_GLOBAL 7 ; a
0036    3  CONST 8 ; 0
0039    3  CONST 9 ; 2
0042    3  SET_INDEX
0043    3  POP
0044    4  GET_GLOBAL 10 ; a
0047    4  CONST 11 ; 1
0050    4  SUB
0051    4  SET_GLOBAL 10 ; a
0054    4  POP
0055    0  NIL
0056    0  RETURN
)");
}

TEST(Compiler, ChainsCompileFromTheInnermostOperandOut) {
    EXPECT_EQ(listing("let y = f(1)(2).k[x] + 3 - 4\n"), R"(
== <script> arity 0 ==
0000    1  GET_GLOBAL 1 ; f
0003    1  CONST 2 ; 1
0006    1  CALL 1
0008    1  CONST 3 ; 2
0011    1  CALL 1
0013    1  CONST 4 ; "k"
0016    1  GET_INDEX
0017    1  GET_GLOBAL 5 ; x
0020    1  GET_INDEX
0021    1  CONST 6 ; 3
0024    1  ADD
0025    1  CONST 7 ; 4
0028    1  SUB
0029    1  DEFINE_GLOBAL 0 ; y
0032    0  NIL
0033    0  RETURN
)");
}

namespace {

std::string repeat(const std::string& s, std::size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (std::size_t i = 0; i < n; ++i) out += s;
    return out;
}

// The most values that straight-line code (jumps are taken as falling
// through) holds on the stack above its locals at any point.
int maxStackHeight(const FunctionProto& proto) {
    int height = 0;
    int highest = 0;
    for (std::size_t ip = 0; ip < proto.code.size();) {
        const auto op = static_cast<OpCode>(proto.code[ip]);
        switch (op) {
        case OpCode::CONST:
        case OpCode::NIL:
        case OpCode::TRUE:
        case OpCode::FALSE:
        case OpCode::GET_GLOBAL:
        case OpCode::GET_LOCAL:
        case OpCode::GET_UPVALUE: ++height; break;
        case OpCode::CALL: height -= proto.code[ip + 1]; break;
        case OpCode::NEGATE:
        case OpCode::NOT:
        case OpCode::JUMP_IF_FALSE:
        case OpCode::JUMP_IF_TRUE: break;
        default:
            // POP, RETURN, GET_INDEX and the binary operators.
            --height;
            break;
        }
        highest = std::max(highest, height);
        ip += 1 + operandBytes(op);
    }
    return highest;
}

}  // namespace

TEST(Compiler, ChainsOfAnyLengthNeedTwoStackSlots) {
    // Each link consumes the value so far together with its own operands
    // before the next link pushes anything. Parameters only: no constants.
    const std::size_t links = 65000;
    const std::pair<std::string, int> chains[] = {
        {repeat(" + x", links), 2},
        {repeat(" - x + x", links / 2), 2},
        {repeat("(x)", links), 2},
        {repeat("[x]", links), 2},
        {repeat("(x)[x](x)", links / 3), 2},
        // The right operand of "and" replaces the left one.
        {repeat(" and x", links), 1},
        // Operands that are chains of their own take one more.
        {repeat(" + x(x)[x]", links / 3), 3},
    };
    for (const auto& [chain, slots] : chains) {
        auto proto = compileSource("function f(x)\n  return x" + chain + "\nend\n");
        ASSERT_EQ(proto->protos.size(), 1u);
        EXPECT_EQ(maxStackHeight(*proto->protos[0]), slots) << chain.substr(0, 20);
    }
    // Field names are constants, made anew for every read.
    EXPECT_EQ(maxStackHeight(*compileSource("m" + repeat(".a", links))), 2);
}

TEST(Compiler, LongChainsStillMeetTheOperandLimits) {
    // Every literal and every global name is a constant of its own.
    for (const std::string& source :
         {"print(1" + repeat(" + 1", 100000) + ")", "m" + repeat(".a", 100000),
          "f" + repeat("(x)", 70000), "\"" + repeat("${x}", 40000) + "\""}) {
        try {
            compileSource(source);
            ADD_FAILURE() << "compiled: " << source.substr(0, 20);
        } catch (const FerrowError& error) {
            EXPECT_EQ(error.kind, "CompileError");
            EXPECT_EQ(error.message, "too many constants");
        }
    }
    // The argument count is checked before anything else of the chain.
    const std::string args = repeat("x, ", 255) + "x";
    try {
        compileSource("f" + repeat("(1)", 70000) + "(" + args + ")");
        ADD_FAILURE() << "compiled";
    } catch (const FerrowError& error) {
        EXPECT_EQ(error.message, "too many arguments");
        EXPECT_EQ(error.column, 210002);
    }
}

TEST(Compiler, BreakOutOfTryEndsItsHandler) {
    EXPECT_EQ(listing("for i = 1, 10 do\n  try\n    break\n  catch e\n  end\nend\n"), R"(
== <script> arity 0 ==
0000    1  CONST 0 ; 1
0003    1  CONST 1 ; 10
0006    1  CONST 2 ; 1
0009    1  GET_LOCAL 0
0012    1  GET_LOCAL 1
0015    1  GET_LOCAL 2
0018    1  FOR_CHECK
0019    1  JUMP_IF_FALSE 27 -> 49
0022    1  POP
0023    2  TRY_BEGIN 8 -> 34
0026    3  TRY_END
0027    3  JUMP 20 -> 50
0030    2  TRY_END
0031    2  JUMP 1 -> 35
0034    2  POP
0035    1  GET_LOCAL 0
0038    1  GET_LOCAL 2
0041    1  ADD
0042    1  SET_LOCAL 0
0045    1  POP
0046    1  LOOP 40 -> 9
0049    1  POP
0050    1  POP
0051    1  POP
0052    1  POP
0053    0  NIL
0054    0  RETURN
)");
}

TEST(Compiler, TwoLevelCaptureGoesThroughTheMiddleFunction) {
    EXPECT_EQ(listing("function outer()\n  let v = 1\n  function middle()\n    function inner()\n"
                      "      return v + v + v\n    end\n    return inner\n  end\n  return middle\nend\n"),
              R"(
== <script> arity 0 ==
0000    1  CLOSURE 0 ; outer
0003    1  DEFINE_GLOBAL 0 ; outer
0006    0  NIL
0007    0  RETURN

== outer arity 0 ==
0000    2  CONST 0 ; 1
0003    3  CLOSURE 0 ; middle
0006    9  GET_LOCAL 1
0009    9  RETURN
0010    1  NIL
0011    1  RETURN

== middle arity 0 ==
upvalues: local 0
0000    4  CLOSURE 0 ; inner
0003    7  GET_LOCAL 0
0006    7  RETURN
0007    3  NIL
0008    3  RETURN

== inner arity 0 ==
upvalues: upvalue 0
0000    5  GET_UPVALUE 0
0002    5  GET_UPVALUE 0
0004    5  ADD
0005    5  GET_UPVALUE 0
0007    5  ADD
0008    5  RETURN
0009    4  NIL
0010    4  RETURN
)");
}

// ------------------------------------------------------------ compile errors

TEST(Compiler, ConstantLimit) {
    Block program;
    for (int i = 0; i < 65536; ++i) program.push_back(exprStmt(literal(Value::integer(i))));
    EXPECT_EQ(compile(program)->constants.size(), 65536u);

    program.push_back(exprStmt(literal(Value::integer(0))));
    Failure failure = compileFailure(program);
    EXPECT_EQ(failure.message, "too many constants");
    EXPECT_EQ(failure.line, 0);
    EXPECT_EQ(failure.column, 0);
}

namespace {

// `if true then let x = nil` followed by `count` reads of x: 4 bytes each
// (GET_LOCAL, POP) and no constants.
Block programWithLongBody(bool loop, std::size_t count) {
    Block body;
    body.push_back(let("x", literal(Value())));
    for (std::size_t i = 0; i < count; ++i) body.push_back(exprStmt(name("x")));
    Block program;
    if (loop) {
        auto stmt = node<WhileStmt>();
        stmt->cond = literal(Value::boolean(true));
        stmt->body = std::move(body);
        program.push_back(std::move(stmt));
    } else {
        auto stmt = node<IfStmt>();
        stmt->branches.push_back(IfBranch{literal(Value::boolean(true)), std::move(body)});
        program.push_back(std::move(stmt));
    }
    return program;
}

}  // namespace

TEST(Compiler, BranchAndLoopDistanceLimits) {
    EXPECT_NO_THROW(compile(programWithLongBody(false, 16000)));
    Failure failure = compileFailure(programWithLongBody(false, 16400));
    EXPECT_EQ(failure.message, "branch too large");
    EXPECT_EQ(failure.line, 0);
    EXPECT_EQ(failure.column, 0);

    EXPECT_NO_THROW(compile(programWithLongBody(true, 16000)));
    failure = compileFailure(programWithLongBody(true, 16400));
    EXPECT_EQ(failure.message, "loop body too large");
    EXPECT_EQ(failure.line, 0);
    EXPECT_EQ(failure.column, 0);
}

TEST(Compiler, ListLiteralLimit) {
    auto build = [](std::size_t count) {
        auto list = node<ListLitExpr>(2, 5);
        for (std::size_t i = 0; i < count; ++i) list->elements.push_back(literal(Value()));
        Block program;
        program.push_back(exprStmt(std::move(list)));
        return program;
    };
    auto proto = compile(build(65535));
    EXPECT_EQ(proto->code[65535], static_cast<uint8_t>(OpCode::BUILD_LIST));
    EXPECT_EQ(proto->code[65536], 0xff);
    EXPECT_EQ(proto->code[65537], 0xff);

    Failure failure = compileFailure(build(65536));
    EXPECT_EQ(failure.kind, "CompileError");
    EXPECT_EQ(failure.message, "too many elements in a list literal (the limit is 65535)");
    EXPECT_EQ(failure.line, 2);
    EXPECT_EQ(failure.column, 5);
}

TEST(Compiler, MapLiteralLimit) {
    auto build = [](std::size_t count) {
        auto map = node<MapLitExpr>(3, 2);
        for (std::size_t i = 0; i < count; ++i) {
            map->entries.emplace_back(literal(Value()), literal(Value()));
        }
        Block program;
        program.push_back(exprStmt(std::move(map)));
        return program;
    };
    EXPECT_NO_THROW(compile(build(65535)));
    Failure failure = compileFailure(build(65536));
    EXPECT_EQ(failure.message, "too many entries in a map literal (the limit is 65535)");
    EXPECT_EQ(failure.line, 3);
    EXPECT_EQ(failure.column, 2);
}

TEST(Compiler, LocalSlotLimit) {
    auto build = [](std::size_t params) {
        auto fn = functionWithParams(params);
        // Read the last parameter so the widest slot operand is emitted.
        fn->body.push_back(exprStmt(name("p" + std::to_string(params - 1))));
        Block program;
        program.push_back(exprStmt(std::move(fn)));
        return program;
    };
    auto proto = compile(build(65536));
    const auto& code = proto->protos.at(0)->code;
    EXPECT_EQ(code[0], static_cast<uint8_t>(OpCode::GET_LOCAL));
    EXPECT_EQ(code[1], 0xff);
    EXPECT_EQ(code[2], 0xff);

    Failure failure = compileFailure(build(65537));
    EXPECT_EQ(failure.kind, "CompileError");
    EXPECT_EQ(failure.message, "too many local variables in one function (the limit is 65536)");
}

TEST(Compiler, UpvalueLimit) {
    auto build = [](std::size_t captured) {
        auto inner = node<FunctionExpr>(2, 1);
        for (std::size_t i = 0; i < captured; ++i) {
            inner->body.push_back(exprStmt(name("p" + std::to_string(i), 2)));
        }
        auto outer = functionWithParams(captured);
        outer->body.push_back(exprStmt(std::move(inner)));
        Block program;
        program.push_back(exprStmt(std::move(outer)));
        return program;
    };
    auto proto = compile(build(256));
    const auto& inner = *proto->protos.at(0)->protos.at(0);
    EXPECT_EQ(inner.upvalues.size(), 256u);
    EXPECT_EQ(inner.code[inner.code.size() - 5], static_cast<uint8_t>(OpCode::GET_UPVALUE));
    EXPECT_EQ(inner.code[inner.code.size() - 4], 255);

    Failure failure = compileFailure(build(257));
    EXPECT_EQ(failure.kind, "CompileError");
    EXPECT_EQ(failure.message, "too many captured variables in one function (the limit is 256)");
    EXPECT_EQ(failure.line, 2);
}

TEST(Compiler, NestedFunctionLimit) {
    auto build = [](std::size_t count) {
        Block program;
        for (std::size_t i = 0; i < count; ++i) program.push_back(exprStmt(node<FunctionExpr>()));
        return program;
    };
    auto proto = compile(build(65536));
    EXPECT_EQ(proto->protos.size(), 65536u);
    const auto& code = proto->code;
    EXPECT_EQ(code[code.size() - 6], static_cast<uint8_t>(OpCode::CLOSURE));
    EXPECT_EQ(code[code.size() - 5], 0xff);
    EXPECT_EQ(code[code.size() - 4], 0xff);

    Failure failure = compileFailure(build(65537));
    EXPECT_EQ(failure.kind, "CompileError");
    EXPECT_EQ(failure.message, "too many nested functions in one function (the limit is 65536)");
}

TEST(Compiler, DeepNestingIsACompileErrorNotACrash) {
    // Far deeper than the parser allows; the compiler's own guard stops it.
    constexpr int kDepth = 400000;
    ExprPtr expr = literal(Value::integer(1));
    for (int i = 0; i < kDepth; ++i) {
        auto unary = node<UnaryExpr>(7, 3);
        unary->op = "-";
        unary->operand = std::move(expr);
        expr = std::move(unary);
    }
    Block program;
    program.push_back(exprStmt(std::move(expr)));
    // On a thread with a small stack, so the guard trips whatever the size
    // of the compiler's frames in this build.
    struct Job {
        const Block* program;
        Failure failure;
    } job{&program, {}};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 2 * 1024 * 1024);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attr,
                  [](void* arg) -> void* {
                      auto* j = static_cast<Job*>(arg);
                      j->failure = compileFailure(*j->program);
                      return nullptr;
                  },
                  &job),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    const Failure& failure = job.failure;
    EXPECT_EQ(failure.kind, "CompileError");
    EXPECT_EQ(failure.message, "program too deeply nested");
    EXPECT_EQ(failure.line, 7);

    // Take the chain apart iteratively; recursive destruction would be as
    // deep as the tree.
    ExprPtr rest = std::move(static_cast<ExprStmt&>(*program[0]).expr);
    while (rest && rest->kind == ExprKind::Unary) {
        ExprPtr next = std::move(static_cast<UnaryExpr&>(*rest).operand);
        rest = std::move(next);
    }
}
