#include <gtest/gtest.h>

#include <pthread.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "compiler/Compiler.h"
#include "value/Errors.h"
#include "front/Lexer.h"
#include "front/Parser.h"
#include "interp/Interpreter.h"
#include "vm/VM.h"

using namespace ferrow;

// Operator and postfix chains of any length go through every stage without
// recursing once per link: they are parsed, compiled, run on both engines and
// freed on a thread whose stack would hold only some thousands of levels of
// recursion, far fewer than the chains have links.

namespace {

constexpr std::size_t kSmallStack = std::size_t{4} << 20;

// Runs `job` on a thread with a small stack and waits for it.
void onSmallStack(const std::function<void()>& job) {
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, kSmallStack), 0);
    pthread_t thread;
    const int started = pthread_create(
        &thread, &attr,
        [](void* arg) -> void* {
            (*static_cast<const std::function<void()>*>(arg))();
            return nullptr;
        },
        const_cast<std::function<void()>*>(&job));
    pthread_attr_destroy(&attr);
    ASSERT_EQ(started, 0);
    pthread_join(thread, nullptr);
}

std::string repeat(const std::string& s, std::size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (std::size_t i = 0; i < n; ++i) out += s;
    return out;
}

// The global `result` after running `source` on the engine, as a display
// form with its type, or the error that stopped the run.
std::string resultOn(bool tree, const std::string& source) {
    try {
        const Block program = parse(tokenize(source));
        Value result;
        if (tree) {
            Interpreter interpreter;
            interpreter.run(program);
            result = *interpreter.globals->lookup("result");
        } else {
            VM vm;
            vm.run(compile(program));
            result = *vm.globals->lookup("result");
        }
        if (result.isInteger()) return "integer " + std::to_string(result.asInteger());
        if (result.isString()) return "string " + std::string(result.asString());
        return typeName(result);
    } catch (const FerrowError& error) {
        return error.kind + ": " + error.message;
    }
}

constexpr std::size_t kLinks = 100000;

struct Case {
    const char* what;
    std::string source;
    std::string expected;
};

std::vector<Case> cases() {
    return {
        {"sum", "function f(x)\n  return x" + repeat(" + x", kLinks) + "\nend\nlet result = f(1)\n",
         "integer 100001"},
        // Every "+" copies the string so far: the pieces are empty but two.
        {"string pieces",
         "function f(a, b)\n  return \"<\" + a" + repeat(" + b + a", kLinks / 2) +
             " + \">\"\nend\nlet result = f(\"\", \"\")\n",
         "string <>"},
        {"mixed operators",
         "function f(x)\n  return x" + repeat(" * x - x + x // x", kLinks / 4) +
             " == x and x < x + x\nend\nlet result = f(1)\n",
         "bool"},
        {"calls",
         "function g(y) return g end\nfunction f(x)\n  return g" + repeat("(x)", kLinks) +
             "\nend\nlet result = f(1)\n",
         "function"},
        {"indexing",
         "function f(s, i)\n  return s" + repeat("[i]", kLinks) +
             "\nend\nlet result = f(\"abc\", 0)\n",
         "string a"},
        {"mixed postfix",
         "function g(y) return {next: g, value: y} end\nfunction f(x, k)\n  return g" +
             repeat("(x)[k]", kLinks / 2) + "(x).value\nend\nlet result = f(7, \"next\")\n",
         "integer 7"},
    };
}

}  // namespace

TEST(LongChains, RunOnTheTreeWalkerOnASmallStack) {
    for (const Case& c : cases()) {
        onSmallStack([&] { EXPECT_EQ(resultOn(true, c.source), c.expected) << c.what; });
    }
}

TEST(LongChains, RunOnTheVMOnASmallStack) {
    for (const Case& c : cases()) {
        onSmallStack([&] { EXPECT_EQ(resultOn(false, c.source), c.expected) << c.what; });
    }
}

TEST(LongChains, InterpolationPiecesOnASmallStack) {
    // Every piece names the global `str`: the VM makes a constant of each
    // name, so its limit is reached first.
    const std::string source = "let e = \"\"\nlet result = \"[" + repeat("${e}", kLinks) + "]\"\n";
    onSmallStack([&] {
        EXPECT_EQ(resultOn(true, source), "string []");
        EXPECT_EQ(resultOn(false, source), "CompileError: too many constants");
    });
}

TEST(LongChains, HandBuiltChainIsFreedOnASmallStack) {
    // A million links, built without the parser.
    onSmallStack([] {
        ExprPtr chain = std::make_unique<LiteralExpr>();
        for (int i = 0; i < 1000000; ++i) {
            switch (i % 4) {
            case 0: {
                auto link = std::make_unique<BinaryExpr>();
                link->op = "+";
                link->left = std::move(chain);
                link->right = std::make_unique<LiteralExpr>();
                chain = std::move(link);
                break;
            }
            case 1: {
                auto link = std::make_unique<CallExpr>();
                link->callee = std::move(chain);
                chain = std::move(link);
                break;
            }
            case 2: {
                auto link = std::make_unique<IndexExpr>();
                link->object = std::move(chain);
                link->index = std::make_unique<LiteralExpr>();
                chain = std::move(link);
                break;
            }
            default: {
                auto link = std::make_unique<GetExpr>();
                link->object = std::move(chain);
                link->name = "a";
                chain = std::move(link);
                break;
            }
            }
        }
        chain.reset();
        EXPECT_EQ(chain, nullptr);
    });
}
