#include <gtest/gtest.h>

#include <string>

#include "compiler/Compiler.h"
#include "driver/Errors.h"
#include "front/Lexer.h"
#include "front/Parser.h"
#include "value/TextForm.h"
#include "vm/VM.h"

using namespace ferrow;

namespace {

// Runs a program on a fresh VM; the result is the repr of the value the
// script returns at top level, or "Kind: message @line:column" for an error.
std::string run(const std::string& source) {
    try {
        Block program = parse(tokenize(source));
        auto proto = compile(program);
        VM vm;
        return toRepr(vm.run(proto));
    } catch (const FerrowError& error) {
        return error.kind + ": " + error.message + " @" + std::to_string(error.line) + ":" +
               std::to_string(error.column);
    } catch (const ThrownValue& thrown) {
        return "Error: " + toString(thrown.value);
    }
}

}  // namespace

TEST(VM, EmptyScriptReturnsNil) {
    EXPECT_EQ(run(""), "nil");
    EXPECT_EQ(run("let x = 1\n"), "nil");
}

TEST(VM, IntegerArithmeticWraps) {
    // 2^62 is exact as a literal; twice it wraps to the smallest integer.
    const std::string min = "let m = 4611686018427387904 * 2\n";
    EXPECT_EQ(run(min + "return [m, m - 1, m - 1 + 1, -m, m * -1]"),
              "[-9223372036854775808, 9223372036854775807, -9223372036854775808, "
              "-9223372036854775808, -9223372036854775808]");
    EXPECT_EQ(run(min + "return [m // -1, m % -1]"), "[-9223372036854775808, 0]");
}

TEST(VM, DivisionAndRemainder) {
    EXPECT_EQ(run("return [7 / 2, 6 / 3, 7 // 2, -7 // 2, 7.0 // 2, -7 % 3, 7 % -3, 7.5 % 2]"),
              "[3.5, 2.0, 3, -4, 3.0, -1, 1, 1.5]");
    EXPECT_EQ(run("return 1 / 0"), "RuntimeError: division by zero @1:0");
    EXPECT_EQ(run("\nreturn 5 // 0"), "RuntimeError: floor division by zero @2:0");
    EXPECT_EQ(run("return 5.0 % 0.0"), "RuntimeError: modulo by zero @1:0");
    EXPECT_EQ(run("return [2 ^ 10, 2 ^ -1, 2.0 ^ 3, 0 ^ 0]"), "[1024, 0.5, 8.0, 1]");
}

TEST(VM, MixedNumbersAndStrings) {
    EXPECT_EQ(run("return [1 + 2.5, \"a\" + \"b\", [1] + [2], -0.0, 2 * 1.5]"),
              "[3.5, \"ab\", [1, 2], -0.0, 3.0]");
    EXPECT_EQ(run("return \"n=\" + 1"), "RuntimeError: cannot add string and number @1:0");
    EXPECT_EQ(run("return \"a\" - \"b\""),
              "RuntimeError: arithmetic needs numbers, got string and string @1:0");
    EXPECT_EQ(run("return nil * 2"), "RuntimeError: arithmetic needs numbers, got nil and number @1:0");
    EXPECT_EQ(run("return -\"x\""), "RuntimeError: unary '-': expected a number, got string @1:0");
}

TEST(VM, ComparisonsUseDoubles) {
    EXPECT_EQ(run("return [1 == 1.0, 9007199254740992 == 9007199254740993, "
                  "9007199254740992 < 9007199254740993, 1 < 1.5, \"ab\" < \"abc\", \"Z\" < \"a\"]"),
              "[true, true, false, true, true, true]");
    EXPECT_EQ(run("return 1 < \"2\""), "RuntimeError: cannot compare number and string @1:0");
    EXPECT_EQ(run("let n = 0 / 1.0\nreturn [n != n, [1] == [1], nil == false]"),
              "[false, false, false]");
}

