#!/usr/bin/env python3
"""Differential check: the two engines must agree.

Runs every script test (tests/scripts, examples) and, when present, every
input of the engine fuzz targets (fuzz/corpus/tree, fuzz/corpus/vm) on the
tree-walker and on the VM, and compares standard output, exit status and
standard error. Where they differ, the difference must be one the engines are
documented to have; each is recognised and named:

Told apart by their messages:
  arithmetic-message  the VM says "arithmetic needs numbers, got A and B"
                      where the tree-walker says "operator '-' needs ..."
  column              the VM's runtime errors carry column 0
  for-checks          the VM checks a numeric for with the one message
                      "numeric for-loop needs numbers"; a step of 0 is not
                      an error there (the tree-walker's "for-loop step
                      cannot be 0" ends its run where the VM goes on)
  loop-control        break or continue outside a loop: a RuntimeError when
                      reached on the tree-walker, a CompileError on the VM
  call-arguments      more than 255 call arguments: a CompileError on the VM
  compile-limits      the VM's other operand limits (constants, locals,
                      captured variables, literal sizes, jump distances)
  value-stack         the VM's value stack holds 65,536 values: beyond that
                      a "stack overflow" ends its run where the tree-walker
                      goes on

Behaviour no message shows. A script test names the kinds it exhibits with
`#> differs: KIND ...`, and the check confirms that the script contains the
construct the kind needs; a fuzz input is allowed a kind when it contains
that construct:
  loop-variable       one variable per loop on the VM, shared by closures,
                      the numeric for's counter itself
  assignment-order    the VM evaluates an assignment's target before its value
  local-functions     local names resolved at compile time: a closure does
                      not see a local declared after it
  second-let          a second let of a name in one scope is a new variable
                      on the VM
  map-literal         the VM evaluates a whole map literal before checking keys

A script test whose engines differ must also say so with [tree]/[vm]
expectations. Scripts for one engine only and command-line tests that choose
no engine are not compared. A fuzz input that runs out of time on either
engine, or prints differently from one run to the next, is left out.

Usage: differential.py [--ferrow PATH] [-j N] [--timeout S] [-v] [paths...]
Ends with a summary and a non-zero status when any difference is unexplained.
"""

import argparse
import concurrent.futures
import difflib
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
import run_scripts  # noqa: E402  (the directive parser and script discovery)

ENGINE_CORPORA = ("tree", "vm")
# Fuzz inputs are small; one still running after this long is an endless
# loop (the fuzz targets stop those with an execution budget) and is skipped.
CORPUS_TIMEOUT = 1

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
CARET = re.compile(rb"^\s*\^$")
COMPILE_ERROR = re.compile(rb"^CompileError: (.*)$", re.M)
LOOP_CONTROL = {b"'break' outside a loop", b"'continue' outside a loop"}
COMPILE_LIMITS = (b"too many constants", b"too many elements in a list literal",
                  b"too many entries in a map literal", b"too many local variables",
                  b"too many captured variables", b"too many nested functions",
                  b"branch too large", b"loop body too large", b"program too deeply nested")


class Run:
    def __init__(self, proc):
        self.out, self.err, self.status = proc.stdout, proc.stderr, proc.returncode

    def same_as(self, other):
        return (self.out, self.err, self.status) == (other.out, other.err, other.status)


class Program:
    """One program to run on both engines: a script test or a fuzz input."""

    def __init__(self, path, exp=None):
        self.path = path
        self.exp = exp  # the script's expectations; None for a fuzz input
        with open(path, "rb") as f:
            self.source = f.read()


