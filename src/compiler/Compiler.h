#pragma once

#include <memory>

#include "compiler/FunctionProto.h"
#include "front/Ast.h"

namespace ferrow {

// Compiles a program into its top-level prototype "<script>". Throws a
// FerrowError of kind "CompileError" on the first error.
std::shared_ptr<FunctionProto> compile(const Block& program);

}  // namespace ferrow
