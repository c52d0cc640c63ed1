// The VM's dispatch loop.
//
// Rules for editing this file:
// - The value stack is reserved once and never grows past kMaxStack, so
//   `stack.data()` never moves: `slots` (the frame's locals), open upvalues
//   and references to stack elements stay valid across pushes. Every push
//   in the loop follows ROOM() (elsewhere it goes through push()), which
//   raises "stack overflow" first.
// - `frames` is reserved for kMaxFrames and never reallocates either, so the
//   `frame` pointer stays valid while its frame exists. A native may re-enter
//   the loop through call(); the nested loop only adds and removes frames
//   above the current one.
// - The loop keeps the current frame's ip, code, constants, locals and
//   global cache in locals. They must be re-read (LOAD_FRAME) after anything
//   that changes the current frame: a closure CALL, RETURN, and a handler
//   taking an error (which restarts runLoop through execute). Before a CALL
//   the ip is saved into the frame.
// - Runtime errors carry the line of the instruction (LINE()) and column 0.
// - Fast paths for numbers come first; anything else goes to the shared
//   operator semantics, which also produce every error message.
// - The loop is one large function, where GCC stops inlining on its own.
//   The stack and value operations it needs on every instruction go through
//   the FERROW_HOT helpers below, which are forced inline. Rare and bulky
//   work lives out of line (VMOps.cpp, VMCalls.cpp), and every error is
//   raised by a cold function.
// - No local with a destructor may be live at a NEXT(): computed goto does
//   not run destructors. Such locals live in an inner block.

#include "vm/VM.h"

#include <string>
#include <utility>

#include "compiler/OpCodes.h"
#include "value/Errors.h"
#include "value/Operators.h"
#include "natives/Registry.h"

#if defined(__GNUC__) && !defined(FERROW_VM_SWITCH_DISPATCH)
#define FERROW_COMPUTED_GOTO 1
#else
#define FERROW_COMPUTED_GOTO 0
#endif

#if defined(__GNUC__)
// GCC stops inlining into a function as large as the dispatch loop; the
// stack helpers below are forced inline so that a number's push, pop or
// store stays a few instructions (Value keeps scalars inline and handles
// strings and shared objects out of line itself).
#define FERROW_HOT [[gnu::always_inline]] inline
#define FERROW_COLD [[noreturn, gnu::noinline, gnu::cold]]
#else
#define FERROW_HOT inline
#define FERROW_COLD [[noreturn]]
#endif

