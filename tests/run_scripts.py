#!/usr/bin/env python3
"""Runs every script and table case (format: tests/scripts/README.md) through
the real ferrow binary on both engines, checks each run, then compares the two
engines' runs (with --corpus also on the engine fuzz targets' inputs). A
difference must be a documented one: told apart by its messages (see
normalize and compile_failure), or behaviour that a script names with
`#> differs: KIND` and a fuzz input shows by having the construct
(BEHAVIOUR_KINDS). A run gets 30 s (FERROW_TEST_TIMEOUT, --timeout), four
times that under `#> memory:`, which is skipped under AddressSanitizer.
"""

import argparse
import collections
import concurrent.futures
import difflib
import os
import re
import shlex
import subprocess
import sys
import tempfile
import types

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
ENGINES = ("tree", "vm")
DEFAULT_TIMEOUT = 30  # a bound for hangs, far above any run, so that a loaded machine fails nothing
CORPUS_TIMEOUT = 1  # fuzz inputs are small: one still running is an endless loop
# A run that fills memory is bound by how fast the machine hands out pages.
MEMORY_TIMEOUT_FACTOR = 4

DIRECTIVE = re.compile(rb"^[ \t]*#>[ \t]*([a-z]+)(?:\[([a-z]+)\])?:(?: (.*))?$")
ENGINE_SPECIFIC = {b"out", b"err", b"exit", b"error"}
KNOWN = ENGINE_SPECIFIC | {b"args", b"stdin", b"engines", b"flag", b"memory", b"differs"}
# `#== NAME` starts a case; `#== NAME: CODE` one whose program starts with CODE.
CASE = re.compile(rb"^#== ([\w-]+)(?:: (.*))?\n", re.M)
AT = re.compile(rb"^(.*) @(\d+):(\d+)$")
EXCERPT = re.compile(rb"^\d+ \| ")
CARET = re.compile(rb"^\s*\^$")


class ScriptError(Exception):
    """A script whose directives cannot be understood."""


# A script, a case of a table (table True) or a fuzz input (exp None).
Program = collections.namedtuple("Program", "path source exp table", defaults=(None, False))


def expectations():
    return types.SimpleNamespace(out={e: [] for e in ENGINES}, err={e: [] for e in ENGINES},
                                 exit={e: 0 for e in ENGINES}, args=None, stdin=[], engines=list(ENGINES),
                                 flag=True, memory=None, differs=[])


def parse_directives(data, name):
    exp = expectations()
    for number, raw in enumerate(data.split(b"\n"), start=1):
        if not raw.lstrip(b" \t").startswith(b"#>"):
            continue
        where = f"line {number}"
        m = DIRECTIVE.match(raw)
        if not m:
            raise ScriptError(f"{where}: malformed directive: {raw.decode(errors='replace')}")
        key, engine, text = m.group(1), m.group(2), m.group(3) or b""
        if key not in KNOWN or (engine and (key not in ENGINE_SPECIFIC or engine.decode() not in ENGINES)):
            raise ScriptError(f"{where}: unknown directive or engine: {raw.decode(errors='replace')}")
        targets = [engine.decode()] if engine else list(ENGINES)
        for t in targets:
            if key in (b"out", b"err"):
                getattr(exp, key.decode())[t].append(text)
            elif key == b"exit":
                exp.exit[t] = int(text.strip()) if text.strip().isdigit() else -999
            elif key == b"error":
                # The message, the position line when `@L:C`
                # ends it (column 0 on the VM for runtime errors), status 1.
                at = AT.match(text)
                exp.err[t].append(at.group(1) if at else text)
                if at:
                    column = b"0" if t == "vm" and text.startswith(b"RuntimeError") else at.group(3)
                    exp.err[t].append(b"  --> %s:%s:%s" % (name.encode(), at.group(2), column))
                exp.exit[t] = 1
        if key == b"args":
            exp.args = shlex.split(text.decode("utf-8", errors="surrogateescape"))
        elif key == b"stdin":
            exp.stdin.append(text)
        elif key == b"engines":
            exp.engines = [e for e in ENGINES if e in text.decode().split()]
        elif key == b"flag":
            exp.flag = False
        elif key == b"differs":
            exp.differs.extend(text.decode().split())
        elif key == b"memory":
            exp.memory = int(text.strip())
    if -999 in exp.exit.values():
        raise ScriptError("exit status is not a number")
    return exp


