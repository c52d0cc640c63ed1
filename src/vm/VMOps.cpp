// Instructions of the VM that are too bulky to sit in the dispatch loop:
// building collections, index assignment, closures, the for-in snapshot and
// lengths other than a list's.

#include <iterator>
#include <string>

#include "value/Errors.h"
#include "value/Operators.h"
#include "vm/VM.h"

namespace ferrow {

void VM::buildList(std::size_t count) {
    // An empty literal adds a value; any other replaces at least one.
    if (count == 0 && stack.size() >= kMaxStack) stackOverflow();
    const auto first = stack.end() - static_cast<std::ptrdiff_t>(count);
    ListData elements(std::make_move_iterator(first), std::make_move_iterator(stack.end()));
    stack.erase(first, stack.end());
    stack.push_back(Value::newList(std::move(elements)));
}

void VM::buildMap(std::size_t count, int32_t line) {
    if (count == 0 && stack.size() >= kMaxStack) stackOverflow();
    const std::size_t first = stack.size() - 2 * count;
    Value map = Value::newMap();
    MapData& data = *map.asMap();
    // Every key and value is already evaluated; the keys are checked pair by
    // pair as they are inserted.
    for (std::size_t i = first; i < stack.size(); i += 2) {
        const Value& key = stack[i];
        if (!key.isString() && !key.isNumber()) {
            throw RuntimeError(std::string("map keys must be string or number, got ") +
                                   typeName(key),
                               line, 0);
        }
        data.set(key, std::move(stack[i + 1]));
    }
    truncateStack(first);
    stack.push_back(std::move(map));
}

void VM::storeIndex(int32_t line) {
    // obj key v -> v
    const std::size_t n = stack.size();
    setIndex(stack[n - 3], stack[n - 2], stack[n - 1], OpSite{line, 0, true});
    stack[n - 3] = std::move(stack[n - 1]);
    stack.pop_back();
    stack.pop_back();
}

void VM::makeClosure(const std::shared_ptr<FunctionProto>& proto, const CallFrame& frame) {
    Value value = Value::closure(newContainer<VMClosure>());
    VMClosure& closure = *value.asClosure();
    closure.proto = proto;
    closure.name = &proto->name;
    closure.upvalues.reserve(proto->upvalues.size());
    for (const UpvalueDesc& desc : proto->upvalues) {
        if (desc.isLocal) {
            closure.upvalues.push_back(captureUpvalue(frame.base + desc.index));
        } else {
            closure.upvalues.push_back(frame.closure->upvalues[desc.index]);
        }
    }
    stack.push_back(std::move(value));
}

void VM::iterationSnapshot(int32_t line) {
    stack.back() = Value::newList(iterationItems(stack.back(), OpSite{line, 0, true}));
}

void VM::lengthOf(int32_t line) {
    Value& x = stack.back();
    if (x.isList()) {
        x = Value::integer(static_cast<int64_t>(x.asList()->size()));
    } else if (x.isString()) {
        x = Value::integer(static_cast<int64_t>(x.asString().size()));
    } else if (x.isMap()) {
        x = Value::integer(static_cast<int64_t>(x.asMap()->size()));
    } else {
        throw RuntimeError(std::string("cannot take the length of ") + typeName(x), line, 0);
    }
}

}  // namespace ferrow
