#pragma once
// The compiled form of one function.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "value/Value.h"

namespace ferrow {

struct UpvalueDesc {
    uint8_t isLocal = 0;  // 1: local slot of the enclosing frame; 0: its upvalue
    uint32_t index = 0;
};

struct FunctionProto {
    std::string name;
    int32_t arity = 0;
    std::vector<uint8_t> code;
    std::vector<uint32_t> lines;  // one per byte of code
    std::vector<Value> constants;
    std::vector<std::shared_ptr<FunctionProto>> protos;
    std::vector<UpvalueDesc> upvalues;
    // The most values a call of this function ever has on the stack above
    // its first local (the arguments included), so that the VM can check
    // the stack's room once per call.
    uint32_t maxStack = 0;
};

// Finds maxStack by following every path through the code.
uint32_t computeMaxStack(const FunctionProto& proto);

}  // namespace ferrow
