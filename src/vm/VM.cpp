// The VM's dispatch loop.
//
// Rules for editing this file:
// - The value stack is reserved once and never grows past kMaxStack, so
//   `stack.data()` never moves: `slots` (the frame's locals), open upvalues
//   and references to stack elements stay valid across pushes. Every push
//   goes through PUSH (or push()), which raises "stack overflow" first.
// - `frames` is reserved for kMaxFrames and never reallocates either, so the
//   `frame` pointer stays valid while its frame exists. A native may re-enter
//   the loop through call(); the nested loop only adds and removes frames
//   above the current one.
// - The loop keeps the current frame's ip, code, constants, locals and
//   global cache in locals. They must be re-read (LOAD_FRAME) after anything
//   that changes the current frame: a closure CALL, RETURN, and a handler
//   taking an error (which restarts runLoop through execute). Before anything
//   that may run other frames (CALL), the ip is saved into the frame.
// - Runtime errors carry the line of the instruction (LINE()) and column 0.
// - Fast paths for numbers come first; anything else goes to the shared
//   operator semantics, which also produce every error message.

#include "vm/VM.h"

#include <cmath>
#include <string>
#include <utility>

#include "compiler/OpCodes.h"
#include "driver/Errors.h"
#include "interp/Operators.h"
#include "natives/Registry.h"

#if defined(__GNUC__) && !defined(FERROW_VM_SWITCH_DISPATCH)
#define FERROW_COMPUTED_GOTO 1
#else
#define FERROW_COMPUTED_GOTO 0
#endif

namespace ferrow {

namespace {

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

[[noreturn]] void fail(const std::string& message, int32_t line) {
    throw RuntimeError(message, line, 0);
}

}  // namespace

VM::VM() : globals(std::make_shared<Environment>()) {
    stack.reserve(kMaxStack);
    frames.reserve(kMaxFrames);
    registerNatives(*globals);
}

VM::~VM() {
    // Globals first: they may hold closures whose upvalues point at the stack.
    globals.reset();
    handlers.clear();
    openUpvalues.clear();
    frames.clear();
    stack.clear();
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
    auto closure = std::make_shared<VMClosure>();
    closure->proto = proto;
    push(Value::closure(std::move(closure)));
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
#define PUSH(value)                                  \
    do {                                             \
        if (stack.size() >= kMaxStack) stackOverflow(); \
        stack.push_back(value);                      \
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
        PUSH(constants[k]);
        NEXT();
    }
    VM_CASE(NIL) {
        PUSH(Value());
        NEXT();
    }
    VM_CASE(TRUE) {
        PUSH(Value::boolean(true));
        NEXT();
    }
    VM_CASE(FALSE) {
        PUSH(Value::boolean(false));
        NEXT();
    }
    VM_CASE(POP) {
        stack.pop_back();
        NEXT();
    }
    VM_CASE(DEFINE_GLOBAL) {
        const std::size_t k = READ_SHORT();
        Value*& slot = globalSlots[k];
        // A cached slot means the binding exists; define would overwrite it.
        if (slot) {
            *slot = std::move(TOP());
        } else {
            slot = globals->define(constants[k].asString(), std::move(TOP()));
        }
        stack.pop_back();
        NEXT();
    }
    VM_CASE(GET_GLOBAL) {
        const std::size_t k = READ_SHORT();
        Value* slot = globalSlots[k];
        if (!slot) {
            // Globals are never removed and their map nodes never move, so
            // a slot found once stays valid for the whole run.
            slot = globals->lookup(constants[k].asString());
            if (!slot) fail("undefined variable '" + constants[k].asString() + "'", LINE());
            globalSlots[k] = slot;
        }
        PUSH(*slot);
        NEXT();
    }
    VM_CASE(SET_GLOBAL) {
        const std::size_t k = READ_SHORT();
        Value* slot = globalSlots[k];
        if (!slot) {
            slot = globals->lookup(constants[k].asString());
            if (!slot) {
                fail("cannot assign to undefined variable '" + constants[k].asString() +
                         "' (use 'let' to declare it)",
                     LINE());
            }
            globalSlots[k] = slot;
        }
        *slot = TOP();
        NEXT();
    }
    VM_CASE(GET_LOCAL) {
        const std::size_t slot = READ_SHORT();
        PUSH(slots[slot]);
        NEXT();
    }
    VM_CASE(SET_LOCAL) {
        const std::size_t slot = READ_SHORT();
        slots[slot] = TOP();
        NEXT();
    }
    VM_CASE(GET_UPVALUE) {
        const std::size_t index = READ_BYTE();
        PUSH(*frame->closure->upvalues[index]->location);
        NEXT();
    }
    VM_CASE(SET_UPVALUE) {
        const std::size_t index = READ_BYTE();
        *frame->closure->upvalues[index]->location = TOP();
        NEXT();
    }
    VM_CASE(CLOSE_UPVALUE) {
        if (!openUpvalues.empty()) closeUpvalues(stack.size() - 1);
        stack.pop_back();
        NEXT();
    }
    VM_CASE(BUILD_LIST) {
        const std::size_t count = READ_SHORT();
        {
            const auto first = stack.end() - static_cast<std::ptrdiff_t>(count);
            ListData elements(std::make_move_iterator(first),
                              std::make_move_iterator(stack.end()));
            stack.erase(first, stack.end());
            stack.push_back(Value::newList(std::move(elements)));
        }
        NEXT();
    }
    VM_CASE(BUILD_MAP) {
        const std::size_t count = READ_SHORT();
        {
            const std::size_t first = stack.size() - 2 * count;
            Value map = Value::newMap();
            MapData& data = *map.asMap();
            // Every key and value is already evaluated; keys are checked pair
            // by pair as they are inserted.
            for (std::size_t i = first; i < stack.size(); i += 2) {
                const Value& key = stack[i];
                if (!key.isString() && !key.isNumber()) {
                    fail(std::string("map keys must be string or number, got ") + typeName(key),
                         LINE());
                }
                data.set(key, std::move(stack[i + 1]));
            }
            truncateStack(first);
            stack.push_back(std::move(map));
        }
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
                // The list may be held only by the object slot being replaced.
                SECOND() = Value(list[static_cast<std::size_t>(i)]);
                stack.pop_back();
                NEXT();
            }
        }
        SECOND() = indexValue(object, key, SITE());
        stack.pop_back();
        NEXT();
    }
    VM_CASE(GET_INDEX_KEEP) {
        PUSH(indexValue(SECOND(), TOP(), SITE()));
        NEXT();
    }
    VM_CASE(SET_INDEX) {
        const std::size_t n = stack.size();
        setIndex(stack[n - 3], stack[n - 2], stack[n - 1], SITE());
        stack[n - 3] = std::move(stack[n - 1]);
        stack.pop_back();
        stack.pop_back();
        NEXT();
    }

    // Arithmetic: both integers, then both numbers, then the shared rules
    // (which also raise every error).
