#pragma once
// The three kinds of function value and the interface natives use to call
// back into the running engine.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "value/Value.h"

namespace ferrow {

class Environment;
struct Stmt;
struct FunctionProto;

// Implemented by both engines: natives such as map and sort call script
// functions through it.
struct Caller {
    virtual ~Caller() = default;
    virtual Value call(const Value& callee, std::vector<Value> args) = 0;
};

// A function value of the tree-walker. params and body point into the syntax
// tree that created it; whoever owns that tree keeps it alive.
struct FunctionObj {
    std::string name;
    const std::vector<std::string>* params = nullptr;
    const std::vector<std::unique_ptr<Stmt>>* body = nullptr;
    std::shared_ptr<Environment> closure;
};

using NativeFn = Value (*)(Caller&, std::vector<Value>&);

struct NativeObj {
    std::string name;
    std::function<Value(Caller&, std::vector<Value>&)> fn;
    int32_t minArity = 0;
    int32_t maxArity = -1;  // -1: no upper bound
};

// A captured variable of the VM. While open, location points at a live stack
// slot; once closed it points at `closed`.
struct Upvalue {
    Value* location = nullptr;
    Value closed;
};

struct VMClosure {
    std::shared_ptr<FunctionProto> proto;
    std::vector<std::shared_ptr<Upvalue>> upvalues;
};

}  // namespace ferrow
