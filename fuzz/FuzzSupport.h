#pragma once
// Shared pieces of the fuzz targets. Each turns the bytes into a source text
// (or a double), runs one stage and swallows the failures a bad program may
// cause (FerrowError, ThrownValue). Anything else (a crash, a sanitizer
// report, an escaping exception, a broken invariant) is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <new>
#include <streambuf>
#include <string>

#include "natives/Registry.h"
#include "value/Environment.h"
#include "value/Errors.h"
#include "value/Function.h"
#include "value/Heap.h"
#include "value/MemoryBudget.h"

namespace ferrow::fuzz {

// Loop iterations and calls per run: enough for most script tests' loops, few
// enough that an endless program ends in milliseconds and a loop growing a
// string byte by byte (quadratic copying) stays far from the memory limit
// under the sanitizers.
inline constexpr uint64_t kStepBudget = 10000;
// Largest result one native may build: else a `range` or `repeat` could take
// gigabytes, which the fuzzer reports although the program is merely greedy.
inline constexpr uint64_t kResultMemoryCap = 16ull << 20;
// A program keeping all it makes (a list swallowing copies of itself) hits
// "out of memory" long before the fuzzer's own memory limit.
inline constexpr std::size_t kHeapLimit = std::size_t{256} << 20;

inline std::string sourceOf(const uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// Drops everything, so `print` still builds its text but output stays readable.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Discards print's and eprint's output and gives `input` an empty stdin.
inline void silenceStandardStreams() {
    static NullBuffer sink;
    static std::streambuf* original = std::cout.rdbuf(&sink);
    static std::streambuf* originalErrors = std::cerr.rdbuf(&sink);
    // The sink dies at exit before the streams' last flush: give their own
    // buffers back first (handlers registered later run earlier).
    std::atexit([] {
        std::cout.rdbuf(original);
        std::cerr.rdbuf(originalErrors);
    });
    std::cin.rdbuf(nullptr);  // every read fails at once: end of input
}

// An input must not touch the machine's files: the file natives are replaced
// by ones that always fail, with the same arities.
inline Value refuseFileAccess(Caller& caller, Args) {
    const std::string name = caller.currentNative ? caller.currentNative->name : "file";
    nativeFail(name + ": no file access while fuzzing");
}

inline void closeFileSystem(Environment& globals) {
    const struct { const char* name; int32_t minArity, maxArity; } stubs[] = {
        {"read_file", 1, 1}, {"write_file", 2, 2}, {"append_file", 2, 2},
        {"file_exists", 1, 1}, {"read_lines", 1, 1}};
    for (const auto& s : stubs) defineNative(globals, s.name, refuseFileAccess, s.minArity, s.maxArity);
}

// Runs `run(source)` (which builds the engine, closes its file system and sets
// the step budget) with output discarded and the cycle collector run every
// sixteenth container; errors, thrown values, exit and the heap limit end the
// run quietly.
template <typename Run>
int runProgram(const uint8_t* data, std::size_t size, Run run) {
    [[maybe_unused]] static const bool ready = [] {
        silenceStandardStreams();
        setResultMemoryCap(kResultMemoryCap);
        Heap::current().setStressCollection(true);
        Heap::current().setLimit(kHeapLimit);
        return true;
    }();
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
