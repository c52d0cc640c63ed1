#include "compiler/Disassembler.h"

#include <cstdio>

#include "compiler/OpCodes.h"
#include "value/TextForm.h"

namespace ferrow {

namespace {

void appendPadded(std::string& out, std::size_t value, int width, bool zeros) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, zeros ? "%0*zu" : "%*zu", width, value);
    out += buffer;
}

std::string constantText(const FunctionProto& proto, std::size_t index, bool bareName) {
    if (index >= proto.constants.size()) return "<no such constant>";
    const Value& value = proto.constants[index];
    if (bareName && value.isString()) return std::string(value.asString());
    return toRepr(value);
}

}  // namespace

std::size_t disassembleInstruction(const FunctionProto& proto, std::size_t offset,
                                   std::string& out) {
    appendPadded(out, offset, 4, true);
    out += ' ';
    appendPadded(out, offset < proto.lines.size() ? proto.lines[offset] : 0, 4, false);
    out += "  ";

    const uint8_t byte = proto.code[offset];
    if (byte >= kOpCodeCount) {
        out += "<bad opcode " + std::to_string(byte) + ">";
        return offset + 1;
    }
    const auto op = static_cast<OpCode>(byte);
    out += opCodeName(op);
    const std::size_t width = operandBytes(op);
    if (width == 0) return offset + 1;
    if (offset + width >= proto.code.size()) {
        out += " <truncated>";
        return proto.code.size();
    }
    const std::size_t operand =
        width == 1 ? proto.code[offset + 1]
                   : (static_cast<std::size_t>(proto.code[offset + 1]) << 8) | proto.code[offset + 2];
    const std::size_t next = offset + 1 + width;
    out += ' ';
    out += std::to_string(operand);

    switch (op) {
    case OpCode::CONST:
        out += " ; " + constantText(proto, operand, false);
        break;
    case OpCode::DEFINE_GLOBAL:
    case OpCode::GET_GLOBAL:
    case OpCode::SET_GLOBAL:
        out += " ; " + constantText(proto, operand, true);
        break;
    case OpCode::JUMP:
    case OpCode::JUMP_IF_FALSE:
    case OpCode::JUMP_IF_TRUE:
    case OpCode::TRY_BEGIN:
        out += " -> " + std::to_string(next + operand);
        break;
    case OpCode::LOOP:
        if (operand > next) {
            out += " -> <before start>";
        } else {
            out += " -> " + std::to_string(next - operand);
        }
        break;
    case OpCode::CLOSURE:
        if (operand < proto.protos.size()) out += " ; " + proto.protos[operand]->name;
        break;
    default:
        break;
    }
    return next;
}

std::string disassemble(const FunctionProto& proto) {
    std::string out = "== " + proto.name + " arity " + std::to_string(proto.arity) + " ==\n";
    if (!proto.upvalues.empty()) {
        out += "upvalues:";
        for (std::size_t i = 0; i < proto.upvalues.size(); ++i) {
            out += i == 0 ? " " : ", ";
            out += proto.upvalues[i].isLocal ? "local " : "upvalue ";
            out += std::to_string(proto.upvalues[i].index);
        }
        out += '\n';
    }
    for (std::size_t offset = 0; offset < proto.code.size();) {
        offset = disassembleInstruction(proto, offset, out);
        out += '\n';
    }
    for (const auto& nested : proto.protos) {
        out += '\n';
        out += disassemble(*nested);
    }
    return out;
}

}  // namespace ferrow
