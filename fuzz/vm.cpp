// Fuzz target: the compiler and the VM run the input as a program.
#include "compiler/Compiler.h"
#include "front/Lexer.h"
#include "front/Parser.h"
#include "FuzzSupport.h"
#include "vm/VM.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ferrow;
    return fuzz::runProgram(data, size, [](const std::string& source) {
        const auto proto = compile(parse(tokenize(source)));
        VM vm;
        vm.setStepBudget(fuzz::kStepBudget);
        fuzz::closeFileSystem(*vm.globals);
        vm.run(proto);
    });
}
