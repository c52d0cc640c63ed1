#pragma once
// The VM's own form of a prototype's code.
//
// The compiler's bytecode is compact and stable (the disassembler and its
// tests read it); the VM runs something else. The first time a prototype is
// called the VM translates it once into an array of fixed-size instructions:
// operands decoded and widened, jump targets resolved to instruction
// indices, the handler's address in place of the opcode (direct threading),
// and frequent sequences fused into one instruction (the numeric for-loop's
// test and step, arithmetic on locals and constants, compare-and-jump,
// indexing a local with a constant key). Every instruction keeps the source
// line of the instructions it came from, so errors point where they did.
//
// A translated instruction covers one or more whole source instructions, and
// every jump of the source lands on the start of a translated one. The check
// (checkTranslation) proves both against the source; builds made with the
// FERROW_CHECK_TRANSLATION option (the sanitizer preset) run it on every
// translation.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "compiler/FunctionProto.h"
#include "compiler/OpCodes.h"

namespace ferrow {

// The fused instructions, after the source opcodes (which keep their numbers
// and meanings, with operands widened). In the comments, L(x) is local slot
// x, K(x) constant x; `target` is the instruction index in c.
#define FERROW_FUSED_OPS(X)                                                                 \
    X(FOR_TEST)       /* L(a) L(a+1) L(a+2) FOR_CHECK JUMP_IF_FALSE POP: exit to target */ \
    X(FOR_LOOP)       /* a += a+2, spend a step, re-test: to target (the body) or on */    \
    X(JUMP_FALSE_POP) /* JUMP_IF_FALSE to a POP, POP: pops on both ways */                 \
    X(JUMP_TRUE_POP)  /* JUMP_IF_TRUE to a POP, POP */                                     \
    X(SET_LOCAL_POP)                                                                       \
    X(SET_GLOBAL_POP)                                                                      \
    X(SET_INDEX_POP)                                                                       \
    X(LL_ADD) X(LL_SUB) X(LL_MUL) X(LL_MOD) /* push L(a) op L(b) */                        \
    X(LK_ADD) X(LK_SUB) X(LK_MUL) X(LK_MOD) /* push L(a) op K(b) */                        \
    X(K_ADD) X(K_SUB) X(K_MUL) X(K_MOD)     /* top = top op K(b) */                        \
    X(LL_INDEX)                             /* push L(a)[L(b)] */                          \
    X(LK_INDEX)                             /* push L(a)[K(b)] */                          \
    X(K_INDEX)                              /* top = top[K(b)] */                          \
    X(CMPJ_EQUAL) X(CMPJ_NOT_EQUAL) X(CMPJ_LESS)                                           \
    X(CMPJ_LESS_EQUAL) X(CMPJ_GREATER) X(CMPJ_GREATER_EQUAL) /* pop two, jump if false */  \
    X(LL_CMPJ_EQUAL) X(LL_CMPJ_NOT_EQUAL) X(LL_CMPJ_LESS)                                  \
    X(LL_CMPJ_LESS_EQUAL) X(LL_CMPJ_GREATER) X(LL_CMPJ_GREATER_EQUAL) /* L(a), L(b) */    \
    X(LK_CMPJ_EQUAL) X(LK_CMPJ_NOT_EQUAL) X(LK_CMPJ_LESS)                                  \
    X(LK_CMPJ_LESS_EQUAL) X(LK_CMPJ_GREATER) X(LK_CMPJ_GREATER_EQUAL) /* L(a), K(b) */

enum class VOp : uint16_t {
#define FERROW_VOP_SOURCE(name, width) name,
#define FERROW_VOP_FUSED(name) name,
    FERROW_OPCODES(FERROW_VOP_SOURCE) FERROW_FUSED_OPS(FERROW_VOP_FUSED)
#undef FERROW_VOP_SOURCE
#undef FERROW_VOP_FUSED
};

inline constexpr std::size_t kVOpCount = kOpCodeCount
#define FERROW_VOP_COUNT(name) +1
    FERROW_FUSED_OPS(FERROW_VOP_COUNT)
#undef FERROW_VOP_COUNT
    ;

const char* vopName(VOp op);

struct Instr {
    const void* handler = nullptr;  // computed goto only
    int32_t a = 0;
    int32_t b = 0;
    int32_t c = 0;  // jump target
    uint32_t line = 0;
    VOp op = VOp::HALT;
};

struct VMCode {
    std::vector<Instr> code;
    // For the check: the first source instruction (byte offset) and the
    // number of source instructions each translated one covers.
    std::vector<uint32_t> sourceOffset;
    std::vector<uint16_t> sourceCount;
    // The resolved global of each constant that names one, filled lazily.
    std::vector<Value*> globalSlots;
    // The translations of the nested prototypes, by index, found when the
    // first closure of each is made.
    std::vector<VMCode*> nested;
    uint32_t maxStack = 0;  // the prototype's
    int32_t arity = 0;
};

// Translates a prototype. `handlers` is the dispatch loop's label table
// indexed by VOp (null when it dispatches with a switch).
void translate(const FunctionProto& proto, const void* const* handlers, VMCode& out);
// Aborts with a description when `code` is not a faithful translation of
// `proto`.
void checkTranslation(const FunctionProto& proto, const VMCode& code);

}  // namespace ferrow
