// Translation of a prototype's bytecode into the VM's instructions, and the
// check that a translation is faithful (see VMCode.h).

#include <cstdio>
#include <cstdlib>
#include <string>

#include "vm/VMCode.h"

namespace ferrow {

namespace {

constexpr const char* kVOpNames[kVOpCount] = {
#define FERROW_VOP_SOURCE_NAME(name, width) #name,
#define FERROW_VOP_FUSED_NAME(name) #name,
    FERROW_OPCODES(FERROW_VOP_SOURCE_NAME) FERROW_FUSED_OPS(FERROW_VOP_FUSED_NAME)
#undef FERROW_VOP_SOURCE_NAME
#undef FERROW_VOP_FUSED_NAME
};

// One decoded source instruction.
struct Src {
    uint32_t offset = 0;
    OpCode op = OpCode::HALT;
    int32_t operand = 0;
    uint32_t line = 0;
    int32_t target = -1;  // index of the jump's target instruction
};

[[noreturn]] void broken(const FunctionProto& proto, const std::string& what) {
    std::fprintf(stderr, "ferrow: bad translation of %s: %s\n", proto.name.c_str(), what.c_str());
    std::abort();
}

bool isJump(OpCode op) {
    return op == OpCode::JUMP || op == OpCode::JUMP_IF_FALSE || op == OpCode::JUMP_IF_TRUE ||
           op == OpCode::LOOP || op == OpCode::TRY_BEGIN;
}

std::vector<Src> decode(const FunctionProto& proto) {
    const std::vector<uint8_t>& code = proto.code;
    std::vector<Src> src;
    std::vector<int32_t> indexAt(code.size() + 1, -1);
    std::size_t pc = 0;
    while (pc < code.size()) {
        Src s;
        s.offset = static_cast<uint32_t>(pc);
        s.op = static_cast<OpCode>(code[pc]);
        s.line = proto.lines[pc];
        const std::size_t width = operandBytes(s.op);
        if (pc + width >= code.size()) broken(proto, "truncated instruction");
        if (width == 1) s.operand = code[pc + 1];
        if (width == 2) s.operand = (code[pc + 1] << 8) | code[pc + 2];
        indexAt[pc] = static_cast<int32_t>(src.size());
        src.push_back(s);
        pc += 1 + width;
    }
    for (Src& s : src) {
        if (!isJump(s.op)) continue;
        const std::size_t after = s.offset + 3;
        const std::size_t to = s.op == OpCode::LOOP ? after - static_cast<std::size_t>(s.operand)
                                                    : after + static_cast<std::size_t>(s.operand);
        if (to >= code.size() || indexAt[to] < 0) broken(proto, "jump into an instruction");
        s.target = indexAt[to];
    }
    return src;
}

// A conditional jump to a POP followed by a POP: both ways pop the
// condition, so the pair can become one instruction that jumps past the
// target's POP.
bool popsBothWays(const std::vector<Src>& src, std::size_t i) {
    return (src[i].op == OpCode::JUMP_IF_FALSE || src[i].op == OpCode::JUMP_IF_TRUE) &&
           i + 1 < src.size() && src[i + 1].op == OpCode::POP &&
           src[static_cast<std::size_t>(src[i].target)].op == OpCode::POP;
}

bool isArith(OpCode op) {
    return op == OpCode::ADD || op == OpCode::SUB || op == OpCode::MUL || op == OpCode::MOD;
}
bool isCompare(OpCode op) {
    return op >= OpCode::EQUAL && op <= OpCode::GREATER_EQUAL;
}
int arithIndex(OpCode op) {
    switch (op) {
    case OpCode::ADD: return 0;
    case OpCode::SUB: return 1;
    case OpCode::MUL: return 2;
    default: return 3;  // MOD
    }
}
VOp offset(VOp first, int by) { return static_cast<VOp>(static_cast<int>(first) + by); }
int compareIndex(OpCode op) {
    return static_cast<int>(op) - static_cast<int>(OpCode::EQUAL);
}

// The shape of a fused instruction: the source it stands for.
enum class Form { None, ForTest, ForLoop, JumpPop, SetPop, LL, LK, K, CmpJ, LLCmpJ, LKCmpJ };
struct Shape {
    Form form = Form::None;
    OpCode op = OpCode::HALT;  // the operator or the SET_ instruction
};

Shape shapeOf(VOp v) {
    const int n = static_cast<int>(v);
    auto in = [n](VOp first, int count) {
        return n >= static_cast<int>(first) && n < static_cast<int>(first) + count;
    };
    static constexpr OpCode kArith[] = {OpCode::ADD, OpCode::SUB, OpCode::MUL, OpCode::MOD};
    auto cmp = [](int k) { return static_cast<OpCode>(static_cast<int>(OpCode::EQUAL) + k); };
    switch (v) {
    case VOp::FOR_TEST: return {Form::ForTest, OpCode::FOR_CHECK};
    case VOp::FOR_LOOP: return {Form::ForLoop, OpCode::ADD};
    case VOp::JUMP_FALSE_POP: return {Form::JumpPop, OpCode::JUMP_IF_FALSE};
    case VOp::JUMP_TRUE_POP: return {Form::JumpPop, OpCode::JUMP_IF_TRUE};
    case VOp::SET_LOCAL_POP: return {Form::SetPop, OpCode::SET_LOCAL};
    case VOp::SET_GLOBAL_POP: return {Form::SetPop, OpCode::SET_GLOBAL};
    case VOp::SET_INDEX_POP: return {Form::SetPop, OpCode::SET_INDEX};
    case VOp::LL_INDEX: return {Form::LL, OpCode::GET_INDEX};
    case VOp::LK_INDEX: return {Form::LK, OpCode::GET_INDEX};
    case VOp::K_INDEX: return {Form::K, OpCode::GET_INDEX};
    default: break;
    }
    if (in(VOp::LL_ADD, 4)) return {Form::LL, kArith[n - static_cast<int>(VOp::LL_ADD)]};
    if (in(VOp::LK_ADD, 4)) return {Form::LK, kArith[n - static_cast<int>(VOp::LK_ADD)]};
    if (in(VOp::K_ADD, 4)) return {Form::K, kArith[n - static_cast<int>(VOp::K_ADD)]};
    if (in(VOp::CMPJ_EQUAL, 6)) return {Form::CmpJ, cmp(n - static_cast<int>(VOp::CMPJ_EQUAL))};
    if (in(VOp::LL_CMPJ_EQUAL, 6)) {
        return {Form::LLCmpJ, cmp(n - static_cast<int>(VOp::LL_CMPJ_EQUAL))};
    }
    if (in(VOp::LK_CMPJ_EQUAL, 6)) {
        return {Form::LKCmpJ, cmp(n - static_cast<int>(VOp::LK_CMPJ_EQUAL))};
    }
    return {};
}

class Translator {
public:
    Translator(const FunctionProto& proto, std::vector<Src> src, bool fuse)
        : proto_(proto), src_(std::move(src)), fuse_(fuse), isTarget_(src_.size() + 1, false),
          forTest_(src_.size(), false) {
        for (std::size_t j = 0; j < src_.size(); ++j) {
            const Src& s = src_[j];
            if (s.target < 0) continue;
            const bool skipPop = fuse_ && popsBothWays(src_, j);
            isTarget_[static_cast<std::size_t>(s.target) + (skipPop ? 1 : 0)] = true;
        }
    }

