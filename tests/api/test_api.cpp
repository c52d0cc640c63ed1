// The embedding interface, through its public header only, on both backends.
#include <gtest/gtest.h>

#include <ferrow/ferrow.h>

#include <stdexcept>
#include <string>
#include <vector>

using namespace ferrow::api;

namespace {
using Ints = std::vector<int64_t>;

class Api : public testing::TestWithParam<Backend> {
protected:
    Options options() { return {GetParam(), [this](std::string_view text) { out += text; }}; }
    std::string out;
};

INSTANTIATE_TEST_SUITE_P(Backends, Api, testing::Values(Backend::VM, Backend::TreeWalker),
                         [](const auto& info) { return info.param == Backend::VM ? "VM" : "TreeWalker"; });

TEST_P(Api, RunGivesTheTopLevelReturnAndPrintGoesToTheOutput) {
    Engine engine(options());
    Result r = engine.run("print(\"hi\", 1 + 2)\nreturn [1, 2.5, \"x\"]");
    ASSERT_TRUE(r) << r.error().text;
    EXPECT_EQ(out, "hi 3\n"); EXPECT_EQ(r.value().repr(), "[1, 2.5, \"x\"]");
    EXPECT_TRUE(engine.run("let unused = 1").value().isNil());
}

TEST_P(Api, ErrorsCarryKindPositionAndTheCommandLineText) {
    // The text starts with "KIND: MESSAGE" and then `tail`.
    struct Case { const char *source, *kind, *message; int line; const char* tail; };
    const Case cases[] = {
        {"let a = 1\nprint(x)", "RuntimeError", "undefined variable 'x'", 2, "\n  --> cfg.frw:2:"},
        {"let a = ", "SyntaxError", "unexpected end of file in expression", 1, "\n  --> cfg.frw:1:7\n1 | let a = \n"},
        {"error(\"boom\")", "Error", "boom", 0, ""},
        {"len(1, 2)", "RuntimeError", "len() expects 1 argument(s), got 2", 1, "\n  --> cfg.frw:1:"},
    };
    Engine engine(options());
    for (const Case& c : cases) {
        Result r = engine.run(c.source, "cfg.frw");
        ASSERT_FALSE(r) << c.source;
        EXPECT_EQ(r.error().kind, c.kind) << c.source; EXPECT_EQ(r.error().message, c.message) << c.source;
        EXPECT_EQ(r.error().line, c.line) << c.source;
        EXPECT_EQ(r.error().text.rfind(std::string(c.kind) + ": " + c.message + c.tail, 0), 0u) << r.error().text;
    }
    Result thrown = engine.run("error({code: 7})");
    EXPECT_EQ(thrown.error().thrown.toMap()->at("code").toInt(), 7);
    EXPECT_THROW(thrown.orThrow(), Exception); EXPECT_NO_THROW(engine.run("return 1").orThrow());
}

TEST_P(Api, GlobalsAndConversions) {
    using Limits = std::map<std::string, double>;
    Engine engine(options());
    engine.set("flag", true), engine.set("count", 41), engine.set("ratio", 0.5), engine.set("name", "ferrow");
    engine.set("sizes", Ints{1, 2, 3}), engine.set("limits", Limits{{"low", 1.5}, {"high", 9}});
    ASSERT_TRUE(engine.run("count += 1\nname = name + \"!\"\npush(sizes, len(name))\nlimits.mid = 5"));
    EXPECT_EQ(engine.get("flag")->to<bool>(), true); EXPECT_EQ(engine.get("count")->to<int64_t>(), 42);
    EXPECT_EQ(engine.get("ratio")->to<double>(), 0.5); EXPECT_EQ(engine.get("name")->to<std::string>(), "ferrow!");
    EXPECT_EQ(engine.get("sizes")->to<Ints>(), (Ints{1, 2, 3, 7}));
    EXPECT_EQ(engine.get("limits")->to<Limits>(), (Limits{{"low", 1.5}, {"high", 9}, {"mid", 5}}));
    EXPECT_FALSE(engine.get("missing").has_value());
    // Wrong kinds convert to nothing.
    EXPECT_FALSE(engine.get("name")->toInt()); EXPECT_FALSE(engine.get("count")->toString());
    EXPECT_EQ(engine.get("count")->toDouble(), 42.0);
    EXPECT_FALSE(engine.get("sizes")->to<std::vector<std::string>>());
    EXPECT_FALSE(engine.run("return {[1]: 2}").value().toMap());
    EXPECT_EQ(engine.get("len")->kind(), Value::Kind::Function); EXPECT_EQ(Value().typeName(), "nil");
}

TEST_P(Api, HostFunctionsAndTheirFailures) {
    Engine engine(options());
    engine.define("scale", [](Args& a) { return Value(a.number(0) * a.integer(1)); }, 2, 2);
    engine.define("shout", [](Args& a) { return Value(std::string(a.string(0)) + "!"); }, 1, 1);
    engine.define("refuse", [](Args& args) -> Value { args.fail("not today"); }, 0, 0);
    engine.define("throws", [](Args&) -> Value { throw std::runtime_error("disk full"); });
    engine.define("throws_int", [](Args&) -> Value { throw 42; });
    engine.define("count", [](Args& args) { return Value(args.size()); });
    EXPECT_EQ(engine.run("return scale(1.5, 4)").value().toDouble(), 6.0);
    EXPECT_EQ(engine.run("return shout(\"hey\")").value().toString(), "hey!");
    EXPECT_EQ(engine.run("return count(1, nil, 3)").value().toInt(), 3);
    const std::pair<const char*, const char*> failures[] = {
        {"scale(\"2\", 1)", "scale: expected a number, got string"},
        {"scale(1)", "scale() expects 2 argument(s), got 1"},
        {"shout([])", "shout: expected a string, got list"}, {"refuse()", "refuse: not today"},
        {"throws()", "throws: disk full"}, {"throws_int()", "throws_int: unknown C++ exception"}};
    for (const auto& [source, message] : failures) {
        Result r = engine.run(source);
        ASSERT_FALSE(r) << source;
        EXPECT_EQ(r.error().kind, "RuntimeError"); EXPECT_EQ(r.error().message, message);
    }
    // Scripts catch them like any native's failure.
    ASSERT_TRUE(engine.run("try\n throws()\ncatch e\n print(\"caught: \" + e)\nend"));
    EXPECT_EQ(out, "caught: throws: disk full\n");
    EXPECT_EQ(engine.define("bad", [](Args&) { return Value(); }, 2, 1).error().kind, "UsageError");
    EXPECT_FALSE(engine.define("none", nullptr)); EXPECT_FALSE(engine.get("bad").has_value());
}

TEST_P(Api, ScriptFunctionsCalledFromTheHost) {
    Engine engine(options());
    ASSERT_TRUE(engine.run("\nlet total = 0\nfunction add(n)\n  total += n\n  return total\nend\n"
                           "function fail(why) error(\"failed: \" + why) end\nfunction crash() return nil + 1 end\n",
                           "lib.frw").ok());
    EXPECT_EQ(engine.call("add", {5}).value().toInt(), 5);
    EXPECT_EQ(engine.call(*engine.get("add"), {Value(2)}).value().toInt(), 7);
    EXPECT_EQ(engine.call("fail", {"no"}).error().text, "Error: failed: no");
    Result crash = engine.call("crash");
    EXPECT_EQ(crash.error().kind, "RuntimeError"); EXPECT_EQ(crash.error().line, 8);
    EXPECT_NE(crash.error().text.find("--> lib.frw:8"), std::string::npos) << crash.error().text;
    // The engine is whole again after each failure, and misuse is an error, never a crash.
    EXPECT_EQ(engine.call("add", {1}).value().toInt(), 8);
    EXPECT_EQ(engine.call("nowhere").error().kind, "UsageError");
    EXPECT_EQ(engine.call(Value(3)).error().message, "call: expected a function, got number");
    EXPECT_EQ(engine.call("add", {}).error().kind, "RuntimeError");
}

TEST_P(Api, HostFunctionsCallBackIntoScripts) {
    Engine engine(options());
    engine.define("each", [](Args& args) {
        Value callback = args.function(1); std::vector<Value> results;
        for (const Value& item : args.list(0)) {
            Result r = args.engine().call(callback, {item});
            if (!r) args.fail("callback failed: " + r.error().message);
            results.push_back(r.value());
        }
        return Value(results);
    }, 2, 2);
    Result r = engine.run("return each([1, 2, 3], function(x) return x * 10 end)");
    ASSERT_TRUE(r) << r.error().text;
    EXPECT_EQ(r.value().to<Ints>(), (Ints{10, 20, 30}));
    Result failed = engine.run("each([1, \"a\"], function(x) return x + 1 end)");
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().message.rfind("each: callback failed: ", 0), 0u) << failed.error().message;
}

