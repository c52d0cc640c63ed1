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
    if (count == 0 && stackSize() >= kMaxStack) stackOverflow();
    Value* const first = top_ - count;
    Value list = Value::newList(
        ListData(std::make_move_iterator(first), std::make_move_iterator(top_)));
    truncateStack(stackSize() - count);
    new (top_) Value(std::move(list));
    ++top_;
}

void VM::buildMap(std::size_t count, int32_t line) {
    if (count == 0 && stackSize() >= kMaxStack) stackOverflow();
    const std::size_t first = stackSize() - 2 * count;
    Value map = Value::newMap();
    MapData& data = *map.asMap();
    // Every key and value is already evaluated; the keys are checked pair by
    // pair as they are inserted.
    for (std::size_t i = first; i < stackSize(); i += 2) {
        const Value& key = stack_[i];
        if (!key.isString() && !key.isNumber()) {
            throw RuntimeError(std::string("map keys must be string or number, got ") +
                                   typeName(key),
                               line, 0);
        }
        data.set(key, std::move(stack_[i + 1]));
    }
    truncateStack(first);
    new (top_) Value(std::move(map));
    ++top_;
}

void VM::storeIndex(int32_t line) {
    // obj key v -> v
    setIndex(top_[-3], top_[-2], top_[-1], OpSite{line, 0, true});
    top_[-3] = std::move(top_[-1]);
    truncateStack(stackSize() - 2);
}

void VM::makeClosure(std::size_t index, const CallFrame& frame) {
    const std::shared_ptr<FunctionProto>& proto = frame.closure->proto->protos[index];
    VMCode*& code = frame.code->nested[index];
    if (!code) code = &codeFor(*proto);
    Value value = Value::closure(newContainer<VMClosure>());
    VMClosure& closure = *value.asClosure();
    closure.proto = proto;
    closure.name = &proto->name;
    closure.code = code;
    closure.codeOwner = serial_;
    closure.upvalues.reserve(proto->upvalues.size());
    for (const UpvalueDesc& desc : proto->upvalues) {
        if (desc.isLocal) {
            closure.upvalues.push_back(captureUpvalue(frame.base + desc.index));
        } else {
            closure.upvalues.push_back(frame.closure->upvalues[desc.index]);
        }
    }
    new (top_) Value(std::move(value));
    ++top_;
}

void VM::iterationSnapshot(int32_t line) {
    back() = Value::newList(iterationItems(back(), OpSite{line, 0, true}));
}

void VM::lengthOf(int32_t line) {
    Value& x = back();
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
