// The embedding interface (include/ferrow/ferrow.h) over the engines.
//
// Host functions are natives that all share one NativeFn, hostTrampoline.
// The engine that calls it is a HostVM or a HostInterpreter, which knows its
// Engine; the Engine keeps the host's callables in a table keyed by the
// NativeObj that the engines name in Caller::currentNative. So a native value
// carries no host state, and one defined by another engine is refused rather
// than run with the wrong callable.

#include "ferrow/ferrow.h"

#include <deque>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "compiler/Compiler.h"
#include "driver/Diagnostics.h"
#include "driver/SourceRun.h"
#include "front/Lexer.h"
#include "front/Parser.h"
#include "interp/Interpreter.h"
#include "natives/Registry.h"
#include "value/Errors.h"
#include "value/TextForm.h"
#include "vm/VM.h"

namespace ferrow::api {

using Internal = ferrow::Value;

struct Value::Impl {
    Internal value;
};

struct Access {
    static Value wrap(Internal v) {
        Value out;
        if (!v.isNil()) out.impl_ = std::make_unique<Value::Impl>(Value::Impl{std::move(v)});
        return out;
    }
    static const Internal& raw(const Value& v) {
        static const Internal nil;
        return v.impl_ ? v.impl_->value : nil;
    }
    static Result exited(int status) {
        Result result{Value()};
        result.exitStatus_ = status;
        return result;
    }
};

namespace {

Internal raw(const Value& v) { return Access::raw(v); }

struct EngineLink {
    Engine::Impl* engine = nullptr;
};

void writeOutput(Engine::Impl& engine, std::string_view text);

class HostVM final : public VM, public EngineLink {
public:
    void write(std::string_view text) override { writeOutput(*engine, text); }
};

class HostInterpreter final : public Interpreter, public EngineLink {
public:
    void write(std::string_view text) override { writeOutput(*engine, text); }
};

struct HostEntry {
    Internal native;  // keeps the NativeObj, the table's key, alive
    std::string name;
    HostFunction function;
};

Internal hostTrampoline(Caller& caller, ferrow::Args args);

// Tree-walker engines made on this thread so far. A function of the
// tree-walker points into the syntax trees of the engine that made it, which
// go with that engine; once a second one has existed, values coming in from
// the host are checked for another engine's functions.
thread_local int treeEnginesMade = 0;

// The root scope of a tree-walker function: the globals of its engine.
const Environment* rootScope(const FunctionObj& function) {
    const Environment* scope = function.closure.get();
    while (scope && scope->parent) scope = scope->parent.get();
    return scope;
}

// Whether `value`, or a list or map it reaches, holds a tree-walker function
// whose root scope is not `globals`.
bool holdsForeignTreeFunction(const Internal& value, const Environment* globals) {
    if (treeEnginesMade <= 1) return false;
    std::vector<const Internal*> pending{&value};
    std::unordered_set<const void*> seen;
    while (!pending.empty()) {
        const Internal& v = *pending.back();
        pending.pop_back();
        if (v.isTreeFunction()) {
            if (rootScope(*v.asTreeFunction()) != globals) return true;
        } else if (v.isList() && seen.insert(v.asObject()).second) {
            for (const Internal& element : *v.asList()) pending.push_back(&element);
        } else if (v.isMap() && seen.insert(v.asObject()).second) {
            v.asMap()->forEach(
                [&](const Internal&, const Internal& entry) { pending.push_back(&entry); });
        }
    }
    return false;
}

Error usageError(std::string message) {
    Error error;
    error.kind = "UsageError";
    error.text = "ferrow: " + message;
    error.message = std::move(message);
    return error;
}

}  // namespace

struct Engine::Impl {
    Impl(Engine& self, Options options) : self(self), options(std::move(options)) {
        if (this->options.backend == Backend::VM) {
            vm = std::make_unique<HostVM>();
            vm->engine = this;
        } else {
            tree = std::make_unique<HostInterpreter>();
            tree->engine = this;
            ++treeEnginesMade;
        }
    }

    // Only the tree-walker could be led astray by another engine's function;
    // the VM refuses to call them ("function is not callable").
    bool foreign(const Internal& value) const {
        return tree && holdsForeignTreeFunction(value, tree->globals.get());
    }

    EnvPtr& globals() { return vm ? vm->globals : tree->globals; }
    Caller& caller() { return vm ? static_cast<Caller&>(*vm) : static_cast<Caller&>(*tree); }

