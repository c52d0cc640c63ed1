#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "value/Function.h"
#include "value/Value.h"

namespace ferrow {
namespace {

Value nativeFunction() {
    Value v = Value::native(new NativeObj());
    v.asNative()->name = "len";
    return v;
}

// The i-th live entry of a map, in insertion order.
std::pair<Value, Value> entryAt(const MapData& m, size_t i) {
    std::pair<Value, Value> found;
    size_t n = 0;
    m.forEach([&](const Value& key, const Value& value) {
        if (n++ == i) found = {key, value};
    });
    return found;
}

const double kNan = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

TEST(ValuesEqual, IntegerAndFloatMix) {
    EXPECT_TRUE(valuesEqual(Value::integer(1), Value::number(1.0)));
    EXPECT_TRUE(valuesEqual(Value::number(1.0), Value::integer(1)));
    EXPECT_FALSE(valuesEqual(Value::integer(1), Value::number(1.5)));
    EXPECT_TRUE(valuesEqual(Value::integer(-3), Value::integer(-3)));
    EXPECT_FALSE(valuesEqual(Value::integer(3), Value::integer(4)));
}

TEST(ValuesEqual, IntegersAreComparedAsDoubles) {
    const int64_t p53 = int64_t{1} << 53;
    EXPECT_TRUE(valuesEqual(Value::integer(p53 + 1), Value::integer(p53)));
    EXPECT_TRUE(valuesEqual(Value::integer(INT64_MAX), Value::integer(INT64_MAX - 1)));
    EXPECT_FALSE(valuesEqual(Value::integer(p53 + 2), Value::integer(p53)));
}

TEST(ValuesEqual, NanAndNegativeZero) {
    EXPECT_FALSE(valuesEqual(Value::number(kNan), Value::number(kNan)));
    EXPECT_FALSE(valuesEqual(Value::number(kNan), Value::integer(0)));
    EXPECT_TRUE(valuesEqual(Value::number(-0.0), Value::number(0.0)));
    EXPECT_TRUE(valuesEqual(Value::number(-0.0), Value::integer(0)));
    EXPECT_TRUE(valuesEqual(Value::number(kInf), Value::number(kInf)));
    EXPECT_FALSE(valuesEqual(Value::number(kInf), Value::number(-kInf)));
}

TEST(ValuesEqual, ListsAndMapsByIdentity) {
    Value a = Value::newList({Value::integer(1)});
    Value b = Value::newList({Value::integer(1)});
    Value a2 = a;
    EXPECT_TRUE(valuesEqual(a, a));
    EXPECT_TRUE(valuesEqual(a, a2));
    EXPECT_FALSE(valuesEqual(a, b));

    Value m = Value::newMap();
    Value n = Value::newMap();
    EXPECT_TRUE(valuesEqual(m, m));
    EXPECT_FALSE(valuesEqual(m, n));
    EXPECT_FALSE(valuesEqual(Value::newList(), Value::newMap()));
}

TEST(KeysEqual, ScalarsLikeValuesEqual) {
    EXPECT_TRUE(keysEqual(Value::integer(1), Value::number(1.0)));
    EXPECT_FALSE(keysEqual(Value::integer(1), Value::string("1")));
    EXPECT_TRUE(keysEqual(Value::string("k"), Value::string("k")));
    EXPECT_TRUE(keysEqual(Value::boolean(false), Value::boolean(false)));
    EXPECT_FALSE(keysEqual(Value::boolean(false), Value::nil()));
    EXPECT_TRUE(keysEqual(Value::nil(), Value::nil()));
    EXPECT_FALSE(keysEqual(Value::number(kNan), Value::number(kNan)));
    EXPECT_TRUE(keysEqual(Value::number(-0.0), Value::integer(0)));
}

TEST(KeysEqual, ContainersAndFunctionsNeverMatch) {
    Value l = Value::newList();
    Value m = Value::newMap();
    Value f = nativeFunction();
    EXPECT_FALSE(keysEqual(l, l));
    EXPECT_FALSE(keysEqual(m, m));
    EXPECT_FALSE(keysEqual(f, f));
}

TEST(MapData, KeepsInsertionOrder) {
    MapData m;
    m.set(Value::string("b"), Value::integer(1));
    m.set(Value::string("a"), Value::integer(2));
    m.set(Value::integer(3), Value::integer(3));
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(entryAt(m, 0).first.asString(), "b");
    EXPECT_EQ(entryAt(m, 1).first.asString(), "a");
    EXPECT_EQ(entryAt(m, 2).first.asInteger(), 3);
}

TEST(MapData, FindUsesKeyEquality) {
    MapData m;
    m.set(Value::integer(1), Value::string("one"));
    m.set(Value::string("1"), Value::string("text"));
    ASSERT_NE(m.find(Value::number(1.0)), nullptr);
    EXPECT_EQ(m.find(Value::number(1.0))->asString(), "one");
    EXPECT_EQ(m.find(Value::string("1"))->asString(), "text");
    EXPECT_EQ(m.find(Value::integer(2)), nullptr);
    EXPECT_EQ(m.find(Value::boolean(true)), nullptr);
    const MapData& cm = m;
    ASSERT_NE(cm.find(Value::integer(1)), nullptr);
    EXPECT_EQ(cm.find(Value::integer(1))->asString(), "one");
    EXPECT_EQ(cm.find(Value::string("x")), nullptr);
}

TEST(MapData, ReplacingKeepsTheFirstKeyAndItsPosition) {
    MapData m;
    m.set(Value::integer(1), Value::string("first"));
    m.set(Value::string("x"), Value::string("other"));
    m.set(Value::number(1.0), Value::string("second"));
    ASSERT_EQ(m.size(), 2u);
    EXPECT_TRUE(entryAt(m, 0).first.isInteger());
    EXPECT_EQ(entryAt(m, 0).first.asInteger(), 1);
    EXPECT_EQ(entryAt(m, 0).second.asString(), "second");
    EXPECT_EQ(entryAt(m, 1).first.asString(), "x");
}

TEST(MapData, RemoveKeepsTheOrderOfTheRest) {
    MapData m;
    m.set(Value::string("a"), Value::integer(1));
    m.set(Value::string("b"), Value::integer(2));
    m.set(Value::string("c"), Value::integer(3));
    EXPECT_TRUE(m.remove(Value::string("b")));
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(entryAt(m, 0).first.asString(), "a");
    EXPECT_EQ(entryAt(m, 1).first.asString(), "c");
    EXPECT_FALSE(m.remove(Value::string("b")));
    EXPECT_FALSE(m.remove(Value::integer(1)));
    EXPECT_TRUE(m.remove(Value::string("a")));
    EXPECT_TRUE(m.remove(Value::string("c")));
    EXPECT_EQ(m.size(), 0u);
}

TEST(MapData, RemoveMatchesNumbersAcrossKinds) {
    MapData m;
    m.set(Value::number(2.0), Value::nil());
    EXPECT_TRUE(m.remove(Value::integer(2)));
    EXPECT_EQ(m.size(), 0u);
}

TEST(TruncateToInt64, RoundsTowardZero) {
    EXPECT_EQ(truncateToInt64(3.9), 3);
    EXPECT_EQ(truncateToInt64(-3.9), -3);
    EXPECT_EQ(truncateToInt64(-0.0), 0);
    EXPECT_EQ(truncateToInt64(0.5), 0);
    EXPECT_EQ(truncateToInt64(1e18), 1000000000000000000);
}

TEST(TruncateToInt64, OutOfRangeGivesTheSmallestInteger) {
    EXPECT_EQ(truncateToInt64(kNan), INT64_MIN);
    EXPECT_EQ(truncateToInt64(-kNan), INT64_MIN);
    EXPECT_EQ(truncateToInt64(kInf), INT64_MIN);
    EXPECT_EQ(truncateToInt64(-kInf), INT64_MIN);
    EXPECT_EQ(truncateToInt64(9223372036854775808.0), INT64_MIN);  // 2^63
    EXPECT_EQ(truncateToInt64(1e19), INT64_MIN);
    EXPECT_EQ(truncateToInt64(-1e19), INT64_MIN);
    EXPECT_EQ(truncateToInt64(-9223372036854775808.0), INT64_MIN);
    // The largest double below 2^63 still fits.
    EXPECT_EQ(truncateToInt64(9223372036854774784.0), 9223372036854774784);
}

}  // namespace
TEST(Value, DeeplyNestedContainersAreFreedWithoutDeepRecursion) {
    // Each level would cost several destructor frames; two million levels
    // would overflow any ordinary stack if freed recursively.
    Value list = Value::newList();
    Value map = Value::newMap();
    for (int i = 0; i < 2000000; ++i) {
        list = Value::newList({list});
        Value outer = Value::newMap();
        outer.asMap()->set(Value::string("m"), map);
        map = outer;
    }
    list = Value();
    map = Value();
    SUCCEED();
}

TEST(Value, SharedChildSurvivesItsParent) {
    Value child = Value::newList({Value::integer(7)});
    {
        Value parent = Value::newList({child, child});
    }
    ASSERT_TRUE(child.isList());
    EXPECT_EQ(child.asList()->size(), 1u);
    EXPECT_EQ((*child.asList())[0].asInteger(), 7);
}

}  // namespace ferrow
