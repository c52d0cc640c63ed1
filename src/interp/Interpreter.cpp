#include "interp/Interpreter.h"

#include <string>
#include <utility>

#include "value/Errors.h"
#include "value/Operators.h"
#include "natives/Registry.h"
#include "value/StackGuard.h"

namespace ferrow {

namespace {

// break, continue and return as exceptions of their own, for code that runs a
// statement through the public execute and executeBlock; no `try` of the
// language catches them. Inside the engine they travel as a Flow result.
struct BreakSignal {};
struct ContinueSignal {};
struct ReturnSignal {
    Value value;
};

// The VM has 4,096 frames and its script frame takes the first, so a script
// may nest 4,095 calls there; the tree-walker stops at the same depth so that
// both engines fail the same programs with the same error.
constexpr int kMaxCallDepth = 4095;

constexpr const char* kTooDeep = "call stack overflow (too much recursion)";

inline OpSite siteOf(const Expr& e) { return OpSite{e.line, e.column, false}; }
inline OpSite siteOf(const Stmt& s) { return OpSite{s.line, s.column, false}; }

// Restores a counter when a call or loop ends, also by an exception.
class CounterGuard {
public:
    CounterGuard(int& counter, int value) : counter_(counter), saved_(counter) { counter_ = value; }
    ~CounterGuard() { counter_ = saved_; }
    CounterGuard(const CounterGuard&) = delete;
    CounterGuard& operator=(const CounterGuard&) = delete;

private:
    int& counter_;
    int saved_;
};

// The failures are built out of line so that their message temporaries do
// not enlarge the frames of the recursive functions that detect them.
[[noreturn, gnu::noinline, gnu::cold]] void failAt(const char* message, int32_t line,
                                                   int32_t column) {
    throw RuntimeError(message, line, column);
}

[[noreturn, gnu::noinline, gnu::cold]] void failNativeArity(const NativeObj& native, size_t count,
                                                            int32_t line, int32_t column) {
    std::string expected = std::to_string(native.minArity);
    if (native.maxArity < 0)
        expected += "+";
    else if (native.maxArity != native.minArity)
        expected += "-" + std::to_string(native.maxArity);
    throw RuntimeError(
        native.name + "() expects " + expected + " argument(s), got " + std::to_string(count), line,
        column);
}

[[noreturn, gnu::noinline, gnu::cold]] void failArity(const FunctionObj& fn, size_t count,
                                                      int32_t line, int32_t column) {
    throw RuntimeError(fn.name + "() expects " + std::to_string(fn.params->size()) +
                           " argument(s), got " + std::to_string(count),
                       line, column);
}

[[noreturn, gnu::noinline, gnu::cold]] void failNotCallable(const Value& callee, int32_t line,
                                                            int32_t column) {
    throw RuntimeError(std::string(typeName(callee)) + " is not callable", line, column);
}

[[noreturn, gnu::noinline, gnu::cold]] void failUndefined(const std::string& name, int32_t line,
                                                          int32_t column) {
    throw RuntimeError("undefined variable '" + name + "'", line, column);
}

[[noreturn, gnu::noinline, gnu::cold]] void failAssignUndefined(const std::string& name,
                                                                int32_t line, int32_t column) {
    throw RuntimeError(
        "cannot assign to undefined variable '" + name + "' (use 'let' to declare it)", line,
        column);
}

[[noreturn, gnu::noinline, gnu::cold]] void failMapKey(const Value& key, int32_t line,
                                                       int32_t column) {
    throw RuntimeError(std::string("map keys must be string or number, got ") + typeName(key), line,
                       column);
}

[[noreturn, gnu::noinline, gnu::cold]] void failUnknownOperator(const std::string& op, int32_t line,
                                                                int32_t column) {
    throw RuntimeError("unknown operator " + op, line, column);
}

// The safety net behind the call-depth limit: deeply nested blocks in every
// frame or long chains of native callbacks must not run the native stack out
// before the limit is reached.
inline void checkStack(int32_t line, int32_t column) {
    if (stackNearlyExhausted()) failAt(kTooDeep, line, column);
}

// Chains with fewer links than this below their outermost link are
// evaluated by recursion; the bound keeps that recursion shallow.
constexpr int kShortChain = 8;

bool shortChainBelow(const Expr& link) {
    int below = 0;
    for (const Expr* e = leftSpineChild(link); e; e = leftSpineChild(*e)) {
        if (++below == kShortChain) return false;
    }
    return true;
}

template <typename Node>
Value makeFunction(const Node& node, const EnvPtr& env) {
    Value result = Value::function(newContainer<FunctionObj>());
    FunctionObj& fn = *result.asTreeFunction();
    fn.name = node.name;
    fn.params = &node.params;
    fn.body = &node.body;
    fn.closure = env;
    return result;
}

// Calls with up to this many arguments evaluate them into an array on the
// native stack; longer ones into a list.
constexpr std::size_t kInlineArgs = 4;

}  // namespace

inline void Interpreter::spendStep(int32_t line, int32_t column) {
    if (stepBudget_ == 0) failAt("execution budget exhausted", line, column);
    --stepBudget_;
}

// Applies one link of a chain to the value of its left operand, callee or
// object.
inline Value Interpreter::evalLink(const Expr& link, Value&& value,
                                   const EnvPtr& env) {
    switch (link.kind) {
    case ExprKind::Binary:
        return evalBinary(static_cast<const BinaryExpr&>(link), std::move(value), env);
    case ExprKind::Call: return evalCall(static_cast<const CallExpr&>(link), std::move(value), env);
    case ExprKind::Index:
        return evalIndex(static_cast<const IndexExpr&>(link), std::move(value), env);
    default: return evalGet(static_cast<const GetExpr&>(link), std::move(value));
    }
}

Interpreter::Interpreter() : globals(Environment::makeGlobals()) { registerNatives(*globals); }

Interpreter::~Interpreter() {
    // Every top-level function holds the globals as its closure while the
    // globals hold the function: dropping the bindings breaks the commonest
    // cycle at once, and a collection frees whatever other cycles the
    // program left behind.
    if (globals) globals->clear();
    globals.reset();
    returnValue_ = Value();
    Heap::current().collect();
}

Value Interpreter::run(const Block& statements) {
    CounterGuard loops(loopDepth_, 0);
    for (const auto& stmt : statements) {
        // A top-level return ends the program quietly. break and continue
        // cannot arrive here: outside any loop they are errors.
        if (exec(*stmt, globals) == Flow::Return) return std::exchange(returnValue_, Value());
    }
    return Value();
}

Value Interpreter::runForValue(const Block& statements) {
    CounterGuard loops(loopDepth_, 0);
    Value result;
    for (const auto& stmt : statements) {
        if (stmt->kind == StmtKind::Expr) {
            result = evaluate(*static_cast<const ExprStmt&>(*stmt).expr, globals);
        } else {
            result = Value();
            // A return at the prompt ends that input.
            if (exec(*stmt, globals) == Flow::Return) {
                returnValue_ = Value();
                return Value();
            }
        }
    }
    return result;
}

Value Interpreter::call(const Value& callee, Args args) { return callValue(callee, args, 0, 0); }

Value Interpreter::callValue(const Value& callee, Args args, int32_t line, int32_t column) {
    checkStack(line, column);
    spendStep(line, column);
    if (callee.isNative()) {
        // The callee value keeps the native alive.
        const NativeObj& native = *callee.asNative();
        const auto count = static_cast<int64_t>(args.size());
        if (count < native.minArity || (native.maxArity >= 0 && count > native.maxArity))
            failNativeArity(native, args.size(), line, column);
        currentNative = &native;
        return native.fn(*this, args);
    }
    if (callee.isTreeFunction()) return callFunction(*callee.asTreeFunction(), args, line, column);
    failNotCallable(callee, line, column);
}

Value Interpreter::callFunction(FunctionObj& function, Args args, int32_t line, int32_t column) {
    // Hold the function for the whole call: the body may rebind the name
    // that referred to it.
    const FunctionPtr fn(&function);
    const std::vector<std::string>& params = *fn->params;
    if (args.size() != params.size()) failArity(*fn, args.size(), line, column);
    if (callDepth_ >= kMaxCallDepth) failAt(kTooDeep, line, column);

    CounterGuard depth(callDepth_, callDepth_ + 1);
    // break and continue never cross a call: the callee starts outside any loop.
    CounterGuard loops(loopDepth_, 0);
    auto scope = Environment::child(fn->closure);
    for (size_t i = 0; i < params.size(); ++i) scope->define(params[i], std::move(args[i]));
    if (execBlock(*fn->body, scope) == Flow::Return) return std::move(returnValue_);
    return Value();
}

// ---------------------------------------------------------------------------
// Expressions

Value Interpreter::evaluate(const Expr& expr, const EnvPtr& env) {
    checkStack(expr.line, expr.column);
    switch (expr.kind) {
    case ExprKind::Literal: return static_cast<const LiteralExpr&>(expr).value;
    case ExprKind::ListLit: return evalListLit(static_cast<const ListLitExpr&>(expr), env);
    case ExprKind::MapLit: return evalMapLit(static_cast<const MapLitExpr&>(expr), env);
    case ExprKind::Name: {
        const auto& name = static_cast<const NameExpr&>(expr);
        if (const Value* slot = env->lookup(name.name)) return *slot;
        failUndefined(name.name, expr.line, expr.column);
    }
    case ExprKind::Unary: return evalUnary(static_cast<const UnaryExpr&>(expr), env);
    case ExprKind::Binary:
    case ExprKind::Call:
    case ExprKind::Index:
    case ExprKind::Get:
        // A link of a chain. Short chains, nearly all of them, are evaluated
        // by recursion, which is cheapest; long ones by a loop.
        if (shortChainBelow(expr)) return evalLink(expr, evaluate(*leftSpineChild(expr), env), env);
        return evalLongChain(expr, env);
    case ExprKind::Function: return makeFunction(static_cast<const FunctionExpr&>(expr), env);
    }
    failAt("cannot evaluate expression", expr.line, expr.column);
}

// A chain such as `a + b + c` or `f(x)(y).z` may be any number of links
// long, so a long one is not evaluated by recursion: its links are stacked
// from the outermost in, the innermost operand is evaluated, and the links
// then apply from the inside out, each to the value so far.
Value Interpreter::evalLongChain(const Expr& expr, const EnvPtr& env) {
    const std::size_t base = chain_.size();
    // Leaves chain_ as it was found, also when an operand throws.
    struct Unstack {
        std::vector<const Expr*>& links;
        std::size_t size;
        ~Unstack() { links.resize(size); }
    } unstack{chain_, base};

    const Expr* operand = &expr;
    while (const Expr* inner = leftSpineChild(*operand)) {
        chain_.push_back(operand);
        operand = inner;
    }
    const std::size_t top = chain_.size();

    Value value = evaluate(*operand, env);
    for (std::size_t i = top; i-- > base;) value = evalLink(*chain_[i], std::move(value), env);
    return value;
}

Value Interpreter::evalListLit(const ListLitExpr& expr, const EnvPtr& env) {
    ListData elements;
    elements.reserve(expr.elements.size());
    for (const auto& element : expr.elements) elements.push_back(evaluate(*element, env));
    return Value::newList(std::move(elements));
}

Value Interpreter::evalGet(const GetExpr& expr, Value&& object) {
    return indexValue(object, expr.key, siteOf(expr));
}

Value Interpreter::evalMapLit(const MapLitExpr& expr, const EnvPtr& env) {
    Value result = Value::newMap();
    MapObj& map = *result.asMap();
    for (const auto& [keyExpr, valueExpr] : expr.entries) {
        Value key = evaluate(*keyExpr, env);
        if (!key.isString() && !key.isNumber()) failMapKey(key, expr.line, expr.column);
        Value value = evaluate(*valueExpr, env);
        map.set(key, std::move(value));
    }
    return result;
}

Value Interpreter::evalUnary(const UnaryExpr& expr, const EnvPtr& env) {
    const Value operand = evaluate(*expr.operand, env);
    if (expr.op == "not") return Value::boolean(!isTruthy(operand));
    return negate(operand, siteOf(expr));
}

Value Interpreter::evalBinary(const BinaryExpr& expr, Value&& left,
                              const EnvPtr& env) {
    const std::optional<BinOp> op = binOpFromText(expr.op);
    if (!op) failUnknownOperator(expr.op, expr.line, expr.column);
    if (*op == BinOp::And || *op == BinOp::Or) {
        if (isTruthy(left) == (*op == BinOp::Or)) return std::move(left);
        return evaluate(*expr.right, env);
    }
    const Value right = evaluate(*expr.right, env);
    switch (*op) {
    case BinOp::Equal: return Value::boolean(valuesEqual(left, right));
    case BinOp::NotEqual: return Value::boolean(!valuesEqual(left, right));
    case BinOp::Less:
    case BinOp::LessEqual:
    case BinOp::Greater:
    case BinOp::GreaterEqual: return Value::boolean(compareValues(*op, left, right, siteOf(expr)));
    default: return binaryOp(*op, left, right, siteOf(expr));
    }
}

Value Interpreter::evalCall(const CallExpr& expr, Value&& callee, const EnvPtr& env) {
    const std::size_t count = expr.args.size();
    if (count > kInlineArgs) return evalCallWithMany(callee, expr, env);
    Value args[kInlineArgs];
    for (std::size_t i = 0; i < count; ++i) args[i] = evaluate(*expr.args[i], env);
    return callValue(callee, Args(args, count), expr.line, expr.column);
}

[[gnu::noinline]] Value Interpreter::evalCallWithMany(const Value& callee, const CallExpr& expr,
                                                      const EnvPtr& env) {
    ListData args;
    args.reserve(expr.args.size());
    for (const auto& arg : expr.args) args.push_back(evaluate(*arg, env));
    return callValue(callee, Args(args.data(), args.size()), expr.line, expr.column);
}

Value Interpreter::evalIndex(const IndexExpr& expr, Value&& object, const EnvPtr& env) {
    const Value index = evaluate(*expr.index, env);
    return indexValue(object, index, siteOf(expr));
}

// ---------------------------------------------------------------------------
// Statements

void Interpreter::execute(const Stmt& stmt, const EnvPtr& env) {
    raiseFlow(exec(stmt, env));
}

void Interpreter::executeBlock(const Block& statements, const EnvPtr& env) {
    raiseFlow(execBlock(statements, env));
}

void Interpreter::raiseFlow(Flow flow) {
    switch (flow) {
    case Flow::Normal: return;
    case Flow::Break: throw BreakSignal{};
    case Flow::Continue: throw ContinueSignal{};
    case Flow::Return: throw ReturnSignal{std::move(returnValue_)};
    }
}

Interpreter::Flow Interpreter::execBlock(const Block& statements,
                                         const EnvPtr& env) {
    for (const auto& stmt : statements) {
        const Flow flow = exec(*stmt, env);
        if (flow != Flow::Normal) return flow;
    }
    return Flow::Normal;
}

Interpreter::Flow Interpreter::exec(const Stmt& stmt, const EnvPtr& env) {
    checkStack(stmt.line, stmt.column);
    switch (stmt.kind) {
    case StmtKind::Let: {
        const auto& let = static_cast<const LetStmt&>(stmt);
        env->define(let.name, evaluate(*let.init, env));
        return Flow::Normal;
    }
    case StmtKind::Assign:
        execAssign(static_cast<const AssignStmt&>(stmt), env);
        return Flow::Normal;
    case StmtKind::Expr:
        evaluate(*static_cast<const ExprStmt&>(stmt).expr, env);
        return Flow::Normal;
    case StmtKind::If: return execIf(static_cast<const IfStmt&>(stmt), env);
    case StmtKind::While: return execWhile(static_cast<const WhileStmt&>(stmt), env);
    case StmtKind::NumericFor: return execNumericFor(static_cast<const NumericForStmt&>(stmt), env);
    case StmtKind::ForIn: return execForIn(static_cast<const ForInStmt&>(stmt), env);
    case StmtKind::FunctionDecl: {
        const auto& decl = static_cast<const FunctionDeclStmt&>(stmt);
        // The closure is the scope that receives the binding, so the
        // function can call itself by name.
        env->define(decl.name, makeFunction(decl, env));
        return Flow::Normal;
    }
    case StmtKind::Return: {
        const auto& ret = static_cast<const ReturnStmt&>(stmt);
        returnValue_ = ret.value ? evaluate(*ret.value, env) : Value();
        return Flow::Return;
    }
    case StmtKind::Break:
        // break and continue never leave the function they appear in.
        if (loopDepth_ == 0) failAt("'break' outside a loop", stmt.line, stmt.column);
        return Flow::Break;
    case StmtKind::Continue:
        if (loopDepth_ == 0) failAt("'continue' outside a loop", stmt.line, stmt.column);
        return Flow::Continue;
    case StmtKind::Try: return execTry(static_cast<const TryStmt&>(stmt), env);
    }
    return Flow::Normal;
}

void Interpreter::execAssign(const AssignStmt& stmt, const EnvPtr& env) {
    // The value comes first, before anything of the target.
    Value value = evaluate(*stmt.value, env);
    std::optional<BinOp> op;
    if (!stmt.op.empty()) {
        op = binOpFromText(stmt.op);
        if (!op) failUnknownOperator(stmt.op, stmt.line, stmt.column);
    }
    const Expr& target = *stmt.target;

    if (target.kind == ExprKind::Name) {
        const std::string& name = static_cast<const NameExpr&>(target).name;
        Value* slot = env->lookup(name);
        if (!slot) failAssignUndefined(name, stmt.line, stmt.column);
        if (op) value = binaryOp(*op, *slot, value, siteOf(stmt));
        *slot = std::move(value);
        return;
    }

    Value object;
    Value key;
    if (target.kind == ExprKind::Index) {
        const auto& index = static_cast<const IndexExpr&>(target);
        object = evaluate(*index.object, env);
        key = evaluate(*index.index, env);
    } else {
        const auto& get = static_cast<const GetExpr&>(target);
        object = evaluate(*get.object, env);
        key = get.key;
    }
    if (op) value = binaryOp(*op, indexValue(object, key, siteOf(target)), value, siteOf(stmt));
    setIndex(object, key, std::move(value), siteOf(stmt));
}

Interpreter::Flow Interpreter::execIf(const IfStmt& stmt, const EnvPtr& env) {
    for (const auto& branch : stmt.branches) {
        if (!branch.cond || isTruthy(evaluate(*branch.cond, env)))
            return execBlock(branch.body, Environment::child(env));
    }
    return Flow::Normal;
}

Interpreter::Flow Interpreter::execWhile(const WhileStmt& stmt,
                                         const EnvPtr& env) {
    CounterGuard loops(loopDepth_, loopDepth_ + 1);
    while (isTruthy(evaluate(*stmt.cond, env))) {
        spendStep(stmt.line, stmt.column);
        const Flow flow = execBlock(stmt.body, Environment::child(env));
        if (flow == Flow::Break) break;
        if (flow == Flow::Return) return flow;
    }
    return Flow::Normal;
}

Interpreter::Flow Interpreter::execNumericFor(const NumericForStmt& stmt,
                                              const EnvPtr& env) {
    const Value start = evaluate(*stmt.start, env);
    const Value limit = evaluate(*stmt.limit, env);
    if (!start.isNumber() || !limit.isNumber())
        failAt("numeric for-loop bounds must be numbers", stmt.line, stmt.column);
    Value step = Value::integer(1);
    if (stmt.step) {
        step = evaluate(*stmt.step, env);
        if (!step.isNumber()) failAt("for step must be a number", stmt.line, stmt.column);
        if (asDouble(step) == 0.0) failAt("for-loop step cannot be 0", stmt.line, stmt.column);
    }
    const bool integerMode = start.isInteger() && limit.isInteger() && step.isInteger();
    // The counter and the bounds are fixed here; the body cannot change them.
    double i = asDouble(start);
    const double last = asDouble(limit);
    const double delta = asDouble(step);

    CounterGuard loops(loopDepth_, loopDepth_ + 1);
    for (; delta > 0 ? i <= last : i >= last; i += delta) {
        spendStep(stmt.line, stmt.column);
        auto scope = Environment::child(env);
        scope->define(stmt.var,
                      integerMode ? Value::integer(truncateToInt64(i)) : Value::number(i));
        const Flow flow = execBlock(stmt.body, scope);
        if (flow == Flow::Break) break;
        if (flow == Flow::Return) return flow;
    }
    return Flow::Normal;
}

Interpreter::Flow Interpreter::execForIn(const ForInStmt& stmt,
                                         const EnvPtr& env) {
    const ListData items = iterationItems(evaluate(*stmt.iterable, env), siteOf(stmt));
    CounterGuard loops(loopDepth_, loopDepth_ + 1);
    for (const Value& item : items) {
        spendStep(stmt.line, stmt.column);
        auto scope = Environment::child(env);
        scope->define(stmt.var, item);
        const Flow flow = execBlock(stmt.body, scope);
        if (flow == Flow::Break) break;
        if (flow == Flow::Return) return flow;
    }
    return Flow::Normal;
}

Interpreter::Flow Interpreter::execTry(const TryStmt& stmt,
                                       const EnvPtr& env) {
    Value caught;
    try {
        // break, continue and return pass through a try unchanged.
        return execBlock(stmt.body, Environment::child(env));
    } catch (ThrownValue& thrown) {
        caught = std::move(thrown.value);
    } catch (const RuntimeError& error) {
        caught = Value::string(error.message);
    }
    // The handler runs after the exception is gone, so an error raised in it
    // simply propagates from here.
    auto scope = Environment::child(env);
    scope->define(stmt.catchName, std::move(caught));
    return execBlock(stmt.handler, scope);
}

}  // namespace ferrow