    // Runs `body` as one entry from the host: the outermost entry gets the
    // whole step budget, and whatever escapes becomes the result's error.
    template <typename Body>
    Result enter(const std::string& source, const std::string& name, Body&& body) {
        if (depth == 0) {
            const uint64_t steps = options.stepBudget == 0 ? UINT64_MAX : options.stepBudget;
            if (vm) vm->setStepBudget(steps);
            else tree->setStepBudget(steps);
        }
        struct Depth {
            int& depth;
            explicit Depth(int& d) : depth(d) { ++depth; }
            ~Depth() { --depth; }
        } nested(depth);
        Error error;
        try {
            return Result(Access::wrap(body()));
        } catch (const ExitRequest& exit) {
            // Inside a host function the run that called it must end too:
            // hostTrampoline raises the exit again once the host returns.
            if (depth > 1) pendingExit = exit.status;
            return Access::exited(exit.status);
        } catch (const FerrowError& failure) {
            error.kind = failure.kind;
            error.message = failure.message;
            error.line = failure.line;
            error.column = failure.column;
            error.text = formatError(failure, source, name);
        } catch (const ThrownValue& thrown) {
            error.kind = "Error";
            error.message = toString(thrown.value);
            error.text = "Error: " + error.message;
            error.thrown = Access::wrap(thrown.value);
        } catch (const std::bad_alloc&) {
            error.kind = "OutOfMemory";
            error.message = "out of memory";
            error.text = "ferrow: out of memory";
        } catch (const std::exception& failure) {
            error.kind = "InternalError";
            error.message = failure.what();
            error.text = std::string("ferrow: internal error: ") + failure.what();
        }
        return Result(std::move(error));
    }