TEST(VM, GlobalsResolveAtRunTime) {
    EXPECT_EQ(run("function f() return later end\nlet later = 5\nreturn f()"), "5");
    EXPECT_EQ(run("return zz"), "RuntimeError: undefined variable 'zz' @1:0");
    EXPECT_EQ(run("\n\nx = 1"),
              "RuntimeError: cannot assign to undefined variable 'x' (use 'let' to declare it) @3:0");
    // A redefinition replaces the binding every cached reader sees.
    EXPECT_EQ(run("let a = 1\nfunction get() return a end\nlet r = [get()]\nlet a = 2\n"
                  "push(r, get())\na = 3\npush(r, get())\nreturn r"),
              "[1, 2, 3]");
    EXPECT_EQ(run("let print = 1\nprint(\"x\")"), "RuntimeError: number is not callable @2:0");
}

TEST(VM, ListAndMapIndexing) {
    EXPECT_EQ(run("let l = [10, 20, 30]\nreturn [l[-1], l[0]]"), "[30, 10]");
    EXPECT_EQ(run("let l = [10, 20, 30]\nreturn l[3]"),
              "RuntimeError: list index 3 out of range (len 3) @2:0");
    EXPECT_EQ(run("let l = [1]\nreturn l[1.0]"),
              "RuntimeError: list index must be an integer, got number @2:0");
    EXPECT_EQ(run("let m = {\"a\": 1}\nreturn [m.a, m[\"b\"], {1: \"x\"}[1.0], \"hello\"[-1]]"),
              "[1, nil, \"x\", \"o\"]");
    EXPECT_EQ(run("let s = \"abc\"\ns[0] = \"x\""), "RuntimeError: cannot assign into string @2:0");
    EXPECT_EQ(run("let l = [1, 2, 3]\nl[5] = 1"),
              "RuntimeError: list index 5 out of range (len 3) @2:0");
    EXPECT_EQ(run("let m = {}\nm[[1]] = 2"),
              "RuntimeError: map key must be a string or number, got list @2:0");
    EXPECT_EQ(run("let l = [1]\nl[0] += 5\nlet m = {}\nm.k = 1\nm.k *= 3\nreturn [l, m]"),
              "[[6], {\"k\": 3}]");
}

TEST(VM, MapLiteralChecksKeysAfterEvaluatingEverything) {
    EXPECT_EQ(run("let log = []\nfunction f()\n  push(log, 1)\n  return 2\nend\n"
                  "try\n  let m = {[[1]]: f()}\ncatch e\n  return [e, log]\nend"),
              "[\"map keys must be string or number, got list\", [1]]");
    EXPECT_EQ(run("return {\"k\": 1, \"k\": 2, 1: 3, 1.0: 4}"), "{\"k\": 2, 1: 4}");
}

TEST(VM, ShortCircuitReturnsOperands) {
    EXPECT_EQ(run("return [nil or \"x\", false and crash(), 1 and 2, 0 or 5, not 0, not nil]"),
              "[\"x\", false, 2, 0, false, true]");
}

TEST(VM, NumericForUsesOneCounter) {
    EXPECT_EQ(run("let r = []\nfor q = 0, 1, 0.25 do push(r, q) end\nreturn r"),
              "[0, 0.25, 0.5, 0.75, 1.0]");
    EXPECT_EQ(run("let fs = []\nfor i = 1, 3 do push(fs, function() return i end) end\n"
                  "return [fs[0](), fs[1](), fs[2]()]"),
              "[4, 4, 4]");
    EXPECT_EQ(run("let r = []\nfor i = 1, 10 do\n  push(r, i)\n  i += 3\nend\nreturn r"), "[1, 5, 9]");
    EXPECT_EQ(run("let r = []\nfor i = 3, 1, -1 do push(r, i) end\nreturn r"), "[3, 2, 1]");
    EXPECT_EQ(run("let n = 0\nfor i = 1, 3, 0 do\n  n += 1\n  if n == 5 then break end\nend\nreturn n"),
              "5");
    EXPECT_EQ(run("\nfor i = 1, \"x\" do end"), "RuntimeError: numeric for-loop needs numbers @2:0");
}

