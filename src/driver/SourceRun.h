#pragma once
// Reading source files and running a source text on either engine.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ferrow {

class Interpreter;

// Selects the engine for files, snippets and watch mode: false for the
// bytecode compiler and VM, true for the tree-walker. Written only by the
// argument dispatch.
extern bool useTreeWalker;

// The whole file in binary mode; `ok` is false (and the text empty) when it
// cannot be opened.
std::string readSourceFile(const std::string& path, bool& ok);
// readSourceFile for the modes that stop when the file cannot be read: on
// failure writes "ferrow: cannot open <path>" and returns nothing.
std::optional<std::string> readSourceOrComplain(const std::string& path);

// Runs on the engine that useTreeWalker selects, with fresh globals, where
// args() returns `scriptArgs`.
int runSource(const std::string& source, const std::string& name,
              const std::vector<std::string>& scriptArgs);
// Both return 0 on success, 1 after reporting a failure on stderr, and the
// status a script gave exit. The interpreter given to runOnTree brings its
// own script arguments.
int runOnTree(const std::string& source, Interpreter& interpreter, const std::string& name);
int runOnVM(const std::string& source, const std::string& name,
            const std::vector<std::string>& scriptArgs);
// runOnTree on an Interpreter made for this one run.
int runOnFreshTree(const std::string& source, const std::string& name,
                   const std::vector<std::string>& scriptArgs);

// Runs `body` and reports whatever escapes it: language errors through
// formatError (with `source` and `name`), uncaught script errors as
// "Error: ...", and, so that nothing aborts the process, exhausted memory
// and any other standard exception as one "ferrow: " line. Returns 0 when
// `body` finished, the status when the script called exit, 1 otherwise.
int reportFailures(const std::string& source, const std::string& name,
                   const std::function<void()>& body);

}  // namespace ferrow
