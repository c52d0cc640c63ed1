// The front end: lexer, parser and its nesting limit, the driver's pragmas and error excerpts.

#include "driver/Diagnostics.h"
#include "driver/Pragmas.h"
#include "unit_support.h"

using namespace ferrow;
using namespace ferrow::test;

namespace {

std::string pos(uint32_t line, uint32_t col) { return std::to_string(line) + ":" + std::to_string(col); }

std::string failure(const std::string& source) {  // "message @line:column" of a syntax error, "lex: ..." if lexing
    try { parse(tokenize(source)); } catch (const FerrowError& e) {
        return (e.kind == "SyntaxError (lexing)" ? "lex: " : "") + e.message + " @" + pos(e.line, e.column);
    }
    return "parsed";
}

}  // namespace

TEST(Lexer, PositionsAndSpellings) {
    const std::pair<std::string, std::string> rows[] = {
        {"# one\n\n   # two\n\n", "\\n@1:1 \\n@1:1 \\n@1:1 \\n@1:1 @1:1"}, {"\xEF\xBB\xBF", "@1:1"},
        {"a\r\nb\r\n", "a@1:1 \\n@1:1 b@2:1 \\n@2:1 @2:1"}, {"\rx", "x@1:2 @1:2"},  // CR is a column
        {"===/==", "==@1:1 =@1:3 /=@1:4 =@1:6 @1:6"}, {"5. 1..2", "5@1:1 .@1:2 1@1:4 .@1:5 .2@1:6 @1:6"},
        {"a//=b==c !=d", "a@1:1 //=@1:2 b@1:5 ==@1:6 c@1:8 !=@1:10 d@1:12 @1:12"},
        {"\"${'a\nb'}\" z", "@1:1 z@2:6 @2:6"},  // the piece's own tokenizing rejects the line feed
    };
    for (const auto& [source, expected] : rows) {
        std::string out;
        for (const Token& t : tokenize(source)) out += " " + t.text + "@" + pos(t.line, t.column);
        EXPECT_EQ(out.substr(1), expected) << source;
    }
}

TEST(Parser, ErrorMessagesAndPositions) {
    const std::string nul(1, '\0'), ch = "lex: unexpected character '", str = "lex: unterminated string literal @",
                      piece = "lex: unterminated ${...} in string @", let = "expected '=' in let declaration, got ",
                      stmt = "expected end of statement, got '", expr = "in expression @";
    const std::pair<std::string, std::string> rows[] = {
        {"x\xEF\xBB\xBF", ch + "\xEF' @1:2"}, {"x = \xC3\xA9", ch + "\xC3' @1:5"}, {"a " + nul, ch + nul + "' @1:3"},
        {"\xEF\xBB", ch + "\xEF' @1:1"},  // only a whole mark is dropped
        {"x = 12.5E-y", "lex: malformed number: exponent has no digits @1:5"},
        {"x\n  ! = b", "lex: '!' must be followed by '=' (did you mean 'not'?) @2:3"},
        {R"('\x41')", "lex: unknown escape sequence '\\x' @1:4"}, {"\"abc\\", str + "1:1"},
        {"y\n  'abc\nz'", str + "2:3"}, {"  \"ab" + nul + "\"", str + "1:3"}, {"x = \"a${y", piece + "1:5"},
        {"x = \"a${y\n}\"", piece + "1:5"}, {"\"${" + nul + "}\"", piece + "1:1"},
        {"let x\n", let + "end of line @1:5"}, {"let x += 1", let + "'+=' @1:7"},
        {"function f(a,) end", "expected a parameter name, got ')' @1:14"},
        {"let g = function() x", "expected 'end' to close function, got end of file @1:20"},
        {"if a then else b elif c then end", "expected 'end' to close if, got 'elif' @1:18"},
        {"if x then y end z", stmt + "z' @1:17"}, {"a = b = c", stmt + "=' @1:7"}, {"x \"${y}\"", stmt + "' @1:3"},
        {"for i = 1, 2, 3, 4 do end", "expected 'do' after numeric-for header, got ',' @1:16"},
        {"f() += 1", "invalid assignment target @1:5"}, {"print(x = 1)", "expected ')' after arguments, got '=' @1:9"},
        {"{-1: 2}", "unexpected '-' " + expr + "1:2"},  // a map key is a primary
        {"{a + 1: 2}", "expected ':' between map key and value, got '+' @1:4"},
        {"[,]", "unexpected ',' " + expr + "1:2"}, {"f(1, 2,)", "unexpected ')' " + expr + "1:8"},
        {"a[]", "unexpected ']' " + expr + "1:3"}, {"x = then", "unexpected 'then' " + expr + "1:5"},
        {"f(1,\n2)", "unexpected end of line " + expr + "1:4"},  // outside brackets
        {"(1\n)", "expected ')' to close grouping, got end of line @1:2"},
        // Errors inside interpolation pieces stand where they are in the source.
        {"x = 1\n  s = \"v: ${a b}\"", "unexpected 'b' in ${...} interpolation @2:7"},
        {"\"${a)}\"", "unexpected ')' in ${...} interpolation @1:1"},
        {"x\nlet s = \"ab${}\"", "unexpected end of file " + expr + "2:14"},
        {"let s = \"${f(1,)}\"", "unexpected ')' " + expr + "1:16"}, {"x\n  print(\"n = ${n ; 1}\")", ch + ";' @2:18"},
        {"\"${\xEF\xBB\xBF;}\"", ch + ";' @1:7"},  // a mark opening a piece counts
        {"s = \"${'a\nb'}\"", str + "1:8"}, {"s = \"${x # 'c\n' + 1}\"", str + "2:1"},  // the comment hides a quote
    };
    for (const auto& [source, expected] : rows) EXPECT_EQ(failure(source), expected) << source;
    for (char c : std::string("&|?@~`\\$")) EXPECT_EQ(failure(std::string("x ") + c), ch + c + "' @1:3");
}

