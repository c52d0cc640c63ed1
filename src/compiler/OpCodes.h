#pragma once
// The instruction set of the VM, defined once.
//
// FERROW_OPCODES lists every opcode in numeric order with the number of
// operand bytes that follow it. The enum, the name table, the operand widths
// and the VM's dispatch table are all generated from this one list, so they
// cannot drift apart. Stack effects are written bottom -> top; 16-bit
// operands are big-endian and unsigned, jump distances count from the byte
// after the operand.

#include <cstddef>
#include <cstdint>

namespace ferrow {

// X(name, operand bytes)
#define FERROW_OPCODES(X)                                                                   \
    X(CONST, 2)          /* u16 constant        -> v: push a copy of the constant */       \
    X(NIL, 0)            /*                     -> nil */                                  \
    X(TRUE, 0)           /*                     -> true */                                 \
    X(FALSE, 0)          /*                     -> false */                                \
    X(POP, 0)            /* v ->                   discard the top */                      \
    X(DEFINE_GLOBAL, 2)  /* u16 name constant   v -> : create or replace the global */     \
    X(GET_GLOBAL, 2)     /* u16 name constant   -> v */                                    \
    X(SET_GLOBAL, 2)     /* u16 name constant   v -> v : existing globals only */          \
    X(GET_LOCAL, 2)      /* u16 slot            -> v */                                    \
    X(SET_LOCAL, 2)      /* u16 slot            v -> v */                                  \
    X(GET_UPVALUE, 1)    /* u8 upvalue          -> v */                                    \
    X(SET_UPVALUE, 1)    /* u8 upvalue          v -> v */                                  \
    X(CLOSE_UPVALUE, 0)  /* v ->                   close upvalues of the top slot, pop */  \
    X(BUILD_LIST, 2)     /* u16 count n         e1..en -> list */                          \
    X(BUILD_MAP, 2)      /* u16 pair count n    k1 v1..kn vn -> map */                     \
    X(GET_INDEX, 0)      /* obj key -> v */                                                \
    X(GET_INDEX_KEEP, 0) /* obj key -> obj key v */                                        \
    X(SET_INDEX, 0)      /* obj key v -> v */                                              \
    X(ADD, 0)            /* a b -> a+b */                                                  \
    X(SUB, 0)            /* a b -> a-b */                                                  \
    X(MUL, 0)            /* a b -> a*b */                                                  \
    X(DIV, 0)            /* a b -> a/b, always a float */                                  \
    X(FLOOR_DIV, 0)      /* a b -> a//b */                                                 \
    X(MOD, 0)            /* a b -> a%b */                                                  \
    X(POW, 0)            /* a b -> a^b */                                                  \
    X(NEGATE, 0)         /* a -> -a */                                                     \
    X(NOT, 0)            /* a -> bool */                                                   \
    X(EQUAL, 0)          /* a b -> bool */                                                 \
    X(NOT_EQUAL, 0)      /* a b -> bool */                                                 \
    X(LESS, 0)           /* a b -> bool */                                                 \
    X(LESS_EQUAL, 0)     /* a b -> bool */                                                 \
    X(GREATER, 0)        /* a b -> bool */                                                 \
    X(GREATER_EQUAL, 0)  /* a b -> bool */                                                 \
    X(JUMP, 2)           /* u16 forward distance */                                        \
    X(JUMP_IF_FALSE, 2)  /* u16 forward distance   cond -> cond */                         \
    X(JUMP_IF_TRUE, 2)   /* u16 forward distance   cond -> cond */                         \
    X(LOOP, 2)           /* u16 backward distance */                                       \
    X(CALL, 1)           /* u8 argument count   f a1..an -> result */                      \
    X(CLOSURE, 2)        /* u16 nested proto    -> closure */                              \
    X(RETURN, 0)         /* v -> ; v replaces the callee in the caller */                  \
    X(ITER_PREPARE, 0)   /* x -> list snapshot for for-in */                               \
    X(LEN, 0)            /* x -> integer length */                                         \
    X(FOR_CHECK, 0)      /* var limit step -> bool */                                      \
    X(TRY_BEGIN, 2)      /* u16 forward distance to the catch part */                      \
    X(TRY_END, 0)        /* drop the innermost handler */                                  \
    X(HALT, 0)           /* end the run with nil; never emitted */

enum class OpCode : uint8_t {
#define FERROW_OPCODE_ENUM(name, width) name,
    FERROW_OPCODES(FERROW_OPCODE_ENUM)
#undef FERROW_OPCODE_ENUM
};

inline constexpr std::size_t kOpCodeCount = 0
#define FERROW_OPCODE_COUNT(name, width) +1
    FERROW_OPCODES(FERROW_OPCODE_COUNT)
#undef FERROW_OPCODE_COUNT
    ;

inline constexpr const char* kOpCodeNames[kOpCodeCount] = {
#define FERROW_OPCODE_NAME(name, width) #name,
    FERROW_OPCODES(FERROW_OPCODE_NAME)
#undef FERROW_OPCODE_NAME
};

inline constexpr uint8_t kOpCodeOperandBytes[kOpCodeCount] = {
#define FERROW_OPCODE_WIDTH(name, width) width,
    FERROW_OPCODES(FERROW_OPCODE_WIDTH)
#undef FERROW_OPCODE_WIDTH
};

static_assert(kOpCodeCount == 46, "the instruction set has 46 opcodes");
static_assert(static_cast<int>(OpCode::HALT) == 45, "HALT is the last opcode");

inline const char* opCodeName(OpCode op) { return kOpCodeNames[static_cast<uint8_t>(op)]; }
inline uint8_t operandBytes(OpCode op) { return kOpCodeOperandBytes[static_cast<uint8_t>(op)]; }

}  // namespace ferrow
