// The natives that reach the process around the script: its command-line
// words, its environment and its exit status.

#include <cstdlib>
#include <iostream>
#include <string>

#include "natives/NativeFunctions.h"
#include "natives/NativeSupport.h"
#include "natives/Registry.h"
#include "value/Errors.h"

namespace ferrow {

// A new list on every call, so that a script changing it changes nothing
// for the next caller.
Value nativeArgs(Caller& caller, Args) {
    ListData words;
    words.reserve(caller.scriptArgs.size());
    for (const std::string& word : caller.scriptArgs) words.push_back(Value::string(word));
    return Value::newList(std::move(words));
}

// nil for a name the environment does not hold; a name with a zero byte
// cannot be held there.
Value nativeGetenv(Caller&, Args args) {
    if (!args[0].isString()) {
        nativeFail(std::string("getenv: expected a string, got ") + typeName(args[0]));
    }
    const std::string name(args[0].asString());
    if (name.find('\0') != std::string::npos) return Value::nil();
    const char* value = std::getenv(name.c_str());
    return value ? Value::string(value) : Value::nil();
}

// Ends the run, not the process (see ExitRequest): a try does not stop it,
// and whoever started the run takes the status. The status must be 0 to
// 255, the range a process can report whole; anything else fails rather
// than being cut to its low byte, where 256 would read as success.
Value nativeExit(Caller&, Args args) {
    int64_t status = 0;
    if (!args.empty()) status = expectExactInteger(args[0], "exit");
    if (status < 0 || status > 255) {
        nativeFail("exit: status must be between 0 and 255, got " + std::to_string(status));
    }
    std::cout.flush();
    throw ExitRequest{static_cast<int>(status)};
}

}  // namespace ferrow
