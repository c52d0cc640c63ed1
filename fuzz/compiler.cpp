// Fuzz target: lexer, parser and compiler, and the disassembler on whatever
// the compiler produced (it decodes every instruction and operand).

#include <cstddef>
#include <cstdint>

#include "compiler/Compiler.h"
#include "compiler/Disassembler.h"
#include "value/Errors.h"
#include "front/Lexer.h"
#include "front/Parser.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ferrow;
    try {
        const auto proto = compile(parse(tokenize(fuzz::sourceOf(data, size))));
        if (!proto || proto->name != "<script>") fuzz::fail("no top-level prototype");
        if (proto->lines.size() != proto->code.size()) fuzz::fail("one line per byte of code");
        if (disassemble(*proto).empty()) fuzz::fail("empty listing");
    } catch (const FerrowError&) {
    }
    return 0;
}