TEST(Parser, ShapesSeenByRunning) {
    const std::pair<const char*, const char*> rows[] = {
        {"function (a) print(a) end(\"anon\")\n", "anon\n"},
        {"function f(x)\n  if x == 1 then return elif x == 2 then return else return end\nend\n"
         "function g()\n  try return catch e return end\nend\nprint(f(1), f(2), f(3), g())\n", "nil nil nil nil\n"},
        {"let a = {b: {}}\na.b.c = 3\nprint(a)\nif a then\n  print(1)\n  print(2)\nelif 2 then\n"
         "elif 3 then print(3)\nend\n", "{\"b\": {\"c\": 3}}\n1\n2\n"},
    };
    for (const auto& [source, expected] : rows)
        for (Engine engine : {Engine::Tree, Engine::VM}) EXPECT_EQ(run(engine, source), expected) << source;
}

TEST(Parser, NestingLimit) {
    const std::size_t n = 100000;
    const std::string ok = "parsed", deep = "too deeply nested (more than 200 levels) @";
    auto in = [](const char* o, int k, const std::string& x, const char* c) { return repeat(o, k) + x + repeat(c, k); };
    const std::pair<std::string, std::string> rows[] = {
        // Left-associative operators, postfix operators and interpolated pieces are chains: no nesting.
        {"x" + repeat(" + 1", n), ok}, {"'a'" + repeat(" + b + 'c'", n), ok}, {"x" + repeat(" - 1 * 2", n), ok},
        {"a" + repeat(" or b and c", n), ok}, {"f" + repeat("(1)", n), ok}, {"m" + repeat(".f(1)[0]", n), ok},
        {'"' + repeat("${x}-", n) + '"', ok},
        // Trees up to the limit are accepted, one level more is not.
        {in("[", 199, "", "]"), ok}, {in("[", 200, "", "]"), deep + "1:200"}, {repeat("-", 198) + "x", ok},
        {repeat("-", 199) + "x", deep + "1:200"}, {"x" + repeat(" ^ 2", 198), ok},
        {"x" + repeat(" ^ 2", 199), deep + "1:797"}, {repeat("not ", n) + "x", deep + "1:797"},
        {in("\"${", 250, "x", "}\""), deep + "1:598"}, {in("{a: ", 10000, "1", "}"), deep + "1:794"},
        {"f" + in("(g", 10000, "", ")"), deep + "1:399"}, {"m" + in("[m", 10000, "", "]"), deep + "1:399"},
        {in("if x then\n", 10000, "", "end\n"), deep + "200:4"},
        {in("while x do ", 10000, "", "end "), deep + "1:2196"},
        {in("function f()\n", 10000, "", "end\n"), deep + "201:1"},
        // A chain adds one level for its operands wherever it stands.
        {in("[", 197, "x" + repeat(" + 1", n), "]"), ok}, {in("[", 198, "x + 1", "]"), deep + "1:203"},
        {"x = " + in("(", 197, "1" + repeat(" + 1", 1000), ")"), ok},
        {"x = " + in("(", 198, "1" + repeat(" + 1", 1000), ")"), deep + "1:207"},
        {in("[", 196, "\"${x + y}\"", "]"), ok}, {in("[", 196, "\"a${x + y}\"", "]"), deep + "1:205"},
        {in("[", 197, "\"a${x}\"", "]"), deep + "1:202"}, {in("{a: ", 98, "{[x + y]: 1}", "}"), ok},
        {in("[", 198, "\"a${x}\"", "]"), deep + "1:199"},  // a piece past the limit: at the string
    };
    for (const auto& [source, expected] : rows) EXPECT_EQ(failure(source), expected) << source.substr(0, 60);
}