    // False when a jump target fell inside a fused instruction.
    bool run(const void* const* handlers, VMCode& out) {
        std::vector<int32_t> startOf(src_.size() + 1, -1);
        std::vector<int32_t> jumpTo;  // source target per instruction, -1 for none
        out.code.clear();
        out.sourceOffset.clear();
        out.sourceCount.clear();
        std::size_t i = 0;
        while (i < src_.size()) {
            startOf[i] = static_cast<int32_t>(out.code.size());
            Instr instr;
            int32_t target = -1;
            const std::size_t count = fuse_ ? fused(i, instr, target) : 0;
            const std::size_t used = count > 0 ? count : plain(i, instr, target);
            instr.line = src_[i].line;
            if (handlers) instr.handler = handlers[static_cast<std::size_t>(instr.op)];
            out.code.push_back(instr);
            out.sourceOffset.push_back(src_[i].offset);
            out.sourceCount.push_back(static_cast<uint16_t>(used));
            jumpTo.push_back(target);
            i += used;
        }
        for (std::size_t k = 0; k < out.code.size(); ++k) {
            if (jumpTo[k] < 0) continue;
            const int32_t to = startOf[static_cast<std::size_t>(jumpTo[k])];
            if (to < 0) return false;
            out.code[k].c = to;
        }
        out.globalSlots.assign(proto_.constants.size(), nullptr);
        out.nested.assign(proto_.protos.size(), nullptr);
        out.maxStack = proto_.maxStack;
        out.arity = proto_.arity;
        return true;
    }

private:
    std::size_t plain(std::size_t i, Instr& instr, int32_t& target) const {
        const Src& s = src_[i];
        instr.op = static_cast<VOp>(s.op);
        instr.a = s.operand;
        target = s.target;
        return 1;
    }