TEST(VM, ForInWalksASnapshot) {
    EXPECT_EQ(run("let l = [1, 2]\nlet n = 0\nfor x in l do\n  push(l, x)\n  n += 1\nend\n"
                  "return [n, len(l)]"),
              "[2, 4]");
    EXPECT_EQ(run("let r = []\nfor k in {\"b\": 1, \"a\": 2} do push(r, k) end\nreturn r"),
              "[\"b\", \"a\"]");
    EXPECT_EQ(run("let n = 0\nfor c in \"h\xc3\xa9llo\" do n += 1 end\nreturn n"), "6");
    EXPECT_EQ(run("for x in 5 do end"), "RuntimeError: cannot iterate over number @1:0");
    EXPECT_EQ(run("let fs = []\nfor x in [1, 2] do\n  let y = x * 10\n"
                  "  push(fs, function() return [x, y] end)\nend\nreturn [fs[0](), fs[1]()]"),
              "[[2, 10], [2, 20]]");
}

TEST(VM, ClosuresShareCapturedVariables) {
    EXPECT_EQ(run("function make()\n  let n = 0\n  let inc = function()\n    n += 1\n    return n\n  end\n"
                  "  let get = function() return n end\n  return [inc, get]\nend\n"
                  "let p = make()\np[0]()\np[0]()\nlet q = make()\nq[0]()\nreturn [p[1](), q[1]()]"),
              "[2, 1]");
    EXPECT_EQ(run("function outer()\n  let v = 1\n  function middle()\n    return function()\n"
                  "      v += 1\n      return v\n    end\n  end\n  let f = middle()\n  f()\n"
                  "  return [f(), v]\nend\nreturn outer()"),
              "[3, 3]");
}

TEST(VM, CallErrors) {
    EXPECT_EQ(run("function add(a, b) return a + b end\n\nreturn add(1, 2, 3)"),
              "RuntimeError: add() expects 2 argument(s), got 3 @3:0");
    EXPECT_EQ(run("let f = function(x) return x end\nreturn f()"),
              "RuntimeError: <anonymous>() expects 1 argument(s), got 0 @2:0");
    EXPECT_EQ(run("return len()"), "RuntimeError: len() expects 1 argument(s), got 0 @1:0");
    EXPECT_EQ(run("return range(1, 2, 3, 4)"),
              "RuntimeError: range() expects 1-3 argument(s), got 4 @1:0");
    EXPECT_EQ(run("return push()"), "RuntimeError: push() expects 1+ argument(s), got 0 @1:0");
    EXPECT_EQ(run("return 5()"), "RuntimeError: number is not callable @1:0");
    EXPECT_EQ(run("let f = nil\nreturn f()"), "RuntimeError: nil is not callable @2:0");
    EXPECT_EQ(run("function f(a, b) return a end\nreturn map(f, [1, 2])"),
              "RuntimeError: f() expects 2 argument(s), got 1 @0:0");
}

TEST(VM, RecursionLimitCountsTheScriptFrame) {
    const std::string f = "function f(n)\n  if n == 0 then return 0 end\n  return f(n - 1) + 1\nend\n";
    // The script's frame plus 4,095 nested calls fill the 4,096 frames.
    EXPECT_EQ(run(f + "return f(4094)"), "4094");
    EXPECT_EQ(run(f + "return f(4095)"),
              "RuntimeError: call stack overflow (too much recursion) @3:0");
    EXPECT_EQ(run("function g() return g() end\ntry\n  g()\ncatch e\n  return e\nend"),
              "\"call stack overflow (too much recursion)\"");
}

