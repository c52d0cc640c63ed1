#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "value/Errors.h"
#include "front/Lexer.h"

using namespace ferrow;

namespace {

const char* kindLabel(TokenKind kind) {
    static const char* const labels[] = {
        "Number", "String", "InterpString", "Name", "LParen", "RParen", "LBracket", "RBracket",
        "LBrace", "RBrace", "Comma", "Colon", "Dot", "Plus", "Minus", "Star", "Slash", "SlashSlash",
        "Percent", "Caret", "Assign", "Equal", "NotEqual", "Less", "LessEqual", "Greater",
        "GreaterEqual", "PlusAssign", "MinusAssign", "StarAssign", "SlashAssign",
        "SlashSlashAssign", "PercentAssign", "CaretAssign", "Let", "Function", "Return", "If",
        "Then", "Elif", "Else", "While", "For", "In", "Do", "End", "Break", "Continue", "And",
        "Or", "Not", "True", "False", "Nil", "Try", "Catch", "Newline", "Eof"};
    return labels[static_cast<size_t>(kind)];
}

// "Kind@line:col" for every token, space separated.
std::string positions(const std::string& source) {
    std::string out;
    for (const Token& t : tokenize(source)) {
        if (!out.empty()) out += ' ';
        out += std::string(kindLabel(t.kind)) + "@" + std::to_string(t.line) + ":" +
               std::to_string(t.column);
    }
    return out;
}

// "Kind" or "Kind(text)" for every token but the final Eof.
std::string kinds(const std::string& source) {
    std::string out;
    std::vector<Token> tokens = tokenize(source);
    for (size_t i = 0; i + 1 < tokens.size(); ++i) {
        if (!out.empty()) out += ' ';
        out += kindLabel(tokens[i].kind);
        if (tokens[i].kind != TokenKind::Newline) out += "(" + tokens[i].text + ")";
    }
    return out;
}

Token only(const std::string& source) {
    std::vector<Token> tokens = tokenize(source);
    EXPECT_EQ(tokens.size(), 2u) << source;
    return tokens.front();
}

struct Failure {
    std::string kind;
    std::string message;
    int line = -1;
    int column = -1;
};

Failure lexFailure(const std::string& source) {
    try {
        tokenize(source);
    } catch (const LexError& e) {
        return {e.kind, e.message, e.line, e.column};
    }
    ADD_FAILURE() << "no LexError for: " << source;
    return {};
}

void expectLexError(const std::string& source, const std::string& message, int line, int column) {
    Failure f = lexFailure(source);
    EXPECT_EQ(f.kind, "SyntaxError (lexing)") << source;
    EXPECT_EQ(f.message, message) << source;
    EXPECT_EQ(f.line, line) << source;
    EXPECT_EQ(f.column, column) << source;
}

}  // namespace

// ---------------------------------------------------------------------------
// Positions

TEST(Lexer, NewlineAndEofTakeTheLastRealTokensStart) {
    EXPECT_EQ(positions("x = 1\n"), "Name@1:1 Assign@1:3 Number@1:5 Newline@1:5 Eof@1:5");
}

TEST(Lexer, CommentsAndBlankLinesGiveNewlinesAtOneOne) {
    EXPECT_EQ(positions("# one\n\n   # two\n\n"), "Newline@1:1 Newline@1:1 Newline@1:1 Newline@1:1 Eof@1:1");
}

TEST(Lexer, BlankLinesAfterCodePointBackAtTheLastToken) {
    EXPECT_EQ(positions("a\n  bc\n\n# c\n"),
              "Name@1:1 Newline@1:1 Name@2:3 Newline@2:3 Newline@2:3 Newline@2:3 Eof@2:3");
}

TEST(Lexer, CarriageReturnIsSkippedButCountsAsAColumn) {
    EXPECT_EQ(positions("a\r\nb\r\n"), "Name@1:1 Newline@1:1 Name@2:1 Newline@2:1 Eof@2:1");
    EXPECT_EQ(positions("\rx"), "Name@1:2 Eof@1:2");
}

TEST(Lexer, TabIsOneColumn) {
    EXPECT_EQ(positions("\t\tx"), "Name@1:3 Eof@1:3");
}

TEST(Lexer, ColumnsCountBytesOfMultiByteCharacters) {
    // The e-acute is two bytes.
    EXPECT_EQ(positions("'\xC3\xA9' x"), "String@1:1 Name@1:6 Eof@1:6");
}

TEST(Lexer, StringTokenStandsAtItsOpeningQuote) {
    EXPECT_EQ(positions("  \"a b\" 'c'"), "String@1:3 String@1:9 Eof@1:9");
}

TEST(Lexer, ByteOrderMarkIsDroppedBeforeCounting) {
    EXPECT_EQ(positions("\xEF\xBB\xBFx = 1"), "Name@1:1 Assign@1:3 Number@1:5 Eof@1:5");
    EXPECT_EQ(positions("\xEF\xBB\xBF"), "Eof@1:1");
}

