#pragma once
// The tree-walking engine: executes the syntax tree directly.

#include <cstdint>
#include <memory>
#include <vector>

#include "front/Ast.h"
#include "value/Environment.h"
#include "value/Function.h"

namespace ferrow {

class Interpreter : public Caller {
public:
    Interpreter();  // fresh globals with every native installed
    ~Interpreter() override;

    // Runs a whole program in the globals. A `return` at top level ends it;
    // its value is the result (else nil).
    Value run(const Block& statements);
    // The prompt's entry: the value of the last statement when it is an
    // expression statement, else nil.
    Value runForValue(const Block& statements);

    Value callValue(const Value& callee, Args args, int32_t line, int32_t column);
    Value call(const Value& callee, Args args) override;

    EnvPtr globals;

    // Test-only, for the fuzz targets: bounds a run by the number of loop
    // iterations and calls it may start, so that an endless program ends.
    // Once the budget is spent every further iteration or call fails with
    // "execution budget exhausted", also after a `try` caught the first
    // failure. Unlimited unless set.
    void setStepBudget(uint64_t steps) { stepBudget_ = steps; }

    // Private evaluation machinery is declared by the implementation.
    Value evaluate(const Expr& expr, const EnvPtr& env);
    void execute(const Stmt& stmt, const EnvPtr& env);
    void executeBlock(const Block& statements, const EnvPtr& env);

private:
    // How a statement ended. Internally break, continue and return travel as
    // this result rather than as exceptions, which would make every call
    // through `return` cost an unwind; the public execute and executeBlock
    // turn a pending one into its signal.
    enum class Flow : uint8_t { Normal, Break, Continue, Return };

    Flow exec(const Stmt& stmt, const EnvPtr& env);
    Flow execBlock(const Block& statements, const EnvPtr& env);
    void raiseFlow(Flow flow);

    // One function per node kind keeps the recursive frames of evaluate and
    // exec small, so deep programs fit in the native stack.
    Value evalListLit(const ListLitExpr& expr, const EnvPtr& env);
    Value evalMapLit(const MapLitExpr& expr, const EnvPtr& env);
    Value evalUnary(const UnaryExpr& expr, const EnvPtr& env);
    // Operator and postfix chains (left spines, see Ast.h): evalLongChain
    // evaluates a long one with a loop; evalLink and the four below apply
    // one link to the value of its left operand, callee or object, which
    // the caller has evaluated.
    Value evalLongChain(const Expr& expr, const EnvPtr& env);
    Value evalLink(const Expr& link, Value&& value, const EnvPtr& env);
    Value evalBinary(const BinaryExpr& expr, Value&& left, const EnvPtr& env);
    Value evalCall(const CallExpr& expr, Value&& callee, const EnvPtr& env);
    Value evalCallWithMany(const Value& callee, const CallExpr& expr, const EnvPtr& env);
    Value evalIndex(const IndexExpr& expr, Value&& object, const EnvPtr& env);
    Value evalGet(const GetExpr& expr, Value&& object);
    Value callFunction(FunctionObj& function, Args args, int32_t line, int32_t column);
    void execAssign(const AssignStmt& stmt, const EnvPtr& env);
    Flow execIf(const IfStmt& stmt, const EnvPtr& env);
    Flow execWhile(const WhileStmt& stmt, const EnvPtr& env);
    Flow execNumericFor(const NumericForStmt& stmt, const EnvPtr& env);
    Flow execForIn(const ForInStmt& stmt, const EnvPtr& env);
    Flow execTry(const TryStmt& stmt, const EnvPtr& env);

    void spendStep(int32_t line, int32_t column);

    int callDepth_ = 0;  // script function calls in progress
    int loopDepth_ = 0;  // loops executing in the current function body
    Value returnValue_;  // the value of a return on its way to the call
    uint64_t stepBudget_ = UINT64_MAX;
    // The links of the chains being evaluated, innermost last; a chain
    // nested in another's operand stacks its own above and removes them.
    std::vector<const Expr*> chain_;
};

}  // namespace ferrow