def collect(paths, corpus, scratch):
    """Programs from scripts, tables (written out as files under `scratch`,
    beside a link to the table's data folder) and, with `corpus`, fuzz inputs."""
    programs, errors, files = [], [], []
    for path in paths:
        if os.path.isdir(path):
            for root, dirs, names in os.walk(path):
                dirs.sort()
                files += [os.path.join(root, n) for n in sorted(names) if n.endswith((".frw", ".cases"))]
        elif os.path.isfile(path):
            files.append(path)
        else:
            raise FileNotFoundError(path)
    for path in files:
        with open(path, "rb") as f:
            data = f.read()
        pieces = [(os.path.basename(path), data)]
        folder = None
        if path.endswith(".cases"):
            folder = os.path.join(scratch, os.path.basename(path))
            os.makedirs(folder)
            if os.path.isdir(os.path.join(os.path.dirname(path), "data")):
                os.symlink(os.path.abspath(os.path.join(os.path.dirname(path), "data")),
                           os.path.join(folder, "data"))
            parts = CASE.split(data)
            pieces = [(parts[i].decode() + ".frw", (parts[i + 1] + b"\n" if parts[i + 1] else b"") + parts[i + 2])
                      for i in range(1, len(parts), 3)]
        for name, source in pieces:
            where = os.path.join(folder, name) if folder else path
            try:
                programs.append(Program(where, source, parse_directives(source, name), bool(folder)))
            except ScriptError as e:
                errors.append(f"{path} ({name}): {e}")
            if folder:
                with open(where, "wb") as f:
                    f.write(source)
    if corpus:
        for target in ENGINES:
            folder = os.path.join(ROOT, "fuzz", "corpus", target)
            for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
                with open(os.path.join(folder, name), "rb") as f:
                    programs.append(Program(os.path.join(folder, name), f.read()))
    return programs, errors


Run = collections.namedtuple("Run", "out err status")


def as_lines(data):
    lines = data.split(b"\n")
    if lines[-1] == b"":
        lines.pop()
    return lines


def show(data):
    return data.decode("utf-8", errors="backslashreplace")


def without_excerpts(lines):
    """A table case checks the quoted source line and its caret only where it
    expects them."""
    out, after = [], False
    for line in lines:
        if EXCERPT.match(line) or (after and CARET.match(line)):
            after = True
            continue
        out.append(line)
        after = False
    return out


def run(ferrow, program, engine, timeout):
    """Runs a program on an engine: a Run, or a text saying why it did not end."""
    exp = program.exp
    folder, base = os.path.split(os.path.abspath(program.path))
    args = [a.replace("{file}", base) for a in (exp.args if exp and exp.args is not None else ["{file}"])]
    command = [ferrow] + ([f"--{engine}"] if not exp or exp.flag else []) + args
    if exp and exp.memory is not None:
        command = ["/bin/sh", "-c", 'ulimit -v "$0" && exec "$@"', str(exp.memory * 1024)] + command
        timeout *= MEMORY_TIMEOUT_FACTOR
    stdin = b"".join(line + b"\n" for line in exp.stdin) if exp else b""
    try:  # every run gets an empty scratch folder of its own, for scripts that write files
        with tempfile.TemporaryDirectory(prefix="ferrow-test-") as scratch:
            env = dict(os.environ, FERROW_TEST_TMP=scratch)
            proc = subprocess.run(command, cwd=folder, input=stdin, capture_output=True, timeout=timeout, env=env)
            return Run(proc.stdout, proc.stderr, proc.returncode)
    except subprocess.TimeoutExpired:
        return f"{shlex.join(command)} (in {folder}): timed out after {timeout:g} s\n"


