#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "driver/Errors.h"
#include "interp/Operators.h"

namespace ferrow {
namespace {

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

const OpSite kSite{3, 7, false};
const OpSite kVmSite{9, 0, true};

Value op(const char* text, const Value& a, const Value& b, const OpSite& site = kSite) {
    return binaryOp(*binOpFromText(text), a, b, site);
}

// The message of the RuntimeError that `fn` raises; fails the test when none.
template <typename Fn>
std::string errorOf(Fn fn, int32_t* line = nullptr, int32_t* column = nullptr) {
    try {
        fn();
    } catch (const RuntimeError& e) {
        if (line) *line = e.line;
        if (column) *column = e.column;
        return e.message;
    }
    ADD_FAILURE() << "no error raised";
    return "";
}

Value I(int64_t i) { return Value::integer(i); }
Value F(double d) { return Value::number(d); }
Value S(const char* s) { return Value::string(s); }

TEST(Operators, OperatorTextRoundTrips) {
    for (const char* text :
         {"+", "-", "*", "/", "//", "%", "^", "==", "!=", "<", "<=", ">", ">=", "and", "or"}) {
        auto parsed = binOpFromText(text);
        ASSERT_TRUE(parsed.has_value()) << text;
        EXPECT_STREQ(binOpText(*parsed), text);
    }
    EXPECT_FALSE(binOpFromText("not").has_value());
    EXPECT_FALSE(binOpFromText("").has_value());
    EXPECT_FALSE(binOpFromText("=").has_value());
}

TEST(Operators, IntegerArithmeticWraps) {
    EXPECT_EQ(op("+", I(kMax), I(1)).asInteger(), kMin);
    EXPECT_EQ(op("-", I(kMin), I(1)).asInteger(), kMax);
    EXPECT_EQ(op("*", I(kMax), I(2)).asInteger(), -2);
    EXPECT_EQ(negate(I(kMin), kSite).asInteger(), kMin);
    EXPECT_EQ(op("^", I(2), I(64)).asInteger(), 0);
    EXPECT_EQ(op("^", I(3), I(3)).asInteger(), 27);
    EXPECT_EQ(op("^", I(0), I(0)).asInteger(), 1);
}

TEST(Operators, SmallestIntegerByMinusOne) {
    EXPECT_EQ(op("//", I(kMin), I(-1)).asInteger(), kMin);
    EXPECT_EQ(op("%", I(kMin), I(-1)).asInteger(), 0);
    EXPECT_EQ(op("//", I(7), I(-1)).asInteger(), -7);
    EXPECT_EQ(op("%", I(7), I(-1)).asInteger(), 0);
}

TEST(Operators, DivisionFamilies) {
    EXPECT_DOUBLE_EQ(op("/", I(7), I(2)).asFloat(), 3.5);
    EXPECT_TRUE(op("/", I(6), I(3)).isFloat());
    EXPECT_EQ(op("//", I(7), I(2)).asInteger(), 3);
    EXPECT_EQ(op("//", I(-7), I(2)).asInteger(), -4);
    EXPECT_EQ(op("//", I(7), I(-2)).asInteger(), -4);
    EXPECT_EQ(op("//", I(-8), I(2)).asInteger(), -4);
    EXPECT_DOUBLE_EQ(op("//", F(7.0), I(2)).asFloat(), 3.0);
    EXPECT_EQ(op("%", I(-7), I(3)).asInteger(), -1);
    EXPECT_EQ(op("%", I(7), I(-3)).asInteger(), 1);
    EXPECT_DOUBLE_EQ(op("%", F(7.5), I(2)).asFloat(), 1.5);
    EXPECT_DOUBLE_EQ(op("%", F(-7.5), I(2)).asFloat(), -1.5);
    EXPECT_DOUBLE_EQ(op("^", I(2), I(-1)).asFloat(), 0.5);
    EXPECT_DOUBLE_EQ(op("^", F(2.0), I(3)).asFloat(), 8.0);
    EXPECT_EQ(errorOf([] { op("/", I(1), I(0)); }), "division by zero");
    EXPECT_EQ(errorOf([] { op("/", F(1.0), F(-0.0)); }), "division by zero");
    EXPECT_EQ(errorOf([] { op("//", I(5), I(0)); }), "floor division by zero");
    EXPECT_EQ(errorOf([] { op("//", F(5), F(0.0)); }), "floor division by zero");
    EXPECT_EQ(errorOf([] { op("%", I(5), I(0)); }), "modulo by zero");
    EXPECT_EQ(errorOf([] { op("%", F(5.0), F(0.0)); }), "modulo by zero");
}

TEST(Operators, AddJoinsStringsAndLists) {
    EXPECT_EQ(op("+", S("a"), S("b")).asString(), "ab");
    EXPECT_DOUBLE_EQ(op("+", I(1), F(2.5)).asFloat(), 3.5);
    Value left = Value::newList({I(1)});
    Value right = Value::newList({I(2)});
    Value joined = op("+", left, right);
    EXPECT_EQ(joined.asList()->size(), 2u);
    EXPECT_EQ(left.asList()->size(), 1u);
    EXPECT_NE(joined.asList(), left.asList());
    EXPECT_EQ(errorOf([] { op("+", S("n="), I(1)); }), "cannot add string and number");
    EXPECT_EQ(errorOf([] { op("+", Value(), I(1)); }), "cannot add nil and number");
}

TEST(Operators, NonNumberArithmeticWordingPerEngine) {
    int32_t line = 0, column = 0;
    EXPECT_EQ(errorOf([] { op("-", S("a"), S("b")); }, &line, &column),
              "operator '-' needs numbers, got string and string");
    EXPECT_EQ(line, 3);
    EXPECT_EQ(column, 7);
    EXPECT_EQ(errorOf([] { op("//", Value(), I(1), kVmSite); }, &line, &column),
              "arithmetic needs numbers, got nil and number");
    EXPECT_EQ(line, 9);
    EXPECT_EQ(column, 0);
    EXPECT_EQ(errorOf([] { op("+", S("a"), I(1), kVmSite); }), "cannot add string and number");
}

TEST(Operators, Comparisons) {
    auto cmp = [](const char* text, const Value& a, const Value& b) {
        return compareValues(*binOpFromText(text), a, b, kSite);
    };
    EXPECT_TRUE(cmp("<", S("abc"), S("abd")));
    EXPECT_TRUE(cmp("<", S("ab"), S("abc")));
    EXPECT_TRUE(cmp("<", S("Z"), S("a")));
    EXPECT_TRUE(cmp("<", S("a"), S("\xc3")));  // bytes compare unsigned
    EXPECT_TRUE(cmp("<=", S("a"), S("a")));
    EXPECT_FALSE(cmp(">", S("a"), S("a")));
    EXPECT_TRUE(cmp("<", I(1), F(1.5)));
    EXPECT_FALSE(cmp("<", F(NAN), I(1)));
    EXPECT_FALSE(cmp(">=", F(NAN), F(NAN)));
    EXPECT_EQ(errorOf([&] { cmp("<", I(1), S("2")); }), "cannot compare number and string");
    EXPECT_EQ(errorOf([&] { cmp("<", Value(), I(1)); }), "cannot compare nil and number");
}

TEST(Operators, Negation) {
    EXPECT_EQ(negate(I(5), kSite).asInteger(), -5);
    EXPECT_TRUE(std::signbit(negate(F(0.0), kSite).asFloat()));
    EXPECT_EQ(errorOf([] { negate(S("x"), kSite); }), "unary '-': expected a number, got string");
}

TEST(Operators, Indexing) {
    Value list = Value::newList({I(10), I(20), I(30)});
    EXPECT_EQ(indexValue(list, I(-1), kSite).asInteger(), 30);
    EXPECT_EQ(errorOf([&] { indexValue(list, I(3), kSite); }), "list index 3 out of range (len 3)");
    EXPECT_EQ(errorOf([&] { indexValue(list, I(-4), kSite); }),
              "list index -4 out of range (len 3)");
    EXPECT_EQ(errorOf([&] { indexValue(list, F(1.0), kSite); }),
              "list index must be an integer, got number");
    EXPECT_EQ(errorOf([&] { indexValue(list, S("a"), kSite); }),
              "list index must be an integer, got string");
    EXPECT_EQ(indexValue(S("hello"), I(1), kSite).asString(), "e");
    EXPECT_EQ(indexValue(S("hello"), I(-1), kSite).asString(), "o");
    EXPECT_EQ(errorOf([] { indexValue(S("hi"), I(2), kSite); }), "string index out of range");
    EXPECT_EQ(errorOf([] { indexValue(S("hi"), S("x"), kSite); }),
              "string index must be an integer, got string");
    Value map = Value::newMap();
    map.asMap()->set(I(1), S("x"));
    EXPECT_EQ(indexValue(map, F(1.0), kSite).asString(), "x");
    EXPECT_TRUE(indexValue(map, S("b"), kSite).isNil());
    EXPECT_EQ(errorOf([] { indexValue(I(5), I(0), kSite); }), "cannot index number");
    EXPECT_EQ(errorOf([] { indexValue(Value(), S("x"), kSite); }), "cannot index nil");
}

TEST(Operators, IndexAssignment) {
    Value list = Value::newList({I(1), I(2), I(3)});
    Value alias = list;
    setIndex(list, I(-1), I(9), kSite);
    EXPECT_EQ((*alias.asList())[2].asInteger(), 9);
    EXPECT_EQ(errorOf([&] { setIndex(list, I(5), I(1), kSite); }),
              "list index 5 out of range (len 3)");
    EXPECT_EQ(errorOf([&] { setIndex(list, F(0.0), I(1), kSite); }),
              "list index must be an integer, got number");
    Value map = Value::newMap();
    setIndex(map, S("k"), I(1), kSite);
    EXPECT_EQ(map.asMap()->size(), 1u);
    EXPECT_EQ(errorOf([&] { setIndex(map, Value::newList(), I(2), kSite); }),
              "map key must be a string or number, got list");
    EXPECT_EQ(errorOf([] { setIndex(S("abc"), I(0), S("x"), kSite); }),
              "cannot assign into string");
}

TEST(Operators, IterationSnapshots) {
    auto items = iterationItems(S("h\xc3\xa9"), kSite);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[1].asString(), "\xc3");
    Value map = Value::newMap();
    map.asMap()->set(S("b"), I(1));
    map.asMap()->set(S("a"), I(2));
    items = iterationItems(map, kSite);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].asString(), "b");
    EXPECT_EQ(errorOf([] { iterationItems(I(5), kSite); }), "cannot iterate over number");
    EXPECT_EQ(errorOf([] { iterationItems(Value(), kSite); }), "cannot iterate over nil");
}

}  // namespace
}  // namespace ferrow