#define BINARY_SLOW(binop)                                          \
    do {                                                            \
        SECOND() = binaryOp(binop, SECOND(), TOP(), SITE());        \
        stack.pop_back();                                           \
        NEXT();                                                     \
    } while (0)
// The result replaces the left operand; it is computed before the right
// operand is popped.
#define SET_RESULT(value)       \
    do {                        \
        SECOND() = (value);     \
        stack.pop_back();       \
        NEXT();                 \
    } while (0)

    VM_CASE(ADD) {
        const Value& a = SECOND();
        const Value& b = TOP();
        if (a.isInteger() && b.isInteger()) {
            SET_RESULT(Value::integer(wrapAdd(a.asInteger(), b.asInteger())));
        }
        if (a.isNumber() && b.isNumber()) SET_RESULT(Value::number(asDouble(a) + asDouble(b)));
        BINARY_SLOW(BinOp::Add);
    }
    VM_CASE(SUB) {
        const Value& a = SECOND();
        const Value& b = TOP();
        if (a.isInteger() && b.isInteger()) {
            SET_RESULT(Value::integer(wrapSub(a.asInteger(), b.asInteger())));
        }
        if (a.isNumber() && b.isNumber()) SET_RESULT(Value::number(asDouble(a) - asDouble(b)));
        BINARY_SLOW(BinOp::Sub);
    }
    VM_CASE(MUL) {
        const Value& a = SECOND();
        const Value& b = TOP();
        if (a.isInteger() && b.isInteger()) {
            SET_RESULT(Value::integer(wrapMul(a.asInteger(), b.asInteger())));
        }
        if (a.isNumber() && b.isNumber()) SET_RESULT(Value::number(asDouble(a) * asDouble(b)));
        BINARY_SLOW(BinOp::Mul);
    }
    VM_CASE(DIV) {
        const Value& a = SECOND();
        const Value& b = TOP();
        if (a.isNumber() && b.isNumber() && asDouble(b) != 0.0) {
            SET_RESULT(Value::number(asDouble(a) / asDouble(b)));
        }
        BINARY_SLOW(BinOp::Div);
    }
    VM_CASE(FLOOR_DIV) {
        const Value& a = SECOND();
        const Value& b = TOP();
        if (a.isInteger() && b.isInteger() && b.asInteger() != 0) {
            SET_RESULT(Value::integer(floorDiv(a.asInteger(), b.asInteger())));
        }
        BINARY_SLOW(BinOp::FloorDiv);
    }
    VM_CASE(MOD) {
        const Value& a = SECOND();
        const Value& b = TOP();
        if (a.isInteger() && b.isInteger() && b.asInteger() != 0) {
            SET_RESULT(Value::integer(truncMod(a.asInteger(), b.asInteger())));
        }
        BINARY_SLOW(BinOp::Mod);
    }
    VM_CASE(POW) {
        BINARY_SLOW(BinOp::Pow);
    }
    VM_CASE(NEGATE) {
        Value& a = TOP();
        if (a.isInteger()) {
            a = Value::integer(wrapSub(0, a.asInteger()));
        } else if (a.isFloat()) {
            a = Value::number(-a.asFloat());
        } else {
            a = negate(a, SITE());
        }
        NEXT();
    }
    VM_CASE(NOT) {
        TOP() = Value::boolean(!truthy(TOP()));
        NEXT();
    }
    VM_CASE(EQUAL) {
        const Value& a = SECOND();
        const Value& b = TOP();
        // Numbers compare as doubles, integers included.
        const bool equal = a.isNumber() && b.isNumber() ? asDouble(a) == asDouble(b)
                                                        : valuesEqual(a, b);
        SET_RESULT(Value::boolean(equal));
    }
    VM_CASE(NOT_EQUAL) {
        const Value& a = SECOND();
        const Value& b = TOP();
        const bool equal = a.isNumber() && b.isNumber() ? asDouble(a) == asDouble(b)
                                                        : valuesEqual(a, b);
        SET_RESULT(Value::boolean(!equal));
    }

    // Orderings compare numbers as doubles (also two integers, so integers
    // beyond 2^53 order by their double values); strings and errors go to
    // the shared rules.
