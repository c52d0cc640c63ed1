// The natives that reach the process around the script: its command-line
// words and its environment.

#include <cstdlib>
#include <string>

#include "natives/NativeFunctions.h"
#include "natives/Registry.h"

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

}  // namespace ferrow
