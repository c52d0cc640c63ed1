// The compiler's control-flow statements: if, while, the two for loops,
// break, continue and try. The for loops are lowered onto hidden locals
// ("$limit", "$step", "$iter", "$idx") and ordinary instructions.

#include "compiler/CompilerState.h"

namespace ferrow::compiler_detail {

void Compiler::compileIf(const IfStmt& stmt) {
    // if -> IF cond THEN block {ELIF cond THEN block} [ELSE block] END
    const int32_t line = stmt.line;
    std::vector<int32_t> endJumps;
    for (const IfBranch& branch : stmt.branches) {
        if (!branch.cond) {
            beginScope();
            compileBlock(branch.body);
            endScope(line);
            continue;
        }
        compileExpression(*branch.cond);
        const int32_t next = emitJump(OpCode::JUMP_IF_FALSE, line);
        emitOp(OpCode::POP, line);
        beginScope();
        compileBlock(branch.body);
        endScope(line);
        endJumps.push_back(emitJump(OpCode::JUMP, line));
        patchJump(next);
        emitOp(OpCode::POP, line);
    }
    patchJumpList(endJumps);
}

void Compiler::compileLoopBody(const Block& body, int32_t line) {
    FunctionState& state = *current_;
    state.loops.push_back(LoopInfo{state.scopeDepth, state.tryDepth, {}, {}});
    beginScope();
    compileBlock(body);
    endScope(line);
    // Whatever a continue must do next (re-test or increment) starts here.
    patchJumpList(state.loops.back().continueJumps);
}

void Compiler::finishLoop(std::size_t loopStart, int32_t exit, int32_t line) {
    FunctionState& state = *current_;
    emitLoop(loopStart, line);
    patchJump(exit);
    emitOp(OpCode::POP, line);
    // A break leaves no condition on the stack, so it lands after the POP.
    patchJumpList(state.loops.back().breakJumps);
    state.loops.pop_back();
}

void Compiler::compileWhile(const WhileStmt& stmt) {
    // while -> WHILE cond DO block END
    const int32_t line = stmt.line;
    const std::size_t loopStart = codeSize();
    compileExpression(*stmt.cond);
    const int32_t exit = emitJump(OpCode::JUMP_IF_FALSE, line);
    emitOp(OpCode::POP, line);

    // continue re-tests the condition.
    compileLoopBody(stmt.body, line);
    finishLoop(loopStart, exit, line);
}

void Compiler::compileNumericFor(const NumericForStmt& stmt) {
    // numericfor -> FOR name = start, limit [, step] DO block END
    const int32_t line = stmt.line;
    const Pos pos{stmt.line, stmt.column};
    beginScope();
    // Start, limit and step are evaluated once each, in that order. The
    // variable is the counter itself: one slot for the whole loop.
    compileExpression(*stmt.start);
    const std::size_t var = addLocal(stmt.var, pos);
    compileExpression(*stmt.limit);
    const std::size_t limit = addLocal("$limit", pos);
    if (stmt.step) {
        compileExpression(*stmt.step);
    } else {
        emitConstant(Value::integer(1), line);
    }
    const std::size_t step = addLocal("$step", pos);

    const std::size_t loopStart = codeSize();
    emitShort(OpCode::GET_LOCAL, var, line);
    emitShort(OpCode::GET_LOCAL, limit, line);
    emitShort(OpCode::GET_LOCAL, step, line);
    emitOp(OpCode::FOR_CHECK, line);
    const int32_t exit = emitJump(OpCode::JUMP_IF_FALSE, line);
    emitOp(OpCode::POP, line);

    // continue goes to the increment.
    compileLoopBody(stmt.body, line);
    emitShort(OpCode::GET_LOCAL, var, line);
    emitShort(OpCode::GET_LOCAL, step, line);
    emitOp(OpCode::ADD, line);
    emitShort(OpCode::SET_LOCAL, var, line);
    emitOp(OpCode::POP, line);

    finishLoop(loopStart, exit, line);
    endScope(line);
}

void Compiler::compileForIn(const ForInStmt& stmt) {
    // forin -> FOR name IN expr DO block END
    const int32_t line = stmt.line;
    const Pos pos{stmt.line, stmt.column};
    beginScope();
    // The loop walks a snapshot taken once, by index.
    compileExpression(*stmt.iterable);
    emitOp(OpCode::ITER_PREPARE, line);
    const std::size_t iter = addLocal("$iter", pos);
    emitConstant(Value::integer(0), line);
    const std::size_t idx = addLocal("$idx", pos);
    emitOp(OpCode::NIL, line);
    const std::size_t var = addLocal(stmt.var, pos);

    const std::size_t loopStart = codeSize();
    emitShort(OpCode::GET_LOCAL, idx, line);
    emitShort(OpCode::GET_LOCAL, iter, line);
    emitOp(OpCode::LEN, line);
    emitOp(OpCode::LESS, line);
    const int32_t exit = emitJump(OpCode::JUMP_IF_FALSE, line);
    emitOp(OpCode::POP, line);

    emitShort(OpCode::GET_LOCAL, iter, line);
    emitShort(OpCode::GET_LOCAL, idx, line);
    emitOp(OpCode::GET_INDEX, line);
    emitShort(OpCode::SET_LOCAL, var, line);
    emitOp(OpCode::POP, line);

    compileLoopBody(stmt.body, line);
    emitShort(OpCode::GET_LOCAL, idx, line);
    emitConstant(Value::integer(1), line);
    emitOp(OpCode::ADD, line);
    emitShort(OpCode::SET_LOCAL, idx, line);
    emitOp(OpCode::POP, line);

    finishLoop(loopStart, exit, line);
    endScope(line);
}

void Compiler::compileBreakOrContinue(const Stmt& stmt, bool isBreak) {
    const int32_t line = stmt.line;
    FunctionState& state = *current_;
    // Loops of an enclosing function are out of reach: a function body
    // starts with no loops.
    if (state.loops.empty()) {
        compileError(isBreak ? "'break' outside a loop" : "'continue' outside a loop", stmt.line,
                     stmt.column);
    }
    LoopInfo& loop = state.loops.back();
    // The locals stay declared: code after the jump is still in their scope.
    discardLocalsAbove(loop.depth, line);
    // No handler of a try body being left may stay registered.
    for (int32_t i = state.tryDepth; i > loop.tryDepth; --i) emitOp(OpCode::TRY_END, line);
    const int32_t jump = emitJump(OpCode::JUMP, line);
    (isBreak ? loop.breakJumps : loop.continueJumps).push_back(jump);
}

void Compiler::compileTry(const TryStmt& stmt) {
    // try -> TRY block CATCH name block END
    const int32_t line = stmt.line;
    FunctionState& state = *current_;
    const int32_t handler = emitJump(OpCode::TRY_BEGIN, line);

    ++state.tryDepth;
    beginScope();
    compileBlock(stmt.body);
    endScope(line);
    --state.tryDepth;

    emitOp(OpCode::TRY_END, line);
    const int32_t end = emitJump(OpCode::JUMP, line);

    patchJump(handler);
    // The VM delivers the caught value at the stack height TRY_BEGIN saw,
    // which is exactly the catch variable's slot.
    beginScope();
    addLocal(stmt.catchName, {stmt.line, stmt.column});
    compileBlock(stmt.handler);
    endScope(line);
    patchJump(end);
}

}  // namespace ferrow::compiler_detail
