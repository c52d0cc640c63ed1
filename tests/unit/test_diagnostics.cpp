#include <gtest/gtest.h>

#include "driver/Diagnostics.h"

namespace ferrow {
namespace {

TEST(Diagnostics, LineZeroGivesOnlyKindAndMessage) {
    const RuntimeError error("len: expected a string, list or map, got nil", 0, 0);
    EXPECT_EQ(formatError(error, "print(len(nil))\n", "prog.frw"),
              "RuntimeError: len: expected a string, list or map, got nil");
}

TEST(Diagnostics, FourLineLayoutWithCaretUnderColumn) {
    std::string source;
    for (int i = 1; i <= 11; ++i) source += "let a" + std::to_string(i) + " = 1\n";
    source += "let y = x + 1\n";
    const RuntimeError error("undefined variable 'x'", 12, 5);
    EXPECT_EQ(formatError(error, source, "prog.ferrow"),
              "RuntimeError: undefined variable 'x'\n"
              "  --> prog.ferrow:12:5\n"
              "12 | let y = x + 1\n"
              "         ^");
}

TEST(Diagnostics, UnterminatedStringPointsAtOpeningQuote) {
    const LexError error("unterminated string literal", 3, 9);
    EXPECT_EQ(formatError(error, "let a = 1\nlet b = 2\nlet s = \"abc\n", "s.frw"),
              "SyntaxError (lexing): unterminated string literal\n"
              "  --> s.frw:3:9\n"
              "3 | let s = \"abc\n"
              "            ^");
}

TEST(Diagnostics, EmptySourceGivesTwoLines) {
    const RuntimeError error("boom", 4, 2);
    EXPECT_EQ(formatError(error, "", "<repl>"), "RuntimeError: boom\n  --> <repl>:4:2");
}

TEST(Diagnostics, LinePastTheEndGivesTwoLines) {
    const ParseError error("expected expression", 5, 1);
    EXPECT_EQ(formatError(error, "a\nb\n", "<-c>"),
              "SyntaxError: expected expression\n  --> <-c>:5:1");
}

TEST(Diagnostics, TextAfterTheLastLineFeedIsALine) {
    // "a\nb\n" has three lines, the last one empty.
    const ParseError error("unexpected end", 3, 1);
    EXPECT_EQ(formatError(error, "a\nb\n", "f"),
              "SyntaxError: unexpected end\n  --> f:3:1\n3 | \n    ^");
}

TEST(Diagnostics, CarriageReturnsAreDroppedFromTheExcerpt) {
    const RuntimeError error("bad", 2, 3);
    EXPECT_EQ(formatError(error, "x = 1\r\ny\r = 2\r\n", "crlf.frw"),
              "RuntimeError: bad\n  --> crlf.frw:2:3\n2 | y = 2\n      ^");
}

TEST(Diagnostics, ColumnZeroPutsCaretUnderFirstByte) {
    const RuntimeError error("cannot add", 1, 0);
    EXPECT_EQ(formatError(error, "print(1 + nil)", "v.frw"),
              "RuntimeError: cannot add\n  --> v.frw:1:0\n1 | print(1 + nil)\n    ^");
}

TEST(Diagnostics, ByteOrderMarkStaysInTheExcerpt) {
    const LexError error("unexpected character ';'", 1, 2);
    EXPECT_EQ(formatError(error, "\xEF\xBB\xBFx;", "bom.frw"),
              "SyntaxError (lexing): unexpected character ';'\n"
              "  --> bom.frw:1:2\n"
              "1 | \xEF\xBB\xBFx;\n"
              "     ^");
}

TEST(Diagnostics, CompileErrorKindIsPrintedAsIs) {
    const FerrowError error(kCompileErrorKind, "too many constants in one function", 0, 0);
    EXPECT_EQ(formatError(error, "x", "big.frw"),
              "CompileError: too many constants in one function");
}

TEST(Diagnostics, GutterWidthFollowsTheLineNumber) {
    std::string source;
    for (int i = 0; i < 99; ++i) source += "\n";
    source += "oops";
    const ParseError error("bad", 100, 2);
    EXPECT_EQ(formatError(error, source, "f"), "SyntaxError: bad\n  --> f:100:2\n100 | oops\n       ^");
}

}  // namespace
}  // namespace ferrow
