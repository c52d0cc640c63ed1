// The collection, string and math natives, called directly. Callbacks run
// through a small Caller that invokes natives, so C++ lambdas stand in for
// script functions.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "driver/Errors.h"
#include "natives/NativeFunctions.h"
#include "value/Function.h"
#include "value/TextForm.h"
#include "value/Value.h"

using namespace ferrow;

namespace {

struct TestCaller : Caller {
    int calls = 0;
    Value call(const Value& callee, std::vector<Value> args) override {
        ++calls;
        if (!callee.isNative()) {
            throw RuntimeError(std::string(typeName(callee)) + " is not callable", 0, 0);
        }
        return callee.asNative()->fn(*this, args);
    }
};

Value fn(std::function<Value(std::vector<Value>&)> body) {
    auto native = std::make_shared<NativeObj>();
    native->name = "callback";
    native->fn = [body](Caller&, std::vector<Value>& args) { return body(args); };
    return Value::native(std::move(native));
}

Value I(int64_t i) { return Value::integer(i); }
Value F(double d) { return Value::number(d); }
Value S(const std::string& s) { return Value::string(s); }
Value B(bool b) { return Value::boolean(b); }
Value L(std::vector<Value> elements = {}) { return Value::newList(std::move(elements)); }
Value M(std::vector<std::pair<Value, Value>> entries) {
    Value m = Value::newMap();
    for (auto& [k, v] : entries) m.asMap()->set(k, v);
    return m;
}

using Native = Value (*)(Caller&, std::vector<Value>&);

Value run(Native native, std::vector<Value> args) {
    TestCaller caller;
    return native(caller, args);
}

// The quoted form shows kinds: 1 against 1.0, strings quoted, nesting.
std::string show(const Value& v) { return toRepr(v); }

std::string failure(Native native, std::vector<Value> args) {
    try {
        run(native, std::move(args));
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.line, 0);
        EXPECT_EQ(e.column, 0);
        return e.message;
    }
    return "<no error>";
}

const int64_t kMin = std::numeric_limits<int64_t>::min();
const int64_t kMax = std::numeric_limits<int64_t>::max();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

Value doubler() {
    return fn([](std::vector<Value>& a) { return I(a[0].asInteger() * 2); });
}
Value adder() {
    return fn([](std::vector<Value>& a) { return I(a[0].asInteger() + a[1].asInteger()); });
}

}  // namespace

// ---- push, pop ----

TEST(CollectionNatives, PushAppendsInPlaceAndReturnsTheSameList) {
    EXPECT_EQ(show(run(nativePush, {L(), I(1), I(2)})), "[1, 2]");
    Value a = L({I(1)});
    Value result = run(nativePush, {a, I(2)});
    EXPECT_EQ(show(a), "[1, 2]");
    EXPECT_TRUE(valuesEqual(result, a));
    EXPECT_TRUE(valuesEqual(run(nativePush, {a}), a));
    EXPECT_EQ(failure(nativePush, {I(5), I(1)}), "push: first argument must be a list, got number");
}

TEST(CollectionNatives, PopRemovesTheLastElement) {
    Value a = L({I(1), S("x")});
    EXPECT_EQ(show(run(nativePop, {a})), "\"x\"");
    EXPECT_EQ(show(a), "[1]");
    EXPECT_EQ(failure(nativePop, {L()}), "pop: list is empty");
    EXPECT_EQ(failure(nativePop, {S("a")}), "pop: expected a list, got string");
}

// ---- range ----

TEST(CollectionNatives, RangeIntegers) {
    EXPECT_EQ(show(run(nativeRange, {I(3)})), "[0, 1, 2]");
    EXPECT_EQ(show(run(nativeRange, {I(2), I(5)})), "[2, 3, 4]");
    EXPECT_EQ(show(run(nativeRange, {I(5), I(0), I(-2)})), "[5, 3, 1]");
    EXPECT_EQ(show(run(nativeRange, {I(3), I(1)})), "[]");
    EXPECT_EQ(show(run(nativeRange, {I(0)})), "[]");
    EXPECT_EQ(show(run(nativeRange, {I(5), I(5)})), "[]");
    EXPECT_EQ(show(run(nativeRange, {I(-3)})), "[]");
    EXPECT_EQ(show(run(nativeRange, {I(0), I(10), I(3)})), "[0, 3, 6, 9]");
    EXPECT_EQ(show(run(nativeRange, {I(0), I(-3), I(-1)})), "[0, -1, -2]");
}

TEST(CollectionNatives, RangeFloats) {
    EXPECT_EQ(show(run(nativeRange, {I(0), I(1), F(0.25)})), "[0.0, 0.25, 0.5, 0.75]");
    EXPECT_EQ(show(run(nativeRange, {F(1.5)})), "[0.0, 1.0]");
    EXPECT_EQ(show(run(nativeRange, {F(2.0)})), "[0.0, 1.0]");
    EXPECT_EQ(show(run(nativeRange, {F(3), I(1), I(-1)})), "[3.0, 2.0]");
    EXPECT_EQ(show(run(nativeRange, {F(kNaN)})), "[]");
    EXPECT_EQ(show(run(nativeRange, {I(0), I(3), F(kNaN)})), "[]");
}

TEST(CollectionNatives, RangeErrors) {
    EXPECT_EQ(failure(nativeRange, {I(1), I(2), I(0)}), "range: step cannot be 0");
    EXPECT_EQ(failure(nativeRange, {I(1), I(2), F(0.0)}), "range: step cannot be 0");
    EXPECT_EQ(failure(nativeRange, {S("3")}), "range: expected a number, got string");
    EXPECT_EQ(failure(nativeRange, {I(1), I(2), L()}), "range: expected a number, got list");
}

TEST(CollectionNatives, RangeIntegersStayExactBeyondDoublePrecision) {
    int64_t big = (int64_t{1} << 60) + 1;
    EXPECT_EQ(show(run(nativeRange, {I(big), I(big + 3)})),
              "[1152921504606846977, 1152921504606846978, 1152921504606846979]");
    EXPECT_EQ(show(run(nativeRange, {I(kMax - 1), I(kMax)})), "[9223372036854775806]");
    EXPECT_EQ(show(run(nativeRange, {I(kMin), I(kMin + 2)})),
              "[-9223372036854775808, -9223372036854775807]");
    EXPECT_EQ(show(run(nativeRange, {I(kMax), I(kMin), I(kMin)})), "[9223372036854775807, -1]");
}

TEST(CollectionNatives, RangeRefusesAbsurdSizesBeforeAllocating) {
    EXPECT_EQ(failure(nativeRange, {F(1e15)}), "range: result too large");
    EXPECT_EQ(failure(nativeRange, {I(1000000000000000)}), "range: result too large");
    EXPECT_EQ(failure(nativeRange, {I(kMin), I(kMax)}), "range: result too large");
    EXPECT_EQ(failure(nativeRange, {I(0), F(kInf)}), "range: result too large");
    EXPECT_EQ(failure(nativeRange, {F(-kInf), I(0)}), "range: result too large");
    EXPECT_EQ(failure(nativeRange, {I(0), I(1), F(1e-300)}), "range: result too large");
    // A step below the spacing of doubles would never advance.
    EXPECT_EQ(failure(nativeRange, {F(1e17), F(1e17 + 1000), I(1)}),
              "range: step too small to advance from 1e+17");
}

