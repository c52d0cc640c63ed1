// Fuzz target: lexer and parser.

#include <cstddef>
#include <cstdint>

#include "value/Errors.h"
#include "front/Lexer.h"
#include "front/Parser.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ferrow;
    try {
        const Block program = parse(tokenize(fuzz::sourceOf(data, size)));
    } catch (const FerrowError&) {
    }
    return 0;
}
