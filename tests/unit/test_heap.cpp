#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "compiler/Compiler.h"
#include "front/Lexer.h"
#include "front/Parser.h"
#include "interp/Interpreter.h"
#include "value/Environment.h"
#include "value/Function.h"
#include "value/Heap.h"
#include "value/Value.h"
#include "vm/VM.h"

using namespace ferrow;

namespace {

Heap& heap() { return Heap::current(); }

Value key(const char* name) { return Value::string(name); }

// The number of live containers once every garbage cycle is gone.
std::size_t settledCount() {
    heap().collect();
    return heap().trackedCount();
}

struct CycleCase {
    const char* name;
    std::size_t containers;  // made by build, all freed once `held` goes
    // Makes the structure and returns the one outside reference to it.
    std::function<Value()> build;
    // Whether the structure is whole, read through the outside reference.
    std::function<bool(const Value&)> intact;
};

const Value& element(const Value& list, std::size_t i) { return (*list.asList())[i]; }

const std::vector<CycleCase>& cycleCases() {
    static const std::vector<CycleCase> cases = {
        {"list holding itself", 1,
         [] {
             Value l = Value::newList();
             l.asList()->push_back(l);
             return l;
         },
         [](const Value& l) { return element(l, 0).asObject() == l.asObject(); }},
        {"map holding itself", 1,
         [] {
             Value m = Value::newMap();
             m.asMap()->set(key("self"), m);
             return m;
         },
         [](const Value& m) { return m.asMap()->find(key("self"))->asObject() == m.asObject(); }},
        {"two lists holding each other", 2,
         [] {
             Value a = Value::newList(), b = Value::newList();
             a.asList()->push_back(b);
             b.asList()->push_back(a);
             return a;
         },
         [](const Value& a) { return element(element(a, 0), 0).asObject() == a.asObject(); }},
        // Held through the middle of a ring list -> map -> list, with a
        // list hanging off the ring that only the ring reaches.
        {"ring held in the middle, with a tail", 4,
         [] {
             Value first = Value::newList(), middle = Value::newMap(), last = Value::newList();
             first.asList()->push_back(middle);
             middle.asMap()->set(key("next"), last);
             Value tail = Value::newList({Value::integer(7), Value::string("tail")});
             middle.asMap()->set(key("tail"), tail);
             last.asList()->push_back(first);
             return middle;
         },
         [](const Value& middle) {
             const Value* last = middle.asMap()->find(key("next"));
             const Value* tail = middle.asMap()->find(key("tail"));
             return element(element(*last, 0), 0).asObject() == middle.asObject() &&
                    element(*tail, 0).asInteger() == 7 && element(*tail, 1).asString() == "tail";
         }},
        // A function whose scope binds it, as a recursive local function.
        {"tree function and its scope", 2,
         [] {
             Ref<Environment> scope = Environment::child({});
             FunctionObj* f = newContainer<FunctionObj>();
             f->closure = scope;
             scope->define("f", Value::function(f));
             return Value::function(f);
         },
         [](const Value& f) {
             return f.asTreeFunction()->closure->lookup("f")->asObject() == f.asObject();
         }},
        // A VM closure that captured a variable holding the closure itself.
        {"VM closure and its closed upvalue", 2,
         [] {
             VMClosure* c = newContainer<VMClosure>();
             Ref<Upvalue> up(newContainer<Upvalue>());
             up->closed = Value::closure(c);
             up->location = &up->closed;
             c->upvalues.push_back(up);
             return Value::closure(c);
         },
         [](const Value& c) {
             return c.asClosure()->upvalues.at(0)->location->asObject() == c.asObject();
         }},
    };
    return cases;
}

}  // namespace

TEST(Collector, FreesCyclesOnlyOnceNothingOutsideHoldsThem) {
    for (const CycleCase& c : cycleCases()) {
        SCOPED_TRACE(c.name);
        const std::size_t baseline = settledCount();
        Value held = c.build();
        ASSERT_EQ(heap().trackedCount(), baseline + c.containers);
        // Held from C++: nothing is freed, and everything stays readable.
        EXPECT_EQ(heap().collect(), 0u);
        EXPECT_TRUE(c.intact(held));
        // A garbage cycle that refers to a live list leaves the list whole.
        Value live = Value::newList({Value::integer(42)});
        Value garbage = Value::newList({live});
        garbage.asList()->push_back(garbage);
        garbage = Value();
        EXPECT_EQ(heap().collect(), 1u);
        ASSERT_EQ(live.asList()->size(), 1u);
        EXPECT_EQ(element(live, 0).asInteger(), 42);
        EXPECT_TRUE(c.intact(held));
        live = Value();
        // Counting alone cannot free a cycle; the collector frees all of it.
        held = Value();
        EXPECT_EQ(heap().trackedCount(), baseline + c.containers);
        EXPECT_EQ(heap().collect(), c.containers);
        EXPECT_EQ(heap().trackedCount(), baseline);
    }
}