    // Whether src[i, i + count) may become one instruction: it exists, no
    // jump lands inside it, and it comes from one line.
    bool fits(std::size_t i, std::size_t count) const {
        if (i + count > src_.size()) return false;
        for (std::size_t k = i + 1; k < i + count; ++k) {
            if (isTarget_[k] || src_[k].line != src_[i].line) return false;
        }
        return true;
    }
    OpCode op(std::size_t i) const { return i < src_.size() ? src_[i].op : OpCode::HALT; }
    int32_t arg(std::size_t i) const { return src_[i].operand; }
    // The instruction after a popping jump's target POP.
    int32_t pastPop(std::size_t jump) const { return src_[jump].target + 1; }

    bool forTestAt(std::size_t i) const {
        return op(i) == OpCode::GET_LOCAL && op(i + 1) == OpCode::GET_LOCAL &&
               op(i + 2) == OpCode::GET_LOCAL && op(i + 3) == OpCode::FOR_CHECK &&
               op(i + 4) == OpCode::JUMP_IF_FALSE && arg(i + 1) == arg(i) + 1 &&
               arg(i + 2) == arg(i) + 2 && popsBothWays(src_, i + 4) && fits(i, 6);
    }

    // Returns the number of source instructions fused into `instr`, 0 for
    // none.
    std::size_t fused(std::size_t i, Instr& instr, int32_t& target) {
        const OpCode o0 = op(i), o1 = op(i + 1), o2 = op(i + 2);
        if (forTestAt(i)) {
            forTest_[i] = true;
            instr.op = VOp::FOR_TEST;
            instr.a = arg(i);
            target = pastPop(i + 4);
            return 6;
        }
        if (o0 == OpCode::GET_LOCAL && o1 == OpCode::GET_LOCAL && o2 == OpCode::ADD &&
            op(i + 3) == OpCode::SET_LOCAL && op(i + 4) == OpCode::POP &&
            op(i + 5) == OpCode::LOOP && op(i + 6) == OpCode::POP && fits(i, 7)) {
            const auto loop = static_cast<std::size_t>(src_[i + 5].target);
            const int32_t var = arg(i);
            if (arg(i + 1) == var + 2 && arg(i + 3) == var && loop < i && forTest_[loop] &&
                arg(loop) == var && src_[loop + 4].target == static_cast<int32_t>(i + 6) &&
                src_[loop].line == src_[i].line) {
                instr.op = VOp::FOR_LOOP;
                instr.a = var;
                target = static_cast<int32_t>(loop + 6);
                return 7;
            }
        }
        const bool localFirst = o0 == OpCode::GET_LOCAL;
        const bool secondOperand = o1 == OpCode::GET_LOCAL || o1 == OpCode::CONST;
        if (localFirst && secondOperand) {
            const bool constant = o1 == OpCode::CONST;
            if (isCompare(o2) && op(i + 3) == OpCode::JUMP_IF_FALSE && popsBothWays(src_, i + 3) &&
                fits(i, 5)) {
                instr.op = offset(constant ? VOp::LK_CMPJ_EQUAL : VOp::LL_CMPJ_EQUAL,
                                  compareIndex(o2));
                instr.a = arg(i);
                instr.b = arg(i + 1);
                target = pastPop(i + 3);
                return 5;
            }
            if (isArith(o2) && fits(i, 3)) {
                instr.op = offset(constant ? VOp::LK_ADD : VOp::LL_ADD, arithIndex(o2));
                instr.a = arg(i);
                instr.b = arg(i + 1);
                return 3;
            }
            if (o2 == OpCode::GET_INDEX && fits(i, 3)) {
                instr.op = constant ? VOp::LK_INDEX : VOp::LL_INDEX;
                instr.a = arg(i);
                instr.b = arg(i + 1);
                return 3;
            }
        }
        if (isCompare(o0) && o1 == OpCode::JUMP_IF_FALSE && popsBothWays(src_, i + 1) &&
            fits(i, 3)) {
            instr.op = offset(VOp::CMPJ_EQUAL, compareIndex(o0));
            target = pastPop(i + 1);
            return 3;
        }
        if (o0 == OpCode::CONST && (isArith(o1) || o1 == OpCode::GET_INDEX) && fits(i, 2)) {
            instr.op = o1 == OpCode::GET_INDEX ? VOp::K_INDEX : offset(VOp::K_ADD, arithIndex(o1));
            instr.b = arg(i);
            return 2;
        }
        if (popsBothWays(src_, i) && fits(i, 2)) {
            instr.op = o0 == OpCode::JUMP_IF_FALSE ? VOp::JUMP_FALSE_POP : VOp::JUMP_TRUE_POP;
            target = pastPop(i);
            return 2;
        }
        if (o1 == OpCode::POP && fits(i, 2)) {
            if (o0 == OpCode::SET_LOCAL || o0 == OpCode::SET_GLOBAL || o0 == OpCode::SET_INDEX) {
                instr.op = o0 == OpCode::SET_LOCAL    ? VOp::SET_LOCAL_POP
                           : o0 == OpCode::SET_GLOBAL ? VOp::SET_GLOBAL_POP
                                                      : VOp::SET_INDEX_POP;
                instr.a = arg(i);
                return 2;
            }
        }
        return 0;
    }

