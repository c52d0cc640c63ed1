// Values, their text forms and the heap: the cycle collector, the heap limit and freeing deep structures.

#include <limits>
#include <new>

#include "unit_support.h"
#include "value/Environment.h"
#include "value/Function.h"
#include "value/TextForm.h"
#include "value/Value.h"

using namespace ferrow;
using namespace ferrow::test;

namespace {

Heap& heap() { return Heap::current(); }

std::size_t settledCount() { return heap().collect(), heap().trackedCount(); }  // live containers once cycles go

const Value& at(const Value& list, std::size_t i) { return (*list.asList())[i]; }
const Value& field(const Value& map, const char* key) { return *map.asMap()->find(Value::string(key)); }
void setField(const Value& map, const char* key, const Value& v) { map.asMap()->set(Value::string(key), v); }

// build's `containers` containers all go with its result, the one outside reference; intact: the structure is whole.
struct CycleCase { const char* name; std::size_t containers; Value (*build)(); bool (*intact)(const Value&); };

const CycleCase kCycles[] = {
    {"list holding itself", 1, [] { Value l = Value::newList(); return l.asList()->push_back(l), l; },
     [](const Value& l) { return at(l, 0).asObject() == l.asObject(); }},
    {"map holding itself", 1, [] { Value m = Value::newMap(); return setField(m, "self", m), m; },
     [](const Value& m) { return field(m, "self").asObject() == m.asObject(); }},
    {"two lists holding each other", 2,
     [] { Value a = Value::newList(), b = Value::newList({a}); return a.asList()->push_back(b), a; },
     [](const Value& a) { return at(at(a, 0), 0).asObject() == a.asObject(); }},
    // Held through the middle of a ring list -> map -> list, with a list off the ring that only the ring reaches.
    {"ring held in the middle, with a tail", 4, [] {
         Value first = Value::newList(), middle = Value::newMap(), last = Value::newList({first});
         first.asList()->push_back(middle), setField(middle, "next", last);
         return setField(middle, "tail", Value::newList({Value::integer(7), Value::string("tail")})), middle;
     }, [](const Value& m) {
         const Value& tail = field(m, "tail");
         return at(at(field(m, "next"), 0), 0).asObject() == m.asObject() && at(tail, 0).asInteger() == 7 &&
                at(tail, 1).asString() == "tail";
     }},
    {"tree function bound in its own scope", 2, [] {
         Ref<Environment> scope = Environment::child({});
         FunctionObj* f = newContainer<FunctionObj>();
         return f->closure = scope, scope->define("f", Value::function(f)), Value::function(f);
     }, [](const Value& f) { return f.asTreeFunction()->closure->lookup("f")->asObject() == f.asObject(); }},
    {"VM closure that captured itself", 2, [] {
         VMClosure* c = newContainer<VMClosure>();
         Ref<Upvalue> up(newContainer<Upvalue>());
         up->closed = Value::closure(c), up->location = &up->closed;
         return c->upvalues.push_back(up), Value::closure(c);
     }, [](const Value& c) { return c.asClosure()->upvalues.at(0)->location->asObject() == c.asObject(); }},
};

}  // namespace

TEST(Collector, FreesCyclesOnlyOnceNothingOutsideHoldsThem) {
    for (const CycleCase& c : kCycles) {
        SCOPED_TRACE(c.name);
        const std::size_t baseline = settledCount();
        Value held = c.build();
        ASSERT_EQ(heap().trackedCount(), baseline + c.containers);
        EXPECT_EQ(heap().collect(), 0u);
        EXPECT_TRUE(c.intact(held));
        // A garbage cycle that refers to a live list leaves the list whole.
        Value live = Value::newList({Value::integer(42)}), garbage = Value::newList({live});
        garbage.asList()->push_back(garbage), garbage = Value();
        EXPECT_EQ(heap().collect(), 1u);
        ASSERT_EQ(live.asList()->size(), 1u);
        EXPECT_EQ(at(live, 0).asInteger(), 42);
        EXPECT_TRUE(c.intact(held));
        live = held = Value();  // counting alone cannot free a cycle; the collector frees all of it
        EXPECT_EQ(heap().trackedCount(), baseline + c.containers);
        EXPECT_EQ(heap().collect(), c.containers);
        EXPECT_EQ(heap().trackedCount(), baseline);
    }
}