TEST(Pragmas, HeaderScanAndVersions) {
    const struct { const char* source; bool watch; const char* version; std::string unknown; } rows[] = {
        {"#pragma Watch\n", false, "", "Watch||1:0 "}, {"#pragma\twatch\n", true, "", ""},
        {"\xEF\xBB\xBF#pragma watch\n", true, "", ""}, {"#pragma version 9\n#pragma version 0.1\n", false, "0.1", ""},
        {"#pragma optimize  fast  please \n#pragma\n#pragma\r\n", false, "", "optimize|fast  please|1:0 ||2:0 ||3:0 "},
    };
    for (const auto& row : rows) {
        const Pragmas p = scanPragmas(row.source);
        std::string unknown;
        for (const PragmaLine& u : p.unknown) unknown += u.name + "|" + u.args + "|" + pos(u.line, 0) + " ";
        EXPECT_EQ(p.watch, row.watch) << row.source;
        EXPECT_EQ(p.version, row.version) << row.source;
        EXPECT_EQ(unknown, row.unknown) << row.source;
    }
    // Missing pieces count as 0, pieces are read leniently, huge ones do not overflow, a trailing dot adds none.
    const std::pair<const char*, bool> versions[] = {
        {"0.5", true}, {"0.5.0.0", true}, {"0.4", true}, {"0.4.99", true}, {"0.5.1", false}, {"1", false},
        {"0.5.0.1", false}, {"ver1", true}, {"ver1.9", false}, {" 0.5", true}, {"0.5rc2", true}, {"0.-3", true},
        {"0.+6", false}, {"0..0", true}, {"0.5.", true}, {"", true}, {"99999999999999999999999999", false},
        {"-99999999999999999999999999", true},
    };
    for (const auto& [version, met] : versions) EXPECT_EQ(versionAtLeast("0.5.0", version), met) << version;
    EXPECT_TRUE(versionAtLeast("0.5", "0.5."));
}

TEST(Diagnostics, ExcerptEdgeCases) {  // after "CompileError: boom\n  --> f:LINE:COLUMN"
    const struct { int32_t line, column; const char* source; const char* rest; } rows[] = {
        {4, 2, "", ""}, {5, 1, "a\nb\n", ""},  // no such line
        {3, 1, "a\nb\n", "\n3 | \n    ^"},  // after the last line feed
        {2, 3, "x = 1\r\ny\r = 2\r\n", "\n2 | y = 2\n      ^"},  // without carriage returns
        {1, 2, "\xEF\xBB\xBFx;", "\n1 | \xEF\xBB\xBFx;\n     ^"},  // the mark stays
    };
    for (const auto& r : rows) {
        EXPECT_EQ(formatError(FerrowError(kCompileErrorKind, "boom", r.line, r.column), r.source, "f"),
                  "CompileError: boom\n  --> f:" + pos(r.line, r.column) + r.rest);
    }
}