TEST_P(Api, ExitEndsTheRunWithAStatusAndTheEngineGoesOn) {
    Engine engine(options());
    Result r = engine.run("print(1)\ntry exit(3) catch e print(e) end\nprint(2)");
    ASSERT_TRUE(r) << r.error().text;
    EXPECT_EQ(r.exitStatus(), 3); EXPECT_EQ(out, "1\n");
    EXPECT_EQ(engine.run("return 5").exitStatus(), std::nullopt);
    // From a callback in a host function: the host sees the status, and the calling run ends once it returns.
    std::optional<int> seen;
    engine.define("each", [&seen](Args& args) {
        for (const Value& item : args.list(0)) seen = args.engine().call(args.function(1), {item}).exitStatus();
        return Value();
    }, 2, 2);
    r = engine.run("each([1, 2], function(x)\nprint(x)\nexit(x + 40)\nend)\nprint(\"after\")");
    EXPECT_TRUE(r) << r.error().text;
    EXPECT_EQ(r.exitStatus(), 42); EXPECT_EQ(seen, 42); EXPECT_EQ(out, "1\n1\n2\n");
}

TEST_P(Api, ValuesKeptAcrossRuns) {
    Engine engine(options());
    Value list = engine.run("let xs = [1]\nreturn xs").value();
    Value make = engine.run("return function(n) return function() return n end end").value();
    Value cycle = engine.run("let m = {}\nm.self = m\nm.tag = \"kept\"\nreturn m").value();
    ASSERT_TRUE(engine.run("xs = nil\nm = nil\nlet junk = []\nfor i = 1, 2000 do push(junk, {}) end"));
    Value closure = engine.call(make, {"inner"}).value();
    ASSERT_TRUE(engine.run("let other = [[1], [2], [3]]"));
    EXPECT_EQ(list.repr(), "[1]"); EXPECT_EQ(engine.call(closure).value().toString(), "inner");
    EXPECT_EQ(cycle.toMap()->at("self").toMap()->at("tag").toString(), "kept");
    engine.set("xs", list); ASSERT_TRUE(engine.run("push(xs, 2)"));
    EXPECT_EQ(list.to<Ints>(), (Ints{1, 2}));
    EXPECT_TRUE(list == *engine.get("xs"));
}