// ---- keys, values, items ----

TEST(CollectionNatives, MapViewsFollowEntryOrder) {
    Value m = M({{S("b"), I(1)}, {S("a"), I(2)}});
    EXPECT_EQ(show(run(nativeKeys, {m})), "[\"b\", \"a\"]");
    EXPECT_EQ(show(run(nativeValues, {m})), "[1, 2]");
    EXPECT_EQ(show(run(nativeItems, {M({{S("x"), I(1)}})})), "[[\"x\", 1]]");
    EXPECT_EQ(show(run(nativeItems, {Value::newMap()})), "[]");
    EXPECT_EQ(failure(nativeKeys, {L({I(1)})}), "keys: expected a map, got list");
    EXPECT_EQ(failure(nativeValues, {I(1)}), "values: expected a map, got number");
    EXPECT_EQ(failure(nativeItems, {I(1)}), "items: expected a map");
}

TEST(CollectionNatives, ItemsAndKeysShareContainersInside) {
    Value inner = L();
    Value m = M({{S("k"), inner}});
    Value values = run(nativeValues, {m});
    EXPECT_TRUE(valuesEqual(values.asList()->at(0), inner));
}

// ---- has / contains ----

TEST(CollectionNatives, Has) {
    EXPECT_TRUE(run(nativeHas, {M({{S("a"), I(1)}}), S("a")}).asBool());
    EXPECT_TRUE(run(nativeHas, {M({{I(1), S("x")}}), F(1.0)}).asBool());
    EXPECT_FALSE(run(nativeHas, {M({{I(1), S("x")}}), S("1")}).asBool());
    EXPECT_FALSE(run(nativeHas, {M({{I(1), S("x")}}), L()}).asBool());
    Value inner = L({I(2)});
    EXPECT_FALSE(run(nativeHas, {L({I(1), L({I(2)})}), L({I(2)})}).asBool());
    EXPECT_TRUE(run(nativeHas, {L({I(1), inner}), inner}).asBool());
    EXPECT_TRUE(run(nativeHas, {L({I(1)}), F(1.0)}).asBool());
    EXPECT_TRUE(run(nativeHas, {S("hello"), S("ell")}).asBool());
    EXPECT_TRUE(run(nativeHas, {S("hello"), S("")}).asBool());
    EXPECT_FALSE(run(nativeHas, {S("hello"), S("xyz")}).asBool());
    EXPECT_FALSE(run(nativeHas, {S("hello"), I(1)}).asBool());
    EXPECT_EQ(failure(nativeHas, {I(5), I(1)}), "has: cannot search in number");
    EXPECT_EQ(failure(nativeHas, {Value::nil(), I(1)}), "has: cannot search in nil");
}

// ---- slice ----

TEST(CollectionNatives, Slice) {
    EXPECT_EQ(show(run(nativeSlice, {L({I(1), I(2), I(3), I(4)}), I(1), I(3)})), "[2, 3]");
    EXPECT_EQ(show(run(nativeSlice, {L({I(1), I(2), I(3)}), I(-2)})), "[2, 3]");
    EXPECT_EQ(show(run(nativeSlice, {S("hello"), I(1), I(-1)})), "\"ell\"");
    EXPECT_EQ(show(run(nativeSlice, {S("hello"), Value::nil(), I(2)})), "\"he\"");
    EXPECT_EQ(show(run(nativeSlice, {L({I(1), I(2)}), I(5)})), "[]");
    EXPECT_EQ(show(run(nativeSlice, {S("hello"), I(3), I(1)})), "\"\"");
    EXPECT_EQ(show(run(nativeSlice, {L({I(1), I(2), I(3), I(4), I(5)}), I(3), I(1)})), "[]");
    EXPECT_EQ(show(run(nativeSlice, {S("hello")})), "\"hello\"");
    EXPECT_EQ(show(run(nativeSlice, {S("hello"), I(-100), I(100)})), "\"hello\"");
    EXPECT_EQ(show(run(nativeSlice, {S("hello"), I(kMin), I(kMax)})), "\"hello\"");
    EXPECT_EQ(show(run(nativeSlice, {S("hello"), I(2), Value::nil()})), "\"llo\"");
}

TEST(CollectionNatives, SliceMakesANewList) {
    Value a = L({I(1), I(2)});
    Value b = run(nativeSlice, {a});
    EXPECT_FALSE(valuesEqual(a, b));
    EXPECT_EQ(show(b), "[1, 2]");
}

TEST(CollectionNatives, SliceErrors) {
    EXPECT_EQ(failure(nativeSlice, {I(1)}), "slice: expected a list or string, got number");
    EXPECT_EQ(failure(nativeSlice, {S("abc"), F(1.0)}),
              "slice: start must be an integer or nil, got number");
    EXPECT_EQ(failure(nativeSlice, {L(), I(0), S("2")}),
              "slice: end must be an integer or nil, got string");
}

// ---- map, filter, reduce ----

TEST(CollectionNatives, MapAppliesTheCallbackInOrder) {
    std::vector<int64_t> seen;
    Value f = fn([&seen](std::vector<Value>& a) {
        seen.push_back(a[0].asInteger());
        return I(a[0].asInteger() * 2);
    });
    EXPECT_EQ(show(run(nativeMap, {f, L({I(1), I(2), I(3)})})), "[2, 4, 6]");
    EXPECT_EQ(seen, (std::vector<int64_t>{1, 2, 3}));
    EXPECT_EQ(show(run(nativeMap, {f, L()})), "[]");
    EXPECT_EQ(show(run(nativeMap, {doubler(), L({I(-4)})})), "[-8]");
    EXPECT_EQ(failure(nativeMap, {L({I(1), I(2)}), f}),
              "map: second argument must be a list, got function");
}

TEST(CollectionNatives, MapStopsWhenTheCallbackShrinksTheList) {
    Value list = L({I(1), I(2), I(3), I(4)});
    Value f = fn([&list](std::vector<Value>& a) {
        list.asList()->clear();
        return a[0];
    });
    EXPECT_EQ(show(run(nativeMap, {f, list})), "[1]");
}

TEST(CollectionNatives, MapDoesNotVisitAppendedElements) {
    Value list = L({I(1), I(2)});
    Value f = fn([&list](std::vector<Value>& a) {
        list.asList()->push_back(I(99));
        return a[0];
    });
    EXPECT_EQ(show(run(nativeMap, {f, list})), "[1, 2]");
}

TEST(CollectionNatives, Filter) {
    Value even = fn([](std::vector<Value>& a) { return B(a[0].asInteger() % 2 == 0); });
    EXPECT_EQ(show(run(nativeFilter, {even, L({I(1), I(2), I(3), I(4)})})), "[2, 4]");
    // Only nil and false drop an element.
    Value zero = fn([](std::vector<Value>&) { return I(0); });
    EXPECT_EQ(show(run(nativeFilter, {zero, L({S("a"), S("b")})})), "[\"a\", \"b\"]");
    Value nil = fn([](std::vector<Value>&) { return Value::nil(); });
    EXPECT_EQ(show(run(nativeFilter, {nil, L({S("a")})})), "[]");
    EXPECT_EQ(failure(nativeFilter, {even, S("x")}),
              "filter: second argument must be a list, got string");
}

