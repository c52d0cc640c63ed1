#include "driver/SourceRun.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <sstream>

#include "compiler/Compiler.h"
#include "driver/Diagnostics.h"
#include "front/Lexer.h"
#include "front/Parser.h"
#include "interp/Interpreter.h"
#include "value/TextForm.h"
#include "vm/VM.h"

namespace ferrow {

bool useTreeWalker = false;

std::string readSourceFile(const std::string& path, bool& ok) {
    // A directory opens like a file on POSIX but reads as nothing; it is
    // reported as unopenable rather than run as an empty program.
    std::error_code ec;
    std::ifstream in;
    if (!std::filesystem::is_directory(path, ec)) in.open(path, std::ios::in | std::ios::binary);
    if (!in.is_open()) {
        ok = false;
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    ok = true;
    return text.str();
}

std::optional<std::string> readSourceOrComplain(const std::string& path) {
    bool ok = false;
    std::string source = readSourceFile(path, ok);
    if (!ok) {
        writeToStderr("ferrow: cannot open " + path + "\n");
        return std::nullopt;
    }
    return source;
}

int reportFailures(const std::string& source, const std::string& name,
                   const std::function<void()>& body) {
    try {
        body();
        return 0;
    } catch (const ExitRequest& exit) {
        // The script ended itself; exit flushed its output already.
        return exit.status;
    } catch (const FerrowError& error) {
        writeToStderr(formatError(error, source, name) + "\n");
    } catch (const ThrownValue& thrown) {
        writeToStderr("Error: " + toString(thrown.value) + "\n");
    } catch (const std::bad_alloc&) {
        writeToStderr("ferrow: out of memory\n");
    } catch (const std::exception& error) {
        writeToStderr(std::string("ferrow: internal error: ") + error.what() + "\n");
    }
    return 1;
}

int runOnTree(const std::string& source, Interpreter& interpreter, const std::string& name) {
    return reportFailures(source, name, [&] {
        const Block program = parse(tokenize(source));
        interpreter.run(program);
    });
}

int runOnVM(const std::string& source, const std::string& name,
            const std::vector<std::string>& scriptArgs) {
    return reportFailures(source, name, [&] {
        const auto proto = compile(parse(tokenize(source)));
        VM vm;
        vm.scriptArgs = scriptArgs;
        vm.run(proto);
    });
}

int runOnFreshTree(const std::string& source, const std::string& name,
                   const std::vector<std::string>& scriptArgs) {
    // Constructing the engine can only fail for want of memory.
    std::unique_ptr<Interpreter> interpreter;
    const int status = reportFailures("", name, [&] {
        interpreter = std::make_unique<Interpreter>();
        interpreter->scriptArgs = scriptArgs;
    });
    if (status != 0) return status;
    return runOnTree(source, *interpreter, name);
}

int runSource(const std::string& source, const std::string& name,
              const std::vector<std::string>& scriptArgs) {
    return useTreeWalker ? runOnFreshTree(source, name, scriptArgs)
                         : runOnVM(source, name, scriptArgs);
}

}  // namespace ferrow