TEST_P(Api, StepBudgetStopsEndlessScripts) {
    Engine engine(options()); engine.setStepBudget(1000);
    for (const char* source : {"while true do end", "try\n while true do end\ncatch e end\nwhile true do end",
                               "function f() return f() + 1 end\nf()"}) {
        Result r = engine.run(source);
        ASSERT_FALSE(r) << source;
        EXPECT_NE(r.error().message.find("execution budget exhausted"), std::string::npos) << r.error().message;
    }
    // Each run starts with the whole budget.
    EXPECT_EQ(engine.run("let n = 0\nfor i = 1, 100 do n += i end\nreturn n").value().toInt(), 5050);
    ASSERT_TRUE(engine.run("function spin() while true do end end"));
    EXPECT_FALSE(engine.call("spin"));
}

TEST_P(Api, EnginesSideBySideAreIndependent) {
    std::string outA, outB;
    Engine first(Options{GetParam(), [&](std::string_view t) { outA += t; }});
    Engine second(Options{GetParam() == Backend::VM ? Backend::TreeWalker : Backend::VM,
                          [&](std::string_view t) { outB += t; }});
    first.define("who", [](Args&) { return Value("first"); });
    ASSERT_TRUE(first.run("let x = 1\nfunction f() return x end\nprint(who())"));
    ASSERT_TRUE(second.run("let x = 2\nprint(x)"));
    EXPECT_EQ(outA, "first\n"); EXPECT_EQ(outB, "2\n");
    EXPECT_EQ(first.get("x")->toInt(), 1); EXPECT_EQ(second.get("x")->toInt(), 2);
    EXPECT_FALSE(second.get("who").has_value());
    second.set("who", *first.get("who"));  // functions belong to the engine that made them
    EXPECT_EQ(second.run("who()").error().message, "who: defined by another engine");
    EXPECT_EQ(second.call(*first.get("f")).error().kind, "UsageError");
}