TEST(CollectionNatives, FilterStopsWhenTheCallbackShrinksTheList) {
    Value list = L({I(1), I(2), I(3), I(4)});
    Value f = fn([&list](std::vector<Value>&) {
        list.asList()->pop_back();
        return B(true);
    });
    EXPECT_EQ(show(run(nativeFilter, {f, list})), "[1, 2]");
}

TEST(CollectionNatives, Reduce) {
    EXPECT_EQ(show(run(nativeReduce, {adder(), L({I(1), I(2), I(3)})})), "6");
    EXPECT_EQ(show(run(nativeReduce, {adder(), L(), I(0)})), "0");
    EXPECT_EQ(show(run(nativeReduce, {adder(), L({I(1), I(2)}), I(10)})), "13");
    EXPECT_EQ(show(run(nativeReduce, {adder(), L({I(5)})})), "5");
    EXPECT_EQ(show(run(nativeReduce, {adder(), L(), Value::nil()})), "nil");
    EXPECT_EQ(failure(nativeReduce, {adder(), L()}), "reduce: empty list with no initial value");
    EXPECT_EQ(failure(nativeReduce, {adder(), I(3)}),
              "reduce: second argument must be a list, got number");
}

TEST(CollectionNatives, ReduceFoldsElementsAppendedDuringTheFold) {
    Value list = L({I(1), I(2)});
    Value f = fn([&list](std::vector<Value>& a) {
        if (list.asList()->size() < 4) list.asList()->push_back(I(10));
        return I(a[0].asInteger() + a[1].asInteger());
    });
    EXPECT_EQ(show(run(nativeReduce, {f, list})), "23");
}

TEST(CollectionNatives, CallbackErrorsPropagateUnchanged) {
    Value failing = fn([](std::vector<Value>&) -> Value { throw RuntimeError("boom", 3, 4); });
    Value throwing = fn([](std::vector<Value>&) -> Value { throw ThrownValue{S("thrown")}; });
    for (Native native : {nativeMap, nativeFilter, nativeReduce}) {
        try {
            run(native, {failing, L({I(1), I(2)})});
            ADD_FAILURE() << "no error";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.message, "boom");
            EXPECT_EQ(e.line, 3);
        }
        try {
            run(native, {throwing, L({I(1), I(2)})});
            ADD_FAILURE() << "no throw";
        } catch (const ThrownValue& t) {
            EXPECT_EQ(show(t.value), "\"thrown\"");
        }
    }
    Value list = L({I(2), I(1)});
    EXPECT_THROW(run(nativeSort, {list, failing}), RuntimeError);
    EXPECT_THROW(run(nativeSort, {list, throwing}), ThrownValue);
    EXPECT_EQ(show(list), "[2, 1]");
}

TEST(CollectionNatives, CallingANonFunctionFailsInTheCaller) {
    EXPECT_EQ(failure(nativeMap, {I(1), L({I(1)})}), "number is not callable");
    // An empty list never calls it.
    EXPECT_EQ(show(run(nativeMap, {I(1), L()})), "[]");
}

// ---- sort ----

TEST(CollectionNatives, SortDefaultOrdering) {
    Value mixed = L({I(3), F(1.5), I(2)});
    EXPECT_EQ(show(run(nativeSort, {mixed})), "[1.5, 2, 3]");
    EXPECT_EQ(show(mixed), "[3, 1.5, 2]");
    EXPECT_EQ(show(run(nativeSort, {L({S("b"), S("B"), S("a")})})), "[\"B\", \"a\", \"b\"]");
    EXPECT_EQ(show(run(nativeSort, {L({S("ab"), S("a"), S("\xff"), S("b")})})),
              "[\"a\", \"ab\", \"b\", \"\xff\"]");
    EXPECT_EQ(show(run(nativeSort, {L()})), "[]");
    EXPECT_EQ(show(run(nativeSort, {L({L()})})), "[[]]");
    // Equal numbers keep their order, whatever their kind.
    EXPECT_EQ(show(run(nativeSort, {L({F(1.0), I(1), I(0), F(1.0)})})), "[0, 1.0, 1, 1.0]");
}

TEST(CollectionNatives, SortErrors) {
    EXPECT_EQ(failure(nativeSort, {L({I(1), S("a")})}), "sort: cannot compare string and number");
    EXPECT_EQ(failure(nativeSort, {L({S("a"), I(1)})}), "sort: cannot compare number and string");
    EXPECT_EQ(failure(nativeSort, {L({Value::nil(), Value::nil()})}), "sort: cannot compare nil and nil");
    EXPECT_EQ(failure(nativeSort, {S("ba")}), "sort: expected a list, got string");
    Value list = L({I(3), I(2), I(1), S("x")});
    failure(nativeSort, {list});
    EXPECT_EQ(show(list), "[3, 2, 1, \"x\"]");
}

TEST(CollectionNatives, SortWithComparatorIsStable) {
    Value byFirst = fn([](std::vector<Value>& a) {
        return B(a[0].asList()->at(0).asInteger() < a[1].asList()->at(0).asInteger());
    });
    Value pairs = L({L({I(2), S("a")}), L({I(1), S("b")}), L({I(2), S("c")}), L({I(1), S("d")}),
                     L({I(0), S("e")})});
    EXPECT_EQ(show(run(nativeSort, {pairs, byFirst})),
              "[[0, \"e\"], [1, \"b\"], [1, \"d\"], [2, \"a\"], [2, \"c\"]]");
    Value descending = fn([](std::vector<Value>& a) { return B(a[0].asInteger() > a[1].asInteger()); });
    EXPECT_EQ(show(run(nativeSort, {L({I(1), I(3), I(2)}), descending})), "[3, 2, 1]");
}

TEST(CollectionNatives, SortOfShortListsDoesNotCallTheComparator) {
    TestCaller caller;
    std::vector<Value> args{L({I(1)}), fn([](std::vector<Value>&) { return B(true); })};
    EXPECT_EQ(show(nativeSort(caller, args)), "[1]");
    EXPECT_EQ(caller.calls, 0);
}

TEST(CollectionNatives, SortSurvivesInconsistentComparators) {
    std::vector<Value> elements;
    for (int i = 0; i < 200; ++i) elements.push_back(I(i));
    std::vector<std::function<bool(int64_t, int64_t)>> answers = {
        [](int64_t, int64_t) { return true; },
        [](int64_t, int64_t) { return false; },
        [](int64_t a, int64_t b) { return (a * 7 + b * 3) % 5 < 2; },
    };
    for (auto& answer : answers) {
        Value f = fn([answer](std::vector<Value>& a) {
            return B(answer(a[0].asInteger(), a[1].asInteger()));
        });
        Value sorted = run(nativeSort, {L(elements), f});
        // A permutation of the input, whatever the order.
        std::multiset<int64_t> got;
        for (const Value& v : *sorted.asList()) got.insert(v.asInteger());
        EXPECT_EQ(got.size(), 200u);
        EXPECT_EQ(*got.begin(), 0);
        EXPECT_EQ(*got.rbegin(), 199);
        EXPECT_EQ(std::set<int64_t>(got.begin(), got.end()).size(), 200u);
    }
}

