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
        Value inner = (*chain.asList())[0];
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

TEST(ToRepr, QuotesOnlyStrings) {
    EXPECT_EQ(toRepr(str("a\nb")), "\"a\\nb\"");
    EXPECT_EQ(toRepr(str("")), "\"\"");
    EXPECT_EQ(toRepr(num(5)), "5");
    EXPECT_EQ(toRepr(Value::number(5.0)), "5.0");
    EXPECT_EQ(toRepr(Value::nil()), "nil");
    EXPECT_EQ(toRepr(Value::newList({str("x")})), "[\"x\"]");
}

TEST(ToString, NestedStringsKeepTheirEscapes) {
    Value inner = Value::newList({str("say \"hi\"\n")});
    Value outer = Value::newList({inner, str("tab\there")});
    EXPECT_EQ(toString(outer), "[[\"say \\\"hi\\\"\\n\"], \"tab\\there\"]");
}

TEST(ToString, SelfContainingListPrintsAPlaceholder) {
    Value l = Value::newList({num(1)});
    l.asList()->push_back(l);
    EXPECT_EQ(toString(l), "[1, [...]]");
    EXPECT_EQ(toRepr(l), "[1, [...]]");
    l.asList()->clear();  // break the cycle so the list is freed
}

TEST(ToString, IndirectCyclesStopAtTheRepeatedContainer) {
    Value l = Value::newList();
    Value m = mapOf({{str("list"), l}});
    l.asList()->push_back(m);
    EXPECT_EQ(toString(l), "[{\"list\": [...]}]");
    EXPECT_EQ(toString(m), "{\"list\": [{...}]}");
    l.asList()->clear();
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

}  // namespace
}  // namespace ferrow