TEST(ApiEngines, ATreeWalkersFunctionStaysWithItsEngine) {
    Options tree{Backend::TreeWalker, {}};
    Value stale;
    { Engine gone(tree); stale = gone.run("return [function() return 1 end]").value(); }
    Engine engine(tree); engine.define("give", [&](Args&) { return stale; });
    EXPECT_EQ(engine.set("fs", stale).error().kind, "UsageError"); EXPECT_FALSE(engine.get("fs").has_value());
    EXPECT_EQ(engine.call("len", {stale}).error().kind, "UsageError");
    EXPECT_EQ(engine.run("give()").error().message, "give: returned another engine's function");
    EXPECT_EQ(engine.call(stale.toList()->at(0)).error().kind, "UsageError");
    EXPECT_TRUE(engine.set("ok", engine.run("return [function() return 2 end]").value()));
    EXPECT_EQ(engine.run("return ok[0]()").value().toInt(), 2);
}

TEST(ApiEngines, AVMFunctionStaysWithItsEngine) {
    // A function another VM ran carries its code: calling it here is an error, also once that engine is gone.
    const std::string message = "g() belongs to another engine and cannot run here";
    Engine engine;
    {
        Engine gone;
        ASSERT_TRUE(gone.run("function g() return 1 end\ng()"));
        ASSERT_TRUE(engine.set("g", *gone.get("g")));
        EXPECT_EQ(engine.run("g()").error().message, message);
    }
    EXPECT_EQ(engine.run("g()").error().message, message);
    EXPECT_EQ(engine.run("return len([1])").value().toInt(), 1);
}

TEST_P(Api, DeepRecursionIsAnErrorOnTheHostsStack) {
    Engine engine(options());
    Result r = engine.run("function f(n) return f(n + 1) + 1 end\nf(0)");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind, "RuntimeError");
    EXPECT_NE(r.error().message.find("overflow"), std::string::npos) << r.error().message;
    EXPECT_EQ(engine.run("return 2").value().toInt(), 2);
}

TEST(ApiValue, ConversionsFromCpp) {
    struct Case { Value value; Value::Kind kind; const char* repr; };
    const Case cases[] = {
        {Value(), Value::Kind::Nil, "nil"}, {Value(false), Value::Kind::Bool, "false"},
        {Value(uint8_t{7}), Value::Kind::Integer, "7"}, {Value(int64_t{-5}), Value::Kind::Integer, "-5"},
        {Value(2.5), Value::Kind::Float, "2.5"}, {Value("a\"b"), Value::Kind::String, "\"a\\\"b\""},
        {Value(std::vector<std::string>{"x"}), Value::Kind::List, "[\"x\"]"},
        {Value(std::map<std::string, Value>{{"k", Value(nullptr)}}), Value::Kind::Map, "{\"k\": nil}"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.value.kind(), c.kind) << c.repr; EXPECT_EQ(c.value.repr(), c.repr);
        EXPECT_TRUE(c.value == Value(c.value));
    }
    EXPECT_EQ(Value("text").display(), "text"); EXPECT_TRUE(Value(1) == Value(1.0));
    EXPECT_FALSE(Value(std::vector<int>{1}) == Value(std::vector<int>{1}));  // lists by identity
}

TEST_P(Api, OutputFailuresAreScriptErrors) {
    Engine engine(Options{GetParam(), [](std::string_view) { throw std::runtime_error("pipe closed"); }});
    Result r = engine.run("print(1)");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message, "output failed: pipe closed");
}

}  // namespace