    Engine& self;
    Options options;
    // Function values point into the code of the run that made them, and
    // the VM's global caches are keyed by code addresses: every run's code
    // lives as long as the engine.
    std::deque<Block> trees;
    std::vector<std::shared_ptr<FunctionProto>> protos;
    std::unordered_map<const NativeObj*, HostEntry> hosts;
    std::string lastName = "<script>";  // for errors inside calls
    int depth = 0;                      // entries from the host in progress
    std::optional<int> pendingExit;     // an exit inside a host function's call
    std::unique_ptr<HostVM> vm;
    std::unique_ptr<HostInterpreter> tree;
};

namespace {

void writeOutput(Engine::Impl& engine, std::string_view text) {
    if (!engine.options.output) {
        engine.caller().Caller::write(text);
        return;
    }
    try {
        engine.options.output(text);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& failure) {
        nativeFail(std::string("output failed: ") + failure.what());
    } catch (...) {
        nativeFail("output failed");
    }
}

Internal hostTrampoline(Caller& caller, ferrow::Args args) {
    const NativeObj* native = caller.currentNative;
    const std::string name = native ? native->name : std::string("host function");
    auto* link = dynamic_cast<EngineLink*>(&caller);
    if (!link) nativeFail(name + ": called outside its engine");
    auto& hosts = link->engine->hosts;
    auto entry = hosts.find(native);
    if (entry == hosts.end()) nativeFail(name + ": defined by another engine");
    // The table never drops an entry, and its nodes never move: the entry
    // outlives the call even if the function defines others.
    const HostEntry& host = entry->second;
    Args hostArgs(link->engine->self, host.name, &args, args.size());
    Internal result;
    std::optional<std::string> failure;
    try {
        result = raw(host.function(hostArgs));
    } catch (const ScriptError& error) {
        failure = error.what();
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& error) {
        failure = host.name + ": " + error.what();
    } catch (...) {
        failure = host.name + ": unknown C++ exception";
    }
    // A script's exit during the host function outweighs how it returned.
    if (const std::optional<int> status = std::exchange(link->engine->pendingExit, std::nullopt)) {
        throw ExitRequest{*status};
    }
    if (failure) nativeFail(*failure);
    if (link->engine->foreign(result)) {
        nativeFail(host.name + ": returned another engine's function");
    }
    return result;
}

const Internal& argAt(void* values, std::size_t count, std::size_t i) {
    static const Internal nil;
    return i < count ? (*static_cast<ferrow::Args*>(values))[i] : nil;
}

}  // namespace

// ---------------------------------------------------------------------------
// Value

Value::Value() noexcept = default;
Value::Value(bool b) : impl_(std::make_unique<Impl>(Impl{Internal::boolean(b)})) {}
Value::Value(Integer i) : impl_(std::make_unique<Impl>(Impl{Internal::integer(i.value)})) {}
Value::Value(double d) : impl_(std::make_unique<Impl>(Impl{Internal::number(d)})) {}
Value::Value(std::string_view s) : impl_(std::make_unique<Impl>(Impl{Internal::string(s)})) {}
Value::Value(const Value& other)
    : impl_(other.impl_ ? std::make_unique<Impl>(*other.impl_) : nullptr) {}
Value::Value(Value&& other) noexcept = default;
Value& Value::operator=(const Value& other) {
    if (this != &other) impl_ = other.impl_ ? std::make_unique<Impl>(*other.impl_) : nullptr;
    return *this;
}
Value& Value::operator=(Value&& other) noexcept = default;
Value::~Value() = default;

Value Value::list(std::vector<Value> elements) {
    ValueVector values;
    values.reserve(elements.size());
    for (const Value& element : elements) values.push_back(raw(element));
    return Access::wrap(Internal::newList(std::move(values)));
}

Value Value::map(std::vector<std::pair<std::string, Value>> entries) {
    Internal out = Internal::newMap();
    for (const auto& [key, value] : entries) out.asMap()->set(Internal::string(key), raw(value));
    return Access::wrap(std::move(out));
}

Value::Kind Value::kind() const noexcept {
    switch (Access::raw(*this).kind()) {
        case Internal::Kind::Nil: return Kind::Nil;
        case Internal::Kind::Bool: return Kind::Bool;
        case Internal::Kind::Integer: return Kind::Integer;
        case Internal::Kind::Float: return Kind::Float;
        case Internal::Kind::String: return Kind::String;
        case Internal::Kind::List: return Kind::List;
        case Internal::Kind::Map: return Kind::Map;
        default: return Kind::Function;
    }
}

std::string Value::typeName() const { return ferrow::typeName(Access::raw(*this)); }

std::optional<bool> Value::toBool() const {
    const Internal& v = Access::raw(*this);
    if (!v.isBool()) return std::nullopt;
    return v.asBool();
}

std::optional<int64_t> Value::toInt() const {
    const Internal& v = Access::raw(*this);
    if (!v.isInteger()) return std::nullopt;
    return v.asInteger();
}

std::optional<double> Value::toDouble() const {
    const Internal& v = Access::raw(*this);
    if (!v.isNumber()) return std::nullopt;
    return asDouble(v);
}

std::optional<std::string> Value::toString() const {
    const Internal& v = Access::raw(*this);
    if (!v.isString()) return std::nullopt;
    return std::string(v.asString());
}

std::optional<std::vector<Value>> Value::toList() const {
    const Internal& v = Access::raw(*this);
    if (!v.isList()) return std::nullopt;
    std::vector<Value> out;
    out.reserve(v.asList()->size());
    for (const Internal& element : *v.asList()) out.push_back(Access::wrap(element));
    return out;
}

std::optional<std::map<std::string, Value>> Value::toMap() const {
    const Internal& v = Access::raw(*this);
    if (!v.isMap()) return std::nullopt;
    std::map<std::string, Value> out;
    bool stringKeys = true;
    v.asMap()->forEach([&](const Internal& key, const Internal& value) {
        if (!key.isString()) {
            stringKeys = false;
            return;
        }
        out.emplace(std::string(key.asString()), Access::wrap(value));
    });
    if (!stringKeys) return std::nullopt;
    return out;
}

std::string Value::display() const { return ferrow::toString(Access::raw(*this)); }
std::string Value::repr() const { return toRepr(Access::raw(*this)); }

bool operator==(const Value& a, const Value& b) {
    return valuesEqual(Access::raw(a), Access::raw(b));
}

// ---------------------------------------------------------------------------
// Args

Value Args::operator[](std::size_t i) const { return Access::wrap(argAt(values_, count_, i)); }

const void* Args::at(std::size_t i, bool (*accept)(const void*), const char* expected) const {
    const Internal& v = argAt(values_, count_, i);
    if (!accept(&v)) fail(std::string("expected ") + expected + ", got " + ferrow::typeName(v));
    return &v;
}

namespace {

const Internal& as(const void* v) { return *static_cast<const Internal*>(v); }
bool isNumber(const void* v) { return as(v).isNumber(); }
bool isBool(const void* v) { return as(v).isBool(); }
bool isString(const void* v) { return as(v).isString(); }
bool isList(const void* v) { return as(v).isList(); }
bool isMap(const void* v) { return as(v).isMap(); }
bool isFunction(const void* v) { return as(v).isFunction(); }

}  // namespace

double Args::number(std::size_t i) const { return asDouble(as(at(i, isNumber, "a number"))); }

int64_t Args::integer(std::size_t i) const {
    const Internal& v = as(at(i, isNumber, "a number"));
    return v.isInteger() ? v.asInteger() : truncateToInt64(v.asFloat());
}

bool Args::boolean(std::size_t i) const { return as(at(i, isBool, "a bool")).asBool(); }

std::string_view Args::string(std::size_t i) const {
    return as(at(i, isString, "a string")).asString();
}

std::vector<Value> Args::list(std::size_t i) const {
    return *Access::wrap(as(at(i, isList, "a list"))).toList();
}

std::map<std::string, Value> Args::map(std::size_t i) const {
    auto entries = Access::wrap(as(at(i, isMap, "a map"))).toMap();
    if (!entries) fail("expected a map with string keys");
    return *entries;
}

Value Args::function(std::size_t i) const {
    return Access::wrap(as(at(i, isFunction, "a function")));
}

void Args::fail(const std::string& message) const { throw ScriptError(name_ + ": " + message); }

// ---------------------------------------------------------------------------
// Engine

Engine::Engine(Options options) : impl_(std::make_unique<Impl>(*this, std::move(options))) {}
Engine::~Engine() = default;

Backend Engine::backend() const noexcept { return impl_->options.backend; }

Result Engine::run(std::string_view sourceText, std::string_view sourceName) {
    Impl& engine = *impl_;
    const std::string source(sourceText);
    const std::string name(sourceName);
    engine.lastName = name;
    return engine.enter(source, name, [&]() -> Internal {
        Block program = parse(tokenize(source));
        if (engine.vm) {
            engine.protos.push_back(compile(program));
            const auto& proto = engine.protos.back();
            Internal main = Internal::closure(newContainer<VMClosure>());
            main.asClosure()->proto = proto;
            main.asClosure()->name = &proto->name;
            return engine.vm->call(main, {});
        }
        engine.trees.push_back(std::move(program));
        return engine.tree->run(engine.trees.back());
    });
}

Result Engine::runFile(const std::string& path) {
    bool ok = false;
    const std::string source = readSourceFile(path, ok);
    if (!ok) return Result(usageError("cannot open " + path));
    return run(source, path);
}

Result Engine::call(const Value& function, std::vector<Value> args) {
    Impl& engine = *impl_;
    const Internal& callee = Access::raw(function);
    if (!callee.isFunction()) {
        return Result(usageError(std::string("call: expected a function, got ") +
                                 ferrow::typeName(callee)));
    }
    // A script function runs only on an engine of the kind that made it, and
    // a tree-walker's only on its own engine: it points into that engine's
    // syntax trees.
    bool ours = callee.isNative() || (callee.isClosure() && engine.vm);
    if (callee.isTreeFunction() && engine.tree) {
        ours = rootScope(*callee.asTreeFunction()) == engine.tree->globals.get();
    }
    if (!ours) return Result(usageError("call: the function belongs to another engine"));
    for (const Value& arg : args) {
        if (engine.foreign(raw(arg))) {
            return Result(usageError("call: an argument holds another engine's function"));
        }
    }
    return engine.enter("", engine.lastName, [&]() -> Internal {
        ValueVector values;
        values.reserve(args.size());
        for (const Value& arg : args) values.push_back(raw(arg));
        return engine.caller().call(callee, ferrow::Args(values.data(), values.size()));
    });
}

Result Engine::call(std::string_view globalName, std::vector<Value> args) {
    std::optional<Value> function = get(globalName);
    if (!function) {
        return Result(usageError("call: undefined global '" + std::string(globalName) + "'"));
    }
    return call(*function, std::move(args));
}

Result Engine::set(std::string_view name, const Value& value) {
    if (impl_->foreign(raw(value))) {
        return Result(usageError("set: the value of '" + std::string(name) +
                                 "' holds another engine's function"));
    }
    impl_->globals()->define(name, raw(value));
    return Result(Value());
}

std::optional<Value> Engine::get(std::string_view name) const {
    const Internal* slot = impl_->globals()->lookup(name);
    if (!slot) return std::nullopt;
    return Access::wrap(*slot);
}

Result Engine::define(std::string_view name, HostFunction function, int minArity, int maxArity) {
    if (!function) {
        return Result(usageError("define: no function given for '" + std::string(name) + "'"));
    }
    if (minArity < 0 || (maxArity >= 0 && maxArity < minArity) || maxArity < -1) {
        return Result(usageError("define: bad arity bounds for '" + std::string(name) + "'"));
    }
    Impl& engine = *impl_;
    const std::string key(name);
    defineNative(*engine.globals(), key, hostTrampoline, minArity, maxArity);
    Internal native = *engine.globals()->lookup(key);
    const NativeObj* object = native.asNative();
    engine.hosts.emplace(object, HostEntry{std::move(native), key, std::move(function)});
    return Result(Value());
}

void Engine::setStepBudget(uint64_t steps) { impl_->options.stepBudget = steps; }

void Engine::setOutput(std::function<void(std::string_view)> output) {
    impl_->options.output = std::move(output);
}

}  // namespace ferrow::api
