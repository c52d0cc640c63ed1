// Fuzz target: the compiler and the VM run the input as a program, with its
// output discarded, no file access, and a step budget so that endless loops
// end. exit ends the run like an error.

#include <cstddef>
#include <cstdint>
#include <new>

#include "compiler/Compiler.h"
#include "value/Errors.h"
#include "front/Lexer.h"
#include "front/Parser.h"
#include "FuzzSupport.h"
#include "value/Heap.h"
#include "value/MemoryBudget.h"
#include "vm/VM.h"

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
        const auto proto = compile(parse(tokenize(fuzz::sourceOf(data, size))));
        VM vm;
        vm.setStepBudget(fuzz::kStepBudget);
        fuzz::closeFileSystem(*vm.globals);
        vm.run(proto);
    } catch (const FerrowError&) {
    } catch (const ThrownValue&) {
    } catch (const ExitRequest&) {
        // The program ended itself with exit.
    } catch (const std::bad_alloc&) {
        // The heap's limit: the program asked for too much, cleanly.
    }
    return 0;
}
