#pragma once
// Embedding Ferrow in a C++ program.
//
//     #include <ferrow/ferrow.h>
//
//     ferrow::api::Engine engine;
//     engine.define("twice", [](ferrow::api::Args& args) {
//         return ferrow::api::Value(args.number(0) * 2);
//     }, 1, 1);
//     ferrow::api::Result result = engine.run("return twice(21)", "answer");
//     if (result) std::cout << result.value().toDouble().value_or(0) << "\n";
//     else std::cerr << result.error().text << "\n";
//
// An Engine runs source text on the bytecode VM (or, on request, the
// tree-walking interpreter) in globals of its own that persist from one run
// to the next. Every entry point reports failure through its return value;
// no exception leaves this API unless the host asks for one (Result::orThrow),
// except std::bad_alloc when making an Engine or converting a C++ value to a
// Value finds the heap full (inside run and call, that is an "OutOfMemory"
// error like any other).
//
// Recursion. The VM keeps script calls off the native stack; the
// tree-walker, and callbacks from host functions, use the calling thread's
// stack and stop with "call stack overflow" before it runs out, so on a
// small thread stack that error comes sooner.
//
// Threads and memory. An engine and every Value belong to the thread that
// made them: values are counted in that thread's heap, which all engines on
// the thread share, together with its memory limit and its cycle collector.
// No script can observe the other engines through it (their globals, values
// and output stay apart), but a script that fills the heap makes allocations
// fail for the other engines of the thread too. Engines on different threads
// have heaps of their own.
//
// Names in this header live in ferrow::api; nothing here depends on the
// implementation's own headers.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace ferrow::api {

class Engine;
struct Access;  // the implementation's way in

// A script value held by the host: nil, a bool, an integer, a float, a
// string, a list, a map or a function. Holding one keeps it alive across
// runs, and across the engine's collections. Lists and maps are shared, as in
// scripts: a Value copy refers to the same list.
class Value {
public:
    enum class Kind { Nil, Bool, Integer, Float, String, List, Map, Function };

    Value() noexcept;  // nil
    Value(std::nullptr_t) noexcept : Value() {}
    Value(bool b);
    // Every integral type but bool becomes an integer (unsigned values beyond
    // INT64_MAX wrap in two's complement).
    template <typename T,
              std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
    Value(T i) : Value(Integer{static_cast<int64_t>(i)}) {}
    Value(double d);
    Value(std::string_view s);
    Value(const char* s) : Value(std::string_view(s)) {}
    Value(const std::string& s) : Value(std::string_view(s)) {}
    // A new list or map of converted elements.
    template <typename T>
    Value(const std::vector<T>& elements) : Value(listOf(elements)) {}
    template <typename T>
    Value(const std::map<std::string, T>& entries) : Value(mapOf(entries)) {}

    Value(const Value& other);
    Value(Value&& other) noexcept;
    Value& operator=(const Value& other);
    Value& operator=(Value&& other) noexcept;
    ~Value();

    Kind kind() const noexcept;
    bool isNil() const noexcept { return kind() == Kind::Nil; }
    bool isFunction() const noexcept { return kind() == Kind::Function; }
    // The language's name for the type: "nil", "bool", "number", "string",
    // "list", "map" or "function".
    std::string typeName() const;

    // Conversions: nothing when the value is of another kind. toInt takes
    // integers only; toDouble takes integers and floats; toMap needs string
    // keys.
    std::optional<bool> toBool() const;
    std::optional<int64_t> toInt() const;
    std::optional<double> toDouble() const;
    std::optional<std::string> toString() const;  // the bytes of a string
    std::optional<std::vector<Value>> toList() const;
    std::optional<std::map<std::string, Value>> toMap() const;
    // The same for any of bool, int64_t, double, std::string, Value, and
    // vectors and string-keyed maps of those, converted element by element.
    // Keep the result in a variable before iterating over it: in
    // `for (auto x : *v.to<std::vector<int64_t>>())` the vector is gone
    // before the loop starts.
    template <typename T>
    std::optional<T> to() const;

    // How scripts show the value: str(v) and repr(v).
    std::string display() const;
    std::string repr() const;