def run(ferrow, program, engine, timeout):
    folder = os.path.dirname(os.path.abspath(program.path))
    base = os.path.basename(program.path)
    exp = program.exp
    args = exp.args if exp and exp.args is not None else ["{file}"]
    stdin = run_scripts.as_text(exp.stdin) if exp else b""
    command = [ferrow, f"--{engine}"] + [a.replace("{file}", base) for a in args]
    if exp and exp.memory is not None:
        command = ["/bin/sh", "-c", 'ulimit -v "$0" && exec "$@"', str(exp.memory * 1024)] + command
        timeout *= run_scripts.MEMORY_TIMEOUT_FACTOR
    # Leaks are the script runner's business; here they would only add noise.
    env = dict(os.environ)
    env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"), "detect_leaks=0"]))
    try:
        with run_scripts.scratch_environment(env) as env:
            return Run(subprocess.run(command, cwd=folder, input=stdin, capture_output=True,
                                      timeout=timeout, env=env))
    except subprocess.TimeoutExpired:
        return None


def normalize(lines, side, rules):
    """The lines with the documented message differences named in `rules`
    taken out."""
    out = []
    caret_due = 0  # lines until the caret of a diagnostic whose column was taken out
    for line in lines:
        if side == "tree" and "arithmetic-message" in rules:
            line = ARITHMETIC.sub(b"arithmetic needs numbers, got", line)
        if side == "tree" and "for-checks" in rules:
            line = TREE_FOR_MESSAGES.sub(b"numeric for-loop needs numbers", line)
        caret_due -= 1
        if "column" in rules:
            m = POSITION.match(line)
            if m and (side == "tree" or m.group(2) == b"0"):
                line = m.group(1) + b"?"
                caret_due = 2  # after the source line
            elif caret_due == 0 and CARET.match(line):
                line = b"^"
        out.append(line)
    return out


MESSAGE_RULES = ("arithmetic-message", "for-checks", "column")


def differing_stretches(tree_lines, vm_lines):
    """(tree part, vm part, whether the tree part runs to the end of its
    stream) for every stretch where the two streams differ. Lines replaced
    one for one are judged one pair at a time."""
    matcher = difflib.SequenceMatcher(a=tree_lines, b=vm_lines, autojunk=False)
    stretches = []
    for op, i1, i2, j1, j2 in matcher.get_opcodes():
        if op == "equal":
            continue
        if op == "replace" and i2 - i1 == j2 - j1:
            stretches.extend(([tree_lines[i]], [vm_lines[j1 + i - i1]], i + 1 == len(tree_lines))
                             for i in range(i1, i2))
        else:
            stretches.append((tree_lines[i1:i2], vm_lines[j1:j2], i2 == len(tree_lines)))
    return stretches


def differing_lines(tree_lines, vm_lines, rules):
    a, b = normalize(tree_lines, "tree", rules), normalize(vm_lines, "vm", rules)
    return sum(len(x) + len(y) for x, y, _ in differing_stretches(a, b))


def compare_stream(tree_lines, vm_lines):
    """The message kinds that account for part of the difference between two
    streams, and the stretches that still differ with all of them applied."""
    rules = set(MESSAGE_RULES)
    remaining = differing_lines(tree_lines, vm_lines, rules)
    used = {rule for rule in MESSAGE_RULES
            if differing_lines(tree_lines, vm_lines, rules - {rule}) > remaining}
    stretches = differing_stretches(normalize(tree_lines, "tree", rules),
                                    normalize(vm_lines, "vm", rules))
    return used, stretches


def compile_failure(vm):
    """The kind of a documented compile-time refusal by the VM, or None."""
    if vm.status != 1 or vm.out:
        return None
    m = COMPILE_ERROR.match(vm.err)
    if not m:
        return None
    message = m.group(1)
    if message in LOOP_CONTROL:
        return "loop-control"
    if message == b"too many arguments":
        return "call-arguments"
    if message.startswith(COMPILE_LIMITS):
        return "compile-limits"
    return None


