#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/Errors.h"
#include "natives/NativeFunctions.h"
#include "value/Function.h"

namespace ferrow {
namespace {

// None of the core natives calls back into script code.
struct NoCaller : Caller {
    Value call(const Value&, std::vector<Value>) override {
        ADD_FAILURE() << "a core native called back into the engine";
        return Value::nil();
    }
};

Value invoke(NativeFn fn, std::vector<Value> args) {
    NoCaller caller;
    return fn(caller, args);
}

// The message of the RuntimeError the call raises; natives report no position.
std::string failure(NativeFn fn, std::vector<Value> args) {
    try {
        invoke(fn, std::move(args));
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.line, 0);
        EXPECT_EQ(e.column, 0);
        EXPECT_EQ(e.kind, "RuntimeError");
        return e.message;
    }
    ADD_FAILURE() << "the native did not fail";
    return "";
}

// Redirects std::cout (and std::cin, when given input) for one test.
class Console {
public:
    explicit Console(const std::string& input = "") : in_(input) {
        oldOut_ = std::cout.rdbuf(out_.rdbuf());
        oldIn_ = std::cin.rdbuf(in_.rdbuf());
    }
    ~Console() {
        std::cout.rdbuf(oldOut_);
        std::cin.rdbuf(oldIn_);
        std::cin.clear();
    }
    std::string output() const { return out_.str(); }

private:
    std::ostringstream out_;
    std::istringstream in_;
    std::streambuf* oldOut_;
    std::streambuf* oldIn_;
};

Value str(const std::string& s) { return Value::string(s); }
Value integer(int64_t i) { return Value::integer(i); }

void expectInteger(const Value& v, int64_t expected) {
    ASSERT_TRUE(v.isInteger()) << typeName(v);
    EXPECT_EQ(v.asInteger(), expected);
}

void expectFloat(const Value& v, double expected) {
    ASSERT_TRUE(v.isFloat()) << typeName(v);
    EXPECT_EQ(v.asFloat(), expected);
}

Value someNative() {
    auto n = std::make_shared<NativeObj>();
    n->name = "len";
    n->fn = nativeLen;
    return Value::native(std::move(n));
}

TEST(CoreNatives, PrintWritesDisplayFormsSeparatedBySpaces) {
    Console console;
    EXPECT_TRUE(invoke(nativePrint, {}).isNil());
    invoke(nativePrint, {str("a"), integer(1), Value::nil()});
    invoke(nativePrint, {Value::newList({integer(1), str("a")})});
    invoke(nativePrint, {Value::number(2.0), str("x\ny"), Value::boolean(false)});
    EXPECT_EQ(console.output(), "\na 1 nil\n[1, \"a\"]\n2.0 x\ny false\n");
}

TEST(CoreNatives, InputShowsThePromptAndReturnsTheLine) {
    Console console("alice\nbob\r\nlast");
    Value first = invoke(nativeInput, {str("name? ")});
    ASSERT_TRUE(first.isString());
    EXPECT_EQ(first.asString(), "alice");
    EXPECT_EQ(invoke(nativeInput, {}).asString(), "bob\r");
    EXPECT_EQ(invoke(nativeInput, {integer(7)}).asString(), "last");
    EXPECT_TRUE(invoke(nativeInput, {}).isNil());
    EXPECT_TRUE(invoke(nativeInput, {}).isNil());
    EXPECT_EQ(console.output(), "name? 7");
}

TEST(CoreNatives, InputReturnsEmptyLines) {
    Console console("\n");
    Value line = invoke(nativeInput, {});
    ASSERT_TRUE(line.isString());
    EXPECT_EQ(line.asString(), "");
    EXPECT_TRUE(invoke(nativeInput, {}).isNil());
}

TEST(CoreNatives, InputAtEndOfInputIsNil) {
    Console console("");
    EXPECT_TRUE(invoke(nativeInput, {str("> ")}).isNil());
    EXPECT_EQ(console.output(), "> ");
}

TEST(CoreNatives, Type) {
    EXPECT_EQ(invoke(nativeType, {integer(1)}).asString(), "number");
    EXPECT_EQ(invoke(nativeType, {Value::number(1.5)}).asString(), "number");
    EXPECT_EQ(invoke(nativeType, {someNative()}).asString(), "function");
    EXPECT_EQ(invoke(nativeType, {Value::nil()}).asString(), "nil");
    EXPECT_EQ(invoke(nativeType, {Value::boolean(true)}).asString(), "bool");
    EXPECT_EQ(invoke(nativeType, {str("")}).asString(), "string");
    EXPECT_EQ(invoke(nativeType, {Value::newList()}).asString(), "list");
    EXPECT_EQ(invoke(nativeType, {Value::newMap()}).asString(), "map");
}

TEST(CoreNatives, StrAndRepr) {
    EXPECT_EQ(invoke(nativeStr, {str("a\"b")}).asString(), "a\"b");
    EXPECT_EQ(invoke(nativeRepr, {str("a\"b")}).asString(), "\"a\\\"b\"");
    EXPECT_EQ(invoke(nativeStr, {Value::number(3.0)}).asString(), "3.0");
    EXPECT_EQ(invoke(nativeRepr, {integer(3)}).asString(), "3");
    EXPECT_EQ(invoke(nativeStr, {Value::newList({str("x")})}).asString(), "[\"x\"]");
    EXPECT_EQ(invoke(nativeStr, {someNative()}).asString(), "<native function len>");
}

TEST(CoreNatives, NumOfBoolsAndNumbers) {
    expectInteger(invoke(nativeNum, {Value::boolean(true)}), 1);
    expectInteger(invoke(nativeNum, {Value::boolean(false)}), 0);
    expectInteger(invoke(nativeNum, {integer(-5)}), -5);
    expectFloat(invoke(nativeNum, {Value::number(2.5)}), 2.5);
}

TEST(CoreNatives, NumOfStrings) {
    expectInteger(invoke(nativeNum, {str("42")}), 42);
    expectInteger(invoke(nativeNum, {str(" 42")}), 42);
    expectInteger(invoke(nativeNum, {str("\t\n-7")}), -7);
    expectInteger(invoke(nativeNum, {str("+8")}), 8);
    expectInteger(invoke(nativeNum, {str("-9223372036854775808")}), INT64_MIN);
    expectFloat(invoke(nativeNum, {str("42 ")}), 42.0);
    expectFloat(invoke(nativeNum, {str("4.5")}), 4.5);
    expectFloat(invoke(nativeNum, {str("1e3")}), 1000.0);
    expectFloat(invoke(nativeNum, {str("2E2")}), 200.0);
    expectFloat(invoke(nativeNum, {str("12abc")}), 12.0);
    expectFloat(invoke(nativeNum, {str(".5")}), 0.5);
    expectFloat(invoke(nativeNum, {str("3.")}), 3.0);
    expectFloat(invoke(nativeNum, {str("1.5xyz")}), 1.5);
    expectFloat(invoke(nativeNum, {str("0x10")}), 16.0);
    expectFloat(invoke(nativeNum, {str(std::string("4\0", 2))}), 4.0);
    const Value inf = invoke(nativeNum, {str("-inf.")});
    ASSERT_TRUE(inf.isFloat());
    EXPECT_TRUE(std::isinf(inf.asFloat()) && inf.asFloat() < 0);
}

TEST(CoreNatives, NumFailures) {
    EXPECT_EQ(failure(nativeNum, {str("abc")}), "num: cannot convert \"abc\" to a number");
    EXPECT_EQ(failure(nativeNum, {str("")}), "num: cannot convert \"\" to a number");
    EXPECT_EQ(failure(nativeNum, {str("-")}), "num: cannot convert \"-\" to a number");
    EXPECT_EQ(failure(nativeNum, {str("   ")}), "num: cannot convert \"   \" to a number");
    EXPECT_EQ(failure(nativeNum, {str(".")}), "num: cannot convert \".\" to a number");
    EXPECT_EQ(failure(nativeNum, {str("e5")}), "num: cannot convert \"e5\" to a number");
    EXPECT_EQ(failure(nativeNum, {str("inf")}), "num: cannot convert \"inf\" to a number");
    EXPECT_EQ(failure(nativeNum, {str("99999999999999999999")}),
              "num: cannot convert \"99999999999999999999\" to a number");
    EXPECT_EQ(failure(nativeNum, {str("1e999")}), "num: cannot convert \"1e999\" to a number");
    EXPECT_EQ(failure(nativeNum, {str("1e-999")}), "num: cannot convert \"1e-999\" to a number");
    EXPECT_EQ(failure(nativeNum, {Value::nil()}), "num: cannot convert nil to a number");
    EXPECT_EQ(failure(nativeNum, {Value::newList()}), "num: cannot convert list to a number");
    EXPECT_EQ(failure(nativeNum, {Value::newMap()}), "num: cannot convert map to a number");
    EXPECT_EQ(failure(nativeNum, {someNative()}), "num: cannot convert function to a number");
}

TEST(CoreNatives, IntOfBoolsAndNumbers) {
    expectInteger(invoke(nativeInt, {Value::boolean(true)}), 1);
    expectInteger(invoke(nativeInt, {Value::boolean(false)}), 0);
    expectInteger(invoke(nativeInt, {integer(INT64_MAX)}), INT64_MAX);
    expectInteger(invoke(nativeInt, {Value::number(3.9)}), 3);
    expectInteger(invoke(nativeInt, {Value::number(-3.9)}), -3);
    expectInteger(invoke(nativeInt, {Value::number(NAN)}), INT64_MIN);
    expectInteger(invoke(nativeInt, {Value::number(INFINITY)}), INT64_MIN);
    expectInteger(invoke(nativeInt, {Value::number(-INFINITY)}), INT64_MIN);
    expectInteger(invoke(nativeInt, {Value::number(1e19)}), INT64_MIN);
}

TEST(CoreNatives, IntOfStrings) {
    expectInteger(invoke(nativeInt, {str("3.9")}), 3);
    expectInteger(invoke(nativeInt, {str("12abc")}), 12);
    expectInteger(invoke(nativeInt, {str("  -40 ")}), -40);
    expectInteger(invoke(nativeInt, {str("1e5")}), 1);
    expectInteger(invoke(nativeInt, {str("9223372036854775807")}), INT64_MAX);
}

TEST(CoreNatives, IntFailures) {
    EXPECT_EQ(failure(nativeInt, {str("x")}), "int: cannot convert \"x\" to an integer");
    EXPECT_EQ(failure(nativeInt, {str("")}), "int: cannot convert \"\" to an integer");
    EXPECT_EQ(failure(nativeInt, {str(".5")}), "int: cannot convert \".5\" to an integer");
    EXPECT_EQ(failure(nativeInt, {str("9223372036854775808")}),
              "int: cannot convert \"9223372036854775808\" to an integer");
    EXPECT_EQ(failure(nativeInt, {Value::newList({integer(1)})}), "int: cannot convert list to an integer");
    EXPECT_EQ(failure(nativeInt, {Value::nil()}), "int: cannot convert nil to an integer");
    EXPECT_EQ(failure(nativeInt, {Value::newMap()}), "int: cannot convert map to an integer");
}

TEST(CoreNatives, BoolIsTruthiness) {
    EXPECT_FALSE(invoke(nativeBool, {Value::nil()}).asBool());
    EXPECT_FALSE(invoke(nativeBool, {Value::boolean(false)}).asBool());
    EXPECT_TRUE(invoke(nativeBool, {integer(0)}).asBool());
    EXPECT_TRUE(invoke(nativeBool, {str("")}).asBool());
    EXPECT_TRUE(invoke(nativeBool, {Value::newList()}).asBool());
}

TEST(CoreNatives, LenCountsBytesElementsAndEntries) {
    expectInteger(invoke(nativeLen, {str("h\xc3\xa9llo")}), 6);
    expectInteger(invoke(nativeLen, {str("")}), 0);
    expectInteger(invoke(nativeLen, {str(std::string("a\0b", 3))}), 3);
    expectInteger(invoke(nativeLen, {Value::newList({integer(1), integer(2)})}), 2);
    expectInteger(invoke(nativeLen, {Value::newMap()}), 0);
    Value m = Value::newMap();
    m.asMap()->set(str("k"), integer(1));
    expectInteger(invoke(nativeLen, {m}), 1);
}

TEST(CoreNatives, LenFailures) {
    EXPECT_EQ(failure(nativeLen, {integer(5)}), "len: number has no length");
    EXPECT_EQ(failure(nativeLen, {Value::nil()}), "len: nil has no length");
    EXPECT_EQ(failure(nativeLen, {Value::boolean(true)}), "len: bool has no length");
    EXPECT_EQ(failure(nativeLen, {someNative()}), "len: function has no length");
}

TEST(CoreNatives, AssertReturnsTheCondition) {
    expectInteger(invoke(nativeAssert, {integer(7)}), 7);
    EXPECT_TRUE(invoke(nativeAssert, {Value::boolean(true), str("unused")}).asBool());
    Value l = Value::newList();
    EXPECT_EQ(invoke(nativeAssert, {l}).asList(), l.asList());
}

TEST(CoreNatives, AssertFailures) {
    EXPECT_EQ(failure(nativeAssert, {Value::boolean(false)}), "assertion failed");
    EXPECT_EQ(failure(nativeAssert, {Value::nil()}), "assertion failed");
    EXPECT_EQ(failure(nativeAssert, {Value::boolean(false), str("bad order")}), "bad order");
    EXPECT_EQ(failure(nativeAssert, {Value::nil(), integer(42)}), "42");
    EXPECT_EQ(failure(nativeAssert, {Value::nil(), Value::nil()}), "nil");
    EXPECT_EQ(failure(nativeAssert, {Value::nil(), Value::newList({str("a")})}), "[\"a\"]");
}

TEST(CoreNatives, ErrorWithoutArgumentThrowsTheStringError) {
    try {
        invoke(nativeError, {});
        ADD_FAILURE() << "error returned";
    } catch (const ThrownValue& thrown) {
        ASSERT_TRUE(thrown.value.isString());
        EXPECT_EQ(thrown.value.asString(), "error");
    }
}

TEST(CoreNatives, ErrorThrowsTheVeryValue) {
    Value m = Value::newMap();
    m.asMap()->set(str("code"), integer(1));
    try {
        invoke(nativeError, {m});
        ADD_FAILURE() << "error returned";
    } catch (const ThrownValue& thrown) {
        ASSERT_TRUE(thrown.value.isMap());
        EXPECT_EQ(thrown.value.asMap(), m.asMap());
    }
    try {
        invoke(nativeError, {Value::nil()});
        ADD_FAILURE() << "error returned";
    } catch (const ThrownValue& thrown) {
        EXPECT_TRUE(thrown.value.isNil());
    }
}

TEST(CoreNatives, ClockIsMonotonicFloatSeconds) {
    const Value a = invoke(nativeClock, {});
    const Value b = invoke(nativeClock, {});
    ASSERT_TRUE(a.isFloat());
    ASSERT_TRUE(b.isFloat());
    EXPECT_GE(b.asFloat(), a.asFloat());
    EXPECT_LT(b.asFloat() - a.asFloat(), 10.0);
}

TEST(CoreNatives, CopyIsShallow) {
    Value inner = Value::newList({integer(1)});
    Value outer = Value::newList({inner});
    Value copied = invoke(nativeCopy, {outer});
    ASSERT_TRUE(copied.isList());
    EXPECT_NE(copied.asList(), outer.asList());
    ASSERT_EQ(copied.asList()->size(), 1u);
    EXPECT_EQ((*copied.asList())[0].asList(), inner.asList());
    copied.asList()->push_back(integer(2));
    EXPECT_EQ(outer.asList()->size(), 1u);
}

TEST(CoreNatives, CopyOfAMapKeepsOrder) {
    Value m = Value::newMap();
    m.asMap()->set(str("b"), integer(1));
    m.asMap()->set(integer(2), Value::newList());
    Value copied = invoke(nativeCopy, {m});
    ASSERT_TRUE(copied.isMap());
    EXPECT_NE(copied.asMap(), m.asMap());
    ASSERT_EQ(copied.asMap()->size(), 2u);
    EXPECT_EQ(copied.asMap()->entries[0].first.asString(), "b");
    EXPECT_EQ(copied.asMap()->entries[1].first.asInteger(), 2);
    EXPECT_EQ(copied.asMap()->entries[1].second.asList(), m.asMap()->entries[1].second.asList());
    copied.asMap()->set(str("c"), Value::nil());
    EXPECT_EQ(m.asMap()->size(), 2u);
}

TEST(CoreNatives, CopyReturnsOtherValuesUnchanged) {
    expectInteger(invoke(nativeCopy, {integer(3)}), 3);
    EXPECT_EQ(invoke(nativeCopy, {str("s")}).asString(), "s");
    EXPECT_TRUE(invoke(nativeCopy, {Value::nil()}).isNil());
    Value f = someNative();
    EXPECT_EQ(invoke(nativeCopy, {f}).asNative(), f.asNative());
}

TEST(CoreNatives, Predicates) {
    EXPECT_TRUE(invoke(nativeIsNumber, {Value::number(1.0)}).asBool());
    EXPECT_TRUE(invoke(nativeIsNumber, {integer(1)}).asBool());
    EXPECT_FALSE(invoke(nativeIsNumber, {str("1")}).asBool());
    EXPECT_TRUE(invoke(nativeIsString, {str("")}).asBool());
    EXPECT_FALSE(invoke(nativeIsString, {integer(0)}).asBool());
    EXPECT_TRUE(invoke(nativeIsList, {Value::newList()}).asBool());
    EXPECT_FALSE(invoke(nativeIsList, {Value::newMap()}).asBool());
    EXPECT_TRUE(invoke(nativeIsMap, {Value::newMap()}).asBool());
    EXPECT_FALSE(invoke(nativeIsMap, {Value::newList()}).asBool());
    EXPECT_TRUE(invoke(nativeIsNil, {Value::nil()}).asBool());
    EXPECT_FALSE(invoke(nativeIsNil, {Value::boolean(false)}).asBool());
    EXPECT_TRUE(invoke(nativeIsBool, {Value::boolean(false)}).asBool());
    EXPECT_FALSE(invoke(nativeIsBool, {Value::nil()}).asBool());
    EXPECT_TRUE(invoke(nativeIsFunction, {someNative()}).asBool());
    EXPECT_FALSE(invoke(nativeIsFunction, {str("len")}).asBool());
}

}  // namespace
}  // namespace ferrow