TEST(CollectionNatives, SortLargeListMatchesStableSort) {
    std::vector<Value> elements;
    uint64_t seed = 12345;
    for (int i = 0; i < 1000; ++i) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        elements.push_back(L({I(static_cast<int64_t>(seed >> 60)), I(i)}));
    }
    Value byKey = fn([](std::vector<Value>& a) {
        return B(a[0].asList()->at(0).asInteger() < a[1].asList()->at(0).asInteger());
    });
    Value sorted = run(nativeSort, {L(elements), byKey});
    const ListData& out = *sorted.asList();
    ASSERT_EQ(out.size(), 1000u);
    for (size_t i = 1; i < out.size(); ++i) {
        int64_t k0 = out[i - 1].asList()->at(0).asInteger();
        int64_t k1 = out[i].asList()->at(0).asInteger();
        ASSERT_LE(k0, k1);
        if (k0 == k1) {
            ASSERT_LT(out[i - 1].asList()->at(1).asInteger(), out[i].asList()->at(1).asInteger());
        }
    }
}

// ---- reverse, find, sum, count ----

TEST(CollectionNatives, Reverse) {
    EXPECT_EQ(show(run(nativeReverse, {S("abc")})), "\"cba\"");
    EXPECT_EQ(show(run(nativeReverse, {L({I(1), S("a"), F(2.0)})})), "[2.0, \"a\", 1]");
    EXPECT_EQ(show(run(nativeReverse, {L()})), "[]");
    EXPECT_EQ(failure(nativeReverse, {Value::nil()}), "reverse: expected a list or string, got nil");
}

TEST(CollectionNatives, Find) {
    EXPECT_EQ(show(run(nativeFind, {L({I(5), I(6), I(5)}), I(5)})), "0");
    EXPECT_EQ(show(run(nativeFind, {L({I(1)}), I(2)})), "-1");
    EXPECT_EQ(show(run(nativeFind, {L({S("1"), F(1.0)}), I(1)})), "1");
    EXPECT_EQ(show(run(nativeFind, {S("hello"), S("l")})), "2");
    EXPECT_EQ(show(run(nativeFind, {S("hello"), S("")})), "0");
    EXPECT_EQ(show(run(nativeFind, {S("hello"), S("z")})), "-1");
    EXPECT_EQ(failure(nativeFind, {S("hello"), I(1)}), "find: substring must be a string");
    EXPECT_EQ(failure(nativeFind, {I(1), I(1)}), "find: expected a list or string, got number");
}

TEST(CollectionNatives, Sum) {
    EXPECT_EQ(show(run(nativeSum, {L()})), "0");
    EXPECT_EQ(show(run(nativeSum, {L({I(1), I(2)})})), "3");
    EXPECT_EQ(show(run(nativeSum, {L({I(1), F(2.5)})})), "3.5");
    EXPECT_EQ(show(run(nativeSum, {L({F(1.0), F(2.0)})})), "3.0");
    EXPECT_EQ(show(run(nativeSum, {L({I(kMax), I(1)})})), "-9223372036854775808");
    EXPECT_EQ(failure(nativeSum, {L({I(1), S("2")})}), "sum: list has a non-number (string)");
    EXPECT_EQ(failure(nativeSum, {S("12")}), "sum: expected a list, got string");
}

TEST(CollectionNatives, Count) {
    EXPECT_EQ(show(run(nativeCount, {L({I(1), F(1.0), S("1")}), I(1)})), "2");
    EXPECT_EQ(show(run(nativeCount, {L(), I(1)})), "0");
    EXPECT_EQ(failure(nativeCount, {S("aa"), S("a")}), "count: expected a list, got string");
}

// ---- zip, enumerate ----

TEST(CollectionNatives, ZipAndEnumerate) {
    EXPECT_EQ(show(run(nativeZip, {L({I(1), I(2), I(3)}), L({S("a"), S("b")})})),
              "[[1, \"a\"], [2, \"b\"]]");
    EXPECT_EQ(show(run(nativeZip, {L(), L({I(1)})})), "[]");
    EXPECT_EQ(failure(nativeZip, {L({I(1)}), S("a")}), "zip: expected two lists");
    EXPECT_EQ(failure(nativeZip, {S("a"), L()}), "zip: expected two lists");
    EXPECT_EQ(show(run(nativeEnumerate, {L({S("x"), S("y")})})), "[[0, \"x\"], [1, \"y\"]]");
    EXPECT_EQ(failure(nativeEnumerate, {S("xy")}), "enumerate: expected a list");
}

// ---- insert, remove_at ----

TEST(CollectionNatives, Insert) {
    auto base = [] { return L({I(1), I(2), I(3)}); };
    Value l = base();
    Value result = run(nativeInsert, {l, I(3), I(9)});
    EXPECT_EQ(show(l), "[1, 2, 3, 9]");
    EXPECT_TRUE(valuesEqual(result, l));
    l = base();
    run(nativeInsert, {l, I(-1), I(9)});
    EXPECT_EQ(show(l), "[1, 2, 9, 3]");
    l = base();
    run(nativeInsert, {l, F(1.7), I(9)});
    EXPECT_EQ(show(l), "[1, 9, 2, 3]");
    l = base();
    run(nativeInsert, {l, I(-3), I(9)});
    EXPECT_EQ(show(l), "[9, 1, 2, 3]");
    l = base();
    EXPECT_EQ(failure(nativeInsert, {l, I(4), I(9)}), "insert: index out of range");
    EXPECT_EQ(failure(nativeInsert, {l, I(-4), I(9)}), "insert: index out of range");
    EXPECT_EQ(failure(nativeInsert, {l, I(kMin), I(9)}), "insert: index out of range");
    EXPECT_EQ(failure(nativeInsert, {l, F(kNaN), I(9)}), "insert: index out of range");
    EXPECT_EQ(failure(nativeInsert, {l, S("1"), I(9)}), "insert: expected a number, got string");
    EXPECT_EQ(show(l), "[1, 2, 3]");
    EXPECT_EQ(failure(nativeInsert, {S("abc"), I(0), I(9)}), "insert: expected a list");
}

TEST(CollectionNatives, InsertUsesLargeIntegerIndicesExactly) {
    // 2^53 + 1 would become 2^53 through a double; either way it is out of range.
    Value l = L();
    EXPECT_EQ(failure(nativeInsert, {l, I((int64_t{1} << 53) + 1), I(1)}), "insert: index out of range");
    EXPECT_EQ(failure(nativeInsert, {l, I(kMax), I(1)}), "insert: index out of range");
}

TEST(CollectionNatives, RemoveAt) {
    Value l = L({I(1), I(2), I(3)});
    EXPECT_EQ(show(run(nativeRemoveAt, {l, I(-1)})), "3");
    EXPECT_EQ(show(l), "[1, 2]");
    EXPECT_EQ(show(run(nativeRemoveAt, {l, F(0.9)})), "1");
    EXPECT_EQ(show(l), "[2]");
    EXPECT_EQ(failure(nativeRemoveAt, {L({I(1)}), I(1)}), "remove_at: index out of range");
    EXPECT_EQ(failure(nativeRemoveAt, {L({I(1)}), I(-2)}), "remove_at: index out of range");
    EXPECT_EQ(failure(nativeRemoveAt, {L(), I(0)}), "remove_at: index out of range");
    EXPECT_EQ(failure(nativeRemoveAt, {L({I(1)}), Value::nil()}),
              "remove_at: expected a number, got nil");
    EXPECT_EQ(failure(nativeRemoveAt, {M({}), I(0)}), "remove_at: expected a list");
}

// ---- get, delete ----