TEST(VM, ValueStackOverflow) {
    // Sixteen locals per frame exhaust 65,536 slots before 4,096 frames.
    std::string source = "function f()\n";
    for (int i = 0; i < 16; ++i) source += "  let v" + std::to_string(i) + " = " + std::to_string(i) + "\n";
    source += "  return f()\nend\nreturn f()";
    EXPECT_EQ(run(source), "RuntimeError: stack overflow @0:0");
    // The error is catchable like any other, and the stack is usable again.
    EXPECT_EQ(run(source.substr(0, source.size() - 10) +
                  "try\n  f()\ncatch e\n  return [e, len([1, 2, 3])]\nend"),
              "[\"stack overflow\", 3]");
}

TEST(VM, TryDeliversErrorsIntoTheCatchVariable) {
    EXPECT_EQ(run("try\n  error(\"boom\")\ncatch e\n  return e\nend"), "\"boom\"");
    EXPECT_EQ(run("try\n  let x = 1 / 0\ncatch e\n  return e\nend"), "\"division by zero\"");
    EXPECT_EQ(run("let l = [1, 2]\ntry\n  error(l)\ncatch e\n  return e == l\nend"), "true");
    EXPECT_EQ(run("try\n  error()\ncatch e\n  return e\nend"), "\"error\"");
    EXPECT_EQ(run("error(\"out\")"), "Error: out");
}

TEST(VM, HandlersEndWithTheirFrameAndTheirLoop) {
    // A return inside a try removes the handler with the frame.
    EXPECT_EQ(run("function f()\n  try\n    return 1\n  catch e\n    return \"inner\"\n  end\nend\n"
                  "try\n  f()\n  error(\"later\")\ncatch e\n  return e\nend"),
              "\"later\"");
    EXPECT_EQ(run("function f()\n  try\n    return 1\n  catch e\n  end\nend\nf()\nerror(\"x\")"),
              "Error: x");
    // break out of a try leaves no handler behind.
    EXPECT_EQ(run("while true do\n  try\n    break\n  catch e\n    return \"wrong\"\n  end\nend\n"
                  "error(\"after\")"),
              "Error: after");
    // Locals of the protected block are dropped before the catch part runs.
    EXPECT_EQ(run("let r = []\nfor i = 1, 3 do\n  try\n    let a = i\n    let b = a * 2\n"
                  "    if i == 2 then error(b) end\n    push(r, a)\n  catch e\n    push(r, e)\n  end\n"
                  "end\nreturn r"),
              "[1, 4, 3]");
}

TEST(VM, ErrorsInsideCallbacks) {
    EXPECT_EQ(run("try\n  map(function(x) return x / 0 end, [1])\ncatch e\n  return e\nend"),
              "\"division by zero\"");
    // Caught inside the callback: the native never sees it.
    EXPECT_EQ(run("return map(function(x)\n  try\n    error(x)\n  catch e\n    return e * 2\n  end\n"
                  "end, [1, 2])"),
              "[2, 4]");
    // After a caught callback error the VM is consistent and goes on.
    EXPECT_EQ(run("let n = 0\nfor i = 1, 3 do\n  try\n    map(function(x) error(\"e\") end, [1])\n"
                  "  catch e\n    n += 1\n  end\nend\nreturn [n, sort([3, 1, 2], function(a, b) "
                  "return a < b end)]"),
              "[3, [1, 2, 3]]");
    EXPECT_EQ(run("return map(function(x) return map(function(y) return x * y end, [1, 2]) end, "
                  "[1, 2])"),
              "[[1, 2], [2, 4]]");
}

TEST(VM, DeepCallbackNestingStopsCleanly) {
    // Each level nests native and VM frames in C++; the result is an error,
    // never a crash.
    EXPECT_EQ(run("function f(n) return map(function(x) return f(x) end, [n + 1]) end\nreturn f(0)"),
              "RuntimeError: call stack overflow (too much recursion) @0:0");
}

TEST(VM, TopLevelReturnEndsTheScript) {
    EXPECT_EQ(run("return 1\nerror(\"never\")"), "1");
    EXPECT_EQ(run("for i = 1, 3 do\n  if i == 2 then return i end\nend"), "2");
}
