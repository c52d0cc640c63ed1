// The VM's dispatch loop.
//
// The loop runs the VM's translation of each prototype (VMCode.h,
// Translate.cpp), not the compiler's bytecode: fixed-size instructions with
// decoded operands, resolved jump targets and fused forms of frequent
// sequences, dispatched through the handler address each one carries.
//
// Rules for editing this file:
// - The value stack is raw storage reserved once (kMaxStack values) that
//   never moves: `slots` (the frame's locals), open upvalues and references
//   to stack elements stay valid across pushes. The loop pushes without
//   checking: a call checks that its frame has room for the prototype's
//   maxStack values (pushFrame, and the CALL fast path), and pushes outside
//   the loop go through push(), which checks.
// - Inside the loop the top of the stack lives in the local `sp`; the member
//   top_ is only right after SYNC(). SYNC() before anything out of line that
//   reads the stack or may throw (slow paths, errors, calls, natives,
//   allocation), so that an error unwinds exactly the live values; RELOAD()
//   after anything that changes the stack out of line.
// - `frames` is reserved for kMaxFrames and never reallocates, so the
//   `frame` pointer stays valid while its frame exists. A native may re-enter
//   the loop through call(); the nested loop only adds and removes frames
//   above the current one.
// - The loop keeps the current frame's ip, code, constants, locals and
//   global cache in locals. They must be re-read (LOAD_FRAME, which also
//   reloads sp) after anything that changes the current frame: a closure
//   CALL, RETURN, and a handler taking an error (which restarts runLoop
//   through execute). Before a CALL the ip of the next instruction is saved
//   into the frame.
// - `ip` points at the running instruction; runtime errors carry its line
//   (LINE()) and column 0. A fused instruction comes from source
//   instructions of one line only, so its errors keep their lines.
// - Fast paths for numbers come first; anything else goes to the shared
//   operator semantics, which also produce every error message. A fast path
//   may write a number over a slot without releasing it only when that slot
//   is dead or holds a number.
// - The loop is one large function, where GCC stops inlining on its own.
//   The operations it needs on every instruction are FERROW_HOT, forced
//   inline. Rare and bulky work lives out of line (VMOps.cpp, VMCalls.cpp),
//   and every error is raised by a cold function.
// - No local with a destructor may be live at a DISPATCH(): computed goto
//   does not run destructors. Such locals live in an inner block.
// - A new instruction needs its name in FERROW_FUSED_OPS (VMCode.h), a
//   pattern in the translator, a shape in checkTranslation and a handler
//   here; the label table and the switch come from the one list.

#include "vm/VM.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>
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

// Fast paths of the arithmetic that fused instructions share. Each writes
// its result into `out`, which holds no object (a dead slot or a number), and
// returns false when the operands need the shared rules.
template <OpCode Op>
FERROW_HOT bool fastArith(const Value& a, const Value& b, Value* out) {
    if (a.isInteger() && b.isInteger()) {
        const int64_t x = a.asInteger();
        const int64_t y = b.asInteger();
        if constexpr (Op == OpCode::ADD) {
            new (out) Value(Value::integer(wrapAdd(x, y)));
        } else if constexpr (Op == OpCode::SUB) {
            new (out) Value(Value::integer(wrapSub(x, y)));
        } else if constexpr (Op == OpCode::MUL) {
            new (out) Value(Value::integer(wrapMul(x, y)));
        } else {
            if (y == 0) return false;
            new (out) Value(Value::integer(truncMod(x, y)));
        }
        return true;
    }
    if constexpr (Op == OpCode::MOD) {
        return false;
    } else {
        if (!a.isNumber() || !b.isNumber()) return false;
        const double x = asDouble(a);
        const double y = asDouble(b);
        if constexpr (Op == OpCode::ADD) {
            new (out) Value(Value::number(x + y));
        } else if constexpr (Op == OpCode::SUB) {
            new (out) Value(Value::number(x - y));
        } else {
            new (out) Value(Value::number(x * y));
        }
        return true;
    }
}

constexpr BinOp binOpOf(OpCode op) {
    switch (op) {
    case OpCode::ADD: return BinOp::Add;
    case OpCode::SUB: return BinOp::Sub;
    case OpCode::MUL: return BinOp::Mul;
    case OpCode::MOD: return BinOp::Mod;
    case OpCode::EQUAL: return BinOp::Equal;
    case OpCode::NOT_EQUAL: return BinOp::NotEqual;
    case OpCode::LESS: return BinOp::Less;
    case OpCode::LESS_EQUAL: return BinOp::LessEqual;
    case OpCode::GREATER: return BinOp::Greater;
    default: return BinOp::GreaterEqual;
    }
}