def behaviour_kinds(program):
    """The behaviour kinds allowed for a program, and complaints about kinds
    it declares without the construct they need."""
    problems = []
    if program.exp is not None:
        kinds = set(program.exp.differs)
        for kind in sorted(kinds):
            if kind not in BEHAVIOUR_KINDS:
                problems.append(f"'#> differs: {kind}' names no documented behaviour difference")
            elif not BEHAVIOUR_KINDS[kind].search(program.source):
                problems.append(f"'#> differs: {kind}' but the script has no such construct")
        return kinds & set(BEHAVIOUR_KINDS), problems
    return {k for k, pattern in BEHAVIOUR_KINDS.items() if pattern.search(program.source)}, problems


def compare(program, tree, vm):
    """Returns (kinds, problems) for a program whose runs differ."""
    kinds, problems = behaviour_kinds(program)
    used = set()

    failure = compile_failure(vm)
    if failure == "loop-control":
        # The tree-walker runs the program up to the stray statement and fails
        # there with the same message and position. A fuzz input may fail
        # before it, catch that error or never reach the statement; the VM ran
        # none of it, so only script tests are held to the tree-walker's part.
        tree_err = re.sub(rb"^RuntimeError: ", b"CompileError: ", tree.err)
        if program.exp is not None and (tree.status != 1 or tree_err != vm.err):
            problems.append("break/continue outside a loop: the engines' errors differ beyond the kind")
        return {failure}, problems
    if failure:
        return {failure}, problems
    if (vm.status == 1 and vm.err == b"RuntimeError: stack overflow\n"
            and tree.out.startswith(vm.out) and b"stack overflow" not in tree.err):
        return {"value-stack"}, problems

    # The tree-walker refuses a step of 0 where the VM runs the loop; what
    # follows differs, up to the end of the tree-walker's run when nothing
    # catches the error.
    stopped = STEP_ZERO in tree.err and STEP_ZERO not in vm.err
    behaviour = False
    for name, a, b in (("stdout", tree.out, vm.out), ("stderr", tree.err, vm.err)):
        rules, stretches = compare_stream(run_scripts.as_lines(a), run_scripts.as_lines(b))
        used |= rules
        for tree_part, vm_part, at_end in stretches:
            if any(STEP_ZERO in line for line in tree_part) or (stopped and at_end):
                used.add("for-checks")
            elif kinds:
                used |= kinds
                behaviour = True
            else:
                problems.append(f"{name} differs:\n" + "".join(
                    f"  tree| {run_scripts.show(x)}\n" for x in tree_part) + "".join(
                    f"    vm| {run_scripts.show(x)}\n" for x in vm_part))
    if tree.status != vm.status and not (stopped or behaviour):
        problems.append(f"exit status differs: tree {tree.status}, vm {vm.status}")
    return used, problems


def declared_difference(exp):
    return (exp.out["tree"] != exp.out["vm"] or exp.err["tree"] != exp.err["vm"]
            or exp.exit["tree"] != exp.exit["vm"])


def check(ferrow, program, timeout, sanitized):
    """Returns (verdict, kinds, text): verdict is 'same', 'differs',
    'skipped' or 'unexplained'."""
    exp = program.exp
    if exp is not None:
        if not exp.flag or len(exp.engines) < 2:
            return "skipped", set(), "chooses no engine or runs on one only"
        if exp.memory is not None and sanitized:
            return "skipped", set(), "memory limit under AddressSanitizer"
    runs = {}
    for engine in ("tree", "vm"):
        runs[engine] = run(ferrow, program, engine, timeout)
        if runs[engine] is None:
            if exp is None:
                return "skipped", set(), f"timed out on the {engine} engine"
            return "unexplained", set(), f"timed out after {timeout:g} s on the {engine} engine"
    tree, vm = runs["tree"], runs["vm"]
    if tree.same_as(vm):
        if exp is not None and exp.differs:
            return "unexplained", set(), "declares '#> differs:' but the engines agree"
        return "same", set(), ""
    if exp is None:
        again = run(ferrow, program, "tree", timeout)
        if again is None or not again.same_as(tree):
            return "skipped", set(), "output varies from run to run"
    kinds, problems = compare(program, tree, vm)
    if exp is not None and not declared_difference(exp):
        problems.insert(0, "the engines differ but the script declares no [tree]/[vm] expectation")
    if problems:
        return "unexplained", kinds, "".join(p if p.endswith("\n") else p + "\n" for p in problems)
    return "differs", kinds, ""


