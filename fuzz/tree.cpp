// Fuzz target: the tree-walking engine runs the input as a program.
#include "front/Lexer.h"
#include "front/Parser.h"
#include "FuzzSupport.h"
#include "interp/Interpreter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ferrow;
    return fuzz::runProgram(data, size, [](const std::string& source) {
        const Block program = parse(tokenize(source));  // outlives the engine: functions point into it
        Interpreter interpreter;
        interpreter.setStepBudget(fuzz::kStepBudget);
        fuzz::closeFileSystem(*interpreter.globals);
        interpreter.run(program);
    });
}
