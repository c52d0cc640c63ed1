// The natives that reach the process around the script: its command-line
// words.

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

}  // namespace ferrow