    // Scripts' == : numbers by value, strings by bytes, lists, maps and
    // functions by identity.
    friend bool operator==(const Value& a, const Value& b);

private:
    friend struct Access;
    struct Impl;
    struct Integer {
        int64_t value;
    };
    explicit Value(Integer i);
    static Value list(std::vector<Value> elements);
    static Value map(std::vector<std::pair<std::string, Value>> entries);
    template <typename T>
    static Value listOf(const std::vector<T>& elements) {
        std::vector<Value> values(elements.begin(), elements.end());
        return list(std::move(values));
    }
    template <typename T>
    static Value mapOf(const std::map<std::string, T>& entries) {
        std::vector<std::pair<std::string, Value>> pairs;
        for (const auto& [key, value] : entries) pairs.emplace_back(key, Value(value));
        return map(std::move(pairs));
    }

    std::unique_ptr<Impl> impl_;  // null for nil
};

// Why a run or a call failed.
struct Error {
    // "SyntaxError (lexing)", "SyntaxError", "CompileError", "RuntimeError";
    // "Error" for a value raised with error() that no try caught;
    // "OutOfMemory" when the heap's limit was reached; "InternalError" for a
    // failure inside the implementation; "UsageError" for misuse of this API.
    std::string kind;
    std::string message;
    int line = 0;    // 1-based; 0 when unknown
    int column = 0;  // 1-based byte column; 0 when unknown
    // Exactly what the command line prints for it on standard error (without
    // the final line feed), source excerpt included.
    std::string text;
    // For kind "Error", the raised value itself.
    Value thrown;
};

// Thrown only where the host asks for exceptions (Result::orThrow).
class Exception : public std::runtime_error {
public:
    explicit Exception(Error error) : std::runtime_error(error.text), error_(std::move(error)) {}
    const Error& error() const noexcept { return error_; }

private:
    Error error_;
};

// The outcome of a run or a call: a value or an error.
class Result {
public:
    Result(Value value) : value_(std::move(value)) {}
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const noexcept { return !error_.has_value(); }
    explicit operator bool() const noexcept { return ok(); }
    // The script's value (a run's top-level `return`, else nil); nil after
    // an error.
    const Value& value() const noexcept { return value_; }
    // Only after a failure.
    const Error& error() const { return *error_; }
    // The value, or an Exception carrying the error.
    const Value& orThrow() const {
        if (error_) throw Exception(*error_);
        return value_;
    }
    // Set when the script called exit(status), which ended the run (or the
    // call) there: the status, 0 to 255. Such a result is ok() with a nil
    // value, since exit is no failure; a host that gives statuses a meaning
    // reads them here. The engine stays usable. When the script code was
    // called from inside a host function, the run that called the host
    // function ends too, as soon as the host function returns.
    std::optional<int> exitStatus() const noexcept { return exitStatus_; }

private:
    friend struct Access;
    Value value_;
    std::optional<Error> error_;
    std::optional<int> exitStatus_;
};

// Thrown inside a host function to fail the script's call with `message`,
// exactly as a native fails: scripts can catch it with try, and an uncaught
// one is reported as "RuntimeError: <message>" at the call. The argument
// helpers of Args throw it.
class ScriptError : public std::runtime_error {
public:
    explicit ScriptError(const std::string& message) : std::runtime_error(message) {}
};

// The arguments of one call of a host function. The checked accessors fail
// the call with the messages the built-in functions give, for example
// "scale: expected a number, got string".
class Args {
public:
    std::size_t size() const noexcept { return count_; }
    const std::string& name() const noexcept { return name_; }  // the function's
    Engine& engine() const noexcept { return engine_; }

    // Any argument; nil past the end.
    Value operator[](std::size_t i) const;
    // A number as a double (integers converted).
    double number(std::size_t i) const;
    // An integer, or a float truncated toward zero.
    int64_t integer(std::size_t i) const;
    bool boolean(std::size_t i) const;
    // Valid until the host function returns.
    std::string_view string(std::size_t i) const;
    std::vector<Value> list(std::size_t i) const;
    std::map<std::string, Value> map(std::size_t i) const;
    Value function(std::size_t i) const;
    // Fails the call with "<name>: <message>".
    [[noreturn]] void fail(const std::string& message) const;

    // Made by the engine for each call.
    Args(Engine& engine, const std::string& name, void* values, std::size_t count)
        : engine_(engine), name_(name), values_(values), count_(count) {}

private:
    const void* at(std::size_t i, bool (*accept)(const void*), const char* expected) const;

    Engine& engine_;
    const std::string& name_;
    void* values_;  // the engine's own argument array
    std::size_t count_;
};