TEST(CollectionNatives, Get) {
    Value l = L({I(1), I(2)});
    EXPECT_EQ(show(run(nativeGet, {l, I(5)})), "nil");
    EXPECT_EQ(show(run(nativeGet, {l, I(5), I(0)})), "0");
    EXPECT_EQ(show(run(nativeGet, {l, I(-1)})), "2");
    EXPECT_EQ(show(run(nativeGet, {l, I(-3), S("d")})), "\"d\"");
    EXPECT_EQ(show(run(nativeGet, {l, I(kMin)})), "nil");
    EXPECT_EQ(failure(nativeGet, {l, F(1.0)}), "get: list index must be an integer");
    Value m = M({{S("a"), I(1)}, {I(2), S("two")}});
    EXPECT_EQ(show(run(nativeGet, {m, S("a")})), "1");
    EXPECT_EQ(show(run(nativeGet, {m, S("b"), I(7)})), "7");
    EXPECT_EQ(show(run(nativeGet, {m, S("b")})), "nil");
    EXPECT_EQ(show(run(nativeGet, {m, F(2.0)})), "\"two\"");
    EXPECT_EQ(show(run(nativeGet, {m, L()})), "nil");
    EXPECT_EQ(failure(nativeGet, {S("abc"), I(0)}), "get: expected a map or list");
}

TEST(CollectionNatives, Delete) {
    Value m = M({{S("a"), I(1)}, {S("b"), I(2)}, {S("c"), I(3)}});
    EXPECT_FALSE(run(nativeDelete, {m, S("k")}).asBool());
    EXPECT_EQ(show(m), "{\"a\": 1, \"b\": 2, \"c\": 3}");
    EXPECT_TRUE(run(nativeDelete, {m, S("b")}).asBool());
    EXPECT_EQ(show(m), "{\"a\": 1, \"c\": 3}");
    EXPECT_EQ(failure(nativeDelete, {L(), I(0)}), "delete: expected a map");
}

// ---- string natives ----

TEST(StringNatives, CaseMappingIsAsciiOnly) {
    EXPECT_EQ(show(run(nativeUpper, {S("h\xc3\xa9llo World")})), "\"H\xc3\xa9LLO WORLD\"");
    EXPECT_EQ(show(run(nativeLower, {S("\xc3\x89 ABC")})), "\"\xc3\x89 abc\"");
    EXPECT_EQ(show(run(nativeUpper, {L({S("a")})})), "\"[\\\"A\\\"]\"");
    EXPECT_EQ(show(run(nativeUpper, {Value::nil()})), "\"NIL\"");
    EXPECT_EQ(show(run(nativeLower, {F(1e21)})), "\"1e+21\"");
    EXPECT_EQ(show(run(nativeCapitalize, {S("hELLO")})), "\"HELLO\"");
    EXPECT_EQ(show(run(nativeCapitalize, {S("")})), "\"\"");
    EXPECT_EQ(show(run(nativeCapitalize, {B(true)})), "\"True\"");
    EXPECT_EQ(show(run(nativeCapitalize, {S("\xc3\xa9t\xc3\xa9")})), "\"\xc3\xa9t\xc3\xa9\"");
}

TEST(StringNatives, Trim) {
    EXPECT_EQ(show(run(nativeTrim, {S(" \t\r\n a b \n")})), "\"a b\"");
    EXPECT_EQ(show(run(nativeTrim, {S("\va\f")})), "\"\va\f\"");
    EXPECT_EQ(show(run(nativeTrim, {S("   ")})), "\"\"");
    EXPECT_EQ(show(run(nativeTrim, {S("")})), "\"\"");
    EXPECT_EQ(show(run(nativeTrim, {I(5)})), "\"5\"");
}

TEST(StringNatives, StartsAndEndsWith) {
    EXPECT_TRUE(run(nativeStartsWith, {S("hello"), S("he")}).asBool());
    EXPECT_FALSE(run(nativeStartsWith, {S("hello"), S("lo")}).asBool());
    EXPECT_TRUE(run(nativeStartsWith, {I(12345), I(12)}).asBool());
    EXPECT_TRUE(run(nativeStartsWith, {S("a"), S("")}).asBool());
    EXPECT_FALSE(run(nativeStartsWith, {S("a"), S("ab")}).asBool());
    EXPECT_TRUE(run(nativeEndsWith, {S("hello"), S("lo")}).asBool());
    EXPECT_FALSE(run(nativeEndsWith, {S("hello"), S("he")}).asBool());
    EXPECT_TRUE(run(nativeEndsWith, {F(2.5), S(".5")}).asBool());
    EXPECT_TRUE(run(nativeEndsWith, {S(""), S("")}).asBool());
    EXPECT_FALSE(run(nativeEndsWith, {S("o"), S("lo")}).asBool());
}

TEST(StringNatives, SplitOnWhiteSpace) {
    EXPECT_EQ(show(run(nativeSplit, {S("  a  b ")})), "[\"a\", \"b\"]");
    EXPECT_EQ(show(run(nativeSplit, {S("  a  b "), I(5)})), "[\"a\", \"b\"]");
    EXPECT_EQ(show(run(nativeSplit, {S("  a  b "), S("")})), "[\"a\", \"b\"]");
    EXPECT_EQ(show(run(nativeSplit, {S("\ta\nb\vc\fd\re")})), "[\"a\", \"b\", \"c\", \"d\", \"e\"]");
    EXPECT_EQ(show(run(nativeSplit, {S(" \t\n ")})), "[]");
    EXPECT_EQ(show(run(nativeSplit, {S("")})), "[]");
    EXPECT_EQ(show(run(nativeSplit, {S("one")})), "[\"one\"]");
}

TEST(StringNatives, SplitAtSeparator) {
    EXPECT_EQ(show(run(nativeSplit, {S("a,b,"), S(",")})), "[\"a\", \"b\", \"\"]");
    EXPECT_EQ(show(run(nativeSplit, {S("a,,b"), S(",")})), "[\"a\", \"\", \"b\"]");
    EXPECT_EQ(show(run(nativeSplit, {S(",a,"), S(",")})), "[\"\", \"a\", \"\"]");
    EXPECT_EQ(show(run(nativeSplit, {S(""), S(",")})), "[\"\"]");
    EXPECT_EQ(show(run(nativeSplit, {S("abc"), S(",")})), "[\"abc\"]");
    EXPECT_EQ(show(run(nativeSplit, {S("aaa"), S("aa")})), "[\"\", \"a\"]");
    EXPECT_EQ(show(run(nativeSplit, {S("a--b--c"), S("--")})), "[\"a\", \"b\", \"c\"]");
    EXPECT_EQ(failure(nativeSplit, {I(1), S(",")}), "split: expected a string, got number");
}

TEST(StringNatives, Join) {
    EXPECT_EQ(show(run(nativeJoin, {L(), S(", ")})), "\"\"");
    EXPECT_EQ(show(run(nativeJoin, {L({I(1), I(2), I(3)})})), "\"123\"");
    EXPECT_EQ(show(run(nativeJoin, {L({S("a")}), S("-")})), "\"a\"");
    EXPECT_EQ(show(run(nativeJoin, {L({S("a"), F(1.0), Value::nil(), L({S("x")})}), S(" ")})),
              "\"a 1.0 nil [\\\"x\\\"]\"");
    EXPECT_EQ(show(run(nativeJoin, {L({S("a"), S("b")}), I(0)})), "\"a0b\"");
    EXPECT_EQ(failure(nativeJoin, {S("abc")}), "join: first argument must be a list, got string");
}