def check_expectations(program, engine, got):
    exp, report = program.exp, ""
    for name, want, actual in (("stdout", exp.out[engine], got.out), ("stderr", exp.err[engine], got.err)):
        lines = as_lines(actual)
        if program.table and name == "stderr" and not any(EXCERPT.match(x) for x in want):
            lines = without_excerpts(lines)
        if lines != want:
            report += "".join(difflib.unified_diff(
                [show(x) + "\n" for x in want], [show(x) + "\n" for x in lines],
                f"expected {name}", f"actual {name}"))
    if got.status != exp.exit[engine]:
        report += f"exit status: expected {exp.exit[engine]}, got {got.status}\n"
    return report


# The constructs without which a behaviour difference cannot arise.
BEHAVIOUR_KINDS = {
    "loop-variable": re.compile(rb"^\s*for\b", re.M),
    # an assignment to an index or a field, or a compound one to a name
    "assignment-order": re.compile(
        rb"^[^\n#]*?(?:\]|\.[A-Za-z_]\w*)\s*(?://|[-+*/%^])?=(?!=)"
        rb"|^\s*[A-Za-z_]\w*\s*(?://|[-+*/%^])=", re.M),
    "local-functions": re.compile(rb"^[ \t]+(?:let|function)\b", re.M),
    "second-let": re.compile(rb"\blet\s+([A-Za-z_]\w*)\b[\s\S]*\blet\s+\1\b"),
    "map-literal": re.compile(rb"\{[^\n}]*:"),
}
ARITHMETIC = re.compile(rb"operator '(?:-|\*|/|//|%|\^)' needs numbers, got")
TREE_FOR_MESSAGES = re.compile(rb"numeric for-loop bounds must be numbers|for step must be a number")
STEP_ZERO = b"for-loop step cannot be 0"
POSITION = re.compile(rb"^(\s*--> .*:\d+:)(\d+)$")
COMPILE_ERROR = re.compile(rb"^CompileError: (.*)$", re.M)
LOOP_CONTROL = {b"'break' outside a loop", b"'continue' outside a loop"}
COMPILE_LIMITS = (b"too many constants", b"too many elements in a list literal",
                  b"too many entries in a map literal", b"too many local variables",
                  b"too many captured variables", b"too many nested functions",
                  b"branch too large", b"loop body too large", b"program too deeply nested")
MESSAGE_RULES = ("arithmetic-message", "for-checks", "column")


def normalize(lines, side, rules):
    """The lines with the message differences named in `rules` taken out."""
    out, caret_due = [], 0  # lines until the caret of a position taken out
    for line in lines:
        if side == "tree" and "arithmetic-message" in rules:
            line = ARITHMETIC.sub(b"arithmetic needs numbers, got", line)
        if side == "tree" and "for-checks" in rules:
            line = TREE_FOR_MESSAGES.sub(b"numeric for-loop needs numbers", line)
        caret_due -= 1
        if "column" in rules:
            m = POSITION.match(line)
            if m and (side == "tree" or m.group(2) == b"0"):
                line, caret_due = m.group(1) + b"?", 2
            elif caret_due == 0 and CARET.match(line):
                line = b"^"
        out.append(line)
    return out


def stretches(tree_lines, vm_lines):
    """(tree part, vm part, whether the tree part ends its stream) for every
    stretch where two streams differ; lines replaced one for one are judged
    a pair at a time."""
    found = []
    for op, i1, i2, j1, j2 in difflib.SequenceMatcher(a=tree_lines, b=vm_lines, autojunk=False).get_opcodes():
        if op == "replace" and i2 - i1 == j2 - j1:
            found += [([tree_lines[i]], [vm_lines[j1 + i - i1]], i + 1 == len(tree_lines)) for i in range(i1, i2)]
        elif op != "equal":
            found.append((tree_lines[i1:i2], vm_lines[j1:j2], i2 == len(tree_lines)))
    return found