namespace ferrow {

namespace {

using Stack = std::vector<Value>;

// Stack operations of the hot path. Callers have checked the stack size
// against kMaxStack, which the reserved capacity covers, so a push never
// reallocates; saying so lets the compiler drop vector's growth path.
FERROW_HOT void pushCopy(Stack& s, const Value& v) {
    if (s.size() == s.capacity()) __builtin_unreachable();
    s.push_back(v);
}
FERROW_HOT void pushMove(Stack& s, Value&& v) {
    if (s.size() == s.capacity()) __builtin_unreachable();
    s.push_back(std::move(v));
}
FERROW_HOT void pushNil(Stack& s) {
    if (s.size() == s.capacity()) __builtin_unreachable();
    s.emplace_back();
}
FERROW_HOT void pushBool(Stack& s, bool b) {
    if (s.size() == s.capacity()) __builtin_unreachable();
    s.push_back(Value::boolean(b));
}
FERROW_HOT void popTop(Stack& s) { s.pop_back(); }
FERROW_HOT void popTo(Stack& s, std::size_t size) {
    while (s.size() > size) s.pop_back();
}
FERROW_HOT void copyInto(Value& dst, const Value& v) { dst = v; }
FERROW_HOT void moveInto(Value& dst, Value&& v) { dst = std::move(v); }
FERROW_HOT void setInteger(Value& dst, int64_t i) { dst.setInteger(i); }
FERROW_HOT void setFloat(Value& dst, double d) { dst.setFloat(d); }
FERROW_HOT void setBool(Value& dst, bool b) { dst.setBool(b); }
// The result of a binary operator replaces both operands.
FERROW_HOT void replaceTwoWithInteger(Stack& s, int64_t i) {
    s[s.size() - 2].setInteger(i);
    s.pop_back();
}
FERROW_HOT void replaceTwoWithFloat(Stack& s, double d) {
    s[s.size() - 2].setFloat(d);
    s.pop_back();
}
FERROW_HOT void replaceTwoWithBool(Stack& s, bool b) {
    s[s.size() - 2].setBool(b);
    s.pop_back();
}
// FOR_CHECK: the three numbers give way to the test's result.
FERROW_HOT void replaceThreeWithBool(Stack& s, bool b) {
    s[s.size() - 3].setBool(b);
    s.pop_back();
    s.pop_back();
}
// RETURN: the result moves into the callee's slot and the frame's values go.
FERROW_HOT void returnInto(Stack& s, std::size_t calleeSlot) {
    s[calleeSlot] = std::move(s.back());
    while (s.size() > calleeSlot + 1) s.pop_back();
}

inline bool truthy(const Value& v) { return v.isBool() ? v.asBool() : !v.isNil(); }

// Integers wrap in two's complement; unsigned arithmetic gives exactly that
// without undefined behaviour.
inline int64_t wrapAdd(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
inline int64_t wrapSub(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}
inline int64_t wrapMul(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
}

// Floor division and truncated remainder for b != 0. The smallest integer
// divided by -1 has no representable quotient: // wraps to the smallest
// integer and % gives 0, as in the tree-walker, instead of trapping.
inline int64_t floorDiv(int64_t a, int64_t b) {
    if (b == -1) return wrapSub(0, a);
    int64_t q = a / b;
    if (a % b != 0 && ((a < 0) != (b < 0))) --q;
    return q;
}
inline int64_t truncMod(int64_t a, int64_t b) { return b == -1 ? 0 : a % b; }

FERROW_COLD void undefinedVariable(const Value& name, int32_t line) {
    throw RuntimeError("undefined variable '" + std::string(name.asString()) + "'", line, 0);
}
FERROW_COLD void assignToUndefined(const Value& name, int32_t line) {
    throw RuntimeError("cannot assign to undefined variable '" + std::string(name.asString()) +
                           "' (use 'let' to declare it)",
                       line, 0);
}
// Leaves the spent budget at zero, so that every later step fails too.
FERROW_COLD void budgetExhausted(uint64_t& budget, int32_t line) {
    budget = 0;
    throw RuntimeError("execution budget exhausted", line, 0);
}

FERROW_COLD void forLoopNeedsNumbers(int32_t line) {
    throw RuntimeError("numeric for-loop needs numbers", line, 0);
}

// The slow paths take their operands by reference and return the result;
// the loop stores it.
[[gnu::noinline]] Value slowBinary(BinOp op, const Value& a, const Value& b, int32_t line) {
    return binaryOp(op, a, b, OpSite{line, 0, true});
}
[[gnu::noinline]] bool slowCompare(BinOp op, const Value& a, const Value& b, int32_t line) {
    return compareValues(op, a, b, OpSite{line, 0, true});
}
[[gnu::noinline]] Value slowIndex(const Value& object, const Value& key, int32_t line) {
    return indexValue(object, key, OpSite{line, 0, true});
}
[[gnu::noinline]] Value slowNegate(const Value& a, int32_t line) {
    return negate(a, OpSite{line, 0, true});
}

}  // namespace

VM::VM() : globals(Environment::makeGlobals()) {
    stack.reserve(kMaxStack);
    frames.reserve(kMaxFrames);
    registerNatives(*globals);
}

VM::~VM() {
    // Globals first: they may hold closures whose upvalues point at the stack.
    if (globals) globals->clear();
    globals.reset();
    handlers.clear();
    openUpvalues.clear();
    frames.clear();
    stack.clear();
    // Whatever cycles the program left behind go with the engine.
    Heap::current().collect();
}

void VM::stackOverflow() const { throw RuntimeError("stack overflow", 0, 0); }

Value** VM::globalSlotsFor(const FunctionProto& proto) {
    SlotMemo& memo = slotMemo_[(reinterpret_cast<uintptr_t>(&proto) >> 4) % slotMemo_.size()];
    if (memo.proto == &proto) return memo.slots;
    std::vector<Value*>& slots = globalCache_[&proto];
    // Sized once, so the data pointer stays valid for the rest of the run.
    if (slots.size() != proto.constants.size()) slots.assign(proto.constants.size(), nullptr);
    memo.proto = &proto;
    memo.slots = slots.data();
    return memo.slots;
}

Value VM::run(const std::shared_ptr<FunctionProto>& proto) {
    globalCache_.clear();
    slotMemo_ = {};
    program_ = proto;
    Value closure = Value::closure(newContainer<VMClosure>());
    closure.asClosure()->proto = proto;
    closure.asClosure()->name = &proto->name;
    push(std::move(closure));
    callValue(0, 0);
    return execute(0);
}

Value VM::execute(std::size_t stopDepth) {
    for (;;) {
        try {
            return runLoop(stopDepth);
        } catch (const ThrownValue& thrown) {
            if (!handleError(thrown.value, stopDepth)) throw;
        } catch (const RuntimeError& error) {
            if (!handleError(Value::string(error.message), stopDepth)) throw;
        }
    }
}

Value VM::runLoop(std::size_t stopDepth) {
    CallFrame* frame;
    const FunctionProto* proto;
    const uint8_t* code;
    const uint8_t* ip;
    const uint8_t* opStart;
    const Value* constants;
    Value* slots;
    Value** globalSlots;

#define LOAD_FRAME()                                \
    do {                                            \
        frame = &frames.back();                     \
        proto = frame->closure->proto.get();        \
        code = proto->code.data();                  \
        ip = code + frame->ip;                      \
        constants = proto->constants.data();        \
        slots = stack.data() + frame->base;         \
        globalSlots = frame->globalSlots;           \
    } while (0)
#define SAVE_IP() (frame->ip = static_cast<std::size_t>(ip - code))
#define LINE() static_cast<int32_t>(proto->lines[opStart - code])
#define SITE() OpSite{LINE(), 0, true}
#define READ_BYTE() (*ip++)
#define READ_SHORT() (ip += 2, static_cast<std::size_t>((ip[-2] << 8) | ip[-1]))
#define ROOM()                                         \
    do {                                               \
        if (stack.size() >= kMaxStack) stackOverflow(); \
    } while (0)
#define TOP() (stack.back())
#define SECOND() (stack[stack.size() - 2])

#if FERROW_COMPUTED_GOTO
    static const void* const kLabels[kOpCodeCount] = {
#define FERROW_LABEL(name, width) &&op_##name,
        FERROW_OPCODES(FERROW_LABEL)
#undef FERROW_LABEL
    };
#define VM_CASE(name) op_##name:
#define NEXT()                            \
    do {                                  \
        opStart = ip;                     \
        goto* kLabels[*ip++];             \
    } while (0)
#else
#define VM_CASE(name) case OpCode::name:
#define NEXT() goto dispatch
#endif

    LOAD_FRAME();

#if FERROW_COMPUTED_GOTO
    NEXT();
    {
#else
dispatch:
    opStart = ip;
    switch (static_cast<OpCode>(*ip++)) {
#endif

    VM_CASE(CONST) {
        const std::size_t k = READ_SHORT();
        ROOM();
        pushCopy(stack, constants[k]);
        NEXT();
    }
    VM_CASE(NIL) {
        ROOM();
        pushNil(stack);
        NEXT();
    }
    VM_CASE(TRUE) {
        ROOM();
        pushBool(stack, true);
        NEXT();
    }
    VM_CASE(FALSE) {
        ROOM();
        pushBool(stack, false);
        NEXT();
    }
    VM_CASE(POP) {
        popTop(stack);
        NEXT();
    }
    VM_CASE(DEFINE_GLOBAL) {
        const std::size_t k = READ_SHORT();
        Value*& slot = globalSlots[k];
        // A cached slot means the binding exists; define would overwrite it.
        if (slot) {
            moveInto(*slot, std::move(TOP()));
        } else {
            slot = globals->define(constants[k].asString(), std::move(TOP()));
        }
        popTop(stack);
        NEXT();
    }
    VM_CASE(GET_GLOBAL) {
        const std::size_t k = READ_SHORT();
        Value* slot = globalSlots[k];
        if (!slot) {
            // Globals are never removed and their map nodes never move, so
            // a slot found once stays valid for the whole run.
            slot = globals->lookup(constants[k].asString());
            if (!slot) undefinedVariable(constants[k], LINE());
            globalSlots[k] = slot;
        }
        ROOM();
        pushCopy(stack, *slot);
        NEXT();
    }
    VM_CASE(SET_GLOBAL) {
        const std::size_t k = READ_SHORT();
        Value* slot = globalSlots[k];
        if (!slot) {
            slot = globals->lookup(constants[k].asString());
            if (!slot) assignToUndefined(constants[k], LINE());
            globalSlots[k] = slot;
        }
        copyInto(*slot, TOP());
        NEXT();
    }
    VM_CASE(GET_LOCAL) {
        const std::size_t slot = READ_SHORT();
        ROOM();
        pushCopy(stack, slots[slot]);
        NEXT();
    }
    VM_CASE(SET_LOCAL) {
        const std::size_t slot = READ_SHORT();
        copyInto(slots[slot], TOP());
        NEXT();
    }
    VM_CASE(GET_UPVALUE) {
        const std::size_t index = READ_BYTE();
        ROOM();
        pushCopy(stack, *frame->closure->upvalues[index]->location);
        NEXT();
    }
    VM_CASE(SET_UPVALUE) {
        const std::size_t index = READ_BYTE();
        copyInto(*frame->closure->upvalues[index]->location, TOP());
        NEXT();
    }
    VM_CASE(CLOSE_UPVALUE) {
        if (!openUpvalues.empty()) closeUpvalues(stack.size() - 1);
        popTop(stack);
        NEXT();
    }
    VM_CASE(BUILD_LIST) {
        const std::size_t count = READ_SHORT();
        buildList(count);
        NEXT();
    }
    VM_CASE(BUILD_MAP) {
        const std::size_t count = READ_SHORT();
        buildMap(count, LINE());
        NEXT();
    }
    VM_CASE(GET_INDEX) {
        const Value& object = SECOND();
        const Value& key = TOP();
        if (object.isList() && key.isInteger()) {
            const ListData& list = *object.asList();
            int64_t i = key.asInteger();
            if (i < 0) i += static_cast<int64_t>(list.size());
            if (i >= 0 && static_cast<uint64_t>(i) < list.size()) {
                // Copy first: the object slot may hold the list's last owner.
                popTop(stack);
                moveInto(TOP(), Value(list[static_cast<std::size_t>(i)]));
                NEXT();
            }
        }
        moveInto(SECOND(), slowIndex(object, key, LINE()));
        popTop(stack);
        NEXT();
    }
    VM_CASE(GET_INDEX_KEEP) {
        ROOM();
        pushMove(stack, slowIndex(SECOND(), TOP(), LINE()));
        NEXT();
    }
    VM_CASE(SET_INDEX) {
        storeIndex(LINE());
        NEXT();
    }

    // Arithmetic: both integers, then both numbers, then the shared rules
    // (which also raise every error). The result replaces the left operand.
#define BINARY_SLOW(binop)                                           \
    do {                                                             \
        moveInto(SECOND(), slowBinary(binop, SECOND(), TOP(), LINE())); \
        popTop(stack);                                               \
        NEXT();                                                      \
    } while (0)

    VM_CASE(ADD) {
        Value& a = SECOND();
        const Value& b = TOP();
        if (a.isInteger() && b.isInteger()) {
            replaceTwoWithInteger(stack, wrapAdd(a.asInteger(), b.asInteger()));
            NEXT();
        }
        if (a.isNumber() && b.isNumber()) {
            replaceTwoWithFloat(stack, asDouble(a) + asDouble(b));
            NEXT();
        }
        BINARY_SLOW(BinOp::Add);
    }
    VM_CASE(SUB) {
        Value& a = SECOND();
        const Value& b = TOP();
        if (a.isInteger() && b.isInteger()) {
            replaceTwoWithInteger(stack, wrapSub(a.asInteger(), b.asInteger()));
            NEXT();
        }
        if (a.isNumber() && b.isNumber()) {
            replaceTwoWithFloat(stack, asDouble(a) - asDouble(b));
            NEXT();
        }
        BINARY_SLOW(BinOp::Sub);
    }
    VM_CASE(MUL) {
        Value& a = SECOND();
        const Value& b = TOP();
        if (a.isInteger() && b.isInteger()) {
            replaceTwoWithInteger(stack, wrapMul(a.asInteger(), b.asInteger()));
            NEXT();
        }
        if (a.isNumber() && b.isNumber()) {
            replaceTwoWithFloat(stack, asDouble(a) * asDouble(b));
            NEXT();
        }
        BINARY_SLOW(BinOp::Mul);
    }
    VM_CASE(DIV) {
        Value& a = SECOND();
        const Value& b = TOP();
        if (a.isNumber() && b.isNumber() && asDouble(b) != 0.0) {
            replaceTwoWithFloat(stack, asDouble(a) / asDouble(b));
            NEXT();
        }
        BINARY_SLOW(BinOp::Div);
    }
    VM_CASE(FLOOR_DIV) {
        Value& a = SECOND();
        const Value& b = TOP();
        if (a.isInteger() && b.isInteger() && b.asInteger() != 0) {
            replaceTwoWithInteger(stack, floorDiv(a.asInteger(), b.asInteger()));
            NEXT();
        }
        BINARY_SLOW(BinOp::FloorDiv);
    }
    VM_CASE(MOD) {
        Value& a = SECOND();
        const Value& b = TOP();
        if (a.isInteger() && b.isInteger() && b.asInteger() != 0) {
            replaceTwoWithInteger(stack, truncMod(a.asInteger(), b.asInteger()));
            NEXT();
        }
        BINARY_SLOW(BinOp::Mod);
    }
    VM_CASE(POW) {
        BINARY_SLOW(BinOp::Pow);
    }
    VM_CASE(NEGATE) {
        Value& a = TOP();
        if (a.isInteger()) {
            setInteger(a, wrapSub(0, a.asInteger()));
        } else if (a.isFloat()) {
            setFloat(a, -a.asFloat());
        } else {
            moveInto(a, slowNegate(a, LINE()));
        }
        NEXT();
    }
    VM_CASE(NOT) {
        setBool(TOP(), !truthy(TOP()));
        NEXT();
    }

    // Equality and orderings compare numbers as doubles, two integers too
    // (so integers beyond 2^53 compare by their double values); everything
    // else goes to the shared rules.
#define COMPARE(cmp, slow)                                                   \
    do {                                                                     \
        Value& a = SECOND();                                                 \
        const Value& b = TOP();                                              \
        const bool result =                                                  \
            a.isNumber() && b.isNumber() ? (asDouble(a) cmp asDouble(b)) : (slow); \
        replaceTwoWithBool(stack, result);                                   \
        NEXT();                                                              \
    } while (0)

    VM_CASE(EQUAL) { COMPARE(==, valuesEqual(a, b)); }
    VM_CASE(NOT_EQUAL) { COMPARE(!=, !valuesEqual(a, b)); }
    VM_CASE(LESS) { COMPARE(<, slowCompare(BinOp::Less, a, b, LINE())); }
    VM_CASE(LESS_EQUAL) { COMPARE(<=, slowCompare(BinOp::LessEqual, a, b, LINE())); }
    VM_CASE(GREATER) { COMPARE(>, slowCompare(BinOp::Greater, a, b, LINE())); }
    VM_CASE(GREATER_EQUAL) { COMPARE(>=, slowCompare(BinOp::GreaterEqual, a, b, LINE())); }

    VM_CASE(JUMP) {
        const std::size_t distance = READ_SHORT();
        ip += distance;
        NEXT();
    }
    VM_CASE(JUMP_IF_FALSE) {
        const std::size_t distance = READ_SHORT();
        if (!truthy(TOP())) ip += distance;
        NEXT();
    }
    VM_CASE(JUMP_IF_TRUE) {
        const std::size_t distance = READ_SHORT();
        if (truthy(TOP())) ip += distance;
        NEXT();
    }
    VM_CASE(LOOP) {
        const std::size_t distance = READ_SHORT();
        if (stepBudget_-- == 0) budgetExhausted(stepBudget_, LINE());
        ip -= distance;
        NEXT();
    }
    VM_CASE(CALL) {
        const std::size_t argCount = READ_BYTE();
        if (stepBudget_-- == 0) budgetExhausted(stepBudget_, LINE());
        SAVE_IP();
        const Value& callee = stack[stack.size() - argCount - 1];
        if (callee.isClosure()) {
            pushFrame(*callee.asClosure(), argCount, LINE());
            LOAD_FRAME();
        } else {
            callValue(argCount, LINE());
        }
        NEXT();
    }
    VM_CASE(CLOSURE) {
        const std::size_t index = READ_SHORT();
        ROOM();
        makeClosure(proto->protos[index], *frame);
        NEXT();
    }
    VM_CASE(RETURN) {
        const std::size_t base = frame->base;
        // Captured variables of the returning frame live on in their
        // upvalues.
        if (!openUpvalues.empty()) closeUpvalues(base);
        frames.pop_back();
        // Handlers of the returning frame (a return inside a try) end with it.
        while (!handlers.empty() && handlers.back().frameCount > frames.size()) {
            handlers.pop_back();
        }
        // The result takes the callee's place; the rest of the frame goes.
        const std::size_t calleeSlot = base == 0 ? 0 : base - 1;
        if (frames.size() == stopDepth) {
            Value result = std::move(TOP());
            popTo(stack, calleeSlot);
            return result;
        }
        returnInto(stack, calleeSlot);
        LOAD_FRAME();
        NEXT();
    }
    VM_CASE(ITER_PREPARE) {
        iterationSnapshot(LINE());
        NEXT();
    }
    VM_CASE(LEN) {
        Value& x = TOP();
        if (x.isList()) {
            setInteger(x, static_cast<int64_t>(x.asList()->size()));
        } else {
            lengthOf(LINE());
        }
        NEXT();
    }
    VM_CASE(FOR_CHECK) {
        const std::size_t n = stack.size();
        const Value& var = stack[n - 3];
        const Value& limit = stack[n - 2];
        const Value& step = stack[n - 1];
        bool more;
        if (var.isInteger() && limit.isInteger() && step.isInteger()) {
            more = step.asInteger() >= 0
                       ? static_cast<double>(var.asInteger()) <= static_cast<double>(limit.asInteger())
                       : static_cast<double>(var.asInteger()) >= static_cast<double>(limit.asInteger());
        } else {
            if (!var.isNumber() || !limit.isNumber() || !step.isNumber()) {
                forLoopNeedsNumbers(LINE());
            }
            // A step of 0 counts as ascending.
            more = asDouble(step) >= 0.0 ? asDouble(var) <= asDouble(limit)
                                         : asDouble(var) >= asDouble(limit);
        }
        replaceThreeWithBool(stack, more);
        NEXT();
    }
    VM_CASE(TRY_BEGIN) {
        const std::size_t distance = READ_SHORT();
        // The handler delivers the caught value into one more slot.
        ROOM();
        handlers.push_back(TryHandler{frames.size(), stack.size(),
                                      static_cast<std::size_t>(ip - code) + distance});
        NEXT();
    }
    VM_CASE(TRY_END) {
        if (!handlers.empty()) handlers.pop_back();
        NEXT();
    }
    VM_CASE(HALT) {
        return Value();
    }

#if !FERROW_COMPUTED_GOTO
    }
    // Only the compiler produces code, and it emits no other opcode.
    throw RuntimeError("bad instruction", LINE(), 0);
#else
    }
    __builtin_unreachable();
#endif

#undef LOAD_FRAME
#undef SAVE_IP
#undef LINE
#undef SITE
#undef READ_BYTE
#undef READ_SHORT
#undef ROOM
#undef TOP
#undef SECOND
#undef VM_CASE
#undef NEXT
#undef BINARY_SLOW
#undef COMPARE
}

}  // namespace ferrow