TEST(StringNatives, Replace) {
    EXPECT_EQ(show(run(nativeReplace, {S("aaa"), S("a"), S("aa")})), "\"aaaaaa\"");
    EXPECT_EQ(show(run(nativeReplace, {S("hello"), S(""), S("x")})), "\"hello\"");
    EXPECT_EQ(show(run(nativeReplace, {S("a.b.c"), S("."), S("")})), "\"abc\"");
    EXPECT_EQ(show(run(nativeReplace, {S("aaaa"), S("aa"), S("b")})), "\"bb\"");
    EXPECT_EQ(show(run(nativeReplace, {S("abc"), S("x"), S("y")})), "\"abc\"");
    EXPECT_EQ(show(run(nativeReplace, {I(1001), I(0), I(7)})), "\"1771\"");
}

TEST(StringNatives, Chars) {
    EXPECT_EQ(show(run(nativeChars, {S("ab")})), "[\"a\", \"b\"]");
    EXPECT_EQ(show(run(nativeChars, {S("")})), "[]");
    EXPECT_EQ(run(nativeChars, {S("\xc3\xa9")}).asList()->size(), 2u);
    EXPECT_EQ(failure(nativeChars, {I(1)}), "chars: expected a string");
}

TEST(StringNatives, CharAndOrd) {
    EXPECT_EQ(show(run(nativeChar, {I(65)})), "\"A\"");
    EXPECT_EQ(show(run(nativeChar, {F(65.9)})), "\"A\"");
    Value zero = run(nativeChar, {I(0)});
    EXPECT_EQ(zero.asString(), std::string(1, '\0'));
    EXPECT_EQ(run(nativeChar, {I(255)}).asString(), "\xff");
    EXPECT_EQ(failure(nativeChar, {I(256)}), "char: code must be between 0 and 255");
    EXPECT_EQ(failure(nativeChar, {I(-1)}), "char: code must be between 0 and 255");
    EXPECT_EQ(failure(nativeChar, {I(kMin)}), "char: code must be between 0 and 255");
    EXPECT_EQ(failure(nativeChar, {I((int64_t{1} << 53) + 65)}), "char: code must be between 0 and 255");
    EXPECT_EQ(failure(nativeChar, {F(kNaN)}), "char: code must be between 0 and 255");
    EXPECT_EQ(failure(nativeChar, {S("A")}), "char: expected a number, got string");
    EXPECT_EQ(show(run(nativeOrd, {S("A")})), "65");
    EXPECT_EQ(show(run(nativeOrd, {S("\xff")})), "255");
    EXPECT_EQ(failure(nativeOrd, {S("")}), "ord: expected a non-empty string");
    EXPECT_EQ(failure(nativeOrd, {I(65)}), "ord: expected a non-empty string");
}

TEST(StringNatives, Repeat) {
    EXPECT_EQ(show(run(nativeRepeat, {S("ab"), I(3)})), "\"ababab\"");
    EXPECT_EQ(show(run(nativeRepeat, {S("ab"), I(-3)})), "\"\"");
    EXPECT_EQ(show(run(nativeRepeat, {S("ab"), F(2.9)})), "\"abab\"");
    EXPECT_EQ(show(run(nativeRepeat, {L({I(1)}), I(0)})), "[]");
    Value inner = L();
    Value repeated = run(nativeRepeat, {L({inner, I(1)}), I(2)});
    EXPECT_EQ(show(repeated), "[[], 1, [], 1]");
    EXPECT_TRUE(valuesEqual(repeated.asList()->at(2), inner));
    EXPECT_EQ(failure(nativeRepeat, {I(1), I(2)}), "repeat: expected a string or list");
    EXPECT_EQ(failure(nativeRepeat, {I(1), S("2")}), "repeat: expected a number, got string");
    EXPECT_EQ(failure(nativeRepeat, {S("x"), S("2")}), "repeat: expected a number, got string");
}

TEST(StringNatives, RepeatRefusesAbsurdSizesBeforeAllocating) {
    Value big = run(nativeRepeat, {S("x"), I(1 << 20)});
    EXPECT_EQ(failure(nativeRepeat, {S("x"), F(1e18)}), "repeat: result too large");
    EXPECT_EQ(failure(nativeRepeat, {S("xy"), I(kMax)}), "repeat: result too large");
    EXPECT_EQ(failure(nativeRepeat, {L({I(1)}), I(kMax)}), "repeat: result too large");
    // The bytes of repeated strings count, not only the list's slots.
    EXPECT_EQ(failure(nativeRepeat, {L({big}), I(1 << 22)}), "repeat: result too large");
    // Nothing to repeat needs no memory, however large the count.
    EXPECT_EQ(show(run(nativeRepeat, {S(""), I(kMax)})), "\"\"");
    EXPECT_EQ(show(run(nativeRepeat, {L(), F(1e18)})), "[]");
}

TEST(StringNatives, JoinAndReplaceRefuseAbsurdSizes) {
    Value big = run(nativeRepeat, {S("x"), I(1 << 20)});
    Value many = run(nativeRepeat, {L({S("")}), I(1 << 18)});
    EXPECT_EQ(failure(nativeJoin, {many, run(nativeRepeat, {S("y"), I(1 << 22)})}), "join: result too large");
    EXPECT_EQ(failure(nativeReplace, {big, S("x"), big}), "replace: result too large");
}

TEST(StringNatives, HexBinOct) {
    EXPECT_EQ(show(run(nativeHex, {I(0)})), "\"0x0\"");
    EXPECT_EQ(show(run(nativeHex, {F(255.9)})), "\"0xff\"");
    EXPECT_EQ(show(run(nativeHex, {I(-255)})), "\"-0xff\"");
    EXPECT_EQ(show(run(nativeBin, {I(-1)})), "\"-0b1\"");
    EXPECT_EQ(show(run(nativeBin, {I(5)})), "\"0b101\"");
    EXPECT_EQ(show(run(nativeOct, {I(8)})), "\"0o10\"");
    EXPECT_EQ(show(run(nativeHex, {I(kMax)})), "\"0x7fffffffffffffff\"");
    EXPECT_EQ(show(run(nativeHex, {I(kMin)})), "\"-0x8000000000000000\"");
    EXPECT_EQ(show(run(nativeHex, {F(kNaN)})), "\"-0x8000000000000000\"");
    EXPECT_EQ(show(run(nativeHex, {I((int64_t{1} << 53) + 1)})), "\"0x20000000000001\"");
    EXPECT_EQ(failure(nativeHex, {S("1")}), "hex: expected a number, got string");
    EXPECT_EQ(failure(nativeBin, {Value::nil()}), "bin: expected a number, got nil");
    EXPECT_EQ(failure(nativeOct, {L()}), "oct: expected a number, got list");
}