// Programs on both engines leave nothing behind: under stress collection with their data intact, and past a heap limit.
TEST(Heap, ProgramsLeaveNothingBehind) {
    const std::pair<const char*, const char*> programs[] = {
        {"let kept = {}\nkept.self = kept\nlet i = 0\nwhile i < 200 do\n  let node = {}\n  node.self = node\n"
         "  node.n = i\n  i = i + 1\nend\nprint(i, kept.self.self == kept)\n", "200 true\n"},
        {"function f()\n  function g() return g end\n  return g\nend\nlet same = 0\nfor i = 1, 100 do\n  let h = f()\n"
         "  if h() == h then same = same + 1 end\nend\nfunction counter()\n  let n = 0\n  let obj = {}\n"
         "  obj.inc = function()\n    n = n + 1\n    obj.last = n\n    return n\n  end\n  return obj\nend\n"
         "let c = counter()\nfor i = 1, 50 do\n  counter().inc()\n  c.inc()\nend\nprint(same, c.inc(), c.last)\n",
         "100 51 51\n"},
        {"let keep = []\nfor i = 1, 100 do\n  let a = [i]\n  let b = [a]\n  push(a, b)\n"
         "  if i % 25 == 0 then push(keep, a) end\nend\nprint(len(keep), keep[0][0], keep[3][1][0][0])\n",
         "4 25 100\n"},
        {"let fs = []\nfor i = 1, 30 do\n  let box = {}\n  box.get = function() return box end\n  push(fs, box.get)\n"
         "end\nlet n = 0\nfor f in fs do\n  if f().get == f then n = n + 1 end\nend\nprint(n)\n", "30\n"},
        {"let caught = 0\nfor i = 1, 50 do\n  try\n    let e = {}\n    e.self = e\n    error(e)\n  catch err\n"
         "    if err.self == err then caught = caught + 1 end\n  end\nend\nprint(caught)\n", "50\n"},
        // Garbage cycles made inside callbacks of natives.
        {"let xs = []\nfor i = 1, 40 do push(xs, (i * 7) % 41) end\nlet sorted = sort(xs, function(a, b)\n"
         "  let junk = []\n  push(junk, junk)\n  return a < b\nend)\nlet doubled = map(function(x)\n  let m = {}\n"
         "  m.m = m\n  return x * 2\nend, xs)\nlet odd = filter(function(x)\n  let l = [x]\n  push(l, l)\n"
         "  return x % 2 == 1\nend, xs)\nlet sum = reduce(function(acc, x)\n  let e = {}\n"
         "  e.f = function() return e end\n  return acc + x\nend, xs, 0)\n"
         "print(sorted[0], sorted[39], len(doubled), doubled[0], len(odd), sum, len(xs), xs[0])\n",
         "1 40 40 14 20 820 40 7\n"},
        {"let s = \"x\"\nwhile true do\n  s = s + s\nend\n", nullptr},  // std::bad_alloc, every byte charged refunded
        {"let xs = []\nwhile true do\n  push(xs, copy(xs))\nend\n", nullptr},
    };
    for (const auto& [source, expected] : programs)
        for (Engine engine : {Engine::Tree, Engine::VM}) {
            SCOPED_TRACE(std::string(engineName(engine)) + ": " + source);
            const std::size_t baseline = settledCount(), bytes = heap().bytesInUse();
            heap().setStressCollection(expected != nullptr), heap().setLimit(expected ? 0 : 64 << 20);
            if (expected) EXPECT_EQ(run(engine, source), expected);
            else EXPECT_THROW(run(engine, source), std::bad_alloc);
            heap().setStressCollection(false), heap().setLimit(0);
            EXPECT_EQ(settledCount(), baseline);
            EXPECT_EQ(heap().bytesInUse(), bytes);
        }
}

TEST(Value, DeeplyNestedContainersAreFreedWithoutDeepRecursion) {
    onSmallStack([] {
        Value list = Value::newList(), map = Value::newMap();
        for (int i = 0; i < 2000000; ++i) {
            list = Value::newList({list});
            const Value outer = Value::newMap();
            map = (setField(outer, "m", map), outer);
        }
        list = map = Value();
    });
}

TEST(Value, ConversionAndNumberForms) {  // float to integer at the range's edges, number forms where exponents start
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::pair<double, int64_t> truncated[] = {
        {-3.9, -3}, {-nan, INT64_MIN}, {9223372036854775808.0, INT64_MIN}, {-1e19, INT64_MIN},
        {-9223372036854775808.0, INT64_MIN}, {9223372036854774784.0, 9223372036854774784}};
    for (const auto& [d, i] : truncated) EXPECT_EQ(truncateToInt64(d), i) << d;
    const std::pair<double, const char*> forms[] = {{123456.0, "123456.0"}, {1e21, "1e+21"}, {1e-7, "1e-07"},
                                                     {123456789.0, "123456789.0"}, {-nan, "nan"}};
    for (const auto& [d, text] : forms) EXPECT_EQ(formatNumber(d), text);
}
