#pragma once
// The compiler's internal state, shared by Compiler.cpp (functions,
// expressions, simple statements) and CompileControl.cpp (control flow).
// Not part of the public interface: include "compiler/Compiler.h" instead.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "compiler/FunctionProto.h"
#include "compiler/OpCodes.h"
#include "front/Ast.h"

namespace ferrow::compiler_detail {

// Operand limits. A u16 operand holds 0..65535 and a u8 0..255; a count that
// does not fit is a compile error, never a truncated operand.
inline constexpr std::size_t kMaxU16 = 65535;
inline constexpr std::size_t kMaxConstants = kMaxU16 + 1;   // indices 0..65535
inline constexpr std::size_t kMaxLocals = kMaxU16 + 1;      // slots 0..65535
inline constexpr std::size_t kMaxUpvalues = 255 + 1;        // indices 0..255
inline constexpr std::size_t kMaxProtos = kMaxU16 + 1;      // indices 0..65535
inline constexpr std::size_t kMaxArguments = 255;           // u8 count
inline constexpr std::size_t kMaxLiteralItems = kMaxU16;    // u16 count

struct Local {
    std::string name;
    int32_t depth = 0;
    bool captured = false;
};

struct LoopInfo {
    int32_t depth = 0;     // scope depth just outside the body
    int32_t tryDepth = 0;  // protected try bodies open when the loop began
    std::vector<int32_t> breakJumps;
    std::vector<int32_t> continueJumps;
};

struct FunctionState {
    FunctionState* enclosing = nullptr;
    std::shared_ptr<FunctionProto> proto;
    std::vector<Local> locals;
    std::vector<UpvalueDesc> upvalues;
    int32_t scopeDepth = 0;
    std::vector<LoopInfo> loops;
    // Protected try bodies enclosing the current statement in this function;
    // break and continue emit one TRY_END for each one inside their loop.
    int32_t tryDepth = 0;
};

struct VarAccess {
    OpCode getOp = OpCode::GET_GLOBAL;
    OpCode setOp = OpCode::SET_GLOBAL;
    int32_t index = -1;      // slot or upvalue index
    int32_t nameConst = -1;  // constant index of a global's name
};

// Where an error is reported.
struct Pos {
    int32_t line = 0;
    int32_t column = 0;
};

class Compiler {
public:
    std::shared_ptr<FunctionProto> compileProgram(const Block& program);

private:
    // Emission.
    void emitByte(uint8_t byte, int32_t line);
    void emitOp(OpCode op, int32_t line) { emitByte(static_cast<uint8_t>(op), line); }
    void emitShort(OpCode op, std::size_t value, int32_t line);
    std::size_t makeConstant(Value value);
    void emitConstant(Value value, int32_t line);
    int32_t emitJump(OpCode op, int32_t line);
    void patchJump(int32_t position);
    void emitLoop(std::size_t loopStart, int32_t line);
    std::size_t codeSize() const;

    // Scopes and names.
    void beginScope();
    void endScope(int32_t line);
    std::size_t addLocal(const std::string& name, Pos pos);
    VarAccess resolve(const std::string& name, Pos pos);
    int32_t resolveLocal(const FunctionState& state, const std::string& name) const;
    int32_t resolveUpvalue(FunctionState& state, const std::string& name, Pos pos);
    int32_t addUpvalue(FunctionState& state, uint32_t index, bool isLocal, Pos pos);
    void emitGet(const VarAccess& access, int32_t line);
    void emitSet(const VarAccess& access, int32_t line);
    // Pops (or closes) the locals deeper than `depth` without forgetting them.
    void discardLocalsAbove(int32_t depth, int32_t line);

    // Functions.
    void compileFunction(const std::string& name, const std::vector<std::string>& params,
                         const Block& body, Pos pos);

    // Expressions.
    void compileExpression(const Expr& expr);
    // An operator or postfix chain (a left spine, see Ast.h), by a loop; the
    // two below emit one link each, after the code of its left child.
    void compileChain(const Expr& expr);
    void compileBinary(const BinaryExpr& expr);
    void compileCall(const CallExpr& expr);

    // Statements.
    void compileStatement(const Stmt& stmt);
    void compileBlock(const Block& block);
    void compileLet(const LetStmt& stmt);
    void compileAssign(const AssignStmt& stmt);
    void compileFunctionDecl(const FunctionDeclStmt& stmt);
    void compileIf(const IfStmt& stmt);
    // The body of a loop with its LoopInfo; continue jumps land after it.
    void compileLoopBody(const Block& body, int32_t line);
    // The back-edge, the exit and the break jumps of a loop.
    void finishLoop(std::size_t loopStart, int32_t exit, int32_t line);
    void compileWhile(const WhileStmt& stmt);
    void compileNumericFor(const NumericForStmt& stmt);
    void compileForIn(const ForInStmt& stmt);
    void compileBreakOrContinue(const Stmt& stmt, bool isBreak);
    void compileTry(const TryStmt& stmt);

    void patchJumpList(const std::vector<int32_t>& jumps);
    void guardDepth(Pos pos);

    FunctionState* current_ = nullptr;
    // Every string constant of the program, by its bytes: equal constants in
    // any function share one string object, so that a field name used in
    // several functions compares by identity in map lookups.
    std::unordered_map<std::string_view, Value> strings_;
};

// The one way compile errors leave the compiler.
[[noreturn]] void compileError(const std::string& message, int32_t line, int32_t column);

}  // namespace ferrow::compiler_detail
