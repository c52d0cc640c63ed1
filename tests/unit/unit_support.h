#pragma once  // helpers shared by the unit tests

#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>
#include <iostream>
#include <sstream>
#include <string>

#include "compiler/Compiler.h"
#include "front/Lexer.h"
#include "front/Parser.h"
#include "interp/Interpreter.h"
#include "value/Errors.h"
#include "value/Heap.h"
#include "vm/VM.h"

namespace ferrow::test {

inline std::string repeat(const std::string& s, std::size_t n) { std::string out; while (n--) out += s; return out; }

// Runs `job` on a thread whose stack is far smaller than recursing once per link or level would need.
inline void onSmallStack(std::function<void()> job, std::size_t bytes = std::size_t{4} << 20) {
    pthread_attr_t attr;
    pthread_t thread;
    pthread_attr_init(&attr), pthread_attr_setstacksize(&attr, bytes);
    auto body = [](void* f) -> void* { return (*static_cast<std::function<void()>*>(f))(), nullptr; };
    ASSERT_EQ(pthread_create(&thread, &attr, body, &job), 0);
    pthread_join(thread, nullptr), pthread_attr_destroy(&attr);
}

inline std::string describe(const FerrowError& e) {
    return e.kind + ": " + e.message + " @" + std::to_string(e.line) + ":" + std::to_string(e.column);
}

enum class Engine { Tree, VM };
inline const char* engineName(Engine e) { return e == Engine::Tree ? "tree" : "vm"; }

// A program run on a fresh engine with a step budget: what it printed, then the error that stopped it
// ("Kind: message @line:column"). Tree and engine are gone on return; std::bad_alloc passes through.
inline std::string run(Engine engine, const std::string& source, uint64_t budget = UINT64_MAX) {
    std::ostringstream text;
    struct Capture { std::streambuf* old; ~Capture() { std::cout.rdbuf(old); } } capture{std::cout.rdbuf(text.rdbuf())};
    try {
        const Block program = parse(tokenize(source));
        auto go = [&](auto&& runner, const auto& code) { runner.setStepBudget(budget), runner.run(code); };
        if (engine == Engine::Tree) go(Interpreter(), program);
        else go(VM(), compile(program));
    } catch (const FerrowError& error) { text << describe(error); } catch (const ThrownValue&) { text << "thrown"; }
    return text.str();
}

}  // namespace ferrow::test
