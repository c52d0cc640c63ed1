#pragma once
// The syntax tree. Every node records a numeric kind and its position; the
// engines switch on the kind and cast, so the only virtual member is the
// destructor. Children are owned through unique_ptr.
//
// The parser bounds how deeply constructs nest, but not the length of a
// chain such as `a + b + c + ...` or `f(1)(2)(3)...`, which hangs its links
// one below the other along the left spine (see leftSpineChild below). Code
// that walks the tree recurses into the other children and follows a long
// left spine with a loop; the destructors of the chain nodes do the same.

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

// Frees the chain hanging from `head` one link at a time, leaving it null.
inline void releaseLeftSpine(ExprPtr& head);

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
    ~BinaryExpr() override { releaseLeftSpine(left); }
    std::string op;  // "+", "-", ..., "==", "<", "and", "or"
    ExprPtr left;
    ExprPtr right;
};

struct CallExpr : Expr {
    CallExpr() : Expr(ExprKind::Call) {}
    ~CallExpr() override { releaseLeftSpine(callee); }
    ExprPtr callee;
    std::vector<ExprPtr> args;
};

struct IndexExpr : Expr {
    IndexExpr() : Expr(ExprKind::Index) {}
    ~IndexExpr() override { releaseLeftSpine(object); }
    ExprPtr object;
    ExprPtr index;
};

struct GetExpr : Expr {
    GetExpr() : Expr(ExprKind::Get) {}
    ~GetExpr() override { releaseLeftSpine(object); }
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

// The child through which a chain continues: the left operand of a binary
// operator, the callee of a call, the object of an index or a field read;
// null for every other kind of node. An expression's left spine is the
// path that repeatedly takes this child. Evaluating a link needs the value
// of this child first, so walkers descend the spine, handle the innermost
// operand, and then the links from the inside out.
inline ExprPtr* leftSpineSlot(Expr& e) {
    switch (e.kind) {
    case ExprKind::Binary: return &static_cast<BinaryExpr&>(e).left;
    case ExprKind::Call: return &static_cast<CallExpr&>(e).callee;
    case ExprKind::Index: return &static_cast<IndexExpr&>(e).object;
    case ExprKind::Get: return &static_cast<GetExpr&>(e).object;
    default: return nullptr;
    }
}

inline const Expr* leftSpineChild(const Expr& e) {
    switch (e.kind) {
    case ExprKind::Binary: return static_cast<const BinaryExpr&>(e).left.get();
    case ExprKind::Call: return static_cast<const CallExpr&>(e).callee.get();
    case ExprKind::Index: return static_cast<const IndexExpr&>(e).object.get();
    case ExprKind::Get: return static_cast<const GetExpr&>(e).object.get();
    default: return nullptr;
    }
}

inline void releaseLeftSpine(ExprPtr& head) {
    ExprPtr link = std::move(head);
    while (link) {
        ExprPtr* slot = leftSpineSlot(*link);
        ExprPtr next = slot ? std::move(*slot) : nullptr;
        // Frees the link, whose own spine child has just been taken away.
        link = std::move(next);
    }
}

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