TEST(Lexer, ByteOrderMarkElsewhereIsAnUnexpectedCharacter) {
    expectLexError("x\xEF\xBB\xBF", "unexpected character '\xEF'", 1, 2);
    // Only the complete three-byte mark is dropped.
    expectLexError("\xEF\xBB", "unexpected character '\xEF'", 1, 1);
}

// ---------------------------------------------------------------------------
// Kinds and spellings

TEST(Lexer, EveryOperatorTakesItsLongestSpelling) {
    EXPECT_EQ(kinds("( ) [ ] { } , : ."),
              "LParen(() RParen()) LBracket([) RBracket(]) LBrace({) RBrace(}) Comma(,) Colon(:) Dot(.)");
    EXPECT_EQ(kinds("+ - * / // % ^"),
              "Plus(+) Minus(-) Star(*) Slash(/) SlashSlash(//) Percent(%) Caret(^)");
    EXPECT_EQ(kinds("= == != < <= > >="),
              "Assign(=) Equal(==) NotEqual(!=) Less(<) LessEqual(<=) Greater(>) GreaterEqual(>=)");
    EXPECT_EQ(kinds("+= -= *= /= //= %= ^="),
              "PlusAssign(+=) MinusAssign(-=) StarAssign(*=) SlashAssign(/=) "
              "SlashSlashAssign(//=) PercentAssign(%=) CaretAssign(^=)");
}

TEST(Lexer, OperatorsNeedNoSpaces) {
    EXPECT_EQ(kinds("a//=b==c"), "Name(a) SlashSlashAssign(//=) Name(b) Equal(==) Name(c)");
    EXPECT_EQ(kinds("===/=="), "Equal(==) Assign(=) SlashAssign(/=) Assign(=)");
    EXPECT_EQ(kinds("a!=b"), "Name(a) NotEqual(!=) Name(b)");
}

// ---------------------------------------------------------------------------
// Numbers

TEST(Lexer, FractionOrExponentMakesAFloat) {
    Token a = only("2.50");
    EXPECT_EQ(a.number, 2.5);
    EXPECT_FALSE(a.isInteger);
    Token b = only("1e3");
    EXPECT_EQ(b.number, 1000);
    EXPECT_FALSE(b.isInteger);
    Token c = only("2E+5");
    EXPECT_EQ(c.number, 200000);
    EXPECT_EQ(c.text, "2E+5");
    Token d = only("25e-1");
    EXPECT_EQ(d.number, 2.5);
}

TEST(Lexer, IntegerTokenKeepsItsSpellingBesideTheNearestDouble) {
    // The parser reads integer literals from the spelling; the token's
    // number is the double nearest to it, as for every number.
    Token a = only("9007199254740993");
    EXPECT_EQ(a.text, "9007199254740993");
    EXPECT_EQ(a.number, 9007199254740992.0);
    EXPECT_TRUE(a.isInteger);
    Token b = only("18446744073709551616");
    EXPECT_EQ(b.text, "18446744073709551616");
    EXPECT_EQ(b.number, 18446744073709551616.0);
    EXPECT_TRUE(b.isInteger);
}

TEST(Lexer, DotWithoutDigitIsNotPartOfTheNumber) {
    EXPECT_EQ(kinds("5."), "Number(5) Dot(.)");
    EXPECT_EQ(kinds("1..2"), "Number(1) Dot(.) Number(.2)");
    EXPECT_EQ(kinds("x.y"), "Name(x) Dot(.) Name(y)");
}

TEST(Lexer, ExponentWithoutDigitsFailsAtTheNumbersStart) {
    expectLexError("2e", "malformed number: exponent has no digits", 1, 1);
    expectLexError("2e+", "malformed number: exponent has no digits", 1, 1);
    expectLexError("x = 12.5E-y", "malformed number: exponent has no digits", 1, 5);
}

// ---------------------------------------------------------------------------
// Character errors

TEST(Lexer, LoneBangSuggestsNot) {
    expectLexError("a!b", "'!' must be followed by '=' (did you mean 'not'?)", 1, 2);
    expectLexError("x\n  !", "'!' must be followed by '=' (did you mean 'not'?)", 2, 3);
    expectLexError("a ! = b", "'!' must be followed by '=' (did you mean 'not'?)", 1, 3);
}

TEST(Lexer, UnexpectedCharacterNamesTheRawByte) {
    expectLexError("a;b", "unexpected character ';'", 1, 2);
    for (char c : std::string("&|?@~`\\$")) {
        expectLexError(std::string("x ") + c, std::string("unexpected character '") + c + "'", 1, 3);
    }
}

TEST(Lexer, NulByteIsUnexpected) {
    expectLexError(std::string("a \0", 3), std::string("unexpected character '\0'", 24), 1, 3);
}

TEST(Lexer, NonAsciiOutsideStringsIsRejectedAtItsFirstByte) {
    expectLexError("x = \xC3\xA9", "unexpected character '\xC3'", 1, 5);
}

// ---------------------------------------------------------------------------
// Strings

