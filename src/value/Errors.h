#pragma once
// The error family of the language. Every failure that stops a program is a
// FerrowError (or one of its subclasses); the driver renders it with
// formatError. This header has no dependencies so every layer may use it.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace ferrow {

class FerrowError : public std::runtime_error {
public:
    FerrowError(std::string kind, std::string message, int32_t line, int32_t column)
        : std::runtime_error(message), kind(std::move(kind)), message(std::move(message)),
          line(line), column(column) {}

    std::string kind;     // label printed before the message, e.g. "SyntaxError"
    std::string message;  // the message alone; what() returns the same text
    int32_t line;         // 1-based; 0 when no position is known
    int32_t column;       // 1-based byte column; 0 when only the line is known
};

class LexError : public FerrowError {
public:
    LexError(std::string message, int32_t line, int32_t column)
        : FerrowError("SyntaxError (lexing)", std::move(message), line, column) {}
};

class ParseError : public FerrowError {
public:
    ParseError(std::string message, int32_t line, int32_t column)
        : FerrowError("SyntaxError", std::move(message), line, column) {}
};

class RuntimeError : public FerrowError {
public:
    RuntimeError(std::string message, int32_t line, int32_t column)
        : FerrowError("RuntimeError", std::move(message), line, column) {}
};

// Raised by the native exit to end the whole run with a status (0 to 255).
// It is neither a FerrowError nor a std::exception, so no script's try and
// none of the handlers that report failures take it on the way out; the run
// procedures that started the engine do. Ending by unwinding rather than by
// ending the process lets an embedding host and the fuzz targets run
// scripts that call exit.
struct ExitRequest {
    int status;
};

// Compile errors have no class of their own: they are plain FerrowErrors
// with this kind label.
inline constexpr const char* kCompileErrorKind = "CompileError";

}  // namespace ferrow