namespace {

// Captures std::cout for its lifetime.
class CapturedOutput {
public:
    CapturedOutput() : original_(std::cout.rdbuf(text_.rdbuf())) {}
    ~CapturedOutput() { std::cout.rdbuf(original_); }
    std::string text() const { return text_.str(); }

private:
    std::ostringstream text_;
    std::streambuf* original_;
};

class StressCollection {
public:
    StressCollection() { heap().setStressCollection(true); }
    ~StressCollection() { heap().setStressCollection(false); }
};

class HeapLimit {
public:
    explicit HeapLimit(std::size_t bytes) { heap().setLimit(bytes); }
    ~HeapLimit() { heap().setLimit(0); }
};

enum class Engine { Tree, VM };

// Runs a program on a fresh engine and returns what it printed; the syntax
// tree and the engine are gone when this returns.
std::string run(Engine engine, const std::string& source) {
    CapturedOutput output;
    if (engine == Engine::Tree) {
        const Block program = parse(tokenize(source));
        Interpreter interpreter;
        interpreter.run(program);
    } else {
        const auto proto = compile(parse(tokenize(source)));
        VM vm;
        vm.run(proto);
    }
    return output.text();
}

const char* engineName(Engine engine) { return engine == Engine::Tree ? "tree" : "vm"; }

struct ProgramCase {
    const char* name;
    const char* source;
    const char* expected;
};

const ProgramCase kCyclePrograms[] = {
    {"maps holding themselves",
     "let kept = {}\nkept.self = kept\nlet i = 0\n"
     "while i < 200 do\n  let node = {}\n  node.self = node\n  node.n = i\n  i = i + 1\nend\n"
     "print(i, kept.self.self == kept)\n",
     "200 true\n"},
    {"closures stored in the scope they capture",
     "function f()\n  function g() return g end\n  return g\nend\n"
     "let same = 0\nfor i = 1, 100 do\n  let h = f()\n  if h() == h then same = same + 1 end\nend\n"
     "function counter()\n  let n = 0\n  let obj = {}\n"
     "  obj.inc = function()\n    n = n + 1\n    obj.last = n\n    return n\n  end\n"
     "  return obj\nend\n"
     "let c = counter()\nfor i = 1, 50 do\n  counter().inc()\n  c.inc()\nend\n"
     "print(same, c.inc(), c.last)\n",
     "100 51 51\n"},
    {"lists holding each other",
     "let keep = []\nfor i = 1, 100 do\n  let a = [i]\n  let b = [a]\n  push(a, b)\n"
     "  if i % 25 == 0 then push(keep, a) end\nend\n"
     "print(len(keep), keep[0][0], keep[3][1][0][0])\n",
     "4 25 100\n"},
    {"scopes of functions kept in a list",
     "let fs = []\nfor i = 1, 30 do\n  let box = {}\n  box.get = function() return box end\n"
     "  push(fs, box.get)\nend\nlet n = 0\nfor f in fs do\n  if f().get == f then n = n + 1 end\nend\n"
     "print(n)\n",
     "30\n"},
    {"thrown cycles",
     "let caught = 0\nfor i = 1, 50 do\n  try\n    let e = {}\n    e.self = e\n    error(e)\n"
     "  catch err\n    if err.self == err then caught = caught + 1 end\n  end\nend\nprint(caught)\n",
     "50\n"},
    {"garbage cycles made inside native callbacks",
     "let xs = []\nfor i = 1, 40 do push(xs, (i * 7) % 41) end\n"
     "let sorted = sort(xs, function(a, b)\n  let junk = []\n  push(junk, junk)\n  return a < b\nend)\n"
     "let doubled = map(function(x)\n  let m = {}\n  m.m = m\n  return x * 2\nend, xs)\n"
     "let odd = filter(function(x)\n  let l = [x]\n  push(l, l)\n  return x % 2 == 1\nend, xs)\n"
     "let sum = reduce(function(acc, x)\n  let e = {}\n  e.f = function() return e end\n"
     "  return acc + x\nend, xs, 0)\n"
     "print(sorted[0], sorted[39], len(doubled), doubled[0], len(odd), sum, len(xs), xs[0])\n",
     "1 40 40 14 20 820 40 7\n"},
};

}  // namespace

TEST(Collector, ProgramsUnderStressCollectionKeepTheirDataAndLeakNothing) {
    for (const ProgramCase& program : kCyclePrograms) {
        for (Engine engine : {Engine::Tree, Engine::VM}) {
            SCOPED_TRACE(std::string(program.name) + " on " + engineName(engine));
            const std::size_t baseline = settledCount();
            const std::size_t bytes = heap().bytesInUse();
            {
                StressCollection stress;
                EXPECT_EQ(run(engine, program.source), program.expected);
            }
            EXPECT_EQ(settledCount(), baseline);
            EXPECT_EQ(heap().bytesInUse(), bytes);
        }
    }
}

TEST(Heap, RunawayProgramsEndInBadAllocAndGiveEverythingBack) {
    const char* const programs[] = {
        "let s = \"x\"\nwhile true do\n  s = s + s\nend\n",
        "let xs = []\nwhile true do\n  push(xs, copy(xs))\nend\n",
    };
    for (const char* source : programs) {
        for (Engine engine : {Engine::Tree, Engine::VM}) {
            SCOPED_TRACE(std::string(source) + " on " + engineName(engine));
            const std::size_t tracked = settledCount();
            const std::size_t bytes = heap().bytesInUse();
            {
                HeapLimit limit(64 << 20);
                EXPECT_THROW(run(engine, source), std::bad_alloc);
            }
            EXPECT_EQ(settledCount(), tracked);
            // Every byte charged on the way up was refunded on the way down.
            EXPECT_EQ(heap().bytesInUse(), bytes);
        }
    }
}
