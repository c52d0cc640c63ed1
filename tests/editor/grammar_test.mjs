// Tokenizes Ferrow with editors/vscode-ferrow's TextMate grammar through VS Code's
// engine (vscode-textmate on oniguruma wasm). Usage: node grammar_test.mjs [repo root, default ../..]
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { fileURLToPath } from 'node:url';
import textmate from 'vscode-textmate';
import oniguruma from 'vscode-oniguruma';

const root = process.argv[2] ?? path.join(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
const grammarPath = path.join(root, 'editors/vscode-ferrow/syntaxes/ferrow.tmLanguage.json');
const wasm = fs.readFileSync(createRequire(import.meta.url).resolve('vscode-oniguruma/release/onig.wasm'));
await oniguruma.loadWASM(wasm.buffer.slice(wasm.byteOffset, wasm.byteOffset + wasm.byteLength));
const grammar = await new textmate.Registry({
  onigLib: Promise.resolve({ createOnigScanner: (p) => new oniguruma.OnigScanner(p), createOnigString: (s) => new oniguruma.OnigString(s) }),
  loadGrammar: async () => textmate.parseRawGrammar(fs.readFileSync(grammarPath, 'utf8'), grammarPath),
}).loadGrammar('source.ferrow');

// Tokens of a whole text as {start, end, scopes} with offsets into the text.
function tokenize(text) {
  let state = textmate.INITIAL, offset = 0, tokens = [];
  for (const line of text.split('\n')) {
    const r = grammar.tokenizeLine(line, state);
    if (r.stoppedEarly) throw new Error(`tokenizing stopped early in: ${line}`);
    for (const t of r.tokens) tokens.push({ start: offset + t.startIndex, end: offset + t.endIndex, scopes: t.scopes });
    state = r.ruleStack;
    offset += line.length + 1;
  }
  return { tokens, state };
}

let passed = 0, failed = 0;
const check = (ok, what) => (ok ? passed++ : (failed++, console.log(`FAIL ${what}`)));

// Every example tokenizes to the end with no invalid token and leaves nothing open: a name after it is plain.
const examples = fs.readdirSync(path.join(root, 'examples')).filter((f) => f.endsWith('.frw')).map((f) => `examples/${f}`);
check(examples.length > 0, 'examples/*.frw found');
for (const file of [...examples, 'examples/embed/config.ferrow']) {
  const { tokens, state } = tokenize(fs.readFileSync(path.join(root, file), 'utf8'));
  const bad = tokens.find((t) => t.scopes.some((s) => s.startsWith('invalid')));
  check(!bad, `${file}: no invalid token${bad ? ` (${bad.scopes.join(' ')} at ${bad.start})` : ''}`);
  const after = grammar.tokenizeLine('probe', state).tokens;
  check(after.length === 1 && after[0].scopes.join(' ') === 'source.ferrow variable.other.ferrow', `${file}: nothing left open at the end`);
}

// Tricky spots: a source, then per place the text to look at (first occurrence, or the n-th with "@n") and the
// scopes expected on its token, minus ".ferrow" ("!" for a scope that must be absent, "N*" for how often it appears).
const STR = 'string.quoted.double', EMB = 'meta.embedded.line', COMMENT = 'comment.line.number-sign', ESC = 'constant.character.escape';
const PRAGMA = 'meta.preprocessor.pragma', INTERP_END = 'punctuation.section.interpolation.end', ACCESSOR = 'punctuation.accessor';
const INT = 'constant.numeric.integer.decimal', FLOAT = 'constant.numeric.float.decimal', END = 'punctuation.definition.string.end';
const spots = [
  ['print("a # b")', ['#', STR, `!${COMMENT}`]],
  ['print("a ${ f("}") } # b")', ['}")', `2*${STR}`, EMB, `!${INTERP_END}`], ['} #', INTERP_END], ['# b', STR, `!${COMMENT}`]],
  ['print("a ${ {k: 1}["k"] } b")', ['} b', INTERP_END], ['k:', 'support.type.property-name']],
  ['"1 ${ "2 ${ "3 ${ x } 3" } 2" } 1"', ['x', `3*${EMB}`, `3*${STR}`, 'variable.other'], [' 3"', `3*${STR}`, `2*${EMB}`],
    [' 1"', `1*${STR}`, `!${EMB}`], ['"@6', END]],
  ['x = 1..2 + 5. + .5', ['1', INT], ['.', ACCESSOR], ['.2', FLOAT], ['5.', INT], ['. +', ACCESSOR]],
  ['x = 2e+ 1 + 2e', ['2e+', 'invalid.illegal.numeric'], ['2e@2', 'invalid.illegal.numeric']],
  ['x = 1.5e-3 + 2E10 + 0x1F', ['-3', FLOAT], ['2E10', FLOAT], ['0x', INT], ['x1F', 'variable.other']],
  ['s = "a\\tb\\"c\\${d} \\q"', ['\\t', ESC], ['\\"', ESC, `!${END}`], ['\\$', ESC], ['{d}', STR, `!${EMB}`],
    ['\\q', 'invalid.illegal.unknown-escape']],
  ["s = '${d} # x'", ['d', 'string.quoted.single', `!${EMB}`], ['#', `!${COMMENT}`]],
  ['a.len = a.end', ['len', 'variable.other.property', '!support.function.builtin'], ['end', 'keyword.control']],
  ['m = {len: 1, true: 2}', ['len', 'support.type.property-name'], ['true', 'constant.language.boolean']],
  ['print(len(x), nil)', ['len', 'support.function.builtin'], ['nil', 'constant.language.nil']],
  ['function greet(who) greet(who) end', ['greet', 'entity.name.function'], ['who', 'variable.parameter']],
  ['x //= 2 != 3 ! 4', ['//=', 'keyword.operator.assignment.compound'], ['!=', 'keyword.operator.comparison'], ['! ', 'invalid.illegal.character']],
  ['#pragma version 0.4\n# note\nlet x = 1\n#pragma watch', ['#pragma', PRAGMA, 'keyword.control.directive.pragma'], ['0.4', 'string.unquoted.pragma'],
    ['version', 'entity.other.attribute-name.pragma'], ['# note', COMMENT, `!${PRAGMA}`], ['watch', COMMENT, `!${PRAGMA}`]],
  ['#!/usr/bin/env ferrow\n  #pragma hotreload\n#pragmatic', ['hotreload', PRAGMA], ['pragmatic', COMMENT, `!${PRAGMA}`]],
];
for (const [text, ...places] of spots) {
  const { tokens } = tokenize(text);
  for (const [at, ...wants] of places) {
    const [needle, nth = 1] = at.split('@');
    const offset = Array.from({ length: Number(nth) }).reduce((o) => text.indexOf(needle, o + 1), -1);
    const scopes = tokens.find((t) => t.start <= offset && offset < t.end)?.scopes ?? [];
    for (const want of wants) {
      const [, not, count, scope] = want.match(/^(!)?(?:(\d+)\*)?(.*)$/);
      const n = scopes.filter((s) => s === `${scope}.ferrow`).length;
      const ok = offset >= 0 && (not ? n === 0 : count ? n === Number(count) : n > 0);
      check(ok, `${JSON.stringify(text)} at ${JSON.stringify(at)}: want ${want}, got ${scopes.join(' ')}`);
    }
  }
}

// The builtin names are exactly the natives the registry installs.
const natives = [...fs.readFileSync(path.join(root, 'src/natives/Registry.cpp'), 'utf8').matchAll(/^\s*\{"(\w+)",/gm)].map((m) => m[1]);
const builtins = JSON.parse(fs.readFileSync(grammarPath, 'utf8')).repository.builtin.match.match(/\(\?:([\w|]+)\)/)[1].split('|');
check(natives.length === 97 && builtins.join() === natives.join(), `builtins match the ${natives.length} natives of Registry.cpp`);

console.log(`${passed} passed, ${failed} failed`);
process.exit(failed ? 1 : 0);
