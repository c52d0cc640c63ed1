#pragma once
// The tree-walking engine: executes the syntax tree directly.

#include <memory>
#include <vector>

#include "front/Ast.h"
#include "interp/Environment.h"
#include "value/Function.h"

namespace ferrow {

class Interpreter : public Caller {
public:
    Interpreter();  // fresh globals with every native installed
    ~Interpreter() override;

    // Runs a whole program in the globals. A `return` at top level ends it.
    void run(const Block& statements);
    // The prompt's entry: the value of the last statement when it is an
    // expression statement, else nil.
    Value runForValue(const Block& statements);

    Value callValue(const Value& callee, std::vector<Value> args, int32_t line, int32_t column);
    Value call(const Value& callee, std::vector<Value> args) override;

    std::shared_ptr<Environment> globals;

    // Private evaluation machinery is declared by the implementation.
    Value evaluate(const Expr& expr, const std::shared_ptr<Environment>& env);
    void execute(const Stmt& stmt, const std::shared_ptr<Environment>& env);
    void executeBlock(const Block& statements, const std::shared_ptr<Environment>& env);

private:
    int callDepth_ = 0;  // script function calls in progress
};

}  // namespace ferrow