def compare_stream(tree_lines, vm_lines):
    """The message rules that explain part of a difference, and the stretches
    still different with all of them applied."""
    def left(rules):
        return stretches(normalize(tree_lines, "tree", rules), normalize(vm_lines, "vm", rules))
    def count(rules):
        return sum(len(a) + len(b) for a, b, _ in left(rules))
    rules = set(MESSAGE_RULES)
    remaining = count(rules)
    return {r for r in MESSAGE_RULES if count(rules - {r}) > remaining}, left(rules)


def compile_failure(vm):
    m = COMPILE_ERROR.match(vm.err) if vm.status == 1 and not vm.out else None
    if not m:
        return None
    if m.group(1) in LOOP_CONTROL:
        return "loop-control"
    if m.group(1) == b"too many arguments":
        return "call-arguments"
    return "compile-limits" if m.group(1).startswith(COMPILE_LIMITS) else None


def compare(program, tree, vm):
    """(kinds, problems) for a program whose runs on the two engines differ."""
    exp, problems = program.exp, []
    if exp is not None:
        kinds = set(exp.differs)
        for kind in sorted(kinds):
            if kind not in BEHAVIOUR_KINDS or not BEHAVIOUR_KINDS[kind].search(program.source):
                problems.append(f"'#> differs: {kind}': no such kind, or the script lacks its construct")
        kinds &= set(BEHAVIOUR_KINDS)
        if exp.out["tree"] == exp.out["vm"] and exp.err["tree"] == exp.err["vm"] and exp.exit["tree"] == exp.exit["vm"]:
            problems.append("the engines differ but the script declares no [tree]/[vm] expectation")
    else:
        kinds = {k for k, pattern in BEHAVIOUR_KINDS.items() if pattern.search(program.source)}
    failure = compile_failure(vm)
    if failure == "loop-control":
        # The tree-walker runs up to the stray statement and fails there with
        # the same message and position; a fuzz input may never reach it.
        tree_err = re.sub(rb"^RuntimeError: ", b"CompileError: ", tree.err)
        if exp is not None and (tree.status != 1 or tree_err != vm.err):
            problems.append("break/continue outside a loop: the errors differ beyond the kind")
        return {failure}, problems
    if failure:
        return {failure}, problems
    if (vm.status == 1 and vm.err == b"RuntimeError: stack overflow\n"
            and tree.out.startswith(vm.out) and b"stack overflow" not in tree.err):
        return {"value-stack"}, problems
    # A step of 0 ends the tree-walker's run where the VM goes on.
    stopped = STEP_ZERO in tree.err and STEP_ZERO not in vm.err
    used, behaviour = set(), False
    for name, a, b in (("stdout", tree.out, vm.out), ("stderr", tree.err, vm.err)):
        rules, left = compare_stream(as_lines(a), as_lines(b))
        used |= rules
        for tree_part, vm_part, at_end in left:
            if any(STEP_ZERO in line for line in tree_part) or (stopped and at_end):
                used.add("for-checks")
            elif kinds:
                used |= kinds
                behaviour = True
            else:
                problems.append(f"{name} differs:\n" + "".join(f"  tree| {show(x)}\n" for x in tree_part)
                                + "".join(f"    vm| {show(x)}\n" for x in vm_part))
    if tree.status != vm.status and not (stopped or behaviour):
        problems.append(f"exit status differs: tree {tree.status}, vm {vm.status}")
    return used, problems


