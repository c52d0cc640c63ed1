// Fuzz target: the tree-walking engine runs the input as a program, with its
// output discarded, no file access, and a step budget so that endless loops
// end. exit ends the run like an error.

#include <cstddef>
#include <cstdint>
#include <new>

#include "value/Errors.h"
#include "front/Lexer.h"
#include "front/Parser.h"
#include "FuzzSupport.h"
#include "interp/Interpreter.h"
#include "value/Heap.h"
#include "value/MemoryBudget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ferrow;
    static const bool ready = [] {
        fuzz::silenceStandardStreams();
        setResultMemoryCap(fuzz::kResultMemoryCap);
        Heap::current().setStressCollection(true);
        Heap::current().setLimit(fuzz::kHeapLimit);
        return true;
    }();
    (void)ready;
    try {
        // Declared first so that it outlives the engine: functions point
        // into it.
        const Block program = parse(tokenize(fuzz::sourceOf(data, size)));
        Interpreter interpreter;
        interpreter.setStepBudget(fuzz::kStepBudget);
        fuzz::closeFileSystem(*interpreter.globals);
        interpreter.run(program);
    } catch (const FerrowError&) {
    } catch (const ThrownValue&) {
    } catch (const ExitRequest&) {
        // The program ended itself with exit.
    } catch (const std::bad_alloc&) {
        // The heap's limit: the program asked for too much, cleanly.
    }
    return 0;
}
