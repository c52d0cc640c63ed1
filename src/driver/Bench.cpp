#include "driver/Bench.h"

#include <chrono>
#include <iostream>
#include <memory>
#include <streambuf>
#include <string>

#include "compiler/Compiler.h"
#include "driver/Diagnostics.h"
#include "driver/SourceRun.h"
#include "front/Lexer.h"
#include "front/Parser.h"
#include "interp/Interpreter.h"
#include "value/Errors.h"
#include "vm/VM.h"

namespace ferrow {

namespace {

constexpr int kTimedRuns = 5;

// Swallows the program's output while it is being timed. Discarding keeps
// memory flat for programs that print a lot, where collecting into a string
// that is never shown would grow without bound.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Puts standard output back however the timing ends.
class SwallowStdout {
public:
    SwallowStdout() : previous_(std::cout.rdbuf(&sink_)) { std::cout.clear(); }
    ~SwallowStdout() {
        std::cout.rdbuf(previous_);
        std::cout.clear();
    }
    SwallowStdout(const SwallowStdout&) = delete;
    SwallowStdout& operator=(const SwallowStdout&) = delete;

private:
    NullBuffer sink_;
    std::streambuf* previous_;
};

using Clock = std::chrono::steady_clock;

double millisecondsPerRun(Clock::time_point start, Clock::time_point end) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count();
    return static_cast<double>(ns) / 1000000.0 / kTimedRuns;
}

// exit(0) ends a run as its last line would; any other status fails the
// benchmark.
template <typename Engine, typename Code>
void runOnce(const Code& code, const std::vector<std::string>& scriptArgs) {
    Engine engine;
    engine.scriptArgs = scriptArgs;
    try {
        engine.run(code);
    } catch (const ExitRequest& exit) {
        if (exit.status != 0) throw;
    }
}

void runTree(const Block& program, const std::vector<std::string>& scriptArgs) {
    runOnce<Interpreter>(program, scriptArgs);
}

void runVM(const std::shared_ptr<FunctionProto>& proto,
           const std::vector<std::string>& scriptArgs) {
    runOnce<VM>(proto, scriptArgs);
}

}  // namespace

int benchFile(const std::string& path, const std::vector<std::string>& scriptArgs) {
    const std::optional<std::string> read = readSourceOrComplain(path);
    if (!read) return 1;
    const std::string& source = *read;
    Block program;
    std::shared_ptr<FunctionProto> proto;
    const int status = reportFailures(source, path, [&] {
        program = parse(tokenize(source));
        proto = compile(program);
    });
    if (status != 0) return status;

    double treeMs = 0;
    double vmMs = 0;
    std::string failure;
    {
        SwallowStdout swallow;
        try {
            runTree(program, scriptArgs);
            const auto t0 = Clock::now();
            for (int i = 0; i < kTimedRuns; ++i) runTree(program, scriptArgs);
            const auto t1 = Clock::now();
            treeMs = millisecondsPerRun(t0, t1);

            runVM(proto, scriptArgs);
            const auto t2 = Clock::now();
            for (int i = 0; i < kTimedRuns; ++i) runVM(proto, scriptArgs);
            const auto t3 = Clock::now();
            vmMs = millisecondsPerRun(t2, t3);
        } catch (const ExitRequest& exit) {
            failure = "bench: program exited with status " + std::to_string(exit.status) + "\n";
        } catch (...) {
            // Whatever the program did, the timings are meaningless now.
            failure = "bench: program raised an error\n";
        }
    }
    if (!failure.empty()) {
        writeToStderr(failure);
        return 1;
    }
    const double speedup = vmMs > 0 ? treeMs / vmMs : 0;
    std::cout << "tree-walker: " << treeMs << " ms/run\n"
              << "bytecode VM: " << vmMs << " ms/run\n"
              << "speedup:     " << speedup << "x\n";
    return 0;
}

}  // namespace ferrow
