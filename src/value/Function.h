#pragma once
// The three kinds of function value, the upvalues of VM closures, and the
// interface natives use to call back into the running engine.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "value/Environment.h"
#include "value/Value.h"

namespace ferrow {

struct Stmt;
struct FunctionProto;
struct NativeObj;
struct VMCode;

// The arguments of a call, in place: on the VM's stack, or in the
// tree-walker's argument array. A callee may move out of them.
using Args = std::span<Value>;

// Implemented by both engines: natives such as map and sort call script
// functions through it.
struct Caller {
    virtual ~Caller() = default;
    virtual Value call(const Value& callee, Args args) = 0;
    // Where print and input's prompt go: standard output, unless an
    // embedding engine sends them elsewhere.
    virtual void write(std::string_view text);

    // The native being called, stored by the engines just before every call
    // of a native: an embedding's host functions share one NativeFn and find
    // their own callable by it. It holds only on the native's entry, since a
    // callback into the script calls other natives.
    const NativeObj* currentNative = nullptr;

    // The words that followed the script on the command line, which args()
    // returns; empty at the prompt and in an embedding engine.
    std::vector<std::string> scriptArgs;
};

// A function value of the tree-walker. params and body point into the syntax
// tree that created it; whoever owns that tree keeps it alive.
struct FunctionObj final : GcObj {
    FunctionObj() : GcObj(ObjType::Function) {}

    std::string name;
    const std::vector<std::string>* params = nullptr;
    const std::vector<std::unique_ptr<Stmt>>* body = nullptr;
    Ref<Environment> closure;
};

using NativeFn = Value (*)(Caller&, Args);

struct NativeObj final : Obj {
    NativeObj() : Obj(ObjType::Native) {}

    std::string name;
    NativeFn fn = nullptr;
    int32_t minArity = 0;
    int32_t maxArity = -1;  // -1: no upper bound
};

// A captured variable of the VM. While open, location points at a live stack
// slot; once closed it points at `closed`.
struct Upvalue final : GcObj {
    Upvalue() : GcObj(ObjType::Upvalue) {}

    Value* location = nullptr;
    Value closed;
};

struct VMClosure final : GcObj {
    VMClosure() : GcObj(ObjType::Closure) {}

    std::shared_ptr<FunctionProto> proto;
    // The prototype's name, which the closure keeps alive.
    const std::string* name = nullptr;
    // The translation of proto by the VM whose serial number is codeOwner,
    // found on the first call. The code and its global slots belong to that
    // VM, so no other VM (another embedding engine) may run it, nor even
    // look at it: that VM may be gone.
    VMCode* code = nullptr;
    uint64_t codeOwner = 0;
    std::vector<Ref<Upvalue>, HeapAllocator<Ref<Upvalue>>> upvalues;
};

}  // namespace ferrow