// A function scripts can call. It returns the call's value (nil by default
// construction) and reports failure by throwing: ScriptError for a message of
// its own, any other std::exception becomes "<name>: <what()>", anything else
// "<name>: unknown C++ exception". None of these reaches the host's caller
// of run or call other than as an Error.
using HostFunction = std::function<Value(Args&)>;

enum class Backend { VM, TreeWalker };

struct Options {
    Backend backend = Backend::VM;
    // Where print (and input's prompt) write; standard output when empty.
    // eprint always writes to standard error, and a script's args() is the
    // empty list.
    std::function<void(std::string_view)> output;
    // See Engine::setStepBudget; 0 means no limit.
    uint64_t stepBudget = 0;
};

class Engine {
public:
    // Fresh globals holding the built-in functions.
    explicit Engine(Options options = {});
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Runs a program in this engine's globals; `name` is the source name
    // errors show ("--> name:3:7"). The result is the value of a top-level
    // `return`, else nil. Function values made by a run stay callable for
    // as long as the engine lives.
    Result run(std::string_view source, std::string_view name = "<script>");
    // The same for a file (named by its path); a file that cannot be read is
    // a UsageError "cannot open <path>".
    Result runFile(const std::string& path);

    // Calls a function value (a script's or a host function) with arguments.
    // An error's text names the source of the latest run, without an excerpt.
    // It may be called from inside a host function, which is how a host
    // function calls back into a script.
    Result call(const Value& function, std::vector<Value> args = {});
    // Calls the global function of that name.
    Result call(std::string_view globalName, std::vector<Value> args = {});
    Result call(const char* globalName, std::vector<Value> args = {}) {
        return call(std::string_view(globalName), std::move(args));
    }
    Result call(const std::string& globalName, std::vector<Value> args = {}) {
        return call(std::string_view(globalName), std::move(args));
    }

    // On the tree-walker, a value holding a function of another tree-walker
    // engine gives a UsageError and is not set (the same goes for call's
    // arguments and host functions' results).
    Result set(std::string_view name, const Value& value);
    // Nothing when the name is not bound.
    std::optional<Value> get(std::string_view name) const;

    // Defines a global function. minArity and maxArity bound the number of
    // arguments (maxArity -1: no bound); a call outside them fails with
    // "<name>() expects 1-2 argument(s), got 3" before the function runs.
    // Bounds that make no sense (a negative minimum, a maximum below it) or
    // an empty function give a UsageError and define nothing.
    Result define(std::string_view name, HostFunction function, int minArity = 0,
                  int maxArity = -1);

    // Bounds every run and every call from the host by the number of loop
    // iterations and function calls it may start; past it the run fails
    // with "execution budget exhausted", which a try in the script cannot
    // stop. 0 means no limit (the default). Each run or call from the host
    // gets the whole budget afresh; calls made from inside a host function
    // share the budget of the run they are part of.
    void setStepBudget(uint64_t steps);

    void setOutput(std::function<void(std::string_view)> output);

    Backend backend() const noexcept;

    struct Impl;

private:
    friend struct Access;
    std::unique_ptr<Impl> impl_;
};

template <typename T>
std::optional<T> Value::to() const {
    if constexpr (std::is_same_v<T, Value>) {
        return *this;
    } else if constexpr (std::is_same_v<T, bool>) {
        return toBool();
    } else if constexpr (std::is_same_v<T, int64_t>) {
        return toInt();
    } else if constexpr (std::is_same_v<T, double>) {
        return toDouble();
    } else if constexpr (std::is_same_v<T, std::string>) {
        return toString();
    } else if constexpr (std::is_same_v<T, std::vector<typename T::value_type>>) {
        auto elements = toList();
        if (!elements) return std::nullopt;
        T out;
        for (const Value& element : *elements) {
            auto converted = element.to<typename T::value_type>();
            if (!converted) return std::nullopt;
            out.push_back(std::move(*converted));
        }
        return out;
    } else {
        static_assert(std::is_same_v<T, std::map<std::string, typename T::mapped_type>>,
                      "Value::to supports bool, int64_t, double, std::string, Value, "
                      "and vectors and string-keyed maps of those");
        auto entries = toMap();
        if (!entries) return std::nullopt;
        T out;
        for (const auto& [key, value] : *entries) {
            auto converted = value.template to<typename T::mapped_type>();
            if (!converted) return std::nullopt;
            out.emplace(key, std::move(*converted));
        }
        return out;
    }
}

}  // namespace ferrow::api
