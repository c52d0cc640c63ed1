#include <gtest/gtest.h>

#include <string>

#include "compiler/Compiler.h"
#include "value/Errors.h"
#include "front/Lexer.h"
#include "front/Parser.h"
#include "interp/Interpreter.h"
#include "vm/VM.h"

using namespace ferrow;

namespace {

// Runs a program on a fresh tree-walker with the given step budget; the
// result is "ok" or "Kind: message @line:column".
std::string runTree(const std::string& source, uint64_t budget) {
    try {
        const Block program = parse(tokenize(source));
        Interpreter interpreter;
        interpreter.setStepBudget(budget);
        interpreter.run(program);
        return "ok";
    } catch (const FerrowError& error) {
        return error.kind + ": " + error.message + " @" + std::to_string(error.line) + ":" +
               std::to_string(error.column);
    } catch (const ThrownValue&) {
        return "thrown";
    }
}

std::string runVM(const std::string& source, uint64_t budget) {
    try {
        const auto proto = compile(parse(tokenize(source)));
        VM vm;
        vm.setStepBudget(budget);
        vm.run(proto);
        return "ok";
    } catch (const FerrowError& error) {
        return error.kind + ": " + error.message + " @" + std::to_string(error.line) + ":" +
               std::to_string(error.column);
    } catch (const ThrownValue&) {
        return "thrown";
    }
}

const std::string kEndlessRecursionThroughTry =
    "function f()\n  try\n    f()\n  catch e\n  end\n  f()\nend\n"
    "while true do\n  try\n    f()\n  catch e\n  end\nend\n";

}  // namespace

TEST(StepBudget, TreeEndsAnEndlessLoop) {
    EXPECT_EQ(runTree("let i = 0\nwhile true do\n  i += 1\nend\n", 1000),
              "RuntimeError: execution budget exhausted @2:1");
}

TEST(StepBudget, TreeEndsEndlessRecursionThroughTry) {
    // Every call fails once the budget is spent, so a handler cannot keep
    // the program going.
    EXPECT_EQ(runTree(kEndlessRecursionThroughTry, 5000)
                  .rfind("RuntimeError: execution budget exhausted", 0),
              0u);
}

TEST(StepBudget, TreeCountsIterationsAndCalls) {
    // Three iterations and three calls of str fit in six steps, not in five.
    const std::string source = "for i = 1, 3 do\n  str(i)\nend\n";
    EXPECT_EQ(runTree(source, 6), "ok");
    EXPECT_EQ(runTree(source, 5), "RuntimeError: execution budget exhausted @2:6");
    EXPECT_EQ(runTree("for x in [1, 2] do\nend\n", 1), "RuntimeError: execution budget exhausted @1:1");
}

TEST(StepBudget, VMEndsAnEndlessLoop) {
    EXPECT_EQ(runVM("let i = 0\nwhile true do\n  i += 1\nend\n", 1000),
              "RuntimeError: execution budget exhausted @2:0");
}

TEST(StepBudget, VMEndsEndlessRecursionThroughTry) {
    EXPECT_EQ(
        runVM(kEndlessRecursionThroughTry, 5000).rfind("RuntimeError: execution budget exhausted", 0),
        0u);
}

TEST(StepBudget, VMCountsBackEdgesAndCalls) {
    // The loop jumps back after each of its three iterations and calls str
    // three times; a callback from a native is a call too.
    const std::string source = "for i = 1, 3 do\n  str(i)\nend\n";
    EXPECT_EQ(runVM(source, 6), "ok");
    EXPECT_EQ(runVM(source, 5), "RuntimeError: execution budget exhausted @1:0");
    EXPECT_EQ(runVM("map(function(x) return x end, [1, 2])\n", 3), "ok");
    EXPECT_EQ(runVM("map(function(x) return x end, [1, 2])\n", 2),
              "RuntimeError: execution budget exhausted @0:0");
}

TEST(StepBudget, LongChainsSpendStepsOnCallsOnly) {
    // An operator chain starts no call and no iteration, however long.
    std::string sum = "function f(x)\n  return x";
    for (int i = 0; i < 100000; ++i) sum += " + x";
    sum += "\nend\nlet y = f(1)\n";
    EXPECT_EQ(runTree(sum, 1), "ok");
    EXPECT_EQ(runVM(sum, 1), "ok");
    // A chain of calls spends one step per call: with f's own call, the
    // 10,000th call of g is the first one refused.
    std::string calls = "function g(y) return g end\nfunction f(x)\n  return g";
    for (int i = 0; i < 100000; ++i) calls += "(x)";
    calls += "\nend\nf(1)\n";
    EXPECT_EQ(runTree(calls, 10000), "RuntimeError: execution budget exhausted @3:30008");
    EXPECT_EQ(runVM(calls, 10000), "RuntimeError: execution budget exhausted @3:0");
    EXPECT_EQ(runTree(calls, 100001), "ok");
    EXPECT_EQ(runVM(calls, 100001), "ok");
}

TEST(StepBudget, UnlimitedByDefault) {
    const std::string source = "let n = 0\nfor i = 1, 300000 do\n  n += 1\nend\n";
    EXPECT_EQ(runVM(source, UINT64_MAX), "ok");
    EXPECT_EQ(runTree(source, UINT64_MAX), "ok");
}
