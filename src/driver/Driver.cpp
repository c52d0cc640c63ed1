#include "driver/Driver.h"

#include <pthread.h>

#include <iostream>
#include <new>

#include "driver/Bench.h"
#include "driver/Diagnostics.h"
#include "driver/Pragmas.h"
#include "driver/Repl.h"
#include "driver/SourceRun.h"
#include "driver/TokenDump.h"
#include "driver/Watch.h"

namespace ferrow {

namespace {

#if defined(__SANITIZE_ADDRESS__)
#define FERROW_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FERROW_ASAN 1
#endif
#endif

// The engines stop runaway recursion with their own error; this stack is
// large enough that they always get there first. Pages are committed only
// when touched, so the reservation costs nothing. AddressSanitizer cannot
// follow an exception thrown deep in a stack larger than 64 MiB, so its
// builds use a smaller one and rely on the stack guard to stop recursion.
#ifdef FERROW_ASAN
constexpr std::size_t kEngineStackSize = std::size_t{60} << 20;
#else
constexpr std::size_t kEngineStackSize = std::size_t{1} << 30;
#endif

const char* const kHelpText =
    "ferrow                    start the REPL (tree-walking interpreter)\n"
    "ferrow <file.ferrow|.frw> run a file on the bytecode VM (default)\n"
    "ferrow --tree <file>      run a file on the tree-walking interpreter\n"
    "ferrow -c <code>          run a snippet\n"
    "ferrow --bench <file>     time the tree-walker vs the VM\n"
    "ferrow --watch <file>     re-run the file whenever it changes\n"
    "ferrow --tokens <file>    dump the token stream\n"
    "ferrow --version\n";

int missingArgument(const std::string& complaint) {
    writeToStderr("ferrow: " + complaint + "\n");
    return 2;
}

int runFile(const std::string& path, const std::vector<std::string>& scriptArgs) {
    const std::optional<std::string> read = readSourceOrComplain(path);
    if (!read) return 1;
    const std::string& source = *read;
    const Pragmas pragmas = scanPragmas(source);
    if (!checkPragmas(pragmas, path)) return 1;
    if (pragmas.watch) watchFile(path, scriptArgs);
    return runSource(source, path, scriptArgs);
}

// The words after a mode's operand (or after the file) belong to the
// script: args() returns them.
std::vector<std::string> wordsAfter(const std::vector<std::string>& args, std::size_t first) {
    if (first >= args.size()) return {};
    return std::vector<std::string>(args.begin() + static_cast<std::ptrdiff_t>(first), args.end());
}

// The last line of defence: the run procedures report failures themselves,
// so only a failure outside any run (or one thrown while reporting) gets
// here. Nothing may abort the process.
int guardedDispatch(const std::vector<std::string>& args) {
    try {
        return dispatch(args);
    } catch (const std::bad_alloc&) {
        writeToStderr("ferrow: out of memory\n");
    } catch (const std::exception& error) {
        writeToStderr(std::string("ferrow: internal error: ") + error.what() + "\n");
    } catch (...) {
        writeToStderr("ferrow: internal error: unknown exception\n");
    }
    return 1;
}

struct DriverThread {
    const std::vector<std::string>* args;
    int status;
};

void* driverThreadMain(void* data) {
    auto* job = static_cast<DriverThread*>(data);
    job->status = guardedDispatch(*job->args);
    return nullptr;
}

}  // namespace

int dispatch(std::vector<std::string> args) {
    if (args.empty()) return runRepl();
    if (args[0] == "--tree" || args[0] == "--interp") {
        useTreeWalker = true;
        args.erase(args.begin());
    } else if (args[0] == "--vm") {
        useTreeWalker = false;
        args.erase(args.begin());
    }
    // The prompt always uses the tree-walker, whatever the flag said.
    if (args.empty()) return runRepl();

    const std::string& mode = args[0];
    const bool hasOperand = args.size() >= 2;
    if (mode == "-h" || mode == "--help") {
        std::cout << kHelpText;
        return 0;
    }
    if (mode == "-v" || mode == "--version") {
        std::cout << "Ferrow " << versionString << "\n";
        return 0;
    }
    if (mode == "-c") {
        // Pragmas are honoured for files only; in a snippet they are comments.
        if (!hasOperand) return missingArgument("-c requires an argument");
        return runSource(args[1], "<-c>", wordsAfter(args, 2));
    }
    if (mode == "--tokens") {
        if (!hasOperand) return missingArgument("--tokens requires a file");
        return dumpTokens(args[1]);
    }
    if (mode == "--watch") {
        if (!hasOperand) return missingArgument("--watch requires a file");
        watchFile(args[1], wordsAfter(args, 2));
    }
    if (mode == "--bench") {
        if (!hasOperand) return missingArgument("--bench requires a file");
        return benchFile(args[1], wordsAfter(args, 2));
    }
    // Anything else names a file; the words after it are the script's.
    return runFile(mode, wordsAfter(args, 1));
}

int runDriver(const std::vector<std::string>& args) {
    DriverThread job{&args, 1};
    pthread_attr_t attr;
    bool started = false;
    if (pthread_attr_init(&attr) == 0) {
        pthread_t thread;
        started = pthread_attr_setstacksize(&attr, kEngineStackSize) == 0 &&
                  pthread_create(&thread, &attr, driverThreadMain, &job) == 0;
        pthread_attr_destroy(&attr);
        if (started) pthread_join(thread, nullptr);
    }
    // Without a big thread (address space exhausted or limited) run here;
    // the engines' stack guard still keeps deep recursion from crashing.
    if (!started) job.status = guardedDispatch(args);
    std::cout.flush();
    return job.status;
}

}  // namespace ferrow