def collect(paths):
    """Script tests from the given paths (default: the scripts and examples)
    and the engine targets' fuzz inputs when no path is given."""
    programs, errors = [], []
    default = not paths
    if default:
        paths = [os.path.join(HERE, "scripts"), os.path.join(ROOT, "examples")]
    for script in run_scripts.collect_scripts(paths):
        try:
            programs.append(Program(script, run_scripts.parse_directives(script)))
        except run_scripts.ScriptError as e:
            errors.append(f"{script}: {e}")
    if default:
        for target in ENGINE_CORPORA:
            folder = os.path.join(ROOT, "fuzz", "corpus", target)
            if os.path.isdir(folder):
                programs.extend(Program(os.path.join(folder, name))
                                for name in sorted(os.listdir(folder))
                                if os.path.isfile(os.path.join(folder, name)))
    return programs, errors


def main():
    parser = argparse.ArgumentParser(description="Compare the two Ferrow engines.")
    parser.add_argument("--ferrow", default=run_scripts.DEFAULT_FERROW, help="the ferrow binary")
    parser.add_argument("-j", "--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--timeout", type=float, default=None,
                        help="seconds per script run (default: FERROW_TEST_TIMEOUT or 10)")
    parser.add_argument("-v", "--verbose", action="store_true",
                        help="name every program that differs or is skipped")
    parser.add_argument("paths", nargs="*",
                        help="scripts or folders (default: tests/scripts, examples, fuzz corpora)")
    options = parser.parse_args()

    timeout = options.timeout or float(os.environ.get("FERROW_TEST_TIMEOUT", run_scripts.DEFAULT_TIMEOUT))
    ferrow = os.path.abspath(options.ferrow)
    if not os.access(ferrow, os.X_OK):
        print(f"differential: no ferrow binary at {ferrow}", file=sys.stderr)
        return 2
    try:
        programs, errors = collect(options.paths)
    except FileNotFoundError as e:
        print(f"differential: no such script or folder: {e}", file=sys.stderr)
        return 2
    sanitized = run_scripts.has_address_sanitizer(ferrow)

    def work(program):
        limit = timeout if program.exp is not None else CORPUS_TIMEOUT
        return check(ferrow, program, limit, sanitized)

    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, options.jobs)) as pool:
        results = list(pool.map(work, programs))

    counts = {"same": 0, "differs": 0, "skipped": 0, "unexplained": 0}
    by_kind = {}
    for program, (verdict, kinds, text) in zip(programs, results):
        counts[verdict] += 1
        name = os.path.relpath(program.path)
        for kind in kinds:
            by_kind[kind] = by_kind.get(kind, 0) + 1
        if verdict == "unexplained":
            print(f"UNEXPLAINED {name}: " + (", ".join(sorted(kinds)) or "-"))
            print(text)
        elif options.verbose and verdict == "differs":
            print(f"DIFFERS {name}: {', '.join(sorted(kinds))}")
        elif options.verbose and verdict == "skipped":
            print(f"SKIPPED {name}: {text}")
    for error in errors:
        print(f"bad script: {error}")
    scripts = sum(1 for p in programs if p.exp is not None)
    print(f"{len(programs)} programs ({scripts} scripts, {len(programs) - scripts} fuzz inputs): "
          f"{counts['same']} agree, {counts['differs']} differ as documented, "
          f"{counts['unexplained']} unexplained, {counts['skipped']} not compared")
    if by_kind:
        print("documented differences seen: " + ", ".join(
            f"{kind} {by_kind[kind]}" for kind in sorted(by_kind)))
    return 1 if counts["unexplained"] or errors else 0


if __name__ == "__main__":
    sys.exit(main())
