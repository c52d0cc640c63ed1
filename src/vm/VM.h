#pragma once
// The bytecode virtual machine.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

#include "compiler/FunctionProto.h"
#include "value/Environment.h"
#include "value/Function.h"
#include "vm/VMCode.h"

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
    // A call whose frame could pass the stack's end (by its prototype's
    // maximum depth) or a push onto a full stack is "stack overflow"; a call
    // that would make frame 4,097 is "call stack overflow (too much
    // recursion)".
    static constexpr std::size_t kMaxStack = 65536;
    static constexpr std::size_t kMaxFrames = 4096;

private:
    struct CallFrame {
        // The callee value at stack[base - 1] keeps the closure alive for as
        // long as the frame exists, so a plain pointer suffices.
        VMClosure* closure = nullptr;
        const Instr* ip = nullptr;  // the next instruction, saved across calls
        std::size_t base = 0;       // stack index of local slot 0
        VMCode* code = nullptr;
    };

    struct TryHandler {
        std::size_t frameCount = 0;     // frames at TRY_BEGIN, the owner included
        std::size_t stackSize = 0;      // stack size at TRY_BEGIN
        const Instr* handlerIp = nullptr;  // first instruction of the catch part
    };

    // The dispatch loop; returns when a RETURN leaves exactly stopDepth frames.
    // Called once from the constructor with kLabelQuery, it only hands out
    // its handler addresses (labels_) for the translation.
    Value execute(std::size_t stopDepth);
    Value runLoop(std::size_t stopDepth);
    static constexpr std::size_t kLabelQuery = SIZE_MAX;

    // Calls the value below the top argCount values. Returns true when it
    // pushed a frame (a closure), false when the call already finished (a
    // native, whose result now replaces the callee and the arguments).
    bool callValue(std::size_t argCount, int32_t line);
    void pushFrame(VMClosure& closure, std::size_t argCount, int32_t line);
    void callNative(const NativeObj& native, std::size_t argCount, int32_t line);
    Ref<Upvalue> captureUpvalue(std::size_t slot);
    void closeUpvalues(std::size_t fromSlot);
    bool handleError(Value value, std::size_t stopDepth);
    void truncateStack(std::size_t size) noexcept {
        Value* const limit = stack_ + size;
        // One at a time, the top dropping first, so that nothing released
        // sees a half-truncated stack.
        while (top_ > limit) {
            --top_;
            top_->~Value();
        }
    }

    // Instructions whose work is too bulky for the dispatch loop; each one
    // works on the top of the stack as its instruction describes.
    void buildList(std::size_t count);
    void buildMap(std::size_t count, int32_t line);
    void storeIndex(int32_t line);
    void makeClosure(std::size_t index, const CallFrame& frame);
    void iterationSnapshot(int32_t line);
    void lengthOf(int32_t line);
    [[noreturn]] void stackOverflow() const;

    std::size_t stackSize() const { return static_cast<std::size_t>(top_ - stack_); }
    void push(Value value) {
        if (top_ == stack_ + kMaxStack) stackOverflow();
        new (top_) Value(std::move(value));
        ++top_;
    }
    Value pop() {
        --top_;
        Value top = std::move(*top_);
        top_->~Value();
        return top;
    }
    Value& back() { return top_[-1]; }

    // The translation of a prototype, made on its first call.
    VMCode& codeFor(const FunctionProto& proto);

    // The value stack: kMaxStack values of raw storage, live from stack_ up
    // to top_. It is allocated once and never moves, so open upvalues and
    // the dispatch loop may point into it.
    Value* stack_ = nullptr;
    Value* top_ = nullptr;
    std::vector<CallFrame> frames;
    std::vector<Ref<Upvalue>> openUpvalues;
    std::vector<TryHandler> handlers;

    std::unordered_map<const FunctionProto*, std::unique_ptr<VMCode>> code_;
    const void* const* labels_ = nullptr;
    bool checkTranslations_ = false;
    // The prototype tree being run, kept alive for the translations' keys.
    std::shared_ptr<FunctionProto> program_;

    uint64_t stepBudget_ = UINT64_MAX;
    // Tells this VM's closures (see VMClosure::codeOwner) from those of
    // every other VM of the process, past or present.
    const uint64_t serial_;
};

}  // namespace ferrow