def check(ferrow, program, engines, timeout, sanitized):
    """(failure report or "", kinds of difference seen, skipped reason)."""
    exp = program.exp
    if exp is None:
        timeout = CORPUS_TIMEOUT
    elif exp.memory is not None and sanitized:
        return "", set(), "memory limit under AddressSanitizer"
    runs, report = {}, ""
    for engine in (exp.engines if exp else ENGINES):
        if engine not in engines:
            continue
        got = run(ferrow, program, engine, timeout)
        if isinstance(got, str):
            if exp is None:
                return "", set(), f"timed out on the {engine} engine"
            report += f"[{engine}] {got}"
            continue
        runs[engine] = got
        if exp is not None:
            failed = check_expectations(program, engine, got)
            report += f"[{engine}] {failed}" if failed else ""
    if report or len(runs) < 2 or (exp is not None and not exp.flag):
        return report, set(), ""
    tree, vm = runs["tree"], runs["vm"]
    if tree == vm:
        return ("'#> differs:' declared but the engines agree\n" if exp and exp.differs else ""), set(), ""
    if exp is None:
        again = run(ferrow, program, "tree", timeout)
        if isinstance(again, str) or again != tree:
            return "", set(), "output varies from run to run"
    kinds, problems = compare(program, tree, vm)
    return "".join(p if p.endswith("\n") else p + "\n" for p in problems), kinds, ""


def main():
    parser = argparse.ArgumentParser(description="Run the Ferrow script tests on both engines.")
    parser.add_argument("--ferrow", default=os.path.join(ROOT, "build", "ferrow"))
    parser.add_argument("-j", "--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--engine", choices=ENGINES, help="run on this engine only (no comparison)")
    parser.add_argument("--timeout", type=float,
                        default=float(os.environ.get("FERROW_TEST_TIMEOUT", DEFAULT_TIMEOUT)))
    parser.add_argument("--corpus", action="store_true", help="also compare the engines on the fuzz corpora")
    parser.add_argument("-v", "--verbose", action="store_true", help="name every program that differs or is skipped")
    parser.add_argument("paths", nargs="*", help="scripts, tables or folders (default: tests/scripts)")
    options = parser.parse_args()
    ferrow = os.path.abspath(options.ferrow)
    if not os.access(ferrow, os.X_OK):
        print(f"run_scripts: no ferrow binary at {ferrow}", file=sys.stderr)
        return 2
    with open(ferrow, "rb") as f:
        sanitized = b"__asan_init" in f.read()
    engines = [options.engine] if options.engine else list(ENGINES)
    with tempfile.TemporaryDirectory(prefix="ferrow-cases-") as scratch:
        try:
            programs, errors = collect(options.paths or [os.path.join(HERE, "scripts")], options.corpus, scratch)
        except FileNotFoundError as e:
            print(f"run_scripts: no such script or folder: {e}", file=sys.stderr)
            return 2
        with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, options.jobs)) as pool:
            results = list(pool.map(lambda p: check(ferrow, p, engines, options.timeout, sanitized), programs))
    failed, skipped, by_kind = len(errors), 0, {}
    for error in errors:
        print(f"FAIL bad script: {error}")
    for program, (report, kinds, skip) in zip(programs, results):
        name = os.path.relpath(program.path) if not program.table else "table case " + os.path.basename(program.path)
        for kind in kinds:
            by_kind[kind] = by_kind.get(kind, 0) + 1
        skipped += bool(skip)
        if report:
            failed += 1
            print(f"FAIL {name}\n{report}")
        elif options.verbose and (skip or kinds):
            print(f"{'SKIPPED' if skip else 'DIFFERS'} {name}: {skip or ', '.join(sorted(kinds))}")
    scripts = sum(1 for p in programs if p.exp is not None)
    print(f"{scripts} scripts and cases, {len(programs) - scripts} fuzz inputs: "
          f"{len(programs) - failed - skipped} passed, {failed} failed, {skipped} skipped")
    if by_kind:
        print("documented differences seen: " + ", ".join(f"{k} {by_kind[k]}" for k in sorted(by_kind)))
    return 1 if failed or not programs else 0


if __name__ == "__main__":
    sys.exit(main())