TEST(StringNatives, ParseInt) {
    EXPECT_EQ(show(run(nativeParseInt, {S("42")})), "42");
    EXPECT_EQ(show(run(nativeParseInt, {S("  -42 \n")})), "-42");
    EXPECT_EQ(show(run(nativeParseInt, {S("+7")})), "7");
    EXPECT_EQ(show(run(nativeParseInt, {S("ff"), I(16)})), "255");
    EXPECT_EQ(show(run(nativeParseInt, {S("0xff"), I(16)})), "255");
    EXPECT_EQ(show(run(nativeParseInt, {S("0xff"), I(0)})), "255");
    EXPECT_EQ(show(run(nativeParseInt, {S("017"), I(0)})), "15");
    EXPECT_EQ(show(run(nativeParseInt, {S("101"), F(2.9)})), "5");
    EXPECT_EQ(show(run(nativeParseInt, {S("zz"), I(36)})), "1295");
    EXPECT_EQ(show(run(nativeParseInt, {S("-9223372036854775808")})), "-9223372036854775808");
    auto invalid = [](const std::string& s) { return "parse_int: invalid integer \"" + s + "\""; };
    EXPECT_EQ(failure(nativeParseInt, {S("12abc")}), invalid("12abc"));
    EXPECT_EQ(failure(nativeParseInt, {S("")}), invalid(""));
    EXPECT_EQ(failure(nativeParseInt, {S("   ")}), invalid("   "));
    EXPECT_EQ(failure(nativeParseInt, {S("99999999999999999999")}), invalid("99999999999999999999"));
    EXPECT_EQ(failure(nativeParseInt, {S("1.5")}), invalid("1.5"));
    EXPECT_EQ(failure(nativeParseInt, {S("12"), I(1)}), invalid("12"));
    EXPECT_EQ(failure(nativeParseInt, {S("12"), I(37)}), invalid("12"));
    EXPECT_EQ(failure(nativeParseInt, {S("12"), I(-1)}), invalid("12"));
    EXPECT_EQ(failure(nativeParseInt, {S("12"), F(kNaN)}), invalid("12"));
    EXPECT_EQ(failure(nativeParseInt, {S("12"), I(int64_t{1} << 32 | 10)}), invalid("12"));
    EXPECT_EQ(failure(nativeParseInt, {S("2"), I(2)}), invalid("2"));
    EXPECT_EQ(failure(nativeParseInt, {S(std::string("1\0 2", 4))}), "parse_int: invalid integer \"" + std::string("1\0 2", 4) + "\"");
    EXPECT_EQ(failure(nativeParseInt, {I(12)}), "parse_int: first argument must be a string");
    EXPECT_EQ(failure(nativeParseInt, {S("12"), S("10")}), "parse_int: expected a number, got string");
}

// ---- math natives ----

TEST(MathNatives, FloorCeilKeepIntegersExact) {
    Value f = run(nativeFloor, {F(2.7)});
    EXPECT_TRUE(f.isInteger());
    EXPECT_EQ(f.asInteger(), 2);
    EXPECT_EQ(show(run(nativeFloor, {F(-0.5)})), "-1");
    EXPECT_EQ(show(run(nativeCeil, {F(0.2)})), "1");
    EXPECT_EQ(show(run(nativeCeil, {F(-2.5)})), "-2");
    EXPECT_EQ(show(run(nativeFloor, {I(9007199254740993)})), "9007199254740993");
    EXPECT_EQ(show(run(nativeCeil, {I(kMax)})), "9223372036854775807");
    EXPECT_EQ(show(run(nativeFloor, {F(kNaN)})), "-9223372036854775808");
    EXPECT_EQ(show(run(nativeCeil, {F(kInf)})), "-9223372036854775808");
    EXPECT_EQ(show(run(nativeFloor, {F(1e300)})), "-9223372036854775808");
    EXPECT_EQ(failure(nativeFloor, {S("1")}), "floor: expected a number, got string");
    EXPECT_EQ(failure(nativeCeil, {B(true)}), "ceil: expected a number, got bool");
}

TEST(MathNatives, Abs) {
    EXPECT_EQ(show(run(nativeAbs, {I(-3)})), "3");
    EXPECT_EQ(show(run(nativeAbs, {F(-3.0)})), "3.0");
    EXPECT_EQ(show(run(nativeAbs, {I(kMin)})), "-9223372036854775808");
    EXPECT_EQ(show(run(nativeAbs, {I(-9007199254740993)})), "9007199254740993");
    EXPECT_EQ(show(run(nativeAbs, {F(-0.0)})), "0.0");
    EXPECT_EQ(failure(nativeAbs, {Value::nil()}), "abs: expected a number, got nil");
}

TEST(MathNatives, Round) {
    EXPECT_EQ(show(run(nativeRound, {F(0.5)})), "1");
    EXPECT_EQ(show(run(nativeRound, {F(-0.5)})), "-1");
    EXPECT_EQ(show(run(nativeRound, {F(2.5)})), "3");
    EXPECT_EQ(show(run(nativeRound, {F(-2.5)})), "-3");
    EXPECT_EQ(show(run(nativeRound, {F(2.4)})), "2");
    EXPECT_EQ(show(run(nativeRound, {I(9007199254740993)})), "9007199254740993");
    EXPECT_EQ(show(run(nativeRound, {F(kNaN)})), "0");
    EXPECT_EQ(show(run(nativeRound, {F(-kInf)})), "0");
    EXPECT_EQ(show(run(nativeRound, {F(1e19)})), "0");
    EXPECT_EQ(show(run(nativeRound, {F(-9223372036854775808.0)})), "-9223372036854775808");
    EXPECT_EQ(show(run(nativeRound, {F(2.5), I(0)})), "3.0");
    EXPECT_EQ(show(run(nativeRound, {I(1234), I(-2)})), "1200.0");
    EXPECT_EQ(show(run(nativeRound, {F(3.14159), I(2)})), "3.14");
    EXPECT_EQ(show(run(nativeRound, {F(3.14159), F(2.9)})), "3.14");
    EXPECT_EQ(show(run(nativeRound, {I(2), I(1)})), "2.0");
    EXPECT_EQ(failure(nativeRound, {S("1")}), "round: expected a number, got string");
    EXPECT_EQ(failure(nativeRound, {I(1), S("1")}), "round: expected a number, got string");
}

TEST(MathNatives, ElementaryFunctionsGiveFloats) {
    EXPECT_EQ(show(run(nativeSqrt, {I(4)})), "2.0");
    EXPECT_TRUE(std::isnan(run(nativeSqrt, {I(-1)}).asFloat()));
    EXPECT_EQ(show(run(nativePow, {I(2), I(3)})), "8.0");
    EXPECT_EQ(show(run(nativePow, {I(2), F(-1)})), "0.5");
    EXPECT_EQ(show(run(nativePow, {I(10), I(400)})), "inf");
    EXPECT_EQ(show(run(nativeSin, {I(0)})), "0.0");
    EXPECT_EQ(show(run(nativeCos, {I(0)})), "1.0");
    EXPECT_EQ(show(run(nativeTan, {I(0)})), "0.0");
    EXPECT_EQ(show(run(nativeExp, {I(0)})), "1.0");
    EXPECT_EQ(show(run(nativeLog, {I(1)})), "0.0");
    EXPECT_EQ(show(run(nativeLog, {I(8), I(2)})), "3.0");
    EXPECT_EQ(show(run(nativeLog, {I(0)})), "-inf");
    EXPECT_TRUE(std::isnan(run(nativeLog, {I(-1)}).asFloat()));
    EXPECT_EQ(failure(nativeSqrt, {S("4")}), "sqrt: expected a number, got string");
    EXPECT_EQ(failure(nativePow, {I(1), S("4")}), "pow: expected a number, got string");
    EXPECT_EQ(failure(nativePow, {L(), S("4")}), "pow: expected a number, got list");
    EXPECT_EQ(failure(nativeSin, {M({})}), "sin: expected a number, got map");
    EXPECT_EQ(failure(nativeCos, {Value::nil()}), "cos: expected a number, got nil");
    EXPECT_EQ(failure(nativeTan, {B(false)}), "tan: expected a number, got bool");
    EXPECT_EQ(failure(nativeExp, {S("")}), "exp: expected a number, got string");
    EXPECT_EQ(failure(nativeLog, {I(1), S("e")}), "log: expected a number, got string");
    EXPECT_EQ(failure(nativeLog, {adder()}), "log: expected a number, got function");
}

