#pragma once
// Readable listings of compiled code, for tests and debugging.

#include <cstddef>
#include <string>

#include "compiler/FunctionProto.h"

namespace ferrow {

// The whole prototype: a header line, one line per instruction, then every
// nested prototype in order, each after a blank line. An instruction line is
// "OFFSET LINE  NAME [OPERAND] [-> TARGET | ; CONSTANT]", for example
//   0003    2  JUMP_IF_FALSE 7 -> 13
//   0000    1  CONST 0 ; "hi"
std::string disassemble(const FunctionProto& proto);

// One instruction at `offset`, appended to `out` without a line break;
// returns the offset of the next instruction.
std::size_t disassembleInstruction(const FunctionProto& proto, std::size_t offset,
                                   std::string& out);

}  // namespace ferrow