// A comparison as COMPARE below does it: numbers as doubles, equality by the
// shared rule, orderings of anything else by the shared rules (which raise
// the errors).
template <OpCode Op>
FERROW_HOT bool compareOp(const Value& a, const Value& b, int32_t line) {
    if (a.isNumber() && b.isNumber()) {
        const double x = asDouble(a);
        const double y = asDouble(b);
        if constexpr (Op == OpCode::EQUAL) return x == y;
        if constexpr (Op == OpCode::NOT_EQUAL) return x != y;
        if constexpr (Op == OpCode::LESS) return x < y;
        if constexpr (Op == OpCode::LESS_EQUAL) return x <= y;
        if constexpr (Op == OpCode::GREATER) return x > y;
        if constexpr (Op == OpCode::GREATER_EQUAL) return x >= y;
    }
    if constexpr (Op == OpCode::EQUAL) return valuesEqual(a, b);
    if constexpr (Op == OpCode::NOT_EQUAL) return !valuesEqual(a, b);
    return slowCompare(binOpOf(Op), a, b, line);
}

// FOR_CHECK: whether the loop goes on. Integers compare as doubles, like
// every other number; a step of 0 counts as ascending.
FERROW_HOT bool forContinues(const Value& var, const Value& limit, const Value& step,
                             int32_t line) {
    if (var.isInteger() && limit.isInteger() && step.isInteger()) {
        const double v = static_cast<double>(var.asInteger());
        const double l = static_cast<double>(limit.asInteger());
        return step.asInteger() >= 0 ? v <= l : v >= l;
    }
    if (!var.isNumber() || !limit.isNumber() || !step.isNumber()) forLoopNeedsNumbers(line);
    return asDouble(step) >= 0.0 ? asDouble(var) <= asDouble(limit)
                                 : asDouble(var) >= asDouble(limit);
}

// A read of object[key] that needs no error and no copy out of line: a list
// element or a map entry (a missing key reads nil). Null when the shared
// rules must decide.
FERROW_HOT const Value* quickIndex(const Value& object, const Value& key) {
    static const Value kNil;
    if (object.isList() && key.isInteger()) {
        const ListData& list = *object.asList();
        int64_t i = key.asInteger();
        if (i < 0) i += static_cast<int64_t>(list.size());
        if (i >= 0 && static_cast<uint64_t>(i) < list.size()) return &list[static_cast<std::size_t>(i)];
        return nullptr;
    }
    if (object.isMap() && key.isString()) {
        const Value* found = object.asMap()->findString(key.asStringObj());
        return found ? found : &kNil;
    }
    if (object.isMap() && key.isNumber()) {
        const Value* found = object.asMap()->find(key);
        return found ? found : &kNil;
    }
    return nullptr;
}

}  // namespace

namespace {

// The serial numbers of VMs; never reused, so a closure of a VM that is gone
// cannot pass for one of a later VM at the same address.
std::atomic<uint64_t> nextSerial{1};

}  // namespace

VM::VM() : globals(Environment::makeGlobals()), serial_(nextSerial.fetch_add(1)) {
    stack_ = static_cast<Value*>(::operator new(kMaxStack * sizeof(Value)));
    top_ = stack_;
    frames.reserve(kMaxFrames);
    registerNatives(*globals);
    runLoop(kLabelQuery);
#ifdef FERROW_CHECK_TRANSLATION
    checkTranslations_ = true;
#endif
}

VM::~VM() {
    // Globals first: they may hold closures whose upvalues point at the stack.
    if (globals) globals->clear();
    globals.reset();
    handlers.clear();
    openUpvalues.clear();
    frames.clear();
    truncateStack(0);
    ::operator delete(stack_);
    // Whatever cycles the program left behind go with the engine.
    Heap::current().collect();
}

void VM::stackOverflow() const { throw RuntimeError("stack overflow", 0, 0); }

VMCode& VM::codeFor(const FunctionProto& proto) {
    std::unique_ptr<VMCode>& code = code_[&proto];
    if (!code) {
        code = std::make_unique<VMCode>();
        translate(proto, labels_, *code);
        if (checkTranslations_) checkTranslation(proto, *code);
    }
    return *code;
}