#define COMPARE(cmp, binop)                                                         \
    do {                                                                            \
        const Value& a = SECOND();                                                  \
        const Value& b = TOP();                                                     \
        const bool result = a.isNumber() && b.isNumber()                            \
                                ? (asDouble(a) cmp asDouble(b))                     \
                                : compareValues(binop, a, b, SITE());               \
        SET_RESULT(Value::boolean(result));                                         \
    } while (0)

    VM_CASE(LESS) { COMPARE(<, BinOp::Less); }
    VM_CASE(LESS_EQUAL) { COMPARE(<=, BinOp::LessEqual); }
    VM_CASE(GREATER) { COMPARE(>, BinOp::Greater); }
    VM_CASE(GREATER_EQUAL) { COMPARE(>=, BinOp::GreaterEqual); }

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
        ip -= distance;
        NEXT();
    }
    VM_CASE(CALL) {
        const std::size_t argCount = READ_BYTE();
        SAVE_IP();
        Value& callee = stack[stack.size() - argCount - 1];
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
        {
            auto closure = std::make_shared<VMClosure>();
            closure->proto = proto->protos[index];
            const auto& descs = closure->proto->upvalues;
            closure->upvalues.reserve(descs.size());
            for (const UpvalueDesc& desc : descs) {
                if (desc.isLocal) {
                    closure->upvalues.push_back(captureUpvalue(frame->base + desc.index));
                } else {
                    closure->upvalues.push_back(frame->closure->upvalues[desc.index]);
                }
            }
            PUSH(Value::closure(std::move(closure)));
        }
        NEXT();
    }
    VM_CASE(RETURN) {
        {
            Value result = std::move(TOP());
            stack.pop_back();
            const std::size_t base = frame->base;
            // Captured variables of the returning frame live on in their
            // upvalues.
            if (!openUpvalues.empty()) closeUpvalues(base);
            frames.pop_back();
            // Handlers of the returning frame (a return inside a try) end
            // with it.
            while (!handlers.empty() && handlers.back().frameCount > frames.size()) {
                handlers.pop_back();
            }
            truncateStack(base == 0 ? 0 : base - 1);
            if (frames.size() == stopDepth) return result;
            stack.push_back(std::move(result));
        }
        LOAD_FRAME();
        NEXT();
    }
    VM_CASE(ITER_PREPARE) {
        TOP() = Value::newList(iterationItems(TOP(), SITE()));
        NEXT();
    }
    VM_CASE(LEN) {
        Value& x = TOP();
        int64_t length;
        if (x.isList()) {
            length = static_cast<int64_t>(x.asList()->size());
        } else if (x.isString()) {
            length = static_cast<int64_t>(x.asString().size());
        } else if (x.isMap()) {
            length = static_cast<int64_t>(x.asMap()->size());
        } else {
            fail(std::string("cannot take the length of ") + typeName(x), LINE());
        }
        x = Value::integer(length);
        NEXT();
    }
    VM_CASE(FOR_CHECK) {
        const std::size_t n = stack.size();
        const Value& var = stack[n - 3];
        const Value& limit = stack[n - 2];
        const Value& step = stack[n - 1];
        if (!var.isNumber() || !limit.isNumber() || !step.isNumber()) {
            fail("numeric for-loop needs numbers", LINE());
        }
        // A step of 0 counts as ascending.
        const bool more = asDouble(step) >= 0.0 ? asDouble(var) <= asDouble(limit)
                                                 : asDouble(var) >= asDouble(limit);
        stack.pop_back();
        stack.pop_back();
        TOP() = Value::boolean(more);
        NEXT();
    }
    VM_CASE(TRY_BEGIN) {
        const std::size_t distance = READ_SHORT();
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
    fail("bad instruction", LINE());
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
#undef PUSH
#undef TOP
#undef SECOND
#undef VM_CASE
#undef NEXT
#undef BINARY_SLOW
#undef SET_RESULT
#undef COMPARE
}

}  // namespace ferrow
