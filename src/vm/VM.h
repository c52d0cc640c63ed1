#pragma once
// The bytecode virtual machine.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "compiler/FunctionProto.h"
#include "value/Environment.h"
#include "value/Function.h"

namespace ferrow {

class VM : public Caller {
public:
    VM();  // fresh globals with every native installed
    ~VM() override;

    // Runs a top-level prototype; the result is the script's return value.
    Value run(const std::shared_ptr<FunctionProto>& proto);
    Value call(const Value& callee, Args args) override;

    EnvPtr globals;

    // Test-only, for the fuzz targets: bounds a run by the number of loop
    // iterations (LOOP) and calls (CALL, and callbacks from natives) it may
    // start, so that an endless program ends. Once the budget is spent every
    // further one fails with "execution budget exhausted", also after a
    // `try` caught the first failure. Unlimited unless set.
    void setStepBudget(uint64_t steps) { stepBudget_ = steps; }

    // Both are reserved at construction and never grown: open upvalues and
    // the dispatch loop point into the stack, which therefore must not move.
    // A push onto a full stack is "stack overflow"; a call that would make
    // frame 4,097 is "call stack overflow (too much recursion)".
    static constexpr std::size_t kMaxStack = 65536;
    static constexpr std::size_t kMaxFrames = 4096;

private:
    struct CallFrame {
        // The callee value at stack[base - 1] keeps the closure alive for as
        // long as the frame exists, so a plain pointer suffices.
        VMClosure* closure = nullptr;
        std::size_t ip = 0;    // index of the next byte of the prototype's code
        std::size_t base = 0;  // stack index of local slot 0
        Value** globalSlots = nullptr;  // this prototype's global slot cache
    };

    struct TryHandler {
        std::size_t frameCount = 0;  // frames at TRY_BEGIN, the owner included
        std::size_t stackSize = 0;   // stack size at TRY_BEGIN
        std::size_t handlerIp = 0;   // first instruction of the catch part
    };

    // The dispatch loop; returns when a RETURN leaves exactly stopDepth frames.
    Value execute(std::size_t stopDepth);
    Value runLoop(std::size_t stopDepth);

    // Calls the value below the top argCount values. Returns true when it
    // pushed a frame (a closure), false when the call already finished (a
    // native, whose result now replaces the callee and the arguments).
    bool callValue(std::size_t argCount, int32_t line);
    void pushFrame(VMClosure& closure, std::size_t argCount, int32_t line);
    void callNative(const NativeObj& native, std::size_t argCount, int32_t line);
    Ref<Upvalue> captureUpvalue(std::size_t slot);
    void closeUpvalues(std::size_t fromSlot);
    bool handleError(Value value, std::size_t stopDepth);
    void truncateStack(std::size_t size);

    // Instructions whose work is too bulky for the dispatch loop; each one
    // works on the top of the stack as its instruction describes.
    void buildList(std::size_t count);
    void buildMap(std::size_t count, int32_t line);
    void storeIndex(int32_t line);
    void makeClosure(const std::shared_ptr<FunctionProto>& proto, const CallFrame& frame);
    void iterationSnapshot(int32_t line);
    void lengthOf(int32_t line);
    [[noreturn]] void stackOverflow() const;

    void push(Value value) {
        if (stack.size() >= kMaxStack) stackOverflow();
        stack.push_back(std::move(value));
    }
    Value pop() {
        Value top = std::move(stack.back());
        stack.pop_back();
        return top;
    }
    const Value& peek(std::size_t distance) const { return stack[stack.size() - 1 - distance]; }

    // The cache of resolved global slots for a prototype, one entry per
    // constant index, filled lazily by the global instructions.
    Value** globalSlotsFor(const FunctionProto& proto);

    std::vector<Value> stack;
    std::vector<CallFrame> frames;
    std::vector<Ref<Upvalue>> openUpvalues;
    std::vector<TryHandler> handlers;

    std::unordered_map<const FunctionProto*, std::vector<Value*>> globalCache_;
    // A small direct-mapped memo in front of globalCache_, so that a call
    // does not hash the prototype.
    struct SlotMemo {
        const FunctionProto* proto = nullptr;
        Value** slots = nullptr;
    };
    std::array<SlotMemo, 64> slotMemo_{};
    // The prototype tree being run, kept alive for the cache's raw keys.
    std::shared_ptr<FunctionProto> program_;

    uint64_t stepBudget_ = UINT64_MAX;
};

}  // namespace ferrow