    const FunctionProto& proto_;
    std::vector<Src> src_;
    bool fuse_;
    std::vector<bool> isTarget_;
    std::vector<bool> forTest_;
};

}  // namespace

const char* vopName(VOp op) { return kVOpNames[static_cast<std::size_t>(op)]; }

void translate(const FunctionProto& proto, const void* const* handlers, VMCode& out) {
    std::vector<Src> src = decode(proto);
    if (Translator(proto, src, true).run(handlers, out)) return;
    // Some jump landed inside a fused sequence: translate one for one,
    // which always works.
    if (!Translator(proto, std::move(src), false).run(handlers, out)) {
        broken(proto, "unresolved jump");
    }
}

void checkTranslation(const FunctionProto& proto, const VMCode& out) {
    const std::vector<Src> src = decode(proto);
    const std::vector<Instr>& code = out.code;
    if (out.sourceOffset.size() != code.size() || out.sourceCount.size() != code.size()) {
        broken(proto, "missing source map");
    }
    // Instruction k covers src[first[k], first[k] + count); together they
    // cover the source once, in order.
    std::vector<std::size_t> first(code.size());
    std::vector<int32_t> instrAt(src.size() + 1, -1);
    std::size_t cursor = 0;
    for (std::size_t k = 0; k < code.size(); ++k) {
        const std::string where = "instruction " + std::to_string(k) + " (" + vopName(code[k].op) + ")";
        if (cursor >= src.size() || src[cursor].offset != out.sourceOffset[k] ||
            out.sourceCount[k] == 0) {
            broken(proto, where + " does not start at the next source instruction");
        }
        first[k] = cursor;
        instrAt[cursor] = static_cast<int32_t>(k);
        cursor += out.sourceCount[k];
        if (cursor > src.size()) broken(proto, where + " runs past the end");
        for (std::size_t s = first[k]; s < cursor; ++s) {
            if (src[s].line != code[k].line) broken(proto, where + " has the wrong line");
        }
    }
    if (cursor != src.size()) broken(proto, "the source is not covered");

    for (std::size_t k = 0; k < code.size(); ++k) {
        const Instr& in = code[k];
        const std::size_t f = first[k];
        const std::size_t count = out.sourceCount[k];
        const std::string where = "instruction " + std::to_string(k) + " (" + vopName(in.op) + ")";
        auto expect = [&](bool ok, const char* what) {
            if (!ok) broken(proto, where + ": " + what);
        };
        auto ops = [&](std::initializer_list<OpCode> list) {
            expect(list.size() == count, "covers the wrong number of instructions");
            std::size_t s = f;
            for (OpCode o : list) expect(src[s++].op == o, "stands for other instructions");
        };
        // The translated jump must land on the instruction that starts at
        // source instruction `to`.
        auto jumpsTo = [&](int32_t to) {
            expect(to >= 0 && static_cast<std::size_t>(to) < src.size() &&
                       instrAt[static_cast<std::size_t>(to)] >= 0,
                   "its target is not the start of an instruction");
            expect(in.c == instrAt[static_cast<std::size_t>(to)], "jumps to the wrong place");
        };
        auto popTarget = [&](std::size_t jump) {
            const int32_t t = src[jump].target;
            expect(src[static_cast<std::size_t>(t)].op == OpCode::POP, "the target is no POP");
            jumpsTo(t + 1);
        };

        if (static_cast<std::size_t>(in.op) < kOpCodeCount) {
            ops({static_cast<OpCode>(in.op)});
            if (operandBytes(src[f].op) > 0 && !isJump(src[f].op)) {
                expect(in.a == src[f].operand, "has the wrong operand");
            }
            if (isJump(src[f].op)) jumpsTo(src[f].target);
            continue;
        }
        const Shape shape = shapeOf(in.op);
        switch (shape.form) {
        case Form::ForTest:
            ops({OpCode::GET_LOCAL, OpCode::GET_LOCAL, OpCode::GET_LOCAL, OpCode::FOR_CHECK,
                 OpCode::JUMP_IF_FALSE, OpCode::POP});
            expect(src[f].operand == in.a && src[f + 1].operand == in.a + 1 &&
                       src[f + 2].operand == in.a + 2,
                   "reads the wrong slots");
            popTarget(f + 4);
            break;
        case Form::ForLoop: {
            ops({OpCode::GET_LOCAL, OpCode::GET_LOCAL, OpCode::ADD, OpCode::SET_LOCAL, OpCode::POP,
                 OpCode::LOOP, OpCode::POP});
            expect(src[f].operand == in.a && src[f + 1].operand == in.a + 2 &&
                       src[f + 3].operand == in.a,
                   "steps the wrong slots");
            const auto loop = static_cast<std::size_t>(src[f + 5].target);
            const int32_t test = instrAt[loop];
            expect(test >= 0 && code[static_cast<std::size_t>(test)].op == VOp::FOR_TEST &&
                       code[static_cast<std::size_t>(test)].a == in.a &&
                       code[static_cast<std::size_t>(test)].line == in.line,
                   "does not loop back to its test");
            expect(src[loop + 4].target == static_cast<int32_t>(f + 6),
                   "its test does not exit past it");
            jumpsTo(static_cast<int32_t>(loop + 6));
            break;
        }
        case Form::JumpPop:
            ops({shape.op, OpCode::POP});
            popTarget(f);
            break;
        case Form::SetPop:
            ops({shape.op, OpCode::POP});
            if (shape.op != OpCode::SET_INDEX) expect(in.a == src[f].operand, "has the wrong operand");
            break;
        case Form::LL:
        case Form::LK:
            ops({OpCode::GET_LOCAL, shape.form == Form::LL ? OpCode::GET_LOCAL : OpCode::CONST,
                 shape.op});
            expect(in.a == src[f].operand && in.b == src[f + 1].operand, "has the wrong operands");
            break;
        case Form::K:
            ops({OpCode::CONST, shape.op});
            expect(in.b == src[f].operand, "has the wrong constant");
            break;
        case Form::CmpJ:
            ops({shape.op, OpCode::JUMP_IF_FALSE, OpCode::POP});
            popTarget(f + 1);
            break;
        case Form::LLCmpJ:
        case Form::LKCmpJ:
            ops({OpCode::GET_LOCAL,
                 shape.form == Form::LLCmpJ ? OpCode::GET_LOCAL : OpCode::CONST, shape.op,
                 OpCode::JUMP_IF_FALSE, OpCode::POP});
            expect(in.a == src[f].operand && in.b == src[f + 1].operand, "has the wrong operands");
            popTarget(f + 3);
            break;
        case Form::None:
            expect(false, "is unknown");
        }
    }
    if (out.globalSlots.size() != proto.constants.size()) broken(proto, "global cache size");
}

}  // namespace ferrow