TEST(Lexer, EscapesAreDecoded) {
    Token t = only(R"("a\nb\tc\rd\\e\"f\'g\$h")");
    EXPECT_EQ(t.kind, TokenKind::String);
    EXPECT_EQ(t.text, "a\nb\tc\rd\\e\"f'g$h");
    EXPECT_EQ(only(R"('\0')").text, std::string("\0", 1));
}

TEST(Lexer, UnknownEscapeIsReportedJustAfterTheEscapedByte) {
    expectLexError(R"(x = "a\qb")", "unknown escape sequence '\\q'", 1, 9);
    expectLexError(R"('\x41')", "unknown escape sequence '\\x'", 1, 4);
}

TEST(Lexer, UnterminatedStringPointsAtOpeningQuote) {
    expectLexError("x = \"abc", "unterminated string literal", 1, 5);
    expectLexError("y\n  'abc\nz'", "unterminated string literal", 2, 3);
    expectLexError("\"abc\\", "unterminated string literal", 1, 1);
}

TEST(Lexer, NulByteInsideAStringEndsIt) {
    expectLexError(std::string("  \"ab\0\"", 7), "unterminated string literal", 1, 3);
}

TEST(Lexer, StringsNeverSpanLinesEvenWhenEscapedLater) {
    expectLexError("\"ab\n\"", "unterminated string literal", 1, 1);
}

// ---------------------------------------------------------------------------
// Interpolation

TEST(Lexer, InterpolationKeepsNestedBracesAndBrackets) {
    Token t = only(R"("a${ {k: 1}["k"] }b")");
    ASSERT_EQ(t.parts.size(), 3u);
    EXPECT_FALSE(t.parts[0].isExpr);
    EXPECT_EQ(t.parts[0].text, "a");
    EXPECT_TRUE(t.parts[1].isExpr);
    EXPECT_EQ(t.parts[1].text, R"( {k: 1}["k"] )");
    EXPECT_FALSE(t.parts[2].isExpr);
    EXPECT_EQ(t.parts[2].text, "b");
}

TEST(Lexer, BraceInsideANestedStringDoesNotCloseTheInterpolation) {
    Token t = only(R"("<${"}" + '{'}>")");
    ASSERT_EQ(t.parts.size(), 3u);
    EXPECT_EQ(t.parts[1].text, R"("}" + '{')");
    EXPECT_EQ(t.parts[2].text, ">");
}

TEST(Lexer, EscapedQuoteInsideANestedStringIsKeptRaw) {
    Token t = only(R"("${"a\"}" + b}")");
    ASSERT_EQ(t.parts.size(), 1u);
    EXPECT_EQ(t.parts[0].text, R"("a\"}" + b)");
}

TEST(Lexer, LiteralPartsAreDecodedAndNeverEmpty) {
    Token t = only(R"("${a}${b}\t${}")");
    ASSERT_EQ(t.parts.size(), 4u);
    EXPECT_TRUE(t.parts[0].isExpr);
    EXPECT_TRUE(t.parts[1].isExpr);
    EXPECT_FALSE(t.parts[2].isExpr);
    EXPECT_EQ(t.parts[2].text, "\t");
    EXPECT_TRUE(t.parts[3].isExpr);
    EXPECT_EQ(t.parts[3].text, "");
}

TEST(Lexer, ExpressionPartsRecordWhereTheyStart) {
    std::vector<Token> tokens = tokenize("x\n  s = \"ab${y}c${ z }\"");
    const Token& t = tokens[4];
    ASSERT_EQ(t.kind, TokenKind::InterpString);
    EXPECT_EQ(t.line, 2u);
    EXPECT_EQ(t.column, 7u);
    ASSERT_EQ(t.parts.size(), 4u);
    EXPECT_EQ(t.parts[1].line, 2u);
    EXPECT_EQ(t.parts[1].column, 12u);
    EXPECT_EQ(t.parts[3].line, 2u);
    EXPECT_EQ(t.parts[3].column, 17u);
}

TEST(Lexer, UnterminatedInterpolationPointsAtTheEnclosingQuote) {
    expectLexError("x = \"a${y", "unterminated ${...} in string", 1, 5);
    expectLexError("x = \"a${y\n}\"", "unterminated ${...} in string", 1, 5);
    expectLexError(std::string("\"${\0}\"", 6), "unterminated ${...} in string", 1, 1);
    expectLexError("\"${ {1: 2}", "unterminated ${...} in string", 1, 1);
}

TEST(Lexer, NestedStringInAnInterpolationMayCrossALineHere) {
    // The piece's own tokenizing rejects the line feed later; the lexer only
    // keeps counting lines through it.
    std::vector<Token> tokens = tokenize("\"${'a\nb'}\" z");
    ASSERT_EQ(tokens.size(), 3u);
    EXPECT_EQ(tokens[0].kind, TokenKind::InterpString);
    EXPECT_EQ(tokens[0].parts[0].text, "'a\nb'");
    EXPECT_EQ(tokens[1].kind, TokenKind::Name);
    EXPECT_EQ(tokens[1].line, 2u);
    EXPECT_EQ(tokens[1].column, 6u);
}