TEST(MathNatives, Sign) {
    EXPECT_EQ(show(run(nativeSign, {F(-0.0)})), "0");
    EXPECT_EQ(show(run(nativeSign, {F(kNaN)})), "0");
    EXPECT_EQ(show(run(nativeSign, {I(-5)})), "-1");
    EXPECT_EQ(show(run(nativeSign, {F(0.1)})), "1");
    EXPECT_EQ(failure(nativeSign, {S("1")}), "sign: expected a number, got string");
}

TEST(MathNatives, MinMax) {
    EXPECT_EQ(show(run(nativeMax, {L({I(3), I(7), F(7.0)})})), "7");
    EXPECT_EQ(show(run(nativeMax, {I(1), F(1.0)})), "1");
    EXPECT_EQ(show(run(nativeMin, {F(1.0), I(1)})), "1.0");
    EXPECT_EQ(show(run(nativeMin, {I(2)})), "2");
    EXPECT_EQ(show(run(nativeMin, {I(3), F(-1.5), I(2)})), "-1.5");
    EXPECT_EQ(show(run(nativeMax, {I(3), F(-1.5), I(2)})), "3");
    EXPECT_EQ(failure(nativeMax, {L()}), "max: no arguments");
    EXPECT_EQ(failure(nativeMin, {L()}), "min: no arguments");
    EXPECT_EQ(failure(nativeMax, {I(1), S("a")}), "max: expected a number, got string");
    EXPECT_EQ(failure(nativeMin, {S("a"), I(1)}), "min: expected a number, got string");
    EXPECT_EQ(failure(nativeMax, {L({L()})}), "max: expected a number, got list");
    EXPECT_EQ(failure(nativeMin, {L(), I(1)}), "min: expected a number, got list");
}

TEST(MathNatives, Clamp) {
    EXPECT_EQ(show(run(nativeClamp, {I(-1), I(0), I(10)})), "0");
    EXPECT_EQ(show(run(nativeClamp, {I(5), I(0), F(10.0)})), "5.0");
    EXPECT_EQ(show(run(nativeClamp, {F(1.5), I(0), I(1)})), "1.0");
    EXPECT_EQ(show(run(nativeClamp, {I(11), I(0), I(10)})), "10");
    EXPECT_EQ(show(run(nativeClamp, {I(9007199254740993), I(0), I(kMax)})), "9007199254740993");
    EXPECT_EQ(failure(nativeClamp, {I(5), I(10), I(0)}), "clamp: low must be <= high");
    EXPECT_EQ(failure(nativeClamp, {I(5), F(10), I(0)}), "clamp: low must be <= high");
    EXPECT_EQ(failure(nativeClamp, {S("5"), I(10), I(0)}), "clamp: expected a number, got string");
    EXPECT_EQ(failure(nativeClamp, {I(5), I(0), Value::nil()}), "clamp: expected a number, got nil");
}

TEST(MathNatives, Float) {
    EXPECT_EQ(show(run(nativeFloat, {B(true)})), "1.0");
    EXPECT_EQ(show(run(nativeFloat, {B(false)})), "0.0");
    EXPECT_EQ(show(run(nativeFloat, {I(3)})), "3.0");
    EXPECT_EQ(show(run(nativeFloat, {F(2.5)})), "2.5");
    EXPECT_EQ(show(run(nativeFloat, {S("12abc")})), "12.0");
    EXPECT_EQ(show(run(nativeFloat, {S("  1e3")})), "1000.0");
    EXPECT_EQ(show(run(nativeFloat, {S("inf")})), "inf");
    EXPECT_EQ(show(run(nativeFloat, {S("0x10")})), "16.0");
    EXPECT_EQ(failure(nativeFloat, {S("abc")}), "float: cannot convert \"abc\" to a float");
    EXPECT_EQ(failure(nativeFloat, {S("")}), "float: cannot convert \"\" to a float");
    EXPECT_EQ(failure(nativeFloat, {S("1e999")}), "float: cannot convert \"1e999\" to a float");
    EXPECT_EQ(failure(nativeFloat, {Value::nil()}), "float: cannot convert nil to a float");
    EXPECT_EQ(failure(nativeFloat, {L()}), "float: cannot convert list to a float");
    EXPECT_EQ(failure(nativeFloat, {M({})}), "float: cannot convert map to a float");
    EXPECT_EQ(failure(nativeFloat, {adder()}), "float: cannot convert function to a float");
}

TEST(MathNatives, RandomStaysInTheUnitInterval) {
    for (int i = 0; i < 10000; ++i) {
        Value r = run(nativeRandom, {});
        ASSERT_TRUE(r.isFloat());
        ASSERT_GE(r.asFloat(), 0.0);
        ASSERT_LT(r.asFloat(), 1.0);
    }
}

TEST(MathNatives, Randint) {
    EXPECT_EQ(show(run(nativeRandint, {I(3), I(3)})), "3");
    std::set<int64_t> seen;
    for (int i = 0; i < 2000; ++i) {
        Value r = run(nativeRandint, {F(1.9), F(2.9)});
        ASSERT_TRUE(r.isInteger());
        seen.insert(r.asInteger());
    }
    EXPECT_EQ(seen, (std::set<int64_t>{1, 2}));
    seen.clear();
    for (int i = 0; i < 2000; ++i) seen.insert(run(nativeRandint, {I(-3), I(3)}).asInteger());
    EXPECT_EQ(seen, (std::set<int64_t>{-3, -2, -1, 0, 1, 2, 3}));
    // Bounds beyond 2^53 are used exactly.
    int64_t big = (int64_t{1} << 53) + 1;
    EXPECT_EQ(show(run(nativeRandint, {I(big), I(big)})), "9007199254740993");
    EXPECT_EQ(show(run(nativeRandint, {I(kMax), I(kMax)})), "9223372036854775807");
    for (int i = 0; i < 100; ++i) {
        Value r = run(nativeRandint, {I(kMin), I(kMax)});
        ASSERT_TRUE(r.isInteger());
        r = run(nativeRandint, {I(kMax - 1), I(kMax)});
        ASSERT_GE(r.asInteger(), kMax - 1);
    }
    EXPECT_EQ(failure(nativeRandint, {I(5), I(1)}), "randint: low must be <= high");
    EXPECT_EQ(failure(nativeRandint, {I(big + 1), I(big)}), "randint: low must be <= high");
    EXPECT_EQ(failure(nativeRandint, {S("1"), Value::nil()}), "randint: expected a number, got string");
    EXPECT_EQ(failure(nativeRandint, {I(1), Value::nil()}), "randint: expected a number, got nil");
}
