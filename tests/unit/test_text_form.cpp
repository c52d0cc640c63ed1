#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "compiler/FunctionProto.h"
#include "value/Function.h"
#include "value/TextForm.h"

namespace ferrow {
namespace {

const double kNan = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

Value str(const char* s) { return Value::string(s); }
Value num(int64_t i) { return Value::integer(i); }

Value mapOf(std::initializer_list<std::pair<Value, Value>> entries) {
    Value m = Value::newMap();
    for (const auto& [k, v] : entries) m.asMap()->set(k, v);
    return m;
}

// Takes a deeply nested chain of one-element lists apart from the outside in,
// so that no destructor has to recurse through the whole chain.
void dismantle(Value chain) {
    while (chain.isList() && !chain.asList()->empty()) {
        Value inner = chain.asList()->front();
        chain.asList()->clear();
        chain = inner;
    }
}

TEST(FormatNumber, ExamplesOfTheLanguage) {
    EXPECT_EQ(formatNumber(3.0), "3.0");
    EXPECT_EQ(formatNumber(0.5), "0.5");
    EXPECT_EQ(formatNumber(-0.0), "-0.0");
    EXPECT_EQ(formatNumber(10000.0), "10000.0");
    EXPECT_EQ(formatNumber(100000.0), "1e+05");
    EXPECT_EQ(formatNumber(123456.0), "123456.0");
    EXPECT_EQ(formatNumber(1e21), "1e+21");
    EXPECT_EQ(formatNumber(1e-7), "1e-07");
    EXPECT_EQ(formatNumber(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(formatNumber(2.5e-3), "0.0025");
    EXPECT_EQ(formatNumber(1e16), "1e+16");
    EXPECT_EQ(formatNumber(123456789.0), "123456789.0");
    EXPECT_EQ(formatNumber(1.5), "1.5");
}

TEST(FormatNumber, SpecialValues) {
    EXPECT_EQ(formatNumber(kInf), "inf");
    EXPECT_EQ(formatNumber(-kInf), "-inf");
    EXPECT_EQ(formatNumber(kNan), "nan");
    EXPECT_EQ(formatNumber(-kNan), "nan");
    EXPECT_EQ(formatNumber(std::nan("123")), "nan");
}

TEST(FormatNumber, MoreValues) {
    EXPECT_EQ(formatNumber(0.0), "0.0");
    EXPECT_EQ(formatNumber(-2.0), "-2.0");
    EXPECT_EQ(formatNumber(0.1), "0.1");
    EXPECT_EQ(formatNumber(-1.25), "-1.25");
    EXPECT_EQ(formatNumber(1e100), "1e+100");
    EXPECT_EQ(formatNumber(1.5e300), "1.5e+300");
    EXPECT_EQ(formatNumber(5e-324), "5e-324");
    EXPECT_EQ(formatNumber(std::numeric_limits<double>::max()), "1.7976931348623157e+308");
    EXPECT_EQ(formatNumber(9007199254740993.0), "9007199254740992.0");
    EXPECT_EQ(formatNumber(1e15), "1e+15");
    EXPECT_EQ(formatNumber(1234567890123456.0), "1234567890123456.0");
    EXPECT_EQ(formatNumber(0.001), "0.001");
    EXPECT_EQ(formatNumber(0.0001), "1e-04");  // shorter than 0.0001
    EXPECT_EQ(formatNumber(1.0 / 3.0), "0.3333333333333333");
}

TEST(FormatNumber, ReadsBackUnchanged) {
    for (double d : {0.1, 1.0 / 3.0, 2.0 / 7.0, 1e-300, 6.02214076e23, 123.456, -98765.4321}) {
        EXPECT_EQ(std::strtod(formatNumber(d).c_str(), nullptr), d) << formatNumber(d);
    }
}

TEST(QuoteString, EscapesTheFiveSpecialBytes) {
    EXPECT_EQ(quoteString(""), "\"\"");
    EXPECT_EQ(quoteString("plain"), "\"plain\"");
    EXPECT_EQ(quoteString("a\tb"), "\"a\\tb\"");
    EXPECT_EQ(quoteString("a\nb"), "\"a\\nb\"");
    EXPECT_EQ(quoteString("a\rb"), "\"a\\rb\"");
    EXPECT_EQ(quoteString("say \"hi\""), "\"say \\\"hi\\\"\"");
    EXPECT_EQ(quoteString("back\\slash"), "\"back\\\\slash\"");
}

TEST(QuoteString, CopiesOtherBytesUnchanged) {
    EXPECT_EQ(quoteString("\x01\x1b\x7f"), "\"\x01\x1b\x7f\"");
    EXPECT_EQ(quoteString("h\xc3\xa9llo"), "\"h\xc3\xa9llo\"");
    EXPECT_EQ(quoteString(std::string("a\0b", 3)), std::string("\"a\0b\"", 5));
    EXPECT_EQ(quoteString("\v\f\b"), "\"\v\f\b\"");
}

TEST(ToString, Scalars) {
    EXPECT_EQ(toString(Value::nil()), "nil");
    EXPECT_EQ(toString(Value::boolean(true)), "true");
    EXPECT_EQ(toString(Value::boolean(false)), "false");
    EXPECT_EQ(toString(num(0)), "0");
    EXPECT_EQ(toString(num(-42)), "-42");
    EXPECT_EQ(toString(num(INT64_MIN)), "-9223372036854775808");
    EXPECT_EQ(toString(num(INT64_MAX)), "9223372036854775807");
    EXPECT_EQ(toString(Value::number(2.0)), "2.0");
    EXPECT_EQ(toString(Value::number(-kInf)), "-inf");
}

TEST(ToString, StringsAreUnquotedAtTheTop) {
    EXPECT_EQ(toString(str("a\nb")), "a\nb");
    EXPECT_EQ(toString(str("\"q\"")), "\"q\"");
    EXPECT_EQ(toString(str("")), "");
}

TEST(ToRepr, QuotesOnlyStrings) {
    EXPECT_EQ(toRepr(str("a\nb")), "\"a\\nb\"");
    EXPECT_EQ(toRepr(str("")), "\"\"");
    EXPECT_EQ(toRepr(num(5)), "5");
    EXPECT_EQ(toRepr(Value::number(5.0)), "5.0");
    EXPECT_EQ(toRepr(Value::nil()), "nil");
    EXPECT_EQ(toRepr(Value::newList({str("x")})), "[\"x\"]");
}

TEST(ToString, Lists) {
    EXPECT_EQ(toString(Value::newList()), "[]");
    Value l = Value::newList({str("a"), num(1), Value::number(1.0), Value::nil(), Value::boolean(true)});
    EXPECT_EQ(toString(l), "[\"a\", 1, 1.0, nil, true]");
    EXPECT_EQ(toString(Value::newList({Value::newList({str("x")})})), "[[\"x\"]]");
    EXPECT_EQ(toString(Value::newList({str("1")})), "[\"1\"]");
    EXPECT_EQ(toString(Value::newList({num(1)})), "[1]");
    EXPECT_EQ(toString(Value::newList({Value::newList(), Value::newMap()})), "[[], {}]");
}

TEST(ToString, NestedStringsKeepTheirEscapes) {
    Value inner = Value::newList({str("say \"hi\"\n")});
    Value outer = Value::newList({inner, str("tab\there")});
    EXPECT_EQ(toString(outer), "[[\"say \\\"hi\\\"\\n\"], \"tab\\there\"]");
}

TEST(ToString, MapsInInsertionOrder) {
    EXPECT_EQ(toString(Value::newMap()), "{}");
    EXPECT_EQ(toString(mapOf({{str("a"), num(1)}, {str("b"), num(2)}})), "{\"a\": 1, \"b\": 2}");
    EXPECT_EQ(toString(mapOf({{str("b"), num(2)}, {str("a"), num(1)}})), "{\"b\": 2, \"a\": 1}");
    EXPECT_EQ(toString(mapOf({{num(1), str("x")}})), "{1: \"x\"}");
    EXPECT_EQ(toString(mapOf({{Value::number(1.5), Value::newList({str("y")})}})), "{1.5: [\"y\"]}");
    Value nested = mapOf({{str("m"), mapOf({{str("k\""), str("v")}})}});
    EXPECT_EQ(toString(nested), "{\"m\": {\"k\\\"\": \"v\"}}");
}

TEST(ToString, Functions) {
    auto f = std::make_shared<FunctionObj>();
    f->name = "square";
    EXPECT_EQ(toString(Value::function(f)), "<function square>");
    auto anon = std::make_shared<FunctionObj>();
    anon->name = "<anonymous>";
    EXPECT_EQ(toString(Value::function(anon)), "<function <anonymous>>");

    auto n = std::make_shared<NativeObj>();
    n->name = "len";
    EXPECT_EQ(toString(Value::native(n)), "<native function len>");

    auto c = std::make_shared<VMClosure>();
    c->proto = std::make_shared<FunctionProto>();
    c->proto->name = "fib";
    EXPECT_EQ(toString(Value::closure(c)), "<function fib>");
    EXPECT_EQ(toRepr(Value::closure(c)), "<function fib>");
    EXPECT_EQ(toString(Value::newList({Value::native(n)})), "[<native function len>]");
}

TEST(ToString, SelfContainingListPrintsAPlaceholder) {
    Value l = Value::newList({num(1)});
    l.asList()->push_back(l);
    EXPECT_EQ(toString(l), "[1, [...]]");
    EXPECT_EQ(toRepr(l), "[1, [...]]");
    l.asList()->clear();  // break the cycle so the list is freed
}

TEST(ToString, SelfContainingMapPrintsAPlaceholder) {
    Value m = Value::newMap();
    m.asMap()->set(str("self"), m);
    m.asMap()->set(str("n"), num(2));
    EXPECT_EQ(toString(m), "{\"self\": {...}, \"n\": 2}");
    m.asMap()->entries.clear();
}

TEST(ToString, IndirectCyclesStopAtTheRepeatedContainer) {
    Value l = Value::newList();
    Value m = mapOf({{str("list"), l}});
    l.asList()->push_back(m);
    EXPECT_EQ(toString(l), "[{\"list\": [...]}]");
    EXPECT_EQ(toString(m), "{\"list\": [{...}]}");
    l.asList()->clear();
}

TEST(ToString, SharedButAcyclicContainersPrintInFull) {
    Value shared = Value::newList({num(1)});
    Value outer = Value::newList({shared, shared, Value::newList({shared})});
    EXPECT_EQ(toString(outer), "[[1], [1], [[1]]]");
    Value m = mapOf({{str("a"), shared}, {str("b"), shared}});
    EXPECT_EQ(toString(m), "{\"a\": [1], \"b\": [1]}");
}

TEST(ToString, DeeplyNestedListPrintsCompletely) {
    constexpr int kDepth = 100000;
    Value l = Value::newList();
    for (int i = 0; i < kDepth; ++i) l = Value::newList({l});
    const std::string text = toString(l);
    EXPECT_EQ(text.size(), 2u * (kDepth + 1));
    EXPECT_EQ(text, std::string(kDepth + 1, '[') + std::string(kDepth + 1, ']'));
    dismantle(l);
}

TEST(ToString, DeeplyNestedMapsPrintCompletely) {
    constexpr int kDepth = 100000;
    Value m = Value::newMap();
    for (int i = 0; i < kDepth; ++i) m = mapOf({{num(0), m}});
    const std::string text = toString(m);
    EXPECT_EQ(text.size(), 5u * kDepth + 2);
    EXPECT_EQ(text.substr(0, 10), "{0: {0: {0");
    EXPECT_EQ(text.substr(text.size() - 4), "}}}}");
    while (m.isMap() && m.asMap()->size() > 0) {
        Value inner = m.asMap()->entries.front().second;
        m.asMap()->entries.clear();
        m = inner;
    }
}

}  // namespace
}  // namespace ferrow
