// The single-pass compiler: functions, expressions and the simple statements.
// Control-flow statements are in CompileControl.cpp.
//
// Every node emits its code as it is visited; there is no optimisation and no
// constant deduplication. Names are resolved at compile time to a local slot,
// an upvalue or a global. Every byte carries the line of the node that
// emitted it.

#include "compiler/Compiler.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "compiler/CompilerState.h"
#include "value/Errors.h"
#include "value/StackGuard.h"

namespace ferrow {

namespace compiler_detail {

void compileError(const std::string& message, int32_t line, int32_t column) {
    throw FerrowError(kCompileErrorKind, message, line, column);
}

namespace {

// The opcodes of binary operators; compound assignment accepts the first
// seven (the arithmetic ones).
std::optional<OpCode> binaryOpCode(std::string_view op, bool arithmeticOnly) {
    static constexpr std::pair<std::string_view, OpCode> kTable[] = {
        {"+", OpCode::ADD},        {"-", OpCode::SUB},        {"*", OpCode::MUL},
        {"/", OpCode::DIV},        {"//", OpCode::FLOOR_DIV}, {"%", OpCode::MOD},
        {"^", OpCode::POW},        {"==", OpCode::EQUAL},     {"!=", OpCode::NOT_EQUAL},
        {"<", OpCode::LESS},       {"<=", OpCode::LESS_EQUAL}, {">", OpCode::GREATER},
        {">=", OpCode::GREATER_EQUAL},
    };
    const std::size_t rows = arithmeticOnly ? 7 : std::size(kTable);
    for (std::size_t i = 0; i < rows; ++i) {
        if (kTable[i].first == op) return kTable[i].second;
    }
    return std::nullopt;
}

}  // namespace

// ---------------------------------------------------------------- emission

std::size_t Compiler::codeSize() const { return current_->proto->code.size(); }

void Compiler::emitByte(uint8_t byte, int32_t line) {
    FunctionProto& proto = *current_->proto;
    proto.code.push_back(byte);
    proto.lines.push_back(static_cast<uint32_t>(line));
}

void Compiler::emitShort(OpCode op, std::size_t value, int32_t line) {
    // Callers have checked the limit; a wider value here is a compiler bug.
    emitOp(op, line);
    emitByte(static_cast<uint8_t>((value >> 8) & 0xff), line);
    emitByte(static_cast<uint8_t>(value & 0xff), line);
}

std::size_t Compiler::makeConstant(Value value) {
    auto& constants = current_->proto->constants;
    if (constants.size() >= kMaxConstants) compileError("too many constants", 0, 0);
    if (value.isString()) {
        // The table's key views the bytes of the string it maps to.
        auto found = strings_.find(value.asString());
        if (found != strings_.end()) {
            value = found->second;
        } else {
            strings_.emplace(value.asString(), value);
        }
    }
    constants.push_back(std::move(value));
    return constants.size() - 1;
}

void Compiler::emitConstant(Value value, int32_t line) {
    emitShort(OpCode::CONST, makeConstant(std::move(value)), line);
}

int32_t Compiler::emitJump(OpCode op, int32_t line) {
    emitOp(op, line);
    emitByte(0xff, line);
    emitByte(0xff, line);
    return static_cast<int32_t>(codeSize() - 2);
}

void Compiler::patchJump(int32_t position) {
    const std::size_t distance = codeSize() - static_cast<std::size_t>(position) - 2;
    if (distance > kMaxU16) compileError("branch too large", 0, 0);
    auto& code = current_->proto->code;
    code[position] = static_cast<uint8_t>((distance >> 8) & 0xff);
    code[position + 1] = static_cast<uint8_t>(distance & 0xff);
}

void Compiler::emitLoop(std::size_t loopStart, int32_t line) {
    emitOp(OpCode::LOOP, line);
    // After the two operand bytes the pointer minus the distance is loopStart.
    const std::size_t distance = codeSize() + 2 - loopStart;
    if (distance > kMaxU16) compileError("loop body too large", 0, 0);
    emitByte(static_cast<uint8_t>((distance >> 8) & 0xff), line);
    emitByte(static_cast<uint8_t>(distance & 0xff), line);
}

void Compiler::patchJumpList(const std::vector<int32_t>& jumps) {
    for (int32_t position : jumps) patchJump(position);
}

// ------------------------------------------------------- scopes and names

void Compiler::beginScope() { ++current_->scopeDepth; }

void Compiler::endScope(int32_t line) {
    FunctionState& state = *current_;
    --state.scopeDepth;
    while (!state.locals.empty() && state.locals.back().depth > state.scopeDepth) {
        emitOp(state.locals.back().captured ? OpCode::CLOSE_UPVALUE : OpCode::POP, line);
        state.locals.pop_back();
    }
}

void Compiler::discardLocalsAbove(int32_t depth, int32_t line) {
    const auto& locals = current_->locals;
    for (auto it = locals.rbegin(); it != locals.rend() && it->depth > depth; ++it) {
        emitOp(it->captured ? OpCode::CLOSE_UPVALUE : OpCode::POP, line);
    }
}

std::size_t Compiler::addLocal(const std::string& name, Pos pos) {
    auto& locals = current_->locals;
    // GET_LOCAL and SET_LOCAL address slots with 16 bits.
    if (locals.size() >= kMaxLocals) {
        compileError("too many local variables in one function (the limit is 65536)", pos.line,
                     pos.column);
    }
    locals.push_back(Local{name, current_->scopeDepth, false});
    return locals.size() - 1;
}

int32_t Compiler::resolveLocal(const FunctionState& state, const std::string& name) const {
    for (std::size_t i = state.locals.size(); i-- > 0;) {
        if (state.locals[i].name == name) return static_cast<int32_t>(i);
    }
    return -1;
}

int32_t Compiler::addUpvalue(FunctionState& state, uint32_t index, bool isLocal, Pos pos) {
    const uint8_t local = isLocal ? 1 : 0;
    // Each outer variable is captured once however often the function names
    // it, so all its uses share one Upvalue.
    for (std::size_t i = 0; i < state.upvalues.size(); ++i) {
        if (state.upvalues[i].index == index && state.upvalues[i].isLocal == local) {
            return static_cast<int32_t>(i);
        }
    }
    // GET_UPVALUE and SET_UPVALUE address upvalues with 8 bits.
    if (state.upvalues.size() >= kMaxUpvalues) {
        compileError("too many captured variables in one function (the limit is 256)", pos.line,
                     pos.column);
    }
    state.upvalues.push_back(UpvalueDesc{local, index});
    return static_cast<int32_t>(state.upvalues.size() - 1);
}

int32_t Compiler::resolveUpvalue(FunctionState& state, const std::string& name, Pos pos) {
    if (!state.enclosing) return -1;
    FunctionState& outer = *state.enclosing;
    const int32_t slot = resolveLocal(outer, name);
    if (slot >= 0) {
        outer.locals[slot].captured = true;
        return addUpvalue(state, static_cast<uint32_t>(slot), true, pos);
    }
    const int32_t upvalue = resolveUpvalue(outer, name, pos);
    if (upvalue >= 0) return addUpvalue(state, static_cast<uint32_t>(upvalue), false, pos);
    return -1;
}

VarAccess Compiler::resolve(const std::string& name, Pos pos) {
    VarAccess access;
    if (int32_t slot = resolveLocal(*current_, name); slot >= 0) {
        access.getOp = OpCode::GET_LOCAL;
        access.setOp = OpCode::SET_LOCAL;
        access.index = slot;
    } else if (int32_t upvalue = resolveUpvalue(*current_, name, pos); upvalue >= 0) {
        access.getOp = OpCode::GET_UPVALUE;
        access.setOp = OpCode::SET_UPVALUE;
        access.index = upvalue;
    } else {
        // Unknown names are globals; whether they exist is found at run time.
        access.nameConst = static_cast<int32_t>(makeConstant(Value::string(name)));
    }
    return access;
}

void Compiler::emitGet(const VarAccess& access, int32_t line) {
    if (access.getOp == OpCode::GET_UPVALUE) {
        emitOp(OpCode::GET_UPVALUE, line);
        emitByte(static_cast<uint8_t>(access.index), line);
    } else {
        emitShort(access.getOp, access.index >= 0 ? access.index : access.nameConst, line);
    }
}

void Compiler::emitSet(const VarAccess& access, int32_t line) {
    if (access.setOp == OpCode::SET_UPVALUE) {
        emitOp(OpCode::SET_UPVALUE, line);
        emitByte(static_cast<uint8_t>(access.index), line);
    } else {
        emitShort(access.setOp, access.index >= 0 ? access.index : access.nameConst, line);
    }
}

void Compiler::guardDepth(Pos pos) {
    // The parser bounds nesting, but the compiler's own frames are larger.
    if (stackNearlyExhausted()) compileError("program too deeply nested", pos.line, pos.column);
}

// ---------------------------------------------------------------- functions

void Compiler::compileFunction(const std::string& name, const std::vector<std::string>& params,
                               const Block& body, Pos pos) {
    FunctionState state;
    state.enclosing = current_;
    state.proto = std::make_shared<FunctionProto>();
    state.proto->name = name;
    state.proto->arity = static_cast<int32_t>(params.size());
    current_ = &state;
    // Restore the enclosing state however this function's compilation ends.
    struct Restore {
        FunctionState*& current;
        FunctionState* saved;
        ~Restore() { current = saved; }
    } restore{current_, state.enclosing};

    // Parameter i is local slot i; the function itself has no slot.
    beginScope();
    for (const std::string& param : params) addLocal(param, pos);
    compileBlock(body);
    // The implicit return; RETURN discards the whole frame, so no endScope.
    emitOp(OpCode::NIL, pos.line);
    emitOp(OpCode::RETURN, pos.line);
    state.proto->upvalues = state.upvalues;
    state.proto->maxStack = computeMaxStack(*state.proto);

    current_ = state.enclosing;
    auto& protos = current_->proto->protos;
    if (protos.size() >= kMaxProtos) {
        compileError("too many nested functions in one function (the limit is 65536)", pos.line,
                     pos.column);
    }
    protos.push_back(state.proto);
    emitShort(OpCode::CLOSURE, protos.size() - 1, pos.line);
}

// -------------------------------------------------------------- expressions

void Compiler::compileExpression(const Expr& expr) {
    guardDepth({expr.line, expr.column});
    const int32_t line = expr.line;
    switch (expr.kind) {
    case ExprKind::Literal: {
        const Value& value = static_cast<const LiteralExpr&>(expr).value;
        if (value.isNil()) {
            emitOp(OpCode::NIL, line);
        } else if (value.isBool()) {
            emitOp(value.asBool() ? OpCode::TRUE : OpCode::FALSE, line);
        } else {
            emitConstant(value, line);
        }
        return;
    }
    case ExprKind::ListLit: {
        const auto& list = static_cast<const ListLitExpr&>(expr);
        if (list.elements.size() > kMaxLiteralItems) {
            compileError("too many elements in a list literal (the limit is 65535)", line,
                         expr.column);
        }
        for (const ExprPtr& element : list.elements) compileExpression(*element);
        emitShort(OpCode::BUILD_LIST, list.elements.size(), line);
        return;
    }
    case ExprKind::MapLit: {
        const auto& map = static_cast<const MapLitExpr&>(expr);
        if (map.entries.size() > kMaxLiteralItems) {
            compileError("too many entries in a map literal (the limit is 65535)", line,
                         expr.column);
        }
        for (const auto& [key, value] : map.entries) {
            compileExpression(*key);
            compileExpression(*value);
        }
        emitShort(OpCode::BUILD_MAP, map.entries.size(), line);
        return;
    }
    case ExprKind::Name: {
        const auto& name = static_cast<const NameExpr&>(expr);
        emitGet(resolve(name.name, {line, expr.column}), line);
        return;
    }
    case ExprKind::Unary: {
        const auto& unary = static_cast<const UnaryExpr&>(expr);
        compileExpression(*unary.operand);
        emitOp(unary.op == "not" ? OpCode::NOT : OpCode::NEGATE, line);
        return;
    }
    case ExprKind::Binary:
    case ExprKind::Call:
    case ExprKind::Index:
    case ExprKind::Get:
        compileChain(expr);
        return;
    case ExprKind::Function: {
        const auto& function = static_cast<const FunctionExpr&>(expr);
        compileFunction(function.name, function.params, function.body, {line, expr.column});
        return;
    }
    }
    compileError("cannot compile expression", line, expr.column);
}

// A chain such as `a + b + c` or `f(x)(y).z` may be any number of links
// long, so it is not compiled by recursion: the links are gathered from the
// outermost in, the innermost operand is compiled, and then each link from
// the inside out. The code is what a recursive walk would emit, and each
// link consumes the value below its other operands, so a chain of binary
// operators needs two stack slots however long it is.
void Compiler::compileChain(const Expr& expr) {
    std::vector<const Expr*> links;
    const Expr* operand = &expr;
    while (const Expr* inner = leftSpineChild(*operand)) {
        // Checked on the way in, outermost first, as a recursive walk would.
        if (operand->kind == ExprKind::Call &&
            static_cast<const CallExpr&>(*operand).args.size() > kMaxArguments) {
            compileError("too many arguments", operand->line, operand->column);
        }
        links.push_back(operand);
        operand = inner;
    }

    compileExpression(*operand);
    for (auto link = links.rbegin(); link != links.rend(); ++link) {
        const Expr& e = **link;
        switch (e.kind) {
        case ExprKind::Binary: compileBinary(static_cast<const BinaryExpr&>(e)); break;
        case ExprKind::Call: compileCall(static_cast<const CallExpr&>(e)); break;
        case ExprKind::Index:
            compileExpression(*static_cast<const IndexExpr&>(e).index);
            emitOp(OpCode::GET_INDEX, e.line);
            break;
        default:
            // A property read is an index read with a string key.
            emitConstant(Value::string(static_cast<const GetExpr&>(e).name), e.line);
            emitOp(OpCode::GET_INDEX, e.line);
            break;
        }
    }
}

// The left operand is already on the stack (see compileChain).
void Compiler::compileBinary(const BinaryExpr& expr) {
    const int32_t line = expr.line;
    if (expr.op == "and" || expr.op == "or") {
        // The result is an operand: the left one when it decides, else the right.
        const int32_t skip =
            emitJump(expr.op == "and" ? OpCode::JUMP_IF_FALSE : OpCode::JUMP_IF_TRUE, line);
        emitOp(OpCode::POP, line);
        compileExpression(*expr.right);
        patchJump(skip);
        return;
    }
    compileExpression(*expr.right);
    const std::optional<OpCode> op = binaryOpCode(expr.op, false);
    if (!op) compileError("unknown operator " + expr.op, line, 0);
    emitOp(*op, line);
}

// The callee is already on the stack and the argument count checked (see
// compileChain).
void Compiler::compileCall(const CallExpr& expr) {
    for (const ExprPtr& arg : expr.args) compileExpression(*arg);
    emitOp(OpCode::CALL, expr.line);
    emitByte(static_cast<uint8_t>(expr.args.size()), expr.line);
}

// --------------------------------------------------------------- statements

void Compiler::compileBlock(const Block& block) {
    for (const StmtPtr& stmt : block) compileStatement(*stmt);
}

void Compiler::compileStatement(const Stmt& stmt) {
    guardDepth({stmt.line, stmt.column});
    const int32_t line = stmt.line;
    switch (stmt.kind) {
    case StmtKind::Let:
        compileLet(static_cast<const LetStmt&>(stmt));
        return;
    case StmtKind::Assign:
        compileAssign(static_cast<const AssignStmt&>(stmt));
        return;
    case StmtKind::Expr:
        compileExpression(*static_cast<const ExprStmt&>(stmt).expr);
        emitOp(OpCode::POP, line);
        return;
    case StmtKind::If:
        compileIf(static_cast<const IfStmt&>(stmt));
        return;
    case StmtKind::While:
        compileWhile(static_cast<const WhileStmt&>(stmt));
        return;
    case StmtKind::NumericFor:
        compileNumericFor(static_cast<const NumericForStmt&>(stmt));
        return;
    case StmtKind::ForIn:
        compileForIn(static_cast<const ForInStmt&>(stmt));
        return;
    case StmtKind::FunctionDecl:
        compileFunctionDecl(static_cast<const FunctionDeclStmt&>(stmt));
        return;
    case StmtKind::Return: {
        const auto& ret = static_cast<const ReturnStmt&>(stmt);
        if (ret.value) {
            compileExpression(*ret.value);
        } else {
            emitOp(OpCode::NIL, line);
        }
        emitOp(OpCode::RETURN, line);
        return;
    }
    case StmtKind::Break:
        compileBreakOrContinue(stmt, true);
        return;
    case StmtKind::Continue:
        compileBreakOrContinue(stmt, false);
        return;
    case StmtKind::Try:
        compileTry(static_cast<const TryStmt&>(stmt));
        return;
    }
    compileError("cannot compile statement", line, stmt.column);
}

void Compiler::compileLet(const LetStmt& stmt) {
    if (current_->scopeDepth > 0) {
        // The initializer is compiled before the name exists, so inside it
        // the name still means an outer variable.
        compileExpression(*stmt.init);
        addLocal(stmt.name, {stmt.line, stmt.column});
        return;
    }
    const std::size_t name = makeConstant(Value::string(stmt.name));
    compileExpression(*stmt.init);
    emitShort(OpCode::DEFINE_GLOBAL, name, stmt.line);
}

void Compiler::compileFunctionDecl(const FunctionDeclStmt& stmt) {
    const Pos pos{stmt.line, stmt.column};
    if (current_->scopeDepth > 0) {
        // The slot exists before the body is compiled, so the body can
        // capture it and call itself.
        addLocal(stmt.name, pos);
        compileFunction(stmt.name, stmt.params, stmt.body, pos);
        return;
    }
    const std::size_t name = makeConstant(Value::string(stmt.name));
    compileFunction(stmt.name, stmt.params, stmt.body, pos);
    emitShort(OpCode::DEFINE_GLOBAL, name, stmt.line);
}

void Compiler::compileAssign(const AssignStmt& stmt) {
    const int32_t line = stmt.line;
    std::optional<OpCode> op;
    const bool compound = !stmt.op.empty();
    if (compound) {
        op = binaryOpCode(stmt.op, true);
        if (!op) compileError("bad operator " + stmt.op, line, 0);
    }

    const Expr& target = *stmt.target;
    switch (target.kind) {
    case ExprKind::Name: {
        const VarAccess access =
            resolve(static_cast<const NameExpr&>(target).name, {target.line, target.column});
        if (compound) emitGet(access, line);
        compileExpression(*stmt.value);
        if (compound) emitOp(*op, line);
        emitSet(access, line);
        emitOp(OpCode::POP, line);
        return;
    }
    case ExprKind::Index:
    case ExprKind::Get: {
        // Object and key are evaluated once, before the value; a compound
        // assignment reads the old value before evaluating the new one.
        if (target.kind == ExprKind::Index) {
            const auto& index = static_cast<const IndexExpr&>(target);
            compileExpression(*index.object);
            compileExpression(*index.index);
        } else {
            const auto& get = static_cast<const GetExpr&>(target);
            compileExpression(*get.object);
            emitConstant(Value::string(get.name), target.line);
        }
        if (compound) emitOp(OpCode::GET_INDEX_KEEP, target.line);
        compileExpression(*stmt.value);
        if (compound) emitOp(*op, line);
        emitOp(OpCode::SET_INDEX, line);
        emitOp(OpCode::POP, line);
        return;
    }
    default:
        compileError("invalid assignment target", target.line, target.column);
    }
}

std::shared_ptr<FunctionProto> Compiler::compileProgram(const Block& program) {
    FunctionState state;
    state.proto = std::make_shared<FunctionProto>();
    state.proto->name = "<script>";
    state.proto->arity = 0;
    current_ = &state;
    compileBlock(program);
    emitOp(OpCode::NIL, 0);
    emitOp(OpCode::RETURN, 0);
    state.proto->upvalues = state.upvalues;
    state.proto->maxStack = computeMaxStack(*state.proto);
    current_ = nullptr;
    return state.proto;
}

}  // namespace compiler_detail

uint32_t computeMaxStack(const FunctionProto& proto) {
    const std::vector<uint8_t>& code = proto.code;
    // The depth before each instruction, -1 where no path has come yet.
    std::vector<int64_t> depthAt(code.size() + 1, -1);
    std::vector<std::size_t> work;
    int64_t most = proto.arity;
    auto reach = [&](std::size_t at, int64_t depth) {
        // Capped, so that code whose loops do not balance (which the
        // compiler never makes) still ends the search; the VM then refuses
        // the call as a stack overflow.
        depth = std::min<int64_t>(depth, int64_t{1} << 24);
        if (at >= code.size() || depth <= depthAt[at]) return;
        depthAt[at] = depth;
        most = std::max(most, depth);
        work.push_back(at);
    };
    reach(0, proto.arity);
    while (!work.empty()) {
        const std::size_t pc = work.back();
        work.pop_back();
        const auto op = static_cast<OpCode>(code[pc]);
        const std::size_t width = operandBytes(op);
        if (pc + width >= code.size()) break;  // malformed; nothing to follow
        const std::size_t operand =
            width == 2 ? (code[pc + 1] << 8) | code[pc + 2] : width == 1 ? code[pc + 1] : 0;
        const std::size_t next = pc + 1 + width;
        const int64_t depth = depthAt[pc];
        int64_t after = depth;
        switch (op) {
        case OpCode::CONST: case OpCode::NIL: case OpCode::TRUE: case OpCode::FALSE:
        case OpCode::GET_GLOBAL: case OpCode::GET_LOCAL: case OpCode::GET_UPVALUE:
        case OpCode::CLOSURE: case OpCode::GET_INDEX_KEEP:
            after = depth + 1;
            break;
        case OpCode::POP: case OpCode::DEFINE_GLOBAL: case OpCode::CLOSE_UPVALUE:
        case OpCode::GET_INDEX: case OpCode::ADD: case OpCode::SUB: case OpCode::MUL:
        case OpCode::DIV: case OpCode::FLOOR_DIV: case OpCode::MOD: case OpCode::POW:
        case OpCode::EQUAL: case OpCode::NOT_EQUAL: case OpCode::LESS: case OpCode::LESS_EQUAL:
        case OpCode::GREATER: case OpCode::GREATER_EQUAL:
            after = depth - 1;
            break;
        case OpCode::SET_INDEX: case OpCode::FOR_CHECK:
            after = depth - 2;
            break;
        case OpCode::BUILD_LIST:
            after = depth + 1 - static_cast<int64_t>(operand);
            break;
        case OpCode::BUILD_MAP:
            after = depth + 1 - 2 * static_cast<int64_t>(operand);
            break;
        case OpCode::CALL:
            after = depth - static_cast<int64_t>(operand);
            break;
        case OpCode::RETURN: case OpCode::HALT:
            continue;
        case OpCode::JUMP:
            reach(next + operand, depth);
            continue;
        case OpCode::LOOP:
            reach(next - operand, depth);
            continue;
        case OpCode::JUMP_IF_FALSE: case OpCode::JUMP_IF_TRUE:
            reach(next + operand, depth);
            break;
        case OpCode::TRY_BEGIN:
            // The catch part starts with the caught value in one more slot.
            reach(next + operand, depth + 1);
            break;
        default:
            break;
        }
        // An empty literal or a call's result needs a slot at the peak too.
        most = std::max(most, std::max(after, depth));
        reach(next, after);
    }
    return static_cast<uint32_t>(std::max<int64_t>(most, 0));
}

std::shared_ptr<FunctionProto> compile(const Block& program) {
    compiler_detail::Compiler compiler;
    return compiler.compileProgram(program);
}

}  // namespace ferrow
