#pragma once
// Shared pieces of the fuzz targets. Every target turns the input bytes into
// a source text (or a double), runs one stage on it and swallows the failures
// a bad program is allowed to cause (FerrowError, ThrownValue). Anything else,
// a crash, a sanitizer report, an escaping exception or a broken invariant,
// is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <iostream>
#include <streambuf>
#include <string>

#include <new>

#include "natives/Registry.h"
#include "value/Environment.h"
#include "value/Errors.h"
#include "value/Function.h"
#include "value/Heap.h"
#include "value/MemoryBudget.h"

namespace ferrow::fuzz {

// Loop iterations and calls one engine run may start: enough for most of the
// script tests' loops, few enough that an endless program ends in
// milliseconds, and that a loop growing a string by one byte per iteration
// (quadratic copying) stays far from the memory limit under the sanitizers.
inline constexpr uint64_t kStepBudget = 10000;

// The largest result one native may build during a fuzz run. Physical memory
// would let a single `range` or `repeat` take gigabytes, which the fuzzer's
// memory limit reports as a failure although the program is merely greedy.
inline constexpr uint64_t kResultMemoryCap = 16ull << 20;

// The heap of a fuzz run: a program that keeps everything it makes (a list
// that swallows copies of itself) ends in "out of memory" long before the
// fuzzer's own memory limit.
inline constexpr std::size_t kHeapLimit = std::size_t{256} << 20;

inline std::string sourceOf(const uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// A stream buffer that accepts and drops everything, so that `print` still
// builds its text while the fuzzer's output stays readable.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Discards program output (print's and eprint's) and gives `input` an empty
// standard input. Called once before the first run.
inline void silenceStandardStreams() {
    static NullBuffer sink;
    static std::streambuf* original = std::cout.rdbuf(&sink);
    static std::streambuf* originalErrors = std::cerr.rdbuf(&sink);
    // The sink is destroyed at exit before the standard streams are flushed
    // for the last time; hand the streams their own buffers back first
    // (handlers registered later run earlier).
    std::atexit([] {
        std::cout.rdbuf(original);
        std::cerr.rdbuf(originalErrors);
    });
    std::cin.rdbuf(nullptr);  // every read fails at once: end of input
}

// A fuzz input must not read, write or fill the machine's files: in an
// engine's globals the file natives are replaced by ones that always fail,
// with the same arities.
inline Value refuseFileAccess(Caller& caller, Args) {
    const std::string name = caller.currentNative ? caller.currentNative->name : "file";
    nativeFail(name + ": no file access while fuzzing");
}

inline void closeFileSystem(Environment& globals) {
    struct Stub {
        const char* name;
        int32_t minArity;
        int32_t maxArity;
    };
    const Stub stubs[] = {{"read_file", 1, 1}, {"write_file", 2, 2}, {"append_file", 2, 2},
                          {"file_exists", 1, 1}, {"read_lines", 1, 1}};
    for (const Stub& stub : stubs) {
        defineNative(globals, stub.name, refuseFileAccess, stub.minArity, stub.maxArity);
    }
}

// Runs an input as a program on an engine: `run(source)` builds the engine
// (through closeFileSystem) and runs it under the step budget. Output is
// discarded, the cycle collector runs every sixteenth container, and the
// failures a program may cause end the run quietly: errors, thrown values,
// exit, and the heap's limit.
template <typename Run>
int runProgram(const uint8_t* data, std::size_t size, Run run) {
    static const bool ready = [] {
        silenceStandardStreams();
        setResultMemoryCap(kResultMemoryCap);
        Heap::current().setStressCollection(true);
        Heap::current().setLimit(kHeapLimit);
        return true;
    }();
    (void)ready;
    try {
        run(sourceOf(data, size));
    } catch (const FerrowError&) {
    } catch (const ThrownValue&) {
    } catch (const ExitRequest&) {
    } catch (const std::bad_alloc&) {
    }
    return 0;
}

// A broken invariant: reported like a crash, with the reason.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

}  // namespace ferrow::fuzz