Value VM::run(const std::shared_ptr<FunctionProto>& proto) {
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
    const Instr* ip;
    const Instr* codeBase;
    Value* sp;
    Value* slots;
    const Value* constants;
    Value** globalSlots;

#define LOAD_FRAME()                                                   \
    do {                                                               \
        frame = &frames.back();                                        \
        ip = frame->ip;                                                \
        codeBase = frame->code->code.data();                           \
        slots = stack_ + frame->base;                                  \
        constants = frame->closure->proto->constants.data();           \
        globalSlots = frame->code->globalSlots.data();                 \
        sp = top_;                                                     \
    } while (0)
#define SYNC() (top_ = sp)
#define RELOAD() (sp = top_)
#define LINE() static_cast<int32_t>(ip->line)
#define PUSH(v)              \
    do {                     \
        new (sp) Value(v);   \
        ++sp;                \
    } while (0)
#define POP()           \
    do {                \
        --sp;           \
        sp->~Value();   \
    } while (0)
#define TOP() (sp[-1])
// Assignment to the top, spelled out: GCC's bounds warnings misread the
// release of the old value through the assignment operator here.
#define REPLACE_TOP(v)            \
    do {                          \
        Value replacement(v);     \
        sp[-1].~Value();          \
        new (sp - 1) Value(std::move(replacement)); \
    } while (0)
#define SECOND() (sp[-2])

#if FERROW_COMPUTED_GOTO
    static const void* const kLabels[kVOpCount] = {
#define FERROW_LABEL(name, width) &&op_##name,
#define FERROW_FUSED_LABEL(name) &&op_##name,
        FERROW_OPCODES(FERROW_LABEL) FERROW_FUSED_OPS(FERROW_FUSED_LABEL)
#undef FERROW_LABEL
#undef FERROW_FUSED_LABEL
    };
    if (stopDepth == kLabelQuery) {
        labels_ = kLabels;
        return Value();
    }
#define VM_CASE(name) op_##name:
#define DISPATCH() goto* ip->handler
#else
    if (stopDepth == kLabelQuery) return Value();
#define VM_CASE(name) case VOp::name:
#define DISPATCH() goto dispatch
#endif
#define NEXT()       \
    do {             \
        ++ip;        \
        DISPATCH();  \
    } while (0)
#define JUMP_TO(index)                \
    do {                              \
        ip = codeBase + (index);      \
        DISPATCH();                   \
    } while (0)

    LOAD_FRAME();

#if FERROW_COMPUTED_GOTO
    DISPATCH();
    {
#else
dispatch:
    switch (ip->op) {
#endif

    VM_CASE(CONST) {
        PUSH(constants[ip->a]);
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
        POP();
        NEXT();
    }
    VM_CASE(DEFINE_GLOBAL) {
        Value*& slot = globalSlots[ip->a];
        // A cached slot means the binding exists; define would overwrite it.
        if (slot) {
            *slot = std::move(TOP());
        } else {
            SYNC();
            slot = globals->define(constants[ip->a].asString(), std::move(TOP()));
        }
        POP();
        NEXT();
    }
    // The slot of the global named by constant a, looked up on first use and
    // cached: globals are never removed and their map nodes never move, so a
    // slot found once stays valid for the whole run. `missing` reports a name
    // that is not defined.
#define GLOBAL_SLOT(slot, missing)                                 \
    Value* slot = globalSlots[ip->a];                              \
    if (!slot) {                                                   \
        SYNC();                                                    \
        slot = globals->lookup(constants[ip->a].asString());       \
        if (!slot) missing(constants[ip->a], LINE());              \
        globalSlots[ip->a] = slot;                                 \
    }
    VM_CASE(GET_GLOBAL) {
        GLOBAL_SLOT(slot, undefinedVariable);
        PUSH(*slot);
        NEXT();
    }
    VM_CASE(SET_GLOBAL) {
        GLOBAL_SLOT(slot, assignToUndefined);
        *slot = TOP();
        NEXT();
    }
    VM_CASE(SET_GLOBAL_POP) {
        GLOBAL_SLOT(slot, assignToUndefined);
#undef GLOBAL_SLOT
        --sp;
        *slot = std::move(*sp);
        sp->~Value();
        NEXT();
    }
    VM_CASE(GET_LOCAL) {
        PUSH(slots[ip->a]);
        NEXT();
    }
    VM_CASE(SET_LOCAL) {
        slots[ip->a] = TOP();
        NEXT();
    }
    VM_CASE(SET_LOCAL_POP) {
        --sp;
        slots[ip->a] = std::move(*sp);
        sp->~Value();
        NEXT();
    }
    VM_CASE(GET_UPVALUE) {
        PUSH(*frame->closure->upvalues[ip->a]->location);
        NEXT();
    }
    VM_CASE(SET_UPVALUE) {
        *frame->closure->upvalues[ip->a]->location = TOP();
        NEXT();
    }
    VM_CASE(CLOSE_UPVALUE) {
        SYNC();
        if (!openUpvalues.empty()) closeUpvalues(stackSize() - 1);
        POP();
        NEXT();
    }
    VM_CASE(BUILD_LIST) {
        SYNC();
        buildList(static_cast<std::size_t>(ip->a));
        RELOAD();
        NEXT();
    }
    VM_CASE(BUILD_MAP) {
        SYNC();
        buildMap(static_cast<std::size_t>(ip->a), LINE());
        RELOAD();
        NEXT();
    }
    VM_CASE(GET_INDEX) {
        if (const Value* found = quickIndex(SECOND(), TOP())) {
            {
                // Copy first: the object slot may hold the container's last
                // owner.
                Value v(*found);
                POP();
                TOP() = std::move(v);
            }
            NEXT();
        }
        SYNC();
        SECOND() = slowIndex(SECOND(), TOP(), LINE());
        POP();
        NEXT();
    }
    // L(a)[L(b)] and L(a)[K(b)] push the element.
#define PUSH_INDEXED(objectExpr, keyExpr)                        \
    do {                                                         \
        const Value& object = (objectExpr);                      \
        const Value& key = (keyExpr);                            \
        if (const Value* found = quickIndex(object, key)) {      \
            PUSH(*found);                                        \
            NEXT();                                              \
        }                                                        \
        SYNC();                                                  \
        Value* out = sp;                                         \
        new (out) Value(slowIndex(object, key, LINE()));         \
        ++sp;                                                    \
        NEXT();                                                  \
    } while (0)
    VM_CASE(LL_INDEX) { PUSH_INDEXED(slots[ip->a], slots[ip->b]); }
    VM_CASE(LK_INDEX) { PUSH_INDEXED(slots[ip->a], constants[ip->b]); }
#undef PUSH_INDEXED
    VM_CASE(K_INDEX) {
        const Value& key = constants[ip->b];
        if (const Value* found = quickIndex(TOP(), key)) {
            TOP() = Value(*found);
            NEXT();
        }
        SYNC();
        TOP() = slowIndex(TOP(), key, LINE());
        NEXT();
    }
    VM_CASE(GET_INDEX_KEEP) {
        SYNC();
        Value* out = sp;
        new (out) Value(slowIndex(SECOND(), TOP(), LINE()));
        ++sp;
        NEXT();
    }
    VM_CASE(SET_INDEX) {
        SYNC();
        storeIndex(LINE());
        RELOAD();
        NEXT();
    }
    VM_CASE(SET_INDEX_POP) {
        // A list element under an integer index in range, or an existing
        // entry of a map under a string key, is replaced in place.
        if (sp[-3].isList() && sp[-2].isInteger()) {
            ListObj& list = *sp[-3].asList();
            int64_t i = sp[-2].asInteger();
            if (i < 0) i += static_cast<int64_t>(list.size());
            if (i >= 0 && static_cast<uint64_t>(i) < list.size()) {
                --sp;
                list[static_cast<std::size_t>(i)] = std::move(*sp);
                sp->~Value();
                POP();
                POP();
                NEXT();
            }
        }
        if (sp[-3].isMap() && sp[-2].isString()) {
            if (Value* slot = sp[-3].asMap()->findString(sp[-2].asStringObj())) {
                --sp;
                *slot = std::move(*sp);
                sp->~Value();
                POP();
                POP();
                NEXT();
            }
        }
        SYNC();
        storeIndex(LINE());
        RELOAD();
        POP();
        NEXT();
    }

    // Arithmetic: both integers, then both numbers, then the shared rules
    // (which also raise every error). The result replaces the left operand.
#define BINARY_SLOW(binop)                                      \
    do {                                                        \
        SYNC();                                                 \
        SECOND() = slowBinary(binop, SECOND(), TOP(), LINE());  \
        POP();                                                  \
        NEXT();                                                 \
    } while (0)
    // The fused forms: L(a) op L(b) and L(a) op K(b) push the result,
    // top op K(b) replaces the top.
#define ARITH_PUSH(opcode, aExpr, bExpr)                                      \
    do {                                                                     \
        const Value& a = (aExpr);                                            \
        const Value& b = (bExpr);                                            \
        if (!fastArith<OpCode::opcode>(a, b, sp)) {                          \
            SYNC();                                                          \
            new (sp) Value(slowBinary(binOpOf(OpCode::opcode), a, b, LINE())); \
        }                                                                    \
        ++sp;                                                                \
        NEXT();                                                              \
    } while (0)
#define ARITH_FUSED(name, opcode)                                            \
    VM_CASE(LL_##name) { ARITH_PUSH(opcode, slots[ip->a], slots[ip->b]); }   \
    VM_CASE(LK_##name) { ARITH_PUSH(opcode, slots[ip->a], constants[ip->b]); } \
    VM_CASE(K_##name) {                                                      \
        Value& a = TOP();                                                    \
        const Value& b = constants[ip->b];                                   \
        if (a.isNumber() && fastArith<OpCode::opcode>(a, b, &a)) NEXT();     \
        SYNC();                                                              \
        a = slowBinary(binOpOf(OpCode::opcode), a, b, LINE());               \
        NEXT();                                                              \
    }

    ARITH_FUSED(ADD, ADD)
    ARITH_FUSED(SUB, SUB)
    ARITH_FUSED(MUL, MUL)
    ARITH_FUSED(MOD, MOD)

    VM_CASE(ADD) {
        if (SECOND().isNumber() && fastArith<OpCode::ADD>(SECOND(), TOP(), &SECOND())) {
            --sp;  // a number: nothing to release
            NEXT();
        }
        BINARY_SLOW(BinOp::Add);
    }
    VM_CASE(SUB) {
        if (SECOND().isNumber() && fastArith<OpCode::SUB>(SECOND(), TOP(), &SECOND())) {
            --sp;
            NEXT();
        }
        BINARY_SLOW(BinOp::Sub);
    }
    VM_CASE(MUL) {
        if (SECOND().isNumber() && fastArith<OpCode::MUL>(SECOND(), TOP(), &SECOND())) {
            --sp;
            NEXT();
        }
        BINARY_SLOW(BinOp::Mul);
    }
    VM_CASE(DIV) {
        Value& a = SECOND();
        const Value& b = TOP();
        if (a.isNumber() && b.isNumber() && asDouble(b) != 0.0) {
            new (&a) Value(Value::number(asDouble(a) / asDouble(b)));
            --sp;
            NEXT();
        }
        BINARY_SLOW(BinOp::Div);
    }
    VM_CASE(FLOOR_DIV) {
        Value& a = SECOND();
        const Value& b = TOP();
        if (a.isInteger() && b.isInteger() && b.asInteger() != 0) {
            new (&a) Value(Value::integer(floorDiv(a.asInteger(), b.asInteger())));
            --sp;
            NEXT();
        }
        BINARY_SLOW(BinOp::FloorDiv);
    }
    VM_CASE(MOD) {
        if (SECOND().isNumber() && fastArith<OpCode::MOD>(SECOND(), TOP(), &SECOND())) {
            --sp;
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
            a = Value::integer(wrapSub(0, a.asInteger()));
        } else if (a.isFloat()) {
            a = Value::number(-a.asFloat());
        } else {
            SYNC();
            a = slowNegate(a, LINE());
        }
        NEXT();
    }
    VM_CASE(NOT) {
        REPLACE_TOP(Value::boolean(!truthy(TOP())));
        NEXT();
    }

    // Equality and orderings compare numbers as doubles, two integers too
    // (so integers beyond 2^53 compare by their double values); everything
    // else goes to the shared rules. The compare-and-jump forms pop their
    // operands and jump when the comparison is false.
#define COMPARE(name)                                                       \
    VM_CASE(name) {                                                         \
        SYNC();                                                             \
        const bool result = compareOp<OpCode::name>(SECOND(), TOP(), LINE()); \
        POP();                                                              \
        REPLACE_TOP(Value::boolean(result));                                \
        NEXT();                                                             \
    }                                                                       \
    VM_CASE(CMPJ_##name) {                                                  \
        SYNC();                                                             \
        const bool result = compareOp<OpCode::name>(SECOND(), TOP(), LINE()); \
        POP();                                                              \
        POP();                                                              \
        if (!result) JUMP_TO(ip->c);                                        \
        NEXT();                                                             \
    }                                                                       \
    VM_CASE(LL_CMPJ_##name) {                                               \
        SYNC();                                                             \
        if (!compareOp<OpCode::name>(slots[ip->a], slots[ip->b], LINE()))   \
            JUMP_TO(ip->c);                                                 \
        NEXT();                                                             \
    }                                                                       \
    VM_CASE(LK_CMPJ_##name) {                                               \
        SYNC();                                                             \
        if (!compareOp<OpCode::name>(slots[ip->a], constants[ip->b], LINE())) \
            JUMP_TO(ip->c);                                                 \
        NEXT();                                                             \
    }

    COMPARE(EQUAL)
    COMPARE(NOT_EQUAL)
    COMPARE(LESS)
    COMPARE(LESS_EQUAL)
    COMPARE(GREATER)
    COMPARE(GREATER_EQUAL)

    VM_CASE(JUMP) {
        JUMP_TO(ip->c);
    }
    VM_CASE(JUMP_IF_FALSE) {
        if (!truthy(TOP())) JUMP_TO(ip->c);
        NEXT();
    }
    VM_CASE(JUMP_IF_TRUE) {
        if (truthy(TOP())) JUMP_TO(ip->c);
        NEXT();
    }
    VM_CASE(JUMP_FALSE_POP) {
        const bool go = !truthy(TOP());
        POP();
        if (go) JUMP_TO(ip->c);
        NEXT();
    }
    VM_CASE(JUMP_TRUE_POP) {
        const bool go = truthy(TOP());
        POP();
        if (go) JUMP_TO(ip->c);
        NEXT();
    }
    VM_CASE(LOOP) {
        if (stepBudget_-- == 0) {
            SYNC();
            budgetExhausted(stepBudget_, LINE());
        }
        JUMP_TO(ip->c);
    }
    VM_CASE(FOR_TEST) {
        const Value* var = slots + ip->a;
        SYNC();
        if (!forContinues(var[0], var[1], var[2], LINE())) JUMP_TO(ip->c);
        NEXT();
    }
    VM_CASE(FOR_LOOP) {
        // The step, the back edge and the test of a numeric for-loop.
        Value* var = slots + ip->a;
        if (var[0].isInteger() && var[2].isInteger() && var[1].isInteger()) {
            const int64_t next = wrapAdd(var[0].asInteger(), var[2].asInteger());
            new (var) Value(Value::integer(next));
            if (stepBudget_-- == 0) {
                SYNC();
                budgetExhausted(stepBudget_, LINE());
            }
            const double v = static_cast<double>(next);
            const double l = static_cast<double>(var[1].asInteger());
            if (var[2].asInteger() >= 0 ? v <= l : v >= l) JUMP_TO(ip->c);
            NEXT();
        }
        SYNC();
        if (!(var[0].isNumber() && fastArith<OpCode::ADD>(var[0], var[2], var))) {
            var[0] = slowBinary(BinOp::Add, var[0], var[2], LINE());
        }
        if (stepBudget_-- == 0) budgetExhausted(stepBudget_, LINE());
        if (forContinues(var[0], var[1], var[2], LINE())) JUMP_TO(ip->c);
        NEXT();
    }
    VM_CASE(CALL) {
        const std::size_t argCount = static_cast<std::size_t>(ip->a);
        if (stepBudget_-- == 0) {
            SYNC();
            budgetExhausted(stepBudget_, LINE());
        }
        frame->ip = ip + 1;
        const Value& callee = sp[-static_cast<std::ptrdiff_t>(argCount) - 1];
        if (callee.isClosure()) {
            VMClosure* closure = callee.asClosure();
            VMCode* code = closure->code;
            // Translated before, the right number of arguments, room for
            // the frame and its values: push the frame here. Anything
            // else (and every error) goes through pushFrame.
            if (code && closure->codeOwner == serial_ &&
                code->arity == static_cast<int32_t>(argCount) &&
                frames.size() < kMaxFrames &&
                static_cast<std::size_t>(sp - stack_) - argCount + code->maxStack <= kMaxStack) {
                const std::size_t base = static_cast<std::size_t>(sp - stack_) - argCount;
                frames.push_back(CallFrame{closure, code->code.data(), base, code});
                frame = &frames.back();
                ip = code->code.data();
                codeBase = ip;
                slots = stack_ + base;
                constants = closure->proto->constants.data();
                globalSlots = code->globalSlots.data();
                DISPATCH();
            }
            SYNC();
            pushFrame(*closure, argCount, LINE());
            LOAD_FRAME();
            DISPATCH();
        }
        if (callee.isNative()) {
            const NativeObj& native = *callee.asNative();
            const auto count = static_cast<int32_t>(argCount);
            if (count >= native.minArity && (native.maxArity < 0 || count <= native.maxArity)) {
                // As callNative: the arguments are read in place, and the
                // callee stays on the stack during the call.
                SYNC();
                {
                    Value* const calleeSlot = sp - argCount - 1;
                    currentNative = &native;
                    Value result = native.fn(*this, Args(calleeSlot + 1, argCount));
                    RELOAD();
                    while (sp > calleeSlot) {
                        --sp;
                        sp->~Value();
                    }
                    new (sp) Value(std::move(result));
                    ++sp;
                }
                NEXT();
            }
        }
        SYNC();
        callValue(argCount, LINE());
        RELOAD();
        NEXT();
    }
    VM_CASE(CLOSURE) {
        SYNC();
        makeClosure(static_cast<std::size_t>(ip->a), *frame);
        RELOAD();
        NEXT();
    }
    VM_CASE(RETURN) {
        const std::size_t base = frame->base;
        // Captured variables of the returning frame live on in their
        // upvalues.
        if (!openUpvalues.empty()) {
            SYNC();
            closeUpvalues(base);
        }
        frames.pop_back();
        // Handlers of the returning frame (a return inside a try) end with it.
        while (!handlers.empty() && handlers.back().frameCount > frames.size()) {
            handlers.pop_back();
        }
        // The result takes the callee's place; the rest of the frame goes.
        const std::size_t calleeSlot = base == 0 ? 0 : base - 1;
        if (frames.size() == stopDepth) {
            SYNC();
            Value result = std::move(back());
            truncateStack(calleeSlot);
            return result;
        }
        {
            Value* const callee = stack_ + calleeSlot;
            Value result(std::move(sp[-1]));
            // Released from the top down, as truncateStack does.
            while (sp > callee) {
                --sp;
                sp->~Value();
            }
            new (callee) Value(std::move(result));
            sp = callee + 1;
        }
        frame = &frames.back();
        ip = frame->ip;
        codeBase = frame->code->code.data();
        slots = stack_ + frame->base;
        constants = frame->closure->proto->constants.data();
        globalSlots = frame->code->globalSlots.data();
        DISPATCH();
    }
    VM_CASE(ITER_PREPARE) {
        SYNC();
        iterationSnapshot(LINE());
        NEXT();
    }
    VM_CASE(LEN) {
        Value& x = TOP();
        if (x.isList()) {
            x = Value::integer(static_cast<int64_t>(x.asList()->size()));
        } else {
            SYNC();
            lengthOf(LINE());
        }
        NEXT();
    }
    VM_CASE(FOR_CHECK) {
        SYNC();
        const bool more = forContinues(sp[-3], sp[-2], sp[-1], LINE());
        POP();
        POP();
        REPLACE_TOP(Value::boolean(more));
        NEXT();
    }
    VM_CASE(TRY_BEGIN) {
        // The handler delivers the caught value into one more slot.
        SYNC();
        handlers.push_back(TryHandler{frames.size(), stackSize(), codeBase + ip->c});
        NEXT();
    }
    VM_CASE(TRY_END) {
        if (!handlers.empty()) handlers.pop_back();
        NEXT();
    }
    VM_CASE(HALT) {
        SYNC();
        return Value();
    }

#if !FERROW_COMPUTED_GOTO
    }
    // Only the translation produces instructions, and it makes no other.
    SYNC();
    throw RuntimeError("bad instruction", LINE(), 0);
#else
    }
    __builtin_unreachable();
#endif

#undef LOAD_FRAME
#undef SYNC
#undef RELOAD
#undef LINE
#undef PUSH
#undef POP
#undef TOP
#undef REPLACE_TOP
#undef SECOND
#undef VM_CASE
#undef DISPATCH
#undef NEXT
#undef JUMP_TO
#undef BINARY_SLOW
#undef ARITH_FUSED
#undef ARITH_PUSH
#undef COMPARE
}

}  // namespace ferrow
