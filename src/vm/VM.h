#pragma once
// The bytecode virtual machine.

#include <memory>
#include <vector>

#include "compiler/FunctionProto.h"
#include "interp/Environment.h"
#include "value/Function.h"

namespace ferrow {

class VM : public Caller {
public:
    VM();  // fresh globals with every native installed
    ~VM() override;

    // Runs a top-level prototype; the result is the script's return value.
    Value run(const std::shared_ptr<FunctionProto>& proto);
    Value call(const Value& callee, std::vector<Value> args) override;

    std::shared_ptr<Environment> globals;
};

}  // namespace ferrow
