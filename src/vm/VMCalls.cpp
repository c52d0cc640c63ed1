// Everything of the VM that crosses a function boundary: calls of closures
// and natives, upvalues, try handlers and the Caller operation through which
// natives call script functions back.

#include <algorithm>
#include <string>

#include "value/Errors.h"
#include "value/StackGuard.h"
#include "vm/VM.h"

namespace ferrow {

namespace {

const char* const kCallStackOverflow = "call stack overflow (too much recursion)";

std::string expectedArity(const NativeObj& native) {
    if (native.maxArity < 0) return std::to_string(native.minArity) + "+";
    if (native.maxArity == native.minArity) return std::to_string(native.minArity);
    return std::to_string(native.minArity) + "-" + std::to_string(native.maxArity);
}

}  // namespace

void VM::pushFrame(VMClosure& closure, std::size_t argCount, int32_t line) {
    const FunctionProto& proto = *closure.proto;
    if (argCount != static_cast<std::size_t>(proto.arity)) {
        throw RuntimeError(proto.name + "() expects " + std::to_string(proto.arity) +
                               " argument(s), got " + std::to_string(argCount),
                           line, 0);
    }
    // The script's frame counts too: the 4,096th nested call fails.
    if (frames.size() >= kMaxFrames) throw RuntimeError(kCallStackOverflow, line, 0);
    if (!closure.code) {
        closure.code = &codeFor(proto);
        closure.codeOwner = serial_;
    } else if (closure.codeOwner != serial_) {
        throw RuntimeError(proto.name + "() belongs to another engine and cannot run here", line, 0);
    }
    // The frame's room, checked once here instead of at every push.
    if (stackSize() - argCount + closure.code->maxStack > kMaxStack) stackOverflow();
    // The arguments stay where they are and become the callee's first locals.
    frames.push_back(CallFrame{&closure, closure.code->code.data(), stackSize() - argCount,
                               closure.code});
}

bool VM::callValue(std::size_t argCount, int32_t line) {
    const Value& callee = top_[-static_cast<std::ptrdiff_t>(argCount) - 1];
    if (callee.isClosure()) {
        pushFrame(*callee.asClosure(), argCount, line);
        return true;
    }
    if (callee.isNative()) {
        callNative(*callee.asNative(), argCount, line);
        return false;
    }
    throw RuntimeError(std::string(typeName(callee)) + " is not callable", line, 0);
}

void VM::callNative(const NativeObj& native, std::size_t argCount, int32_t line) {
    const auto count = static_cast<int64_t>(argCount);
    if (count < native.minArity || (native.maxArity >= 0 && count > native.maxArity)) {
        throw RuntimeError(native.name + "() expects " + expectedArity(native) +
                               " argument(s), got " + std::to_string(argCount),
                           line, 0);
    }
    // The native reads its arguments where they are; it may move out of
    // them, since they leave the stack right after the call. The stack never
    // moves, and a callback only works above them. The callee stays on the
    // stack during the call, which keeps `native` alive.
    const std::size_t first = stackSize() - argCount;
    currentNative = &native;
    Value result = native.fn(*this, Args(stack_ + first, argCount));
    truncateStack(first - 1);
    new (top_) Value(std::move(result));
    ++top_;
}

Value VM::call(const Value& callee, Args args) {
    // Natives calling back nest C++ frames (call, execute, native, call ...);
    // stop before the native stack runs out.
    if (stackNearlyExhausted()) throw RuntimeError(kCallStackOverflow, 0, 0);
    if (stepBudget_ == 0) throw RuntimeError("execution budget exhausted", 0, 0);
    --stepBudget_;
    const std::size_t depth = frames.size();
    const std::size_t height = stackSize();
    try {
        push(callee);
        for (Value& arg : args) push(std::move(arg));
        if (!callValue(args.size(), 0)) return pop();
    } catch (...) {
        truncateStack(height);
        throw;
    }
    try {
        return execute(depth);
    } catch (...) {
        // No handler of the callback took the error: drop the callback's
        // frames and values before it passes out through the native.
        frames.resize(depth);
        if (!openUpvalues.empty()) closeUpvalues(height);
        truncateStack(height);
        throw;
    }
}

Ref<Upvalue> VM::captureUpvalue(std::size_t slot) {
    Value* location = stack_ + slot;
    // Closures capturing one variable must share one Upvalue, so that they
    // see each other's assignments.
    for (const auto& upvalue : openUpvalues) {
        if (upvalue->location == location) return upvalue;
    }
    Ref<Upvalue> upvalue(newContainer<Upvalue>());
    upvalue->location = location;
    openUpvalues.push_back(upvalue);
    return upvalue;
}

void VM::closeUpvalues(std::size_t fromSlot) {
    Value* const limit = stack_ + fromSlot;
    auto keep = std::stable_partition(
        openUpvalues.begin(), openUpvalues.end(),
        [limit](const Ref<Upvalue>& upvalue) { return upvalue->location < limit; });
    for (auto it = keep; it != openUpvalues.end(); ++it) {
        Upvalue& upvalue = **it;
        upvalue.closed = *upvalue.location;
        upvalue.location = &upvalue.closed;
    }
    openUpvalues.erase(keep, openUpvalues.end());
}

bool VM::handleError(Value value, std::size_t stopDepth) {
    // A handler registered outside this execute belongs to an outer one,
    // which gets the error after it has passed through the native.
    if (handlers.empty() || handlers.back().frameCount <= stopDepth) return false;
    const TryHandler handler = handlers.back();
    handlers.pop_back();
    frames.resize(handler.frameCount);
    if (!openUpvalues.empty()) closeUpvalues(handler.stackSize);
    truncateStack(handler.stackSize);
    // The value lands in the catch variable's slot.
    new (top_) Value(std::move(value));
    ++top_;
    frames.back().ip = handler.handlerIp;
    return true;
}

}  // namespace ferrow
