#pragma once
// The syntax tree. Every node records a numeric kind and its position; the
// engines switch on the kind and cast, so the only virtual member is the
// destructor. Children are owned through unique_ptr.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "value/Value.h"

namespace ferrow {

enum class ExprKind : uint32_t {
    Literal, ListLit, MapLit, Name, Unary, Binary, Call, Index, Get, Function
};

enum class StmtKind : uint32_t {
    Let, Assign, Expr, If, While, NumericFor, ForIn, FunctionDecl, Return, Break, Continue, Try
};

struct Expr {
    explicit Expr(ExprKind k) : kind(k) {}
    virtual ~Expr() = default;
    ExprKind kind;
    int32_t line = 0;
    int32_t column = 0;
};

struct Stmt {
    explicit Stmt(StmtKind k) : kind(k) {}
    virtual ~Stmt() = default;
    StmtKind kind;
    int32_t line = 0;
    int32_t column = 0;
};

using ExprPtr = std::unique_ptr<Expr>;
using StmtPtr = std::unique_ptr<Stmt>;
using Block = std::vector<StmtPtr>;

struct LiteralExpr : Expr {
    LiteralExpr() : Expr(ExprKind::Literal) {}
    Value value;
};

struct ListLitExpr : Expr {
    ListLitExpr() : Expr(ExprKind::ListLit) {}
    std::vector<ExprPtr> elements;
};

struct MapLitExpr : Expr {
    MapLitExpr() : Expr(ExprKind::MapLit) {}
    std::vector<std::pair<ExprPtr, ExprPtr>> entries;
};

struct NameExpr : Expr {
    NameExpr() : Expr(ExprKind::Name) {}
    std::string name;
};

struct UnaryExpr : Expr {
    UnaryExpr() : Expr(ExprKind::Unary) {}
    std::string op;  // "-" or "not"
    ExprPtr operand;
};

struct BinaryExpr : Expr {
    BinaryExpr() : Expr(ExprKind::Binary) {}
    std::string op;  // "+", "-", ..., "==", "<", "and", "or"
    ExprPtr left;
    ExprPtr right;
};

struct CallExpr : Expr {
    CallExpr() : Expr(ExprKind::Call) {}
    ExprPtr callee;
    std::vector<ExprPtr> args;
};

struct IndexExpr : Expr {
    IndexExpr() : Expr(ExprKind::Index) {}
    ExprPtr object;
    ExprPtr index;
};

struct GetExpr : Expr {
    GetExpr() : Expr(ExprKind::Get) {}
    ExprPtr object;
    std::string name;
    Value key;  // the name as a string value, made once
};

struct FunctionExpr : Expr {
    FunctionExpr() : Expr(ExprKind::Function) {}
    std::string name = "<anonymous>";
    std::vector<std::string> params;
    Block body;
};

struct LetStmt : Stmt {
    LetStmt() : Stmt(StmtKind::Let) {}
    std::string name;
    ExprPtr init;
};

struct AssignStmt : Stmt {
    AssignStmt() : Stmt(StmtKind::Assign) {}
    ExprPtr target;  // NameExpr, IndexExpr or GetExpr
    ExprPtr value;
    std::string op;  // empty for "=", else the operator of the compound form
};

struct ExprStmt : Stmt {
    ExprStmt() : Stmt(StmtKind::Expr) {}
    ExprPtr expr;
};

struct IfBranch {
    ExprPtr cond;  // null for the else branch
    Block body;
};

struct IfStmt : Stmt {
    IfStmt() : Stmt(StmtKind::If) {}
    std::vector<IfBranch> branches;
};

struct WhileStmt : Stmt {
    WhileStmt() : Stmt(StmtKind::While) {}
    ExprPtr cond;
    Block body;
};

struct NumericForStmt : Stmt {
    NumericForStmt() : Stmt(StmtKind::NumericFor) {}
    std::string var;
    ExprPtr start;
    ExprPtr limit;
    ExprPtr step;  // null when omitted
    Block body;
};

struct ForInStmt : Stmt {
    ForInStmt() : Stmt(StmtKind::ForIn) {}
    std::string var;
    ExprPtr iterable;
    Block body;
};

struct FunctionDeclStmt : Stmt {
    FunctionDeclStmt() : Stmt(StmtKind::FunctionDecl) {}
    std::string name;
    std::vector<std::string> params;
    Block body;
};

struct ReturnStmt : Stmt {
    ReturnStmt() : Stmt(StmtKind::Return) {}
    ExprPtr value;  // null for a bare return
};

struct BreakStmt : Stmt {
    BreakStmt() : Stmt(StmtKind::Break) {}
};

struct ContinueStmt : Stmt {
    ContinueStmt() : Stmt(StmtKind::Continue) {}
};

struct TryStmt : Stmt {
    TryStmt() : Stmt(StmtKind::Try) {}
    Block body;
    std::string catchName;
    Block handler;
};

}  // namespace ferrow
